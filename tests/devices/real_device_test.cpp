// The playback and recording engines, the main window and the command-line tool on the sound server's
// devices, against a running PulseAudio server with a null sink "null" (its monitor "null.monitor" hears
// every byte played into it, once and in order) and the 440 Hz source "sine_input"; ./test provides them.
// Sound that arrives is checked whole: every frame, in order.

#include "audio/playback.h"
#include "audio/recording.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "gui/buttons.h"
#include "gui/main_window.h"
#include "pulse/pulse_wave_device.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"
#include "document/wav_file.h"
#include "edit/edit_test_support.h"
#include "edit/parameter_rules.h"
#include "edit/preview_render.h"
#include "edit/reverb.h"
#include "edit/spectral_test_support.h"
#include "app/file_flows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
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
        QThread::msleep(1);
    }
    return true;
}

void runFor(int milliseconds)
{
    waitFor([] { return false; }, milliseconds);
}

// The program's user-interface thread stops answering for a while (a busy machine, a slow disk).
void stall(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

PostToUi postToQt()
{
    return [](std::function<void()> task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); };
}

int deviceNumber(bool sinks, const std::string& name)
{
    const auto lists = listPulseDevices();
    return lists ? pulseDeviceNumber(sinks ? lists->sinks : lists->sources, name) : -1;
}

std::string pactl(const QStringList& args)
{
    QProcess p;
    p.start("pactl", args);
    p.waitForFinished(10000);
    return p.readAllStandardOutput().trimmed().toStdString();
}

void useDefaults(Workspace& ws)
{
    applyDefaultSettings(ws.settings);
    ws.pageSize = 4096;
}

// Default settings recording 16 bits at 44100 Hz from device source.
void recordFrom(Workspace& ws, int source, int channels, int seconds, int packets)
{
    useDefaults(ws);
    Settings& s = ws.settings;
    s.recordUseMapper = 0;
    s.recordDeviceIndex = source;
    s.recordChannels = channels;
    s.recordBits = 16;
    s.recordRateIndex = 3;
    s.recordSeconds = seconds;
    s.recordPackets = packets;
}

// Stereo 16-bit noise at 44100 Hz, different in the two channels and never all zero in a frame.
void makeNoise(SoundDocument& doc, int frames, unsigned seed)
{
    doc.format = {1, 2, 44100, 176400, 4, 16, 0};
    doc.frameCount = frames;
    doc.samples = SampleBuffer::allocate(static_cast<std::size_t>(frames) * 4);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12000, 12000);
    auto* samples = reinterpret_cast<std::int16_t*>(doc.samples.data());
    for (int i = 0; i < frames * 2; ++i)
        samples[i] = static_cast<std::int16_t>(noise(random) | 1);
}

const std::uint32_t* framesOf(const SoundDocument& doc) { return reinterpret_cast<const std::uint32_t*>(doc.samples.data()); }

// How many of sent's frames stand in recorded as one run, in order, from where its first frames are
// found; the whole of sent when it came back bit for bit.
int framesBackInOrder(const SoundDocument& recorded, const SoundDocument& sent)
{
    const std::uint32_t* got = framesOf(recorded);
    const std::uint32_t* want = framesOf(sent);
    const int n = recorded.frameCount;
    for (int at = 0; at + 4 <= n; ++at) {
        if (std::memcmp(got + at, want, 16) != 0)
            continue;
        int same = 0;
        while (same < sent.frameCount && at + same < n && got[at + same] == want[same])
            ++same;
        return same;
    }
    return 0;
}

// The largest departure of a mono 16-bit recording from the sine recurrence x[n] = 2cos(w)x[n-1] - x[n-2]
// of a 440 Hz tone: a few units where the sine runs on, hundreds or more at a splice.
double largestSpliceError(const SoundDocument& doc)
{
    const auto* x = reinterpret_cast<const std::int16_t*>(doc.samples.data());
    const double c = 2.0 * std::cos(2.0 * M_PI * 440.0 / doc.format.nSamplesPerSec);
    double worst = 0;
    for (int i = 2; i < doc.frameCount; ++i)
        worst = std::max(worst, std::abs(x[i] - c * x[i - 1] + x[i - 2]));
    return worst;
}

class RealDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        playIndex_ = deviceNumber(true, "null");
        monitorIndex_ = deviceNumber(false, "null.monitor");
        sineIndex_ = deviceNumber(false, "sine_input");
        ASSERT_GE(playIndex_, 0) << "no sink \"null\": run the tests through ./test, which starts PulseAudio";
        ASSERT_GE(monitorIndex_, 0) << "no source \"null.monitor\"";
        ASSERT_GE(sineIndex_, 0) << "no source \"sine_input\"";
    }

    // Records from source, storing from the start, while during() runs inside the standby; the recording
    // goes on for settle milliseconds after it. Every message of the recording lands in ui.
    void recordWhile(Workspace& ws, test::ScriptedUi& ui, int source, const std::function<void()>& during, int settle = 400,
                     std::int32_t rate = 44100)
    {
        recordFrom(ws, source, 2, 60, 1);
        if (rate != 44100) {
            ws.settings.recordRateIndex = 5;
            ws.settings.recordCustomRate = rate;
            // Packets of about 20 ms, as at 44100 Hz: the window's thread keeps up with them.
            ws.settings.recordPackets = static_cast<std::int32_t>(rate / 44100 + 1);
        }
        PulseWaveIn in(postToQt());
        Recorder recorder(ws, ui, in);
        recorder.hooks.settingsDialog = [] { return true; };
        recorder.hooks.standby = [&] {
            ASSERT_TRUE(recorder.openLevelPicture(128, 64));
            recorder.toggleCapturing();
            runFor(200);
            during();
            runFor(settle);
            recorder.stopCapturing();
        };
        recorder.recordNewDocument();
        EXPECT_EQ(recorder.lostWhileStoring(), 0u);
    }

    int playIndex_ = -1;
    int monitorIndex_ = -1;
    int sineIndex_ = -1;
};

