#include "spectrogram/spectrogram_plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace sonavik {
namespace {

// A colour bitmap of F frames and B bins with the analysis's row stride.
struct Bitmap {
    std::int64_t frames;
    std::int64_t bins;
    std::vector<std::uint8_t> bytes;

    Bitmap(std::int64_t f, std::int64_t b) : frames(f), bins(b), bytes(stride() * b, 0) {}
    std::size_t stride() const { return 3 * frames + frames % 4; }
    ColourGrid grid() const { return {bytes.data(), stride(), frames, bins}; }
    void set(std::int64_t j, std::int64_t b, Rgb c)
    {
        std::uint8_t* p = bytes.data() + b * stride() + 3 * j;
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
};

Bitmap randomBitmap(std::int64_t frames, std::int64_t bins, unsigned seed)
{
    Bitmap bm(frames, bins);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::int64_t b = 0; b < bins; ++b)
        for (std::int64_t j = 0; j < frames; ++j)
            bm.set(j, b, {static_cast<std::uint8_t>(byte(rng)), static_cast<std::uint8_t>(byte(rng)),
                          static_cast<std::uint8_t>(byte(rng))});
    return bm;
}

// Rows of the plot counted from the bottom, as the axis rules count them.
Rgb at(const PixelImage& plot, int x, int rowFromBottom) { return plot.pixel(x, plot.height() - 1 - rowFromBottom); }

TEST(SpectrogramAxis, CellsAndPixelsMapBothWays)
{
    struct Case {
        double origin, zoom;
        std::int64_t cell;
        CellRange pixels;
    };
    const Case cases[] = {
        {0, 1, 7, {7, 7}},            // zoom 1: pixel c shows cell c
        {0, 2, 3, {6, 7}},            // zoom 2: cell j covers 2j and 2j + 1
        {1.5, 2, 3, {3, 4}},          // a half-cell origin shifts by a pixel
        {0, 0.25, 9, {2, 2}},         // minified: one pixel
        {10, 3, 9, {-3, -1}},         // left of the view
    };
    for (const Case& c : cases) {
        const PlotAxis axis{c.origin, c.zoom, 100, 50};
        EXPECT_EQ(axis.pixelsOf(c.cell), c.pixels) << c.origin << " " << c.zoom << " " << c.cell;
    }
    const PlotAxis quarter{0, 0.25, 100, 50};
    EXPECT_EQ(quarter.cellsUnder(2), (CellRange{8, 11}));
    const PlotAxis twice{0, 2, 100, 50};
    EXPECT_EQ(twice.cellsUnder(7), (CellRange{3, 3}));
    EXPECT_EQ(twice.visibleCells(), (CellRange{0, 24}));
    EXPECT_EQ(twice.dataPixels(), (CellRange{0, 49}));
    const PlotAxis wide{0, 4, 5, 50};
    EXPECT_EQ(wide.dataPixels(), (CellRange{0, 19}));
    EXPECT_TRUE(wide.touches({-3, 0}));
    EXPECT_FALSE(wide.touches({-3, -1}));
    EXPECT_FALSE(wide.touches({5, 6}));
}

// One spectrogram, drawn in each of the four cases, checked at chosen pixels.
TEST(SpectrogramPlot, EachZoomCaseDrawsTheAveragesOfItsCells)
{
    Bitmap bm(8, 4);
    for (int b = 0; b < 4; ++b)
        for (int j = 0; j < 8; ++j)
            bm.set(j, b, {static_cast<std::uint8_t>(10 * j), static_cast<std::uint8_t>(10 * b), static_cast<std::uint8_t>(j + b)});
    PixelImage plot(16, 8);

    // Both magnified: frame 3 covers columns 6-7, bin 2 rows 4-5.
    renderPlot(plot, bm.grid(), {0, 2, 8, 16}, {0, 2, 4, 8}, nullptr);
    EXPECT_EQ(at(plot, 6, 4), (Rgb{30, 20, 5}));
    EXPECT_EQ(at(plot, 7, 5), (Rgb{30, 20, 5}));
    EXPECT_EQ(at(plot, 15, 7), (Rgb{70, 30, 10}));

    // Time minified by 4 (columns 0 and 1 hold frames 0-3 and 4-7), bins magnified.
    renderPlot(plot, bm.grid(), {0, 0.25, 8, 16}, {0, 2, 4, 8}, nullptr);
    EXPECT_EQ(at(plot, 0, 2), (Rgb{15, 10, 2}));  // red 60/4, blue (1+2+3+4)/4 truncated
    EXPECT_EQ(at(plot, 1, 2), (Rgb{55, 10, 6}));
    EXPECT_EQ(at(plot, 2, 2), (Rgb{0, 0, 0}));     // past the data

    // Bins minified by 2, frames magnified.
    renderPlot(plot, bm.grid(), {0, 2, 8, 16}, {0, 0.5, 4, 8}, nullptr);
    EXPECT_EQ(at(plot, 2, 1), (Rgb{10, 25, 3}));  // frame 1, bins 2-3: green 50/2, blue 7/2
    EXPECT_EQ(at(plot, 2, 2), (Rgb{0, 0, 0}));

    // Both minified: one pixel for all 8 x 4 cells.
    renderPlot(plot, bm.grid(), {0, 0.125, 8, 16}, {0, 0.25, 4, 8}, nullptr);
    EXPECT_EQ(at(plot, 0, 0), (Rgb{35, 15, 5}));
    EXPECT_EQ(at(plot, 1, 0), (Rgb{0, 0, 0}));
}

// The block sums stay a small part of what the analysis holds anyway: under a tenth of the spectra
// (4 n bytes a frame) at the smallest and the usual FFT size, even when every frame's whole sums are
// asked for (a few are kept, so many are not).
TEST(SpectrogramPlot, BlockSumsTakeUnderATenthOfTheSpectra)
{
    for (const std::int64_t n : {16, 4096}) {
        const std::int64_t frames = 700;
        const std::int64_t bins = n / 2 + 1;
        const Bitmap bm = randomBitmap(frames, bins, 3);
        std::vector<std::int64_t> everyFrame(frames + 1);
        for (std::int64_t f = 0; f <= frames; ++f)
            everyFrame[f] = f;
        for (const auto& exact : {std::vector<std::int64_t>{}, everyFrame, std::vector<std::int64_t>{700, 3, 350, 3}}) {
            auto sums = FrameBlockSums::build(bm.grid(), exact);
            ASSERT_TRUE(sums);
            EXPECT_LT(sums->byteSize(), static_cast<std::size_t>(frames * 4 * n / 10)) << n << " " << exact.size();
        }
        const std::size_t plain = FrameBlockSums::build(bm.grid())->byteSize();
        EXPECT_EQ(FrameBlockSums::build(bm.grid(), everyFrame)->byteSize(), plain);
        EXPECT_EQ(FrameBlockSums::build(bm.grid(), {700, 3, 350, 3})->byteSize(), plain + 3 * 12 * bins);
    }
}

// The block sums give the same pixels as adding every cell, at every kind of zoom and scroll.
TEST(SpectrogramPlot, BlockSumsDrawTheSamePixelsAsEveryCell)
{
    struct Case {
        std::int64_t frames, bins;
        int width, height;
    };
    const Case sizes[] = {{1, 3, 40, 30}, {777, 65, 97, 41}, {3000, 129, 300, 120}, {4097, 17, 64, 64}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Case& c : sizes) {
        const Bitmap bm = randomBitmap(c.frames, c.bins, static_cast<unsigned>(c.frames));
        auto sums = FrameBlockSums::build(bm.grid());
        ASSERT_TRUE(sums);
        PixelImage slow(c.width, c.height);
        PixelImage fast(c.width, c.height);
        for (int trial = 0; trial < 40; ++trial) {
            const double fitX = static_cast<double>(c.width) / c.frames;
            const double fitY = static_cast<double>(c.height) / c.bins;
            const PlotAxis x{unit(rng) * c.frames * 0.5, fitX * std::pow(2.0, static_cast<int>(unit(rng) * 8) - 3), c.frames,
                             c.width};
            const PlotAxis y{unit(rng) * c.bins * 0.5 - 2, fitY * std::pow(2.0, static_cast<int>(unit(rng) * 6) - 2), c.bins,
                             c.height};
            renderPlot(slow, bm.grid(), x, y, nullptr);
            // Also with the whole sums of this plot's column edges, or of another plot's.
            const PlotAxis other{x.origin * 0.5, x.zoom * 1.5, x.cells, x.pixels};
            auto kept = FrameBlockSums::build(bm.grid(), columnEdges(trial % 2 ? x : other));
            ASSERT_TRUE(kept);
            for (const int threads : {1, 2, 3}) {
                renderPlot(fast, bm.grid(), x, y, threads == 3 ? kept.get() : sums.get(), std::min(threads, 2));
                ASSERT_EQ(std::vector<std::uint8_t>(slow.data(), slow.data() + slow.byteSize()),
                          std::vector<std::uint8_t>(fast.data(), fast.data() + fast.byteSize()))
                    << c.frames << "x" << c.bins << " origin " << x.origin << "," << y.origin << " zoom " << x.zoom
                    << "," << y.zoom << " threads " << threads;
            }
        }
    }
}

} // namespace
} // namespace sonavik
