#pragma once
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class TTraceStore;

// The chart's own files: the CSV export of a trace, the recording written
// while the chart runs, and the reading of either back into a trace.
//
// Both are semicolon-separated, in Windows-1252 (through ToWindows1252),
// lines ended by CR LF, numbers with the locale's decimal separator. A
// recording starts with a block naming the run, one "key;value" line each,
// then the column header the export has:
//
//   Device;Talvis
//   Mode;E-Fieldmeter
//   Range;±20kV/m
//   Sample time (ms);10
//   Start;2026-12-09T22:36:16.120+01:00
//   Time (s);Value (kV/m);Time stamp
//   0;0.12;2026-12-09T22:36:16.120+01:00
//
// The time is the time since Start at which the sample was taken, the stamp
// the wall-clock time.

// Number texts of the files and the cursor read-out: no group separators,
// no exponent, no binary noise (2.46 rather than 2.4600000000000004).
QLocale ChartFileLocale();
QString ChartNumber(double v, const QLocale& locale, int digits = 12);
// Times in whole milliseconds.
QString ChartTime(double seconds, const QLocale& locale);
// "Time (s);Value (kV/m);Time stamp" with CR LF.
QString ChartCsvHeader(const QString& unit);

// Wall-clock stamps as ISO 8601 local time with milliseconds and the UTC
// offset ("2026-12-09T14:05:09.120+01:00"). Converting to local time is the
// costly part and a trace holds many samples per second: the text of the
// whole second is kept and only the milliseconds change.
class TStampText {
public:
    void Append(QString& text, int64_t ms);

private:
    bool valid_ = false;
    int64_t second_ = 0;
    QString head_, zone_;
};

// One data line with CR LF.
void AppendChartCsvLine(QString& text, double seconds, double value, int64_t stampMs, const QLocale& locale,
                        TStampText& stamp);

// What a recording's first block names.
struct TChartFileInfo {
    QString Device, Mode, Range, Unit;
    int PeriodMs = 0;
    QDateTime Start;
};
// The block and the column header.
QString ChartRecordingHeader(const TChartFileInfo& info);

// Writes a chart run to its file as it happens. Lines are collected and
// appended whole (a write that does not go through is taken back), at the
// latest FlushAfterMs after the oldest of them was taken and at every
// Poll() that finds them due, so a killed program leaves every sample older
// than that on disk. A file that cannot be written (a full disk, a
// read-only folder) ends the recording with one call of OnFailure; the
// chart goes on without it.
class TChartRecorder {
public:
    static constexpr uint32_t FlushAfterMs = 250;
    // Lines kept while another program holds the file locked, at most.
    static constexpr size_t MaxPendingBytes = 16u << 20;

    TChartRecorder();
    ~TChartRecorder();
    TChartRecorder(const TChartRecorder&) = delete;
    TChartRecorder& operator=(const TChartRecorder&) = delete;

    // Starts a new file with the header (creating its folder). Returns 0 or
    // the system's error number (OnFailure is called then too).
    int Begin(const std::string& path, const TChartFileInfo& info);
    // Goes on appending to the file of the last Begin (Stop, then Start).
    bool Active() const { return active_; }
    // Lines taken that wait for the file (another program holds it).
    bool HasWaitingLines() const { return active_ && !pending_.isEmpty(); }
    const std::string& Path() const { return path_; }
    int LastError() const { return error_; }

    void Append(double seconds, double value, int64_t stampMs);
    // Writes what is due; called while the chart waits between samples.
    void Poll();
    // Writes everything collected. Returns 0 or the error number.
    int Flush();
    // Flushes and closes the recording; the next one needs a Begin. Lines
    // that cannot be written then (the file still held by another program)
    // go to OnFailure like any failed write; LastError() tells afterwards.
    void End();

    std::function<void(const std::string& path, int error)> OnFailure;

private:
    void Fail(int error);

    bool active_ = false;
    std::string path_;
    int error_ = 0;
    QLocale locale_;
    TStampText stamp_;
    QString pending_;
    bool due_ = false;       // something is waiting to be written
    uint32_t oldestTick_ = 0;  // when the oldest waiting line was taken
};

// Reads a recording or an export into `store` (x in seconds, the stamps
// when the file has them). `progress(done, total)` is called every few
// megabytes and may return false to cancel. On failure `error` says why and
// `store` may hold part of the file; the caller's trace is not touched.
enum class TChartReadResult { Ok, Cancelled, Failed };
TChartReadResult ReadChartFile(const QString& path, TTraceStore& store, TChartFileInfo& info, QString& error,
                               const std::function<bool(qint64, qint64)>& progress = {});

// Decodes Windows-1252 (and UTF-8, which the exports of older versions were).
QString FromChartFileBytes(const std::string& bytes);
