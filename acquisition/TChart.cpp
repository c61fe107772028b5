#include "acquisition/TChart.h"

#include "acquisition/ChartFile.h"
#include "acquisition/TraceStore.h"
#include "core/MainState.h"
#include "platform/CsvText.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QActionGroup>
#include <QLabel>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPicture>
#include <QPrinter>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cmath>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const QColor Silver(192, 192, 192);
const QColor Maroon(128, 0, 0);
const QColor AxisBlue(0, 64, 128);

// Screen refresh period: repaint requests within one frame become one replot.
constexpr int FrameMs = 16;

// Pixel coordinates far outside the plot are pulled in before drawing; the
// raster engine misbehaves with coordinates near the limits of int.
constexpr double PixelLimit = 1e6;

QLocale PlainLocale() { return ChartFileLocale(); }
QString PlainNumber(double v, const QLocale& locale = PlainLocale(), int digits = 12)
{
    return ChartNumber(v, locale, digits);
}
QString PlainTime(double t, const QLocale& locale = PlainLocale()) { return ChartTime(t, locale); }

// Time-axis labels are whole seconds with thousands separators. The step
// runs through 1, 2, 5, 10, 20 ... s, the smallest that keeps labels at
// least MinLabelSpacing apart (wider labels: their width and two digits), so
// they never run into one another and a plot of common width carries about
// half a dozen of them. Every label, tick and sub-tick costs its share of
// each repaint of a running chart, so there are no more than read well.
class TTimeTicker : public QCPAxisTicker {
public:
    explicit TTimeTicker(QCPAxis* axis) : axis_(axis) {}
    static constexpr int MinLabelSpacing = 100;  // pixels

protected:
    double getTickStep(const QCPRange& range) override
    {
        const double widest = std::max(std::fabs(range.lower), std::fabs(range.upper));
        const QString widestLabel = QLocale().toString(qint64(std::min(widest, 1e15)));
        const int labelWidth = std::max(MinLabelSpacing, LabelWidth(widestLabel));
        const int pixels = axis_->axisRect() ? axis_->axisRect()->width() : 0;
        const double fits = std::max(1.0, double(pixels > 0 ? pixels : 600) / std::max(labelWidth, 1));
        const double wanted = range.size() / fits;
        double step = 1;
        for (double decade = 1; step < wanted && decade < 1e16; decade *= 10) {
            for (double m : {1.0, 2.0, 5.0}) {
                step = m * decade;
                if (step >= wanted)
                    break;
            }
        }
        return step;
    }

    QString getTickLabel(double tick, const QLocale&, QChar, int) override
    {
        return QLocale().toString(qint64(std::llround(tick)));
    }

private:
    // The widest label and two digits of room. Measuring shapes the text,
    // which costs more than the rest of the ticks together, and the widest
    // label of a running axis changes only when it gains a digit.
    int LabelWidth(const QString& text)
    {
        const QFont font = axis_->tickLabelFont();
        if (text != measuredText_ || font != measuredFont_) {
            const QFontMetrics fm(font);
            measuredWidth_ = fm.horizontalAdvance(text) + fm.horizontalAdvance("00");
            measuredText_ = text;
            measuredFont_ = font;
        }
        return measuredWidth_;
    }

    QCPAxis* axis_;
    QString measuredText_;
    QFont measuredFont_;
    int measuredWidth_ = 0;
};

}  // namespace

namespace {

// The plot's layers are drawn into images rather than pixmaps: the trace
// writes its decimated columns straight into the pixels (see
// TTracePlottable::drawColumns), which needs an image it can reach. The
// lowest buffer is cleared to the plot's background when that is one opaque
// colour; the screen then gets it as a plain copy, where a transparent
// buffer had to be blended over a background filled first.
class TImagePaintBuffer : public QCPAbstractPaintBuffer {
public:
    TImagePaintBuffer(const QSize& size, double ratio) : QCPAbstractPaintBuffer(size, ratio)
    {
        TImagePaintBuffer::reallocateBuffer();
    }

    // The colour `clear(Qt::transparent)` fills with instead (invalid: none).
    void SetBackground(const QColor& colour) { background_ = colour; }
    // True when the last clear filled with the opaque background.
    bool Opaque() const { return opaque_; }

    QCPPainter* startPainting() override { return new QCPPainter(&image_); }

    void draw(QCPPainter* painter) const override
    {
        if (painter && painter->isActive())
            painter->drawImage(0, 0, image_);
    }

    void clear(const QColor& colour) override
    {
        const bool opaque = background_.isValid() && background_.alpha() == 255 && colour.alpha() == 0;
        // An opaque image in the screen's own format is copied row by row.
        const QImage::Format format = opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
        if (image_.format() != format)
            allocate(format);
        opaque_ = opaque;
        image_.fill(opaque ? background_ : colour);
    }

protected:
    void reallocateBuffer() override { allocate(QImage::Format_ARGB32_Premultiplied); }

private:
    void allocate(QImage::Format format)
    {
        setInvalidated();
        image_ = QImage(mSize * mDevicePixelRatio, format);
        image_.setDevicePixelRatio(mDevicePixelRatio);
        opaque_ = false;
    }

    QImage image_;
    QColor background_;
    bool opaque_ = false;
};

class TChartPlot : public QCustomPlot {
public:
    explicit TChartPlot(QWidget* parent) : QCustomPlot(parent)
    {
        connect(this, &QCustomPlot::beforeReplot, this, [this] {
            PrepareBuffers();
            if (!screenFrame_)
                buffersStale_ = false;  // the plot's own replot fills them
        });
    }

    // A frame drawn in the paint event itself, straight onto the screen:
    // nothing is cleared into a buffer first and copied on after. Where a
    // layer keeps a buffer of its own (the cursor's, so that following the
    // mouse never redraws the trace) the plot's own replot serves, and so it
    // does when the plot is not painted now (hidden).
    void DrawNow()
    {
        if (!ScreenFramesPossible()) {
            replot(rpImmediateRefresh);
            return;
        }
        screenPending_ = true;
        repaint();
        if (screenPending_) {
            screenPending_ = false;
            replot(rpImmediateRefresh);
        }
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        // After frames straight onto the screen the buffers show an older
        // one: an expose paints a fresh frame too.
        if ((screenPending_ || buffersStale_) && ScreenFramesPossible()) {
            screenPending_ = false;
            PaintFrame();
            return;
        }
        auto* base = mPaintBuffers.isEmpty() ? nullptr : dynamic_cast<TImagePaintBuffer*>(mPaintBuffers.first().data());
        if (!base || !base->Opaque() || base->invalidated() || base->size() != size() || mViewport != rect() ||
            !qFuzzyCompare(bufferDevicePixelRatio(), devicePixelRatioF())) {
            QCustomPlot::paintEvent(event);
            return;
        }
        // The lowest buffer holds the background already.
        QCPPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        base->draw(&painter);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (qsizetype i = 1; i < mPaintBuffers.size(); ++i)
            mPaintBuffers[i]->draw(&painter);
    }

private:
    bool ScreenFramesPossible() const
    {
        if (mReplotting || mViewport != rect())
            return false;
        for (int i = 0; i < layerCount(); ++i)
            if (layer(i)->mode() == QCPLayer::lmBuffered)
                return false;
        return true;
    }

    // What a replot and the paint of its buffers do, onto the screen.
    void PaintFrame()
    {
        // Cached tick labels are made at the buffers' pixel ratio.
        if (!qFuzzyCompare(bufferDevicePixelRatio(), devicePixelRatioF()))
            setBufferDevicePixelRatio(devicePixelRatioF());
        screenFrame_ = true;
        buffersStale_ = true;
        emit beforeReplot();
        // As during a replot: a replot asked for meanwhile is this frame.
        mReplotting = true;
        {
            QCPPainter painter(this);
            if (painter.isActive()) {
                if (mBackgroundBrush.style() != Qt::NoBrush)
                    painter.fillRect(mViewport, mBackgroundBrush);
                draw(&painter);
            }
        }
        mReplotting = false;
        screenFrame_ = false;
        emit afterReplot();
    }

