#include "core/MainState.h"

#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QLocale>
#include <cstdio>
#include <string>

TMainState* MainState = nullptr;

namespace {

QString Str(const TIniFile& ini, const char* section, const char* key, const QString& def)
{
    return QString::fromLocal8Bit(ini.ReadString(section, key, def.toLocal8Bit().toStdString()));
}

} // namespace

void ReadProgramSettings(TMainState& st, const TIniFile& ini)
{
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
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", precision, value);
    QString s = QString::fromLatin1(buf);
    // The general format writes its exponent bare ("1E4", "1E-5"), not the
    // C library's padded "1E+04".
    if (const int e = s.indexOf(QLatin1Char('E')); e >= 0) {
        QString exp = s.mid(e + 1);
        const bool negative = exp.startsWith(QLatin1Char('-'));
        if (negative || exp.startsWith(QLatin1Char('+')))
            exp.remove(0, 1);
        while (exp.size() > 1 && exp.startsWith(QLatin1Char('0')))
            exp.remove(0, 1);
        s = s.left(e + 1) + (negative ? QStringLiteral("-") : QString()) + exp;
    }
    const QString dp = QLocale().decimalPoint();
    s.replace(QLatin1Char('.'), dp);
    return s;
}
