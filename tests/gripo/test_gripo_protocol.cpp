// The tester's statistics exchange against a scripted far end on a real
// pseudo-terminal, and the texts the record turns into.
#include "core/TimeText.h"
#include "gripo/C_Gripo.h"
#include "gripo/GripoStates.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s += char(uint8_t(b));
    return s;
}

// A reply b1..b11 with its checksum for `command`.
std::string Reply(uint8_t command, std::initializer_list<int> b1to11)
{
    std::string s = Bytes(b1to11);
    unsigned sum = command;
    for (char c : s)
        sum += uint8_t(c);
    return s + char(uint8_t(sum));
}

class GripoProtocol : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadInterval(0);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(3000);
        port.Timeouts->WriteConstant(1000);
        port.Open();
    }
    void TearDown() override
    {
        peer.Stop();
        EXPECT_FALSE(peer.Failed()) << peer.Failure();
    }
    // A record that differs from anything an exchange below would give.
    void Poison()
    {
        gripo.Count_all = 11111;
        gripo.Count_HGB_L = gripo.Count_HGB_H = gripo.Count_Shoe_L = gripo.Count_Shoe_H = 7;
        gripo.Percent_HGB_L = gripo.Percent_HGB_H = gripo.Percent_Shoe_L = gripo.Percent_Shoe_H = 42.5;
    }
    void ExpectPoisoned()
    {
        EXPECT_EQ(gripo.Count_all, 11111u);
        EXPECT_EQ(gripo.Count_HGB_L, 7u);
        EXPECT_EQ(gripo.Count_Shoe_H, 7u);
        EXPECT_EQ(gripo.Percent_HGB_L, 42.5);
        EXPECT_EQ(gripo.Percent_Shoe_H, 42.5);
    }
    PtyPeer peer;
    TComPort port;
    C_Gripo gripo{port};
    ScriptedPrompt prompt;
};

} // namespace

TEST_F(GripoProtocol, TheChecksumExampleIsAcknowledgedWithItsComplementAndEchoed)
{
    // Command 0x7A and eleven bytes 0x01: checksum 0x85, acknowledgement 0x7A.
    const std::string reply = Reply(0x7A, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    ASSERT_EQ(uint8_t(reply.back()), 0x85);
    peer.Expect("\x7A").Send(reply).Expect("\x7A").Send("\x7A");
    peer.Start();
    prompt.Press(TPromptResult::Ok);
    ASSERT_EQ(gripo.ReadStatistics(false), C_Gripo::Ok);
    EXPECT_TRUE(peer.Wait(5000));
    EXPECT_EQ(peer.Received(), Bytes({0x7A, 0x7A}));

    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "Please, Press the plate and wait until the LED light up !");
    EXPECT_EQ(prompt.shown()[0].caption, "Instruction");
    EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::OkCancel);
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Exclamation);

    // Every count is 0x0101 = 257: each share is the whole.
    EXPECT_EQ(gripo.Count_all, 257u);
    EXPECT_EQ(gripo.Count_HGB_L, 257u);
    EXPECT_EQ(gripo.Count_HGB_H, 257u);
    EXPECT_EQ(gripo.Count_Shoe_L, 257u);
    EXPECT_EQ(gripo.Count_Shoe_H, 257u);
    EXPECT_DOUBLE_EQ(gripo.Percent_Shoe_H, 100.0);
    EXPECT_EQ(C_Gripo::Checksum(0x7A, reinterpret_cast<const uint8_t*>(reply.data())), 0x85);
}

