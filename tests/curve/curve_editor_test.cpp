#include "curve/curve_editor.h"

#include "curve/curve.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace sonavik {
namespace {

using test::ScriptedUi;

// 400 x 300: L = 60, B = 45, PW = 340, PH = 255.
constexpr int kW = 400;
constexpr int kH = 300;
const CurvePlot kPlot = CurvePlot::of(kW, kH);

CurveData blockOf(CurveKind kind)
{
    Settings settings;
    applyDefaultSettings(settings);
    switch (kind) {
    case CurveKind::Equaliser:
        return settings.eq;
    case CurveKind::Nonlinear:
        return settings.nonlinear;
    case CurveKind::Reverb:
        return settings.reverb;
    }
    return {};
}

int activeCount(const CurveData& data)
{
    return static_cast<int>(std::count_if(std::begin(data.points), std::end(data.points),
                                          [](const CurvePoint& p) { return p.state != 0; }));
}

// Active points first, both positions of each point at or left of both positions of the next.
void expectOrdered(const CurveData& data)
{
    const int n = activeCount(data);
    for (int k = 0; k < n; ++k)
        ASSERT_NE(data.points[k].state, 0) << "active points come first";
    for (int k = 1; k < n; ++k) {
        const CurvePoint& a = data.points[k - 1];
        const CurvePoint& b = data.points[k];
        ASSERT_LE(std::max(a.x, a.xGray), std::min(b.x, b.xGray)) << "points " << k - 1 << " and " << k;
    }
}

struct EditorFixture : ::testing::Test {
    void open(CurveKind kind)
    {
        data = blockOf(kind);
        editor.emplace(data, ui);
    }
    EditorResponse press(int px, int py) { return editor->leftPress(px, py, kW, kH); }
    EditorResponse move(int px, int py) { return editor->mouseMove(px, py, kW, kH); }
    EditorResponse release() { return editor->leftRelease(); }
    EditorResponse pressAt(double x, double y) { return press(kPlot.column(x), kPlot.row(y)); }
    EditorResponse moveTo(double x, double y) { return move(kPlot.column(x), kPlot.row(y)); }

