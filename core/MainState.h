#pragma once
#include <QString>
#include <cstdint>

class TIniFile;

// The state the main window shares with the rest of the program: the
// current selection, the acquisition flags and extremes, the settings read at
// start and the few values of the serial instruments. `TMainForm` carries it;
// logic code that must not know about widgets takes it by reference.
struct TMainState {
    // SETUP_ULMARO.INI, section SetUP_ADC
    int32_t Delta_U = 200;
    int32_t Average_U = 1;
    int32_t Sampling_time_Chart = 10;
    int32_t Sampling_time_Display = 10;

    double TimeSpan = 0.6;          // seconds: 60 display periods
    int32_t DeviceCode = 0;
    int32_t RangeCode = 0;
    QString DeviceTitle = "0";
    QString UnitText;
    double CalcFactor = 0;
    bool RangeSelected = false;
    bool StopFlag = false;
    bool StoppedFlag = false;
    double PosMax = -9999;
    double NegMax = 9999;
    double TimeX = 0;
    QString AppTitle = "Ulmaro read out";
    int32_t ComPortIndex = 0;
    QString ComPortName;
    bool ServiceMode = false;
    QString CpmDataDirectory;
    bool TestOutput = false;
    bool ManualEFieldFirmware = true;
    bool OhmraFirstStart = true;

    // SETUP_ULMARO.INI, section Menue
    QString Banner = "Banner.jpg";
    QString Main_1 = "Exit", Main_2 = "Device", Main_3 = "View", Main_4 = "?";
    QString Text_Men_Opt_1, Text_Sub_Men_Opt_1, Text_Opt1_Unit, Text_Opt1_2_Unit;
    QString Text_Men_Opt_2, Text_Sub_Men_Opt_2, Text_Opt2_Unit, Text_Opt2_2_Unit;
    double Value_Opt1_LeftAxisMin = 0, Value_Opt1_LeftAxisMax = 0, Value_Opt1_Calc_Factor = 0;
    double Value_Opt1_2_LeftAxisMin = 0, Value_Opt1_2_LeftAxisMax = 0, Value_Opt1_2_Calc_Factor = 0;
    double Value_Opt2_LeftAxisMin = 0, Value_Opt2_LeftAxisMax = 0, Value_Opt2_Calc_Factor = 0;
    double Value_Opt2_2_LeftAxisMin = 0, Value_Opt2_2_LeftAxisMax = 0, Value_Opt2_2_Calc_Factor = 0;

    // Both extremes back to "nothing seen yet".
    void ResetExtremes()
    {
        NegMax = 9999;
        PosMax = -9999;
    }
};

// The one main-window state of the run (the main window itself once it
// exists). Logic code reaches the shared fields through it.
extern TMainState* MainState;

// Reads SETUP_ULMARO.INI into the state, in the order of the settings table,
// and derives TimeSpan. A missing or unreadable file gives every default.
void ReadProgramSettings(TMainState& st, const TIniFile& ini);

// Looks for `word` (compared lower-cased) among the first six command-line
// words, the program path included.
bool CommandLineHasWord(int argc, const char* const* argv, const char* word);

// Number in general format: shortest form with up to `precision` (at most
// 15) significant digits and the system's decimal separator ("10", "2.5",
// "0.5"); scientific with a bare exponent ("1E4") when the exponent is below
// -4 or reaches the precision. Rounds like the value boxes: on the 15-digit
// decimal text, half away from zero (1.0005 -> "1.001" at 4 digits).
QString FormatGeneral(double value, int precision);
