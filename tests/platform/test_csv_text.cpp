// Measurement files: Windows-1252 text, user fields that cannot open a
// column, and appends that never leave a torn line behind.
#include "platform/CsvText.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b)
        s += char(c);
    return s;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

TEST(ToWindows1252, LatinTextBecomesItsSingleBytes)
{
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("Prüfung 5 µC")),
              Bytes({0x50, 0x72, 0xFC, 0x66, 0x75, 0x6E, 0x67, 0x20, 0x35, 0x20, 0xB5, 0x43}));
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("°")), Bytes({0xB0}));
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("±20kV/m")), Bytes({0xB1}) + "20kV/m");
    // The characters Windows-1252 adds in 0x80..0x9F.
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("€‰")), Bytes({0x80, 0x89}));
    EXPECT_EQ(ToWindows1252(""), "");
    EXPECT_EQ(ToWindows1252("a;b\r\n"), "a;b\r\n");
}

TEST(ToWindows1252, WhatTheSetCannotHoldBecomesAQuestionMarkEach)
{
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("中")), "?");
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("x中文y")), "x??y");
    // Outside the basic plane (one character, two UTF-16 units): one mark.
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("a😀b")), "a?b");
    // Long text crosses the converter's buffer in the middle.
    const QString longText = QString(300, QChar(0xFC)) + QString::fromUtf8("中") + QString(300, QLatin1Char('a'));
    const std::string out = ToWindows1252(longText);
    EXPECT_EQ(out, std::string(300, char(0xFC)) + "?" + std::string(300, 'a'));
}

// Characters some locales put into numbers, times and dates: written as the
// plain characters they stand for, so the value reads back.
TEST(ToWindows1252, LocaleSignsDigitsAndMarksBecomeWhatTheyStandFor)
{
    const struct {
        const char* utf8;
        std::string bytes;
    } cases[] = {
        {"\u2212" "1,5", "-1,5"},                     // minus sign (sv_SE, fi_FI, nb_NO)
        {"1\u202F" "234,5", "1\xA0" "234,5"},          // narrow no-break space (fr_FR)
        {"\u06F1\u06F2:\u06F0\u06F5", "12:05"},      // Persian digits
        {"\u0661\u0660\u200F/\u0661\u0662", "10/12"}, // Arabic-Indic digits, right-to-left mark
        {"\u061C-\u09E7", "-1"},                      // Arabic letter mark, Bengali digit
        {"\u200E\u2212\u0967", "-1"},                  // left-to-right mark, Devanagari digit
        {"a\u2011b\u2010c", "a-b-c"},
        {"\u200E", ""},
        {"\u00B2\u2075", "\xB2?"}, // superscripts are no decimal digits
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToWindows1252(QString::fromUtf8(c.utf8)), c.bytes) << c.utf8;
}

TEST(CsvField, ASemicolonCannotOpenAColumn)
{
    EXPECT_EQ(CsvField("run 1; hall B;"), "run 1, hall B,");
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("\"quoted\""), "\"quoted\""); // no quoting added
}

TEST(AppendToFile, AppendsAfterWhatIsThereAndCreatesWhenAsked)
{
    TempDir dir;
    const std::string f = dir.file("data.csv");
    EXPECT_EQ(AppendToFile(f, "head\r\n"), 0);
    EXPECT_EQ(AppendToFile(f, "1;2\r\n"), 0);
    EXPECT_EQ(ReadFile(f), "head\r\n1;2\r\n");

    const std::string g = dir.file("missing.csv");
    EXPECT_EQ(AppendToFile(g, "x\r\n", false), ENOENT);
    EXPECT_FALSE(Exists(g));
}

TEST(AppendToFile, AFullDeviceFailsWithNoSpace)
{
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(AppendToFile("/dev/full", "1;2;3\r\n"), ENOSPC);
}

TEST(AppendToFile, AFolderThatCannotTakeFilesFails)
{
    // Not even root may create files here.
    EXPECT_NE(AppendToFile("/proc/ulmaro-test.csv", "x\r\n"), 0);
    EXPECT_NE(AppendToFile("/no/such/folder/data.csv", "x\r\n"), 0);

    TempDir dir;
    const std::string ro = dir.file("ro");
    ASSERT_EQ(::mkdir(ro.c_str(), 0555), 0);
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    EXPECT_EQ(AppendToFile(ro + "/data.csv", "x\r\n"), EACCES);
    EXPECT_FALSE(Exists(ro + "/data.csv"));
}

