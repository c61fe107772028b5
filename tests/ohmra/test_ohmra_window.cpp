// The tera-ohmmeter windows against the simulated meter on a pseudo-terminal:
// Init, Start with and without the timer, Break, Save with a comment, the
// stored-file reading and the comment window.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "ohmra/C_Ohmra.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraFComment.h"
#include "ohmra/TOhmraRadioGroup.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "tests/ohmra/OhmraTestBench.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <sys/stat.h>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

using Fault = SimOhmra::Fault;
using Strings = std::vector<std::string>;

// Real time, but the program's fixed pauses cut to a millisecond so that the
// seconds of resets and countdown passes do not add up.
class FastHost final : public IHost {
public:
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        asked += ms;
        RealHost().Sleep(ms > 0 ? 1 : 0);
    }
    // A waiting loop whose way out never came (a click a test failed to
    // make) ends the test instead of hanging it.
    void ProcessMessages() override
    {
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60))
            throw std::runtime_error("a waiting loop ran away");
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    uint64_t asked = 0;
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int CountLines(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

class OhmraWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldHost = SetHost(&host);
        oldState = MainState;
        MainState = &state;
        SetSettingsDirectoryOverride(dir.path());
        MainLink().ReturnToMain = [this] { ++returned; };
        MainLink().CloseDisplay = [this] { ++displayClosed; };
        bench.Sim([](SimOhmra& s) { s.Live = {4700, 6, 2, 23, 45, 0x01, 0}; });
        comment = new TFormOhmraFComment();
        FormOhmraFComment = comment;
        form = new TFormOhmra(nullptr, &bench.port);
        FormOhmra = form;
        comment->RunSaveDialog = [this](QFileDialog&) { return chosen; };
        form->show();
    }
    void TearDown() override
    {
        delete form;
        delete comment;
        FormOhmra = nullptr;
        FormOhmraFComment = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
        MainState = oldState;
        SetHost(oldHost);
    }
    // Runs `f` from inside the next nested message processing.
    void Later(std::function<void()> f, int ms = 0) { QTimer::singleShot(ms, form, std::move(f)); }
    // Commands the meter has seen since the last call.
    Strings NewCommands()
    {
        Strings all = bench.Commands();
        Strings fresh(all.begin() + std::min(seen, all.size()), all.end());
        seen = all.size();
        return fresh;
    }
    void Init()
    {
        form->BitBtn_initClick();
        ASSERT_TRUE(form->BitBtn_start->isEnabled());
        NewCommands();
    }
    OhmraFilesStruct& Live() { return comment->OhmraFiles[0]; }
    void TimerOn(int timeIndex, bool average)
    {
        form->RadioGroup_Ohmra_TI->Item(1)->click();
        form->RadioGroup_Ohmra_TiMo->SetItemIndex(average ? 1 : 0);
        form->ComboBox_Ohmra_Time->setCurrentIndex(timeIndex);
    }

    LocaleGuard locale{QLocale::c()};
    ScriptedPrompt prompt;
    FastHost host;
    IHost* oldHost = nullptr;
    TMainState state;
    TMainState* oldState = nullptr;
    TempDir dir;
    OhmraBench bench;
    TFormOhmraFComment* comment = nullptr;
    TFormOhmra* form = nullptr;
    QString chosen;
    int returned = 0, displayClosed = 0;
    size_t seen = 0;
};

// --- Init ----------------------------------------------------------------------

TEST_F(OhmraWindow, StartsWithOnlyInitAndExit)
{
    for (QPushButton* b : {form->BitBtn_save, form->BitBtn_start, form->BitBtn_stop, form->BitBtn_readFile,
                           form->BitBtn_reset})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(form->BitBtn_init->isEnabled());
    EXPECT_TRUE(form->BitBtn_exit->isEnabled());
    EXPECT_EQ(form->RadioGroup_Ohmra_VM->ItemIndex(), 0);
    EXPECT_EQ(form->RadioGroup_Ohmra_DM->ItemIndex(), 1);
    EXPECT_EQ(form->RadioGroup_Ohmra_TI->ItemIndex(), 0);
    EXPECT_EQ(form->GroupBox_Ohmra_Setup->height(), 288);
    EXPECT_EQ(form->ComboBox_Ohmra_Time->count(), 23);
    EXPECT_FALSE(form->GroupBox_Input_Comment->isVisible());
    EXPECT_EQ(form->GroupBox_Input_Comment->pos(), QPoint(280, 320));

    form->RadioGroup_Ohmra_TI->Item(1)->click();
    EXPECT_EQ(form->GroupBox_Ohmra_Setup->height(), 457);
    EXPECT_TRUE(form->ComboBox_Ohmra_Time->isVisible());
    form->RadioGroup_Ohmra_TI->Item(0)->click();
    EXPECT_EQ(form->GroupBox_Ohmra_Setup->height(), 288);
    EXPECT_FALSE(form->RadioGroup_Ohmra_TiMo->isVisible());
}

