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
class TTraceStore;

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

    // What a mouse drag and the wheel do on the plot.
    enum TMouseMode { mmNone, mmZoom, mmPan };
    void SetMouseMode(TMouseMode mode);
    TMouseMode MouseMode() const;
    // The axes the program sets are followed until the user zooms or pans;
    // from then on they are only remembered, until ResetView or ClearSeries.
    bool UserView() const;
    void FitAll();     // the whole trace in view (counts as a user view)
    void ResetView();  // back to the program's axes, following again

    // A cursor that follows the mouse and shows the nearest point's time and value.
    void SetCursorEnabled(bool on);
    bool CursorEnabled() const;
    void MoveCursorTo(const QPointF& pixel);
    QString CursorText() const;

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
    void PrintTo(QPrinter* printer);

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

    void ZoomButtonClick(bool checked);
    void PanButtonClick(bool checked);
    void FitAllButtonClick();
    void ResetViewButtonClick();
    void CursorButtonClick(bool checked);
    void SavePngButtonClick();
    void SavePdfButtonClick();
    void ExportCsvButtonClick();
    void PrintButtonClick();

    // The dialog open at the moment (null when none).
    QPointer<QFileDialog> SaveDialog1;
    QPointer<QPrintDialog> PrintDialog1;

    // A file name to offer: the device title and the date and time, with
    // nothing that file systems or shells dislike ("Talvis_2026-12-09_14-05-09.csv").
    QString DefaultFileName(const QString& suffix, const QDateTime& when = QDateTime::currentDateTime()) const;
    // The folder the dialogs open in: the last one a file was saved to in
    // this run, else the user's documents folder.
    static QString DefaultFolder();

private:
    using TWriter = std::function<bool(const QString&)>;
    void OpenSaveDialog(const QString& caption, const QString& filter, const QString& suffix, TWriter write);
    void PrintDialogAccepted();
    bool RaiseOpenDialog();

    TChart* chart_;
    std::unique_ptr<QPrinter> printer_;
};
