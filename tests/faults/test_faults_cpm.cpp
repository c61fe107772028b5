// The charge plate monitor's decay window when things go wrong on the
// bench: the monitor hangs up, goes silent, answers noise or half a frame
// in the middle of a decay run or of the read-out of its stored files; the
// result and read-out files are read-only, locked by another program or on
// a full disk. Each case: one clear message, the window usable again (the
// next run, read-out or save works once the fault is gone), no torn or
// missing line, no descriptor lost.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/ModalDialogs.h"
#include "tests/support/DriverHost.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/SimulatedMonitor.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <functional>
#include <memory>
#include <ostream>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

// Failures show the texts, not their code units.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using RunFault = SimKarvo::RunFault;

class CpmFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [] {};
        oldHost = SetHost(&host);
        FormChartCPM = new TFormChartCPM();
        FormReadCPMFiles = new TFormReadCPMFiles();
        CPMSetup = new TCPMSetup();
        CPMSetup->ChooseSaveFile = [this](const QString&, QString& name) {
            ++dialogs;
            if (saveAs.isEmpty())
                return false;
            name = saveAs;
            return true;
        };
        host.onProcess = [this] {
            PlayDialogs();
            if (extra)
                extra();
            if (inject)
                inject();
        };
        Connect();
        CreateCpmInstances(port);
        CPMSetup->show();
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        TearDownMonitorWindows(port, peer);
        SetHost(oldHost);
    }

    // A monitor on a fresh line and the port opened on it, the way the
    // CPM-Mode entry opens it (after a hang-up: the cable is back).
    void Connect()
    {
        // Time-outs long enough that a starved simulator on a loaded
        // machine is no fault; short enough that each injected silence
        // ends soon.
        ConnectSimulatedMonitor(port, sim, peer, 1000, 1000);
    }
    void Sim(const std::function<void(SimKarvo&)>& fn)
    {
        peer->WithInstrument([&] { fn(*sim); });
    }

    // The read-out's dialog as a user answers it: the proposed range, then
    // a comment per file ("c" and the number).
    void PlayDialogs()
    {
        TFormReadCPMFiles* d = FormReadCPMFiles;
        if (!d || !d->isVisible() || d->OKFlag || d->AbortFlag)
            return;
        if (d->MaskEditStart->isVisible()) {
            d->BitBtnOKClick();
        } else if (d->GroupBoxInputComment->isVisible()) {
            d->TextCommentFile->setText("c" + d->LabelFileNumberActuell->text());
            d->BitBtnOKClick();
        }
    }

    void Mark()
    {
        prompts0 = prompt.shown().size();
        boxes0 = boxes.shown.size();
    }
    QStringList Messages() const { return MessagesSince(prompt, prompts0, boxes, boxes0); }
    std::string Shown() const { return Messages().join(" | ").toStdString(); }

    void Run()
    {
        Mark();
        boxes.Click([] { CPMSetup->BitBtnStartClick(); });
    }
    void ReadOut()
    {
        Mark();
        boxes.Click([] { CPMSetup->BitBtnReadFileClick(); });
    }
    // "Save results" with a comment typed and "OK &save" pressed.
    void Save(const QString& comment)
    {
        Mark();
        extra = [this, comment] {
            if (CPMSetup->Edit1->isVisible() && CPMSetup->BitBtnOK->isVisible()) {
                CPMSetup->Edit1->setText(comment);
                CPMSetup->BitBtnOKClick();
            }
        };
        boxes.Click([] { CPMSetup->BitBtnSaveResultClick(); });
        extra = nullptr;
    }
    // A run with the fault switched on at the third live frame.
    void RunWithFault(RunFault fault)
    {
        Sim([](SimKarvo& s) { s.DecayTauMs = 1e9; }); // the plate never gets there by itself
        int frames = 0;
        extra = [this, fault, &frames] {
            if (CPMSetup->Running() && CPMSetup->GroupBoxOffset->title() == "Plate voltage" && ++frames == 3)
                Sim([fault](SimKarvo& s) { s.InRun = fault; });
        };
        Run();
        extra = nullptr;
        EXPECT_GE(frames, 3) << "the fault came before the live frames";
    }
    // A read-out with `inject` applied to the monitor once file 1 is listed.
    void ReadOutWithFault(const std::function<void(SimKarvo&)>& inject)
    {
        // The last read-out's list must not count as this one's.
        CPMSetup->MemoDisplay->clear();
        bool injected = false;
        extra = [&] {
            if (!injected && CPMSetup->MemoDisplay->toPlainText().contains("Reading file no. : 01")) {
                injected = true;
                Sim(inject);
            }
        };
        ReadOut();
        extra = nullptr;
        EXPECT_TRUE(injected) << "file 1 was never listed";
    }

    // The window at rest: every main control usable, nothing running, no
    // dialog of the read-out left open.
    void ExpectIdle()
    {
        EXPECT_FALSE(CPMSetup->Running());
        for (QWidget* w : {static_cast<QWidget*>(CPMSetup->BitBtnStart), static_cast<QWidget*>(CPMSetup->BitBtnChart),
                           static_cast<QWidget*>(CPMSetup->BitBtnInfo), static_cast<QWidget*>(CPMSetup->BitBtnCancel),
                           static_cast<QWidget*>(CPMSetup->GroupBoxsetup),
                           static_cast<QWidget*>(CPMSetup->BitBtnReadFile)})
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_TRUE(CPMSetup->isVisible());
        EXPECT_EQ(CPMSetup->GroupBoxOffset->title(), "Offset");
        EXPECT_FALSE(FormReadCPMFiles->isVisible());
    }
    // A run that ended in a port error: one error box, nothing to save.
    void ExpectFailedRun(const char* message = nullptr)
    {
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_TRUE(Messages().front().startsWith("error box: ")) << Shown();
        if (message) {
            EXPECT_EQ(Messages().front(), QString("error box: ") + message);
        }
        EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled());
        ExpectIdle();
    }
    void ExpectGoodRun()
    {
        Sim([](SimKarvo& s) { s.DecayTauMs = 150; });
        Run();
        EXPECT_TRUE(Messages().isEmpty()) << Shown();
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').back(),
                  "Decay time measuring successful finished !");
        EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
        EXPECT_EQ(CPMSetup->LabelOffset->text(), "-3.0 V");
        ExpectIdle();
    }
    // A read-out of the three stored files into `saveAs`: three more lines.
    void ExpectGoodReadOut()
    {
        const bool fresh = !QFileInfo::exists(saveAs);
        const int before = fresh ? 2 : int(CompleteLines(saveAs.toStdString()).size());
        ReadOut();
        EXPECT_TRUE(Messages().isEmpty()) << Shown();
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').back(),
                  "EEProm data from CPM stored successful in data file !");
        const QStringList lines = CompleteLines(saveAs.toStdString());
        ASSERT_EQ(lines.size(), before + 3);
        EXPECT_TRUE(lines[before].endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;c1")) << lines[before].toStdString();
        EXPECT_TRUE(lines[before + 2].endsWith(";3;Neg.;900;100;0;0.0;30.0;-131.0;c3"));
        ExpectIdle();
    }
    // The read-out ended in the monitor's "no data" message and wrote nothing.
    void ExpectNoDataReadOut()
    {
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), "Info: !! No data stored in EEProm !! ");
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText(), "\nWarning!! EEProm data not stored in the data file.");
        ExpectIdle();
    }
    void ExpectNoDescriptorLost()
    {
        port.Close();
        port.Open();
        // A file dialog's folder watcher and listing threads let go of their
        // descriptors a little after the dialog closed; on a busy machine
        // that can take a while, so wait for them before counting.
        QDeadlineTimer deadline(5000);
        while (OpenDescriptors() > fdsBefore && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            usleep(20 * 1000);
        }
        EXPECT_EQ(OpenDescriptors(), fdsBefore) << DescriptorList();
    }
    // Counting starts after a first good exchange of the kind under test:
    // what Qt and the window set up on first use stays for good.
    void CountDescriptors() { fdsBefore = OpenDescriptors(); }

    TempDir dir;
    TMainState state;
    DriverHost host{50, 180};
    IHost* oldHost = nullptr;
    std::unique_ptr<SimKarvo> sim;
    std::unique_ptr<PtyPeer> peer;
    TComPort port;
    ScriptedPrompt prompt;
    ErrorBoxes boxes;
    std::function<void()> extra;
    std::function<void()> inject; // a fault beside what `extra` plays
    QString saveAs;
    int dialogs = 0;
    int fdsBefore = 0;
    size_t prompts0 = 0, boxes0 = 0;
};

