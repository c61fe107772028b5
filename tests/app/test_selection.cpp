// Program settings, command-line words, the range table and the captions a
// selection produces.
#include "core/MainState.h"
#include "app/RangeTable.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <set>

TEST(ProgramSettings, NoFileGivesDefaultsAndASixTenthSecondSpan)
{
    TempDir dir;
    TMainState st;
    ReadProgramSettings(st, TIniFile(dir.file("SETUP_ULMARO.INI")));
    EXPECT_EQ(st.Delta_U, 200);
    EXPECT_EQ(st.Average_U, 1);
    EXPECT_EQ(st.Sampling_time_Chart, 10);
    EXPECT_EQ(st.Sampling_time_Display, 10);
    EXPECT_DOUBLE_EQ(st.TimeSpan, 0.6);
    EXPECT_EQ(st.Main_1, "Exit");
    EXPECT_EQ(st.Main_2, "Device");
    EXPECT_EQ(st.Main_3, "View");
    EXPECT_EQ(st.Main_4, "?");
    EXPECT_EQ(st.Banner, "Banner.jpg");
    EXPECT_FALSE(st.TestOutput);
    EXPECT_TRUE(st.CpmDataDirectory.endsWith('/'));
}

TEST(ProgramSettings, ReadsEveryKeyInAnyLetterCase)
{
    TempDir dir;
    dir.write("SETUP_ULMARO.INI",
              "[setup_adc]\ndelta_u=100\nAVERAGE_U=3\nSampling_time_Chart=50\nsampling_time_display=1000\n"
              "[menue]\nMain_1=Ende\nmain_2=Geraet\nText_Men_Opt_1=Mybox\nText_Sub_Men_Opt_1=Pressure\n"
              "Text_Opt1_Unit=bar\nValue_Opt1_LeftAxisMin=-2.5\nValue_Opt1_LeftAxisMax=2.5\n"
              "Value_Opt1_Calc_Factor=2.5\nBanner=/no/such.jpg\n"
              "[cpm]\ndatadirectory=/data/cpm/\ntestoutput=1\n");
    TMainState st;
    ReadProgramSettings(st, TIniFile(dir.file("SETUP_ULMARO.INI")));
    EXPECT_EQ(st.Delta_U, 100);
    EXPECT_EQ(st.Average_U, 3);
    EXPECT_EQ(st.Sampling_time_Chart, 50);
    EXPECT_DOUBLE_EQ(st.TimeSpan, 60.0);
    EXPECT_EQ(st.Main_1, "Ende");
    EXPECT_EQ(st.Main_2, "Geraet");
    EXPECT_EQ(st.Main_3, "View");
    EXPECT_EQ(st.Text_Men_Opt_1, "Mybox");
    EXPECT_DOUBLE_EQ(st.Value_Opt1_LeftAxisMin, -2.5);
    EXPECT_DOUBLE_EQ(st.Value_Opt1_Calc_Factor, 2.5);
    EXPECT_EQ(st.Banner, "/no/such.jpg");
    EXPECT_EQ(st.CpmDataDirectory, "/data/cpm/");
    EXPECT_TRUE(st.TestOutput);
}

TEST(ProgramSettings, NonNumericValuesFallBackToTheirDefaults)
{
    TempDir dir;
    dir.write("SETUP_ULMARO.INI", "[SetUP_ADC]\nDelta_U=lots\nSampling_time_Display=ten\n"
                                  "[Menue]\nValue_Opt1_LeftAxisMax=abc\n");
    TMainState st;
    ReadProgramSettings(st, TIniFile(dir.file("SETUP_ULMARO.INI")));
    EXPECT_EQ(st.Delta_U, 200);
    EXPECT_EQ(st.Sampling_time_Display, 10);
    EXPECT_DOUBLE_EQ(st.Value_Opt1_LeftAxisMax, 0);
}

TEST(ProgramSettings, AHugeDisplayPeriodGivesAWideSpanNotAWrappedOne)
{
    TempDir dir;
    dir.write("SETUP_ULMARO.INI", "[SetUP_ADC]\nSampling_time_Display=100000000\n");
    TMainState st;
    ReadProgramSettings(st, TIniFile(dir.file("SETUP_ULMARO.INI")));
    EXPECT_DOUBLE_EQ(st.TimeSpan, 6e6);
}

TEST(CommandLine, WordsMatchInAnyCaseWithinTheFirstSix)
{
    const char* a[] = {"/opt/ulmaro", "TASK"};
    EXPECT_TRUE(CommandLineHasWord(2, a, "task"));
    const char* b[] = {"/opt/ulmaro", "x", "y", "z", "w", "PraVeLint"};
    EXPECT_TRUE(CommandLineHasWord(6, b, "pravelint"));
    const char* c[] = {"/opt/ulmaro", "1", "2", "3", "4", "5", "pravelint"};
    EXPECT_FALSE(CommandLineHasWord(7, c, "pravelint"));
    const char* d[] = {"/opt/ulmaro", "tasks", "atask"};
    EXPECT_FALSE(CommandLineHasWord(3, d, "task"));
}

