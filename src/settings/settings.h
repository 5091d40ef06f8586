#pragma once
// Every persistent option, as one fixed 6000-byte little-endian record. parameter.ini is this record's
// memory image, byte for byte, so the layout below is the file format: never reorder or resize a field.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace sonavik {

class Ui;

static_assert(std::endian::native == std::endian::little, "parameter.ini is the little-endian image of Settings");

// One control point of a drawn curve: the grey position is used at alpha 0, the edited one at alpha 1.
struct CurvePoint {
    std::int32_t state;  // 0 inactive slot, 1 active, 2 edited position dragged, 3 grey position dragged
    std::int32_t padding;
    double xGray;
    double yGray;
    double x;
    double y;
};
static_assert(sizeof(CurvePoint) == 40);

inline constexpr int kCurvePoints = 20;

// The block a curve dialog hands to the curve editor.
struct CurveData {
    CurvePoint points[kCurvePoints];
    std::int32_t verticalScale;    // equaliser: eqGainLog
    std::int32_t horizontalScale;  // equaliser: eqFrequencyLog
    std::int32_t displayKind;      // 1 equaliser, 2 nonlinear, 3 reverb
    std::int32_t kindValue;        // eqFftSize, nonlinearMode or reverbTimeStep
    std::int32_t further[3];       // the dialog's own fields (reverbRatio, reverbSmoothing)
    std::int32_t padding;
    double linearGainSpan;         // equaliser: eqLinearGainSpan
};
static_assert(sizeof(CurveData) == 840);

struct Settings {
    char openDir[1024];
    char saveDir[1024];
    std::int32_t unused0800;
    std::int32_t windowX;
    std::int32_t windowY;
    std::int32_t clientWidth;
    std::int32_t clientHeight;
    std::int32_t toolbarHeight;
    std::int32_t bigButtonWidth;
    std::int32_t sideBarWidth;
    std::int32_t statusBarHeight;
    std::int32_t leftMarginWidth;
    std::int32_t alphaBandHeight;
    std::int32_t rulerHeight;
    std::uint32_t leftWaveColour;   // red in the low byte
    std::uint32_t rightWaveColour;
    std::int32_t spectrogramButtonsWidth;
    std::int32_t spectrogramAxisWidth;
    std::int32_t spectrogramAxisHeight;
    std::int32_t spectrogramStatusHeight;
    double spectrogramBlue;
    double spectrogramGreen;
    double spectrogramRed;

    char recordDeviceName[32];
    std::int32_t recordUseMapper;
    std::int32_t recordDeviceIndex;
    std::int32_t recordSeconds;
    std::int32_t recordOnlyWhenSound;
    std::int32_t peakMonoWave;
    std::int32_t peakStereoWave;
    std::int32_t peakLissajous;
    std::int32_t peakLissajousDecor;
    std::int32_t peakStereoType;
    std::int32_t recordPackets;
    std::int32_t unused08A8;
    std::int32_t recordRateIndex;
    std::int32_t recordCustomRate;
    std::int32_t recordBits;
    std::int32_t recordChannels;

    char playDeviceName[32];
    std::int32_t playUseMapper;
    std::int32_t playDeviceIndex;
    std::uint32_t playRate;   // 16.16 fixed point
    std::uint32_t playPitch;  // 16.16 fixed point
    std::int32_t playVolumeLeft;
    std::int32_t playVolumeRight;
    std::int32_t playUseDeviceSettings;
    std::int32_t playStoreInDevice;
    std::int32_t playButtonLoops;
    std::int32_t playPackets;
    std::int32_t unused0904;

