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

// Date and time as the files carry them: the locale's short date and its
// long time format (without a time-zone field).
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

// Appends `line` (converted to Windows-1252) to an existing file. Each failed
// attempt asks "Retry" or "Cancel" with the message the read-out has always
// shown; `rebuild` is asked for the line again before each retry (a new date).
// Returns 0 when written, 1 when the user gave up. The file is never
// truncated: a line that did not go through in full is taken back.
int AppendCpmLine(const QString& fileName, const std::function<QString()>& buildLine);

// Makes sure a file exists, creating it empty. 0 when it exists already, 1
// when it was created, -1 when it could not be created.
int CreateCpmFile(const QString& fileName);

// Writes the header block at the end of a (new) file; failed attempts are
// offered again like a line. 0 written, 1 given up.
int WriteCpmHeader(const QString& fileName, const TCpmIdentification& id, const char* columns);

// Takes back a file created a moment ago whose header did not go in (a full
// disk, another program quicker to lock it): left there empty, it would be
// taken for an existing file next time and collect lines under no header.
// Anything but an empty plain file stays.
void DropEmptyCpmFile(const QString& fileName);

// The result file after "Save results": the file is created with its header
// when new ("Can't create file : " when that fails), then the run's line is
// appended. `time` is the moment the file was chosen. Returns 0 written, 1 failed.
int SaveCpmResult(const QString& fileName, const TCpmIdentification& id, const QTime& time,
                  const QString& setupValue5, const TCpmResult& r, const QString& comment);

// One line of the read-out file; the date is taken at each attempt, the
// time once. 0 written, 1 given up by the user.
int AppendCpmRecord(const QString& fileName, TCpmResult& r, const QString& comment);

// The name a save dialog proposes: "Karvo_results_2026-12-09.csv" for the
// result file, "Karvo_files_2026-12-09.csv" for a read-out.
QString CpmProposedFileName(bool results, const QDate& date);

// Where a decay run with "TestOutput" on leaves its frame recording.
std::string CpmTestDataPath();
