#include "views/wave_views.h"

#include "app/view_scale.h"
#include "document/selection.h"
#include "document/workspace.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace sonavik {
namespace {

using test::ScriptedUi;

class RecordingHost : public WaveViewHost {
public:
    int pictureChanges = 0;
    CursorKind cursor = CursorKind::Arrow;
    std::vector<int> redMenus;
    std::vector<std::pair<int, int>> selectionMenus;
    ScrollBarValues bars{};
    int captures = 0;

    void pictureChanged(int) override { ++pictureChanges; }
    void setViewCursor(int, CursorKind c) override { cursor = c; }
    void setScrollBars(int, const ScrollBarValues& b) override { bars = b; }
    void setMouseCapture(int, bool captured) override { captures += captured ? 1 : 0; }
    void openRedSelectionMenu(int channel) override { redMenus.push_back(channel); }
    void openSelectionMenu(int channel, int slot) override { selectionMenus.push_back({channel, slot}); }
};

// A view 100 columns wide (after the 64-pixel margin) and 200 rows high: waveform rows 0..135,
// alpha band 137..167, ruler below.
constexpr int kM = 64;
constexpr int kWidth = kM + 100;
constexpr int kHeight = 200;
constexpr int kWH = kHeight - 32 - 32;

class WaveViewsTest : public ::testing::Test {
protected:
    WaveViewsTest() { applyDefaultSettings(ws.settings); }

    void install(int frames, int channels = 1, int bits = 16)
    {
        SoundDocument& doc = ws.document;
        doc.format.nChannels = static_cast<std::uint16_t>(channels);
        doc.format.wBitsPerSample = static_cast<std::uint16_t>(bits);
        doc.format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        doc.format.nSamplesPerSec = 44100;
        doc.format.nAvgBytesPerSec = 44100u * doc.format.nBlockAlign;
        doc.frameCount = frames;
        doc.samples = SampleBuffer::allocate(static_cast<std::size_t>(frames) * doc.format.nBlockAlign);
        std::memset(doc.samples.data(), bits == 8 ? 128 : 0, doc.samples.size());
        views.resize(0, kWidth, kHeight);
        fitView(doc.leftView, doc, plotSizeOf(ws.settings, kWidth, kHeight));
        views.render(0);
    }

    // Pointer positions by view column and row.
    void press(int column, int row) { views.leftPress(0, kM + column, row); }
    void move(int column, int row) { views.mouseMove(0, kM + column, row); }
    void release(int column, int row) { views.leftRelease(0, kM + column, row); }
    void drag(int from, int to, int row = 10)
    {
        press(from, row);
        move(to, row);
        release(to, row);
    }

    Workspace ws;
    ScriptedUi ui;
    RecordingHost host;
    WaveViews views{ws, ui, host};
};

TEST_F(WaveViewsTest, ClickWithoutMovingLeavesNoRedSelection)
{
    install(1000);
    press(10, 10);
    EXPECT_EQ(ws.dragMode, 1);
    release(10, 10);
    EXPECT_EQ(ws.dragMode, 0);
    EXPECT_FALSE(ws.red.exists());
    EXPECT_EQ(ui.statusText[1], "");
    EXPECT_EQ(ui.title, "Sonavik 2 - Untitled - 0 -");
}

TEST_F(WaveViewsTest, DraggingBackwardsSpansBothWholeColumns)
{
    install(1000);  // fitted: 10 frames per column
    drag(10, 3);
    ASSERT_TRUE(ws.red.exists());
    EXPECT_EQ(ws.red.redStart, 30);
    EXPECT_EQ(ws.red.redEnd, 109);
    EXPECT_EQ(ws.red.redChannel, 0);
    EXPECT_EQ(ui.statusText[1], "選択中： 30 - 109 ( 80 , 0.0018 秒 )");
    EXPECT_EQ(ui.title, "Sonavik 2 - Untitled - L -");
    EXPECT_EQ(host.cursor, CursorKind::C207);
}

TEST_F(WaveViewsTest, DraggingPastTheEndStopsAtTheLastFrameAndPastTheViewScrolls)
{
    install(1000);
    drag(50, 300);
    EXPECT_EQ(ws.red.redStart, 500);
    EXPECT_EQ(ws.red.redEnd, 999);

    // One frame per column: the pointer's frame becomes the last visible one.
    ws.document.leftView.sx = 1.0;
    ws.document.leftView.x0 = 0.0;
    views.render(0);
    ws.red.clear();
    drag(50, 150);
    EXPECT_EQ(ws.red.redStart, 50);
    EXPECT_EQ(ws.red.redEnd, 150);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 51.0);
}

