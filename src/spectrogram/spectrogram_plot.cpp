#include "spectrogram/spectrogram_plot.h"

#include "views/view_geometry.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace sonavik {

namespace {

constexpr int kFineShift = 3;     // running sums every 8 frames
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

std::unique_ptr<FrameBlockSums> FrameBlockSums::build(const ColourGrid& grid)
{
    try {
        auto sums = std::make_unique<FrameBlockSums>();
        const std::int64_t frames = grid.frames;
        const std::int64_t bins = grid.bins;
        sums->frames_ = frames;
        sums->bins_ = bins;
        const std::size_t row = 3 * static_cast<std::size_t>(bins);
        sums->cells_.resize(static_cast<std::size_t>(frames) * row);
        sums->fine_.resize((static_cast<std::size_t>(frames >> kFineShift) + 1) * row);
        sums->coarse_.resize((static_cast<std::size_t>(frames >> kCoarseShift) + 1) * row);
        // Turned in tiles, so that both sides are read and written a cache line at a time.
        constexpr std::int64_t kTile = 64;
        for (std::int64_t b0 = 0; b0 < bins; b0 += kTile) {
            const std::int64_t b1 = std::min(bins, b0 + kTile);
            for (std::int64_t f0 = 0; f0 < frames; f0 += kTile) {
                const std::int64_t f1 = std::min(frames, f0 + kTile);
                for (std::int64_t b = b0; b < b1; ++b) {
                    const std::uint8_t* src = grid.at(f0, b);
                    std::uint8_t* dst = &sums->cells_[static_cast<std::size_t>(f0) * row + 3 * static_cast<std::size_t>(b)];
                    for (std::int64_t f = f0; f < f1; ++f, src += 3, dst += row) {
                        dst[0] = src[0];
                        dst[1] = src[1];
                        dst[2] = src[2];
                    }
                }
            }
        }
        std::vector<std::uint32_t> total(row, 0);
        std::vector<std::uint32_t> block(row, 0);
        for (std::int64_t f = 0;; ++f) {
            if ((f & ((1 << kCoarseShift) - 1)) == 0) {
                std::copy(total.begin(), total.end(), sums->coarse_.begin() + static_cast<std::ptrdiff_t>((f >> kCoarseShift) * row));
                std::fill(block.begin(), block.end(), 0);
            }
            if ((f & ((1 << kFineShift) - 1)) == 0) {
                std::uint16_t* fine = &sums->fine_[static_cast<std::size_t>(f >> kFineShift) * row];
                for (std::size_t i = 0; i < row; ++i)
                    fine[i] = static_cast<std::uint16_t>(block[i]);
            }
            if (f == frames)
                break;
            const std::uint8_t* cells = &sums->cells_[static_cast<std::size_t>(f) * row];
            for (std::size_t i = 0; i < row; ++i) {
                total[i] += cells[i];
                block[i] += cells[i];
            }
        }
        return sums;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

FrameBlockSums::Reading FrameBlockSums::readingFor(std::int64_t frame, CellRange bins) const
{
    Reading r;
    frame = std::clamp<std::int64_t>(frame, 0, frames_);
    bins = {std::max<std::int64_t>(bins.lo, 0), std::min<std::int64_t>(bins.hi, bins_ - 1)};
    if (bins.empty())
        return r;
    r.row = 3 * static_cast<std::size_t>(bins_);
    r.first = 3 * static_cast<std::size_t>(bins.lo);
    r.count = 3 * static_cast<std::size_t>(bins.hi - bins.lo + 1);
    std::int64_t mark = frame >> kFineShift << kFineShift;
    // Start from the nearer of the two marks around the frame.
    r.backward = frame - mark > (1 << (kFineShift - 1)) && mark + (1 << kFineShift) <= frames_;
    if (r.backward)
        mark += 1 << kFineShift;
    r.mark = mark;
    r.from = r.backward ? frame : mark;
    r.to = r.backward ? mark : frame;
    return r;
}

void FrameBlockSums::prefetch(std::int64_t frame, CellRange bins) const
{
    const Reading r = readingFor(frame, bins);
    if (r.count == 0)
        return;
    auto fetch = [](const void* from, std::size_t bytes) {
        const auto* p = static_cast<const char*>(from);
        for (std::size_t at = 0; at < bytes; at += 64)
            __builtin_prefetch(p + at);
    };
    fetch(&coarse_[static_cast<std::size_t>(r.mark >> kCoarseShift) * r.row + r.first], 4 * r.count);
    fetch(&fine_[static_cast<std::size_t>(r.mark >> kFineShift) * r.row + r.first], 2 * r.count);
    for (std::int64_t f = r.from; f < r.to; ++f)
        fetch(&cells_[static_cast<std::size_t>(f) * r.row + r.first], r.count);
}

void FrameBlockSums::prefix(std::int64_t frame, CellRange bins, std::uint32_t* out) const
{
    const Reading r = readingFor(frame, bins);
    if (r.count == 0)
        return;
    const std::size_t row = r.row;
    const std::size_t first = r.first;
    const std::size_t count = r.count;
    const bool backward = r.backward;
    out += first;
    const std::uint32_t* coarse = &coarse_[static_cast<std::size_t>(r.mark >> kCoarseShift) * row + first];
    const std::uint16_t* fine = &fine_[static_cast<std::size_t>(r.mark >> kFineShift) * row + first];
    for (std::size_t i = 0; i < count; ++i)
        out[i] = coarse[i] + fine[i];
    for (std::int64_t f = r.from; f < r.to; ++f) {
        const std::uint8_t* cells = &cells_[static_cast<std::size_t>(f) * row + first];
        if (backward)
            for (std::size_t i = 0; i < count; ++i)
                out[i] -= cells[i];
        else
            for (std::size_t i = 0; i < count; ++i)
                out[i] += cells[i];
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
            low_.resize(column_.size());
            high_.resize(column_.size());
            // Neighbouring columns share their boundary.
            if (frames.lo != highFrame_)
                sums_->prefix(frames.lo, bins, low_.data());
            else
                low_.swap(high_);
            sums_->prefix(frames.hi + 1, bins, high_.data());
            highFrame_ = frames.hi + 1;
            for (std::size_t i = first; i < last; ++i)
                column_[i] = high_[i] - low_[i];
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
        for (std::int64_t c = cols.lo; c <= cols.hi; ++c) {
            const CellRange frames = x_.limitCells(x_.cellsUnder(c));
            if (frames.empty())
                continue;
            // The next column's sums are fetched from memory while this one is drawn.
            if (sums_ && c < cols.hi)
                sums_->prefetch(x_.limitCells(x_.cellsUnder(c + 1)).hi + 1, shown);
            columnSums(frames, shown);
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

    PixelImage& plot_;
    const ColourGrid& grid_;
    const PlotAxis& x_;
    const PlotAxis& y_;
    const FrameBlockSums* sums_;
    std::vector<std::uint32_t> column_;
    std::vector<std::uint32_t> low_;
    std::vector<std::uint32_t> high_;
    std::vector<CellRange> rowBins_;
    std::int64_t highFrame_ = -1;
};

} // namespace

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
