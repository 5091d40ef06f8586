#include "views/waveform_renderer.h"

#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "raster/font5x7.h"
#include "views/test_documents.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sonavik {
namespace {

using test::makeDocument;
using test::randomDocument;

constexpr Rgb kWave{187, 238, 255};
constexpr Rgb kTick{85, 85, 85};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kFrame{170, 255, 170};
constexpr int kM = 64;
constexpr int kA = 32;
constexpr int kR = 32;

ViewGeometry geometry(int viewWidth, int height, ViewState state)
{
    ViewGeometry g;
    g.width = kM + viewWidth;
    g.height = height;
    g.margin = kM;
    g.band = kA;
    g.ruler = kR;
    g.state = state;
    return g;
}

// Vertical scale that fits the whole amplitude range into the waveform area.
ViewState fitted(const ViewGeometry& g, int bits, double x0, double sx)
{
    const double range = bits == 8 ? 256.0 : 65536.0;
    return {x0, bits == 8 ? 0.0 : -32768.0, sx, g.waveHeight() / range};
}

PixelImage render(const SoundDocument& doc, const ViewGeometry& g, int channel = 0,
                  ColumnExtremes extremes = ColumnExtremes::Summary, std::optional<ScrollBarValues>* bars = nullptr)
{
    PixelImage image(g.width, g.height);
    auto result = renderWaveform(image, g, doc, channel, kWave, extremes);
    if (bars)
        *bars = result;
    return image;
}

Rgb faded(Rgb c, int top, int bottom, int row)
{
    const int num = 2 * bottom - top + 2 - row;
    const int den = 2 * (bottom - top + 1);
    return {static_cast<std::uint8_t>(c.r * num / den), static_cast<std::uint8_t>(c.g * num / den),
            static_cast<std::uint8_t>(c.b * num / den)};
}

int row(const ViewGeometry& g, int amplitude) { return static_cast<int>(g.rowOfAmplitude(amplitude)); }

bool textShown(const PixelImage& image, int centre, int top, const std::string& text, Rgb colour)
{
    int left = centre - 3 * static_cast<int>(text.size()) - 2;
    for (char ch : text) {
        for (int r = 0; r < kGlyphHeight; ++r)
            for (int c = 0; c < kGlyphWidth; ++c)
                if ((glyphRow(static_cast<unsigned char>(ch), r) >> (4 - c)) & 1)
                    if (image.pixel(left + c, top + r) != colour)
                        return false;
        left += kGlyphAdvance;
    }
    return true;
}

// Rows 0 to 22 belong to the time ruler's ticks and labels; the waveform checks stay below them.
constexpr int kBelowTimeRuler = 23;

TEST(WaveformRenderer, NoDataIsACheckerboardAndLeavesTheScrollBars)
{
    SoundDocument doc;
    std::optional<ScrollBarValues> bars = ScrollBarValues{};
    const ViewGeometry g = geometry(13, 50, {});
    const PixelImage image = render(doc, g, 0, ColumnExtremes::Summary, &bars);
    EXPECT_FALSE(bars.has_value());
    for (int yTop = 0; yTop < g.height; ++yTop) {
        const int y = g.height - 1 - yTop;
        for (int x = 0; x < g.width; ++x) {
            const std::uint8_t v = ((x / 4) + (y / 4)) % 2 == 1 ? 51 : 0;
            ASSERT_EQ(image.pixel(x, yTop), (Rgb{v, v, v})) << x << "," << y;
        }
    }
}

TEST(WaveformRenderer, BackgroundSilenceLineAndFrameLines)
{
    SoundDocument doc = makeDocument(8, 2, 100, [](std::int64_t, int) { return 200; });
    const ViewGeometry base = geometry(100, 203, {});
    const ViewGeometry g = geometry(100, 203, fitted(base, 8, 0.0, 1.0));
    const int wh = g.waveHeight();
    for (int channel = 0; channel < 2; ++channel) {
        const PixelImage image = render(doc, g, channel);
        for (int yTop = 0; yTop < 15; ++yTop) {
            const auto v = static_cast<std::uint8_t>(100 * (g.height - 1 - yTop) / g.height);
            EXPECT_EQ(image.pixel(0, yTop), channel == 0 ? (Rgb{0, 0, v}) : (Rgb{v, 0, 0})) << yTop;
        }
        const int silence = row(g, 128);
        for (int c = 1; c < 100; ++c) {  // column 0 carries the tick of frame 0
            EXPECT_EQ(image.pixel(kM + c, silence), (Rgb{136, 136, 136})) << c;
            EXPECT_EQ(image.pixel(kM + c, row(g, 200)), kWave) << c;
        }
        for (int y = 0; y < wh; ++y)
            EXPECT_EQ(image.pixel(kM - 1, y), faded(kFrame, 0, wh - 1, y)) << y;
        for (int x = 0; x < g.width; ++x) {
            EXPECT_EQ(image.pixel(x, wh), kFrame);
            EXPECT_EQ(image.pixel(x, wh + kA), kFrame);
            EXPECT_EQ(image.pixel(x, g.height - 1), kFrame);
        }
    }
}

TEST(WaveformRenderer, FullyZoomedOutAlternatingExtremesFillEveryColumn)
{
    SoundDocument doc = makeDocument(8, 1, 10000, [](std::int64_t i, int) { return i % 2 ? 255 : 0; });
    ensureSummary(doc);
    const ViewGeometry base = geometry(200, 240, {});
    const ViewGeometry g = geometry(200, 240, fitted(base, 8, 0.0, 200.0 / 10000));
    const int top = std::max(0, row(g, 255));
    const int bottom = row(g, 0);
    ASSERT_EQ(bottom, g.waveHeight() - 1);
    for (ColumnExtremes mode : {ColumnExtremes::Summary, ColumnExtremes::EveryFrame}) {
        const PixelImage image = render(doc, g, 0, mode);
        for (int c = 0; c < 200; ++c)
            for (int y = kBelowTimeRuler; y <= bottom; ++y)
                ASSERT_EQ(image.pixel(kM + c, y), faded(kWave, top, bottom, y)) << "column " << c << " row " << y;
    }
}

TEST(WaveformRenderer, SpikeColumnReachesDownToSilenceAndTheNextReturnsToIt)
{
    for (double zoom : {1.0, 0.5}) {
        SoundDocument doc = makeDocument(8, 1, 200, [](std::int64_t i, int) { return i == 50 ? 255 : 128; });
        ensureSummary(doc);
        const ViewGeometry base = geometry(90, 300, {});
        const ViewGeometry g = geometry(90, 300, fitted(base, 8, 0.0, zoom));
        const PixelImage image = render(doc, g);
        const int spike = static_cast<int>(g.firstColumnOfFrame(50));
        const int top = row(g, 255);
        const int silence = row(g, 128);
        ASSERT_GT(silence, top + 10);
        for (int y = std::max(top, kBelowTimeRuler); y <= silence; ++y)
            EXPECT_EQ(image.pixel(kM + spike, y), faded(kWave, top, silence, y)) << zoom << " row " << y;
        // The neighbours start from the spike's range turned over, and narrow back to the silence level.
        for (int c : {spike - 1, spike + 1}) {
            EXPECT_EQ(image.pixel(kM + c, silence), kWave) << zoom << " column " << c;
            EXPECT_NE(image.pixel(kM + c, silence - 1), kWave) << zoom << " column " << c;
            EXPECT_NE(image.pixel(kM + c, silence + 1), kWave) << zoom << " column " << c;
        }
    }
}

TEST(WaveformRenderer, ZoomedInFramesAreLevelLinesJoinedByBarsWithEvery20thLabelled)
{
    auto sample = [](std::int64_t k) { return static_cast<int>(k * 300 - 15000); };
    SoundDocument doc = makeDocument(16, 1, 100, [&](std::int64_t k, int) { return sample(k); });
    const ViewGeometry base = geometry(200, 260, {});
    const ViewGeometry g = geometry(200, 260, fitted(base, 16, 0.0, 4.0));
    const PixelImage image = render(doc, g);
    const int wh = g.waveHeight();
    for (int k = 0; k < 49; ++k) {
        const int y = row(g, sample(k));
        const int next = row(g, sample(k + 1));
        if (y < kBelowTimeRuler)
            continue;
        for (int x = 4 * k; x < 4 * k + 3; ++x)
            EXPECT_EQ(image.pixel(kM + x, y), kWave) << "frame " << k;
        EXPECT_EQ(image.pixel(kM + 4 * k + 3, next), kWave) << "frame " << k;  // the bar's top is the next level
        EXPECT_EQ(image.pixel(kM + 4 * k + 3, y), faded(kWave, next, y, y)) << "frame " << k;
    }
    for (int k = 0; k < 50; ++k) {
        const bool labelled = k % 20 == 0;
        for (int x = 4 * k; x < 4 * k + 4; ++x)
            EXPECT_EQ(image.pixel(kM + x, wh + 5) == kTick, labelled) << "frame " << k;
    }
    EXPECT_TRUE(textShown(image, kM + (80 + 83) / 2, wh + kA + 4, "20 p", kWhite));
    EXPECT_TRUE(textShown(image, kM + (80 + 83) / 2, wh + kA + 13, "0.0005s", kWhite));
    EXPECT_TRUE(textShown(image, kM + (160 + 163) / 2, wh + kA + 4, "40 p", kWhite));
}

TEST(WaveformRenderer, FrameWiderThanTheViewStillDrawsItsLevel)
{
    SoundDocument doc = makeDocument(16, 1, 100, [](std::int64_t k, int) { return k == 10 ? -12000 : 0; });
    const ViewGeometry base = geometry(200, 260, {});
    const ViewGeometry g = geometry(200, 260, fitted(base, 16, 10.3, 5000.0));
    const PixelImage image = render(doc, g);
    const int y = row(g, -12000);
    for (int x = kM; x < g.width; ++x) {
        EXPECT_EQ(image.pixel(x, y), kWave) << x;
        EXPECT_EQ(image.pixel(x, g.waveHeight() + 5), kTick) << x;  // frame 10 is an even frame
    }
}

TEST(WaveformRenderer, SampleRulerStepFollowsTheZoom)
{
    struct Case {
        double zoomX;
        std::int64_t step;
    };
    // The first table row whose bound exceeds the zoom applies: 0.1 lies below 0.12, so every 1000th frame.
    const Case cases[] = {{1.0, 100}, {0.7, 100}, {0.5, 200}, {0.2, 500}, {0.12, 500}, {0.1, 1000}, {0.05, 2000},
                          {1e-4, 1000000}, {1e-7, 1000000000}};
    for (const Case& c : cases)
        EXPECT_EQ(sampleRulerStep(c.zoomX), c.step) << c.zoomX;
    EXPECT_EQ(frameRulerInterval(2.99), 50);
    EXPECT_EQ(frameRulerInterval(4.0), 20);
    EXPECT_EQ(frameRulerInterval(7.0), 10);
    EXPECT_EQ(frameRulerInterval(12.0), 5);
    EXPECT_EQ(frameRulerInterval(30.0), 2);

    for (const Case& c : {cases[2], cases[3], cases[5]}) {
        SoundDocument doc = makeDocument(16, 1, 20000, [](std::int64_t, int) { return 0; });
        const ViewGeometry base = geometry(300, 200, {});
        const ViewGeometry g = geometry(300, 200, fitted(base, 16, 0.0, c.zoomX));
        const PixelImage image = render(doc, g);
        std::vector<bool> expected(300, false);
        for (std::int64_t f = 0; g.firstColumnOfFrame(f) < 300; f += c.step)
            expected[g.firstColumnOfFrame(f)] = true;
        for (int col = 0; col < 300; ++col)
            EXPECT_EQ(image.pixel(kM + col, g.waveHeight() + 5) == kTick, expected[col]) << c.zoomX << " column " << col;
        const int column = static_cast<int>(g.firstColumnOfFrame(c.step));
        EXPECT_TRUE(textShown(image, kM + column, g.waveHeight() + kA + 4, std::to_string(c.step) + " p", kWhite))
            << c.zoomX;
    }
}

TEST(WaveformRenderer, TimeRulerLabelsDropTrailingZerosAndThePoint)
{
    struct Label {
        double seconds;
        const char* text;
    };
    for (const Label& l : {Label{0.1, "0.1s"}, Label{2.0, "2s"}, Label{0.002, "0.002s"}, Label{12.5, "12.5s"},
                           Label{0.0, "0s"}, Label{-0.25, "-0.25s"}, Label{1e-7, "0s"}})
        EXPECT_EQ(timeLabel(l.seconds), l.text) << l.seconds;

    struct Case {
        double zoomX;
        std::uint32_t rate;
        std::vector<std::string> firstLabels;
    };
    const Case cases[] = {
        {0.02, 44100, {"0.1s", "0.2s", "0.3s"}},  // z = 0.02: every 5000 units of 1/50000 s
        {0.001, 44100, {"2s", "4s", "6s"}},  // z = 0.001 lies below 0.0012: every 100000 units
        {0.04, 22050, {"0.1s", "0.2s"}},  // the zoom is taken relative to 44100 Hz
    };
    for (const Case& c : cases) {
        SoundDocument doc = makeDocument(16, 1, 10, [](std::int64_t, int) { return 0; }, c.rate);
        const ViewGeometry base = geometry(300, 200, {});
        const ViewGeometry g = geometry(300, 200, fitted(base, 16, 0.0, c.zoomX));
        const PixelImage image = render(doc, g);
        std::vector<int> ticks;
        for (int col = 0; col < 300; ++col)
            if (image.pixel(kM + col, 0) == (Rgb{221, 221, 221}))
                ticks.push_back(col);
        ASSERT_GE(ticks.size(), c.firstLabels.size()) << c.zoomX;
        for (std::size_t i = 0; i < c.firstLabels.size(); ++i) {
            const int col = ticks[i];
            const double expectedColumn = std::stod(c.firstLabels[i]) * c.rate * c.zoomX;
            EXPECT_NEAR(col, expectedColumn, 1.0) << c.firstLabels[i];
            EXPECT_EQ(image.pixel(kM + col, 10), faded({221, 221, 221}, 0, 10, 10));
            EXPECT_TRUE(textShown(image, kM + col + 1, 15, c.firstLabels[i], kWhite)) << c.firstLabels[i];
            // The black shadow one pixel down and right shows where the white does not cover it.
            int left = kM + col + 2 - 3 * static_cast<int>(c.firstLabels[i].size()) - 2;
            const auto g0 = static_cast<unsigned char>(c.firstLabels[i][0]);
            for (int r = 0; r < kGlyphHeight; ++r)
                for (int k = 0; k < kGlyphWidth; ++k) {
                    const bool shadow = (glyphRow(g0, r) >> (4 - k)) & 1;
                    // The white glyph sits one pixel up and left: its cell (k + 1, r + 1) lands here.
                    const bool white = k + 1 < kGlyphWidth && r + 1 < kGlyphHeight
                                       && ((glyphRow(g0, r + 1) >> (3 - k)) & 1);
                    if (shadow && !white) {
                        EXPECT_EQ(image.pixel(left + k, 16 + r), (Rgb{0, 0, 0})) << c.firstLabels[i];
                    }
                }
        }
    }
}

TEST(WaveformRenderer, ScrollBarValues)
{
    struct Case {
        int bits;
        std::int32_t frames;
        ViewState state;
        ScrollBarValues bars;
    };
    // View width 200, waveform height 136.
    const Case cases[] = {
        {16, 1000, {100.0, -32768.0, 0.5, 136.0 / 65536}, {0, 32767, 13107, 3277, 0, 65535, 65536, 0}},
        {16, 1000, {-50.0, -1000.0, 2.0, 0.01}, {0, 32767, 3277, -1638, 0, 65535, 13600, 20168}},
        {8, 40000, {1234.5, 0.0, 0.01, 136.0 / 256}, {0, 32767, 16384, 1011, 0, 16383, 16384, 0}},
        {8, 40000, {0.0, 64.0, 0.01, 136.0 / 128}, {0, 32767, 16384, 0, 0, 16383, 8192, 4096}},
        // No frames: scaled as a single frame, and nothing divides by zero.
        {16, 0, {0.0, -32768.0, 200.0, 136.0 / 65536}, {0, 32767, 32768, 0, 0, 65535, 65536, 0}},
    };
    for (const Case& c : cases) {
        SoundDocument doc = makeDocument(c.bits, 1, c.frames, [](std::int64_t, int) { return 7; });
        std::optional<ScrollBarValues> bars;
        render(doc, geometry(200, 200, c.state), 0, ColumnExtremes::Summary, &bars);
        ASSERT_TRUE(bars.has_value());
        EXPECT_EQ(*bars, c.bars) << c.bits << " bits, " << c.frames << " frames, zoom " << c.state.sx;
    }
}

TEST(WaveformRenderer, NothingToReadDrawsNoWaveform)
{
    SoundDocument empty = makeDocument(16, 1, 0, [](std::int64_t, int) { return 0; });
    SoundDocument mono = makeDocument(16, 1, 500, [](std::int64_t, int) { return 20000; });
    struct Case {
        const SoundDocument* doc;
        int channel;
        double x0, sx;
    };
    const Case cases[] = {{&empty, 0, 0.0, 0.5}, {&empty, 0, -50.0, 0.5}, {&empty, 0, -3.0, 4.0},
                          {&mono, 1, 0.0, 0.5},  {&mono, 1, -10.0, 4.0}};
    for (const Case& c : cases) {
        const ViewGeometry base = geometry(120, 200, {});
        const ViewGeometry g = geometry(120, 200, fitted(base, 16, c.x0, c.sx));
        const PixelImage image = render(*c.doc, g, c.channel);
        for (int y = kBelowTimeRuler; y < g.waveHeight(); ++y)
            for (int x = kM; x < g.width; ++x) {
                const Rgb p = image.pixel(x, y);
                ASSERT_TRUE(p.g == 0 || p == (Rgb{136, 136, 136})) << c.x0 << "/" << c.sx << " at " << x << "," << y;
            }
    }
}

// The summary must never change a pixel: random documents, zooms and scroll positions drawn both ways.
TEST(WaveformRenderer, SummaryAndEveryFrameDrawIdenticalPictures)
{
    struct Doc {
        int bits, channels;
        std::int32_t frames;
    };
    const Doc docs[] = {{8, 1, 3000}, {16, 2, 70001}, {8, 2, 300000}, {16, 1, 1100000}};
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int compared = 0;
    for (const Doc& d : docs) {
        SoundDocument doc = randomDocument(d.bits, d.channels, d.frames, static_cast<unsigned>(d.frames));
        ensureSummary(doc);
        const int viewWidth = 150 + static_cast<int>(rng() % 200);
        const ViewGeometry base = geometry(viewWidth, 180, {});
        std::vector<double> zooms = {1.0, 1.0 - 1e-9, 0.999, 1.001, viewWidth / static_cast<double>(d.frames), 1e-6,
                                     3.0};
        for (int i = 0; i < 14; ++i)
            zooms.push_back(std::pow(10.0, -6.0 + 6.5 * unit(rng)));
        for (double zoom : zooms) {
            const double span = viewWidth / zoom;
            // Before the start, inside, across the end and past it, fractional positions included.
            for (double x0 : {-span * 0.5, 0.0, unit(rng) * d.frames, d.frames - span * 0.3, -7.25,
                              static_cast<double>(d.frames) + 3}) {
                ViewState state = fitted(base, d.bits, x0, zoom);
                if (rng() % 3 == 0) {  // zoomed in vertically as well
                    state.sy *= 4;
                    state.y0 += (d.bits == 8 ? 64 : 16384) * unit(rng);
                }
                const ViewGeometry g = geometry(viewWidth, 180, state);
                for (int channel = 0; channel < d.channels; ++channel) {
                    std::optional<ScrollBarValues> fastBars, slowBars;
                    const PixelImage fast = render(doc, g, channel, ColumnExtremes::Summary, &fastBars);
                    const PixelImage slow = render(doc, g, channel, ColumnExtremes::EveryFrame, &slowBars);
                    ASSERT_EQ(fastBars, slowBars);
                    ASSERT_EQ(std::vector<std::uint8_t>(fast.data(), fast.data() + fast.byteSize()),
                              std::vector<std::uint8_t>(slow.data(), slow.data() + slow.byteSize()))
                        << d.bits << " bits, " << d.channels << " channels, " << d.frames << " frames, zoom " << zoom
                        << ", scroll " << x0 << ", channel " << channel;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 400);
}

TEST(WaveformRenderer, ColourSettingsHoldRedInTheLowByte)
{
    EXPECT_EQ(colourFromSetting(0xFFEEBB), (Rgb{187, 238, 255}));
    EXPECT_EQ(colourFromSetting(0xEEBBFF), (Rgb{255, 187, 238}));
}

TEST(WaveformRenderer, TinyAndOddViewsDoNotFail)
{
    SoundDocument doc = randomDocument(16, 2, 5000, 1);
    ensureSummary(doc);
    for (int width : {0, 1, 30, 64, 65, 67}) {
        for (int height : {0, 1, 40, 64, 65, 70}) {
            ViewGeometry g = geometry(0, height, {0.0, -32768.0, 0.3, 0.01});
            g.width = width;
            PixelImage image(width, height);
            renderWaveform(image, g, doc, 1, kWave);
        }
    }
}

} // namespace
} // namespace sonavik
