// The charge plate monitor's protocol class against the simulated monitor
// (and, for the link layer's odd cases, a scripted line) on a real
// pseudo-terminal through the real port component.
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "platform/Host.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>

namespace {

const std::string STX = "\x02", ETX = "\x03", ENQ = "\x05", ACK = "\x06";

// The real host, counting the pauses it is asked for.
class CountingHost final : public IHost {
public:
    CountingHost() : old_(SetHost(this)) {}
    ~CountingHost() override { SetHost(old_); }
    uint32_t TickCount() override { return RealHost().TickCount(); }
    void Sleep(unsigned ms) override
    {
        sleeps.push_back(ms);
        RealHost().Sleep(ms);
        if (onSleep)
            onSleep(ms);
    }
    std::function<void(unsigned)> onSleep;
    void ProcessMessages() override { RealHost().ProcessMessages(); }
    int Count(unsigned ms) const { return int(std::count(sleeps.begin(), sleeps.end(), ms)); }
    std::vector<unsigned> sleeps;

private:
    IHost* old_;
};

template <class F>
EComError ExpectComError(F&& f)
{
    try {
        f();
    } catch (const EComError& e) {
        return e;
    }
    ADD_FAILURE() << "no EComError";
    return EComError(-1, "none");
}

// A port on a fresh pseudo-terminal with the form's time-outs, shortened
// where a test waits for one to run out.
class LineTest : public ::testing::Test {
protected:
    LineTest()
    {
        MainState = &state;
        port.DeviceName(peer.SlavePath());
        port.BaudRate(br2400);
        port.DataBits(db8);
        port.Timeouts->ReadInterval(1000);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(400);
        port.Timeouts->WriteMultiplier(1000);
        port.Timeouts->WriteConstant(1000);
    }
    ~LineTest() override
    {
        peer.Stop();
        MainState = nullptr;
    }
    TMainState state;
    PtyPeer peer;
    TComPort port;
    C_CPM_EF cpm{port};
};

class SimTest : public LineTest {
protected:
    SimTest()
    {
        peer.Host(sim).Start();
        port.Open();
    }
    // Changes the simulator while it runs.
    template <class F>
    void Sim(F&& f)
    {
        peer.WithInstrument([&] { f(sim); });
    }
    // Display lines sent as they are; "±" stands for the zero byte the monitor sends.
    void Show(const std::string& line1, const std::string& line2)
    {
        std::string text = line1 + line2;
        std::string bytes;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "\xC2\xB1") == 0) {
                bytes += '\0';
                ++i;
            } else {
                bytes += text[i];
            }
        }
        Sim([&](SimKarvo& s) { s.DisplayOverride = bytes; });
    }
    SimKarvo sim;
};

// --- link layer ------------------------------------------------------------------

