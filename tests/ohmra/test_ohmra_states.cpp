// The tera-ohmmeter windows played by a random user against the simulated
// meter on a pseudo-terminal: any control that is enabled, clicks that
// reach a handler late (through nested message processing, after the
// control was disabled), typing, prompts answered either way, Exit and the
// menu entry again, while the meter goes silent, hangs up, babbles or stops
// half-way through a frame at random moments. After every step:
//   - no exchange on the line began while another was under way;
//   - every control is enabled exactly as the window's state table says;
//   - Start is usable exactly when no handler runs (in an initialised window);
//   - a save writes exactly the last result the window showed as complete;
//   - the window can be left and opened again into its first state;
//   - no descriptor is lost.
// ULMARO_STATES_ACTIONS sets the number of steps per window (300),
// ULMARO_STATES_SEED the seed; a failure names the seed to replay it.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "ohmra/C_Ohmra.h"
#include "ohmra/OhmraStates.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "ohmra/TFormOhmraFComment.h"
#include "ohmra/TOhmraRadioGroup.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimOhmra.h"
#include "tests/support/Descriptors.h"
#include "tests/support/DriverHost.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

namespace {

using Fault = SimOhmra::Fault;

long EnvNumber(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            break;
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> out;
    std::stringstream s(line);
    std::string f;
    while (std::getline(s, f, ';'))
        out.push_back(f);
    if (!line.empty() && line.back() == ';')
        out.emplace_back();
    return out;
}

// Answers every box either way, at random, and counts them.
class RandomPrompt final : public IPrompt {
public:
    explicit RandomPrompt(std::mt19937& rng) : rng_(rng), old_(SetPrompt(this)) {}
    ~RandomPrompt() override { SetPrompt(old_); }
    TPromptResult Ask(const QString& text, const QString&, TPromptButtons buttons, TPromptIcon) override
    {
        last = text;
        ++shown;
        switch (buttons) {
        case TPromptButtons::Ok:
            return TPromptResult::Ok;
        case TPromptButtons::OkCancel:
            return rng_() % 2 ? TPromptResult::Ok : TPromptResult::Cancel;
        case TPromptButtons::RetryCancel:
            return rng_() % 2 ? TPromptResult::Retry : TPromptResult::Cancel;
        }
        return TPromptResult::Cancel;
    }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
    QString last;
    int shown = 0;

private:
    std::mt19937& rng_;
    IPrompt* old_;
};

// What the user sees of the enabled controls: letters for the table below.
using Row = std::map<std::string, bool>;

// The states and what each allows, as the windows are meant to behave.
const std::map<TOhmraState, std::string> kMeasurementTable = {
    {TOhmraState::NotInitialised, "Init Exit"},
    {TOhmraState::Initialising, "Exit"},
    {TOhmraState::InitFailed, "Exit"},
    {TOhmraState::Ready, "Init Start Break ReadFile Reset Exit"},
    {TOhmraState::ReadyToSave, "Init Start Break Save ReadFile Reset Exit"},
    {TOhmraState::Measuring, "Break Exit"},
    {TOhmraState::TimedMeasuring, "Break Exit"},
    {TOhmraState::Aborting, "Exit"},
    {TOhmraState::Resetting, "Exit"},
    {TOhmraState::CommentEntry, "Exit Comment"},
    {TOhmraState::Saving, "Exit"},
    {TOhmraState::RangeEntry, "Exit Range"},
    {TOhmraState::ReadingFiles, "Exit"},
    {TOhmraState::Browsing, ""},
};

bool Listed(const std::string& list, const std::string& name)
{
    std::stringstream s(list);
    std::string w;
    while (s >> w)
        if (w == name)
            return true;
    return false;
}

// A fresh simulated meter on a fresh line, and the port opened on it the
// way the device menu's entry does (closed first, opened again).
struct Line {
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<SimOhmra> sim;
    void Open(TComPort& port)
    {
        port.Close();
        if (!peer || peer->HungUp()) {
            if (peer)
                peer->Stop();
            peer.reset();
            sim = std::make_unique<SimOhmra>();
            sim->MsPerTimerSecond = 15;
            peer = std::make_unique<PtyPeer>();
            peer->Host(*sim, 2).Start();
        }
        port.DeviceName(peer->SlavePath());
        port.Open();
        port.Timeouts->ReadConstant(250);
        port.Timeouts->WriteConstant(250);
    }
    void Sim(const std::function<void(SimOhmra&)>& f)
    {
        peer->WithInstrument([&] { f(*sim); });
    }
    void Close()
    {
        if (peer)
            peer->Stop();
        peer.reset();
        sim.reset();
    }
};

class OhmraStates : public ::testing::Test {
protected:
    void SetUp() override
    {
        seed = unsigned(EnvNumber("ULMARO_STATES_SEED", 20261210));
        actions = EnvNumber("ULMARO_STATES_ACTIONS", 300);
        rng.seed(seed);
        oldHost = SetHost(&host);
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [] {};
        MainLink().CloseDisplay = [] {};
        MainLink().DisplayClosed = [] {};
        MainLink().RaiseMain = [] {};
        host.onProcess = [this] { Nested(); };
        overlapping0 = C_Ohmra::OverlappingExchanges();
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        port.Close();
        line.Close();
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        MainLink().DisplayClosed = nullptr;
        MainLink().RaiseMain = nullptr;
        SetSettingsDirectoryOverride("");
        SetHost(oldHost);
        std::cout << "seed " << seed << ": " << steps << " steps, " << nestedSteps << " nested, " << staleClicks
                  << " late clicks, " << faults << " faults, " << errors << " error boxes, " << saves
                  << " saves checked, " << reopenings << " reopenings\n";
    }