TEST_F(WaveViewsTest, PressNearAnEdgeMovesOnlyThatEdge)
{
    install(1000);
    drag(3, 10);  // [30, 109]
    press(4, 10);  // within 4 pixels of the start column 3
    EXPECT_EQ(ws.dragMode, 4);
    move(5, 10);
    release(5, 10);
    EXPECT_EQ(ws.red.redStart, 50);
    EXPECT_EQ(ws.red.redEnd, 109);

    press(12, 10);  // near the end column 10
    EXPECT_EQ(ws.dragMode, 5);
    move(20, 10);
    release(20, 10);
    EXPECT_EQ(ws.red.redStart, 50);
    EXPECT_EQ(ws.red.redEnd, 209);
}

TEST_F(WaveViewsTest, CarryingTheRedSelectionIntoTheBandAddsABlueSelection)
{
    install(1000);
    drag(10, 30);  // [100, 309]
    press(20, 10);
    EXPECT_EQ(ws.dragMode, 2);
    move(20, kWH + 10);
    EXPECT_EQ(host.cursor, CursorKind::C202);
    release(20, kWH + 10);
    const Selection& s = ws.document.leftSelections[0];
    EXPECT_EQ(s.kind, SelectionKind::Blue);
    EXPECT_EQ(s.start, 100);
    EXPECT_EQ(s.end, 309);
    EXPECT_DOUBLE_EQ(s.alphaStart, 1.0);
    EXPECT_DOUBLE_EQ(s.alphaEnd, 1.0);
    EXPECT_TRUE(ws.red.exists()) << "the red selection stays";

    // Dropped back inside itself, it goes.
    press(20, 10);
    move(22, 12);
    release(22, 12);
    EXPECT_FALSE(ws.red.exists());
}

TEST_F(WaveViewsTest, ClickingInTheBandTogglesTheColourAndNearAnEdgeDragsIt)
{
    install(1000);
    ScriptedUi quiet;
    addSelection(quiet, ws.document.leftSelections, 200, 599, SelectionShape::Linear, 0.0, 0.0, 1.0, SelectionKind::Blue);
    const int bandRow = kWH + 20;
    press(40, bandRow);
    EXPECT_EQ(ws.dragMode, 6);
    release(40, bandRow);
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::Green);
    press(40, bandRow);
    release(40, bandRow);
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::Blue);

    press(59, bandRow);  // the end column of [200, 599] is 59
    EXPECT_EQ(ws.dragMode, 9);
    move(70, bandRow);
    release(70, bandRow);
    EXPECT_EQ(ws.document.leftSelections[0].end, 709);
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::Blue);
}

TEST_F(WaveViewsTest, DraggingAnEdgeLevelSetsAlpha)
{
    install(1000);
    ScriptedUi quiet;
    addSelection(quiet, ws.document.leftSelections, 200, 599, SelectionShape::Linear, 1.0, 1.0, 1.0, SelectionKind::Green);
    // The level row of alpha 1 is the band's top row.
    press(20, kWH + 1);
    EXPECT_EQ(ws.dragMode, 10);
    move(20, kWH + 31);
    release(20, kWH + 31);
    EXPECT_DOUBLE_EQ(ws.document.leftSelections[0].alphaStart, 0.0);
    EXPECT_DOUBLE_EQ(ws.document.leftSelections[0].alphaEnd, 1.0);
}