// A second name for a file that lands on a full disk.
std::string FullDiskFile(const TempDir& dir, const std::string& name)
{
    const std::string path = dir.file(name);
    EXPECT_EQ(symlink("/dev/full", path.c_str()), 0);
    return path;
}

} // namespace

// --- in the middle of a decay run ---------------------------------------------------

TEST_F(CpmFaults, RunThatStopsTalkingEndsInOneTimeout)
{
    ExpectGoodRun();
    CountDescriptors();
    // Noise that never ends a frame is cut off by the port's length limit
    // or its time-out, whichever comes first.
    const std::tuple<RunFault, const char*, const char*> cases[] = {{RunFault::Silence, "silence", "Timeout"},
                                                                    {RunFault::HalfFrame, "half a frame", "Timeout"},
                                                                    {RunFault::Babble, "noise, no ETX", nullptr}};
    for (const auto& [fault, name, message] : cases) {
        SCOPED_TRACE(name);
        RunWithFault(fault);
        ExpectFailedRun(message);
        // The monitor is idle again: the next run goes through and can be saved.
        ExpectGoodRun();
    }
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, HangUpInTheMiddleOfAFrame)
{
    ExpectGoodRun();
    CountDescriptors();
    RunWithFault(RunFault::HangUp);
    ExpectFailedRun();
    EXPECT_FALSE(port.Active()); // a line that went away is not opened again
    // Another run on the dead line is one more clear message, not a hang.
    Run();
    ASSERT_EQ(Messages().size(), 1) << Shown();
    ExpectIdle();

    // The cable is back and the menu entry reopens the port.
    Connect();
    ExpectGoodRun();
    ExpectNoDescriptorLost();

    // Exit after a hang-up still leads back to the main window.
    RunWithFault(RunFault::HangUp);
    bool returned = false;
    MainLink().ReturnToMain = [&] { returned = true; };
    CPMSetup->BitBtnCancelClick();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(CPMSetup->isVisible());
}

