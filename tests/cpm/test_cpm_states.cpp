// The decay window's one state against every order of clicks: the state
// table itself, three orders of clicks that once let two exchanges share
// the line or saved the wrong result, and a seeded random user with the
// simulated monitor misbehaving at random moments. A failing seed is
// printed; ULMARO_STATES_SEED replays one, ULMARO_STATES_ACTIONS sets how
// many actions a sequence takes (900 by default: 300 for each of the decay
// window, the read-out's dialog and the chart, which one user drives in one
// sequence; 5000 for the long run), ULMARO_STATES_TRACE prints each action.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmWindowState.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/Descriptors.h"
#include "tests/support/DriverHost.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/SimulatedMonitor.h"
#include "tests/support/RandomRun.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sstream>

namespace {

using St = TCpmWindowState;

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class CpmStates : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        oldHost = SetHost(&host);
        MainLink().ReturnToMain = [this] { ++returns; };
        FormChartCPM = new TFormChartCPM();
        FormReadCPMFiles = new TFormReadCPMFiles();
        CPMSetup = new TCPMSetup();
        CPMSetup->ChooseSaveFile = [this](const QString&, QString& name) {
            if (!acceptSave)
                return false;
            name = QString::fromStdString(dir.file(name.startsWith("Karvo_results") ? "results.csv" : "files.csv"));
            return true;
        };
        host.onProcess = [this] {
            if (nested)
                nested();
        };
        Connect();
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        TearDownMonitorWindows(port, peer);
        SetHost(oldHost);
    }
    // A monitor on a fresh line (after a hang-up: the cable back in).
    void Connect()
    {
        ConnectSimulatedMonitor(port, sim, peer, 400, 500);
        if (!CpmDecay)
            CreateCpmInstances(port);
        CPMSetup->show();
    }
    void Sim(const std::function<void(SimKarvo&)>& fn)
    {
        peer->WithInstrument([&] { fn(*sim); });
    }
    // What the monitor has received that belongs to a command.
    size_t CommandsSeen()
    {
        size_t n = 0;
        Sim([&](SimKarvo& s) { n = s.Commands.size() + size_t(s.Enqs); });
        return n;
    }
    // The menu entry: the port closed and opened again, the window shown.
    void Reopen()
    {
        port.Close();
        try {
            port.Open();
        } catch (...) {
        }
        CPMSetup->show();
    }
    // A click the way a user makes it: refused by a disabled button.
    static void Click(QAbstractButton* b)
    {
        if (b->isVisible())
            b->click();
    }

    // Every control shows what the state table says.
    void ExpectControlsMatchState(const std::string& where)
    {
        const TCpmControls c = CpmControlsFor(CPMSetup->State(), CPMSetup->UnsavedResult().has_value());
        const std::pair<QWidget*, bool> enabled[] = {
            {CPMSetup->BitBtnStart, c.Start},       {CPMSetup->BitBtnChart, c.Chart},
            {CPMSetup->BitBtnBreak, c.Break},       {CPMSetup->BitBtnReadFile, c.ReadFile},
            {CPMSetup->BitBtnInfo, c.Info},         {CPMSetup->GroupBoxsetup, c.Setup},
            {CPMSetup->ButtonClearDisplay, c.ClearDisplay}, {CPMSetup->BitBtnCancel, c.Exit},
            {CPMSetup->BitBtnSaveResult, c.SaveResult}};
        for (const auto& [w, on] : enabled)
            EXPECT_EQ(w->isEnabled(), on) << where << ": " << w->objectName().toStdString() << " in state "
                                          << CpmStateName(CPMSetup->State());
        EXPECT_EQ(CPMSetup->BitBtnOK->isVisibleTo(CPMSetup), c.CommentEntry) << where;
        EXPECT_EQ(CPMSetup->BitBtnSaveResult->isVisibleTo(CPMSetup), !c.CommentEntry) << where;
    }

    TempDir dir;
    TMainState state;
    // A loop that never ends fails well inside the runner's time-out.
    DriverHost host{20, 450};
    IHost* oldHost = nullptr;
    std::unique_ptr<SimKarvo> sim;
    std::unique_ptr<PtyPeer> peer;
    TComPort port;
    ScriptedPrompt prompt;
    std::function<void()> nested;
    bool acceptSave = true;
    int returns = 0;
};