    bool screenPending_ = false;  // DrawNow's frame is due in the paint event
    bool screenFrame_ = false;    // a frame onto the screen is being drawn
    bool buffersStale_ = false;   // the screen shows a newer frame than the buffers

private:
    // Before the plot shares its buffers out to the layers: as many image
    // buffers as it will use (one for the layers below the first buffered
    // layer, one for each buffered layer, one for the layers after each).
    void PrepareBuffers()
    {
        int last = 0;
        for (int i = 0; i < layerCount(); ++i) {
            if (layer(i)->mode() != QCPLayer::lmBuffered)
                continue;
            ++last;
            if (i + 1 < layerCount() && layer(i + 1)->mode() == QCPLayer::lmLogical)
                ++last;
        }
        for (int i = 0; i <= last; ++i) {
            if (i < mPaintBuffers.size() && dynamic_cast<TImagePaintBuffer*>(mPaintBuffers[i].data()))
                continue;
            QSharedPointer<QCPAbstractPaintBuffer> buffer(
                new TImagePaintBuffer(viewport().size(), bufferDevicePixelRatio()));
            if (i < mPaintBuffers.size())
                mPaintBuffers[i] = buffer;
            else
                mPaintBuffers.append(buffer);
        }
        const bool plain = mBackgroundBrush.style() == Qt::SolidPattern && mBackgroundPixmap.isNull();
        static_cast<TImagePaintBuffer*>(mPaintBuffers.first().data())
            ->SetBackground(plain ? mBackgroundBrush.color() : QColor());
    }
};

// Where the painter's engine draws into a plain image (the plot's buffers,
// the window's backing store on a raster screen) with no transform but a
// whole-pixel shift and a rectangular clip, pixels can be set directly.
// `offset` then takes the painter's coordinates to the image's, and `clip`
// is the part of the image (in its own pixels) the painter may touch.
// Printers, PDF and pictures are not images and go through the painter.
struct TPixelTarget {
    QImage* image = nullptr;
    QPoint offset;
    QRect clip;
};

bool DirectPixels(QPainter* painter, TPixelTarget& target)
{
    QPaintEngine* engine = painter->paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image)
        return false;
    QImage* image = static_cast<QImage*>(device);
    const QImage::Format format = image->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QTransform t = painter->deviceTransform();
    if (image->devicePixelRatio() != 1.0 || t.type() > QTransform::TxTranslate || t.dx() != std::round(t.dx()) ||
        t.dy() != std::round(t.dy()) || std::fabs(t.dx()) > PixelLimit || std::fabs(t.dy()) > PixelLimit ||
        painter->compositionMode() != QPainter::CompositionMode_SourceOver || painter->opacity() != 1.0)
        return false;
    const QPoint offset(int(t.dx()), int(t.dy()));
    QRect clip = image->rect();
    if (painter->hasClipping()) {
        const QRegion region = painter->clipRegion();
        if (region.rectCount() > 1)
            return false;
        clip &= region.boundingRect().translated(offset);
    }
    const QRegion system = engine->systemClip();
    if (!system.isEmpty()) {
        if (system.rectCount() > 1)
            return false;
        clip &= system.boundingRect();
    }
    target = {image, offset, clip};
    return true;
}

// One-pixel-wide bars (in column order, in painter coordinates) in an opaque
// colour, set straight into the image: the same pixels a painter fills.
// A long trace's bars are tall and stand side by side; a bar at a time costs
// a store per pixel, a row across sixteen neighbouring bars four stores.
void WriteBars(const TPixelTarget& target, const std::vector<QRect>& bars, QRgb argb)
{
    const QRect& clip = target.clip;
    if (clip.isEmpty())
        return;
    uchar* const bits = target.image->bits();
    const qsizetype stride = target.image->bytesPerLine();
    const int ox = target.offset.x(), oy = target.offset.y();
    auto column = [&](int x, int top, int bottom) {
        uchar* p = bits + qsizetype(top) * stride + qsizetype(x) * 4;
        for (int y = top; y <= bottom; ++y, p += stride)
            *reinterpret_cast<QRgb*>(p) = argb;
    };
    constexpr int Strip = 16;
    alignas(16) int32_t tops[Strip], bottoms[Strip];
    size_t k = 0;
    while (k < bars.size()) {
        const int x0 = bars[k].left() + ox;
        // A strip: bars of consecutive columns inside the clip.
        int n = 0;
        for (; k < bars.size() && n < Strip && bars[k].left() + ox == x0 + n; ++k, ++n) {
            const int x = x0 + n;
            tops[n] = std::max(bars[k].top() + oy, clip.top());
            bottoms[n] = std::min(bars[k].bottom() + oy, clip.bottom());
            if (x < clip.left() || x > clip.right())
                tops[n] = INT32_MAX, bottoms[n] = INT32_MIN;  // none of its pixels
        }
#if defined(__SSE2__)
        if (n == Strip && x0 >= clip.left() && x0 + Strip - 1 <= clip.right()) {
            int lo = INT_MAX, hi = INT_MIN, fullTop = INT_MIN, fullBottom = INT_MAX;
            for (int j = 0; j < Strip; ++j) {
                lo = std::min(lo, tops[j]);
                hi = std::max(hi, bottoms[j]);
                fullTop = std::max(fullTop, tops[j]);
                fullBottom = std::min(fullBottom, bottoms[j]);
            }
            __m128i top4[Strip / 4], bottom4[Strip / 4];
            for (int g = 0; g < Strip / 4; ++g) {
                top4[g] = _mm_load_si128(reinterpret_cast<const __m128i*>(tops + 4 * g));
                bottom4[g] = _mm_load_si128(reinterpret_cast<const __m128i*>(bottoms + 4 * g));
            }
            const __m128i colour = _mm_set1_epi32(int(argb));
            for (int y = lo; y <= hi; ++y) {
                auto* row = reinterpret_cast<__m128i*>(bits + qsizetype(y) * stride + qsizetype(x0) * 4);
                if (y >= fullTop && y <= fullBottom) {
                    for (int g = 0; g < Strip / 4; ++g)
                        _mm_storeu_si128(row + g, colour);
                    continue;
                }
                const __m128i vy = _mm_set1_epi32(y);
                for (int g = 0; g < Strip / 4; ++g) {
                    // Off where the row lies above the bar's top or below its bottom.
                    const __m128i off = _mm_or_si128(_mm_cmpgt_epi32(top4[g], vy), _mm_cmpgt_epi32(vy, bottom4[g]));
                    const __m128i old = _mm_loadu_si128(row + g);
                    _mm_storeu_si128(row + g, _mm_or_si128(_mm_and_si128(off, old), _mm_andnot_si128(off, colour)));
                }
            }
            continue;
        }
#endif
        for (int j = 0; j < n; ++j)
            if (tops[j] <= bottoms[j])
                column(x0 + j, tops[j], bottoms[j]);
    }
}

}  // namespace

// Draws Series1 straight from the trace store: only the points the visible
// range needs (two per pixel column at most), each segment in the colour of
// the point it runs to.
class TTracePlottable : public QCPAbstractPlottable {
public:
    TTracePlottable(QCPAxis* keyAxis, QCPAxis* valueAxis, const TTraceStore& store)
        : QCPAbstractPlottable(keyAxis, valueAxis), store_(store)
    {
        setSelectable(QCP::stNone);
    }

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

    QCPRange getKeyRange(bool& found, QCP::SignDomain) const override
    {
        const auto e = store_.XExtent();
        found = e.valid;
        return e.valid ? QCPRange(e.min, e.max) : QCPRange();
    }