    ScriptedUi ui;
    CurveData data{};
    std::optional<CurveEditor> editor;
};

TEST(CurvePlotTest, MarginsAndPixelRules)
{
    EXPECT_EQ(kPlot.left, 60);
    EXPECT_EQ(kPlot.bottom, 45);
    EXPECT_EQ(kPlot.plotWidth, 340);
    EXPECT_EQ(kPlot.plotHeight, 255);
    EXPECT_EQ(kPlot.column(0.0), 60);
    EXPECT_EQ(kPlot.column(1.0), 399);
    EXPECT_EQ(kPlot.column(0.5), 229);  // trunc(169.5 + 60)
    EXPECT_EQ(kPlot.row(1.0), 254);
    EXPECT_DOUBLE_EQ(kPlot.xAt(399), 1.0);
    EXPECT_DOUBLE_EQ(kPlot.yAt(127), 0.5);
    EXPECT_LT(kPlot.xAt(59), 0.0);
    const CurvePlot odd = CurvePlot::of(333, 211);
    EXPECT_EQ(odd.left, 49);
    EXPECT_EQ(odd.bottom, 31);
}

TEST(CurveNormaliseTest, SortsClampsAndOrdersTheGreyPositions)
{
    CurveData data{};
    data.points[0] = CurvePoint{1, 0, 0.9, 0.2, 0.8, 0.3};
    data.points[2] = CurvePoint{7, 0, 0.1, -0.5, 0.2, 1.5};
    data.points[4] = CurvePoint{2, 0, 0.05, 0.4, 0.5, 0.6};
    data.points[6] = CurvePoint{0, 0, 0.0, 0.0, 0.1, 0.0};  // inactive, left of everything
    normaliseCurve(data);
    ASSERT_EQ(activeCount(data), 3);
    EXPECT_EQ(data.points[0].x, 0.2);
    EXPECT_EQ(data.points[0].yGray, 0.0);
    EXPECT_EQ(data.points[0].y, 1.0);
    EXPECT_EQ(data.points[1].x, 0.5);
    EXPECT_EQ(data.points[2].x, 0.8);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(data.points[k].state, 1);
    for (int k = 3; k < kCurvePoints; ++k)
        EXPECT_EQ(data.points[k].x, 2.0);
    // The middle point's grey x (0.05) lies left of the first point's edited x: raised to 0.2.
    EXPECT_EQ(data.points[1].xGray, 0.2);
    expectOrdered(data);
}

TEST(CurveNormaliseTest, CrossingLimitsStillGiveAscendingGreyPositions)
{
    // Point 1's upper limit (point 2's grey 0.1) lies below its lower limit (point 0's grey 0.5 after
    // the first step): the grey positions must still come out ascending.
    CurveData data{};
    data.points[0] = CurvePoint{1, 0, 0.8, 0.5, 0.0, 0.5};
    data.points[1] = CurvePoint{1, 0, 0.9, 0.5, 0.5, 0.5};
    data.points[2] = CurvePoint{1, 0, 0.1, 0.5, 0.6, 0.5};
    normaliseCurve(data);
    expectOrdered(data);
    // Every degree then has its points in order.
    for (double a : {0.0, 0.3, 1.0}) {
        const MorphedCurve curve(data, a);
        for (int k = 1; k < curve.pointCount(); ++k)
            EXPECT_LE(curve.pointX(k - 1), curve.pointX(k));
    }
}

TEST(CurveNormaliseTest, DamagedCoordinatesBecomeZero)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    CurveData data{};
    data.points[0] = CurvePoint{1, 0, nan, nan, 0.5, nan};
    data.points[1] = CurvePoint{1, 0, 0.7, 0.2, nan, 0.3};
    normaliseCurve(data);
    EXPECT_EQ(data.points[0].x, 0.0);
    EXPECT_EQ(data.points[0].y, 0.3);
    EXPECT_EQ(data.points[1].x, 0.5);
    EXPECT_EQ(data.points[1].y, 0.0);
    EXPECT_EQ(data.points[1].xGray, 0.0);
    expectOrdered(data);
}

TEST_F(EditorFixture, PressOnEmptySpaceAddsAPointForEachKind)
{
    struct Case {
        CurveKind kind;
        double x, y, expectedGreyY;
    } cases[] = {
        {CurveKind::Equaliser, 0.3, 0.2, 0.5},                 // unity gain
        {CurveKind::Nonlinear, 0.3, 0.2, 1.0 - kPlot.xAt(kPlot.column(0.3))},  // on the identity
        {CurveKind::Reverb, 0.3, 0.8, kPlot.yAt(kPlot.row(0.8))},           // under the white circle
    };
    for (const Case& c : cases) {
        open(c.kind);
        const int before = activeCount(data);
        const int px = kPlot.column(c.x);
        const int py = kPlot.row(c.y);
        const EditorResponse r = press(px, py);
        ASSERT_EQ(activeCount(data), before + 1) << static_cast<int>(c.kind);
        EXPECT_TRUE(r.repaint);
        EXPECT_EQ(r.cursor, CursorKind::C204);
        EXPECT_EQ(r.capture, MouseCapture::Take);
        EXPECT_TRUE(editor->dragging());
        const auto added = std::find_if(std::begin(data.points), std::end(data.points),
                                        [](const CurvePoint& p) { return p.state == 2; });
        ASSERT_NE(added, std::end(data.points));
        EXPECT_EQ(added->x, kPlot.xAt(px));
        EXPECT_EQ(added->xGray, added->x);
        EXPECT_EQ(added->y, kPlot.yAt(py));
        EXPECT_DOUBLE_EQ(added->yGray, c.expectedGreyY);
        expectOrdered(data);
        release();
        EXPECT_TRUE(ui.beeps.empty());
    }
}

