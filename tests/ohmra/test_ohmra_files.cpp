// The record store of the tera-ohmmeter and its CSV writer: decoding of
// stored files, both file layouts byte for byte, and the failures a save can
// meet on the disk.
#include "ohmra/OhmraFiles.h"
#include "ohmra/OhmraStates.h"
#include "platform/Paths.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A measurement reply as hex: mantissa, range/exponent byte, temperature,
// humidity, status, timer.
std::string Reply(int mantissa, int exponent, int temp, int hum, int status, int timer)
{
    char buf[64];
    snprintf(buf, sizeof buf, "88%02X%02X%02X%02X%02X%02X%02X", mantissa & 0xFF, (mantissa >> 8) & 0xFF,
             exponent & 0x1F, temp, hum, status, timer);
    return buf;
}

class OhmraFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        store.InfoSerial = "00050112";
        store.InfoSwVersion = "1.02";
        store.InfoDate = "09.11.2009";
    }
    LocaleGuard locale{QLocale(QLocale::German, QLocale::Germany)};
    ScriptedPrompt prompt;
    TempDir dir;
    TOhmraFileStore store;
    const QDateTime when{QDate(2010, 4, 3), QTime(14, 2, 11)};
};

TEST_F(OhmraFiles, StoredFilesDecodeLikeMeasurements)
{
    QString unit;
    ASSERT_TRUE(store.TakeStoredFile(1, Reply(1234, 5, 23, 45, 0x00, 0), unit));
    const OhmraFilesStruct& r1 = store.OhmraFiles[1];
    EXPECT_EQ(r1.FileNumber, 1);
    EXPECT_DOUBLE_EQ(r1.Value, 123);
    EXPECT_EQ(r1.TechnUnit, "MOhm");
    EXPECT_EQ(r1.ExpoText, "1,234e8");
    EXPECT_EQ(r1.Unit, "Ohm");
    EXPECT_EQ(r1.Temperature, 23);
    EXPECT_EQ(r1.Humidity, 45);
    EXPECT_EQ(r1.AverageLapse, 'L');

    // 500 ohms right after a MOhm file keeps that unit and shows 0.
    ASSERT_TRUE(store.TakeStoredFile(2, Reply(500, 0, 21, 39, 0x01, 30), unit));
    const OhmraFilesStruct& r2 = store.OhmraFiles[2];
    EXPECT_DOUBLE_EQ(r2.Value, 0);
    EXPECT_EQ(r2.TechnUnit, "MOhm");
    EXPECT_EQ(r2.ExpoText, "5,00e2");
    EXPECT_EQ(r2.AverageLapse, 'A');
    EXPECT_EQ(r2.Timer, 30);

    // The same file first in a range has no unit at all.
    QString fresh;
    ASSERT_TRUE(store.TakeStoredFile(3, Reply(500, 0, 21, 39, 0x01, 30), fresh));
    EXPECT_EQ(store.OhmraFiles[3].TechnUnit, "");

    // 12345 with exponent 3: the full mantissa in the exponent form.
    ASSERT_TRUE(store.TakeStoredFile(4, Reply(12345, 3, 0, 0, 0x80, 0), unit));
    EXPECT_EQ(store.OhmraFiles[4].ExpoText, "1,2345e7");
    EXPECT_DOUBLE_EQ(store.OhmraFiles[4].Value, 12.3);

    // Too short to be a measurement, outside the store, or an empty slot
    // (zeros throughout; one byte set is a measurement): nothing happens.
    EXPECT_FALSE(store.TakeStoredFile(5, "8839", unit));
    EXPECT_FALSE(store.TakeStoredFile(100, Reply(1, 0, 0, 0, 0, 0), unit));
    EXPECT_FALSE(store.TakeStoredFile(5, Reply(0, 0, 0, 0, 0, 0), unit));
    EXPECT_EQ(store.OhmraFiles[5].FileNumber, 0);
    EXPECT_FALSE(store.HoldsMeasurement(5));
    EXPECT_TRUE(store.TakeStoredFile(6, Reply(0, 0, 0, 0, 0x01, 0), unit));
    EXPECT_TRUE(store.HoldsMeasurement(6));

    // Clearing keeps record 0 and each record's Unit.
    store.OhmraFiles[0].Comment = "live";
    store.OhmraFiles[1].Comment = "x";
    store.ClearStoredFiles();
    EXPECT_EQ(store.OhmraFiles[0].Comment, "live");
    EXPECT_EQ(store.OhmraFiles[1].Comment, "");
    EXPECT_EQ(store.OhmraFiles[1].FileNumber, 0);
    EXPECT_EQ(store.OhmraFiles[1].AverageLapse, 0);
    EXPECT_EQ(store.OhmraFiles[1].ExpoText, "");
    EXPECT_EQ(store.OhmraFiles[1].Unit, "Ohm");
    EXPECT_FALSE(store.HoldsMeasurement(6));
    EXPECT_TRUE(store.HoldsMeasurement(0));
}

