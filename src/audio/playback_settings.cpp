#include "audio/playback_settings.h"

#include "document/sound_document.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace sonavik {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string formatted(const char* format, long long value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::int32_t typedNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<std::int32_t>::max())
            value = static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::uint32_t typedFixed16(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i < text.size() && text[i] == '-')
        return 0;
    if (i < text.size() && text[i] == '+')
        ++i;
    std::uint32_t whole = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        whole = std::min<std::uint32_t>(whole * 10 + static_cast<std::uint32_t>(text[i] - '0'), 65535);
    // The fraction is taken from its digits exactly, so "1.5" gives 0x8000 with no rounding in between.
    std::uint64_t numerator = 0;
    std::uint64_t denominator = 1;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (denominator >= 100000000000000ull)
                continue;  // digits this far down no longer change the low 16 bits
            numerator = numerator * 10 + static_cast<std::uint64_t>(text[i] - '0');
            denominator *= 10;
        }
    }
    const auto fraction = static_cast<std::uint32_t>(numerator * 65536 / denominator);
    return (whole << 16) | (fraction & 0xFFFF);
}

std::string fixed16Text(std::uint32_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4lf", (value >> 16) + (value & 0xFFFF) / 65536.0);
    return text;
}

std::int32_t packetsOrOne(std::int32_t packets) { return packets < 1 ? 1 : packets; }

std::string playPacketUnitText(std::size_t pageSize)
{
    return formatted("%lld bytes ×", static_cast<long long>(pageSize));
}

std::string playPacketTotalText(std::int32_t packets, std::size_t pageSize)
{
    return formatted("＝ %lld bytes", static_cast<long long>(packets) * static_cast<long long>(pageSize));
}

bool storeDeviceName(char (&field)[32], std::string_view name)
{
    if (name.size() > sizeof field - 1)
        return false;
    for (std::size_t i = 0; i < sizeof field; ++i)
        field[i] = i < name.size() ? name[i] : '\0';
    return true;
}

std::string deviceNameOf(const char (&field)[32])
{
    std::size_t n = 0;
    while (n < sizeof field && field[n] != '\0')
        ++n;
    return std::string(field, n);
}

std::string badDeviceText(int index) { return formatted("ID=%lld のデバドラが異常です。", index); }

std::vector<std::string> deviceListNames(Ui& ui, int count, const std::function<int(int, WaveDeviceCaps&)>& capabilitiesOf)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        WaveDeviceCaps caps;
        if (capabilitiesOf(i, caps) != mm::NoError) {
            caps.name = badDeviceText(i);
            ui.beep(BeepKind::Error);
            showError(ui, caps.name);
        }
        names.push_back(caps.name);
    }
    return names;
}

bool setDocumentRate(SoundDocument& document, std::int32_t rate)
{
    const auto newRate = static_cast<std::uint32_t>(rate < 1 ? 1 : rate);
    WaveFormat& f = document.format;
    const bool changed = f.nSamplesPerSec != newRate;
    f.nSamplesPerSec = newRate;
    f.nBlockAlign = static_cast<std::uint16_t>(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * newRate;
    return changed;
}

PlayDeviceControls playDeviceControls(const Settings& s, std::optional<std::uint32_t> capabilities)
{
    PlayDeviceControls c;
    if (!capabilities)
        return c;
    const std::uint32_t caps = *capabilities;
    const bool useDevice = s.playUseDeviceSettings == 1;
    c.useDeviceEnabled = true;
    c.storeEnabled = s.playUseDeviceSettings == 0;
    c.pitchText = caps & kCapsPitch ? fixed16Text(s.playPitch) : kNotSupported;
    c.rateText = caps & kCapsPlaybackRate ? fixed16Text(s.playRate) : kNotSupported;
    const bool both = caps & kCapsLrVolume;
    const bool one = both || (caps & kCapsVolume);
    c.leftText = one ? formatted("%lld", s.playVolumeLeft) : kNotSupported;
    c.rightText = both ? formatted("%lld", s.playVolumeRight) : kNotSupported;
    c.pitchEnabled = !useDevice && (caps & kCapsPitch);
    c.rateEnabled = !useDevice && (caps & kCapsPlaybackRate);
    c.leftEnabled = !useDevice && (caps & kCapsVolume);
    c.rightEnabled = s.playUseDeviceSettings == 0 && both;
    return c;
}

int entryForName(const std::string& stored, const std::string* names, int count, bool* found)
{
    for (int i = 0; i < count; ++i) {
        if (names[i] == stored) {
            if (found)
                *found = true;
            return i;
        }
    }
    if (found)
        *found = false;
    return 0;
}

} // namespace sonavik