// Runs a handler the way the framework does: a port error is shown in its
// error box and ends the click, nothing more.
int Errors = 0;
void Guarded(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RunawayLoop&) {
        throw;
    } catch (const std::exception&) {
        ++Errors;
    }
}

} // namespace

TEST(CpmStateTable, EveryActionIsAllowedExactlyWhereItsControlIsEnabled)
{
    const St states[] = {St::Idle, St::Measuring, St::Breaking, St::Exchanging, St::ReadingFiles, St::Commenting};
    for (St s : states)
        for (bool result : {false, true}) {
            const TCpmControls c = CpmControlsFor(s, result);
            SCOPED_TRACE(CpmStateName(s));
            // Start, and every other command on the line, only when nothing runs.
            const bool idle = s == St::Idle;
            EXPECT_EQ(c.Start, idle);
            EXPECT_EQ(c.Info, idle);
            EXPECT_EQ(c.Setup, idle);
            EXPECT_EQ(c.ReadFile, idle);
            EXPECT_EQ(c.Chart, idle);
            EXPECT_EQ(c.SaveResult, idle && result);
            EXPECT_EQ(CpmActionAllowed(s, TCpmAction::Start, result), c.Start);
            EXPECT_EQ(CpmActionAllowed(s, TCpmAction::ReadSetup, result), c.Setup);
            EXPECT_EQ(CpmActionAllowed(s, TCpmAction::OkSave, result), c.CommentEntry);
            // A way out wherever the window waits for the monitor or the user,
            // except in the middle of a run before Break.
            EXPECT_EQ(c.Exit, s != St::Measuring && s != St::Exchanging);
            EXPECT_EQ(c.Break, s == St::Idle || s == St::Measuring || s == St::Commenting);
            EXPECT_TRUE(c.ClearDisplay || s == St::Exchanging);
        }
}

// Read File, then Break while the read-out waits: nothing may start a run or
// another command in between its "r3" exchanges.
TEST_F(CpmStates, BreakDuringTheReadOutLetsNoOtherExchangeOnTheLine)
{
    bool tried = false;
    size_t before = 0, after = 0;
    nested = [&] {
        TFormReadCPMFiles* d = FormReadCPMFiles;
        if (d->State() == TCpmFilesDialogState::AskingRange && !d->OKFlag) {
            d->BitBtnOKClick();
            return;
        }
        if (!tried && CPMSetup->MemoDisplay->toPlainText().contains("Reading file no. : 01")) {
            tried = true;
            Click(CPMSetup->BitBtnBreak);
            EXPECT_FALSE(CPMSetup->BitBtnStart->isEnabled());
            EXPECT_FALSE(CPMSetup->BitBtnInfo->isEnabled());
            EXPECT_FALSE(CPMSetup->GroupBoxsetup->isEnabled());
            before = CommandsSeen();
            Click(CPMSetup->BitBtnStart);
            Click(CPMSetup->BitBtnInfo);
            Click(CPMSetup->ButtonReadSetup);
            // A click queued before the buttons were disabled reaches the handlers.
            CPMSetup->BitBtnStartClick();
            CPMSetup->BitBtnInfoClick();
            CPMSetup->ButtonReadSetupClick();
            after = CommandsSeen();
        }
        if (d->State() == TCpmFilesDialogState::AskingComment && !d->OKFlag)
            d->BitBtnOKClick();
    };
    CPMSetup->BitBtnReadFileClick();
    nested = nullptr;
    EXPECT_TRUE(tried);
    EXPECT_EQ(after, before);
    EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').back(),
              "EEProm data from CPM stored successful in data file !");
    EXPECT_EQ(CPMSetup->State(), St::Idle);
    ExpectControlsMatchState("after the read-out");
}

