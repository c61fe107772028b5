#include "acquisition/ChartFile.h"

#include "acquisition/TraceStore.h"
#include "platform/CsvText.h"
#include "platform/Host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

QLocale ChartFileLocale()
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

QString ChartNumber(double v, const QLocale& locale, int digits)
{
    if (!std::isfinite(v))
        return locale.toString(v);
    const double rounded = QString::number(v, 'g', digits).toDouble();
    return locale.toString(rounded, 'f', QLocale::FloatingPointShortest);
}

QString ChartTime(double t, const QLocale& locale)
{
    if (!std::isfinite(t) || std::fabs(t) > 1e12)
        return ChartNumber(t, locale);
    return ChartNumber(std::round(t * 1000.0) / 1000.0, locale);
}

QString ChartCsvHeader(const QString& unit)
{
    const QString value = unit.isEmpty() ? QStringLiteral("Value") : "Value (" + CsvField(unit) + ")";
    return "Time (s);" + value + ";Time stamp\r\n";
}

void TStampText::Append(QString& text, int64_t ms)
{
    if (ms == INT64_MIN)
        return;
    int64_t second = ms / 1000, milli = ms % 1000;
    if (milli < 0) {
        --second;
        milli += 1000;
    }
    if (second != second_ || !valid_) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(second);
        const QDateTime withOffset = local.toOffsetFromUtc(local.offsetFromUtc());
        const QString iso = withOffset.toString(Qt::ISODate);  // ...THH:mm:ss+hh:mm or Z
        const qsizetype t = iso.indexOf('T');
        static const QRegularExpression zoneStart("[Z+-]");
        const qsizetype zone = t < 0 ? -1 : iso.indexOf(zoneStart, t);
        head_ = zone < 0 ? iso : iso.left(zone);
        zone_ = zone < 0 ? QString() : iso.mid(zone);
        second_ = second;
        valid_ = true;
    }
    text += head_;
    text += '.';
    text += QString::number(milli).rightJustified(3, '0');
    text += zone_;
}

void AppendChartCsvLine(QString& text, double seconds, double value, int64_t stampMs, const QLocale& locale,
                        TStampText& stamp)
{
    text += ChartTime(seconds, locale);
    text += ';';
    text += ChartNumber(value, locale);
    text += ';';
    stamp.Append(text, stampMs);
    text += "\r\n";
}

QString ChartRecordingHeader(const TChartFileInfo& info)
{
    QString text;
    auto line = [&text](const char* key, const QString& value) {
        text += QLatin1String(key) + ';' + CsvField(value) + "\r\n";
    };
    line("Device", info.Device);
    line("Mode", info.Mode);
    line("Range", info.Range);
    line("Sample time (ms)", QString::number(info.PeriodMs));
    QString start;
    if (info.Start.isValid()) {
        TStampText stamp;
        stamp.Append(start, info.Start.toMSecsSinceEpoch());
    }
    line("Start", start);
    return text + ChartCsvHeader(info.Unit);
}

// --- TChartRecorder ----------------------------------------------------------

TChartRecorder::TChartRecorder() : locale_(ChartFileLocale()) {}

TChartRecorder::~TChartRecorder() { End(); }

int TChartRecorder::Begin(const std::string& path, const TChartFileInfo& info)
{
    End();
    path_ = path;
    error_ = 0;
    stamp_ = TStampText();
    locale_ = ChartFileLocale();
    const QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    if (!QDir().mkpath(folder)) {
        // mkpath says nothing of the cause; the last step of it again does.
        const int err = ::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 ? 0 : errno;
        Fail(err == EEXIST ? ENOTDIR : err != 0 ? err : EACCES);
        return error_;
    }
    // A new recording never adds to an older file of the same name.
    const std::string header = ToWindows1252(ChartRecordingHeader(info));
    if (QFileInfo::exists(QString::fromStdString(path))) {
        Fail(EEXIST);
        return error_;
    }
    const int err = AppendToFile(path, header, true);
    if (err != 0) {
        Fail(err);
        return error_;
    }
    active_ = true;
    return 0;
}

void TChartRecorder::Append(double seconds, double value, int64_t stampMs)
{
    if (!active_)
        return;
    const uint32_t now = Host().TickCount();
    if (!due_) {
        due_ = true;
        oldestTick_ = now;
    }
    AppendChartCsvLine(pending_, seconds, value, stampMs, locale_, stamp_);
    if (uint32_t(now - oldestTick_) >= FlushAfterMs)
        Flush();
}

