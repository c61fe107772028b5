#include "platform/Paths.h"
#include "platform/VersionInfo.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Pins local time to UTC for the scope, so file times have known fields.
class UtcZone {
public:
    UtcZone()
    {
        if (const char* tz = std::getenv("TZ"))
            old_ = tz, had_ = true;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~UtcZone()
    {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

// 2009-03-05 07:04:09 UTC and 2010-11-22 23:59:30 UTC.
constexpr int64_t kWrite = 1236236649;
constexpr int64_t kAccess = 1290470370;

void SetTimes(const std::string& path)
{
    timespec t[2];
    t[0].tv_sec = kAccess;
    t[0].tv_nsec = 0;
    t[1].tv_sec = kWrite;
    t[1].tv_nsec = 250000000;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

bool HasBirthTime(const std::string& path)
{
    struct statx st {};
    return statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &st) == 0 && (st.stx_mask & STATX_BTIME);
}

TVersionFacts Facts()
{
    TVersionFacts f;
    f.ProductName = "Ulmaro read out";
    f.CompanyName = "Ulmaro Messtechnik";
    f.Department = "Lab";
    f.Author = "A. Author";
    const uint16_t fv[4] = {1, 2, 3, 4}, pv[4] = {10, 0, 65535, 7};
    std::copy(fv, fv + 4, f.FileVersion);
    std::copy(pv, pv + 4, f.ProductVersion);
    return f;
}

const char* const kVersionLines = "Product name\tUlmaro read out\r\n"
                                  "Company name   \tUlmaro Messtechnik\r\n"
                                  "Department     \tLab\r\n"
                                  "Author         \tA. Author\r\n"
                                  "File version\t1.2.3.4\r\n"
                                  "Product version\t10.0.65535.7\r\n";

} // namespace

TEST(VersionInfo, TimeLinesKeepTheirLabelWidthsAndFormats)
{
    TDateTimeRecord t;
    t.Year = 2009;
    t.Month = 3;
    t.Day = 5;
    t.Hour = 7;
    t.Minute = 4;
    t.Second = 9;
    EXPECT_EQ(CreatedLine(t), "Created        \t2009/03/05\t07:04\r\n");
    EXPECT_EQ(LastWriteLine(t), "Last write     \t2009/03/05\t07:04\r\n");
    EXPECT_EQ(LastAccessLine(t), "Last access     \t2009/03/05\r\n");
    t.Year = 812;
    t.Month = 12;
    t.Day = 31;
    t.Hour = 23;
    t.Minute = 59;
    EXPECT_EQ(CreatedLine(t), "Created        \t0812/12/31\t23:59\r\n");
}

TEST(VersionInfo, FileTimesInLocalCalendarFields)
{
    UtcZone utc;
    const TDateTimeRecord r = LocalDateTime(kWrite, 250000000);
    EXPECT_EQ(r.Year, 2009);
    EXPECT_EQ(r.Month, 3);
    EXPECT_EQ(r.Day, 5);
    EXPECT_EQ(r.DayOfWeek, 4); // a Thursday
    EXPECT_EQ(r.Hour, 7);
    EXPECT_EQ(r.Minute, 4);
    EXPECT_EQ(r.Second, 9);
    EXPECT_EQ(r.Millisecond, 250);

    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(LocalDateTime(kWrite, 0).Hour, 8);
}

TEST(VersionInfo, WholeTextForAKnownFile)
{
    UtcZone utc;
    TempDir dir;
    dir.write("prog", std::string(1234, 'x'));
    const std::string path = dir.file("prog");
    SetTimes(path);
    TFileInfo info;
    const std::string text = VersionInfoText(Facts(), path, info);

    std::string expected = std::string(kVersionLines) + "File size      \t1234\r\n";
    if (HasBirthTime(path)) {
        ASSERT_TRUE(info.HasCreated);
        expected += CreatedLine(info.Created);
        EXPECT_TRUE(QRegularExpression("^Created        \\t\\d{4}/\\d\\d/\\d\\d\\t\\d\\d:\\d\\d\\r\\n$")
                        .match(QString::fromStdString(CreatedLine(info.Created)))
                        .hasMatch());
    } else {
        EXPECT_FALSE(info.HasCreated);
    }
    expected += "Last write     \t2009/03/05\t07:04\r\n"
                "Last access     \t2010/11/22\r\n";
    EXPECT_EQ(text, expected);

    EXPECT_EQ(info.FileSize, 1234u);
    EXPECT_EQ(info.FileVersion, "1.2.3.4");
    EXPECT_EQ(info.ProductVersion, "10.0.65535.7");
    EXPECT_EQ(info.LastAccess.Hour, 23);
}

TEST(VersionInfo, MissingPiecesAreLeftOut)
{
    UtcZone utc;
    TempDir dir;
    dir.write("prog", "");
    const std::string path = dir.file("prog");
    SetTimes(path);
    TFileInfo info;

    // No version facts at all: the text starts with the size.
    TVersionFacts none;
    none.HasResource = false;
    const std::string bare = VersionInfoText(none, path, info);
    EXPECT_EQ(bare.rfind("File size      \t0\r\n", 0), 0u) << bare;
    EXPECT_NE(bare.find("Last write     \t2009/03/05\t07:04\r\n"), std::string::npos);

    // Only the version numbers.
    TVersionFacts numbers = Facts();
    numbers.ProductName = numbers.CompanyName = numbers.Department = numbers.Author = "";
    const std::string fixedOnly = VersionInfoText(numbers, path, info);
    EXPECT_EQ(fixedOnly.rfind("File version\t1.2.3.4\r\nProduct version\t10.0.65535.7\r\nFile size", 0), 0u);

    // Strings but no numbers; an empty department stays out.
    TVersionFacts strings = Facts();
    strings.HasFixedVersion = false;
    strings.Department = "";
    EXPECT_EQ(VersionInfoText(strings, path, info).rfind("Product name\tUlmaro read out\r\n"
                                                         "Company name   \tUlmaro Messtechnik\r\n"
                                                         "Author         \tA. Author\r\n"
                                                         "File size",
                                                         0),
              0u);
}

TEST(VersionInfo, AFileThatCannotBeFoundEndsTheTextBeforeTheSize)
{
    TFileInfo info;
    TempDir dir;
    EXPECT_EQ(VersionInfoText(Facts(), dir.file("gone"), info), kVersionLines);
    EXPECT_EQ(VersionInfoText(Facts(), "", info), kVersionLines);
    EXPECT_EQ(info.FileSize, 0u);
}

TEST(VersionInfo, TheRunningProgramsOwnFacts)
{
    const TVersionFacts f = BuiltVersionFacts();
    EXPECT_EQ(f.ProductName, "Ulmaro read out");
    EXPECT_FALSE(f.CompanyName.empty());
    EXPECT_EQ(JoinVersion(f.FileVersion), "1.0.0.1");
    EXPECT_EQ(JoinVersion(f.ProductVersion), "1.0.0.1");

    TFileInfo info;
    const std::string text = GetVersionInfo(info);
    EXPECT_EQ(text.rfind("Product name\tUlmaro read out\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("File version\t1.0.0.1\r\nProduct version\t1.0.0.1\r\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(ExePath().c_str(), &st), 0);
    EXPECT_NE(text.find("File size      \t" + std::to_string(st.st_size) + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("Last access     \t"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}
