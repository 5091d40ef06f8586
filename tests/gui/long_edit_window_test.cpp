// A long edit seen from the window: it runs while the window repaints and refuses everything else,
// and Esc brings back the untouched sound.

#include "gui/main_window.h"

#include "app/main_menu.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/reverb.h"
#include "gui/buttons.h"
#include "gui/keep_picture.h"
#include "gui/spectrogram_window.h"
#include "gui/terminate_signals.h"
#include "gui/wave_view.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_analysis.h"
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
#include <chrono>
#include <cmath>
#include <csignal>
#include <new>
#include <thread>

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

    // Two workers that hold at the third block of the left channel, once reached, until released.
    static LongEditOptions holdingAtThirdLeftBlock(std::atomic<bool>& reached, std::atomic<bool>& release)
    {
        LongEditOptions options;
        options.threads = 2;
        options.onBlock = [&reached, &release](const EditRegion& region, std::int64_t block) {
            if (region.channel == 0 && block == 2) {
                reached = true;
                while (!release)
                    QThread::msleep(1);
            }
        };
        return options;
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
    LongEditOptions options = holdingAtThirdLeftBlock(reached, release);
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
    EXPECT_EQ(ui.texts(), std::vector<std::string>(3, "処理中は、この操作はできません"));
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

// While an edit runs, every command of either window is refused with the edit's own notice (playing a
// spectrogram rectangle too); a terminate signal stops the edit and the window closes as usual.
TEST_F(LongEditWindowTest, EveryCommandIsRefusedAndASignalStopsTheEdit)
{
    const std::vector<unsigned char> sound(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    ws.settings.fftLength = 256;
    window->answerFftDialog(true);
    runEditCommand(ws, ui, *window, cmd::Fft, 1, -1);
    ASSERT_TRUE(processUntil([&] { return !window->spectrogramWindows().empty() && !window->longEditRunning(); }));
    SpectrogramWindow* spectrogram = window->spectrogramWindows().front();
    int played = 0;
    window->playScratchSound = [&](const SoundDocument&) { ++played; };

    // Each block of the reverb takes a while, so that the edit is still running when the signal comes.
    applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 44100);
    ws.settings.reverbTimeStep() = 1;
    LongEditOptions options;
    options.threads = 1;
    options.onBlock = [](const EditRegion&, std::int64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(40)); };
    window->setLongEditOptions(options);
    window->runLongEdit(ws, ui, cmd::Reverb, 0, -1);
    ASSERT_TRUE(window->longEditRunning());
    ui.clear();
    const int commands[] = {cmd::New, cmd::Open, cmd::Save, cmd::SaveAs, cmd::Close, cmd::Undo, cmd::Exit,
                            cmd::PlayOnce, cmd::PlayLoop, cmd::PlayButton, cmd::PlaySettings, cmd::Halve};
    for (int id : commands)
        window->controller().command(id);
    Spectrogram& s = spectrogram->view().spectrogram();
    s.selFrameLo = 2;
    s.selFrameHi = 11;
    s.selBinLo = 0;
    s.selBinHi = 128;
    spectrogram->chooseMenuItem = [] { return 40520; };
    spectrogram->runMenu();
    spectrogram->button(40415)->click();
    EXPECT_EQ(played, 0);
    EXPECT_EQ(ui.texts(), std::vector<std::string>(std::size(commands) + 2, "処理中は、この操作はできません"));
    EXPECT_TRUE(ui.beeps.empty());
    ASSERT_TRUE(window->longEditRunning());

    closeOnTerminateSignals(window.get());
    ui.clear();
    std::raise(SIGTERM);
    EXPECT_TRUE(processUntil([&] { return !window->isVisible(); }));
    EXPECT_FALSE(window->longEditRunning());
    EXPECT_TRUE(ui.texts().empty());
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()),
              sound);
}

// FFT runs off the user-interface thread: progress and "中止" in the status bar while the window
// repaints, Esc or a failure leaves no window and nothing changed, and left alone it opens one window
// per channel with the spectra of the analysis itself.
TEST_F(LongEditWindowTest, SpectrogramAnalysisRunsAsALongEdit)
{
    const std::vector<unsigned char> sound(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    const std::string title = mainWindowTitle(ws);
    ws.settings.fftLength = 256;
    window->answerFftDialog(true);
    std::atomic<bool> reached{false};
    std::atomic<bool> release{false};
    LongEditOptions options = holdingAtThirdLeftBlock(reached, release);
    window->setLongEditOptions(options);
    runEditCommand(ws, ui, *window, cmd::Fft, 0, -1);
    ASSERT_TRUE(window->longEditRunning());
    ASSERT_TRUE(processUntil([&] { return reached.load(); }));
    EXPECT_TRUE(processUntil([&] { return window->statusLabel(1)->text().startsWith(QString::fromUtf8("処理中： FFT ( ")); }))
        << window->statusLabel(1)->text().toStdString();
    EXPECT_TRUE(window->cancelButton()->isVisible());
    EXPECT_FALSE(window->grab().toImage().isNull());
    EXPECT_TRUE(window->spectrogramWindows().empty());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    release = true;
    ASSERT_TRUE(processUntil([&] { return !window->longEditRunning(); }));
    EXPECT_TRUE(window->spectrogramWindows().empty());
    EXPECT_EQ(window->statusLabel(1)->text(), QString::fromUtf8("処理中： FFT ( 中止 )"));

    // Memory that runs out half-way through the right channel, on any of the analysis' threads: its own
    // message, and only the left channel's window.
    ui.clear();
    options.onBlock = [](const EditRegion& region, std::int64_t block) {
        if (region.channel == 1 && block >= 3)
            throw std::bad_alloc();
    };
    window->setLongEditOptions(options);
    runEditCommand(ws, ui, *window, cmd::Fft, 0, -1);
    ASSERT_TRUE(processUntil([&] { return !window->longEditRunning(); }));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Mem Not Allo!"});
    ASSERT_EQ(window->spectrogramWindows().size(), 1u);
    EXPECT_EQ(window->spectrogramWindows().front()->view().spectrogram().channel, 0);
    window->spectrogramWindows().front()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()),
              sound);
    EXPECT_FALSE(ws.undoStore.hasData());
    EXPECT_EQ(mainWindowTitle(ws), title);

    window->setLongEditOptions({});
    runEditCommand(ws, ui, *window, cmd::Fft, 0, -1);
    ASSERT_TRUE(processUntil([&] { return !window->longEditRunning(); }));
    const std::vector<SpectrogramWindow*> open = window->spectrogramWindows();
    ASSERT_EQ(open.size(), 2u);
    for (int channel = 0; channel < 2; ++channel) {
        const Spectrogram& shown = open[channel]->view().spectrogram();
        EditRegion whole;
        whole.channel = channel;
        whole.end = ws.document.frameCount - 1;
        const std::unique_ptr<Spectrogram> direct = analyseSpectrogram(ui, ws.document, whole, ws.settings, 1);
        ASSERT_NE(direct, nullptr);
        EXPECT_EQ(shown.channel, channel);
        EXPECT_TRUE(shown.spectra == direct->spectra) << channel;
        EXPECT_EQ(shown.colourBitmap, direct->colourBitmap) << channel;
    }
    EXPECT_EQ(mainWindowTitle(ws), title);
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