TEST_F(EditorFixture, PressInTheMarginsAddsNothingAndItsReleaseBeeps)
{
    open(CurveKind::Equaliser);
    for (auto [px, py] : {std::pair{30, 100}, std::pair{200, 280}}) {
        const EditorResponse r = press(px, py);
        EXPECT_EQ(activeCount(data), 0);
        EXPECT_FALSE(r.repaint);
        EXPECT_FALSE(r.cursor);
        EXPECT_FALSE(editor->dragging());
        EXPECT_TRUE(ui.beeps.empty());
        release();
        EXPECT_EQ(ui.beeps.size(), 1u);
        ui.beeps.clear();
    }
}

TEST_F(EditorFixture, TwentyPointsAreTheLimit)
{
    open(CurveKind::Equaliser);
    for (int i = 0; i < kCurvePoints; ++i) {
        press(kPlot.left + 5 + i * 16, 200);
        release();
    }
    ASSERT_EQ(activeCount(data), kCurvePoints);
    ASSERT_TRUE(ui.beeps.empty());
    const CurveData before = data;
    const EditorResponse r = press(kPlot.left + 8, 40);
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Error});
    EXPECT_FALSE(editor->dragging());
    EXPECT_FALSE(r.repaint);
    EXPECT_EQ(activeCount(data), kCurvePoints);
    for (int k = 0; k < kCurvePoints; ++k)
        EXPECT_EQ(data.points[k].x, before.points[k].x);
}

