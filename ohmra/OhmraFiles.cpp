#include "ohmra/OhmraFiles.h"

#include "core/TimeText.h"
#include "ohmra/C_Ohmra.h"
#include "platform/CsvText.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/Conversions.h"
#include "serial/DataDirectory.h"

#include <QFile>
#include <QLocale>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
const QString CrLf = QStringLiteral("\r\n");

int ByteAt(const std::string& hex, size_t i) { return HexToInt(hex.substr(2 * i, 2)); }

} // namespace

QString OhmraValueText(double value)
{
    // Fifteen significant digits first, then the shortest fixed form of that.
    const double v = QString::number(value, 'g', 15).toDouble();
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    if (std::abs(v) >= 1e15)
        return loc.toString(v, 'E', 14);
    return loc.toString(v, 'f', QLocale::FloatingPointShortest);
}

void TOhmraFileStore::ClearStoredFiles()
{
    for (int n = 1; n < kRecords; ++n) {
        OhmraFilesStruct& r = OhmraFiles[size_t(n)];
        r.FileNumber = 0;
        r.Value = 0;
        r.Humidity = 0;
        r.Temperature = 0;
        r.Timer = 0;
        r.AverageLapse = 0;
        r.TechnMode = 0;
        r.Comment.clear();
        r.TechnUnit.clear();
        r.ExpoText.clear();
        r.Stored = false;
    }
}

bool TOhmraFileStore::TakeStoredFile(int n, const std::string& data, QString& unit)
{
    if (n < 1 || n >= kRecords || data.size() < 16)
        return false;
    // A slot the meter never wrote answers with zeros throughout.
    bool empty = true;
    for (size_t i = 1; i <= 7; ++i)
        empty = empty && ByteAt(data, i) == 0;
    if (empty)
        return false;
    const int m = ByteAt(data, 1) + 256 * ByteAt(data, 2);
    int32_t range = 0, e = 0;
    C_Ohmra::SplitRangeExponent(data.substr(6, 2), range, e);
    OhmraFilesStruct& r = OhmraFiles[size_t(n)];
    r.FileNumber = n;
    r.Value = QLocale().toDouble(C_Ohmra::FormatResistance(m, e, unit));
    r.TechnUnit = unit;
    r.ExpoText = C_Ohmra::ExpoText(m, e);
    r.Unit = QStringLiteral("Ohm");
    r.Temperature = ByteAt(data, 4);
    r.Humidity = ByteAt(data, 5);
    r.Timer = ByteAt(data, 7);
    r.AverageLapse = (ByteAt(data, 6) & kOhmraStatusAverage) ? 'A' : 'L';
    r.Stored = true;
    return true;
}

QString TOhmraFileStore::InstrumentHeader()
{
    return QStringLiteral("Time;Date;Serial number;Sw Version;date of production");
}

QString TOhmraFileStore::RecordHeader()
{
    return QStringLiteral("File number;Resistor;Unit;Temperature(\u00B0C);Humidity(%r/F);Timer(sec.);A/L;Comment");
}

QString TOhmraFileStore::InstrumentLine(const QDateTime& now) const
{
    const QLocale loc;
    return loc.toString(now.time(), LongTimeFormatWithoutZone()) + QLatin1Char(';') +
           FileDateText(now.date()) + QStringLiteral(";'") + InfoSerial +
           QStringLiteral(";'") + InfoSwVersion + QLatin1Char(';') + InfoDate;
}

QString TOhmraFileStore::RecordLine(int n, int saveMode) const
{
    const OhmraFilesStruct& r = OhmraFiles[size_t(n)];
    const bool techn = r.TechnMode != 0 && saveMode != 1;
    const QString resistance = techn ? OhmraValueText(r.Value) : r.ExpoText;
    const QString unit = techn ? r.TechnUnit : r.Unit;
    // No control character gets into a text file: a mark never set is
    // left empty, and a comment keeps only what can be printed.
    const QString mark = r.AverageLapse >= 0x20 && r.AverageLapse < 0x7F ? QString(QChar::fromLatin1(r.AverageLapse))
                                                                       : QString();
    QString comment = r.Comment;
    comment.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return QString::number(n) + QLatin1Char(';') + resistance + QLatin1Char(';') + unit + QLatin1Char(';') +
           QString::number(r.Temperature) + QLatin1Char(';') + QString::number(r.Humidity) + QLatin1Char(';') +
           QString::number(r.Timer) + QLatin1Char(';') + mark + QLatin1Char(';') + CsvField(comment);
}

