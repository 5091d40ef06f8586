// A long edit seen from the window: it runs while the window repaints and refuses everything else,
// and Esc brings back the untouched sound.

#include "gui/main_window.h"

#include "app/main_menu.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/reverb.h"
#include "gui/keep_picture.h"
#include "gui/wave_view.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

namespace sonavik {
namespace {

class LongEditWindowTest : public ::testing::Test {
protected:
    LongEditWindowTest()
    {
        applyDefaultSettings(ws.settings);
        window = std::make_unique<MainWindow>(ws, &ui);
        ui.setWindow(&window->qtUi());
        window->show();
        // Two seconds of two tones in stereo.
        test::Bytes data;
        for (int i = 0; i < 88200; ++i)
            for (int c = 0; c < 2; ++c) {
                const auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(i * (0.02 + 0.01 * c))));
                data.push_back(static_cast<unsigned char>(v));
                data.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(v) >> 8));
            }
        const std::string path = dir.file("hour.wav");
        test::writeBytes(path, test::canonicalWav(2, 44100, 16, data));
        ui.fileAnswers.push_back(path);
        window->controller().command(cmd::Open);
        QApplication::processEvents();
    }

    // Processes events until done() holds; false if it never does.
    template <typename Done>
    bool processUntil(Done done)
    {
        for (int i = 0; i < 60000 && !done(); ++i) {
            QApplication::processEvents();
            QThread::msleep(1);
        }
        return done();
    }

    test::TempDir dir;
    Workspace ws;
    test::ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
};

TEST_F(LongEditWindowTest, EscDuringReverbBringsBackTheUntouchedSound)
{
    ASSERT_TRUE(ws.document.hasData());
    const std::vector<unsigned char> sound(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    const std::string title = mainWindowTitle(ws);
    applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 44100);
    ws.settings.reverbTimeStep() = 1;  // blocks of 4096 frames: 22 of them per channel

    // The workers hold at the third block of the left channel until the test lets them go on.
    std::atomic<bool> reached{false};
    std::atomic<bool> release{false};
    LongEditOptions options;
    options.threads = 2;
    options.onBlock = [&](const EditRegion& region, std::int64_t block) {
        if (region.channel == 0 && block == 2) {
            reached = true;
            while (!release)
                QThread::msleep(1);
        }
    };
    window->setLongEditOptions(options);
    // As runEditCommand does once the target and the dialog are done.
    EXPECT_FALSE(window->runLongEdit(ws, ui, cmd::Reverb, 0, -1));
    ASSERT_TRUE(window->longEditRunning());
    ASSERT_TRUE(processUntil([&] { return reached.load(); }));

    // The window is alive: it repaints, shows the progress with "中止" beside it, and refuses the rest.
    EXPECT_TRUE(processUntil(
        [&] { return window->statusLabel(1)->text().startsWith(QString::fromUtf8("処理中： リバーブ ( データを FFT 中 ")); }))
        << window->statusLabel(1)->text().toStdString();
    EXPECT_TRUE(window->cancelButton()->isVisible());
    EXPECT_EQ(window->cancelButton()->text(), QString::fromUtf8("中止"));
    const QImage picture = window->grab().toImage();
    test::keepPicture(picture, "long_edit_running.png");
    EXPECT_FALSE(picture.isNull());
    ui.clear();
    EXPECT_FALSE(window->close());
    window->controller().command(cmd::Halve);
    window->controller().command(cmd::Undo);
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"再生／録音中は、ファイルを閉じることができません",
                                                    "再生／録音中は、ファイルを編集できません",
                                                    "再生／録音中は、ＵＮＤＯを実行できません"}));
    WaveCanvas* canvas = window->waveView(0)->canvas();
    QTest::mousePress(canvas, Qt::LeftButton, {}, {canvas->width() / 2, canvas->height() / 3});
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, {canvas->width() / 2 + 20, canvas->height() / 3});
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Error});
    EXPECT_FALSE(ws.red.exists());

    QTest::keyClick(window.get(), Qt::Key_Escape);
    release = true;
    ASSERT_TRUE(processUntil([&] { return !window->longEditRunning(); }));
    EXPECT_FALSE(window->cancelButton()->isVisible());
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()),
              sound);
    EXPECT_FALSE(ws.undoStore.hasData());
    EXPECT_EQ(mainWindowTitle(ws), title);
    EXPECT_EQ(ui.title, title);
    EXPECT_EQ(window->statusLabel(1)->text(), QString::fromUtf8("処理中： リバーブ ( 中止 )"));
    EXPECT_TRUE(window->close());
}

// Left alone, the same edit ends by itself: the sound changes, undo holds the old one, the title says so.
TEST_F(LongEditWindowTest, ReverbFinishesWhileTheEventLoopRuns)
{
    const std::vector<unsigned char> sound(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    applyReverbPreset(ws.settings, ReverbPreset::Bathroom, 44100);
    window->runLongEdit(ws, ui, cmd::Reverb, 0, -1);
    ASSERT_TRUE(processUntil([&] { return !window->longEditRunning(); }));
    EXPECT_NE(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()),
              sound);
    ASSERT_TRUE(ws.undoStore.hasData());
    EXPECT_EQ(std::vector<unsigned char>(ws.undoStore.samples.data(), ws.undoStore.samples.data() + ws.undoStore.byteCount()),
              sound);
    EXPECT_EQ(window->statusLabel(1)->text(), QString::fromUtf8("処理中： リバーブ ( 完了 )"));
    EXPECT_EQ(ui.title.substr(ui.title.size() - 6), " * 0 +");
}

} // namespace
} // namespace sonavik
