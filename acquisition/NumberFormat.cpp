#include "acquisition/NumberFormat.h"

#include <QLocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Adds one to a string of decimal digits ("199" -> "200", "99" -> "100").
void Increment(std::string& digits)
{
    for (int i = static_cast<int>(digits.size()) - 1; i >= 0; --i) {
        if (digits[i] < '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

QString FormatValue(double value, int decimals)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (decimals < 0)
        decimals = 0;

    constexpr int SignificantDigits = 4;
    constexpr int SourceDigits = 15;
    const bool negative = value < 0;
    const double magnitude = std::fabs(value);

    // `mantissa` holds the 15 significant digits d1 d2 ..., the value being
    // 0.d1d2... x 10^intDigits.
    std::string mantissa;
    int intDigits = 0;
    if (magnitude != 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*e", SourceDigits - 1, magnitude);
        mantissa.push_back(buf[0]);
        mantissa.append(buf + 2, SourceDigits - 1);
        intDigits = std::atoi(std::strchr(buf, 'e') + 1) + 1;
    }

    // Digits kept: 4 significant ones, fewer when the decimals end sooner; all
    // integer digits for values of five digits and more.
    std::string kept;
    if (!mantissa.empty()) {
        int keep = intDigits + decimals;
        if (intDigits <= SignificantDigits && keep > SignificantDigits)
            keep = SignificantDigits;
        if (keep >= 0) {
            kept = mantissa.substr(0, std::min<size_t>(keep, mantissa.size()));
            kept.append(std::max(0, keep - static_cast<int>(mantissa.size())), '0');
            const bool roundUp = keep < static_cast<int>(mantissa.size()) && mantissa[keep] >= '5';
            if (roundUp)
                Increment(kept);
            // kept x 10^(intDigits - keep) == M x 10^-decimals
            kept.append(intDigits - keep + decimals, '0');
        }
        // A carry (9999.6 -> 10000) simply adds a digit in front.
    }

    // kept is now the value x 10^decimals as a digit string.
    size_t first = kept.find_first_not_of('0');
    std::string digits = first == std::string::npos ? std::string() : kept.substr(first);
    const bool zero = digits.empty();
    if (static_cast<int>(digits.size()) < decimals + 1)
        digits.insert(0, decimals + 1 - digits.size(), '0');

    QString text;
    if (negative && !zero)
        text += QLatin1Char('-');
    text += QString::fromLatin1(digits.data(), static_cast<int>(digits.size() - decimals));
    if (decimals > 0) {
        text += QLocale().decimalPoint();
        text += QString::fromLatin1(digits.data() + digits.size() - decimals, decimals);
    }
    return text;
}

int DisplayDecimals(int rangeCode)
{
    switch (rangeCode) {
    case 41: case 51: case 52: case 63:
        return 0;
    case 40: case 50: case 61: case 62:
        return 1;
    case 42:
        return 3;
    default:
        return 2;
    }
}
