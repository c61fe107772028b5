// The converter code against a USB bus made of data.
#include "acquisition/CAD_wandler.h"
#include "tests/acquisition/fake_usb.h"

#include <gtest/gtest.h>

namespace {

class ConverterTest : public ::testing::Test {
protected:
    FakeUsb usb;
    FakeHost host;
    CAD_wandler w;
};

TEST(ConverterDecode, SignAndMagnitudeExamples)
{
    EXPECT_DOUBLE_EQ(CAD_wandler::Decode(0x00, 0x00), 0.0);
    EXPECT_NEAR(CAD_wandler::Decode(0xFF, 0x03), 2197.404, 1e-9);
    EXPECT_DOUBLE_EQ(CAD_wandler::Decode(0x00, 0x04), 0.0);
    EXPECT_NEAR(CAD_wandler::Decode(0x01, 0x04), -2.148, 1e-12);
    EXPECT_NEAR(CAD_wandler::Decode(0xFF, 0x07), -2197.404, 1e-9);
}

TEST_F(ConverterTest, ReadRawDecodesTheFirstTwoBytesOfTheReply)
{
    usb.OneConverter();
    const struct {
        uint8_t lo, hi;
        double mv;
    } cases[] = {{0x00, 0x00, 0.0}, {0xFF, 0x03, 2197.404}, {0x00, 0x04, 0.0},
                 {0x01, 0x04, -2.148}, {0xFF, 0x07, -2197.404}};
    for (const auto& c : cases) {
        usb.QueueBytes(c.lo, c.hi); // bytes 2 to 7 are noise from the fake
        double mv = 12345;
        EXPECT_EQ(w.ReadRaw(mv), 8);
        EXPECT_NEAR(mv, c.mv, 1e-9) << int(c.lo) << " " << int(c.hi);
    }
}

TEST_F(ConverterTest, ReadRawSendsTheVendorRequestAndSearchesAfreshEachTime)
{
    usb.OneConverter();
    double mv = 0;
    w.ReadRaw(mv);
    w.ReadRaw(mv);
    w.ReadRaw(mv);
    ASSERT_EQ(usb.requests.size(), 3u);
    const auto& r = usb.requests[0];
    EXPECT_EQ(r.type, 0xC0);
    EXPECT_EQ(r.request, 5);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.size, 8);
    EXPECT_EQ(r.timeout, 1000);
    // close, re-initialise, enumerate, open for every conversion; one handle left open
    EXPECT_EQ(usb.searches, 3);
    EXPECT_EQ(usb.opens, 3);
    EXPECT_EQ(usb.closes, 2);
    EXPECT_EQ(usb.openHandles, 1);
}

TEST_F(ConverterTest, MissingConverterLeavesTheTargetAlone)
{
    usb.SetBuses({{{0x1D6B, 0x0002}, {0x046D, 0xC52B}}, {}});
    EXPECT_EQ(w.OpenDevice(), 0);
    double mv = 42;
    EXPECT_EQ(w.ReadRaw(mv), 0);
    EXPECT_EQ(mv, 42);
    EXPECT_TRUE(usb.requests.empty());

    usb.SetBuses({});
    EXPECT_EQ(w.OpenDevice(), 0);
}

TEST_F(ConverterTest, OpenConfigureAndClaimFailuresAreNotFound)
{
    usb.OneConverter();
    usb.failOpen = true;
    EXPECT_EQ(w.OpenDevice(), 0);
    usb.failOpen = false;

    usb.failConfig = true;
    EXPECT_EQ(w.OpenDevice(), 0);
    usb.failConfig = false;

    usb.failClaim = true;
    double mv = 7;
    EXPECT_EQ(w.ReadRaw(mv), 0);
    EXPECT_EQ(mv, 7);
    usb.failClaim = false;

    EXPECT_EQ(w.OpenDevice(), 1);
    // the handles of the failed attempts were closed by the next search
    EXPECT_EQ(usb.openHandles, 1);
}

TEST_F(ConverterTest, FailingTransferReturnsMinusTwo)
{
    usb.OneConverter();
    usb.QueueFailure(-110);
    double mv = 5;
    EXPECT_EQ(w.ReadRaw(mv), -2);
    EXPECT_EQ(mv, 5);
}

TEST_F(ConverterTest, ShortReplyDecodesFromDefinedBytes)
{
    usb.OneConverter();
    usb.QueueBytes(0x10, 0xFF, 1); // only byte 0 arrived
    double mv = 0;
    EXPECT_EQ(w.ReadRaw(mv), 1);
    EXPECT_NEAR(mv, 16 * 2.148, 1e-9);
}

TEST_F(ConverterTest, SecondConverterOnAnotherBusIsIgnored)
{
    usb.SetBuses({{{0x1D6B, 0x0002}, {0x16C0, 0x2B5C}}, {{0x16C0, 0x2B5C}}});
    double mv = 0;
    w.ReadRaw(mv);
    w.ReadRaw(mv);
    ASSERT_EQ(usb.opened.size(), 2u);
    for (const auto& o : usb.opened)
        EXPECT_EQ(o, std::make_pair(0, 1));
    for (int d : usb.transferDevices)
        EXPECT_EQ(d, 1);
}

