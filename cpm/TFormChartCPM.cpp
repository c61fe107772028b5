#include "cpm/TFormChartCPM.h"

#include "acquisition/TChart.h"
#include "cpm/TCPMSetup.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

TFormChartCPM* FormChartCPM = nullptr;

// --- TCpmGraph ----------------------------------------------------------------

TCpmGraph::TCpmGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis)
{
    setLineStyle(lsLine);
    setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    setSelectable(QCP::stNone);
    setAdaptiveSampling(true);
}

void TCpmGraph::AddPoint(double x, double y, const QColor& colour)
{
    addData(x, y);
    colours_.push_back(colour.rgb());
}

void TCpmGraph::ClearPoints()
{
    data()->clear();
    colours_.clear();
}

double TCpmGraph::PointX(int i) const { return (data()->constBegin() + i)->key; }
double TCpmGraph::PointY(int i) const { return (data()->constBegin() + i)->value; }

std::vector<TCpmGraph::TRun> TCpmGraph::Runs() const
{
    std::vector<TRun> runs;
    const int n = std::min(int(colours_.size()), data()->size());
    if (n < 2)
        return runs;
    // Segment k runs from point k-1 to point k and takes the colour of point k.
    int first = 0;
    for (int k = 2; k <= n; ++k) {
        if (k == n || colours_[size_t(k)] != colours_[size_t(first + 1)]) {
            runs.push_back({first, k - 1, colours_[size_t(first + 1)]});
            first = k - 1;
        }
    }
    return runs;
}

void TCpmGraph::draw(QCPPainter* painter)
{
    if (!mKeyAxis || !mValueAxis || mKeyAxis.data()->range().size() <= 0 || mDataContainer->isEmpty() ||
        mLineStyle == lsNone)
        return;
    QVector<QPointF> lines;
    QPen pen = mPen;
    for (const TRun& run : Runs()) {
        getLines(&lines, QCPDataRange(run.first, run.last + 1));
        if (lines.size() < 2)
            continue;
        pen.setColor(QColor::fromRgb(run.colour));
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        drawLinePlot(painter, lines);
    }
}

// --- the window ---------------------------------------------------------------

namespace {

const QColor Maroon(128, 0, 0);

// The time axis in tenths of a second: steps of 10 and more, a label every
// step as far as the turned labels leave room, one minor tick between.
class TDecayTicker : public QCPAxisTicker {
public:
    explicit TDecayTicker(QCPAxis* axis) : axis_(axis) { setTickCount(10); }

protected:
    double getTickStep(const QCPRange& range) override
    {
        const QFontMetrics fm(axis_->tickLabelFont());
        const int labelWidth = fm.height() + 2; // labels are turned upright
        const int pixels = axis_->axisRect() ? std::max(1, axis_->axisRect()->width()) : 600;
        const double wanted = range.size() * labelWidth / pixels;
        double step = 10;
        for (double decade = 10; step < wanted && decade < 1e15; decade *= 10)
            for (double m : {1.0, 2.0, 5.0}) {
                step = m * decade;
                if (step >= wanted)
                    break;
            }
        return step;
    }
    int getSubTickCount(double) override { return 1; }
    // "#,#": thousands grouped, no decimals, nothing at zero.
    QString getTickLabel(double tick, const QLocale&, QChar, int) override
    {
        const qint64 v = std::llround(tick);
        return v == 0 ? QString() : QLocale().toString(v);
    }

private:
    QCPAxis* axis_;
};

} // namespace

