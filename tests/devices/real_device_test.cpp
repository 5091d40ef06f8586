// The playback and recording engines, the main window and the command-line tool on the Qt devices, against a running PulseAudio server with a null
// sink "null", its monitor remapped as the source "null_loop", and the 440 Hz source "sine_input" (./test
// provides them). What is played into the null sink must come back from its monitor.

#include "audio/playback.h"
#include "audio/recording.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/command_ids.h"
#include "gui/buttons.h"
#include "gui/main_window.h"
#include "qtaudio/qt_wave_device.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace sonavik {
namespace {

// Runs the event loop until done() or the time is up; false on time-out.
bool waitFor(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

void runFor(int milliseconds)
{
    waitFor([] { return false; }, milliseconds);
}

template <typename List>
int indexOf(const List& devices, const char* id)
{
    for (int i = 0; i < devices.size(); ++i)
        if (devices[i].id() == QByteArray(id))
            return i;
    return -1;
}

void useDefaults(Workspace& ws)
{
    applyDefaultSettings(ws.settings);
    ws.pageSize = 4096;
}

std::vector<double> channel(const SoundDocument& doc, int c)
{
    std::vector<double> out(static_cast<std::size_t>(doc.frameCount));
    const auto* s = reinterpret_cast<const std::int16_t*>(doc.samples.data());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = s[i * doc.format.nChannels + static_cast<std::size_t>(c)];
    return out;
}

std::size_t powerOfTwoAtLeast(std::size_t n)
{
    std::size_t p = 2;
    while (p < n)
        p *= 2;
    return p;
}

// The lag at which `part` lies best inside `whole`, by cross-correlation through the FFT.
std::size_t bestLag(const std::vector<double>& whole, const std::vector<double>& part)
{
    const std::size_t n = powerOfTwoAtLeast(whole.size() + part.size());
    std::vector<double> a(n, 0.0), b(n, 0.0);
    std::copy(whole.begin(), whole.end(), a.begin());
    std::copy(part.begin(), part.end(), b.begin());
    fftForward(n, a.data());
    fftForward(n, b.data());
    std::vector<double> c(n, 0.0);
    c[0] = a[0] * b[0];
    c[n / 2] = a[n / 2] * b[n / 2];
    for (std::size_t k = 1; k < n / 2; ++k) {
        // Element n-k holds minus the imaginary part of bin k.
        const double ar = a[k], ai = -a[n - k], br = b[k], bi = -b[n - k];
        c[k] = ar * br + ai * bi;
        c[n - k] = -(ai * br - ar * bi);
    }
    fftInverse(n, c.data());
    std::size_t best = 0;
    for (std::size_t lag = 0; lag + part.size() <= whole.size(); ++lag)
        if (c[lag] > c[best])
            best = lag;
    return best;
}

double normalisedCorrelation(const std::vector<double>& whole, std::size_t lag, const std::vector<double>& part)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const double a = whole[lag + i], b = part[i];
        ab += a * b;
        aa += a * a;
        bb += b * b;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

class RealDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        playIndex_ = indexOf(QMediaDevices::audioOutputs(), "null");
        loopIndex_ = indexOf(QMediaDevices::audioInputs(), "null_loop");
        sineIndex_ = indexOf(QMediaDevices::audioInputs(), "sine_input");
        ASSERT_GE(playIndex_, 0) << "no sink \"null\": run the tests through ./test, which starts PulseAudio";
        ASSERT_GE(loopIndex_, 0) << "no source \"null_loop\"";
        ASSERT_GE(sineIndex_, 0) << "no source \"sine_input\"";
    }

    int playIndex_ = -1;
    int loopIndex_ = -1;
    int sineIndex_ = -1;
};

