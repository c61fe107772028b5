// Cost of one chart sample as the acquisition loop pays it: append a point,
// update the extremes and a value text, repaint a 649 x 601 chart at once.
// Our chart (trace store + per-column decimation) runs against a plain
// QCustomPlot graph with its default adaptive sampling, on the same data and
// axes, for traces of 1,000 to 10,000,000 points.
//
// Run offscreen: QT_QPA_PLATFORM=offscreen ./bench_chart
//
// Views:
//   ours / qcustomplot                 the whole trace in view (time axis 0 to
//                                      the newest point): the worst case, as
//                                      after "Fit all" on a long run
//   ours_sliding / qcustomplot_sliding the axis as the loop sets it (start
//                                      offset 10 px per second past the span)
//
//   ours_recording                     as ours, and every other timed sample
//                                      also goes to a recording file as the
//                                      chart loop writes it (lines appended
//                                      whole every 250 ms): the samples with
//                                      and without it alternate on one chart,
//                                      so heap and machine load weigh the
//                                      same on both (median_ms_recording_on,
//                                      median_ms_recording_off)
//
// Counters: median_ms (per sample), heap_B_per_point (heap growth while the
// trace was filled, from mallinfo2), store_B_per_point (the store's own
// accounting; ours only), recorded_lines (ours_recording).
#include "acquisition/ChartFile.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QLocale>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <qcustomplot.h>

#include <algorithm>
#include <type_traits>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int Width = 649, Height = 601;
constexpr double Dt = 0.01;  // default sample period, 10 ms

// A field-meter-like signal: slow drift, noise and a spike now and then.
double Signal(size_t i)
{
    uint64_t h = i * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    const double noise = double(h % 2001) / 1000.0 - 1.0;
    const double spike = (h % 4999 == 0) ? 15.0 : 0.0;
    return 10.0 * std::sin(double(i) * 1e-4) + 0.5 * noise + spike;
}

size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The start offset the loop sets: 10 px for each whole second past the span.
int SlidingOffset(double timeX, double span) { return int(std::trunc(span - timeX)) * 10; }

// What the loop does besides the chart: extremes and the value text.
struct TBoxes {
    double posMax = -9999, negMax = 9999;
    QString text;
    void Update(double v)
    {
        if (v > posMax && v > 0) posMax = v;
        if (v < negMax && v < 0) negMax = v;
        text = QLocale().toString(v, 'f', 2) + "kV/m";
        benchmark::DoNotOptimize(text.data());
    }
};