TEST_F(EditorFixture, PressGrabsTheWhiteCircleBeforeTheGrey)
{
    open(CurveKind::Equaliser);
    data.points[0] = CurvePoint{1, 0, 0.5, 0.5, 0.5, 0.52};  // white 5 rows below the grey
    data.points[1] = CurvePoint{1, 0, 0.9, 0.5, 0.9, 0.2};
    const int gx = kPlot.column(0.5), gy = kPlot.row(0.5);
    press(gx, gy - 4);  // within 9 of both
    EXPECT_EQ(data.points[0].state, 2);
    release();
    // Only the grey one is near: it is grabbed.
    data.points[0].y = 0.9;
    press(gx + 9, gy - 9);
    EXPECT_EQ(data.points[0].state, 3);
    release();
    EXPECT_EQ(data.points[0].state, 1);
    // Ten pixels away is not near: a new point.
    press(gx + 10, gy);
    EXPECT_EQ(activeCount(data), 3);
    release();
    EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(EditorFixture, DraggingStopsAtTheNeighboursAndNeverReorders)
{
    open(CurveKind::Nonlinear);  // points at 0, 0.5, 1
    data.points[2].xGray = 0.9;  // grey of the right neighbour left of its white
    pressAt(0.5, 0.5);
    ASSERT_EQ(data.points[1].state, 2);
    for (int px = kPlot.left - 50; px <= kW + 50; px += 7) {
        const EditorResponse r = move(px, 100);
        EXPECT_TRUE(r.repaint);
        expectOrdered(data);
    }
    EXPECT_EQ(data.points[1].x, 0.9) << "stops at the neighbour's grey position";
    moveTo(0.0, 0.5);
    EXPECT_EQ(data.points[1].x, 0.0);
    move(kPlot.column(0.3), -40);
    EXPECT_EQ(data.points[1].y, 0.0) << "limited to the plot";
    EXPECT_EQ(data.points[1].xGray, 0.5) << "the grey position stays";
    const EditorResponse r = release();
    EXPECT_EQ(r.cursor, CursorKind::C203);
    EXPECT_EQ(r.capture, MouseCapture::Release);
    EXPECT_FALSE(editor->dragging());
    EXPECT_EQ(data.points[1].state, 1);
    EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(EditorFixture, DraggingTheGreyCircleMovesOnlyTheGreyPosition)
{
    open(CurveKind::Equaliser);
    data.points[0] = CurvePoint{1, 0, 0.2, 0.5, 0.2, 0.1};
    data.points[1] = CurvePoint{1, 0, 0.6, 0.5, 0.6, 0.1};
    pressAt(0.6, 0.5);
    ASSERT_EQ(data.points[1].state, 3);
    moveTo(0.1, 0.9);
    EXPECT_EQ(data.points[1].xGray, 0.2);
    EXPECT_DOUBLE_EQ(data.points[1].yGray, kPlot.yAt(kPlot.row(0.9)));
    EXPECT_EQ(data.points[1].x, 0.6);
    EXPECT_EQ(data.points[1].y, 0.1);
}

TEST_F(EditorFixture, ReverbGreyFollowsWhite)
{
    open(CurveKind::Reverb);
    pressAt(0.51, 0.71);
    ASSERT_EQ(data.points[2].state, 2);
    moveTo(0.4, 0.3);
    EXPECT_EQ(data.points[2].xGray, data.points[2].x);
    EXPECT_EQ(data.points[2].yGray, data.points[2].y);
    release();
    // A new point is dragged the same way.
    pressAt(0.75, 0.2);
    moveTo(0.8, 0.6);
    for (const CurvePoint& p : data.points) {
        if (p.state != 0) {
            EXPECT_EQ(p.xGray, p.x);
            EXPECT_EQ(p.yGray, p.y);
        }
    }
    // So the curves at every degree coincide.
    const MorphedCurve grey(data, 0.0), edited(data, 1.0);
    for (int i = 0; i <= 50; ++i)
        EXPECT_EQ(grey.valueAt(i / 50.0), edited.valueAt(i / 50.0));
}

TEST_F(EditorFixture, NewPointKeepsTheGreyOrder)
{
    open(CurveKind::Equaliser);
    data.points[0] = CurvePoint{1, 0, 0.5, 0.5, 0.3, 0.2};  // grey right of white
    data.points[1] = CurvePoint{1, 0, 0.9, 0.5, 0.9, 0.2};
    pressAt(0.4, 0.8);
    ASSERT_EQ(activeCount(data), 3);
    EXPECT_EQ(data.points[1].state, 2) << "sorted into the middle";
    expectOrdered(data);
    EXPECT_LE(data.points[0].xGray, data.points[1].x);
}

TEST_F(EditorFixture, HoverCursors)
{
    open(CurveKind::Nonlinear);
    const int cx = kPlot.column(0.5), cy = kPlot.row(0.5);
    struct Case {
        int px, py;
        CursorKind expected;
    } cases[] = {
        {cx + 9, cy - 9, CursorKind::C204},
        {cx + 10, cy, CursorKind::C203},
        {cx, cy + 10, CursorKind::C203},
        {kPlot.left - 1, 100, CursorKind::Arrow},
        {kPlot.left, 100, CursorKind::C203},
        {200, kPlot.plotHeight, CursorKind::Arrow},
        {200, kPlot.plotHeight - 1, CursorKind::C203},
    };
    for (const Case& c : cases) {
        const EditorResponse r = move(c.px, c.py);
        EXPECT_EQ(r.cursor, c.expected) << c.px << "," << c.py;
        EXPECT_FALSE(r.repaint);
    }
    EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(EditorFixture, LostReleaseAndVanishedPoints)
{
    open(CurveKind::Nonlinear);
    pressAt(0.5, 0.5);
    ASSERT_TRUE(editor->dragging());
    // A second press without a release: beep, then handled as usual.
    const EditorResponse r = pressAt(1.0, 0.0);
    EXPECT_EQ(ui.beeps.size(), 1u);
    EXPECT_TRUE(editor->dragging());
    EXPECT_EQ(r.capture, MouseCapture::Take);
    EXPECT_EQ(data.points[1].state, 1) << "the old drag mark is gone";
    EXPECT_EQ(data.points[2].state, 2);

    // The dialog resets the curve under a drag: the next move finds nothing to drag.
    for (CurvePoint& p : data.points)
        p.state = 0;
    const EditorResponse m = moveTo(0.3, 0.3);
    EXPECT_EQ(ui.beeps.size(), 2u);
    EXPECT_EQ(m.cursor, CursorKind::C203);
    EXPECT_FALSE(editor->dragging());
    release();
    EXPECT_EQ(ui.beeps.size(), 3u) << "a release without a drag beeps";
}

// ---- the picture ----

std::vector<DrawText> textsOf(const CurvePicture& picture)
{
    std::vector<DrawText> texts;
    for (const DrawItem& item : picture.items)
        if (const auto* t = std::get_if<DrawText>(&item))
            texts.push_back(*t);
    return texts;
}

std::vector<std::string> labelsOf(const CurvePicture& picture)
{
    std::vector<std::string> labels;
    for (const DrawText& t : textsOf(picture))
        labels.push_back(t.text);
    return labels;
}

bool hasText(const CurvePicture& picture, const std::string& text, int x, int y)
{
    for (const DrawText& t : textsOf(picture))
        if (t.text == text && t.at.x == x && t.at.y == y)
            return true;
    return false;
}

template <typename T>
std::vector<T> itemsOf(const CurvePicture& picture)
{
    std::vector<T> out;
    for (const DrawItem& item : picture.items)
        if (const auto* t = std::get_if<T>(&item))
            out.push_back(*t);
    return out;
}

TEST(CurvePictureTest, ReverbScales)
{
    const CurveData data = blockOf(CurveKind::Reverb);  // k = 5: 65536 frames
    const CurvePicture picture = drawCurveEditor(data, kW, kH, 44100);
    EXPECT_EQ(labelsOf(picture), (std::vector<std::string>{"0.0", "0.0", "0.3", "0.2", "0.6", "0.4", "0.9", "0.6",
                                                           "1.2", "0.8", "残響音", "秒"}));
    EXPECT_TRUE(hasText(picture, "残響音", 10, 10));
    EXPECT_TRUE(hasText(picture, "秒", kW - 30, 255 + 10));
    EXPECT_TRUE(hasText(picture, "0.3", 60 + 67 - 10, 255 + 9));  // trunc(339 / 10 * 2) = 67
    EXPECT_TRUE(hasText(picture, "0.4", 15, 255 - 6 - 101));       // trunc(254 / 10 * 4) = 101
    // 11 vertical and 11 horizontal grid lines, then the axes twice.
    const auto lines = itemsOf<DrawLine>(picture);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const DrawLine& l) { return l.colour == curve_colour::kGrid; }), 22);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const DrawLine& l) { return l.colour == curve_colour::kAxis; }), 4);
    const DrawLine tenth = lines[1];
    EXPECT_EQ(tenth.from, (PixelPoint{60 + 33, 0}));
    EXPECT_EQ(tenth.to, (PixelPoint{60 + 33, 255}));
    // Half the rate doubles the times.
    EXPECT_EQ(labelsOf(drawCurveEditor(data, kW, kH, 22050))[2], "0.6");
}

