#include "views/selection_overlay.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace sonavik {

namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};

struct BandColours {
    Rgb bright;  // below the alpha level
    Rgb dark;    // above it
};

BandColours coloursOf(SelectionKind kind)
{
    if (kind == SelectionKind::Green)
        return {{0, 170, 68}, {17, 68, 34}};
    return {{0, 136, 255}, {17, 34, 68}};
}

ViewGeometry sizedTo(const PixelImage& image, const ViewGeometry& geometry)
{
    ViewGeometry g = geometry;
    g.width = image.width();
    g.height = image.height();
    return g;
}

// Band column x filled from the bottom up to the alpha level in the bright colour, dark above it.
void fillLevel(PixelImage& band, std::int64_t x, double alpha, const BandColours& colours)
{
    if (x < 0 || x >= band.width())
        return;
    const int rows = band.height();  // A - 1
    const int top = static_cast<int>(std::min<std::int64_t>(floorToInt(rows * alpha + 0.5) - 1, rows - 1));
    for (int fromBottom = 0; fromBottom < rows; ++fromBottom)
        band.setPixel(static_cast<int>(x), rows - 1 - fromBottom, fromBottom <= top ? colours.bright : colours.dark);
}

void drawSlot(PixelImage& band, const ViewGeometry& g, const Selection& s, int slot)
{
    const std::int64_t vw = band.width();
    const BandColours colours = coloursOf(s.kind);
    std::int64_t u0 = g.firstColumnOfFrame(s.start);
    std::int64_t u1 = g.lastColumnOfRangeEnd(s.end);
    if (u1 < 0 || u0 > vw - 1)
        return;
    u0 = std::max<std::int64_t>(u0, 0);
    u1 = std::min<std::int64_t>(u1, vw - 1);
    if (g.zoomedIn()) {
        const std::int64_t k0 = g.frameUnderColumn(static_cast<double>(u0));
        const std::int64_t k1 = g.frameUnderColumn(static_cast<double>(u1));
        for (std::int64_t k = k0; k <= k1; ++k) {
            const double alpha = alphaAt(s, k);
            const std::int64_t c0 = std::max<std::int64_t>(g.firstColumnOfFrame(static_cast<double>(k)), 0);
            const std::int64_t c1 = std::min<std::int64_t>(g.lastColumnOfFrame(static_cast<double>(k)), vw - 1);
            for (std::int64_t c = c0; c <= c1; ++c)
                fillLevel(band, c, alpha, colours);
        }
    } else {
        for (std::int64_t c = u0; c <= u1; ++c) {
            // The middle frame of the column stands for the whole column; it lies in column c itself.
            const std::int64_t middle =
                (g.firstFrameOfColumn(static_cast<double>(c)) + g.lastFrameOfColumn(static_cast<double>(c))) / 2;
            fillLevel(band, c, alphaAt(s, middle), colours);
        }
    }
    const int centre = static_cast<int>((u0 + u1) / 2);
    band.textCentred(centre, (g.band - 6) / 2, "No'" + std::to_string(slot + 1), kWhite);
}

void drawEdgeDots(PixelImage& image, const ViewGeometry& g, std::int64_t u)
{
    if (u < 0 || u > g.viewWidth() - 1)
        return;
    const int x = g.margin + static_cast<int>(u);
    for (int y = 0; y <= g.waveHeight() + g.band - 1; y += 4)
        image.setPixel(x, y, kWhite);
}

} // namespace

bool drawSelectionBand(PixelImage& image, const ViewGeometry& geometry, const SelectionTable& table)
{
    const ViewGeometry g = sizedTo(image, geometry);
    auto band = PixelImage::create(std::max(g.viewWidth(), 0), std::max(g.band - 1, 0));
    if (!band)
        return false;
    bool any = false;
    for (int slot = 0; slot < kSelectionSlots; ++slot) {
        if (table[slot].kind == SelectionKind::None)
            continue;
        any = true;
        drawSlot(*band, g, table[slot], slot);
    }
    if (any) {
        // OR lets the background, the tick columns and the black parts of the band show through.
        const int top = g.waveHeight() + 1;
        for (int y = 0; y < band->height(); ++y) {
            if (top + y < 0 || top + y >= image.height())
                continue;
            for (int x = 0; x < band->width(); ++x) {
                if (g.margin + x < 0 || g.margin + x >= image.width())
                    continue;
                const std::uint8_t* from = band->at(x, y);
                std::uint8_t* to = image.at(g.margin + x, top + y);
                to[0] |= from[0];
                to[1] |= from[1];
                to[2] |= from[2];
            }
        }
    }
    for (const Selection& s : table) {
        if (s.kind == SelectionKind::None)
            continue;
        drawEdgeDots(image, g, g.firstColumnOfFrame(s.start));
        drawEdgeDots(image, g, g.lastColumnOfRangeEnd(s.end));
    }
    return true;
}

void drawRedSelection(PixelImage& image, const ViewGeometry& geometry, std::int32_t redStart, std::int32_t redEnd)
{
    const ViewGeometry g = sizedTo(image, geometry);
    const std::int64_t vw = g.viewWidth();
    std::int64_t u0 = g.firstColumnOfFrame(redStart);
    std::int64_t u1 = g.lastColumnOfRangeEnd(redEnd);
    if ((u0 < 0 && u1 < 0) || (u0 > vw - 1 && u1 > vw - 1))
        return;
    u0 = std::clamp<std::int64_t>(u0, 0, vw - 1);
    u1 = std::clamp<std::int64_t>(u1, 0, vw - 1);
    // A rectangle outline and fill in one exclusive-or pen: every covered pixel flips once.
    image.xorRect(g.margin + static_cast<int>(u0), 0, g.margin + static_cast<int>(u1), g.waveHeight(), kRed);
}

PixelImage composeView(const PixelImage& cached, const ViewGeometry& geometry, const SelectionTable& table,
                       const RedSelection& red, int channel, bool* overlayFailed)
{
    if (overlayFailed)
        *overlayFailed = false;
    auto shown = cached.clone();
    if (!shown) {
        if (overlayFailed)
            *overlayFailed = true;
        return {};
    }
    if (!drawSelectionBand(*shown, geometry, table) && overlayFailed)
        *overlayFailed = true;
    if (red.exists() && red.redChannel == channel)
        drawRedSelection(*shown, geometry, red.redStart, red.redEnd);
    return std::move(*shown);
}

bool repaintAlphaBand(PixelImage& shown, const PixelImage& cached, const ViewGeometry& geometry,
                      const SelectionTable& table)
{
    if (shown.width() != cached.width() || shown.height() != cached.height())
        return false;
    const ViewGeometry g = sizedTo(shown, geometry);
    for (int y = g.waveHeight() + 1; y <= g.waveHeight() + g.band - 1; ++y) {
        if (y < 0 || y >= shown.height())
            continue;
        std::copy_n(cached.at(0, y), 3 * static_cast<std::size_t>(shown.width()), shown.at(0, y));
    }
    return drawSelectionBand(shown, g, table);
}

} // namespace sonavik
