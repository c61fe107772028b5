// The chart view's loop without widgets: scripted readings, a recording view
// and a clock that moves only when the loop waits.
#include "acquisition/ChartLoop.h"
#include "core/MainState.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/acquisition/loop_fakes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class ChartLoopTest : public ::testing::Test {
protected:
    ChartLoopTest()
    {
        st.DeviceTitle = "Talvis";
        st.DeviceCode = 1;
        st.RangeCode = 4;
        st.UnitText = "kV/m";
        st.CalcFactor = 20;
        view.max = view.min = "0.00kV/m";
    }
    void Samples(int n)
    {
        for (int i = 0; i < n; ++i)
            loop.Sample("kV/m");
    }
    // Runs the loop and stops it from the message processing after n samples.
    void RunSamples(size_t n)
    {
        host.onProcess = [this, n] {
            if (view.points.size() >= n)
                st.StopFlag = true;
        };
        loop.Run(st.DeviceTitle, st.DeviceCode, st.RangeCode, "kV/m");
        host.onProcess = nullptr;
    }

    TMainState st;
    FakeHost host;
    RecordingChartView view;
    ScriptedSource source;
    TChartLoop loop{st, view, source};
};

TEST_F(ChartLoopTest, DefaultSpanZeroAxisFollowsFromTheFirstPoint)
{
    // Sampling_time_Chart 10 ms, TimeSpan 0.6 s: span 0; every sample 10 ms
    // after the one before
    host.tickStep = 10;
    source.values = {0.1};
    Samples(1);
    EXPECT_EQ(view.axisSets, 1);
    EXPECT_DOUBLE_EQ(view.axisMax, 0.01);
    EXPECT_EQ(view.axisOffset, 0);
    Samples(98);
    EXPECT_NEAR(view.axisMax, 0.99, 1e-9);
    EXPECT_EQ(view.axisOffset, 0);
    Samples(2);
    EXPECT_NEAR(view.axisMax, 1.01, 1e-9);
    EXPECT_EQ(view.axisOffset, -10);
    Samples(100);
    EXPECT_EQ(view.axisOffset, -20);
}

TEST_F(ChartLoopTest, SpanSixtyKeepsTheAxisUpToTheSixtyFirstPoint)
{
    st.Sampling_time_Chart = 1000;
    st.Sampling_time_Display = 1000;
    st.TimeSpan = 1000 * 60 * 0.001;
    host.tickStep = 1000;
    Samples(59);
    EXPECT_EQ(view.axisSets, 0);
    Samples(1); // x = 59
    EXPECT_DOUBLE_EQ(view.axisMax, 60);
    EXPECT_EQ(view.axisOffset, 0);
    Samples(1); // the 61st point, x = 60
    EXPECT_DOUBLE_EQ(view.points.back().first, 60);
    EXPECT_DOUBLE_EQ(view.axisMax, 61);
    EXPECT_EQ(view.axisOffset, -10);
    Samples(10);
    EXPECT_DOUBLE_EQ(view.axisMax, 71);
    EXPECT_EQ(view.axisOffset, -110);
}

TEST_F(ChartLoopTest, HalfAVoltInRangeFourIsTenKilovoltsPerMetre)
{
    source.values = {0.5};
    Samples(1);
    ASSERT_EQ(view.points.size(), 1u);
    EXPECT_DOUBLE_EQ(view.points[0].first, 0);
    EXPECT_DOUBLE_EQ(view.points[0].second, 10);
    EXPECT_EQ(view.value, "10.00kV/m");
    EXPECT_EQ(view.max, "10.00kV/m");
    EXPECT_EQ(view.min, "0.00kV/m");
    EXPECT_DOUBLE_EQ(st.PosMax, 10);
    EXPECT_DOUBLE_EQ(st.NegMax, 9999);
    EXPECT_DOUBLE_EQ(st.TimeX, 0.01);
}

TEST_F(ChartLoopTest, OverflowIsPlottedAndBecomesTheExtreme)
{
    source.values = {1.05, -1.03, -0.5};
    Samples(1);
    EXPECT_EQ(source.codes.size(), 1u); // 1.05 truncates to 1: no second read
    EXPECT_DOUBLE_EQ(view.points[0].second, 21);
    EXPECT_DOUBLE_EQ(st.PosMax, 21);
    EXPECT_EQ(view.value, "OVERFLOW !");
    EXPECT_EQ(view.max, "OVERFLOW !");

    Samples(1);
    EXPECT_DOUBLE_EQ(st.NegMax, -20.6);
    EXPECT_EQ(view.min, "OVERFLOW !");
    EXPECT_EQ(view.value, "OVERFLOW !");

    Samples(1); // not beyond NegMax: the box keeps its mark
    EXPECT_EQ(view.min, "OVERFLOW !");
    EXPECT_EQ(view.value, "-10.00kV/m");
}

