#include "app/layout.h"

#include "settings/settings.h"

#include <algorithm>
#include <cstdint>

namespace sonavik {

MainLayout computeLayout(const Settings& settings, bool stereo, bool rightJustCreated)
{
    MainLayout out;
    const LayoutSizes s = layoutSizes(settings);
    const int t = s.toolbarHeight;
    const int b = s.sideBarWidth;
    const int area = s.clientHeight - t - s.statusBarHeight;
    const int viewWidth = std::max(0, s.clientWidth - b);
    out.viewAreaHeight = area;
    for (int i = 0; i < 6; ++i)
        out.bigButtons[i] = {i * s.bigButtonWidth, 2, s.bigButtonWidth, std::max(0, t - 2)};
    if (!stereo) {
        out.leftView = {b, t, viewWidth, std::max(0, area)};
        const int h = std::max(0, area / 7);
        for (int i = 0; i < 6; ++i)
            out.leftButtons[i] = {0, t + i * h, b, h};
        return out;
    }
    const int h2 = area / 2;
    out.leftView = {b, t, viewWidth, std::max(0, h2)};
    out.rightView = {b, t + h2, viewWidth, std::max(0, area - h2)};
    const int h = std::max(0, area / 14);
    for (int i = 0; i < 6; ++i) {
        out.leftButtons[i] = {0, t + i * h, b, h};
        out.rightButtons[i] = {0, rightJustCreated ? area / 2 + t + i * h : t + (7 + i) * h, b, h};
    }
    return out;
}

namespace {

// Overlap of the two rectangles along one axis, or minus the gap between them.
std::int64_t overlap(std::int64_t a, std::int64_t aLength, std::int64_t b, std::int64_t bLength)
{
    return std::min(a + aLength, b + bLength) - std::max(a, b);
}

// Larger is nearer: the overlapping area, or minus the distance for a screen the window misses.
std::int64_t closeness(const WindowGeometry& w, const Rect& screen)
{
    const std::int64_t dx = overlap(w.x, w.width, screen.x, screen.width);
    const std::int64_t dy = overlap(w.y, w.height, screen.y, screen.height);
    if (dx > 0 && dy > 0)
        return dx * dy;
    return std::min<std::int64_t>(dx, 0) + std::min<std::int64_t>(dy, 0);
}

int clampInt(std::int64_t v, std::int64_t lo, std::int64_t hi)
{
    return static_cast<int>(std::max(lo, std::min(v, hi)));
}

} // namespace

WindowGeometry placeWindow(const WindowGeometry& wanted, const std::vector<Rect>& screens, int extraHeight)
{
    if (screens.empty())
        return wanted;
    const Rect* best = &screens.front();
    for (const Rect& screen : screens)
        if (closeness(wanted, screen) > closeness(wanted, *best))
            best = &screen;
    const Rect& s = *best;
    WindowGeometry out = wanted;
    out.width = clampInt(wanted.width, 1, std::max(1, s.width));
    out.height = clampInt(wanted.height, 1, std::max<std::int64_t>(1, std::int64_t{s.height} - extraHeight));
    const std::int64_t usefulX = std::min(out.width, kUsefulWindowPart);
    const std::int64_t usefulY = std::min<std::int64_t>(std::int64_t{out.height} + extraHeight, kUsefulWindowPart);
    out.x = clampInt(wanted.x, std::int64_t{s.x} + usefulX - out.width, std::int64_t{s.x} + s.width - usefulX);
    out.y = clampInt(wanted.y, s.y, std::max<std::int64_t>(s.y, std::int64_t{s.y} + s.height - usefulY));
    return out;
}

} // namespace sonavik
