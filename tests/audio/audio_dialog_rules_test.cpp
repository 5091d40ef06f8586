#include "audio/playback_settings.h"
#include "audio/play_position.h"
#include "audio/record_settings.h"
#include "document/sound_document.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace sonavik {
namespace {

Settings defaults()
{
    Settings s;
    applyDefaultSettings(s);
    return s;
}

TEST(PlaybackSettingsRules, TypedTextBecomesStoredValues)
{
    struct Fixed {
        const char* text;
        std::uint32_t value;
    };
    const Fixed fixed[] = {
        {"1.5", 0x00018000}, {"1", 0x00010000}, {"0.25", 0x00004000}, {" 2.0001", 0x00020006},
        {"0.99999999", 0x0000FFFF}, {"", 0}, {"abc", 0}, {"-1.5", 0}, {"70000.5", 0xFFFF8000},
    };
    for (const Fixed& f : fixed)
        EXPECT_EQ(typedFixed16(f.text), f.value) << f.text;
    EXPECT_EQ(fixed16Text(0x00018000), "1.5000");
    EXPECT_EQ(fixed16Text(typedFixed16("0.3333")), "0.3333");

    struct Number {
        const char* text;
        std::int32_t value;
    };
    const Number numbers[] = {{"42", 42}, {" -7", -7}, {"12abc", 12}, {"x", 0}, {"99999999999", 2147483647},
                              {"-99999999999", -2147483647 - 1}};
    for (const Number& n : numbers)
        EXPECT_EQ(typedNumber(n.text), n.value) << n.text;
}

TEST(PlaybackSettingsRules, SampleRateChangeKeepsTheFormatConsistent)
{
    struct Case {
        std::int32_t typed;
        std::uint32_t stored;
        bool changed;
    };
    const Case cases[] = {{0, 1, true}, {-5, 1, true}, {44100, 44100, false}, {22050, 22050, true}};
    for (const Case& c : cases) {
        SoundDocument doc;
        doc.format = {1, 2, 44100, 176400, 4, 16, 0};
        EXPECT_EQ(setDocumentRate(doc, c.typed), c.changed) << c.typed;
        EXPECT_EQ(doc.format.nSamplesPerSec, c.stored);
        EXPECT_EQ(doc.format.nBlockAlign, 4);
        EXPECT_EQ(doc.format.nAvgBytesPerSec, 4 * c.stored);
    }
}

TEST(PlaybackSettingsRules, DeviceNamesLongerThanTheFieldAreRefused)
{
    Settings s = defaults();
    EXPECT_TRUE(storeDeviceName(s.playDeviceName, std::string(31, 'a')));
    EXPECT_EQ(deviceNameOf(s.playDeviceName), std::string(31, 'a'));
    EXPECT_FALSE(storeDeviceName(s.playDeviceName, std::string(32, 'b')));
    EXPECT_EQ(deviceNameOf(s.playDeviceName), std::string(31, 'a'));
    // Eleven three-byte characters need 33 bytes.
    EXPECT_FALSE(storeDeviceName(s.playDeviceName, "ああああああああああああ"));
    EXPECT_TRUE(storeDeviceName(s.playDeviceName, "内蔵オーディオ"));
    EXPECT_EQ(deviceNameOf(s.playDeviceName), "内蔵オーディオ");

    const std::string names[] = {"Null Output", "内蔵オーディオ", "USB"};
    bool found = false;
    EXPECT_EQ(entryForName("内蔵オーディオ", names, 3, &found), 1);
    EXPECT_TRUE(found);
    EXPECT_EQ(entryForName("gone", names, 3, &found), 0);
    EXPECT_FALSE(found);
    EXPECT_EQ(badDeviceText(3), "ID=3 のデバドラが異常です。");
}

TEST(PlaybackSettingsRules, DeviceControlsFollowCapabilitiesAndUseDeviceSettings)
{
    struct Case {
        std::optional<std::uint32_t> caps;
        int useDevice;
        const char* pitch;
        const char* left;
        const char* right;
        // pitch, rate, left, right, 1230, 1231
        bool enabled[6];
    };
    const Case cases[] = {
        {std::nullopt, 0, "", "", "", {false, false, false, false, false, false}},
        {kCapsVolume, 0, "Not Supported", "65535", "Not Supported", {false, false, true, false, true, true}},
        {kCapsVolume, 1, "Not Supported", "65535", "Not Supported", {false, false, false, false, true, false}},
        {kCapsPitch | kCapsPlaybackRate | kCapsVolume | kCapsLrVolume, 0, "1.5000", "65535", "4096",
         {true, true, true, true, true, true}},
        {kCapsPitch | kCapsPlaybackRate | kCapsVolume | kCapsLrVolume, 1, "1.5000", "65535", "4096",
         {false, false, false, false, true, false}},
        {0, 0, "Not Supported", "Not Supported", "Not Supported", {false, false, false, false, true, true}},
    };
    for (const Case& c : cases) {
        Settings s = defaults();
        s.playPitch = 0x00018000;
        s.playVolumeRight = 4096;
        s.playUseDeviceSettings = c.useDevice;
        const PlayDeviceControls d = playDeviceControls(s, c.caps);
        SCOPED_TRACE(c.caps ? static_cast<int>(*c.caps) : -1);
        EXPECT_EQ(d.pitchText, c.pitch);
        EXPECT_EQ(d.leftText, c.left);
        EXPECT_EQ(d.rightText, c.right);
        const bool got[6] = {d.pitchEnabled, d.rateEnabled, d.leftEnabled, d.rightEnabled, d.useDeviceEnabled, d.storeEnabled};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(got[i], c.enabled[i]) << "control " << i;
    }
}

TEST(PlaybackSettingsRules, PacketTexts)
{
    EXPECT_EQ(packetsOrOne(-3), 1);
    EXPECT_EQ(packetsOrOne(0), 1);
    EXPECT_EQ(packetsOrOne(5), 5);
    EXPECT_EQ(playPacketUnitText(4096), "4096 bytes ×");
    EXPECT_EQ(playPacketTotalText(2, 4096), "＝ 8192 bytes");
    EXPECT_EQ(recordPacketUnitText(4096), "4096 X");
    EXPECT_EQ(recordPacketTotalText(4, 4096), "= 16384 ﾊﾞｲﾄ");
}

TEST(RecordSettingsRules, DamagedFieldsAreBroughtIntoRange)
{
    Settings s = defaults();
    s.recordChannels = 7;
    s.recordRateIndex = 99;
    s.recordCustomRate = -4;
    s.recordBits = 12;
    s.recordSeconds = -60;
    s.recordPackets = -2;
    s.peakStereoType = 9;
    normaliseRecordSettings(s);
    EXPECT_EQ(s.recordChannels, 1);
    EXPECT_EQ(s.recordRateIndex, 5);
    EXPECT_EQ(s.recordCustomRate, 1);
    EXPECT_EQ(s.recordBits, 8);
    EXPECT_EQ(s.recordSeconds, 0);
    EXPECT_EQ(s.recordPackets, 1);
    EXPECT_EQ(s.peakStereoType, 1);
}

TEST(RecordSettingsRules, MonitorControlsAndStandbyTexts)
{
    const MonitorControls mono = monitorControls(false, true);
    EXPECT_TRUE(mono.monoGroup && mono.monoWave);
    EXPECT_FALSE(mono.stereoGroup || mono.stereoWave || mono.lissajous || mono.lissajousDecor || mono.waveType ||
                 mono.lissajousType);
    const MonitorControls wave = monitorControls(true, true);
    EXPECT_FALSE(wave.monoGroup || wave.monoWave || wave.lissajous || wave.lissajousDecor);
    EXPECT_TRUE(wave.stereoGroup && wave.stereoWave && wave.waveType && wave.lissajousType);
    const MonitorControls figure = monitorControls(true, false);
    EXPECT_FALSE(figure.stereoWave);
    EXPECT_TRUE(figure.lissajous && figure.lissajousDecor);

    EXPECT_EQ(standbyChannelsText(1), "1（モノラル）");
    EXPECT_EQ(standbyChannelsText(2), "2（ステレオ）");
    EXPECT_EQ(standbyRateText(44100), "44100 Hz");
    EXPECT_EQ(standbyBitsText(8), "8 bit");
    EXPECT_EQ(standbyBitsText(16), "16 bit");
}

TEST(PlayPosition, FollowsTheRangeOnceOrAroundTheLoop)
{
    struct Case {
        std::int64_t first, last;
        std::uint64_t bytes;
        int block;
        bool loop;
        std::int64_t frame;
    };
    const Case cases[] = {
        {100, 199, 0, 4, false, 100},   {100, 199, 399, 4, false, 199},  {100, 199, 400, 4, false, 199},
        {100, 199, 4000, 4, false, 199}, {100, 109, 40, 4, true, 100},   {100, 109, 44, 4, true, 101},
        {0, 9, 1000, 1, true, 0},        {5, 4, 0, 1, false, -1},        {0, 9, 8, 0, false, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(playedFrame(c.first, c.last, c.bytes, c.block, c.loop), c.frame)
            << c.first << ".." << c.last << " after " << c.bytes;
}

} // namespace
} // namespace sonavik
