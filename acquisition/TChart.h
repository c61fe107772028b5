#pragma once
#include <QColor>
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QToolBar>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <memory>

class QCustomPlot;
class QAction;
class QFileDialog;
class QPrintDialog;
class QPrinter;
class QLabel;
class TTraceStore;
class TChartRecorder;
struct TChartFileInfo;

// `Chart1`: the main window's line chart. One series (`Series1`) whose points
// carry their own colour, a bottom time axis and a left value axis, both
// scaled by the program. The trace may grow to many millions of points, so
// the chart keeps it in its own store and hands the plot only what the
// visible range needs; repaints are coalesced to the screen's rate.
class TChart : public QWidget {
    Q_OBJECT
public:
    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    // Series1. A point is stamped with the wall-clock time it is added at,
    // unless a stamp (milliseconds since the epoch) comes with it.
    void ClearSeries();
    void AddPoint(double x, double y, const QColor& colour = Qt::black);
    void AddPoint(double x, double y, const QColor& colour, qint64 stampMs);
    size_t PointCount() const;
    double PointX(size_t i) const;
    double PointY(size_t i) const;
    qint64 PointStamp(size_t i) const;  // TTraceStore::NoStamp when it has none

    // Time axis (bottom): minimum 0, maximum as set; the start offset in
    // pixels (zero or negative) shifts the axis start left out of the plot.
    void SetTimeAxisMax(double max);
    double TimeAxisMax() const;
    void SetTimeAxisStartOffset(int pixels);
    int TimeAxisStartOffset() const;
    void SetTimeAxisTitle(const QString& title);
    QString TimeAxisTitle() const;
    // Seconds per unit of the time axis (1 unless set). The cursor and the
    // CSV export give times in seconds; a chart whose x values count tenths
    // of a second sets 0.1.
    void SetTimeAxisSeconds(double secondsPerUnit);
    double TimeAxisSeconds() const;

    // Value axis (left).
    void SetValueAxisRange(double min, double max);
    double ValueAxisMin() const;
    double ValueAxisMax() const;
    void SetValueAxisTitle(const QString& title);
    QString ValueAxisTitle() const;

    // Chart title (may hold several lines).
    void SetTitle(const QString& title);
    QString Title() const;

    // Asks for a repaint; several requests within one screen frame become one.
    void Repaint();
    // Repaints at once (benchmarks, exports).
    void RepaintNow();

    QCustomPlot* Plot() const;

    // --- Beyond the loop's needs: viewing, export, the toolbar's commands. ---

    QColor PointColor(size_t i) const;
    const TTraceStore& Store() const;
    // Replots done so far (for checking that repaint requests coalesce).
    int ReplotCount() const;
    // Frames whose decimated columns were written straight into the pixels
    // of an image (the window's, the plot's buffers) rather than filled by
    // the painter.
    int DirectColumnFrames() const;

    // What a mouse drag and the wheel do on the plot.
    enum TMouseMode { mmNone, mmZoom, mmPan };
    void SetMouseMode(TMouseMode mode);
    TMouseMode MouseMode() const;
    // The axes the program sets are followed until the user zooms or pans;
    // from then on they are only remembered, until ResetView or ClearSeries.
    bool UserView() const;
    void FitAll();     // the whole trace in view (counts as a user view)
    void ResetView();  // back to the program's axes, following again

    // Two cursors on the trace. While on, the free cursor follows the mouse
    // and marks the nearest point; a click pins it there and frees the
    // other one, so the next click measures the stretch between them. The
    // read-out gives both points, the differences of time and value, and
    // the mean, minimum, maximum and standard deviation of the samples
    // between them (both ends included).
    void SetCursorEnabled(bool on);
    bool CursorEnabled() const;
    void MoveCursorTo(const QPointF& pixel);
    void ClickCursorAt(const QPointF& pixel);
    QString CursorText() const;
    // Trace indices under the two cursors (-1 when a cursor is not placed).
    long long CursorIndex(int cursor) const;
    // The read-out for points a and b as the chart shows it.
    QString MeasureText(size_t a, size_t b) const;

    // The recording of the running chart. The chart writes what is due
    // while the loop waits, and shows the recording's path under the plot.
    TChartRecorder& Recorder();
    void SetStatusText(const QString& text);
    QString StatusText() const;

    // Replaces the trace by a recording or an export (x in seconds). Nothing
    // changes when the file is not one; `error` says why. `progress` as for
    // ReadChartFile.
    bool OpenFile(const QString& path, TChartFileInfo& info, QString& error,
                  const std::function<bool(qint64, qint64)>& progress = {});