// The band's rows run from kWH + 1 (level 1) to kWH + 31 (level 0); a handle pressed and released
// without leaving its row keeps its level, whatever row rounding drew it on.
TEST_F(WaveViewsTest, LevelHandlesMapTheBandRowsAndKeepTheirLevelOnAPlainPress)
{
    install(1000);
    ScriptedUi quiet;
    struct Case {
        double level;
        int toRow;  // -1: press and release on the level's own row, with a move there
        double expected;
    };
    const Case cases[] = {
        {1.0, -1, 1.0}, {0.3, -1, 0.3}, {0.0, -1, 0.0}, {0.7, -1, 0.7},
        {1.0, kWH + 31, 0.0}, {0.0, kWH + 1, 1.0}, {0.5, kWH + 11, 20.0 / 30.0}, {0.5, kWH - 20, 1.0}, {0.5, kWH + 60, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.level << " to " << c.toRow);
        ws.document.leftSelections.fill(Selection{});
        addSelection(quiet, ws.document.leftSelections, 200, 599, SelectionShape::Linear, c.level, 1.0, 1.0,
                     SelectionKind::Blue);
        const int filled = static_cast<int>(std::floor(31 * c.level + 0.5)) - 1;
        const int row = kWH + 31 - std::max(0, std::min(30, filled));
        press(20, row);
        ASSERT_EQ(ws.dragMode, 10);
        move(20, c.toRow < 0 ? row : c.toRow);
        release(20, c.toRow < 0 ? row : c.toRow);
        EXPECT_DOUBLE_EQ(ws.document.leftSelections[0].alphaStart, c.expected);
    }
}

TEST_F(WaveViewsTest, RightClicksOpenMenusOnlyOverSelections)
{
    install(1000);
    views.rightPress(0, kM + 50, 10);
    views.rightRelease(0, kM + 50, 10);
    views.rightPress(0, kM + 50, kWH + 10);
    views.rightRelease(0, kM + 50, kWH + 10);
    EXPECT_TRUE(host.redMenus.empty());
    EXPECT_TRUE(host.selectionMenus.empty());

    drag(10, 30);
    views.rightPress(0, kM + 20, 10);
    EXPECT_EQ(ws.dragMode, 16);
    views.mouseMove(0, kM + 22, 12);
    EXPECT_EQ(ws.dragMode, 17);
    views.rightRelease(0, kM + 22, 12);
    EXPECT_EQ(host.redMenus, std::vector<int>{0});
    EXPECT_EQ(ws.dragMode, 0);

    ScriptedUi quiet;
    addSelection(quiet, ws.document.leftSelections, 600, 699, SelectionShape::Linear, 1.0, 1.0, 1.0, SelectionKind::Blue);
    views.rightPress(0, kM + 65, kWH + 10);
    views.rightRelease(0, kM + 65, kWH + 10);
    ASSERT_EQ(host.selectionMenus.size(), 1u);
    EXPECT_EQ(host.selectionMenus[0].second, 0);
}

TEST_F(WaveViewsTest, PressesAreIgnoredWithoutSoundAndDuringAnotherGesture)
{
    views.resize(0, kWidth, kHeight);
    press(10, 10);
    EXPECT_EQ(ws.dragMode, 0);
    install(1000);
    press(10, 10);
    views.rightPress(0, kM + 50, 10);
    EXPECT_EQ(ws.dragMode, 1);
    views.mouseMove(0, kM + 50, 10);
    EXPECT_EQ(ui.statusText[0], "現在地： 500 - 509 ( 0.0114 秒 ) / 1000 ( 0.0227 秒 )");
    views.mouseMove(0, kM + 50, kHeight - 5);
    EXPECT_EQ(ui.statusText[0], "現在地：               領域外 / 1000 ( 0.0227 秒 )");
}

TEST_F(WaveViewsTest, TheWheelKeepsThePositionTextUnderThePointer)
{
    install(100000);
    move(50, 10);
    std::string shown = ui.statusText[0];
    ASSERT_EQ(shown, views.positionText(0, kM + 50, 10));
    const std::pair<WheelAction, int> turns[] = {{WheelAction::ZoomTime, 2}, {WheelAction::Scroll, -1}};
    for (const auto& [action, notches] : turns) {
        views.wheel(0, action, notches, kM + 50, 10);
        EXPECT_NE(ui.statusText[0], shown);
        EXPECT_EQ(ui.statusText[0], views.positionText(0, kM + 50, 10));
        shown = ui.statusText[0];
    }
}

