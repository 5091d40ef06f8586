#include "gui/spectrogram_window.h"

#include "app/main_menu.h"
#include "document/workspace.h"
#include "gui/buttons.h"
#include "gui/dialogs/fft_dialog.h"
#include "gui/dialogs/resynthesis_dialog.h"
#include "gui/main_window.h"
#include "keep_picture.h"
#include "document/window_title.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram.h"
#include "gui/widget_test_support.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QProcess>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::whenShown;
using test::TempDir;


// A mono 16-bit tone of 1000 Hz at 8000 Hz.
test::Bytes toneWav(int frames)
{
    test::Bytes data;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * M_PI * 1000 * i / 8000.0)));
        data.push_back(static_cast<unsigned char>(v & 0xFF));
        data.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    }
    return test::canonicalWav(1, 8000, 16, data);
}

class SpectrogramWindowTest : public ::testing::Test {
protected:
    SpectrogramWindowTest()
    {
        applyDefaultSettings(ws.settings);
        setFieldText(ws.settings.saveDir, dir.path());
        window = std::make_unique<MainWindow>(ws, &ui);
        ui.setWindow(&window->qtUi());
        window->show();
        QApplication::processEvents();
        const std::string path = dir.file("tone.wav");
        test::writeBytes(path, toneWav(8000));
        ui.fileAnswers.push_back(path);
        window->controller().command(cmd::Open);
        QApplication::processEvents();
    }

    QAction* menuAction(int id)
    {
        for (QAction* top : window->menuBar()->actions())
            for (QAction* a : top->menu()->actions())
                if (a->data().toInt() == id)
                    return a;
        return nullptr;
    }

    // "変換 → FFT" on the whole left channel with n = 256, both dialogs answered OK.
    SpectrogramWindow* analyse()
    {
        ws.settings.processingTarget = 1;
        ws.settings.fftLength = 256;
        whenShown([](QWidget* target) {
            whenShown([](QWidget* fft) {
                EXPECT_EQ(fft->windowTitle(), QString::fromUtf8("FFT の方法"));
                qobject_cast<QDialog*>(fft)->accept();
            });
            qobject_cast<QDialog*>(target)->accept();
        });
        menuAction(cmd::Fft)->trigger();
        // The analysis runs on worker threads; its window opens when it is done.
        for (int i = 0; i < 20000 && window->longEditRunning(); ++i) {
            QApplication::processEvents();
            QThread::msleep(1);
        }
        const auto open = window->spectrogramWindows();
        return open.empty() ? nullptr : open.back();
    }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
};

