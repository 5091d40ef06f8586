#include "audio/record_settings.h"

#include "settings/settings.h"

#include <cstdio>

namespace sonavik {

namespace {

std::string formatted(const char* format, long long value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

constexpr std::uint32_t kRates[5] = {8000, 11025, 22050, 44100, 48000};

} // namespace

void normaliseRecordSettings(Settings& s)
{
    if (s.recordChannels != 2)
        s.recordChannels = 1;
    if (s.recordRateIndex < 0 || s.recordRateIndex > 4)
        s.recordRateIndex = 5;
    if (s.recordCustomRate <= 0)
        s.recordCustomRate = 1;
    if (s.recordBits != 16)
        s.recordBits = 8;
    if (s.recordSeconds < 0)
        s.recordSeconds = 0;
    if (s.recordPackets <= 0)
        s.recordPackets = 1;
    if (s.peakStereoType != 0)
        s.peakStereoType = 1;
}

std::optional<std::uint32_t> recordRateOf(const Settings& s)
{
    if (s.recordRateIndex >= 0 && s.recordRateIndex <= 4)
        return kRates[s.recordRateIndex];
    if (s.recordRateIndex == 5)
        return static_cast<std::uint32_t>(s.recordCustomRate);
    return std::nullopt;
}

MonitorControls monitorControls(bool stereo, bool waveTypeSelected)
{
    MonitorControls c;
    if (!stereo) {
        c.monoGroup = c.monoWave = true;
        return c;
    }
    c.stereoGroup = c.waveType = c.lissajousType = true;
    c.stereoWave = waveTypeSelected;
    c.lissajous = c.lissajousDecor = !waveTypeSelected;
    return c;
}

std::string recordPacketUnitText(std::size_t pageSize)
{
    return formatted("%lld X", static_cast<long long>(pageSize));
}

std::string recordPacketTotalText(std::int32_t packets, std::size_t pageSize)
{
    return formatted("= %lld ﾊﾞｲﾄ", static_cast<long long>(packets) * static_cast<long long>(pageSize));
}

std::string standbyChannelsText(std::int32_t recordChannels)
{
    return recordChannels == 1 ? "1（モノラル）" : "2（ステレオ）";
}

std::string standbyRateText(std::uint32_t rate) { return formatted("%lld Hz", rate); }

std::string standbyBitsText(std::int32_t recordBits) { return recordBits == 8 ? "8 bit" : "16 bit"; }

std::string standbyLimitText(std::int32_t recordSeconds)
{
    return formatted("%lld 秒", recordSeconds < 0 ? 0 : recordSeconds);
}

} // namespace sonavik
