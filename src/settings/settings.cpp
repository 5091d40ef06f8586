#include "settings/settings.h"

#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sonavik {

namespace {

constexpr std::size_t kProgramDirCapacity = 1024;

void setPoint(CurvePoint& point, double xGray, double yGray, double x, double y)
{
    point.state = 1;
    point.xGray = xGray;
    point.yGray = yGray;
    point.x = x;
    point.y = y;
}

void showStartupError(Ui& ui, const std::string& text)
{
    ui.messageBox({text, "Error", MessageIcon::None, MessageButtons::Ok, MessageOwner::None});
}

void showFileError(Ui& ui, const std::string& path, const char* caption)
{
    ui.messageBox({path, caption, MessageIcon::Error, MessageButtons::Ok, MessageOwner::None});
}

// The file may hold anything; later code uses these fields as C strings.
void terminateStringFields(Settings& settings)
{
    settings.openDir[sizeof settings.openDir - 1] = '\0';
    settings.saveDir[sizeof settings.saveDir - 1] = '\0';
    settings.recordDeviceName[sizeof settings.recordDeviceName - 1] = '\0';
    settings.playDeviceName[sizeof settings.playDeviceName - 1] = '\0';
    settings.responsePath[sizeof settings.responsePath - 1] = '\0';
}

struct LayoutField {
    std::int32_t Settings::*field;
    int LayoutSizes::*size;
    int min;
    int max;
    int fallback;
};

// The window and its pictures are at most kMaxWindowExtent square; nothing inside them needs more.
constexpr LayoutField kLayoutFields[] = {
    {&Settings::clientWidth, &LayoutSizes::clientWidth, kMinWindowExtent, kMaxWindowExtent, 600},
    {&Settings::clientHeight, &LayoutSizes::clientHeight, kMinWindowExtent, kMaxWindowExtent, 400},
    {&Settings::toolbarHeight, &LayoutSizes::toolbarHeight, 2, 512, 48},
    {&Settings::bigButtonWidth, &LayoutSizes::bigButtonWidth, 1, 1024, 60},
    {&Settings::sideBarWidth, &LayoutSizes::sideBarWidth, 0, 1024, 32},
    {&Settings::statusBarHeight, &LayoutSizes::statusBarHeight, 0, 512, 24},
    {&Settings::leftMarginWidth, &LayoutSizes::leftMarginWidth, 0, 1024, 64},
    // The band needs a top and a bottom row between its two frame lines.
    {&Settings::alphaBandHeight, &LayoutSizes::alphaBandHeight, 3, 512, 32},
    {&Settings::rulerHeight, &LayoutSizes::rulerHeight, 0, 512, 32},
    {&Settings::spectrogramButtonsWidth, &LayoutSizes::spectrogramButtonsWidth, 0, 1024, 48},
    {&Settings::spectrogramAxisWidth, &LayoutSizes::spectrogramAxisWidth, 0, 1024, 64},
    {&Settings::spectrogramAxisHeight, &LayoutSizes::spectrogramAxisHeight, 0, 1024, 64},
    {&Settings::spectrogramStatusHeight, &LayoutSizes::spectrogramStatusHeight, 0, 1024, 64},
};

int limitedValue(const LayoutField& f, std::int32_t value)
{
    return value < f.min || value > f.max ? f.fallback : value;
}

} // namespace

LayoutSizes layoutSizes(const Settings& settings)
{
    LayoutSizes sizes{};
    for (const LayoutField& f : kLayoutFields)
        sizes.*f.size = limitedValue(f, settings.*f.field);
    return sizes;
}

void limitLayoutFields(Settings& settings)
{
    for (const LayoutField& f : kLayoutFields)
        settings.*f.field = limitedValue(f, settings.*f.field);
}

