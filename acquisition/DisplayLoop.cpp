#include "acquisition/DisplayLoop.h"

#include "acquisition/ChartLoop.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/SampleSource.h"
#include "core/MainState.h"
#include "platform/Host.h"

#include <cmath>

namespace {
constexpr unsigned RereadWaitMs = 10;
const QString OverflowText = QStringLiteral("OVERFLOW !");
} // namespace

TDisplayLoop::TDisplayLoop(TMainState& state, IDisplayView& view, ISampleSource& source)
    : st_(state), view_(view), source_(source)
{
}

QString TDisplayLoop::RunText(int samplingMs)
{
    return QStringLiteral("RUN sampling time = ") + QString::number(samplingMs) + QStringLiteral(" mSec.");
}

void TDisplayLoop::Sample(const QString& unit, int d)
{
    const int deviceCode = st_.DeviceCode;
    const bool usb = deviceCode < 100;
    const double threshold = OverflowThreshold(deviceCode);

    // For the charge plate monitor the raw value is already scaled, and the
    // re-read test looks at the scaled value.
    double raw;
    if (usb) {
        raw = ReadWithRetry(source_, deviceCode);
    } else {
        raw = source_.ReadSample(deviceCode) * st_.CalcFactor;
        if (std::fabs(std::trunc(raw)) > threshold) {
            Host().PauseAnswering(RereadWaitMs);
            raw = source_.ReadSample(deviceCode) * st_.CalcFactor;
        }
    }

    double value;
    if (usb) {
        value = raw * st_.CalcFactor;
        if (raw < -1.02 || raw > 1.02)
            view_.SetValue(QStringLiteral("OVERFLOW ! "), DisplayFonts::ValueOverflow);
        else
            view_.SetValue(FormatValue(value, d) + unit, DisplayFonts::Value);
    } else {
        value = raw;
        if (raw == 9999)
            view_.SetValue(OverflowText, 0);
        else
            view_.SetValue(FormatValue(value, d) + unit, 0);
    }

    if (value > st_.PosMax && value > 0) {
        st_.PosMax = value;
        if (raw > threshold)
            view_.SetPosMax(OverflowText, DisplayFonts::MaximumOverflow);
        else
            view_.SetPosMax(FormatValue(st_.PosMax, d) + unit, DisplayFonts::Maximum);
    }
    if (value < st_.NegMax && value < 0) {
        st_.NegMax = value;
        if (raw < -threshold)
            view_.SetNegMax(OverflowText, DisplayFonts::MaximumOverflow);
        else
            view_.SetNegMax(FormatValue(st_.NegMax, d) + unit, DisplayFonts::Maximum);
    }
}

void TDisplayLoop::Run(const QString&, int, int rangeCode, const QString& unit)
{
    const int d = DisplayDecimals(rangeCode);
    view_.SetStatus(RunText(st_.Sampling_time_Display));

    while (!st_.StopFlag) {
        const uint32_t t0 = Host().TickCount();
        Sample(unit, d);
        Host().ProcessMessages();
        // A busy wait: Break, Reset and Exit wait for the processing after
        // it, but repaints and screen readers are served meanwhile.
        while (static_cast<uint32_t>(Host().TickCount() - t0) <= SamplePeriodMs(st_.Sampling_time_Display))
            Host().KeepAnswering();
        Host().ProcessMessages();
        view_.RepaintMainWindow();
        Host().ProcessMessages();
    }
}
