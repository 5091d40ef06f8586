#pragma once
// "リバーブ..." (40111): a noise burst shaped by the drawn decay envelope, convolved with the region
// and mixed with the dry sound; the six example settings of dialog 110 and the dialog's rules.

#include "edit/edit_commands.h"
#include "edit/noise_generator.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonavik {

struct EditRegion;

// 40111 for the command table: the block convolution with a freshly synthesised response, channel by
// channel.
void reverbRegion(EditContext& context, const EditRegion& region, int channelCount);

inline constexpr int kMinReverbTimeStep = 1;
inline constexpr int kMaxReverbTimeStep = 8;
inline constexpr int kMaxReverbRatio = 100;
inline constexpr int kMinReverbSmoothing = 1;
inline constexpr int kMaxReverbSmoothing = 16;

// 2048 x 2^k frames, k limited to 1…8 first (a damaged settings file cannot ask for more).
std::int64_t reverbResponseLength(std::int32_t timeStep);

// Fills buffer[0…n) with the response and buffer[n…2n) with zeros: white noise in steps of 1/500
// (from noise, which goes on from where it stands) under the envelope 1 - y of reverbCurve, then
// reverbSmoothing (limited to 1…16) low-pass passes that grow stronger towards the end.
void synthesizeReverbResponse(const Settings& settings, double* buffer, std::size_t n, NoiseGenerator& noise);
// The same with a generator that starts from its seed.
void synthesizeReverbResponse(const Settings& settings, double* buffer, std::size_t n);

// The buttons of "いくつかの例" and "リセット", in this order.
enum class ReverbPreset : int { Reset, LargeHall, Bathroom, Dream, Echo, Studio };
inline constexpr int kReverbPresetCount = 6;

// The button text: "リセット", "大ホール", "風呂場", "夢の中", "やまびこ", "スタジオ".
const char* reverbPresetText(ReverbPreset preset);
// A preset by its button text or its ASCII name ("reset", "hall", "bath", "dream", "echo", "studio").
std::optional<ReverbPreset> findReverbPreset(std::string_view name);

// What a preset button does: the curve (its points active with grey = edited position, every other
// point inactive), reverbTimeStep, reverbRatio and reverbSmoothing 12, then time and ratio adapted to
// the sound's rate (below 16000 Hz two steps shorter and a higher ratio; below 33000 Hz one step).
void applyReverbPreset(Settings& settings, ReverbPreset preset, std::uint32_t samplesPerSec);
// The same by button text or ASCII name; false, with the settings untouched, for an unknown name.
bool applyReverbPreset(Settings& settings, std::string_view name, std::uint32_t samplesPerSec);

// What dialog 110 does when it opens: the three values limited to their slider ranges and the curve
// editor set to draw the reverb envelope.
void prepareReverbSettings(Settings& settings);

// "残響音の最大時間 %.1lf 秒" with 2048 x 2^timeStep / samplesPerSec seconds, in the C locale whatever
// the process locale; without a rate (0) the curve editor's 44100 Hz stands in.
std::string reverbTimeText(std::int32_t timeStep, std::uint32_t samplesPerSec);

// The ratio typed beside "％": the decimal number at the start of the text (optional blanks and sign,
// then digits; 0 without any), saturated to the int range. Not limited to 0…100.
std::int32_t parseRatioText(std::string_view text);

} // namespace sonavik
