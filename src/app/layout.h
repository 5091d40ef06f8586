#pragma once
// Where the toolbar, the side column of small buttons and the one or two waveform views sit in the
// main window's client area, from the sizes kept in the settings.

#include <array>
#include <vector>

namespace sonavik {

struct Settings;
struct WindowGeometry;

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

// The part of a window that must stay on a screen: its top edge (the title bar) and this much of it.
inline constexpr int kUsefulWindowPart = 160;

// Where the main window goes, given the available areas of the screens (none: as wanted). The screen
// is the one the wanted window overlaps most, or the nearest; the client size is limited to that
// screen less extraHeight (menu bar and title bar), and the window is moved so that its top edge and
// at least kUsefulWindowPart pixels each way lie on the screen.
WindowGeometry placeWindow(const WindowGeometry& wanted, const std::vector<Rect>& screens, int extraHeight);

} // namespace sonavik