TEST_F(RealDevices, WhatIsPlayedComesBackFromTheMonitorWholeAndInOrder)
{
    // Half a second of noise, different in the two channels, at the null sink's own format.
    constexpr int kFrames = 22050;
    Workspace playWs;
    useDefaults(playWs);
    SoundDocument& doc = playWs.document;
    doc.format = {1, 2, 44100, 176400, 4, 16, 0};
    doc.frameCount = kFrames;
    doc.samples = SampleBuffer::allocate(kFrames * 4);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-12000, 12000);
    auto* samples = reinterpret_cast<std::int16_t*>(doc.samples.data());
    for (int i = 0; i < kFrames * 2; ++i)
        samples[i] = static_cast<std::int16_t>(noise(random));
    playWs.settings.playUseMapper = 0;
    playWs.settings.playDeviceIndex = playIndex_;
    playWs.loopMode = 0;

    Workspace recordWs;
    useDefaults(recordWs);
    Settings& rs = recordWs.settings;
    rs.recordUseMapper = 0;
    rs.recordDeviceIndex = loopIndex_;
    rs.recordChannels = 2;
    rs.recordBits = 16;
    rs.recordRateIndex = 3;
    rs.recordSeconds = 10;
    rs.recordPackets = 1;

    test::ScriptedUi playUi, recordUi;
    QtWaveOut out;
    QtWaveIn in;
    Player player(playWs, playUi, out);
    Recorder recorder(recordWs, recordUi, in);
    bool played = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.standby = [&] {
        ASSERT_TRUE(recorder.openLevelPicture(128, 64));
        recorder.toggleCapturing();
        runFor(300);
        player.playOrStop();
        ASSERT_EQ(playWs.playing, 1) << ::testing::PrintToString(playUi.texts());
        // The engine ends playback by itself once the last buffer has been played.
        played = waitFor([&] { return playWs.playing == 0; }, 15000);
        runFor(400);
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();

    EXPECT_TRUE(played);
    EXPECT_TRUE(playUi.messages.empty()) << ::testing::PrintToString(playUi.texts());
    EXPECT_TRUE(recordUi.messages.empty()) << ::testing::PrintToString(recordUi.texts());
    EXPECT_FALSE(out.isOpen());
    const SoundDocument& recorded = recordWs.document;
    ASSERT_TRUE(recorded.hasData());
    EXPECT_EQ(recorded.format.nChannels, 2);
    EXPECT_EQ(recorded.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(recorded.path, "New Data(1).wav");
    ASSERT_GT(recorded.frameCount, kFrames);

    for (int c = 0; c < 2; ++c) {
        const std::vector<double> sent = channel(doc, c);
        const std::vector<double> got = channel(recorded, c);
        const std::size_t lag = bestLag(got, sent);
        // All of it came back: the whole sound fits inside the recording at the lag found.
        ASSERT_LE(lag + sent.size(), got.size());
        EXPECT_GT(normalisedCorrelation(got, lag, sent), 0.95) << "channel " << c << " lag " << lag;
        // The other channel's noise does not match: left and right arrive in their own places.
        EXPECT_LT(std::abs(normalisedCorrelation(got, lag, channel(doc, 1 - c))), 0.2);
    }
}

TEST_F(RealDevices, OneSecondFromTheSineSourceIsANewSoundWithItsPeakAt440Hz)
{
    Workspace ws;
    useDefaults(ws);
    Settings& s = ws.settings;
    s.recordUseMapper = 0;
    s.recordDeviceIndex = sineIndex_;
    s.recordChannels = 1;
    s.recordBits = 16;
    s.recordRateIndex = 3;
    s.recordSeconds = 1;
    s.recordPackets = 4;
    test::ScriptedUi ui;
    QtWaveIn in;
    Recorder recorder(ws, ui, in);
    bool full = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.standby = [&] {
        ASSERT_TRUE(recorder.openLevelPicture(128, 64));
        recorder.toggleCapturing();
        // Storing stops by itself when the next packet would not fit into one second.
        full = waitFor([&] { return ws.capturing == 0; }, 15000);
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();

    EXPECT_TRUE(full);
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
    const SoundDocument& doc = ws.document;
    ASSERT_TRUE(doc.hasData());
    EXPECT_EQ(doc.format.nChannels, 1);
    EXPECT_EQ(doc.format.wBitsPerSample, 16);
    EXPECT_EQ(doc.format.nSamplesPerSec, 44100u);
    // 88200 bytes a second hold five packets of 16384 bytes.
    EXPECT_EQ(doc.frameCount, 5 * 16384 / 2);

    constexpr std::size_t n = 32768;
    ASSERT_GE(static_cast<std::size_t>(doc.frameCount), n);
    std::vector<double> x = channel(doc, 0);
    x.resize(n);
    double energy = 0;
    for (double v : x)
        energy += v * v;
    ASSERT_GT(energy, 0.0) << "the recording is silent";
    fftForward(n, x.data());
    std::size_t peak = 1;
    double peakPower = 0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double power = x[k] * x[k] + x[n - k] * x[n - k];
        if (power > peakPower) {
            peakPower = power;
            peak = k;
        }
    }
    EXPECT_NEAR(static_cast<double>(peak) * 44100.0 / n, 440.0, 2.0);
}

// Play and stop pressed in quick succession, looping and not, with the returned-buffer notifications of
// each stop still queued when the next playback opens the device again. Every round starts and stops
// cleanly, and the device ends closed.
TEST_F(RealDevices, PlayAndStopInQuickSuccessionLeaveTheDeviceClosed)
{
    Workspace ws;
    useDefaults(ws);
    SoundDocument& doc = ws.document;
    doc.format = {1, 1, 22050, 44100, 2, 16, 0};
    doc.frameCount = 2205;  // 0.1 s
    doc.samples = SampleBuffer::allocate(2205 * 2);
    ws.settings.playUseMapper = 0;
    ws.settings.playDeviceIndex = playIndex_;
    test::ScriptedUi ui;
    QtWaveOut out;
    Player player(ws, ui, out);
    for (int round = 0; round < 24; ++round) {
        ws.loopMode = round % 2;
        player.playOrStop();
        ASSERT_EQ(ws.playing, 1) << "round " << round << ": " << ::testing::PrintToString(ui.texts());
        runFor(round % 4 * 5);
        if (ws.playing == 1)
            player.playOrStop();
        EXPECT_EQ(ws.playing, 0) << "round " << round;
        EXPECT_FALSE(out.isOpen()) << "round " << round;
    }
    runFor(50);
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
}

// The owner may reset and close the device from inside a done notification (the player does at the end
// of a sound); that clears the callable that is running, which must still be whole when it goes on.
TEST_F(RealDevices, AnOwnerMayCloseTheOutputFromInsideItsDoneNotification)
{
    QtWaveOut out;
    const WaveDeviceFormat format{1, 1, 22050, 44100, 2, 16};
    std::vector<unsigned char> bytes(882, 0);  // 20 ms of silence
    WaveBuffer buffer;
    buffer.data = bytes.data();
    buffer.bufferLength = static_cast<std::uint32_t>(bytes.size());
    // Too large to be kept inside the std::function itself: it lives on the heap with the callable.
    const std::string words(200, 'w');
    std::string heard;
    int closed = -1;
    auto onDone = [&, words](WaveBuffer*) {
        closed = out.close();
        heard = words;
    };
    ASSERT_EQ(out.open(playIndex_, format, onDone, [](int) {}), mm::NoError);
    ASSERT_EQ(out.prepare(buffer), mm::NoError);
    ASSERT_EQ(out.write(buffer), mm::NoError);
    EXPECT_TRUE(waitFor([&] { return closed != -1; }, 15000));
    EXPECT_EQ(closed, mm::NoError);
    EXPECT_EQ(heard, words);
    EXPECT_FALSE(out.isOpen());
}

TEST_F(RealDevices, FormatsTheDevicesCannotCarryAreRefusedWithTheFormatCode)
{
    QtWaveOut out;
    QtWaveIn in;
    struct Case {
        WaveDeviceFormat format;
        int code;
    };
    const Case cases[] = {
        {{1, 1, 8000, 8000, 1, 8}, mm::NoError},
        {{1, 2, 48000, 192000, 4, 16}, mm::NoError},
        {{1, 3, 44100, 264600, 6, 16}, mm::BadFormat},
        {{1, 1, 44100, 132300, 3, 24}, mm::BadFormat},
        {{3, 1, 44100, 176400, 4, 32}, mm::BadFormat},
        {{1, 1, 1, 2, 2, 16}, mm::BadFormat},
        {{1, 2, 44100, 88200, 2, 16}, mm::BadFormat},  // block size of a mono sound
    };
    for (const Case& c : cases) {
        EXPECT_EQ(in.queryFormat(kWaveMapper, c.format), c.code) << c.format.channels << "/" << c.format.bitsPerSample;
        const int opened = out.open(kWaveMapper, c.format, [](WaveBuffer*) {}, [](int) {});
        EXPECT_EQ(opened, c.code);
        if (opened == mm::NoError) {
            EXPECT_EQ(out.close(), mm::NoError);
        }
    }
    EXPECT_EQ(in.queryFormat(999, cases[0].format), mm::BadDeviceId);
    WaveDeviceCaps caps;
    ASSERT_EQ(out.capabilities(kWaveMapper, caps), mm::NoError);
    EXPECT_EQ(caps.support, kCapsVolume);
    std::uint32_t pitch = 0;
    EXPECT_EQ(out.getPitch(pitch), mm::NotSupported);
}


TEST_F(RealDevices, CommandLineRecordsTheDefaultInputAndPlaysTheFileBack)
{
    test::TempDir dir;
    const std::string out = dir.file("take.wav");
    struct Run {
        QStringList args;
        int status;
    };
    const Run runs[] = {
        {{"record", QString::fromStdString(out), "--seconds", "1", "--channels", "1", "--rate", "22050"}, 0},
        {{"play", QString::fromStdString(out), "--red", "L:100:4099"}, 0},
        {{"play", QString::fromStdString(out), "--loop", "0.3"}, 0},
        {{"play", QString::fromStdString(out), "--red", "L:50:50"}, 1},
        {{"play", QString::fromStdString(dir.file("missing.wav"))}, 1},
        {{"record", QString::fromStdString(out), "--seconds", "0"}, 2},
        {{"record", QString::fromStdString(out), "--seconds", "1", "--bits", "24"}, 2},
    };
    for (const Run& r : runs) {
        QProcess cli;
        cli.start(SONAVIK_CLI_PATH, r.args);
        ASSERT_TRUE(cli.waitForFinished(60000)) << r.args.join(' ').toStdString();
        // After a crash exitCode() is the signal's number, which may equal an expected status.
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit) << r.args.join(' ').toStdString();
        EXPECT_EQ(cli.exitCode(), r.status) << r.args.join(' ').toStdString() << "\n"
                                            << cli.readAllStandardError().toStdString();
    }
    // One second of 16-bit mono at 22050 Hz is 44100 bytes: two whole packets of 4 pages fit, after the
    // canonical header.
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), 44 + 2 * 4 * 4096);
}