// What is played comes back from the sink's monitor bit for bit, to its last frame, with the default
// packets and with large ones through a stall of the program longer than a second.
TEST_F(RealDevices, WhatIsPlayedComesBackWholeAndInOrderToItsLastFrameThroughAStall)
{
    struct Case {
        int packets;
        int stallMs;
    };
    for (const Case c : {Case{2, 0}, Case{64, 1500}}) {
        Workspace playWs;
        useDefaults(playWs);
        makeNoise(playWs.document, 44100 * 3, 7 + c.packets);
        playWs.settings.playUseMapper = 0;
        playWs.settings.playDeviceIndex = playIndex_;
        playWs.settings.playPackets = c.packets;
        playWs.loopMode = 0;
        test::ScriptedUi playUi, recordUi;
        PulseWaveOut out(postToQt());
        Player player(playWs, playUi, out);
        bool played = false;
        Workspace recordWs;
        recordWhile(recordWs, recordUi, monitorIndex_, [&] {
            player.playOrStop();
            ASSERT_EQ(playWs.playing, 1) << ::testing::PrintToString(playUi.texts());
            runFor(500);
            stall(c.stallMs);
            // The engine ends playback by itself once the server has played the last frame.
            played = waitFor([&] { return playWs.playing == 0; }, 20000);
        });
        EXPECT_TRUE(played);
        EXPECT_TRUE(playUi.messages.empty()) << ::testing::PrintToString(playUi.texts());
        EXPECT_TRUE(recordUi.messages.empty()) << ::testing::PrintToString(recordUi.texts());
        EXPECT_FALSE(out.isOpen());
        ASSERT_TRUE(recordWs.document.hasData());
        EXPECT_EQ(recordWs.document.path, "New Data(1).wav");
        EXPECT_EQ(framesBackInOrder(recordWs.document, playWs.document), playWs.document.frameCount)
            << c.packets << "-page packets, a stall of " << c.stallMs << " ms";
    }
}

// A ring larger than the server's queue for a stream (4 MiB): the stream is handed only what the server
// asks for, and every frame comes back from the monitor. 192000 Hz stereo fills 4 MiB in 5.5 s.
TEST_F(RealDevices, ARingLargerThanTheServersQueueComesBackWhole)
{
    const std::string module = pactl({"load-module", "module-null-sink", "sink_name=fast_null", "rate=192000", "norewinds=1"});
    ASSERT_FALSE(module.empty());
    const int sink = deviceNumber(true, "fast_null");
    const int monitor = deviceNumber(false, "fast_null.monitor");
    ASSERT_GE(sink, 0);
    ASSERT_GE(monitor, 0);
    Workspace playWs;
    useDefaults(playWs);
    makeNoise(playWs.document, 192000 * 7, 16);
    playWs.document.format = {1, 2, 192000, 768000, 4, 16, 0};
    playWs.settings.playUseMapper = 0;
    playWs.settings.playDeviceIndex = sink;
    // Ten buffers of 512 KiB.
    playWs.settings.playPackets = 128;
    playWs.loopMode = 0;
    test::ScriptedUi playUi, recordUi;
    PulseWaveOut out(postToQt());
    Player player(playWs, playUi, out);
    bool played = false;
    Workspace recordWs;
    recordWhile(recordWs, recordUi, monitor, [&] {
        player.playOrStop();
        ASSERT_EQ(playWs.playing, 1) << ::testing::PrintToString(playUi.texts());
        played = waitFor([&] { return playWs.playing == 0; }, 30000);
    }, 400, 192000);
    pactl({"unload-module", QString::fromStdString(module)});
    EXPECT_TRUE(played);
    EXPECT_TRUE(playUi.messages.empty()) << ::testing::PrintToString(playUi.texts());
    EXPECT_TRUE(recordUi.messages.empty()) << ::testing::PrintToString(recordUi.texts());
    ASSERT_TRUE(recordWs.document.hasData());
    EXPECT_EQ(framesBackInOrder(recordWs.document, playWs.document), playWs.document.frameCount);
}

