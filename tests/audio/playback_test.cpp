#include "audio/playback.h"

#include "audio/preview_session.h"
#include "audio/virtual_wave_device.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/spectral_test_support.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::VirtualWaveOut;

struct Rig {
    Rig()
    {
        applyDefaultSettings(ws.settings);
        ws.pageSize = 4096;
        player.stateChanged = [this](bool running) { states.push_back(running); };
    }

    // A 16-bit mono sound whose frame i holds the value i, so played bytes tell which frames were sent.
    void load(std::int32_t frames, int channels = 1)
    {
        ws.document = test::makeDocument(16, channels, frames, [](std::int64_t i, int c) { return static_cast<int>(i * 2 + c) % 30000; });
    }
    std::vector<unsigned char> framesBytes(std::int32_t first, std::int32_t last) const
    {
        const auto all = test::bytesOf(ws.document);
        const std::size_t fb = ws.document.format.nBlockAlign;
        return {all.begin() + first * fb, all.begin() + (last + 1) * fb};
    }
    void play(int loopMode)
    {
        ws.loopMode = loopMode;
        player.playOrStop();
    }

    Workspace ws;
    ScriptedUi ui;
    VirtualWaveOut device;
    Player player{ws, ui, device};
    std::vector<bool> states;
};

class PlaybackTest : public ::testing::Test, protected Rig {};

TEST_F(PlaybackTest, RedSelectionPlaysExactlyItsFramesOnceThenTheLabelReturns)
{
    load(1000);
    ws.red.redStart = 100;
    ws.red.redEnd = 199;
    play(0);
    ASSERT_EQ(ws.playing, 1);
    EXPECT_EQ(states, std::vector<bool>{true});
    EXPECT_EQ(device.queued(), kRingSize);
    EXPECT_FALSE(device.paused) << "restarted after the ring was queued";

    device.completeAll();
    EXPECT_EQ(device.played, framesBytes(100, 199));
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_FALSE(device.isOpen);
    EXPECT_TRUE(ui.messages.empty());
}

// A sound one frame longer than a whole number of buffers: its last frame is sent, alone in the last
// buffer played once, and before the first frame again in a loop.
TEST_F(PlaybackTest, TheFrameAfterWholeBuffersIsSentOnceAndInALoop)
{
    const std::int32_t bufferFrames = static_cast<std::int32_t>(ringBufferBytes(ws.settings.playPackets, ws.pageSize) / 2);
    for (const std::int32_t k : {1, 3, 12}) {
        SCOPED_TRACE(k);
        const std::int32_t frames = k * bufferFrames + 1;
        load(frames);
        const std::vector<unsigned char> sound = framesBytes(0, frames - 1);
        play(0);
        ASSERT_EQ(ws.playing, 1);
        device.completeAll();
        EXPECT_EQ(device.played, sound);
        EXPECT_EQ(ws.playing, 0);

        device.played.clear();
        play(1);
        ASSERT_EQ(ws.playing, 1);
        device.completeAll(2 * k + 2);
        std::vector<unsigned char> twice = sound;
        twice.insert(twice.end(), sound.begin(), sound.end());
        ASSERT_GE(device.played.size(), twice.size());
        EXPECT_TRUE(std::equal(twice.begin(), twice.end(), device.played.begin()));
        player.playOrStop();
        EXPECT_EQ(ws.playing, 0);
        device.played.clear();
    }
}

TEST_F(PlaybackTest, AnotherSoundPlaysWholeAndOnceWhateverTheRedSelectionAndLoopSay)
{
    load(1000);
    ws.red.redStart = 100;
    ws.red.redEnd = 199;
    auto other = std::make_shared<SoundDocument>(
        test::makeDocument(16, 1, 3000, [](std::int64_t i, int) { return static_cast<int>(i % 500) - 250; }));
    const auto expected = test::bytesOf(*other);
    const auto before = test::bytesOf(ws.document);
    ws.loopMode = 1;
    player.playSound(other);
    ASSERT_EQ(ws.playing, 1);
    EXPECT_TRUE(player.playingOtherSound());
    other.reset();  // the player keeps the sound while it plays
    device.completeAll();
    EXPECT_EQ(device.played, expected);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_FALSE(player.playingOtherSound());
    EXPECT_EQ(test::bytesOf(ws.document), before);

    // The play command afterwards plays the document's red selection again, and stops another sound.
    play(0);
    device.completeAll();
    EXPECT_EQ(device.played, [&] { auto all = expected; const auto red = framesBytes(100, 199); all.insert(all.end(), red.begin(), red.end()); return all; }());
    player.playSound(std::make_shared<SoundDocument>(test::makeDocument(16, 1, 100000, [](std::int64_t, int) { return 1; })));
    ASSERT_EQ(ws.playing, 1);
    player.playSound(nullptr);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_FALSE(device.isOpen);
}

