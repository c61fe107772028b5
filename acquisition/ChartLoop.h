#pragma once
#include <QDateTime>
#include <QString>

#include <cstdint>

struct TMainState;
class ISampleSource;

// What the chart loop puts on the screen; the main window implements it with
// its value boxes, label and chart.
class IChartView {
public:
    virtual ~IChartView() = default;
    virtual void SetMaxText(const QString& text) = 0;    // Maxwert
    virtual void SetValueText(const QString& text) = 0;  // Messwert
    virtual void SetMinText(const QString& text) = 0;    // Minwert
    virtual void SetSampleTimeText(const QString& text) = 0; // laSampleTime
    virtual void SetChartTitle(const QString& text) = 0;
    virtual void AppendPoint(double x, double y) = 0;    // black, empty label
    virtual void SetTimeAxis(double max, int startOffsetPixels) = 0;
    virtual void RepaintWindow() = 0;
};

// Overflow thresholds of the raw reading: converter volts below device code
// 100 (2 % past full scale), the charge plate monitor's display value from 100.
double OverflowThreshold(int deviceCode);

// The reading of one sample: a first read, and when its magnitude truncated
// to a whole number lies above the threshold, a second read 10 ms later that
// is taken whatever it says.
double ReadWithRetry(ISampleSource& source, int deviceCode);

// "dd/mm/yy hh:mm:ss" in the short date and long time format of the locale
// in force (without a time-zone name).
QString StartDateTimeText(const QDateTime& when);

// The chart view's acquisition loop: sampling on the tick count, scaling with
// the range factor, overflow marks, the extremes and the moving time axis.
// Reads and writes the main state (StopFlag, TimeX, PosMax, NegMax, ...) and
// pauses through Host(), so it runs the same in the window and in tests.
class TChartLoop {
public:
    TChartLoop(TMainState& state, IChartView& view, ISampleSource& source);

    // Runs until StopFlag is set (checked before each sample); the flag is
    // set by handlers that run inside the wait between samples.
    void Run(const QString& deviceTitle, int deviceCode, int rangeCode, const QString& unit);

    // One sample without the wait: read, scale, plot, move the axis, extremes
    // and texts. `unit` is the text the loop started with.
    void Sample(const QString& unit);

    static QString SampleTimeText(int samplingMs);
    static QString StartTitle(const QString& deviceTitle, const QDateTime& when);

private:
    TMainState& st_;
    IChartView& view_;
    ISampleSource& source_;
};

// Milliseconds between samples as the loops wait them: a negative setting
// counts as 0, so a bad ini value cannot stall a loop for weeks.
uint32_t SamplePeriodMs(int32_t setting);
