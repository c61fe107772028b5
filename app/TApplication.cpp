#include "app/TApplication.h"

#include <QMessageBox>
#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return false;
}

void TApplication::ShowException(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok);
    box.exec();
}
