// The tera-ohmmeter's measurement window as the user runs it, while the line
// goes wrong: the meter hangs up, goes silent, answers noise or half a frame
// in a single measurement and in the middle of a timer countdown; the
// measurement file is locked by another program, read-only or on a full
// disk. Each case: one message, a window whose way back works (Break, or
// Exit and the menu entry after a hang-up), the next measurement and save
// work, no torn or missing line, no descriptor lost.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraFComment.h"
#include "ohmra/TOhmraRadioGroup.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimOhmra.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QMimeDatabase>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <thread>

namespace {

using Fault = SimOhmra::Fault;

// Real time with the window's fixed pauses cut to a millisecond (resets
// wait seconds), and a hook in every message-processing step.
class FastHost final : public IHost {
public:
    FastHost() : old_(SetHost(this)) {}
    ~FastHost() override { SetHost(old_); }
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        RealHost().Sleep(ms > 0 ? 1 : 0);
    }
    void ProcessMessages() override
    {
        runaway.Count("ProcessMessages");
        QCoreApplication::processEvents();
        if (onProcess) {
            auto step = onProcess;
            step();
        }
    }
    std::function<void()> onProcess;
    RunawayGuard runaway{50'000'000, 120};

private:
    IHost* old_;
};

// A disk that fills up after `bytes` bytes of any file this process writes:
// writes past it fail (EFBIG) instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit r = old_;
        r.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &r), 0);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

// The descriptors open when no folder listing of a file dialog is under
// way: the least seen over half a second (such a listing only adds one).
int QuietDescriptors()
{
    int n = OpenDescriptors();
    for (int i = 0; i < 25; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        n = std::min(n, OpenDescriptors());
    }
    return n;
}

const char* NameOf(Fault f)
{
    switch (f) {
    case Fault::Silence: return "silence";
    case Fault::HalfFrame: return "half frame";
    case Fault::Garbage: return "garbage";
    case Fault::HangUp: return "hang-up";
    default: return "other";
    }
}

class OhmraWindowFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [] {};
        MainLink().CloseDisplay = [] {};
        comment = new TFormOhmraFComment();
        FormOhmraFComment = comment;
        form = new TFormOhmra(nullptr, &port);
        FormOhmra = form;
        comment->RunSaveDialog = [this](QFileDialog&) { return chosen; };
        OpenWindow();
        // The first Start configures the meter; later ones only measure.
        ExpectGoodStart(40);
        fds = OpenDescriptors();
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        port.Close();
        if (peer)
            peer->Stop();
        delete form;
        delete comment;
        FormOhmra = nullptr;
        FormOhmraFComment = nullptr;
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
    }
    // The meter on a fresh line (the cable back in), and the window opened
    // the way the device menu's entry does: port closed, opened, the long
    // read time-out (shortened here), the window shown, then Init.
    void OpenWindow()
    {
        port.Close();
        if (peer)
            peer->Stop();
        peer = std::make_unique<PtyPeer>();
        sim = std::make_unique<SimOhmra>();
        sim->MsPerTimerSecond = 25;
        peer->Host(*sim, 2).Start();
        port.DeviceName(peer->SlavePath());
        port.Open();
        port.Timeouts->ReadConstant(1000);
        port.Timeouts->WriteConstant(500);
        form->show();
        Mark();
        Press(form->BitBtn_init);
        ASSERT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        ASSERT_TRUE(form->BitBtn_start->isEnabled());
    }
    // A click as the user makes it: on a button that is there to be clicked.
    void Press(QPushButton* b)
    {
        EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString() << " is off";
        boxes.Click([b] { b->click(); });
    }
    void Sim(const std::function<void(SimOhmra&)>& f)
    {
        peer->WithInstrument([&] { f(*sim); });
    }
    int CommandsLike(const std::string& prefix)
    {
        int n = 0;
        Sim([&](SimOhmra& s) {
            for (const std::string& c : s.CommandTexts())
                n += c.rfind(prefix, 0) == 0;
        });
        return n;
    }
    void Mark()
    {
        prompts0 = prompt.shown().size();
        boxes0 = boxes.shown.size();
    }
    QStringList Messages() const { return MessagesSince(prompt, prompts0, boxes, boxes0); }
    void Start()
    {
        Mark();
        Press(form->BitBtn_start);
    }
    // A Start whose reading is new: the humidity the meter reports now.
    void ExpectGoodStart(int humidity)
    {
        Sim([humidity](SimOhmra& s) {
            s.Live.humidity = humidity;
            s.Timed = SimOhmra::Measurement{-1};
        });
        Start();
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_EQ(form->Label_Ohmra_Hu->text(), QString::number(humidity) + " %r.F.");
        EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7 GOhm");
        EXPECT_TRUE(form->BitBtn_save->isEnabled());
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
    }
    // After a time-out in a Start: Break and Exit are the way out; Break
    // reaches the meter once it answers, and the buttons are back.
    // A measurement cut short is never offered for saving.
    void ExpectBreakWorks()
    {
        EXPECT_TRUE(form->BitBtn_stop->isEnabled());
        EXPECT_TRUE(form->BitBtn_exit->isEnabled());
        EXPECT_FALSE(form->BitBtn_save->isEnabled());
        Mark();
        Press(form->BitBtn_stop);
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
        EXPECT_TRUE(form->BitBtn_init->isEnabled());
        EXPECT_FALSE(form->BitBtn_save->isEnabled());
    }
    void TimerOn()
    {
        form->RadioGroup_Ohmra_TI->Item(1)->click();
        form->RadioGroup_Ohmra_TiMo->SetItemIndex(1);
        form->ComboBox_Ohmra_Time->setCurrentIndex(form->ComboBox_Ohmra_Time->findText("30 sec"));
    }
    // Save with a comment typed into the entry and OK; the messages shown.
    QStringList Save(const std::string& path, const QString& text)
    {
        chosen = QString::fromStdString(path);
        QTimer::singleShot(0, form, [this, text] {
            form->Edit_Comment->setText(text);
            form->BitBtnOK->click();
        });
        Mark();
        Press(form->BitBtn_save);
        EXPECT_FALSE(form->GroupBox_Input_Comment->isVisible());
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
        EXPECT_FALSE(form->BitBtn_save->isEnabled());
        return Messages();
    }

    TempDir dir;
    FastHost host;
    ScriptedPrompt prompt;
    ErrorBoxes boxes;
    TMainState state;
    TComPort port;
    std::unique_ptr<SimOhmra> sim;
    std::unique_ptr<PtyPeer> peer;
    TFormOhmraFComment* comment = nullptr;
    TFormOhmra* form = nullptr;
    QString chosen;
    int fds = 0;
    size_t prompts0 = 0, boxes0 = 0;
};

} // namespace