TEST(CurvePictureTest, NonlinearScalesForBothModes)
{
    CurveData data = blockOf(CurveKind::Nonlinear);
    CurvePicture picture = drawCurveEditor(data, kW, kH, 0);
    EXPECT_EQ(labelsOf(picture), (std::vector<std::string>{"出力", "入力", "0.0", "0.0", "0.2", "0.2", "0.4", "0.4",
                                                           "0.6", "0.6", "0.8", "0.8"}));
    EXPECT_TRUE(hasText(picture, "出力", 10, 10));
    EXPECT_TRUE(hasText(picture, "入力", kW - 30, 265));
    auto crossLines = [](const CurvePicture& p) {
        const auto lines = itemsOf<DrawLine>(p);
        return std::count_if(lines.begin(), lines.end(), [](const DrawLine& l) { return l.colour == curve_colour::kCentreCross; });
    };
    EXPECT_EQ(crossLines(picture), 0);

    data.kindValue = 1;
    picture = drawCurveEditor(data, kW, kH, 0);
    EXPECT_EQ(labelsOf(picture), (std::vector<std::string>{"出力", "入力", "-1.0", "-1.0", "-0.6", "-0.6", "-0.2", "-0.2",
                                                           "0.2", "0.2", "0.6", "0.6"}));
    EXPECT_EQ(crossLines(picture), 2);
}