TEST_F(OhmraFiles, StoredFilesLayoutByteForByte)
{
    QString unit;
    store.TakeStoredFile(1, Reply(1234, 5, 23, 45, 0x00, 0), unit);
    store.TakeStoredFile(3, Reply(4700, 0, 22, 41, 0x01, 10), unit);
    store.OhmraFiles[1].Comment = QString::fromUtf8("Prüfling; Tür °");
    for (auto& r : store.OhmraFiles)
        r.TechnMode = 1;
    store.FirstIndex = 1;
    store.LastIndex = 3;
    const std::string path = dir.file("files.csv");
    // File 2 was not read: it gets no line at all.
    ASSERT_EQ(store.WriteCsv(QString::fromStdString(path), false, 0, when), kOhmraSaveOk);

    const std::string header = "Time;Date;Serial number;Sw Version;date of production\r\n"
                               "14:02:11;03.04.2010;'00050112;'1.02;09.11.2009\r\n"
                               "File number;Resistor;Unit;Temperature(\xB0"
                               "C);Humidity(%r/F);Timer(sec.);A/L;Comment\r\n";
    const std::string tech = header +
                             "1;123;MOhm;23;45;0;L;Pr\xFC"
                             "fling, T\xFCr \xB0\r\n" +
                             "3;4,7;kOhm;22;41;10;A;\r\n";
    EXPECT_EQ(ReadFile(path), tech);
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "File saved successfully.");
    EXPECT_EQ(prompt.shown()[0].caption, "File saved");
    EXPECT_TRUE(store.Saved);

    // "Expo" into the same file: the three header lines come again.
    const std::string expo = header +
                             "1;1,234e8;Ohm;23;45;0;L;Pr\xFC"
                             "fling, T\xFCr \xB0\r\n" +
                             "3;4,700e3;Ohm;22;41;10;A;\r\n";
    store.OhmraFiles[2].Unit = "Ohm";
    ASSERT_EQ(store.WriteCsv(QString::fromStdString(path), false, 1, when), kOhmraSaveOk);
    EXPECT_EQ(ReadFile(path), tech + expo);
}

