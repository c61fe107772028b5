#pragma once
#include <cstdint>
#include <string>

// The version facts of the program's own executable, as the help window
// shows them: the product strings and version numbers compiled in from the
// build, the file's size and its creation, last-write and last-access times.

// A point in time split into its local calendar fields.
struct TDateTimeRecord {
    int Year = 0;
    int Month = 0;
    int DayOfWeek = 0; // 0 = Sunday
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// What the build tells about the program (stands in for a version resource).
struct TVersionFacts {
    // False: no version facts at all; the text starts with the file size.
    bool HasResource = true;
    // Empty strings are left out of the text.
    std::string ProductName, CompanyName, Department, Author;
    // False: no version numbers.
    bool HasFixedVersion = true;
    uint16_t FileVersion[4] = {0, 0, 0, 0};
    uint16_t ProductVersion[4] = {0, 0, 0, 0};
};

// Filled while the version text is built.
struct TFileInfo {
    std::string ProductName, CompanyName, Department, Author;
    uint64_t FileSize = 0;
    std::string FileVersion, ProductVersion;
    bool HasCreated = false;
    TDateTimeRecord Created, LastWrite, LastAccess;
};

// The facts compiled into this program.
TVersionFacts BuiltVersionFacts();

// "a.b.c.d"
std::string JoinVersion(const uint16_t (&parts)[4]);

// A file time (seconds and nanoseconds since the epoch) in local time.
TDateTimeRecord LocalDateTime(int64_t seconds, uint32_t nanoseconds);

// The three time lines of the text, each ending in "\r\n".
std::string CreatedLine(const TDateTimeRecord& t);
std::string LastWriteLine(const TDateTimeRecord& t);
std::string LastAccessLine(const TDateTimeRecord& t);

// The version text for the file at `path`: lines "label\tvalue\r\n". Stops
// silently (returning what it has) when the file cannot be looked up; the
// Created line is there only when the file system records a birth time.
std::string VersionInfoText(const TVersionFacts& facts, const std::string& path, TFileInfo& info);

// The version text of the running executable.
std::string GetVersionInfo(TFileInfo& info);
