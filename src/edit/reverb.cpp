#include "edit/reverb.h"

#include "curve/curve.h"
#include "curve/curve_editor.h"
#include "edit/convolution.h"
#include "edit/edit_dispatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sonavik {
namespace {

struct PresetPoint {
    double x, y;
};

struct PresetTable {
    const char* text;
    const char* asciiName;
    int timeStep;
    int ratio;
    int pointCount;
    PresetPoint points[9];
};

constexpr PresetTable kPresets[kReverbPresetCount] = {
    {"リセット", "reset", 5, 50, 2, {{0, 1}, {1, 1}}},
    {"大ホール", "hall", 6, 30, 4, {{0.05, 0.6}, {0.1, 0}, {0.6, 0.7}, {1, 1}}},
    {"風呂場", "bath", 5, 30, 4, {{0, 0}, {0.15, 0.1}, {0.51, 0.71}, {1, 1}}},
    {"夢の中", "dream", 8, 80, 4, {{0, 0.4}, {0.29, 0.78}, {0.89, 0.83}, {1, 1}}},
    {"やまびこ", "echo", 7, 10, 9,
     {{0, 1}, {0.3, 0.95}, {0.32, 0.2}, {0.42, 0.6}, {0.5, 0.84}, {0.62, 0.89}, {0.67, 0.69}, {0.8, 0.85}, {1, 1}}},
    {"スタジオ", "studio", 3, 90, 4, {{0, 0.14}, {0.23, 0.26}, {0.61, 0.81}, {1, 1}}},
};

constexpr int kPresetSmoothing = 12;

} // namespace

void reverbRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    for (int k = 0; k < std::max(channelCount, 1); ++k) {
        EditRegion one = region;
        one.channel = region.channel + k;
        convolveRegion(context, one, ResponseSource::Reverb);
    }
}

std::int64_t reverbResponseLength(std::int32_t timeStep)
{
    return std::int64_t{2048} << std::clamp(timeStep, kMinReverbTimeStep, kMaxReverbTimeStep);
}

void synthesizeReverbResponse(const Settings& settings, double* buffer, std::size_t n)
{
    NoiseGenerator noise;
    synthesizeReverbResponse(settings, buffer, n, noise);
}

void synthesizeReverbResponse(const Settings& settings, double* buffer, std::size_t n, NoiseGenerator& noise)
{
    if (n == 0)
        return;
    const MorphedCurve envelope(settings.reverb, 1.0);
    envelope.sample(buffer, static_cast<int>(n));
    for (std::size_t j = 0; j < n; ++j) {
        buffer[j] = 1.0 - buffer[j];
        const int r = noise.next();
        buffer[j] = ((r % 1001) - 500) / 500.0 * buffer[j];
    }

    // The onset: the first value above 1 % of the largest.
    double largest = 0.0;
    for (std::size_t j = 0; j < n; ++j)
        largest = std::max(largest, buffer[j]);
    std::size_t onset = 0;
    for (std::size_t j = 0; j < n; ++j)
        if (buffer[j] > largest / 100.0) {
            onset = j;
            break;
        }

    // Every pass uses the same weights, kept in the (still unused) second half meanwhile. In place and
    // in increasing j: buffer[j - 1] is already smoothed when buffer[j] is.
    double* const weight = buffer + n;
    const double nd = static_cast<double>(n);
    for (std::size_t j = onset + 1; j + 1 < n; ++j)
        weight[j] = std::exp(-5.0 * static_cast<double>(j - onset) / nd);
    const int passes = std::clamp(settings.reverbSmoothing(), kMinReverbSmoothing, kMaxReverbSmoothing);
    for (int pass = 0; pass < passes; ++pass)
        for (std::size_t j = onset + 1; j + 1 < n; ++j) {
            const double d = weight[j];
            buffer[j] = (buffer[j + 1] + buffer[j - 1]) * (1.0 - d) / 2.0 + buffer[j] * d;
        }
    std::fill(buffer + n, buffer + 2 * n, 0.0);
}

const char* reverbPresetText(ReverbPreset preset) { return kPresets[static_cast<int>(preset)].text; }

std::optional<ReverbPreset> findReverbPreset(std::string_view name)
{
    for (int i = 0; i < kReverbPresetCount; ++i)
        if (name == kPresets[i].text || name == kPresets[i].asciiName)
            return static_cast<ReverbPreset>(i);
    return std::nullopt;
}

void applyReverbPreset(Settings& settings, ReverbPreset preset, std::uint32_t f)
{
    const PresetTable& p = kPresets[static_cast<int>(preset)];
    for (int i = 0; i < kCurvePoints; ++i) {
        CurvePoint& point = settings.reverb.points[i];
        point = CurvePoint{};
        if (i < p.pointCount) {
            point.state = 1;
            point.xGray = point.x = p.points[i].x;
            point.yGray = point.y = p.points[i].y;
        }
    }
    int k = p.timeStep;
    int ratio = p.ratio;
    if (f < 16000) {
        k = std::max(k - 2, kMinReverbTimeStep);
        ratio = std::min(100 - (100 - ratio) / 2, kMaxReverbRatio);
    } else if (f < 33000) {
        k = std::max(k - 1, kMinReverbTimeStep);
        ratio = std::min((ratio + 100 - (100 - ratio) / 2) / 2, kMaxReverbRatio);
    }
    settings.reverbTimeStep() = k;
    settings.reverbRatio() = ratio;
    settings.reverbSmoothing() = kPresetSmoothing;
}

bool applyReverbPreset(Settings& settings, std::string_view name, std::uint32_t samplesPerSec)
{
    const std::optional<ReverbPreset> preset = findReverbPreset(name);
    if (!preset)
        return false;
    applyReverbPreset(settings, *preset, samplesPerSec);
    return true;
}

void prepareReverbSettings(Settings& settings)
{
    settings.reverbTimeStep() = std::clamp(settings.reverbTimeStep(), kMinReverbTimeStep, kMaxReverbTimeStep);
    settings.reverbRatio() = std::clamp(settings.reverbRatio(), 0, kMaxReverbRatio);
    settings.reverbSmoothing() = std::clamp(settings.reverbSmoothing(), kMinReverbSmoothing, kMaxReverbSmoothing);
    settings.reverb.displayKind = 3;
}

std::string reverbTimeText(std::int32_t timeStep, std::uint32_t samplesPerSec)
{
    const std::uint32_t rate = samplesPerSec != 0 ? samplesPerSec : kCurveFallbackSampleRate;
    // A step from a damaged file still shows a finite time.
    const int k = std::clamp(timeStep, 0, 30);
    const double seconds = static_cast<double>(std::int64_t{2048} << k) / rate;
    return "残響音の最大時間 " + formatFixed(seconds, 1) + " 秒";
}

std::int32_t parseRatioText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{1} << 32);
    if (negative)
        value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace sonavik