TEST_F(PlaybackTest, WholeSoundLongerThanTheRingIsPlayedInOrderAcrossRefills)
{
    load(50000);  // 100000 bytes: more than ten buffers of 8192
    play(0);
    device.completeAll();
    EXPECT_EQ(device.played, framesBytes(0, 49999));
    EXPECT_EQ(ws.playing, 0);
    EXPECT_FALSE(device.isOpen);
}

TEST_F(PlaybackTest, LoopModesFillEveryBufferWithRepetitionsOfTheRange)
{
    struct Case {
        const char* name;
        int loopMode;
        int playButtonLoops;
        bool loops;
    };
    const Case cases[] = {
        {"loop command", 1, 0, true},
        {"play button with playButtonLoops", -1, 1, true},
        {"play button without it", -1, 0, false},
        {"play command never loops", 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualWaveOut dev;
        Workspace w;
        applyDefaultSettings(w.settings);
        w.settings.playButtonLoops = c.playButtonLoops;
        w.document = test::makeDocument(16, 1, 100, [](std::int64_t i, int) { return static_cast<int>(i); });
        w.red.redStart = 10;
        w.red.redEnd = 19;
        w.loopMode = c.loopMode;
        ScriptedUi u;
        Player p(w, u, dev);
        p.playOrStop();
        ASSERT_EQ(dev.completeAll(25), c.loops ? 25 : 2);
        if (c.loops) {
            // 25 buffers of 8192 bytes = 102400 frames: frames 10..19 over and over.
            ASSERT_EQ(dev.played.size(), 25u * 8192u);
            for (std::size_t f = 0; f < dev.played.size() / 2; f += 997)
                ASSERT_EQ(dev.played[2 * f], 10 + f % 10) << "frame " << f;
            EXPECT_EQ(w.playing, 1);
            p.playOrStop();
        }
        EXPECT_EQ(w.playing, 0);
        EXPECT_FALSE(dev.isOpen);
    }
}

TEST_F(PlaybackTest, SecondPlayCommandStopsAtOnceAndReturnsTheDevice)
{
    load(100000);
    play(1);
    device.completeNext();
    play(0);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_FALSE(device.isOpen);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    // Notifications of buffers returned by the reset do nothing after the stop.
    device.deliverReturned();
    EXPECT_EQ(device.queued(), 0);

    // And it starts again cleanly.
    play(0);
    EXPECT_EQ(ws.playing, 1);
    EXPECT_EQ(device.queued(), kRingSize);
}

TEST_F(PlaybackTest, RefusalsLeaveTheEngineIdle)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> setUp;
        std::vector<std::string> texts;
        int beeps;
    };
    const Case cases[] = {
        {"recording", [](Rig& t) { t.load(10); t.ws.capturing = 1; }, {"録音中は、再生を開始できません"}, 0},
        {"no data", [](Rig&) {}, {}, 1},
        {"no frames", [](Rig& t) { t.load(10); t.ws.document.frameCount = 0; }, {}, 1},
        {"red start not before its end",
         [](Rig& t) { t.load(10); t.ws.red.redStart = 5; t.ws.red.redEnd = 5; }, {}, 1},
        {"red selection beyond the sound",
         [](Rig& t) { t.load(10); t.ws.red.redStart = 50; t.ws.red.redEnd = 60; }, {}, 1},
        {"no device", [](Rig& t) { t.load(10); t.device.devices = 0; },
         {"使用可能な再生デバイスがインストールされていません"}, 0},
        {"format refused", [](Rig& t) { t.load(10); t.device.accepts = [](const WaveDeviceFormat&) { return false; }; },
         {"オープンされているデバイスドライバは、\n指定のフォーマットをサポートしません。", "デバイスはオープンされませんでした。"}, 0},
        {"device busy", [](Rig& t) { t.load(10); t.device.failures["open"] = mm::Allocated; },
         {"指定のデバイスは既に割り当てられています。", "デバイスはオープンされませんでした。"}, 0},
        {"write fails", [](Rig& t) { t.load(10); t.device.failures["write"] = mm::NoDriver; },
         {"指定のデバイスドライバが見つかりません。"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig t;
        c.setUp(t);
        t.play(0);
        EXPECT_EQ(t.ws.playing, 0);
        EXPECT_FALSE(t.device.isOpen);
        EXPECT_EQ(t.ui.texts(), c.texts);
        EXPECT_EQ(static_cast<int>(t.ui.beeps.size()), c.beeps);
        EXPECT_TRUE(t.states.empty() || t.states.back() == false);
        // A refusal never leaves the ring taken: the next try with a good device plays.
        t.ws.capturing = 0;
        t.device.failures.clear();
        t.device.devices = 1;
        t.device.accepts = [](const WaveDeviceFormat&) { return true; };
        t.ws.red.clear();
        t.load(10);
        t.play(0);
        EXPECT_EQ(t.ws.playing, 1);
    }
}

TEST_F(PlaybackTest, DeviceThatDisappearsEndsPlaybackWithItsMessage)
{
    load(100000);
    play(1);
    device.completeNext();
    device.disappear(mm::NoDriver);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"指定のデバイスドライバが見つかりません。"});
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(ws.document.hasData());
}

