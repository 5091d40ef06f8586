#include "spectrogram/spectrogram_plot.h"

#include "platform/os.h"
#include "views/view_geometry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace sonavik {

namespace {

constexpr int kFineShift = 4;     // running sums every 16 frames
constexpr int kCoarseShift = 8;   // and every 256 frames

} // namespace

std::int64_t PlotAxis::firstPixel(std::int64_t cell) const
{
    return floorToInt((static_cast<double>(cell) - origin + kViewEpsilon) * zoom);
}

std::int64_t PlotAxis::lastPixel(std::int64_t cell) const
{
    if (!magnified())
        return firstPixel(cell);
    return floorToInt((static_cast<double>(cell) + 1.0 - origin + kViewEpsilon) * zoom) - 1;
}

CellRange PlotAxis::cellsUnder(std::int64_t pixel) const
{
    const double p = static_cast<double>(pixel);
    if (magnified()) {
        const std::int64_t c = ceilToInt(origin + (p + 1.0) / zoom - kViewEpsilon) - 1;
        return {c, c};
    }
    return {ceilToInt(p / zoom + origin - kViewEpsilon), ceilToInt((p + 1.0) / zoom + origin - kViewEpsilon) - 1};
}

CellRange PlotAxis::limitCells(CellRange r) const
{
    return {std::max<std::int64_t>(r.lo, 0), std::min<std::int64_t>(r.hi, cells - 1)};
}

CellRange PlotAxis::limitPixels(CellRange r) const
{
    return {std::max<std::int64_t>(r.lo, 0), std::min<std::int64_t>(r.hi, pixels - 1)};
}

CellRange PlotAxis::visibleCells() const
{
    if (magnified())
        return limitCells({cellsUnder(0).lo, cellsUnder(pixels - 1).hi});
    return limitCells({0, cells - 1});
}

CellRange PlotAxis::dataPixels() const { return limitPixels({firstPixel(0), lastPixel(cells - 1)}); }

bool PlotAxis::touches(CellRange r) const
{
    return !(r.lo < 0 && r.hi < 0) && !(r.lo > cells - 1 && r.hi > cells - 1);
}