// Break, then Exit during a run; the menu opens the window again: idle, with
// the idle controls usable, and a run goes through.
TEST_F(CpmStates, BreakThenExitDuringARunReopensIdle)
{
    Sim([](SimKarvo& s) { s.DecayTauMs = 1e9; });
    int frames = 0;
    nested = [&] {
        if (CPMSetup->State() == St::Measuring && CPMSetup->GroupBoxOffset->title() == "Plate voltage" &&
            ++frames == 3) {
            Click(CPMSetup->BitBtnBreak);
            EXPECT_EQ(CPMSetup->State(), St::Breaking);
            Click(CPMSetup->BitBtnCancel);
        }
    };
    CPMSetup->BitBtnStartClick();
    nested = nullptr;
    EXPECT_EQ(returns, 1);
    EXPECT_FALSE(CPMSetup->isVisible());
    EXPECT_FALSE(port.Active());
    Sim([](SimKarvo& s) { s.DecayTauMs = 150; });
    Reopen();
    EXPECT_EQ(CPMSetup->State(), St::Idle);
    ExpectControlsMatchState("reopened");
    EXPECT_TRUE(CPMSetup->BitBtnStart->isEnabled());
    EXPECT_TRUE(CPMSetup->BitBtnCancel->isEnabled());
    CPMSetup->BitBtnStartClick();
    EXPECT_EQ(CPMSetup->MemoDisplay->toPlainText().split('\n').back(), "Decay time measuring successful finished !");
}

// Read File between a run and "Save results": the saved line is the run's.
TEST_F(CpmStates, ReadOutBetweenARunAndItsSaveSavesTheRun)
{
    CPMSetup->SetSelectModeIndex(1); // POS
    CPMSetup->BitBtnStartClick();
    ASSERT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    const QString pos = CPMSetup->LabelPosDecayTime->text().chopped(4);
    nested = [&] {
        TFormReadCPMFiles* d = FormReadCPMFiles;
        if (d->State() != TCpmFilesDialogState::Hidden && !d->OKFlag)
            d->BitBtnOKClick();
    };
    CPMSetup->BitBtnReadFileClick(); // the last stored file is a NEG run
    ASSERT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    nested = [&] {
        if (CPMSetup->State() == St::Commenting) {
            CPMSetup->Edit1->setText("run");
            Click(CPMSetup->BitBtnOK);
        }
    };
    CPMSetup->BitBtnSaveResultClick();
    nested = nullptr;
    const QStringList lines = QString::fromLatin1(ReadAll(dir.file("results.csv"))).split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].endsWith(";Pos.;1000;500;20;" + pos + ";0.0;-3.0;run")) << lines[2].toStdString();
}

