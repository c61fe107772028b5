// The tera-ohmmeter protocol class against the simulated meter on a
// pseudo-terminal, through the real port component.
#include "ohmra/C_Ohmra.h"
#include "tests/ohmra/OhmraTestBench.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using Fault = SimOhmra::Fault;

class OhmraProtocol : public ::testing::Test {
protected:
    ScriptedPrompt prompt;
    OhmraBench bench;
    C_Ohmra ohmra{bench.port};
};

// --- frames on the wire --------------------------------------------------------

TEST_F(OhmraProtocol, WorkedFramesGoOutAsDocumented)
{
    EXPECT_EQ(ohmra.Reset(), 0);
    EXPECT_EQ(bench.ReceivedHex(), "02 04 82 2D");

    EXPECT_EQ(ohmra.Measure("C004"), 0);
    EXPECT_EQ(bench.ReceivedHex(), "02 04 82 2D 02 05 C0 04 32");
    bench.peer.TakeReceived();
    EXPECT_EQ(ohmra.Measure("c004"), 0);   // lower-case digits mean the same bytes
    EXPECT_EQ(bench.ReceivedHex(), "02 04 82 2D 02 05 C0 04 32 02 05 C0 04 32");

    QString date, version, serial;
    EXPECT_EQ(ohmra.ReadInfo(date, version, serial), 0);
    EXPECT_EQ(bench.ReceivedHex(), "02 04 82 2D 02 05 C0 04 32 02 05 C0 04 32 02 04 A1 37");
    EXPECT_TRUE(prompt.shown().empty());
}

TEST_F(OhmraProtocol, InfoReplyGivesSerialDateAndVersion)
{
    bench.Sim([](SimOhmra& s) {
        s.SerialNumber = 5;
        s.SerialMonth = 1;
        s.SerialYear = 12;
        s.CalDay = 3;
        s.CalMonth = 4;
        s.CalYear = 10;
        s.Version = "1.02";
    });
    QString date = "d", version = "v", serial = "s";
    ASSERT_EQ(ohmra.ReadInfo(date, version, serial), 0);
    EXPECT_EQ(serial, "00050112");
    EXPECT_EQ(date, "03.04.2010");
    EXPECT_EQ(version, "1.02");

    // Serial number 123 of 11/09, calibrated 09.11.2009.
    ASSERT_EQ(ohmra.WriteCalibrationDate(123, 11, 9, 9, 11, 9), 0);
    ASSERT_EQ(ohmra.ReadInfo(date, version, serial), 0);
    EXPECT_EQ(serial, "01231109");
    EXPECT_EQ(date, "09.11.2009");

    // A failed exchange leaves the texts alone.
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Nak}; });
    EXPECT_EQ(ohmra.ReadInfo(date, version, serial), 1);
    EXPECT_EQ(serial, "01231109");
}

TEST_F(OhmraProtocol, CalibrationDateCommandBytes)
{
    ASSERT_EQ(ohmra.WriteCalibrationDate(123, 11, 9, 8, 12, 9), 0);
    EXPECT_EQ(bench.Commands().back(), "A07B000B09FF080C09");
    EXPECT_EQ(bench.peer.Received().size(), 12u);   // STX LEN, nine bytes, CHK
}

// --- acknowledgement and checksum ----------------------------------------------

TEST_F(OhmraProtocol, ChecksumErrorRetrySendsTheSameBytesAgain)
{
    bench.Sim([](SimOhmra& s) {
        s.Live = {1234, 5, 1, 21, 40, 0x01, 0};
        s.Faults = {Fault::WrongChecksum};
    });
    prompt.Press(TPromptResult::Retry);
    ASSERT_EQ(ohmra.Measure("C004"), 0);
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "Checksum error detect ! Retry ?");
    EXPECT_EQ(prompt.shown()[0].caption, "Error");
    EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::RetryCancel);
    EXPECT_EQ(bench.ReceivedHex(), "02 05 C0 04 32 02 05 C0 04 32");
    EXPECT_EQ(ohmra.Mantissa, 1234);
    EXPECT_EQ(ohmra.Exponent, 5);
}

TEST_F(OhmraProtocol, ChecksumErrorCancelFailsWithEmptyReply)
{
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::WrongChecksum}; });
    prompt.Press(TPromptResult::Cancel);
    std::string reply = "kept";
    EXPECT_EQ(ohmra.Transfer("C004", reply, false), 1);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(prompt.shown().size(), 1u);

    // Through Measure nothing changes.
    ASSERT_EQ(ohmra.Measure("C004"), 0);
    const int32_t before = ohmra.Mantissa;
    bench.Sim([](SimOhmra& s) {
        s.Live.mantissa = 77;
        s.Faults = {Fault::WrongChecksum};
    });
    prompt.Press(TPromptResult::Cancel);
    EXPECT_EQ(ohmra.Measure("C004"), 1);
    EXPECT_EQ(ohmra.Mantissa, before);
}