TEST_F(LineTest, AckOnTheThirdPollThenTheFrameAndItsPayload)
{
    peer.Expect(ENQ).Expect(STX + "XY" + ETX).Send(STX + "ABC" + ETX).Start();
    port.Open();
    CountingHost host;
    // The ACK is in the queue when the third poll looks, however busy the machine.
    int polls = 0;
    host.onSleep = [&](unsigned ms) {
        if (ms == 50 && ++polls == 3) {
            peer.WriteNow(ACK);
            ASSERT_TRUE(WaitUntil([&] { return port.InputCount() > 0; }, 5000));
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(cpm.SendCommand("XY"), "ABC");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    // Three polls 50 ms apart, the third finds the ACK.
    EXPECT_EQ(host.Count(50), 3);
    EXPECT_GE(ms.count(), 150);
    EXPECT_TRUE(peer.Wait(2000));
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
}

TEST_F(LineTest, AckAmongOtherBytesCountsAndNoAckStillSendsTheCommand)
{
    peer.Expect(ENQ).Send("zz" + ACK + "q").Expect(STX + "r1" + ETX).Send(STX + "0102" + ETX)
        .Expect(ENQ).Expect(STX + "r1" + ETX, 3000).Send(STX + "0304" + ETX).Start();
    port.Open();
    CountingHost host;
    cpm.ReadSetup();
    EXPECT_LT(host.Count(50), 10); // found, not polled out
    EXPECT_EQ(cpm.SetupValues[0], "01");
    EXPECT_EQ(cpm.SetupValues[1], "02");
    EXPECT_EQ(cpm.SetupValues[2], ""); // a short reply leaves the rest empty

    host.sleeps.clear();
    cpm.ReadSetup(); // no ACK at all: ten polls, then the command all the same
    EXPECT_EQ(host.Count(50), 10);
    EXPECT_EQ(cpm.SetupValues[0], "03");
    EXPECT_TRUE(peer.Wait(2000));
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
}

TEST_F(LineTest, ReplyWithoutLeadingStxLosesItsLastCharacter)
{
    peer.Expect(ENQ).Send(ACK).Expect(STX + "r0" + ETX).Send("ABC" + ETX).Start();
    port.Open();
    EXPECT_EQ(cpm.SendCommand("r0"), "AB");
}

// --- identification and setup ---------------------------------------------------

TEST_F(SimTest, IdentificationAndTheManualEFieldFirmware)
{
    struct Case {
        const char* version;
        bool manual;
    };
    for (const Case c : {Case{"KARVO V6.10 SIM", true}, Case{"KARVO V6.1  SIM", false},
                         Case{"KARVO V6.11 SIM", false}, Case{"6.10           ", true}}) {
        Sim([&](SimKarvo& s) { s.Version = c.version; });
        state.ManualEFieldFirmware = !c.manual;
        cpm.UpdateIdentification();
        EXPECT_EQ(state.ManualEFieldFirmware, c.manual) << c.version;
        EXPECT_EQ(cpm.SwVersion, QString(c.version));
    }
    EXPECT_EQ(cpm.SerialNumber, "00004711");
    EXPECT_EQ(cpm.ProductionDate, "15-03-2007");
}

TEST_F(SimTest, IdentificationAlwaysFillsTheDecayInstance)
{
    C_CPM_EF decay(port);
    CpmDecay = &decay;
    cpm.UpdateIdentification();
    CpmDecay = nullptr;
    EXPECT_EQ(decay.SerialNumber, "00004711");
    EXPECT_TRUE(cpm.SerialNumber.isEmpty());
}

TEST_F(SimTest, WriteSetupSendsTheEighteenDigitsAndReadSetupGetsThemBack)
{
    cpm.SetupValues = {"1", "1", "2", "2", "50", "9", "1", "1", "1"};
    cpm.WriteSetup();
    ASSERT_TRUE(WaitUntil([&] {
        int n = 0;
        Sim([&](SimKarvo& s) { n = s.SetupWrites; });
        return n == 1;
    }));
    std::string text;
    Sim([&](SimKarvo& s) { text = s.LastSetupText; });
    EXPECT_EQ(text, "010102023209010101");

    cpm.ReadSetup();
    EXPECT_EQ(cpm.SetupValues[4], "32"); // the received hex characters
    EXPECT_EQ(cpm.SetupValues[5], "09");
    EXPECT_EQ(cpm.SetupValues[8], "04"); // three stored files

    // What ReadSetup left is taken as decimal text: "32" goes out as 20,
    // and a value that is no decimal number is an error, not a silent 0.
    cpm.SetupValues[8] = "01";
    cpm.WriteSetup();
    ASSERT_TRUE(WaitUntil([&] {
        int n = 0;
        Sim([&](SimKarvo& s) { n = s.SetupWrites; });
        return n == 2;
    }));
    Sim([&](SimKarvo& s) { text = s.LastSetupText; });
    EXPECT_EQ(text, "010102022009010101");
    cpm.SetupValues[8] = "0A";
    EXPECT_THROW(cpm.WriteSetup(), std::runtime_error);
}

TEST_F(SimTest, EFieldOnFirmware610AsksTheUserInsteadOfSending)
{
    ScriptedPrompt prompt;
    Sim([](SimKarvo& s) { s.Version = "KARVO V6.10 SIM"; });
    state.DeviceCode = 103;
    cpm.FillReadingSetup(103, 61);
    cpm.WriteSetup();
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text,
              "Please, select at the Karvo manually the E-Field mode and select the range !");
    EXPECT_EQ(prompt.shown()[0].caption, "");
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Information);
    // The w1 frame went out, the data did not.
    cpm.ReadSetup(); // a later exchange: the monitor has seen everything before it
    std::vector<std::string> commands;
    int writes = 0;
    Sim([&](SimKarvo& s) {
        commands = s.Commands;
        writes = s.SetupWrites;
    });
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "w1"), 1);
}

