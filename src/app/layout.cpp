#include "app/layout.h"

#include "settings/settings.h"

#include <algorithm>

namespace sonavik {

MainLayout computeLayout(const Settings& s, bool stereo, bool rightJustCreated)
{
    MainLayout out;
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

} // namespace sonavik
