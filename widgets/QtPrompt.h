#pragma once
#include "platform/Prompt.h"

// The program's prompts: Qt message boxes and text entries, modal over the
// active window, with the program's exact texts and captions.
class TQtPrompt final : public IPrompt {
public:
    TPromptResult Ask(const QString& text, const QString& caption, TPromptButtons buttons, TPromptIcon icon) override;
    bool InputText(const QString& caption, const QString& label, QString& value) override;
};
