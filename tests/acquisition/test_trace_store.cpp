#include "acquisition/TraceStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <cmath>
#include <limits>
#include <random>
#include <set>

namespace {

TTraceStore::TExtreme BruteMinMax(const std::vector<double>& y, size_t first, size_t last)
{
    TTraceStore::TExtreme e;
    for (size_t i = first; i < last && i < y.size(); ++i) {
        if (!std::isfinite(y[i]))
            continue;
        if (!e.valid || y[i] < e.min) e.min = y[i];
        if (!e.valid || y[i] > e.max) e.max = y[i];
        e.valid = true;
    }
    return e;
}

// Random walk with spikes: neighbouring blocks differ, and single samples
// stand far out, which is what the pyramid must not lose.
std::vector<double> Fill(TTraceStore& store, size_t n, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_int_distribution<int> spike(0, 999);
    std::vector<double> y(n);
    double v = 0;
    for (size_t i = 0; i < n; ++i) {
        v += step(rng);
        y[i] = spike(rng) == 0 ? v * 50 : v;
        store.Append(i * 0.01, y[i]);
    }
    return y;
}

void ExpectExtreme(const TTraceStore& store, const std::vector<double>& y, size_t a, size_t b)
{
    const auto got = store.RangeMinMax(a, b);
    const auto want = BruteMinMax(y, a, b);
    ASSERT_EQ(got.valid, want.valid) << a << ".." << b;
    if (!want.valid)
        return;
    EXPECT_EQ(got.min, want.min) << a << ".." << b;
    EXPECT_EQ(got.max, want.max) << a << ".." << b;
    ASSERT_GE(got.minIndex, a);
    ASSERT_LT(got.minIndex, b);
    ASSERT_GE(got.maxIndex, a);
    ASSERT_LT(got.maxIndex, b);
    EXPECT_EQ(y[got.minIndex], want.min);
    EXPECT_EQ(y[got.maxIndex], want.max);
}

}  // namespace

TEST(TraceStore, PointsColoursAndClear)
{
    TTraceStore s;
    EXPECT_TRUE(s.Empty());
    s.Append(0.0, 1.5);
    s.Append(0.01, -2.25, 0xFFFF0000u);
    s.Append(0.02, 3.0);
    ASSERT_EQ(s.Size(), 3u);
    EXPECT_EQ(s.X(1), 0.01);
    EXPECT_EQ(s.Y(1), -2.25);
    EXPECT_EQ(s.Colour(0), TTraceStore::Black);
    EXPECT_EQ(s.Colour(1), 0xFFFF0000u);
    EXPECT_EQ(s.Colour(2), TTraceStore::Black);
    EXPECT_EQ(s.ColourIndex(0), 0);
    EXPECT_EQ(s.YExtent().min, -2.25);
    EXPECT_EQ(s.YExtent().max, 3.0);
    EXPECT_EQ(s.XExtent().max, 0.02);

    s.Clear();
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_FALSE(s.YExtent().valid);
    EXPECT_FALSE(s.RangeMinMax(0, 10).valid);
    std::vector<size_t> out{1, 2, 3};
    s.Decimate(0, 1, 100, out);
    EXPECT_TRUE(out.empty());
    s.Append(5.0, 7.0);
    EXPECT_EQ(s.Size(), 1u);
    EXPECT_EQ(s.Y(0), 7.0);
    EXPECT_TRUE(s.XMonotonic());
}

TEST(TraceStore, ManyColoursNeverOverflowThePalette)
{
    TTraceStore s;
    for (uint32_t i = 0; i < 400; ++i)
        s.Append(i, i, 0xFF000000u | (i * 0x010101u));
    for (uint32_t i = 0; i < 255; ++i)
        EXPECT_EQ(s.Colour(i), 0xFF000000u | (i * 0x010101u));
    // Beyond the palette a colour maps to a near one, not to garbage.
    const uint32_t c = s.Colour(399);
    EXPECT_NEAR(int(c & 0xFF), int(399 * 0x010101u & 0xFF), 2);
}