    // One step a user takes, the framework's error box catching what the
    // handler lets out.
    void Guarded(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const RunawayLoop&) {
            throw;
        } catch (const std::exception&) {
            ++errors;
        }
    }
    bool Chance(int percent) { return int(rng() % 100) < percent; }
    template <class T>
    T Pick(const std::vector<T>& v) { return v[rng() % v.size()]; }

    // The meter misbehaves from its next command on, now and then.
    void MaybeFault(int percent)
    {
        if (!line.peer || line.peer->HungUp() || !Chance(percent))
            return;
        const Fault f = Pick(std::vector<Fault>{Fault::Silence, Fault::Garbage, Fault::HalfFrame, Fault::HangUp,
                                                 Fault::WrongChecksum, Fault::ShortLength});
        ++faults;
        line.Sim([f](SimOhmra& s) { s.Faults = {f}; });
    }

    void CheckLine(const char* where)
    {
        EXPECT_EQ(C_Ohmra::OverlappingExchanges(), overlapping0) << where << "; replay with ULMARO_STATES_SEED=" << seed;
        EXPECT_EQ(C_Ohmra::ExchangesInProgress(), 0) << where;
    }
    int SettledDescriptors(int expected)
    {
        int n = OpenDescriptors();
        for (int i = 0; i < 200 && n != expected; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            n = OpenDescriptors();
        }
        return n;
    }

    // What the meter has received, once nothing more is on its way.
    size_t ReceivedSettled()
    {
        size_t n = line.peer->Received().size();
        for (int quiet = 0; quiet < 3;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            const size_t m = line.peer->Received().size();
            quiet = m == n ? quiet + 1 : 0;
            n = m;
        }
        return n;
    }

    // Called from every message processing inside a handler.
    virtual void Nested() = 0;

    unsigned seed = 0;
    long actions = 0;
    std::mt19937 rng;
    TempDir dir;
    DriverHost host{1, 1800};
    IHost* oldHost = nullptr;
    RandomPrompt prompt{rng};
    TMainState state;
    TComPort port;
    Line line;
    long overlapping0 = 0;
    bool inStep = false;
    bool inNested = false;
    long steps = 0, nestedSteps = 0, staleClicks = 0, faults = 0, errors = 0, saves = 0, reopenings = 0;
};

// --- the measurement window and its comment window ------------------------------