TEST(CurvePictureTest, EqualiserScales)
{
    CurveData data = blockOf(CurveKind::Equaliser);  // both axes logarithmic, 4096 bins
    CurvePicture picture = drawCurveEditor(data, kW, kH, 44100);
    EXPECT_TRUE(hasText(picture, "左端 = 10.767Hz", 60, 255 + 16));
    EXPECT_TRUE(hasText(picture, "右端 = 22.050kHz", 60 + 170, 255 + 16));
    std::vector<std::string> labels = labelsOf(picture);
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 2, labels.end()),
              (std::vector<std::string>{"100", "1k", "10k", "0.2", "0.5", "1.0", "2.0", "5.0"}))
        << "10 Hz lies left of the first bin, 100 kHz right of the top";
    // 1 kHz: floor((3 - log10(10.7666)) * 339 / (log10(22050) - log10(10.7666)) + 0.5) = 201
    EXPECT_TRUE(hasText(picture, "1k", 60 + 201 - 10, 255));
    // Gain 1 sits in the middle row, its label five rows above.
    EXPECT_TRUE(hasText(picture, "1.0", 20, 254 - 127 - 5));

    data.horizontalScale = 0;
    data.verticalScale = 0;
    picture = drawCurveEditor(data, kW, kH, 44100);
    labels = labelsOf(picture);
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 2, labels.end()),
              (std::vector<std::string>{"5.0k", "10.0k", "15.0k", "20.0k", "0.00", "0.25", "0.50", "0.75", "1.00", "1.25",
                                        "1.50", "1.75", "2.00"}));
    // 5 kHz: floor(4999 * 339 / 22049 + 0.5) = 77
    EXPECT_TRUE(hasText(picture, "5.0k", 60 + 77 - 10, 255));
    EXPECT_TRUE(hasText(picture, "2.00", 10, 255 - 10 - 254));

    struct RateCase {
        std::uint32_t rate;
        std::vector<std::string> frequencyLabels;
    } rates[] = {
        {22050, {"2.5k", "5.0k", "7.5k", "10.0k"}},
        {8000, {"1.0k", "2.0k", "3.0k", "4.0k"}},
        {4000, {"500.0", "1.0k", "1.5k", "2.0k"}},  // rate / 8
    };
    for (const RateCase& c : rates) {
        labels = labelsOf(drawCurveEditor(data, kW, kH, c.rate));
        EXPECT_EQ(std::vector<std::string>(labels.begin() + 2, labels.begin() + 6), c.frequencyLabels) << c.rate;
    }

    data.linearGainSpan = 9.0;  // step 1
    labels = labelsOf(drawCurveEditor(data, kW, kH, 44100));
    EXPECT_EQ(labels.back(), "10.00");
    data.linearGainSpan = 1e12;  // from a damaged file: bounded, not hung
    EXPECT_LT(drawCurveEditor(data, kW, kH, 44100).items.size(), 30000u);
}

