// The two CSV files of the charge plate monitor: number format, line layout,
// header only on a new file, Windows-1252 bytes, and what happens when a line
// cannot be written.
#include "cpm/CpmFiles.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TCpmIdentification Id() { return {"KARVO V6.11 SIM", "00004711", "15-03-2007"}; }

TCpmResult Example()
{
    TCpmResult r;
    r.FileNumber = 1;
    r.DecayMode = 0x10;
    r.StartVoltage = 1000;
    r.StopVoltage = 100;
    r.OffsetTime = 20;
    r.PosDecayTime = 23 * 0.1;
    r.NegDecayTime = 120 * 0.1;
    r.OffsetVoltage = -123;
    return r;
}

// A folder no file can be created in, also for root.
std::string UnwritableFolder(const TempDir& tmp)
{
    if (geteuid() == 0)
        return "/proc";
    const std::string dir = tmp.file("ro");
    mkdir(dir.c_str(), 0555);
    return dir;
}

} // namespace

TEST(CpmResultNumber, OneDecimalLocaleSeparatorFiveSignificantDigits)
{
    EXPECT_EQ(FormatCpmResult(2.34), "2.3");
    EXPECT_EQ(FormatCpmResult(-123), "-123.0");
    EXPECT_EQ(FormatCpmResult(0), "0.0");
    EXPECT_EQ(FormatCpmResult(120 * 0.1), "12.0");
    EXPECT_EQ(FormatCpmResult(2.35), "2.4");         // decimal rounding, not binary
    EXPECT_EQ(FormatCpmResult(-0.04), "0.0");        // no minus in front of a zero
    EXPECT_EQ(FormatCpmResult(3276.7), "3276.7");    // no group separator
    EXPECT_EQ(FormatCpmResult(12345.67), "12346.0"); // five significant digits
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatCpmResult(2.34), "2,3");
    EXPECT_EQ(FormatCpmResult(-6553.6), "-6553,6");
}

TEST(CpmFileLines, ModeTextsAndOnePolarityRecords)
{
    EXPECT_EQ(CpmSetupModeText("16"), "Auto");
    EXPECT_EQ(CpmSetupModeText("33"), "Pos.");
    EXPECT_EQ(CpmSetupModeText("50"), "Neg.");
    // What "Read setup" leaves there: the instrument's hex characters.
    EXPECT_EQ(CpmSetupModeText("10"), "");
    EXPECT_EQ(CpmSetupModeText("21"), "");
    EXPECT_EQ(CpmSetupModeText("2A"), "");
    EXPECT_EQ(CpmSetupModeText(""), "");

    const QDate d(2026, 3, 5);
    const QTime t(14, 7, 9);
    TCpmResult r = Example();
    r.DecayMode = 0x21;
    QString line = CpmReadOutLine(d, t, r, "x");
    EXPECT_TRUE(line.endsWith(";1;Pos.;1000;100;20;2.3;0.0;-123.0;x\r\n")) << line.toStdString();
    EXPECT_EQ(r.NegDecayTime, 0.0);

    r = Example();
    r.DecayMode = 0x32;
    line = CpmReadOutLine(d, t, r, "");
    EXPECT_TRUE(line.endsWith(";1;Neg.;1000;100;20;0.0;12.0;-123.0;\r\n")) << line.toStdString();
    EXPECT_EQ(r.PosDecayTime, 0.0);

    r = TCpmResult(); // an empty record
    line = CpmReadOutLine(d, t, r, "");
    EXPECT_TRUE(line.endsWith(";0;;0;0;0;0.0;0.0;0.0;\r\n")) << line.toStdString();
    EXPECT_EQ(line.left(line.indexOf(';', line.indexOf(';') + 1)), "3/5/2026;2:07:09 PM");
}

TEST(CpmResultFile, TwoSavesIntoANewFileExactBytes)
{
    TempDir tmp;
    ScriptedPrompt prompt;
    const QString f = QString::fromStdString(tmp.file("result.csv"));
    const QTime t(9, 30, 0);
    ASSERT_EQ(SaveCpmResult(f, Id(), t, "16", Example(), "Test 1; plate A"), 0);
    TCpmResult second = Example();
    second.PosDecayTime = 0.5;
    ASSERT_EQ(SaveCpmResult(f, Id(), t, "50", second, QString::fromUtf8("Prüfung 5 µC")), 0);

    const std::string date = CpmDateText(QDate::currentDate()).toStdString();
    const std::string expected =
        "Device: KARVO V6.11 SIM;Serial No.: 00004711;Cal.Date: 15-03-2007\r\n"
        "Date;Time;CPM-Mode;Start (V);Stop (V);Offset (sec);Decay time pos.(sec.);Decay time neg.(sec.);Offset (V);"
        "Comment\r\n" +
        date + ";9:30:00 AM;Auto;1000;100;20;2.3;12.0;-123.0;Test 1, plate A\r\n" + date +
        ";9:30:00 AM;Neg.;1000;100;20;0.5;12.0;-123.0;Pr\xFC" "fung 5 \xB5" "C\r\n";
    EXPECT_EQ(ReadAll(f.toStdString()), expected);
    EXPECT_TRUE(prompt.shown().empty());
}