    // The whole trace at full resolution: a header naming the unit ("Time
    // (s);Value (kV/m);Time stamp") and one line per point: time on the axis,
    // value, and the wall-clock time the point was taken (ISO 8601 with
    // milliseconds and the UTC offset; empty when unknown). The time axis
    // counts samples x period, the stamp tells when a sample really was.
    // Semicolon-separated, the locale's decimal separator, CR LF line ends;
    // the file is Windows-1252.
    QString CsvText() const;
    bool ExportCsv(const QString& path) const;
    bool SavePng(const QString& path);
    bool SavePdf(const QString& path);

    // One page for reading on paper: the heading on top (several lines
    // allowed), the plot filling the rest of the printable area, tick labels
    // of PrintTickPoints, axis titles of PrintTitlePoints, lines one point
    // wide. The screen's chart is left as it was. False when the printer
    // could not be started.
    static constexpr int PrintTickPoints = 10;
    static constexpr int PrintTitlePoints = 12;
    static constexpr int PrintHeadingPoints = 14;
    bool PrintPage(QPrinter* printer, const QString& heading);
    // The page with the chart's print heading.
    bool PrintTo(QPrinter* printer);
    // The heading of a print (the chart's title unless set).
    void SetPrintHeading(const QString& heading);
    QString PrintHeading() const;

private:
    struct Impl;
    Impl* d;
};

// `TeeCommander1`: the chart's toolbar (zoom and pan, fit all, save as PNG
// and PDF, export the plotted points as CSV, print). Its file and print
// dialogs never block: they are opened, the button handler returns, and the
// file is written when the dialog is accepted, so an acquisition loop that
// runs around the toolbar goes on sampling while a dialog is open.
class TTeeCommander : public QToolBar {
    Q_OBJECT
public:
    explicit TTeeCommander(TChart* chart, QWidget* parent = nullptr);
    ~TTeeCommander() override;

    QAction* ZoomButton;
    QAction* PanButton;
    QAction* FitAllButton;
    QAction* ResetViewButton;
    QAction* CursorButton;
    QAction* SavePngButton;
    QAction* SavePdfButton;
    QAction* ExportCsvButton;
    QAction* PrintButton;
    // Shown only where the chart records and reads its files (the main window).
    QAction* OpenButton;
    QAction* RecordButton;

    void ZoomButtonClick(bool checked);
    void PanButtonClick(bool checked);
    void FitAllButtonClick();
    void ResetViewButtonClick();
    void CursorButtonClick(bool checked);
    void SavePngButtonClick();
    void SavePdfButtonClick();
    void ExportCsvButtonClick();
    void PrintButtonClick();
    void OpenButtonClick();
    void RecordButtonClick(bool checked);

    // Shows Open and Record (hidden unless asked for).
    void ShowFileCommands(bool on);
    // Asked before a file is opened: false refuses (the chart is running).
    std::function<bool()> CanOpen;
    // After a file has replaced the trace.
    std::function<void(const QString& path, const TChartFileInfo& info)> FileOpened;
    // Opens a file at once (the Open dialog's accepted path); true when read.
    bool OpenChartFile(const QString& path);

    // Sets a print up as every chart prints: landscape on the printer's own
    // paper, the document named like the exports so that "Print to PDF"
    // offers "Talvis_2026-12-09_22-36-16.pdf".
    void PreparePrinter(QPrinter& printer, const QDateTime& when = QDateTime::currentDateTime()) const;

    // "Record" as remembered in SETUP.INI (on unless switched off).
    static bool RecordSetting();
    // The folder recordings go to: "Recordings" in the data folder.
    static QString RecordingsFolder();

    // The dialog open at the moment (null when none).
    QPointer<QFileDialog> SaveDialog1;
    QPointer<QFileDialog> OpenDialog1;
    QPointer<QPrintDialog> PrintDialog1;

    // A file name to offer: the device title and the date and time, with
    // nothing that file systems or shells dislike ("Talvis_2026-12-09_14-05-09.csv").
    QString DefaultFileName(const QString& suffix, const QDateTime& when = QDateTime::currentDateTime()) const;
    static QString FileNameFor(const QString& device, const QString& suffix, const QDateTime& when);
    // The folder the dialogs open in: the last one a file was saved to or
    // opened from (kept in SETUP.INI), else the user's documents folder.
    static QString DefaultFolder();

private:
    using TWriter = std::function<bool(const QString&)>;
    void OpenSaveDialog(const QString& caption, const QString& filter, const QString& suffix, TWriter write);
    void PrintDialogAccepted();
    bool RaiseOpenDialog();

    TChart* chart_;
    std::unique_ptr<QPrinter> printer_;
};