class OhmraMeasurementStates : public OhmraStates {
protected:
    void SetUp() override
    {
        OhmraStates::SetUp();
        comment = std::make_unique<TFormOhmraFComment>();
        FormOhmraFComment = comment.get();
        form = std::make_unique<TFormOhmra>(nullptr, &port);
        FormOhmra = form.get();
        comment->RunSaveDialog = [this](QFileDialog&) { return ChooseFile(); };
        // The save dialog is made once; what it keeps open stays open.
        comment->SaveToCsv(true, 0);
        Reopen();
        fds = SettledDescriptors(-1);
        fdList = DescriptorList();
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        form.reset();
        comment.reset();
        FormOhmra = nullptr;
        FormOhmraFComment = nullptr;
        OhmraStates::TearDown();
    }
    QString ChooseFile()
    {
        if (Chance(15))
            return QString();   // the dialog cancelled
        chosen = Chance(50) ? dir.file("single.csv") : dir.file("other.csv");
        return QString::fromStdString(chosen);
    }

    // The device menu's entry: the port opened again, the window shown,
    // and Save, Start and Break switched off as the main window does.
    void Reopen()
    {
        line.Open(port);
        form->show();
        form->BitBtn_save->setEnabled(false);
        form->BitBtn_start->setEnabled(false);
        form->BitBtn_stop->setEnabled(false);
        ++reopenings;
        EXPECT_EQ(form->State(), TOhmraState::NotInitialised) << "seed " << seed;
        saveable = false;
    }

    struct Control {
        std::string name;
        QWidget* widget;
        std::function<void()> handler;
    };
    std::vector<Control> Controls()
    {
        TFormOhmra* f = form.get();
        return {
            {"Init", f->BitBtn_init, [f] { f->BitBtn_initClick(); }},
            {"Start", f->BitBtn_start, [f] { f->BitBtn_startClick(); }},
            {"Break", f->BitBtn_stop, [f] { f->BitBtn_stopClick(); }},
            {"Save", f->BitBtn_save, [f] { f->BitBtn_saveClick(); }},
            {"ReadFile", f->BitBtn_readFile, [f] { f->BitBtn_readFileClick(); }},
            {"Reset", f->BitBtn_reset, [f] { f->BitBtn_resetClick(); }},
            {"Exit", f->BitBtn_exit, [f] { f->BitBtn_exitClick(); }},
            {"Comment", f->BitBtnOK, [f] { f->BitBtnOKClick(); }},
            {"Comment", f->BitBtnCancel, [f] { f->BitBtnCancelClick(); }},
            {"Range", f->BitBtn_OK_FileNo, [f] { f->BitBtn_OK_FileNoClick(); }},
        };
    }

    void CheckControls(const char* where)
    {
        const TOhmraState s = form->State();
        const std::string& allowed = kMeasurementTable.at(s);
        for (const Control& c : Controls()) {
            if (c.widget == form->BitBtn_OK_FileNo) {
                // The range's OK also follows the numbers typed, at once.
                bool ok1 = false, ok2 = false;
                const int a = form->MaskEdit_start_fn->text().trimmed().toInt(&ok1);
                const int b = form->MaskEdit_end_fn->text().trimmed().toInt(&ok2);
                if (!Listed(allowed, "Range")) {
                    EXPECT_FALSE(c.widget->isEnabled()) << where << " in " << OhmraStateName(s) << ", seed " << seed;
                } else if (ok1 && ok2) {
                    EXPECT_EQ(c.widget->isEnabled(), a >= 1 && b >= a)
                        << a << " to " << b << " " << where << ", seed " << seed;
                }
                continue;
            }
            EXPECT_EQ(c.widget->isEnabled(), Listed(allowed, c.name))
                << c.name << " " << where << " in " << OhmraStateName(s) << ", seed " << seed;
        }
        EXPECT_EQ(form->GroupBox_Input_Comment->isVisibleTo(form.get()), s == TOhmraState::CommentEntry)
            << where << ", seed " << seed;
        const bool busy = inStep;
        if (form->isVisible() && s != TOhmraState::NotInitialised && s != TOhmraState::InitFailed) {
            EXPECT_EQ(form->BitBtn_start->isEnabled(), !busy)
                << "Start " << where << " in " << OhmraStateName(s) << ", seed " << seed;
        }
        if (comment->isVisible()) {
            const bool browsing = comment->State() == TOhmraCommentState::Browsing;
            for (QWidget* w : {static_cast<QWidget*>(comment->BitBtnStart), static_cast<QWidget*>(comment->BitBtnNext),
                               static_cast<QWidget*>(comment->BitBtnSave), static_cast<QWidget*>(comment->BitBtnExit),
                               static_cast<QWidget*>(comment->EditComments)})
                EXPECT_EQ(w->isEnabled(), browsing) << w->objectName().toStdString() << ", seed " << seed;
            EXPECT_EQ(s, TOhmraState::Browsing) << "seed " << seed;
        }
        CheckLine(where);
    }