TEST(CpmSetupBlock, FilledPerDeviceCodeWithTheRangeIndex)
{
    TComPort port;
    C_CPM_EF cpm(port);
    using V = std::array<std::string, 9>;
    cpm.FillReadingSetup(101, 42);
    EXPECT_EQ(cpm.SetupValues, (V{"1", "1", "2", "2", "50", "9", "1", "1", "1"}));
    cpm.FillReadingSetup(102, 53);
    EXPECT_EQ(cpm.SetupValues, (V{"1", "0", "3", "3", "50", "9", "1", "1", "1"}));
    cpm.FillReadingSetup(103, 60);
    EXPECT_EQ(cpm.SetupValues, (V{"2", "0", "0", "0", "50", "9", "1", "1", "1"}));
}

// --- records and status ---------------------------------------------------------

TEST(CpmRecord, DecodesBothSignsOfTheOffsetVoltageAndAnEmptyText)
{
    TComPort port;
    C_CPM_EF cpm(port);
    EXPECT_EQ(cpm.ParseRecord("0110E80364001400170078007B80"), 0);
    EXPECT_EQ(cpm.FileNumber, 1);
    EXPECT_EQ(cpm.DecayMode, 0x10);
    EXPECT_EQ(cpm.StartVoltage, 1000);
    EXPECT_EQ(cpm.StopVoltage, 100);
    EXPECT_EQ(cpm.OffsetTime, 20);
    EXPECT_NEAR(cpm.PosDecayTime, 2.3, 1e-9);
    EXPECT_NEAR(cpm.NegDecayTime, 12.0, 1e-9);
    EXPECT_DOUBLE_EQ(cpm.OffsetVoltage, -123);

    cpm.ParseRecord("0110E80364001400170078007B00");
    EXPECT_DOUBLE_EQ(cpm.OffsetVoltage, 123);

    cpm.ParseRecord("");
    EXPECT_EQ(cpm.FileNumber, 0);
    EXPECT_EQ(cpm.DecayMode, 0);
    EXPECT_EQ(cpm.StartVoltage, 0);
    EXPECT_EQ(cpm.StopVoltage, 0);
    EXPECT_EQ(cpm.OffsetTime, 0);
    EXPECT_EQ(cpm.PosDecayTime, 0);
    EXPECT_EQ(cpm.NegDecayTime, 0);
    EXPECT_EQ(cpm.OffsetVoltage, 0);

    cpm.ParseRecord("0221E803"); // short: what is missing counts as zero
    EXPECT_EQ(cpm.DecayMode, 0x21);
    EXPECT_EQ(cpm.StartVoltage, 1000);
    EXPECT_EQ(cpm.StopVoltage, 0);
}

TEST(CpmRecord, StatusBitsMostSignificantFirst)
{
    EXPECT_EQ(C_CPM_EF::StatusBits("24"), "00100100");
    EXPECT_EQ(C_CPM_EF::StatusBits("02"), "00000010");
    EXPECT_EQ(C_CPM_EF::StatusBits("FF"), "11111111");
    EXPECT_EQ(C_CPM_EF::StatusBits("x1"), "00000001");
}

// --- display read ----------------------------------------------------------------

TEST_F(SimTest, DisplayNumbersThatReachIntoTheSearchedPositions)
{
    struct Case {
        std::string line2;
        double value;
        const char* unit;
    };
    const std::string line1 = "V-METER     \xC2\xB1" "4kV";
    const Case cases[] = {
        // The sign and leading digits left of position 7 belong to the number.
        {"   -123,4 V     ", -123.4, " V     "},
        {"      -0,523 kV ", -0.523, " kV "},
        {"     -0,523 kV  ", -0.523, " kV  "},
        {"      1.5 V     ", 15, " V     "},  // the dot is skipped
        {"       12 kV/m  ", 12, " kV/m  "},
        {"12345678901,5   ", 12345678901.5, "   "}, // digits from position 1 on
    };
    for (const Case& c : cases) {
        Show(line1, c.line2);
        double value = 0;
        QString unit = "old";
        cpm.ReadDisplay(value, unit);
        EXPECT_DOUBLE_EQ(value, c.value) << c.line2;
        EXPECT_EQ(unit, QString(c.unit)) << c.line2;
    }
}