TEST(RangeTable, EveryRow)
{
    TMainState st;
    struct Row {
        int code;
        const char* unit;
        double min, max, factor;
    };
    const Row rows[] = {
        {1, "V/m", -200, 200, 200},   {2, "kV/m", -2, 2, 2},         {3, "kV/m", -5, 5, 5},
        {4, "kV/m", -20, 20, 20},     {5, "kV/m", -50, 50, 50},      {6, "kV/m", -200, 200, 200},
        {7, "MV/m", -2, 2, 2},        {21, "V", -2, 2, 2},           {22, "V", -20, 20, 20},
        {23, "V", -50, 50, 50},       {24, "V", -200, 200, 200},     {25, "V", -500, 500, 500},
        {26, "kV", -2, 2, 2},         {27, "kV", -20, 20, 20},       {28, "kV", -10, 10, 10},
        {40, "V", -100, 100, 1},      {41, "V", -401, 400, 1},       {42, "kV", -1.001, 1, 0.001},
        {43, "kV", -4.001, 4, 1},     {50, "V", -50, 50, 1},         {51, "V", -200, 200, 1},
        {52, "V", -500, 500, 1},      {53, "kV", -2, 2, 1},          {60, "kV/m", -5, 5, 1},
        {61, "kV/m", -20, 20, 1},     {62, "kV/m", -50, 50, 1},      {63, "kV/m", -200, 200, 1},
        {80, "kV/m", -20, 20, 20},    {81, "kV/m", -200, 200, 200},  {82, "MV/m", -1, 1, 1},
        {110, "V", -400, 400, 400},   {111, "kV", -4, 4, 4},         {112, "kV", -40, 40, 40},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        const auto d = LookupRange(r.code, st);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Unit, QString::fromUtf8(r.unit));
        EXPECT_DOUBLE_EQ(d->AxisMin, r.min);
        EXPECT_DOUBLE_EQ(d->AxisMax, r.max);
        EXPECT_DOUBLE_EQ(d->Factor, r.factor);
    }
    EXPECT_EQ(AllRangeCodes().size(), std::size(rows) + 4);
}

TEST(RangeTable, OptionalRowsComeFromTheSettingsAtTheTimeOfTheCall)
{
    TMainState st;
    st.Text_Opt2_2_Unit = "mbar";
    st.Value_Opt2_2_LeftAxisMin = -3;
    st.Value_Opt2_2_LeftAxisMax = 3;
    st.Value_Opt2_2_Calc_Factor = 3000;
    auto d = LookupRange(73, st);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Unit, "mbar");
    EXPECT_DOUBLE_EQ(d->Factor, 3000);
    st.Value_Opt2_2_Calc_Factor = 1;
    EXPECT_DOUBLE_EQ(LookupRange(73, st)->Factor, 1);
}

TEST(RangeTable, UnknownCodesChangeNothing)
{
    TMainState st;
    st.UnitText = "kV/m";
    st.CalcFactor = 20;
    for (int code : {0, 8, 29, 44, 64, 74, 100, 113, -1}) {
        EXPECT_FALSE(GetRangeData(code, st));
        EXPECT_EQ(st.UnitText, "kV/m");
        EXPECT_DOUBLE_EQ(st.CalcFactor, 20);
    }
    ASSERT_TRUE(GetRangeData(42, st));
    EXPECT_EQ(st.UnitText, "kV");
    EXPECT_DOUBLE_EQ(st.CalcFactor, 0.001);
}

TEST(SelectionCaption, ExactPieces)
{
    TMainState st;
    st.DeviceTitle = "Brimel";
    st.RangeCode = 6;
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Brimel  Range : ±200kV/m");
    EXPECT_TRUE(st.RangeSelected);

    st.DeviceTitle = "Dexil"; // Voltmeter (Corla) ±200V shares code 24
    st.RangeCode = 24;
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Dexil  Range : ±200V");
    EXPECT_DOUBLE_EQ(st.CalcFactor, 200);

    st.DeviceTitle = "Karvo V-Meter (Plate)";
    st.RangeCode = 41;
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Karvo V-Meter (Plate)  Range : ±400V");
    st.RangeCode = 42;
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Karvo V-Meter (Plate)  Range : ±1kV");
    EXPECT_DOUBLE_EQ(st.CalcFactor, 0.001);
}

TEST(SelectionCaption, ShortFormsAndLocale)
{
    TMainState st;
    // A serial instrument after a field-meter range keeps unit and factor.
    st.DeviceTitle = "Talvis";
    st.RangeCode = 4;
    ShowSelectionCaption(st);
    st.DeviceTitle = "Ohmra (TERA - Ohmmeter)";
    st.RangeCode = 0;
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Ohmra (TERA - Ohmmeter)");
    EXPECT_EQ(st.UnitText, "kV/m");
    EXPECT_DOUBLE_EQ(st.CalcFactor, 20);

    // An optional range without a unit gives the short caption.
    st.DeviceTitle = "Mybox";
    st.RangeCode = 70;
    st.Value_Opt1_LeftAxisMax = 0.5;
    st.Text_Opt1_Unit = "";
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Mybox");

    st.Text_Opt1_Unit = "bar";
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Mybox  Range : ±0.5bar");
    LocaleGuard g(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ShowSelectionCaption(st), "Ulmaro read out    Selected type =  Mybox  Range : ±0,5bar");
}