    // A late click: the handler of a control, whether or not it is enabled
    // (a click queued before the control was switched off). A disabled
    // control's handler must do nothing at all.
    void StaleClick()
    {
        const std::vector<Control> cs = Controls();
        const Control c = cs[rng() % cs.size()];
        const bool enabled = c.widget->isEnabled();
        const TOhmraState before = form->State();
        const size_t sent = ReceivedSettled();
        ++staleClicks;
        Guarded(c.handler);
        if (!enabled) {
            EXPECT_EQ(form->State(), before) << c.name << " ran while off, seed " << seed;
            EXPECT_EQ(ReceivedSettled(), sent) << c.name << " talked while off, seed " << seed;
        }
    }

    // Clicks one of the enabled controls of the window the user sees, or types.
    void UserStep(bool nested)
    {
        if (comment->isVisible()) {
            CommentStep();
            return;
        }
        if (!form->isVisible())
            return;
        if (Chance(10)) {
            StaleClick();
            return;
        }
        const TOhmraState s = form->State();
        if (s == TOhmraState::CommentEntry && Chance(60)) {
            form->Edit_Comment->setText(QStringLiteral("note %1").arg(rng() % 1000));
            const int how = int(rng() % 3);
            if (how == 0)
                form->BitBtnOK->click();
            else if (how == 1)
                form->Edit1KeyPress();
            else
                form->BitBtnCancel->click();
            return;
        }
        if (s == TOhmraState::RangeEntry && Chance(70)) {
            const int first = 1 + int(rng() % 8);
            form->MaskEdit_start_fn->setText(QString::number(first));
            form->MaskEdit_end_fn->setText(QString::number(first + int(rng() % 5) - 1));
            CheckControls("after the range was typed");
            form->BitBtn_OK_FileNo->click();
            return;
        }
        if (!nested && Chance(15)) {
            // The settings: voltage, display form, timer and its time.
            const int which = int(rng() % 4);
            if (which == 0)
                form->RadioGroup_Ohmra_VM->Item(int(rng() % 3))->click();
            else if (which == 1)
                form->RadioGroup_Ohmra_DM->Item(int(rng() % 2))->click();
            else if (which == 2)
                form->RadioGroup_Ohmra_TI->Item(int(rng() % 2))->click();
            else
                form->ComboBox_Ohmra_Time->setCurrentIndex(int(rng() % 4));
            return;
        }
        std::vector<Control> enabled;
        for (const Control& c : Controls())
            if (c.widget->isEnabled() && c.widget->isVisibleTo(form.get()))
                enabled.push_back(c);
        if (enabled.empty())
            return;
        // Leaving is a rarer choice than the others; saving what is offered
        // a more frequent one.
        if (enabled.size() > 1 && !Chance(20))
            std::erase_if(enabled, [](const Control& x) { return x.name == "Exit"; });
        for (const Control& x : enabled)
            if (x.name == "Save" && Chance(30))
                enabled = {x};
        Control c = enabled[rng() % enabled.size()];
        if (c.name == "Start")
            NextMeasurement();
        if (c.name == "Save")
            Guarded([&] { CheckedSave(); });
        else
            Guarded([&] { static_cast<QAbstractButton*>(c.widget)->click(); });
    }

