#include "gripo/C_Gripo.h"

#include "core/MainState.h"
#include "core/TimeText.h"
#include "platform/CsvText.h"
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"

#include <QLocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned PauseAfterCommandMs = 100;
constexpr unsigned PauseBeforeByteMs = 10;

// The count in a low-byte-first pair of reply bytes (held as hex text).
uint32_t Word(const std::string& low, const std::string& high)
{
    return uint32_t(HexToInt(low)) + 256u * uint32_t(HexToInt(high));
}

double Share(uint32_t count, uint32_t total)
{
    // Evaluated as (1 / total) * count * 100, so the last bit agrees with the
    // percentages the tester's users have always seen.
    return (1.0 / double(total)) * double(count) * 100.0;
}

} // namespace

uint8_t C_Gripo::Checksum(uint8_t command, const uint8_t* reply11)
{
    unsigned sum = command;
    for (int i = 0; i < ReplyLength - 1; ++i)
        sum += reply11[i];
    return uint8_t(sum % 256);
}

int32_t C_Gripo::ReadStatistics(bool clear)
{
    if (Prompt().Ask(QStringLiteral("Please, Press the plate and wait until the LED light up !"),
                     QStringLiteral("Instruction"), TPromptButtons::OkCancel,
                     TPromptIcon::Exclamation) != TPromptResult::Ok)
        return Cancelled;

    const uint8_t command = clear ? CommandReadAndClear : CommandRead;
    // Whatever the tester still sent after an earlier exchange that failed
    // (a late echo, the rest of a reply) is not part of this reply; read as
    // its first bytes it would shift every count.
    (void)port_.ReadString();
    port_.WriteChar(char(command));
    Host().Sleep(PauseAfterCommandMs);

    uint8_t bytes[ReplyLength];
    std::string hex[ReplyLength];
    for (int i = 0; i < ReplyLength; ++i) {
        Host().Sleep(PauseBeforeByteMs);
        bytes[i] = port_.ReadByte();
        hex[i] = NTOC(bytes[i], 16, 2);
    }

    const uint8_t sum = Checksum(command, bytes);
    if (sum != bytes[ReplyLength - 1])
        return ChecksumWrong;
    port_.WriteByte(uint8_t(255 - sum));

    Host().Sleep(PauseBeforeByteMs);
    if (port_.ReadByte() != command)
        return EchoWrong;

    Count_all = Word(hex[1], hex[2]);
    Count_HGB_L = Word(hex[3], hex[4]);
    Count_HGB_H = Word(hex[5], hex[6]);
    Count_Shoe_L = Word(hex[7], hex[8]);
    Count_Shoe_H = Word(hex[9], hex[10]);
    if (Count_all > 0) {
        Percent_HGB_L = Share(Count_HGB_L, Count_all);
        Percent_HGB_H = Share(Count_HGB_H, Count_all);
        Percent_Shoe_L = Share(Count_Shoe_L, Count_all);
        Percent_Shoe_H = Share(Count_Shoe_H, Count_all);
    } else {
        Percent_HGB_L = Percent_HGB_H = Percent_Shoe_L = Percent_Shoe_H = 0;
    }
    return Ok;
}

QString C_Gripo::PercentText(double percent)
{
    const QLocale loc;
    if (!std::isfinite(percent))
        return loc.toString(percent);
    // Rounded once, to four significant digits or one decimal, whichever
    // keeps fewer; when the integer part alone needs more than four digits
    // there is no room for the fixed form.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3e", percent);
    const int intDigits = std::atoi(std::strchr(buf, 'e') + 1) + 1;
    if (intDigits > 4)
        return FormatGeneral(percent, 4);
    const int decimals = intDigits >= 4 ? 0 : 1;
    // A share that lies exactly between two texts (169 of 208 is 81.25 %)
    // goes up, as the tester's users read it, not to the even digit.
    QString s = QString::number(percent, 'f', decimals);
    if (decimals == 0)
        s += QStringLiteral(".0");
    s.replace(QLatin1Char('.'), loc.decimalPoint());
    return s;
}

QString C_Gripo::CsvHeader()
{
    return QStringLiteral(
        "Date;Time;No. of meas.;HGB <;HGB < %;HGB >;HGB > %;Shoe <;Shoe < %;Shoe >;Shoe > %;Comment");
}

QString C_Gripo::CsvLine(const QDateTime& when) const
{
    const QLocale loc;
    const QChar sep = QLatin1Char(';');
    const QString pct = QStringLiteral("%");
    QString s = FileDateText(when.date());
    s += sep + loc.toString(when.time(), LongTimeFormatWithoutZone());
    s += sep + QString::number(Count_all);
    s += sep + QString::number(Count_HGB_L) + sep + PercentText(Percent_HGB_L) + pct;
    s += sep + QString::number(Count_HGB_H) + sep + PercentText(Percent_HGB_H) + pct;
    s += sep + QString::number(Count_Shoe_L) + sep + PercentText(Percent_Shoe_L) + pct;
    s += sep + QString::number(Count_Shoe_H) + sep + PercentText(Percent_Shoe_H) + pct;
    s += sep + CsvField(Comment);
    return s;
}

QList<C_Gripo::PrintRow> C_Gripo::PrintRows() const
{
    const auto pct = [](double p) { return QStringLiteral(" = ") + PercentText(p) + QStringLiteral("%"); };
    return {
        {QStringLiteral("Number of measurments : ") + QString::number(Count_all), QString()},
        {QStringLiteral("HGB <  : ") + QString::number(Count_HGB_L), pct(Percent_HGB_L)},
        {QStringLiteral("HGB >  : ") + QString::number(Count_HGB_H), pct(Percent_HGB_H)},
        {QStringLiteral("Shoe < : ") + QString::number(Count_Shoe_L), pct(Percent_Shoe_L)},
        {QStringLiteral("Shoe > : ") + QString::number(Count_Shoe_H), pct(Percent_Shoe_H)},
    };
}
