#pragma once
// Where the toolbar, the side column of small buttons and the one or two waveform views sit in the
// main window's client area, from the sizes kept in the settings.

#include <array>

namespace sonavik {

struct Settings;

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct MainLayout {
    int viewAreaHeight = 0;  // client height less toolbar and status bar
    Rect leftView;
    Rect rightView;          // empty for mono
    std::array<Rect, 6> leftButtons{};
    std::array<Rect, 6> rightButtons{};  // empty for mono
    std::array<Rect, 6> bigButtons{};
};

// The layout after a resize. rightJustCreated gives the right buttons the places they get when the
// right view is first created, which differ by a few pixels from where the next resize puts them.
MainLayout computeLayout(const Settings& settings, bool stereo, bool rightJustCreated = false);

} // namespace sonavik