    // Every measurement reads differently, so a save shows which one it took.
    void NextMeasurement()
    {
        const int h = 10 + int(++measurementNo % 80);
        const int m = 1000 + int(rng() % 9000);
        line.Sim([h, m](SimOhmra& s) {
            s.Live.humidity = h;
            s.Live.mantissa = m;
            s.Timed = {m, 5, 1, 22, h, 0x01, 0};
        });
    }

    // Save: the comment entry answered from inside its wait, then the file
    // compared with what the window showed.
    void CheckedSave()
    {
        EXPECT_TRUE(saveable) << "Save offered with nothing shown as complete, seed " << seed;
        const Shown expected = lastShown;
        const std::string file = chosen;
        std::map<std::string, size_t> before;
        for (const char* name : {"single.csv", "other.csv"})
            before[name] = Lines(ReadWhole(dir.file(name))).size();
        pendingComment = QStringLiteral("c%1").arg(rng() % 100000);
        form->BitBtn_save->click();
        (void)file;
        for (const char* name : {"single.csv", "other.csv"}) {
            const std::vector<std::string> now = Lines(ReadWhole(dir.file(name)));
            if (now.size() == before[name])
                continue;
            ++saves;
            const std::vector<std::string> f = Split(now.back());
            ASSERT_GE(f.size(), 13u) << now.back();
            // time;date;'serial;'version;production;0;resistance;unit;temp;hum;timer;A/L;comment
            EXPECT_EQ(f[5], "0");
            EXPECT_EQ(f[6] + (f[7].empty() ? "" : " " + f[7]), expected.value) << "seed " << seed;
            EXPECT_EQ(f[9], expected.humidity) << "seed " << seed;
            EXPECT_EQ(QString::fromStdString(f[12]), savedComment) << "seed " << seed;
        }
        saveable = false;
    }

    struct Shown {
        std::string value, humidity;
    };

    // After a step: what the window shows as complete now. Whenever it
    // offers Save, the value on screen is a measurement, never a message.
    void Observe()
    {
        const TOhmraState s = form->State();
        if (s == TOhmraState::ReadyToSave && form->isVisible()) {
            QString v = form->Label_Ohmra_Me->text();
            EXPECT_NE(v, "Measurement failed!");
            EXPECT_NE(v, "Measurement aborted!");
            // The file holds the number as a number: "4.7 GOhm" is 4.7;GOhm,
            // the exponent form 1.2e8 Ohm is 1.2e8;Ohm.
            QString number = v.section(' ', 0, 0), unit = v.section(' ', 1);
            bool ok = false;
            const double x = number.toDouble(&ok);
            if (ok && !number.contains('e'))
                number = QLocale::c().toString(x, 'f', QLocale::FloatingPointShortest);
            lastShown = {(number + (unit.isEmpty() ? "" : " " + unit)).toStdString(),
                         form->Label_Ohmra_Hu->text().section(' ', 0, 0).toStdString()};
            saveable = true;
        } else {
            saveable = false;
        }
    }

    void CommentStep()
    {
        TFormOhmraFComment* c = comment.get();
        const int what = int(rng() % 9);
        Guarded([&] {
            switch (what) {
            case 0: c->BitBtnStart->click(); break;
            case 1: c->BitBtnPrevious->click(); break;
            case 2: c->BitBtnNext->click(); break;
            case 3: c->BitBtnEnd->click(); break;
            case 4: c->EditComments->setText(QStringLiteral("file note %1").arg(rng() % 100)); break;
            case 5: c->Ohmra_RadioGroup->Item(int(rng() % 2))->click(); break;
            case 6: c->LabelFileNumber_Click(); break;
            case 7: {
                c->BitBtnSave->click();
                // No record of a file that was not read, no control byte.
                for (const char* name : {"single.csv", "other.csv"}) {
                    const std::string text = ReadWhole(dir.file(name));
                    for (unsigned char ch : text)
                        if (ch < 0x20 && ch != '\r' && ch != '\n')
                            ADD_FAILURE() << "control byte in " << name << ", seed " << seed;
                }
                break;
            }
            default: c->BitBtnExit->click(); break;
            }
        });
    }

