#include "acquisition/TraceStore.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();

void Fold(TTraceStore::TExtreme& e, const TTraceStore::TExtreme& part)
{
    if (!part.valid)
        return;
    if (!e.valid || part.min < e.min) e.min = part.min, e.minIndex = part.minIndex;
    if (!e.valid || part.max > e.max) e.max = part.max, e.maxIndex = part.maxIndex;
    e.valid = true;
}
}

TTraceStore::TTraceStore() { palette_.push_back(Black); }
TTraceStore::~TTraceStore() = default;

void TTraceStore::Clear()
{
    chunks_.clear();
    chunks_.shrink_to_fit();
    lines_.clear();
    lines_.shrink_to_fit();
    size_ = 0;
    ++generation_;
    monotonic_ = true;
    lastX_ = 0;
    xExtent_ = TExtreme{};
    yExtent_ = TExtreme{};
    palette_.assign(1, Black);
}

uint8_t TTraceStore::paletteIndex(uint32_t argb)
{
    if (argb == palette_[0])
        return 0;
    for (size_t i = 1; i < palette_.size(); ++i)
        if (palette_[i] == argb)
            return uint8_t(i);
    if (palette_.size() < 256) {
        palette_.push_back(argb);
        return uint8_t(palette_.size() - 1);
    }
    // A full palette takes the nearest colour it has rather than failing.
    auto channel = [](uint32_t v, int shift) { return int((v >> shift) & 0xFF); };
    size_t best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (size_t i = 0; i < palette_.size(); ++i) {
        long distance = 0;
        for (int shift : {0, 8, 16, 24}) {
            long d = channel(palette_[i], shift) - channel(argb, shift);
            distance += d * d;
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return uint8_t(best);
}

void TTraceStore::Append(double x, double y, uint32_t argb, int64_t stampMs)
{
    const size_t i = size_;
    const size_t p = i & Mask;
    if (p == 0) {
        chunks_.emplace_back(new TChunk);
        TChunk& fresh = *chunks_.back();
        std::fill(std::begin(fresh.pyramid), std::end(fresh.pyramid), TMinMax{Inf, -Inf});
    }
    TChunk& c = *chunks_.back();
    c.x[p] = x;
    c.y[p] = y;
    c.c[p] = paletteIndex(argb);
    int32_t offset = NoOffset;
    if (stampMs != NoStamp) {
        if (c.t0 == NoStamp)
            c.t0 = stampMs;
        // A clock set weeks away within one chunk loses that point's stamp
        // rather than giving it a wrong one.
        int64_t delta = 0;
        if (!__builtin_sub_overflow(stampMs, c.t0, &delta) && delta > NoOffset && delta <= INT32_MAX)
            offset = int32_t(delta);
    }
    c.t[p] = offset;

    if (i > 0 && !(x >= lastX_))
        monotonic_ = false;
    lastX_ = x;

    if (std::isfinite(x)) {
        if (!xExtent_.valid || x < xExtent_.min) xExtent_.min = x, xExtent_.minIndex = i;
        if (!xExtent_.valid || x > xExtent_.max) xExtent_.max = x, xExtent_.maxIndex = i;
        xExtent_.valid = true;
    }
    if (std::isfinite(y)) {
        if (!yExtent_.valid || y < yExtent_.min) yExtent_.min = y, yExtent_.minIndex = i;
        if (!yExtent_.valid || y > yExtent_.max) yExtent_.max = y, yExtent_.maxIndex = i;
        yExtent_.valid = true;
        for (int level = FirstLevel; level <= ChunkBits; ++level) {
            TMinMax& m = c.block(level, p >> level);
            if (y < m.min) m.min = y;
            if (y > m.max) m.max = y;
        }
    }
    ++size_;
    if ((size_ & Mask) == 0) {
        c.moments = chunkStats(chunks_.size() - 1, 0, ChunkSize);
        lines_.push_back(fitLine(c));
    }
}

TTraceStore::TTimeLine TTraceStore::fitLine(const TChunk& c)
{
    TTimeLine line;
    const double x0 = c.x[0], xn = c.x[ChunkSize - 1];
    if (!std::isfinite(x0) || !std::isfinite(xn) || !(xn > x0))
        return line;
    const double step = (xn - x0) / double(ChunkSize - 1);
    double err = 0;
    for (size_t k = 0; k < ChunkSize; ++k) {
        const double d = std::fabs(c.x[k] - (x0 + double(k) * step));
        if (!(d <= err))
            err = d;  // NaN too: it fails the check below
    }
    // Room for the rounding of the line's own arithmetic at these times.
    err += 8 * std::numeric_limits<double>::epsilon() * (std::fabs(x0) + std::fabs(xn));
    // A line that leaves a quarter sample of doubt answers too seldom.
    if (!(err < step / 4))
        return line;
    line.x0 = x0;
    line.step = step;
    line.err = err;
    return line;
}

bool TTraceStore::edgeFromLines(size_t& lo, size_t hi, double edge, size_t& found) const
{
    // Index units of slack for the rounding of the division.
    constexpr double Slack = 1e-6;
    for (size_t ci = lo >> ChunkBits; ci < chunks_.size(); ++ci) {
        const size_t start = ci << ChunkBits;
        if (start >= hi) {
            found = hi;  // every sample before hi lies before the edge
            return true;
        }
        if (ci >= lines_.size())
            return false;
        const TTimeLine& line = lines_[ci];
        if (!line.Valid())
            return false;
        // Samples below `first` surely lie before the edge, samples from
        // `surely` on surely not; where both agree, that is the answer.
        const double first = std::ceil((edge - line.x0 - line.err) / line.step - Slack);
        const double surely = std::ceil((edge - line.x0 + line.err) / line.step + Slack);
        if (first >= double(ChunkSize)) {
            if (start + ChunkSize >= hi) {
                found = hi;
                return true;
            }
            lo = std::max(lo, start + ChunkSize - 1);
            continue;
        }
        if (!(first == surely))
            return false;
        // The first sample at or past the edge; one before lo means lo is.
        const size_t k = start + size_t(std::max(first, 0.0));
        found = std::clamp(k, lo, hi);
        return true;
    }
    return false;
}

namespace {
// Chan's pairwise combination: stays exact where sums of squares would
// cancel (a small ripple on a large offset).
void Combine(TTraceStore::TStats& a, const TTraceStore::TStats& b)
{
    if (b.count == 0)
        return;
    if (a.count == 0) {
        a = b;
        return;
    }
    const double n = double(a.count + b.count);
    const double delta = b.mean - a.mean;
    a.mean += delta * double(b.count) / n;
    a.m2 += b.m2 + delta * delta * double(a.count) * double(b.count) / n;
    a.count += b.count;
}
}  // namespace

double TTraceStore::TStats::StdDev() const
{
    return count > 1 ? std::sqrt(std::max(0.0, m2 / double(count - 1))) : 0.0;
}

TTraceStore::TStats TTraceStore::chunkStats(size_t chunkIndex, size_t first, size_t last) const
{
    const TChunk& c = *chunks_[chunkIndex];
    TStats s;
    for (size_t p = first; p < last; ++p) {
        const double y = c.y[p];
        if (!std::isfinite(y))
            continue;
        ++s.count;
        const double delta = y - s.mean;
        s.mean += delta / double(s.count);
        s.m2 += delta * (y - s.mean);
    }
    return s;
}

TTraceStore::TStats TTraceStore::RangeStats(size_t first, size_t last) const
{
    TStats total;
    last = std::min(last, size_);
    while (first < last) {
        const size_t chunkIndex = first >> ChunkBits;
        const size_t begin = first & Mask;
        const size_t end = std::min(ChunkSize, begin + (last - first));
        const bool whole = begin == 0 && end == ChunkSize && ((chunkIndex + 1) << ChunkBits) <= size_;
        Combine(total, whole ? chunks_[chunkIndex]->moments : chunkStats(chunkIndex, begin, end));
        first += end - begin;
    }
    return total;
}

void TTraceStore::Swap(TTraceStore& other)
{
    std::swap(chunks_, other.chunks_);
    std::swap(lines_, other.lines_);
    std::swap(size_, other.size_);
    std::swap(monotonic_, other.monotonic_);
    std::swap(lastX_, other.lastX_);
    std::swap(xExtent_, other.xExtent_);
    std::swap(yExtent_, other.yExtent_);
    std::swap(palette_, other.palette_);
    // Both hold other points now: column caches built on either are stale.
    generation_ = other.generation_ = std::max(generation_, other.generation_) + 1;
}

TTraceStore::TExtreme TTraceStore::XExtent() const { return xExtent_; }
TTraceStore::TExtreme TTraceStore::YExtent() const { return yExtent_; }

// Walks from a pyramid block down to the sample that holds `value`.
size_t TTraceStore::locate(const TChunk& c, size_t chunkIndex, int level, size_t block, double value,
                           bool wantMin) const
{
    while (level > FirstLevel) {
        --level;
        block *= 2;
        const TMinMax& left = c.block(level, block);
        if ((wantMin ? left.min : left.max) != value)
            ++block;
    }
    const size_t base = chunkIndex << ChunkBits;
    const size_t begin = block << FirstLevel;
    const size_t end = std::min(begin + FirstBlock, size_ - base);
    for (size_t p = begin; p < end; ++p)
        if (c.y[p] == value)
            return base + p;
    return base + begin;  // not reached: the block's extreme is one of its samples
}

void TTraceStore::chunkMinMax(size_t chunkIndex, size_t first, size_t last, TExtreme& e) const
{
    const TChunk& c = *chunks_[chunkIndex];
    const size_t base = chunkIndex << ChunkBits;
    // The best block found so far for each side; resolved to a sample at the end.
    struct TBest {
        int level = -1;  // -1: e already holds the sample index
        size_t block = 0;
    } bestMin, bestMax;

    auto takeValue = [&](double lo, double hi, size_t index, int level, size_t block) {
        if (!(lo <= hi))
            return;  // empty block or a non-finite sample
        if (!e.valid || lo < e.min) {
            e.min = lo;
            e.minIndex = index;
            bestMin = {level, block};
        }
        if (!e.valid || hi > e.max) {
            e.max = hi;
            e.maxIndex = index;
            bestMax = {level, block};
        }
        e.valid = true;
    };

    size_t p = first;
    while (p < last) {
        if ((p & (FirstBlock - 1)) != 0 || p + FirstBlock > last) {
            const double y = c.y[p];
            if (std::isfinite(y))
                takeValue(y, y, base + p, -1, 0);
            ++p;
            continue;
        }
        int level = FirstLevel;
        while (level < ChunkBits && (p & ((size_t(2) << level) - 1)) == 0 && p + (size_t(2) << level) <= last)
            ++level;
        const TMinMax& m = c.block(level, p >> level);
        takeValue(m.min, m.max, 0, level, p >> level);
        p += size_t(1) << level;
    }
    if (bestMin.level >= 0)
        e.minIndex = locate(c, chunkIndex, bestMin.level, bestMin.block, e.min, true);
    if (bestMax.level >= 0)
        e.maxIndex = locate(c, chunkIndex, bestMax.level, bestMax.block, e.max, false);
}

TTraceStore::TExtreme TTraceStore::RangeMinMax(size_t first, size_t last) const
{
    TExtreme e;
    last = std::min(last, size_);
    while (first < last) {
        const size_t chunkIndex = first >> ChunkBits;
        const size_t chunkEnd = std::min(last, (chunkIndex + 1) << ChunkBits);
        // Each chunk is folded on its own so that indices resolve inside it.
        TExtreme part;
        chunkMinMax(chunkIndex, first & Mask, chunkEnd - (chunkIndex << ChunkBits), part);
        Fold(e, part);
        first = chunkEnd;
    }
    return e;
}

size_t TTraceStore::LowerBound(double x) const { return searchEdge(0, size_, x); }

size_t TTraceStore::searchEdge(size_t lo, size_t hi, double edge) const
{
    if (lo >= hi)
        return lo;
    // Before any sample is read: the frame's columns move a fraction of a
    // sample, and a long trace's samples are out of the cache by then.
    if (monotonic_) {
        size_t found = 0;
        if (edgeFromLines(lo, hi, edge, found))
            return found;
    }
    if (!(X(lo) < edge))
        return lo;
    // X(left) < edge; right == hi or X(right) >= edge. The samples are
    // nearly evenly spaced, so a guess from the slope lands next to the
    // answer and a short gallop brackets it: a handful of memory touches
    // where a plain bisection of a long trace misses the cache every step.
    size_t left = lo, right = hi;
    size_t guess = lo + 1;
    const double xl = X(lo), xh = X(hi - 1);
    if (hi - lo > 16 && xh > xl) {
        const double f = (edge - xl) / (xh - xl);
        if (f > 0 && f < 1)
            guess = lo + size_t(f * double(hi - 1 - lo));
        guess = std::clamp(guess, lo + 1, hi);
    }
    if (guess < hi) {
        if (X(guess) < edge) {
            left = guess;
            for (size_t step = 1; left + step < hi; step *= 2) {
                if (X(left + step) < edge) {
                    left += step;
                } else {
                    right = left + step;
                    break;
                }
            }
        } else {
            right = guess;
            for (size_t step = 1; right - left > step; step *= 2) {
                if (X(right - step) < edge) {
                    left = right - step;
                    break;
                }
                right -= step;
            }
        }
    }
    while (right - left > 1) {
        const size_t mid = left + (right - left) / 2;
        if (X(mid) < edge)
            left = mid;
        else
            right = mid;
    }
    return right;
}

double TTraceStore::ColumnEdge(double x0, double x1, int columns, int c)
{
    if (c >= columns)
        return x1;
    return x0 + (x1 - x0) * (double(c) / double(columns));
}

void TTraceStore::emitColumn(size_t first, size_t last, std::vector<size_t>& out,
                             TColumnCache::TColumn* cached) const
{
    if (last - first <= 2) {
        for (size_t i = first; i < last; ++i)
            out.push_back(i);
        if (cached)
            *cached = {};
        return;
    }
    TExtreme e;
    bool known = false;
    if (cached && cached->first < cached->last) {
        // Extremes of the samples both columns share are the remembered
        // ones, as long as the samples holding them are still inside.
        const size_t lo = std::max(first, cached->first), hi = std::min(last, cached->last);
        const TExtreme& old = cached->e;
        if (lo < hi && (!old.valid || (old.minIndex >= lo && old.minIndex < hi && old.maxIndex >= lo &&
                                       old.maxIndex < hi))) {
            e = old;
            Fold(e, RangeMinMax(first, lo));
            Fold(e, RangeMinMax(hi, last));
            known = true;
        }
    }
    if (!known)
        e = RangeMinMax(first, last);
    if (cached)
        *cached = {first, last, e};
    if (!e.valid)
        return;
    if (e.minIndex == e.maxIndex) {
        out.push_back(e.minIndex);
    } else {
        out.push_back(std::min(e.minIndex, e.maxIndex));
        out.push_back(std::max(e.minIndex, e.maxIndex));
    }
}

void TTraceStore::Decimate(double x0, double x1, int columns, std::vector<size_t>& out, TColumnCache* cache) const
{
    out.clear();
    if (size_ == 0 || columns <= 0)
        return;
    if (cache) {
        if (cache->generation != generation_ || cache->columns.size() != size_t(columns)) {
            cache->columns.assign(size_t(columns), {});
            cache->generation = generation_;
            cache->size = 0;
        } else if (cache->size == size_ && cache->x0 == x0 && cache->x1 == x1) {
            out = cache->out;  // nothing changed since the last frame
            return;
        }
    }
    auto column = [&](size_t c) { return cache ? &cache->columns[c] : nullptr; };
    const size_t limit = 2 * size_t(columns);

    size_t first = 0, last = size_;
    const bool byTime = monotonic_ && std::isfinite(x0) && std::isfinite(x1);
    double lo = x0, hi = x1;
    if (byTime) {
        if (hi < lo)
            std::swap(lo, hi);
        first = searchEdge(0, size_, lo);
        last = searchEdge(first, size_, std::nextafter(hi, Inf));  // first index past hi
        if (first > 0)
            out.push_back(first - 1);
    }

    if (last - first <= limit) {
        for (size_t i = first; i < last; ++i)
            out.push_back(i);
    } else if (byTime) {
        // The edges first, then the columns: a column reads the samples that
        // came or went at its edges since the last frame, long out of the
        // cache, and asked for all at once those reads overlap.
        std::vector<size_t> localEdges;
        std::vector<size_t>& edges = cache ? cache->edges : localEdges;
        edges.resize(size_t(columns) + 1);
        edges[0] = first;
        for (int c = 1; c <= columns; ++c) {
            const size_t a = edges[size_t(c - 1)];
            const size_t b = c < columns ? searchEdge(a, last, ColumnEdge(lo, hi, columns, c)) : last;
            edges[size_t(c)] = b;
            // A column that grew reads its new last sample; one that only
            // lost samples at its start reads none.
            const TColumnCache::TColumn* cached = column(size_t(c - 1));
            if (b > a && (!cached || cached->last != b))
                prefetchY(b - 1);
        }
        for (int c = 1; c <= columns; ++c)
            emitColumn(edges[size_t(c - 1)], edges[size_t(c)], out, column(size_t(c - 1)));
    } else {
        // Out-of-order times: spread the samples evenly over the columns.
        const size_t n = last - first;
        for (size_t c = 0; c < size_t(columns); ++c)
            emitColumn(first + n * c / size_t(columns), first + n * (c + 1) / size_t(columns), out, column(c));
    }

    if (byTime && last < size_)
        out.push_back(last);
    if (cache) {
        cache->out = out;
        cache->size = size_;
        cache->x0 = x0;
        cache->x1 = x1;
    }
}

size_t TTraceStore::MemoryBytes() const
{
    return sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * sizeof(TChunk) +
           lines_.capacity() * sizeof(TTimeLine) +
           palette_.capacity() * sizeof(palette_[0]);
}

void MergeColumnBars(const std::vector<QRect>& bars, int rowMin, int rowMax, std::vector<QRect>& out,
                     std::vector<int>& runStart)
{
    out.clear();
    if (rowMax < rowMin)
        return;
    runStart.assign(size_t(rowMax - rowMin) + 1, 0);
    int prevTop = 1, prevBottom = 0, prevX = 0;  // rows the last bar covered (none)
    auto addRun = [&](int y, int x0, int x1) {
        if (!out.empty()) {
            QRect& last = out.back();
            if (last.bottom() == y - 1 && last.left() == x0 && last.right() == x1) {
                last.setBottom(y);
                return;
            }
        }
        out.emplace_back(QPoint(x0, y), QPoint(x1, y));
    };
    // The runs of rows [a, b] end at the last bar's column.
    auto endRuns = [&](int a, int b) {
        for (int y = a; y <= b; ++y)
            addRun(y, runStart[size_t(y - rowMin)], prevX);
    };
    auto beginRuns = [&](int a, int b, int x) {
        for (int y = a; y <= b; ++y)
            runStart[size_t(y - rowMin)] = x;
    };
    for (const QRect& bar : bars) {
        const int x = bar.left();
        const int top = std::max(bar.top(), rowMin), bottom = std::min(bar.bottom(), rowMax);
        if (x != prevX + 1) {
            endRuns(prevTop, prevBottom);
            prevTop = 1, prevBottom = 0;
        }
        if (top > bottom) {
            endRuns(prevTop, prevBottom);
        } else if (prevTop > prevBottom) {
            beginRuns(top, bottom, x);
        } else {
            // Rows the last bar covered and this one does not end; rows this
            // one covers and the last did not begin.
            endRuns(prevTop, std::min(prevBottom, top - 1));
            endRuns(std::max(prevTop, bottom + 1), prevBottom);
            beginRuns(top, std::min(bottom, prevTop - 1), x);
            beginRuns(std::max(top, prevBottom + 1), bottom, x);
        }
        prevTop = top, prevBottom = bottom, prevX = x;
    }
    endRuns(prevTop, prevBottom);
}