TEST_F(SpectrogramWindowTest, TheMenuOpensAWindowWhoseButtonsZoomColourSaveAndWriteBack)
{
    SpectrogramWindow* w = analyse();
    ASSERT_NE(w, nullptr);
    const Spectrogram& s = w->view().spectrogram();
    EXPECT_EQ(s.spectrumCount, 8000 / 128 - 1);
    EXPECT_EQ(w->windowTitle().toStdString(), "[ L ] 0 ～ 7935 ＝ ( 256 ÷ 2 ) × ( 61 ＋ 1 )");
    EXPECT_EQ(w->size(), QSize(400, 400));
    EXPECT_TRUE(w->windowFlags() & Qt::Tool);
    EXPECT_EQ(w->parentWidget(), window.get());
    const int plotWidth = w->canvas()->width() - 112;
    EXPECT_DOUBLE_EQ(s.zoomX, static_cast<double>(plotWidth) / s.spectrumCount);
    EXPECT_EQ(w->button(40401)->text(), QString("K1"));
    EXPECT_EQ(w->button(40416)->geometry(), QRect(24, 7 * ((w->canvas()->height() - 64) / 8), 24, (w->canvas()->height() - 64) / 8));
    test::keepPicture(w->clientPicture(), "spectrogram_window.png");

    w->button(40401)->click();
    EXPECT_DOUBLE_EQ(s.gain, 2.0);
    w->button(40402)->click();
    EXPECT_EQ(s.logDisplay, 1);
    w->button(40405)->click();
    EXPECT_DOUBLE_EQ(s.zoomX, 2.0 * plotWidth / s.spectrumCount);
    EXPECT_GT(w->horizontalBar()->maximum(), 0);
    const double origin = s.originX;
    w->horizontalBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_GT(s.originX, origin);
    w->button(40414)->click();
    EXPECT_DOUBLE_EQ(s.originX, 0.0);
    EXPECT_DOUBLE_EQ(s.zoomX, static_cast<double>(plotWidth) / s.spectrumCount);

    // "SAVE BMP" writes the picture where the save dialog says.
    const std::string bmp = dir.file("picture");
    ui.fileAnswers.push_back(bmp);
    w->button(40408)->click();
    EXPECT_TRUE(std::filesystem::exists(bmp + ".bmp"));

    // Drag a rectangle over the tone's bin (1000 Hz = bin 32 of 129) and erase it from the menu.
    QWidget* canvas = w->canvas();
    const int h = canvas->height() - 128;
    const auto rowOf = [&](int bin) { return h - 1 - static_cast<int>((bin + 0.5) * s.zoomY); };
    const auto columnOf = [&](int frame) { return 112 + static_cast<int>((frame + 0.5) * s.zoomX); };
    QTest::mousePress(canvas, Qt::LeftButton, {}, {columnOf(0), rowOf(30)});
    QTest::mouseMove(canvas, {columnOf(s.spectrumCount - 1), rowOf(34)});
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, {columnOf(s.spectrumCount - 1), rowOf(34)});
    EXPECT_EQ(s.selFrameLo, 0);
    EXPECT_EQ(s.selFrameHi, s.spectrumCount - 1);
    EXPECT_EQ(s.selBinLo, 30);
    EXPECT_EQ(s.selBinHi, 34);
    QTest::mouseMove(canvas, {columnOf(20), rowOf(32)});
    test::keepPicture(w->clientPicture(), "spectrogram_selection.png");
    whenShown([](QWidget* popup) {
        auto* menu = qobject_cast<QMenu*>(popup);
        ASSERT_NE(menu, nullptr);
        QStringList texts;
        for (QAction* a : menu->actions())
            texts << (a->isSeparator() ? QString("-") : a->text());
        EXPECT_EQ(texts.join("|"), QString::fromUtf8("消去|大きさを２倍|大きさを半分|トリミング|キャンセル|-|選択範囲を再生|-|修復|倍音も|ピークに合わせる"));
        menu->setActiveAction(menu->actions().first());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QTest::mousePress(canvas, Qt::RightButton, {}, {columnOf(3), rowOf(32)});
    QTest::mouseRelease(canvas, Qt::RightButton, {}, {columnOf(3), rowOf(32)});
    EXPECT_EQ(s.spectra[static_cast<std::size_t>(5) * 256 + 32], 0.0f);

    // "I FFT" through its dialog writes the tone-less sound back: the document changes and says so.
    whenShown([](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("ﾀﾞｲｱﾛｸﾞ"));
        qobject_cast<QDialog*>(dialog)->accept();
    });
    w->button(40415)->click();
    // It runs on worker threads; the main window finishes it.
    for (int i = 0; i < 20000 && window->longEditRunning(); ++i) {
        QApplication::processEvents();
        QThread::msleep(1);
    }
    EXPECT_FALSE(window->longEditRunning());
    EXPECT_EQ(ws.document.modified, 1);
    EXPECT_TRUE(window->windowTitle().contains(" * 0 +")) << window->windowTitle().toStdString();
    const unsigned char* p = ws.document.samples.data() + 2 * 4000;
    EXPECT_LT(std::abs(static_cast<std::int16_t>(p[0] | (p[1] << 8))), 200);

    // Closing frees the window.
    w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->spectrogramWindows().empty());
}