TEST_F(OhmraWindow, ControlsAreFoundByNameWithTheirCaptionsAndHints)
{
    struct Button {
        const char* name;
        const char* caption;
        const char* hint;
    };
    const Button buttons[] = {
        {"BitBtn_start", "Sta&rt", "Start a single measurement"},
        {"BitBtn_stop", "B&reak", "Stop measurement"},
        {"BitBtn_readFile", "Read &File", "Read data files from Ohmra"},
        {"BitBtn_save", "&Save", "Save measurement data to file"},
        {"BitBtn_reset", "&Reset", "Reset Ohmra"},
        {"BitBtn_init", "&Init", "Init Ohmra and read info"},
        {"BitBtn_exit", "E&xit", "Exit and go to the main menu"},
        {"BitBtnOK", "&OK", ""},
        {"BitBtnCancel", "&Cancel", ""},
        {"BitBtn_OK_FileNo", "OK", ""},
    };
    for (const Button& b : buttons) {
        auto* w = form->findChild<QPushButton*>(b.name);
        ASSERT_NE(w, nullptr) << b.name;
        EXPECT_EQ(w->text(), b.caption) << b.name;
        EXPECT_EQ(w->toolTip(), b.hint) << b.name;
    }
    const std::pair<const char*, const char*> groups[] = {
        {"Ohmra_GroupBox_V", "Resistor measured value"}, {"Ohmra_GroupBox_H", "Humidity"},
        {"Ohmra_GroupBox_T", "Air temperature"},         {"GroupBox_Ohmra_Setup", "Setup"},
        {"RadioGroup_Ohmra_VM", "Voltage mode"},         {"RadioGroup_Ohmra_DM", "Display Mode"},
        {"RadioGroup_Ohmra_TI", "Timer"},                {"RadioGroup_Ohmra_TiMo", "Timer mode"},
        {"GroupBoxInfo", "Info"},                        {"GroupBox_Input_Comment", "Input comment"},
        {"GroupBoxFiles", "Input range"},
    };
    for (const auto& [name, title] : groups) {
        auto* g = form->findChild<QGroupBox*>(name);
        ASSERT_NE(g, nullptr) << name;
        EXPECT_EQ(g->title(), title) << name;
    }
    for (const char* name : {"Label_Ohmra_Me", "Label_Ohmra_Hu", "Label_Ohmra_Te", "Label1", "Label2", "LabelReadFNo",
                             "LabelFNo"})
        EXPECT_NE(form->findChild<QLabel*>(name), nullptr) << name;
    for (const char* name : {"Edit_Comment", "MaskEdit_start_fn", "MaskEdit_end_fn"})
        EXPECT_NE(form->findChild<QLineEdit*>(name), nullptr) << name;
    EXPECT_EQ(form->findChild<QComboBox*>("ComboBox_Ohmra_Time"), form->ComboBox_Ohmra_Time);
    EXPECT_EQ(form->findChild<QPlainTextEdit*>("MemoInfo"), form->MemoInfo);

    const Button commentButtons[] = {
        {"BitBtnStart", "<<", "Go to the first file number."},
        {"BitBtnPrevious", "<", "Go to previous file number."},
        {"BitBtnNext", ">", "Go to next file number."},
        {"BitBtnEnd", ">>", "Go to the last file number."},
        {"BitBtnSave", "&Save", "Save data to file"},
        {"BitBtnExit", "&Exit", ""},
    };
    for (const Button& b : commentButtons) {
        auto* w = comment->findChild<QPushButton*>(b.name);
        ASSERT_NE(w, nullptr) << b.name;
        EXPECT_EQ(w->text(), b.caption) << b.name;
        EXPECT_EQ(w->toolTip(), b.hint) << b.name;
    }
    EXPECT_EQ(comment->windowTitle(), "Ohmra ");
    EXPECT_EQ(comment->findChild<QGroupBox*>("GroupBoxOhmraFileComments")->title(), " Input file comments ");
    EXPECT_EQ(comment->findChild<QGroupBox*>("Ohmra_RadioGroup")->title(), "Save Mode");
    EXPECT_EQ(comment->findChild<QLineEdit*>("EditComments"), comment->EditComments);
    const std::pair<const char*, const char*> labels[] = {
        {"LabelFileNumber_", "File number"}, {"LabelResistor_", "Resistor"}, {"LabelHumidity_", "Humidity"},
        {"LabelTemperature_", "Temperature"}, {"LabelTimer_", "Timer"},     {"LabelAL_", "Average / Lapse"},
        {"LabelComment", "Comment"},
    };
    for (const auto& [name, text] : labels) {
        auto* l = comment->findChild<QLabel*>(name);
        ASSERT_NE(l, nullptr) << name;
        EXPECT_EQ(l->text(), text) << name;
    }
    for (const char* name : {"LabelFileNumber", "LabelResistor", "LabelHumidity", "LabelTemperature", "LabelTimer",
                             "LabelAL"})
        EXPECT_NE(comment->findChild<QLabel*>(name), nullptr) << name;
}

TEST_F(OhmraWindow, InitReadsTheInfoOrLeavesOnlyExit)
{
    form->BitBtn_initClick();
    EXPECT_EQ(NewCommands(), (Strings{"C004", "82", "A1"}));
    EXPECT_EQ(form->MemoInfo->toPlainText(),
              "    SW version : 1.02   /  Serial number : 00050112   /  date of production : 03.04.2010");
    EXPECT_EQ(comment->InfoSerial, "00050112");
    EXPECT_EQ(comment->InfoSwVersion, "1.02");
    EXPECT_EQ(comment->InfoDate, "03.04.2010");
    for (QPushButton* b : {form->BitBtn_start, form->BitBtn_stop, form->BitBtn_readFile, form->BitBtn_reset,
                           form->BitBtn_init})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_FALSE(form->BitBtn_save->isEnabled());

    // The meter does not acknowledge: only Exit remains; the memo keeps
    // its first line.
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Nak, Fault::None, Fault::Nak}; });
    form->BitBtn_initClick();
    EXPECT_EQ(form->MemoInfo->toPlainText(), "\t\t\t     Initialize Ohmra, please wait....");
    EXPECT_EQ(form->State(), TOhmraState::InitFailed);
    EXPECT_TRUE(form->BitBtn_exit->isEnabled());
    for (QPushButton* b : {form->BitBtn_init, form->BitBtn_start, form->BitBtn_stop, form->BitBtn_readFile,
                           form->BitBtn_reset, form->BitBtn_save})
        EXPECT_FALSE(b->isEnabled());
    NewCommands();
    form->BitBtn_initClick();  // a click that reaches it all the same sends nothing
    EXPECT_TRUE(NewCommands().empty());
    EXPECT_TRUE(prompt.shown().empty());

    // Opened again from the main window, Init is offered again.
    form->BitBtn_exitClick();
    bench.port.Open();
    form->show();
    EXPECT_TRUE(form->BitBtn_init->isEnabled());
    Init();
}

