// The charge plate monitor's voltmeter and E-field readings: the shared Start
// path of chart and display, the monitor as their sample source, and the
// real windows offscreen against the simulated monitor on a pseudo-terminal.
#include "acquisition/AcquisitionStart.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "core/MainState.h"
#include "cpm/CpmSampleSource.h"
#include "cpm/C_CPM_EF.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

namespace {

// The real clock and pauses (the monitor needs them), with a hook in every
// message-processing step so that a test can press buttons between samples.
class HookedHost final : public IHost {
public:
    HookedHost() : old_(SetHost(this)) {}
    ~HookedHost() override { SetHost(old_); }
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        sleeps.push_back(ms);
        // The converter-missing pause is not waited out in a test.
        if (ms < 5000)
            RealHost().Sleep(ms);
    }
    void ProcessMessages() override
    {
        runaway.Count("ProcessMessages");
        QCoreApplication::processEvents();
        if (onProcess)
            onProcess();
    }
    std::function<void()> onProcess;
    std::vector<unsigned> sleeps;
    // A loop whose way out never comes ends the test instead of hanging it.
    RunawayGuard runaway{50'000'000, 120};

private:
    IHost* old_;
};

// A source whose every step is recorded.
class RecordingSource : public ISampleSource {
public:
    bool Prepare(int code, int range, QString& unit) override
    {
        log += "prepare " + std::to_string(code) + "/" + std::to_string(range) + ";";
        if (reportUnit)
            unit = *reportUnit;
        if (failPrepare)
            throw std::runtime_error("Timeout");
        return present;
    }
    double ReadSample(int) override { return 1; }
    void Finish() override { log += "finish;"; }
    void Release() override { log += "release;"; }
    std::string log;
    bool present = true;
    bool failPrepare = false;
    std::optional<QString> reportUnit;
};

class StartPathTest : public ::testing::Test {
protected:
    StartPathTest()
    {
        SetEndProgramHook([this](int code) { exitCodes.push_back(code); });
        window.ShowConverterError = [this] { log += "error box;"; };
        window.BeforePrepare = [this](int) { log += "before prepare;"; };
        window.BeforeLoop = [this](int) { log += "before loop;"; };
        window.RunLoop = [this](const QString& unit) {
            log += "loop " + unit.toStdString() + ";";
            if (failLoop)
                throw std::runtime_error("Timeout");
        };
        state.UnitText = "V";
        state.StopFlag = true;
    }
    ~StartPathTest() override { SetEndProgramHook(nullptr); }
    TMainState state;
    HookedHost host;
    ScriptedPrompt prompt;
    RecordingSource usb, cpm;
    TDeviceSampleSource source{usb, &cpm};
    TAcquisitionWindow window;
    std::string log;
    bool failLoop = false;
    std::vector<int> exitCodes;
};

TEST_F(StartPathTest, SerialInstrumentModeAndMonitorWithoutSourceAreRefused)
{
    state.DeviceCode = 100;
    EXPECT_EQ(RunAcquisition(state, source, window), TStartOutcome::Refused);
    TDeviceSampleSource usbOnly(usb);
    state.DeviceCode = 101;
    EXPECT_EQ(RunAcquisition(state, usbOnly, window), TStartOutcome::Refused);
    ASSERT_EQ(prompt.shown().size(), 2u);
    EXPECT_EQ(prompt.shown()[0].caption, "Info");
    EXPECT_EQ(prompt.shown()[0].text, QString::fromUtf8(NoCpmSourceMessage));
    EXPECT_EQ(log, "");
    EXPECT_EQ(usb.log + cpm.log, "");
    EXPECT_TRUE(state.StopFlag);
}

TEST_F(StartPathTest, MissingConverterShowsTheErrorBoxAndEndsTheProgram)
{
    state.DeviceCode = 1;
    usb.present = false;
    EXPECT_EQ(RunAcquisition(state, source, window), TStartOutcome::Aborted);
    EXPECT_EQ(log, "before prepare;error box;");
    EXPECT_EQ(exitCodes, std::vector<int>{-1});
    EXPECT_EQ(usb.log, "prepare 1/0;finish;");
}

TEST_F(StartPathTest, MonitorsUnitBecomesTheUnitTextAndTheSourceIsCleanedUp)
{
    state.DeviceCode = 101;
    state.RangeCode = 42;
    cpm.reportUnit = "kV";
    EXPECT_EQ(RunAcquisition(state, source, window), TStartOutcome::Ran);
    EXPECT_EQ(log, "before prepare;before loop;loop kV;");
    EXPECT_EQ(cpm.log, "prepare 101/42;finish;");
    EXPECT_EQ(state.UnitText, "kV");
    EXPECT_FALSE(state.StopFlag);

    // The converter's unit is the range's, whatever a source says.
    state.DeviceCode = 2;
    state.UnitText = "V";
    usb.reportUnit = "x";
    log.clear();
    RunAcquisition(state, source, window);
    EXPECT_EQ(log, "before prepare;before loop;loop V;");
}

