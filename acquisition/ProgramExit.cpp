#include "acquisition/ProgramExit.h"

#include "platform/Host.h"

#include <cstdio>
#include <cstdlib>

namespace {
std::function<void(int)> g_hook;
}

void SetEndProgramHook(std::function<void(int)> hook) { g_hook = std::move(hook); }

void EndProgram(int code)
{
    if (g_hook) {
        g_hook(code);
        return;
    }
    // The windows are not torn down: the program ends where it stands, as
    // from inside the handler.
    std::fflush(nullptr);
    std::_Exit(code);
}

void AbortForMissingConverter(const std::function<void()>& showError)
{
    showError();
    Host().ProcessMessages();
    Host().Sleep(5000);
    EndProgram(-1);
}