TEST_F(CpmFaults, BreakAndExitWhileTheMonitorIsSilent)
{
    ExpectGoodRun();
    CountDescriptors();
    // The monitor falls silent in a run; the user clicks Break (the abort
    // frame never comes), sees only Exit and Clear usable, and clicks Exit
    // before the run gives up waiting: no message for a window the user
    // has left, the port closed, the main window back.
    bool returned = false;
    MainLink().ReturnToMain = [&] { returned = true; };
    int frames = 0;
    bool broke = false, exited = false;
    Sim([](SimKarvo& s) { s.DecayTauMs = 1e9; });
    extra = [&] {
        if (broke || CPMSetup->GroupBoxOffset->title() != "Plate voltage" || !CPMSetup->isVisible())
            return;
        if (++frames != 3)
            return;
        EXPECT_FALSE(CPMSetup->BitBtnCancel->isEnabled()); // no Exit in the middle of a run
        Sim([](SimKarvo& s) { s.Silent = true; });
        broke = true;
        CPMSetup->BitBtnBreak->click();
        for (QWidget* w : {static_cast<QWidget*>(CPMSetup->BitBtnStart), static_cast<QWidget*>(CPMSetup->BitBtnInfo),
                           static_cast<QWidget*>(CPMSetup->BitBtnReadFile), static_cast<QWidget*>(CPMSetup->BitBtnChart),
                           static_cast<QWidget*>(CPMSetup->GroupBoxsetup), static_cast<QWidget*>(CPMSetup->BitBtnBreak)})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_TRUE(CPMSetup->BitBtnCancel->isEnabled());
        EXPECT_TRUE(CPMSetup->ButtonClearDisplay->isEnabled());
        exited = true;
        CPMSetup->BitBtnCancel->click();
    };
    Run();
    extra = nullptr;
    EXPECT_TRUE(exited);
    EXPECT_TRUE(Messages().isEmpty()) << Shown();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(CPMSetup->isVisible());
    EXPECT_FALSE(port.Active());

    // CPM-Mode, Start again with the monitor back: the window opens idle,
    // every idle control usable, and a run goes through.
    Sim([](SimKarvo& s) { s.Silent = false; });
    WaitUntil([this] {
        bool busy = true;
        Sim([&](SimKarvo& s) { busy = s.Decaying(); });
        return !busy;
    }, 1000);
    Sim([](SimKarvo& s) { s.DecayTauMs = 150; });
    port.Open();
    CPMSetup->show();
    ExpectIdle();
    EXPECT_TRUE(CPMSetup->BitBtnBreak->isEnabled());
    EXPECT_TRUE(CPMSetup->ButtonClearDisplay->isEnabled());
    ExpectGoodRun();
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, NoiseInsteadOfLiveFramesEndsTheRunCleanly)
{
    ExpectGoodRun();
    CountDescriptors();
    // Twenty noise frames, then the monitor's own frames again and the
    // plate decays: the run ends (nothing checks a frame, so noise may end
    // it early as a result or an abort), and nothing hangs.
    int frames = 0;
    Sim([](SimKarvo& s) { s.DecayTauMs = 1e9; });
    extra = [this, &frames] {
        if (!CPMSetup->Running() || CPMSetup->GroupBoxOffset->title() != "Plate voltage")
            return;
        ++frames;
        if (frames == 3)
            Sim([](SimKarvo& s) { s.InRun = RunFault::Garbage; });
        if (frames == 23)
            Sim([](SimKarvo& s) {
                s.InRun = RunFault::None;
                s.DecayTauMs = 150;
            });
    };
    Run();
    extra = nullptr;
    EXPECT_LE(Messages().size(), 1) << Shown();
    ExpectIdle();
    Sim([](SimKarvo& s) {
        s.InRun = RunFault::None;
        s.DecayTauMs = 150;
    });
    // Whatever the noise left in the queue, the monitor is reached again.
    WaitUntil([this] {
        bool busy = true;
        Sim([&](SimKarvo& s) { busy = s.Decaying(); });
        return !busy;
    });
    port.Close();
    port.Open();
    ExpectGoodRun();
    ExpectNoDescriptorLost();
}