TEST_F(ChartLoopTest, ExactlyTheThresholdIsNoOverflow)
{
    source.values = {1.02};
    Samples(1);
    EXPECT_EQ(view.value, "20.40kV/m");
}

TEST_F(ChartLoopTest, ReadingOfTwoVoltsIsReadOnceMoreTenMillisecondsLater)
{
    source.values = {2.1, 0.5, -2.05, -2.1};
    Samples(1);
    EXPECT_EQ(source.codes.size(), 2u);
    EXPECT_EQ(host.sleeps, (std::vector<unsigned>{10}));
    EXPECT_EQ(view.value, "10.00kV/m");
    Samples(1); // the second read is taken whatever it says
    EXPECT_EQ(source.codes.size(), 4u);
    EXPECT_DOUBLE_EQ(view.points.back().second, -42);
    EXPECT_EQ(view.value, "OVERFLOW !");
}

TEST_F(ChartLoopTest, NegativeReadingAfterResetKeepsThePositiveBox)
{
    source.values = {-0.3};
    Samples(1);
    EXPECT_DOUBLE_EQ(st.NegMax, -6);
    EXPECT_EQ(view.min, "-6.00kV/m");
    EXPECT_EQ(view.max, "0.00kV/m");
    EXPECT_DOUBLE_EQ(st.PosMax, -9999);
}

TEST_F(ChartLoopTest, RunWritesSampleTimeAndTitleAndWaitsThePeriod)
{
    st.StopFlag = true; // a stale flag does not keep the loop from running
    source.values = {0.1};
    RunSamples(3);
    EXPECT_EQ(view.sampleTime, "Sample time = 10 mSek");
    EXPECT_TRUE(view.title.startsWith("--Talvis--  Start : ")) << view.title.toStdString();
    EXPECT_EQ(view.points.size(), 3u);
    EXPECT_EQ(view.repaints, 3);
    // the clock moves only by the 1 ms sleeps; the tick is read before each
    // poll, so the poll that finds 10 ms gone is the eleventh
    EXPECT_EQ(host.processed, 33);
    EXPECT_EQ(host.sleeps, std::vector<unsigned>(33, 1));
}

TEST_F(ChartLoopTest, SlowReadStartsTheNextSampleAfterOnePoll)
{
    source.values = {0.1};
    host.tickStep = 50; // every look at the clock finds 50 ms gone
    RunSamples(4);
    EXPECT_EQ(host.processed, 4);
}

TEST_F(ChartLoopTest, NegativeSamplingTimeDoesNotStallTheLoop)
{
    st.Sampling_time_Chart = -5;
    RunSamples(3);
    EXPECT_EQ(host.processed, 3);
}

TEST_F(ChartLoopTest, ResetWhileRunningRestartsOnlyTheExtremes)
{
    source.values = {0.5, 0.5, 0.5, 0.2, -0.1};
    host.onProcess = [this] {
        if (view.points.size() == 3 && st.PosMax > 0) {
            st.ResetExtremes(); // what the Reset button does while running
            view.max = view.min = view.value = "0.00kV/m";
        }
        if (view.points.size() >= 5)
            st.StopFlag = true;
    };
    loop.Run("Talvis", 1, 4, "kV/m");
    EXPECT_EQ(view.points.size(), 5u);
    EXPECT_EQ(view.max, "4.00kV/m");
    EXPECT_EQ(view.min, "-2.00kV/m");
    EXPECT_DOUBLE_EQ(st.PosMax, 4);
}

// A source slower than the set period: 45 ms per read against 10 ms set.
// The axis is the clock, Stop -> Start goes on where the run stopped with
// the stopped time left out, and the label names the period reached.
TEST_F(ChartLoopTest, ElapsedTimeOfSlowReadsAndContinuedRuns)
{
    struct SlowSource : ScriptedSource {
        FakeHost* host = nullptr;
        double ReadSample(int code) override
        {
            host->now += 45;
            return ScriptedSource::ReadSample(code);
        }
    } slow;
    slow.host = &host;
    slow.values = {0.1};
    TChartLoop slowLoop{st, view, slow};
    auto run = [&](size_t n) {
        host.onProcess = [this, n] {
            if (view.points.size() >= n)
                st.StopFlag = true;
        };
        slowLoop.Run(st.DeviceTitle, st.DeviceCode, st.RangeCode, "kV/m");
    };
    run(40);
    ASSERT_EQ(view.points.size(), 40u);
    // each sample: the 45 ms read, then one poll of the wait with its 1 ms sleep
    for (size_t i = 0; i < view.points.size(); ++i)
        EXPECT_NEAR(view.points[i].first, i * 0.046, 1e-9) << i;
    EXPECT_EQ(view.sampleTimes.front(), "Sample time = 10 mSek");
    EXPECT_EQ(view.sampleTime, "Sample time = 10 mSek (46 mSek reached)");
    EXPECT_EQ(slowLoop.ReachedPeriodMs(), 46);
    const double lastOfFirstRun = view.points.back().first;

    host.now += 600000;  // ten minutes stopped
    run(50);
    ASSERT_EQ(view.points.size(), 50u);
    EXPECT_NEAR(view.points[40].first, lastOfFirstRun + 0.01, 1e-9);  // one set period on
    for (size_t i = 41; i < 50; ++i)
        EXPECT_NEAR(view.points[i].first - view.points[i - 1].first, 0.046, 1e-9) << i;
    EXPECT_EQ(view.sampleTimes[view.sampleTimes.size() - 1], "Sample time = 10 mSek");  // too short to measure
    // every point carries the wall-clock time it was taken
    ASSERT_EQ(view.stamps.size(), 50u);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 stamp : view.stamps)
        EXPECT_LE(std::llabs(now - stamp), 60000);
}

