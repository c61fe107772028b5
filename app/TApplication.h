#pragma once
#include <QApplication>
#include <functional>

// The application object. An exception that escapes a handler (a serial
// port error, say) is shown in an error box with the program's title and ends
// only the user action that raised it; the window stays usable.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Runs one delivery; an escaping exception is shown (a silent abort is
    // swallowed) and the delivery counts as not handled.
    static bool Guarded(const std::function<bool()>& deliver);

    // Names the program. Only the application name is set: a display name
    // would make the platform append " — <name>" to every window caption,
    // and the captions are the program's own texts.
    static void SetTitle(const QString& title);

    // Shows the message the way an escaped exception is shown. Tests replace
    // it to see what a user would have been told.
    static std::function<void(const QString&)> ShowException;

    // Names what a serial failure concerns: the instrument, the port and
    // what to check. Its text goes on a line of its own below the error's
    // text ("Timeout", the system's message). Set by the composition root;
    // empty (or unset) adds nothing.
    static std::function<QString()> SerialFailureHint;

    // The text of the box for a serial failure with message `what`.
    static QString SerialFailureText(const QString& what);
};
