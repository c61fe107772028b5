// Long runs that a bench PC sees in a day, squeezed into minutes: the chart
// loop for a day of samples on a driven clock, and each serial instrument's
// reading for 100,000 exchanges with a fault every 1,000. Prints memory
// growth (against the trace store's own growth) and descriptor counts.
// Not a test: run by hand, e.g.
//   QT_QPA_PLATFORM=offscreen build/bench/soak chart [hours]
//   QT_QPA_PLATFORM=offscreen build/bench/soak chart-record [hours]   (each sample also recorded)
//   build/bench/soak gripo|ohmra|cpm [exchanges]             (the protocol calls alone)
//   QT_QPA_PLATFORM=offscreen build/bench/soak cpm-chart|ohmra-window|gripo-window [readings]
//                                                (the program's own reading paths, soak_serial.cpp)
#include "acquisition/ChartFile.h"
#include "acquisition/ChartLoop.h"
#include "acquisition/SampleSource.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "gripo/C_Gripo.h"
#include "ohmra/C_Ohmra.h"
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimGripo.h"
#include "sim/SimKarvo.h"
#include "sim/SimOhmra.h"
#include "bench/soak_proc.h"
#include "bench/soak_serial.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QLabel>
#include <QLocale>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <string>

namespace {

// A clock that moves only when the loop sleeps. Pending window events are
// handled every `eventEveryMs` of simulated time, so repaints and timers run
// as they would, without the day taking a day. At `endMs` it raises the stop flag.
class DrivenHost : public IHost {
public:
    DrivenHost(TMainState& st, uint64_t endMs) : st_(st), end_(endMs) {}
    uint32_t TickCount() override { return uint32_t(now); }
    void Sleep(unsigned ms) override { now += ms; }
    void ProcessMessages() override
    {
        if (now >= nextEvents_) {
            QCoreApplication::processEvents();
            nextEvents_ = now + eventEveryMs;
            if (onMinute && now >= nextMinute_) {
                onMinute(now);
                nextMinute_ += 60000;
            }
        }
        if (now >= end_)
            st_.StopFlag = true;
    }
    uint64_t now = 0;
    uint64_t eventEveryMs = 20;
    std::function<void(uint64_t)> onMinute;

private:
    TMainState& st_;
    uint64_t end_;
    uint64_t nextEvents_ = 0, nextMinute_ = 60000;
};

// A field meter that swings slowly and overflows now and then.
class SwingSource : public ISampleSource {
public:
    double ReadSample(int) override
    {
        ++n_;
        if (n_ % 100000 == 0)
            return 1.5; // past full scale
        return 0.9 * std::sin(double(n_) * 0.0007) + 0.05 * std::sin(double(n_) * 0.31);
    }

private:
    uint64_t n_ = 0;
};

// The main window's chart view: three value boxes, the sample-time label and the chart.
class SoakChartView : public IChartView {
public:
    SoakChartView(TChart& chart, bool record) : chart_(chart), record_(record) {}
    void SetMaxText(const QString& t) override { max_.setText(t); }
    void SetValueText(const QString& t) override { value_.setText(t); }
    void SetMinText(const QString& t) override { min_.setText(t); }
    void SetSampleTimeText(const QString& t) override { time_.setText(t); }
    void SetChartTitle(const QString& t) override { chart_.SetTitle(t); }
    void AppendPoint(double x, double y, qint64 stamp) override
    {
        chart_.AddPoint(x, y, Qt::black, stamp);
        if (record_)
            chart_.Recorder().Append(x, y, stamp);
    }
    void SetTimeAxis(double m, int offset) override
    {
        chart_.SetTimeAxisMax(m);
        chart_.SetTimeAxisStartOffset(offset);
    }
    void RepaintWindow() override { chart_.Repaint(); }

private:
    TChart& chart_;
    bool record_;
    QLabel max_, value_, min_, time_;
};

int SoakChart(double hours, bool record)
{
    TMainState st;
    MainState = &st;
    st.DeviceCode = 1;
    st.RangeCode = 4;
    st.CalcFactor = 20;
    st.UnitText = "kV/m";
    // The display window's default period, for the chart as well.
    st.Sampling_time_Chart = st.Sampling_time_Display;
    TChart chart;
    chart.resize(900, 500);
    chart.SetValueAxisRange(-20.02, 20.02);
    chart.SetTimeAxisMax(st.TimeSpan);
    chart.show();
    SoakChartView view(chart, record);
    QTemporaryDir folder;
    const QString recording = folder.filePath("Recordings/Talvis.csv");
    if (record) {
        TChartFileInfo info;
        info.Device = "Talvis";
        info.Unit = st.UnitText;
        info.PeriodMs = st.Sampling_time_Chart;
        info.Start = QDateTime::currentDateTime();
        chart.Recorder().Begin(recording.toStdString(), info);
    }
    SwingSource source;
    const uint64_t endMs = uint64_t(hours * 3600000.0);
    DrivenHost host(st, endMs);
    IHost* old = SetHost(&host);

    QCoreApplication::processEvents();
    const int fd0 = OpenDescriptors();
    long rss0 = -1;
    size_t store0 = 0, points0 = 0;
    QElapsedTimer wall;
    wall.start();
    host.onMinute = [&](uint64_t now) {
        if (now == 60000) { // after a minute's warm-up: caches, fonts, the first chunks
            rss0 = RssKiB();
            store0 = chart.Store().MemoryBytes();
            points0 = chart.PointCount();
        }
        if (now % 3600000 == 0) {
            const long rss = RssKiB();
            const double storeKiB = double(chart.Store().MemoryBytes() - store0) / 1024.0;
            std::printf("  %5.1f h  %9zu points  RSS %+8ld KiB  store %+10.0f KiB  other %+8.0f KiB  fds %d  (%.0f s)\n",
                        double(now) / 3600000.0, chart.PointCount(), rss - rss0, storeKiB,
                        double(rss - rss0) - storeKiB, OpenDescriptors(), double(wall.elapsed()) / 1000.0);
            std::fflush(stdout);
        }
    };

    TChartLoop loop(st, view, source);
    loop.Run("Talvis", st.DeviceCode, st.RangeCode, st.UnitText);
    QCoreApplication::processEvents();
    chart.RepaintNow();

    const long rss = RssKiB();
    const size_t points = chart.PointCount() - points0;
    const double storeKiB = double(chart.Store().MemoryBytes() - store0) / 1024.0;
    const double otherKiB = double(rss - rss0) - storeKiB;
    std::printf("chart soak: %.1f simulated hours at %d ms: %zu points in %.0f s\n", hours,
                st.Sampling_time_Chart, chart.PointCount(), double(wall.elapsed()) / 1000.0);
    std::printf("  RSS growth after warm-up %ld KiB, trace store growth %.0f KiB (%.1f bytes/point), "
                "beyond the store %.0f KiB (%.2f bytes/point)\n",
                rss - rss0, storeKiB, storeKiB * 1024.0 / double(points), otherKiB,
                otherKiB * 1024.0 / double(points));
    if (record) {
        chart.Recorder().End();
        std::printf("  recorded %lld bytes (%.1f bytes/point), recording %s\n",
                    static_cast<long long>(QFileInfo(recording).size()),
                    double(QFileInfo(recording).size()) / double(chart.PointCount()),
                    chart.Recorder().LastError() == 0 ? "whole" : std::strerror(chart.Recorder().LastError()));
    }
    std::printf("  descriptors before %d, after %d\n", fd0, OpenDescriptors());
    SetHost(old);
    MainState = nullptr;
    return OpenDescriptors() == fd0 ? 0 : 1;
}

// The instruments' pauses are fixed waits; on the soak they cost nothing.
class QuickHost : public IHost {
public:
    uint32_t TickCount() override { return uint32_t(now); }
    void Sleep(unsigned ms) override { now += ms; }
    void ProcessMessages() override {}
    uint64_t now = 0;
};

// Answers every box as a user who wants to go on would (Ok, Cancel to a
// retry) and counts them.
class CountingPrompt : public IPrompt {
public:
    TPromptResult Ask(const QString&, const QString&, TPromptButtons b, TPromptIcon) override
    {
        ++shown;
        return b == TPromptButtons::RetryCancel ? TPromptResult::Cancel : TPromptResult::Ok;
    }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
    long shown = 0;
};

struct Tally {
    long ok = 0, failed = 0, errors = 0;
};

// One soak of an instrument: `exchange` runs one reading and says whether it
// worked; `fault` arms the fault for exchange `n` (every 1,000th) and
// `clear` takes it away again.
int SoakInstrument(const char* name, long exchanges, PtyPeer& peer, TComPort& port,
                   const std::function<bool()>& exchange, const std::function<void(long)>& fault,
                   const std::function<void()>& clear)
{
    QuickHost host;
    CountingPrompt prompt;
    IHost* oldHost = SetHost(&host);
    IPrompt* oldPrompt = SetPrompt(&prompt);
    Tally t;
    const int fd0 = OpenDescriptors();
    long rss0 = -1;
    size_t harness0 = 0;
    // The test line keeps every byte it received (and the simulators their
    // commands, cleared below): that is the harness's memory, not ours.
    const auto harness = [&] { return peer.Received().size(); };
    QElapsedTimer wall;
    wall.start();
    for (long n = 1; n <= exchanges; ++n) {
        const bool faulty = n % 1000 == 0;
        if (faulty)
            fault(n);
        try {
            if (!port.Active())
                port.Open();
            (exchange() ? t.ok : t.failed)++;
        } catch (const EComError&) {
            ++t.errors;
            port.Close(); // as the window's exit and the next menu entry do
        } catch (const std::exception&) {
            // A reading the instrument garbled (a display number that does
            // not convert) ends the loop with the framework's error box.
            ++t.errors;
        }
        if (faulty)
            clear();
        if (n == 1000) {
            rss0 = RssKiB();
            harness0 = harness();
        }
        if (n % 20000 == 0) {
            const long h = long((harness() - harness0) / 1024);
            std::printf("  %7ld exchanges  ok %ld  failed %ld  errors %ld  RSS %+ld KiB (line log %+ld KiB)  fds %d  (%.0f s)\n",
                        n, t.ok, t.failed, t.errors, RssKiB() - rss0, h, OpenDescriptors(),
                        double(wall.elapsed()) / 1000.0);
            std::fflush(stdout);
        }
    }
    port.Close();
    const long rss1 = RssKiB();
    const long lineLog = long((harness() - harness0) / 1024);
    peer.Stop();
    const int fd1 = OpenDescriptors();
    std::printf("%s soak: %ld exchanges in %.0f s: %ld good, %ld failed, %ld port errors, %ld boxes\n", name,
                exchanges, double(wall.elapsed()) / 1000.0, t.ok, t.failed, t.errors, prompt.shown);
    std::printf("  RSS growth after the first 1,000: %ld KiB, of which the test line's log of received bytes %ld KiB: "
                "%ld KiB beyond it; descriptors before %d, after %d\n",
                rss1 - rss0, lineLog, rss1 - rss0 - lineLog, fd0, fd1);
    SetHost(oldHost);
    SetPrompt(oldPrompt);
    return fd1 <= fd0 ? 0 : 1;
}

int SoakGripo(long exchanges)
{
    SimGripo sim;
    PtyPeer peer;
    peer.Host(sim);
    peer.Start();
    TComPort port;
    port.DeviceName(peer.SlavePath());
    port.Timeouts->ReadConstant(150);
    C_Gripo gripo(port);
    return SoakInstrument(
        "gripo", exchanges, peer, port,
        [&] {
            if (gripo.ReadStatistics(false) != C_Gripo::Ok)
                return false;
            return true;
        },
        [&](long n) {
            peer.WithInstrument([&] {
                switch ((n / 1000) % 3) {
                case 0: sim.Silent = true; break;
                case 1: sim.BadChecksum = true; break;
                default: sim.BadEcho = true; break;
                }
            });
        },
        [&] {
            peer.WithInstrument([&] { sim.Silent = sim.BadChecksum = sim.BadEcho = false; });
            // Whatever a fault left on the line is not the next reply.
            QThread::msleep(20);
            if (port.Active())
                port.ReadString();
        });
}

int SoakOhmra(long exchanges)
{
    SimOhmra sim;
    PtyPeer peer;
    peer.Host(sim);
    peer.Start();
    TComPort port;
    port.DeviceName(peer.SlavePath());
    port.Timeouts->ReadConstant(150);
    C_Ohmra ohmra(port);
    int sinceClear = 0;
    using F = SimOhmra::Fault;
    const F kinds[] = {F::WrongChecksum, F::Nak, F::Garbage, F::HalfFrame, F::Silence, F::NoStx, F::ShortLength};
    return SoakInstrument(
        "ohmra", exchanges, peer, port,
        [&] {
            const bool ok = ohmra.Measure("C004") == 0;
            if (++sinceClear == 1000) {
                peer.WithInstrument([&] { sim.Commands.clear(); });
                sinceClear = 0;
            }
            return ok;
        },
        [&](long n) { peer.WithInstrument([&] { sim.Faults.push_back(kinds[(n / 1000) % 7]); }); },
        [&] {
            peer.WithInstrument([&] { sim.Faults.clear(); });
            QThread::msleep(20);
            if (port.Active())
                port.ReadString();
        });
}

int SoakCpm(long exchanges)
{
    SimKarvo sim;
    PtyPeer peer;
    peer.Host(sim);
    peer.Start();
    TComPort port;
    port.DeviceName(peer.SlavePath());
    port.Timeouts->ReadConstant(150);
    C_CPM_EF cpm(port);
    int sinceClear = 0;
    return SoakInstrument(
        "cpm", exchanges, peer, port,
        [&] {
            if (++sinceClear == 1000) {
                peer.WithInstrument([&] { sim.Commands.clear(); });
                sinceClear = 0;
            }
            double value = 0;
            QString unit;
            cpm.ReadDisplay(value, unit);
            return value < 9998;
        },
        [&](long n) {
            peer.WithInstrument([&] {
                switch ((n / 1000) % 4) {
                case 0: sim.Silent = true; break;
                case 1: sim.Garbage = true; break;
                case 2: sim.Babble = true; break;
                default: sim.OmitStx = true; break;
                }
            });
        },
        [&] {
            peer.WithInstrument([&] { sim.Silent = sim.Garbage = sim.Babble = sim.OmitStx = false; });
            QThread::msleep(20);
            if (port.Active())
                port.ReadString();
        });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "chart" || what == "chart-record")
        return SoakChart(argc > 2 ? std::atof(argv[2]) : 24.0, what == "chart-record");
    const long n = argc > 2 ? std::atol(argv[2]) : 100000;
    if (what == "gripo")
        return SoakGripo(n);
    if (what == "ohmra")
        return SoakOhmra(n);
    if (what == "cpm")
        return SoakCpm(n);
    if (what == "cpm-chart")
        return SoakCpmChart(n);
    if (what == "ohmra-window")
        return SoakOhmraWindow(n);
    if (what == "gripo-window")
        return SoakGripoWindow(n);
    std::fprintf(stderr, "usage: soak chart|chart-record [hours] | gripo|ohmra|cpm [exchanges]\n"
                         "            | cpm-chart|ohmra-window|gripo-window [readings]\n");
    return 2;
}
