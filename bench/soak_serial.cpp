// The serial instruments on the soak, each through the program's own reading
// path: the main window's chart with the charge plate monitor as its source,
// the tera-ohmmeter window's Start, the tester window's Start. The whole
// program's windows are built as at start-up; the simulators sit on
// pseudo-terminals. Every 1,000th reading meets a fault on the line; the
// fault is taken away after that reading, and when it ended the user's
// action the soak does what a user would: Stop and Start again on the chart,
// Exit and the Device menu entry (and Init) on the instrument windows.
#include "bench/soak_serial.h"

#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "app/AppWindows.h"
#include "app/TApplication.h"
#include "app/TMainForm.h"
#include "bench/soak_proc.h"
#include "core/MainState.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimGripo.h"
#include "sim/SimKarvo.h"
#include "sim/SimOhmra.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>

namespace {

// The menu entries set 5000 ms for the tera-ohmmeter and the tester; a
// silent line would then cost five seconds a fault. The soak waits less:
// the reading path is the same, only the wait for a byte is shorter.
constexpr int kReadTimeoutMs = 400;
constexpr long kFaultEvery = 1000;

// Fixed pauses cost no real time: the clock moves when the program sleeps.
// Pending window events are handled every 20 ms of that clock, as a running
// program would between its polls; `onProcess` lets the soak press buttons
// where the program lets the user do so.
class SoakHost final : public IHost {
public:
    SoakHost() : old_(SetHost(this)) {}
    ~SoakHost() override { SetHost(old_); }
    uint32_t TickCount() override { return uint32_t(now); }
    void Sleep(unsigned ms) override
    {
        now += ms;
        // The monitor's handshake polls for its ACK without blocking, 50 ms
        // apart; a moment of real time lets the answer reach the line. Every
        // other pause ends in a read that waits for its byte anyway.
        if (ms == 50)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    void ProcessMessages() override
    {
        if (now >= nextEvents_) {
            QCoreApplication::processEvents();
            nextEvents_ = now + 20;
        }
        if (onProcess)
            onProcess();
    }
    uint64_t now = 0;
    std::function<void()> onProcess;

private:
    IHost* old_;
    uint64_t nextEvents_ = 0;
};

// Every message a user would have seen: the program's boxes and the
// framework's error box for an error that ended a handler.
struct Messages {
    long total = 0;
    std::map<QString, long> byText;
    void Note(const QString& m)
    {
        ++total;
        ++byText[m];
    }
};

// Presses OK on the tester's instruction (a question the user answers every
// time, not a message) and counts everything else, answering Cancel to a
// retry so that the error reaches the window.
class SoakPrompt final : public IPrompt {
public:
    explicit SoakPrompt(Messages& m) : m_(m), old_(SetPrompt(this)) {}
    ~SoakPrompt() override { SetPrompt(old_); }
    TPromptResult Ask(const QString& text, const QString& caption, TPromptButtons buttons, TPromptIcon) override
    {
        if (caption == QLatin1String("Instruction")) {
            ++instructions;
            return TPromptResult::Ok;
        }
        m_.Note(caption + ": " + text);
        return buttons == TPromptButtons::RetryCancel ? TPromptResult::Cancel : TPromptResult::Ok;
    }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
    long instructions = 0;

private:
    Messages& m_;
    IPrompt* old_;
};

// The program as it stands after start-up, its settings in a scratch folder.
class SoakProgram {
public:
    SoakProgram()
    {
        SetSettingsDirectoryOverride(dir_.path().toStdString());
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
        MainForm->show();
        oldShow_ = TApplication::ShowException;
        TApplication::ShowException = [this](const QString& m) { messages.Note("error box: " + m); };
        QCoreApplication::processEvents();
    }
    ~SoakProgram()
    {
        host.onProcess = nullptr;
        TApplication::ShowException = oldShow_;
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
    // A button press as the event loop delivers it: an error that escapes is
    // shown in the framework's box and ends only this action. False then.
    bool Click(const std::function<void()>& handler)
    {
        bool completed = false;
        TApplication::Guarded([&] {
            handler();
            completed = true;
            return true;
        });
        // Back in the event loop between two presses.
        QCoreApplication::processEvents();
        return completed;
    }
    static TComPort& Port() { return *FoCom->ComPort1; }

    Messages messages;
    SoakHost host;
    SoakPrompt prompt{messages};

private:
    QTemporaryDir dir_;
    std::function<void(const QString&)> oldShow_;
};

// One simulated instrument on a line of its own; a hang-up ends the line,
// and a fresh one stands for the cable plugged in again.
template <class Sim>
class SoakLine {
public:
    explicit SoakLine(std::function<void(Sim&)> setUp, int tickMs = 5) : setUp_(std::move(setUp)), tick_(tickMs)
    {
        Fresh();
    }
    void Fresh()
    {
        peer_.reset();
        sim_ = std::make_unique<Sim>();
        if (setUp_)
            setUp_(*sim_);
        peer_ = std::make_unique<PtyPeer>();
        peer_->Host(*sim_, tick_);
        peer_->Start();
        Plug();
    }
    // A line played by a script instead of the instrument, for one reading.
    void Script(const std::function<void(PtyPeer&)>& script)
    {
        SoakProgram::Port().Close();
        peer_.reset();
        peer_ = std::make_unique<PtyPeer>();
        script(*peer_);
        peer_->Start();
        Plug();
    }
    void With(const std::function<void(Sim&)>& f)
    {
        peer_->WithInstrument([&] { f(*sim_); });
    }
    bool HungUp() const { return peer_->HungUp(); }
    // Bytes the line has kept of what it received: the soak's memory, not the program's.
    long LogBytes() const { return long(peer_->Received().size()); }
    const std::string& Path() const { return peer_->SlavePath(); }

private:
    void Plug() { SoakProgram::Port().DeviceName(peer_->SlavePath()); }
    std::function<void(Sim&)> setUp_;
    int tick_;
    std::unique_ptr<Sim> sim_;
    std::unique_ptr<PtyPeer> peer_;
};

// What one soak counts, and the figures it prints at the end.
struct Tally {
    const char* name = "";
    long exchanges = 0;
    long good = 0;            // readings that went through and showed the instrument's value
    long failed = 0;          // readings the user's action ended in (an error box)
    long absorbed = 0;        // faulty readings that went through (wrong or old value shown, or refused)
    long wrongValues = 0;     // readings that went through but showed another value than the instrument's
    long faults = 0;
    long faultMessages = 0;   // messages shown in the reading that met a fault
    long strayMessages = 0;   // messages anywhere else
    long strayFailures = 0;   // readings without a fault that failed
    long restarts = 0;
    // Per kind of fault: how often, how often it ended the action, messages shown.
    struct Kind {
        long faults = 0, failed = 0, messages = 0, wrong = 0;
    };
    std::map<std::string, Kind> kinds;
    long rss0 = -1;
    long log0 = 0;
    double store0 = 0;
    int fds0 = -1;
    int fds1 = -1;
    std::string fdList0, fdList1;
    QElapsedTimer wall;