TEST_F(StartPathTest, ErrorsOfPreparationOrLoopReachTheCallerAfterTheCleanUp)
{
    state.DeviceCode = 103;
    cpm.failPrepare = true;
    EXPECT_THROW(RunAcquisition(state, source, window), std::runtime_error);
    EXPECT_EQ(cpm.log, "prepare 103/0;finish;");
    EXPECT_EQ(log, "before prepare;");

    cpm.failPrepare = false;
    cpm.log.clear();
    failLoop = true;
    EXPECT_THROW(RunAcquisition(state, source, window), std::runtime_error);
    EXPECT_EQ(cpm.log, "prepare 103/0;finish;");

    source.Release(); // Stop and Exit: the monitor lets go of its port
    EXPECT_EQ(cpm.log, "prepare 103/0;finish;release;");
    ReleaseSerialSource(nullptr); // nothing to let go of
}

// --- the monitor as a source ----------------------------------------------------

class CpmSourceTest : public ::testing::Test {
protected:
    CpmSourceTest()
    {
        MainState = &state;
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadConstant(400);
        peer.Host(sim).Start();
    }
    ~CpmSourceTest() override
    {
        peer.Stop();
        MainState = nullptr;
    }
    template <class F>
    void Sim(F&& f)
    {
        peer.WithInstrument([&] { f(sim); });
    }
    TMainState state;
    HookedHost host;
    SimKarvo sim;
    PtyPeer peer;
    TComPort port;
    C_CPM_EF cpm{port};
};

TEST_F(CpmSourceTest, PrepareOpensWritesTheRangeWaitsAndReadsTheUnit)
{
    TCpmSampleSource source(cpm, true);
    state.DeviceCode = 102;
    QString unit = "V";
    ASSERT_TRUE(source.Prepare(102, 53, unit));
    EXPECT_TRUE(port.Active());
    std::array<int, 9> setup{};
    Sim([&](SimKarvo& s) { setup = s.Setup; });
    EXPECT_EQ(setup, (std::array<int, 9>{1, 0, 3, 3, 0x32, 9, 1, 1, 1}));
    EXPECT_EQ(unit.trimmed(), "kV");
    EXPECT_NE(std::find(host.sleeps.begin(), host.sleeps.end(), 500u), host.sleeps.end());

    Sim([](SimKarvo& s) { s.Reading = -1.25; });
    EXPECT_DOUBLE_EQ(source.ReadSample(102), -1.25);
    source.Finish();
    EXPECT_TRUE(port.Active()); // a loop that ended well leaves the port as it was
    source.Release();
    EXPECT_FALSE(port.Active());
}

TEST_F(CpmSourceTest, AfterAFailedReadTheCleanUpClosesThePortForAFreshStart)
{
    TCpmSampleSource source(cpm, false);
    state.DeviceCode = 101;
    QString unit;
    ASSERT_TRUE(source.Prepare(101, 40, unit));
    Sim([](SimKarvo& s) { s.Silent = true; });
    try {
        source.ReadSample(101);
        ADD_FAILURE() << "no time-out";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    source.Finish();
    EXPECT_FALSE(port.Active());
    Sim([](SimKarvo& s) { s.Silent = false; });
    ASSERT_TRUE(source.Prepare(101, 40, unit)); // opens it again
    EXPECT_TRUE(port.Active());
}

// --- the real windows -----------------------------------------------------------

class CpmWindowsTest : public ::testing::Test {
protected:
    CpmWindowsTest()
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
        MainForm->show();
        peer.Host(sim).Start();
        FoCom->ComPort1->DeviceName(peer.SlavePath());
        // Shorter than the form's 1000 ms, so a silent monitor is found out quickly.
        FoCom->ComPort1->Timeouts->ReadConstant(300);
        host.onProcess = [this] {
            if (onProcess)
                onProcess();
        };
    }
    ~CpmWindowsTest() override
    {
        host.onProcess = nullptr;
        DestroyAllWindows();
        peer.Stop();
        SetSettingsDirectoryOverride("");
    }
    void Select(const char* item)
    {
        ASSERT_TRUE(MainForm->DeviceItems.contains(item)) << item;
        MainForm->DeviceItems[item]->trigger();
    }
    template <class F>
    void Sim(F&& f)
    {
        peer.WithInstrument([&] { f(sim); });
    }
    size_t Points() const { return MainForm->Chart1->PointCount(); }
    // Stops the chart with its Stop button once n points are plotted.
    void StopChartAt(size_t n)
    {
        onProcess = [this, n] {
            if (Points() >= n && !MainForm->StopFlag)
                MainForm->b_Stop_->click();
        };
    }
    TempDir dir;
    HookedHost host;
    SimKarvo sim;
    PtyPeer peer;
    std::function<void()> onProcess;
};