TEST(CurvePictureTest, CurvesAndCircles)
{
    CurveData data = blockOf(CurveKind::Equaliser);
    CurvePicture picture = drawCurveEditor(data, kW, kH, 44100);
    auto curves = itemsOf<DrawPolyline>(picture);
    ASSERT_EQ(curves.size(), 3u);
    EXPECT_EQ(curves[0].colour, curve_colour::kGreyCurve);
    EXPECT_EQ(curves[1].colour, curve_colour::kGreyCurve);
    EXPECT_EQ(curves[2].colour, curve_colour::kEditedCurve);
    for (const DrawPolyline& c : curves) {
        ASSERT_EQ(c.points.size(), 340u);
        EXPECT_EQ(c.points.front(), (PixelPoint{60, 127}));  // a flat line in the middle
        EXPECT_EQ(c.points.back(), (PixelPoint{399, 127}));
    }
    EXPECT_TRUE(itemsOf<DrawCircle>(picture).empty());

    data.points[0] = CurvePoint{1, 0, 0.5, 0.5, 0.5, 0.0};
    picture = drawCurveEditor(data, kW, kH, 44100);
    const auto circles = itemsOf<DrawCircle>(picture);
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_EQ(circles[0].fill, curve_colour::kGreyCircle);
    EXPECT_EQ(circles[0].left, 229 - 3);
    EXPECT_EQ(circles[0].bottom, 127 + 4);
    EXPECT_EQ(circles[1].fill, curve_colour::kWhiteCircle);
    EXPECT_EQ(circles[1].top, -4);
    EXPECT_EQ(circles[1].right, 229 + 5);
    const auto lines = itemsOf<DrawLine>(picture);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const DrawLine& l) {
                  return l.colour == curve_colour::kJoin && l.from == PixelPoint{229, 0} && l.to == PixelPoint{229, 127};
              }),
              1);
    curves = itemsOf<DrawPolyline>(picture);
    EXPECT_EQ(curves[0].points[10].y, 127);  // degree 0: the grey point
    EXPECT_EQ(curves[1].points[10].y, 63);   // degree 0.5: halfway, trunc(0.25 * 254)
    EXPECT_EQ(curves[2].points[10].y, 0);
    // The picture ends with the circles, white over grey.
    EXPECT_TRUE(std::holds_alternative<DrawCircle>(picture.items.back()));
}

TEST(CurvePictureTest, NoSoundUsesTheFallbackRate)
{
    const CurveData data = blockOf(CurveKind::Equaliser);
    EXPECT_EQ(labelsOf(drawCurveEditor(data, kW, kH, 0)), labelsOf(drawCurveEditor(data, kW, kH, 44100)));
}

TEST(CurvePictureTest, TinyWindowsDrawWithoutFault)
{
    for (CurveKind kind : {CurveKind::Equaliser, CurveKind::Nonlinear, CurveKind::Reverb}) {
        CurveData data = blockOf(kind);
        for (auto [w, h] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{2, 2}, std::pair{7, 3}}) {
            const CurvePicture picture = drawCurveEditor(data, w, h, 44100);
            EXPECT_EQ(picture.width, w);
            ScriptedUi ui;
            CurveEditor editor(data, ui);
            editor.leftPress(0, 0, w, h);
            editor.mouseMove(5, 5, w, h);
            editor.leftRelease();
            for (const CurvePoint& p : data.points) {
                if (p.state != 0) {
                    EXPECT_TRUE(p.x >= 0.0 && p.x <= 1.0 && p.y >= 0.0 && p.y <= 1.0);
                }
            }
        }
    }
}

TEST(CurvePictureTest, NumbersIgnoreTheProcessLocale)
{
    // Where a comma locale is installed, switch to it the way Qt does at start-up.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name))
            break;
    EXPECT_EQ(formatFixed(0.25, 1), "0.2");  // printf rounds the exact binary value to even
    EXPECT_EQ(formatFixed(10.76660156, 3), "10.767");
    EXPECT_EQ(formatFixed(-0.6, 1), "-0.6");
    EXPECT_EQ(formatFixed(1.5, 2), "1.50");
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
} // namespace sonavik
