#pragma once
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmWindowState.h"

#include <QColor>
#include <QPushButton>
#include <QWidget>
#include <qcustomplot.h>
#include <vector>

class TChart;
class TTeeCommander;
class QPrinter;

// A line series whose points carry their own colour: each segment is drawn
// in the colour of the point it runs to. Runs of segments of one colour are
// handed to QCPGraph's own line building one run at a time, so the series
// stays one plottable and keeps QCustomPlot's sampling of long data.
class TCpmGraph : public QCPGraph {
public:
    TCpmGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // Points are added in ascending x order (the chart's indices).
    void AddPoint(double x, double y, const QColor& colour);
    void ClearPoints();
    int PointCount() const { return int(colours_.size()); }
    double PointX(int i) const;
    double PointY(int i) const;
    QColor PointColour(int i) const { return QColor::fromRgb(colours_[size_t(i)]); }
    // The runs of one colour as drawn: [first, last] point indices and colour.
    struct TRun {
        int first, last;
        QRgb colour;
    };
    std::vector<TRun> Runs() const;

protected:
    void draw(QCPPainter* painter) override;

private:
    std::vector<QRgb> colours_;
};

// The plate voltage curve of the last decay run with the reference lines of
// start and stop voltage of both polarities and the zero line. Filled by the
// decay run, shown by the decay window's "View &Chart".
class TFormChartCPM : public QWidget {
    Q_OBJECT
public:
    explicit TFormChartCPM(QWidget* parent = nullptr);

    TTeeCommander* TeeCommander1 = nullptr;
    TChart* Chart1 = nullptr;
    QPushButton* BitBtn_Exit = nullptr;
    // Measured line, Vstart Pos, Vstop Pos, Vstart Neg, Vstop Neg, Zero line.
    TCpmGraph* Series1 = nullptr;
    TCpmGraph* Series2 = nullptr;
    TCpmGraph* Series3 = nullptr;
    TCpmGraph* Series4 = nullptr;
    TCpmGraph* Series5 = nullptr;
    TCpmGraph* Series6 = nullptr;

    TCpmGraph* Series(TCpmSeries s) const;
    void ClearSeries();
    void AddPoint(TCpmSeries series, double x, double y, TCpmColour colour);
    static QColor ColourOf(TCpmColour colour);

    // The bottom axis covers every point; then a replot.
    void FitTimeAxis();
    void SetTitle(const QString& title);
    QString Title() const;

    // Hidden, or shown with its chart; the only control, Exit, leads back.
    TCpmChartState State() const { return state_; }
    void SetState(TCpmChartState state);

    void BitBtn_ExitClick();
    // The toolbar's print: the chart stretched over the page inside margins
    // of 3 % left, 6 % top, 1 % right and 1 % bottom.
    void PrintButtonClick();
    void PrintTo(QPrinter* printer);
    static QRect PrintArea(const QRect& page);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    TCpmChartState state_ = TCpmChartState::Hidden;
};

extern TFormChartCPM* FormChartCPM;
