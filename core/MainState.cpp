#include "core/MainState.h"

#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

TMainState* MainState = nullptr;

namespace {

QString Str(const TIniFile& ini, const char* section, const char* key, const QString& def)
{
    return QString::fromLocal8Bit(ini.ReadString(section, key, def.toLocal8Bit().toStdString()));
}

} // namespace

void ReadProgramSettings(TMainState& st, const TIniFile& file)
{
    const TIniFile ini = file.Snapshot();
    st.Delta_U = ini.ReadInteger("SetUP_ADC", "Delta_U", 200);
    st.Average_U = ini.ReadInteger("SetUP_ADC", "Average_U", 1);
    st.Sampling_time_Chart = ini.ReadInteger("SetUP_ADC", "Sampling_time_Chart", 10);
    st.Sampling_time_Display = ini.ReadInteger("SetUP_ADC", "Sampling_time_Display", 10);

    st.Banner = Str(ini, "Menue", "Banner", "Banner.jpg");
    st.Main_1 = Str(ini, "Menue", "Main_1", "Exit");
    st.Main_2 = Str(ini, "Menue", "Main_2", "Device");
    st.Main_3 = Str(ini, "Menue", "Main_3", "View");
    st.Main_4 = Str(ini, "Menue", "Main_4", "?");
    st.Text_Men_Opt_1 = Str(ini, "Menue", "Text_Men_Opt_1", "");
    st.Text_Sub_Men_Opt_1 = Str(ini, "Menue", "Text_Sub_Men_Opt_1", "");
    st.Text_Opt1_Unit = Str(ini, "Menue", "Text_Opt1_Unit", "");
    st.Text_Opt1_2_Unit = Str(ini, "Menue", "Text_Opt1_2_Unit", "");
    st.Text_Men_Opt_2 = Str(ini, "Menue", "Text_Men_Opt_2", "");
    st.Text_Sub_Men_Opt_2 = Str(ini, "Menue", "Text_Sub_Men_Opt_2", "");
    st.Text_Opt2_Unit = Str(ini, "Menue", "Text_Opt2_Unit", "");
    st.Text_Opt2_2_Unit = Str(ini, "Menue", "Text_Opt2_2_Unit", "");

    st.Value_Opt1_LeftAxisMin = ini.ReadFloat("Menue", "Value_Opt1_LeftAxisMin", 0);
    st.Value_Opt1_LeftAxisMax = ini.ReadFloat("Menue", "Value_Opt1_LeftAxisMax", 0);
    st.Value_Opt1_Calc_Factor = ini.ReadFloat("Menue", "Value_Opt1_Calc_Factor", 0);
    st.Value_Opt1_2_LeftAxisMin = ini.ReadFloat("Menue", "Value_Opt1_2_LeftAxisMin", 0);
    st.Value_Opt1_2_LeftAxisMax = ini.ReadFloat("Menue", "Value_Opt1_2_LeftAxisMax", 0);
    st.Value_Opt1_2_Calc_Factor = ini.ReadFloat("Menue", "Value_Opt1_2_Calc_Factor", 0);
    st.Value_Opt2_LeftAxisMin = ini.ReadFloat("Menue", "Value_Opt2_LeftAxisMin", 0);
    st.Value_Opt2_LeftAxisMax = ini.ReadFloat("Menue", "Value_Opt2_LeftAxisMax", 0);
    st.Value_Opt2_Calc_Factor = ini.ReadFloat("Menue", "Value_Opt2_Calc_Factor", 0);
    st.Value_Opt2_2_LeftAxisMin = ini.ReadFloat("Menue", "Value_Opt2_2_LeftAxisMin", 0);
    st.Value_Opt2_2_LeftAxisMax = ini.ReadFloat("Menue", "Value_Opt2_2_LeftAxisMax", 0);
    st.Value_Opt2_2_Calc_Factor = ini.ReadFloat("Menue", "Value_Opt2_2_Calc_Factor", 0);

    st.CpmDataDirectory = Str(ini, "CPM", "DataDirectory", QString::fromLocal8Bit(HomeDirectory()));
    st.TestOutput = ini.ReadBool("CPM", "TestOutput", false);

    // The chart's first time axis covers 60 periods of the display window.
    st.TimeSpan = st.Sampling_time_Display * 60.0 * 0.001; // in floating point: a huge period must not wrap
}

bool CommandLineHasWord(int argc, const char* const* argv, const char* word)
{
    for (int i = 0; i < argc && i < 6; ++i) {
        if (!argv[i])
            continue;
        if (QString::fromLocal8Bit(argv[i]).toLower() == QLatin1String(word))
            return true;
    }
    return false;
}

QString FormatGeneral(double value, int precision)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");

    // Rounded the way the value boxes round: on the value's 15-digit decimal
    // text, half away from zero, so 1.0005 gives 1.001 and 1234.5 gives 1235
    // (the C library would round the binary value, half to even: 1, 1234).
    constexpr int SourceDigits = 15;
    precision = std::clamp(precision, 1, SourceDigits);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", SourceDigits - 1, std::fabs(value));
    std::string digits(1, buf[0]);
    digits.append(buf + 2, SourceDigits - 1);
    int exponent = std::atoi(std::strchr(buf, 'e') + 1);  // value = d.ddd x 10^exponent

    const bool roundUp = digits[size_t(precision)] >= '5';
    digits.resize(size_t(precision));
    if (roundUp) {
        int i = precision - 1;
        while (i >= 0 && digits[size_t(i)] == '9')
            digits[size_t(i--)] = '0';
        if (i >= 0) {
            ++digits[size_t(i)];
        } else {
            digits.insert(digits.begin(), '1');  // 9.9995 -> 10.00
            digits.pop_back();
            ++exponent;
        }
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const QString dp = QLocale().decimalPoint();
    QString s = value < 0 ? QStringLiteral("-") : QString();
    const QString d = QString::fromLatin1(digits.data(), qsizetype(digits.size()));
    if (exponent < -4 || exponent >= precision) {
        // Scientific form with a bare exponent ("1E4", "2.5E-5"), not the
        // C library's padded "1E+04".
        s += d.left(1);
        if (d.size() > 1)
            s += dp + d.mid(1);
        s += QStringLiteral("E") + QString::number(exponent);
    } else if (exponent < 0) {
        s += QStringLiteral("0") + dp + QString(-exponent - 1, QLatin1Char('0')) + d;
    } else if (d.size() > exponent + 1) {
        s += d.left(exponent + 1) + dp + d.mid(exponent + 1);
    } else {
        s += d + QString(exponent + 1 - d.size(), QLatin1Char('0'));
    }
    return s;
}