TEST(TraceStore, PyramidMatchesBruteForceOnRandomRanges)
{
    TTraceStore s;
    const size_t n = 3 * TTraceStore::ChunkSize + 12345;  // several chunks and a partial one
    const auto y = Fill(s, n, 7);
    ASSERT_EQ(s.Size(), n);

    std::mt19937_64 rng(11);
    std::uniform_int_distribution<size_t> pos(0, n);
    for (int k = 0; k < 3000; ++k) {
        size_t a = pos(rng), b = pos(rng);
        if (a > b) std::swap(a, b);
        ExpectExtreme(s, y, a, b);
    }
    // Ranges inside one block of 8, across one block edge, odd ends, whole chunks.
    for (size_t a : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(4095), size_t(16383),
                     size_t(16384), size_t(40000)}) {
        for (size_t len : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(8), size_t(9), size_t(15),
                           size_t(17), size_t(1000), size_t(16384), size_t(16385), size_t(33000)})
            ExpectExtreme(s, y, a, a + len);
    }
    ExpectExtreme(s, y, 0, n);
    ExpectExtreme(s, y, n - 1, n);
    ExpectExtreme(s, y, n - 5, n + 100);  // past the end is cut off
    EXPECT_FALSE(s.RangeMinMax(10, 10).valid);
    EXPECT_FALSE(s.RangeMinMax(n + 3, n + 9).valid);
}

TEST(TraceStore, NonFiniteValuesAreLeftOutOfExtremes)
{
    TTraceStore s;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> y;
    for (int i = 0; i < 100; ++i) {
        const double v = (i % 7 == 3) ? nan : (i % 11 == 5 ? std::numeric_limits<double>::infinity() : i * 0.5);
        y.push_back(v);
        s.Append(i, v);
    }
    for (size_t a = 0; a < 100; a += 3)
        for (size_t b = a; b <= 100; b += 5)
            ExpectExtreme(s, y, a, b);
    EXPECT_TRUE(std::isnan(s.Y(3)));
    EXPECT_FALSE(s.RangeMinMax(3, 4).valid);
}

TEST(TraceStore, DecimationKeepsEveryColumnsExtremesWithinTwoPointsPerColumn)
{
    TTraceStore s;
    const size_t n = 200000;
    const auto y = Fill(s, n, 3);
    std::vector<size_t> out;

    struct Case {
        double x0, x1;
        int columns;
    };
    for (const Case& c : {Case{0, (n - 1) * 0.01, 649}, Case{0, (n - 1) * 0.01, 1}, Case{123.456, 987.6, 580},
                          Case{-50, 3000, 300}, Case{1500.003, 1999.5, 97}}) {
        s.Decimate(c.x0, c.x1, c.columns, out);
        ASSERT_LE(out.size(), 2 * size_t(c.columns) + 2);
        ASSERT_TRUE(std::is_sorted(out.begin(), out.end()));
        const std::set<size_t> chosen(out.begin(), out.end());
        ASSERT_EQ(chosen.size(), out.size());

        // Each column, found by brute force, has its min and max among the chosen.
        size_t i = s.LowerBound(c.x0);
        for (int col = 0; col < c.columns; ++col) {
            const double edge = TTraceStore::ColumnEdge(c.x0, c.x1, c.columns, col + 1);
            double lo = 0, hi = 0;
            bool any = false;
            const size_t begin = i;
            while (i < n && (col + 1 == c.columns ? s.X(i) <= c.x1 : s.X(i) < edge)) {
                if (!any || y[i] < lo) lo = y[i];
                if (!any || y[i] > hi) hi = y[i];
                any = true;
                ++i;
            }
            if (!any)
                continue;
            bool hasLo = false, hasHi = false;
            for (auto it = chosen.lower_bound(begin); it != chosen.end() && *it < i; ++it) {
                hasLo |= y[*it] == lo;
                hasHi |= y[*it] == hi;
            }
            EXPECT_TRUE(hasLo && hasHi) << "column " << col << " of " << c.columns;
        }
        // The neighbours outside the range are there so the line reaches the edges.
        const size_t first = s.LowerBound(c.x0);
        if (first > 0) {
            EXPECT_EQ(out.front(), first - 1);
        }
    }
}