void applyDefaultSettings(Settings& settings)
{
    std::memset(&settings, 0, sizeof settings);

    settings.unused0800 = 20;
    settings.windowX = 10;
    settings.windowY = 10;
    settings.clientWidth = 600;
    settings.clientHeight = 400;
    settings.toolbarHeight = 48;
    settings.bigButtonWidth = 60;
    settings.sideBarWidth = 32;
    settings.statusBarHeight = 24;
    settings.leftMarginWidth = 64;
    settings.alphaBandHeight = 32;
    settings.rulerHeight = 32;
    settings.leftWaveColour = 0xFFEEBB;
    settings.rightWaveColour = 0xEEBBFF;
    settings.spectrogramButtonsWidth = 48;
    settings.spectrogramAxisWidth = 64;
    settings.spectrogramAxisHeight = 64;
    settings.spectrogramStatusHeight = 64;
    settings.spectrogramBlue = 0.1;
    settings.spectrogramGreen = 0.3;
    settings.spectrogramRed = 1.0;

    settings.recordUseMapper = 1;
    settings.recordSeconds = 60;
    settings.peakMonoWave = 1;
    settings.peakStereoWave = 1;
    settings.peakLissajous = 1;
    settings.recordPackets = 4;
    settings.unused08A8 = 1;
    settings.recordRateIndex = 3;
    settings.recordCustomRate = 96000;
    settings.recordBits = 16;
    settings.recordChannels = 2;

    settings.playUseMapper = 1;
    settings.playRate = 0x10000;
    settings.playPitch = 0x10000;
    settings.playVolumeLeft = 0xFFFF;
    settings.playVolumeRight = 0xFFFF;
    settings.playUseDeviceSettings = 1;
    settings.playPackets = 2;
    settings.unused0904 = 1;

    settings.coarseBits = 4;
    settings.unused090C = 1;

    settings.eqGainLog() = 1;
    settings.eqFrequencyLog() = 1;
    settings.eq.displayKind = 1;
    settings.eqFftSize() = 4096;
    settings.eqLinearGainSpan() = 1.0;

    settings.fftLength = 4096;

    setPoint(settings.nonlinear.points[0], 0.0, 1.0, 0.0, 1.0);
    setPoint(settings.nonlinear.points[1], 0.5, 0.5, 0.5, 0.5);
    setPoint(settings.nonlinear.points[2], 1.0, 0.0, 1.0, 0.0);
    settings.nonlinear.verticalScale = 1;
    settings.nonlinear.horizontalScale = 1;
    settings.nonlinear.displayKind = 2;

    settings.applyTreatMissingAlphaAsFull = 1;
    settings.applyLeft = 1;

    setPoint(settings.reverb.points[0], 0.0, 0.0, 0.0, 0.0);
    setPoint(settings.reverb.points[1], 0.15, 0.1, 0.15, 0.1);
    setPoint(settings.reverb.points[2], 0.51, 0.71, 0.51, 0.71);
    setPoint(settings.reverb.points[3], 1.0, 1.0, 1.0, 1.0);
    settings.reverb.verticalScale = 1;
    settings.reverb.horizontalScale = 1;
    settings.reverb.displayKind = 3;
    settings.reverbTimeStep() = 5;
    settings.reverbRatio() = 30;
    settings.reverbSmoothing() = 5;
}

std::string chooseProgramDir(const std::string& exeDir, bool exeDirWritable, const std::string& userDir)
{
    if (exeDirWritable || userDir.empty())
        return exeDir;
    return userDir;
}

std::string findProgramDir(Ui& ui, const std::string& exePath)
{
    if (exePath.empty()) {
        showStartupError(ui, "コマンドラインがありません");
        return {};
    }
    std::size_t slash = exePath.rfind(kDirSeparator);
    if (slash == std::string::npos) {
        showStartupError(ui, "コマンドラインが不正です(2)");
        return {};
    }
    std::string dir = exePath.substr(0, slash + 1);
    if (dir.size() + 1 > kProgramDirCapacity) {
        showStartupError(ui, "バッファの長さが足りません");
        return {};
    }
    // Only ask for the per-user folder when it is needed: asking creates it.
    bool writable = isWritableDirectory(dir);
    return chooseProgramDir(dir, writable, writable ? std::string() : userConfigDir());
}

SettingsRead readSettingsFile(const std::string& path, Settings& settings)
{
    // Read into a copy so that a short file does not leave half a record behind. A link is refused like
    // a missing file; a fifo or a device like a damaged one, without waiting on it.
    Settings loaded;
    const long long got = readRegularFile(path, &loaded, sizeof loaded);
    if (got < 0)
        return SettingsRead::Missing;
    if (got != static_cast<long long>(sizeof loaded))
        return SettingsRead::Short;
    terminateStringFields(loaded);
    limitLayoutFields(loaded);
    settings = loaded;
    return SettingsRead::Ok;
}

bool loadSettings(Settings& settings, const std::string& programDir, Ui& ui)
{
    std::string path = programDir + kSettingsFileName;
    switch (readSettingsFile(path, settings)) {
    case SettingsRead::Ok:
        return true;
    case SettingsRead::Missing:
        showFileError(ui, path, "Not Found");
        break;
    case SettingsRead::Short:
        showFileError(ui, path, "Data Error");
        break;
    }
    applyDefaultSettings(settings);
    saveSettings(settings, programDir, ui);
    return false;
}

bool saveSettings(const Settings& settings, const std::string& programDir, Ui& ui)
{
    std::string path = programDir + kSettingsFileName;
    SafeFileWriter writer(path, SafeFileWriter::Links::Refuse);
    if (!writer.open()) {
        showFileError(ui, path, "Write Error");
        return false;
    }
    if (!writer.reserve(sizeof settings) || !writer.write(&settings, sizeof settings) || !writer.commit()) {
        showFileError(ui, path, "Disk Quota Error");
        return false;
    }
    return true;
}

int harmonicCount(const Settings& settings)
{
    const std::int32_t n = settings.spectralHarmonics;
    return n >= 1 && n <= kMaxHarmonics ? n : kDefaultHarmonics;
}

std::uint64_t historyLimitBytes(const Settings& settings)
{
    const std::int32_t mib = settings.historyLimitMiB;
    return mib > 0 ? static_cast<std::uint64_t>(mib) << 20 : 0;
}

WindowGeometry clampWindowGeometry(const Settings& settings)
{
    return {std::clamp(settings.windowX, -kMaxWindowOffset, kMaxWindowOffset),
            std::clamp(settings.windowY, -kMaxWindowOffset, kMaxWindowOffset),
            std::clamp(settings.clientWidth, kMinWindowExtent, kMaxWindowExtent),
            std::clamp(settings.clientHeight, kMinWindowExtent, kMaxWindowExtent)};
}

} // namespace sonavik
