// The decay run frame by frame, against frames played on a pseudo-terminal:
// marks, colours and the count of the measured line, the result frame,
// aborts, a time-out, and the test recording.
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmFiles.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string ENQ = "\x05", ACK = "\x06", STX = "\x02", ETX = "\x03";

std::string Hex2(int v)
{
    char b[3];
    std::snprintf(b, sizeof b, "%02X", unsigned(v) & 0xFFu);
    return b;
}
// A 16-bit value as the monitor sends it: low byte first.
std::string Word(int v) { return Hex2(v & 0xFF) + Hex2((v >> 8) & 0xFF); }
std::string Live(int status, int volts) { return STX + "V" + Hex2(status) + Word(volts) + ETX; }
std::string Result(const std::string& record) { return "\x12" "0" + record + ETX; }
const std::string Record = "0110E80364001400170078007B80"; // 1000 V, 100 V, 20 s, 2.3 s, 12.0 s, -123 V

struct Point {
    TCpmSeries series;
    double x, y;
    TCpmColour colour;
    bool operator==(const Point& o) const
    {
        return series == o.series && x == o.x && y == o.y && colour == o.colour;
    }
};

std::ostream& operator<<(std::ostream& os, const Point& p)
{
    return os << "{" << int(p.series) << ", " << p.x << ", " << p.y << ", " << int(p.colour) << "}";
}

struct RecordingFeeds : ICpmFeeds {
    std::vector<QString> captions, voltages;
    std::vector<Point> points;
    int clears = 0;
    void SetOffsetCaption(const QString& t) override { captions.push_back(t); }
    void SetVoltageText(const QString& t) override { voltages.push_back(t); }
    void ClearChart() override
    {
        ++clears;
        points.clear();
    }
    void AddPoint(TCpmSeries s, double x, double y, TCpmColour c) override { points.push_back({s, x, y, c}); }
    std::vector<Point> Of(TCpmSeries s) const
    {
        std::vector<Point> out;
        for (const Point& p : points)
            if (p.series == s)
                out.push_back(p);
        return out;
    }
};

struct Outcome {
    int32_t start = -1, stop = -1, offsetTime = -1;
    double pos = -1, neg = -1, offset = -1;
    bool aborted = false;
};

class CpmDecayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MainState = &state;
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadInterval(0);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(400);
        port.Timeouts->WriteMultiplier(0);
        port.Timeouts->WriteConstant(500);
        port.Open();
        cpm.Feeds = &feeds;
    }
    void TearDown() override
    {
        peer.Stop();
        port.Close();
        MainState = nullptr;
    }
    // The run's start on the wire, then the given frames.
    void Play(const std::string& frames)
    {
        peer.Expect(ENQ).Send(ACK).Expect(STX + "w2" + ETX).Send(Live(0, 0) + frames);
        peer.Start();
    }
    Outcome Run()
    {
        Outcome o;
        cpm.MeasureDecay(o.start, o.stop, o.offsetTime, o.pos, o.neg, o.offset, o.aborted);
        EXPECT_TRUE(peer.Wait(5000));
        EXPECT_FALSE(peer.Failed()) << peer.Failure();
        return o;
    }

    TMainState state;
    PtyPeer peer;
    TComPort port;
    C_CPM_EF cpm{port};
    RecordingFeeds feeds;
};

using S = TCpmSeries;
using C = TCpmColour;

} // namespace

