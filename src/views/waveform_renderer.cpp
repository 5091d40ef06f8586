#include "views/waveform_renderer.h"

#include "document/sample_summary.h"
#include "document/sound_document.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

namespace sonavik {

namespace {

constexpr Rgb kSilenceGrey{136, 136, 136};
constexpr Rgb kTickGrey{85, 85, 85};
constexpr Rgb kTimeTick{221, 221, 221};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kFrameGreen{170, 255, 170};
constexpr std::uint8_t kCheckerGrey = 51;

// Far outside any image, yet safe to add small offsets to in int arithmetic.
int toCoord(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30)); }

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int roundScroll(double v)
{
    const double r = std::floor(v + 0.5);
    if (std::isnan(r))
        return 0;
    return static_cast<int>(std::clamp(r, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

void drawCheckerboard(PixelImage& image)
{
    if (image.empty())
        return;
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* row = image.data() + static_cast<std::size_t>(y) * image.stride();
        std::memset(row, 0, image.stride());
        for (int x = 0; x < image.width(); ++x) {
            if (((x / 4) + (y / 4)) % 2 == 1)
                std::memset(row + 3 * static_cast<std::size_t>(x), kCheckerGrey, 3);
        }
    }
}

void drawBackground(PixelImage& image, int channel)
{
    if (image.empty())
        return;
    std::memset(image.data(), 0, image.byteSize());
    const std::size_t component = channel == 1 ? 2 : 0;  // red on the right, blue on the left
    const int h = image.height();
    for (int y = 0; y < h; ++y) {
        const auto v = static_cast<std::uint8_t>(100 * static_cast<std::int64_t>(y) / h);
        std::uint8_t* p = image.data() + static_cast<std::size_t>(y) * image.stride() + component;
        for (int x = 0; x < image.width(); ++x, p += 3)
            *p = v;
    }
}

std::string rulerFrameLabel(std::int64_t frame) { return std::to_string(frame) + " p"; }

// "%.4lfs", without the locale's decimal comma.
std::string rulerSecondsLabel(std::int64_t frame, std::uint32_t rate)
{
    const double seconds = rate > 0 ? static_cast<double>(frame) / rate : 0.0;
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text - 1, seconds, std::chars_format::fixed, 4);
    if (ec != std::errc())
        return "s";
    *end = '\0';
    return std::string(text) + "s";
}

void drawRulerLabels(PixelImage& image, int centre, int top, std::int64_t frame, std::uint32_t rate)
{
    image.textCentred(centre, top + 4, rulerFrameLabel(frame), kWhite);
    image.textCentred(centre, top + 13, rulerSecondsLabel(frame, rate), kWhite);
}

class Renderer {
public:
    Renderer(PixelImage& image, const ViewGeometry& geometry, const SoundDocument& doc, int channel, Rgb wave,
             ColumnExtremes extremes)
        : img_(image), g_(geometry), doc_(doc), channel_(channel), wave_(wave), layout_(layoutOf(doc))
    {
        g_.width = image.width();
        g_.height = image.height();
        m_ = g_.margin;
        vw_ = g_.viewWidth();
        wh_ = g_.waveHeight();
        eightBit_ = doc.format.wBitsPerSample == 8;
        // A channel the buffer does not hold is drawn as if it had no frames.
        frames_ = layout_.valid() && channel >= 0 && channel < layout_.channels ? layout_.frameCount : 0;
        useSummary_ = extremes == ColumnExtremes::Summary && doc.summary.describes(layout_);
    }

    ScrollBarValues run()
    {
        drawBackground(img_, channel_);
        img_.setClip({m_, 0, g_.width - 1, wh_ - 1});
        const std::int64_t silenceRow = g_.rowOfAmplitude(eightBit_ ? 128.0 : 0.0);
        if (silenceRow >= 0 && silenceRow < wh_)
            img_.horizontalLine(m_, g_.width - 1, static_cast<int>(silenceRow), kSilenceGrey);
        if (frames_ > 0) {
            if (g_.zoomedIn())
                drawFrames();
            else
                drawColumns();
        }
        drawTimeRuler();
        img_.resetClip();
        img_.gradientBar(m_ - 1, 0, wh_ - 1, kFrameGreen);
        img_.horizontalLine(0, g_.width - 1, wh_, kFrameGreen);
        img_.horizontalLine(0, g_.width - 1, wh_ + g_.band, kFrameGreen);
        img_.horizontalLine(0, g_.width - 1, g_.height - 1, kFrameGreen);
        return scrollBars();
    }

private:
    int row(int amplitude) const { return toCoord(g_.rowOfAmplitude(amplitude)); }

    MinMax extremes(std::int64_t first, std::int64_t last) const
    {
        if (useSummary_)
            return doc_.summary.minMax(channel_, first, last);
        return scanFrames(layout_, channel_, first, last);
    }

    // Several frames per column: one bar per column from the column's extremes.
    void drawColumns()
    {
        const std::int64_t step = sampleRulerStep(g_.state.sx);
        // Each bar starts from the previous bar's range turned upside down, so neighbouring bars overlap
        // and a steep edge stays one connected trace; the first starts from an empty range.
        int previousMin = eightBit_ ? 0 : -32768;
        int previousMax = eightBit_ ? 255 : 32767;
        for (int c = 0; c < vw_; ++c) {
            std::int64_t first = g_.firstFrameOfColumn(c);
            std::int64_t last = g_.lastFrameOfColumn(c);
            if (first >= frames_ && last >= frames_)
                break;
            if (first < 0 && last < 0)
                continue;
            first = std::max<std::int64_t>(first, 0);
            last = std::min<std::int64_t>(last, frames_ - 1);

            if (last / step - floorDiv(first - 1, step) == 1) {
                const int x = m_ + c;
                img_.fillRect(x, 0, x, wh_ + g_.band - 1, kTickGrey);
                drawRulerLabels(img_, x, wh_ + g_.band, last / step * step, doc_.format.nSamplesPerSec);
            }

            const MinMax m = extremes(first, last);
            const int top = std::max(previousMin, m.max);
            const int bottom = std::min(previousMax, m.min);
            img_.gradientBar(m_ + c, row(bottom), row(top), wave_);
            previousMin = bottom;
            previousMax = top;
        }
    }

    // Several columns per frame: a level line per frame joined by bars.
    void drawFrames()
    {
        std::int64_t k0 = g_.frameUnderColumn(0);
        std::int64_t k1 = g_.frameUnderColumn(vw_ - 1);
        if ((k0 < 0 && k1 < 0) || (k0 > frames_ - 1 && k1 > frames_ - 1))
            return;
        k0 = std::max<std::int64_t>(k0, 0);
        k1 = std::min<std::int64_t>(k1, frames_ - 1);
        const int interval = frameRulerInterval(g_.state.sx);
        for (std::int64_t k = k0; k <= k1; ++k) {
            const std::int64_t x0 = m_ + g_.firstColumnOfFrame(static_cast<double>(k));
            const std::int64_t x1 = m_ + g_.lastColumnOfFrame(static_cast<double>(k));
            if (k % interval == 0) {
                img_.fillRect(toCoord(x0), 0, toCoord(x1), wh_ + g_.band - 1, kTickGrey);
                drawRulerLabels(img_, toCoord((x0 + x1) / 2), wh_ + g_.band, k, doc_.format.nSamplesPerSec);
            }
            const int y = row(layout_.sampleAt(k, channel_));
            img_.horizontalLine(toCoord(x0), toCoord(x1), y, wave_);
            if (k < k1)
                img_.gradientBar(toCoord(x1), y, row(layout_.sampleAt(k + 1, channel_)), wave_);
        }
    }

    void drawTimeRuler()
    {
        const std::uint32_t rate = doc_.format.nSamplesPerSec;
        if (rate == 0 || vw_ <= 0)
            return;
        const double zoomX = g_.state.sx;
        const double z = zoomX * rate / 44100.0;
        const double t = z <= 1.0 ? static_cast<double>(sampleRulerStep(z)) : frameRulerInterval(z);
        auto unitAt = [&](int c) { return floorToInt((c / zoomX + g_.state.x0) * 50000.0 / rate / t); };
        std::int64_t previous = unitAt(0);
        for (int c = 0; c < vw_; ++c) {
            const std::int64_t next = unitAt(c + 1);
            if (next != previous) {
                img_.gradientBar(m_ + c, 0, 10, kTimeTick);
                const std::string label = timeLabel(static_cast<double>(next) * t / 50000.0);
                img_.textCentred(m_ + c + 2, 16, label, kBlack);
                img_.textCentred(m_ + c + 1, 15, label, kWhite);
            }
            previous = next;
        }
    }

    ScrollBarValues scrollBars() const
    {
        ScrollBarValues bars;
        // A document of no frames is scaled as one of a single frame.
        const double frames = doc_.frameCount > 0 ? doc_.frameCount : 1.0;
        const ViewState& s = g_.state;
        bars.hMin = 0;
        bars.hMax = 32767;
        bars.hPage = roundScroll(32768.0 / frames * vw_ / s.sx);
        bars.hPos = roundScroll(32768.0 / frames * s.x0);
        bars.vMin = 0;
        if (eightBit_) {
            bars.vMax = 16383;
            bars.vPage = roundScroll(wh_ * 64.0 / s.sy);
            bars.vPos = roundScroll((256.0 - s.y0 - wh_ / s.sy) * 64.0);
        } else {
            bars.vMax = 65535;
            bars.vPage = roundScroll(wh_ / s.sy);
            bars.vPos = roundScroll(32768.0 - s.y0 - wh_ / s.sy);
        }
        return bars;
    }

    PixelImage& img_;
    ViewGeometry g_;
    const SoundDocument& doc_;
    int channel_;
    Rgb wave_;
    SampleLayout layout_;
    int m_ = 0;
    int vw_ = 0;
    int wh_ = 0;
    bool eightBit_ = false;
    std::int64_t frames_ = 0;
    bool useSummary_ = false;
};

} // namespace

