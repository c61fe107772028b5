// The serial link's timing: how soon a byte from the far end is in the
// caller's hands, how exactly a time-out ends, and what a whole exchange
// like the tester's costs above its own fixed pauses. The far end is a
// pseudo-terminal played by a PtyPeer.
#include "platform/Host.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Report(benchmark::State& state, std::vector<double> us, const char* unit = "us")
{
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    const double div = std::string(unit) == "ms" ? 1000.0 : 1.0;
    state.counters[std::string("median_") + unit] = us[us.size() / 2] / div;
    state.counters[std::string("p99_") + unit] = us[std::min(us.size() - 1, us.size() * 99 / 100)] / div;
    state.counters[std::string("max_") + unit] = us.back() / div;
}

void Prepare(TComPort& port, const PtyPeer& peer)
{
    port.DeviceName(peer.SlavePath());
    port.BaudRate(br2400);
    port.DataBits(db8);
    port.FlowControl->DTR(dcDisable);
    port.FlowControl->RTS(rcDisable);
    port.FlowControl->XOnXOff(xcDisable);
    port.Timeouts->ReadMultiplier(1000);
    port.Timeouts->ReadConstant(1000);
    port.Timeouts->ReadInterval(1000);
    port.Timeouts->WriteMultiplier(1000);
    port.Timeouts->WriteConstant(1000);
    port.Open();
}

// A byte already written when ReadByte is called.
void BM_ByteLatency_Written(benchmark::State& state)
{
    PtyPeer peer;
    TComPort port;
    Prepare(port, peer);
    std::vector<double> samples;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        peer.WriteNow("x");
        benchmark::DoNotOptimize(port.ReadByte());
        const auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        samples.push_back(Us(t1 - t0));
    }
    Report(state, samples);
}
BENCHMARK(BM_ByteLatency_Written)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// ReadByte already waiting when the far end writes (the reply to a command).
void BM_ByteLatency_Waiting(benchmark::State& state)
{
    PtyPeer peer;
    TComPort port;
    Prepare(port, peer);
    std::vector<double> samples;
    for (auto _ : state) {
        std::atomic<int64_t> sentAt{0};
        std::thread far([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sentAt = Clock::now().time_since_epoch().count();
            peer.WriteNow("y");
        });
        benchmark::DoNotOptimize(port.ReadByte());
        const auto t1 = Clock::now();
        far.join();
        const auto d = t1 - Clock::time_point(Clock::duration(sentAt.load()));
        state.SetIterationTime(std::chrono::duration<double>(d).count());
        samples.push_back(Us(d));
    }
    Report(state, samples);
}
BENCHMARK(BM_ByteLatency_Waiting)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

// How far past 1000 ms a silent line's read ends.
void BM_TimeoutOvershoot(benchmark::State& state)
{
    PtyPeer peer;
    TComPort port;
    Prepare(port, peer);
    port.Timeouts->ReadMultiplier(0);
    port.Timeouts->ReadConstant(1000);
    std::vector<double> overshoot;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        try {
            port.ReadByte();
        } catch (const EComError&) {
        }
        const auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        overshoot.push_back(Us(t1 - t0) - 1e6);
    }
    Report(state, overshoot, "ms");
}
BENCHMARK(BM_TimeoutOvershoot)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The tester's exchange against an instant far end: one byte out, 100 ms,
// twelve times 10 ms and a byte in, one byte out, 10 ms, one byte in.
void BM_TesterExchange(benchmark::State& state)
{
    PtyPeer peer;
    peer.Serve([](uint8_t c) {
        if (c == 'S')
            return std::string("ABCDEFGHIJKL");
        if (c == 'E')
            return std::string("Z");
        return std::string();
    }).Start();
    TComPort port;
    Prepare(port, peer);
    constexpr double pausesUs = (100 + 12 * 10 + 10) * 1000.0;
    std::vector<double> above;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        port.WriteByte('S');
        Host().Sleep(100);
        for (int i = 0; i < 12; ++i) {
            Host().Sleep(10);
            benchmark::DoNotOptimize(port.ReadByte());
        }
        port.WriteByte('E');
        Host().Sleep(10);
        benchmark::DoNotOptimize(port.ReadByte());
        const auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        above.push_back(Us(t1 - t0) - pausesUs);
    }
    Report(state, above);
    std::sort(above.begin(), above.end());
    state.counters["median_above_percent"] = above[above.size() / 2] / pausesUs * 100.0;
}
BENCHMARK(BM_TesterExchange)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