void TChartRecorder::Poll()
{
    if (active_ && due_ && uint32_t(Host().TickCount() - oldestTick_) >= FlushAfterMs)
        Flush();
}

int TChartRecorder::Flush()
{
    if (!active_ || pending_.isEmpty())
        return error_;
    const int err = AppendToFile(path_, ToWindows1252(pending_), false);
    if (err == EAGAIN && size_t(pending_.size()) < MaxPendingBytes) {
        // Another program holds the file for a moment: the lines wait.
        oldestTick_ = Host().TickCount();
        return 0;
    }
    if (err != 0) {
        Fail(err);
        return err;
    }
    pending_.clear();
    due_ = false;
    return 0;
}

void TChartRecorder::End()
{
    // Lines still waiting for a file another program holds have no later
    // chance: they are reported as a failed write, not dropped quietly.
    if (active_ && Flush() == 0 && !pending_.isEmpty())
        Fail(EAGAIN);
    active_ = false;
    pending_.clear();
    due_ = false;
}

void TChartRecorder::Fail(int error)
{
    error_ = error;
    active_ = false;
    pending_.clear();
    due_ = false;
    if (OnFailure)
        OnFailure(path_, error);
}

// --- reading -----------------------------------------------------------------

namespace {

// The 0x80 to 0x9F row of Windows-1252 (0 where the set has no character).
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool AllAscii(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

// A number as the files write it: no group separators, and the decimal
// separator of the locale it was written under, "." or ",".
bool ParseNumber(QStringView text, double& out)
{
    char buf[64];
    const qsizetype n = text.size();
    if (n == 0 || n >= qsizetype(sizeof buf))
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80)
            return false;
        buf[i] = c == ',' ? '.' : char(c);
    }
    const char* first = buf[0] == '+' ? buf + 1 : buf;
    const auto [end, ec] = std::from_chars(first, buf + n, out);
    return ec == std::errc() && end == buf + n;
}

// Stamps come many to the second: the text up to the milliseconds is parsed
// once per second.
class TStampParser {
public:
    int64_t Parse(QStringView text)
    {
        if (text.isEmpty())
            return TTraceStore::NoStamp;
        // yyyy-MM-ddTHH:mm:ss.zzz followed by the zone
        if (text.size() >= 23 && text[19] == QLatin1Char('.')) {
            const QStringView second = text.left(19);
            const QStringView zone = text.mid(23);
            bool ok = false;
            const int milli = text.mid(20, 3).toInt(&ok);
            if (ok) {
                if (!(valid_ && second == QStringView(second_) && zone == QStringView(zone_))) {
                    const QDateTime t = QDateTime::fromString(second.toString() + zone.toString(), Qt::ISODate);
                    if (!t.isValid())
                        return TTraceStore::NoStamp;
                    second_ = second.toString();
                    zone_ = zone.toString();
                    base_ = t.toMSecsSinceEpoch();
                    valid_ = true;
                }
                return base_ + milli;
            }
        }
        const QDateTime t = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
        return t.isValid() ? t.toMSecsSinceEpoch() : TTraceStore::NoStamp;
    }

private:
    bool valid_ = false;
    QString second_, zone_;
    int64_t base_ = 0;
};

}  // namespace

QString FromChartFileBytes(const std::string& bytes)
{
    if (AllAscii(bytes.data(), bytes.size()))
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    const QString utf8 = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    if (!utf8.contains(QChar::ReplacementCharacter))
        return utf8;
    QString out;
    out.reserve(qsizetype(bytes.size()));
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0)
            out += Cp1252High[b - 0x80] ? QChar(Cp1252High[b - 0x80]) : QChar::ReplacementCharacter;
        else
            out += QChar(b);
    }
    return out;
}