TEST_F(SimTest, DisplayOnThePlates1kVRangeIsInKilovoltsAndTheZeroByteIsThePlusMinusSign)
{
    Show("V-METER     \xC2\xB1" "1kV", "      0,523     ");
    double value = 0;
    QString unit;
    const std::string text = cpm.ReadDisplay(value, unit);
    EXPECT_DOUBLE_EQ(value, 0.523);
    EXPECT_EQ(unit, "kV");
    ASSERT_EQ(text.size(), 32u);
    EXPECT_EQ(uint8_t(text[12]), 0xB1);
    // The read multiplier stays on the port for every later read.
    EXPECT_EQ(port.Timeouts->ReadMultiplier(), 100);
}

TEST_F(SimTest, DisplayOverflowAndNoNumber)
{
    const std::string line1 = "V-METER     \xC2\xB1" "4kV";
    double value = 0;
    QString unit = "kV";
    Show(line1, "    OVERFLOW    ");
    cpm.ReadDisplay(value, unit);
    EXPECT_EQ(value, 9999.0);
    EXPECT_EQ(unit, "kV"); // untouched

    Sim([&](SimKarvo& s) { s.DisplayOverride = std::string(16, 'x') + "0"; });
    value = 0;
    cpm.ReadDisplay(value, unit);
    EXPECT_EQ(value, 9999.0);
    EXPECT_EQ(unit, "kV");

    Show(line1, "   HOLD  MODE   ");
    cpm.ReadDisplay(value, unit);
    EXPECT_EQ(value, 9999.0);
    EXPECT_EQ(unit, "   OVR !");

    Show(line1, "      --5 V     ");
    EXPECT_THROW(cpm.ReadDisplay(value, unit), std::exception);
}

TEST_F(SimTest, DisplayCommaIsTheDecimalSeparatorWhateverTheLocale)
{
    Show("E-FIELD  \xC2\xB1" "20kV/m", "     -12,5 kV/m ");
    for (const QLocale& l : {QLocale(QLocale::German), QLocale::c(), QLocale(QLocale::English)}) {
        LocaleGuard guard(l);
        QLocale::setDefault(l);
        double value = 0;
        QString unit;
        cpm.ReadDisplay(value, unit);
        EXPECT_DOUBLE_EQ(value, -12.5) << l.name().toStdString();
        EXPECT_EQ(unit, " kV/m ");
    }
}

TEST_F(SimTest, SimulatedMonitorShowsTheModeAndRangeLastWritten)
{
    struct Case {
        int device, range;
        const char* unit;
        double fullScale;
    };
    for (const Case c : {Case{101, 42, "kV", 1000}, Case{101, 40, " V", 100}, Case{102, 53, " kV", 2},
                         Case{103, 60, " kV/m", 5}}) {
        state.DeviceCode = c.device;
        state.ManualEFieldFirmware = false;
        cpm.FillReadingSetup(c.device, c.range);
        cpm.WriteSetup();
        double value = 0;
        QString unit;
        cpm.ReadDisplay(value, unit);
        EXPECT_EQ(unit.trimmed(), QString(c.unit).trimmed()) << c.range;
        EXPECT_LE(std::abs(value), c.fullScale) << c.range;
    }
    // A reading past full scale shows OVERFLOW.
    Sim([](SimKarvo& s) { s.Reading = 5.5; });
    double value = 0;
    QString unit;
    cpm.ReadDisplay(value, unit);
    EXPECT_EQ(value, 9999.0);
}

// --- a monitor that misbehaves ----------------------------------------------------

TEST_F(SimTest, SilentMonitorRaisesTimeoutAndThePortStaysUsable)
{
    Sim([](SimKarvo& s) { s.Silent = true; });
    double value = 0;
    QString unit;
    EXPECT_EQ(std::string(ExpectComError([&] { cpm.ReadDisplay(value, unit); }).what()), "Timeout");
    EXPECT_EQ(std::string(ExpectComError([&] { cpm.SendCommand("r0"); }).what()), "Timeout");
    EXPECT_EQ(std::string(ExpectComError([&] { cpm.WriteSetup(); }).what()), "Timeout");
    EXPECT_TRUE(port.Active());
    Sim([](SimKarvo& s) { s.Silent = false; });
    port.ReadString(); // whatever was on its way
    cpm.ReadDisplay(value, unit);
    EXPECT_FALSE(unit.isEmpty());
}

TEST_F(SimTest, HangUpInTheMiddleOfAReplyIsAPortError)
{
    Sim([](SimKarvo& s) { s.HangUpInReply = true; });
    double value = 0;
    QString unit;
    ExpectComError([&] { cpm.ReadDisplay(value, unit); });
}

