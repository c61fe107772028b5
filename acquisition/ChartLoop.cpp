#include "acquisition/ChartLoop.h"

#include "acquisition/NumberFormat.h"
#include "acquisition/SampleSource.h"
#include "core/MainState.h"
#include "core/TimeText.h"
#include "platform/Host.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {
constexpr unsigned RereadWaitMs = 10;
// The reached period is the mean over at least this long.
constexpr uint64_t MeasureStretchMs = 1000;
const QString OverflowText = QStringLiteral("OVERFLOW !");

} // namespace

double OverflowThreshold(int deviceCode) { return deviceCode < 100 ? 1.02 : 9998.0; }

double ReadWithRetry(ISampleSource& source, int deviceCode)
{
    double raw = source.ReadSample(deviceCode);
    if (std::fabs(std::trunc(raw)) > OverflowThreshold(deviceCode)) {
        Host().PauseAnswering(RereadWaitMs);
        raw = source.ReadSample(deviceCode);
    }
    return raw;
}

QString StartDateTimeText(const QDateTime& when)
{
    const QLocale loc;
    return loc.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           loc.toString(when.time(), LongTimeFormatWithoutZone());
}

uint32_t SamplePeriodMs(int32_t setting) { return setting < 0 ? 0u : static_cast<uint32_t>(setting); }

TChartLoop::TChartLoop(TMainState& state, IChartView& view, ISampleSource& source)
    : st_(state), view_(view), source_(source)
{
}

QString TChartLoop::SampleTimeText(int samplingMs, int reachedMs)
{
    QString text = QStringLiteral("Sample time = ") + QString::number(samplingMs) + QStringLiteral(" mSek");
    if (FallsBehind(samplingMs, reachedMs))
        text += QStringLiteral(" (") + QString::number(reachedMs) + QStringLiteral(" mSek reached)");
    return text;
}

bool TChartLoop::FallsBehind(int samplingMs, int reachedMs)
{
    // The wait's own 1 ms steps make a millisecond or two of difference on
    // their own; only a clear lag is worth telling.
    const int set = std::max(samplingMs, 0);
    return reachedMs > set + 2 && reachedMs * 4 > set * 5;
}

QString TChartLoop::StartTitle(const QString& deviceTitle, const QDateTime& when)
{
    return QStringLiteral("--") + deviceTitle + QStringLiteral("--  Start : ") + StartDateTimeText(when);
}

void TChartLoop::Sample(const QString& unit) { SampleAt(unit, Host().TickCount()); }

void TChartLoop::MeasurePeriod()
{
    ++stretchSamples_;
    const uint64_t stretch = elapsedMs_ - stretchStartMs_;
    if (stretch < MeasureStretchMs || stretchSamples_ < 2)
        return;
    reachedMs_ = int(std::llround(double(stretch) / double(stretchSamples_ - 1)));
    stretchStartMs_ = elapsedMs_;
    stretchSamples_ = 1;
    const QString text = SampleTimeText(st_.Sampling_time_Chart, reachedMs_);
    if (text != sampleTimeText_) {
        sampleTimeText_ = text;
        view_.SetSampleTimeText(text);
    }
}

void TChartLoop::SampleAt(const QString& unit, uint32_t tick)
{
    if (!started_) {
        started_ = true;
        base_ = st_.TimeX;
        elapsedMs_ = 0;
        stretchStartMs_ = 0;
        stretchSamples_ = 0;
    } else {
        elapsedMs_ += uint32_t(tick - lastTick_);
    }
    lastTick_ = tick;
    const double x = base_ + double(elapsedMs_) * 0.001;
    const qint64 stamp = QDateTime::currentMSecsSinceEpoch();

    // Device code and factor are read afresh: a range chosen while the loop
    // runs takes effect with this sample.
    const int deviceCode = st_.DeviceCode;
    const double threshold = OverflowThreshold(deviceCode);
    const double raw = ReadWithRetry(source_, deviceCode);
    const double value = raw * st_.CalcFactor;

    view_.AppendPoint(x, value, stamp);
    // Where a continued run begins: one set period after this point.
    st_.TimeX = x + SamplePeriodMs(st_.Sampling_time_Chart) * 0.001;

    const double span = std::trunc(st_.TimeSpan);
    if (st_.TimeX >= span) {
        const int offset = static_cast<int>(std::trunc(span - st_.TimeX)) * 10;
        view_.SetTimeAxis(st_.TimeX, offset);
    }

    if (value > st_.PosMax && value > 0) {
        st_.PosMax = value;
        view_.SetMaxText(raw > threshold ? OverflowText : FormatChartValue(st_.PosMax) + unit);
    }
    if (value < st_.NegMax && value < 0) {
        st_.NegMax = value;
        view_.SetMinText(raw < -threshold ? OverflowText : FormatChartValue(st_.NegMax) + unit);
    }
    view_.SetValueText(raw < -threshold || raw > threshold ? OverflowText
                                                           : FormatChartValue(value) + unit);
    MeasurePeriod();
}

void TChartLoop::Run(const QString& deviceTitle, int, int, const QString& unit)
{
    st_.StopFlag = false;
    started_ = false;
    reachedMs_ = 0;
    sampleTimeText_ = SampleTimeText(st_.Sampling_time_Chart);
    view_.SetSampleTimeText(sampleTimeText_);
    view_.SetChartTitle(StartTitle(deviceTitle, QDateTime::currentDateTime()));

    while (!st_.StopFlag) {
        const uint32_t t0 = Host().TickCount();
        SampleAt(unit, t0);
        view_.RepaintWindow();
        uint32_t now;
        do {
            now = Host().TickCount();
            Host().ProcessMessages();
            Host().Sleep(1);
        } while (static_cast<uint32_t>(now - t0) < SamplePeriodMs(st_.Sampling_time_Chart));
    }
}
