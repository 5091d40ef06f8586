#pragma once
// The rules of the playback settings dialog "再生" without its widgets: what each field shows, which
// controls are usable, and how typed text becomes a stored value. The dialog stores every change at once.

#include "platform/wave_device.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonavik {

class Ui;

struct Settings;
struct SoundDocument;

inline constexpr const char* kNotSupported = "Not Supported";
inline constexpr const char* kBadDriverFormat = "ID=%d のデバドラが異常です。";
inline constexpr const char* kBadComboBox = "コンボボックスが異常です";

// A number typed into an integer field, read as far as it is one: leading blanks, a sign and digits.
// Anything else reads as 0; values beyond the 32-bit range are limited to it.
std::int32_t typedNumber(std::string_view text);

// A typed decimal such as "1.5" as a 16.16 factor: the integer part in the high 16 bits, the floor of the
// fraction times 65536 in the low ones (0x00018000). Negative or unreadable text is 0; an integer part
// above 65535 is limited to 65535.
std::uint32_t typedFixed16(std::string_view text);
// A 16.16 factor as the dialog shows it, "%.4lf" of integer part + low 16 bits / 65536.
std::string fixed16Text(std::uint32_t value);

// The packet count as the dialogs use it: anything below 1 is 1.
std::int32_t packetsOrOne(std::int32_t packets);
// "%d bytes ×" with the page size, "＝ %d bytes" with packets x page size.
std::string playPacketUnitText(std::size_t pageSize);
std::string playPacketTotalText(std::int32_t packets, std::size_t pageSize);

// Stores a device's name in a 32-byte settings field when it fits with its terminating NUL (31 bytes at
// most); false, with the field unchanged, when it does not.
bool storeDeviceName(char (&field)[32], std::string_view name);
// The name held in such a field (it need not be terminated).
std::string deviceNameOf(const char (&field)[32]);

// "ID=%d のデバドラが異常です。" for a device whose capabilities cannot be read.
std::string badDeviceText(int index);

// The names of devices 0 ... count - 1 for a device list: a device whose capabilities cannot be read
// sounds the error beep, shows badDeviceText and is listed by that text. capabilitiesOf is the output's
// or the input's capabilities call.
std::vector<std::string> deviceListNames(Ui& ui, int count, const std::function<int(int, WaveDeviceCaps&)>& capabilitiesOf);

// A typed sample rate for the sound: 0 (or anything below 1) becomes 1, the block size and byte rate are
// worked out again. True when the rate changed, so the sound counts as modified.
bool setDocumentRate(SoundDocument& document, std::int32_t rate);

// Fields 1223 pitch, 1224 rate, 1225 left or mono volume, 1229 right volume and check boxes 1230
// "デバイスの現在の設定を使用" and 1231 "再生後、値をデバイスに記憶させる".
struct PlayDeviceControls {
    std::string pitchText, rateText, leftText, rightText;
    bool pitchEnabled = false;
    bool rateEnabled = false;
    bool leftEnabled = false;
    bool rightEnabled = false;
    bool useDeviceEnabled = false;
    bool storeEnabled = false;
};
// capabilities: the device's bits, or nullopt when they could not be read.
PlayDeviceControls playDeviceControls(const Settings& settings, std::optional<std::uint32_t> capabilities);

// Which list entry to select for a stored name: its index, or 0 when no entry carries it.
int entryForName(const std::string& stored, const std::string* names, int count, bool* found = nullptr);

} // namespace sonavik
