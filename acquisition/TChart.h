#pragma once
#include <QColor>
#include <QString>
#include <QToolBar>
#include <QWidget>
#include <cstddef>

class QCustomPlot;

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

    // Series1
    void ClearSeries();
    void AddPoint(double x, double y, const QColor& colour = Qt::black);
    size_t PointCount() const;
    double PointX(size_t i) const;
    double PointY(size_t i) const;

    // Time axis (bottom): minimum 0, maximum as set; the start offset in
    // pixels (zero or negative) shifts the axis start left out of the plot.
    void SetTimeAxisMax(double max);
    double TimeAxisMax() const;
    void SetTimeAxisStartOffset(int pixels);
    int TimeAxisStartOffset() const;
    void SetTimeAxisTitle(const QString& title);
    QString TimeAxisTitle() const;

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

private:
    struct Impl;
    Impl* d;
};

// `TeeCommander1`: the chart's toolbar (zoom and pan, fit all, save as PNG
// and PDF, export the plotted points as CSV, print).
class TTeeCommander : public QToolBar {
    Q_OBJECT
public:
    explicit TTeeCommander(TChart* chart, QWidget* parent = nullptr);
};