    QCPRange getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const override
    {
        const auto e = store_.YExtent();
        found = e.valid;
        return e.valid ? QCPRange(e.min, e.max) : QCPRange();
    }

protected:
    void draw(QCPPainter* painter) override
    {
        QCPAxis* keyAxis = mKeyAxis.data();
        QCPAxis* valueAxis = mValueAxis.data();
        if (!keyAxis || !valueAxis || store_.Empty())
            return;
        const QCPRange range = keyAxis->range();
        store_.Decimate(range.lower, range.upper, std::max(1, keyAxis->axisRect()->width()), indices_, &cache_);

        Coordinates();
        points_.resize(indices_.size());
        for (size_t k = 0; k < indices_.size(); ++k) {
            const double px = keyAxis->coordToPixel(coords_[k].x);
            const double py = valueAxis->coordToPixel(coords_[k].y);
            points_[k] = QPointF(std::clamp(px, -PixelLimit, PixelLimit), std::clamp(py, -PixelLimit, PixelLimit));
            if (!std::isfinite(px) || !std::isfinite(py))
                points_[k] = QPointF(qQNaN(), qQNaN());
        }

        // Every point in view, a few to a column, draws cheaper as a line;
        // the bars pay off once the store has decimated.
        const size_t width = size_t(std::max(1, keyAxis->axisRect()->width()));
        const bool decimated = store_.XMonotonic()
                                   ? indices_.size() < store_.LowerBound(range.upper) - store_.LowerBound(range.lower)
                                   : indices_.size() > width;
        if (decimated && indices_.size() > width) {
            if (VerticalTravel() > ThinTravelPerColumn * double(width)) {
                drawColumns(painter);
            } else {
                // Crisp like the bars, so a lone spike keeps its full ink.
                painter->setAntialiasing(false);
                drawPolylines(painter);
            }
        } else {
            drawPolylines(painter);
        }
    }

    // The coordinates of the points in indices_. Most of them are the last
    // frame's points (a column keeps its extremes while the axis moves by a
    // sample): those are taken from the last frame, the others fetched from
    // the store together, where they lie all over a long trace.
    void Coordinates()
    {
        if (store_.Generation() != lastGeneration_) {
            lastIndices_.clear();
            lastCoords_.clear();
            lastGeneration_ = store_.Generation();
        }
        const size_t n = indices_.size();
        coords_.resize(n);
        fetch_.clear();
        size_t m = 0;
        for (size_t k = 0; k < n; ++k) {
            const size_t i = indices_[k];
            while (m < lastIndices_.size() && lastIndices_[m] < i)
                ++m;
            if (m < lastIndices_.size() && lastIndices_[m] == i) {
                coords_[k] = lastCoords_[m];
            } else {
                store_.Prefetch(i);
                fetch_.push_back(k);
            }
        }
        for (const size_t k : fetch_)
            coords_[k] = {store_.X(indices_[k]), store_.Y(indices_[k])};
        lastIndices_ = indices_;
        lastCoords_ = coords_;
    }

    // A decimated trace that stays thin (a quiet signal, a short run) strokes
    // cheaper than it fills: the bars cost a painter call per row where the
    // outline moves, the line only its few pixels. Tall columns (a long run,
    // or spikes in every column) fill far cheaper.
    static constexpr double ThinTravelPerColumn = 32;  // pixels up and down

    double VerticalTravel() const
    {
        double travel = 0;
        for (size_t k = 1; k < points_.size(); ++k) {
            const double dy = std::fabs(points_[k].y() - points_[k - 1].y());
            if (std::isfinite(dy))
                travel += dy;
        }
        return travel;
    }

    // Full resolution: runs of segments of one colour become one polyline.
    void drawPolylines(QCPPainter* painter)
    {
        const bool oneColour = store_.PaletteSize() == 1;
        run_.clear();
        uint8_t runColour = 0;
        auto flush = [&] {
            if (run_.size() >= 2) {
                painter->setPen(QPen(QColor::fromRgba(store_.PaletteColour(runColour)), 1));
                painter->drawPolyline(run_.data(), int(run_.size()));
            }
            run_.clear();
        };
        for (size_t k = 1; k < points_.size(); ++k) {
            const QPointF& a = points_[k - 1];
            const QPointF& b = points_[k];
            if (std::isnan(a.x()) || std::isnan(b.x())) {
                flush();
                continue;
            }
            const uint8_t colour = oneColour ? 0 : store_.ColourIndex(indices_[k]);
            if (!run_.empty() && colour != runColour)
                flush();
            if (run_.empty()) {
                run_.push_back(a);
                runColour = colour;
            }
            run_.push_back(b);
        }
        flush();
    }

    // Decimated: the line through each column's lowest and highest point is
    // a vertical stroke, joined to the stroke one column before. Drawn as one
    // pixel-wide bar per column it is the same ink at a quarter of the cost
    // of stroking the polyline (and smoothing shows nothing here).
    void drawColumns(QCPPainter* painter)
    {
        const bool oneColour = store_.PaletteSize() == 1;
        painter->setAntialiasing(false);
        bool open = false, prevValid = false;
        int column = 0, prevColumn = 0;
        double lo = 0, hi = 0;
        QPointF prev;
        uint8_t colour = 0;
        // The bars go to the painter in batches of one colour: one call for
        // hundreds of bars costs far less than a call for each.
        uint8_t batchColour = 0;
        const QRect clip = mKeyAxis->axisRect()->rect();
        // Into the pixels of the image the painter draws on (the window's,
        // a buffer's) where it is one: a bar a pixel wide costs the raster
        // engine a call per row, far more than setting the row's pixel.
        TPixelTarget target;
        const bool direct = DirectPixels(painter, target);
        if (direct) {
            // The painter's rows stop at the plot area's, as the runs do below.
            const QRect rows(target.clip.left(), clip.top() + target.offset.y(), target.clip.width(), clip.height());
            target.clip &= rows;
            ++directFrames_;
        }
        auto drawBatch = [&] {
            if (rects_.empty())
                return;
            const QRgb argb = store_.PaletteColour(batchColour);
            if (direct && qAlpha(argb) == 255) {
                WriteBars(target, rects_, argb);
                rects_.clear();
                return;
            }
            MergeColumnBars(rects_, clip.top(), clip.bottom(), merged_, runStart_);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor::fromRgba(store_.PaletteColour(batchColour)));
            painter->drawRects(merged_.data(), int(merged_.size()));
            painter->setBrush(Qt::NoBrush);
            rects_.clear();
        };
        auto flush = [&] {
            if (open) {
                if (!rects_.empty() && colour != batchColour)
                    drawBatch();
                batchColour = colour;
                const int top = int(std::floor(lo)), bottom = int(std::floor(hi));
                rects_.emplace_back(column, top, 1, bottom - top + 1);
            }
            open = false;
        };
        for (size_t k = 0; k < points_.size(); ++k) {
            const QPointF& p = points_[k];
            if (std::isnan(p.x())) {
                flush();
                prevValid = false;
                continue;
            }
            const int x = int(std::floor(p.x()));
            const uint8_t c = oneColour ? 0 : store_.ColourIndex(indices_[k]);
            if (open && x == column) {
                lo = std::min(lo, p.y());
                hi = std::max(hi, p.y());
                colour = c;
            } else {
                flush();
                open = true;
                column = x;
                lo = hi = p.y();
                colour = c;
                if (prevValid && x == prevColumn + 1) {
                    // The segment from the previous column ends in this one.
                    lo = std::min(lo, prev.y());
                    hi = std::max(hi, prev.y());
                } else if (prevValid) {
                    drawBatch();
                    painter->setPen(QPen(QColor::fromRgba(store_.PaletteColour(c)), 1));
                    painter->drawLine(prev, p);
                }
            }
            prev = p;
            prevColumn = x;
            prevValid = true;
        }
        flush();
        drawBatch();
    }

    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override
    {
        painter->setPen(QPen(Qt::black, 1));
        painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
    }