TEST(TraceStore, FrameToFrameCacheGivesTheSameAnswerAsAFreshDecimation)
{
    // A running chart: a sample per frame, the axis growing or sliding, now
    // and then a zoom, a resize or a cleared trace.
    TTraceStore s;
    std::mt19937_64 rng(21);
    std::normal_distribution<double> noise(0.0, 1.0);
    TTraceStore::TColumnCache cache;
    std::vector<size_t> cached, fresh;
    double t = 0;
    for (int i = 0; i < 60000; ++i) {
        s.Append(t, noise(rng) + (i % 997 == 0 ? 30 : 0));
        t += 0.01;
    }
    for (int frame = 0; frame < 3000; ++frame) {
        for (int k = 0; k < 1 + frame % 3; ++k) {
            s.Append(t, noise(rng) * (frame % 500 == 7 ? 100 : 1));
            t += 0.01;
        }
        double x0 = frame % 2 ? 0.0 : t * 0.3, x1 = t;
        int columns = 300;
        if (frame % 700 > 650) { x0 = 100; x1 = 140; }    // zoomed in
        if (frame % 900 > 880) columns = 450;              // resized
        if (frame == 2000) { s.Clear(); t = 0; }
        s.Decimate(x0, x1, columns, cached, &cache);
        s.Decimate(x0, x1, columns, fresh);
        ASSERT_EQ(cached, fresh) << "frame " << frame;
        s.Decimate(x0, x1, columns, cached, &cache);  // unchanged frame
        ASSERT_EQ(cached, fresh) << "frame " << frame;
    }
}

