// Rendering a waveform view of an hour of CD-quality stereo from the min/max summary, against the
// reference render that reads every visible frame. Run a Release build: render_bench

#include "app/layout.h"
#include "app/view_scale.h"
#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "raster/pixel_image.h"
#include "settings/settings.h"
#include "views/view_geometry.h"
#include "views/waveform_renderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>

using namespace sonavik;

namespace {

double milliseconds(const std::function<void()>& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double fastest(int runs, const std::function<void()>& step)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, milliseconds(step));
    return best;
}

// A 440 Hz tone on the left, 330 Hz on the right, each with noise from a small generator.
SoundDocument hourOfStereo()
{
    constexpr std::uint32_t rate = 44100;
    SoundDocument doc;
    doc.format = {1, 2, rate, rate * 4, 4, 16, 0};
    doc.frameCount = static_cast<std::int32_t>(rate) * 3600;
    doc.samples = SampleBuffer::allocate(doc.byteCount());
    if (doc.samples.isNull()) {
        std::fprintf(stderr, "cannot allocate %zu bytes\n", doc.byteCount());
        std::exit(1);
    }
    auto* out = reinterpret_cast<std::int16_t*>(doc.samples.data());
    std::uint32_t noise = 12345;
    const double stepLeft = 2 * std::numbers::pi * 440 / rate;
    const double stepRight = 2 * std::numbers::pi * 330 / rate;
    for (std::int64_t i = 0; i < doc.frameCount; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const int jitter = static_cast<int>(noise >> 20) - 2048;
        const double envelope = 0.3 + 0.25 * std::sin(static_cast<double>(i) / (rate * 7.0));
        out[2 * i] = static_cast<std::int16_t>(20000 * envelope * std::sin(stepLeft * static_cast<double>(i)) + jitter);
        out[2 * i + 1] = static_cast<std::int16_t>(20000 * envelope * std::sin(stepRight * static_cast<double>(i)) - jitter);
    }
    return doc;
}

void report(const char* what, const PixelImage& image, const ViewGeometry& g, const SoundDocument& doc)
{
    PixelImage fast(image.width(), image.height());
    PixelImage slow(image.width(), image.height());
    const Rgb wave = colourFromSetting(0xFFEEBB);
    const double summaryMs = fastest(20, [&] { renderWaveform(fast, g, doc, 0, wave, ColumnExtremes::Summary); });
    const double everyFrameMs = fastest(3, [&] { renderWaveform(slow, g, doc, 0, wave, ColumnExtremes::EveryFrame); });
    const bool same = std::memcmp(fast.data(), slow.data(), fast.byteSize()) == 0;
    std::printf("%-34s summary %9.3f ms   every frame %9.3f ms   ratio %7.1fx   pixels %s\n", what, summaryMs,
                everyFrameMs, everyFrameMs / summaryMs, same ? "identical" : "DIFFER");
}

} // namespace

int main()
{
    Settings settings;
    applyDefaultSettings(settings);
    const MainLayout layout = computeLayout(settings, true);
    const int width = settings.leftMarginWidth + 1000;
    const int height = layout.leftView.height;

    std::printf("generating one hour of 44.1 kHz 16-bit stereo ...\n");
    SoundDocument doc = hourOfStereo();
    std::printf("%d frames, %zu MB of samples; view %d x %d pixels (1000 columns of waveform)\n", doc.frameCount,
                doc.byteCount() >> 20, width, height);

    const double buildMs = milliseconds([&] { ensureSummary(doc); });
    std::printf("summary build (one pass, once per document): %.1f ms, %.2f MB\n", buildMs,
                doc.summary.memoryBytes() / 1048576.0);

    PixelImage image(width, height);
    const PlotSize plot = plotSizeOf(settings, width, height);

    fitView(doc.leftView, doc, plot);
    report("fitted (whole hour):", image, ViewGeometry::of(settings, width, height, doc.leftView), doc);

    ViewState minute = doc.leftView;
    minute.sx = plot.width / (60.0 * 44100);
    minute.x0 = 1800.5 * 44100;
    report("one minute in the middle:", image, ViewGeometry::of(settings, width, height, minute), doc);

    ViewState second = doc.leftView;
    second.sx = plot.width / 44100.0;
    second.x0 = 1234.25 * 44100;
    report("one second:", image, ViewGeometry::of(settings, width, height, second), doc);
    return 0;
}