TEST_F(CpmDecayTest, ChargingMarkedRedDecayBlueReferenceLinesOverCountPlusTwo)
{
    Play(Live(0, 0) + Live(0, 50) + Live(0, 120) + Live(0, 800) + Live(0, 1050) + Live(0x20, 1000) +
         Live(0x20, 990) + Result(Record));
    const Outcome o = Run();

    EXPECT_FALSE(o.aborted);
    EXPECT_EQ(o.start, 1000);
    EXPECT_EQ(o.stop, 100);
    EXPECT_EQ(o.offsetTime, 20);
    EXPECT_DOUBLE_EQ(o.pos, 2.3);
    EXPECT_DOUBLE_EQ(o.neg, 12.0);
    EXPECT_DOUBLE_EQ(o.offset, -123);
    EXPECT_EQ(cpm.StartVoltage, 1000);
    EXPECT_DOUBLE_EQ(cpm.OffsetVoltage, -123);

    const std::vector<Point> measured = {{S::Measured, 0, 1200, C::Red},  {S::Measured, 1, 120, C::Red},
                                         {S::Measured, 2, 800, C::Red},   {S::Measured, 3, 1050, C::Red},
                                         {S::Measured, 4, 1000, C::Blue}, {S::Measured, 5, 990, C::Blue}};
    EXPECT_EQ(feeds.Of(S::Measured), measured);
    // count 5: reference points at 0 ... 6.
    const auto vstart = feeds.Of(S::VstartPos);
    ASSERT_EQ(vstart.size(), 7u);
    EXPECT_EQ(vstart.back(), (Point{S::VstartPos, 6, 1000, C::Black}));
    EXPECT_EQ(feeds.Of(S::VstopPos).front(), (Point{S::VstopPos, 0, 100, C::Black}));
    EXPECT_EQ(feeds.Of(S::VstartNeg)[3], (Point{S::VstartNeg, 3, -1000, C::Yellow}));
    EXPECT_EQ(feeds.Of(S::VstopNeg).size(), 7u);
    EXPECT_EQ(feeds.Of(S::VstopNeg)[1], (Point{S::VstopNeg, 1, -100, C::Yellow}));
    EXPECT_EQ(feeds.Of(S::ZeroLine)[6], (Point{S::ZeroLine, 6, 0, C::Green}));

    EXPECT_EQ(feeds.clears, 1);
    ASSERT_EQ(feeds.captions.size(), 2u);
    EXPECT_EQ(feeds.captions[0], "Plate voltage");
    EXPECT_EQ(feeds.captions[1], "Offset");
    // Every live frame shows its voltage; the result frame is no plate voltage.
    ASSERT_EQ(feeds.voltages.size(), 7u);
    EXPECT_EQ(feeds.voltages[2], "120 V");
    EXPECT_EQ(feeds.voltages.back(), "990 V");
    // Only "w2" was sent (no BEL, no other command).
    EXPECT_EQ(peer.Received(), ENQ + STX + "w2" + ETX);
}

TEST_F(CpmDecayTest, NoMarksOnceTheTimingRanNotForTheNegativeHalfEither)
{
    Play(Live(0, 120) + Live(0x20, 1000) + Live(0, 50) + Live(0x04, 500) + Live(0x24, 300) + Live(0x04, 50) +
         Result(Record));
    Run();
    const std::vector<Point> measured = {{S::Measured, 0, 1200, C::Red},
                                         {S::Measured, 1, 120, C::Red},
                                         {S::Measured, 2, 1000, C::Blue},
                                         {S::Measured, 3, -300, C::Blue}};
    EXPECT_EQ(feeds.Of(S::Measured), measured);
    EXPECT_EQ(feeds.Of(S::ZeroLine).size(), 5u); // count 3
}

TEST_F(CpmDecayTest, AboveTheMarkRangeOnlyTimedFramesCount)
{
    Play(Live(0, 1300) + Live(0x20, 1300) + Result(Record));
    Run();
    const std::vector<Point> measured = {{S::Measured, 0, 1300, C::Blue}};
    EXPECT_EQ(feeds.Of(S::Measured), measured);
}

TEST_F(CpmDecayTest, StatusBitTwoIsTheMinusSign)
{
    Play(Live(0x04, 123) + Result(Record));
    Run();
    ASSERT_GE(feeds.voltages.size(), 1u);
    EXPECT_EQ(feeds.voltages[0], "-123 V");
    // A negative plate in the mark range: the mark at the bottom, the point
    // in red; the curve ends there, the result frame adds nothing.
    const std::vector<Point> measured = {{S::Measured, 0, -1200, C::Red}, {S::Measured, 1, -123, C::Red}};
    EXPECT_EQ(feeds.Of(S::Measured), measured);
}