TEST_F(ConverterTest, ConverterOnLaterBusIsFound)
{
    usb.SetBuses({{{0x1D6B, 0x0002}}, {{0x16C0, 0x1234}, {0x16C0, 0x2B5C}}});
    EXPECT_EQ(w.OpenDevice(), 1);
    ASSERT_EQ(usb.opened.size(), 1u);
    EXPECT_EQ(usb.opened[0], std::make_pair(1, 1));
}

TEST_F(ConverterTest, HandleIsSharedByAllConverterObjects)
{
    usb.OneConverter();
    USB chart, display;
    EXPECT_EQ(chart.Wandler.OpenDevice(), 1);
    EXPECT_EQ(display.Wandler.OpenDevice(), 1);
    EXPECT_EQ(usb.openHandles, 1);
    EXPECT_EQ(usb.closes, 1);
}

// --- averaged readings -----------------------------------------------------

TEST_F(ConverterTest, OnePairTwentyMillisecondsApart)
{
    usb.OneConverter();
    usb.QueueCounts(100);
    usb.QueueCounts(102);
    double mv = 0;
    EXPECT_EQ(w.ReadAveraged(mv, 200, 1), 8);
    EXPECT_NEAR(mv, 101 * 2.148, 1e-9);
    EXPECT_EQ(host.sleeps, (std::vector<unsigned>{20, 20}));
}

TEST_F(ConverterTest, NinetyFourCountsApartRepeatsThePair)
{
    usb.OneConverter();
    usb.QueueCounts(0);
    usb.QueueCounts(94); // 201.912 mV: d = -201
    usb.QueueCounts(0);
    usb.QueueCounts(93); // 199.764 mV: d = -199, accepted
    double mv = 0;
    w.ReadAveraged(mv, 200, 1);
    EXPECT_EQ(usb.requests.size(), 4u);
    EXPECT_NEAR(mv, 99.882, 1e-9);
}

TEST_F(ConverterTest, NinetyThreeCountsApartIsAcceptedAtOnce)
{
    usb.OneConverter();
    usb.QueueCounts(0);
    usb.QueueCounts(93);
    double mv = 0;
    w.ReadAveraged(mv, 200, 1);
    EXPECT_EQ(usb.requests.size(), 2u);
    EXPECT_NEAR(mv, 99.882, 1e-9);
}

TEST_F(ConverterTest, PairDifferingEveryTimeIsTakenAtTheThirdAttempt)
{
    usb.OneConverter();
    usb.QueueCounts(0);
    usb.QueueCounts(500);
    usb.QueueCounts(-300);
    usb.QueueCounts(300);
    usb.QueueCounts(400);
    usb.QueueCounts(-400);
    usb.QueueCounts(1); // never read
    double mv = 0;
    w.ReadAveraged(mv, 200, 1);
    EXPECT_EQ(usb.requests.size(), 6u);
    EXPECT_NEAR(mv, 0.0, 1e-9);
    EXPECT_EQ(host.sleeps.size(), 6u);
}

TEST_F(ConverterTest, AverageOfThreePairsEachTestedOnItsOwn)
{
    usb.OneConverter();
    usb.QueueCounts(100); usb.QueueCounts(100);   // pair 1: 100
    usb.QueueCounts(0);   usb.QueueCounts(200);   // pair 2: repeated
    usb.QueueCounts(200); usb.QueueCounts(202);   //         201
    usb.QueueCounts(-50); usb.QueueCounts(-52);   // pair 3: -51
    double mv = 0;
    w.ReadAveraged(mv, 200, 3);
    EXPECT_EQ(usb.requests.size(), 8u);
    EXPECT_NEAR(mv, (100 + 201 - 51) / 3.0 * 2.148, 1e-9);
}

TEST_F(ConverterTest, AverageBelowOneCountsAsOne)
{
    usb.OneConverter();
    for (int n : {0, -4}) {
        usb.QueueCounts(10);
        usb.QueueCounts(12);
        double mv = 0;
        w.ReadAveraged(mv, 200, n);
        EXPECT_NEAR(mv, 11 * 2.148, 1e-9) << n;
    }
    EXPECT_EQ(usb.requests.size(), 4u);
}

TEST_F(ConverterTest, MissingConverterReadsZeroAndReportsZero)
{
    usb.SetBuses({{{0x1D6B, 0x0002}}});
    double mv = 77;
    EXPECT_EQ(w.ReadAveraged(mv, 200, 2), 0);
    EXPECT_EQ(mv, 0.0);
    // a failed first conversion ends the pair: one wait per pair
    EXPECT_EQ(host.sleeps, (std::vector<unsigned>{20, 20}));
}

TEST_F(ConverterTest, FailedConversionLeavesItsPairOutOfTheAverage)
{
    usb.OneConverter();
    usb.QueueCounts(100); usb.QueueCounts(100); // good pair
    usb.QueueFailure();                          // first conversion fails
    usb.QueueCounts(300); usb.QueueFailure();    // second conversion fails
    usb.QueueCounts(200); usb.QueueCounts(200); // good pair
    double mv = 0;
    EXPECT_EQ(w.ReadAveraged(mv, 200, 4), 8);
    EXPECT_NEAR(mv, 150 * 2.148, 1e-9);
}

TEST_F(ConverterTest, ResultIsThatOfTheLastConversion)
{
    usb.OneConverter();
    usb.QueueCounts(100);
    usb.QueueFailure();
    double mv = 0;
    EXPECT_EQ(w.ReadAveraged(mv, 200, 1), -2);
    EXPECT_EQ(mv, 0.0);
}

} // namespace
