#pragma once
// The real host with its long pauses cut short, and a hook that plays the
// user wherever a window lets the GUI process messages. A wait whose way
// out never comes ends the test instead of hanging it.
#include "platform/Host.h"
#include "tests/support/RunawayGuard.h"

#include <algorithm>
#include <functional>

class DriverHost final : public IHost {
public:
    DriverHost(unsigned longestSleepMs, int runawaySeconds)
        : runaway{50'000'000, runawaySeconds}, longest_(longestSleepMs)
    {
    }
    std::function<void()> onProcess;
    RunawayGuard runaway;
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        RealHost().Sleep(std::min(ms, longest_));
    }
    void ProcessMessages() override
    {
        runaway.Count("ProcessMessages");
        RealHost().ProcessMessages();
        if (onProcess)
            onProcess();
    }

private:
    unsigned longest_;
};