TEST_F(GripoProtocol, CountsAreLowByteFirstAndSharesUseTheReceivedTotal)
{
    // 300 measurements (0x2C 0x01), 3 below, 4 above, 0 shoes below, 450 shoes above.
    const std::string reply = Reply(0x7A, {0x55, 0x2C, 0x01, 3, 0, 4, 0, 0, 0, 0xC2, 0x01});
    peer.Expect("\x7A").Send(reply).Expect(std::string(1, char(uint8_t(255 - uint8_t(reply.back()))))).Send("\x7A");
    peer.Start();
    prompt.Press(TPromptResult::Ok);
    ASSERT_EQ(gripo.ReadStatistics(false), C_Gripo::Ok);
    EXPECT_EQ(gripo.Count_all, 300u);
    EXPECT_EQ(gripo.Count_HGB_L, 3u);
    EXPECT_EQ(gripo.Count_HGB_H, 4u);
    EXPECT_EQ(gripo.Count_Shoe_L, 0u);
    EXPECT_EQ(gripo.Count_Shoe_H, 450u);
    EXPECT_EQ(gripo.Percent_HGB_L, (1.0 / 300.0) * 3.0 * 100.0);
    EXPECT_EQ(gripo.Percent_HGB_H, (1.0 / 300.0) * 4.0 * 100.0);
    EXPECT_EQ(gripo.Percent_Shoe_L, 0.0);
    // A counter above the total gives a share above 100 %.
    EXPECT_DOUBLE_EQ(gripo.Percent_Shoe_H, 150.0);
    EXPECT_EQ(C_Gripo::PercentText(gripo.Percent_Shoe_H), "150.0");
}

