#include "platform/Host.h"

#include <QCoreApplication>
#include <QThread>
#include <ctime>
#include <thread>
#include <algorithm>
#include <chrono>

namespace {

// The longest the window goes unanswered inside a pause.
constexpr unsigned AnswerSliceMs = 2;

class RealHostImpl final : public IHost {
public:
    uint32_t TickCount() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    }
    void Sleep(unsigned ms) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void ProcessMessages() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    void KeepAnswering() override
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void PauseAnswering(unsigned ms) override
    {
        // Counted on the clock, so the time spent answering is part of the
        // pause rather than added to it.
        const uint32_t t0 = TickCount();
        for (;;) {
            KeepAnswering();
            const uint32_t gone = TickCount() - t0;
            if (gone >= ms)
                return;
            Sleep(std::min(AnswerSliceMs, ms - gone));
        }
    }
};

RealHostImpl g_real;
IHost* g_host = &g_real;

} // namespace

IHost& Host() { return *g_host; }
IHost& RealHost() { return g_real; }

IHost* SetHost(IHost* host)
{
    IHost* old = g_host;
    g_host = host ? host : &g_real;
    return old;
}
