#pragma once
#include <QDate>
#include <QString>
#include <QTime>
#include <cstdint>
#include <functional>
#include <string>

// The two CSV files of the charge plate monitor: the result file (one line
// per saved decay run) and the read-out file (one line per file stored in
// the instrument). Both are Windows-1252, ";"-separated, CR LF; a new file
// starts with the instrument's identification and the column line. Nothing
// here knows about windows: the caller picks the file name.

// The identification a header carries.
struct TCpmIdentification {
    QString SwVersion;
    QString SerialNumber;
    QString ProductionDate;
};

// One decoded result record (a decay run's result or a stored file).
struct TCpmResult {
    int32_t FileNumber = 0;
    int32_t DecayMode = 0;
    int32_t StartVoltage = 0;
    int32_t StopVoltage = 0;
    int32_t OffsetTime = 0;
    double PosDecayTime = 0;
    double NegDecayTime = 0;
    double OffsetVoltage = 0;
};

// Decay times and voltages in the result labels and files: one decimal, the
// locale's decimal separator, rounded to at most five significant digits
// (2.34 -> "2.3", -123 -> "-123.0"); beyond five integer digits exponent
// notation.
QString FormatCpmResult(double value);

// Date and time as the files carry them: the locale's short date (with a
// four-digit year) and its long time format (without a time-zone field).
QString CpmDateText(const QDate& date);
QString CpmTimeText(const QTime& time);

extern const char CpmResultColumns[];
extern const char CpmReadOutColumns[];

// The two header lines, CR LF included.
QString CpmHeader(const TCpmIdentification& id, const char* columns);

// The mode text of a result line from setup value 5 read as a decimal
// number: 16 "Auto", 33 "Pos.", 50 "Neg.", anything else (the two hex
// characters the instrument reports, a text that is no number) empty.
QString CpmSetupModeText(const QString& setupValue5);

// A result file line (CR LF included).
QString CpmResultLine(const QDate& date, const QTime& time, const QString& setupValue5, const TCpmResult& r,
                      const QString& comment);

// A read-out file line (CR LF included). A one-polarity record carries no
// decay time for the other polarity: that field is zeroed in `r` too.
QString CpmReadOutLine(const QDate& date, const QTime& time, TCpmResult& r, const QString& comment);

// --- writing ------------------------------------------------------------------

// Appends a line to a file through the one CSV writer (AppendCsv): the
// header goes first when the file is new, so a file that vanished between
// two lines comes back with its header. Each failed attempt asks "Retry" or
// "Cancel" with what happened (a file another program holds: the question
// the read-out has always asked); `buildLine` is asked for the line again
// before each retry (a new date). Returns 0 when written, 1 when the user
// gave up. A failed attempt leaves the file as it was, and no new file.
int AppendCpmLine(const QString& fileName, const QString& header, const std::function<QString()>& buildLine);

// Whether a file would get the header: it does not exist, or is empty.
bool CpmFileIsNew(const QString& fileName);

// Makes a new file with the header block; failed attempts are offered again
// like a line. 0 written, 1 given up, -1 the file could not be created
// (nothing asked, nothing left behind).
int WriteCpmHeader(const QString& fileName, const TCpmIdentification& id, const char* columns);

// The result file after "Save results": the header goes first when the file
// is new ("Can't create file : " when it cannot be made), then the run's
// line. `time` is the moment the file was chosen. Returns 0 written, 1 failed.
int SaveCpmResult(const QString& fileName, const TCpmIdentification& id, const QTime& time,
                  const QString& setupValue5, const TCpmResult& r, const QString& comment);

// One line of the read-out file (with the header of `id` should the file be
// new); the date is taken at each attempt, the time once. 0 written, 1 given
// up by the user.
int AppendCpmRecord(const QString& fileName, const TCpmIdentification& id, TCpmResult& r, const QString& comment);

// The name a save dialog proposes: "Karvo_results_2026-12-09.csv" for the
// result file, "Karvo_files_2026-12-09.csv" for a read-out.
QString CpmProposedFileName(bool results, const QDate& date);

// Where a decay run with "TestOutput" on leaves its frame recording.
std::string CpmTestDataPath();
