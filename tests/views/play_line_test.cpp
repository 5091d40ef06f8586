#include "views/play_line.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

// 64-pixel margin, 200 view columns, waveform rows 0..135, band and ruler below.
ViewGeometry geometry(double x0, double zoomX)
{
    ViewGeometry g;
    g.width = 264;
    g.height = 200;
    g.margin = 64;
    g.band = 32;
    g.ruler = 32;
    g.state = {x0, 0.0, zoomX, 1.0};
    return g;
}

PixelImage grey()
{
    PixelImage image(264, 200);
    image.fill({0x40, 0x50, 0x60});
    return image;
}

TEST(PlayLine, FlipsOneColumnOfTheWaveformAreaAndComesOffWhenDrawnAgain)
{
    struct Case {
        double x0, zoomX;
        std::int64_t frame;
        int column;  // pixel column of the line, or -1 for none
    };
    const Case cases[] = {
        {0, 1.0, 0, 64},      {0, 1.0, 150, 214}, {100, 0.5, 300, 164}, {0, 2.0, 10, 84},
        {0, 1.0, 200, -1},    {50, 1.0, 10, -1},  {0, 1.0, 199, 263},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        const ViewGeometry g = geometry(c.x0, c.zoomX);
        PixelImage image = grey();
        drawPlayLine(image, g, c.frame);
        int changed = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) == Rgb{0x40, 0x50, 0x60})
                    continue;
                ++changed;
                EXPECT_EQ(x, c.column);
                EXPECT_LE(y, g.waveHeight());
                EXPECT_EQ(image.pixel(x, y), (Rgb{0xBF, 0xAF, 0x9F}));
            }
        }
        EXPECT_EQ(changed, c.column < 0 ? 0 : g.waveHeight() + 1);
        drawPlayLine(image, g, c.frame);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(image.pixel(x, y), (Rgb{0x40, 0x50, 0x60}));
    }
}

} // namespace
} // namespace sonavik
