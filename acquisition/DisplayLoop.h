#pragma once
#include <QString>

struct TMainState;
class ISampleSource;

// What the display window's loop puts on the screen. A font size of 0 leaves
// the label's font as it is.
class IDisplayView {
public:
    virtual ~IDisplayView() = default;
    virtual void SetValue(const QString& text, int fontPt) = 0;   // LabelMesswert
    virtual void SetPosMax(const QString& text, int fontPt) = 0;  // LabelPosMaximum_Value
    virtual void SetNegMax(const QString& text, int fontPt) = 0;  // LabelNegMaximum_Value
    virtual void SetStatus(const QString& text) = 0;              // Memo_Status
    virtual void RepaintMainWindow() = 0;
};

// Font sizes (points) by which the display marks overflow.
namespace DisplayFonts {
constexpr int Value = 130;
constexpr int ValueOverflow = 100;
constexpr int Maximum = 50;
constexpr int MaximumOverflow = 35;
constexpr int MaximumReset = 55;
} // namespace DisplayFonts

// The numeric display's loop: like the chart's, with the decimals of the
// range, overflow marked by font size, and for the charge plate monitor the
// overflow tests on the value already multiplied by the range factor.
class TDisplayLoop {
public:
    TDisplayLoop(TMainState& state, IDisplayView& view, ISampleSource& source);

    // Runs until StopFlag is set; messages are processed once before and
    // twice after the busy wait of each sample.
    void Run(const QString& deviceTitle, int deviceCode, int rangeCode, const QString& unit);

    // One sample without the wait, with `decimals` digits after the point.
    void Sample(const QString& unit, int decimals);

    static QString RunText(int samplingMs);

private:
    TMainState& st_;
    IDisplayView& view_;
    ISampleSource& source_;
};
