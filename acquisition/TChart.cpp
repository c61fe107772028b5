// Placeholder until the chart lands: keeps the points, draws nothing.
#include "acquisition/TChart.h"

#include <vector>

struct TChart::Impl {
    std::vector<double> x, y;
    double tmax = 0, vmin = 0, vmax = 0;
    int offset = 0;
    QString title, ttitle, vtitle;
};

TChart::TChart(QWidget* parent) : QWidget(parent), d(new Impl) {}
TChart::~TChart() { delete d; }
void TChart::ClearSeries() { d->x.clear(); d->y.clear(); }
void TChart::AddPoint(double x, double y, const QColor&) { d->x.push_back(x); d->y.push_back(y); }
size_t TChart::PointCount() const { return d->x.size(); }
double TChart::PointX(size_t i) const { return d->x[i]; }
double TChart::PointY(size_t i) const { return d->y[i]; }
void TChart::SetTimeAxisMax(double max) { d->tmax = max; }
double TChart::TimeAxisMax() const { return d->tmax; }
void TChart::SetTimeAxisStartOffset(int px) { d->offset = px; }
int TChart::TimeAxisStartOffset() const { return d->offset; }
void TChart::SetTimeAxisTitle(const QString& t) { d->ttitle = t; }
QString TChart::TimeAxisTitle() const { return d->ttitle; }
void TChart::SetValueAxisRange(double a, double b) { d->vmin = a; d->vmax = b; }
double TChart::ValueAxisMin() const { return d->vmin; }
double TChart::ValueAxisMax() const { return d->vmax; }
void TChart::SetValueAxisTitle(const QString& t) { d->vtitle = t; }
QString TChart::ValueAxisTitle() const { return d->vtitle; }
void TChart::SetTitle(const QString& t) { d->title = t; }
QString TChart::Title() const { return d->title; }
void TChart::Repaint() { update(); }
void TChart::RepaintNow() { repaint(); }
QCustomPlot* TChart::Plot() const { return nullptr; }

TTeeCommander::TTeeCommander(TChart*, QWidget* parent) : QToolBar(parent) {}