// "I FFT" runs while both windows stay alive; its spectra stay as they are until it ends, and Esc brings
// back the sound, the undo store and the title as they were.
TEST_F(SpectrogramWindowTest, WriteBackRunsOffTheWindowAndEscBringsBackTheSound)
{
    SpectrogramWindow* w = analyse();
    ASSERT_NE(w, nullptr);
    const std::vector<unsigned char> sound(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    const std::string title = mainWindowTitle(ws);
    std::atomic<bool> reached{false};
    std::atomic<bool> release{false};
    LongEditOptions options;
    options.threads = 2;
    options.onBlock = [&](const EditRegion&, std::int64_t frame) {
        if (frame == 20) {
            reached = true;
            while (!release)
                QThread::msleep(1);
        }
    };
    window->setLongEditOptions(options);
    w->askResynthesisOptions = [] { return true; };
    w->button(40415)->click();
    ASSERT_TRUE(window->longEditRunning());
    for (int i = 0; i < 20000 && !reached; ++i) {
        QApplication::processEvents();
        QThread::msleep(1);
    }
    ASSERT_TRUE(reached);
    // The frames before the held one are counted: the text moves on from 0.
    for (int i = 0; i < 20000 && window->statusLabel(1)->text().endsWith(QString::fromUtf8(" 0 ％")); ++i) {
        QApplication::processEvents();
        QThread::msleep(1);
    }
    EXPECT_TRUE(window->statusLabel(1)->text().startsWith(QString::fromUtf8("処理中： 左スペクトルを 逆FFT 中 ")))
        << window->statusLabel(1)->text().toStdString();
    EXPECT_TRUE(window->cancelButton()->isVisible());
    test::keepPicture(window->grab().toImage(), "resynthesis_running.png");

    // The spectra stay: erasing is refused and the window does not close; another write-back is refused.
    ui.clear();
    Spectrogram& s = w->view().spectrogram();
    s.selFrameLo = 0;
    s.selFrameHi = 30;
    s.selBinLo = 10;
    s.selBinHi = 60;
    const SpectrumValues spectra = s.spectra;
    w->chooseMenuItem = [] { return 40501; };
    w->runMenu();
    EXPECT_EQ(w->view().spectrogram().spectra, spectra);
    EXPECT_FALSE(w->close());
    w->button(40415)->click();
    EXPECT_EQ(ui.texts(), std::vector<std::string>(2, "処理中は、この操作はできません"));

    // Esc is the main window's shortcut: it reaches it only while the window is the active one.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    release = true;
    for (int i = 0; i < 20000 && window->longEditRunning(); ++i) {
        QApplication::processEvents();
        QThread::msleep(1);
    }
    ASSERT_FALSE(window->longEditRunning());
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()),
              sound);
    EXPECT_FALSE(ws.undoStore.hasData());
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_EQ(ui.title, title);
    EXPECT_EQ(window->statusLabel(1)->text(), QString::fromUtf8("処理中： 逆FFT ( 中止 )"));
    EXPECT_TRUE(w->close());
}

TEST_F(SpectrogramWindowTest, PlayingTheSelectionHandsItsSoundToPlayback)
{
    SpectrogramWindow* w = analyse();
    ASSERT_NE(w, nullptr);
    int played = 0;
    std::int32_t frames = 0;
    window->playScratchSound = [&](const SoundDocument& sound) {
        ++played;
        frames = sound.frameCount;
    };
    Spectrogram& s = w->view().spectrogram();
    s.selFrameLo = 2;
    s.selFrameHi = 11;
    s.selBinLo = 0;
    s.selBinHi = 128;
    w->chooseMenuItem = [] { return 40520; };
    w->runMenu();
    EXPECT_EQ(played, 1);
    EXPECT_EQ(frames, 11 * 128);
    EXPECT_EQ(ws.document.modified, 0);
}

TEST_F(SpectrogramWindowTest, ScreenshotModeWritesThePictureOfTheFirstSpectrogramWindow)
{
    const std::string wav = dir.file("tone.wav");
    const std::string main = dir.file("main.png");
    const std::string spectrogram = dir.file("fft.png");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(SONAVIK_GUI_PATH, {"--screenshot", QString::fromStdString(main), QString::fromStdString(wav), "--fft",
                               QString::fromStdString(spectrogram)});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    // The stored length may be anything the settings file held; the target is always the whole left channel.
    EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8("[ L ] 0 ～ "))) << lines[1].toStdString();
    QImage image(QString::fromStdString(spectrogram));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(400, 400));
    // The status strip's face at the bottom left, a black plot corner at the top right of the client area.
    EXPECT_NE(image.pixelColor(5, image.height() - 30), QColor(Qt::black));
}

TEST_F(SpectrogramWindowTest, ScreenshotModeColoursAsTheLogAndGainButtonsDo)
{
    // The same picture with LOG, then with LOG and the gain doubled twice: the plot changes each time.
    const auto shot = [&](const QStringList& extra, int expectedExit = 0) {
        const std::string out = dir.file("fft-" + std::to_string(extra.size()) + ".png");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(SONAVIK_GUI_PATH, QStringList{"--screenshot", QString::fromStdString(dir.file("main.png")),
                                              QString::fromStdString(dir.file("tone.wav")), "--fft",
                                              QString::fromStdString(out)}
                                      + extra);
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), expectedExit) << p.readAllStandardError().toStdString();
        return QImage(QString::fromStdString(out));
    };
    const QImage plain = shot({});
    const QImage log = shot({"--log"});
    const QImage brighter = shot({"--log", "--gain", "4"});
    ASSERT_FALSE(plain.isNull());
    ASSERT_EQ(log.size(), plain.size());
    ASSERT_EQ(brighter.size(), plain.size());
    EXPECT_NE(log, plain);
    EXPECT_NE(brighter, log);
    // Only the plot changes: the status strip at the bottom left stays.
    EXPECT_EQ(log.pixelColor(5, log.height() - 30), plain.pixelColor(5, plain.height() - 30));
    shot({"--gain", "0"}, 2);
}

