#pragma once
// A 24-bit bottom-up pixel buffer (rows padded to 4 bytes, pixels stored blue, green, red) and the few
// drawing primitives the views use. Coordinates given to the primitives count rows from the top.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace sonavik {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Inclusive on all four sides; rows from the top.
struct ClipRect {
    int left = 0;
    int top = 0;
    int right = -1;
    int bottom = -1;
};

class PixelImage {
public:
    PixelImage() = default;
    // Zero-filled. Throws std::bad_alloc when the memory cannot be had; widget paths use create().
    PixelImage(int width, int height);
    // Nothing when the memory cannot be had. A size of zero either way gives an empty image.
    static std::optional<PixelImage> create(int width, int height);
    // A copy that reports failure instead of throwing.
    std::optional<PixelImage> clone() const;

    int width() const { return width_; }
    int height() const { return height_; }
    // Bytes per buffer row: 3W + (W mod 4), a multiple of 4.
    std::size_t stride() const { return stride_; }
    std::size_t byteSize() const { return bytes_.size(); }
    bool empty() const { return width_ == 0 || height_ == 0; }
    // Buffer row 0 is the bottom row of the picture.
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }

    bool contains(int x, int yTop) const { return x >= 0 && x < width_ && yTop >= 0 && yTop < height_; }
    // Unchecked: (x, yTop) must lie inside the image.
    std::uint8_t* at(int x, int yTop) { return bytes_.data() + rowOffset(yTop) + 3 * static_cast<std::size_t>(x); }
    const std::uint8_t* at(int x, int yTop) const
    {
        return bytes_.data() + rowOffset(yTop) + 3 * static_cast<std::size_t>(x);
    }
    Rgb pixel(int x, int yTop) const;
    // Pixels outside the image are ignored.
    void setPixel(int x, int yTop, Rgb colour);
    void fill(Rgb colour);

    ClipRect clip() const { return clip_; }
    // Limited to the image.
    void setClip(ClipRect rect);
    void resetClip();

    // Row y between columns x0 and x1 (either order). Nothing if y is outside the clip rows or both ends
    // lie on the same side outside the clip columns; otherwise the ends are limited to the clip.
    void horizontalLine(int x0, int x1, int y, Rgb colour);
    // Column x from row y0 to y1 (either order), limited to the clip; the colour fades from full at the
    // top to about half at the bottom.
    void gradientBar(int x, int y0, int y1, Rgb colour);
    // Columns limited to the clip, rows only to the image.
    void fillRect(int x0, int y0, int x1, int y1, Rgb colour);
    // 5 x 7 glyphs advancing by 6 pixels, ink only, skipping pixels outside the image (not the clip).
    void textCentred(int x, int top, std::string_view text, Rgb colour);
    void textLeft(int x, int top, std::string_view text, Rgb colour);
    // Exclusive-or of every pixel in the rectangle (limited to the image); drawing twice restores it.
    void xorRect(int x0, int y0, int x1, int y1, Rgb colour);

private:
    std::size_t rowOffset(int yTop) const { return static_cast<std::size_t>(height_ - 1 - yTop) * stride_; }
    void put(int x, int yTop, Rgb colour)
    {
        std::uint8_t* p = at(x, yTop);
        p[0] = colour.b;
        p[1] = colour.g;
        p[2] = colour.r;
    }

    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
    std::vector<std::uint8_t> bytes_;
    ClipRect clip_;
};

// The first glyph's left column of a text centred on x.
int centredTextLeft(int x, std::size_t length);

} // namespace sonavik
