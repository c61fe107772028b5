#include "serial/Conversions.h"

#include <gtest/gtest.h>
#include <stdexcept>

TEST(NTOC, WritesFixedWidthUpperCaseDigits)
{
    EXPECT_EQ(NTOC(5, 2, 8), "00000101");
    EXPECT_EQ(NTOC(200, 16, 2), "C8");
    EXPECT_EQ(NTOC(0, 16, 2), "00");
    EXPECT_EQ(NTOC(255, 16, 2), "FF");
    EXPECT_EQ(NTOC(35, 36, 1), "Z");
    EXPECT_EQ(NTOC(0xA5, 2, 8), "10100101");
    EXPECT_EQ(NTOC(65535, 16, 4), "FFFF");
}

TEST(NTOC, CutsFractionsInsteadOfRounding)
{
    EXPECT_EQ(NTOC(10.9, 10, 3), "010");
    EXPECT_EQ(NTOC(15.99, 16, 1), "F");
    // Between -1 and 0 every position is 0.
    EXPECT_EQ(NTOC(-0.5, 16, 2), "00");
}

TEST(NTOC, ValueTooLargeShowsZeroOnTopAndTheRestModulo)
{
    EXPECT_EQ(NTOC(300, 16, 2), "0C");
    EXPECT_EQ(NTOC(256, 16, 2), "00");
    EXPECT_EQ(NTOC(1000, 10, 3), "000");
    EXPECT_EQ(NTOC(1234, 10, 3), "034");
    EXPECT_EQ(NTOC(511, 2, 8), "01111111");
}

TEST(NTOC, SingleDigitMayBeAnyTableCharacter)
{
    EXPECT_EQ(NTOC(7, 10, 1), "7");
    EXPECT_EQ(NTOC(20, 10, 1), "K");
    EXPECT_EQ(NTOC(35, 2, 1), "Z");
    EXPECT_THROW(NTOC(36, 10, 1), std::range_error);
}

TEST(NTOC, Failures)
{
    EXPECT_THROW(NTOC(5, 16, 0), std::overflow_error);
    EXPECT_THROW(NTOC(-1, 16, 2), std::range_error);
    EXPECT_THROW(NTOC(-300, 16, 2), std::range_error);
    // Quotient beyond 32 bits.
    EXPECT_THROW(NTOC(1e12, 16, 2), std::range_error);
    // Base 0 has no weights at all.
    EXPECT_THROW(NTOC(5, 0, 2), std::range_error);
    // A digit for a base beyond the table would fall off its end.
    EXPECT_THROW(NTOC(39 * 40, 40, 2), std::range_error);
}

TEST(NTOC, ManyDigitsStillPadWithZeros)
{
    EXPECT_EQ(NTOC(5, 16, 20), "00000000000000000005");
    EXPECT_EQ(NTOC(1, 2, 255), std::string(254, '0') + "1");
}

TEST(CTON, ReadsDigitTextInAnyBase)
{
    EXPECT_EQ(CTON("C8", 16), 200);
    EXPECT_EQ(CTON("00000101", 2), 5);
    EXPECT_EQ(CTON("ZZ", 36), 35 * 36 + 35);
    EXPECT_EQ(CTON("", 16), 0);
    EXPECT_EQ(CTON("7FFFFFFF", 16), 2147483647);
}

TEST(CTON, ForeignCharactersCountMinusOneAndDigitsAreNotCheckedAgainstTheBase)
{
    EXPECT_EQ(CTON("c8", 16), -8);
    EXPECT_EQ(CTON("G", 16), 16);
    EXPECT_EQ(CTON("0a", 16), -1);
    EXPECT_EQ(CTON(" 1", 10), -9);
}

TEST(CTON, Failures)
{
    EXPECT_THROW(CTON("80000000", 16), std::range_error);
    EXPECT_THROW(CTON("ZZZZZZZZ", 36), std::range_error);
    // Weight 16^16 does not fit 64 bits.
    EXPECT_THROW(CTON("1" + std::string(16, '0'), 16), std::overflow_error);
    // Leading zeros add nothing, whatever their weight.
    EXPECT_EQ(CTON(std::string(30, '0') + "1F", 16), 31);
}

TEST(HEX_ASCII, PairsBecomeCharacters)
{
    EXPECT_EQ(HEX_ASCII("414243"), "ABC");
    EXPECT_EQ(HEX_ASCII("41424"), std::string("AB\x04", 3));
    EXPECT_EQ(HEX_ASCII(""), "");
    EXPECT_EQ(HEX_ASCII("0a"), std::string(1, '\xFF'));
    EXPECT_EQ(HEX_ASCII("00FF"), std::string("\x00\xFF", 2));
    // "zz" is 16*(-1) + (-1) = -17; its low byte is 0xEF.
    EXPECT_EQ(HEX_ASCII("zz"), std::string(1, '\xEF'));
}

TEST(HexToInt, ReadsUpperCaseHexOnly)
{
    EXPECT_EQ(HexToInt("C8"), 200);
    EXPECT_EQ(HexToInt("c8"), 8);
    EXPECT_EQ(HexToInt(""), 0);
    EXPECT_EQ(HexToInt("1 2"), 258);
    EXPECT_EQ(HexToInt("F"), 15);
    EXPECT_EQ(HexToInt("0010"), 16);
}

TEST(HexToInt, WrapsAt32Bits)
{
    EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
    EXPECT_EQ(HexToInt("80000000"), INT32_MIN);
    EXPECT_EQ(HexToInt("7FFFFFFF"), INT32_MAX);
    // A ninth digit has weight 16^8, i.e. 0 modulo 2^32.
    EXPECT_EQ(HexToInt("912345678"), 0x12345678);
}

TEST(HexWordToInt16, LowByteFirstTwosComplement)
{
    EXPECT_EQ(HexWordToInt16("3412"), 4660);
    EXPECT_EQ(HexWordToInt16("FEFF"), -2);
    EXPECT_EQ(HexWordToInt16("0080"), -32768);
    EXPECT_EQ(HexWordToInt16("FFFF"), -1);
    EXPECT_EQ(HexWordToInt16("FF7F"), 32767);
    EXPECT_EQ(HexWordToInt16("0000"), 0);
}

TEST(HexWordToInt16, ShortOddAndLongTexts)
{
    EXPECT_EQ(HexWordToInt16("7F"), 32512);
    EXPECT_EQ(HexWordToInt16(""), 0);
    EXPECT_EQ(HexWordToInt16("7"), 7 * 4096);
    EXPECT_EQ(HexWordToInt16("341"), 0x1340);
    EXPECT_EQ(HexWordToInt16("3412FFFF"), 4660);
    EXPECT_EQ(HexWordToInt16("fe7f"), 0x7000);
}