// The settings' separate left and right volumes and playback rate act on the stream: a silenced right
// channel arrives silent while the left stays bit for bit, and half the rate takes twice the frames.
TEST_F(RealDevices, VolumesPerChannelAndThePlaybackRateReachTheSound)
{
    struct Case {
        std::uint16_t right;
        std::uint32_t rate;
    };
    for (const Case c : {Case{0, 0x10000}, Case{0xFFFF, 0x8000}}) {
        Workspace playWs;
        useDefaults(playWs);
        makeNoise(playWs.document, 22050, 21);
        Settings& ps = playWs.settings;
        ps.playUseMapper = 0;
        ps.playDeviceIndex = playIndex_;
        ps.playUseDeviceSettings = 0;
        ps.playVolumeLeft = 0xFFFF;
        ps.playVolumeRight = c.right;
        ps.playRate = c.rate;
        playWs.loopMode = 0;
        test::ScriptedUi playUi, recordUi;
        PulseWaveOut out(postToQt());
        Player player(playWs, playUi, out);
        Workspace recordWs;
        recordWhile(recordWs, recordUi, monitorIndex_, [&] {
            player.playOrStop();
            ASSERT_EQ(playWs.playing, 1) << ::testing::PrintToString(playUi.texts());
            EXPECT_TRUE(waitFor([&] { return playWs.playing == 0; }, 20000));
        });
        EXPECT_TRUE(playUi.messages.empty()) << ::testing::PrintToString(playUi.texts());
        const SoundDocument& got = recordWs.document;
        ASSERT_TRUE(got.hasData());
        const auto* g = reinterpret_cast<const std::int16_t*>(got.samples.data());
        const auto* w = reinterpret_cast<const std::int16_t*>(playWs.document.samples.data());
        // The span between the first and the last frame that is not silent.
        int first = -1, last = -1;
        for (int i = 0; i < got.frameCount; ++i) {
            if (g[2 * i] != 0 || g[2 * i + 1] != 0) {
                last = i;
                if (first < 0)
                    first = i;
            }
        }
        ASSERT_GE(first, 0);
        if (c.rate == 0x10000) {
            ASSERT_EQ(last - first + 1, 22050);
            int leftSame = 0, rightSilent = 0;
            for (int i = 0; i < 22050; ++i) {
                leftSame += g[2 * (first + i)] == w[2 * i];
                rightSilent += g[2 * (first + i) + 1] == 0;
            }
            EXPECT_EQ(leftSame, 22050);
            EXPECT_EQ(rightSilent, 22050);
        } else {
            EXPECT_NEAR(last - first + 1, 44100, 441);
        }
    }
}

// Five seconds from the sine source, with the program stalled for 1.5 s in the middle: the tone runs on
// without a splice and every packet asked for is there.
TEST_F(RealDevices, RecordingFromTheSineSourceKeepsEveryFrameThroughAStall)
{
    Workspace ws;
    recordFrom(ws, sineIndex_, 1, 5, 4);
    test::ScriptedUi ui;
    PulseWaveIn in(postToQt());
    Recorder recorder(ws, ui, in);
    bool full = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.standby = [&] {
        ASSERT_TRUE(recorder.openLevelPicture(128, 64));
        recorder.toggleCapturing();
        runFor(1500);
        stall(1500);
        // Storing stops by itself when the next packet would not fit into five seconds.
        full = waitFor([&] { return ws.capturing == 0; }, 20000);
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();

    EXPECT_TRUE(full);
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
    EXPECT_EQ(in.lostBytes(), 0u);
    const SoundDocument& doc = ws.document;
    ASSERT_TRUE(doc.hasData());
    // 441000 bytes hold 26 packets of 16384 bytes.
    EXPECT_EQ(doc.frameCount, 26 * 16384 / 2);
    EXPECT_LT(largestSpliceError(doc), 8.0);
}

// With room for 64 KiB held and the window's thread stalled for a second, the sine runs on through the
// one queued buffer and exactly those 64 KiB; what came after, until buffers were queued again, is
// counted lost.
TEST_F(RealDevices, TheInputHoldsExactlyItsLimitAndCountsWhatIsOver)
{
    constexpr std::uint32_t kBuffer = 16384;
    constexpr std::size_t kHeld = 65536;
    PulseWaveIn in(postToQt());
    in.setHeldLimit(kHeld);
    std::vector<std::vector<unsigned char>> bytes(8, std::vector<unsigned char>(kBuffer));
    std::vector<WaveBuffer> buffers(8);
    std::vector<unsigned char> got;
    bool taking = true;
    const auto queue = [&](WaveBuffer& b) {
        b.bufferLength = kBuffer;
        ASSERT_EQ(in.prepare(b), mm::NoError);
        ASSERT_EQ(in.addBuffer(b), mm::NoError);
    };
    const WaveDeviceFormat mono{1, 1, 44100, 88200, 2, 16};
    ASSERT_EQ(in.open(sineIndex_, mono, [&](WaveBuffer* b) {
        got.insert(got.end(), b->data, b->data + b->bytesRecorded);
        if (taking)
            queue(*b);
    }, [](int) {}), mm::NoError);
    for (std::size_t i = 0; i < buffers.size(); ++i)
        buffers[i].data = bytes[i].data();
    queue(buffers[0]);
    ASSERT_EQ(in.start(), mm::NoError);
    stall(1000);
    for (std::size_t i = 1; i < buffers.size(); ++i)
        queue(buffers[i]);
    // The sine source hands its sound over in bursts: long enough for more to come after the loss.
    ASSERT_TRUE(waitFor([&] { return got.size() > kBuffer + kHeld + 2 * kBuffer; }, 10000)) << got.size();
    taking = false;
    EXPECT_EQ(in.reset(), mm::NoError);
    runFor(50);
    EXPECT_EQ(in.close(), mm::NoError);
    EXPECT_GT(in.lostBytes(), 0u);

    SoundDocument doc;
    doc.format = {1, 1, 44100, 88200, 2, 16, 0};
    doc.frameCount = static_cast<std::int32_t>(got.size() / 2);
    ASSERT_GT(doc.frameCount, static_cast<std::int32_t>((kBuffer + kHeld) / 2));
    doc.samples = SampleBuffer::allocate(got.size());
    std::memcpy(doc.samples.data(), got.data(), got.size());
    // The first frame that does not run on from the two before it.
    const auto* x = reinterpret_cast<const std::int16_t*>(doc.samples.data());
    const double c = 2.0 * std::cos(2.0 * M_PI * 440.0 / 44100);
    std::int32_t splice = -1;
    for (std::int32_t i = 2; i < doc.frameCount && splice < 0; ++i)
        if (std::abs(x[i] - c * x[i - 1] + x[i - 2]) > 100)
            splice = i;
    EXPECT_EQ(splice, static_cast<std::int32_t>((kBuffer + kHeld) / 2));
}

// "Use the audio mapper" is the server's default at the time of opening, following pactl.
TEST_F(RealDevices, TheDefaultSinkAndSourceFollowTheServer)
{
    const std::string oldSink = pactl({"get-default-sink"});
    const std::string oldSource = pactl({"get-default-source"});
    const std::string module = pactl({"load-module", "module-null-sink", "sink_name=second_null"});
    ASSERT_FALSE(module.empty());
    const WaveDeviceFormat format{1, 2, 44100, 176400, 4, 16};
    PulseWaveOut out(postToQt());
    PulseWaveIn in(postToQt());
    for (const char* sink : {"second_null", "null"}) {
        pactl({"set-default-sink", sink});
        ASSERT_EQ(out.open(kWaveMapper, format, [](WaveBuffer*) {}, [](int) {}), mm::NoError);
        EXPECT_EQ(out.sinkName(), sink);
        WaveDeviceCaps caps;
        ASSERT_EQ(out.capabilities(kWaveMapper, caps), mm::NoError);
        EXPECT_EQ(caps.support, kCapsVolume | kCapsLrVolume | kCapsPlaybackRate);
        EXPECT_EQ(out.close(), mm::NoError);
    }
    for (const char* source : {"null.monitor", "sine_input"}) {
        pactl({"set-default-source", source});
        ASSERT_EQ(in.open(kWaveMapper, format, [](WaveBuffer*) {}, [](int) {}), mm::NoError);
        ASSERT_EQ(in.start(), mm::NoError);
        EXPECT_EQ(in.sourceName(), source);
        EXPECT_EQ(in.reset(), mm::NoError);
        EXPECT_EQ(in.close(), mm::NoError);
    }
    pactl({"set-default-sink", QString::fromStdString(oldSink)});
    pactl({"set-default-source", QString::fromStdString(oldSource)});
    pactl({"unload-module", QString::fromStdString(module)});
}

// A private server of the test's own: killed while a loop plays, then started again.
class PrivateServer {
public:
    PrivateServer() : socket_(dir_.path() + "pulse/native")
    {
        saved_ = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    }
    ~PrivateServer()
    {
        stop();
        if (saved_.empty())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", saved_.c_str(), 1);
    }
    bool start()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.path()));
        env.insert("HOME", QString::fromStdString(dir_.path()));
        env.remove("PULSE_SERVER");
        p.setProcessEnvironment(env);
        p.start("pulseaudio", {"-D", "--exit-idle-time=-1", "--system=false", "--disallow-exit", "-n",
                               "--load=module-null-sink sink_name=private_null", "--load=module-native-protocol-unix"});
        p.waitForFinished(20000);
        return waitUntil([] { return deviceNumber(true, "private_null") >= 0; });
    }
    void stop()
    {
        std::ifstream pidFile(dir_.path() + "pulse/pid");
        pid_t pid = 0;
        if (pidFile >> pid && pid > 0) {
            kill(pid, SIGKILL);
            waitUntil([pid] { return kill(pid, 0) != 0; });
        }
    }