    void Baseline(long logBytes, double storeBytes = 0)
    {
        rss0 = RssKiB();
        log0 = logBytes;
        store0 = storeBytes;
    }
    void Outcome(const std::string& kind, bool endedAction, long messages, bool wrongValue = false)
    {
        Kind& k = kinds[kind];
        ++k.faults;
        k.failed += endedAction ? 1 : 0;
        k.messages += messages;
        k.wrong += wrongValue ? 1 : 0;
        faultMessages += messages;
        if (wrongValue)
            ++wrongValues;
    }
    // Descriptors are compared between two good readings, the first and
    // the last: the program holds the same things open then (an error
    // closes the port on purpose).
    void Good(long n)
    {
        ++good;
        if (fds0 < 0) {
            fds0 = OpenDescriptors();
            fdList0 = DescriptorList();
        }
        if (n > exchanges - kFaultEvery) {
            fds1 = OpenDescriptors();
            fdList1 = DescriptorList();
        }
    }
    void Progress(long n)
    {
        if (n % 5000 == 0 && rss0 >= 0) {
            std::printf("  %7ld readings  good %ld  failed %ld  absorbed %ld  RSS %+ld KiB  fds %d  (%.0f s)\n", n, good,
                        failed, absorbed, RssKiB() - rss0, OpenDescriptors(), double(wall.elapsed()) / 1000.0);
            std::fflush(stdout);
        }
    }
    // `rssEnd`: resident KiB at the end of the readings (before the window lets go of anything).
    int Report(const Messages& m, long rssEnd, long logBytes, double storeBytes = 0, const char* storeName = nullptr)
    {
        const long rss = rssEnd - rss0;
        const long log = (logBytes - log0) / 1024;
        const double store = (storeBytes - store0) / 1024.0;
        const double beyond = double(rss) - double(log) - store;
        std::printf("%s soak: %ld readings in %.0f s: %ld good, %ld failed, %ld faulty readings that went through "
                    "(%ld showing another value than the instrument's)\n",
                    name, exchanges, double(wall.elapsed()) / 1000.0, good, failed, absorbed, wrongValues);
        std::printf("  %ld faults, %ld messages in the faulty readings, %ld elsewhere; %ld failures without a fault; "
                    "%ld restarts by the user\n",
                    faults, faultMessages, strayMessages, strayFailures, restarts);
        for (const auto& [kind, k] : kinds)
            std::printf("    %-16s %4ld faults, %4ld ended the action, %4ld messages, %4ld went through with "
                        "another value\n",
                        kind.c_str(), k.faults, k.failed, k.messages, k.wrong);
        for (const auto& [text, count] : m.byText)
            std::printf("    %6ld x %s\n", count, text.toLocal8Bit().constData());
        std::printf("  RSS growth after the first 1,000: %ld KiB (line log %+ld KiB", rss, log);
        if (storeName)
            std::printf(", %s %+.0f KiB = %.1f bytes a reading", storeName, store,
                        store * 1024.0 / double(exchanges > kFaultEvery ? exchanges - kFaultEvery : 1));
        std::printf("): %.0f KiB beyond\n", beyond);
        std::printf("  descriptors at the first good reading %d, at the last %d\n", fds0, fds1);
        if (fds1 != fds0)
            std::printf("  before:\n%s  after:\n%s", fdList0.c_str(), fdList1.c_str());
        std::printf("ROW | %s | %ld | %ld / %ld (+%ld through) | %ld messages / %ld faults | %ld KiB (%.0f beyond) | "
                    "%d -> %d | %.0f s\n",
                    name, exchanges, good, failed, absorbed, m.total, faults, rss, beyond, fds0, fds1,
                    double(wall.elapsed()) / 1000.0);
        std::fflush(stdout);
        return fds1 == fds0 && strayFailures == 0 ? 0 : 1;
    }
};

} // namespace

// --- the charge plate monitor through the main window's chart ----------------------

int SoakCpmChart(long exchanges)
{
    SoakProgram program;
    SoakLine<SimKarvo> line([](SimKarvo& s) { s.Reading = 123.4; });
    program.Port().Timeouts->ReadConstant(kReadTimeoutMs);
    Tally t;
    t.name = "cpm chart";
    t.exchanges = exchanges;

    // Karvo → Voltmeter → ±400V, View → Chart.
    MainForm->DeviceItems.value("Plate_N400V")->trigger();
    if (MainForm->DeviceCode != 101) {
        std::fprintf(stderr, "the monitor's plate range could not be chosen\n");
        return 2;
    }
    MainForm->Grafik1->trigger();
    TChart& chart = *MainForm->Chart1;
    // The first good reading's point: every later one should be the same.
    double expected = 0;

    enum Kind { Silent, Garbage, Babble, OmitStx, HangUp, Kinds };
    const char* const names[] = {"silence", "garbage", "no ETX (babble)", "no STX", "hang-up in reply"};
    int armed = -1;          // the fault on the line, if any
    long armedAt = 0;        // readings done when it was armed
    long msgsAtArm = 0;
    size_t points = 0;       // points the soak has looked at
    const auto done = [&] { return t.good + t.failed + t.absorbed; };
    const auto clearFault = [&](bool endedAction, bool wrongValue) {
        if (armed == HangUp || line.HungUp()) {
            program.Port().Close();
            line.Fresh();
        } else {
            line.With([](SimKarvo& s) { s.Silent = s.Garbage = s.Babble = s.OmitStx = s.HangUpInReply = false; });
        }
        t.Outcome(names[armed], endedAction, program.messages.total - msgsAtArm, wrongValue);
        armed = -1;
    };

    t.wall.start();
    program.host.onProcess = [&] {
        // Between two samples: look at the points plotted since last time.
        while (points < chart.PointCount()) {
            const double y = chart.PointY(points++);
            if (armed >= 0) {
                ++t.absorbed;
                clearFault(false, y != expected);
            } else {
                if (t.good == 0) {
                    expected = y;
                    std::printf("  the monitor's reading is plotted as %g\n", y);
                }
                t.Good(done() + 1);
                if (y != expected)
                    ++t.wrongValues;
            }
            const long n = done();
            if (n == kFaultEvery)
                t.Baseline(line.LogBytes(), double(chart.Store().MemoryBytes()));
            t.Progress(n);
        }
        if (done() >= exchanges) {
            if (!MainForm->StopFlag)
                MainForm->b_Stop_Click();
            return;
        }
        if (armed < 0 && (done() + 1) % kFaultEvery == 0) {
            armed = int(((done() + 1) / kFaultEvery) % Kinds);
            armedAt = done();
            msgsAtArm = program.messages.total;
            ++t.faults;
            line.With([&](SimKarvo& s) {
                s.Commands.clear(); // the simulator's own record: not the program's memory
                switch (armed) {
                case Silent: s.Silent = true; break;
                case Garbage: s.Garbage = true; break;
                case Babble: s.Babble = true; break;
                case OmitStx: s.OmitStx = true; break;
                default: s.HangUpInReply = true; break;
                }
            });
        }
    };

    long msgs = program.messages.total;
    while (done() < exchanges) {
        const bool ran = program.Click([] { MainForm->b_StartClick(); });
        if (ran && done() >= exchanges)
            break;
        if (ran) {
            // The loop ended without an error while readings were still due.
            std::fprintf(stderr, "the chart loop ended on its own after %ld readings\n", done());
            break;
        }
        // The error box is shown: that reading failed.
        if (armed >= 0) {
            ++t.failed;
            clearFault(true, false);
            if (done() == kFaultEvery)
                t.Baseline(line.LogBytes(), double(chart.Store().MemoryBytes()));
            t.Progress(done());
        } else {
            ++t.strayFailures;
            t.strayMessages += program.messages.total - msgs;
            if (t.strayFailures > 50) {
                std::fprintf(stderr, "the monitor does not come back after its faults\n");
                break;
            }
        }
        // The user presses Stop (Start usable again) and Start.
        MainForm->b_Stop_Click();
        ++t.restarts;
        msgs = program.messages.total;
    }
    program.host.onProcess = nullptr;
    const double store = double(chart.Store().MemoryBytes());
    const long log = line.LogBytes();
    const long rssEnd = RssKiB();
    MainForm->b_CancelClick();
    QCoreApplication::processEvents();
    std::printf("  RSS after Exit emptied the chart: %+ld KiB against the first 1,000\n", RssKiB() - t.rss0);
    return t.Report(program.messages, rssEnd, log, store, "trace store");
}

// --- the tera-ohmmeter through its window's Start ----------------------------------

int SoakOhmraWindow(long exchanges)
{
    SoakProgram program;
    SoakLine<SimOhmra> line(nullptr, 2);
    Tally t;
    t.name = "ohmra window";
    t.exchanges = exchanges;
    TFormOhmra& w = *FormOhmra;

    // Device → Ohmra → Start, then Init: what the user does to begin, and
    // again after an error ended an action.
    const auto open = [&] {
        MainForm->Ohmra_StartClick();
        program.Port().Timeouts->ReadConstant(kReadTimeoutMs);
        return program.Click([&] { w.BitBtn_initClick(); }) && w.BitBtn_start->isEnabled();
    };
    if (!open()) {
        std::fprintf(stderr, "the tera-ohmmeter did not initialise\n");
        return 2;
    }

    using F = SimOhmra::Fault;
    const F kinds[] = {F::WrongChecksum, F::Nak, F::Garbage, F::HalfFrame, F::Silence, F::HangUp, F::NoStx, F::ShortLength};
    constexpr long kKinds = long(sizeof kinds / sizeof kinds[0]);
    const char* const names[] = {"wrong checksum", "NAK", "garbage", "half frame", "silence", "hang-up", "no STX", "short length"};
    QString expected;
    t.wall.start();
    for (long n = 1; n <= exchanges; ++n) {
        const bool faulty = n % kFaultEvery == 0;
        const long msgs = program.messages.total;
        if (faulty) {
            ++t.faults;
            line.With([&](SimOhmra& s) {
                s.Commands.clear(); // the simulator's own record
                s.Faults.push_back(kinds[(n / kFaultEvery) % kKinds]);
            });
        }
        const bool ran = program.Click([&] { w.BitBtn_startClick(); });
        const bool usable = ran && w.BitBtn_start->isEnabled() && w.BitBtn_save->isEnabled();
        const QString shown = w.Label_Ohmra_Me->text() + " " + w.Label_Ohmra_Hu->text() + " " + w.Label_Ohmra_Te->text();
        if (usable && expected.isEmpty() && !faulty)
            expected = shown;
        if (faulty) {
            t.Outcome(names[(n / kFaultEvery) % kKinds], !ran, program.messages.total - msgs,
                      usable && shown != expected);
            (ran ? t.absorbed : t.failed)++;
            if (line.HungUp()) {
                program.Port().Close();
                line.Fresh();
            } else {
                line.With([](SimOhmra& s) { s.Faults.clear(); });
            }
        } else if (usable) {
            t.Good(n);
            if (shown != expected)
                ++t.wrongValues;
        } else {
            ++t.strayFailures;
            t.strayMessages += program.messages.total - msgs;
        }
        if (!ran) {
            // Start ended in the error box with Break and Exit usable: the
            // user leaves the window and opens it again.
            w.BitBtn_exitClick();
            ++t.restarts;
            if (!open()) {
                std::fprintf(stderr, "the tera-ohmmeter did not initialise again after reading %ld\n", n);
                if (++t.strayFailures > 50)
                    break;
            }
        }
        if (n == kFaultEvery)
            t.Baseline(line.LogBytes());
        t.Progress(n);
    }
    const long log = line.LogBytes();
    const long rssEnd = RssKiB();
    w.BitBtn_exitClick();
    return t.Report(program.messages, rssEnd, log);
}

// --- the tester through its window's Start -------------------------------------------

int SoakGripoWindow(long exchanges)
{
    SoakProgram program;
    const auto setUp = [](SimGripo& s) {
        s.Total = 41;
        s.WristLow = 4;
        // The next command comes long before this; a missing acknowledgement
        // (after a bad checksum) is given up at once.
        s.AckTimeoutMs = 50;
    };
    SoakLine<SimGripo> line(setUp);
    Tally t;
    t.name = "gripo window";
    t.exchanges = exchanges;
    TFormGripo& w = *FormGripo;

    // Device → Gripo → Start.
    const auto open = [&] {
        MainForm->Start_GripoClick();
        program.Port().Timeouts->ReadConstant(kReadTimeoutMs);
    };
    open();

    // 41 measurements, 4 below the wrist-strap limit, after command 0x7A.
    std::string reply = std::string("\x00\x00\x29\x00\x04\x00\x00\x00\x00\x00\x00", 11);
    {
        int sum = 0x7A;
        for (char c : reply)
            sum += uint8_t(c);
        reply += char(sum & 0xFF);
    }
    enum Kind { Silent, BadChecksum, BadEcho, HalfFrame, HangUp, Garbage, Kinds };
    const char* const names[] = {"silence", "bad checksum", "bad echo", "half reply", "hang-up in reply", "garbage"};
    t.wall.start();
    for (long n = 1; n <= exchanges; ++n) {
        const bool faulty = n % kFaultEvery == 0;
        const int kind = int((n / kFaultEvery) % Kinds);
        const long msgs = program.messages.total;
        bool scripted = false;
        if (faulty) {
            ++t.faults;
            switch (kind) {
            case Silent: line.With([](SimGripo& s) { s.Silent = true; }); break;
            case BadChecksum: line.With([](SimGripo& s) { s.BadChecksum = true; }); break;
            case BadEcho: line.With([](SimGripo& s) { s.BadEcho = true; }); break;
            case HalfFrame:
                line.Script([&](PtyPeer& p) { p.Expect("\x7a").Send(reply.substr(0, 6)); });
                scripted = true;
                break;
            case HangUp:
                line.Script([&](PtyPeer& p) { p.Expect("\x7a").Send(reply.substr(0, 5)).HangUp(50); });
                scripted = true;
                break;
            default:
                line.Script([](PtyPeer& p) {
                    p.Expect("\x7a").Send(std::string("\x55\xAA\x13\x37\x00\xFF\x10\x20\x30\x40\x50\x60\x70", 13));
                });
                scripted = true;
                break;
            }
            if (scripted)
                program.Port().Open();
        }
        // Each transfer starts from an empty window, so a failed one cannot
        // pass for a good one with the counts of the one before.
        w.Counter_HGB_L->clear();
        const bool ran = program.Click([&] { w.BitBtn_StartClick(); });
        const bool usable = ran && w.BitBtnSaveData->isEnabled() && w.BitBtn_Start->isEnabled();
        const bool right = w.Counter_HGB_L->text() == QLatin1String("4") && w.Counter_all->text() == QLatin1String("40");
        if (faulty) {
            t.Outcome(names[kind], !ran, program.messages.total - msgs, usable && !right);
            (ran ? t.absorbed : t.failed)++;
            if (scripted) {
                program.Port().Close();
                line.Fresh();
                if (ran)
                    program.Port().Open();
            } else {
                line.With([](SimGripo& s) { s.Silent = s.BadChecksum = s.BadEcho = false; });
            }
        } else if (usable) {
            t.Good(n);
            if (!right)
                ++t.wrongValues;
        } else {
            ++t.strayFailures;
            t.strayMessages += program.messages.total - msgs;
        }
        if (!ran) {
            // The error box ended the transfer: the user closes the window and
            // opens it again from the Device menu, which reopens the port.
            w.BitBtn_CancelClick();
            ++t.restarts;
            open();
        }
        if (n == kFaultEvery)
            t.Baseline(line.LogBytes());
        t.Progress(n);
    }
    const long log = line.LogBytes();
    const long rssEnd = RssKiB();
    w.BitBtn_CancelClick();
    return t.Report(program.messages, rssEnd, log);
}