TEST(AppendToFile, AShortWriteIsTakenBackAndTheOldContentKept)
{
    TempDir dir;
    const std::string f = dir.file("data.csv");
    ASSERT_EQ(AppendToFile(f, "head\r\n"), 0); // 6 bytes

    // A file size limit of 10 bytes lets 4 bytes of the next line through
    // and refuses the rest, as a disk filling up in mid-write would.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old;
    lim.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    const int err = AppendToFile(f, "1;2;3;4;5\r\n");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_EQ(err, EFBIG);
    EXPECT_EQ(ReadFile(f), "head\r\n");
    // The file takes lines again once there is room.
    EXPECT_EQ(AppendToFile(f, "1;2\r\n"), 0);
    EXPECT_EQ(ReadFile(f), "head\r\n1;2\r\n");
}

// The one CSV writer, step by step against a model of the file: header only
// into a new or empty file, every line end CR LF, and a failed append (the
// disk full after `limit` bytes) leaves the file as it was, or no file.
TEST(AppendCsv, HeaderIfNewLineEndsAndNothingLeftOfAFailure)
{
    TempDir dir;
    const std::string f = dir.file("data.csv");
    const QString name = QString::fromStdString(f);
    struct Step {
        const char* what;
        std::string before;  // "-" for no file
        QStringList lines;
        rlim_t limit;        // 0: room enough
        std::string after;   // "-" for no file
        int failedPiece;
    } steps[] = {
        {"disk full in the header", "-", {"1;2\n"}, 3, "-", 0},
        {"disk full in the second header line", "-", {"1;2\n"}, 8, "-", 1},
        {"new file", "-", {"1;2\n"}, 0, "A;B\r\nx;y\r\n1;2\r\n", -1},
        {"existing file", "A;B\r\nx;y\r\n1;2\r\n", {"3;4\r\n", "5\r6\n"}, 0, "A;B\r\nx;y\r\n1;2\r\n3;4\r\n5\r\n6\r\n", -1},
        {"disk full in the second line", "A;B\r\n", {"3;4\n", "5;6;7;8\n"}, 14, "A;B\r\n", 3},
        {"an empty file left by an older version", "", {"1;2\n"}, 0, "A;B\r\nx;y\r\n1;2\r\n", -1},
        {"an empty file, disk full", "", {"1;2\n"}, 3, "", 0},
        {"no line: the header alone", "-", {}, 0, "A;B\r\nx;y\r\n", -1},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        ::unlink(f.c_str());
        if (st.before != "-")
            dir.write("data.csv", st.before);
        TCsvAppend r;
        {
            rlimit old{};
            ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
            const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
            rlimit lim = old;
            if (st.limit > 0)
                lim.rlim_cur = st.limit;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
            r = AppendCsv(name, {"A;B\n", "x;y\n"}, st.lines);
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldSignal);
        }
        EXPECT_EQ(r.ok(), st.limit == 0);
        EXPECT_EQ(r.Error, st.limit == 0 ? 0 : EFBIG);
        EXPECT_FALSE(r.CreateFailed);
        EXPECT_EQ(r.FailedPiece, st.failedPiece);
        if (st.after == "-")
            EXPECT_FALSE(Exists(f));
        else
            EXPECT_EQ(ReadFile(f), st.after);
    }
    // A folder that is not there: the file cannot be made.
    const TCsvAppend r = AppendCsv(QString::fromStdString(dir.file("no/data.csv")), {"A\n"}, {"1\n"});
    EXPECT_TRUE(r.CreateFailed);
    EXPECT_EQ(r.Error, ENOENT);
}

TEST(FileErrorCause, NamesWhatHappenedAndLeavesALockToTheCaller)
{
    const QString f = "/data/run.csv";
    const struct {
        int err;
        QString text;
    } cases[] = {
        {EAGAIN, ""},
        {EBUSY, ""},
        {ENOSPC, "The disk holding data file /data/run.csv is full."},
        {EDQUOT, "The disk holding data file /data/run.csv is full."},
        {EFBIG, "Data file /data/run.csv has reached the largest size the disk allows."},
        {EROFS, "The disk holding data file /data/run.csv is read-only."},
        {EACCES, "Data file /data/run.csv is read-only, or its folder may not be written."},
        {EPERM, "Data file /data/run.csv is read-only, or its folder may not be written."},
        {ENOENT, "The folder of data file /data/run.csv does not exist."},
        {EIO, "The disk reported an error while writing data file /data/run.csv."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileErrorCause(c.err, f), c.text) << c.err;
    EXPECT_TRUE(FileErrorCause(EMLINK, f).startsWith("Data file /data/run.csv could not be written: "));
}

} // namespace