private:
    static bool waitUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 200; ++i) {
            if (done())
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    test::TempDir dir_;
    std::string socket_;
    std::string saved_;
};

TEST_F(RealDevices, AServerThatWentAwayIsToldAndOneThatCameBackIsUsed)
{
    PrivateServer server;
    ASSERT_TRUE(server.start());
    Workspace ws;
    useDefaults(ws);
    makeNoise(ws.document, 4410, 3);
    test::ScriptedUi ui;
    PulseWaveOut out(postToQt());
    Player player(ws, ui, out);

    ws.loopMode = 1;
    player.playOrStop();
    ASSERT_EQ(ws.playing, 1) << ::testing::PrintToString(ui.texts());
    runFor(300);
    server.stop();
    EXPECT_TRUE(waitFor([&] { return ws.playing == 0; }, 10000));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{mmErrorText(mm::NoDriver)});
    EXPECT_FALSE(out.isOpen());

    ui.messages.clear();
    ASSERT_TRUE(server.start());
    ws.loopMode = 0;
    player.playOrStop();
    ASSERT_EQ(ws.playing, 1) << ::testing::PrintToString(ui.texts());
    EXPECT_TRUE(waitFor([&] { return ws.playing == 0; }, 10000));
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
}

TEST_F(RealDevices, AnOwnerMayCloseTheOutputFromInsideItsDoneNotification)
{
    PulseWaveOut out(postToQt());
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

// Play, stop, the spectrogram's 選択範囲を再生, close and quitting with sound still playing, over and
// over: every round starts and stops cleanly and leaves nothing behind (run under the sanitizers too).
TEST_F(RealDevices, RapidPlayStopCloseAndQuitCyclesEndCleanly)
{
    test::TempDir dir;
    const std::string path = dir.file("tone.wav");
    test::writeBytes(path, test::rampWav16(2, 4410));
    auto other = std::make_shared<SoundDocument>();
    makeNoise(*other, 2205, 5);
    std::mt19937 random(11);
    int rounds = 0;
    for (int life = 0; life < 6; ++life) {
        Workspace ws;
        useDefaults(ws);
        ws.settings.playUseMapper = 0;
        ws.settings.playDeviceIndex = playIndex_;
        test::ScriptedUi ui;
        auto window = std::make_unique<MainWindow>(ws, &ui);
        ui.setWindow(&window->qtUi());
        window->controller().openPath(path);
        ASSERT_TRUE(ws.document.hasData());
        for (int round = 0; round < 50; ++round, ++rounds) {
            switch (round % 3) {
            case 0:
                window->controller().command(cmd::PlayLoop);
                break;
            case 1:
                window->controller().command(cmd::PlayOnce);
                break;
            default:
                window->player().playSound(other);
                break;
            }
            ASSERT_EQ(ws.playing, 1) << "round " << rounds << ": " << ::testing::PrintToString(ui.texts());
            runFor(static_cast<int>(random() % 8));
            // Now and then a sound played once runs out by itself; otherwise it is stopped.
            if (round % 5 == 4 && round % 3 != 0)
                EXPECT_TRUE(waitFor([&] { return ws.playing == 0; }, 10000)) << "round " << rounds;
            else if (ws.playing == 1)
                window->player().playOrStop();
            if (round % 10 == 9) {
                window->controller().command(cmd::Close);
                window->controller().openPath(path);
            }
            EXPECT_TRUE(ui.messages.empty()) << "round " << rounds << ": " << ::testing::PrintToString(ui.texts());
            ui.messages.clear();
        }
        // Quitting while a loop plays.
        window->controller().command(cmd::PlayLoop);
        ASSERT_EQ(ws.playing, 1);
        runFor(static_cast<int>(random() % 5));
        window.reset();
        runFor(5);
    }
    EXPECT_EQ(rounds, 300);
}

TEST_F(RealDevices, FormatsTheDevicesCannotCarryAreRefusedWithTheFormatCode)
{
    PulseWaveOut out(postToQt());
    PulseWaveIn in(postToQt());
    struct Case {
        WaveDeviceFormat format;
        int code;
    };
    const Case cases[] = {
        {{1, 1, 8000, 8000, 1, 8}, mm::NoError},
        {{1, 2, 48000, 192000, 4, 16}, mm::NoError},
        {{1, 1, 3000, 6000, 2, 16}, mm::NoError},
        {{1, 3, 44100, 264600, 6, 16}, mm::BadFormat},
        {{1, 1, 44100, 132300, 3, 24}, mm::BadFormat},
        {{3, 1, 44100, 176400, 4, 32}, mm::BadFormat},
        {{1, 1, 0, 0, 2, 16}, mm::BadFormat},
        {{1, 1, 1000000, 2000000, 2, 16}, mm::BadFormat},
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
    EXPECT_EQ(out.open(999, cases[0].format, [](WaveBuffer*) {}, [](int) {}), mm::BadDeviceId);
    std::uint32_t pitch = 0;
    EXPECT_EQ(out.getPitch(pitch), mm::NotSupported);
}

struct CliRun {
    int status = -1;
    bool crashed = false;
    std::string errors;
    std::string output;
};

CliRun runCli(const QStringList& args, const std::function<void(QProcess&)>& meanwhile = {}, int timeoutMs = 60000)
{
    QProcess cli;
    cli.start(SONAVIK_CLI_PATH, args);
    cli.waitForStarted();
    if (meanwhile)
        meanwhile(cli);
    CliRun r;
    if (!cli.waitForFinished(timeoutMs)) {
        cli.kill();
        cli.waitForFinished();
        r.errors = "did not end in time";
        return r;
    }
    // After a crash exitCode() is the signal's number, which may equal an expected status.
    r.crashed = cli.exitStatus() != QProcess::NormalExit;
    r.status = cli.exitCode();
    r.errors = cli.readAllStandardError().toStdString();
    r.output = cli.readAllStandardOutput().toStdString();
    return r;
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
        {{"play", QString::fromStdString(out), "--loop", "0.3", "--device", "Null Output"}, 0},
        {{"play", QString::fromStdString(out), "--device", "no_such_sink"}, 1},
        {{"play", QString::fromStdString(out), "--red", "L:50:50"}, 1},
        {{"play", QString::fromStdString(dir.file("missing.wav"))}, 1},
        {{"record", QString::fromStdString(out), "--seconds", "0"}, 2},
        {{"record", QString::fromStdString(out), "--seconds", "1", "--bits", "24"}, 2},
    };
    for (const Run& r : runs) {
        const CliRun got = runCli(r.args);
        EXPECT_FALSE(got.crashed) << r.args.join(' ').toStdString();
        EXPECT_EQ(got.status, r.status) << r.args.join(' ').toStdString() << "\n" << got.errors;
    }
    // One second of 16-bit mono at 22050 Hz is 44100 bytes: two whole packets of 4 pages fit, after the
    // canonical header.
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), 44 + 2 * 4 * 4096);

    const CliRun listed = runCli({"devices"});
    EXPECT_EQ(listed.status, 0) << listed.errors;
    EXPECT_NE(listed.output.find("\tnull\tNull Output"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("\tsine_input\t"), std::string::npos) << listed.output;
    // The private server's defaults: the sink "null" and the source "sine_input", each marked in its list.
    EXPECT_NE(listed.output.find("* " + std::to_string(playIndex_) + "\tnull\t"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("* " + std::to_string(sineIndex_) + "\tsine_input\t"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("  " + std::to_string(monitorIndex_) + "\tnull.monitor\t"), std::string::npos) << listed.output;
}

// Settings from a parameter.ini image pick the format, packets and the device by its stored name; a
// destination that cannot be written is refused before anything is recorded; Ctrl+C and a terminate
// signal end the take and keep it.
TEST_F(RealDevices, CommandLineRecordingTakesSettingsChecksItsFileFirstAndKeepsAnInterruptedTake)
{
    test::TempDir dir;
    Settings s;
    applyDefaultSettings(s);
    s.recordUseMapper = 0;
    std::memset(s.recordDeviceName, 0, sizeof s.recordDeviceName);
    std::memcpy(s.recordDeviceName, "Sine source at 440 Hz", 21);
    s.recordRateIndex = 0;
    s.recordChannels = 1;
    s.recordBits = 8;
    s.recordPackets = 1;
    s.recordSeconds = 1;
    const std::string ini = dir.file("parameter.ini");
    {
        std::ofstream f(ini, std::ios::binary);
        f.write(reinterpret_cast<const char*>(&s), sizeof s);
    }
    const std::string take = dir.file("take.wav");
    CliRun r = runCli({"record", QString::fromStdString(take), "--settings", QString::fromStdString(ini)});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.errors.find("秒を保存しました"), std::string::npos) << r.errors;
    const CliRun info = runCli({"info", QString::fromStdString(take)});
    // 8000 bytes a second hold one packet of 4096: one 8-bit mono packet at 8000 Hz.
    EXPECT_NE(info.output.find("channels=1 rate=8000 bits=8 frames=4096"), std::string::npos) << info.output;

    // Refused at once, not after a minute of recording.
    r = runCli({"record", QString::fromStdString(dir.file("no/such/folder/take.wav")), "--seconds", "60"}, {}, 20000);
    EXPECT_EQ(r.status, 1) << r.errors;
    EXPECT_NE(r.errors.find("take.wav"), std::string::npos) << r.errors;

    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string cut = dir.file("cut-" + std::to_string(signal) + ".wav");
        r = runCli({"record", QString::fromStdString(cut), "--seconds", "60", "--channels", "1"}, [&](QProcess& p) {
            QThread::msleep(1500);
            kill(static_cast<pid_t>(p.processId()), signal);
        }, 20000);
        EXPECT_FALSE(r.crashed);
        EXPECT_EQ(r.status, 0) << r.errors;
        EXPECT_NE(r.errors.find("秒を保存しました"), std::string::npos) << r.errors;
        QFile kept(QString::fromStdString(cut));
        EXPECT_GT(kept.size(), 44 + 16384) << "signal " << signal;
    }
}

