#include "platform/VersionInfo.h"
#include "platform/Paths.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#ifndef ULMARO_PRODUCT_NAME
#define ULMARO_PRODUCT_NAME ""
#endif
#ifndef ULMARO_COMPANY_NAME
#define ULMARO_COMPANY_NAME ""
#endif
#ifndef ULMARO_DEPARTMENT
#define ULMARO_DEPARTMENT ""
#endif
#ifndef ULMARO_AUTHOR
#define ULMARO_AUTHOR ""
#endif
#ifndef ULMARO_FILE_VERSION
#define ULMARO_FILE_VERSION ""
#endif
#ifndef ULMARO_PRODUCT_VERSION
#define ULMARO_PRODUCT_VERSION ""
#endif

namespace {

// "1.0.0.1" -> {1, 0, 0, 1}; missing parts are 0. False when there is no
// number at all.
bool ParseVersion(const char* text, uint16_t (&parts)[4])
{
    unsigned v[4] = {0, 0, 0, 0};
    const int n = std::sscanf(text, "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
    for (int i = 0; i < 4; ++i)
        parts[i] = uint16_t(v[i]);
    return n >= 1;
}

std::string Printf(const char* format, int a, int b, int c, int d = 0, int e = 0)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, format, a, b, c, d, e);
    return buf;
}

void AddLine(std::string& text, const char* label, const std::string& value)
{
    text += label;
    text += value;
    text += "\r\n";
}

} // namespace

TVersionFacts BuiltVersionFacts()
{
    TVersionFacts f;
    f.ProductName = ULMARO_PRODUCT_NAME;
    f.CompanyName = ULMARO_COMPANY_NAME;
    f.Department = ULMARO_DEPARTMENT;
    f.Author = ULMARO_AUTHOR;
    const bool file = ParseVersion(ULMARO_FILE_VERSION, f.FileVersion);
    const bool product = ParseVersion(ULMARO_PRODUCT_VERSION, f.ProductVersion);
    f.HasFixedVersion = file || product;
    f.HasResource = f.HasFixedVersion || !f.ProductName.empty() || !f.CompanyName.empty() || !f.Department.empty()
                    || !f.Author.empty();
    return f;
}

std::string JoinVersion(const uint16_t (&parts)[4])
{
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "."
           + std::to_string(parts[3]);
}

TDateTimeRecord LocalDateTime(int64_t seconds, uint32_t nanoseconds)
{
    const time_t t = time_t(seconds);
    std::tm tm {};
    TDateTimeRecord r;
    if (!localtime_r(&t, &tm))
        return r;
    r.Year = tm.tm_year + 1900;
    r.Month = tm.tm_mon + 1;
    r.DayOfWeek = tm.tm_wday;
    r.Day = tm.tm_mday;
    r.Hour = tm.tm_hour;
    r.Minute = tm.tm_min;
    r.Second = tm.tm_sec;
    r.Millisecond = int(nanoseconds / 1000000u);
    return r;
}

std::string CreatedLine(const TDateTimeRecord& t)
{
    return Printf("Created        \t%04d/%02d/%02d\t%02d:%02d\r\n", t.Year, t.Month, t.Day, t.Hour, t.Minute);
}

std::string LastWriteLine(const TDateTimeRecord& t)
{
    return Printf("Last write     \t%04d/%02d/%02d\t%02d:%02d\r\n", t.Year, t.Month, t.Day, t.Hour, t.Minute);
}

std::string LastAccessLine(const TDateTimeRecord& t)
{
    return Printf("Last access     \t%04d/%02d/%02d\r\n", t.Year, t.Month, t.Day);
}

std::string VersionInfoText(const TVersionFacts& facts, const std::string& path, TFileInfo& info)
{
    info = TFileInfo();
    std::string text;
    if (facts.HasResource) {
        info.ProductName = facts.ProductName;
        info.CompanyName = facts.CompanyName;
        info.Department = facts.Department;
        info.Author = facts.Author;
        if (!info.ProductName.empty())
            AddLine(text, "Product name\t", info.ProductName);
        if (!info.CompanyName.empty())
            AddLine(text, "Company name   \t", info.CompanyName);
        if (!info.Department.empty())
            AddLine(text, "Department     \t", info.Department);
        if (!info.Author.empty())
            AddLine(text, "Author         \t", info.Author);
        if (facts.HasFixedVersion) {
            info.FileVersion = JoinVersion(facts.FileVersion);
            info.ProductVersion = JoinVersion(facts.ProductVersion);
            AddLine(text, "File version\t", info.FileVersion);
            AddLine(text, "Product version\t", info.ProductVersion);
        }
    }

    struct statx st {};
    const unsigned mask = STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
    if (path.empty() || statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, mask, &st) != 0
        || !(st.stx_mask & STATX_SIZE))
        return text;
    info.FileSize = st.stx_size;
    AddLine(text, "File size      \t", std::to_string(info.FileSize));

    if (!(st.stx_mask & STATX_MTIME) || !(st.stx_mask & STATX_ATIME))
        return text;
    // Some file systems answer with a zero birth time instead of none.
    info.HasCreated = (st.stx_mask & STATX_BTIME) != 0 && (st.stx_btime.tv_sec != 0 || st.stx_btime.tv_nsec != 0);
    if (info.HasCreated)
        info.Created = LocalDateTime(st.stx_btime.tv_sec, st.stx_btime.tv_nsec);
    info.LastWrite = LocalDateTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    info.LastAccess = LocalDateTime(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    if (info.HasCreated)
        text += CreatedLine(info.Created);
    text += LastWriteLine(info.LastWrite);
    text += LastAccessLine(info.LastAccess);
    return text;
}

std::string GetVersionInfo(TFileInfo& info)
{
    return VersionInfoText(BuiltVersionFacts(), ExePath(), info);
}