TFormChartCPM::TFormChartCPM(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Chart CHARGE-PLATE Monitor"));
    resize(1081, 735);

    Chart1 = new TChart(this);
    TeeCommander1 = new TTeeCommander(Chart1, this);
    BitBtn_Exit = new QPushButton(QStringLiteral("E&xit"), this);
    BitBtn_Exit->setFixedSize(100, 30);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(TeeCommander1);
    layout->addWidget(Chart1, 1);
    layout->addWidget(BitBtn_Exit, 0, Qt::AlignHCenter);

    QCustomPlot* plot = Chart1->Plot();
    // The chart's own trace keeps the measured line's points for the cursor
    // and the CSV export; the coloured series below draw it.
    if (plot->plottableCount() > 0)
        plot->plottable(0)->setVisible(false);

    Chart1->SetTitle(QStringLiteral("Test 1 / pos.Decay 2,3Sek / neg.Decay 12Sek / Offset -123V"));
    Chart1->SetValueAxisRange(-1201, 1200);
    Chart1->SetValueAxisTitle(QStringLiteral("Volt"));
    Chart1->SetTimeAxisTitle(QStringLiteral("Time Sek./10"));
    // The x values count tenths of a second: the cursor and the CSV export
    // speak seconds like the main chart's.
    Chart1->SetTimeAxisSeconds(0.1);
    plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TDecayTicker(plot->xAxis)));
    plot->xAxis->setTickLabelRotation(90);
    plot->xAxis2->setVisible(false);
    plot->yAxis2->setVisible(false);

    struct Design {
        TCpmGraph** member;
        const char* title;
        QColor colour;
        int width;
    };
    const Design designs[] = {
        // The legend shows the colour each line is drawn in (its points').
        {&Series1, "Measured  line", ColourOf(TCpmColour::Red), 1},
        {&Series2, "Vstart Pos", ColourOf(TCpmColour::Black), 1},
        {&Series3, "Vstop Pos", ColourOf(TCpmColour::Black), 1},
        {&Series4, "Vstart Neg", ColourOf(TCpmColour::Yellow), 1},
        {&Series5, "Vstop Neg", ColourOf(TCpmColour::Yellow), 1},
        {&Series6, "Zero line", ColourOf(TCpmColour::Green), 3},
    };
    for (const Design& d : designs) {
        auto* g = new TCpmGraph(plot->xAxis, plot->yAxis);
        g->setName(QString::fromLatin1(d.title));
        QPen pen(d.colour, d.width);
        pen.setCapStyle(Qt::FlatCap);
        g->setPen(pen);
        *d.member = g;
    }

    // A legend names the coloured lines; the chart's own hidden trace has no place in it.
    if (plot->plottableCount() > 0)
        plot->plottable(0)->removeFromLegend();
    plot->legend->setVisible(true);
    // Top right: a run ends decaying towards its stop voltage or below zero,
    // so the curve's last stretch stays clear of the legend.
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

    setObjectName(QStringLiteral("FormChartCPM"));
    TeeCommander1->setObjectName(QStringLiteral("TeeCommander1"));
    Chart1->setObjectName(QStringLiteral("Chart1"));
    BitBtn_Exit->setObjectName(QStringLiteral("BitBtn_Exit"));
    int seriesNo = 1;
    for (TCpmGraph* g : {Series1, Series2, Series3, Series4, Series5, Series6})
        g->setObjectName(QStringLiteral("Series%1").arg(seriesNo++));

    // The toolbar's Print lays out the paper page every chart prints, under
    // this chart's own title (see PrintButtonClick).
    disconnect(TeeCommander1->PrintButton, &QAction::triggered, TeeCommander1, nullptr);
    connect(TeeCommander1->PrintButton, &QAction::triggered, this, [this] { PrintButtonClick(); });
    connect(BitBtn_Exit, &QPushButton::clicked, this, [this] { BitBtn_ExitClick(); });

    SetState(TCpmChartState::Hidden);
    ClearSeries();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect g = screen->geometry();
        move((g.width() - width()) / 2, (g.height() - height()) / 2 + 30);
    }
}

TCpmGraph* TFormChartCPM::Series(TCpmSeries s) const
{
    switch (s) {
    case TCpmSeries::Measured: return Series1;
    case TCpmSeries::VstartPos: return Series2;
    case TCpmSeries::VstopPos: return Series3;
    case TCpmSeries::VstartNeg: return Series4;
    case TCpmSeries::VstopNeg: return Series5;
    case TCpmSeries::ZeroLine: return Series6;
    }
    return Series1;
}

