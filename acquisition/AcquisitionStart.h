#pragma once
#include <QString>

#include <functional>

struct TMainState;
class TDeviceSampleSource;
class ISampleSource;

// What a window does around the shared Start of the chart and the display.
struct TAcquisitionWindow {
    // Puts the red "USB ADC device not found" box on the screen.
    std::function<void()> ShowConverterError;
    // Once the Start is not refused, before the source is prepared (the chart
    // readies its axes and titles for the monitor here).
    std::function<void(int deviceCode)> BeforePrepare;
    // Right before the loop, once the source is ready (the display's status memo).
    std::function<void(int deviceCode)> BeforeLoop;
    // The window's loop, run with the unit text the source reported.
    std::function<void(const QString& unit)> RunLoop;
};

enum class TStartOutcome {
    Ran,      // the loop ran and has ended
    Refused,  // no source for this device code; the user was told
    Aborted,  // the converter is missing: the program is ending
};

// The Start of the chart and of the display window: refuses a device code
// that has no source here (100, or a monitor range without the monitor's
// source) with an Info box; prepares the source, and when the converter is
// missing shows the window's error box and ends the program; for the charge
// plate monitor the unit the instrument reports becomes the state's
// UnitText; clears StopFlag and runs the loop; cleans the source up after
// the loop however it ended. An instrument's error (a time-out, say) is
// thrown on to the caller after the clean-up.
TStartOutcome RunAcquisition(TMainState& state, TDeviceSampleSource& source, const TAcquisitionWindow& window);

// Stop and Exit of the chart and the display: the monitor's source lets go
// of the serial port (nothing when there is none).
void ReleaseSerialSource(ISampleSource* monitor);
