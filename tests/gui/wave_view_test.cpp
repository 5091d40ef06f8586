#include "gui/main_window.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "gui/buttons.h"
#include "gui/wave_view.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include "keep_picture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::TempDir;

// A real main window with a sine in both channels, opened through the scripted file dialog.
class WaveViewWidgetTest : public ::testing::Test {
protected:
    WaveViewWidgetTest()
    {
        applyDefaultSettings(ws.settings);
        window = std::make_unique<MainWindow>(ws, &ui);
        ui.setWindow(&window->qtUi());
        window->show();
        QApplication::processEvents();

        test::Bytes data;
        for (int i = 0; i < 44100; ++i) {
            const auto v = static_cast<std::int16_t>(std::lround(12000 * std::sin(i * 0.01)));
            for (int c = 0; c < 2; ++c) {
                data.push_back(static_cast<unsigned char>(v));
                data.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(v) >> 8));
            }
        }
        path = dir.file("sine.wav");
        test::writeBytes(path, test::canonicalWav(2, 44100, 16, data));
        ui.fileAnswers.push_back(path);
        window->controller().command(cmd::Open);
        QApplication::processEvents();
    }

    QWidget* canvas(int channel) { return window->waveView(channel)->canvas(); }
    int waveHeight(int channel) { return canvas(channel)->height() - 64; }
    QPoint at(int column, int row) { return {64 + column, row}; }

    void drag(int channel, QPoint from, QPoint to)
    {
        QTest::mousePress(canvas(channel), Qt::LeftButton, {}, from);
        QTest::mouseMove(canvas(channel), (from + to) / 2);
        QTest::mouseMove(canvas(channel), to);
        QTest::mouseRelease(canvas(channel), Qt::LeftButton, {}, to);
    }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
    std::string path;
};

TEST_F(WaveViewWidgetTest, StereoSoundShowsBothViewsWithTheirButtons)
{
    ASSERT_NE(window->waveView(1), nullptr);
    EXPECT_TRUE(window->waveView(1)->isVisible());
    EXPECT_NE(window->smallButton(1, 0), nullptr);
    EXPECT_EQ(window->smallButton(1, 0)->objectName(), "RK");
    EXPECT_EQ(window->bigButton(1)->look(), BigButtonLook::Normal) << "保存 is usable with sound";
    EXPECT_EQ(window->bigButton(2)->look(), BigButtonLook::Normal);
    // Fitted: the whole second spans the plot width of the canvas.
    EXPECT_NEAR(ws.document.leftView.sx * 44100, canvas(0)->width() - 64, 1e-6);

    window->controller().command(cmd::Close);
    EXPECT_EQ(window->waveView(1), nullptr) << "no sound, no right view";
    EXPECT_EQ(window->smallButton(1, 0), nullptr);
    EXPECT_EQ(window->bigButton(1)->look(), BigButtonLook::Disabled);
}

TEST_F(WaveViewWidgetTest, DraggingMakesARedSelectionAndDroppingItInTheBandNumbersIt)
{
    drag(0, at(10, 20), at(100, 20));
    ASSERT_TRUE(ws.red.exists());
    EXPECT_EQ(ws.red.redChannel, 0);
    const QString status = window->statusLabel(1)->text();
    EXPECT_TRUE(status.startsWith(QString::fromUtf8("選択中： "))) << status.toStdString();
    EXPECT_TRUE(window->windowTitle().endsWith(" L -")) << window->windowTitle().toStdString();

    // Carry it into the alpha band: a blue selection numbered 1.
    const int bandRow = waveHeight(0) + 10;
    drag(0, at(50, 20), at(50, bandRow));
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::Blue);
    EXPECT_EQ(ws.document.leftSelections[0].start, ws.red.redStart);

    // The band is painted blue under the selection in the picture the canvas shows.
    const PixelImage* picture = window->views().picture(0);
    ASSERT_NE(picture, nullptr);
    const Rgb band = picture->pixel(64 + 50, waveHeight(0) + 25);
    EXPECT_GE(band.b, 200);
    EXPECT_LE(band.r, 40);

    test::keepPicture(window->grab().toImage(), "red_and_blue_selection.png");
}

TEST_F(WaveViewWidgetTest, ZoomButtonsAndScrollBarsMoveTheView)
{
    const double sx = ws.document.leftView.sx;
    QTest::mouseClick(window->smallButton(0, 4), Qt::LeftButton);  // horizontal zoom in
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 2 * sx);
    QScrollBar* bar = window->waveView(0)->horizontalBar();
    EXPECT_GT(bar->maximum(), 0);
    const double x0 = ws.document.leftView.x0;
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_GT(ws.document.leftView.x0, x0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);  // page clicks are not used
    const double afterPage = ws.document.leftView.x0;
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, afterPage);
    QTest::mouseClick(window->smallButton(0, 0), Qt::LeftButton);  // fit
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, sx);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 0.0);
    EXPECT_DOUBLE_EQ(ws.document.rightView.sx, sx) << "the left buttons leave the right view alone";
}

TEST_F(WaveViewWidgetTest, ResizingTheWindowKeepsTheVisibleSpan)
{
    const double framesVisible = (canvas(0)->width() - 64) / ws.document.leftView.sx;
    window->resize(window->width() + 200, window->height() + 100);
    QApplication::processEvents();
    EXPECT_NEAR((canvas(0)->width() - 64) / ws.document.leftView.sx, framesVisible, 1e-6);
}

TEST_F(WaveViewWidgetTest, PointerOverTheViewShowsThePositionAndCursor)
{
    QTest::mouseMove(canvas(0), at(0, 20));
    const QString text = window->statusLabel(0)->text();
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("現在地： 0 - "))) << text.toStdString();
    EXPECT_NE(canvas(0)->cursor().shape(), Qt::ArrowCursor) << "the I-beam of a new red selection";
    QTest::mouseMove(canvas(0), at(10, canvas(0)->height() - 3));
    EXPECT_TRUE(window->statusLabel(0)->text().contains(QString::fromUtf8("領域外")));
}

} // namespace
} // namespace sonavik
