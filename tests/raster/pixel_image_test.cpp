#include "raster/font5x7.h"
#include "raster/pixel_image.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

namespace sonavik {
namespace {

constexpr Rgb kColour{200, 100, 255};

TEST(PixelImage, RowsArePaddedToFourBytesAndStoredBottomUpAsBlueGreenRed)
{
    for (int width = 1; width <= 9; ++width) {
        PixelImage image(width, 3);
        EXPECT_EQ(image.stride(), static_cast<std::size_t>(3 * width + width % 4)) << width;
        EXPECT_EQ(image.stride() % 4, 0u) << width;
        EXPECT_EQ(image.byteSize(), image.stride() * 3) << width;
    }
    PixelImage image(5, 3);
    image.setPixel(1, 0, {10, 20, 30});  // top row: the last row of the buffer
    const std::uint8_t* p = image.data() + 2 * image.stride() + 3;
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    EXPECT_EQ(image.pixel(1, 0), (Rgb{10, 20, 30}));
    image.setPixel(-1, 0, kColour);
    image.setPixel(5, 0, kColour);
    image.setPixel(0, 3, kColour);
    for (std::size_t i = 0; i < image.byteSize(); ++i) {
        if (i < 2 * image.stride() + 3 || i >= 2 * image.stride() + 6) {
            EXPECT_EQ(image.data()[i], 0) << i;
        }
    }
}

TEST(PixelImage, CreateReportsImpossibleSizesAndEmptyForZero)
{
    EXPECT_FALSE(PixelImage::create(INT_MAX, INT_MAX).has_value());
    auto none = PixelImage::create(0, 10);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
    none->horizontalLine(0, 5, 0, kColour);
    none->textCentred(0, 0, "abc", kColour);
    none->xorRect(0, 0, 4, 4, kColour);
}

TEST(PixelImage, HorizontalLineKeepsToTheClip)
{
    struct Case {
        int x0, x1, y;
        int firstInk, lastInk;  // -1: nothing drawn
    };
    const Case cases[] = {
        {3, 7, 2, 3, 7},    {7, 3, 2, 3, 7},     // either order
        {0, 4, 2, 2, 4},    {6, 12, 2, 6, 8},    // limited at each side
        {-5, 20, 2, 2, 8},  // crossing the whole clip from outside
        {0, 1, 2, -1, -1},  {9, 12, 2, -1, -1},  // wholly beside it
        {3, 7, 0, -1, -1},  {3, 7, 5, -1, -1},   // above and below it
    };
    for (const Case& c : cases) {
        PixelImage image(12, 6);
        image.setClip({2, 1, 8, 4});
        image.horizontalLine(c.x0, c.x1, c.y, kColour);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 12; ++x) {
                const bool ink = y == c.y && c.firstInk >= 0 && x >= c.firstInk && x <= c.lastInk;
                EXPECT_EQ(image.pixel(x, y), ink ? kColour : Rgb{}) << c.x0 << ".." << c.x1 << "@" << c.y << " x" << x;
            }
    }
}

TEST(PixelImage, GradientBarFadesFromFullAtTheTopToAboutHalfAtTheBottom)
{
    PixelImage image(4, 12);
    image.setClip({0, 1, 3, 9});
    image.gradientBar(1, 5, 2, kColour);  // rows 2..5: factors 8/8, 7/8, 6/8, 5/8
    EXPECT_EQ(image.pixel(1, 1), Rgb{});
    EXPECT_EQ(image.pixel(1, 2), kColour);
    EXPECT_EQ(image.pixel(1, 3), (Rgb{175, 87, 223}));
    EXPECT_EQ(image.pixel(1, 4), (Rgb{150, 75, 191}));
    EXPECT_EQ(image.pixel(1, 5), (Rgb{125, 62, 159}));
    EXPECT_EQ(image.pixel(1, 6), Rgb{});

    image.gradientBar(2, 7, 7, kColour);  // one pixel: full colour
    EXPECT_EQ(image.pixel(2, 7), kColour);

    image.gradientBar(3, -4, 30, kColour);  // limited to rows 1..9 first, then faded over those
    EXPECT_EQ(image.pixel(3, 0), Rgb{});
    EXPECT_EQ(image.pixel(3, 1), kColour);
    EXPECT_EQ(image.pixel(3, 9), (Rgb{200 * 10 / 18, 100 * 10 / 18, 255 * 10 / 18}));
    EXPECT_EQ(image.pixel(3, 10), Rgb{});

    image.gradientBar(0, -5, -1, kColour);  // both rows above the clip
    image.gradientBar(0, 10, 20, kColour);  // both below
    for (int y = 0; y < 12; ++y)
        EXPECT_EQ(image.pixel(0, y), Rgb{}) << y;
}

TEST(PixelImage, FilledRectangleLimitsOnlyItsColumnsToTheClip)
{
    PixelImage image(10, 10);
    image.setClip({2, 2, 6, 4});
    image.fillRect(0, 1, 8, 7, kColour);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(image.pixel(x, y), (x >= 2 && x <= 6 && y >= 1 && y <= 7) ? kColour : Rgb{}) << x << "," << y;
    image.fillRect(3, -50, 3, 50, kColour);  // rows stay inside the image
    EXPECT_EQ(image.pixel(3, 9), kColour);
}

// Every ink pixel of the glyphs of text, laid out from left, is colour; false at the first that is not.
bool textShown(const PixelImage& image, int left, int top, const std::string& text, Rgb colour)
{
    for (char ch : text) {
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col)
                if ((glyphRow(static_cast<unsigned char>(ch), row) >> (4 - col)) & 1)
                    if (image.pixel(left + col, top + row) != colour)
                        return false;
        left += kGlyphAdvance;
    }
    return true;
}