// --- Start ---------------------------------------------------------------------

TEST_F(OhmraWindow, FirstStartConfiguresTheMeterLaterStartsOnlyWhenTheVoltageChanges)
{
    Init();
    ASSERT_TRUE(state.OhmraFirstStart);
    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C004", "82", "C004", "C004"}));
    EXPECT_FALSE(state.OhmraFirstStart);
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7 GOhm");
    EXPECT_EQ(form->Label_Ohmra_Hu->text(), "45 %r.F.");
    EXPECT_EQ(form->Label_Ohmra_Te->text(), QString::fromUtf8("23 °C"));
    EXPECT_EQ(form->Ohmra_GroupBox_V->title(), "Resistor measured value");
    EXPECT_DOUBLE_EQ(Live().Value, 4.7);
    EXPECT_EQ(Live().TechnUnit, "GOhm");
    EXPECT_EQ(Live().TechnMode, 1);
    EXPECT_EQ(Live().Unit, "Ohm");
    EXPECT_EQ(Live().AverageLapse, 'A');
    EXPECT_EQ(Live().Timer, 0);
    EXPECT_EQ(Live().Humidity, 45);
    EXPECT_TRUE(form->BitBtn_save->isEnabled());
    EXPECT_TRUE(form->BitBtn_start->isEnabled());

    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C004", "C004"}));

    // A reading the meter refuses is not passed off as this measurement:
    // the same commands go out, the window says it failed, nothing to save.
    for (const std::vector<Fault>& faults : {std::vector<Fault>{Fault::Nak}, std::vector<Fault>{Fault::None, Fault::Nak}}) {
        bench.Sim([&](SimOhmra& s) { s.Faults.assign(faults.begin(), faults.end()); });
        form->BitBtn_startClick();
        EXPECT_EQ(NewCommands(), (Strings{"C004", "C004"}));
        EXPECT_EQ(form->Label_Ohmra_Me->text(), "Measurement failed!");
        EXPECT_TRUE(form->Label_Ohmra_Hu->text().isEmpty());
        EXPECT_FALSE(form->BitBtn_save->isEnabled());
        EXPECT_TRUE(form->BitBtn_start->isEnabled());
        EXPECT_TRUE(prompt.shown().empty());
    }
    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C004", "C004"}));
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7 GOhm");
    EXPECT_TRUE(form->BitBtn_save->isEnabled());

    // Display mode alone: no new configuration; the exponent form.
    form->RadioGroup_Ohmra_DM->SetItemIndex(0);
    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C005", "C005"}));
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7e9 Ohm");
    EXPECT_EQ(Live().ExpoText, "4.7e9");
    EXPECT_EQ(Live().TechnMode, 0);

    // Voltage mode: configured and restarted again.
    form->RadioGroup_Ohmra_DM->SetItemIndex(1);
    form->RadioGroup_Ohmra_VM->SetItemIndex(1);
    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C002", "82", "C002", "C002"}));
    form->RadioGroup_Ohmra_VM->SetItemIndex(2);
    form->BitBtn_startClick();
    EXPECT_EQ(NewCommands(), (Strings{"C000", "82", "C000", "C000"}));
    EXPECT_EQ(form->LastVoltageMode, 2);
}

TEST_F(OhmraWindow, OutOfRangeWordsAndTheExponentForm)
{
    Init();
    bench.Sim([](SimOhmra& s) { s.Live.status = 0xC0; });
    form->BitBtn_startClick();
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "OVERFLOW");
    EXPECT_DOUBLE_EQ(Live().Value, 9999);
    EXPECT_EQ(Live().TechnUnit, "");
    EXPECT_EQ(Live().Unit, "");
    EXPECT_EQ(Live().ExpoText, "9999");
    EXPECT_EQ(Live().TechnMode, 1);
    EXPECT_EQ(Live().AverageLapse, 'L');

    bench.Sim([](SimOhmra& s) { s.Live.status = 0x80; });
    form->RadioGroup_Ohmra_DM->SetItemIndex(0);
    form->BitBtn_startClick();
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "UNDERFLOW");
    EXPECT_DOUBLE_EQ(Live().Value, 0);
    EXPECT_EQ(Live().ExpoText, "0");
    EXPECT_EQ(Live().TechnMode, 1);   // saved as 0 with no unit in either mode

    bench.Sim([](SimOhmra& s) { s.Live = {5, 3, 0, 20, 30, 0x00, 0}; });
    form->BitBtn_startClick();
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "5.e3 Ohm");
    EXPECT_EQ(Live().ExpoText, "5.e3");
    EXPECT_DOUBLE_EQ(Live().Value, 5.0);
    EXPECT_EQ(Live().TechnUnit, "kOhm");

    // Below 1000 ohms the technical form shows 0.0 without a unit.
    bench.Sim([](SimOhmra& s) { s.Live = {999, 0, 0, 20, 30, 0x00, 0}; });
    form->RadioGroup_Ohmra_DM->SetItemIndex(1);
    form->BitBtn_startClick();
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "0.0 ");
}