// --- in the middle of the read-out of the stored files ------------------------------

TEST_F(CpmFaults, ReadOutThatStopsTalkingWritesNothing)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    const std::pair<const char*, std::function<void(SimKarvo&, bool)>> cases[] = {
        {"silent after the handshake", [](SimKarvo& s, bool on) { s.MuteReplies = on; }},
        {"half a record", [](SimKarvo& s, bool on) { s.HalfReply = on; }},
        {"noise without ETX", [](SimKarvo& s, bool on) { s.Babble = on; }},
    };
    for (const auto& [name, set] : cases) {
        SCOPED_TRACE(name);
        const std::string before = ReadWholeFile(saveAs.toStdString());
        const int dialogsBefore = dialogs;
        ReadOutWithFault([&](SimKarvo& s) { set(s, true); });
        ExpectNoDataReadOut();
        EXPECT_EQ(dialogs, dialogsBefore); // no file was asked for
        EXPECT_EQ(ReadWholeFile(saveAs.toStdString()), before);
        Sim([&](SimKarvo& s) { set(s, false); });
        ExpectGoodReadOut();
        EXPECT_EQ(ReadWholeFile(saveAs.toStdString()).compare(0, before.size(), before), 0);
    }
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, ReadOutWithANoisyRecordStillWritesWholeLines)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    const int before = int(CompleteLines(saveAs.toStdString()).size());
    // Noise for record 2 only. Nothing checks a record: it is decoded as
    // far as it goes, and every line still goes in whole.
    CPMSetup->MemoDisplay->clear();
    bool injected = false, off = false;
    extra = [&] {
        const QString memo = CPMSetup->MemoDisplay->toPlainText();
        if (!injected && memo.contains("Reading file no. : 01")) {
            injected = true;
            Sim([](SimKarvo& s) { s.Garbage = true; });
        }
        if (!off && memo.contains("Reading file no. : 02")) {
            off = true;
            Sim([](SimKarvo& s) { s.Garbage = false; });
        }
    };
    ReadOut();
    extra = nullptr;
    EXPECT_TRUE(injected);
    EXPECT_LE(Messages().size(), 1) << Shown();
    ExpectIdle();
    const QStringList lines = CompleteLines(saveAs.toStdString());
    EXPECT_LE(lines.size(), before + 3);
    for (int i = before; i < lines.size(); ++i)
        EXPECT_GE(lines[i].count(';'), 10) << lines[i].toStdString();
    Sim([](SimKarvo& s) { s.Garbage = false; });
    ExpectGoodReadOut();
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, HangUpInTheMiddleOfTheReadOut)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    const std::string before = ReadWholeFile(saveAs.toStdString());
    ReadOutWithFault([](SimKarvo& s) { s.HangUpInReply = true; });
    ExpectNoDataReadOut();
    EXPECT_EQ(ReadWholeFile(saveAs.toStdString()), before);
    // A read-out on the dead line: one message, no hang.
    ReadOut();
    EXPECT_EQ(Messages().size(), 1) << Shown();
    ExpectIdle();

    Connect();
    ExpectGoodReadOut();

    // Hung up in the setup read before the range is asked for: the error
    // box, no dialog left open.
    Sim([](SimKarvo& s) { s.HangUpInReply = true; });
    ReadOut();
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_TRUE(Messages().front().startsWith("error box: ")) << Shown();
    ExpectIdle();
    Connect();
    ExpectGoodReadOut();
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, InfoAndReadSetupOnABadLine)
{
    auto info = [this] {
        Mark();
        boxes.Click([] { CPMSetup->BitBtnInfoClick(); });
    };
    auto readSetup = [this] {
        Mark();
        boxes.Click([] { CPMSetup->ButtonReadSetupClick(); });
    };
    auto expectInfo = [&] {
        info();
        EXPECT_TRUE(Messages().isEmpty()) << Shown();
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').value(1), "SW-Version\t: KARVO V6.11 SIM");
        readSetup();
        EXPECT_TRUE(Messages().isEmpty()) << Shown();
        EXPECT_EQ(CPMSetup->SelectModeIndex(), 2); // the monitor's 0x32
        ExpectIdle();
    };
    expectInfo();
    CountDescriptors();
    const std::pair<const char*, std::function<void(SimKarvo&, bool)>> cases[] = {
        {"silent", [](SimKarvo& s, bool on) { s.Silent = on; }},
        {"half a reply", [](SimKarvo& s, bool on) { s.HalfReply = on; }},
        {"noise without ETX", [](SimKarvo& s, bool on) { s.Babble = on; }},
    };
    for (const auto& [name, set] : cases) {
        SCOPED_TRACE(name);
        CPMSetup->SetSelectModeIndex(0);
        for (const auto& action : {std::function<void()>(info), std::function<void()>(readSetup)}) {
            Sim([&](SimKarvo& s) { set(s, true); });
            action();
            ASSERT_EQ(Messages().size(), 1) << Shown();
            EXPECT_TRUE(Messages().front().startsWith("error box: ")) << Shown();
            ExpectIdle();
            Sim([&](SimKarvo& s) { set(s, false); });
        }
        EXPECT_EQ(CPMSetup->SelectModeIndex(), 0); // nothing taken from a reply that did not come
        expectInfo();
    }
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, MonitorSilentForTheRestOfTheReadOut)
{
    // An unanswered ENQ ends the read-out with one message: the files read
    // before it get their lines below the old ones, the rest get none (an
    // empty record would read as a file of zeros).
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    const std::string before = ReadWholeFile(saveAs.toStdString());
    ReadOutWithFault([](SimKarvo& s) { s.Silent = true; });
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_TRUE(Messages().front().startsWith("Error: The CPM did not answer for file no. 02")) << Shown();
    ExpectIdle();
    const QStringList lines = CompleteLines(saveAs.toStdString());
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(ReadWholeFile(saveAs.toStdString()).compare(0, before.size(), before), 0);
    EXPECT_TRUE(lines[5].endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;c1"));
    Sim([](SimKarvo& s) { s.Silent = false; });
    ExpectGoodReadOut();
    ExpectNoDescriptorLost();
}

// --- the read-out file ---------------------------------------------------------------

TEST_F(CpmFaults, ReadOutFileLockedReadOnlyOrFull)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    const std::string path = saveAs.toStdString();
    const std::string before = ReadWholeFile(path);
    const QString question = "Error: Can't save data! Is data file " + saveAs + " open with another program ?";
    const QString readOnly =
        "Error: Can't save data! Data file " + saveAs + " is read-only, or its folder may not be written.";

    auto expectGivenUp = [&](const QString& asked) {
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), asked);
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText(), "\nWarning!! EEProm data not stored in the data file.");
        ExpectIdle();
    };
    {
        SCOPED_TRACE("locked");
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        prompt.Press(TPromptResult::Cancel);
        ReadOut();
        expectGivenUp(question);
        EXPECT_EQ(ReadWholeFile(path), before);
    }
    {
        SCOPED_TRACE("read-only");
        ASSERT_TRUE(MakeReadOnly(path)) << "no way to make a file read-only here";
        prompt.Press(TPromptResult::Cancel);
        ReadOut();
        MakeWritable(path);
        expectGivenUp(readOnly);
        EXPECT_EQ(ReadWholeFile(path), before);
    }
    {
        SCOPED_TRACE("full disk");
        const QString full = QString::fromStdString(FullDiskFile(dir, "full.csv"));
        saveAs = full;
        prompt.Press(TPromptResult::Cancel);
        ReadOut();
        expectGivenUp("Error: Can't save data! The disk holding data file " + full + " is full.");
        saveAs = QString::fromStdString(path);
    }
    {
        SCOPED_TRACE("read-only after the first line");
        // The file turns read-only once the first new line is in: that line
        // stays, the second is given up, nothing torn.
        const int lines0 = int(CompleteLines(path).size());
        bool locked = false;
        extra = [&] {
            if (!locked && int(CompleteLines(path).size()) == lines0 + 1) {
                locked = true;
                ASSERT_TRUE(MakeReadOnly(path));
            }
        };
        prompt.Press(TPromptResult::Cancel);
        ReadOut();
        extra = nullptr;
        MakeWritable(path);
        EXPECT_TRUE(locked);
        expectGivenUp(readOnly);
        const QStringList lines = CompleteLines(path);
        ASSERT_EQ(lines.size(), lines0 + 1);
        EXPECT_TRUE(lines.back().endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;c1"));
    }
    {
        SCOPED_TRACE("Retry once the other program let go");
        const int lines0 = int(CompleteLines(path).size());
        auto other = std::make_unique<LockHolder>(path);
        ASSERT_TRUE(other->Holding());
        prompt.onShown = [&](const ScriptedPrompt::Shown&) { other.reset(); };
        prompt.Press(TPromptResult::Retry);
        ReadOut();
        prompt.onShown = nullptr;
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), question);
        EXPECT_EQ(CompleteLines(path).size(), lines0 + 3);
        ExpectIdle();
    }
    // Every fault gone: the next read-out adds its three lines.
    ExpectGoodReadOut();
    ExpectNoDescriptorLost();
}