TEST_F(PlaybackTest, DeviceSettingsAreAppliedAndRestoredAsTheFlagsSay)
{
    struct Case {
        int useDeviceSettings;
        int storeInDevice;
        std::uint32_t volumeWhilePlaying;
        std::uint32_t volumeAfter;
    };
    const Case cases[] = {
        {0, 0, 0x12340056u, 0x80008000u},
        {0, 1, 0x12340056u, 0x12340056u},
        {1, 0, 0x80008000u, 0x80008000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.useDeviceSettings * 10 + c.storeInDevice);
        Rig t;
        t.load(10);
        t.device.support = kCapsVolume | kCapsLrVolume | kCapsPitch | kCapsPlaybackRate;
        t.ws.settings.playUseDeviceSettings = c.useDeviceSettings;
        t.ws.settings.playStoreInDevice = c.storeInDevice;
        t.ws.settings.playVolumeLeft = 0x56;
        t.ws.settings.playVolumeRight = 0x1234;
        t.ws.settings.playPitch = 0x18000;
        t.play(0);
        EXPECT_EQ(t.device.volume, c.volumeWhilePlaying);
        EXPECT_EQ(t.device.pitch, c.useDeviceSettings ? 0x10000u : 0x18000u);
        t.device.completeAll();
        EXPECT_EQ(t.device.volume, c.volumeAfter);
    }
}

TEST_F(PlaybackTest, DamagedPacketCountsAreLimitedWhereUsed)
{
    struct Case {
        std::int32_t packets;
        std::int32_t storedAfter;
        std::uint32_t bufferBytes;
        int beeps;
    };
    const Case cases[] = {
        {-5, 1, 4096, 1},
        {0, 1, 4096, 1},
        {3, 3, 3 * 4096, 0},
        {0x7FFFFFFF, 0x7FFFFFFF, static_cast<std::uint32_t>(kMaxBufferBytes), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packets);
        Rig t;
        t.load(10);
        t.ws.settings.playPackets = c.packets;
        t.play(1);
        EXPECT_EQ(t.ws.settings.playPackets, c.storedAfter);
        EXPECT_EQ(static_cast<int>(t.ui.beeps.size()), c.beeps);
        ASSERT_EQ(t.device.queued(), kRingSize);
        EXPECT_EQ(t.device.queue.front()->bufferLength, c.bufferBytes - c.bufferBytes % 2);
        t.play(1);
    }
}

} // namespace
} // namespace sonavik

