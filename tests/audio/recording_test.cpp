#include "audio/recording.h"

#include "audio/virtual_wave_device.h"
#include "document/sound_document.h"
#include "document/workspace.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::VirtualWaveIn;

// Fills 16-bit buffers with a square wave of the given amplitude on every channel.
std::uint32_t fillSquare(unsigned char* p, std::uint32_t n, int amplitude)
{
    for (std::uint32_t i = 0; i + 1 < n; i += 2) {
        const auto v = static_cast<std::int16_t>((i / 2) % 2 ? -amplitude : amplitude);
        std::memcpy(p + i, &v, 2);
    }
    return n;
}

struct Rig {
    Rig()
    {
        applyDefaultSettings(ws.settings);
        ws.pageSize = 4096;
        ws.settings.recordSeconds = 1;
        ws.settings.recordRateIndex = 3;
        ws.settings.recordBits = 16;
        ws.settings.recordChannels = 2;
        ws.settings.recordPackets = 4;
        recorder.hooks.settingsDialog = [this] { return settingsAnswer; };
        recorder.hooks.closeDocument = [this] { moveToUndoStore(ws.document, ws.undoStore); };
        recorder.hooks.layoutNewDocument = [this] { ++layouts; return layoutAnswer; };
        recorder.hooks.showNewDocument = [this] { ++shown; };
        recorder.hooks.closeStandby = [this] { standbyClosedByDevice = true; };
        recorder.hooks.standby = [this] {
            ++standbys;
            ASSERT_TRUE(recorder.openLevelPicture(120, 80));
            if (pressStart) {
                EXPECT_STREQ(recorder.toggleCapturing(), kStopStoringLabel);
            }
            for (int i = 0; i < packets && !standbyClosedByDevice; ++i) {
                ASSERT_TRUE(device.completeNext());
                storedAfter.push_back(recorder.recordedBytes());
                if (i == disappearAfter)
                    device.disappear(mm::NoDriver);
            }
            if (!standbyClosedByDevice) {
                EXPECT_EQ(device.queued(), kRingSize) << "every buffer handed back";
            }
            recorder.stopCapturing();
        };
    }

    Workspace ws;
    ScriptedUi ui;
    VirtualWaveIn device;
    Recorder recorder{ws, ui, device};
    bool settingsAnswer = true;
    bool layoutAnswer = true;
    bool pressStart = true;
    int packets = 3;
    int disappearAfter = -1;
    int standbys = 0;
    int layouts = 0;
    int shown = 0;
    bool standbyClosedByDevice = false;
    std::vector<std::uint32_t> storedAfter;
};

class RecordingTest : public ::testing::Test, protected Rig {};