std::int64_t sampleRulerStep(double zoomX)
{
    struct Row {
        double below;
        std::int64_t step;
    };
    static constexpr Row kRows[] = {
        {1.2e-7, 1000000000}, {3e-7, 500000000}, {7e-7, 200000000}, {1.2e-6, 100000000}, {3e-6, 50000000},
        {7e-6, 20000000},     {1.2e-5, 10000000}, {3e-5, 5000000},  {7e-5, 2000000},     {1.2e-4, 1000000},
        {3e-4, 500000},       {7e-4, 200000},     {0.0012, 100000}, {0.003, 50000},      {0.007, 20000},
        {0.012, 10000},       {0.03, 5000},       {0.07, 2000},     {0.12, 1000},        {0.3, 500},
        {0.7, 200},
    };
    for (const Row& r : kRows)
        if (zoomX < r.below)
            return r.step;
    return 100;
}

int frameRulerInterval(double zoomX)
{
    if (zoomX < 3)
        return 50;
    if (zoomX < 7)
        return 20;
    if (zoomX < 12)
        return 10;
    if (zoomX < 30)
        return 5;
    return 2;
}

std::string timeLabel(double seconds)
{
    char text[400];  // "%lf" of the largest double has 309 digits before the point
    auto [end, ec] = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 6);
    std::string s = ec == std::errc() ? std::string(text, end) : std::string();
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0')
            s.pop_back();
        if (!s.empty() && s.back() == '.')
            s.pop_back();
    }
    return s + "s";
}

Rgb colourFromSetting(std::uint32_t colorref)
{
    return {static_cast<std::uint8_t>(colorref & 0xFF), static_cast<std::uint8_t>((colorref >> 8) & 0xFF),
            static_cast<std::uint8_t>((colorref >> 16) & 0xFF)};
}

std::optional<ScrollBarValues> renderWaveform(PixelImage& image, const ViewGeometry& geometry, const SoundDocument& doc,
                                              int channel, Rgb waveColour, ColumnExtremes extremes)
{
    image.resetClip();
    if (!doc.hasData()) {
        drawCheckerboard(image);
        return std::nullopt;
    }
    Renderer renderer(image, geometry, doc, channel, waveColour, extremes);
    ScrollBarValues bars = renderer.run();
    image.resetClip();
    return bars;
}

} // namespace sonavik