TEST_F(OhmraWindow, TimerCountsDownThenReadsTheTimedResultWithThePlainCommand)
{
    Init();
    bench.Sim([](SimOhmra& s) {
        s.MsPerTimerSecond = 25;
        s.Timed = {1234, 5, 1, 21, 50, 0x01, 0};
    });
    TimerOn(form->ComboBox_Ohmra_Time->findText("30 sec"), true);
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString t = form->Label_Ohmra_Me->text();
        if (t.endsWith(" Sec.") && (shown.isEmpty() || shown.last() != t))
            shown << t;
        if (form->Ohmra_GroupBox_V->title() == "Remaining time" && !shown.contains("caption"))
            shown << "caption";
    });
    watch.start(1);
    form->BitBtn_startClick();
    watch.stop();

    const Strings cmds = NewCommands();
    ASSERT_GE(cmds.size(), 6u);
    EXPECT_EQ(cmds[0], "C00C");
    EXPECT_EQ(cmds[1], "82");
    size_t i = 2;
    while (i < cmds.size() && cmds[i] == "C01C1E")
        ++i;
    EXPECT_GE(i, 4u) << "countdown passes";
    EXPECT_EQ(Strings(cmds.begin() + long(i), cmds.end()), (Strings{"C00C", "C00C", "82"}));

    // The value of the timed run, not the one read before the countdown.
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "123 MOhm");
    EXPECT_EQ(form->Label_Ohmra_Hu->text(), "50 %r.F.");
    EXPECT_EQ(Live().Timer, 30);
    EXPECT_EQ(form->Ohmra_GroupBox_V->title(), "Resistor measured value");
    EXPECT_TRUE(shown.contains("caption"));
    for (const QString& t : shown) {
        if (t != "caption") {
            EXPECT_LE(t.section(' ', 0, 0).toInt(), 30) << t.toStdString();
        }
    }
    EXPECT_TRUE(form->BitBtn_save->isEnabled());
}

TEST_F(OhmraWindow, BreakDuringTheCountdownAbortsAndStillResets)
{
    Init();
    form->BitBtn_startClick();   // the first Start's configuration out of the way
    NewCommands();
    bench.Sim([](SimOhmra& s) { s.MsPerTimerSecond = 1000; });
    TimerOn(form->ComboBox_Ohmra_Time->findText("10 sec"), false);
    Later([this] { form->BitBtn_stop->click(); }, 150);
    form->BitBtn_startClick();
    const Strings cmds = NewCommands();
    ASSERT_GE(cmds.size(), 4u);
    EXPECT_EQ(cmds[0], "C004");
    EXPECT_EQ(cmds[1], "C0140A");
    EXPECT_EQ(Strings(cmds.end() - 2, cmds.end()), (Strings{"C4", "82"}));
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "Measurement aborted!");
    EXPECT_EQ(form->Ohmra_GroupBox_V->title(), "Remaining time");
    EXPECT_EQ(form->Label_Ohmra_Hu->text(), "");
    // An aborted measurement is nothing to save: Save stays off, and a
    // click that reaches it all the same opens no comment entry.
    EXPECT_FALSE(form->BitBtn_save->isEnabled());
    EXPECT_TRUE(form->BitBtn_start->isEnabled());
    form->BitBtn_saveClick();
    EXPECT_FALSE(form->GroupBox_Input_Comment->isVisible());
    EXPECT_TRUE(form->BitBtn_start->isEnabled());
}

// The run is over when the meter says 0: not while a second may remain,
// and not because a reading that failed left an old timer value behind.
TEST_F(OhmraWindow, TimedMeasurementWaitsUntilTheMeterReportsZero)
{
    Init();
    form->BitBtn_startClick();   // the first Start's configuration out of the way
    TimerOn(form->ComboBox_Ohmra_Time->findText("2 sec"), false);
    for (const bool garbled : {false, true}) {
        SCOPED_TRACE(garbled ? "first countdown reading garbled" : "every reading answered");
        bench.Sim([garbled](SimOhmra& s) {
            s.MsPerTimerSecond = 150;
            s.Timed = {1234, 5, 1, 21, 77, 0x01, 0};
            s.Live.timer = 0;
            s.EarlyReadings = 0;
            // The plain reading before the countdown leaves Timer at 0.
            if (garbled)
                s.Faults = {Fault::None, Fault::Garbage};
        });
        form->BitBtn_startClick();
        int early = -1;
        bench.Sim([&](SimOhmra& s) { early = s.EarlyReadings; });
        EXPECT_EQ(early, 0);
        EXPECT_EQ(form->Label_Ohmra_Me->text(), "123 MOhm");
        EXPECT_EQ(form->Label_Ohmra_Hu->text(), "77 %r.F.");
        EXPECT_EQ(form->State(), TOhmraState::ReadyToSave);
    }
}