TEST_F(CpmWindowsTest, ChartAndDisplayReadTheMonitorOnAllThreeDeviceCodes)
{
    struct Case {
        const char* item;
        int device;
        double reading;     // what the monitor shows, in its own unit
        const char* unit;   // what the windows show
        double plotted;     // reading x range factor
        const char* digits; // the display's big digits, before the unit
    };
    const Case cases[] = {
        {"Plate_N1000V", 101, 523, "kV", 0.523, "0.523"},
        {"Arvo_N200V", 102, -123, "V", -123, "-123"},
        {"E_Feld_N20kVm", 103, 12.5, "kV/m", 12.5, "12.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        Sim([&](SimKarvo& s) { s.Reading = c.reading; });
        Select(c.item);
        EXPECT_EQ(MainForm->DeviceCode, c.device);
        MainForm->Grafik1->trigger();
        const size_t before = Points();
        StopChartAt(before + 3);
        MainForm->b_Start->click();
        onProcess = nullptr;
        ASSERT_GE(Points(), before + 3);
        EXPECT_DOUBLE_EQ(MainForm->Chart1->PointY(Points() - 1), c.plotted);
        EXPECT_EQ(MainForm->UnitText.trimmed(), c.unit);
        EXPECT_TRUE(MainForm->Chart1->Title().startsWith(QStringLiteral("--") + MainForm->DeviceTitle));
        EXPECT_TRUE(MainForm->b_Start->isEnabled());
        EXPECT_FALSE(FoCom->ComPort1->Active()); // Stop closed it
        MainForm->b_Cancel->click();
        EXPECT_TRUE(MainForm->View->menuAction()->isEnabled());
        EXPECT_TRUE(MainForm->Device->menuAction()->isEnabled());

        // The same reading in the display window's large digits.
        TFormDisplay* d = FormDisplay;
        QString shown;
        int steps = 0;
        QTimer::singleShot(0, [&] {
            onProcess = [&] {
                if (++steps == 6) {
                    shown = d->LabelMesswert->text();
                    d->b_Stop->click();
                }
            };
            d->b_Start->click();
            onProcess = nullptr;
            EXPECT_TRUE(FoCom->ComPort1->Active());
            d->bCancel->click();
        });
        MainForm->Display->trigger();
        // The unit is what the monitor shows after the number, spaces and all.
        EXPECT_EQ(shown, QString(c.digits) + MainForm->UnitText);
        EXPECT_FALSE(d->isVisible());
        EXPECT_FALSE(FoCom->ComPort1->Active()); // Exit closes it for the monitor
        EXPECT_TRUE(MainForm->isEnabled());
    }
}

TEST_F(CpmWindowsTest, SilentMonitorEndsTheChartOnceAndItCanStartAgain)
{
    Select("Plate_N400V");
    MainForm->Grafik1->trigger();
    StopChartAt(2);
    MainForm->b_StartClick();
    onProcess = nullptr;
    const size_t before = Points();
    ASSERT_GE(before, 2u);

    // The monitor falls silent while the chart runs: one time-out ends the
    // loop and reaches the caller (the program shows it in its error box).
    onProcess = [&] {
        if (Points() >= before + 2)
            Sim([](SimKarvo& s) { s.Silent = true; });
    };
    try {
        MainForm->b_StartClick();
        ADD_FAILURE() << "no time-out";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    onProcess = nullptr;
    EXPECT_FALSE(FoCom->ComPort1->Active());
    // Stop makes Start usable again; the monitor answers again.
    MainForm->b_Stop_->click();
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
    Sim([](SimKarvo& s) { s.Silent = false; });
    const size_t after = Points();
    StopChartAt(after + 2);
    MainForm->b_Start->click();
    onProcess = nullptr;
    EXPECT_GE(Points(), after + 2);
    MainForm->b_Cancel->click();
    EXPECT_TRUE(MainForm->Device->menuAction()->isEnabled());
}

TEST_F(CpmWindowsTest, SilentMonitorEndsTheDisplayOnceAndItCanStartAgain)
{
    Select("E_Feld_N5kVm");
    Sim([](SimKarvo& s) { s.Silent = true; });
    TFormDisplay* d = FormDisplay;
    std::string first;
    QString second;
    QTimer::singleShot(0, [&] {
        try {
            d->b_StartClick();
        } catch (const EComError& e) {
            first = e.what();
        }
        EXPECT_FALSE(FoCom->ComPort1->Active());
        d->b_Stop->click();
        EXPECT_TRUE(d->b_Start->isEnabled());
        Sim([](SimKarvo& s) {
            s.Silent = false;
            s.Reading = 1.5;
        });
        int steps = 0;
        onProcess = [&] {
            if (++steps == 6) {
                second = d->LabelMesswert->text();
                d->b_Stop->click();
            }
        };
        d->b_Start->click();
        onProcess = nullptr;
        d->bCancel->click();
    });
    MainForm->Display->trigger();
    EXPECT_EQ(first, "Timeout");
    EXPECT_EQ(second, "1.50" + MainForm->UnitText);
    EXPECT_EQ(MainForm->UnitText.trimmed(), "kV/m");
    EXPECT_FALSE(d->isVisible());
}

} // namespace