    void Nested() override
    {
        if (inNested || !inStep)
            return;
        inNested = true;
        CheckControls("inside a handler");
        if (Chance(2))
            MaybeFault(100);
        if (form->State() == TOhmraState::CommentEntry && pendingComment.size()) {
            form->Edit_Comment->setText(pendingComment);
            savedComment = pendingComment;
            pendingComment.clear();
            if (Chance(80))
                form->BitBtnOK->click();
            else
                form->BitBtnCancel->click();
        } else if (Chance(20)) {
            ++nestedSteps;
            UserStep(true);
        }
        inNested = false;
    }

    std::unique_ptr<TFormOhmraFComment> comment;
    std::unique_ptr<TFormOhmra> form;
    std::string chosen;
    bool saveable = false;
    Shown lastShown;
    QString pendingComment, savedComment;
    long measurementNo = 0;
    int fds = 0;
    std::string fdList;
};

} // namespace

TEST_F(OhmraMeasurementStates, RandomUserAgainstAMisbehavingMeter)
{
    SCOPED_TRACE("replay with ULMARO_STATES_SEED=" + std::to_string(seed));
    for (long i = 0; i < actions && !HasFatalFailure(); ++i) {
        ++steps;
        if (!form->isVisible() && !comment->isVisible()) {
            // Left: the menu entry opens it again into its first state.
            Reopen();
            // The port open again, as when the count was taken.
            EXPECT_EQ(SettledDescriptors(fds), fds) << DescriptorList() << "at the start:\n" << fdList << "seed " << seed;
            CheckControls("after reopening");
            continue;
        }
        MaybeFault(6);
        inStep = true;
        UserStep(false);
        inStep = false;
        Observe();
        EXPECT_FALSE(OhmraBusy(form->State())) << OhmraStateName(form->State()) << " after a step, seed " << seed;
        CheckControls("after a step");
        pendingComment.clear();
    }
    // The way out always works, once the user confirms leaving unsaved
    // comments (the random prompt declines half the time).
    for (int tries = 0; comment->isVisible() && tries < 64; ++tries) {
        prompt.last.clear();
        comment->BitBtnExitClick();
    }
    EXPECT_FALSE(comment->isVisible()) << "seed " << seed;
    if (form->isVisible())
        form->BitBtn_exit->click();
    Reopen();
    CheckControls("at the end");
    EXPECT_EQ(SettledDescriptors(fds), fds) << DescriptorList();
}

// --- the calibration window ----------------------------------------------------------