TEST_F(OhmraWindowFaults, SingleMeasurementThroughEachLineFault)
{
    int humidity = 50;
    for (Fault f : {Fault::Silence, Fault::HalfFrame, Fault::Garbage, Fault::HangUp}) {
        SCOPED_TRACE(NameOf(f));
        // The fault meets the measurement's first exchange.
        Sim([f](SimOhmra& s) { s.Faults = {f}; });
        Start();
        const QStringList shown = Messages();
        switch (f) {
        case Fault::Silence:
        case Fault::HalfFrame:
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            EXPECT_EQ(shown.front(), "error box: Timeout");
            ExpectBreakWorks();
            break;
        case Fault::Garbage:
            // Noise is no acknowledgement: no box, but the window says the
            // measurement failed instead of showing the last one's value
            // as new, and offers nothing for saving.
            EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
            EXPECT_EQ(form->Label_Ohmra_Me->text(), "Measurement failed!");
            EXPECT_FALSE(form->BitBtn_save->isEnabled());
            EXPECT_TRUE(form->BitBtn_start->isEnabled());
            break;
        default:
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            // Break with the cable still out: one message for the click.
            Mark();
            Press(form->BitBtn_stop);
            EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
            EXPECT_TRUE(form->BitBtn_exit->isEnabled());
            form->BitBtn_exit->click();
            OpenWindow();
            break;
        }
        ExpectGoodStart(++humidity);
        EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
    }

    // Silent on the second reading, after the value came: one time-out, and
    // the half-taken measurement cannot be saved.
    Sim([](SimOhmra& s) { s.Faults = {Fault::None, Fault::Silence}; });
    Start();
    ASSERT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    ExpectBreakWorks();
    ExpectGoodStart(++humidity);
    EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
}

