#pragma once
#include <QApplication>

// The application object. An exception that escapes a handler (a serial
// port error, say) is shown in an error box with the program's title and ends
// only the user action that raised it; the window stays usable.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message the way an escaped exception is shown.
    static void ShowException(const QString& message);
};