namespace sonavik {
namespace {

// The nonlinear curve's preview of the red selection plays over and over; a change of the curve
// replaces what the device held, so that from the next byte the old sound crossfades (equal power, 10 ms)
// into the frames OK would write with the new curve, at the place in the loop the device had reached, and
// from the end of the crossfade on those frames are played exactly.
TEST_F(PlaybackTest, APreviewLoopsItsSpanAndAChangeIsHeardFromWhereTheDeviceStands)
{
    load(30000);
    ws.red.redStart = 1000;
    ws.red.redEnd = 20999;
    ws.red.redChannel = 0;
    device.canReplace = true;
    auto heard = [this](const Settings& settings) {
        Workspace edited;
        edited.settings = settings;
        edited.red = ws.red;
        edited.document = ws.document.copyWithSamples();
        ScriptedUi quiet;
        EditHost host;
        editTarget(edited, quiet, host, cmd::Nonlinear, 12, -1);
        const auto all = test::bytesOf(edited.document);
        return std::vector<unsigned char>(all.begin() + 2 * 1000, all.begin() + 2 * 21000);
    };
    test::setCurvePoint(ws.settings.nonlinear, 3, 0.3, 0.2, 0.3, 0.2);
    const std::vector<unsigned char> before = heard(ws.settings);
    auto preview = std::make_shared<PreviewRender>(ws.document, ws.red, cmd::Nonlinear, 12, -1, 1);
    preview->setSettings(ws.settings);
    player.playPreview(preview);
    ASSERT_EQ(ws.playing, 1);
    EXPECT_TRUE(player.playingOtherSound());
    // Each buffer holds 4096 frames: 20000 frames, then 4 buffers into the second time round.
    ASSERT_EQ(device.completeAll(9), 9);
    ASSERT_EQ(device.played.size(), 9u * 8192u);
    std::vector<unsigned char> expected = before;
    expected.insert(expected.end(), before.begin(), before.begin() + 9 * 8192 - 40000);
    EXPECT_EQ(device.played, expected);

    test::setCurvePoint(ws.settings.nonlinear, 3, 0.3, 0.6, 0.3, 0.6);
    test::setCurvePoint(ws.settings.nonlinear, 1, 0.5, 0.2, 0.5, 0.2);
    const std::vector<unsigned char> after = heard(ws.settings);
    preview->setSettings(ws.settings);
    player.previewChanged();
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(4), 4);
    // Frames 16864 on (of the span's 20000), then round again from the start.
    const std::size_t at = 9 * 8192 - 40000;
    expected.assign(after.begin() + static_cast<std::ptrdiff_t>(at), after.end());
    expected.insert(expected.end(), after.begin(), after.begin() + static_cast<std::ptrdiff_t>(4 * 8192 - (40000 - at)));
    const std::vector<unsigned char> got(device.played.begin() + 9 * 8192, device.played.end());
    ASSERT_EQ(got.size(), expected.size());
    constexpr std::size_t kFade = 441;
    EXPECT_TRUE(std::equal(got.begin() + 2 * kFade, got.end(), expected.begin() + 2 * kFade)) << "exact after the crossfade";
    auto sample = [](const std::vector<unsigned char>& v, std::size_t i) {
        return static_cast<std::int16_t>(v[2 * i] | v[2 * i + 1] << 8);
    };
    // Across the switch no step is larger than the two sounds' own steps and a share of their distance:
    // a hard cut jumps by all of it.
    int ownSteps = 0, distance = 0, worstStep = 0;
    for (std::size_t i = 0; i <= kFade; ++i) {
        const std::size_t f = at / 2 + i;
        ownSteps = std::max({ownSteps, std::abs(sample(before, f) - sample(before, f - 1)), std::abs(sample(after, f) - sample(after, f - 1))});
        distance = std::max(distance, std::abs(sample(before, f) - sample(after, f)));
        const int previous = i == 0 ? sample(before, f - 1) : sample(got, i - 1);
        worstStep = std::max(worstStep, std::abs(sample(got, i) - previous));
        // Equal power: old times cos, new times sin of the fade's quarter turn.
        if (i < kFade) {
            const double turn = (i + 0.5) / kFade * (M_PI / 2);
            EXPECT_NEAR(sample(got, i), sample(before, f) * std::cos(turn) + sample(after, f) * std::sin(turn), 0.51) << i;
        }
    }
    ASSERT_GT(distance, 20 * ownSteps) << "the change is a step a cut would make heard";
    EXPECT_LE(worstStep, ownSteps + distance / 100 + 2);
    EXPECT_EQ(ws.document.modified, 0);
    player.playOrStop();
    EXPECT_EQ(ws.playing, 0);
    EXPECT_FALSE(player.playingPreview());
}

// Key B in a curve dialog's preview: from the place in the loop the device stands at, the target as it is
// now fades in for the edited one and back again; a curve changed meanwhile is heard only once the edited
// sound is back.
TEST_F(PlaybackTest, APreviewSwitchesToTheTargetAsItIsAndBackAtThePlaceInTheLoop)
{
    load(30000);
    ws.red = RedSelection{1000, 20999, 0};
    device.canReplace = true;
    auto edited = [this] {
        Workspace copy;
        copy.settings = ws.settings;
        copy.red = ws.red;
        copy.document = ws.document.copyWithSamples();
        ScriptedUi quiet;
        EditHost host;
        editTarget(copy, quiet, host, cmd::Nonlinear, 12, -1);
        return test::bytesOf(copy.document);
    };
    // Stream bytes [from, from + count) of the span's 40000 bytes played over and over.
    auto looped = [](const std::vector<unsigned char>& all, std::size_t from, std::size_t count) {
        std::vector<unsigned char> out;
        for (std::size_t i = from; i < from + count; ++i)
            out.push_back(all[2000 + i % 40000]);
        return out;
    };
    constexpr std::size_t kBuffer = 8192, kFade = 2 * 441;
    auto heardFrom = [this](std::size_t from) { return std::vector<unsigned char>(device.played.begin() + static_cast<std::ptrdiff_t>(from + kFade), device.played.end()); };
    const std::vector<unsigned char> sound = test::bytesOf(ws.document);
    test::setCurvePoint(ws.settings.nonlinear, 3, 0.3, 0.2, 0.3, 0.2);
    const std::vector<unsigned char> first = edited();
    PreviewSession session(ws, player, cmd::Nonlinear, 12, -1);
    EXPECT_FALSE(session.toggleBypass()) << "nothing plays";
    ASSERT_TRUE(session.start());
    ASSERT_EQ(device.completeAll(3), 3);
    EXPECT_EQ(device.played, looped(first, 0, 3 * kBuffer));

    ASSERT_TRUE(session.toggleBypass());
    EXPECT_TRUE(session.bypassed());
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(2), 2);
    EXPECT_EQ(heardFrom(3 * kBuffer), looped(sound, 3 * kBuffer + kFade, 2 * kBuffer - kFade));
    test::setCurvePoint(ws.settings.nonlinear, 1, 0.5, 0.7, 0.5, 0.7);
    session.settingsMayHaveChanged();
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(1), 1);
    EXPECT_EQ(heardFrom(3 * kBuffer), looped(sound, 3 * kBuffer + kFade, 3 * kBuffer - kFade)) << "not heard while bypassed";

    ASSERT_TRUE(session.toggleBypass());
    EXPECT_FALSE(session.bypassed());
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(3), 3);
    const std::vector<unsigned char> second = edited();
    ASSERT_NE(second, first);
    EXPECT_EQ(heardFrom(6 * kBuffer), looped(second, 6 * kBuffer + kFade, 3 * kBuffer - kFade));
    EXPECT_EQ(test::bytesOf(ws.document), sound);
    session.stop();
    EXPECT_EQ(ws.playing, 0);
}