// The tool quits right after closing its stream, while the sound server may still be answering that
// close. With the server's client thread slowed down (as on a loaded machine) that happens on nearly
// every run; each command must still end normally with its status.
TEST_F(RealDevices, CommandLineQuitsCleanlyWhileTheServerStillAnswers)
{
    test::TempDir dir;
    const QString take = QString::fromStdString(dir.file("take.wav"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", SONAVIK_SLOW_AUDIO_THREAD);
    env.insert("SONAVIK_LINGER_US", "50000");
    // A sanitizer build refuses to start with a library loaded ahead of its runtime otherwise.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    const QStringList runs[] = {
        {"record", take, "--seconds", "1", "--channels", "1", "--rate", "22050"},
        {"play", take, "--loop", "0.05"},
        {"play", take, "--red", "L:0:2000"},
        {"play", take, "--loop", "0.2"},
    };
    for (const QStringList& args : runs) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(SONAVIK_CLI_PATH, args);
        ASSERT_TRUE(cli.waitForFinished(60000)) << args.join(' ').toStdString();
        const std::string errors = cli.readAllStandardError().toStdString();
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit)
            << args.join(' ').toStdString() << ": killed by signal " << cli.exitCode() << "\n" << errors;
        if (cli.exitStatus() == QProcess::NormalExit) {
            EXPECT_EQ(cli.exitCode(), 0) << args.join(' ').toStdString() << "\n" << errors;
        }
    }
}

