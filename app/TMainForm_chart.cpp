// The chart view of the main window and the View menu's entries.
#include "app/TMainForm.h"

#include "acquisition/AcquisitionStart.h"
#include "acquisition/CAD_wandler.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/ChartLoop.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/RangeTable.h"
#include "app/TFormHelp.h"
#include "serial/TFoCom.h"

#include <QMessageBox>

namespace {

// The main window's converter record, for the whole run.
USB g_mainUsb;

// The three value boxes, the sample-time label and the chart of the main
// window as the chart loop sees them.
class TMainChartView : public IChartView {
public:
    explicit TMainChartView(TMainForm& f) : f_(f) {}
    void SetMaxText(const QString& t) override { TMainForm::SetBoxText(f_.Maxwert, t); }
    void SetValueText(const QString& t) override { TMainForm::SetBoxText(f_.Messwert, t); }
    void SetMinText(const QString& t) override { TMainForm::SetBoxText(f_.Minwert, t); }
    void SetSampleTimeText(const QString& t) override
    {
        f_.laSampleTime->setText(t);
        f_.laSampleTime->adjustSize();
    }
    void SetChartTitle(const QString& t) override { f_.Chart1->SetTitle(t); }
    void AppendPoint(double x, double y) override { f_.Chart1->AddPoint(x, y, Qt::black); }
    void SetTimeAxis(double max, int offset) override
    {
        f_.Chart1->SetTimeAxisMax(max);
        f_.Chart1->SetTimeAxisStartOffset(offset);
    }
    void RepaintWindow() override
    {
        f_.Chart1->Repaint();
        f_.update();
    }

private:
    TMainForm& f_;
};

void ResetTimeAxis(TMainForm& f)
{
    f.Chart1->ClearSeries();
    f.Chart1->SetTimeAxisMax(f.TimeSpan);
    f.Chart1->SetTimeAxisStartOffset(0);
    f.Chart1->Repaint();
}

} // namespace

void TMainForm::Grafik1Click()
{
    ImageWallpaper->setVisible(false);
    ResetTimeAxis(*this);
    TimeX = 0;
    StoppedFlag = false;
    TeeCommander1->setVisible(true);
    image_Manufac_Logo->setVisible(true);
    GroupBox1->setVisible(true);
    Chart1->setVisible(true);
    PrepareChart();
}

void TMainForm::PrepareChart()
{
    View->menuAction()->setEnabled(false);
    Device->menuAction()->setEnabled(false);
    if (DeviceCode != 100) {
        if (const auto r = GetRangeData(RangeCode, *this))
            Chart1->SetValueAxisRange(r->AxisMin * 1.001, r->AxisMax * 1.001);
    }
    Chart1->SetValueAxisTitle(UnitText);
    Chart1->SetTimeAxisTitle(QStringLiteral("Time sek."));
    Chart1->SetTitle(QStringLiteral("--") + DeviceTitle + QStringLiteral("--"));
    SetBoxText(Minwert, FormatChartValue(0) + UnitText);
    SetBoxText(Maxwert, FormatChartValue(0) + UnitText);
    Chart1->Repaint();
}

void TMainForm::b_StartClick()
{
    if (!Usb)
        Usb = &g_mainUsb;
    b_Start->setEnabled(false);

    TUsbSampleSource usb(*Usb);
    TDeviceSampleSource source(usb, SerialSources().Chart);
    TMainChartView view(*this);
    TChartLoop loop(*this, view, source);
    TAcquisitionWindow w;
    w.ShowConverterError = [this] {
        Error_1->setVisible(true);
        Error_1->raise();
        Chart1->RepaintNow();
        repaint();
    };
    w.BeforePrepare = [this](int deviceCode) {
        // The monitor's range sets the axes and titles before the instrument
        // reports its unit.
        if (deviceCode >= 100)
            PrepareChart();
    };
    w.BeforeLoop = [this](int) {
        // Running is not the stopped state: a Reset while this run goes on
        // must restart only the extremes, not wipe the trace continued from
        // the last Stop. The next Stop marks the view stopped again.
        StoppedFlag = false;
    };
    w.RunLoop = [&](const QString& unit) { loop.Run(DeviceTitle, DeviceCode, RangeCode, unit); };
    try {
        RunAcquisition(*this, source, w);
    } catch (...) {
        // The monitor's error (a time-out, a lost line) has ended the loop:
        // nothing runs, so Start must be usable without a Stop first.
        b_Start->setEnabled(true);
        throw;
    }
    // However the loop ended, nothing runs now.
    b_Start->setEnabled(true);
}

void TMainForm::b_Stop_Click()
{
    StopFlag = true;
    StoppedFlag = true;
    b_Start->setEnabled(true);
    // The serial port closes whatever the device code.
    ReleaseSerialSource(SerialSources().Chart);
}

void TMainForm::b_ResetClick()
{
    ResetExtremes();
    if (StoppedFlag) {
        ResetTimeAxis(*this);
        TimeX = 0;
        StoppedFlag = false;
    }
    const QString zero = FormatChartValue(0) + UnitText; // the locale's separator, like every value shown
    SetBoxText(Minwert, zero);
    SetBoxText(Messwert, zero);
    SetBoxText(Maxwert, zero);
}

void TMainForm::b_CancelClick()
{
    // While the help window is open the selection menus wait for its OK.
    const bool helpOpen = FormHelp && FormHelp->isVisible();
    View->menuAction()->setEnabled(!helpOpen);
    b_Start->setEnabled(true);
    Device->menuAction()->setEnabled(!helpOpen);
    StopFlag = true;
    ImageWallpaper->setVisible(true);
    image_Manufac_Logo->setVisible(false);
    Chart1->setVisible(false);
    GroupBox1->setVisible(false);
    TeeCommander1->setVisible(false);
    ResetExtremes();
    ResetTimeAxis(*this);
    SetBoxText(Minwert, {});
    SetBoxText(Messwert, {});
    SetBoxText(Maxwert, {});
}

void TMainForm::DisplayClick()
{
    TeeCommander1->setVisible(false);
    GroupBox1->setVisible(false);
    Chart1->setVisible(false);
    const auto r = GetRangeData(RangeCode, *this);
    TFormDisplay& d = *FormDisplay;
    QString caption = AppTitle + QStringLiteral("    Selected type =  ") + DeviceTitle;
    if (r)
        caption += QStringLiteral("  Range :  ±") + FormatGeneral(r->AxisMax, 4) + UnitText;
    d.setWindowTitle(caption);
    d.GroupBoxSpannung->setTitle(QStringLiteral("measurement reading"));
    d.GroupBoxNegMaximum->setTitle(QStringLiteral("neg. maximum"));
    d.GroupBoxPosMaximum->setTitle(QStringLiteral("pos. maximum"));
    const QString zero = QStringLiteral("0") + UnitText;
    d.LabelNegMaximum_Value->setText(zero);
    d.LabelPosMaximum_Value->setText(zero);
    d.LabelMesswert->setText(zero);
    ResetExtremes();
    d.exec();
}