TEST_F(OhmraWindowFaults, TimerCountdownThroughEachLineFault)
{
    TimerOn();
    int humidity = 60;
    for (Fault f : {Fault::Silence, Fault::HalfFrame, Fault::Garbage, Fault::HangUp}) {
        SCOPED_TRACE(NameOf(f));
        // Two countdown passes go well, then the fault meets the next one.
        const int passes0 = CommandsLike("C01");
        bool injected = false;
        host.onProcess = [&] {
            if (!injected && CommandsLike("C01") >= passes0 + 2) {
                injected = true;
                Sim([f](SimOhmra& s) { s.Faults = {f}; });
            }
        };
        Start();
        host.onProcess = nullptr;
        EXPECT_TRUE(injected);
        const QStringList shown = Messages();
        switch (f) {
        case Fault::Silence:
        case Fault::HalfFrame:
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            EXPECT_EQ(shown.front(), "error box: Timeout");
            ExpectBreakWorks();
            break;
        case Fault::Garbage:
            // One pass without an answer; the countdown reads on.
            EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
            EXPECT_TRUE(form->BitBtn_save->isEnabled());
            break;
        default:
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            form->BitBtn_exit->click();
            OpenWindow();
            break;
        }
        // The next timed measurement counts down and reads its result.
        Sim([&](SimOhmra& s) {
            s.Timed = {4700, 6, 2, 23, ++humidity, 0x01, 0};
            s.Live.humidity = 1;
        });
        Start();
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_EQ(form->Label_Ohmra_Hu->text(), QString::number(humidity) + " %r.F.");
        EXPECT_TRUE(form->BitBtn_save->isEnabled());
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
        EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
    }
}

TEST_F(OhmraWindowFaults, SaveIntoALockedReadOnlyOrFullFileLosesNoLine)
{
    const std::string path = dir.file("bench.csv");
    const QStringList saved = {"File saved: File saved successfully."};
    EXPECT_EQ(Save(path, "first"), saved);
    ASSERT_EQ(CompleteLines(path).size(), 2);
    // What Qt opens on first use for the dialog's folders (its MIME cache)
    // stays open for good; no leak of the window's.
    QMimeDatabase().mimeTypeForFile(QStringLiteral("/dev/full"));
    fds = QuietDescriptors();
    int lines = 2, humidity = 70;

    auto expectNextSaveWorks = [&](const QString& text) {
        ExpectGoodStart(++humidity);
        EXPECT_EQ(Save(path, text), saved);
        const QStringList now = CompleteLines(path);
        ASSERT_EQ(now.size(), ++lines);
        EXPECT_TRUE(now.back().endsWith(QString::number(humidity) + ";0;A;" + text)) << now.back().toStdString();
    };
    auto expectOneMessage = [&](const QStringList& shown) {
        ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
        EXPECT_FALSE(shown.front().startsWith("File saved"));
        EXPECT_EQ(CompleteLines(path).size(), lines);
    };

    {
        SCOPED_TRACE("locked");
        ExpectGoodStart(++humidity);
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        expectOneMessage(Save(path, "while locked"));
    }
    expectNextSaveWorks("after the lock");

    {
        SCOPED_TRACE("read-only");
        ExpectGoodStart(++humidity);
        ASSERT_TRUE(MakeReadOnly(path));
        const QStringList shown = Save(path, "while read-only");
        MakeWritable(path);
        expectOneMessage(shown);
    }
    expectNextSaveWorks("writable again");

    {
        SCOPED_TRACE("full disk");
        ExpectGoodStart(++humidity);
        expectOneMessage(Save("/dev/full", "on a full disk"));
    }
    expectNextSaveWorks("room again");
    EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
}

TEST_F(OhmraWindowFaults, InitAndResetThroughLineFaults)
{
    int humidity = 80;
    for (Fault f : {Fault::Silence, Fault::HalfFrame, Fault::Garbage, Fault::HangUp}) {
        SCOPED_TRACE(NameOf(f));
        Sim([f](SimOhmra& s) { s.Faults = {f}; });
        Mark();
        Press(form->BitBtn_init);
        const QStringList shown = Messages();
        if (f == Fault::Garbage) {
            // The configuration reading goes unanswered; reset and info go through.
            EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
            EXPECT_TRUE(form->BitBtn_start->isEnabled());
        } else {
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            if (f != Fault::HangUp) {
                EXPECT_EQ(shown.front(), "error box: Timeout");
            }
            // Only Exit is left, and it leads back: the menu entry opens again.
            EXPECT_FALSE(form->BitBtn_start->isEnabled());
            EXPECT_TRUE(form->BitBtn_exit->isEnabled());
            form->BitBtn_exit->click();
            EXPECT_TRUE(form->BitBtn_init->isEnabled());
            OpenWindow();
        }
        ExpectGoodStart(++humidity);
        EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
    }

    // The meter falls silent on Reset: one time-out, Exit, and back.
    Sim([](SimOhmra& s) { s.Faults = {Fault::Silence}; });
    Mark();
    Press(form->BitBtn_reset);
    ASSERT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    EXPECT_EQ(Messages().front(), "error box: Timeout");
    EXPECT_TRUE(form->BitBtn_exit->isEnabled());
    form->BitBtn_exit->click();
    OpenWindow();
    ExpectGoodStart(++humidity);
    EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
}