TEST_F(OhmraFiles, SingleMeasurementLayoutByteForByte)
{
    OhmraFilesStruct& live = store.OhmraFiles[0];
    live.Value = 12.3;
    live.TechnUnit = "MOhm";
    live.TechnMode = 1;
    live.Unit = "Ohm";
    live.ExpoText = "1,2e7";
    live.Temperature = 23;
    live.Humidity = 45;
    live.Timer = 0;
    live.AverageLapse = 'L';
    live.Comment = "sample A";
    store.FirstIndex = store.LastIndex = store.CurrentIndex = 0;
    const std::string path = dir.file("single.csv");
    ASSERT_EQ(store.WriteCsv(QString::fromStdString(path), true, 0, when), kOhmraSaveOk);
    const std::string first = "Time;Date;Serial number;Sw Version;date of production;"
                              "File number;Resistor;Unit;Temperature(\xB0"
                              "C);Humidity(%r/F);Timer(sec.);A/L;Comment\r\n"
                              "14:02:11;03.04.2010;'00050112;'1.02;09.11.2009;0;12,3;MOhm;23;45;0;L;sample A\r\n";
    EXPECT_EQ(ReadFile(path), first);

    // An Expo measurement into the existing file: one more line, in its own form.
    live.TechnMode = 0;
    live.Comment = QString::fromUtf8("Messing, 20 °C");
    ASSERT_EQ(store.WriteCsv(QString::fromStdString(path), true, 0, when), kOhmraSaveOk);
    EXPECT_EQ(ReadFile(path), first + "14:02:11;03.04.2010;'00050112;'1.02;09.11.2009;0;1,2e7;Ohm;23;45;0;L;"
                                      "Messing, 20 \xB0"
                                      "C\r\n");

    // An overflow is saved as 9999 with no unit.
    live.TechnMode = 1;
    live.Value = 9999;
    live.TechnUnit.clear();
    live.Comment.clear();
    ASSERT_EQ(store.WriteCsv(QString::fromStdString(path), true, 0, when), kOhmraSaveOk);
    EXPECT_TRUE(ReadFile(path).ends_with(";0;9999;;23;45;0;L;\r\n"));
}

TEST_F(OhmraFiles, ValuesKeepFifteenDigitsWithoutExponent)
{
    LocaleGuard c(QLocale::c());
    EXPECT_EQ(OhmraValueText(12.3), "12.3");
    EXPECT_EQ(OhmraValueText(0), "0");
    EXPECT_EQ(OhmraValueText(9999), "9999");
    EXPECT_EQ(OhmraValueText(100.0), "100");
    EXPECT_EQ(OhmraValueText(0.1 + 0.2), "0.3");
    EXPECT_EQ(OhmraValueText(123456789012.345), "123456789012.345");
}

TEST_F(OhmraFiles, FailedSavesLeaveTheFileAlone)
{
    store.FirstIndex = store.LastIndex = 0;

    // The disk is full: nothing of the save stays behind, and the user is
    // told so.
    EXPECT_EQ(store.WriteCsv("/dev/full", false, 0, when), kOhmraSaveInstrumentHeader);
    EXPECT_EQ(store.WriteCsv("/dev/full", true, 0, when), kOhmraSaveInstrumentLine);
    ASSERT_EQ(prompt.shown().size(), 2u);
    for (const auto& s : prompt.shown()) {
        EXPECT_EQ(s.text, "The disk holding data file /dev/full is full.");
        EXPECT_EQ(s.caption, "File error !");
    }
    EXPECT_TRUE(store.FailureShown);
    const size_t before = prompt.shown().size();

    // A folder that does not exist: the file cannot be created, nor opened.
    store.Saved = false;
    const QString missing = QString::fromStdString(dir.file("nowhere/x.csv"));
    EXPECT_EQ(store.WriteCsv(missing, true, 0, when), kOhmraSaveRecordHeader);
    ASSERT_EQ(prompt.shown().size(), before + 2);
    EXPECT_EQ(prompt.shown()[before].text, "Can't create file : " + missing);
    EXPECT_EQ(prompt.shown()[before].caption, "Error");
    EXPECT_EQ(prompt.shown()[before + 1].text, "The folder of data file " + missing + " does not exist.");
    EXPECT_EQ(prompt.shown()[before + 1].caption, "File error !");
    EXPECT_FALSE(store.Saved);
}