TEST_F(SimTest, BabblingLineEndsAtTheBoundWithTheComponentsError)
{
    Sim([](SimKarvo& s) { s.Babble = true; });
    EXPECT_EQ(std::string(ExpectComError([&] { cpm.SendCommand("r0"); }).what()), kMsgReplyTooLong);
    port.Close(); // drops what is still coming
    port.Open();
    double value = 0;
    QString unit;
    EXPECT_EQ(std::string(ExpectComError([&] { cpm.ReadDisplay(value, unit); }).what()), kMsgReplyTooLong);
}

TEST_F(SimTest, GarbageGivesAValueOrAnErrorButNeverHangs)
{
    Sim([](SimKarvo& s) { s.Garbage = true; });
    for (int i = 0; i < 5; ++i) {
        double value = 0;
        QString unit;
        try {
            cpm.ReadDisplay(value, unit);
        } catch (const std::exception&) {
        }
        try {
            cpm.ReadSetup();
        } catch (const std::exception&) {
        }
    }
    EXPECT_TRUE(port.Active());
}

// --- decay frames and stored files of the simulator ---------------------------------

TEST_F(SimTest, SimulatedDecayRunStreamsFramesWithTheTimingBitThenTheResult)
{
    Sim([](SimKarvo& s) {
        s.Setup = {0, 0, 0, 0, 0x21, 10, 2, 2, 1}; // POS, 1000 V to 100 V
        s.FramePeriodMs = 20;
        s.DecayTauMs = 200;
    });
    cpm.SendCommand("w2"); // its reply is the first frame, not evaluated
    int timed = 0, frames = 0;
    std::string result;
    for (int i = 0; i < 500 && result.empty(); ++i) {
        const std::string f = port.ReadUntil(0x03);
        ASSERT_GE(f.size(), 8u);
        ++frames;
        if (f[0] == 0x12)
            result = f.substr(2, 28);
        else if (C_CPM_EF::StatusBits(f.substr(2, 2))[2] == '1')
            ++timed;
    }
    ASSERT_EQ(result.size(), 28u);
    cpm.ParseRecord(result);
    EXPECT_EQ(cpm.DecayMode, 0x21);
    EXPECT_EQ(cpm.StartVoltage, 1000);
    EXPECT_EQ(cpm.StopVoltage, 100);
    EXPECT_EQ(cpm.OffsetTime, 20);
    EXPECT_GT(timed, 0);
    // Tenths of a second of timing at 20 ms a frame.
    EXPECT_NEAR(cpm.PosDecayTime, timed * 0.02, 0.11);
    EXPECT_DOUBLE_EQ(cpm.OffsetVoltage, -3);
    EXPECT_EQ(cpm.FileNumber, 4); // stored after the three there were
}

TEST_F(SimTest, BelDuringARunGivesTheAbortFrame)
{
    Sim([](SimKarvo& s) { s.Setup = {0, 0, 0, 0, 0x10, 10, 0, 2, 1}; });
    cpm.SendCommand("w2");
    port.ReadUntil(0x03); // a live frame
    cpm.SendBreak();
    std::string f;
    for (int i = 0; i < 50; ++i) {
        f = port.ReadUntil(0x03);
        if (f.size() >= 2 && f[1] == 0x13)
            break;
    }
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(f[1], 0x13);
    bool decaying = true;
    Sim([&](SimKarvo& s) { decaying = s.Decaying(); });
    EXPECT_FALSE(decaying);
}

TEST_F(SimTest, StoredRecordsThenAnEmptySlot)
{
    auto readFile = [&](int n) {
        char num[3];
        std::snprintf(num, sizeof num, "%02d", n);
        port.WriteString(ENQ);
        WaitUntil([&] { return port.InputCount() > 0; }, 2000);
        port.ReadString();
        port.WriteString(STX + "r3" + ETX);
        port.WriteString(STX + num + ETX);
        std::string r = port.ReadUntil(0x03);
        return r.substr(1, r.size() - 2);
    };
    EXPECT_EQ(readFile(1), "0110E80364001400170078007B80");
    EXPECT_EQ(readFile(3).substr(0, 4), "0332");
    EXPECT_EQ(readFile(4).substr(2, 2), "FF");
}

} // namespace