TEST_F(CpmDecayTest, TheCurveEndsWhereTheMeasurementEndedInEveryMode)
{
    // The result frame's mode code is no status and its start voltage no
    // plate voltage: read as one, a POS or NEG run ended in a spike up to
    // +Vstart, counted into the reference lines.
    for (const char* mode : {"21", "32", "10"}) {
        SCOPED_TRACE(mode);
        feeds = RecordingFeeds{};
        peer.Stop();
        port.Close();
        PtyPeer fresh;
        port.DeviceName(fresh.SlavePath());
        port.Open();
        const bool negative = std::string(mode) == "32";
        const int status = negative ? 0x24 : 0x20;
        fresh.Expect(ENQ).Send(ACK).Expect(STX + "w2" + ETX)
            .Send(Live(0, 0) + Live(status, 900) + Live(status, 300) +
                  Result(std::string("02") + mode + "E803C8000A001E001E000500"));
        fresh.Start();
        Outcome o;
        cpm.MeasureDecay(o.start, o.stop, o.offsetTime, o.pos, o.neg, o.offset, o.aborted);
        EXPECT_TRUE(fresh.Wait(5000));
        const double sign = negative ? -1 : 1;
        const std::vector<Point> measured = {{S::Measured, 0, sign * 1200, C::Red},
                                             {S::Measured, 1, sign * 900, C::Blue},
                                             {S::Measured, 2, sign * 300, C::Blue}};
        EXPECT_EQ(feeds.Of(S::Measured), measured);
        EXPECT_EQ(feeds.voltages.back(), QString::number(int(sign * 300)) + " V");
        EXPECT_EQ(o.start, 1000);
        EXPECT_EQ(o.stop, 200);
        EXPECT_DOUBLE_EQ(o.pos, 3.0);
        EXPECT_DOUBLE_EQ(o.offset, 5);
        EXPECT_EQ(feeds.Of(S::VstartPos).size(), 4u); // count 2
        fresh.Stop();
        port.Close();
    }
}

TEST_F(CpmDecayTest, AbortFrameEndsTheRunWithAllResultsZeroAlsoWhenItStartsWithDc2)
{
    Play(Live(0, 500) + "\x12\x13" + Record + ETX);
    const Outcome o = Run();
    EXPECT_TRUE(o.aborted);
    EXPECT_EQ(o.start, 0);
    EXPECT_EQ(o.stop, 0);
    EXPECT_EQ(o.offsetTime, 0);
    EXPECT_EQ(o.pos, 0);
    EXPECT_EQ(o.neg, 0);
    EXPECT_EQ(o.offset, 0);
    EXPECT_EQ(cpm.StartVoltage, 0);
    // The reference lines lie on the zero line and span count + 2 points.
    const auto vstart = feeds.Of(S::VstartPos);
    // 500 is a red charging point; the abort frame is no plate voltage.
    ASSERT_EQ(vstart.size(), 3u);
    for (const Point& p : vstart)
        EXPECT_EQ(p.y, 0);
}

TEST_F(CpmDecayTest, PlainAbortFrame)
{
    Play(Live(0, 500) + STX + "\x13" + ETX);
    EXPECT_TRUE(Run().aborted);
}

TEST_F(CpmDecayTest, FrameThatNeverComesIsATimeout)
{
    Play(Live(0, 500) + Live(0, 600));
    Outcome o;
    try {
        cpm.MeasureDecay(o.start, o.stop, o.offsetTime, o.pos, o.neg, o.offset, o.aborted);
        ADD_FAILURE() << "no time-out";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
}

TEST_F(CpmDecayTest, TestRecordingWrittenToTheHomeFolder)
{
    TempDir home;
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", home.path().c_str(), 1);
    state.TestOutput = true;
    Play(Live(0x22, 500) + Live(0x04, 123) + Result(Record));
    Run();
    setenv("HOME", saved.c_str(), 1);

    ASSERT_EQ(cpm.TestRecording.Voltage.size(), 3u);
    std::ifstream f(home.file("TestData.TXT"), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string text = ss.str();
    const size_t firstLine = text.find("\r\n");
    ASSERT_NE(firstLine, std::string::npos);
    EXPECT_EQ(text.substr(firstLine + 2), "500;1;1;00100010\r\n-123;0;0;00000100\r\n1000;0;0;00010000\r\n");
}
