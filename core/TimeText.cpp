#include "core/TimeText.h"

#include <QLocale>

QString LongTimeFormatWithoutZone()
{
    const QString fmt = QLocale().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : fmt) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.trimmed();
}

QString WithFourDigitYear(const QString& fmt)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < fmt.size();) {
        const QChar c = fmt[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            ++i;
            continue;
        }
        if (quoted || c != QLatin1Char('y')) {
            out += c;
            ++i;
            continue;
        }
        qsizetype run = 0;
        while (i + run < fmt.size() && fmt[i + run] == QLatin1Char('y'))
            ++run;
        out += QString(run == 2 ? 4 : run, QLatin1Char('y'));
        i += run;
    }
    return out;
}

QString ShortDateFormatFourDigitYear() { return WithFourDigitYear(QLocale().dateFormat(QLocale::ShortFormat)); }

QString FileDateText(const QDate& date) { return QLocale().toString(date, ShortDateFormatFourDigitYear()); }