public:
    // Frames whose columns were set straight into an image's pixels.
    int DirectFrames() const { return directFrames_; }

private:
    const TTraceStore& store_;
    int directFrames_ = 0;
    std::vector<size_t> indices_;
    TTraceStore::TColumnCache cache_;
    std::vector<QPointF> points_, run_;
    struct TCoord {
        double x, y;
    };
    std::vector<TCoord> coords_, lastCoords_;
    std::vector<size_t> lastIndices_, fetch_;
    uint64_t lastGeneration_ = ~uint64_t(0);
    std::vector<QRect> rects_, merged_;

    std::vector<int> runStart_;
};

struct TChart::Impl {
    TTraceStore store;
    TChartPlot* plot = nullptr;
    TTracePlottable* trace = nullptr;
    QCPTextElement* title = nullptr;
    QTimer repaintTimer;
    int replots = 0;

    // The axes as the program set them.
    double timeMin = 0, timeMax = 0;
    int startOffset = 0;
    double valueMin = 0, valueMax = 0;
    double secondsPerUnit = 1;  // of the time axis, for the cursor and the export

    bool userView = false;
    int applying = 0;
    int tickWidth = -1;  // plot width the time-axis ticks were last made for  // > 0 while the chart itself moves the axes
    TMouseMode mouseMode = mmNone;

    // Cursor 0 and 1: a line and a marked point each, one read-out.
    QCPItemStraightLine* cursorLine[2] = {};
    QCPItemTracer* cursorPoint[2] = {};
    QCPItemText* cursorLabel = nullptr;
    bool cursorOn = false;
    long long pinned[2] = {-1, -1};  // trace index of a pinned cursor
    long long hover = -1;            // the free cursor's point (-1: none)
    int freeCursor = 0;              // the one that follows the mouse

    TChartRecorder recorder;
    QTimer recordTimer;
    QLabel* status = nullptr;
    QString printHeading;

    // Shows the program's axes. The time axis starts `startOffset` pixels
    // left of the plot area: its full extent from timeMin to timeMax covers
    // the plot width plus those pixels, and only the part from the plot's
    // left edge on is in view.
    void ApplyAxes()
    {
        if (userView)
            return;
        ++applying;
        double hi = timeMax > timeMin ? timeMax : timeMin + 1;
        const double width = std::max(1, plot->axisRect()->width());
        const double extent = width - double(startOffset);
        double lo = timeMin;
        if (extent > 0)
            lo = timeMin + (hi - timeMin) * (-double(startOffset) / extent);
        if (!(lo < hi))
            lo = hi - 1e-9 * std::max(1.0, std::fabs(hi));
        plot->xAxis->setRange(lo, hi);

        double vlo = std::min(valueMin, valueMax), vhi = std::max(valueMin, valueMax);
        if (!(vlo < vhi)) {
            vlo -= 1;
            vhi += 1;
        }
        plot->yAxis->setRange(vlo, vhi);
        --applying;
    }

    void SetView(double xlo, double xhi, double ylo, double yhi)
    {
        userView = true;
        ++applying;
        plot->xAxis->setRange(xlo, xhi > xlo ? xhi : xlo + 1);
        plot->yAxis->setRange(ylo, yhi > ylo ? yhi : ylo + 1);
        --applying;
    }
};

