#include "app/big_button.h"
#include "app/layout.h"
#include "app/view_scale.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sonavik {
namespace {

TEST(Layout, DefaultWindowMonoAndStereo)
{
    Settings s{};
    applyDefaultSettings(s);  // 600 x 400, toolbar 48, status 24, side column 32

    const MainLayout mono = computeLayout(s, false);
    EXPECT_EQ(mono.viewAreaHeight, 328);
    EXPECT_EQ(mono.leftView, (Rect{32, 48, 568, 328}));
    EXPECT_EQ(mono.leftButtons[0], (Rect{0, 48, 32, 46}));
    EXPECT_EQ(mono.leftButtons[5], (Rect{0, 48 + 5 * 46, 32, 46}));
    EXPECT_EQ(mono.rightView, Rect{});
    EXPECT_EQ(mono.bigButtons[2], (Rect{120, 2, 60, 46}));

    const MainLayout created = computeLayout(s, true, true);
    EXPECT_EQ(created.leftView, (Rect{32, 48, 568, 164}));
    EXPECT_EQ(created.rightView, (Rect{32, 212, 568, 164}));
    EXPECT_EQ(created.leftButtons[1], (Rect{0, 48 + 23, 32, 23}));
    EXPECT_EQ(created.rightButtons[0].y, 212);

    const MainLayout resized = computeLayout(s, true);
    EXPECT_EQ(resized.rightButtons[0].y, 209);
    EXPECT_EQ(resized.rightButtons[5].y, 48 + 12 * 23);
}

TEST(Layout, DamagedSizesNeverGiveNegativeRectangles)
{
    Settings s{};
    applyDefaultSettings(s);
    s.clientHeight = 10;
    s.clientWidth = 5;
    for (bool stereo : {false, true}) {
        const MainLayout l = computeLayout(s, stereo);
        EXPECT_GE(l.leftView.width, 0);
        EXPECT_GE(l.leftView.height, 0);
        EXPECT_GE(l.rightView.height, 0);
        EXPECT_GE(l.leftButtons[0].height, 0);
    }
}

TEST(ViewScale, FitAndZoomOutClampToTheAmplitudeRange)
{
    Settings s{};
    applyDefaultSettings(s);
    SoundDocument doc;
    doc.frameCount = 1000;
    doc.format.wBitsPerSample = 16;
    const PlotSize plot = plotSizeOf(s, 568, 328);  // 504 x 264
    ViewState v;
    fitView(v, doc, plot);
    EXPECT_DOUBLE_EQ(v.y0, -32768.0);
    EXPECT_DOUBLE_EQ(v.sy, 264.0 / 65536.0);
    EXPECT_DOUBLE_EQ(v.sx, 504.0 / 1000.0);

    // An 8-bit view zoomed out beyond 256 units comes back to exactly 0..256.
    doc.format.wBitsPerSample = 8;
    fitView(v, doc, plot);
    applyViewScale(v, ViewScaleAction::ZoomOutY, doc, plot);
    EXPECT_DOUBLE_EQ(v.y0, 0.0);
    EXPECT_DOUBLE_EQ(v.sy, 264.0 / 256.0);
    applyViewScale(v, ViewScaleAction::ZoomInY, doc, plot);
    EXPECT_DOUBLE_EQ(v.y0, 64.0);
    EXPECT_DOUBLE_EQ(v.sy, 2 * 264.0 / 256.0);

    // Horizontal zoom out past the whole sound refits it.
    applyViewScale(v, ViewScaleAction::ZoomOutX, doc, plot);
    EXPECT_DOUBLE_EQ(v.x0, 0.0);
    EXPECT_DOUBLE_EQ(v.sx, 504.0 / 1000.0);

    // No frames: scales stay finite.
    doc.frameCount = 0;
    fitView(v, doc, plot);
    applyViewScale(v, ViewScaleAction::ZoomOutX, doc, plot);
    EXPECT_TRUE(std::isfinite(v.sx));
    EXPECT_TRUE(std::isfinite(v.x0));
}

TEST(BigButton, HoverPressAndReleaseAnywhereClicks)
{
    BigButtonState b;
    EXPECT_FALSE(b.pressed()) << "a press without hover does nothing";
    EXPECT_TRUE(b.pointerMoved());
    EXPECT_EQ(b.look, BigButtonLook::Hot);
    EXPECT_FALSE(b.timerTick(true));
    EXPECT_TRUE(b.pressed());
    EXPECT_EQ(b.look, BigButtonLook::Pressed);
    EXPECT_FALSE(b.timerTick(false)) << "the hover timer leaves a pressed button alone";
    EXPECT_TRUE(b.released());
    EXPECT_EQ(b.look, BigButtonLook::Hot);
    EXPECT_TRUE(b.timerTick(false));
    EXPECT_EQ(b.look, BigButtonLook::Normal);

    b.setEnabled(false);
    EXPECT_FALSE(b.pointerMoved());
    EXPECT_FALSE(b.pressed());
    EXPECT_FALSE(b.released());
}

TEST(BigButton, LabelColumnsCountFullWidthTwice)
{
    EXPECT_EQ(textColumns("読み込み"), 8);
    EXPECT_EQ(textColumns("ﾘﾊﾞｰﾌﾞ"), 6);
    EXPECT_EQ(textColumns("abc"), 3);
    const BigButtonPlacement p = placeBigButton(60, 46, 8, false);
    EXPECT_EQ(p.labelX, 6);
    EXPECT_EQ(p.labelY, 30);
    EXPECT_EQ(p.pictureX, 18);
    EXPECT_EQ(p.pictureY, 3);
    const BigButtonPlacement q = placeBigButton(60, 46, 8, true);
    EXPECT_EQ(q.labelX, 7);
    EXPECT_EQ(q.labelY, 31);
}

// A position or size from a settings file that fits no screen: the window goes to the nearest screen,
// no larger than it, with its title bar and a useful part on it.
TEST(Layout, WindowIsPlacedOnTheNearestScreen)
{
    const std::vector<Rect> screens = {{0, 0, 1920, 1040}, {1920, 0, 1280, 1024}};
    const int extra = 50;
    struct Case {
        const char* name;
        WindowGeometry wanted;
        WindowGeometry expected;
    };
    const Case cases[] = {
        {"default", {10, 10, 600, 400}, {10, 10, 600, 400}},
        {"far right", {100000, 10, 600, 400}, {3200 - 160, 10, 600, 400}},
        {"far up and left", {-100000, -100000, 600, 400}, {160 - 600, 0, 600, 400}},
        {"below the screens", {500, 5000, 600, 400}, {500, 1040 - 160, 600, 400}},
        {"larger than the screen", {10, 10, 16384, 16384}, {10, 10, 1920, 1040 - extra}},
        {"mostly on the second", {3000, 500, 600, 400}, {3000, 500, 600, 400}},
        {"extremes", {INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX}, {160 - 1920, 1040 - 160, 1920, 1040 - extra}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowGeometry g = placeWindow(c.wanted, screens, extra);
        EXPECT_EQ(g.x, c.expected.x);
        EXPECT_EQ(g.y, c.expected.y);
        EXPECT_EQ(g.width, c.expected.width);
        EXPECT_EQ(g.height, c.expected.height);
    }
    const WindowGeometry anywhere{-5, 7, 99999, 3};
    const WindowGeometry unchanged = placeWindow(anywhere, {}, extra);
    EXPECT_EQ(unchanged.x, -5);
    EXPECT_EQ(unchanged.width, 99999);
}

} // namespace
} // namespace sonavik
