#include "app/AccessibleNames.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace {

class TAccessibleNames : public QObject {
public:
    explicit TAccessibleNames(QObject* parent) : QObject(parent)
    {
        setObjectName("AccessibleNames");
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Cheap enough for an application-wide filter: one type test for
        // every other event.
        const QEvent::Type type = event->type();
        if (type == QEvent::WindowTitleChange || type == QEvent::Show) {
            if (watched->isWidgetType()) {
                auto* widget = static_cast<QWidget*>(watched);
                if (widget->isWindow() && widget->accessibleName() != widget->windowTitle())
                    widget->setAccessibleName(widget->windowTitle());
            }
        }
        return false;
    }
};

} // namespace

void InstallAccessibleNames(QCoreApplication* app)
{
    if (!app || app->findChild<QObject*>("AccessibleNames", Qt::FindDirectChildrenOnly))
        return;
    app->installEventFilter(new TAccessibleNames(app));
}