TEST_F(CpmFaults, ReadOutIntoAFolderThatTakesNoFile)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    TempDir other;
    const std::string folder = other.file("ro");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    saveAs = QString::fromStdString(folder + "/eeprom.csv");
    if (!MakeReadOnly(folder))
        GTEST_SKIP() << "no way to make a folder read-only here";
    prompt.Press(TPromptResult::Cancel);
    ReadOut();
    MakeWritable(folder);
    chmod(folder.c_str(), 0755);
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_EQ(Messages().front(),
              "Error: Can't save data! Data file " + saveAs + " is read-only, or its folder may not be written.");
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    ExpectIdle();
    // The folder writable again: a new file with its header and three lines.
    ExpectGoodReadOut();
    EXPECT_TRUE(CompleteLines(saveAs.toStdString()).front().startsWith("Device: "));
    ExpectNoDescriptorLost();
}

// --- the result file -------------------------------------------------------------------

TEST_F(CpmFaults, ResultFileLockedReadOnlyOrFull)
{
    saveAs = QString::fromStdString(dir.file("results.csv"));
    const std::string path = saveAs.toStdString();
    ExpectGoodRun();
    Save("first");
    ASSERT_TRUE(Messages().isEmpty()) << Shown();
    ASSERT_EQ(CompleteLines(path).size(), 3);
    EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled());
    CountDescriptors();
    const std::string before = ReadWholeFile(path);
    const QString question = "Error: Can't save data! Is data file " + saveAs + " open with another program ?";

    ExpectGoodRun();
    // A save that did not go in leaves the result there to be saved again.
    auto expectNotSaved = [&](const QString& asked) {
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), asked);
        EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
        EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isVisible());
        EXPECT_FALSE(CPMSetup->BitBtnOK->isVisible());
        EXPECT_FALSE(CPMSetup->Edit1->isVisible());
        ExpectIdle();
    };
    {
        SCOPED_TRACE("locked");
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        prompt.Press(TPromptResult::Cancel);
        Save("locked");
        expectNotSaved(question);
        EXPECT_EQ(ReadWholeFile(path), before);
    }
    {
        SCOPED_TRACE("read-only");
        ASSERT_TRUE(MakeReadOnly(path)) << "no way to make a file read-only here";
        prompt.Press(TPromptResult::Cancel);
        Save("read-only");
        MakeWritable(path);
        expectNotSaved("Error: Can't save data! Data file " + saveAs + " is read-only, or its folder may not be written.");
        EXPECT_EQ(ReadWholeFile(path), before);
    }
    {
        SCOPED_TRACE("full disk");
        saveAs = QString::fromStdString(FullDiskFile(dir, "full.csv"));
        prompt.Press(TPromptResult::Cancel);
        Save("full");
        expectNotSaved("Error: Can't save data! The disk holding data file " + saveAs + " is full.");
    }
    {
        SCOPED_TRACE("a folder that takes no new file");
        TempDir other;
        const std::string folder = other.file("ro");
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        if (MakeReadOnly(folder)) {
            saveAs = QString::fromStdString(folder + "/results.csv");
            Save("nowhere");
            MakeWritable(folder);
            chmod(folder.c_str(), 0755);
            expectNotSaved("Error: Can't create file : " + saveAs);
            EXPECT_FALSE(QFileInfo::exists(saveAs));
        }
    }
    {
        SCOPED_TRACE("Retry once the other program let go");
        saveAs = QString::fromStdString(path);
        auto other = std::make_unique<LockHolder>(path);
        ASSERT_TRUE(other->Holding());
        prompt.onShown = [&](const ScriptedPrompt::Shown&) { other.reset(); };
        prompt.Press(TPromptResult::Retry);
        Save("second");
        prompt.onShown = nullptr;
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), question);
        EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled()); // saved: once per run
        const QStringList lines = CompleteLines(path);
        ASSERT_EQ(lines.size(), 4);
        EXPECT_TRUE(lines[3].endsWith(";second")) << lines[3].toStdString();
        EXPECT_EQ(ReadWholeFile(path).compare(0, before.size(), before), 0);
    }
    // Every fault gone: a new run, saved without a word.
    ExpectGoodRun();
    Save("third");
    EXPECT_TRUE(Messages().isEmpty()) << Shown();
    EXPECT_EQ(CompleteLines(path).size(), 5);
    ExpectNoDescriptorLost();
}

