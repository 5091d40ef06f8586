// Redrawing the plot of an hour-long spectrogram (44.1 kHz, n = 4096: 77,500 frames x 2049 bins) fitted
// into a 400 x 400 window, after a zoom and after a scroll: every cell added anew (on one thread, and on
// two) against the block sums (drawn as the window draws them, on two threads where there are two cores,
// and on one).
// usage: spectrogram_plot_bench [MINUTES]

#include "bench_support.h"
#include "platform/os.h"
#include "spectrogram/spectrogram_plot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace sonavik;

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const std::int64_t n = 4096;
    const std::int64_t frames = static_cast<std::int64_t>(minutes * 60 * 44100) / (n / 2) - 1;
    const std::int64_t bins = n / 2 + 1;
    if (frames < 1) {
        std::fprintf(stderr, "too short\n");
        return 2;
    }
    const std::size_t stride = 3 * static_cast<std::size_t>(frames) + static_cast<std::size_t>(frames % 4);
    std::vector<std::uint8_t> bitmap;
    try {
        bitmap.reserve(stride * static_cast<std::size_t>(bins));
        bitmap.resize(stride * static_cast<std::size_t>(bins));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "not enough memory for %.0f minutes\n", minutes);
        return 1;
    }
    // Colours that change from cell to cell the way a spectrogram's do: bright low bins, noisy detail.
    std::uint32_t noise = 1;
    for (std::int64_t b = 0; b < bins; ++b) {
        std::uint8_t* row = bitmap.data() + static_cast<std::size_t>(b) * stride;
        const int level = static_cast<int>(255 - 200 * b / bins);
        for (std::int64_t j = 0; j < frames; ++j) {
            noise = noise * 1664525u + 1013904223u;
            const int v = level * static_cast<int>(noise >> 24) / 255;
            row[3 * j] = static_cast<std::uint8_t>(v / 10);
            row[3 * j + 1] = static_cast<std::uint8_t>(v * 3 / 10);
            row[3 * j + 2] = static_cast<std::uint8_t>(v);
        }
    }
    const ColourGrid grid{bitmap.data(), stride, frames, bins};
    const int width = 400 - 48 - 64 - 16;   // the first window's plot, less the vertical bar
    const int height = 400 - 64 - 64 - 16;
    PixelImage slow(width, height);
    PixelImage fast(width, height);

    const double fitX = static_cast<double>(width) / frames;
    const double fitY = static_cast<double>(height) / bins;
    // As the window makes them when it opens: with the fitted plot's column edges kept whole.
    std::unique_ptr<FrameBlockSums> sums;
    const double build = bench::secondsOf(
        [&] { sums = FrameBlockSums::build(grid, columnEdges(PlotAxis{0, fitX, frames, width})); });
    if (!sums) {
        std::fprintf(stderr, "no memory for the block sums\n");
        return 1;
    }

    struct View {
        const char* what;
        PlotAxis x;
        PlotAxis y;
    };
    const View views[] = {
        {"fitted", {0, fitX, frames, width}, {0, fitY, bins, height}},
        {"zoomed in on time", {frames * 0.375, fitX * 4, frames, width}, {0, fitY, bins, height}},
        {"scrolled", {frames * 0.5 + 123.4, fitX * 4, frames, width}, {0, fitY, bins, height}},
        {"zoomed in on both", {frames * 0.375, fitX * 4, frames, width}, {bins * 0.375, fitY * 4, bins, height}},
    };
    std::printf("spectrogram of %lld frames x %lld bins (%.0f minutes, n = 4096), plot %d x %d\n",
                static_cast<long long>(frames), static_cast<long long>(bins), minutes, width, height);
    std::printf("block sums: built in %.3f s, %.0f MB beside the %.0f MB bitmap\n",
                build, static_cast<double>(sums->byteSize()) / 1e6, static_cast<double>(bitmap.size()) / 1e6);
    bool same = true;
    for (const View& v : views) {
        const double everyCell = bench::secondsOf([&] { renderPlot(slow, grid, v.x, v.y, nullptr, 1); });
        const double everyCellTwo = bench::secondsOf([&] { renderPlot(slow, grid, v.x, v.y, nullptr, 2); });
        const double oneThread = bench::secondsOf([&] { renderPlot(fast, grid, v.x, v.y, sums.get(), 1); });
        bool identical = std::memcmp(slow.data(), fast.data(), slow.byteSize()) == 0;
        const double blockSums = bench::secondsOf([&] { renderPlot(fast, grid, v.x, v.y, sums.get()); });
        identical = identical && std::memcmp(slow.data(), fast.data(), slow.byteSize()) == 0;
        same = same && identical;
        std::printf("%-20s every cell %8.3f ms   block sums %7.3f ms   %6.1fx faster   pixels %s   (one thread %.3f ms, "
                    "%.1fx; every cell on two threads %.3f ms, %.1fx)\n",
                    v.what, everyCell * 1e3, blockSums * 1e3, everyCell / blockSums, identical ? "identical" : "DIFFER",
                    oneThread * 1e3, everyCell / oneThread, everyCellTwo * 1e3, everyCellTwo / blockSums);
    }
    return same ? 0 : 1;
}