// A time-out in the middle of an action is shown by the framework; the
// window does not keep its progress text and is usable again at once.
TEST_F(OhmraWindow, ATimeOutLeavesAWindowTheUserCanActIn)
{
    bench.port.Timeouts->ReadConstant(300);
    Init();
    form->BitBtn_startClick();
    ASSERT_EQ(form->State(), TOhmraState::ReadyToSave);
    struct Case {
        const char* name;
        std::function<void()> click;
        TOhmraState after;
    };
    const Case cases[] = {
        {"Start", [this] { form->BitBtn_startClick(); }, TOhmraState::Ready},
        {"Reset", [this] { form->BitBtn_resetClick(); }, TOhmraState::Ready},
        {"Break", [this] { form->BitBtn_stopClick(); }, TOhmraState::Ready},
        {"Init", [this] { form->BitBtn_initClick(); }, TOhmraState::InitFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Silence}; });
        EXPECT_THROW(c.click(), EComError);
        if (std::string(c.name) == "Break") {
            // Break from an idle window keeps what it found: the reading
            // shown and the offer to save it.
            EXPECT_EQ(form->State(), TOhmraState::ReadyToSave);
            EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7 GOhm");
        } else {
            EXPECT_EQ(form->State(), c.after);
            EXPECT_EQ(form->Label_Ohmra_Me->text(), "");
            EXPECT_FALSE(form->BitBtn_save->isEnabled());
        }
        EXPECT_EQ(form->Ohmra_GroupBox_V->title(), "Resistor measured value");
        EXPECT_TRUE(form->BitBtn_exit->isEnabled());
        EXPECT_EQ(form->BitBtn_init->isEnabled(), c.after != TOhmraState::InitFailed);
        EXPECT_EQ(form->BitBtn_start->isEnabled(), c.after != TOhmraState::InitFailed);
        // Once the line answers again, the window carries on (opened anew
        // after a failed Init).
        if (c.after == TOhmraState::InitFailed) {
            form->BitBtn_exitClick();
            bench.port.Open();
            form->show();
            form->BitBtn_init->click();
        }
        form->BitBtn_start->click();
        EXPECT_EQ(form->State(), TOhmraState::ReadyToSave);
        EXPECT_EQ(form->Label_Ohmra_Me->text(), "4.7 GOhm");
    }
}

TEST_F(OhmraWindow, TimerWithoutATimeIsAConversionError)
{
    Init();
    form->RadioGroup_Ohmra_TI->Item(1)->click();
    EXPECT_THROW(form->BitBtn_startClick(), std::exception);
    EXPECT_TRUE(NewCommands().empty());
    EXPECT_TRUE(form->BitBtn_stop->isEnabled());
    EXPECT_TRUE(form->BitBtn_exit->isEnabled());
}

// --- Save ---------------------------------------------------------------------

TEST_F(OhmraWindow, SaveAsksForACommentAndWritesOneLinePerMeasurement)
{
    Init();
    form->BitBtn_startClick();
    chosen = QString::fromStdString(dir.file("live.csv"));
    Later([this] {
        EXPECT_TRUE(form->GroupBox_Input_Comment->isVisible());
        EXPECT_FALSE(form->BitBtn_start->isEnabled());
        form->Edit_Comment->setText(QString::fromUtf8("Probe 1; 20 °C"));
        form->BitBtnOK->click();
    });
    form->BitBtn_saveClick();
    EXPECT_FALSE(form->GroupBox_Input_Comment->isVisible());
    EXPECT_FALSE(form->BitBtn_save->isEnabled());
    EXPECT_TRUE(form->BitBtn_start->isEnabled());
    std::string text = ReadFile(dir.file("live.csv"));
    ASSERT_EQ(CountLines(text), 2);
    EXPECT_TRUE(text.ends_with(";'00050112;'1.02;03.04.2010;0;4.7;GOhm;23;45;0;A;Probe 1, 20 \xB0"
                               "C\r\n"))
        << text;
    EXPECT_EQ(prompt.shown().back().text, "File saved successfully.");
    // The folder of the file is remembered for the next dialog.
    EXPECT_EQ(OhmraDataDirectory(), QString::fromStdString(dir.path()) + "/");

    // The comment text stays; Enter acts as OK; one more line.
    form->BitBtn_startClick();
    Later([this] {
        EXPECT_EQ(form->Edit_Comment->text(), QString::fromUtf8("Probe 1; 20 °C"));
        QTest::keyClick(form->Edit_Comment, Qt::Key_Return);
    });
    form->BitBtn_saveClick();
    EXPECT_EQ(CountLines(ReadFile(dir.file("live.csv"))), 3);

    // Typing into the field replaces the comment it shows.
    form->BitBtn_startClick();
    Later([this] {
        QTest::keyClicks(form->Edit_Comment, "Probe 2");
        QTest::keyClick(form->Edit_Comment, Qt::Key_Return);
    });
    form->BitBtn_saveClick();
    EXPECT_TRUE(ReadFile(dir.file("live.csv")).ends_with(";A;Probe 2\r\n"));
    EXPECT_EQ(CountLines(ReadFile(dir.file("live.csv"))), 4);

    // Cancel clears the comment and writes nothing.
    form->BitBtn_startClick();
    Later([this] { form->BitBtnCancel->click(); });
    form->BitBtn_saveClick();
    EXPECT_EQ(Live().Comment, "");
    EXPECT_EQ(CountLines(ReadFile(dir.file("live.csv"))), 4);
    EXPECT_FALSE(form->BitBtn_save->isEnabled());
}

TEST_F(OhmraWindow, OverflowIsSavedAs9999WithoutUnit)
{
    Init();
    bench.Sim([](SimOhmra& s) { s.Live.status = 0xC0; });
    form->RadioGroup_Ohmra_DM->SetItemIndex(0);
    form->BitBtn_startClick();
    chosen = QString::fromStdString(dir.file("ovl.csv"));
    Later([this] {
        form->Edit_Comment->setText("x");
        form->BitBtnOK->click();
    });
    form->BitBtn_saveClick();
    EXPECT_TRUE(ReadFile(dir.file("ovl.csv")).ends_with(";0;9999;;23;45;0;L;x\r\n"));
}

// --- stored files and comments -----------------------------------------------------

