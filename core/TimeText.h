#pragma once
#include <QDate>
#include <QString>

// The user's long time format without its time-zone field: the chart's
// title and the measurement files have never carried a zone, and Qt's long
// format adds one.
QString LongTimeFormatWithoutZone();

// A date as the measurement files write it: the user's short date format,
// but with four year digits where that format has two, so a file read years
// later cannot be taken for another century.
QString ShortDateFormatFourDigitYear();
// A date format with its two-digit year ("yy", outside quotes) widened to four.
QString WithFourDigitYear(const QString& format);
QString FileDateText(const QDate& date);