TEST_F(GripoProtocol, AllZeroGivesZeroSharesWithoutDividing)
{
    const std::string reply = Reply(0x7A, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(uint8_t(reply.back()), 0x7A);
    peer.Expect("\x7A").Send(reply).Expect("\x85").Send("\x7A");
    peer.Start();
    Poison();
    prompt.Press(TPromptResult::Ok);
    ASSERT_EQ(gripo.ReadStatistics(false), C_Gripo::Ok);
    EXPECT_EQ(gripo.Count_all, 0u);
    EXPECT_EQ(gripo.Count_HGB_L, 0u);
    EXPECT_EQ(gripo.Percent_HGB_L, 0.0);
    EXPECT_EQ(gripo.Percent_HGB_H, 0.0);
    EXPECT_EQ(gripo.Percent_Shoe_L, 0.0);
    EXPECT_EQ(gripo.Percent_Shoe_H, 0.0);
}

TEST_F(GripoProtocol, ClearingSendsTheOtherCommandAndChecksItsEcho)
{
    const std::string reply = Reply(0x7B, {0, 121, 0, 3, 0, 0, 0, 0, 0, 0, 0});
    peer.Expect("\x7B").Send(reply).Expect(std::string(1, char(uint8_t(~uint8_t(reply.back()))))).Send("\x7B");
    peer.Start();
    prompt.Press(TPromptResult::Ok);
    ASSERT_EQ(gripo.ReadStatistics(true), C_Gripo::Ok);
    EXPECT_EQ(gripo.Count_all, 121u);
    EXPECT_EQ(gripo.Percent_HGB_L, (1.0 / 121.0) * 3.0 * 100.0);
    EXPECT_EQ(C_Gripo::PercentText(gripo.Percent_HGB_L), "2.5");
}

TEST_F(GripoProtocol, CancelledInstructionSendsNothing)
{
    peer.Start();
    Poison();
    prompt.Press(TPromptResult::Cancel);
    EXPECT_EQ(gripo.ReadStatistics(true), C_Gripo::Cancelled);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(peer.Received(), "");
    ExpectPoisoned();
}

TEST_F(GripoProtocol, AWrongChecksumIsNotAcknowledgedAndLeavesTheRecord)
{
    std::string reply = Reply(0x7A, {0, 10, 0, 1, 0, 1, 0, 1, 0, 1, 0});
    reply.back() = char(uint8_t(reply.back()) + 1);
    peer.Expect("\x7A").Send(reply);
    peer.Start();
    Poison();
    prompt.Press(TPromptResult::Ok);
    EXPECT_EQ(gripo.ReadStatistics(false), C_Gripo::ChecksumWrong);
    EXPECT_TRUE(peer.Wait(5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(peer.Received(), "\x7A");  // no acknowledgement went out
    ExpectPoisoned();
}

TEST_F(GripoProtocol, AWrongEchoFailsAfterTheAcknowledgement)
{
    const std::string reply = Reply(0x7A, {0, 10, 0, 1, 0, 1, 0, 1, 0, 1, 0});
    peer.Expect("\x7A").Send(reply).Expect(std::string(1, char(uint8_t(255 - uint8_t(reply.back()))))).Send("\x7B");
    peer.Start();
    Poison();
    prompt.Press(TPromptResult::Ok);
    EXPECT_EQ(gripo.ReadStatistics(false), C_Gripo::EchoWrong);
    EXPECT_TRUE(peer.Wait(5000));
    ExpectPoisoned();
}

TEST_F(GripoProtocol, BytesLeftFromAFailedExchangeDoNotShiftTheNextReply)
{
    // The first reply has a wrong checksum and two stray bytes behind it;
    // the second exchange must read its own reply, not those.
    std::string bad = Reply(0x7A, {0, 10, 0, 1, 0, 1, 0, 1, 0, 1, 0});
    bad.back() = char(uint8_t(bad.back()) ^ 0x40);
    const std::string good = Reply(0x7A, {9, 0x2C, 0x01, 3, 0, 0, 0, 0, 0, 0, 0});
    peer.Expect("\x7A").Send(bad + "\x11\x22");
    peer.Expect("\x7A").Send(good).Expect(std::string(1, char(uint8_t(255 - uint8_t(good.back()))))).Send("\x7A");
    peer.Start();
    prompt.Press(TPromptResult::Ok).Press(TPromptResult::Ok);
    EXPECT_EQ(gripo.ReadStatistics(false), C_Gripo::ChecksumWrong);
    // The stray bytes are in the queue before the next try starts.
    const auto t0 = std::chrono::steady_clock::now();
    while (port.InputCount() < 2 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(port.InputCount(), 2u);
    ASSERT_EQ(gripo.ReadStatistics(false), C_Gripo::Ok);
    EXPECT_EQ(gripo.Count_all, 300u);
    EXPECT_EQ(gripo.Count_HGB_L, 3u);
}

TEST_F(GripoProtocol, ASilentTesterEndsInTheTimeoutAndAClosedPortInItsError)
{
    port.Timeouts->ReadConstant(300);
    peer.Start();
    Poison();
    prompt.Press(TPromptResult::Ok);
    try {
        gripo.ReadStatistics(false);
        ADD_FAILURE() << "no error";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    ExpectPoisoned();

    port.Close();
    prompt.Press(TPromptResult::Ok);
    try {
        gripo.ReadStatistics(false);
        ADD_FAILURE() << "no error";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), kMsgClosedPort);
    }
}

// --- texts -------------------------------------------------------------------

TEST(GripoTexts, PercentagesHaveOneDecimalAndAtMostFourDigits)
{
    EXPECT_EQ(C_Gripo::PercentText(2.479), "2.5");
    EXPECT_EQ(C_Gripo::PercentText(0), "0.0");
    EXPECT_EQ(C_Gripo::PercentText(100), "100.0");
    EXPECT_EQ(C_Gripo::PercentText(150), "150.0");
    EXPECT_EQ(C_Gripo::PercentText(99.96), "100.0");
    EXPECT_EQ(C_Gripo::PercentText(0.04), "0.0");
    EXPECT_EQ(C_Gripo::PercentText(1234.56), "1235.0");
    EXPECT_EQ(C_Gripo::PercentText(12345.6), "1.235E4");
    EXPECT_EQ(C_Gripo::PercentText(9999.96), "1E4");
    EXPECT_EQ(C_Gripo::PercentText(6553500.0), "6.554E6");
    // Exactly between two texts: up, not to the even digit.
    EXPECT_EQ(C_Gripo::PercentText((1.0 / 208) * 169 * 100), "81.3");
    EXPECT_EQ(C_Gripo::PercentText(0.25), "0.3");
    EXPECT_EQ(C_Gripo::PercentText(1234.5), "1235.0");
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(C_Gripo::PercentText(2.479), "2,5");
    EXPECT_EQ(C_Gripo::PercentText(12345.6), "1,235E4");
}

TEST(GripoTexts, TheFileLineCarriesTheRecordAsShown)
{
    TComPort port;
    C_Gripo g(port);
    g.Count_all = 120;  // already lowered by the window
    g.Count_HGB_L = 3;
    g.Count_HGB_H = 0;
    g.Count_Shoe_L = 2;
    g.Count_Shoe_H = 1;
    g.Percent_HGB_L = (1.0 / 121) * 3 * 100;
    g.Percent_Shoe_L = (1.0 / 121) * 2 * 100;
    g.Percent_Shoe_H = (1.0 / 121) * 1 * 100;
    g.Comment = "line 4; desk";
    const QDateTime when(QDate(2009, 12, 8), QTime(14, 5, 9));
    EXPECT_EQ(C_Gripo::CsvHeader(),
              "Date;Time;No. of meas.;HGB <;HGB < %;HGB >;HGB > %;Shoe <;Shoe < %;Shoe >;Shoe > %;Comment");
    const QLocale loc;
    const QString expected = "12/8/2009;" +
                             loc.toString(when.time(), LongTimeFormatWithoutZone()) +
                             ";120;3;2.5%;0;0.0%;2;1.7%;1;0.8%;line 4, desk";
    EXPECT_EQ(g.CsvLine(when), expected);
    EXPECT_FALSE(LongTimeFormatWithoutZone().contains('t'));

    const auto rows = g.PrintRows();
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0].left, "Number of measurments : 120");
    EXPECT_EQ(rows[0].right, "");
    EXPECT_EQ(rows[1].left, "HGB <  : 3");
    EXPECT_EQ(rows[1].right, " = 2.5%");
    EXPECT_EQ(rows[2].left, "HGB >  : 0");
    EXPECT_EQ(rows[3].left, "Shoe < : 2");
    EXPECT_EQ(rows[4].left, "Shoe > : 1");
    EXPECT_EQ(rows[4].right, " = 0.8%");
}

// The window's rules without a screen: what each state lets begin.
TEST(GripoStateRules, OnlyAnIdleWindowBeginsAnythingAndOnlyShownCountsAreWritten)
{
    const TGripoState all[] = {TGripoState::Idle,   TGripoState::Transferring, TGripoState::Shown,
                               TGripoState::Failed, TGripoState::Saving,       TGripoState::Printing};
    for (TGripoState s : all) {
        SCOPED_TRACE(GripoStateName(s).toStdString());
        const TGripoControls c = GripoControls(s);
        const bool busy = GripoBusy(s);
        // Nothing begins while something runs; Exit then waits for it.
        EXPECT_EQ(GripoAllows(s, TGripoAction::Start), !busy);
        EXPECT_EQ(GripoAllows(s, TGripoAction::Exit), !busy);
        EXPECT_EQ(c.Start, !busy);
        EXPECT_EQ(c.Exit, !busy);
        EXPECT_EQ(c.DeleteBox, !busy);
        // Only the counts of a completed transfer are saved or printed.
        EXPECT_EQ(GripoAllows(s, TGripoAction::Save), s == TGripoState::Shown);
        EXPECT_EQ(GripoAllows(s, TGripoAction::Print), s == TGripoState::Shown);
        EXPECT_EQ(c.Save, s == TGripoState::Shown);
        EXPECT_EQ(c.Print, s == TGripoState::Shown);
        // The counts look valid exactly while they are those of a completed transfer.
        EXPECT_EQ(c.Results, s == TGripoState::Shown || s == TGripoState::Saving || s == TGripoState::Printing);
        // A comment can be typed only where it can still go into a file.
        EXPECT_EQ(c.CommentEnabled, s == TGripoState::Shown);
        EXPECT_TRUE(!c.CommentEnabled || c.CommentShown);
    }
}
