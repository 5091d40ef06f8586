#include "gui/curve_editor_widget.h"

#include "gui/resources.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include "keep_picture.h"

#include <gtest/gtest.h>

#include <memory>

namespace sonavik {
namespace {

using test::ScriptedUi;

// 400 x 300: L = 60, PW = 340, PH = 255.
constexpr int kW = 400;
constexpr int kH = 300;

class CurveEditorWidgetTest : public ::testing::Test {
protected:
    void open(CurveKind kind)
    {
        Settings settings;
        applyDefaultSettings(settings);
        data = kind == CurveKind::Equaliser ? settings.eq : kind == CurveKind::Nonlinear ? settings.nonlinear : settings.reverb;
        widget = std::make_unique<CurveEditorWidget>(data, ui, [this] { return rate; });
        widget->resize(kW, kH);
        widget->show();
        QApplication::processEvents();
    }

    QPoint at(double x, double y) const
    {
        const CurvePlot plot = CurvePlot::of(kW, kH);
        return {plot.column(x), plot.row(y)};
    }

    // A move with no button held; QTest would only move the system cursor.
    void hover(QPoint p)
    {
        QMouseEvent event(QEvent::MouseMove, p, widget->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget.get(), &event);
    }

    QImage render()
    {
        QImage image(widget->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        widget->render(&image);
        return image;
    }

    bool showsCursor(int id) const
    {
        return widget->cursor().shape() == Qt::BitmapCursor &&
               widget->cursor().pixmap().toImage() == programCursor(id).pixmap().toImage();
    }

    ScriptedUi ui;
    CurveData data{};
    std::uint32_t rate = 44100;
    std::unique_ptr<CurveEditorWidget> widget;
};

QRgb rgb(Rgb c) { return qRgb(c.r, c.g, c.b); }

int countColour(const QImage& image, QRect area, QRgb colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

TEST_F(CurveEditorWidgetTest, IsTheWndWindowAndNormalisesItsBlock)
{
    data = {};
    data.points[3] = CurvePoint{5, 0, 0.4, 0.4, 0.4, 1.7};
    data.displayKind = 1;
    widget = std::make_unique<CurveEditorWidget>(data, ui, [] { return 0u; });
    EXPECT_EQ(widget->objectName(), "Wnd");
    EXPECT_EQ(data.points[0].state, 1);
    EXPECT_EQ(data.points[0].y, 1.0);
    EXPECT_TRUE(widget->hasMouseTracking());
}

TEST_F(CurveEditorWidgetTest, MouseAddsDragsAndReleasesAPoint)
{
    open(CurveKind::Equaliser);
    EXPECT_TRUE(showsCursor(203));
    const QPoint start = at(0.3, 0.2);
    QTest::mousePress(widget.get(), Qt::LeftButton, {}, start);
    ASSERT_EQ(data.points[0].state, 2);
    EXPECT_TRUE(widget->editor().dragging());
    EXPECT_TRUE(showsCursor(204));
    EXPECT_EQ(data.points[0].yGray, 0.5);

    QTest::mouseMove(widget.get(), at(0.6, 0.7));
    EXPECT_NEAR(data.points[0].x, 0.6, 0.01);
    EXPECT_NEAR(data.points[0].y, 0.7, 0.01);
    QTest::mouseMove(widget.get(), QPoint(-100, 900));  // outside the window: limited to the plot
    EXPECT_EQ(data.points[0].x, 0.0);
    EXPECT_EQ(data.points[0].y, 1.0);
    QTest::mouseRelease(widget.get(), Qt::LeftButton, {}, QPoint(-100, 900));
    EXPECT_EQ(data.points[0].state, 1);
    EXPECT_FALSE(widget->editor().dragging());
    EXPECT_TRUE(showsCursor(203));

    // Right button does nothing; a left click in the margin beeps on release.
    QTest::mouseClick(widget.get(), Qt::RightButton, {}, at(0.5, 0.5));
    EXPECT_TRUE(ui.beeps.empty());
    QTest::mouseClick(widget.get(), Qt::LeftButton, {}, QPoint(20, 100));
    EXPECT_EQ(ui.beeps.size(), 1u);
    EXPECT_EQ(data.points[1].state, 0);
}

TEST_F(CurveEditorWidgetTest, HoverSetsTheCursor)
{
    open(CurveKind::Nonlinear);
    hover(QPoint(20, 100));
    EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
    hover(at(0.5, 0.5) + QPoint(5, -5));
    EXPECT_TRUE(showsCursor(204));
    hover(at(0.25, 0.25));
    EXPECT_TRUE(showsCursor(203));
}

TEST_F(CurveEditorWidgetTest, PaintsThePicture)
{
    const CurvePlot plot = CurvePlot::of(kW, kH);
    struct Case {
        CurveKind kind;
        const char* file;
    } cases[] = {
        {CurveKind::Reverb, "curve_reverb.png"},
        {CurveKind::Equaliser, "curve_equaliser.png"},
        {CurveKind::Nonlinear, "curve_nonlinear.png"},
    };
    for (const Case& c : cases) {
        open(c.kind);
        if (c.kind == CurveKind::Equaliser) {
            // A boost in the bass and a cut in the treble, both grey at unity gain.
            QTest::mouseClick(widget.get(), Qt::LeftButton, {}, at(0.2, 0.2));
            QTest::mouseClick(widget.get(), Qt::LeftButton, {}, at(0.5, 0.6));
            QTest::mouseClick(widget.get(), Qt::LeftButton, {}, at(0.8, 0.8));
            ASSERT_EQ(data.points[2].state, 1);
        }
        if (c.kind == CurveKind::Nonlinear) {
            data.kindValue = 1;
            data.points[1].y = 0.3;  // as a drag would leave it: grey stays on the identity
        }
        const QImage image = render();
        test::keepPicture(image, c.file);
        SCOPED_TRACE(c.file);

        EXPECT_EQ(image.pixel(kW - 5, kH - 5), rgb(curve_colour::kBackground));
        // The left axis, and the bottom axis up to the right edge.
        EXPECT_EQ(image.pixel(plot.left, 150), rgb(curve_colour::kAxis));
        EXPECT_EQ(image.pixel(plot.left + 100, plot.plotHeight - 1), rgb(curve_colour::kAxis));
        // Circles: white over grey, with black outlines.
        const QPoint white = at(data.points[1].x, data.points[1].y);
        EXPECT_EQ(image.pixel(white), rgb(curve_colour::kWhiteCircle));
        EXPECT_EQ(image.pixel(white + QPoint(4, 0)), rgb(curve_colour::kOutline));
        EXPECT_EQ(image.pixel(white + QPoint(5, 0)) == rgb(curve_colour::kWhiteCircle), false);
        // The edited curve is drawn in yellow somewhere on every kind.
        EXPECT_GT(countColour(image, image.rect(), rgb(curve_colour::kEditedCurve)), 100);
        // Labels are white text on black.
        EXPECT_GT(countColour(image, QRect(0, 0, plot.left, plot.plotHeight), rgb(curve_colour::kText)), 20);
    }

    // Grey circle at its own place when the white one moved away (nonlinear, last image).
    const QImage image = render();
    const QPoint grey = at(data.points[1].xGray, data.points[1].yGray);
    EXPECT_EQ(image.pixel(grey), rgb(curve_colour::kGreyCircle));
    EXPECT_EQ(image.pixel(grey + QPoint(-3, 0)), rgb(curve_colour::kOutline));
    // Mode "全て" draws the white centre cross.
    EXPECT_EQ(image.pixel(plot.left + 169, 30), rgb(curve_colour::kCentreCross));
    // A grid line stops short of its end pixel: the first tenth ends above row PH.
    EXPECT_EQ(image.pixel(plot.left + 33, 200), rgb(curve_colour::kGrid));
    EXPECT_EQ(image.pixel(plot.left + 33, plot.plotHeight), rgb(curve_colour::kBackground));
}

TEST_F(CurveEditorWidgetTest, RepaintsWithTheSoundsRate)
{
    open(CurveKind::Reverb);
    rate = 8000;
    const QImage slow = render();
    rate = 0;  // no sound
    const QImage fallback = render();
    rate = 44100;
    EXPECT_EQ(render(), fallback);
    EXPECT_NE(slow, fallback) << "the time labels follow the rate";
}

} // namespace
} // namespace sonavik