TChart::TChart(QWidget* parent) : QWidget(parent), d(new Impl)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    d->plot = new TChartPlot(this);
    layout->addWidget(d->plot);
    QCustomPlot* plot = d->plot;

    plot->setBackground(Silver);
    plot->legend->setVisible(false);

    d->title = new QCPTextElement(plot, QString());
    QFont titleFont = font();
    titleFont.setPixelSize(19);
    titleFont.setBold(true);
    d->title->setFont(titleFont);
    d->title->setTextColor(Maroon);
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0, d->title);

    // Ticks point outwards and leave the plot area to the trace.
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setTickLength(0, 4);
        axis->setSubTickLength(0, 2);
    }
    plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TTimeTicker(plot->xAxis)));
    QPen valueAxisPen(AxisBlue, 3);
    valueAxisPen.setCapStyle(Qt::FlatCap);
    plot->yAxis->setBasePen(valueAxisPen);
    QFont valueTitleFont = font();
    valueTitleFont.setPixelSize(16);
    valueTitleFont.setBold(true);
    plot->yAxis->setLabelFont(valueTitleFont);

    d->trace = new TTracePlottable(plot->xAxis, plot->yAxis, d->store);

    // Any axis change the chart did not make itself is the user's zoom or pan.
    auto userMoved = [this] {
        if (d->applying == 0)
            d->userView = true;
    };
    connect(plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, userMoved);
    connect(plot->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, userMoved);

    // The time axis depends on the plot width (start offset, label spacing).
    // After a resize the layout has the new width only here, so the range and
    // the ticks are set again before anything is drawn.
    connect(plot, &QCustomPlot::afterLayout, this, [this] {
        const QCPRange before = d->plot->xAxis->range();
        d->ApplyAxes();
        const int width = d->plot->axisRect()->width();
        if (d->plot->xAxis->range() != before || width != d->tickWidth) {
            d->tickWidth = width;
            d->plot->axisRect()->update(QCPLayoutElement::upPreparation);
        }
    });
    connect(plot, &QCustomPlot::beforeReplot, this, [this] { d->plot->setLocale(QLocale()); });
    connect(plot, &QCustomPlot::afterReplot, this, [this] { ++d->replots; });

    d->repaintTimer.setSingleShot(true);
    d->repaintTimer.setInterval(FrameMs);
    connect(&d->repaintTimer, &QTimer::timeout, this, [this] { RepaintNow(); });

    // The cursor lives on the overlay layer. While it is on, that layer has a
    // buffer of its own, so following the mouse never redraws the trace; while
    // it is off, the layer shares the main buffer and costs nothing per frame.
    QCPLayer* overlay = plot->layer("overlay");
    overlay->setMode(QCPLayer::lmLogical);  // the plot makes it a buffered one
    const QColor cursorColours[2] = {Qt::red, QColor(0, 0, 200)};
    for (int k = 0; k < 2; ++k) {
        d->cursorLine[k] = new QCPItemStraightLine(plot);
        d->cursorPoint[k] = new QCPItemTracer(plot);
        d->cursorLine[k]->setPen(QPen(cursorColours[k], 1, Qt::DashLine));
        d->cursorPoint[k]->setStyle(QCPItemTracer::tsCircle);
        d->cursorPoint[k]->setSize(7);
        d->cursorPoint[k]->setPen(QPen(cursorColours[k], 1.5));
    }
    d->cursorLabel = new QCPItemText(plot);
    for (QCPAbstractItem* item : {static_cast<QCPAbstractItem*>(d->cursorLine[0]),
                                  static_cast<QCPAbstractItem*>(d->cursorLine[1]),
                                  static_cast<QCPAbstractItem*>(d->cursorPoint[0]),
                                  static_cast<QCPAbstractItem*>(d->cursorPoint[1]),
                                  static_cast<QCPAbstractItem*>(d->cursorLabel)}) {
        item->setLayer(overlay);
        item->setVisible(false);
        item->setSelectable(false);
    }
    d->cursorLabel->setPadding(QMargins(4, 2, 4, 2));
    d->cursorLabel->setBrush(QColor(255, 255, 225));
    d->cursorLabel->setPen(QPen(Qt::darkGray));
    d->cursorLabel->setTextAlignment(Qt::AlignLeft);
    d->cursorLabel->position->setType(QCPItemPosition::ptAbsolute);
    plot->setMouseTracking(true);  // the cursor follows the mouse without a button held
    connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        if (d->cursorOn)
            MoveCursorTo(event->position());
    });
    connect(plot, &QCustomPlot::mousePress, this, [this](QMouseEvent* event) {
        if (d->cursorOn && event->button() == Qt::LeftButton && d->mouseMode == mmNone)
            ClickCursorAt(event->position());
    });

    // The recording's path under the plot; what is due is written while the
    // loop waits, so a slow sample period still reaches the disk in time.
    d->status = new QLabel(this);
    d->status->setObjectName(QStringLiteral("RecordingStatus"));
    d->status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    d->status->setVisible(false);
    d->status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    layout->addWidget(d->status);
    layout->setStretchFactor(d->plot, 1);
    d->recordTimer.setInterval(100);
    connect(&d->recordTimer, &QTimer::timeout, this, [this] {
        d->recorder.Poll();
        if (!d->recorder.Active())
            d->recordTimer.stop();
    });
    d->recorder.OnFailure = [this](const std::string& path, int error) {
        const QString file = QString::fromStdString(path);
        const QString reason = error == EAGAIN || error == EWOULDBLOCK
                                   ? QStringLiteral("Another program holds the file.")
                                   : QString::fromLocal8Bit(std::strerror(error));
        SetStatusText("Not recording: " + reason + " (" + file + ")");
        // Non-modal, like the toolbar's dialogs: the loop goes on sampling.
        // The failure may come as the run ends (the last lines), so the
        // words fit both.
        auto* box = new QMessageBox(QMessageBox::Critical, "Error",
                                    "The recording could not be written:\n" + file + "\n" + reason +
                                        "\n\nThe samples from then on are not in the file.",
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("RecordingError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };

    plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    SetMouseMode(mmNone);

    resize(649, 601);
    d->ApplyAxes();
}

TChart::~TChart()
{
    // No message boxes from a window being torn down: the program's end
    // finishes the recording before (TMainForm::FinishRecording).
    d->recorder.OnFailure = nullptr;
    d->recorder.End();
    delete d->plot;  // its plottable refers to the store
    delete d;
}

void TChart::ClearSeries()
{
    d->store.Clear();
    d->userView = false;
    d->pinned[0] = d->pinned[1] = -1;
    d->hover = -1;
    d->freeCursor = 0;
    if (d->cursorOn)
        SetCursorEnabled(true);
    d->ApplyAxes();
}

TChartRecorder& TChart::Recorder()
{
    if (!d->recordTimer.isActive())
        d->recordTimer.start();
    return d->recorder;
}

void TChart::SetStatusText(const QString& text)
{
    d->status->setText(text);
    d->status->setVisible(!text.isEmpty());
}
QString TChart::StatusText() const { return d->status->text(); }

bool TChart::OpenFile(const QString& path, TChartFileInfo& info, QString& error,
                      const std::function<bool(qint64, qint64)>& progress)
{
    TTraceStore read;
    const TChartReadResult r = ReadChartFile(path, read, info, error, progress);
    if (r != TChartReadResult::Ok)
        return false;
    d->store.Swap(read);
    d->secondsPerUnit = 1;
    d->pinned[0] = d->pinned[1] = -1;
    d->hover = -1;
    d->freeCursor = 0;
    SetValueAxisTitle(info.Unit);
    const auto xs = d->store.XExtent();
    d->timeMin = 0;
    d->timeMax = xs.valid ? std::max(xs.max, 0.0) : 1;
    d->startOffset = 0;
    FitAll();
    return true;
}

void TChart::AddPoint(double x, double y, const QColor& colour)
{
    d->store.Append(x, y, colour.rgba(), QDateTime::currentMSecsSinceEpoch());
}
void TChart::AddPoint(double x, double y, const QColor& colour, qint64 stampMs)
{
    d->store.Append(x, y, colour.rgba(), stampMs);
}
size_t TChart::PointCount() const { return d->store.Size(); }
double TChart::PointX(size_t i) const { return d->store.X(i); }
double TChart::PointY(size_t i) const { return d->store.Y(i); }
qint64 TChart::PointStamp(size_t i) const { return d->store.Stamp(i); }
QColor TChart::PointColor(size_t i) const { return QColor::fromRgba(d->store.Colour(i)); }
const TTraceStore& TChart::Store() const { return d->store; }

void TChart::SetTimeAxisMax(double max)
{
    d->timeMax = max;
    d->ApplyAxes();
}
double TChart::TimeAxisMax() const { return d->timeMax; }

void TChart::SetTimeAxisStartOffset(int pixels)
{
    d->startOffset = pixels;
    d->ApplyAxes();
}
int TChart::TimeAxisStartOffset() const { return d->startOffset; }

void TChart::SetTimeAxisTitle(const QString& title) { d->plot->xAxis->setLabel(title); }
QString TChart::TimeAxisTitle() const { return d->plot->xAxis->label(); }
void TChart::SetTimeAxisSeconds(double secondsPerUnit) { d->secondsPerUnit = secondsPerUnit; }
double TChart::TimeAxisSeconds() const { return d->secondsPerUnit; }

void TChart::SetValueAxisRange(double min, double max)
{
    d->valueMin = min;
    d->valueMax = max;
    d->ApplyAxes();
}
double TChart::ValueAxisMin() const { return d->valueMin; }
double TChart::ValueAxisMax() const { return d->valueMax; }

void TChart::SetValueAxisTitle(const QString& title) { d->plot->yAxis->setLabel(title); }
QString TChart::ValueAxisTitle() const { return d->plot->yAxis->label(); }

void TChart::SetTitle(const QString& title) { d->title->setText(title); }
QString TChart::Title() const { return d->title->text(); }

void TChart::Repaint()
{
    if (!d->repaintTimer.isActive())
        d->repaintTimer.start();
}

void TChart::RepaintNow()
{
    d->repaintTimer.stop();
    d->plot->DrawNow();
}

QCustomPlot* TChart::Plot() const { return d->plot; }
int TChart::ReplotCount() const { return d->replots; }
int TChart::DirectColumnFrames() const { return d->trace->DirectFrames(); }

void TChart::SetMouseMode(TMouseMode mode)
{
    d->mouseMode = mode;
    QCP::Interactions interactions;
    if (mode == mmZoom)
        interactions = QCP::iRangeZoom;
    else if (mode == mmPan)
        interactions = QCP::iRangeDrag | QCP::iRangeZoom;
    d->plot->setInteractions(interactions);
    d->plot->setSelectionRectMode(mode == mmZoom ? QCP::srmZoom : QCP::srmNone);
}
TChart::TMouseMode TChart::MouseMode() const { return d->mouseMode; }

bool TChart::UserView() const { return d->userView; }

void TChart::FitAll()
{
    double xlo = d->timeMin, xhi = std::max(d->timeMax, d->timeMin);
    double ylo = std::min(d->valueMin, d->valueMax), yhi = std::max(d->valueMin, d->valueMax);
    const auto xs = d->store.XExtent(), ys = d->store.YExtent();
    if (xs.valid) {
        xlo = std::min(xlo, xs.min);
        xhi = std::max(xhi, xs.max);
    }
    if (ys.valid) {
        ylo = std::min(ylo, ys.min);
        yhi = std::max(yhi, ys.max);
    }
    d->SetView(xlo, xhi, ylo, yhi);
    Repaint();
}

void TChart::ResetView()
{
    d->userView = false;
    d->ApplyAxes();
    Repaint();
}

void TChart::SetCursorEnabled(bool on)
{
    d->cursorOn = on;
    d->plot->layer("overlay")->setMode(on ? QCPLayer::lmBuffered : QCPLayer::lmLogical);
    if (!on) {
        d->pinned[0] = d->pinned[1] = -1;
        d->hover = -1;
        d->freeCursor = 0;
        for (int k = 0; k < 2; ++k) {
            d->cursorLine[k]->setVisible(false);
            d->cursorPoint[k]->setVisible(false);
        }
        d->cursorLabel->setVisible(false);
        d->plot->layer("overlay")->replot();
    }
}
bool TChart::CursorEnabled() const { return d->cursorOn; }

namespace {
// The trace point nearest to key x (the trace must be in time order).
long long NearestPoint(const TTraceStore& s, double x)
{
    if (s.Empty() || !s.XMonotonic())
        return -1;
    size_t i = s.LowerBound(x);
    if (i == s.Size() || (i > 0 && x - s.X(i - 1) < s.X(i) - x))
        i = i == 0 ? 0 : i - 1;
    return static_cast<long long>(i);
}
}  // namespace

QString TChart::MeasureText(size_t a, size_t b) const
{
    const TTraceStore& s = d->store;
    const QString unit = ValueAxisTitle();
    const QLocale locale = PlainLocale();
    auto value = [&](double v) { return PlainNumber(v, locale, 6) + unit; };
    auto point = [&](size_t i) { return PlainTime(s.X(i) * d->secondsPerUnit) + " sek.   " + value(s.Y(i)); };
    const size_t lo = std::min(a, b), hi = std::max(a, b);
    const TTraceStore::TStats stats = s.RangeStats(lo, hi + 1);
    const TTraceStore::TExtreme e = s.RangeMinMax(lo, hi + 1);
    QString text = "1: " + point(a) + "\n2: " + point(b) + "\n";
    text += QString::fromUtf8("Δt ") + PlainTime((s.X(b) - s.X(a)) * d->secondsPerUnit) + " sek.   " +
            QString::fromUtf8("Δ ") + value(s.Y(b) - s.Y(a)) + "\n";
    if (stats.count > 0 && e.valid) {
        text += "mean " + value(stats.mean) + "   min " + value(e.min) + "   max " + value(e.max) + "   " +
                QString::fromUtf8("σ ") + value(stats.StdDev()) + "   (" + QString::number(stats.count) +
                " samples)";
    } else {
        text += "no samples between the cursors";
    }
    return text;
}

long long TChart::CursorIndex(int cursor) const
{
    if (cursor < 0 || cursor > 1)
        return -1;
    return d->pinned[cursor] >= 0 ? d->pinned[cursor] : (cursor == d->freeCursor ? d->hover : -1);
}

void TChart::MoveCursorTo(const QPointF& pixel)
{
    QCustomPlot* plot = d->plot;
    const QRect area = plot->axisRect()->rect();
    const bool inside = d->cursorOn && area.contains(pixel.toPoint());
    const bool bothPinned = d->pinned[0] >= 0 && d->pinned[1] >= 0;
    if (!bothPinned)
        d->hover = inside ? NearestPoint(d->store, plot->xAxis->pixelToCoord(pixel.x())) : -1;

    // A cursor with no trace under it (an empty chart) marks the mouse.
    const double freeX = plot->xAxis->pixelToCoord(pixel.x()), freeY = plot->yAxis->pixelToCoord(pixel.y());
    const TTraceStore& s = d->store;
    int shown = 0;
    for (int k = 0; k < 2; ++k) {
        const long long i = CursorIndex(k);
        const bool onTrace = i >= 0;
        const bool visible = d->cursorOn && (onTrace || (inside && k == d->freeCursor && !bothPinned));
        d->cursorLine[k]->setVisible(visible);
        d->cursorPoint[k]->setVisible(visible);
        if (!visible)
            continue;
        ++shown;
        const double x = onTrace ? s.X(size_t(i)) : freeX, y = onTrace ? s.Y(size_t(i)) : freeY;
        d->cursorLine[k]->point1->setCoords(x, 0);
        d->cursorLine[k]->point2->setCoords(x, 1);
        d->cursorPoint[k]->position->setCoords(x, y);
    }

    const long long a = CursorIndex(0), b = CursorIndex(1);
    QString text;
    if (a >= 0 && b >= 0) {
        text = MeasureText(size_t(a), size_t(b));
    } else if (shown > 0) {
        const int k = a >= 0 ? 0 : (b >= 0 ? 1 : d->freeCursor);
        const QPointF p = d->cursorPoint[k]->position->coords();
        text = PlainTime(p.x() * d->secondsPerUnit) + " sek.   " + PlainNumber(p.y(), PlainLocale(), 6) +
               ValueAxisTitle();
    }
    d->cursorLabel->setVisible(!text.isEmpty());
    if (!text.isEmpty()) {
        d->cursorLabel->setText(text);
        // The read-out sits in the plot's upper corner away from the free
        // cursor, so it never covers the point being looked at.
        const QPointF at = d->cursorPoint[d->freeCursor]->position->pixelPosition();
        const bool right = at.x() < area.center().x();
        d->cursorLabel->setPositionAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        d->cursorLabel->position->setCoords(right ? area.right() - 6 : area.left() + 6, area.top() + 6);
    }
    plot->layer("overlay")->replot();
}

void TChart::ClickCursorAt(const QPointF& pixel)
{
    if (!d->cursorOn)
        return;
    QCustomPlot* plot = d->plot;
    if (!plot->axisRect()->rect().contains(pixel.toPoint()))
        return;
    const long long i = NearestPoint(d->store, plot->xAxis->pixelToCoord(pixel.x()));
    if (i < 0)
        return;
    if (d->pinned[0] >= 0 && d->pinned[1] >= 0) {
        // Both placed: the nearer one moves to the click.
        const double x = d->store.X(size_t(i));
        const int k = std::fabs(d->store.X(size_t(d->pinned[0])) - x) <= std::fabs(d->store.X(size_t(d->pinned[1])) - x)
                          ? 0
                          : 1;
        d->pinned[k] = i;
    } else {
        d->pinned[d->freeCursor] = i;
        d->freeCursor = 1 - d->freeCursor;
        d->hover = -1;
    }
    MoveCursorTo(pixel);
}

QString TChart::CursorText() const
{
    return d->cursorLabel->visible() ? d->cursorLabel->text() : QString();
}

QString TChart::CsvText() const
{
    const TTraceStore& s = d->store;
    const QLocale locale = PlainLocale();
    TStampText stamp;
    QString text = ChartCsvHeader(ValueAxisTitle());
    for (size_t i = 0; i < s.Size(); ++i)
        AppendChartCsvLine(text, s.X(i) * d->secondsPerUnit, s.Y(i), s.Stamp(i), locale, stamp);
    return text;
}

bool TChart::ExportCsv(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Written in slices so a day's trace does not need one huge string.
    const TTraceStore& s = d->store;
    const QLocale locale = PlainLocale();
    TStampText stamp;
    QString block = ChartCsvHeader(ValueAxisTitle());
    for (size_t i = 0; i <= s.Size(); ++i) {
        if (i < s.Size())
            AppendChartCsvLine(block, s.X(i) * d->secondsPerUnit, s.Y(i), s.Stamp(i), locale, stamp);
        if (block.size() > (1 << 20) || i == s.Size()) {
            const std::string bytes = ToWindows1252(block);
            if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
                return false;
            block.clear();
        }
    }
    return file.commit();
}

bool TChart::SavePng(const QString& path)
{
    return d->plot->savePng(path, std::max(d->plot->width(), 1), std::max(d->plot->height(), 1));
}

bool TChart::SavePdf(const QString& path)
{
    return d->plot->savePdf(path, std::max(d->plot->width(), 1), std::max(d->plot->height(), 1));
}

void TChart::SetPrintHeading(const QString& heading) { d->printHeading = heading; }
QString TChart::PrintHeading() const { return d->printHeading.isEmpty() ? Title() : d->printHeading; }

bool TChart::PrintTo(QPrinter* printer) { return PrintPage(printer, PrintHeading()); }

bool TChart::PrintPage(QPrinter* printer, const QString& heading)
{
    QCustomPlot* plot = d->plot;
    QCPPainter painter;
    if (!painter.begin(printer))
        return false;
    // The page is laid out in points: one unit of the painter is 1/72 inch,
    // and fonts sized in pixels are then sized in points on paper.
    const QRect area = printer->pageLayout().paintRectPixels(printer->resolution());
    const double perPoint = double(printer->resolution()) / 72.0;
    const int w = std::max(1, int(area.width() / perPoint)), h = std::max(1, int(area.height() / perPoint));
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setMode(QCPPainter::pmNonCosmetic);
    painter.scale(perPoint, perPoint);

    // What the print changes, put back afterwards.
    struct TAxisLook {
        QCPAxis* axis;
        QFont tick, label;
        QPen base;
    };
    std::vector<TAxisLook> axes;
    for (QCPAxis* axis : plot->axisRect()->axes())
        axes.push_back({axis, axis->tickLabelFont(), axis->labelFont(), axis->basePen()});
    const QString title = d->title->text();
    const QFont titleFont = d->title->font();
    const QFont legendFont = plot->legend->font();
    std::vector<std::pair<QCPAbstractItem*, bool>> items;
    for (int i = 0; i < plot->itemCount(); ++i)
        items.emplace_back(plot->item(i), plot->item(i)->visible());

    auto points = [this](int size, bool bold) {
        QFont f = font();
        f.setPixelSize(size);
        f.setBold(bold);
        return f;
    };
    for (const TAxisLook& a : axes) {
        a.axis->setTickLabelFont(points(PrintTickPoints, false));
        a.axis->setLabelFont(points(PrintTitlePoints, true));
        QPen pen = a.base;
        pen.setWidthF(std::min(pen.widthF(), 1.5));
        a.axis->setBasePen(pen);
    }
    d->title->setText(heading);
    d->title->setFont(points(PrintHeadingPoints, true));
    // The screen's legend font is sized for the screen's resolution; on
    // paper it would come out at the printer's and fall outside its box.
    plot->legend->setFont(points(PrintTickPoints, false));
    for (auto& item : items)
        item.first->setVisible(false);  // the cursors belong to the screen
    plot->setBackground(Qt::white);     // paper, not the screen's silver

    {
        // A dry run lays the plot out at the page's size first: axis margins
        // follow the tick labels of the layout before, and turned labels
        // (the decay chart's) would otherwise push the axis title off the page.
        QPicture dry;
        QCPPainter dryPainter(&dry);
        dryPainter.setMode(QCPPainter::pmNoCaching);
        plot->toPainter(&dryPainter, w, h);
    }
    plot->toPainter(&painter, w, h);
    const bool ok = painter.end();

    for (const TAxisLook& a : axes) {
        a.axis->setTickLabelFont(a.tick);
        a.axis->setLabelFont(a.label);
        a.axis->setBasePen(a.base);
    }
    d->title->setText(title);
    d->title->setFont(titleFont);
    plot->legend->setFont(legendFont);
    for (auto& item : items)
        item.first->setVisible(item.second);
    plot->setBackground(Silver);
    plot->replot(QCustomPlot::rpQueuedReplot);
    return ok;
}

// --- TTeeCommander ---------------------------------------------------------

TTeeCommander::TTeeCommander(TChart* chart, QWidget* parent) : QToolBar(parent), chart_(chart)
{
    setFixedHeight(33);
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextOnly);

    auto add = [this](const QString& text, const QString& tip, bool checkable) {
        QAction* a = addAction(text);
        a->setToolTip(tip);
        a->setCheckable(checkable);
        return a;
    };
    ZoomButton = add("Zoom", "Drag a rectangle to zoom in; the wheel zooms too", true);
    PanButton = add("Pan", "Drag to move the view; the wheel zooms", true);
    auto* modes = new QActionGroup(this);
    modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    modes->addAction(ZoomButton);
    modes->addAction(PanButton);
    FitAllButton = add("Fit all", "Show the whole trace", false);
    ResetViewButton = add("Follow", "Back to the running axes", false);
    addSeparator();
    CursorButton = add("Cursor", "Show time and value at the mouse", true);
    addSeparator();
    SavePngButton = add("PNG...", "Save the chart as a PNG picture", false);
    SavePdfButton = add("PDF...", "Save the chart as a PDF document", false);
    ExportCsvButton = add("CSV...", "Export all points as a semicolon-separated file", false);
    PrintButton = add("Print...", "Print the chart", false);
    addSeparator();
    OpenButton = add("Open...", "Show a recording or an exported CSV file in the stopped chart", false);
    RecordButton = add("Record", "Write every run to a CSV file in the Recordings folder as it happens "
                                 "(switching it on takes effect at the next Start)", true);
    RecordButton->setChecked(RecordSetting());
    ShowFileCommands(false);

    // Scripts and GUI drivers find the commands, and the buttons the tool bar
    // shows for them, by their member names.
    const auto name = [this](QAction* action, const char* text) {
        action->setObjectName(QString::fromLatin1(text));
        if (QWidget* button = widgetForAction(action))
            button->setObjectName(QString::fromLatin1(text));
    };
#define COMMANDER_NAME(member) name(member, #member)
    COMMANDER_NAME(ZoomButton);
    COMMANDER_NAME(PanButton);
    COMMANDER_NAME(FitAllButton);
    COMMANDER_NAME(ResetViewButton);
    COMMANDER_NAME(CursorButton);
    COMMANDER_NAME(SavePngButton);
    COMMANDER_NAME(SavePdfButton);
    COMMANDER_NAME(ExportCsvButton);
    COMMANDER_NAME(PrintButton);
    COMMANDER_NAME(OpenButton);
    COMMANDER_NAME(RecordButton);
#undef COMMANDER_NAME

    connect(ZoomButton, &QAction::triggered, this, &TTeeCommander::ZoomButtonClick);
    connect(PanButton, &QAction::triggered, this, &TTeeCommander::PanButtonClick);
    connect(FitAllButton, &QAction::triggered, this, &TTeeCommander::FitAllButtonClick);
    connect(ResetViewButton, &QAction::triggered, this, &TTeeCommander::ResetViewButtonClick);
    connect(CursorButton, &QAction::triggered, this, &TTeeCommander::CursorButtonClick);
    connect(SavePngButton, &QAction::triggered, this, &TTeeCommander::SavePngButtonClick);
    connect(SavePdfButton, &QAction::triggered, this, &TTeeCommander::SavePdfButtonClick);
    connect(ExportCsvButton, &QAction::triggered, this, &TTeeCommander::ExportCsvButtonClick);
    connect(PrintButton, &QAction::triggered, this, &TTeeCommander::PrintButtonClick);
    connect(OpenButton, &QAction::triggered, this, &TTeeCommander::OpenButtonClick);
    connect(RecordButton, &QAction::triggered, this, &TTeeCommander::RecordButtonClick);
}

TTeeCommander::~TTeeCommander() = default;

void TTeeCommander::ZoomButtonClick(bool checked)
{
    chart_->SetMouseMode(checked ? TChart::mmZoom : TChart::mmNone);
}

void TTeeCommander::PanButtonClick(bool checked)
{
    chart_->SetMouseMode(checked ? TChart::mmPan : TChart::mmNone);
}

void TTeeCommander::FitAllButtonClick() { chart_->FitAll(); }
void TTeeCommander::ResetViewButtonClick() { chart_->ResetView(); }
void TTeeCommander::CursorButtonClick(bool checked) { chart_->SetCursorEnabled(checked); }

namespace {

// The folder of the last file saved from a chart toolbar in this run.
QString g_lastFolder;

const char* const ChartSection = "Chart";

TIniFile SetupIni() { return TIniFile(SetupIniPath()); }

// The folder the user last saved to or opened from becomes the data folder,
// for this run and the next.
void RememberFolder(const QString& folder)
{
    g_lastFolder = folder;
    SetupIni().WriteString(ChartSection, "DataDirectory", folder.toStdString());
}

// Nothing but letters, digits, "-" and "_", no leading "-" (a shell would
// take it for an option), no empty name.
QString FileNamePart(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || c == '-' || c == '_')
            out += c;
        else if (!out.endsWith('_'))
            out += '_';
    }
    while (out.startsWith('-') || out.startsWith('_'))
        out.remove(0, 1);
    while (out.endsWith('_'))
        out.chop(1);
    return out;
}

