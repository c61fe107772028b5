#include "acquisition/TraceStore.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();
}

TTraceStore::TTraceStore() { palette_.push_back(Black); }
TTraceStore::~TTraceStore() = default;

void TTraceStore::Clear()
{
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
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

void TTraceStore::Append(double x, double y, uint32_t argb)
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
        if (part.valid) {
            if (!e.valid || part.min < e.min) e.min = part.min, e.minIndex = part.minIndex;
            if (!e.valid || part.max > e.max) e.max = part.max, e.maxIndex = part.maxIndex;
            e.valid = true;
        }
        first = chunkEnd;
    }
    return e;
}

size_t TTraceStore::LowerBound(double x) const
{
    size_t lo = 0, hi = size_;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (X(mid) < x)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

double TTraceStore::ColumnEdge(double x0, double x1, int columns, int c)
{
    if (c >= columns)
        return x1;
    return x0 + (x1 - x0) * (double(c) / double(columns));
}

void TTraceStore::emitColumn(size_t first, size_t last, std::vector<size_t>& out) const
{
    if (last - first <= 2) {
        for (size_t i = first; i < last; ++i)
            out.push_back(i);
        return;
    }
    const TExtreme e = RangeMinMax(first, last);
    if (!e.valid)
        return;
    if (e.minIndex == e.maxIndex) {
        out.push_back(e.minIndex);
    } else {
        out.push_back(std::min(e.minIndex, e.maxIndex));
        out.push_back(std::max(e.minIndex, e.maxIndex));
    }
}

void TTraceStore::Decimate(double x0, double x1, int columns, std::vector<size_t>& out) const
{
    out.clear();
    if (size_ == 0 || columns <= 0)
        return;
    const size_t limit = 2 * size_t(columns);

    size_t first = 0, last = size_;
    const bool byTime = monotonic_ && std::isfinite(x0) && std::isfinite(x1);
    if (byTime) {
        if (x1 < x0)
            std::swap(x0, x1);
        first = LowerBound(x0);
        last = first;
        // First index past x1.
        size_t hi = size_;
        while (last < hi) {
            const size_t mid = last + (hi - last) / 2;
            if (X(mid) <= x1)
                last = mid + 1;
            else
                hi = mid;
        }
        if (first > 0)
            out.push_back(first - 1);
    }

    if (last - first <= limit) {
        for (size_t i = first; i < last; ++i)
            out.push_back(i);
    } else if (byTime) {
        size_t a = first;
        for (int c = 1; c <= columns; ++c) {
            size_t b = last;
            if (c < columns) {
                const double edge = ColumnEdge(x0, x1, columns, c);
                size_t hi = last;
                b = a;
                while (b < hi) {
                    const size_t mid = b + (hi - b) / 2;
                    if (X(mid) < edge)
                        b = mid + 1;
                    else
                        hi = mid;
                }
            }
            emitColumn(a, b, out);
            a = b;
        }
    } else {
        // Out-of-order times: spread the samples evenly over the columns.
        const size_t n = last - first;
        for (size_t c = 0; c < size_t(columns); ++c)
            emitColumn(first + n * c / size_t(columns), first + n * (c + 1) / size_t(columns), out);
    }

    if (byTime && last < size_)
        out.push_back(last);
}

size_t TTraceStore::MemoryBytes() const
{
    return sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * sizeof(TChunk) +
           palette_.capacity() * sizeof(palette_[0]);
}
