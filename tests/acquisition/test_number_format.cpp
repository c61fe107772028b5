#include "acquisition/NumberFormat.h"
#include "core/MainState.h"
#include "tests/support/TestSupport.h"

#include <QLocale>
#include <gtest/gtest.h>

TEST(NumberFormat, FourSignificantDigitsTwoDecimals)
{
    EXPECT_EQ(FormatChartValue(0), "0.00");
    EXPECT_EQ(FormatChartValue(12.345), "12.35");
    EXPECT_EQ(FormatChartValue(123.456), "123.50");
    EXPECT_EQ(FormatChartValue(-1.5), "-1.50");
    EXPECT_EQ(FormatChartValue(10), "10.00");
    EXPECT_EQ(FormatChartValue(1234.56), "1235.00");
    EXPECT_EQ(FormatChartValue(-439.4808), "-439.50");
    EXPECT_EQ(FormatChartValue(0.0042), "0.00");
    EXPECT_EQ(FormatChartValue(0.005), "0.01");
    EXPECT_EQ(FormatChartValue(-0.004), "0.00"); // no "-0.00"
    EXPECT_EQ(FormatChartValue(0.999), "1.00");
    EXPECT_EQ(FormatChartValue(9.9996), "10.00");
}

TEST(NumberFormat, FiveDigitValuesKeepAllTheirIntegerDigits)
{
    EXPECT_EQ(FormatChartValue(9999.4), "9999.00");
    EXPECT_EQ(FormatChartValue(9999.6), "10000.00");
    EXPECT_EQ(FormatChartValue(12345.678), "12345.68");
    EXPECT_EQ(FormatValue(-123456.5, 0), "-123457");
    EXPECT_EQ(FormatValue(1e20, 1), "100000000000000000000.0");
}

TEST(NumberFormat, DecimalsOfTheDisplay)
{
    EXPECT_EQ(FormatValue(0.523, 3), "0.523");
    EXPECT_EQ(FormatValue(9.999, 3), "9.999");
    EXPECT_EQ(FormatValue(123.6, 0), "124");
    EXPECT_EQ(FormatValue(-0.4, 0), "0");
    EXPECT_EQ(FormatValue(99.96, 1), "100.0");
    EXPECT_EQ(FormatValue(12.345, 1), "12.3");
    EXPECT_EQ(FormatValue(1.23456, 3), "1.235");
}

TEST(NumberFormat, LocaleDecimalSeparator)
{
    LocaleGuard g(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatChartValue(12.345), "12,35");
    EXPECT_EQ(FormatChartValue(-1.5), "-1,50");
    EXPECT_EQ(FormatValue(123.6, 0), "124");
    EXPECT_EQ(FormatChartValue(12345.678), "12345,68"); // no group separators
}

TEST(NumberFormat, NotANumber)
{
    EXPECT_EQ(FormatChartValue(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FormatChartValue(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(NumberFormat, DecimalsPerRangeCode)
{
    for (int c : {41, 51, 52, 63})
        EXPECT_EQ(DisplayDecimals(c), 0) << c;
    for (int c : {40, 50, 61, 62})
        EXPECT_EQ(DisplayDecimals(c), 1) << c;
    for (int c : {43, 53, 60, 1, 4, 7, 21, 28, 70, 73, 80, 112, 0, 999})
        EXPECT_EQ(DisplayDecimals(c), 2) << c;
    EXPECT_EQ(DisplayDecimals(42), 3);
}

// Captions (general format) and value boxes (fixed format) show one reading
// alike: both round the 15-digit decimal text half away from zero.
TEST(NumberFormat, GeneralAndFixedFormatRoundAlike)
{
    EXPECT_EQ(FormatGeneral(1.0005, 4), "1.001");
    EXPECT_EQ(FormatValue(1.0005, 3), "1.001");
    EXPECT_EQ(FormatGeneral(1234.5, 4), "1235");
    EXPECT_EQ(FormatValue(1234.5, 0), "1235");
    EXPECT_EQ(FormatGeneral(-12.345, 4), "-12.35");
    EXPECT_EQ(FormatChartValue(-12.345), "-12.35");
    for (double v : {0.5, 2.005, 20.02, 199.95, 0.125, 7.0725}) {
        SCOPED_TRACE(v);
        const QString fixed = FormatValue(v, 3);
        EXPECT_EQ(FormatGeneral(v, 4).toDouble(), fixed.toDouble());
    }
}