TEST_F(OhmraWindowFaults, StoredFileReadingThroughLineFaults)
{
    auto stored = [](SimOhmra& s) {
        for (int n = 1; n <= 4; ++n) {
            s.Files[size_t(n)].slot = SimOhmra::Slot::Stored;
            s.Files[size_t(n)].m = {1000 + n, 3, 1, 20 + n, 40 + n, 0x00, 0};
        }
    };
    // Reads files 1 to 4 as the user asks for them: the range typed, OK.
    auto read = [this] {
        QTimer::singleShot(0, form, [this] {
            form->MaskEdit_start_fn->setText("1");
            form->MaskEdit_end_fn->setText("4");
            QTimer::singleShot(5, form, [this] { form->BitBtn_OK_FileNo->click(); });
        });
        Mark();
        Press(form->BitBtn_readFile);
    };
    auto handedOver = [this](bool third) {
        EXPECT_TRUE(comment->isVisible());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(comment->FirstIndex, 1);
        EXPECT_EQ(comment->LastIndex, 4);
        for (int n = 1; n <= 4; ++n) {
            const bool filled = n != 3 || third;
            EXPECT_EQ(comment->OhmraFiles[size_t(n)].Humidity, filled ? 40 + n : 0) << "file " << n;
        }
        EXPECT_TRUE(comment->BitBtnExit->isEnabled());
        comment->BitBtnExit->click(); // read, not changed: no question
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
    };
    Sim(stored);
    for (Fault f : {Fault::Silence, Fault::HalfFrame, Fault::Garbage, Fault::HangUp}) {
        SCOPED_TRACE(NameOf(f));
        // Files 1 and 2 come, file 3 meets the fault.
        Sim([f](SimOhmra& s) { s.Faults = {Fault::None, Fault::None, f}; });
        read();
        const QStringList shown = Messages();
        if (f == Fault::Garbage) {
            // An unreadable file is skipped; the others are read.
            EXPECT_TRUE(shown.isEmpty()) << shown.join(" | ").toStdString();
            handedOver(false);
        } else {
            // The reading ends where it stood; Exit leads back.
            ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
            if (f != Fault::HangUp) {
                EXPECT_EQ(shown.front(), "error box: Timeout");
            }
            EXPECT_TRUE(form->BitBtn_exit->isEnabled());
            form->BitBtn_exit->click();
            EXPECT_FALSE(form->GroupBoxFiles->isVisible());
            OpenWindow();
            Sim(stored);
        }
        read();
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        handedOver(true);
        EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
    }
}

TEST_F(OhmraWindowFaults, DiskFullInTheMiddleOfANewFilesHeaderIsToldAndTheFileStartsAfresh)
{
    // The first save puts the folder into the settings; the saves below go
    // into the same folder and write nothing else.
    ASSERT_EQ(Save(dir.file("first.csv"), "first").size(), 1);
    const std::string path = dir.file("new.csv");
    ExpectGoodStart(90);
    QStringList shown;
    {
        // Room for the first piece of the header line and no more.
        FileSizeLimit room(60);
        shown = Save(path, "no room");
    }
    ASSERT_EQ(shown.size(), 1) << "a save that failed must say so";
    EXPECT_FALSE(shown.front().startsWith("File saved")) << shown.front().toStdString();
    // Nothing of it stays behind; the next save writes header and line.
    EXPECT_TRUE(CompleteLines(path).isEmpty());
    ExpectGoodStart(91);
    EXPECT_EQ(Save(path, "room again"), QStringList{"File saved: File saved successfully."});
    const QStringList lines = CompleteLines(path);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Time;Date;Serial number;Sw Version;date of production;File number;"));
    EXPECT_TRUE(lines[1].endsWith(";91;0;A;room again")) << lines[1].toStdString();
}
