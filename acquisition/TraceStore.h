#pragma once
#include <QRect>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The points of a chart trace, kept so that a day's run (several million
// samples) still draws in well under a screen frame.
//
// Points live in fixed-size chunks, so growth never copies the trace and the
// slack is at most one chunk. Each chunk carries a min/max pyramid over
// blocks of 8, 16, ... samples, which answers "lowest and highest value in
// samples a..b" with a few dozen comparisons whatever the length. Colours
// are stored as one-byte indices into a small palette: nearly every point is
// black. Each point may carry the wall-clock time it was taken at, kept as a
// 32-bit millisecond offset from the first stamp of its chunk (a chunk covers
// minutes, the offset reaches ±24 days).
//
// x is expected to grow from point to point (the acquisition appends in time
// order); the store notices when it does not and then decimates by index
// instead of by time, so a stray point never breaks drawing.
class TTraceStore {
public:
    static constexpr uint32_t Black = 0xFF000000u;  // ARGB

    struct TExtreme {
        bool valid = false;  // false when the range holds no finite value
        double min = 0, max = 0;
        size_t minIndex = 0, maxIndex = 0;
    };

    TTraceStore();
    ~TTraceStore();
    TTraceStore(const TTraceStore&) = delete;
    TTraceStore& operator=(const TTraceStore&) = delete;

    // Marks a point without a wall-clock time.
    static constexpr int64_t NoStamp = INT64_MIN;

    // `stampMs`: the point's wall-clock time in milliseconds since the epoch.
    void Append(double x, double y, uint32_t argb = Black, int64_t stampMs = NoStamp);
    void Clear();

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    double X(size_t i) const { return chunk(i).x[i & Mask]; }
    double Y(size_t i) const { return chunk(i).y[i & Mask]; }
    uint32_t Colour(size_t i) const { return palette_[chunk(i).c[i & Mask]]; }
    uint8_t ColourIndex(size_t i) const { return chunk(i).c[i & Mask]; }
    uint32_t PaletteColour(uint8_t index) const { return palette_[index]; }
    // Colours in use so far (1: every point is black, no index need be read).
    size_t PaletteSize() const { return palette_.size(); }
    // Asks for point i's coordinates to be brought into the cache: a frame
    // reads a thousand points spread over a long trace, and misses that
    // overlap cost far less than misses one after another.
    void Prefetch(size_t i) const
    {
        const TChunk& c = chunk(i);
        __builtin_prefetch(&c.x[i & Mask]);
        __builtin_prefetch(&c.y[i & Mask]);
    }
    // The wall-clock time of point i, or NoStamp.
    int64_t Stamp(size_t i) const
    {
        const TChunk& c = chunk(i);
        const int32_t offset = c.t[i & Mask];
        return offset == NoOffset ? NoStamp : c.t0 + offset;
    }

    // Changes whenever points go (Clear, Swap): until it does, point i
    // keeps its coordinates.
    uint64_t Generation() const { return generation_; }

    // True while every x so far was >= the one before it.
    bool XMonotonic() const { return monotonic_; }
    // Extents of all finite coordinates (valid false when there are none).
    TExtreme XExtent() const;
    TExtreme YExtent() const;

    // Lowest and highest finite y among points [first, last), with the index
    // of one point holding each.
    TExtreme RangeMinMax(size_t first, size_t last) const;

    // Count, mean and standard deviation (n - 1) of the finite y among
    // points [first, last). Whole chunks answer from moments kept when they
    // fill up, so a range of millions of points costs about two chunks.
    struct TStats {
        size_t count = 0;
        double mean = 0, m2 = 0;  // m2: sum of squared deviations from the mean
        double StdDev() const;
    };
    TStats RangeStats(size_t first, size_t last) const;

    // Exchanges the points of two stores (a file read into a store of its own
    // replaces a chart's trace only once it has been read in full).
    void Swap(TTraceStore& other);

    // First index whose x is not below `x` (Size() when none). Meaningful
    // only for a monotonic trace; never fails otherwise.
    size_t LowerBound(double x) const;

    // What one frame's decimation found, for the next frame to build on: the
    // axis moves by a sample or so between frames, so nearly every column
    // keeps most of its samples and its extremes follow from the remembered
    // ones plus the few samples that came or went.
    class TColumnCache {
        friend class TTraceStore;
        struct TColumn {
            size_t first = 0, last = 0;
            TExtreme e;
        };
        std::vector<TColumn> columns;
        std::vector<size_t> out, edges;
        uint64_t generation = ~uint64_t(0);
        size_t size = 0;
        double x0 = 0, x1 = 0;
    };

    // Indices of the points to draw for the key range [x0, x1] spread over
    // `columns` pixel columns, in trace order. When the range holds no more
    // than two points per column every point is returned; otherwise each
    // column contributes the points of its lowest and highest value (in the
    // order they were taken), so the drawn envelope and every spike stay
    // exact. The nearest point outside each end is included so the line runs
    // on to the plot's edges.
    void Decimate(double x0, double x1, int columns, std::vector<size_t>& out,
                  TColumnCache* cache = nullptr) const;

