#pragma once
#include <QString>
#include <optional>
#include <vector>

struct TMainState;

// One row of the range table.
struct TRangeData {
    QString Unit;
    double AxisMin = 0;
    double AxisMax = 0;
    double Factor = 0;
};

// Looks a range code up; codes 70 to 73 take their values from the optional
// device settings in `st` at the time of the call. No entry: nullopt.
std::optional<TRangeData> LookupRange(int rangeCode, const TMainState& st);

// The main window's form of the look-up: a code with an entry overwrites
// `UnitText` and `CalcFactor` and returns the row; a code without one changes
// nothing.
std::optional<TRangeData> GetRangeData(int rangeCode, TMainState& st);

// Every range code the table knows (for tests and menus).
std::vector<int> AllRangeCodes();

// Sets RangeSelected, looks the range up and returns the main window's
// caption for the current selection.
QString ShowSelectionCaption(TMainState& st);

// One entry of the Device menu tree. Submenus have no selection (DeviceCode 0);
// range leaves set title, device code and range code; the serial instrument
// entries have their own handlers (Kind).
struct TMenuEntry {
    enum Kind { Submenu, Range, SerialStart };
    const char* Item;     // component name, e.g. "N20kVm2"
    const char* Parent;   // component name of the parent ("" = the Device menu)
    const char* Caption;
    Kind kind;
    const char* Title;    // device title; nullptr for optional devices (taken from settings)
    int DeviceCode;
    int RangeCode;
};

// The whole Device menu tree in menu order.
const std::vector<TMenuEntry>& DeviceMenuTable();