// A new file on a disk that fills up in the middle of its header: given up,
// the file goes again, so the next save or read-out starts it with its
// header instead of appending lines under none.
TEST_F(CpmFaults, NewFileWhoseHeaderDoesNotGoIn)
{
    const std::string results = dir.file("new_results.csv");
    const std::string eeprom = dir.file("new_eeprom.csv");
    // The folder is the one remembered already: the save writes no setting,
    // only its file meets the full disk.
    state.CpmDataDirectory = QString::fromStdString(dir.path() + "/");
    const auto refused = [](const QString& file) {
        return "Error: Can't save data! Data file " + file + " has reached the largest size the disk allows.";
    };
    ExpectGoodRun();
    CountDescriptors();
    {
        SCOPED_TRACE("result file");
        saveAs = QString::fromStdString(results);
        prompt.Press(TPromptResult::Cancel);
        {
            DiskFullAfter disk(40);
            Save("first");
        }
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), refused(saveAs));
        EXPECT_FALSE(QFileInfo::exists(saveAs));
        EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
        ExpectIdle();
        Save("again");
        EXPECT_TRUE(Messages().isEmpty()) << Shown();
        const QStringList lines = CompleteLines(results);
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines[0].startsWith("Device: KARVO V6.11 SIM;"));
        EXPECT_TRUE(lines[2].endsWith(";again"));
    }
    {
        SCOPED_TRACE("read-out file");
        Sim([](SimKarvo& s) { s.Stored.resize(3); }); // the runs above stored theirs
        saveAs = QString::fromStdString(eeprom);
        prompt.Press(TPromptResult::Cancel);
        {
            DiskFullAfter disk(40);
            ReadOut();
        }
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), refused(saveAs));
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText(), "\nWarning!! EEProm data not stored in the data file.");
        EXPECT_FALSE(QFileInfo::exists(saveAs));
        ExpectIdle();
        ExpectGoodReadOut(); // a new file again: header and three lines
        EXPECT_TRUE(CompleteLines(eeprom).front().startsWith("Device: KARVO V6.11 SIM;"));
    }
    ExpectNoDescriptorLost();
}

