// The chart view of the main window and the View menu's entries.
#include "app/TMainForm.h"

#include "acquisition/AcquisitionStart.h"
#include "acquisition/CAD_wandler.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/ChartFile.h"
#include "acquisition/ChartLoop.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/RangeTable.h"
#include "app/TFormHelp.h"
#include "platform/Prompt.h"
#include "serial/TFoCom.h"

#include <QDir>
#include <QFileInfo>
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
        // Sized to the text, but never past the panel's edge: a long text
        // ("... (45 mSek reached)") is drawn smaller instead of cut off.
        f_.laSampleTime->setText(t);
        f_.laSampleTime->adjustSize();
        const int room = f_.GroupBox1->contentsRect().right() - f_.laSampleTime->x();
        if (f_.laSampleTime->width() > room)
            f_.laSampleTime->resize(room, f_.laSampleTime->height());
    }
    void SetChartTitle(const QString& t) override { f_.Chart1->SetTitle(t); }
    void AppendPoint(double x, double y, qint64 stamp) override
    {
        f_.Chart1->AddPoint(x, y, Qt::black, stamp);
        f_.Chart1->Recorder().Append(x, y, stamp);
    }
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

// The chart shows a file that was opened, not a run: the next Start begins
// afresh instead of continuing that trace.
bool g_showingFile = false;
// This run's recording failed: no new file until Reset or Exit.
bool g_recordingFailed = false;

// Mode and range as the Device menu names them ("E-Fieldmeter", "±20kV/m").
void MenuNames(const TMainForm& f, QString& mode, QString& range)
{
    const auto& table = DeviceMenuTable();
    for (const TMenuEntry& e : table) {
        if (e.kind != TMenuEntry::Range || e.DeviceCode != f.DeviceCode || e.RangeCode != f.RangeCode)
            continue;
        if (e.Title && f.DeviceTitle != QString::fromUtf8(e.Title))
            continue;
        range = QString::fromUtf8(e.Caption).remove(QLatin1Char('&'));
        for (const TMenuEntry& p : table)
            if (QLatin1String(p.Item) == QLatin1String(e.Parent))
                mode = QString::fromUtf8(p.Caption).remove(QLatin1Char('&'));
        return;
    }
    if (const auto r = LookupRange(f.RangeCode, f))
        range = QString::fromUtf8("±") + FormatGeneral(r->AxisMax, 4) + f.UnitText;
}

// The first line of a print: what was measured and when the run began.
QString PrintHeadingFor(const QString& device, const QString& mode, const QString& range, const QDateTime& start)
{
    QStringList parts{device};
    if (!mode.isEmpty())
        parts << mode;
    if (!range.isEmpty())
        parts << range;
    QString text = parts.join(QStringLiteral("   "));
    if (start.isValid())
        text += QStringLiteral("   Start : ") + start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return text;
}

// Begins the run's recording, or goes on with the one a Stop left open.
void BeginRecording(TMainForm& f)
{
    TChartRecorder& rec = f.Chart1->Recorder();
    const QDateTime start = QDateTime::currentDateTime();
    QString mode, range;
    MenuNames(f, mode, range);
    if (!rec.Active() && !g_recordingFailed && f.TeeCommander1->RecordButton->isChecked()) {
        TChartFileInfo info;
        info.Device = f.DeviceTitle;
        info.Mode = mode;
        info.Range = range;
        info.Unit = f.UnitText;
        info.PeriodMs = f.Sampling_time_Chart;
        info.Start = start;
        const QDir folder(TTeeCommander::RecordingsFolder());
        const QString name = TTeeCommander::FileNameFor(f.DeviceTitle, QString(), start);
        QString path = folder.filePath(name + QStringLiteral(".csv"));
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = folder.filePath(name + QStringLiteral("_%1.csv").arg(n));
        if (rec.Begin(path.toStdString(), info) == 0)
            f.Chart1->SetStatusText(QStringLiteral("Recording to ") + QDir::toNativeSeparators(path));
        else
            g_recordingFailed = true;
    }
    if (f.Chart1->PointCount() == 0)
        f.Chart1->SetPrintHeading(PrintHeadingFor(f.DeviceTitle, mode, range, start));
}

