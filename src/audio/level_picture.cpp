#include "audio/level_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sonavik {

namespace {

constexpr int kBlue = 0;
constexpr int kGreen = 1;
constexpr int kRed = 2;

// Rows count from the bottom of the picture, as the buffer stores them.
void setChannel(PixelImage& p, int x, int row, int channel)
{
    if (x < 0 || x >= p.width() || row < 0 || row >= p.height())
        return;
    p.data()[static_cast<std::size_t>(row) * p.stride() + 3 * static_cast<std::size_t>(x) + channel] = 255;
}

void brighten(PixelImage& p, int x, int row)
{
    if (x < 0 || x >= p.width() || row < 0 || row >= p.height())
        return;
    std::uint8_t* px = p.data() + static_cast<std::size_t>(row) * p.stride() + 3 * static_cast<std::size_t>(x);
    px[0] = static_cast<std::uint8_t>(std::min(255, px[0] + 240));
    px[1] = static_cast<std::uint8_t>(std::min(255, px[1] + 112));
    px[2] = static_cast<std::uint8_t>(std::min(255, px[2] + 64));
}

struct Samples {
    const unsigned char* bytes;
    std::size_t frames;
    int channels;
    bool sixteen;

    // 8 bits: the raw byte 0..255; 16 bits: the signed value.
    int at(std::size_t frame, int channel) const
    {
        const std::size_t i = frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel);
        if (!sixteen)
            return bytes[i];
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
};

int limitRow(double value, int h)
{
    const double f = std::floor(value);
    if (f < 0)
        return 0;
    return f > h - 1 ? h - 1 : static_cast<int>(f);
}

// The largest swing from silence over every channel, 0 to 128.
int packetLevel(const Samples& s)
{
    int level = 0;
    for (int c = 0; c < s.channels; ++c) {
        int lo = std::numeric_limits<int>::max();
        int hi = std::numeric_limits<int>::min();
        for (std::size_t i = 0; i < s.frames; ++i) {
            lo = std::min(lo, s.at(i, c));
            hi = std::max(hi, s.at(i, c));
        }
        if (s.frames > 0)
            level = std::max(level, s.sixteen ? std::max(hi, -lo) / 256 : std::max(128 - lo, hi - 128));
    }
    return level;
}

// One channel's waveform into the band of height h whose bottom row is base.
void drawWaveBand(PixelImage& p, const Samples& s, int channel, int base, int h, bool trace)
{
    const int w = p.width();
    if (h <= 0)
        return;
    const double scale = s.sixteen ? 65536.0 : 256.0;
    const int offset = s.sixteen ? 32768 : 0;
    const double d = h / scale;
    const int guides[3] = {static_cast<int>(std::floor(h / scale * (scale / 2))), 0,
                           static_cast<int>(std::floor(d * (scale - 1)))};
    for (int row : guides)
        for (int x = 0; x < w; ++x)
            setChannel(p, x, base + row, kBlue);
    if (s.frames == 0)
        return;

    const std::int64_t n = static_cast<std::int64_t>(s.frames);
    int overallMin = std::numeric_limits<int>::max();
    int overallMax = std::numeric_limits<int>::min();
    for (int x = 0; x < w; ++x) {
        std::int64_t first = std::clamp<std::int64_t>(x * n / w, 0, n - 1);
        std::int64_t last = std::clamp<std::int64_t>((x + 1) * n / w - 1, 0, n - 1);
        // A narrow packet spreads each frame over several columns.
        last = std::max(first, last);
        int lo = s.at(static_cast<std::size_t>(first), channel) + offset;
        int hi = lo;
        for (std::int64_t i = first + 1; i <= last; ++i) {
            const int v = s.at(static_cast<std::size_t>(i), channel) + offset;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        overallMin = std::min(overallMin, lo);
        overallMax = std::max(overallMax, hi);
        if (trace) {
            const int r1 = limitRow(d * hi, h);
            for (int r = limitRow(d * lo, h); r <= r1; ++r)
                setChannel(p, x, base + r, kGreen);
        }
    }
    for (int row : {limitRow(d * overallMax, h), limitRow(d * overallMin, h)})
        for (int x = 0; x < w; ++x)
            setChannel(p, x, base + row, kRed);
}

// Every point of the line from (x0, y0) to (x1, y1), both ends included.
template <class Plot>
void line(int x0, int y0, int x1, int y1, Plot plot)
{
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        plot(x0, y0);
        if (x0 == x1 && y0 == y1)
            return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void drawLissajous(PixelImage& p, const Samples& s, const LevelPictureOptions& o)
{
    const int w = p.width();
    const int h = p.height();
    const int side = std::min(w, h);
    const int ox = w > side ? (w - side) / 2 : 0;
    const int oy = h > side ? (h - side) / 2 : 0;
    const int c = side / 2;
    const double k = side / (s.sixteen ? 65536.0 : 256.0) / 2;

    for (int j = 0; j < side; ++j) {
        setChannel(p, ox + j, oy + c, kBlue);
        setChannel(p, ox + c, oy + j, kBlue);
    }

    auto limit = [](double v, int hiLimit) {
        const double f = std::floor(v);
        return f < 0 ? 0 : f > hiLimit ? hiLimit : static_cast<int>(f);
    };
    int minL = std::numeric_limits<int>::max(), maxL = std::numeric_limits<int>::min();
    int minR = minL, maxR = maxL;
    int prevX = 0, prevY = 0;
    bool lineDrawn = false;
    for (std::size_t i = 0; i < s.frames; ++i) {
        const int l = s.at(i, 0);
        const int r = s.at(i, 1);
        minL = std::min(minL, l);
        maxL = std::max(maxL, l);
        minR = std::min(minR, r);
        maxR = std::max(maxR, r);
        const int x = limit(ox + k * (r - l) + c, w - 1);
        const int y = limit(oy + c + k * (l + r - (s.sixteen ? 0 : 256)), h - 1);
        if (o.lissajousTrace) {
            if (!o.lissajousDecor) {
                setChannel(p, x, y, kGreen);
            } else if (i > 0 && (x != prevX || y != prevY)) {
                // After the first line, each start point was brightened as the end of the line before.
                bool skip = lineDrawn;
                line(prevX, prevY, x, y, [&](int px, int py) {
                    if (skip) {
                        skip = false;
                        return;
                    }
                    brighten(p, px, py);
                });
                lineDrawn = true;
            }
        }
        prevX = x;
        prevY = y;
    }
    if (s.frames == 0)
        return;

    auto shift = [&](int e) { return static_cast<int>(s.sixteen ? 2 * k * e : 2 * k * (e - 128)); };
    for (int e : {maxR, minR}) {
        const int sh = shift(e);
        for (int j = 0; j < side; ++j) {
            const int row = side - 1 - j + sh;
            if (row >= 0 && row < side)
                setChannel(p, ox + j, oy + row, kRed);
        }
    }
    for (int e : {maxL, minL}) {
        const int sh = shift(e);
        for (int j = 0; j < side; ++j) {
            const int row = j + sh;
            if (row >= 0 && row < side)
                setChannel(p, ox + j, oy + row, kRed);
        }
    }
}

} // namespace

int drawLevelPicture(PixelImage& picture, const unsigned char* bytes, std::size_t byteCount,
                     const LevelPictureOptions& o)
{
    picture.fill(Rgb{});
    const int channels = o.channels == 2 ? 2 : 1;
    const bool sixteen = o.bitsPerSample != 8;
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * (sixteen ? 2 : 1);
    const Samples s{bytes, bytes ? byteCount / frameBytes : 0, channels, sixteen};
    const int h = picture.height();
    // The level decides what is stored, so it never depends on the picture's size.
    const int level = packetLevel(s);
    if (picture.empty())
        return level;
    if (channels == 1) {
        drawWaveBand(picture, s, 0, 0, h, o.monoTrace);
    } else if (o.lissajousType) {
        drawLissajous(picture, s, o);
    } else {
        drawWaveBand(picture, s, 0, h / 2, h / 2, o.stereoTrace);
        drawWaveBand(picture, s, 1, 0, h / 2, o.stereoTrace);
    }
    return level;
}

void markRecording(PixelImage& picture)
{
    const int h = picture.height();
    for (int row = h - 10; row <= h - 4; ++row)
        for (int x = 3; x <= 9; ++x)
            setChannel(picture, x, row, kRed);
}

} // namespace sonavik
