#include "views/selection_overlay.h"

#include "raster/font5x7.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sonavik {
namespace {

constexpr int kM = 64;
constexpr int kA = 32;
constexpr int kViewWidth = 200;
constexpr int kHeight = 200;
constexpr int kWh = kHeight - kA - 32;  // 136
constexpr Rgb kWhite{255, 255, 255};

ViewGeometry geometry(double x0, double zoomX)
{
    ViewGeometry g;
    g.width = kM + kViewWidth;
    g.height = kHeight;
    g.margin = kM;
    g.band = kA;
    g.ruler = 32;
    g.state = {x0, 0.0, zoomX, 1.0};
    return g;
}

// Something other than black everywhere, so that OR and exclusive-or both show.
PixelImage patterned()
{
    PixelImage image(kM + kViewWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           {static_cast<std::uint8_t>((x * 7) & 0x3F), static_cast<std::uint8_t>((y * 5) & 0x3F), 0x11});
    return image;
}

Rgb operator|(Rgb a, Rgb b)
{
    return {static_cast<std::uint8_t>(a.r | b.r), static_cast<std::uint8_t>(a.g | b.g),
            static_cast<std::uint8_t>(a.b | b.b)};
}

Selection selection(SelectionKind kind, std::int32_t start, std::int32_t end, double a0, double a1)
{
    Selection s;
    s.kind = kind;
    s.start = start;
    s.end = end;
    s.alphaStart = a0;
    s.alphaEnd = a1;
    s.shape = SelectionShape::Linear;
    s.shapeParameter = 1.0;
    return s;
}

// Image pixels of the ink of a text centred on band column `centre`, as drawn into the band.
std::set<std::pair<int, int>> labelInk(int centre, const std::string& text)
{
    std::set<std::pair<int, int>> ink;
    int left = kM + centre - 3 * static_cast<int>(text.size()) - 2;
    const int top = kWh + 1 + (kA - 6) / 2;
    for (char ch : text) {
        for (int r = 0; r < kGlyphHeight; ++r)
            for (int c = 0; c < kGlyphWidth; ++c)
                if ((glyphRow(static_cast<unsigned char>(ch), r) >> (4 - c)) & 1)
                    ink.insert({left + c, top + r});
        left += kGlyphAdvance;
    }
    return ink;
}

bool dotted(const PixelImage& image, const PixelImage& before, int x)
{
    for (int y = 0; y < kWh + kA; ++y) {
        if (y % 4 == 0 && image.pixel(x, y) != kWhite)
            return false;
        if (y % 4 != 0 && y < kWh && image.pixel(x, y) != before.pixel(x, y))
            return false;
    }
    return true;
}

TEST(SelectionOverlay, LevelsOneFillTheBandBrightAndZeroDark)
{
    struct Case {
        SelectionKind kind;
        double level;
        Rgb colour;
        double zoomX;
        std::int32_t start, end;
        int firstColumn, lastColumn;
    };
    const Case cases[] = {
        {SelectionKind::Green, 1.0, {0, 170, 68}, 1.0, 20, 59, 20, 59},
        {SelectionKind::Green, 0.0, {17, 68, 34}, 1.0, 20, 59, 20, 59},
        {SelectionKind::Blue, 1.0, {0, 136, 255}, 4.0, 10, 20, 40, 83},
        {SelectionKind::Blue, 0.0, {17, 34, 68}, 0.5, 40, 119, 20, 59},
    };
    for (const Case& c : cases) {
        SelectionTable table{};
        table[0] = selection(c.kind, c.start, c.end, c.level, c.level);
        const PixelImage before = patterned();
        PixelImage image = before;
        ASSERT_TRUE(drawSelectionBand(image, geometry(0.0, c.zoomX), table));
        const auto ink = labelInk((c.firstColumn + c.lastColumn) / 2, "No'1");
        for (int y = kWh + 1; y < kWh + kA; ++y) {
            for (int x = kM; x < kM + kViewWidth; ++x) {
                const bool inside = x >= kM + c.firstColumn && x <= kM + c.lastColumn;
                Rgb expected = inside ? before.pixel(x, y) | c.colour : before.pixel(x, y);
                if (ink.count({x, y}))
                    expected = kWhite;
                if ((x == kM + c.firstColumn || x == kM + c.lastColumn) && y % 4 == 0)
                    expected = kWhite;
                ASSERT_EQ(image.pixel(x, y), expected) << c.zoomX << " " << c.level << " at " << x << "," << y;
            }
        }
        EXPECT_TRUE(dotted(image, before, kM + c.firstColumn));
        EXPECT_TRUE(dotted(image, before, kM + c.lastColumn));
        EXPECT_EQ(image.pixel(kM + c.firstColumn + 1, 4), before.pixel(kM + c.firstColumn + 1, 4));
    }
}

TEST(SelectionOverlay, ColumnsRiseToTheAlphaOfTheirMiddleFrame)
{
    struct Case {
        double zoomX;
        std::int32_t end;
    };
    for (const Case& c : {Case{1.0, 100}, Case{0.25, 400}}) {
        SelectionTable table{};
        table[4] = selection(SelectionKind::Blue, 0, c.end, 0.0, 1.0);
        const ViewGeometry g = geometry(0.0, c.zoomX);
        PixelImage image(kM + kViewWidth, kHeight);  // black, so the band shows as drawn
        ASSERT_TRUE(drawSelectionBand(image, g, table));
        for (int column : {1, 2, 7, 10, 20, 30, 70, 90, 99}) {
            const std::int64_t middle = (g.firstFrameOfColumn(column) + g.lastFrameOfColumn(column)) / 2;
            const double alpha = alphaAt(table[4], middle);
            const int top = static_cast<int>(std::floor(31 * alpha + 0.5)) - 1;  // last bright row from the bottom
            for (int fromBottom = 0; fromBottom < kA - 1; ++fromBottom) {
                const int y = kWh + kA - 1 - fromBottom;
                EXPECT_EQ(image.pixel(kM + column, y), fromBottom <= top ? (Rgb{0, 136, 255}) : (Rgb{17, 34, 68}))
                    << c.zoomX << " column " << column << " row " << fromBottom;
            }
        }
        // Column 0 is level 0 all dark except its dotted edge.
        EXPECT_EQ(image.pixel(kM, kWh + kA - 1), (Rgb{17, 34, 68}));
    }
}

TEST(SelectionOverlay, NumberIsCentredOnTheVisiblePartAndOnlyVisibleEdgesAreDotted)
{
    SelectionTable table{};
    table[2] = selection(SelectionKind::Green, 150, 400, 0.0, 0.0);
    const PixelImage before = patterned();
    PixelImage image = before;
    ASSERT_TRUE(drawSelectionBand(image, geometry(0.0, 1.0), table));
    for (const auto& [x, y] : labelInk((150 + 199) / 2, "No'3"))
        EXPECT_EQ(image.pixel(x, y), kWhite) << x << "," << y;
    EXPECT_TRUE(dotted(image, before, kM + 150));
    EXPECT_EQ(image.pixel(kM + 199, 0), before.pixel(kM + 199, 0));

    // Scrolled so that the start lies left of the view: the number moves to the middle of what shows.
    PixelImage scrolled = before;
    ASSERT_TRUE(drawSelectionBand(scrolled, geometry(300.0, 1.0), table));
    for (const auto& [x, y] : labelInk((0 + 100) / 2, "No'3"))
        EXPECT_EQ(scrolled.pixel(x, y), kWhite) << x << "," << y;
    EXPECT_TRUE(dotted(scrolled, before, kM + 100));

    // Out of view altogether: nothing at all.
    PixelImage away = before;
    ASSERT_TRUE(drawSelectionBand(away, geometry(1000.0, 1.0), table));
    EXPECT_EQ(std::vector<std::uint8_t>(away.data(), away.data() + away.byteSize()),
              std::vector<std::uint8_t>(before.data(), before.data() + before.byteSize()));
}

std::vector<std::uint8_t> bytes(const PixelImage& image)
{
    return std::vector<std::uint8_t>(image.data(), image.data() + image.byteSize());
}

TEST(SelectionOverlay, RedSelectionFlipsItsColumnsAndTwiceLeavesNoTrace)
{
    struct Case {
        double x0, zoomX;
        std::int32_t start, end;
        int first, last;  // flipped view columns; first > last: nothing
    };
    const Case cases[] = {
        {0.0, 1.0, 30, 60, 30, 60},      {0.0, 4.0, 10, 12, 40, 51},   {0.0, 0.5, 10, 11, 5, 5},
        {100.0, 1.0, 50, 150, 0, 50},    {0.0, 1.0, 150, 900, 150, 199}, {0.0, 1.0, 500, 600, 1, 0},
        {100.0, 1.0, 10, 20, 1, 0},
    };
    for (const Case& c : cases) {
        const PixelImage before = patterned();
        PixelImage image = before;
        const ViewGeometry g = geometry(c.x0, c.zoomX);
        drawRedSelection(image, g, c.start, c.end);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < image.width(); ++x) {
                const bool flipped = y <= kWh && x >= kM + c.first && x <= kM + c.last;
                Rgb expected = before.pixel(x, y);
                if (flipped)
                    expected.r ^= 255;
                ASSERT_EQ(image.pixel(x, y), expected) << c.start << ".." << c.end << " at " << x << "," << y;
            }
        drawRedSelection(image, g, c.start, c.end);
        EXPECT_EQ(bytes(image), bytes(before));
    }
}

