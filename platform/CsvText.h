#pragma once
#include <QString>
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