TEST_F(SpectrogramWindowTest, EveryButtonSaysWhatItDoes)
{
    SpectrogramWindow* w = analyse();
    ASSERT_NE(w, nullptr);
    QStringList tips;
    for (int id = 40401; id <= 40416; ++id) {
        ASSERT_NE(w->button(id), nullptr) << id;
        const QString tip = w->button(id)->toolTip();
        EXPECT_FALSE(tip.isEmpty()) << id;
        EXPECT_FALSE(tips.contains(tip)) << id << " repeats " << tip.toStdString();
        tips << tip;
    }
    EXPECT_EQ(w->button(40415)->toolTip(), QString::fromUtf8("スペクトルを音に書き戻します（I FFT）"));
}

TEST_F(SpectrogramWindowTest, FftDialogShowsTheLengthTextAndStoresEveryClick)
{
    ws.settings.fftLength = 3000;
    ws.settings.fftWindow = 9;
    ws.document.format.nSamplesPerSec = 44100;
    FftDialog dialog(ws, window.get());
    EXPECT_EQ(dialog.slider()->value(), 12);
    EXPECT_EQ(dialog.slider()->minimum(), 4);
    EXPECT_EQ(dialog.slider()->maximum(), 30);
    EXPECT_EQ(dialog.readout()->text(), QString("4096 0.0929 sec 10.7666 Hz"));
    EXPECT_TRUE(dialog.windowButton(0)->isChecked());
    EXPECT_FALSE(dialog.windowButton(4)->isEnabled());
    dialog.slider()->setValue(4);
    EXPECT_EQ(ws.settings.fftLength, 16);
    dialog.windowButton(2)->click();
    dialog.alphaBox()->click();
    dialog.reject();
    EXPECT_EQ(ws.settings.fftWindow, 2);
    EXPECT_EQ(ws.settings.fftApplyAlpha, 1);
    EXPECT_EQ(ws.settings.fftLength, 16) << "cancelling keeps what was clicked";
    test::keepPicture(dialog.grab().toImage(), "fft_dialog.png");
}

TEST_F(SpectrogramWindowTest, ResynthesisDialogKeepsAColourAndAChannelChosen)
{
    ws.settings.applyUseAlpha = 1;
    ws.settings.applyGreen = 0;
    ws.settings.applyBlue = 0;
    ws.settings.applyStart = 1234;
    ResynthesisDialog dialog(ws, ui, window.get());
    EXPECT_TRUE(dialog.blue()->isChecked());
    EXPECT_FALSE(dialog.left()->isEnabled()) << "mono sound: the left channel only";
    EXPECT_EQ(dialog.startField()->text(), QString("1234"));
    EXPECT_FALSE(dialog.startField()->isEnabled());

    dialog.useAlpha()->click();
    EXPECT_FALSE(dialog.blue()->isChecked());
    EXPECT_FALSE(dialog.green()->isChecked());
    EXPECT_TRUE(dialog.missingAsFull()->isChecked());
    EXPECT_FALSE(dialog.green()->isEnabled());
    dialog.useAlpha()->click();
    EXPECT_TRUE(dialog.blue()->isChecked());
    EXPECT_FALSE(dialog.green()->isChecked());
    dialog.blue()->click();
    EXPECT_TRUE(dialog.green()->isChecked()) << "one colour stays chosen";

    dialog.newPosition()->click();
    EXPECT_TRUE(dialog.startField()->isEnabled());
    dialog.startField()->clear();
    QTest::keyClicks(dialog.startField(), "99999999999");
    dialog.accept();
    EXPECT_EQ(ui.texts().size(), 1u) << "a start past 32 bits is refused";
    EXPECT_EQ(dialog.result(), 0);
    test::keepPicture(dialog.grab().toImage(), "resynthesis_dialog.png");
}

} // namespace
} // namespace sonavik