    std::int32_t coarseBits;
    std::int32_t unused090C;
    std::int32_t eqWindow;
    std::int32_t padding0914;
    CurveData eq;
    std::int32_t unused0C60[6];
    std::int32_t fftLength;
    std::int32_t fftWindow;
    std::int32_t fftApplyAlpha;
    std::int32_t padding0C84;
    CurveData nonlinear;
    std::int32_t unused0FD0[6];
    std::int32_t applyTreatMissingAlphaAsFull;
    std::int32_t applyUseAlpha;
    std::int32_t applyGreen;
    std::int32_t applyBlue;
    std::int32_t applyLeft;
    std::int32_t applyRight;
    std::int32_t applyNewPosition;
    std::int32_t applyStart;
    CurveData reverb;
    std::int32_t unused1350[4];
    // Our own, in a word nothing else reads: how many MiB the edit history may hold on disk before its
    // oldest states go (zero, as the defaults leave it, or less: the history's own default).
    std::int32_t historyLimitMiB;
    // Our own, in the last word of a block that nothing else reads: the lossy export quality + 1
    // (zero, as the defaults leave it, stands for the default quality).
    std::int32_t exportQualityPlusOne;
    std::int32_t processingTarget;
    char responsePath[1024];
    // Our own, in the record's last four bytes, which nothing else uses: how many harmonics "倍音も"
    // takes. Zero (the defaults leave it so) or out of range stands for kDefaultHarmonics.
    std::int32_t spectralHarmonics;

    // Fields that live inside the curve blocks, under the names the dialogs use.
    std::int32_t& eqGainLog() { return eq.verticalScale; }
    std::int32_t& eqFrequencyLog() { return eq.horizontalScale; }
    std::int32_t& eqFftSize() { return eq.kindValue; }
    double& eqLinearGainSpan() { return eq.linearGainSpan; }
    std::int32_t& nonlinearMode() { return nonlinear.kindValue; }
    std::int32_t& reverbTimeStep() { return reverb.kindValue; }
    std::int32_t& reverbRatio() { return reverb.further[0]; }
    std::int32_t& reverbSmoothing() { return reverb.further[1]; }
    std::int32_t eqGainLog() const { return eq.verticalScale; }
    std::int32_t eqFrequencyLog() const { return eq.horizontalScale; }
    std::int32_t eqFftSize() const { return eq.kindValue; }
    double eqLinearGainSpan() const { return eq.linearGainSpan; }
    std::int32_t nonlinearMode() const { return nonlinear.kindValue; }
    std::int32_t reverbTimeStep() const { return reverb.kindValue; }
    std::int32_t reverbRatio() const { return reverb.further[0]; }
    std::int32_t reverbSmoothing() const { return reverb.further[1]; }
};

static_assert(sizeof(Settings) == 6000);
static_assert(offsetof(Settings, historyLimitMiB) == 0x1360);
static_assert(offsetof(Settings, exportQualityPlusOne) == 0x1364);
// Every byte pattern is a valid record (no bool or enum members), so a file of garbage can be copied in.
static_assert(std::is_trivially_copyable_v<Settings> && std::is_standard_layout_v<Settings>);
static_assert(offsetof(Settings, unused0800) == 0x0800);
static_assert(offsetof(Settings, saveDir) == 0x0400);
static_assert(offsetof(Settings, windowX) == 0x0804);
static_assert(offsetof(Settings, rulerHeight) == 0x082C);
static_assert(offsetof(Settings, spectrogramButtonsWidth) == 0x0838);
static_assert(offsetof(Settings, spectrogramBlue) == 0x0848);
static_assert(offsetof(Settings, recordDeviceName) == 0x0860);
static_assert(offsetof(Settings, recordUseMapper) == 0x0880);
static_assert(offsetof(Settings, recordChannels) == 0x08B8);
static_assert(offsetof(Settings, playDeviceName) == 0x08BC);
static_assert(offsetof(Settings, playUseMapper) == 0x08DC);
static_assert(offsetof(Settings, unused0904) == 0x0904);
static_assert(offsetof(Settings, coarseBits) == 0x0908);
static_assert(offsetof(Settings, eqWindow) == 0x0910);
static_assert(offsetof(Settings, eq) == 0x0918);
static_assert(offsetof(Settings, eq) + offsetof(CurveData, verticalScale) == 0x0C38);
static_assert(offsetof(Settings, eq) + offsetof(CurveData, kindValue) == 0x0C44);
static_assert(offsetof(Settings, eq) + offsetof(CurveData, linearGainSpan) == 0x0C58);
static_assert(offsetof(Settings, fftLength) == 0x0C78);
static_assert(offsetof(Settings, fftApplyAlpha) == 0x0C80);
static_assert(offsetof(Settings, nonlinear) == 0x0C88);
static_assert(offsetof(Settings, nonlinear) + offsetof(CurveData, verticalScale) == 0x0FA8);
static_assert(offsetof(Settings, nonlinear) + offsetof(CurveData, displayKind) == 0x0FB0);
static_assert(offsetof(Settings, nonlinear) + offsetof(CurveData, linearGainSpan) == 0x0FC8);
static_assert(offsetof(Settings, applyTreatMissingAlphaAsFull) == 0x0FE8);
static_assert(offsetof(Settings, applyStart) == 0x1004);
static_assert(offsetof(Settings, reverb) == 0x1008);
static_assert(offsetof(Settings, reverb) + offsetof(CurveData, verticalScale) == 0x1328);
static_assert(offsetof(Settings, reverb) + offsetof(CurveData, displayKind) == 0x1330);
static_assert(offsetof(Settings, reverb) + offsetof(CurveData, kindValue) == 0x1334);
static_assert(offsetof(Settings, reverb) + offsetof(CurveData, further) == 0x1338);
static_assert(offsetof(Settings, processingTarget) == 0x1368);
static_assert(offsetof(Settings, responsePath) == 0x136C);
static_assert(offsetof(Settings, spectralHarmonics) == 0x176C);

