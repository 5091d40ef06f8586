#include "views/view_geometry.h"

#include "settings/settings.h"

#include <cmath>

namespace sonavik {

namespace {
constexpr double kLimit = 4.0e15;  // well inside int64 and exact in a double

std::int64_t saturate(double v)
{
    if (std::isnan(v))
        return 0;
    if (v > kLimit)
        return static_cast<std::int64_t>(kLimit);
    if (v < -kLimit)
        return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(v);
}
} // namespace

std::int64_t floorToInt(double value) { return saturate(std::floor(value)); }
std::int64_t ceilToInt(double value) { return saturate(std::ceil(value)); }

ViewGeometry ViewGeometry::of(const Settings& s, int width, int height, const ViewState& state)
{
    ViewGeometry g;
    g.width = width;
    g.height = height;
    const LayoutSizes sizes = layoutSizes(s);
    g.margin = sizes.leftMarginWidth;
    g.band = sizes.alphaBandHeight;
    g.ruler = sizes.rulerHeight;
    g.state = state;
    return g;
}

std::int64_t ViewGeometry::firstColumnOfFrame(double f) const
{
    return floorToInt(state.sx * (f - state.x0 + kViewEpsilon));
}

std::int64_t ViewGeometry::lastColumnOfFrame(double f) const
{
    return floorToInt(state.sx * (f + 1.0 - state.x0 + kViewEpsilon)) - 1;
}

std::int64_t ViewGeometry::lastColumnOfRangeEnd(double f) const
{
    return zoomedIn() ? lastColumnOfFrame(f) : firstColumnOfFrame(f);
}

std::int64_t ViewGeometry::firstFrameOfColumn(double c) const
{
    return ceilToInt(c / state.sx + state.x0 - kViewEpsilon);
}

std::int64_t ViewGeometry::lastFrameOfColumn(double c) const
{
    return ceilToInt((c + 1.0) / state.sx + state.x0 - kViewEpsilon) - 1;
}

std::int64_t ViewGeometry::frameUnderColumn(double c) const { return lastFrameOfColumn(c); }

std::int64_t ViewGeometry::rowOfAmplitude(double v) const
{
    return waveHeight() - 1 - floorToInt((v - state.y0 + kViewEpsilon) * state.sy);
}

} // namespace sonavik
