#include "views/view_wheel.h"

#include "views/test_documents.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

// 1000 frames of 16-bit sound in a plot 100 pixels wide and 128 high.
constexpr double kW = 100;
constexpr double kH = 128;

TEST(ViewWheel, ScrollsAndZoomsWithinTheButtonsLimits)
{
    const SoundDocument doc = test::makeDocument(16, 1, 1000, [](std::int64_t, int) { return 0; });
    const ViewState fitted{0.0, -32768.0, 0.1, kH / 65536.0};
    struct Case {
        const char* name;
        ViewState start;
        WheelAction action;
        int notches;
        double column;
        ViewState expected;
    };
    const Case cases[] = {
        // Zoomed in twice: 250 frames in view, a notch scrolls 25.
        {"scroll forward", {400, 0, 0.4, 1}, WheelAction::Scroll, -1, 0, {425, 0, 0.4, 1}},
        {"scroll back", {400, 0, 0.4, 1}, WheelAction::Scroll, 2, 0, {350, 0, 0.4, 1}},
        {"scroll stops at the start", {10, 0, 0.4, 1}, WheelAction::Scroll, 3, 0, {0, 0, 0.4, 1}},
        {"scroll stops at the end", {740, 0, 0.4, 1}, WheelAction::Scroll, -3, 0, {750, 0, 0.4, 1}},
        {"fitted view does not scroll", fitted, WheelAction::Scroll, -1, 0, fitted},
        // The frame under column 40 (frame 500) stays under it.
        {"zoom in about the pointer", {400, 0, 0.4, 1}, WheelAction::ZoomTime, 1, 40, {450, 0, 0.8, 1}},
        {"zoom out about the pointer", {450, 0, 0.8, 1}, WheelAction::ZoomTime, -1, 40, {400, 0, 0.4, 1}},
        {"zoom out stops at the whole sound", {450, 0, 0.8, 1}, WheelAction::ZoomTime, -8, 40, {0, 0, 0.1, 1}},
        {"zoom out keeps the end inside", {700, 0, 0.4, 1}, WheelAction::ZoomTime, -1, 10, {500, 0, 0.2, 1}},
        // Amplitude about the middle of the plot.
        {"amplitude in", fitted, WheelAction::ZoomAmplitude, 1, 0, {0, -16384.0, 0.1, 2 * kH / 65536.0}},
        {"amplitude out stops at the full range", {0, -16384.0, 0.1, kH / 32768.0}, WheelAction::ZoomAmplitude, -3, 0,
         fitted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewState v = c.start;
        applyWheel(v, doc, c.action, c.notches, c.column, kW, kH);
        EXPECT_DOUBLE_EQ(v.x0, c.expected.x0);
        EXPECT_DOUBLE_EQ(v.sx, c.expected.sx);
        EXPECT_DOUBLE_EQ(v.y0, c.expected.y0);
        EXPECT_DOUBLE_EQ(v.sy, c.expected.sy);
    }
}

} // namespace
} // namespace sonavik