// The frame recording of a run with TestOutput on, into a home folder that
// takes no file: one message, and the run's results are shown and can be
// saved all the same; with the folder writable again the recording is whole.
TEST_F(CpmFaults, TestRecordingThatCannotBeWritten)
{
    TempDir home;
    struct HomeGuard {
        QByteArray old = qgetenv("HOME");
        ~HomeGuard() { qputenv("HOME", old); }
    } restoreHome;
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    state.TestOutput = true;
    ExpectGoodRun();
    CountDescriptors();
    const std::string recording = home.file("TestData.TXT");
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(recording)));
    if (MakeReadOnly(home.path()) && MakeReadOnly(recording)) {
        Sim([](SimKarvo& s) { s.DecayTauMs = 150; });
        Run();
        MakeWritable(recording);
        MakeWritable(home.path());
        chmod(home.path().c_str(), 0755);
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(Messages().front(), "Error: Can't create file : " + QString::fromStdString(recording));
        EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').back(),
                  "Decay time measuring successful finished !");
        EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
        EXPECT_EQ(CPMSetup->LabelOffset->text(), "-3.0 V");
        ExpectIdle();
    } else {
        MakeWritable(home.path());
        ADD_FAILURE() << "no way to make a folder read-only here";
    }
    ExpectGoodRun();
    const QStringList lines = CompleteLines(recording);
    EXPECT_GT(lines.size(), 5);
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].count(';'), 3) << lines[i].toStdString();
    state.TestOutput = false;
    ExpectNoDescriptorLost();
}

