#pragma once
#include <QString>

// A measured value as the value boxes show it: rounded to 4 significant
// digits, fixed-point with exactly `decimals` decimals (zero-padded), the
// decimal separator of the locale in force (QLocale()). Rounding is decimal,
// half away from zero, on the value's 15-digit decimal form, so 12.345 gives
// 12.35 and not the 12.34 its binary form would suggest.
//
// Values whose rounded magnitude reaches 10000 would lose real digits to the
// 4-digit rounding; they are written with all their integer digits instead,
// still with `decimals` decimals (12345.678 with 2 decimals gives 12345.68),
// never in exponent notation. Infinite and NaN values give "INF" / "NAN".
QString FormatValue(double value, int decimals);

// The main window's boxes: two decimals.
inline QString FormatChartValue(double value) { return FormatValue(value, 2); }

// Decimals of the display window for a range code: 0, 1, 2 or 3.
int DisplayDecimals(int rangeCode);