TEST_F(RealDevices, ThePlayLineMovesAcrossTheWindowWhileTheSoundIsHeard)
{
    Workspace ws;
    useDefaults(ws);
    ws.settings.playUseMapper = 0;
    ws.settings.playDeviceIndex = playIndex_;
    test::ScriptedUi ui;
    test::TempDir dir;
    const std::string path = dir.file("tone.wav");
    test::writeBytes(path, test::rampWav16(2, 44100));
    MainWindow window(ws, &ui);
    ui.setWindow(&window.qtUi());
    window.resize(800, 400);
    window.show();
    window.controller().openPath(path);
    ASSERT_TRUE(ws.document.hasData());

    window.controller().command(cmd::PlayOnce);
    ASSERT_EQ(ws.playing, 1) << ::testing::PrintToString(ui.texts());
    EXPECT_EQ(window.bigButton(2)->label(), QString::fromUtf8("停止"));
    std::vector<std::int64_t> seen;
    EXPECT_TRUE(waitFor(
        [&] {
            seen.push_back(window.views().playPosition());
            return ws.playing == 0;
        },
        15000));
    EXPECT_EQ(window.bigButton(2)->label(), QString::fromUtf8("再生"));
    EXPECT_EQ(window.views().playPosition(), -1);
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
    // The line only moves forward, and gets well into the second half of the sound.
    std::int64_t last = -1, furthest = -1;
    bool forward = true;
    for (std::int64_t p : seen) {
        if (p < 0)
            continue;
        forward = forward && p >= last;
        last = p;
        furthest = std::max(furthest, p);
    }
    EXPECT_TRUE(forward);
    EXPECT_GT(furthest, 22050);
}