class OhmraStoredFiles : public OhmraWindow {
protected:
    void SetUp() override
    {
        OhmraWindow::SetUp();
        bench.Sim([](SimOhmra& s) {
            s.Files = {};
            s.Files[1] = {SimOhmra::Slot::Stored, {1234, 5, 1, 23, 45, 0x00, 0}};
            s.Files[2] = {SimOhmra::Slot::Empty, {}};
            s.Files[3] = {SimOhmra::Slot::Stored, {500, 0, 0, 21, 39, 0x01, 30}};
            s.Files[7] = {SimOhmra::Slot::Stored, {2500, 9, 4, 22, 40, 0x01, 10}};
        });
        Init();
    }
    void Read(const QString& first, const QString& last)
    {
        Later([=, this] {
            form->MaskEdit_start_fn->setText(first);
            form->MaskEdit_end_fn->setText(last);
            Later([this] {
                EXPECT_TRUE(form->BitBtn_OK_FileNo->isEnabled());
                form->BitBtn_OK_FileNo->click();
            }, 5);
        });
        form->BitBtn_readFileClick();
    }
};

TEST_F(OhmraStoredFiles, ReadsTheRangeSkipsARefusedFileAndHandsOver)
{
    Read("1", "3");
    EXPECT_EQ(NewCommands(), (Strings{"8801", "8802", "8803", "82"}));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(comment->isVisible());
    EXPECT_TRUE(comment->isEnabled());
    EXPECT_EQ(comment->FirstIndex, 1);
    EXPECT_EQ(comment->LastIndex, 3);
    EXPECT_EQ(comment->CurrentIndex, 1);
    EXPECT_TRUE(comment->Saved);
    EXPECT_FALSE(form->GroupBoxFiles->isVisible());
    EXPECT_EQ(form->State(), TOhmraState::Browsing);
    EXPECT_EQ(form->SkippedFiles(), 1);
    EXPECT_EQ(comment->LabelSkipped->text(), "Skipped files: 1 (not read or empty)");

    EXPECT_EQ(comment->LabelFileNumber->text(), "1");
    EXPECT_EQ(comment->LabelResistor->text(), "123.0 MOhm");
    EXPECT_EQ(comment->LabelHumidity->text(), "45 %r/H");
    EXPECT_EQ(comment->LabelTemperature->text(), QString::fromUtf8("23 °C"));
    EXPECT_EQ(comment->LabelTimer->text(), "0 sec.");
    EXPECT_EQ(comment->LabelAL->text(), "L");

    // File 2 was refused: it holds nothing and is not visited.
    EXPECT_FALSE(comment->HoldsMeasurement(2));
    comment->BitBtnNextClick();
    EXPECT_EQ(comment->CurrentIndex, 3);

    // 500 ohms after a MOhm file: 0.0 in the unit of the file before.
    EXPECT_EQ(comment->LabelResistor->text(), "0.0 MOhm");
    EXPECT_EQ(comment->LabelAL->text(), "A");
    EXPECT_EQ(comment->LabelTimer->text(), "30 sec.");

    // Save in "Tech": the files read, and no line for the refused one.
    chosen = QString::fromStdString(dir.file("files.csv"));
    comment->BitBtnSaveClick();
    const std::string text = ReadFile(dir.file("files.csv"));
    EXPECT_EQ(text.find("\r\n2;"), std::string::npos);
    EXPECT_NE(text.find("\r\n1;123;MOhm;23;45;0;L;\r\n3;0;MOhm;21;39;30;A;\r\n"), std::string::npos);
    EXPECT_TRUE(text.starts_with("Time;Date;Serial number;Sw Version;date of production\r\n"));
    EXPECT_TRUE(comment->Saved);

    // Back in the measurement window, ready to measure.
    comment->BitBtnExitClick();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->State(), TOhmraState::Ready);
    EXPECT_TRUE(form->BitBtn_start->isEnabled());
}

// A reply frame that announces too short a length is a file that cannot
// be read: it is skipped, the others are read.
TEST_F(OhmraStoredFiles, AShortReplyFrameSkipsThatFileOnly)
{
    bench.Sim([](SimOhmra& s) {
        s.Files[2] = {SimOhmra::Slot::Stored, {4700, 3, 1, 20, 40, 0x00, 0}};
        s.Faults = {Fault::None, Fault::ShortLength};
    });
    Read("1", "3");
    EXPECT_TRUE(comment->isVisible());
    EXPECT_EQ(form->SkippedFiles(), 1);
    EXPECT_TRUE(comment->HoldsMeasurement(1));
    EXPECT_FALSE(comment->HoldsMeasurement(2));
    EXPECT_TRUE(comment->HoldsMeasurement(3));
    EXPECT_EQ(comment->OhmraFiles[3].Humidity, 39);
}

