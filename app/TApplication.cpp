#include "app/TApplication.h"

#include "app/AccessibleNames.h"
#include "app/StartupProbe.h"

#include "serial/ComTypes.h"

#include <QMessageBox>
#include <exception>

std::function<void(const QString&)> TApplication::ShowException = [](const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok);
    box.exec();
};

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InstallAccessibleNames(this);
    InstallStartupProbe(this, argc, argv);
}

void TApplication::SetTitle(const QString& title) { QApplication::setApplicationName(title); }

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    return Guarded([&] { return QApplication::notify(receiver, event); });
}

bool TApplication::Guarded(const std::function<bool()>& deliver)
{
    try {
        return deliver();
    } catch (const EComAbort&) {
        // The quiet abort an error handler may ask for: nothing to show.
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return false;
}
