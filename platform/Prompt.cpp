#include "platform/Prompt.h"

#include <cstdio>

namespace {

class SilentPrompt final : public IPrompt {
public:
    TPromptResult Ask(const QString& text, const QString& caption, TPromptButtons buttons, TPromptIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return buttons == TPromptButtons::Ok ? TPromptResult::Ok : TPromptResult::Cancel;
    }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
};

SilentPrompt g_silent;
IPrompt* g_prompt = &g_silent;

} // namespace

IPrompt& Prompt() { return *g_prompt; }

IPrompt* SetPrompt(IPrompt* prompt)
{
    IPrompt* old = g_prompt;
    g_prompt = prompt ? prompt : &g_silent;
    return old;
}
