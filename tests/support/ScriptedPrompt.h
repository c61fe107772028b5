#pragma once
#include "platform/Prompt.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

// A prompt for tests: records every box and text entry, and answers them
// from a queue. A prompt that finds no answer queued fails the test and is
// answered as if closed, so a missing answer never blocks a test.
// Installs itself for its lifetime.
class ScriptedPrompt final : public IPrompt {
public:
    struct Shown {
        QString text, caption;
        TPromptButtons buttons = TPromptButtons::Ok;
        TPromptIcon icon = TPromptIcon::None;
        bool input = false;   // a text entry (text = label)
    };
    struct Answer {
        TPromptResult result = TPromptResult::Ok;
        bool accept = true;   // for a text entry: OK (true) or Cancel
        QString text;         // for a text entry
    };

    ScriptedPrompt() : old_(SetPrompt(this)) {}
    ~ScriptedPrompt() override { SetPrompt(old_); }

    // Queue answers in the order the prompts will come.
    ScriptedPrompt& Press(TPromptResult r) { answers_.push_back({r, true, {}}); return *this; }
    ScriptedPrompt& Type(const QString& text) { answers_.push_back({TPromptResult::Ok, true, text}); return *this; }
    ScriptedPrompt& CancelInput() { answers_.push_back({TPromptResult::Cancel, false, {}}); return *this; }
    // Boxes with only an OK button are answered without a queued answer.
    bool autoOk = true;
    // Called when a prompt appears, before it is answered (on the same thread).
    std::function<void(const Shown&)> onShown;

    const std::vector<Shown>& shown() const { return shown_; }
    size_t pending() const { return answers_.size(); }

    TPromptResult Ask(const QString& text, const QString& caption, TPromptButtons buttons, TPromptIcon icon) override
    {
        shown_.push_back({text, caption, buttons, icon, false});
        if (onShown)
            onShown(shown_.back());
        if (buttons == TPromptButtons::Ok && autoOk)
            return TPromptResult::Ok;
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected prompt: " << caption.toStdString() << ": " << text.toStdString();
            return buttons == TPromptButtons::Ok ? TPromptResult::Ok : TPromptResult::Cancel;
        }
        const Answer a = answers_.front();
        answers_.pop_front();
        return a.result;
    }
    bool InputText(const QString& caption, const QString& label, QString& value) override
    {
        shown_.push_back({label, caption, TPromptButtons::OkCancel, TPromptIcon::None, true});
        if (onShown)
            onShown(shown_.back());
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected text entry: " << caption.toStdString() << ": " << label.toStdString();
            return false;
        }
        const Answer a = answers_.front();
        answers_.pop_front();
        if (!a.accept)
            return false;
        value = a.text;
        return true;
    }

private:
    IPrompt* old_;
    std::vector<Shown> shown_;
    std::deque<Answer> answers_;
};