TEST_F(OhmraProtocol, NakFailsAfterOneByteWithoutMessage)
{
    std::string reply = "unchanged";
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Nak}; });
    EXPECT_EQ(ohmra.Transfer("C004", reply, false), 1);
    EXPECT_EQ(reply, "unchanged");
    EXPECT_TRUE(prompt.shown().empty());

    // Garbage: one byte is read, the rest stays for whoever reads next.
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Garbage}; });
    EXPECT_EQ(ohmra.Transfer("C004", reply, false), 1);
    EXPECT_EQ(reply, "unchanged");
    EXPECT_TRUE(OhmraBench::WaitFor([&] { return bench.port.InputCount() == 3; }));
    EXPECT_TRUE(prompt.shown().empty());
}

TEST_F(OhmraProtocol, ResetNeedsOnlyTheAcknowledgement)
{
    EXPECT_EQ(ohmra.Reset(), 0);
    EXPECT_TRUE(OhmraBench::WaitFor([&] {
        int n = 0;
        bench.Sim([&](SimOhmra& s) { n = s.Resets; });
        return n == 1;
    }));
    EXPECT_EQ(bench.port.InputCount(), 0u);
}

// --- a broken line fails with the port's error -----------------------------------

// A frame announcing a length shorter than its own frame is no answer: the
// exchange fails without a port error, and the next one is not spoilt by
// what came after that length.
TEST_F(OhmraProtocol, ShortLengthByteFailsCleanly)
{
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::ShortLength}; });
    std::string reply = "unchanged";
    EXPECT_EQ(ohmra.Transfer("C004", reply, false), 1);
    EXPECT_EQ(reply, "unchanged");
    EXPECT_TRUE(prompt.shown().empty());
    EXPECT_EQ(ohmra.Transfer("C004", reply, false), 0);
    EXPECT_EQ(reply.substr(0, 2), "C0");
}

TEST(OhmraProtocolLine, HalfFrameSilenceAndHangUpEndInThePortsError)
{
    ScriptedPrompt prompt;
    OhmraBench bench(300);
    C_Ohmra ohmra(bench.port);
    std::string reply = "unchanged";
    for (Fault f : {Fault::HalfFrame, Fault::Silence, Fault::NoStx}) {
        bench.Sim([f](SimOhmra& s) { s.Faults = {f}; });
        try {
            ohmra.Transfer("C004", reply, false);
            ADD_FAILURE() << "no error for fault " << int(f);
        } catch (const EComError& e) {
            EXPECT_STREQ(e.what(), "Timeout");
        }
        EXPECT_EQ(reply, "unchanged");
        // Whatever is left over goes before the next case.
        bench.port.ReadString();
    }
    // After the errors the line works again.
    EXPECT_EQ(ohmra.Measure("C004"), 0);

    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::HangUp}; });
    EXPECT_THROW(ohmra.Measure("C004"), EComError);
    EXPECT_TRUE(prompt.shown().empty());
}

// --- measurement ------------------------------------------------------------------

TEST_F(OhmraProtocol, MeasurementFillsAllFieldsTimerCommandOnlyTimer)
{
    bench.Sim([](SimOhmra& s) { s.Live = {4700, 6, 5, 24, 51, 0x81, 7}; });
    ASSERT_EQ(ohmra.Measure("C004"), 0);
    EXPECT_EQ(ohmra.Mantissa, 4700);
    EXPECT_EQ(ohmra.Range, 5);
    EXPECT_EQ(ohmra.Exponent, 6);
    EXPECT_EQ(ohmra.Temperature, 24);
    EXPECT_EQ(ohmra.Humidity, 51);
    EXPECT_EQ(ohmra.Status, 0x81);
    EXPECT_EQ(ohmra.Timer, 7);

    bench.Sim([](SimOhmra& s) {
        s.Live = {999, 2, 1, 11, 12, 0x00, 0};
        s.MsPerTimerSecond = 60000;
    });
    ASSERT_EQ(ohmra.Measure("C01D0A"), 0);
    EXPECT_EQ(bench.Commands().back(), "C01D0A");
    EXPECT_EQ(ohmra.Timer, 10);
    EXPECT_EQ(ohmra.Mantissa, 4700);
    EXPECT_EQ(ohmra.Range, 5);
    EXPECT_EQ(ohmra.Exponent, 6);
    EXPECT_EQ(ohmra.Temperature, 24);
    EXPECT_EQ(ohmra.Humidity, 51);
    EXPECT_EQ(ohmra.Status, 0x81);
}