// The device the chart shows: the selection's title, else the one the
// chart's own title carries ("--Talvis--  Start : ...").
QString ChartDeviceTitle(const TChart& chart)
{
    if (MainState && !MainState->DeviceTitle.isEmpty() && MainState->DeviceTitle != "0")
        return MainState->DeviceTitle;
    const QString title = chart.Title().section('\n', 0, 0);
    if (title.startsWith("--")) {
        const qsizetype end = title.indexOf("--", 2);
        if (end > 2)
            return title.mid(2, end - 2);
    }
    return title;
}

// A message that, like the dialogs, leaves the loop running.
void ReportWriteFailure(QWidget* parent, const QString& path)
{
    auto* box = new QMessageBox(QMessageBox::Critical, "Error", "The file could not be written:\n" + path,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace

QString TTeeCommander::DefaultFolder()
{
    if (!g_lastFolder.isEmpty() && QFileInfo(g_lastFolder).isDir())
        return g_lastFolder;
    const QString stored = QString::fromStdString(SetupIni().ReadString(ChartSection, "DataDirectory", ""));
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    // Pinned settings keep the files the program writes beside them, out of
    // the user's documents.
    const QString pinned = QString::fromStdString(SettingsDirectoryOverride());
    if (!pinned.isEmpty() && QFileInfo(pinned).isDir())
        return QDir::cleanPath(pinned);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QString::fromStdString(HomeDirectory());
}

QString TTeeCommander::DefaultFileName(const QString& suffix, const QDateTime& when) const
{
    return FileNameFor(ChartDeviceTitle(*chart_), suffix, when);
}

QString TTeeCommander::FileNameFor(const QString& deviceTitle, const QString& suffix, const QDateTime& when)
{
    QString device = FileNamePart(deviceTitle);
    if (device.isEmpty())
        device = "Chart";
    QString name = device + "_" + when.toString("yyyy-MM-dd_HH-mm-ss");
    if (!suffix.isEmpty())
        name += "." + suffix;
    return name;
}

QString TTeeCommander::RecordingsFolder() { return QDir(DefaultFolder()).filePath("Recordings"); }

bool TTeeCommander::RecordSetting() { return SetupIni().ReadBool(ChartSection, "Record", true); }

void TTeeCommander::RecordButtonClick(bool checked)
{
    SetupIni().WriteBool(ChartSection, "Record", checked);
    // Off ends the recording now; on begins one with the next Start.
    if (!checked && chart_->Recorder().Active()) {
        chart_->Recorder().End();
        chart_->SetStatusText("Recording ended: " + QString::fromStdString(chart_->Recorder().Path()));
    }
}

void TTeeCommander::ShowFileCommands(bool on)
{
    OpenButton->setVisible(on);
    RecordButton->setVisible(on);
}

void TTeeCommander::PreparePrinter(QPrinter& printer, const QDateTime& when) const
{
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(DefaultFileName(QString(), when));
}

void TTeeCommander::OpenButtonClick()
{
    if (RaiseOpenDialog())
        return;
    if (CanOpen && !CanOpen()) {
        auto* box = new QMessageBox(QMessageBox::Information, "Info",
                                    "Stop the chart before you open a file.", QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    QString folder = RecordingsFolder();
    if (!QFileInfo(folder).isDir())
        folder = DefaultFolder();
    auto* dialog = new QFileDialog(this, "Open a recording or an export", folder,
                                   "CSV files (*.csv);;All files (*)");
    dialog->setObjectName("OpenDialog1");
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!path.isEmpty())
            OpenChartFile(path);
    });
    OpenDialog1 = dialog;
    dialog->open();
}

bool TTeeCommander::OpenChartFile(const QString& path)
{
    // A long file reads with a bar that shows how far it got and can stop it.
    QProgressDialog progress("Reading " + QFileInfo(path).fileName() + " ...", "Cancel", 0, 1000, this);
    progress.setObjectName("OpenProgress");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    TChartFileInfo info;
    QString error;
    const bool ok = chart_->OpenFile(path, info, error, [&progress](qint64 done, qint64 total) {
        progress.setValue(int(total > 0 ? done * 1000 / total : 0));
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.close();
    if (!ok) {
        if (!error.isEmpty()) {
            auto* box = new QMessageBox(QMessageBox::Warning, "Data error", error, QMessageBox::Ok, this);
            box->setObjectName("OpenError");
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        return false;
    }
    RememberFolder(QFileInfo(path).absolutePath());
    if (FileOpened)
        FileOpened(path, info);
    chart_->RepaintNow();
    return true;
}

bool TTeeCommander::RaiseOpenDialog()
{
    // One dialog at a time; a second click brings the open one forward.
    QWidget* open = SaveDialog1   ? static_cast<QWidget*>(SaveDialog1.data())
                    : OpenDialog1 ? static_cast<QWidget*>(OpenDialog1.data())
                                  : PrintDialog1.data();
    if (!open)
        return false;
    open->raise();
    open->activateWindow();
    return true;
}

void TTeeCommander::OpenSaveDialog(const QString& caption, const QString& filter, const QString& suffix, TWriter write)
{
    if (RaiseOpenDialog())
        return;
    auto* dialog = new QFileDialog(this, caption, DefaultFolder(), filter);
    dialog->setObjectName("SaveDialog1");
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(suffix);
    dialog->selectFile(DefaultFileName(suffix));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this, write](const QString& path) {
        if (path.isEmpty())
            return;
        RememberFolder(QFileInfo(path).absolutePath());
        if (!write(path))
            ReportWriteFailure(this, path);
    });
    SaveDialog1 = dialog;
    dialog->open();
}

void TTeeCommander::SavePngButtonClick()
{
    OpenSaveDialog("Save chart as PNG", "PNG pictures (*.png)", "png",
                   [this](const QString& path) { return chart_->SavePng(path); });
}

void TTeeCommander::SavePdfButtonClick()
{
    OpenSaveDialog("Save chart as PDF", "PDF documents (*.pdf)", "pdf",
                   [this](const QString& path) { return chart_->SavePdf(path); });
}

void TTeeCommander::ExportCsvButtonClick()
{
    OpenSaveDialog("Export chart points", "CSV files (*.csv)", "csv",
                   [this](const QString& path) { return chart_->ExportCsv(path); });
}

void TTeeCommander::PrintButtonClick()
{
    if (RaiseOpenDialog())
        return;
    // The printer outlives the handler: it is used when the dialog is accepted.
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // A file chosen for the last print is not offered again: the new one is
    // named after this moment, as the exports are.
    printer_->setOutputFileName(QString());
    PreparePrinter(*printer_);
    auto* dialog = new QPrintDialog(printer_.get(), this);
    dialog->setObjectName("PrintDialog1");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] { PrintDialogAccepted(); });
    PrintDialog1 = dialog;
    dialog->open();
}

void TTeeCommander::PrintDialogAccepted()
{
    if (printer_ && !chart_->PrintTo(printer_.get())) {
        auto* box = new QMessageBox(QMessageBox::Critical, "Error", "The printer could not be started.",
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}
