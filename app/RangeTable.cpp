#include "app/RangeTable.h"

#include "core/MainState.h"

namespace {

struct FixedRow {
    int code;
    const char* unit;
    double min, max, factor;
};

// Rows 41 to 43 go one unit of the last digit below the negative maximum,
// as the instrument's own scale does.
constexpr FixedRow kRows[] = {
    {1, "V/m", -200, 200, 200},    {2, "kV/m", -2, 2, 2},       {3, "kV/m", -5, 5, 5},
    {4, "kV/m", -20, 20, 20},      {5, "kV/m", -50, 50, 50},    {6, "kV/m", -200, 200, 200},
    {7, "MV/m", -2, 2, 2},         {21, "V", -2, 2, 2},         {22, "V", -20, 20, 20},
    {23, "V", -50, 50, 50},        {24, "V", -200, 200, 200},   {25, "V", -500, 500, 500},
    {26, "kV", -2, 2, 2},          {27, "kV", -20, 20, 20},     {28, "kV", -10, 10, 10},
    {40, "V", -100, 100, 1},       {41, "V", -401, 400, 1},     {42, "kV", -1.001, 1, 0.001},
    {43, "kV", -4.001, 4, 1},      {50, "V", -50, 50, 1},       {51, "V", -200, 200, 1},
    {52, "V", -500, 500, 1},       {53, "kV", -2, 2, 1},        {60, "kV/m", -5, 5, 1},
    {61, "kV/m", -20, 20, 1},      {62, "kV/m", -50, 50, 1},    {63, "kV/m", -200, 200, 1},
    {80, "kV/m", -20, 20, 20},     {81, "kV/m", -200, 200, 200}, {82, "MV/m", -1, 1, 1},
    {110, "V", -400, 400, 400},    {111, "kV", -4, 4, 4},       {112, "kV", -40, 40, 40},
};

using E = TMenuEntry;

const std::vector<TMenuEntry> kMenu = {
    {"Quenor1", "", "Quenor", E::Submenu, nullptr, 0, 0},
    {"EFeldmeter1", "Quenor1", "E-Fieldmeter", E::Submenu, nullptr, 0, 0},
    {"N5kVm1", "EFeldmeter1", "±5kV/m", E::Range, "Quenor", 1, 3},
    {"N20kVm1", "EFeldmeter1", "±20kV/m", E::Range, "Quenor", 1, 4},
    {"N50kVm1", "EFeldmeter1", "±50kV/m", E::Range, "Quenor", 1, 5},
    {"N200kVm2", "EFeldmeter1", "±200kV/m", E::Range, "Quenor", 1, 6},
    {"VoltmeterArvo1", "Quenor1", "Voltmeter (Arvo)", E::Submenu, nullptr, 0, 0},
    {"N50V1", "VoltmeterArvo1", "±50V", E::Range, "Quenor", 2, 23},
    {"N200V1", "VoltmeterArvo1", "±200V", E::Range, "Quenor", 2, 24},
    {"N500V1", "VoltmeterArvo1", "±500V", E::Range, "Quenor", 2, 25},
    {"N2kV1", "VoltmeterArvo1", "±2kV", E::Range, "Quenor", 2, 26},

    {"Talvis1", "", "Talvis", E::Submenu, nullptr, 0, 0},
    {"EFeldmeter2", "Talvis1", "E-Fieldmeter", E::Submenu, nullptr, 0, 0},
    {"N20kVm2", "EFeldmeter2", "±20kV/m", E::Range, "Talvis", 1, 4},
    {"N200kVm3", "EFeldmeter2", "±200kV/m", E::Range, "Talvis", 1, 6},
    {"N2MVm1", "EFeldmeter2", "±2MV/m", E::Range, "Talvis", 1, 7},
    {"VoltmeterArvo2", "Talvis1", "Voltmeter (Arvo)", E::Submenu, nullptr, 0, 0},
    {"N200V2", "VoltmeterArvo2", "±200V", E::Range, "Talvis", 2, 24},
    {"N2kV2", "VoltmeterArvo2", "±2kV", E::Range, "Talvis", 2, 26},
    {"N20kVArvomax2kV1", "VoltmeterArvo2", "±20kV (Arvo max. 2kV)", E::Range, "Talvis", 2, 27},

    {"Brimel1", "", "Brimel", E::Submenu, nullptr, 0, 0},
    {"EFeldmeter3", "Brimel1", "E-Fieldmeter", E::Submenu, nullptr, 0, 0},
    {"N2kVm1", "EFeldmeter3", "±2kV/m", E::Range, "Brimel", 1, 2},
    {"N20kVm3", "EFeldmeter3", "±20kV/m", E::Range, "Brimel", 1, 4},
    {"N200kVm1", "EFeldmeter3", "±200kV/m", E::Range, "Brimel", 1, 6},
    {"N2MVm2", "EFeldmeter3", "±2MV/m (measuring orifice )", E::Range, "Brimel", 1, 7},
    {"VoltmeterBesk1", "Brimel1", "Voltmeter (Besk)", E::Submenu, nullptr, 0, 0},
    {"N20V1", "VoltmeterBesk1", "±20V", E::Range, "Brimel", 2, 22},
    {"N200V3", "VoltmeterBesk1", "±200V", E::Range, "Brimel", 2, 24},
    {"N2kV3", "VoltmeterBesk1", "±2kV", E::Range, "Brimel", 2, 26},
    {"VoltmeterDunel1", "Brimel1", "Voltmeter (Dunel)", E::Submenu, nullptr, 0, 0},
    {"Dunel_400V", "VoltmeterDunel1", "± 400V", E::Range, "Brimel", 2, 110},
    {"Dunel_4kV", "VoltmeterDunel1", "± 4kV", E::Range, "Brimel", 2, 111},
    {"N40kV1", "VoltmeterDunel1", "± 40kV", E::Range, "Brimel", 2, 112},

    {"Sorvan1", "", "Sorvan", E::Submenu, nullptr, 0, 0},
    {"EFeldmeter4", "Sorvan1", "E-Fieldmeter", E::Submenu, nullptr, 0, 0},
    {"N200Vm1", "EFeldmeter4", "±200V/m", E::Range, "Sorvan", 1, 1},
    {"N2kVm2", "EFeldmeter4", "±2kV/m", E::Range, "Sorvan", 1, 2},
    {"N20kVm4", "EFeldmeter4", "±20kV/m", E::Range, "Sorvan", 1, 4},
    {"N200kVmMessblende1", "EFeldmeter4", "±200kV/m  (measuring orifice )", E::Range, "Sorvan", 1, 6},
    {"VoltmeterBesk2", "Sorvan1", "Voltmeter (Besk)", E::Submenu, nullptr, 0, 0},
    {"N2V1", "VoltmeterBesk2", "±2V", E::Range, "Sorvan", 2, 21},
    {"N20V2", "VoltmeterBesk2", "±20V", E::Range, "Sorvan", 2, 22},
    {"N200V4", "VoltmeterBesk2", "±200V", E::Range, "Sorvan", 2, 24},

    {"Dexil", "", "Dexil", E::Submenu, nullptr, 0, 0},
    {"EFieldmeter5", "Dexil", "E-Fieldmeter", E::Submenu, nullptr, 0, 0},
    {"N20kVm5", "EFieldmeter5", "±20kV/m", E::Range, "Dexil", 1, 80},
    {"N200kVm5", "EFieldmeter5", "±200kV/m", E::Range, "Dexil", 1, 81},
    {"N1MVm5", "EFieldmeter5", "±1MV/m", E::Range, "Dexil", 1, 82},
    {"VoltmeterCorla", "Dexil", "Voltmeter (Corla)", E::Submenu, nullptr, 0, 0},
    {"N200V5", "VoltmeterCorla", "±200V", E::Range, "Dexil", 2, 24},
    {"N2kV4", "VoltmeterCorla", "±2kV", E::Range, "Dexil", 2, 26},
    {"N10kVmax4kV1", "VoltmeterCorla", "±10kV [max. 4kV]", E::Range, "Dexil", 2, 28},

    {"Karvo1", "", "Karvo", E::Submenu, nullptr, 0, 0},
    {"CPMMode", "Karvo1", "CPM-Mode", E::Submenu, nullptr, 0, 0},
    {"CPM_Start", "CPMMode", "Start", E::SerialStart, nullptr, 100, 0},
    {"Voltmeter", "Karvo1", "V-Meter", E::Submenu, nullptr, 0, 0},
    {"Plate", "Voltmeter", "Plate", E::Submenu, nullptr, 0, 0},
    {"Plate_N100V", "Plate", "±100V", E::Range, "Karvo V-Meter (Plate)", 101, 40},
    {"Plate_N400V", "Plate", "±400V", E::Range, "Karvo V-Meter (Plate)", 101, 41},
    {"Plate_N1000V", "Plate", "±1kV", E::Range, "Karvo V-Meter (Plate)", 101, 42},
    {"Plate_N4000V", "Plate", "±4kV", E::Range, "Karvo V-Meter (Plate)", 101, 43},
    {"Arvo", "Voltmeter", "Arvo", E::Submenu, nullptr, 0, 0},
    {"Arvo_N50V", "Arvo", "±50V", E::Range, "Karvo V-Meter (Arvo)", 102, 50},
    {"Arvo_N200V", "Arvo", "±200V", E::Range, "Karvo V-Meter (Arvo)", 102, 51},
    {"Arvo_N500V", "Arvo", "±500V", E::Range, "Karvo V-Meter (Arvo)", 102, 52},
    {"Arvo_N2000V", "Arvo", "±2kV", E::Range, "Karvo V-Meter (Arvo)", 102, 53},
    {"EFeldmeter", "Karvo1", "E-Field", E::Submenu, nullptr, 0, 0},
    {"E_Feld_N5kVm", "EFeldmeter", "±5kV/m", E::Range, "Karvo E-Field", 103, 60},
    {"E_Feld_N20kVm", "EFeldmeter", "±20kV/m", E::Range, "Karvo E-Field", 103, 61},
    {"E_Feld_N50kVm", "EFeldmeter", "±50kV/m", E::Range, "Karvo E-Field", 103, 62},
    {"E_Feld_N200kVm", "EFeldmeter", "±200kV/m", E::Range, "Karvo E-Field", 103, 63},

    {"Ohmra1", "", "Ohmra", E::Submenu, nullptr, 0, 0},
    {"Ohmra_Start", "Ohmra1", "Start", E::SerialStart, nullptr, 100, 0},
    {"Ohmra_CalMenu", "Ohmra1", "Calibration", E::SerialStart, nullptr, 100, 0},

    {"Gripo1", "", "Gripo", E::Submenu, nullptr, 0, 0},
    {"Start_Gripo", "Gripo1", "Start", E::SerialStart, nullptr, 100, 0},

    {"Opt11", "", "Opt1", E::Submenu, nullptr, 0, 0},
    {"Opt111", "Opt11", "", E::Submenu, nullptr, 0, 0},
    {"Opt121", "Opt111", "", E::Range, nullptr, 1, 70},
    {"Opt122", "Opt111", "", E::Range, nullptr, 1, 72},
    {"Opt21", "", "Opt2", E::Submenu, nullptr, 0, 0},
    {"Opt211", "Opt21", "", E::Submenu, nullptr, 0, 0},
    {"Opt221", "Opt211", "", E::Range, nullptr, 1, 71},
    {"Opt222", "Opt211", "", E::Range, nullptr, 1, 73},
};

} // namespace

