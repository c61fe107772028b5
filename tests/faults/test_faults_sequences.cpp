// Chart, Display, Help and Exit in the orders a new user tries them, with
// the charge plate monitor as the reading: whatever the order, the program
// ends in a consistent state. A Start button is enabled exactly when its
// loop does not run, the selection menus are usable exactly when no loop
// and no chart view needs them held, and no loop runs inside another.
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

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