TEST(TraceStore, EdgesFoundFromSteadyTimesMatchASearchOfTheSamples)
{
    // Where a chunk's times lie on a line, the store finds an edge by
    // arithmetic; where they do not (jitter, a pause, repeated times), by
    // looking. Either way the answer is the one a search of the samples
    // gives, for the first point not before a time and for every column of
    // a decimation.
    struct TPattern {
        const char* name;
        double (*next)(double t, size_t i, std::mt19937_64& rng);
        double start;
    };
    const TPattern patterns[] = {
        {"steady", [](double t, size_t, std::mt19937_64&) { return t + 0.01; }, 0},
        {"epoch seconds", [](double t, size_t, std::mt19937_64&) { return t + 0.01; }, 1.7e9},
        {"jitter",
         [](double t, size_t, std::mt19937_64& rng) {
             return t + 0.01 * std::uniform_real_distribution<double>(0.6, 1.4)(rng);
         },
         0},
        {"small jitter",
         [](double t, size_t, std::mt19937_64& rng) {
             return t + 0.01 + 1e-4 * std::uniform_real_distribution<double>(-1, 1)(rng);
         },
         0},
        {"pauses", [](double t, size_t i, std::mt19937_64&) { return t + (i % 23456 == 0 ? 7.5 : 0.01); }, 0},
        {"repeats", [](double t, size_t i, std::mt19937_64&) { return i % 2 ? t : t + 0.01; }, 0},
    };
    for (const TPattern& pattern : patterns) {
        SCOPED_TRACE(pattern.name);
        std::mt19937_64 rng(99);
        std::uniform_real_distribution<double> value(-1, 1);
        TTraceStore s;
        std::vector<double> xs, ys;
        double t = pattern.start;
        const size_t n = 5 * TTraceStore::ChunkSize + 1234;
        for (size_t i = 0; i < n; ++i) {
            xs.push_back(t);
            ys.push_back(value(rng));
            s.Append(t, ys.back());
            t = pattern.next(t, i + 1, rng);
        }
        ASSERT_TRUE(s.XMonotonic());
        const auto lowerBound = [&](double x) { return size_t(std::lower_bound(xs.begin(), xs.end(), x) - xs.begin()); };

        // Times at, just beside and between samples, and beyond both ends.
        std::uniform_int_distribution<size_t> pick(0, n - 1);
        std::vector<double> edges = {xs.front() - 1, xs.back() + 1, xs.front(), xs.back()};
        for (int k = 0; k < 3000; ++k) {
            const double x = xs[pick(rng)];
            edges.push_back(x);
            edges.push_back(std::nextafter(x, -INFINITY));
            edges.push_back(std::nextafter(x, INFINITY));
            edges.push_back(x + 0.004);
        }
        for (const double e : edges)
            ASSERT_EQ(s.LowerBound(e), lowerBound(e)) << std::setprecision(17) << e;

        // Decimations over ranges that start and end anywhere.
        std::uniform_real_distribution<double> at(xs.front() - 5, xs.back() + 5);
        std::vector<size_t> out, want;
        for (int k = 0; k < 60; ++k) {
            double x0 = at(rng), x1 = at(rng);
            if (x1 < x0)
                std::swap(x0, x1);
            const int columns = 50 + int(k * 11);
            s.Decimate(x0, x1, columns, out);

            want.clear();
            const size_t first = lowerBound(x0), last = lowerBound(std::nextafter(x1, INFINITY));
            if (first > 0)
                want.push_back(first - 1);
            if (last - first <= 2 * size_t(columns)) {
                for (size_t i = first; i < last; ++i)
                    want.push_back(i);
            } else {
                size_t a = first;
                for (int c = 1; c <= columns; ++c) {
                    const size_t b = c < columns ? std::max(a, lowerBound(TTraceStore::ColumnEdge(x0, x1, columns, c))) : last;
                    if (b - a <= 2) {
                        for (size_t i = a; i < b; ++i)
                            want.push_back(i);
                    } else {
                        const auto lo = size_t(std::min_element(ys.begin() + a, ys.begin() + b) - ys.begin());
                        const auto hi = size_t(std::max_element(ys.begin() + a, ys.begin() + b) - ys.begin());
                        want.push_back(std::min(lo, hi));
                        want.push_back(std::max(lo, hi));
                    }
                    a = b;
                }
            }
            if (last < n)
                want.push_back(last);
            ASSERT_EQ(out, want) << std::setprecision(17) << x0 << ".." << x1 << " in " << columns;
        }
    }
}

TEST(TraceStore, DecimationGivesFullResolutionWhenZoomedIn)
{
    TTraceStore s;
    Fill(s, 100000, 5);
    std::vector<size_t> out;
    // 0.01 s per sample: 5 s hold 501 samples, under two per column of 649.
    s.Decimate(100.0, 105.0, 649, out);
    size_t first = 0, last = 0;
    while (s.X(first) < 100.0) ++first;
    for (last = first; s.X(last) <= 105.0; ++last) {}
    ASSERT_NEAR(double(last - first), 501.0, 1.0);
    ASSERT_EQ(out.size(), last - first + 2);
    for (size_t k = 0; k < out.size(); ++k)
        EXPECT_EQ(out[k], first - 1 + k);

    // A range past the end still draws the last point leading into it.
    s.Decimate(5000.0, 6000.0, 649, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], 99999u);
}

TEST(TraceStore, TimesOutOfOrderDoNotBreakDecimation)
{
    TTraceStore s;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> x(0, 100);
    std::vector<double> y;
    for (int i = 0; i < 50000; ++i) {
        y.push_back(std::sin(i * 0.001) + (i == 31234 ? 40 : 0));
        s.Append(x(rng), y.back());
    }
    EXPECT_FALSE(s.XMonotonic());
    std::vector<size_t> out;
    s.Decimate(10, 20, 500, out);
    EXPECT_LE(out.size(), 1000u);
    EXPECT_TRUE(std::find(out.begin(), out.end(), 31234u) != out.end());
    EXPECT_LE(s.LowerBound(50), s.Size());
}