inline constexpr const char* kSettingsFileName = "parameter.ini";

// Text of a fixed string field; a field with no terminating NUL is cut at its size.
template <std::size_t N>
std::string fieldText(const char (&field)[N])
{
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string(field, n);
}

// Stores text into a fixed field, cut to N - 1 bytes so that the field stays terminated.
template <std::size_t N>
void setFieldText(char (&field)[N], const std::string& text)
{
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// Zeroes the whole record, then sets every field that has a non-zero default.
void applyDefaultSettings(Settings& settings);

// The program directory with its trailing separator, or empty after a failure (shown through ui,
// caption "Error"). exePath is the executable's own path; when its folder cannot be written, the
// per-user configuration folder is used instead.
std::string findProgramDir(Ui& ui, const std::string& exePath);

// The fallback step of findProgramDir: the executable's folder unless it is read-only (a system-wide
// install) and a per-user folder is known.
std::string chooseProgramDir(const std::string& exeDir, bool exeDirWritable, const std::string& userDir);

// Reads programDir + parameter.ini; on any failure shows the message, applies the defaults and writes
// the file. Returns true when the file was read.
bool loadSettings(Settings& settings, const std::string& programDir, Ui& ui);
// The first 6000 bytes of a settings file, string fields cut at their size; no message, nothing written.
// settings is unchanged unless the result is Ok.
enum class SettingsRead { Ok, Missing, Short };
SettingsRead readSettingsFile(const std::string& path, Settings& settings);
// Writes the 6000-byte image; a failure leaves any earlier file as it was.
bool saveSettings(const Settings& settings, const std::string& programDir, Ui& ui);

// The layout sizes as the window and the views use them. Each field has a range; outside it (a damaged
// or hand-made file) the field stands for its default, so no file can ask for negative, overflowing or
// larger-than-any-screen margins, bars or pictures.
struct LayoutSizes {
    int clientWidth;
    int clientHeight;
    int toolbarHeight;
    int bigButtonWidth;
    int sideBarWidth;
    int statusBarHeight;
    int leftMarginWidth;
    int alphaBandHeight;
    int rulerHeight;
    int spectrogramButtonsWidth;
    int spectrogramAxisWidth;
    int spectrogramAxisHeight;
    int spectrogramStatusHeight;
};
LayoutSizes layoutSizes(const Settings& settings);
// Puts the default back into every layout field outside its range, so the file written at exit is sane.
void limitLayoutFields(Settings& settings);

// How many harmonics above the band "倍音も" takes: 1 ... kMaxHarmonics, kDefaultHarmonics for any
// other stored value.
inline constexpr int kDefaultHarmonics = 8;
inline constexpr int kMaxHarmonics = 999;
int harmonicCount(const Settings& settings);

// The edit history's size limit in bytes; 0 for its default.
std::uint64_t historyLimitBytes(const Settings& settings);

struct WindowGeometry {
    int x;
    int y;
    int width;
    int height;
};

inline constexpr int kMinWindowExtent = 160;
inline constexpr int kMaxWindowExtent = 16384;
inline constexpr int kMaxWindowOffset = 16384;

// The main window's position and client size from the settings, limited so that a damaged file cannot
// ask for a window that is off every screen, empty or too large to allocate.
WindowGeometry clampWindowGeometry(const Settings& settings);

} // namespace sonavik