// Key B while the sound loops: what the device has not played yet is replaced by the state before the
// last change from the very frame it stands at, and back again; the document stays as it is. A sound of
// another length cannot be compared.
TEST_F(PlaybackTest, BeforeAndAfterSwitchAtTheFrameTheDeviceStandsAt)
{
    load(30000);
    ws.undoStore = test::makeDocument(16, 1, 30000, [](std::int64_t i, int) { return -static_cast<int>(i % 20000); });
    const auto now = test::bytesOf(ws.document);
    const auto then = test::bytesOf(ws.undoStore);
    device.canReplace = true;
    EXPECT_FALSE(player.toggleBefore()) << "nothing plays";
    play(1);
    ASSERT_EQ(ws.playing, 1);
    ASSERT_EQ(device.completeAll(3), 3);  // 4096 frames a buffer
    ASSERT_TRUE(player.toggleBefore());
    EXPECT_TRUE(player.hearingBefore());
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(2), 2);
    std::vector<unsigned char> expected(now.begin(), now.begin() + 3 * 8192);
    expected.insert(expected.end(), then.begin() + 3 * 8192, then.begin() + 5 * 8192);
    EXPECT_EQ(device.played, expected);
    ASSERT_TRUE(player.toggleBefore());
    EXPECT_FALSE(player.hearingBefore());
    device.deliverReturned();
    ASSERT_EQ(device.completeAll(1), 1);
    expected.insert(expected.end(), now.begin() + 5 * 8192, now.begin() + 6 * 8192);
    EXPECT_EQ(device.played, expected);
    EXPECT_EQ(test::bytesOf(ws.document), now);

    ws.undoStore = test::makeDocument(16, 1, 29999, [](std::int64_t, int) { return 0; });
    EXPECT_FALSE(player.toggleBefore());
    player.playOrStop();
    EXPECT_FALSE(player.hearingBefore());
}

} // namespace
} // namespace sonavik
