// The charge plate monitor as the user runs it: the chart's Start and the
// display window's Start, with good samples coming in, and then the monitor
// hangs up in the middle of a reply, goes silent, answers noise, answers
// half a frame or babbles without end. Each fault must end the loop with
// one message (not one per sample), leave Start usable exactly when nothing
// runs, let Start read again once the fault is gone, and lose no descriptor.
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace {

// Real time (the monitor needs it) with a hook in every message-processing
// step of a loop, where a user's clicks and the test's switches land.
class LoopHost final : public IHost {
public:
    LoopHost() : old_(SetHost(this)) {}
    ~LoopHost() override { SetHost(old_); }
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        RealHost().Sleep(ms);
    }
    void ProcessMessages() override
    {
        runaway.Count("ProcessMessages");
        QCoreApplication::processEvents();
        if (onProcess) {
            auto step = onProcess; // a step may replace itself
            step();
        }
    }
    std::function<void()> onProcess;
    // A loop that never ends fails the test instead of hanging it.
    RunawayGuard runaway{100'000'000, 240};

private:
    IHost* old_;
};

// The monitor's line as a cable with a loose contact can make it: every
// reply cut to its first half (no ETX, no hang-up). It also counts the
// display reads (STX r 2) the PC sends, so a test knows the loop runs.
class LooseContact final : public ISimInstrument {
public:
    explicit LooseContact(SimKarvo& monitor) : monitor_(monitor) {}
    void OnByte(uint8_t byte, ISimLine& line) override
    {
        last3_ = (last3_ << 8 | byte) & 0xFFFFFF;
        if (last3_ == 0x027232) // STX 'r' '2'
            ++displayReads;
        Cut cut(line, halfFrames);
        monitor_.OnByte(byte, cut);
    }
    void OnTick(ISimLine& line) override
    {
        Cut cut(line, halfFrames);
        monitor_.OnTick(cut);
    }
    bool halfFrames = false;
    std::atomic<int> displayReads{0};

private:
    class Cut final : public ISimLine {
    public:
        Cut(ISimLine& line, bool half) : line_(line), half_(half) {}
        void Send(const std::string& bytes) override
        {
            // The handshake's one or two bytes pass; a reply loses its second half.
            line_.Send(half_ && bytes.size() > 2 ? bytes.substr(0, bytes.size() / 2) : bytes);
        }
        void HangUp() override { line_.HangUp(); }
        int64_t NowMs() const override { return line_.NowMs(); }

    private:
        ISimLine& line_;
        bool half_;
    };
    SimKarvo& monitor_;
    uint32_t last3_ = 0;
};

constexpr double kReading = 123; // volts on the plate, range 400 V (factor 1)

struct LineFault {
    const char* name;
    std::function<void(SimKarvo&, LooseContact&, bool)> set;
    // The loop must end by it (noise may happen to read as a number and go
    // on as a reading, as the display's text has no checksum).
    bool mustEnd;
    const char* message; // exact text when one is known
};

const std::vector<LineFault>& Faults()
{
    static const std::vector<LineFault> f = {
        {"silent", [](SimKarvo& s, LooseContact&, bool on) { s.Silent = on; }, true, "Timeout"},
        {"half frame", [](SimKarvo&, LooseContact& c, bool on) { c.halfFrames = on; }, true, "Timeout"},
        {"babble", [](SimKarvo& s, LooseContact&, bool on) { s.Babble = on; }, true, nullptr},
        {"garbage", [](SimKarvo& s, LooseContact&, bool on) { s.Garbage = on; }, false, nullptr},
        {"hang-up", [](SimKarvo& s, LooseContact&, bool on) { s.HangUpInReply = on; }, true, nullptr},
    };
    return f;
}

