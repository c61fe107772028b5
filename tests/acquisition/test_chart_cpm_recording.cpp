// The charge plate monitor's readings go through the same chart loop as the
// converter's, and are recorded the same way: a simulated monitor on a
// pseudo terminal, the real windows offscreen, the real clock.
#include "acquisition/ChartFile.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

namespace {

// The real clock (the monitor needs it) with a hook in every message step.
class StepHost final : public IHost {
public:
    StepHost() : old_(SetHost(this)) {}
    ~StepHost() override { SetHost(old_); }
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
        if (onProcess)
            onProcess();
    }
    std::function<void()> onProcess;
    RunawayGuard runaway{50'000'000, 120};

private:
    IHost* old_;
};

TEST(ChartCpmRecording, TheMonitorsChartRunsAreRecordedToo)
{
    TempDir dir;
    SetSettingsDirectoryOverride(dir.path());
    const char* args[] = {"ulmaro"};
    CreateAllWindows(1, args, false);
    MainForm->show();
    SimKarvo sim;
    PtyPeer peer;
    peer.Host(sim).Start();
    FoCom->ComPort1->DeviceName(peer.SlavePath());
    peer.WithInstrument([&] { sim.Reading = 12.5; });
    StepHost host;

    ASSERT_TRUE(MainForm->DeviceItems.contains("E_Feld_N20kVm"));
    MainForm->DeviceItems["E_Feld_N20kVm"]->trigger();
    MainForm->Grafik1->trigger();
    host.onProcess = [&] {
        if (MainForm->Chart1->PointCount() >= 4 && !MainForm->StopFlag)
            MainForm->b_Stop_->click();
    };
    MainForm->b_Start->click();
    host.onProcess = nullptr;
    const size_t points = MainForm->Chart1->PointCount();
    MainForm->b_Cancel->click();

    const QDir folder(QString::fromStdString(dir.file("Recordings")));
    const QStringList files = folder.entryList({"Karvo*.csv"}, QDir::Files);
    ASSERT_EQ(files.size(), 1) << folder.path().toStdString();
    TTraceStore store;
    TChartFileInfo info;
    QString error;
    ASSERT_EQ(ReadChartFile(folder.filePath(files.front()), store, info, error), TChartReadResult::Ok)
        << error.toStdString();
    EXPECT_EQ(info.Device, MainForm->DeviceTitle);
    EXPECT_TRUE(info.Device.startsWith("Karvo"));
    EXPECT_FALSE(info.Range.isEmpty());
    EXPECT_EQ(info.Unit.trimmed(), "kV/m");  // as the instrument reported it
    ASSERT_EQ(store.Size(), points);
    ASSERT_GE(points, 4u);
    for (size_t i = 0; i < points; ++i)
        EXPECT_DOUBLE_EQ(store.Y(i), 12.5) << i;
    // the monitor answers in 150 ms or more: the times are the clock's
    EXPECT_GE(store.X(points - 1), 0.1 * double(points - 1));

    DestroyAllWindows();
    peer.Stop();
    SetSettingsDirectoryOverride("");
}

}  // namespace
