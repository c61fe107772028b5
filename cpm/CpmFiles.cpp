#include "cpm/CpmFiles.h"

#include "core/TimeText.h"
#include "platform/CsvText.h"
#include "platform/Host.h"
#include "platform/Prompt.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

const char CpmResultColumns[] =
    "Date;Time;CPM-Mode;Start (V);Stop (V);Offset (sec);Decay time pos.(sec.);Decay time neg.(sec.);Offset (V);"
    "Comment";
const char CpmReadOutColumns[] =
    "Date;Time;File no.;CPM-Mode;Start (V);Stop (V);Offset (sec);Decay time pos.(sec.);Decay time neg.(sec.);"
    "Offset (V);Comment";

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString Int(int32_t v) { return QString::number(v); }

int WriteWithRetry(const QString& fileName, const std::function<QString()>& build, bool create)
{
    for (;;) {
        const std::string bytes = ToWindows1252(build());
        Host().ProcessMessages();
        if (AppendToFile(fileName.toStdString(), bytes, create) == 0)
            return 0;
        if (!Prompt().RetryCancel("Can't save data! Is data file " + fileName + " open with another program ?",
                                  "Error", TPromptIcon::Error))
            return 1;
    }
}

} // namespace

QString FormatCpmResult(double value)
{
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    if (!std::isfinite(value))
        return loc.toString(value);
    double a = std::fabs(value);
    // The value's decimal form decides the rounding, not its binary one.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", a);
    a = std::strtod(buf, nullptr);
    double rounded;
    if (a >= 99999.5) {
        // More than five integer digits: five significant digits as exponent.
        QString s = loc.toString(value, 'E', 4);
        return s;
    }
    if (a >= 9999.95)
        rounded = std::round(a);              // five significant digits are all integer ones
    else
        rounded = std::round(a * 10.0) / 10.0;
    if (rounded == 0)
        return loc.toString(0.0, 'f', 1);
    return loc.toString(value < 0 ? -rounded : rounded, 'f', 1);
}

QString CpmProposedFileName(bool results, const QDate& date)
{
    return (results ? QStringLiteral("Karvo_results_") : QStringLiteral("Karvo_files_")) +
           date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

QString CpmDateText(const QDate& date) { return QLocale().toString(date, QLocale::ShortFormat); }
QString CpmTimeText(const QTime& time) { return QLocale().toString(time, LongTimeFormatWithoutZone()); }

QString CpmHeader(const TCpmIdentification& id, const char* columns)
{
    return "Device: " + id.SwVersion + ";Serial No.: " + id.SerialNumber + ";Cal.Date: " + id.ProductionDate + CrLf +
           QString::fromLatin1(columns) + CrLf;
}

QString CpmSetupModeText(const QString& setupValue5)
{
    bool ok = false;
    const int v = setupValue5.trimmed().toInt(&ok, 10);
    if (!ok)
        return {};
    switch (v) {
    case 16: return QStringLiteral("Auto");
    case 33: return QStringLiteral("Pos.");
    case 50: return QStringLiteral("Neg.");
    default: return {};
    }
}

QString CpmResultLine(const QDate& date, const QTime& time, const QString& setupValue5, const TCpmResult& r,
                      const QString& comment)
{
    const QChar sep = QLatin1Char(';');
    return CpmDateText(date) + sep + CpmTimeText(time) + sep + CpmSetupModeText(setupValue5) + sep +
           Int(r.StartVoltage) + sep + Int(r.StopVoltage) + sep + Int(r.OffsetTime) + sep +
           FormatCpmResult(r.PosDecayTime) + sep + FormatCpmResult(r.NegDecayTime) + sep +
           FormatCpmResult(r.OffsetVoltage) + sep + CsvField(comment) + CrLf;
}

QString CpmReadOutLine(const QDate& date, const QTime& time, TCpmResult& r, const QString& comment)
{
    QString mode;
    switch (r.DecayMode) {
    case 0x10: mode = QStringLiteral("Auto"); break;
    case 0x21: mode = QStringLiteral("Pos."); r.NegDecayTime = 0; break;
    case 0x32: mode = QStringLiteral("Neg."); r.PosDecayTime = 0; break;
    default: break;
    }
    const QChar sep = QLatin1Char(';');
    return CpmDateText(date) + sep + CpmTimeText(time) + sep + Int(r.FileNumber) + sep + mode + sep +
           Int(r.StartVoltage) + sep + Int(r.StopVoltage) + sep + Int(r.OffsetTime) + sep +
           FormatCpmResult(r.PosDecayTime) + sep + FormatCpmResult(r.NegDecayTime) + sep +
           FormatCpmResult(r.OffsetVoltage) + sep + CsvField(comment) + CrLf;
}

int AppendCpmLine(const QString& fileName, const std::function<QString()>& buildLine)
{
    return WriteWithRetry(fileName, buildLine, false);
}

int CreateCpmFile(const QString& fileName)
{
    if (QFileInfo::exists(fileName))
        return 0;
    return AppendToFile(fileName.toStdString(), std::string(), true) == 0 ? 1 : -1;
}

int WriteCpmHeader(const QString& fileName, const TCpmIdentification& id, const char* columns)
{
    const QString header = CpmHeader(id, columns);
    return WriteWithRetry(fileName, [&] { return header; }, false);
}

void DropEmptyCpmFile(const QString& fileName)
{
    const std::string path = fileName.toStdString();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        ::unlink(path.c_str());
}

int SaveCpmResult(const QString& fileName, const TCpmIdentification& id, const QTime& time,
                  const QString& setupValue5, const TCpmResult& r, const QString& comment)
{
    const int created = CreateCpmFile(fileName);
    if (created < 0) {
        Prompt().Message("Can't create file : " + fileName, "Error", TPromptIcon::None);
        return 1;
    }
    if (created == 1 && WriteCpmHeader(fileName, id, CpmResultColumns) != 0) {
        DropEmptyCpmFile(fileName);
        return 1;
    }
    return AppendCpmLine(fileName,
                         [&] { return CpmResultLine(QDate::currentDate(), time, setupValue5, r, comment); });
}

int AppendCpmRecord(const QString& fileName, TCpmResult& r, const QString& comment)
{
    const QTime t = QTime::currentTime();
    return AppendCpmLine(fileName, [&] { return CpmReadOutLine(QDate::currentDate(), t, r, comment); });
}