TEST_F(OhmraProtocol, RangeAndExponentSplit)
{
    int32_t range = -1, exponent = -1;
    C_Ohmra::SplitRangeExponent("A5", range, exponent);
    EXPECT_EQ(range, 5);
    EXPECT_EQ(exponent, 5);
    C_Ohmra::SplitRangeExponent("1F", range, exponent);
    EXPECT_EQ(range, 0);
    EXPECT_EQ(exponent, 31);

    // The same byte over the wire.
    bench.Sim([](SimOhmra& s) { s.Live = {1, 31, 0, 0, 0, 0, 0}; });
    ASSERT_EQ(ohmra.Measure("C004"), 0);
    EXPECT_EQ(ohmra.Range, 0);
    EXPECT_EQ(ohmra.Exponent, 31);
}

TEST_F(OhmraProtocol, StoredFilesComeBackUndecoded)
{
    bench.Sim([](SimOhmra& s) {
        s.Files[7] = {SimOhmra::Slot::Stored, {12345, 3, 0, 22, 40, 0x01, 30}};
        s.Files[8] = {};
    });
    std::string data;
    ASSERT_EQ(ohmra.ReadStoredFile(7, data), 0);
    EXPECT_EQ(bench.Commands().back(), "8807");
    EXPECT_EQ(data, "883930031628011E");

    // An empty slot answers without the acknowledgement.
    data = "kept";
    EXPECT_EQ(ohmra.ReadStoredFile(8, data), 1);
    EXPECT_EQ(data, "kept");
}

// --- parameters --------------------------------------------------------------------