namespace {

class OhmraCaliStates : public OhmraStates {
protected:
    void SetUp() override
    {
        OhmraStates::SetUp();
        w = std::make_unique<TFormOhmraCali>(&port);
        FormOhmraCali = w.get();
        w->RunSaveDialog = [this](QFileDialog&) {
            return Chance(15) ? QString() : QString::fromStdString(dir.file("cali.csv"));
        };
        w->SaveCalibrationCsv();   // the dialog made once
        w->MemoInfo->clear();
        Reopen();
        fds = SettledDescriptors(-1);
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        w.reset();
        FormOhmraCali = nullptr;
        OhmraStates::TearDown();
    }
    void Reopen()
    {
        line.Open(port);
        w->show();
        ++reopenings;
        EXPECT_EQ(w->State(), TOhmraCaliState{}) << "seed " << seed;
        // The meter's parameters as this window last wrote them.
        line.Sim([this](SimOhmra& s) { s.Params = meterParams; });
    }
    struct Control {
        const char* name;
        QPushButton* button;
        std::function<void()> handler;
    };
    std::vector<Control> Controls()
    {
        TFormOhmraCali* c = w.get();
        return {
            {"ReadPara", c->BitBtn_read_para, [c] { c->BitBtn_read_paraClick(); }},
            {"ReadDefault", c->BitBtn_read_default, [c] { c->BitBtn_read_defaultClick(); }},
            {"WritePara", c->BitBtn_write_para, [c] { c->BitBtn_write_paraClick(); }},
            {"ReadInfo", c->BitBtn_read_cali_data, [c] { c->BitBtn_read_cali_dataClick(); }},
            {"WriteDate", c->BitBtn_write_cali_data, [c] { c->BitBtn_write_cali_dataClick(); }},
            {"ReadMeas", c->BitBtn_read_meas_data, [c] { c->BitBtn_read_meas_dataClick(); }},
            {"Reset", c->BitBtn_reset, [c] { c->BitBtn_resetClick(); }},
            {"Save", c->BitBtn_save, [c] { c->BitBtn_saveClick(); }},
            {"Clear", c->BitBtn_clear, [c] { c->BitBtn_clearClick(); }},
            {"Exit", c->BitBtn_exit, [c] { c->BitBtn_exitClick(); }},
            {"DateEntry", c->BitBtnCaliDateOK, [c] { c->BitBtnCaliDateOKClick(); }},
            {"DateEntry", c->BitBtnCaliDateCancel, [c] { c->BitBtnCaliDateCancelClick(); }},
        };
    }
    // The table: what each activity allows, and what the chain unlocks.
    static std::string Allowed(const TOhmraCaliState& s)
    {
        using A = TOhmraCaliActivity;
        using P = TOhmraCaliProgress;
        switch (s.activity) {
        case A::Idle: {
            std::string a = "ReadPara ReadDefault WritePara ReadMeas Reset Print Clear Exit";
            if (s.progress != P::Fresh)
                a += " ReadInfo";
            if (s.progress == P::InfoRead || s.progress == P::DateWritten)
                a += " WriteDate";
            if (s.progress == P::DateWritten)
                a += " Save";
            return a;
        }
        case A::DateEntry: return "DateEntry ReadDefault Print Clear";
        case A::Waiting: return "Clear";
        default: return "";
        }
    }
    void CheckControls(const char* where)
    {
        const std::string allowed = Allowed(w->State());
        for (const Control& c : Controls()) {
            EXPECT_EQ(c.button->isEnabled(), Listed(allowed, c.name))
                << c.name << " " << where << ", activity " << int(w->State().activity) << " progress "
                << int(w->State().progress) << ", seed " << seed;
        }
        EXPECT_EQ(w->BitBtn_print->isEnabled(), Listed(allowed, "Print")) << where << ", seed " << seed;
        EXPECT_EQ(w->GroupBoxCaliData->isVisibleTo(w.get()), Listed(allowed, "DateEntry")) << where;
        CheckLine(where);
    }
    void StaleClick()
    {
        const std::vector<Control> cs = Controls();
        const Control c = cs[rng() % cs.size()];
        const bool enabled = c.button->isEnabled();
        const TOhmraCaliState before = w->State();
        const size_t sent = ReceivedSettled();
        ++staleClicks;
        Guarded(c.handler);
        if (!enabled) {
            EXPECT_EQ(w->State(), before) << c.name << " ran while off, seed " << seed << " activity "
                                          << int(before.activity) << " window " << w->isEnabled() << inNested;
            const size_t now = ReceivedSettled();
            EXPECT_EQ(now, sent) << c.name << " talked while off, seed " << seed << " nested " << inNested
                                 << " activity " << int(before.activity) << " progress " << int(before.progress)
                                 << " bytes " << OhmraHex(line.peer->Received().substr(sent));
        }
    }
    static std::string OhmraHex(const std::string& b)
    {
        std::string o;
        for (unsigned char c : b)
            o += "0123456789ABCDEF"[c >> 4], o += "0123456789ABCDEF"[c & 15], o += ' ';
        return o;
    }
    void UserStep(bool nested)
    {
        if (!w->isVisible())
            return;
        if (Chance(10)) {
            StaleClick();
            return;
        }
        if (w->State().activity == TOhmraCaliActivity::DateEntry && Chance(60)) {
            w->MaskEditSerialNumber->setText(QString::number(rng() % 10000));
            w->MaskEditSerialDate->setText(QStringLiteral("%1.%2").arg(rng() % 14, 2, 10, QLatin1Char('0')).arg(9));
            if (Chance(75))
                w->BitBtnCaliDateOK->click();
            else
                w->BitBtnCaliDateCancel->click();
            return;
        }
        if (!nested && Chance(15)) {
            // A parameter typed, now and then one the wire cannot carry.
            QLineEdit* e = Pick(std::vector<QLineEdit*>{w->MaskEdit_k0, w->MaskEdit_k3, w->MaskEdit_k_TF3});
            e->setText(QString::number(Chance(25) ? 65536 + rng() % 30000 : rng() % 65536));
            return;
        }
        std::vector<Control> enabled;
        for (const Control& c : Controls())
            if (c.button->isEnabled() && c.button->isVisibleTo(w.get()))
                enabled.push_back(c);
        if (enabled.empty())
            return;
        if (enabled.size() > 1 && !Chance(20))
            std::erase_if(enabled, [](const Control& x) { return std::string(x.name) == "Exit"; });
        for (const Control& x : enabled)
            if (std::string(x.name) == "Save" && Chance(30))
                enabled = {x};
        Control c = enabled[rng() % enabled.size()];
        if (std::string(c.name) == "Save") {
            const size_t before = Lines(ReadWhole(dir.file("cali.csv"))).size();
            Guarded([&] { c.button->click(); });
            const std::vector<std::string> now = Lines(ReadWhole(dir.file("cali.csv")));
            if (now.size() > before) {
                ++saves;
                // The k values in the file are those the meter took last.
                const std::vector<std::string> f = Split(now.back());
                ASSERT_EQ(f.size(), 12u) << now.back();
                for (size_t i = 0; i < 9; ++i)
                    EXPECT_EQ(f[3 + i], std::to_string(writtenByWindow[i])) << "k" << i << ", seed " << seed;
            }
            return;
        }
        Guarded([&] { c.button->click(); });
    }
    // What reached the meter through this window's Write parameters.
    void TrackWrites()
    {
        std::array<int, 9> now{};
        line.Sim([&](SimOhmra& s) { now = s.Params; });
        if (now != meterParams) {
            meterParams = now;
            writtenByWindow = now;
        }
    }
    void Nested() override
    {
        if (inNested || !inStep)
            return;
        inNested = true;
        CheckControls("inside a handler");
        // The five-second waits pass at once: the window's timer ticks here.
        if (w->State().activity == TOhmraCaliActivity::Waiting)
            for (int i = 0; i < 10; ++i)
                w->Timer1Timer();
        if (Chance(2))
            MaybeFault(100);
        if (Chance(20)) {
            ++nestedSteps;
            UserStep(true);
        }
        inNested = false;
    }