TEST_F(RecordingTest, OneSecondStopsStoringAfterTheTenthPacketAndBecomesNewData)
{
    // 44100 Hz 16-bit stereo: 176400 bytes a second; packets of 4 pages are 16384 bytes.
    packets = 12;
    device.source = [](unsigned char* p, std::uint32_t n) { return fillSquare(p, n, 1000); };
    recorder.recordNewDocument();

    EXPECT_EQ(recorder.recordAreaSize(), 176400u);
    ASSERT_EQ(storedAfter.size(), 12u);
    EXPECT_EQ(storedAfter[9], 10u * 16384u);
    EXPECT_EQ(storedAfter[10], 10u * 16384u) << "an 11th packet would pass one second";
    EXPECT_EQ(ws.capturing, 0);

    const SoundDocument& doc = ws.document;
    ASSERT_TRUE(doc.hasData());
    EXPECT_EQ(doc.frameCount, 10 * 16384 / 4);
    EXPECT_EQ(doc.format.nChannels, 2);
    EXPECT_EQ(doc.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(doc.format.wBitsPerSample, 16);
    EXPECT_EQ(doc.format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(doc.path, "New Data(1).wav");
    EXPECT_EQ(doc.modified, 1);
    EXPECT_FALSE(ws.red.exists());
    std::int16_t first;
    std::memcpy(&first, doc.samples.data(), 2);
    EXPECT_EQ(first, 1000);
    EXPECT_EQ(layouts, 1);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.beeps.empty());
    EXPECT_FALSE(device.isOpen);
    EXPECT_TRUE(device.queue.empty());

    // The second recording of the run is number 2, and the first went to the undo store.
    storedAfter.clear();
    packets = 1;
    recorder.recordNewDocument();
    EXPECT_EQ(ws.document.path, "New Data(2).wav");
    EXPECT_EQ(ws.undoStore.path, "New Data(1).wav");
}

// An area of exactly two packets takes both: storing stops only when a packet would pass its end.
TEST_F(RecordingTest, AnAreaOfWholePacketsIsFilledToItsLastByte)
{
    // 8192 Hz, 16-bit mono: 16384 bytes a second, two seconds are two packets of 4 pages.
    ws.settings.recordRateIndex = 5;
    ws.settings.recordCustomRate = 8192;
    ws.settings.recordChannels = 1;
    ws.settings.recordSeconds = 2;
    packets = 4;
    recorder.recordNewDocument();
    EXPECT_EQ(recorder.recordAreaSize(), 32768u);
    EXPECT_EQ(storedAfter, (std::vector<std::uint32_t>{16384, 32768, 32768, 32768}));
    EXPECT_EQ(ws.document.frameCount, 16384);
}

// Sound the device lost while storing is told in the status bar when the recording ends; sound lost
// while nothing was being stored does not count.
TEST_F(RecordingTest, SoundLostWhileStoringIsToldInTheStatusBar)
{
    packets = 4;
    recorder.hooks.levelChanged = [this] {
        // Before the second packet: 17640 bytes, a tenth of a second, go missing; before the fourth,
        // after storing was switched off, more.
        if (storedAfter.size() == 0)
            device.lost = 17640;
        if (storedAfter.size() == 2) {
            recorder.stopCapturing();
            device.lost = 17640 + 176400;
        }
    };
    recorder.recordNewDocument();
    EXPECT_EQ(recorder.lostWhileStoring(), 17640u);
    EXPECT_EQ(ui.statusText[1], "録音中に 0.1 秒の音が失われました");
    EXPECT_TRUE(ws.document.hasData());

    // A recording that loses nothing leaves the status bar alone.
    ui.statusText[1].clear();
    device.lost = 0;
    recorder.hooks.levelChanged = nullptr;
    storedAfter.clear();
    recorder.recordNewDocument();
    EXPECT_EQ(recorder.lostWhileStoring(), 0u);
    EXPECT_EQ(ui.statusText[1], "");
}

TEST_F(RecordingTest, SoundActivatedStoringStartsAtLevelSix)
{
    struct Case {
        int amplitude;
        bool stored;
    };
    // Level = largest magnitude / 256: 1535 is level 5, 1536 level 6.
    const Case cases[] = {{0, false}, {1535, false}, {1536, true}, {-1536, true}, {32767, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amplitude);
        Rig t;
        t.ws.settings.recordOnlyWhenSound = 1;
        t.pressStart = false;
        t.packets = 2;
        t.device.source = [&](unsigned char* p, std::uint32_t n) { return fillSquare(p, n, c.amplitude); };
        t.recorder.recordNewDocument();
        EXPECT_EQ(t.storedAfter.back(), c.stored ? 2u * 16384u : 0u);
        EXPECT_EQ(t.ws.document.hasData(), c.stored);
        if (!c.stored) {
            EXPECT_EQ(t.ui.texts(), std::vector<std::string>{"録音は行なわれませんでした。"});
        }
    }
}

TEST_F(RecordingTest, ClosingTheStandbyWithoutStartingRecordsNothing)
{
    pressStart = false;
    recorder.recordNewDocument();
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"録音は行なわれませんでした。"});
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_EQ(ws.newDataCounter, 0);
    EXPECT_FALSE(device.isOpen);
}

