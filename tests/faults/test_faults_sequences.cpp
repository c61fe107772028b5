// Chart, Display, Help and Exit in the orders a new user tries them, with
// the charge plate monitor as the reading: whatever the order, the program
// ends in a consistent state. A Start button is enabled exactly when its
// loop does not run, the selection menus are usable exactly when no loop
// and no chart view needs them held, and no loop runs inside another.
#include "acquisition/ChartFile.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TApplication.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/RandomRun.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Real time (the monitor needs it), with a hook in each message-processing
// step of a loop, where the user's clicks land.
class ClickHost final : public IHost {
public:
    ClickHost() : old_(SetHost(this)) {}
    ~ClickHost() override { SetHost(old_); }
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override { RealHost().Sleep(ms < 5000 ? ms : 1); }
    void ProcessMessages() override
    {
        ++depth;
        QCoreApplication::processEvents();
        if (onProcess) {
            auto step = onProcess;
            step();
        }
        --depth;
    }
    std::function<void()> onProcess;
    int depth = 0;

private:
    IHost* old_;
};

class Sequences : public ::testing::Test {
protected:
    Sequences()
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
        MainForm->show();
        peer.Host(sim).Start();
        FoCom->ComPort1->DeviceName(peer.SlavePath());
        FoCom->ComPort1->Timeouts->ReadConstant(1000);
        MainForm->DeviceItems["Plate_N400V"]->trigger();
    }
    ~Sequences() override
    {
        host.onProcess = nullptr;
        DestroyAllWindows();
        peer.Stop();
        SetSettingsDirectoryOverride("");
    }
    QAction* ViewMenu() const { return MainForm->View->menuAction(); }
    QAction* DeviceMenu() const { return MainForm->Device->menuAction(); }
    size_t Points() const { return MainForm->Chart1->PointCount(); }

    // Nothing runs any more: each Start usable, the menus as the shown view allows.
    void ExpectAtRest(const char* where)
    {
        SCOPED_TRACE(where);
        EXPECT_EQ(host.depth, 0);
        const bool chartView = !MainForm->Chart1->isHidden();
        const bool helpOpen = FormHelp->isVisible();
        if (chartView) {
            EXPECT_TRUE(MainForm->b_Start->isEnabled());
        }
        EXPECT_TRUE(FormDisplay->b_Start->isEnabled());
        EXPECT_EQ(DeviceMenu()->isEnabled(), !chartView && !helpOpen);
        EXPECT_EQ(ViewMenu()->isEnabled(), !chartView && !helpOpen);
        EXPECT_EQ(MainForm->Setup->menuAction()->isEnabled(), !helpOpen);
    }

    TempDir dir;
    ClickHost host;
    SimKarvo sim;
    PtyPeer peer;
};

} // namespace

TEST_F(Sequences, HelpOkUnderARunningChartKeepsTheDisplayOutOfReach)
{
    MainForm->Grafik1->trigger();
    bool viewUsableInLoop = true, deviceUsableInLoop = true, startUsableInLoop = true;
    int step = 0;
    host.onProcess = [&] {
        if (Points() < 2)
            return;
        switch (step++) {
        case 0:
            MainForm->Help->trigger();
            break;
        case 1:
            FormHelp->HelpOKButton->click();
            viewUsableInLoop = ViewMenu()->isEnabled();
            deviceUsableInLoop = DeviceMenu()->isEnabled();
            startUsableInLoop = MainForm->b_Start->isEnabled();
            // What a user would click next, if the View menu let them: the
            // display window's modal loop inside the chart loop (closed
            // again at once, so the case ends either way).
            if (ViewMenu()->isEnabled()) {
                QTimer::singleShot(100, [] { FormDisplay->bCancel->click(); });
                MainForm->Display->trigger();
            }
            break;
        case 2:
            MainForm->b_Stop_->click();
            break;
        default:
            break;
        }
    };
    MainForm->b_Start->click();
    host.onProcess = nullptr;
    EXPECT_FALSE(viewUsableInLoop);
    EXPECT_FALSE(deviceUsableInLoop);
    EXPECT_FALSE(startUsableInLoop);
    EXPECT_FALSE(FormDisplay->isVisible());
    ExpectAtRest("chart stopped");

    MainForm->b_Cancel->click();
    ExpectAtRest("start view");
}