TEST_F(OhmraFiles, ReadOnlyTargetFileIsRefused)
{
    const std::string path = dir.file("ro.csv");
    dir.write("ro.csv", "keep\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    bool immutable = false;
    if (::geteuid() == 0) {
        // Root writes through file modes; the immutable flag stops it.
        const int fd = ::open(path.c_str(), O_RDONLY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            ::close(fd);
        if (!immutable)
            GTEST_SKIP() << "cannot make a file read-only for root here";
    }
    const int r = store.WriteCsv(QString::fromStdString(path), true, 0, when);
    if (immutable) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        int flags = 0;
        ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
    }
    EXPECT_EQ(r, kOhmraSaveRecordHeader);
    EXPECT_EQ(ReadFile(path), "keep\r\n");
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].caption, "File error !");
    EXPECT_EQ(prompt.shown()[0].text, "Data file " + QString::fromStdString(path) +
                                          " is read-only, or its folder may not be written.");
}

TEST_F(OhmraFiles, DataDirectoryIsRememberedWhenItChanges)
{
    SetSettingsDirectoryOverride(dir.path());
    EXPECT_EQ(OhmraDataDirectory().toStdString(), HomeDirectory());
    const QString d = QString::fromStdString(dir.path()) + "/";
    EXPECT_TRUE(UpdateOhmraDataDirectory(OhmraDataDirectory(), d + "a.csv"));
    EXPECT_EQ(OhmraDataDirectory(), d);
    EXPECT_FALSE(UpdateOhmraDataDirectory(OhmraDataDirectory(), d + "b.csv"));
    SetSettingsDirectoryOverride("");
}

} // namespace

// The windows' state tables, without a screen: what a busy state lets
// through, and the calibration chain.
TEST(OhmraStateTables, BusyStatesLetNoSecondExchangeStart)
{
    using S = TOhmraState;
    using C = TOhmraControl;
    for (int i = 0; i <= int(S::Browsing); ++i) {
        const S s = S(i);
        SCOPED_TRACE(OhmraStateName(s));
        const bool busy = OhmraBusy(s);
        for (C c : {C::Init, C::Start, C::Save, C::ReadFile, C::Reset})
            EXPECT_FALSE(busy && OhmraAllows(s, c));
        // Break only where it ends something (a measurement) or nothing runs.
        EXPECT_EQ(OhmraAllows(s, C::Break),
                  s == S::Ready || s == S::ReadyToSave || s == S::Measuring || s == S::TimedMeasuring);
        // The window can be left whenever it is on screen.
        EXPECT_EQ(OhmraAllows(s, C::Exit), s != S::Browsing);
        EXPECT_EQ(OhmraAllows(s, C::Save), s == S::ReadyToSave);
        EXPECT_EQ(OhmraAllows(s, C::Start), s == S::Ready || s == S::ReadyToSave);
    }
    using A = TOhmraCaliActivity;
    using P = TOhmraCaliProgress;
    using K = TOhmraCaliControl;
    for (int p = 0; p <= int(P::DateWritten); ++p) {
        for (A a : {A::Exchange, A::Waiting, A::DateEntry, A::Saving, A::Printing}) {
            const TOhmraCaliState s{a, P(p)};
            for (K k : {K::ReadPara, K::WritePara, K::ReadInfo, K::WriteDate, K::ReadMeas, K::Reset, K::Save, K::Exit})
                EXPECT_FALSE(OhmraCaliAllows(s, k)) << int(a) << " " << p << " " << uint32_t(k);
        }
        const TOhmraCaliState idle{A::Idle, P(p)};
        EXPECT_TRUE(OhmraCaliAllows(idle, K::Exit));
        EXPECT_EQ(OhmraCaliAllows(idle, K::ReadInfo), P(p) != P::Fresh);
        EXPECT_EQ(OhmraCaliAllows(idle, K::WriteDate), P(p) == P::InfoRead || P(p) == P::DateWritten);
        EXPECT_EQ(OhmraCaliAllows(idle, K::Save), P(p) == P::DateWritten);
    }
}
