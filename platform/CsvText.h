#pragma once
#include <QString>
#include <QStringList>
#include <string>

// Measurement files are semicolon-separated text in Windows-1252, the
// character set such files have always had on the bench PCs, lines ended by
// CR LF. Every CSV writer of the program goes through these helpers.

// The text in Windows-1252; a character that set cannot hold becomes "?".
std::string ToWindows1252(const QString& text);

// A field typed by the user: a ";" would open a new column and shift every
// later field of the line, so it is written as ",". No quoting: readers of
// these files expect none.
QString CsvField(const QString& text);

// Appends `bytes` to the file at `path` in one write, creating the file when
// `create` is set and it does not exist. Returns 0 or the system's error
// number. A write that does not go through in full is taken back (the file
// is cut back to the length it had), so a file never keeps a torn line; the
// existing content is never truncated or rewritten. ENOSPC stands for a
// short write whose cause the system did not name; EAGAIN for a file that
// another program holds locked (nothing is written then).
int AppendToFile(const std::string& path, const std::string& bytes, bool create = true);

// What became of an AppendCsv.
struct TCsvAppend {
    int Error = 0;             // 0: all written; else the system's error number
    bool CreateFailed = false; // the file did not exist and could not be made
    bool New = false;          // the file was new (or empty): the header went first
    int FailedPiece = -1;      // the piece that did not go: header pieces first, then lines
    bool ok() const { return Error == 0; }
};

// The one way a measurement file grows. Appends `lines` to the file; when the
// file is new (or empty) the `header` pieces go first. Each piece goes in
// Windows-1252 through ToWindows1252, every line end as CR LF. The append
// has the file to itself, as with AppendToFile. A failed append leaves
// nothing behind: what it wrote is taken back, and a file it created is
// removed again, so the next save finds no file and writes the header (an
// empty file left there would collect lines under no header). No line at
// all makes sure the file exists with its header.
TCsvAppend AppendCsv(const QString& fileName, const QStringList& header, const QStringList& lines);

// The cause of a failed file write in plain words, naming the file:
// "The disk holding data file … is full." and so on. Empty when another
// program holds the file: the callers ask their own question for that.
QString FileErrorCause(int err, const QString& fileName);

// Tells the user that a line did not get into `fileName`, and why: "Can't
// create file : …" when the file could not be made, else "Can't write to
// file : …" with the cause. Returns 0 when all was written, -1 when the file
// could not be made, 1 when the line did not get in.
int ReportCsvAppend(const TCsvAppend& r, const QString& fileName);
