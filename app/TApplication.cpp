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

std::function<QString()> TApplication::SerialFailureHint;

QString TApplication::SerialFailureText(const QString& what)
{
    const QString hint = SerialFailureHint ? SerialFailureHint() : QString();
    return hint.isEmpty() ? what : what + QLatin1Char('\n') + hint;
}

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
    } catch (const EComError& e) {
        // Every failure of the serial line reaches the user here; alone,
        // "Timeout" says neither which instrument nor what to do about it.
        ShowException(SerialFailureText(QString::fromLocal8Bit(e.what())));
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return false;
}
