#include "views/play_line.h"

namespace sonavik {

void drawPlayLine(PixelImage& image, const ViewGeometry& geometry, std::int64_t frame)
{
    ViewGeometry g = geometry;
    g.width = image.width();
    g.height = image.height();
    const std::int64_t u = g.firstColumnOfFrame(static_cast<double>(frame));
    if (u < 0 || u > g.viewWidth() - 1 || g.waveHeight() < 0)
        return;
    const int x = g.margin + static_cast<int>(u);
    image.xorRect(x, 0, x, g.waveHeight(), Rgb{255, 255, 255});
}

} // namespace sonavik