std::optional<TRangeData> LookupRange(int rangeCode, const TMainState& st)
{
    for (const FixedRow& r : kRows)
        if (r.code == rangeCode)
            return TRangeData{QString::fromUtf8(r.unit), r.min, r.max, r.factor};
    switch (rangeCode) {
    case 70:
        return TRangeData{st.Text_Opt1_Unit, st.Value_Opt1_LeftAxisMin, st.Value_Opt1_LeftAxisMax, st.Value_Opt1_Calc_Factor};
    case 71:
        return TRangeData{st.Text_Opt2_Unit, st.Value_Opt2_LeftAxisMin, st.Value_Opt2_LeftAxisMax, st.Value_Opt2_Calc_Factor};
    case 72:
        return TRangeData{st.Text_Opt1_2_Unit, st.Value_Opt1_2_LeftAxisMin, st.Value_Opt1_2_LeftAxisMax,
                          st.Value_Opt1_2_Calc_Factor};
    case 73:
        return TRangeData{st.Text_Opt2_2_Unit, st.Value_Opt2_2_LeftAxisMin, st.Value_Opt2_2_LeftAxisMax,
                          st.Value_Opt2_2_Calc_Factor};
    default:
        return std::nullopt;
    }
}

std::optional<TRangeData> GetRangeData(int rangeCode, TMainState& st)
{
    auto r = LookupRange(rangeCode, st);
    if (r) {
        st.UnitText = r->Unit;
        st.CalcFactor = r->Factor;
    }
    return r;
}

std::vector<int> AllRangeCodes()
{
    std::vector<int> codes;
    for (const FixedRow& r : kRows)
        codes.push_back(r.code);
    for (int c : {70, 71, 72, 73})
        codes.push_back(c);
    return codes;
}

QString ShowSelectionCaption(TMainState& st)
{
    st.RangeSelected = true;
    const auto r = GetRangeData(st.RangeCode, st);
    QString caption = st.AppTitle + QStringLiteral("    Selected type =  ") + st.DeviceTitle;
    if (r && !st.UnitText.isEmpty())
        caption += QStringLiteral("  Range : ±") + FormatGeneral(r->AxisMax, 4) + st.UnitText;
    return caption;
}

const std::vector<TMenuEntry>& DeviceMenuTable() { return kMenu; }