TEST_F(ChartLoopTest, TheClockRunsOnOverTheTickCountWrap)
{
    host.now = 0xFFFFFFFFu - 25;
    host.tickStep = 10;
    Samples(6);
    ASSERT_EQ(view.points.size(), 6u);
    for (size_t i = 0; i < view.points.size(); ++i)
        EXPECT_NEAR(view.points[i].first, i * 0.01, 1e-9) << i;
}

TEST(ChartLoopTexts, ReachedPeriodIsNamedOnlyWhenClearlyBehind)
{
    struct Case {
        int set, reached;
        const char* text;
    };
    for (const Case& c : {Case{10, 0, "Sample time = 10 mSek"}, Case{10, 11, "Sample time = 10 mSek"},
                          Case{10, 12, "Sample time = 10 mSek"}, Case{10, 13, "Sample time = 10 mSek (13 mSek reached)"},
                          Case{10, 45, "Sample time = 10 mSek (45 mSek reached)"},
                          Case{1000, 1010, "Sample time = 1000 mSek"},
                          Case{1000, 1300, "Sample time = 1000 mSek (1300 mSek reached)"},
                          Case{0, 3, "Sample time = 0 mSek (3 mSek reached)"}})
        EXPECT_EQ(TChartLoop::SampleTimeText(c.set, c.reached), c.text) << c.set << " " << c.reached;
}

TEST_F(ChartLoopTest, RangeChangedWhileRunningTakesEffectAtTheNextSample)
{
    source.values = {0.5};
    host.onProcess = [this] {
        if (view.points.size() == 2) {
            st.RangeCode = 6;
            st.CalcFactor = 200;
            st.UnitText = "kV/m?"; // the loop keeps the unit it started with
        }
        if (view.points.size() == 4) {
            st.DeviceCode = 103; // a serial-instrument code: its threshold
            st.CalcFactor = 1;
            source.values = {9999};
        }
        if (view.points.size() >= 5)
            st.StopFlag = true;
    };
    loop.Run("Talvis", 1, 4, "kV/m");
    ASSERT_EQ(view.points.size(), 5u);
    EXPECT_DOUBLE_EQ(view.points[1].second, 10);
    EXPECT_DOUBLE_EQ(view.points[2].second, 100);
    EXPECT_EQ(source.codes.back(), 103);
    EXPECT_DOUBLE_EQ(view.points[4].second, 9999);
    EXPECT_EQ(view.value, "OVERFLOW !");
    EXPECT_EQ(view.max, "OVERFLOW !");
}

TEST_F(ChartLoopTest, ChargePlateReadingsUseTheirOwnThreshold)
{
    st.DeviceCode = 101;
    st.CalcFactor = 1;
    source.values = {250.4, 9999, 9999, -9999, -9999};
    loop.Sample("V");
    EXPECT_EQ(view.value, "250.40V");
    EXPECT_TRUE(host.sleeps.empty());
    loop.Sample("V");
    EXPECT_EQ(host.sleeps, (std::vector<unsigned>{10})); // 9999 > 9998: read again
    EXPECT_EQ(view.value, "OVERFLOW !");
    EXPECT_EQ(view.max, "OVERFLOW !");
    loop.Sample("V");
    EXPECT_EQ(view.min, "OVERFLOW !");
}

TEST(ChartLoopTexts, StartTitleUsesShortDateAndLongTimeOfTheLocale)
{
    const QDateTime when(QDate(2026, 12, 9), QTime(8, 5, 3));
    EXPECT_EQ(TChartLoop::StartTitle("Brimel", when), "--Brimel--  Start : 12/9/26 8:05:03 AM");
    LocaleGuard g(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(StartDateTimeText(when), "09.12.26 08:05:03");
}

TEST(ChartLoopTexts, Thresholds)
{
    EXPECT_DOUBLE_EQ(OverflowThreshold(1), 1.02);
    EXPECT_DOUBLE_EQ(OverflowThreshold(99), 1.02);
    EXPECT_DOUBLE_EQ(OverflowThreshold(100), 9998);
    EXPECT_DOUBLE_EQ(OverflowThreshold(103), 9998);
}

} // namespace