TEST(TraceStore, MemoryStaysWithin28BytesPerPointAtTenMillion)
{
    TTraceStore s;
    const size_t n = 10'000'000;
    const int64_t start = 1'765'000'000'000;
    for (size_t i = 0; i < n; ++i)
        s.Append(i * 0.01, double(i % 1000), TTraceStore::Black, start + int64_t(i) * 10);
    const double perPoint = double(s.MemoryBytes()) / double(n);
    EXPECT_LE(perPoint, 28.0);
    EXPECT_GE(perPoint, 21.0);  // x, y, a colour byte and a stamp at the very least
    EXPECT_EQ(s.Stamp(n - 1), start + int64_t(n - 1) * 10);
    RecordProperty("bytes_per_point", std::to_string(perPoint));
    const auto e = s.RangeMinMax(0, n);
    EXPECT_EQ(e.min, 0.0);
    EXPECT_EQ(e.max, 999.0);

    s.Clear();
    EXPECT_LT(s.MemoryBytes(), size_t(4096));
}

TEST(TraceStore, WallClockStampsComeBackAsTheyWent)
{
    TTraceStore s;
    const int64_t start = 1'765'290'309'120;  // 2025-12-09, a time of day with milliseconds
    s.Append(0, 1);                           // no stamp
    s.Append(0.01, 2, TTraceStore::Black, start);
    s.Append(0.02, 3, TTraceStore::Black, start - 5000);  // the clock was set back
    s.Append(0.03, 4, TTraceStore::Black, start + (int64_t(1) << 31));  // weeks later: too far for the chunk
    s.Append(0.04, 5, TTraceStore::Black, start + (int64_t(1) << 31) - 1);
    s.Append(0.05, 6, TTraceStore::Black, TTraceStore::NoStamp);
    EXPECT_EQ(s.Stamp(0), TTraceStore::NoStamp);
    EXPECT_EQ(s.Stamp(1), start);
    EXPECT_EQ(s.Stamp(2), start - 5000);
    EXPECT_EQ(s.Stamp(3), TTraceStore::NoStamp);
    EXPECT_EQ(s.Stamp(4), start + (int64_t(1) << 31) - 1);
    EXPECT_EQ(s.Stamp(5), TTraceStore::NoStamp);

    // Each chunk counts from its own first stamp, so a run of months keeps
    // every stamp as long as no single chunk spans weeks.
    TTraceStore longRun;
    const size_t n = 3 * TTraceStore::ChunkSize + 5;
    const int64_t hour = 3'600'000;
    for (size_t i = 0; i < n; ++i)
        longRun.Append(double(i), 0, TTraceStore::Black, start + int64_t(i) * hour);  // 1 sample an hour
    size_t lost = 0;
    for (size_t i = 0; i < n; ++i)
        lost += longRun.Stamp(i) != start + int64_t(i) * hour;
    // 2^31 ms is 596 hours: later samples of each 16384-hour chunk lose theirs.
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(longRun.Stamp(TTraceStore::ChunkSize), start + int64_t(TTraceStore::ChunkSize) * hour);
    EXPECT_EQ(longRun.Stamp(596), start + 596 * hour);
    EXPECT_EQ(longRun.Stamp(597), TTraceStore::NoStamp);

    // Extreme stamps neither overflow nor come back wrong.
    TTraceStore odd;
    odd.Append(0, 0, TTraceStore::Black, INT64_MAX);
    odd.Append(1, 0, TTraceStore::Black, INT64_MIN + 1);
    EXPECT_EQ(odd.Stamp(0), INT64_MAX);
    EXPECT_EQ(odd.Stamp(1), TTraceStore::NoStamp);
    odd.Clear();
    odd.Append(0, 0, TTraceStore::Black, 42);
    EXPECT_EQ(odd.Stamp(0), 42);
}

