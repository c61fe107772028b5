// What one tera-ohmmeter measurement exchange costs above its fixed pauses
// (10 ms after sending, 5 ms before each answer byte but the length byte),
// against a simulated meter that answers at once on a pseudo-terminal. The
// overhead is set against what the exchange takes on the real line: the
// pauses plus the wire time of every byte at 2400 baud (10 bits a byte).
#include "ohmra/C_Ohmra.h"
#include "platform/Host.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimOhmra.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The real host, with the pauses asked for added up.
class CountingHost final : public IHost {
public:
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        pausedMs += ms;
        RealHost().Sleep(ms);
    }
    void ProcessMessages() override { RealHost().ProcessMessages(); }
    uint64_t pausedMs = 0;
};

void BM_MeasurementExchange(benchmark::State& state)
{
    SimOhmra sim;
    PtyPeer peer;
    peer.Host(sim, 1);
    peer.Start();
    TComPort port;
    port.DeviceName(peer.SlavePath());
    port.BaudRate(br2400);
    port.DataBits(db8);
    port.Timeouts->ReadConstant(5000);
    port.Open();
    C_Ohmra ohmra(port);
    CountingHost host;
    IHost* old = SetHost(&host);

    std::vector<double> overheadMs;
    uint64_t pausesMs = 0;
    const size_t sentBefore = peer.Received().size();
    int64_t exchanges = 0;
    for (auto _ : state) {
        host.pausedMs = 0;
        const auto t0 = Clock::now();
        if (ohmra.Measure("C004") != 0)
            state.SkipWithError("exchange failed");
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        pausesMs = host.pausedMs;
        overheadMs.push_back(ms - double(host.pausedMs));
        ++exchanges;
    }
    SetHost(old);
    port.Close();
    peer.Stop();

    // Bytes on the wire per exchange: the command frame and the answer
    // (06 04, then STX LEN, eight data bytes, CHK).
    const double sentPerExchange = exchanges ? double(peer.Received().size() - sentBefore) / double(exchanges) : 0;
    const double answerBytes = 2 + 2 + 8 + 1;
    const double wireMs = (sentPerExchange + answerBytes) * 10.0 / 2400.0 * 1000.0;
    std::sort(overheadMs.begin(), overheadMs.end());
    const double median = overheadMs.empty() ? 0 : overheadMs[overheadMs.size() / 2];
    const double worst = overheadMs.empty() ? 0 : overheadMs.back();
    state.counters["pauses_ms"] = double(pausesMs);
    state.counters["wire_ms"] = wireMs;
    state.counters["overhead_median_ms"] = median;
    state.counters["overhead_max_ms"] = worst;
    state.counters["overhead_pct"] = 100.0 * median / (double(pausesMs) + wireMs);
}
BENCHMARK(BM_MeasurementExchange)->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