TEST_F(Sequences, HelpOpenWhileTheChartViewIsLeft)
{
    MainForm->Grafik1->trigger();
    MainForm->Help->trigger();
    ExpectAtRest("chart view under help");
    // Exit of the chart view while help is still open: the menus wait for OK.
    MainForm->b_Cancel->click();
    ExpectAtRest("start view under help");
    FormHelp->HelpOKButton->click();
    ExpectAtRest("start view");

    // Help in the idle chart view, then OK: the chart keeps the menus.
    MainForm->Grafik1->trigger();
    MainForm->Help->trigger();
    FormHelp->HelpOKButton->click();
    ExpectAtRest("chart view after help");
    MainForm->b_Cancel->click();
    ExpectAtRest("start view again");
}

TEST_F(Sequences, DisplayAfterAChartRunAndChartAfterTheDisplay)
{
    // Chart: run, stop, exit.
    MainForm->Grafik1->trigger();
    host.onProcess = [&] {
        if (Points() >= 2)
            MainForm->b_Stop_->click();
    };
    MainForm->b_Start->click();
    MainForm->b_Cancel->click();
    ExpectAtRest("after the chart");

    // Display: run, stop, exit (its window is modal, so the clicks happen
    // from inside its own event loop).
    int samples = 0;
    QTimer::singleShot(0, [&] {
        host.onProcess = [&] {
            if (++samples == 4)
                FormDisplay->b_Stop->click();
        };
        FormDisplay->b_Start->click();
        host.onProcess = nullptr;
        EXPECT_TRUE(FormDisplay->b_Start->isEnabled());
        FormDisplay->bCancel->click();
    });
    MainForm->Display->trigger();
    EXPECT_GE(samples, 4);
    ExpectAtRest("after the display");

    // The chart once more: Start usable, and it runs.
    MainForm->Grafik1->trigger();
    ASSERT_TRUE(MainForm->b_Start->isEnabled());
    const size_t before = Points();
    host.onProcess = [&] {
        if (Points() >= before + 2)
            MainForm->b_Stop_->click();
    };
    MainForm->b_Start->click();
    host.onProcess = nullptr;
    EXPECT_GE(Points(), before + 2);
    ExpectAtRest("chart again");
    MainForm->b_Cancel->click();
    ExpectAtRest("start view at the end");
}

TEST_F(Sequences, ExitOfTheChartViewWhileItsLoopRuns)
{
    MainForm->Grafik1->trigger();
    host.onProcess = [&] {
        if (Points() >= 2)
            MainForm->b_Cancel->click();
    };
    MainForm->b_Start->click();
    host.onProcess = nullptr;
    ExpectAtRest("left while running");
    // Back in: Start works.
    MainForm->Grafik1->trigger();
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
}