// The setup write waits for the monitor's 0x05; a monitor that streams
// decay frames instead ends the wait in "Timeout" rather than freezing.
TEST_F(CpmStates, SetupWriteAgainstAStreamingMonitorEndsInATimeout)
{
    Sim([](SimKarvo& s) { s.DecayTauMs = 1e9; });
    C_CPM_EF& cpm = CPMSetup->Cpm();
    cpm.SendCommand("w2");
    Sim([](SimKarvo& s) { s.EnqAnswer = "\x06"; }); // no 0x05 any more
    for (std::string& v : cpm.SetupValues)
        v = "1";
    const auto began = std::chrono::steady_clock::now();
    try {
        cpm.WriteSetup();
        ADD_FAILURE() << "no time-out";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
    cpm.SendBreak();
}

// The seeded random user. After every action: no command reached the
// monitor while another exchange ran, every control matches the table,
// Start is usable exactly when nothing runs, a save writes the run last
// shown complete, and the window can be left and reopened into idle.
TEST_F(CpmStates, RandomClicksAgainstAMisbehavingMonitor)
{
    const TRandomRun run("states", 900);
    const int actions = run.actions;
    std::mt19937 rng(run.seed);
    SCOPED_TRACE(run.Replay());
    const bool trace = std::getenv("ULMARO_STATES_TRACE") != nullptr;
    auto chance = [&](int percent) { return int(rng() % 100) < percent; };

    // Warm up once so that what Qt opens on first use is not counted.
    CPMSetup->BitBtnStartClick();
    CPMSetup->BitBtnCancelClick();
    port.Close();
    const int fds = OpenDescriptors();
    Reopen();

    std::vector<int> exchangeStack;
    int done = 0, depth = 0, refused = 0, overlaps = 0, faults = 0, saves = 0, runsComplete = 0;
    Errors = 0;
    struct Shown {
        QString mode, pos, neg, offset;
    };
    // The run last shown complete (the warm-up's, in AUTO).
    std::optional<Shown> complete = Shown{QStringLiteral("Auto"), CPMSetup->LabelPosDecayTime->text().chopped(4),
                                          CPMSetup->LabelNegDecayTime->text().chopped(4),
                                          CPMSetup->LabelOffset->text().chopped(2)};
    bool failed = false;

    std::function<void()> act;
    auto check = [&](const char* what) {
        if (failed)
            return;
        ExpectControlsMatchState(what);
        int exchangesLive = 0;
        for (const int exitsThen : exchangeStack)
            exchangesLive += exitsThen == returns;
        if (exchangesLive > 0 && CPMSetup->isVisible()) {
            EXPECT_FALSE(CPMSetup->BitBtnStart->isEnabled()) << what;
        }
        if (!CPMSetup->isVisible() && !FormChartCPM->isVisible()) {
            EXPECT_EQ(CPMSetup->State(), St::Idle) << what;
        }
        // The dialog shows exactly while the read-out asks; the chart exactly
        // while its state says so, and then in place of an idle decay window.
        TFormReadCPMFiles* d = FormReadCPMFiles;
        EXPECT_EQ(d->isVisible(), d->State() != TCpmFilesDialogState::Hidden) << what;
        if (d->isVisible()) {
            EXPECT_EQ(CPMSetup->State(), St::ReadingFiles) << what;
            EXPECT_EQ(d->MaskEditStart->isVisibleTo(d), d->State() == TCpmFilesDialogState::AskingRange) << what;
            EXPECT_EQ(d->GroupBoxInputComment->isVisibleTo(d), d->State() == TCpmFilesDialogState::AskingComment)
                << what;
        }
        EXPECT_EQ(FormChartCPM->isVisible(), FormChartCPM->State() == TCpmChartState::Shown) << what;
        if (FormChartCPM->isVisible()) {
            EXPECT_FALSE(CPMSetup->isVisible()) << what;
            EXPECT_EQ(CPMSetup->State(), St::Idle) << what;
        }
        failed = ::testing::Test::HasFailure();
    };
    // An exchange handler on the stack, with the number of Exits made when
    // it began: it runs as long as the window was not left since.
    auto exchange = [&](const std::function<void()>& f) {
        exchangeStack.push_back(returns);
        Guarded(f);
        exchangeStack.pop_back();
    };
    auto modeText = [] {
        switch (CPMSetup->SelectModeIndex()) {
        case 0: return QStringLiteral("Auto");
        case 1: return QStringLiteral("Pos.");
        default: return QStringLiteral("Neg.");
        }
    };

    act = [&] {
        if (done >= actions || failed)
            return;
        ++done;
        const bool inside = depth > 0;
        const St before = CPMSetup->State();
        const size_t seen = CommandsSeen();
        ++depth;
        const int pick = int(rng() % 21);
        TFormReadCPMFiles* d = FormReadCPMFiles;
        const char* what = "?";
        switch (pick) {
        case 0:
        case 1: {
            what = "Start";
            if (!CPMSetup->BitBtnStart->isEnabled())
                break;
            CPMSetup->SetSelectModeIndex(int(rng() % 3));
            const QString mode = modeText();
            exchange([&] {
                const int returnsBefore = returns;
                Click(CPMSetup->BitBtnStart);
                if (returns == returnsBefore && CPMSetup->isVisible() &&
                    CPMSetup->MemoDisplay->toPlainText().endsWith("Decay time measuring successful finished !") &&
                    CPMSetup->UnsavedResult()) {
                    ++runsComplete;
                    complete = Shown{mode, CPMSetup->LabelPosDecayTime->text().chopped(4),
                                     CPMSetup->LabelNegDecayTime->text().chopped(4),
                                     CPMSetup->LabelOffset->text().chopped(2)};
                }
            });
            break;
        }
        case 2: what = "Break"; Guarded([] { Click(CPMSetup->BitBtnBreak); }); break;
        case 3: what = "Info"; exchange([] { Click(CPMSetup->BitBtnInfo); }); break;
        case 4: what = "Read setup"; exchange([] { Click(CPMSetup->ButtonReadSetup); }); break;
        case 5: what = "Clear"; Click(CPMSetup->ButtonClearDisplay); break;
        case 6: what = "Exit"; Guarded([] { Click(CPMSetup->BitBtnCancel); }); break;
        case 7:
            what = "reopen";
            if (!CPMSetup->isVisible() && !FormChartCPM->isVisible()) {
                const bool gone = peer->HungUp();
                if (gone && !inside)
                    Connect(); // the cable back in
                else
                    Reopen();
                EXPECT_EQ(CPMSetup->State(), St::Idle) << "reopened";
                EXPECT_TRUE(CPMSetup->BitBtnStart->isEnabled()) << "reopened";
            }
            break;
        case 8: {
            what = "Save results";
            acceptSave = chance(80);
            // Counted at the click: a queued click may have saved in between,
            // and a save made further down (after Exit and reopening) was
            // checked there.
            auto resultLines = [&] {
                const QStringList lines =
                    QString::fromLatin1(ReadAll(dir.file("results.csv"))).split("\r\n", Qt::SkipEmptyParts);
                return std::pair{lines.size() > 2 ? size_t(lines.size() - 2) : size_t(0), lines};
            };
            const size_t linesBefore = resultLines().first;
            const auto expected = complete;
            Guarded([] { Click(CPMSetup->BitBtnSaveResult); });
            const auto [now, lines] = resultLines();
            if (now > linesBefore) {
                ++saves;
                EXPECT_EQ(now, linesBefore + 1);
                ASSERT_TRUE(expected.has_value()) << "a save with no complete run";
                const QStringList f = lines.back().split(';');
                ASSERT_GE(f.size(), 9);
                EXPECT_EQ(f[2], expected->mode);
                EXPECT_EQ(f[6], expected->pos);
                EXPECT_EQ(f[7], expected->neg);
                EXPECT_EQ(f[8], expected->offset);
            }
            break;
        }
        case 9: what = "Read File"; exchange([] { Click(CPMSetup->BitBtnReadFile); }); break;
        case 10: what = "View Chart"; Click(CPMSetup->BitBtnChart); break;
        case 11: what = "chart Exit"; Click(FormChartCPM->BitBtn_Exit); break;
        case 12: what = "type a comment"; CPMSetup->Edit1->setText(QString::number(rng() % 1000)); break;
        case 13: what = "OK save"; Click(CPMSetup->BitBtnOK); break;
        case 14: what = "Cancel save"; Click(CPMSetup->BitBtnCancelSave); break;
        case 15:
        case 16:
            what = "dialog OK";
            if (d->isVisible()) {
                if (d->State() == TCpmFilesDialogState::AskingRange) {
                    d->MaskEditStart->setText(QString::number(1 + rng() % 3));
                    d->MaskEditStopp->setText(QString::number(rng() % 5));
                } else {
                    d->TextCommentFile->setText("c" + QString::number(rng() % 100));
                    d->CheckBoxSameComment->setChecked(chance(20));
                }
                Click(d->BitBtnOK);
            }
            break;
        case 17: what = "dialog Abort"; if (d->isVisible()) Click(d->BitBtnAbort); break;
        case 18: {
            // A click that was queued before its button went grey.
            what = "queued click";
            const std::function<void()> handlers[] = {
                [] { CPMSetup->BitBtnStartClick(); }, [] { CPMSetup->BitBtnInfoClick(); },
                [] { CPMSetup->ButtonReadSetupClick(); }, [] { CPMSetup->BitBtnReadFileClick(); },
                [] { CPMSetup->BitBtnSaveResultClick(); }, [] { CPMSetup->BitBtnChartClick(); }};
            const size_t h = rng() % 6;
            const bool allowedNow = CPMSetup->State() == St::Idle && CPMSetup->isVisible() && h != 4 && h != 5;
            if (allowedNow)
                break; // that would be a real click: the cases above make those
            const size_t seenBefore = CommandsSeen();
            Guarded(handlers[h]);
            if (CommandsSeen() != seenBefore)
                ADD_FAILURE() << "a refused click reached the monitor";
            ++refused;
            break;
        }
        default: {
            // The monitor misbehaves for a while.
            what = "fault";
            ++faults;
            const int f = int(rng() % 8);
            Sim([&](SimKarvo& s) {
                switch (f) {
                case 0: s.Silent = true; break;
                case 1: s.InRun = SimKarvo::RunFault::HalfFrame; break;
                case 2: s.InRun = SimKarvo::RunFault::Silence; break;
                case 3: s.HalfReply = true; break;
                case 4:
                case 6:
                case 7: s.Silent = false; s.InRun = SimKarvo::RunFault::None; break;
                default: break;
                }
            });
            if (f == 5 && chance(20))
                peer->HangUpNow();
            break;
        }
        }
        --depth;
        if (trace)
            std::printf("%d %*s%s: %s -> %s\n", done, depth * 2, "", what, CpmStateName(before),
                        CpmStateName(CPMSetup->State()));
        // A command on the line from a click made while another exchange ran.
        if (inside && before != St::Idle && CommandsSeen() != seen) {
            ++overlaps;
            ADD_FAILURE() << what << " in state " << CpmStateName(before) << " sent a command";
        }
        check(what);
    };
    // Nested clicks: now and then while a handler lets the GUI process messages.
    nested = [&] {
        // A user waited for (a comment, a file range) answers sooner or later.
        const bool asked = CPMSetup->State() == St::Commenting || FormReadCPMFiles->isVisible();
        if (done >= actions || failed) {
            // The user's actions are used up (or the test has failed) while
            // the window waits for an answer: the user declines, so that
            // the waiting loop ends instead of waiting for ever.
            if (CPMSetup->State() == St::Commenting)
                Click(CPMSetup->BitBtnCancelSave);
            else if (FormReadCPMFiles->isVisible())
                Click(FormReadCPMFiles->BitBtnAbort);
            return;
        }
        if (depth < 3 && chance(asked ? 30 : 4))
            act();
    };
    while (done < actions && !failed)
        act();
    nested = nullptr;

    // The window can always be left and opened again into idle.
    Sim([](SimKarvo& s) { s.Silent = false; });
    if (CPMSetup->State() == St::Commenting)
        Click(CPMSetup->BitBtnCancelSave);
    if (FormChartCPM->isVisible())
        Click(FormChartCPM->BitBtn_Exit);
    if (CPMSetup->isVisible())
        Guarded([] { Click(CPMSetup->BitBtnCancel); });
    EXPECT_FALSE(CPMSetup->isVisible());
    port.Close();
    EXPECT_EQ(DescriptorsSettledAt(fds), fds) << DescriptorList();
    if (peer->HungUp())
        Connect();
    else
        Reopen();
    EXPECT_EQ(CPMSetup->State(), St::Idle);
    ExpectControlsMatchState("the end");
    std::printf("states: %d actions, %d complete runs, %d saves, %d refused queued clicks, %d faults, %d error boxes, "
                "%d overlaps\n",
                done, runsComplete, saves, refused, faults, Errors, overlaps);
}