TEST_F(OhmraProtocol, ParametersRoundTripAndLimits)
{
    Ohmra_Para_Struct p;
    ASSERT_EQ(ohmra.ReadParameters(p), 0);
    EXPECT_EQ(p.k0, 1000);
    EXPECT_EQ(p.k_TF3, 900);
    EXPECT_EQ(p.Raw0, 0x91);
    EXPECT_EQ(p.Raw1, 0xF0);
    EXPECT_EQ(p.Raw2, 0x00);
    EXPECT_EQ(p.Raw17, 0x08);

    p.k0 = 266;
    p.k5 = 65535;
    p.k_TF2 = 0;
    ASSERT_EQ(ohmra.WriteParameters(p), 0);
    const std::string cmd = bench.Commands().back();
    EXPECT_EQ(cmd.size(), 46u);
    EXPECT_EQ(cmd.substr(0, 10), "90F0000A01");
    EXPECT_EQ(cmd.substr(34, 4), "08FF");
    // LEN 26 on the wire.
    EXPECT_EQ(bench.peer.Received().substr(bench.peer.Received().size() - 26, 2), std::string("\x02\x1A", 2));

    Ohmra_Para_Struct q;
    ASSERT_EQ(ohmra.ReadParameters(q), 0);
    EXPECT_EQ(q.k0, 266);
    EXPECT_EQ(q.k5, 65535);
    EXPECT_EQ(q.k_TF2, 0);

    // A value that does not fit a word is refused before anything goes out.
    const size_t sent = bench.peer.Received().size();
    q.k3 = 99999;
    EXPECT_EQ(ohmra.WriteParameters(q), 1);
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].caption, "Data error");
    EXPECT_TRUE(prompt.shown()[0].text.contains("65535"));
    q.k3 = -1;
    EXPECT_EQ(ohmra.WriteParameters(q), 1);
    EXPECT_EQ(ohmra.WriteCalibrationDate(70000, 1, 1, 1, 1, 1), 1);
    EXPECT_EQ(ohmra.WriteCalibrationDate(1, 1, 1, 1, 256, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(bench.peer.Received().size(), sent);
}

// --- pure helpers ------------------------------------------------------------------

TEST(OhmraText, MeanChecksumAndItsMessages)
{
    ScriptedPrompt prompt;
    int32_t mean = -1;
    EXPECT_TRUE(C_Ohmra::MeanChecksum("020482", mean));
    EXPECT_EQ(mean, 0x2D);
    EXPECT_TRUE(C_Ohmra::MeanChecksum("0205C004", mean));
    EXPECT_EQ(mean, 0x32);
    EXPECT_TRUE(prompt.shown().empty());

    EXPECT_FALSE(C_Ohmra::MeanChecksum("02048", mean));
    EXPECT_FALSE(C_Ohmra::MeanChecksum("0204XY", mean));
    EXPECT_FALSE(C_Ohmra::MeanChecksum("", mean));
    ASSERT_EQ(prompt.shown().size(), 3u);
    EXPECT_EQ(prompt.shown()[0].text, "Invalid length of data string !!");
    EXPECT_EQ(prompt.shown()[1].text, "Data stream contains invalid characters !!");
    EXPECT_EQ(prompt.shown()[2].text, "Data stream contains invalid characters !!");
    for (const auto& s : prompt.shown())
        EXPECT_EQ(s.caption, "Data error");

    // An odd command is never framed, so nothing reaches the port.
    TComPort closed;
    C_Ohmra ohmra(closed);
    std::string reply;
    EXPECT_EQ(ohmra.Transfer("C00", reply, false), 1);
}

TEST(OhmraText, FormatResistanceAtEveryBoundary)
{
    LocaleGuard lg(QLocale::c());
    struct Case {
        int64_t m, e;
        const char* text;
        const char* unit;
    };
    const Case cases[] = {
        {0, 0, "0.0", "keep"},          {999, 0, "0.0", "keep"},         {1000, 0, "1.0", "kOhm"},
        {4700, 0, "4.7", "kOhm"},       {10000, 1, "100.0", "kOhm"},     {100001, 0, "100", "kOhm"},
        {1, 6, "1", "MOhm"},            {1000001, 0, "1.0", "MOhm"},     {1, 7, "10.0", "MOhm"},
        {1, 8, "100.0", "MOhm"},        {100000001, 0, "100", "MOhm"},   {1234, 5, "123", "MOhm"},
        {1, 9, "1", "GOhm"},            {1000000001, 0, "1.0", "GOhm"},  {1, 11, "100.0", "GOhm"},
        {1000000000001, 0, "1.0", "TOhm"}, {1, 12, "1", "TOhm"},        {2500, 9, "2.5", "TOhm"},
        {1, 14, "100.0", "TOhm"},       {100000000000001, 0, "100", "TOhm"}, {999, 12, "999", "TOhm"},
        {10, 14, "-1", "keep"},         {1, 15, "-1", "keep"},           {65535, 31, "-1", "keep"},
    };
    for (const Case& c : cases) {
        QString unit = "keep";
        EXPECT_EQ(C_Ohmra::FormatResistance(c.m, c.e, unit), c.text) << c.m << "e" << c.e;
        EXPECT_EQ(unit, c.unit) << c.m << "e" << c.e;
    }
    // 999 999 999 999 ohms: above 10^11, no decimals; 999.999999999 rounds up.
    QString unit;
    EXPECT_EQ(C_Ohmra::FormatResistance(999999999999, 0, unit), "1000");
    EXPECT_EQ(unit, "GOhm");

    // A value half-way between two shown values rounds up, as its decimal
    // digits say (the nearest doubles of 12.35 and 10.45 lie just below).
    EXPECT_EQ(C_Ohmra::FormatResistance(1235, 1, unit), "12.4");
    EXPECT_EQ(unit, "kOhm");
    EXPECT_EQ(C_Ohmra::FormatResistance(1045, 4, unit), "10.5");
    EXPECT_EQ(unit, "MOhm");
    EXPECT_EQ(C_Ohmra::FormatResistance(1045, 10, unit), "10.5");
    EXPECT_EQ(unit, "TOhm");
    EXPECT_EQ(C_Ohmra::FormatResistance(1015, 8, unit), "102");   // 101.5 GOhm, no decimals
    EXPECT_EQ(C_Ohmra::FormatResistance(1234, 1, unit), "12.3");

    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(C_Ohmra::FormatResistance(4700, 0, unit), "4,7");
    EXPECT_EQ(C_Ohmra::FormatResistance(1235, 1, unit), "12,4");
}

TEST(OhmraText, WordsStatusBitsAndExpoText)
{
    EXPECT_EQ(C_Ohmra::WordToHexLE(0), "0000");
    EXPECT_EQ(C_Ohmra::WordToHexLE(65535), "FFFF");
    EXPECT_EQ(C_Ohmra::WordToHexLE(266), "0A01");
    EXPECT_EQ(C_Ohmra::StatusBitText(0xC1), "10000011");
    EXPECT_EQ(C_Ohmra::StatusBitText(0), "00000000");

    LocaleGuard lg(QLocale::c());
    EXPECT_EQ(C_Ohmra::ExpoText(1234, 5, 3), "1.2e8");
    EXPECT_EQ(C_Ohmra::ExpoText(5, 3, 3), "5.e3");
    EXPECT_EQ(C_Ohmra::ExpoText(12345, 3), "1.2345e7");
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(C_Ohmra::ExpoText(12345, 3), "1,2345e7");
}

} // namespace
