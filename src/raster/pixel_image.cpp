#include "raster/pixel_image.h"

#include "raster/font5x7.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

namespace sonavik {

namespace {

std::size_t strideFor(int width) { return 3 * static_cast<std::size_t>(width) + static_cast<std::size_t>(width % 4); }

} // namespace

PixelImage::PixelImage(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    stride_ = strideFor(width);
    bytes_.assign(stride_ * static_cast<std::size_t>(height), 0);
    width_ = width;
    height_ = height;
    resetClip();
}

std::optional<PixelImage> PixelImage::create(int width, int height)
{
    try {
        return PixelImage(width, height);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

std::optional<PixelImage> PixelImage::clone() const
{
    try {
        return PixelImage(*this);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

Rgb PixelImage::pixel(int x, int yTop) const
{
    if (!contains(x, yTop))
        return {};
    const std::uint8_t* p = at(x, yTop);
    return {p[2], p[1], p[0]};
}

void PixelImage::setPixel(int x, int yTop, Rgb colour)
{
    if (contains(x, yTop))
        put(x, yTop, colour);
}

void PixelImage::fill(Rgb colour)
{
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            put(x, y, colour);
}

void PixelImage::setClip(ClipRect rect)
{
    clip_.left = std::max(rect.left, 0);
    clip_.top = std::max(rect.top, 0);
    clip_.right = std::min(rect.right, width_ - 1);
    clip_.bottom = std::min(rect.bottom, height_ - 1);
}

void PixelImage::resetClip() { clip_ = {0, 0, width_ - 1, height_ - 1}; }

void PixelImage::horizontalLine(int x0, int x1, int y, Rgb colour)
{
    if (y < clip_.top || y > clip_.bottom)
        return;
    if (x0 > x1)
        std::swap(x0, x1);
    // A line that crosses the whole clip from outside on both sides is still drawn.
    if (x1 < clip_.left || x0 > clip_.right)
        return;
    x0 = std::max(x0, clip_.left);
    x1 = std::min(x1, clip_.right);
    for (int x = x0; x <= x1; ++x)
        put(x, y, colour);
}

void PixelImage::gradientBar(int x, int y0, int y1, Rgb colour)
{
    if (x < clip_.left || x > clip_.right)
        return;
    if (y0 > y1)
        std::swap(y0, y1);
    if (y1 < clip_.top || y0 > clip_.bottom)
        return;
    const int top = std::max(y0, clip_.top);
    const int bottom = std::min(y1, clip_.bottom);
    const int denominator = 2 * (bottom - top + 1);
    for (int i = top; i <= bottom; ++i) {
        const int numerator = 2 * bottom - top + 2 - i;
        put(x, i,
            {static_cast<std::uint8_t>(colour.r * numerator / denominator),
             static_cast<std::uint8_t>(colour.g * numerator / denominator),
             static_cast<std::uint8_t>(colour.b * numerator / denominator)});
    }
}

void PixelImage::fillRect(int x0, int y0, int x1, int y1, Rgb colour)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    x0 = std::max(x0, clip_.left);
    x1 = std::min(x1, clip_.right);
    // The rows ignore the clip (the ruler's tick columns reach into the alpha band), but never leave the image.
    y0 = std::max(y0, 0);
    y1 = std::min(y1, height_ - 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            put(x, y, colour);
}

void PixelImage::textLeft(int x, int top, std::string_view text, Rgb colour)
{
    long long left = x;
    for (char ch : text) {
        const auto code = static_cast<unsigned char>(ch);
        if (!hasGlyph(code))
            continue;
        if (left > width_)
            break;
        for (int row = 0; row < kGlyphHeight; ++row) {
            const long long y = static_cast<long long>(top) + row;
            if (y < 0 || y >= height_)
                continue;
            const std::uint8_t bits = glyphRow(code, row);
            for (int col = 0; col < kGlyphWidth; ++col) {
                const long long px = left + col;
                if ((bits >> (kGlyphWidth - 1 - col)) & 1 && px >= 0 && px < width_)
                    put(static_cast<int>(px), static_cast<int>(y), colour);
            }
        }
        left += kGlyphAdvance;
    }
}

int centredTextLeft(int x, std::size_t length)
{
    const long long left = static_cast<long long>(x) - 3 * static_cast<long long>(length) - 2;
    return static_cast<int>(std::clamp<long long>(left, -(1LL << 30), 1LL << 30));
}

void PixelImage::textCentred(int x, int top, std::string_view text, Rgb colour)
{
    textLeft(centredTextLeft(x, text.size()), top, text, colour);
}

void PixelImage::xorRect(int x0, int y0, int x1, int y1, Rgb colour)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width_ - 1);
    y0 = std::max(y0, 0);
    y1 = std::min(y1, height_ - 1);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            std::uint8_t* p = at(x, y);
            p[0] ^= colour.b;
            p[1] ^= colour.g;
            p[2] ^= colour.r;
        }
    }
}

} // namespace sonavik