TEST(CpmReadOutFile, HeaderOnlyOnANewFileAndLinesBelowTheOldOnes)
{
    TempDir tmp;
    ScriptedPrompt prompt;
    const QString f = QString::fromStdString(tmp.file("eeprom.csv"));
    ASSERT_TRUE(CpmFileIsNew(f));
    ASSERT_EQ(WriteCpmHeader(f, Id(), CpmReadOutColumns), 0);
    TCpmResult r = Example();
    ASSERT_EQ(AppendCpmRecord(f, Id(), r, "a;b"), 0);
    const std::string once = ReadAll(f.toStdString());

    // Chosen again: it exists, so no second header.
    EXPECT_FALSE(CpmFileIsNew(f));
    r = Example();
    r.FileNumber = 2;
    ASSERT_EQ(AppendCpmRecord(f, Id(), r, QString::fromUtf8("Prüfung 5 µC")), 0);
    const std::string all = ReadAll(f.toStdString());
    ASSERT_EQ(all.compare(0, once.size(), once), 0);

    const std::string header =
        "Device: KARVO V6.11 SIM;Serial No.: 00004711;Cal.Date: 15-03-2007\r\n"
        "Date;Time;File no.;CPM-Mode;Start (V);Stop (V);Offset (sec);Decay time pos.(sec.);Decay time neg.(sec.);"
        "Offset (V);Comment\r\n";
    ASSERT_EQ(all.compare(0, header.size(), header), 0);
    const QString rest = QString::fromLatin1(all.substr(header.size()));
    const QStringList lines = rest.split("\r\n");
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the last CR LF
    const QRegularExpression dateTime(R"(^\d+/\d+/\d+;\d+:\d\d:\d\d [AP]M;)");
    EXPECT_TRUE(dateTime.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;a,b"));
    EXPECT_TRUE(lines[1].endsWith(QString::fromLatin1(";2;Auto;1000;100;20;2.3;12.0;-123.0;Pr\xFC" "fung 5 \xB5" "C")));
    EXPECT_EQ(lines[2], "");
}

TEST(CpmFileFailures, FullDiskIsOfferedAgainAndNothingTorn)
{
    ScriptedPrompt prompt;
    prompt.Press(TPromptResult::Retry).Press(TPromptResult::Cancel);
    EXPECT_EQ(SaveCpmResult("/dev/full", Id(), QTime(1, 2, 3), "16", Example(), "c"), 1);
    ASSERT_EQ(prompt.shown().size(), 2u);
    for (const auto& s : prompt.shown()) {
        EXPECT_EQ(s.text, "Can't save data! The disk holding data file /dev/full is full.");
        EXPECT_EQ(s.caption, "Error");
        EXPECT_EQ(s.buttons, TPromptButtons::RetryCancel);
        EXPECT_EQ(s.icon, TPromptIcon::Error);
    }

    ScriptedPrompt again;
    again.Press(TPromptResult::Cancel);
    TCpmResult r = Example();
    EXPECT_EQ(AppendCpmRecord("/dev/full", Id(), r, "c"), 1);
    EXPECT_EQ(again.shown().size(), 1u);
}

TEST(CpmFileFailures, ReadOnlyFolder)
{
    TempDir tmp;
    const std::string dir = UnwritableFolder(tmp);
    const QString f = QString::fromStdString(dir + "/result.csv");
    {
        ScriptedPrompt prompt;
        EXPECT_EQ(SaveCpmResult(f, Id(), QTime(1, 2, 3), "16", Example(), "c"), 1);
        ASSERT_EQ(prompt.shown().size(), 1u);
        EXPECT_EQ(prompt.shown()[0].text, "Can't create file : " + f);
        EXPECT_EQ(prompt.shown()[0].caption, "Error");
        EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::Ok);
        EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::None);
    }
    {
        // The read-out goes on to its lines, which report the problem.
        ScriptedPrompt prompt;
        prompt.Press(TPromptResult::Cancel);
        EXPECT_EQ(WriteCpmHeader(f, Id(), CpmReadOutColumns), -1);
        TCpmResult r = Example();
        EXPECT_EQ(AppendCpmRecord(f, Id(), r, "c"), 1);
        ASSERT_EQ(prompt.shown().size(), 1u);
        EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::RetryCancel);
    }
    EXPECT_FALSE(QFileInfo::exists(f));
}
