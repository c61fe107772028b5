#include "acquisition/AcquisitionStart.h"

#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "core/MainState.h"
#include "platform/Prompt.h"

namespace {

// Cleans the source up when the loop or the preparation leaves by an error.
class TFinishGuard {
public:
    explicit TFinishGuard(ISampleSource& s) : s_(s) {}
    ~TFinishGuard() { s_.Finish(); }
    TFinishGuard(const TFinishGuard&) = delete;
    TFinishGuard& operator=(const TFinishGuard&) = delete;

private:
    ISampleSource& s_;
};

} // namespace

TStartOutcome RunAcquisition(TMainState& st, TDeviceSampleSource& source, const TAcquisitionWindow& w)
{
    const int code = st.DeviceCode;
    // Code 100 is a serial instrument window's own mode: nothing here reads it.
    if (code == 100 || (code > 100 && !source.HasCpmSource())) {
        Prompt().Message(QString::fromUtf8(NoCpmSourceMessage), QStringLiteral("Info"),
                         TPromptIcon::Information);
        return TStartOutcome::Refused;
    }

    if (w.BeforePrepare)
        w.BeforePrepare(code);
    TFinishGuard finish(source);
    QString unit = st.UnitText;
    if (!source.Prepare(code, st.RangeCode, unit)) {
        AbortForMissingConverter(w.ShowConverterError);
        return TStartOutcome::Aborted;
    }
    if (code >= 100)
        st.UnitText = unit;
    st.StopFlag = false;
    if (w.BeforeLoop)
        w.BeforeLoop(code);
    // The loop keeps the unit it started with, whatever happens to UnitText.
    const QString loopUnit = st.UnitText;
    if (w.RunLoop)
        w.RunLoop(loopUnit);
    return TStartOutcome::Ran;
}

void ReleaseSerialSource(ISampleSource* monitor)
{
    if (monitor)
        monitor->Release();
}
