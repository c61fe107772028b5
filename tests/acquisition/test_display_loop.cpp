// The numeric display's loop without widgets.
#include "acquisition/DisplayLoop.h"
#include "acquisition/NumberFormat.h"
#include "core/MainState.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/acquisition/loop_fakes.h"

#include <gtest/gtest.h>

namespace {

class DisplayLoopTest : public ::testing::Test {
protected:
    void Select(int device, int range, double factor, const QString& unit)
    {
        st.DeviceCode = device;
        st.RangeCode = range;
        st.CalcFactor = factor;
        st.UnitText = unit;
    }
    TMainState st;
    FakeHost host;
    RecordingDisplayView view;
    ScriptedSource source;
    TDisplayLoop loop{st, view, source};
};

TEST_F(DisplayLoopTest, ConverterReadingInRangeFour)
{
    Select(1, 4, 20, "kV/m");
    source.values = {0.5, -0.25};
    loop.Sample("kV/m", 2);
    EXPECT_EQ(view.value, "10.00kV/m");
    EXPECT_EQ(view.valueFont, 130);
    EXPECT_EQ(view.pos, "10.00kV/m");
    EXPECT_EQ(view.posFont, 50);
    loop.Sample("kV/m", 2);
    EXPECT_EQ(view.neg, "-5.00kV/m");
    EXPECT_EQ(view.negFont, 50);
    EXPECT_DOUBLE_EQ(st.NegMax, -5);
}

TEST_F(DisplayLoopTest, ConverterOverflowShrinksTheFonts)
{
    Select(1, 4, 20, "kV/m");
    source.values = {1.05, -1.05, 0.5};
    loop.Sample("kV/m", 2);
    EXPECT_EQ(view.value, "OVERFLOW ! ");
    EXPECT_EQ(view.valueFont, 100);
    EXPECT_EQ(view.pos, "OVERFLOW !");
    EXPECT_EQ(view.posFont, 35);
    EXPECT_DOUBLE_EQ(st.PosMax, 21);
    loop.Sample("kV/m", 2);
    EXPECT_EQ(view.neg, "OVERFLOW !");
    EXPECT_EQ(view.negFont, 35);
    loop.Sample("kV/m", 2);
    EXPECT_EQ(view.value, "10.00kV/m");
    EXPECT_EQ(view.valueFont, 130);
    EXPECT_EQ(view.pos, "OVERFLOW !"); // 10 is below the extreme of 21
}

TEST_F(DisplayLoopTest, PlateOneKilovoltShowsThreeDecimals)
{
    Select(101, 42, 0.001, "kV");
    source.values = {523};
    loop.Sample("kV", DisplayDecimals(42));
    EXPECT_EQ(view.value, "0.523kV");
    EXPECT_EQ(view.pos, "0.523kV");
    EXPECT_EQ(view.valueFont, -1); // the font stays as it is
}

TEST_F(DisplayLoopTest, OverflowValueOfTheInstrumentIsTestedAfterScaling)
{
    Select(101, 42, 0.001, "kV");
    source.values = {9999};
    loop.Sample("kV", 3);
    EXPECT_EQ(view.value, "9.999kV");
    EXPECT_EQ(view.pos, "9.999kV");
    EXPECT_TRUE(host.sleeps.empty());

    Select(101, 43, 1, "kV");
    source.values = {9999, 9999};
    loop.Sample("kV", 2);
    EXPECT_EQ(host.sleeps, (std::vector<unsigned>{10}));
    EXPECT_EQ(view.value, "OVERFLOW !");
    EXPECT_EQ(view.valueFont, -1);
    EXPECT_EQ(view.pos, "OVERFLOW !");
    EXPECT_EQ(view.posFont, 35);
}

TEST_F(DisplayLoopTest, NoDecimalsInRangeFortyOne)
{
    Select(101, 41, 1, "V");
    source.values = {123.6};
    loop.Sample("V", DisplayDecimals(41));
    EXPECT_EQ(view.value, "124V");
}

TEST_F(DisplayLoopTest, RunProcessesMessagesAroundABusyWait)
{
    Select(1, 4, 20, "kV/m");
    st.Sampling_time_Display = 10;
    host.tickStep = 1;
    source.values = {0.5};
    int samples = 0;
    host.onProcess = [&] {
        if (host.processed % 3 == 0 && ++samples == 4)
            st.StopFlag = true;
    };
    loop.Run("Talvis", 1, 4, "kV/m");
    EXPECT_EQ(view.status, "RUN sampling time = 10 mSec.");
    EXPECT_EQ(source.codes.size(), 4u);
    EXPECT_EQ(host.processed, 12);
    EXPECT_EQ(view.repaints, 4);
    EXPECT_TRUE(host.sleeps.empty()); // the wait never sleeps
    // each sample: 1 tick for t0, 11 ticks waited (difference must exceed 10)
    EXPECT_GE(host.now - 1000, 4u * 12u);
}

TEST_F(DisplayLoopTest, DecimalsComeFromTheRangeTheLoopStartedWith)
{
    Select(101, 41, 1, "V");
    source.values = {123.6};
    host.tickStep = 100;
    host.onProcess = [&] { st.StopFlag = true; };
    loop.Run("Karvo", 101, 41, "V");
    EXPECT_EQ(view.value, "124V");
}

} // namespace