TEST(SelectionOverlay, ComposedViewAddsBandAndOnlyItsOwnRedSelection)
{
    const PixelImage cached = patterned();
    const ViewGeometry g = geometry(0.0, 1.0);
    SelectionTable table{};
    table[0] = selection(SelectionKind::Blue, 10, 40, 0.3, 0.9);
    RedSelection red;
    red.redStart = 100;
    red.redEnd = 120;
    red.redChannel = 1;

    PixelImage expectedLeft = cached;
    ASSERT_TRUE(drawSelectionBand(expectedLeft, g, table));
    bool failed = true;
    EXPECT_EQ(bytes(composeView(cached, g, table, red, 0, &failed)), bytes(expectedLeft));
    EXPECT_FALSE(failed);

    PixelImage expectedRight = expectedLeft;
    drawRedSelection(expectedRight, g, 100, 120);
    const PixelImage right = composeView(cached, g, table, red, 1);
    EXPECT_EQ(bytes(right), bytes(expectedRight));
    EXPECT_EQ(bytes(cached), bytes(patterned()));

    SelectionTable none{};
    EXPECT_EQ(bytes(composeView(cached, g, none, RedSelection{}, 0)), bytes(cached));

    // New levels repaint only the band; the red selection above it stays as it was.
    PixelImage shown = right;
    table[0].alphaEnd = 0.1;
    table[0].kind = SelectionKind::Green;
    ASSERT_TRUE(repaintAlphaBand(shown, cached, g, table));
    EXPECT_EQ(bytes(shown), bytes(composeView(cached, g, table, red, 1)));
}

} // namespace
} // namespace sonavik