double Median(std::vector<double>& v)
{
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The timed part, the same for both charts: a new sample is appended, the
// axis moved, the boxes updated and the chart repainted at once.
template <class Append, class Repaint>
void TimeSamples(benchmark::State& state, size_t n, Append append, Repaint repaint)
{
    TBoxes boxes;
    std::vector<double> ms;
    size_t i = n;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double v = Signal(i++);
        append(v);
        boxes.Update(v);
        repaint();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    state.counters["median_ms"] = Median(ms);
}

void ReportHeap(benchmark::State& state, size_t heapBytes, size_t n)
{
    state.counters["heap_B_per_point"] = double(heapBytes) / double(n);
}

enum TOursMode { Whole, Sliding, Recording };

void BM_Ours(benchmark::State& state, TOursMode mode)
{
    const bool sliding = mode == Sliding;
    const size_t n = size_t(state.range(0));
    const size_t heapBefore = HeapInUse();
    TChart chart;
    chart.resize(Width, Height);
    chart.show();
    chart.SetTitle("--Talvis--  Start : 12/9/26 8:30:00 AM");
    chart.SetTimeAxisTitle("Time sek.");
    chart.SetValueAxisTitle("kV/m");
    chart.SetValueAxisRange(-20.02, 20.02);
    double timeX = 0;
    for (size_t i = 0; i < n; ++i) {
        chart.AddPoint(timeX, Signal(i));
        timeX += Dt;
    }
    const size_t heapBytes = HeapInUse() - heapBefore;
    const size_t storeBytes = chart.Store().MemoryBytes();
    chart.SetTimeAxisMax(timeX);
    chart.RepaintNow();
    QApplication::processEvents();

    QTemporaryDir folder;
    TChartRecorder& recorder = chart.Recorder();
    const bool recording = mode == Recording;
    size_t recorded = 0;
    if (recording) {
        TChartFileInfo info;
        info.Device = "Talvis";
        info.Unit = "kV/m";
        info.PeriodMs = 10;
        info.Start = QDateTime::currentDateTime();
        recorder.Begin(folder.filePath("run.csv").toStdString(), info);
    }

    if (recording) {
        // Alternating samples with and without the recording.
        TBoxes boxes;
        std::vector<double> on, off;
        size_t i = n;
        for (auto _ : state) {
            const bool record = (i & 1) != 0;
            const auto t0 = std::chrono::steady_clock::now();
            const double v = Signal(i++);
            const qint64 stamp = QDateTime::currentMSecsSinceEpoch();
            chart.AddPoint(timeX, v, Qt::black, stamp);
            if (record) {
                recorder.Append(timeX, v, stamp);
                recorder.Poll();  // the wait between samples polls the recording
                ++recorded;
            }
            timeX += Dt;
            chart.SetTimeAxisMax(timeX);
            boxes.Update(v);
            chart.RepaintNow();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            (record ? on : off).push_back(ms);
        }
        state.counters["median_ms_recording_on"] = Median(on);
        state.counters["median_ms_recording_off"] = Median(off);
    } else {
        TimeSamples(
            state, n,
            [&](double v) {
                chart.AddPoint(timeX, v, Qt::black, QDateTime::currentMSecsSinceEpoch());
                timeX += Dt;
                chart.SetTimeAxisMax(timeX);
                if (sliding)
                    chart.SetTimeAxisStartOffset(SlidingOffset(timeX, 0.6));
            },
            [&] { chart.RepaintNow(); });
    }
    ReportHeap(state, heapBytes, n);
    state.counters["store_B_per_point"] = double(storeBytes) / double(n);
    if (recording) {
        recorder.End();
        state.counters["recorded_lines"] = double(recorded);
    }
}

void BM_QCustomPlot(benchmark::State& state, bool sliding)
{
    const size_t n = size_t(state.range(0));
    const size_t heapBefore = HeapInUse();
    QCustomPlot plot;
    plot.resize(Width, Height);
    plot.show();
    plot.setBackground(QColor(192, 192, 192));
    plot.plotLayout()->insertRow(0);
    plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, "--Talvis--  Start : 12/9/26 8:30:00 AM"));
    plot.xAxis->setLabel("Time sek.");
    plot.yAxis->setLabel("kV/m");
    plot.yAxis->setRange(-20.02, 20.02);
    QCPGraph* graph = plot.addGraph();
    graph->setPen(QPen(Qt::black));
    double timeX = 0;
    {
        QVector<double> keys(static_cast<qsizetype>(n)), values(static_cast<qsizetype>(n));
        for (size_t i = 0; i < n; ++i) {
            keys[qsizetype(i)] = timeX;
            values[qsizetype(i)] = Signal(i);
            timeX += Dt;
        }
        graph->setData(keys, values, true);
    }
    const size_t heapBytes = HeapInUse() - heapBefore;
    auto setAxis = [&] {
        double lower = 0;
        if (sliding) {
            // The same left shift of the axis start as ours, done by hand.
            const double w = std::max(1, plot.axisRect()->width());
            const double offset = SlidingOffset(timeX, 0.6);
            lower = timeX * (-offset / (w - offset));
        }
        plot.xAxis->setRange(lower, timeX);
    };
    setAxis();
    plot.replot(QCustomPlot::rpImmediateRefresh);
    QApplication::processEvents();

    TimeSamples(
        state, n,
        [&](double v) {
            graph->addData(timeX, v);
            timeX += Dt;
            setAxis();
        },
        [&] { plot.replot(QCustomPlot::rpImmediateRefresh); });
    ReportHeap(state, heapBytes, n);
}

template <class Mode>
void Register(const char* name, void (*fn)(benchmark::State&, Mode), Mode mode)
{
    for (int64_t n : {int64_t(1000), int64_t(100000), int64_t(1000000), int64_t(10000000)}) {
        // Fixed iterations: one fill per size, and enough samples for a median.
        // Ours is cheap enough for a thousand samples at every size: several
        // seconds of samples, so a recording's appends of whole lines every
        // 250 ms fall into the timed part many times over.
        const bool ours = std::is_same_v<Mode, TOursMode>;
        benchmark::RegisterBenchmark(name, fn, mode)
            ->Arg(n)
            ->Iterations(ours ? 1000 : n >= 10000000 ? 100 : 300)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    benchmark::Initialize(&argc, argv);
    Register("BM_ChartSample/ours", BM_Ours, Whole);
    Register("BM_ChartSample/ours_recording", BM_Ours, Recording);
    Register("BM_ChartSample/qcustomplot", BM_QCustomPlot, false);
    Register("BM_ChartSample/ours_sliding", BM_Ours, Sliding);
    Register("BM_ChartSample/qcustomplot_sliding", BM_QCustomPlot, true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