// The files chosen the way a user chooses them, in the window's save dialog:
// a name that lands on a full disk, then a locked one, then the good one.
TEST_F(CpmFaults, FilesChosenInTheSaveDialog)
{
    FoCom = new TFoCom();
    CPMSetup->ChooseSaveFile = nullptr;
    // The name typed into the dialog's name field, then Save.
    auto choose = [](const std::string& path) {
        WhenModal<QFileDialog>([path](QFileDialog* d) {
            auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path));
            static_cast<QDialog*>(d)->accept(); // as the Save button does
        });
    };
    const std::string good = dir.file("dialog.csv");
    const std::string full = FullDiskFile(dir, "dialog_full.csv");
    ExpectGoodRun();
    choose(good);
    Save("first");
    ASSERT_TRUE(Messages().isEmpty()) << Shown();
    ASSERT_EQ(CompleteLines(good).size(), 3);
    EXPECT_EQ(state.CpmDataDirectory, QString::fromStdString(dir.path() + "/"));
    CountDescriptors();

    ExpectGoodRun();
    choose(full);
    prompt.Press(TPromptResult::Cancel);
    Save("full");
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_EQ(Messages().front(),
              "Error: Can't save data! The disk holding data file " + QString::fromStdString(full) + " is full.");
    EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    ExpectIdle();
    {
        LockHolder other(good);
        ASSERT_TRUE(other.Holding());
        choose(good);
        prompt.Press(TPromptResult::Cancel);
        Save("locked");
        ASSERT_EQ(Messages().size(), 1) << Shown();
        EXPECT_EQ(CompleteLines(good).size(), 3);
    }
    choose(good);
    Save("second");
    EXPECT_TRUE(Messages().isEmpty()) << Shown();
    const QStringList lines = CompleteLines(good);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[3].endsWith(";second"));
    EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled());

    // The read-out through the same dialog, onto the full disk.
    Sim([](SimKarvo& s) { s.Stored.resize(3); });
    choose(full);
    prompt.Press(TPromptResult::Cancel);
    ReadOut();
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText(), "\nWarning!! EEProm data not stored in the data file.");
    ExpectIdle();
    saveAs = QString::fromStdString(dir.file("dialog_eeprom.csv"));
    choose(saveAs.toStdString());
    ExpectGoodReadOut();
    ExpectNoDescriptorLost();
    delete FoCom;
    FoCom = nullptr;
}

// The line goes while the user types the comments; the new read-out file is
// chosen after that and its header wants the monitor's identification: one
// error box, and no empty file left behind to collect lines under no header
// next time.
TEST_F(CpmFaults, LineLostWhileTheCommentsAreTyped)
{
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    ExpectGoodReadOut();
    CountDescriptors();
    saveAs = QString::fromStdString(dir.file("new_eeprom.csv"));
    bool hungUp = false;
    inject = [&] {
        if (!hungUp && FormReadCPMFiles->GroupBoxInputComment->isVisible()) {
            hungUp = true;
            peer->HangUpNow();
        }
    };
    ReadOut();
    inject = nullptr;
    EXPECT_TRUE(hungUp);
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_TRUE(Messages().front().startsWith("error box: ")) << Shown();
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    ExpectIdle();

    Connect();
    ExpectGoodReadOut();
    EXPECT_TRUE(CompleteLines(saveAs.toStdString()).front().startsWith("Device: KARVO V6.11 SIM;"));

    // The same with a monitor that falls silent instead: its time-out.
    saveAs = QString::fromStdString(dir.file("newer_eeprom.csv"));
    bool silenced = false;
    inject = [&] {
        if (!silenced && FormReadCPMFiles->GroupBoxInputComment->isVisible()) {
            silenced = true;
            Sim([](SimKarvo& s) { s.Silent = true; });
        }
    };
    ReadOut();
    inject = nullptr;
    EXPECT_TRUE(silenced);
    ASSERT_EQ(Messages().size(), 1) << Shown();
    EXPECT_EQ(Messages().front(), "error box: Timeout");
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    ExpectIdle();
    Sim([](SimKarvo& s) { s.Silent = false; });
    ExpectGoodReadOut();
    EXPECT_TRUE(CompleteLines(saveAs.toStdString()).front().startsWith("Device: KARVO V6.11 SIM;"));
    ExpectNoDescriptorLost();
}