class MonitorLoopFaults : public ::testing::Test {
protected:
    MonitorLoopFaults()
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
        MainForm->show();
        sim.Reading = kReading;
        NewLine();
        // Shorter than the form's 1000 ms, so that a silent monitor is found
        // out sooner, and still long for a monitor on a busy machine.
        FoCom->ComPort1->Timeouts->ReadConstant(700);
        MainForm->DeviceItems["Plate_N400V"]->trigger();
    }
    ~MonitorLoopFaults() override
    {
        host.onProcess = nullptr;
        DestroyAllWindows();
        if (peer)
            peer->Stop();
        SetSettingsDirectoryOverride("");
    }
    // The cable (back) in: a fresh line, chosen as the port the way the
    // port selection does while the port is closed.
    void NewLine()
    {
        if (peer)
            peer->Stop();
        peer = std::make_unique<PtyPeer>();
        peer->Host(contact, 2).Start();
        FoCom->ComPort1->DeviceName(peer->SlavePath());
    }
    void Set(const LineFault& f, bool on)
    {
        peer->WithInstrument([&] { f.set(sim, contact, on); });
    }
    void Mark()
    {
        prompts0 = prompt.shown().size();
        boxes0 = boxes.shown.size();
    }
    QStringList Messages() const { return MessagesSince(prompt, prompts0, boxes, boxes0); }
    size_t Points() const { return MainForm->Chart1->PointCount(); }
    bool LastPointGood() const { return Points() && MainForm->Chart1->PointY(Points() - 1) == kReading; }

    // Runs the chart's Start until `good` more good points are plotted, then Stop.
    void ChartRunsAgain(int good)
    {
        const size_t p0 = Points();
        host.onProcess = [&, p0] {
            if (Points() >= p0 + size_t(good) && LastPointGood() && !MainForm->StopFlag)
                MainForm->b_Stop_->click();
            if (Points() > p0 + 60 && !MainForm->StopFlag) {
                ADD_FAILURE() << "no good reading after the fault went";
                MainForm->b_Stop_->click();
            }
        };
        Mark();
        boxes.Click([] { MainForm->b_StartClick(); });
        host.onProcess = nullptr;
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_GE(Points(), p0 + size_t(good));
        EXPECT_TRUE(LastPointGood());
        EXPECT_TRUE(MainForm->b_Start->isEnabled());
        EXPECT_FALSE(FoCom->ComPort1->Active()); // Stop closed it
    }

    TempDir dir;
    LoopHost host;
    ScriptedPrompt prompt;
    ErrorBoxes boxes;
    SimKarvo sim;
    LooseContact contact{sim};
    std::unique_ptr<PtyPeer> peer;
    size_t prompts0 = 0, boxes0 = 0;
};

} // namespace

TEST_F(MonitorLoopFaults, ChartLoopEndsOnceOnEachLineFaultAndStartsAgain)
{
    MainForm->Grafik1->trigger();
    // One good run first: what Qt and the port set up on first use stays.
    ChartRunsAgain(2);
    const int fds = OpenDescriptors();

    for (const LineFault& f : Faults()) {
        SCOPED_TRACE(f.name);
        const size_t p0 = Points();
        size_t faultAt = 0, clearedAt = 0;
        bool startHeldWhileRunning = true;
        // A few good samples, then the fault; should the loop read on
        // through it, the fault goes after a few samples and the loop must
        // come back to good readings by itself.
        host.onProcess = [&] {
            // Once Stop is clicked the loop still finishes its wait.
            if (!MainForm->StopFlag)
                startHeldWhileRunning = startHeldWhileRunning && !MainForm->b_Start->isEnabled();
            if (!faultAt && Points() >= p0 + 3) {
                faultAt = Points();
                Set(f, true);
            } else if (faultAt && !clearedAt && Points() >= faultAt + 4) {
                clearedAt = Points();
                Set(f, false);
            } else if (clearedAt && Points() >= clearedAt + 3 && LastPointGood() && !MainForm->StopFlag) {
                MainForm->b_Stop_->click();
            }
            if (Points() > p0 + 80 && !MainForm->StopFlag) {
                ADD_FAILURE() << "the loop neither ended nor came back to good readings";
                MainForm->b_Stop_->click();
            }
        };
        Mark();
        boxes.Click([] { MainForm->b_StartClick(); });
        host.onProcess = nullptr;
        const QStringList shown = Messages();
        EXPECT_TRUE(startHeldWhileRunning);
        EXPECT_GE(faultAt, p0 + 3);
        // Whatever happened, Start is usable now that nothing runs.
        EXPECT_TRUE(MainForm->b_Start->isEnabled());
        EXPECT_FALSE(FoCom->ComPort1->Active());
        if (f.mustEnd || !clearedAt) {
            EXPECT_EQ(clearedAt, 0u) << "the loop read on through the fault";
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            if (f.message) {
                EXPECT_EQ(shown.front(), QStringLiteral("error box: ") + f.message);
            }
        } else {
            // Noise read as a reading: no message at all, good readings again.
            EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
            EXPECT_TRUE(LastPointGood());
        }
        if (!clearedAt)
            Set(f, false);
        if (std::string(f.name) == "hang-up") {
            // Start again before the cable is back: one message per click.
            Mark();
            boxes.Click([] { MainForm->b_StartClick(); });
            EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
            EXPECT_TRUE(MainForm->b_Start->isEnabled());
            EXPECT_FALSE(FoCom->ComPort1->Active());
            NewLine();
        }
        // Stop (a user's first reflex) changes nothing; Start reads again.
        MainForm->b_Stop_->click();
        ChartRunsAgain(3);
    }

    // Silent before the first sample (the mode and range write): the same
    // one message, and Start usable at once.
    peer->WithInstrument([&] { sim.Silent = true; });
    Mark();
    boxes.Click([] { MainForm->b_StartClick(); });
    ASSERT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    EXPECT_EQ(Messages().front(), "error box: Timeout");
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
    EXPECT_FALSE(FoCom->ComPort1->Active());
    peer->WithInstrument([&] { sim.Silent = false; });
    ChartRunsAgain(2);

    MainForm->b_Cancel->click();
    EXPECT_TRUE(MainForm->Device->menuAction()->isEnabled());
    EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
}

