#pragma once
// The plot of a spectrogram window: how analysis frames map to columns and bins to rows, and the
// picture of the colour bitmap at any zoom. Where several frames share a column their colours are
// averaged; the block sums make that quick for long spectrograms without changing a pixel.

#include "raster/pixel_image.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sonavik {

struct CellRange {
    std::int64_t lo = 0;
    std::int64_t hi = -1;
    bool empty() const { return hi < lo; }
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

// One axis of the plot: origin o (first visible cell), zoom z (pixels per cell), N cells, P pixels.
// Horizontal pixels count from the plot's left edge, vertical ones from its bottom row.
struct PlotAxis {
    double origin = 0.0;
    double zoom = 1.0;
    std::int64_t cells = 0;
    int pixels = 0;

    bool magnified() const { return zoom > 1.0; }
    std::int64_t firstPixel(std::int64_t cell) const;
    // The single pixel of the cell when the axis is not magnified.
    std::int64_t lastPixel(std::int64_t cell) const;
    CellRange pixelsOf(std::int64_t cell) const { return {firstPixel(cell), lastPixel(cell)}; }
    CellRange cellsUnder(std::int64_t pixel) const;
    CellRange limitCells(CellRange r) const;
    CellRange limitPixels(CellRange r) const;
    // Magnified: the cells under pixels 0 and P - 1, limited. Otherwise the cells' whole span, limited.
    CellRange visibleCells() const;
    // The pixels that show data: from the pixel of cell 0 to the last pixel of cell N - 1, limited.
    CellRange dataPixels() const;
    // Whether a range of cells has at least one end inside 0 ... N - 1 (not both below, not both above).
    bool touches(CellRange r) const;
};

// The colour bitmap as the analysis keeps it: row b is bin b, 3 bytes (blue, green, red) per frame.
struct ColourGrid {
    const std::uint8_t* pixels = nullptr;
    std::size_t stride = 0;
    std::int64_t frames = 0;
    std::int64_t bins = 0;
    const std::uint8_t* at(std::int64_t frame, std::int64_t bin) const
    {
        return pixels + static_cast<std::size_t>(bin) * stride + 3 * static_cast<std::size_t>(frame);
    }
};

// Running sums of the colour bitmap over frames, kept for every bin at every 16th frame (16 bits,
// within blocks of 256 frames) and every 256th frame (32 bits), a mark's bins side by side. The sums of
// every bin up to any frame are then one row of each and the few frames between that frame and the
// nearer mark, which are read from the bitmap itself. About 0.42 bytes per cell of the bitmap, some 5 %
// of the spectra it was coloured from, and at most 0.3 more for frames kept whole.
class FrameBlockSums {
public:
    // Empty when the memory cannot be had. exact: frames (in any order) whose sums are kept whole as
    // well, such as the column edges of the plot as it is shown, so that drawing it again reads one row
    // per edge; they are kept while they take under 0.3 bytes per cell.
    static std::unique_ptr<FrameBlockSums> build(const ColourGrid& grid, std::vector<std::int64_t> exact = {});

    std::int64_t frames() const { return frames_; }
    std::int64_t bins() const { return bins_; }
    std::size_t byteSize() const { return 4 * coarse_.size() + 2 * fine_.size() + 4 * exact_.size(); }
    // For each of count frames (each clamped to 0 ... frames()): the blue, green, red sums of frames
    // 0 ... frame - 1 of bins lo ... hi, modulo 2^32, at out[k x 3 bins() + 3 x bin + colour]. grid is the
    // bitmap the sums were built from. Differences of two such sums are exact for spans under 2^24
    // frames. Frames in ascending order read the bitmap in order.
    void prefixes(const ColourGrid& grid, const std::int64_t* frames, std::size_t count, CellRange bins,
                  std::uint32_t* out) const;

private:
    std::int64_t frames_ = 0;
    std::int64_t bins_ = 0;
    std::vector<std::uint32_t> coarse_;  // [frame / 256][bin][3]
    std::vector<std::uint16_t> fine_;    // [frame / 16][bin][3], from the start of its block of 256
    std::vector<std::int64_t> exactFrames_;  // ascending
    std::vector<std::uint32_t> exact_;       // [index in exactFrames_][bin][3]
};

// The frames at the edges of the axis's columns (ascending): the ones drawing the plot asks the block
// sums for when both axes are minified.
std::vector<std::int64_t> columnEdges(const PlotAxis& x);

// Clears the plot to black and draws the grid's cells for the two axes. sums may be null (every cell is
// then read); when given it must describe grid. The picture is the same either way. With both axes
// minified the columns may be drawn on two threads: threads 0 decides by the plot's size and the
// machine, 1 or 2 say so.
void renderPlot(PixelImage& plot, const ColourGrid& grid, const PlotAxis& x, const PlotAxis& y,
                const FrameBlockSums* sums, int threads = 0);

} // namespace sonavik