TEST_F(RealDevices, NewRecordsFromTheDefaultInputThroughBothDialogsIntoNewData1)
{
    Workspace ws;
    useDefaults(ws);
    ws.settings.recordUseMapper = 1;
    ws.settings.recordChannels = 1;
    ws.settings.recordSeconds = 1;
    test::ScriptedUi ui;
    MainWindow window(ws, &ui);
    ui.setWindow(&window.qtUi());
    window.resize(800, 400);
    window.show();

    // The two dialogs are modal: they are answered from the event loop they run.
    std::vector<std::string> seen;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (modal->objectName() == "record") {
            seen.push_back("record");
            QMetaObject::invokeMethod(modal, "accept");
        } else if (modal->objectName() == "standby") {
            auto* storing = modal->findChild<QPushButton*>("1107");
            if (storing && storing->text() == QString::fromUtf8("録音開始") && (seen.empty() || seen.back() != "standby")) {
                seen.push_back("standby");
                storing->click();
            } else if (ws.capturing == 0) {
                // One second is stored: storing stopped by itself.
                modal->findChild<QPushButton*>("1101")->click();
            }
        }
    });
    driver.start();
    window.controller().command(cmd::New);
    driver.stop();

    EXPECT_EQ(seen, (std::vector<std::string>{"record", "standby"}));
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_EQ(ws.document.path, "New Data(1).wav");
    EXPECT_EQ(ws.document.format.nChannels, 1);
    EXPECT_EQ(ws.document.frameCount, 5 * 16384 / 2);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Sonavik 2 - \"New Data(1).wav\" * 0 -"));
    EXPECT_NE(window.bigButton(2)->look(), BigButtonLook::Disabled);
}

} // namespace
} // namespace sonavik

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int status = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    // As the programs do: the last test's stream may still be answered by the server while Qt's audio
    // teardown at exit runs without its client thread's lock.
    sonavik::exitWithoutAudioTeardown(status);
}