// The seeded random user of the main window, the display, the help and the
// port window, clicking only what is on screen, enabled and not behind a modal
// window, from the top, from inside the loops' waits and from inside the
// modal loops, while the monitor's line fails now and then. After every
// click: the selection menus are out of reach while the chart view or help
// is shown, and the chart gains no point while its Start is usable. In the
// end every window winds down to rest, nothing samples any more, a new
// chart run works, and every recording reads back. ULMARO_STATES_SEED replays a seed, ULMARO_STATES_ACTIONS
// sets the number of clicks.
TEST_F(Sequences, RandomUserLeavesEveryWindowSound)
{
    const TRandomRun run("main window", 80);
    const int actions = run.actions;
    std::mt19937 rng(run.seed);
    SCOPED_TRACE(run.Replay());
    ScriptedPrompt prompt;

    TMainForm& m = *MainForm;
    const auto modal = [] { return QApplication::activeModalWidget(); };
    const auto reachable = [&](QWidget* w) {
        return w->isVisible() && w->isEnabled() && (!modal() || modal() == w->window());
    };
    // A menu entry with every menu above it enabled and shown.
    const auto menuReachable = [&](QAction* a) {
        if (modal() || !m.isEnabled())
            return false;
        for (QAction* x = a; x;) {
            if (!x->isEnabled() || !x->isVisible())
                return false;
            QAction* up = nullptr;
            for (QObject* o : x->associatedObjects())
                if (auto* menu = qobject_cast<QMenu*>(o))
                    up = menu->menuAction();
            x = up;
        }
        return true;
    };

    int done = 0, chartStarts = 0, clears = 0;
    bool failed = false;
    // The chart's last observation with its Start usable.
    struct Idle {
        bool valid = false;
        size_t points = 0;
        int starts = 0, clears = 0;
    } idle;
    const auto check = [&](const char* what) {
        if (failed)
            return;
        SCOPED_TRACE(what);
        if (!m.Chart1->isHidden()) {
            EXPECT_FALSE(DeviceMenu()->isEnabled());
            EXPECT_FALSE(ViewMenu()->isEnabled());
        }
        if (FormHelp->isVisible()) {
            EXPECT_FALSE(DeviceMenu()->isEnabled());
            EXPECT_FALSE(ViewMenu()->isEnabled());
        }
        if (m.b_Start->isVisible() && m.b_Start->isEnabled()) {
            if (idle.valid && idle.starts == chartStarts && idle.clears == clears) {
                EXPECT_EQ(Points(), idle.points) << "the chart samples while its Start is usable";
            }
            idle = {true, Points(), chartStarts, clears};
        } else {
            idle.valid = false;
        }
        failed = ::testing::Test::HasFailure();
    };

    // What the user may do: a name, whether it is on screen and usable now,
    // and the click. Entries that appear twice are picked twice as often.
    struct Choice {
        const char* what;
        std::function<bool()> can;
        std::function<void()> click;
    };
    const auto button = [&](const char* what, QPushButton* const& b, int* counter = nullptr) {
        return Choice{what, [&reachable, &b] { return reachable(b); }, [&b, counter] {
                          if (counter)
                              ++*counter;
                          b->click();
                      }};
    };
    const auto entry = [&](const char* what, QAction* a, int* counter = nullptr) {
        return Choice{what, [&menuReachable, a] { return menuReachable(a); }, [a, counter] {
                          if (counter)
                              ++*counter;
                          a->trigger(); // Display is modal: the ticks and the loop hook act inside
                      }};
    };
    std::vector<Choice> choices;
    for (const char* range : {"Plate_N400V", "Plate_N1000V", "Arvo_N200V", "E_Feld_N20kVm"})
        choices.push_back(entry(range, m.DeviceItems.value(range)));
    for (int twice = 0; twice < 2; ++twice) {
        choices.push_back(entry("View > Chart", m.Grafik1, &clears));
        choices.push_back(button("chart Start", m.b_Start, &chartStarts));
        choices.push_back(button("chart Stop", m.b_Stop_));
    }
    choices.push_back(entry("View > Display", m.Display));
    choices.push_back(entry("?", m.Help));
    choices.push_back(button("help OK", FormHelp->HelpOKButton));
    choices.push_back(button("chart Reset", m.b_Reset, &clears)); // clears the trace when stopped
    choices.push_back(button("chart Exit", m.b_Cancel, &clears));
    choices.push_back(button("display Start", FormDisplay->b_Start));
    choices.push_back(button("display Break", FormDisplay->b_Stop));
    choices.push_back(button("display Reset", FormDisplay->b_Reset));
    choices.push_back(button("display Exit", FormDisplay->bCancel));
    // The port window beside it all, and its line-parameter dialog (modal),
    // left by Cancel so that the monitor's line stays as it is.
    choices.push_back(entry("Setup > Com Port", m.Com1));
    choices.push_back(button("port window OK", Setup_COM->BtOK));
    choices.push_back(button("line parameters", Setup_COM->BtSetComPara));
    const auto otherDialog = [&]() -> QDialog* {
        auto* d = qobject_cast<QDialog*>(modal());
        return d && d != FormDisplay && !qobject_cast<QMessageBox*>(d) ? d : nullptr;
    };
    choices.push_back(Choice{"line parameters Cancel", [&] { return otherDialog() != nullptr; },
                             [&] { otherDialog()->reject(); }});
    // The chart's own view commands, while it samples or not.
    for (QAction* a : {m.TeeCommander1->ZoomButton, m.TeeCommander1->PanButton, m.TeeCommander1->FitAllButton,
                       m.TeeCommander1->ResetViewButton, m.TeeCommander1->CursorButton})
        choices.push_back(Choice{"chart view command",
                                 [&m, &modal, a] {
                                     return !modal() && m.TeeCommander1->isVisible() && a->isVisible() &&
                                            a->isEnabled();
                                 },
                                 [a] { a->trigger(); }});
    // The monitor's line goes quiet or noisy now and then (each read then
    // fails with the error box), and comes back.
    const auto line = [&](const char* what, bool silent, bool garbage) {
        return Choice{what, [] { return true; }, [this, silent, garbage] {
                          peer.WithInstrument([&] {
                              sim.Silent = silent;
                              sim.Garbage = garbage;
                          });
                      }};
    };
    choices.push_back(line("monitor silent", true, false));
    choices.push_back(line("monitor noisy", false, true));
    choices.push_back(line("monitor well", false, false));
    choices.push_back(line("monitor well", false, false));
    // The error box is modal, as in the program: its OK is all there is.
    const auto errorBox = [&] { return qobject_cast<QMessageBox*>(modal()); };
    for (int thrice = 0; thrice < 3; ++thrice)
        choices.push_back(Choice{"error box OK", [&] { return errorBox() != nullptr; },
                                 [&] { errorBox()->button(QMessageBox::Ok)->click(); }});
    std::map<std::string, int> performed;

    std::function<void()> act;
    // Past the count: whatever still runs is stopped, whatever is open closed.
    const auto windDown = [&] {
        if (QMessageBox* box = errorBox())
            box->button(QMessageBox::Ok)->click();
        else if (QDialog* d = otherDialog())
            d->reject();
        else if (FormDisplay->isVisible())
            FormDisplay->bCancel->click();
        else if (reachable(m.b_Stop_))
            m.b_Stop_->click();
    };
    act = [&] {
        if (done >= actions || failed) {
            windDown();
            return;
        }
        check("before an action");
        const Choice& c = choices[rng() % choices.size()];
        if (!c.can())
            return;
        ++done;
        ++performed[c.what];
        // Where a real click is delivered, an error reaches the user's box
        // and goes no further.
        TApplication::Guarded([&] {
            c.click();
            return true;
        });
        check(c.what);
    };

    // Clicks land inside the loops' message processing and, through the
    // ticks, inside the modal loops (the display, the error box).
    host.onProcess = [&] {
        if (rng() % 100 < 30)
            act();
    };
    // Each tick asks for the next one before it acts, so ticks also come
    // inside the modal loops that its own click opens.
    QObject ticks;
    bool ticking = true;
    std::function<void()> tick = [&] {
        if (!ticking)
            return;
        QTimer::singleShot(5, &ticks, tick);
        act();
    };
    QTimer::singleShot(5, &ticks, tick);
    while (done < actions && !failed)
        act();
    ticking = false;
    host.onProcess = nullptr;
    std::string summary;
    for (const auto& [what, n] : performed)
        summary += " " + what + " " + std::to_string(n) + ",";
    std::printf("performed:%s\n", summary.c_str());
    if (failed)
        return;
    peer.WithInstrument([&] {
        sim.Silent = false;
        sim.Garbage = false;
    });

    // At rest: nothing on the stack, the help and port windows closed.
    if (FormHelp->isVisible())
        FormHelp->HelpOKButton->click();
    if (Setup_COM->isVisible())
        Setup_COM->BtOK->click();
    EXPECT_FALSE(FormDisplay->isVisible());
    EXPECT_TRUE(m.isEnabled());
    ExpectAtRest("after the random user");
    const size_t still = Points();
    EXPECT_FALSE(WaitUntil([&] { return Points() != still; }, 300)) << "a loop still samples after every Start returned";

    // A new chart run works.
    if (m.Chart1->isHidden()) {
        ASSERT_TRUE(menuReachable(m.Grafik1));
        m.Grafik1->trigger();
    }
    ASSERT_TRUE(reachable(m.b_Start));
    const size_t before = Points();
    host.onProcess = [&] {
        if (Points() >= before + 2)
            m.b_Stop_->click();
    };
    m.b_Start->click();
    host.onProcess = nullptr;
    EXPECT_GE(Points(), before + 2);
    ExpectAtRest("after a last run");
    m.b_Cancel->click();
    ExpectAtRest("back at the start view");

    // Every recording the runs left, however they ended, reads back whole.
    const QFileInfoList recordings = QDir(TTeeCommander::RecordingsFolder()).entryInfoList(QDir::Files);
    size_t recorded = 0;
    for (const QFileInfo& f : recordings) {
        TTraceStore store;
        TChartFileInfo info;
        QString error;
        EXPECT_EQ(ReadChartFile(f.filePath(), store, info, error), TChartReadResult::Ok)
            << f.fileName().toStdString() << ": " << error.toStdString();
        recorded += store.Size();
    }
    EXPECT_GE(recorded, 2u); // the last run's points at least
}