TEST_F(RecordingTest, RecordingAreaIsLimitedAndAFailedReservationSkipsTheStandby)
{
    struct Case {
        const char* name;
        std::int32_t seconds;
        bool failReservation;
        std::uint64_t areaSize;
        bool standby;
    };
    const Case cases[] = {
        {"one second", 1, false, 176400, true},
        {"huge seconds are capped", 0x7FFFFFFF, false, kMaxRecordArea, true},
        {"negative seconds reserve nothing", -3, false, 0, false},
        {"reservation refused", 60, true, 60u * 176400u, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig t;
        t.ws.settings.recordSeconds = c.seconds;
        t.packets = 1;
        std::size_t asked = 0;
        t.recorder.hooks.reserve = [&](std::size_t size) -> std::optional<AddressReservation> {
            asked = size;
            if (c.failReservation)
                return std::nullopt;
            return AddressReservation::reserve(size);
        };
        t.recorder.recordNewDocument();
        EXPECT_EQ(asked, c.areaSize);
        EXPECT_EQ(t.standbys, c.standby ? 1 : 0);
        EXPECT_EQ(t.ui.beeps.size(), c.standby ? 0u : 1u);
        EXPECT_EQ(t.ws.document.hasData(), c.standby);
        EXPECT_FALSE(t.device.isOpen);
        EXPECT_TRUE(t.device.queue.empty()) << "stopped before it was closed";
    }
}

TEST_F(RecordingTest, EveryFailureSaysWhatHappenedAndClosesTheDevice)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> setUp;
        std::vector<std::string> texts;
        bool leftOpen = false;
    };
    const Case cases[] = {
        {"no input device", [](Rig& t) { t.device.devices = 0; }, {"使用可能な録音デバイスがインストールされていません"}},
        {"settings cancelled", [](Rig& t) { t.settingsAnswer = false; }, {}},
        {"damaged rate index", [](Rig& t) { t.ws.settings.recordRateIndex = 99; }, {"strange!"}},
        {"format refused", [](Rig& t) { t.device.accepts = [](const WaveDeviceFormat&) { return false; }; },
         {"オープンされているデバイスドライバは、\n指定のフォーマットをサポートしません。", "デバイスはオープンされませんでした。"}},
        {"chosen device missing", [](Rig& t) { t.ws.settings.recordUseMapper = 0; t.ws.settings.recordDeviceIndex = 5; },
         {"指定のデバイスＩＤが無効です。", "デバイスはオープンされませんでした。"}},
        {"prepare fails", [](Rig& t) { t.device.failures["prepare"] = mm::NoMemory; }, {"not Prepared!", "closed!"}},
        {"add fails busy", [](Rig& t) { t.device.failures["addBuffer"] = mm::HandleBusy; },
         {"MMSYSERR_HANDLEBUSY", "not Added!", "closed!"}},
        {"add fails unprepared", [](Rig& t) { t.device.failures["addBuffer"] = mm::Unprepared; },
         {"WAVERR_UNPREPARED", "not Added!", "closed!"}},
        {"add fails otherwise", [](Rig& t) { t.device.failures["addBuffer"] = mm::Error; }, {"not Added!", "closed!"}},
        {"start fails", [](Rig& t) { t.device.failures["start"] = mm::Error; }, {"not Started!", "closed!"}},
        {"close fails too", [](Rig& t) { t.device.failures["start"] = mm::Error; t.device.failures["close"] = mm::InvalidHandle; },
         {"not Started!", "MMSYSERR_INVALHANDLE", "not closed!"}, true},
        {"close fails at the end", [](Rig& t) { t.pressStart = false; t.device.failures["close"] = 99; },
         {"録音は行なわれませんでした。", "close other err", "not closed!"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig t;
        c.setUp(t);
        t.recorder.recordNewDocument();
        EXPECT_EQ(t.ui.texts(), c.texts);
        EXPECT_EQ(t.device.isOpen, c.leftOpen);
        EXPECT_TRUE(t.device.queue.empty());
        EXPECT_EQ(t.ws.capturing, 0);
        EXPECT_FALSE(t.ws.document.hasData());
    }
}

TEST_F(RecordingTest, DeviceLostDuringStandbyKeepsWhatWasStored)
{
    packets = 5;
    disappearAfter = 1;
    device.source = [](unsigned char* p, std::uint32_t n) { return fillSquare(p, n, 500); };
    recorder.recordNewDocument();
    EXPECT_TRUE(standbyClosedByDevice);
    ASSERT_EQ(ui.texts().size(), 1u);
    EXPECT_EQ(ui.texts()[0], "指定のデバイスドライバが見つかりません。");
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_EQ(ws.document.byteCount(), 2u * 16384u);
    EXPECT_FALSE(device.isOpen);
}

TEST_F(RecordingTest, FormatFromSettingsStoresBackOddChannelAndBitCounts)
{
    struct Case {
        int rateIndex;
        int customRate;
        int channels;
        int bits;
        bool valid;
        std::uint32_t rate;
        int storedChannels;
        int storedBits;
    };
    const Case cases[] = {
        {0, 0, 1, 8, true, 8000, 1, 8},
        {4, 0, 7, 12, true, 48000, 2, 16},
        {5, 96000, 2, 16, true, 96000, 2, 16},
        {5, -4, 1, 8, true, 1, 1, 8},
        {5, 0x7FFFFFFF, 2, 16, false, 0, 2, 16},
        {99, 0, 1, 16, false, 0, 1, 16},
        {-1, 0, 1, 16, false, 0, 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rateIndex * 1000 + c.channels * 100 + c.bits);
        Settings s{};
        applyDefaultSettings(s);
        s.recordRateIndex = c.rateIndex;
        s.recordCustomRate = c.customRate;
        s.recordChannels = c.channels;
        s.recordBits = c.bits;
        const auto f = recordFormatFromSettings(s);
        ASSERT_EQ(f.has_value(), c.valid);
        EXPECT_EQ(s.recordChannels, c.storedChannels);
        EXPECT_EQ(s.recordBits, c.storedBits);
        if (f) {
            EXPECT_EQ(f->nSamplesPerSec, c.rate);
            EXPECT_EQ(f->nBlockAlign, c.storedChannels * c.storedBits / 8);
            EXPECT_EQ(f->nAvgBytesPerSec, c.rate * f->nBlockAlign);
        }
    }
}

TEST_F(RecordingTest, StandbyCountersAndRecordingMark)
{
    packets = 11;
    ws.settings.recordSeconds = 2;
    const PixelImage* last = nullptr;
    recorder.hooks.levelChanged = [&] { last = recorder.levelPicture(); };
    recorder.hooks.standby = [&] {
        ASSERT_TRUE(recorder.openLevelPicture(40, 30));
        EXPECT_FALSE(recorder.openLevelPicture(40, 30)) << "one picture at a time";
        EXPECT_EQ(recorder.secondsText(), "0 秒");
        recorder.toggleCapturing();
        for (int i = 0; i < 11; ++i)
            device.completeNext();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(recorder.secondsText(), "1 秒");          // 180224 bytes
        EXPECT_EQ(recorder.kilobytesText(), "176 kB");
        EXPECT_EQ(last->pixel(3, 3).r, 255) << "storing: red square";
        EXPECT_EQ(last->pixel(9, 9).r, 255);
        EXPECT_EQ(last->pixel(10, 9).r, 0);
        EXPECT_STREQ(recorder.toggleCapturing(), kStartStoringLabel);
        device.completeNext();
        EXPECT_EQ(last->pixel(3, 3).r, 0) << "paused: no square";
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();
    EXPECT_EQ(ui.beeps.size(), 1u) << "the second picture request beeps";
    EXPECT_EQ(recorder.levelPicture(), nullptr);
}

} // namespace
} // namespace sonavik