namespace {

// Mean and standard deviation of a range against a two-pass sum over the
// same samples, on random ranges that start and end inside, across and at
// the edges of chunks, with NaN samples mixed in and a large offset that
// breaks naive sums of squares.
TEST(TraceStoreStats, RandomRangesMatchTwoPassSums)
{
    TTraceStore store;
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    const size_t n = 3 * TTraceStore::ChunkSize + 777;
    std::vector<double> y(n);
    for (size_t i = 0; i < n; ++i) {
        y[i] = i % 997 == 5 ? std::numeric_limits<double>::quiet_NaN() : 1e6 + noise(rng);
        store.Append(double(i), y[i]);
    }
    std::uniform_int_distribution<size_t> pick(0, n);
    const size_t C = TTraceStore::ChunkSize;
    std::vector<std::pair<size_t, size_t>> ranges{{0, n}, {0, C}, {C, 2 * C}, {C - 1, 2 * C + 1}, {5, 6}, {7, 7}};
    for (int k = 0; k < 200; ++k) {
        size_t a = pick(rng), b = pick(rng);
        ranges.emplace_back(std::min(a, b), std::max(a, b));
    }
    for (const auto& [a, b] : ranges) {
        double sum = 0;
        size_t count = 0;
        for (size_t i = a; i < b; ++i)
            if (std::isfinite(y[i]))
                sum += y[i], ++count;
        const double mean = count ? sum / double(count) : 0;
        double m2 = 0;
        for (size_t i = a; i < b; ++i)
            if (std::isfinite(y[i]))
                m2 += (y[i] - mean) * (y[i] - mean);
        const TTraceStore::TStats s = store.RangeStats(a, b);
        ASSERT_EQ(s.count, count) << a << ".." << b;
        if (count == 0)
            continue;
        EXPECT_NEAR(s.mean, mean, 1e-6) << a << ".." << b;  // 1e-12 of the offset
        const double sd = count > 1 ? std::sqrt(m2 / double(count - 1)) : 0;
        EXPECT_NEAR(s.StdDev(), sd, 1e-9 + sd * 1e-6) << a << ".." << b;
    }
}

}  // namespace

namespace {

// Bars of random heights, with gaps and empty ones, against their runs: the
// same pixels, none twice, and far fewer rectangles for tall neighbours.
TEST(ColumnBars, RunsCoverTheSamePixelsAsTheBarsModel)
{
    std::mt19937 rng(5);
    std::vector<QRect> bars, out;
    std::vector<int> scratch;
    for (int round = 0; round < 300; ++round) {
        const int rowMin = int(rng() % 20), rowMax = rowMin + 5 + int(rng() % 60);
        bars.clear();
        int x = int(rng() % 5);
        for (int n = int(rng() % 80); n > 0; --n) {
            x += rng() % 10 == 0 ? 2 + int(rng() % 3) : 1;  // now and then a gap
            const int a = int(rng() % 90) - 10, b = a + int(rng() % 50) - 3;  // some empty
            bars.emplace_back(x, a, 1, b - a + 1);
        }
        MergeColumnBars(bars, rowMin, rowMax, out, scratch);
        std::set<std::pair<int, int>> want, got;
        for (const QRect& r : bars)
            for (int y = std::max(r.top(), rowMin); y <= std::min(r.bottom(), rowMax); ++y)
                want.emplace(r.left(), y);
        size_t pixels = 0;
        for (const QRect& r : out)
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int c = r.left(); c <= r.right(); ++c)
                    got.emplace(c, y), ++pixels;
        ASSERT_EQ(got, want) << "round " << round;
        ASSERT_EQ(pixels, want.size()) << "a pixel filled twice, round " << round;
    }
    // Neighbours that share their height become one rectangle.
    bars.clear();
    for (int c = 0; c < 100; ++c)
        bars.emplace_back(c, 10, 1, 200);
    MergeColumnBars(bars, 0, 500, out, scratch);
    EXPECT_EQ(out, std::vector<QRect>{QRect(0, 10, 100, 200)});
}

}  // namespace