// Files 1 to 20 asked for, 1 to 5 stored, file 3 garbled and the retry
// cancelled, 6 to 10 refused, 11 to 20 empty slots: the file holds the four
// files read and nothing else, no control byte; the window counts 16 skipped.
TEST_F(OhmraStoredFiles, OnlyFilesReadGetALine)
{
    bench.Sim([](SimOhmra& s) {
        s.Files = {};
        for (int n = 1; n <= 5; ++n)
            s.Files[size_t(n)] = {SimOhmra::Slot::Stored, {1000 * n, 3, 1, 20 + n, 40 + n, n % 2, n}};
        for (int n = 11; n <= 20; ++n)
            s.Files[size_t(n)] = {SimOhmra::Slot::Zeroed, {}};
        s.Faults = {Fault::None, Fault::None, Fault::WrongChecksum};
    });
    prompt.Press(TPromptResult::Cancel);
    Read("1", "20");
    EXPECT_EQ(form->SkippedFiles(), 16);
    EXPECT_EQ(comment->LabelSkipped->text(), "Skipped files: 16 (not read or empty)");
    chosen = QString::fromStdString(dir.file("twenty.csv"));
    comment->BitBtnSaveClick();
    const std::string text = ReadFile(dir.file("twenty.csv"));
    const size_t second = text.find("\r\n") + 2;
    const size_t third = text.find("\r\n", second) + 2;
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(text.substr(0, second), "Time;Date;Serial number;Sw Version;date of production\r\n");
    EXPECT_EQ(text.substr(third), "File number;Resistor;Unit;Temperature(\xB0"
                                  "C);Humidity(%r/F);Timer(sec.);A/L;Comment\r\n"
                                  "1;1;MOhm;21;41;1;A;\r\n"
                                  "2;2;MOhm;22;42;2;L;\r\n"
                                  "4;4;MOhm;24;44;4;L;\r\n"
                                  "5;5;MOhm;25;45;5;A;\r\n");
    EXPECT_TRUE(text.substr(second, third - second).ends_with(";'00050112;'1.02;03.04.2010\r\n"));
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n')
            continue;
        EXPECT_GE(c, 0x20) << "control byte at " << i;
    }
}

// Each save dialog offers a dated name and the folder its kind of file
// went to last: measurements and stored files each keep their own.
TEST_F(OhmraStoredFiles, SaveDialogsOfferADatedNameInTheFolderOfTheirKind)
{
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    QString offered;
    comment->RunSaveDialog = [&](QFileDialog& d) {
        offered = d.selectedFiles().value(0);
        return chosen;
    };
    ASSERT_EQ(::mkdir(dir.file("meas").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.file("files").c_str(), 0700), 0);
    auto saveMeasurement = [&](const std::string& path) {
        chosen = QString::fromStdString(path);
        form->BitBtn_startClick();
        Later([this] { form->BitBtnOK->click(); });
        form->BitBtn_saveClick();
    };
    auto saveFiles = [&](const std::string& path) {
        Read("1", "1");
        chosen = QString::fromStdString(path);
        comment->BitBtnSaveClick();
        comment->BitBtnExitClick();
    };
    const QString home = QString::fromStdString(HomeDirectory());
    saveMeasurement(dir.file("meas/m.csv"));
    EXPECT_EQ(QFileInfo(offered).fileName(), "Ohmra_" + today + ".csv");
    EXPECT_EQ(QFileInfo(offered).absolutePath() + "/", home);
    saveFiles(dir.file("files/f.csv"));
    EXPECT_EQ(QFileInfo(offered).fileName(), "Ohmra_files_" + today + ".csv");
    saveMeasurement(dir.file("meas/m.csv"));
    EXPECT_EQ(offered, QString::fromStdString(dir.file("meas/Ohmra_" + today.toStdString() + ".csv")));
    saveFiles(dir.file("files/f.csv"));
    EXPECT_EQ(offered, QString::fromStdString(dir.file("files/Ohmra_files_" + today.toStdString() + ".csv")));
}

TEST_F(OhmraStoredFiles, TheFirstNumberIsSelectedForTyping)
{
    Later([this] {
        QTest::keyClicks(form->MaskEdit_start_fn, "3");
        form->MaskEdit_end_fn->selectAll();
        QTest::keyClicks(form->MaskEdit_end_fn, "7");
        Later([this] { form->BitBtn_OK_FileNo->click(); }, 5);
    });
    form->BitBtn_readFileClick();
    EXPECT_EQ(NewCommands(), (Strings{"8803", "8804", "8805", "8806", "8807", "82"}));
    EXPECT_EQ(comment->FirstIndex, 3);
    EXPECT_EQ(comment->LastIndex, 7);
}

TEST_F(OhmraStoredFiles, RangeMustStartAtOneAndNotRunBackwards)
{
    // OK follows each edit at once, with no event processed in between: a
    // click right after typing must find the button as the numbers say.
    struct Case {
        const char* first;
        const char* last;
        bool ok;
    };
    const Case cases[] = {
        {"5", "3", false}, {"0", "4", false}, {"1", "1", true}, {"3", "9", true},
        {"9", "9", true},  {"", "9", true},   {"10", "9", false}, {"7", "7", true},
    };
    bool checked = false;
    Later([&] {
        for (const Case& c : cases) {
            form->MaskEdit_start_fn->setText(c.first);
            form->MaskEdit_end_fn->setText(c.last);
            EXPECT_EQ(form->BitBtn_OK_FileNo->isEnabled(), c.ok) << c.first << " to " << c.last;
        }
        checked = true;
        form->BitBtn_OK_FileNo->click();
    });
    form->BitBtn_readFileClick();
    EXPECT_TRUE(checked);
    EXPECT_EQ(NewCommands(), (Strings{"8807", "82"}));
    EXPECT_EQ(comment->LabelResistor->text(), "2.5 TOhm");
}

