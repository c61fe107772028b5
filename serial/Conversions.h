#pragma once
#include <cstdint>
#include <string>

// Number <-> digit-text conversions shared by the serial instrument
// protocols. Texts are byte strings (one byte per character). The instruments
// send bytes as two upper-case hexadecimal digits; the odd inputs (lower-case
// letters, missing characters) are decoded the way the protocols have always
// decoded them, so every protocol sees the same numbers.

// `value` as exactly `digits` characters in `base` (digits 0-9, A-Z), leading
// zeros, any fraction cut off. A value of base^digits or more shows 0 in its
// top position and the rest modulo base^(digits-1).
// Throws std::overflow_error for zero digits and std::range_error for a
// negative value (-1 or less), a digit beyond Z, or a quotient outside 32 bits.
std::string NTOC(double value, uint8_t base, uint8_t digits);

// Digit text in `base` to a number. A character outside "0-9A-Z" (a
// lower-case letter too) counts -1; digits are not checked against the base.
// Throws std::range_error when the result leaves 32 bits and
// std::overflow_error when a digit's weight leaves 64 bits.
int32_t CTON(const std::string& text, uint8_t base);

// Hex digit pairs to characters (a single last digit makes a character of
// its own); each pair is read with CTON, so "0a" gives the byte 0xFF.
std::string HEX_ASCII(const std::string& text);

// Hex text to an integer. Anything but "0-9A-F" counts 0 but keeps its
// position; only the last eight characters matter (32-bit wrap-around).
int32_t HexToInt(const std::string& text);

// Four hex digits, low byte first, to a two's-complement 16-bit value.
// Missing characters count 0, characters after the fourth are ignored.
int32_t HexWordToInt16(const std::string& text);