// Stop, Exit, an instrument's error: what was taken goes to disk now.
void FlushRecording(TMainForm& f) { f.Chart1->Recorder().Flush(); }

// Reset while stopped and Exit: the next run gets a file of its own.
void EndRecording(TMainForm& f)
{
    TChartRecorder& rec = f.Chart1->Recorder();
    if (rec.Active()) {
        // A file another program holds (a spreadsheet that has it open)
        // would lose what waits for it: the user may let it go first.
        const QString file = QDir::toNativeSeparators(QString::fromStdString(rec.Path()));
        while (rec.Flush() == 0 && rec.HasWaitingLines() &&
               Prompt().RetryCancel(QStringLiteral("The recording ") + file +
                                        QStringLiteral(" is open in another program; its latest samples are not "
                                                       "in it yet.\nClose it there and press Retry, or Cancel to "
                                                       "leave them out."),
                                    QStringLiteral("Error"), TPromptIcon::Warning)) {
        }
        rec.End();
        // A last write that failed has put its own words in the status line.
        if (rec.LastError() == 0)
            f.Chart1->SetStatusText(QStringLiteral("Recorded to ") + file);
    }
    g_recordingFailed = false;
}

void ResetTimeAxis(TMainForm& f)
{
    f.Chart1->ClearSeries();
    f.Chart1->SetTimeAxisMax(f.TimeSpan);
    f.Chart1->SetTimeAxisStartOffset(0);
    f.Chart1->Repaint();
}

} // namespace

void TMainForm::FinishRecording() { EndRecording(*this); }

void TMainForm::Grafik1Click()
{
    TeeCommander1->ShowFileCommands(true);
    if (!TeeCommander1->FileOpened) {
        TeeCommander1->CanOpen = [this] { return b_Start->isEnabled(); };
        TeeCommander1->FileOpened = [this](const QString& path, const TChartFileInfo& info) {
            EndRecording(*this);
            g_showingFile = true;
            StoppedFlag = true;
            ResetExtremes();
            const QString zero = QStringLiteral("0.00") + UnitText;
            SetBoxText(Minwert, zero);
            SetBoxText(Messwert, zero);
            SetBoxText(Maxwert, zero);
            const QString device = info.Device.isEmpty() ? QFileInfo(path).completeBaseName() : info.Device;
            Chart1->SetTitle(QStringLiteral("--") + device + QStringLiteral("--  File : ") + QFileInfo(path).fileName());
            Chart1->SetPrintHeading(PrintHeadingFor(device, info.Mode, info.Range, info.Start));
            Chart1->SetStatusText(QStringLiteral("Opened ") + QDir::toNativeSeparators(path));
        };
    }
    g_showingFile = false;
    EndRecording(*this);
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
        if (g_showingFile) {
            // A file was shown: this run is a new one, not its continuation.
            ResetTimeAxis(*this);
            TimeX = 0;
            g_showingFile = false;
            PrepareChart();
        }
        BeginRecording(*this);
    };
    w.RunLoop = [&](const QString& unit) { loop.Run(DeviceTitle, DeviceCode, RangeCode, unit); };
    try {
        RunAcquisition(*this, source, w);
    } catch (...) {
        // The monitor's error (a time-out, a lost line) has ended the loop:
        // nothing runs, so Start must be usable without a Stop first.
        b_Start->setEnabled(true);
        FlushRecording(*this);
        throw;
    }
    FlushRecording(*this);
    // However the loop ended, nothing runs now.
    b_Start->setEnabled(true);
}

void TMainForm::b_Stop_Click()
{
    StopFlag = true;
    StoppedFlag = true;
    b_Start->setEnabled(true);
    FlushRecording(*this);
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
        EndRecording(*this);
        g_showingFile = false;
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
    EndRecording(*this);
    g_showingFile = false;
    Chart1->SetStatusText(QString());
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
