#pragma once
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <string>

// One measurement of the tera-ohmmeter on the PC side: record 0 is the live
// measurement, record n the meter's stored file n.
struct OhmraFilesStruct {
    int32_t FileNumber = 0;
    double Value = 0;        // in TechnUnit; 9999 / 0 for a live value out of range
    QString Unit;            // unit of ExpoText: "Ohm", or empty out of range
    QString ExpoText;        // e.g. 1.2e8
    int32_t TechnMode = 0;   // 1: saved as Value + TechnUnit, 0: as ExpoText + Unit
    int32_t Humidity = 0;
    int32_t Temperature = 0;
    int32_t Timer = 0;
    char AverageLapse = 0;   // 'A' or 'L' (0 for a file that could not be read)
    QString Comment;
    QString TechnUnit;       // kOhm, MOhm, GOhm, TOhm or empty
    // A stored file that was read and holds a measurement; only such
    // records are browsed and written.
    bool Stored = false;
};

// Results of the CSV writer.
inline constexpr int32_t kOhmraSaveOk = 0;
inline constexpr int32_t kOhmraSaveCancelled = 1;
inline constexpr int32_t kOhmraSaveInstrumentHeader = -1;
inline constexpr int32_t kOhmraSaveInstrumentLine = -2;
inline constexpr int32_t kOhmraSaveRecordHeader = -3;   // also: the file could not be opened
inline constexpr int32_t kOhmraSaveRecordLine = -4;

// The store of the comment window: 100 records, the range it browses and
// writes, and the instrument texts its files carry. No widgets here.
class TOhmraFileStore {
public:
    static constexpr int kRecords = 100;
    std::array<OhmraFilesStruct, kRecords> OhmraFiles{};
    int32_t CurrentIndex = 0;
    int32_t FirstIndex = 0;
    int32_t LastIndex = 0;
    bool Saved = true;
    QString InfoSerial, InfoSwVersion, InfoDate;
    // Whether the last WriteCsv told the user of its failure itself (the
    // file could not be opened), so a caller does not tell it twice; a
    // failed write it leaves to the caller.
    bool FailureShown = false;

    // Records 1..99 back to their empty state (Unit keeps its text; record 0
    // is the live measurement and stays).
    void ClearStoredFiles();

    // Decodes the data of stored file n (a measurement reply, as hex text)
    // into record n. `unit` carries the unit from one file to the next: a
    // file below 1000 ohms keeps the unit of the file before it. False (the
    // record untouched) when the data is too short to be a measurement or
    // the slot is empty (every field of the record 0).
    bool TakeStoredFile(int n, const std::string& data, QString& unit);

    // "Time;Date;Serial number;Sw Version;date of production"
    static QString InstrumentHeader();
    // "File number;Resistor;Unit;Temperature(°C);Humidity(%r/F);Timer(sec.);A/L;Comment"
    static QString RecordHeader();
    // time;date;'serial;'version;production date
    QString InstrumentLine(const QDateTime& now) const;
    // The record as a file line (without its line end); saveMode 1 writes
    // the exponent form whatever the record's TechnMode.
    QString RecordLine(int n, int saveMode) const;
    // Whether record n holds something to browse and write: the live
    // measurement, or a stored file that was read.
    bool HoldsMeasurement(int n) const { return n == 0 || (n > 0 && n < kRecords && OhmraFiles[size_t(n)].Stored); }

    // Appends the records FirstIndex..LastIndex to `fileName`, in the layout
    // of a stored-files save (single false: three header lines, then one
    // line per record) or of a single measurement (one header line in a new
    // file, then one data line). Reports failures to the user and returns
    // one of the kOhmraSave* codes; a failed save leaves the file as it was.
    // Of the stored files only those that were read get a line.
    int32_t WriteCsv(const QString& fileName, bool single, int saveMode, const QDateTime& now);
};

// A value as the files write it: up to 15 significant digits, fixed
// notation, the system's decimal separator, no group separators.
QString OhmraValueText(double value);

// The folder the save dialog opens in: SETUP.INI, section "Ohmra", key
// "DataDirectory"; the home folder when it is not set.
QString OhmraDataDirectory();
// Remembers the folder of `fileName` when it differs from `current` (exact
// comparison). Returns whether it was written.
bool UpdateOhmraDataDirectory(const QString& current, const QString& fileName);

// The name a save dialog offers, like the program's exports:
// Ohmra_2026-12-09.csv for a measurement, Ohmra_files_2026-12-09.csv for
// stored files.
QString OhmraSaveName(bool single, const QDate& day);
// The folder last used for that kind of file (section "Ohmra", key
// "MeasurementDirectory" or "FilesDirectory"); the data folder before the
// first such save.
QString OhmraSaveFolder(bool single);
void RememberOhmraSaveFolder(bool single, const QString& fileName);