int32_t TOhmraFileStore::WriteCsv(const QString& fileName, bool single, int saveMode, const QDateTime& now)
{
    FailureShown = false;
    const QString instrumentLine = InstrumentLine(now);

    // A single measurement carries its headers in one line, written only
    // into a new file; a stored-files save writes its three header lines
    // every time. Each piece has the code a failure of it returns.
    QStringList header;
    QStringList lines;
    std::vector<int32_t> codes;
    if (single) {
        header << InstrumentHeader() + QLatin1Char(';') << RecordHeader() + CrLf;
        codes = {kOhmraSaveInstrumentHeader, kOhmraSaveRecordHeader};
        lines << instrumentLine + QLatin1Char(';');
        codes.push_back(kOhmraSaveInstrumentLine);
    } else {
        lines << InstrumentHeader() + CrLf << instrumentLine + CrLf << RecordHeader() + CrLf;
        codes = {kOhmraSaveInstrumentHeader, kOhmraSaveInstrumentLine, kOhmraSaveRecordHeader};
    }
    for (int n = FirstIndex; n <= LastIndex; ++n) {
        if (n >= 0 && n < kRecords && (single || HoldsMeasurement(n))) {
            lines << RecordLine(n, saveMode) + CrLf;
            codes.push_back(kOhmraSaveRecordLine);
        }
    }

    const TCsvAppend r = AppendCsv(fileName, header, lines);
    if (r.ok()) {
        Saved = true;
        Prompt().Message(QStringLiteral("File saved successfully."), QStringLiteral("File saved"),
                         TPromptIcon::Information);
        return kOhmraSaveOk;
    }
    if (r.CreateFailed)
        Prompt().Message(QStringLiteral("Can't create file : ") + fileName, QStringLiteral("Error"),
                         TPromptIcon::Error);
    // Say what happened; the old question only where another program
    // holds the file.
    const QString cause = FileErrorCause(r.Error, fileName);
    Prompt().Message(cause.isEmpty() ? QStringLiteral("Save file is not possible, to file is probably already open!")
                                     : cause,
                     QStringLiteral("File error !"), TPromptIcon::Error);
    FailureShown = true;
    if (r.FailedPiece < 0 || size_t(r.FailedPiece) >= codes.size())
        return kOhmraSaveRecordHeader; // not opened at all
    return codes[size_t(r.FailedPiece)];
}

QString OhmraDataDirectory()
{
    const TIniFile ini(SetupIniPath());
    const std::string dir = ini.ReadString("Ohmra", "DataDirectory", HomeDirectory());
    return QString::fromStdString(dir);
}

bool UpdateOhmraDataDirectory(const QString& current, const QString& fileName)
{
    const QString dir = DirectoryOf(fileName);
    if (dir == current)
        return false;
    TIniFile ini(SetupIniPath());
    ini.WriteString("Ohmra", "DataDirectory", dir.toStdString());
    return true;
}

namespace {
const char* FolderKey(bool single) { return single ? "MeasurementDirectory" : "FilesDirectory"; }
} // namespace

QString OhmraSaveName(bool single, const QDate& day)
{
    return (single ? QStringLiteral("Ohmra_") : QStringLiteral("Ohmra_files_")) +
           day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

QString OhmraSaveFolder(bool single)
{
    const TIniFile ini(SetupIniPath());
    const std::string dir = ini.ReadString("Ohmra", FolderKey(single), "");
    return dir.empty() ? OhmraDataDirectory() : QString::fromStdString(dir);
}

void RememberOhmraSaveFolder(bool single, const QString& fileName)
{
    const std::string dir = DirectoryOf(fileName).toStdString();
    TIniFile ini(SetupIniPath());
    if (ini.ReadString("Ohmra", FolderKey(single), "") != dir)
        ini.WriteString("Ohmra", FolderKey(single), dir);
}
