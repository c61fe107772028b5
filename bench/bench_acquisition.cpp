// What one sample of the acquisition loops costs besides its fixed waits:
// the converter search and transfer (against the simulated converter), the
// loop's bookkeeping, and the value texts.
#include "acquisition/CAD_wandler.h"
#include "acquisition/ChartLoop.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/SampleSource.h"
#include "acquisition/UsbApi.h"
#include "app/SimUsbApi.h"
#include "core/MainState.h"
#include "platform/Host.h"

#include <benchmark/benchmark.h>

namespace {

// Sleeps cost nothing here: only the work around them is measured.
class NoWaitHost : public IHost {
public:
    uint32_t TickCount() override { return now += 100; }
    void Sleep(unsigned) override {}
    void ProcessMessages() override {}
    uint32_t now = 0;
};

class Sine : public ISampleSource {
public:
    double ReadSample(int) override { return (i++ % 200) * 0.01 - 1.0; }
    int i = 0;
};

class NullView : public IChartView {
public:
    void SetMaxText(const QString& t) override { benchmark::DoNotOptimize(t.size()); }
    void SetValueText(const QString& t) override { benchmark::DoNotOptimize(t.size()); }
    void SetMinText(const QString& t) override { benchmark::DoNotOptimize(t.size()); }
    void SetSampleTimeText(const QString&) override {}
    void SetChartTitle(const QString&) override {}
    void AppendPoint(double x, double y, qint64 stamp) override { benchmark::DoNotOptimize(x + y + double(stamp)); }
    void SetTimeAxis(double, int) override {}
    void RepaintWindow() override {}
};

void BM_FormatChartValue(benchmark::State& state)
{
    double v = -439.4808;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatChartValue(v));
        v += 0.37;
    }
}
BENCHMARK(BM_FormatChartValue);

// One conversion: close, search, open, configure, claim, transfer, decode.
void BM_ReadRawSimulated(benchmark::State& state)
{
    NoWaitHost host;
    IHost* old = SetHost(&host);
    const TUsbApi* oldApi = SetUsbApi(&SimulatedUsbApi());
    CAD_wandler w;
    double mv = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(w.ReadRaw(mv));
    CloseConverterHandle();
    SetUsbApi(oldApi);
    SetHost(old);
}
BENCHMARK(BM_ReadRawSimulated);

// The loop's work per sample, the read excluded.
void BM_ChartLoopSample(benchmark::State& state)
{
    NoWaitHost host;
    IHost* old = SetHost(&host);
    TMainState st;
    st.CalcFactor = 20;
    st.DeviceCode = 1;
    NullView view;
    Sine source;
    TChartLoop loop(st, view, source);
    const QString unit = QStringLiteral("kV/m");
    for (auto _ : state)
        loop.Sample(unit);
    SetHost(old);
}
BENCHMARK(BM_ChartLoopSample);

} // namespace

BENCHMARK_MAIN();