TChartReadResult ReadChartFile(const QString& path, TTraceStore& store, TChartFileInfo& info, QString& error,
                               const std::function<bool(qint64, qint64)>& progress)
{
    constexpr qint64 Block = 4 << 20;
    constexpr int MaxHeaderLines = 64;
    const QString notOurs = QStringLiteral("The file is not a chart recording or export:\n") + path;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "The file could not be opened:\n" + path + "\n" + file.errorString();
        return TChartReadResult::Failed;
    }
    const qint64 total = file.size();
    if (total == 0) {
        error = "The file is empty:\n" + path;
        return TChartReadResult::Failed;
    }

    TStampParser stamps;
    bool crlf = false;  // the lines so far end in CR LF, as the chart writes them
    info = TChartFileInfo();
    bool inData = false;
    int headerLines = 0;
    qint64 lineNo = 0, done = 0;
    std::string carry;
    std::string buffer(size_t(Block), '\0');

    // One line without its CR LF; false ends the reading with `error` set.
    auto takeLine = [&](const std::string& raw) -> bool {
        ++lineNo;
        std::string bytes = raw;
        crlf = !bytes.empty() && bytes.back() == '\r';
        if (crlf)
            bytes.pop_back();
        if (!inData) {
            const QString line = FromChartFileBytes(bytes);
            if (line.startsWith(QLatin1String("Time (s);"))) {
                const QRegularExpressionMatch m =
                    QRegularExpression(QStringLiteral("^Time \\(s\\);Value(?: \\((.*)\\))?(;|$)")).match(line);
                if (!m.hasMatch()) {
                    error = notOurs;
                    return false;
                }
                info.Unit = m.captured(1);
                inData = true;
                return true;
            }
            const qsizetype semi = line.indexOf(QLatin1Char(';'));
            if (++headerLines > MaxHeaderLines || semi <= 0) {
                error = notOurs;
                return false;
            }
            const QString key = line.left(semi), value = line.mid(semi + 1);
            if (key == QLatin1String("Device"))
                info.Device = value;
            else if (key == QLatin1String("Mode"))
                info.Mode = value;
            else if (key == QLatin1String("Range"))
                info.Range = value;
            else if (key == QLatin1String("Sample time (ms)"))
                info.PeriodMs = value.toInt();
            else if (key == QLatin1String("Start"))
                info.Start = QDateTime::fromString(value, Qt::ISODateWithMs);
            return true;
        }
        if (bytes.empty())
            return true;
        const QString line = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
        const QStringView view(line);
        const qsizetype a = view.indexOf(QLatin1Char(';'));
        const qsizetype b = a < 0 ? -1 : view.indexOf(QLatin1Char(';'), a + 1);
        double t = 0, y = 0;
        if (a <= 0 || !ParseNumber(view.left(a), t) ||
            !ParseNumber(b < 0 ? view.mid(a + 1) : view.mid(a + 1, b - a - 1), y)) {
            error = QStringLiteral("Line %1 of the file is not a chart point:\n").arg(lineNo) + path;
            return false;
        }
        store.Append(t, y, TTraceStore::Black, b < 0 ? TTraceStore::NoStamp : stamps.Parse(view.mid(b + 1)));
        return true;
    };

    for (;;) {
        const qint64 n = file.read(buffer.data(), Block);
        if (n < 0) {
            error = "The file could not be read:\n" + path + "\n" + file.errorString();
            return TChartReadResult::Failed;
        }
        if (n == 0)
            break;
        // Text files hold no NUL bytes; a picture or a program does.
        if (std::memchr(buffer.data(), '\0', size_t(n))) {
            error = notOurs;
            return TChartReadResult::Failed;
        }
        size_t start = 0;
        for (;;) {
            const void* nl = std::memchr(buffer.data() + start, '\n', size_t(n) - start);
            if (!nl)
                break;
            const size_t end = size_t(static_cast<const char*>(nl) - buffer.data());
            carry.append(buffer.data() + start, end - start);
            if (!takeLine(carry))
                return TChartReadResult::Failed;
            carry.clear();
            start = end + 1;
        }
        carry.append(buffer.data() + start, size_t(n) - start);
        if (carry.size() > (1u << 20)) {
            error = notOurs;  // no line of ours is a megabyte long
            return TChartReadResult::Failed;
        }
        done += n;
        if (progress && !progress(done, total))
            return TChartReadResult::Cancelled;
    }
    // A last line without its line end: in a file of the chart's own, whose
    // lines end in CR LF, it was torn by a program that died while writing
    // and is left out; in a file edited by hand it is taken.
    if (!carry.empty() && !(inData && crlf) && !takeLine(carry))
        return TChartReadResult::Failed;
    if (!inData) {
        error = notOurs;
        return TChartReadResult::Failed;
    }
    return TChartReadResult::Ok;
}
