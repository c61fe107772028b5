#include "serial/Conversions.h"

#include <cmath>
#include <stdexcept>

namespace {

constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr int kDigitCount = 36;

// base^exponent, exactly. False when the power does not fit 64 bits (only
// happens for long texts or many digits, never in the protocols).
bool Power(uint8_t base, unsigned exponent, int64_t& out)
{
    if (base == 0) {
        out = 0;
        return true;
    }
    int64_t p = 1;
    for (unsigned i = 0; i < exponent; ++i)
        if (__builtin_mul_overflow(p, int64_t(base), &p))
            return false;
    out = p;
    return true;
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

char DigitChar(double d)
{
    if (!(d >= 0 && d < kDigitCount))
        throw std::range_error("NTOC: digit out of range");
    return kDigits[int(d)];
}

} // namespace

std::string NTOC(double value, uint8_t base, uint8_t digits)
{
    if (digits == 0)
        throw std::overflow_error("NTOC: no digits");
    std::string text;
    text.reserve(digits);
    unsigned p = digits - 1u;
    while (p > 0) {
        int64_t w = 0;
        double q = 0;
        if (Power(base, p, w)) {
            q = std::trunc(value / double(w));
        } else {
            // The weight is beyond 64 bits; any value that fits a 32-bit
            // quotient leaves a 0 here.
            q = std::trunc(value / std::pow(double(base), double(p)));
            if (q != 0)
                throw std::overflow_error("NTOC: weight beyond 64 bits");
        }
        if (!(q >= -2147483648.0 && q <= 2147483647.0))
            throw std::range_error("NTOC: quotient beyond 32 bits");
        int64_t taken = 0;
        if (__builtin_mul_overflow(int64_t(q), w, &taken))
            throw std::overflow_error("NTOC: product beyond 64 bits");
        value -= double(taken);
        // An out-of-range quotient only gives up its excess; the same
        // position is then worked out again from what is left.
        if (q >= 0 && q <= double(base) - 1) {
            text += DigitChar(q);
            --p;
        }
    }
    text += DigitChar(std::trunc(value));
    return text;
}

int32_t CTON(const std::string& text, uint8_t base)
{
    __int128 sum = 0;
    unsigned k = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it, ++k) {
        const int d = DigitValue(*it);
        if (d == 0)
            continue; // a zero adds nothing, however large its weight
        int64_t w = 0;
        int64_t product = 0;
        if (!Power(base, k, w) || __builtin_mul_overflow(int64_t(d), w, &product))
            throw std::overflow_error("CTON: digit weight beyond 64 bits");
        sum += product;
    }
    if (sum < INT32_MIN || sum > INT32_MAX)
        throw std::range_error("CTON: result beyond 32 bits");
    return int32_t(sum);
}

std::string HEX_ASCII(const std::string& text)
{
    std::string out;
    out.reserve((text.size() + 1) / 2);
    for (size_t i = 0; i < text.size(); i += 2)
        out += char(uint8_t(CTON(text.substr(i, 2), 16) & 0xFF));
    return out;
}

int32_t HexToInt(const std::string& text)
{
    uint32_t value = 0;
    uint32_t weight = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        value += weight * uint32_t(HexDigitValue(*it));
        weight *= 16u;
    }
    return int32_t(value);
}

int32_t HexWordToInt16(const std::string& text)
{
    // Low byte first on the wire: swap the two digit pairs.
    const std::string word = text.substr(std::min<size_t>(2, text.size()), 2) + text.substr(0, 2);
    int32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = v * 16 + (i < word.size() ? HexToInt(std::string(1, word[i])) : 0);
    if (v > 32767)
        v -= 65536;
    return v;
}