QColor TFormChartCPM::ColourOf(TCpmColour colour)
{
    switch (colour) {
    case TCpmColour::Black: return QColor(0, 0, 0);
    case TCpmColour::Red: return QColor(255, 0, 0);
    case TCpmColour::Blue: return QColor(0, 0, 255);
    // Dark yellow: plain yellow vanishes on a light background and on paper.
    case TCpmColour::Yellow: return QColor(170, 130, 0);
    case TCpmColour::Green: return QColor(0, 128, 0);
    }
    return QColor(0, 0, 0);
}

void TFormChartCPM::ClearSeries()
{
    for (TCpmGraph* g : {Series1, Series2, Series3, Series4, Series5, Series6})
        g->ClearPoints();
    Chart1->ClearSeries();
    Chart1->SetTimeAxisMax(1);
}

void TFormChartCPM::AddPoint(TCpmSeries series, double x, double y, TCpmColour colour)
{
    const QColor c = ColourOf(colour);
    Series(series)->AddPoint(x, y, c);
    if (series == TCpmSeries::Measured)
        Chart1->AddPoint(x, y, c);
    // Open while a run still sends frames (after Break, until the monitor's
    // abort frame): the time axis follows the points and the curve grows.
    if (isVisible()) {
        if (x > Chart1->TimeAxisMax())
            Chart1->SetTimeAxisMax(x);
        Chart1->Repaint();
    }
}

void TFormChartCPM::FitTimeAxis()
{
    double hi = 0;
    for (TCpmGraph* g : {Series1, Series2, Series3, Series4, Series5, Series6})
        if (g->PointCount() > 0)
            hi = std::max(hi, g->PointX(g->PointCount() - 1));
    Chart1->SetTimeAxisMax(hi > 0 ? hi : 1);
    Chart1->ResetView();
    Chart1->RepaintNow();
}

void TFormChartCPM::SetTitle(const QString& title) { Chart1->SetTitle(title); }
QString TFormChartCPM::Title() const { return Chart1->Title(); }

void TFormChartCPM::SetState(TCpmChartState state)
{
    state_ = state;
    const bool shown = state == TCpmChartState::Shown;
    setVisible(shown);
    Chart1->setVisible(shown);
    BitBtn_Exit->setEnabled(shown);
}

void TFormChartCPM::closeEvent(QCloseEvent* e)
{
    // No title-bar buttons; a close from elsewhere is the window's Exit,
    // which shows the decay window again.
    e->ignore();
    BitBtn_ExitClick();
}

void TFormChartCPM::BitBtn_ExitClick()
{
    if (state_ != TCpmChartState::Shown)
        return;
    if (CPMSetup)
        CPMSetup->show();
    SetState(TCpmChartState::Hidden);
}

QRect TFormChartCPM::PrintArea(const QRect& page)
{
    const int left = int(std::lround(page.width() * 0.03));
    const int top = int(std::lround(page.height() * 0.06));
    const int right = int(std::lround(page.width() * 0.01));
    const int bottom = int(std::lround(page.height() * 0.01));
    return page.adjusted(left, top, -right, -bottom);
}

void TFormChartCPM::PrintTo(QPrinter* printer)
{
    QCPPainter painter;
    if (!painter.begin(printer))
        return;
    const QRect area = PrintArea(QRect(QPoint(0, 0), printer->pageLayout().paintRectPixels(printer->resolution()).size()));
    QCustomPlot* plot = Chart1->Plot();
    const int w = std::max(plot->width(), 1), h = std::max(plot->height(), 1);
    // Stretched to the area, not kept in proportion.
    painter.translate(area.topLeft());
    painter.scale(double(area.width()) / w, double(area.height()) / h);
    plot->toPainter(&painter, w, h);
    painter.end();
}

void TFormChartCPM::PrintButtonClick()
{
    // The page every chart prints: landscape, the title on top, the plot
    // over the rest with labels to read on paper, named like the exports.
    QPrinter printer(QPrinter::HighResolution);
    TeeCommander1->PreparePrinter(printer);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        Chart1->PrintPage(&printer, Title());
}