TEST_F(OhmraStoredFiles, CommentNavigation)
{
    bench.Sim([](SimOhmra& s) { s.Files[2] = {SimOhmra::Slot::Stored, {4700, 3, 1, 20, 40, 0x00, 0}}; });
    Read("1", "3");
    QLineEdit* e = comment->EditComments;
    e->setText("c1");
    comment->BitBtnNextClick();
    EXPECT_EQ(comment->CurrentIndex, 2);
    EXPECT_FALSE(comment->Saved);
    EXPECT_EQ(comment->OhmraFiles[1].Comment, "c1");
    EXPECT_EQ(e->text(), "");

    e->setText("c2");
    QTest::keyClick(e, Qt::Key_Return);   // Enter acts as ">"
    EXPECT_EQ(comment->CurrentIndex, 3);
    EXPECT_EQ(comment->OhmraFiles[2].Comment, "c2");

    e->setText("c3");
    comment->BitBtnNextClick();   // at the last record: stays, but takes the comment
    EXPECT_EQ(comment->CurrentIndex, 3);
    EXPECT_EQ(comment->OhmraFiles[3].Comment, "c3");

    e->setText("c3b");
    comment->BitBtnPreviousClick();
    EXPECT_EQ(comment->CurrentIndex, 2);
    EXPECT_EQ(comment->OhmraFiles[3].Comment, "c3b");
    EXPECT_EQ(e->text(), "c2");

    // Typing replaces the comment a record shows.
    QTest::keyClicks(e, "c2b");
    EXPECT_EQ(e->text(), "c2b");
    comment->BitBtnNextClick();
    EXPECT_EQ(comment->OhmraFiles[2].Comment, "c2b");
    comment->BitBtnPreviousClick();
    EXPECT_EQ(e->text(), "c2b");

    // "<<" and ">>" take the typed text along as well: nothing typed is lost.
    e->setText("kept by <<");
    comment->BitBtnStartClick();
    EXPECT_EQ(comment->CurrentIndex, 1);
    EXPECT_EQ(comment->OhmraFiles[2].Comment, "kept by <<");
    EXPECT_EQ(e->text(), "c1");
    e->setText("c1b");
    comment->BitBtnEndClick();
    EXPECT_EQ(comment->CurrentIndex, 3);
    EXPECT_EQ(comment->OhmraFiles[1].Comment, "c1b");
    comment->BitBtnStartClick();

    // "<" at the first record does nothing at all.
    e->setText("nothing");
    comment->BitBtnPreviousClick();
    EXPECT_EQ(comment->CurrentIndex, 1);
    EXPECT_EQ(comment->OhmraFiles[1].Comment, "c1b");

    // The "File number" caption empties every comment of the range, not the field.
    comment->BitBtnEndClick();
    e->setText("kept");
    QTest::mouseClick(comment->LabelFileNumber_, Qt::LeftButton);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(comment->OhmraFiles[n].Comment, "") << n;
    EXPECT_EQ(e->text(), "kept");
    comment->BitBtnNextClick();
    EXPECT_EQ(comment->OhmraFiles[3].Comment, "kept");

    // A click on the frame goes to the last record.
    comment->BitBtnStartClick();
    QTest::mouseClick(comment->GroupBoxOhmraFileComments, Qt::LeftButton, {}, QPoint(530, 275));
    EXPECT_EQ(comment->CurrentIndex, 3);

    // A comment typed for the file shown and saved straight away is in
    // that file's line.
    comment->BitBtnStartClick();
    e->setText("saved at once");
    chosen = QString::fromStdString(dir.file("c.csv"));
    comment->BitBtnSaveClick();
    EXPECT_TRUE(comment->Saved);
    EXPECT_NE(ReadFile(dir.file("c.csv")).find("\r\n1;123;MOhm;23;45;0;L;saved at once\r\n"), std::string::npos);
    comment->BitBtnStartClick();
    EXPECT_TRUE(comment->Saved);
}

TEST_F(OhmraStoredFiles, ExitAsksWhenNotSavedAndFailuresAreReported)
{
    Read("1", "3");
    comment->BitBtnNextClick();
    ASSERT_FALSE(comment->Saved);

    // A save that fails says so with its number.
    chosen = QString::fromStdString(dir.file("missing/x.csv"));
    comment->BitBtnSaveClick();
    ASSERT_GE(prompt.shown().size(), 3u);
    EXPECT_EQ(prompt.shown().back().text, "Error occured, data not saved ! Error no.: -3");
    EXPECT_EQ(prompt.shown().back().caption, "Data error !");
    EXPECT_FALSE(comment->Saved);

    // A cancelled dialog: nothing at all.
    const size_t before = prompt.shown().size();
    chosen.clear();
    comment->BitBtnSaveClick();
    EXPECT_EQ(prompt.shown().size(), before);

    prompt.Press(TPromptResult::Cancel);
    comment->BitBtnExitClick();
    EXPECT_EQ(prompt.shown().back().text, "File is not saved yet, cancel it anyway?");
    EXPECT_EQ(prompt.shown().back().caption, "Query");
    EXPECT_TRUE(comment->isVisible());

    // Closing by the frame asks the same and, on OK, returns to the measurement window.
    prompt.Press(TPromptResult::Ok);
    comment->close();
    EXPECT_FALSE(comment->isVisible());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isEnabled());
}

// --- Exit ----------------------------------------------------------------------------

TEST_F(OhmraWindow, ExitHandsBackToTheMainWindow)
{
    Init();
    form->BitBtn_startClick();
    form->BitBtn_exitClick();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(displayClosed, 1);
    EXPECT_TRUE(state.StopFlag);
    EXPECT_FALSE(bench.port.Active());
    EXPECT_EQ(form->Label_Ohmra_Me->text(), "");
    EXPECT_TRUE(form->BitBtn_init->isEnabled());
}

TEST_F(OhmraWindow, ExitDuringTheCountdownEndsStartQuietly)
{
    Init();
    form->BitBtn_startClick();
    NewCommands();
    bench.Sim([](SimOhmra& s) { s.MsPerTimerSecond = 1000; });
    TimerOn(form->ComboBox_Ohmra_Time->findText("10 sec"), false);
    Later([this] { form->close(); }, 100);
    form->BitBtn_startClick();   // returns without touching the closed port
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(bench.port.Active());
    EXPECT_EQ(returned, 1);
}

} // namespace
