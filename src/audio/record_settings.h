#pragma once
// The rules of the record settings dialog "録音" without its widgets: the values it starts from, which
// monitor controls are usable, its packet texts, and the format it tests.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sonavik {

struct Settings;

inline constexpr const char* kNoInputDevice = "デバイスが行方不明です。";
inline constexpr const char* kFormatSupported = "このフォーマットはサポートされています";

// Brings the dialog's fields into the ranges its controls can show, storing the result: one or two
// channels, a rate index 0 to 5, a custom rate of at least 1, 8 or 16 bits, no negative seconds, at least
// one packet, a stereo type of 0 or 1.
void normaliseRecordSettings(Settings& settings);

// The sample rate of a rate index (5 = recordCustomRate); nullopt for any other index.
std::optional<std::uint32_t> recordRateOf(const Settings& settings);

// Group 1005 and the check boxes and radio buttons of the level picture's options.
struct MonitorControls {
    bool monoGroup = false;       // 1005
    bool monoWave = false;        // 1006
    bool stereoGroup = false;     // 1007
    bool stereoWave = false;      // 1008
    bool lissajous = false;       // 1009
    bool lissajousDecor = false;  // 1010
    bool waveType = false;        // 1066
    bool lissajousType = false;   // 1067
};
MonitorControls monitorControls(bool stereo, bool waveTypeSelected);

// "%d X" with the page size and "= %d ﾊﾞｲﾄ" with packets x page size.
std::string recordPacketUnitText(std::size_t pageSize);
std::string recordPacketTotalText(std::int32_t packets, std::size_t pageSize);

// The texts of the standby dialog "録音スタンバイ".
std::string standbyChannelsText(std::int32_t recordChannels);  // "1（モノラル）" or "2（ステレオ）"
std::string standbyRateText(std::uint32_t rate);                // "%d Hz"
std::string standbyBitsText(std::int32_t recordBits);           // "8 bit" or "16 bit"
std::string standbyLimitText(std::int32_t recordSeconds);       // the longest recording, "%d 秒"

} // namespace sonavik