TEST(PixelImage, TextIsCentredWithSixPixelAdvanceAndOnlyInkWritten)
{
    PixelImage image(60, 20);
    image.fill({1, 2, 3});
    image.textCentred(30, 4, "No'3", kColour);  // left = 30 - 3*4 - 2
    EXPECT_TRUE(textShown(image, 16, 4, "No'3", kColour));
    EXPECT_EQ(image.pixel(15, 4), (Rgb{1, 2, 3}));
    int ink = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x)
            ink += image.pixel(x, y) == kColour;
    int expected = 0;
    for (char ch : std::string("No'3"))
        for (int row = 0; row < kGlyphHeight; ++row)
            expected += __builtin_popcount(glyphRow(static_cast<unsigned char>(ch), row));
    EXPECT_EQ(ink, expected);

    PixelImage left(60, 20);
    left.textLeft(7, 2, "\x01" "A\x7f" "b", kColour);  // codes without a glyph take no room
    EXPECT_TRUE(textShown(left, 7, 2, "Ab", kColour));
    PixelImage centred(60, 20);
    centred.textCentred(20, 2, "\x01" "A", kColour);  // but they count towards the centring
    EXPECT_TRUE(textShown(centred, 20 - 6 - 2, 2, "A", kColour));

    PixelImage edge(8, 5);  // partly outside on every side: no crash, the inside part drawn
    edge.textCentred(0, -3, "WWW", kColour);
    edge.textLeft(5, 3, "WWW", kColour);
    EXPECT_EQ(edge.pixel(5, 3), kColour);
}

TEST(PixelImage, ExclusiveOrTwiceRestoresTheImage)
{
    PixelImage image(9, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            image.setPixel(x, y, {static_cast<std::uint8_t>(x * 20), static_cast<std::uint8_t>(y * 30), 77});
    const PixelImage before = image;
    image.xorRect(2, 1, 20, 4, {255, 0, 0});
    EXPECT_EQ(image.pixel(2, 1), (Rgb{255 ^ 40, 30, 77}));
    EXPECT_EQ(image.pixel(1, 1), before.pixel(1, 1));
    EXPECT_EQ(image.pixel(2, 5), before.pixel(2, 5));
    image.xorRect(20, 4, 2, 1, {255, 0, 0});
    EXPECT_EQ(std::vector<std::uint8_t>(image.data(), image.data() + image.byteSize()),
              std::vector<std::uint8_t>(before.data(), before.data() + before.byteSize()));
}

TEST(Font5x7, EveryPrintableCodeHasItsOwnGlyph)
{
    std::set<std::string> shapes;
    for (int code = 32; code <= 126; ++code) {
        std::string shape;
        int ink = 0;
        for (int row = 0; row < kGlyphHeight; ++row) {
            const std::uint8_t bits = glyphRow(static_cast<unsigned char>(code), row);
            EXPECT_LT(bits, 32) << code;
            ink += __builtin_popcount(bits);
            shape += static_cast<char>('A' + bits);
        }
        EXPECT_EQ(ink == 0, code == ' ') << code;
        EXPECT_TRUE(shapes.insert(shape).second) << "glyph of " << code << " repeats an earlier one";
    }
    EXPECT_EQ(glyphRow(31, 3), 0);
    EXPECT_EQ(glyphRow(127, 3), 0);
    EXPECT_EQ(glyphRow('A', 7), 0);
}

} // namespace
} // namespace sonavik