// Settings under which each curve edit changes the sound, written as a parameter.ini image.
Settings curveSettings()
{
    Settings s;
    applyDefaultSettings(s);
    test::setCurvePoint(s.nonlinear, 3, 0.3, 0.15, 0.3, 0.6);
    s.eqFftSize() = 2048;
    test::setCurvePoint(s.eq, 0, 0.1, 0.2, 0.1, 0.5);
    test::setCurvePoint(s.eq, 1, 0.7, 0.9, 0.7, 0.6);
    return s;
}

void writeSettings(const Settings& s, const std::string& path)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&s), sizeof s);
}

// `preview` plays, frame for frame, what `edit` writes for the same span: an equaliser of the left
// channel, a reverb on the red selection and a nonlinear curve on a Cos-weighted numbered selection.
TEST_F(RealDevices, CommandLinePreviewIsWhatEditWrites)
{
    test::TempDir dir;
    SoundDocument noise;
    makeNoise(noise, 44100, 9);
    test::ScriptedUi quiet;
    const std::string in = dir.file("in.wav");
    ASSERT_TRUE(writeWavFile(quiet, noise, in));
    const std::string ini = dir.file("parameter.ini");
    writeSettings(curveSettings(), ini);
    struct Case {
        QStringList options;  // after COMMAND
        const char* command;
        std::int32_t first, last;  // the span
    };
    const Case cases[] = {
        {{"--target", "1", "--settings", QString::fromStdString(ini)}, "equalize", 0, 44099},
        {{"--target", "12", "--red", "L:3000:30000", "--preset", "hall"}, "reverb", 3000, 30000},
        {{"--target", "7", "--select", "blue:L:1000:40000:cos:0:1", "--settings", QString::fromStdString(ini)}, "nonlinear", 1000, 40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string out = dir.file(std::string(c.command) + ".wav");
        const CliRun edited = runCli(QStringList{"edit", QString::fromStdString(in), QString::fromStdString(out), c.command} + c.options);
        ASSERT_EQ(edited.status, 0) << edited.errors;
        Workspace editedWs;
        applyDefaultSettings(editedWs.settings);
        ASSERT_TRUE(openWavFile(editedWs, quiet, out));
        SoundDocument span;
        span.format = editedWs.document.format;
        span.frameCount = c.last - c.first + 1;
        span.samples = SampleBuffer::allocate(static_cast<std::size_t>(span.frameCount) * 4);
        std::memcpy(span.samples.data(), editedWs.document.samples.data() + static_cast<std::size_t>(c.first) * 4,
                    static_cast<std::size_t>(span.frameCount) * 4);
        ASSERT_NE(std::memcmp(span.samples.data(), noise.samples.data() + static_cast<std::size_t>(c.first) * 4, 4000), 0)
            << "the edit changes the sound";

        test::ScriptedUi recordUi;
        Workspace recordWs;
        CliRun played;
        recordWhile(recordWs, recordUi, monitorIndex_, [&] {
            // The recording waits while the tool plays: the server keeps what arrives meanwhile.
            played = runCli(QStringList{"preview", QString::fromStdString(in), c.command} + c.options);
        });
        EXPECT_EQ(played.status, 0) << played.errors;
        ASSERT_TRUE(recordWs.document.hasData());
        EXPECT_EQ(framesBackInOrder(recordWs.document, span), span.frameCount);
    }
}

// preview picks its output as play does: by the stored name where the stored index is stale, and by
// --device.
TEST_F(RealDevices, CommandLinePreviewChoosesItsOutputAsPlayDoes)
{
    test::TempDir dir;
    SoundDocument noise;
    makeNoise(noise, 4410, 5);
    test::ScriptedUi quiet;
    const std::string in = dir.file("in.wav");
    ASSERT_TRUE(writeWavFile(quiet, noise, in));
    Settings s = curveSettings();
    s.playUseMapper = 0;
    s.playDeviceIndex = 7;
    setFieldText(s.playDeviceName, "Null Output");
    const std::string ini = dir.file("parameter.ini");
    writeSettings(s, ini);
    const QString file = QString::fromStdString(in);
    struct Run {
        QStringList options;
        int status;
    };
    const Run runs[] = {
        {{"--settings", QString::fromStdString(ini)}, 0},
        {{"--device", "null"}, 0},
        {{"--device", "no_such_sink"}, 1},
    };
    for (const Run& r : runs) {
        const CliRun got = runCli(QStringList{"preview", file, "equalize", "--target", "1", "--loop", "0.2"} + r.options);
        EXPECT_FALSE(got.crashed);
        EXPECT_EQ(got.status, r.status) << r.options.join(' ').toStdString() << "\n" << got.errors;
    }
}

// While a preview loops, a change of the curve replaces what the server holds: the sound heard runs on
// without a gap, the old curve's frames up to some frame and the new curve's from there, each at its
// place in the loop.
TEST_F(RealDevices, AChangeDuringAPreviewIsHeardWithoutAGapAtItsPlaceInTheLoop)
{
    Workspace ws;
    useDefaults(ws);
    makeNoise(ws.document, 44100, 13);
    ws.settings = curveSettings();
    ws.settings.playUseMapper = 0;
    ws.settings.playDeviceIndex = playIndex_;
    ws.settings.playPackets = 16;  // a ring of over a second: the change must not wait for it
    auto rendered = [&](const Settings& settings) {
        PreviewRender whole(ws.document, ws.red, cmd::Nonlinear, 1, -1, 1);
        whole.setSettings(settings);
        whole.render(0, whole.frameCount());
        return whole.sound().copyWithSamples();
    };
    Settings changed = ws.settings;
    test::setCurvePoint(changed.nonlinear, 3, 0.3, 0.45, 0.3, 0.6);
    // As the dialog keeps them: the curve's points in order.
    prepareParametersWithoutDialog(ws.settings, cmd::Nonlinear);
    prepareParametersWithoutDialog(changed, cmd::Nonlinear);
    const SoundDocument before = rendered(ws.settings);
    const SoundDocument after = rendered(changed);
    ASSERT_NE(std::memcmp(before.samples.data(), after.samples.data(), before.byteCount()), 0);
    ASSERT_NE(std::memcmp(before.samples.data(), ws.document.samples.data(), before.byteCount()), 0);

    test::ScriptedUi playUi, recordUi;
    PulseWaveOut out(postToQt());
    Player player(ws, playUi, out);
    auto preview = std::make_shared<PreviewRender>(ws.document, ws.red, cmd::Nonlinear, 1, -1, 1);
    preview->setSettings(ws.settings);
    Workspace recordWs;
    recordWhile(recordWs, recordUi, monitorIndex_, [&] {
        player.playPreview(preview);
        ASSERT_EQ(ws.playing, 1) << ::testing::PrintToString(playUi.texts());
        runFor(1500);
        preview->setSettings(changed);
        player.previewChanged();
        runFor(2500);
        player.playOrStop();
    }, 200);
    EXPECT_TRUE(playUi.messages.empty()) << ::testing::PrintToString(playUi.texts());
    const SoundDocument& got = recordWs.document;
    ASSERT_TRUE(got.hasData());
    const std::uint32_t* g = framesOf(got);
    const std::uint32_t* a = framesOf(before);
    const std::uint32_t* b = framesOf(after);
    const int length = before.frameCount;
    int start = 0;
    while (start + 4 <= got.frameCount && std::memcmp(g + start, a, 16) != 0)
        ++start;
    ASSERT_LT(start + 4, got.frameCount) << "the preview never arrived";
    int i = start;
    while (i < got.frameCount && g[i] == a[(i - start) % length])
        ++i;
    const int switchedAt = i;
    while (i < got.frameCount && g[i] == b[(i - start) % length])
        ++i;
    // The old curve for about the first 1.5 s, then the new one to the end of the playback.
    EXPECT_GT(switchedAt - start, 44100);
    EXPECT_LT(switchedAt - start, 44100 * 5 / 2);
    EXPECT_GT(i - switchedAt, 88200) << "the new curve's frames ran on for " << i - switchedAt;
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

// The whole program stopped for longer than the server's queue for the stream holds: what the server
// dropped is told as a loss, and the take still ends by its stored length (not by the clock, and not
// as a device that stopped delivering). The client keeps its sound in the server's queue only (no
// shared memory), and 384000 Hz stereo fills that queue's 4 MiB in under three seconds.
TEST_F(RealDevices, CommandLineRecordingThroughAStopOfTheWholeProgramTellsTheLossAndKeepsItsLength)
{
    test::TempDir dir;
    const std::string config = dir.file("client.conf");
    std::ofstream(config) << "enable-shm = no\n";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_CLIENTCONFIG", QString::fromStdString(config));
    const std::string take = dir.file("take.wav");
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(SONAVIK_CLI_PATH, {"record", QString::fromStdString(take), "--seconds", "3", "--rate", "384000"});
    ASSERT_TRUE(cli.waitForStarted());
    const auto pid = static_cast<pid_t>(cli.processId());
    QThread::msleep(1500);
    // Longer than the length asked for and the old allowance of 15 s together.
    constexpr int kStopSeconds = 19;
    kill(pid, SIGSTOP);
    QThread::sleep(kStopSeconds);
    kill(pid, SIGCONT);
    ASSERT_TRUE(cli.waitForFinished(60000));
    const std::string errors = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 1) << errors;
    EXPECT_EQ(errors.find("stopped delivering"), std::string::npos) << errors;
    EXPECT_NE(errors.find("3.0 秒を保存しました"), std::string::npos) << errors;
    const std::string told = "録音中に ";
    const std::size_t at = errors.find(told);
    ASSERT_NE(at, std::string::npos) << errors;
    // What the queue and the socket hold (under 4 s) is kept; the rest of the stop is lost.
    const double lost = std::stod(errors.substr(at + told.size()));
    EXPECT_GT(lost, kStopSeconds - 4.0) << errors;
    EXPECT_LT(lost, kStopSeconds + 0.5) << errors;
    // 3 s of 384000 Hz stereo hold 281 whole packets of 16384 bytes.
    EXPECT_EQ(QFile(QString::fromStdString(take)).size(), 44 + 281 * 16384);
}

// The test run's sound server stopped (not killed) while this lives: it is there, but does not answer.
class StoppedServer {
public:
    StoppedServer()
    {
        const char* server = std::getenv("PULSE_SERVER");
        std::string socket = server ? server : "";
        if (socket.rfind("unix:", 0) != 0)
            return;
        socket = socket.substr(5);
        std::ifstream pidFile(socket.substr(0, socket.rfind('/')) + "/pid");
        if (pidFile >> pid_ && pid_ > 0 && kill(pid_, SIGSTOP) == 0)
            stopped_ = true;
    }
    ~StoppedServer() { resume(); }
    StoppedServer(const StoppedServer&) = delete;
    StoppedServer& operator=(const StoppedServer&) = delete;
    bool stopped() const { return stopped_; }
    void resume()
    {
        if (stopped_)
            kill(pid_, SIGCONT);
        stopped_ = false;
    }

private:
    pid_t pid_ = 0;
    bool stopped_ = false;
};

// A server that hangs is told as such, not as "no device", in the window and by the tool; the window's
// buttons stay usable and work again once the server answers. An interrupt while the tool is still
// choosing its device ends it with a message, not by the signal.
TEST_F(RealDevices, AServerThatDoesNotAnswerIsToldAsSuchAndUsedAgainOnceItAnswers)
{
    Workspace ws;
    useDefaults(ws);
    test::ScriptedUi ui;
    test::TempDir dir;
    const std::string path = dir.file("tone.wav");
    test::writeBytes(path, test::rampWav16(2, 4410));
    Settings byName;
    applyDefaultSettings(byName);
    byName.recordUseMapper = 0;
    setFieldText(byName.recordDeviceName, "Sine source at 440 Hz");
    const std::string ini = dir.file("parameter.ini");
    writeSettings(byName, ini);
    MainWindow window(ws, &ui);
    ui.setWindow(&window.qtUi());
    window.show();
    window.controller().openPath(path);
    ASSERT_TRUE(ws.document.hasData());
    {
        StoppedServer server;
        if (!server.stopped())
            GTEST_SKIP() << "the sound server is not the test run's own";
        window.controller().command(cmd::PlayOnce);
        EXPECT_EQ(ws.playing, 0);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{kServerNotAnsweringText});
        EXPECT_EQ(window.bigButton(2)->label(), QString::fromUtf8("再生"));
        EXPECT_NE(window.bigButton(2)->look(), BigButtonLook::Disabled);

        const std::string file = path;
        for (const QStringList& args : {QStringList{"play", QString::fromStdString(file)}, QStringList{"devices"}}) {
            const CliRun r = runCli(args, {}, 20000);
            EXPECT_EQ(r.status, 1) << args.join(' ').toStdString();
            EXPECT_NE(r.errors.find(kServerNotAnsweringText), std::string::npos) << r.errors;
            EXPECT_EQ(r.errors.find("インストールされていません"), std::string::npos) << r.errors;
        }
        const CliRun interrupted = runCli({"record", QString::fromStdString(dir.file("take.wav")), "--settings", QString::fromStdString(ini)},
                                          [](QProcess& p) {
                                              QThread::msleep(150);
                                              kill(static_cast<pid_t>(p.processId()), SIGINT);
                                          }, 20000);
        EXPECT_FALSE(interrupted.crashed) << "killed by signal " << interrupted.status;
        EXPECT_EQ(interrupted.status, 1);
        EXPECT_FALSE(interrupted.errors.empty());
    }
    ui.messages.clear();
    window.controller().command(cmd::PlayOnce);
    EXPECT_EQ(ws.playing, 1) << ::testing::PrintToString(ui.texts());
    EXPECT_TRUE(waitFor([&] { return ws.playing == 0; }, 15000));
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());
}

// Devices of one description are told apart in the lists and can be chosen by the numbered name.
TEST_F(RealDevices, DevicesOfOneDescriptionAreNumberedInTheLists)
{
    const std::string module = pactl({"load-module", "module-null-sink", "sink_name=second_null"});
    ASSERT_FALSE(module.empty());
    const CliRun listed = runCli({"devices"});
    EXPECT_NE(listed.output.find("\tnull\tNull Output\n"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("\tsecond_null\tNull Output (2)\n"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("\tsecond_null.monitor\tMonitor of Null Output (2)\n"), std::string::npos) << listed.output;
    PulseWaveOut out(postToQt());
    const auto lists = listPulseDevices();
    ASSERT_TRUE(lists);
    const int second = pulseDeviceNumber(lists->sinks, "Null Output (2)");
    ASSERT_GE(second, 0);
    ASSERT_EQ(out.open(second, {1, 2, 44100, 176400, 4, 16}, [](WaveBuffer*) {}, [](int) {}), mm::NoError);
    EXPECT_EQ(out.sinkName(), "second_null");
    EXPECT_EQ(out.close(), mm::NoError);
    pactl({"unload-module", QString::fromStdString(module)});
}

} // namespace
} // namespace sonavik

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