std::unique_ptr<FrameBlockSums> FrameBlockSums::build(const ColourGrid& grid, std::vector<std::int64_t> exact)
{
    try {
        auto sums = std::make_unique<FrameBlockSums>();
        const std::int64_t frames = grid.frames;
        const std::int64_t bins = grid.bins;
        sums->frames_ = frames;
        sums->bins_ = bins;
        const std::size_t row = 3 * static_cast<std::size_t>(bins);
        const std::size_t fineSize = (static_cast<std::size_t>(frames >> kFineShift) + 1) * row;
        const std::size_t coarseSize = (static_cast<std::size_t>(frames >> kCoarseShift) + 1) * row;
        // Whole sums of a few frames (at most 0.3 bytes per cell, so that all stays under a tenth of the
        // spectra): a plot that is drawn again at the same edges reads one row for each.
        exact.erase(std::remove_if(exact.begin(), exact.end(), [&](std::int64_t f) { return f < 0 || f > frames; }),
                    exact.end());
        std::sort(exact.begin(), exact.end());
        exact.erase(std::unique(exact.begin(), exact.end()), exact.end());
        if (4 * row * exact.size() > 3 * static_cast<std::size_t>(frames * bins) / 10)
            exact.clear();
        const std::size_t exactSize = exact.size() * row;
        // The plot draws without them (only slower): where the system would have to take the memory
        // from elsewhere, or a container would kill the process for it, they are not made.
        const std::uint64_t room = availableMemoryBytes();
        if (room > 0 && 2 * fineSize + 4 * coarseSize + 4 * exactSize > room)
            return nullptr;
        sums->fine_.resize(fineSize);
        sums->coarse_.resize(coarseSize);
        sums->exactFrames_ = std::move(exact);
        sums->exact_.resize(exactSize);
        // A few bins at a time, each bitmap row read in order, so that the marks are written a tile of
        // bins side by side.
        constexpr std::int64_t kTile = 16;
        std::uint32_t total[3 * kTile];
        std::uint32_t block[3 * kTile];
        for (std::int64_t b0 = 0; b0 < bins; b0 += kTile) {
            const std::size_t count = 3 * static_cast<std::size_t>(std::min(bins, b0 + kTile) - b0);
            const std::size_t at = 3 * static_cast<std::size_t>(b0);
            std::fill(total, total + count, 0);
            std::size_t next = 0;
            for (std::int64_t f = 0;; ++f) {
                if (next < sums->exactFrames_.size() && sums->exactFrames_[next] == f)
                    std::copy(total, total + count, &sums->exact_[next++ * row + at]);
                if ((f & ((1 << kCoarseShift) - 1)) == 0) {
                    std::copy(total, total + count, &sums->coarse_[static_cast<std::size_t>(f >> kCoarseShift) * row + at]);
                    std::fill(block, block + count, 0);
                }
                if ((f & ((1 << kFineShift) - 1)) == 0) {
                    std::uint16_t* fine = &sums->fine_[static_cast<std::size_t>(f >> kFineShift) * row + at];
                    for (std::size_t i = 0; i < count; ++i)
                        fine[i] = static_cast<std::uint16_t>(block[i]);
                }
                if (f == frames)
                    break;
                for (std::size_t i = 0; i < count; i += 3) {
                    const std::uint8_t* cell = grid.at(f, b0 + static_cast<std::int64_t>(i / 3));
                    for (int c = 0; c < 3; ++c) {
                        total[i + c] += cell[c];
                        block[i + c] += cell[c];
                    }
                }
            }
        }
        return sums;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

void FrameBlockSums::prefixes(const ColourGrid& grid, const std::int64_t* frames, std::size_t count, CellRange bins,
                              std::uint32_t* out) const
{
    bins = {std::max<std::int64_t>(bins.lo, 0), std::min<std::int64_t>(bins.hi, bins_ - 1)};
    if (bins.empty() || count == 0)
        return;
    const std::size_t row = 3 * static_cast<std::size_t>(bins_);
    const std::size_t first = 3 * static_cast<std::size_t>(bins.lo);
    const std::size_t values = 3 * static_cast<std::size_t>(bins.hi - bins.lo + 1);
    // Each frame starts from the nearer of the two marks around it.
    std::vector<std::pair<std::int64_t, std::int64_t>> marks(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::int64_t frame = std::clamp<std::int64_t>(frames[k], 0, frames_);
        std::int64_t mark = frame >> kFineShift << kFineShift;
        if (frame - mark > (1 << (kFineShift - 1)) && mark + (1 << kFineShift) <= frames_)
            mark += 1 << kFineShift;
        std::uint32_t* o = out + k * row + first;
        const auto kept = std::lower_bound(exactFrames_.begin(), exactFrames_.end(), frame);
        if (kept != exactFrames_.end() && *kept == frame) {
            const std::uint32_t* whole = &exact_[static_cast<std::size_t>(kept - exactFrames_.begin()) * row + first];
            std::copy(whole, whole + values, o);
            marks[k] = {frame, frame};
            continue;
        }
        marks[k] = {frame, mark};
        const std::uint32_t* coarse = &coarse_[static_cast<std::size_t>(mark >> kCoarseShift) * row + first];
        const std::uint16_t* fine = &fine_[static_cast<std::size_t>(mark >> kFineShift) * row + first];
        for (std::size_t i = 0; i < values; ++i)
            o[i] = coarse[i] + fine[i];
    }
    // Then the few frames between each frame and its mark, read from the bitmap bin by bin. Each bin is
    // another row of the bitmap, far from the last: the cells some bins further on (of this frame or the
    // next) are fetched from memory while these are added.
    struct Strip {
        const std::uint8_t* cells;  // of the first bin
        std::size_t bytes;          // 3 x frames
        std::uint32_t negate;       // all ones where the cells are taken away (a frame before its mark)
        std::uint32_t* out;
    };
    std::vector<Strip> strips;
    strips.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const auto [frame, mark] = marks[k];
        if (frame != mark)
            strips.push_back({grid.at(std::min(frame, mark), bins.lo), 3 * static_cast<std::size_t>(std::abs(frame - mark)),
                              frame > mark ? 0 : ~std::uint32_t{0}, out + k * row + first});
    }
    const std::size_t height = static_cast<std::size_t>(bins.hi - bins.lo + 1);
    constexpr std::size_t kAhead = 64;
    std::size_t aheadStrip = 0;
    std::size_t aheadBin = 0;
    const auto fetch = [&] {
        if (aheadStrip >= strips.size())
            return;
        const Strip& a = strips[aheadStrip];
        const std::uint8_t* at = a.cells + aheadBin * grid.stride;
        __builtin_prefetch(at);
        __builtin_prefetch(at + a.bytes - 1);
        if (++aheadBin == height) {
            aheadBin = 0;
            ++aheadStrip;
        }
    };
    for (std::size_t k = 0; k < kAhead; ++k)
        fetch();
    for (const Strip& strip : strips) {
        const std::uint8_t* cells = strip.cells;
        std::uint32_t* o = strip.out;
        for (std::size_t b = 0; b < height; ++b, cells += grid.stride, o += 3) {
            fetch();
            std::uint32_t s0 = 0, s1 = 0, s2 = 0;
            for (std::size_t i = 0; i < strip.bytes; i += 3) {
                s0 += cells[i];
                s1 += cells[i + 1];
                s2 += cells[i + 2];
            }
            // Two's complement: the sum taken away, modulo 2^32.
            o[0] += (s0 ^ strip.negate) - strip.negate;
            o[1] += (s1 ^ strip.negate) - strip.negate;
            o[2] += (s2 ^ strip.negate) - strip.negate;
        }
    }
}

namespace {

class PlotRenderer {
public:
    PlotRenderer(PixelImage& plot, const ColourGrid& grid, const PlotAxis& x, const PlotAxis& y,
                 const FrameBlockSums* sums)
        : plot_(plot), grid_(grid), x_(x), y_(y), sums_(sums)
    {
    }

    void run(int threads)
    {
        if (plot_.empty())
            return;
        std::memset(plot_.data(), 0, plot_.byteSize());
        if (grid_.pixels == nullptr || grid_.frames <= 0 || grid_.bins <= 0)
            return;
        if (x_.magnified() && y_.magnified())
            cells();
        else if (y_.magnified())
            columnsOverBins();
        else if (x_.magnified())
            rowsOverFrames();
        else
            blocksOnThreads(threads);
    }

private:
    // Fills plot pixels [x0, x1] x [r0, r1] (rows from the bottom), limited to the plot.
    void fill(std::int64_t x0, std::int64_t x1, std::int64_t r0, std::int64_t r1, const std::uint8_t* bgr)
    {
        x0 = std::max<std::int64_t>(x0, 0);
        x1 = std::min<std::int64_t>(x1, plot_.width() - 1);
        r0 = std::max<std::int64_t>(r0, 0);
        r1 = std::min<std::int64_t>(r1, plot_.height() - 1);
        for (std::int64_t r = r0; r <= r1; ++r) {
            std::uint8_t* p = plot_.data() + static_cast<std::size_t>(r) * plot_.stride() + 3 * static_cast<std::size_t>(x0);
            for (std::int64_t x = x0; x <= x1; ++x, p += 3) {
                p[0] = bgr[0];
                p[1] = bgr[1];
                p[2] = bgr[2];
            }
        }
    }

    // The integer averages. Below 2^51 a division of doubles rounds to a value whose integer part is
    // the exact quotient (a quotient that is not whole is at least 1 / count short of the next whole
    // number, far more than the rounding), and it is several times quicker than dividing 64-bit
    // integers.
    static void average(const std::uint64_t* sum, std::uint64_t count, std::uint8_t* out)
    {
        constexpr std::uint64_t kExact = std::uint64_t{1} << 51;
        if (count < kExact && sum[0] < kExact && sum[1] < kExact && sum[2] < kExact) {
            const double d = static_cast<double>(count);
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<std::uint8_t>(static_cast<double>(sum[k]) / d);
            return;
        }
        for (int k = 0; k < 3; ++k)
            out[k] = static_cast<std::uint8_t>(sum[k] / count);
    }

    void cells()
    {
        const CellRange frames = x_.visibleCells();
        const CellRange bins = y_.visibleCells();
        for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
            const CellRange rows = y_.limitPixels(y_.pixelsOf(b));
            for (std::int64_t j = frames.lo; j <= frames.hi; ++j) {
                const CellRange cols = x_.limitPixels(x_.pixelsOf(j));
                fill(cols.lo, cols.hi, rows.lo, rows.hi, grid_.at(j, b));
            }
        }
    }

    // Several bins per row, each visible frame on its own columns.
    void rowsOverFrames()
    {
        const CellRange frames = x_.visibleCells();
        const CellRange rows = y_.dataPixels();
        for (std::int64_t r = rows.lo; r <= rows.hi; ++r) {
            const CellRange bins = y_.limitCells(y_.cellsUnder(r));
            if (bins.empty())
                continue;
            const auto count = static_cast<std::uint64_t>(bins.hi - bins.lo + 1);
            for (std::int64_t j = frames.lo; j <= frames.hi; ++j) {
                std::uint64_t sum[3] = {0, 0, 0};
                for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
                    const std::uint8_t* p = grid_.at(j, b);
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
                std::uint8_t colour[3];
                average(sum, count, colour);
                const CellRange cols = x_.limitPixels(x_.pixelsOf(j));
                fill(cols.lo, cols.hi, r, r, colour);
            }
        }
    }

    // Sums over frames lo ... hi of bins (3 per bin) into column_, indexed by bin.
    void columnSums(CellRange frames, CellRange bins)
    {
        column_.resize(3 * static_cast<std::size_t>(grid_.bins));
        const std::size_t first = 3 * static_cast<std::size_t>(bins.lo);
        const std::size_t last = 3 * static_cast<std::size_t>(bins.hi + 1);
        if (sums_) {
            const std::int64_t ends[2] = {frames.lo, frames.hi + 1};
            const std::size_t row = column_.size();
            prefix_.resize(2 * row);
            sums_->prefixes(grid_, ends, 2, bins, prefix_.data());
            for (std::size_t i = first; i < last; ++i)
                column_[i] = prefix_[row + i] - prefix_[i];
            return;
        }
        for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
            std::uint32_t s[3] = {0, 0, 0};
            const std::uint8_t* p = grid_.at(frames.lo, b);
            for (std::int64_t j = frames.lo; j <= frames.hi; ++j, p += 3) {
                s[0] += p[0];
                s[1] += p[1];
                s[2] += p[2];
            }
            std::memcpy(&column_[3 * static_cast<std::size_t>(b)], s, sizeof s);
        }
    }

    static std::uint64_t length(CellRange r) { return static_cast<std::uint64_t>(r.hi - r.lo + 1); }

    // Several frames per column, each visible bin on its own rows.
    void columnsOverBins()
    {
        const CellRange bins = y_.visibleCells();
        const CellRange cols = x_.dataPixels();
        for (std::int64_t c = cols.lo; c <= cols.hi; ++c) {
            const CellRange frames = x_.limitCells(x_.cellsUnder(c));
            if (frames.empty())
                continue;
            columnSums(frames, bins);
            for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
                const std::uint32_t* s = &column_[3 * static_cast<std::size_t>(b)];
                const std::uint64_t sum[3] = {s[0], s[1], s[2]};
                std::uint8_t colour[3];
                average(sum, length(frames), colour);
                const CellRange rows = y_.limitPixels(y_.pixelsOf(b));
                fill(c, c, rows.lo, rows.hi, colour);
            }
        }
    }

    // The block sums are read from memory far more than they are worked on: the columns are shared out
    // between two threads, each with its own column buffers. Each pixel is the same either way.
    void blocksOnThreads(int threads)
    {
        // Pixels are written straight into the plot, so only those inside it are visited.
        CellRange cols = x_.dataPixels();
        cols.hi = std::min<std::int64_t>(cols.hi, plot_.width() - 1);
        if (threads == 0)
            threads = sums_ && cols.hi - cols.lo >= 63 && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
        if (threads < 2 || cols.hi <= cols.lo) {
            blocks(cols);
            return;
        }
        const std::int64_t middle = cols.lo + (cols.hi - cols.lo + 1) / 2;
        PlotRenderer right(plot_, grid_, x_, y_, sums_);
        std::thread helper;
        try {
            helper = std::thread([&] { right.blocks({middle, cols.hi}); });
        } catch (const std::system_error&) {
            blocks(cols);
            return;
        }
        blocks({cols.lo, middle - 1});
        helper.join();
    }

    void blocks(CellRange cols)
    {
        CellRange rows = y_.dataPixels();
        rows.hi = std::min<std::int64_t>(rows.hi, plot_.height() - 1);
        if (rows.empty())
            return;
        const CellRange shown = y_.limitCells({y_.cellsUnder(rows.lo).lo, y_.cellsUnder(rows.hi).hi});
        if (shown.empty())
            return;
        // The bins under each row are the same in every column.
        rowBins_.clear();
        for (std::int64_t r = rows.lo; r <= rows.hi; ++r)
            rowBins_.push_back(y_.limitCells(y_.cellsUnder(r)));
        const std::size_t row = 3 * static_cast<std::size_t>(grid_.bins);
        column_.resize(row);
        const std::size_t first = 3 * static_cast<std::size_t>(shown.lo);
        const std::size_t last = 3 * static_cast<std::size_t>(shown.hi + 1);
        // With the block sums, a strip of columns at a time: the sums at all its column edges first, so
        // that the bitmap rows are read in order for all of them.
        constexpr std::int64_t kStrip = 32;
        for (std::int64_t c0 = cols.lo; c0 <= cols.hi; c0 += kStrip) {
            const std::int64_t c1 = std::min(cols.hi, c0 + kStrip - 1);
            if (sums_) {
                edges_.clear();
                edgeOf_.clear();
                for (std::int64_t c = c0; c <= c1; ++c) {
                    const CellRange frames = x_.limitCells(x_.cellsUnder(c));
                    if (frames.empty()) {
                        edgeOf_.push_back({0, 0});
                        continue;
                    }
                    if (edges_.empty() || edges_.back() != frames.lo)
                        edges_.push_back(frames.lo);
                    const std::size_t lo = edges_.size() - 1;
                    edges_.push_back(frames.hi + 1);
                    edgeOf_.push_back({lo, edges_.size() - 1});
                }
                prefix_.resize(edges_.size() * row);
                sums_->prefixes(grid_, edges_.data(), edges_.size(), shown, prefix_.data());
            }
            for (std::int64_t c = c0; c <= c1; ++c) {
                const CellRange frames = x_.limitCells(x_.cellsUnder(c));
                if (frames.empty())
                    continue;
                if (sums_) {
                    const auto [lo, hi] = edgeOf_[static_cast<std::size_t>(c - c0)];
                    const std::uint32_t* low = &prefix_[lo * row];
                    const std::uint32_t* high = &prefix_[hi * row];
                    for (std::size_t i = first; i < last; ++i)
                        column_[i] = high[i] - low[i];
                } else {
                    columnSums(frames, shown);
                }
                std::uint8_t* pixel = plot_.data() + static_cast<std::size_t>(rows.lo) * plot_.stride() + 3 * static_cast<std::size_t>(c);
                for (std::int64_t r = rows.lo; r <= rows.hi; ++r, pixel += plot_.stride()) {
                    const CellRange bins = rowBins_[static_cast<std::size_t>(r - rows.lo)];
                    if (bins.empty())
                        continue;
                    std::uint64_t sum[3] = {0, 0, 0};
                    for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
                        const std::uint32_t* s = &column_[3 * static_cast<std::size_t>(b)];
                        sum[0] += s[0];
                        sum[1] += s[1];
                        sum[2] += s[2];
                    }
                    average(sum, length(frames) * length(bins), pixel);
                }
            }
        }
    }

    PixelImage& plot_;
    const ColourGrid& grid_;
    const PlotAxis& x_;
    const PlotAxis& y_;
    const FrameBlockSums* sums_;
    std::vector<std::uint32_t> column_;
    std::vector<std::uint32_t> prefix_;
    std::vector<std::int64_t> edges_;
    std::vector<std::pair<std::size_t, std::size_t>> edgeOf_;
    std::vector<CellRange> rowBins_;
};

} // namespace

std::vector<std::int64_t> columnEdges(const PlotAxis& x)
{
    std::vector<std::int64_t> edges;
    const CellRange cols = x.dataPixels();
    for (std::int64_t c = cols.lo; c <= cols.hi; ++c) {
        const CellRange frames = x.limitCells(x.cellsUnder(c));
        if (frames.empty())
            continue;
        if (edges.empty() || edges.back() != frames.lo)
            edges.push_back(frames.lo);
        edges.push_back(frames.hi + 1);
    }
    return edges;
}

void renderPlot(PixelImage& plot, const ColourGrid& grid, const PlotAxis& x, const PlotAxis& y,
                const FrameBlockSums* sums, int threads)
{
    if (sums && (sums->frames() != grid.frames || sums->bins() != grid.bins))
        sums = nullptr;
    // The running sums are exact only for spans shorter than 2^24 frames.
    if (sums && !x.magnified() && !(1.0 / x.zoom < 1.6e7))
        sums = nullptr;
    PlotRenderer(plot, grid, x, y, sums).run(std::clamp(threads, 0, 2));
}

} // namespace sonavik