TEST_F(MonitorLoopFaults, DisplayLoopEndsOnceOnEachLineFaultAndStartsAgain)
{
    TFormDisplay* d = FormDisplay;
    const QString good = QStringLiteral("123") + "%1";
    auto showsGood = [&] { return d->LabelMesswert->text() == good.arg(MainForm->UnitText); };
    // Start until `n` more display reads show the good reading, then Break.
    auto runsAgain = [&](int n) {
        const int r0 = contact.displayReads;
        host.onProcess = [&, r0, n] {
            if (contact.displayReads >= r0 + n && showsGood() && !MainForm->StopFlag)
                d->b_Stop->click();
            if (contact.displayReads > r0 + 60 && !MainForm->StopFlag) {
                ADD_FAILURE() << "no good reading after the fault went";
                d->b_Stop->click();
            }
        };
        Mark();
        boxes.Click([d] { d->b_StartClick(); });
        host.onProcess = nullptr;
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_TRUE(showsGood()) << d->LabelMesswert->text().toStdString();
        EXPECT_TRUE(d->b_Start->isEnabled());
        EXPECT_EQ(d->StatusText().toStdString(), "STOP");
    };

    int fds = -1;
    bool ran = false;
    QTimer::singleShot(0, [&] {
        runsAgain(2);
        // Break leaves the port open for the display (only Exit closes it).
        fds = OpenDescriptors();
        for (const LineFault& f : Faults()) {
            SCOPED_TRACE(f.name);
            const int r0 = contact.displayReads;
            int faultAt = 0, clearedAt = 0;
            bool startHeldWhileRunning = true;
            host.onProcess = [&] {
                const int reads = contact.displayReads;
                if (!MainForm->StopFlag)
                    startHeldWhileRunning = startHeldWhileRunning && !d->b_Start->isEnabled();
                if (!faultAt && reads >= r0 + 3) {
                    faultAt = reads;
                    Set(f, true);
                } else if (faultAt && !clearedAt && reads >= faultAt + 4) {
                    clearedAt = reads;
                    Set(f, false);
                } else if (clearedAt && reads >= clearedAt + 3 && showsGood() && !MainForm->StopFlag) {
                    d->b_Stop->click();
                }
                if (reads > r0 + 80 && !MainForm->StopFlag) {
                    ADD_FAILURE() << "the loop neither ended nor came back to good readings";
                    d->b_Stop->click();
                }
            };
            Mark();
            boxes.Click([d] { d->b_StartClick(); });
            host.onProcess = nullptr;
            const QStringList shown = Messages();
            EXPECT_TRUE(startHeldWhileRunning);
            EXPECT_GT(faultAt, 0);
            EXPECT_TRUE(d->b_Start->isEnabled());
            EXPECT_EQ(d->StatusText().toStdString(), "STOP");
            if (f.mustEnd || !clearedAt) {
                EXPECT_EQ(clearedAt, 0) << "the loop read on through the fault";
                EXPECT_FALSE(FoCom->ComPort1->Active());
                ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
                if (f.message) {
                    EXPECT_EQ(shown.front(), QStringLiteral("error box: ") + f.message);
                }
            } else {
                EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
                EXPECT_TRUE(showsGood());
            }
            if (!clearedAt)
                Set(f, false);
            if (std::string(f.name) == "hang-up") {
                FoCom->ComPort1->Close();
                NewLine();
            }
            runsAgain(3);
        }
        EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
        ran = true;
        d->bCancel->click();
    });
    MainForm->Display->trigger();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_TRUE(MainForm->isEnabled());
}