    std::unique_ptr<TFormOhmraCali> w;
    // The simulated meter starts with these; a fresh line gets them again.
    std::array<int, 9> meterParams{{1000, 2000, 3000, 4000, 5000, 6000, 700, 800, 900}};
    // Until the window writes any, the meter holds the ones it started with.
    std::array<int, 9> writtenByWindow = meterParams;
    int fds = 0;
};

} // namespace

TEST_F(OhmraCaliStates, RandomUserAgainstAMisbehavingMeter)
{
    SCOPED_TRACE("replay with ULMARO_STATES_SEED=" + std::to_string(seed));
    for (long i = 0; i < actions && !HasFatalFailure(); ++i) {
        ++steps;
        if (!w->isVisible()) {
            Reopen();
            EXPECT_EQ(SettledDescriptors(fds), fds) << DescriptorList() << "seed " << seed;
            CheckControls("after reopening");
            continue;
        }
        MaybeFault(6);
        inStep = true;
        UserStep(false);
        inStep = false;
        TrackWrites();
        EXPECT_EQ(w->State().activity, TOhmraCaliActivity::Idle) << "after a step, seed " << seed;
        CheckControls("after a step");
    }
    if (w->isVisible())
        w->BitBtn_exit->click();
    Reopen();
    CheckControls("at the end");
    EXPECT_EQ(SettledDescriptors(fds), fds) << DescriptorList();
}
