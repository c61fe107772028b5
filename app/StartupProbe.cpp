#include "app/StartupProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

class TStartupProbe : public QObject {
public:
    TStartupProbe(QObject* parent, int quitAfterMs) : QObject(parent), quitAfterMs_(quitAfterMs) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow())
            return false;
        // Reported after the paint that puts the window on screen.
        QCoreApplication::instance()->removeEventFilter(this);
        QPointer<QWidget> window = widget;
        QTimer::singleShot(0, this, [this, window] {
            std::fputs("ulmaro: main window shown\n", stdout);
            std::fflush(stdout);
            QTimer::singleShot(quitAfterMs_, this, [window] {
                if (window)
                    window->close();
                // A window that refuses to close (a session it must not cut
                // short) still lets the program end.
                if (!window || window->isVisible())
                    QCoreApplication::quit();
            });
        });
        return false;
    }

private:
    int quitAfterMs_;
};

} // namespace

int QuitAfterMs(int argc, const char* const* argv)
{
    const char* const name = "--quit-after";
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (!argv[i] || std::strncmp(argv[i], name, length) != 0)
            continue;
        const char* value = nullptr;
        if (argv[i][length] == '=')
            value = argv[i] + length + 1;
        else if (argv[i][length] == '\0' && i + 1 < argc)
            value = argv[i + 1];
        else
            continue;
        bool ok = false;
        const int ms = QString::fromLocal8Bit(value).toInt(&ok);
        return ok && ms >= 0 ? ms : -1;
    }
    return -1;
}

void InstallStartupProbe(QCoreApplication* app, int argc, const char* const* argv)
{
    const int ms = QuitAfterMs(argc, argv);
    if (app && ms >= 0)
        app->installEventFilter(new TStartupProbe(app, ms));
}
