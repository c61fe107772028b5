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
    // Black, empty label; `stampMs` is the wall-clock time the sample was
    // taken (milliseconds since the epoch), for the export and the recording.
    virtual void AppendPoint(double x, double y, qint64 stampMs) = 0;
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
//
// A point's time is the time since Start at which its sample was taken, on
// the tick count: a source slower than the set period stretches the axis as
// the clock does, not by the period per point. A run continued after Stop
// goes on from where the last one ended (TimeX), the stopped time left out.
class TChartLoop {
public:
    TChartLoop(TMainState& state, IChartView& view, ISampleSource& source);

    // Runs until StopFlag is set (checked before each sample); the flag is
    // set by handlers that run inside the wait between samples.
    void Run(const QString& deviceTitle, int deviceCode, int rangeCode, const QString& unit);

    // One sample without the wait: read, scale, plot, move the axis, extremes
    // and texts. `unit` is the text the loop started with. The first sample
    // after construction or Run begins the run's clock.
    void Sample(const QString& unit);

    // "Sample time = 10 mSek"; with a reached period above the set one
    // "Sample time = 10 mSek (45 mSek reached)".
    static QString SampleTimeText(int samplingMs, int reachedMs = 0);
    static QString StartTitle(const QString& deviceTitle, const QDateTime& when);

    // The mean period of the last measured stretch (0 before the first).
    int ReachedPeriodMs() const { return reachedMs_; }
    // Is the reached period so far above the set one that the label says so?
    static bool FallsBehind(int samplingMs, int reachedMs);

private:
    void SampleAt(const QString& unit, uint32_t tick);
    void MeasurePeriod();

    TMainState& st_;
    IChartView& view_;
    ISampleSource& source_;

    // The run's clock: milliseconds since its first sample (64 bits: the tick
    // count wraps after 49 days, a run may not), and where its axis began.
    bool started_ = false;
    uint32_t lastTick_ = 0;
    uint64_t elapsedMs_ = 0;
    double base_ = 0;
    // The period reached, measured over stretches of at least a second.
    uint64_t stretchStartMs_ = 0;
    uint64_t stretchSamples_ = 0;
    int reachedMs_ = 0;
    QString sampleTimeText_;
};

// Milliseconds between samples as the loops wait them: a negative setting
// counts as 0, so a bad ini value cannot stall a loop for weeks.
uint32_t SamplePeriodMs(int32_t setting);