    // The key where pixel column `c` of `columns` over [x0, x1] begins.
    static double ColumnEdge(double x0, double x1, int columns, int c);

    // Bytes held for the trace (chunks, pyramid, palette, bookkeeping).
    size_t MemoryBytes() const;

    static constexpr int ChunkBits = 14;
    static constexpr size_t ChunkSize = size_t(1) << ChunkBits;

private:
    static constexpr size_t Mask = ChunkSize - 1;
    static constexpr int FirstLevel = 3;  // blocks of 8 samples
    static constexpr size_t FirstBlock = size_t(1) << FirstLevel;
    static constexpr int32_t NoOffset = INT32_MIN;

    struct TMinMax {
        double min, max;
    };
    // Start of each pyramid level in a chunk's pyramid array: blocks of 8
    // first, then 16, 32, ... up to one block for the whole chunk.
    static constexpr std::array<size_t, ChunkBits + 2> LevelOffsets = [] {
        std::array<size_t, ChunkBits + 2> offsets{};
        size_t offset = 0;
        for (int level = FirstLevel; level <= ChunkBits + 1; ++level) {
            offsets[size_t(level)] = offset;
            offset += (ChunkSize >> level);
        }
        return offsets;
    }();
    // The times of a full chunk as a straight line: x[k] lies within `err`
    // of x0 + k * step (a steady sample period), so the index where a time
    // falls follows from arithmetic, without touching the samples. Not valid
    // (err < 0) when the times wander too far from any line to tell.
    struct TTimeLine {
        double x0 = 0, step = 0, err = -1;
        bool Valid() const { return err >= 0; }
    };
    struct TChunk {
        static constexpr size_t PyramidSize = LevelOffsets[ChunkBits + 1];
        double x[ChunkSize];
        double y[ChunkSize];
        uint8_t c[ChunkSize];
        int32_t t[ChunkSize];
        int64_t t0 = NoStamp;  // the first stamp of the chunk; offsets count from it
        TStats moments;        // of the whole chunk, set when it is full
        TMinMax pyramid[PyramidSize];
        TMinMax& block(int level, size_t b) { return pyramid[LevelOffsets[size_t(level)] + b]; }
        const TMinMax& block(int level, size_t b) const { return pyramid[LevelOffsets[size_t(level)] + b]; }
    };

    const TChunk& chunk(size_t i) const { return *chunks_[i >> ChunkBits]; }
    void prefetchY(size_t i) const { __builtin_prefetch(&chunk(i).y[i & Mask]); }
    // Moments of y over [first, last) inside one chunk, sample by sample.
    TStats chunkStats(size_t chunkIndex, size_t first, size_t last) const;
    uint8_t paletteIndex(uint32_t argb);
    // Min/max of [first, last) inside one chunk, folded into `e`.
    void chunkMinMax(size_t chunkIndex, size_t first, size_t last, TExtreme& e) const;
    size_t locate(const TChunk& c, size_t chunkIndex, int level, size_t block, double value,
                  bool wantMin) const;
    void emitColumn(size_t first, size_t last, std::vector<size_t>& out, TColumnCache::TColumn* cached) const;
    // First index in [lo, hi) whose x is not below `edge` (hi when none).
    size_t searchEdge(size_t lo, size_t hi, double edge) const;
    // searchEdge from the chunks' time lines, for a monotonic trace. False
    // when a line cannot tell; `lo` may then have moved on to the last
    // sample of a chunk that lies wholly before the edge.
    bool edgeFromLines(size_t& lo, size_t hi, double edge, size_t& found) const;
    static TTimeLine fitLine(const TChunk& c);

    std::vector<std::unique_ptr<TChunk>> chunks_;
    // The time line of each full chunk, kept together: a frame consults one
    // for every column, and a chunk's own header is far from the cache.
    std::vector<TTimeLine> lines_;
    size_t size_ = 0;
    uint64_t generation_ = 0;  // changes when points go (Clear)
    bool monotonic_ = true;
    double lastX_ = 0;
    TExtreme xExtent_, yExtent_;
    std::vector<uint32_t> palette_;
};

// The decimated trace is drawn as one bar a pixel wide per column. Bars of
// neighbouring columns overlap for most of their height (a trace with
// spikes makes every column tall), and a bar one pixel wide is filled row
// by row, a call for each pixel. This gives the same pixels as horizontal
// runs: a row's run begins where a bar first covers it and ends where the
// next bar no longer does, so the work follows the outline of the trace,
// not its area. Rows with equal runs are joined. `bars` are in column order
// (width 1); rows outside [rowMin, rowMax] are left out. `scratch` is kept
// by the caller between frames.
void MergeColumnBars(const std::vector<QRect>& bars, int rowMin, int rowMax, std::vector<QRect>& out,
                     std::vector<int>& scratch);