TEST_F(WaveViewsTest, HorizontalScrollStaysInRange)
{
    install(1000);
    ws.document.leftView.sx = 1.0;  // 100 of 1000 frames visible
    views.render(0);
    views.scrollHorizontal(0, ScrollRequest::LineBack);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 0.0);
    views.scrollHorizontal(0, ScrollRequest::Thumb, 16384);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 500.0);
    views.scrollHorizontal(0, ScrollRequest::LineForward);
    // step = floor(32.768 * 10 / 1 + 0.5) = 328 units; position 16384 + 328.
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, (16384 + 328) / 32.768);
    for (int i = 0; i < 200; ++i)
        views.scrollHorizontal(0, ScrollRequest::LineForward);
    const ScrollBarValues& b = views.scrollBars(0);
    EXPECT_LE(b.hPos, b.hMax - b.hPage + 1);
}

TEST_F(WaveViewsTest, ResizingKeepsTheVisibleSpan)
{
    install(1000);
    const double sx = ws.document.leftView.sx;
    const double sy = ws.document.leftView.sy;
    views.resize(0, kM + 200, kHeight + (kHeight - 64));
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 2 * sx);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sy, 2 * sy);
}

// Sizes too small to show any samples (narrower than the margin, lower than band and ruler) in any
// order: back at the first size, the same frames and amplitudes are in view.
TEST_F(WaveViewsTest, TheVisibleSpanSurvivesAnySequenceOfSizes)
{
    install(1000);
    const ViewState before = ws.document.leftView;
    const std::vector<std::vector<std::pair<int, int>>> sequences = {
        {{kM + 6, kHeight}, {50, kHeight}, {kWidth, kHeight}},
        {{3, 3}, {0, 0}, {kM + 1, 65}, {kM + 500, 900}, {kWidth, kHeight}},
        {{kM, 64}, {kM - 1, 63}, {1, 1}, {kWidth, kHeight}},
        {{-5, -5}, {kWidth * 3, kHeight / 2}, {kWidth, kHeight}},
    };
    for (const auto& sizes : sequences) {
        for (auto [w, h] : sizes)
            views.resize(0, w, h);
        EXPECT_NEAR(ws.document.leftView.sx, before.sx, before.sx * 1e-12);
        EXPECT_NEAR(ws.document.leftView.sy, before.sy, before.sy * 1e-12);
        EXPECT_EQ(ws.document.leftView.x0, before.x0);
    }
}

TEST_F(WaveViewsTest, AClosedSoundLeavesNoSelectionsDrawn)
{
    install(1000);
    ScriptedUi quiet;
    addSelection(quiet, ws.document.leftSelections, 200, 599, SelectionShape::Linear, 1.0, 0.5, 1.0, SelectionKind::Blue);
    drag(70, 90);
    ASSERT_TRUE(ws.red.exists());
    moveToUndoStore(ws.document, ws.undoStore);
    views.render(0);

    Workspace empty;
    applyDefaultSettings(empty.settings);
    RecordingHost otherHost;
    WaveViews emptyViews(empty, quiet, otherHost);
    emptyViews.resize(0, kWidth, kHeight);
    const PixelImage* shown = views.picture(0);
    const PixelImage* expected = emptyViews.picture(0);
    ASSERT_TRUE(shown && expected);
    ASSERT_EQ(shown->byteSize(), expected->byteSize());
    EXPECT_EQ(std::memcmp(shown->data(), expected->data(), shown->byteSize()), 0);
}

TEST_F(WaveViewsTest, ADocumentOfNoFramesRendersScrollsAndIgnoresGestures)
{
    install(0);
    views.scrollHorizontal(0, ScrollRequest::LineForward);
    views.scrollVertical(0, ScrollRequest::LineBack);
    drag(10, 20);
    views.mouseMove(0, kM + 5, 5);
    EXPECT_FALSE(ws.red.exists());
    EXPECT_NE(views.picture(0), nullptr);
}

TEST_F(WaveViewsTest, StartingInTheOtherChannelClearsTheFirst)
{
    install(1000, 2);
    views.resize(1, kWidth, kHeight);
    drag(10, 20);
    ASSERT_TRUE(ws.red.exists());
    views.leftPress(1, kM + 50, 10);
    EXPECT_EQ(ws.red.redChannel, 1);
    views.leftRelease(1, kM + 50, 10);
    EXPECT_FALSE(ws.red.exists());
}

} // namespace
} // namespace sonavik