TEST(GeneralFormat, ShortestFormWithLimitedDigits)
{
    EXPECT_EQ(FormatGeneral(200, 4), "200");
    EXPECT_EQ(FormatGeneral(2, 4), "2");
    EXPECT_EQ(FormatGeneral(0.5, 4), "0.5");
    EXPECT_EQ(FormatGeneral(1.001, 4), "1.001");
    EXPECT_EQ(FormatGeneral(10, 15), "10");
    EXPECT_EQ(FormatGeneral(2.5, 15), "2.5");
    EXPECT_EQ(FormatGeneral(0.1, 15), "0.1");
}

TEST(GeneralFormat, ScientificFormBeyondThePrecisionWithABareExponent)
{
    EXPECT_EQ(FormatGeneral(1000, 4), "1000");
    EXPECT_EQ(FormatGeneral(10000, 4), "1E4");
    EXPECT_EQ(FormatGeneral(25000, 4), "2.5E4");
    EXPECT_EQ(FormatGeneral(0.0001, 4), "0.0001");
    EXPECT_EQ(FormatGeneral(0.00001, 4), "1E-5");
    EXPECT_EQ(FormatGeneral(-1.5e20, 15), "-1.5E20");
    EXPECT_EQ(FormatGeneral(1e100, 15), "1E100");
    LocaleGuard g(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatGeneral(25000, 4), "2,5E4");
}

TEST(GeneralFormat, RoundsTheDecimalTextHalfAwayFromZero)
{
    // Halves that the binary value would round down or to even.
    EXPECT_EQ(FormatGeneral(1.0005, 4), "1.001");
    EXPECT_EQ(FormatGeneral(1234.5, 4), "1235");
    EXPECT_EQ(FormatGeneral(-1234.5, 4), "-1235");
    EXPECT_EQ(FormatGeneral(0.00012345, 4), "0.0001235");
    EXPECT_EQ(FormatGeneral(2.675, 3), "2.68");
    // Below the half stays down.
    EXPECT_EQ(FormatGeneral(1.00049, 4), "1");
    // A carry through every digit moves the exponent, and may reach the
    // scientific form.
    EXPECT_EQ(FormatGeneral(9.9995, 4), "10");
    EXPECT_EQ(FormatGeneral(999.96, 4), "1000");
    EXPECT_EQ(FormatGeneral(9999.5, 4), "1E4");
    EXPECT_EQ(FormatGeneral(0.000099996, 4), "0.0001");
    EXPECT_EQ(FormatGeneral(-0.000099994, 4), "-9.999E-5");
    // The 15-digit text hides binary noise: 0.1 + 0.2 is 0.3.
    EXPECT_EQ(FormatGeneral(0.1 + 0.2, 15), "0.3");
    EXPECT_EQ(FormatGeneral(123456789012345678.0, 15), "1.23456789012346E17");
}

TEST(GeneralFormat, ZeroAndOddValues)
{
    EXPECT_EQ(FormatGeneral(0, 4), "0");
    EXPECT_EQ(FormatGeneral(-0.0, 4), "0");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::infinity(), 4), "INF");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity(), 4), "-INF");
    EXPECT_EQ(FormatGeneral(std::nan(""), 4), "NAN");
    EXPECT_EQ(FormatGeneral(5e-324, 4), "4.941E-324");
    EXPECT_EQ(FormatGeneral(1.7976931348623157e308, 4), "1.798E308");
    // Precisions outside 1..15 are held to those bounds.
    EXPECT_EQ(FormatGeneral(1.25, 0), "1");
    EXPECT_EQ(FormatGeneral(0.1, 17), "0.1");
}

TEST(DeviceMenu, EveryRangeLeafHasATableRowAndUniqueName)
{
    TMainState st;
    std::set<std::string> names;
    int leaves = 0;
    for (const TMenuEntry& e : DeviceMenuTable()) {
        EXPECT_TRUE(names.insert(e.Item).second) << e.Item;
        if (*e.Parent) {
            EXPECT_TRUE(names.count(e.Parent)) << e.Item << " comes before its parent";
        }
        if (e.kind != TMenuEntry::Range)
            continue;
        ++leaves;
        EXPECT_TRUE(LookupRange(e.RangeCode, st) || (e.RangeCode >= 70 && e.RangeCode <= 73)) << e.Item;
    }
    EXPECT_EQ(leaves, 53); // 8 Quenor, 6 Talvis, 10 Brimel, 7 Sorvan, 6 Dexil, 12 Karvo, 4 optional
}
