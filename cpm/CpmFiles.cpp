#include "cpm/CpmFiles.h"

#include "core/TimeText.h"
#include "platform/CsvText.h"
#include "platform/Host.h"
#include "platform/Prompt.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <cstdio>
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

// The question the read-out has always asked when a line did not go in, for
// a file another program holds; any other cause is named as it is.
QString SaveFailureText(const QString& fileName, int err)
{
    const QString cause = FileErrorCause(err, fileName);
    if (cause.isEmpty())
        return "Can't save data! Is data file " + fileName + " open with another program ?";
    return "Can't save data! " + cause;
}

// Appends the line (the header first when the file is new), offering each
// failed attempt again. 0 written, 1 given up by the user; -1 when the file
// could not be created and `createFailureEnds` is set (nothing asked then).
int WriteWithRetry(const QString& fileName, const QString& header, const std::function<QString()>& build,
                   bool createFailureEnds)
{
    for (;;) {
        const QString line = build ? build() : QString();
        Host().ProcessMessages();
        const TCsvAppend r = AppendCsv(fileName, header.isEmpty() ? QStringList() : QStringList{header},
                                       line.isEmpty() ? QStringList() : QStringList{line});
        if (r.ok())
            return 0;
        if (r.CreateFailed && createFailureEnds)
            return -1;
        if (!Prompt().RetryCancel(SaveFailureText(fileName, r.Error), "Error", TPromptIcon::Error))
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

QString CpmDateText(const QDate& date) { return FileDateText(date); }
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

int AppendCpmLine(const QString& fileName, const QString& header, const std::function<QString()>& buildLine)
{
    return WriteWithRetry(fileName, header, buildLine, false);
}

bool CpmFileIsNew(const QString& fileName)
{
    const QFileInfo info(fileName);
    return !info.exists() || (info.isFile() && info.size() == 0);
}

int WriteCpmHeader(const QString& fileName, const TCpmIdentification& id, const char* columns)
{
    return WriteWithRetry(fileName, CpmHeader(id, columns), nullptr, true);
}

int SaveCpmResult(const QString& fileName, const TCpmIdentification& id, const QTime& time,
                  const QString& setupValue5, const TCpmResult& r, const QString& comment)
{
    const int result = WriteWithRetry(
        fileName, CpmHeader(id, CpmResultColumns),
        [&] { return CpmResultLine(QDate::currentDate(), time, setupValue5, r, comment); }, true);
    if (result < 0) {
        Prompt().Message("Can't create file : " + fileName, "Error", TPromptIcon::None);
        return 1;
    }
    return result;
}

int AppendCpmRecord(const QString& fileName, const TCpmIdentification& id, TCpmResult& r, const QString& comment)
{
    const QTime t = QTime::currentTime();
    return AppendCpmLine(fileName, CpmHeader(id, CpmReadOutColumns),
                         [&] { return CpmReadOutLine(QDate::currentDate(), t, r, comment); });
}
