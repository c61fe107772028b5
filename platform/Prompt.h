#pragma once
#include <QString>

// What protocol, loop and file code may ask the user, without knowing about
// windows: a message box with a fixed text, caption, buttons and icon, and a
// one-line text entry. The program installs an implementation that shows Qt
// boxes; tests install a scripted one that records each prompt and answers it.
enum class TPromptIcon { None, Information, Warning, Error, Exclamation, Question };
enum class TPromptButtons { Ok, OkCancel, RetryCancel };
enum class TPromptResult { Ok, Cancel, Retry };

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // Shows a modal box and returns the button pressed. A box closed without
    // a button counts as Cancel (as Ok for a box that has only Ok). An empty
    // caption shows the application's title.
    virtual TPromptResult Ask(const QString& text, const QString& caption, TPromptButtons buttons,
                              TPromptIcon icon) = 0;
    // A text entry with a caption and a label above the field, pre-filled
    // with `value`. True with the entered text in `value` on OK; false (and
    // `value` unchanged) on Cancel.
    virtual bool InputText(const QString& caption, const QString& label, QString& value) = 0;

    // The common shapes of Ask.
    void Message(const QString& text, const QString& caption, TPromptIcon icon = TPromptIcon::None)
    {
        Ask(text, caption, TPromptButtons::Ok, icon);
    }
    bool RetryCancel(const QString& text, const QString& caption, TPromptIcon icon = TPromptIcon::Error)
    {
        return Ask(text, caption, TPromptButtons::RetryCancel, icon) == TPromptResult::Retry;
    }
    bool OkCancel(const QString& text, const QString& caption, TPromptIcon icon = TPromptIcon::Exclamation)
    {
        return Ask(text, caption, TPromptButtons::OkCancel, icon) == TPromptResult::Ok;
    }
};

// The prompt in force. Until the program installs its own, every box is
// answered as if closed (Cancel, or Ok for a box with only Ok) and its text
// goes to standard error, so code run without a window never blocks.
IPrompt& Prompt();
// Installs another prompt; nullptr returns to the silent one. Returns the old one.
IPrompt* SetPrompt(IPrompt* prompt);
