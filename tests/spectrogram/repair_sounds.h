#pragma once
// Sounds for the repair and harmonics tests, as signed 16-bit values at 44.1 kHz: a tone in pink noise
// with and without a click, and a whistle with its harmonics over a low tone; and the measures the tests
// take of them.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace sonavik::test {

inline constexpr int kRepairRate = 44100;

// A tone of 440 Hz (amplitude 6000) in pink noise about 24 dB below it; the clicked copy has a 30 ms
// burst of up to 20000 from clickStart on.
struct ClickSound {
    std::vector<double> clean;
    std::vector<double> clicked;
    std::int64_t clickStart = 0;
    std::int64_t clickEnd = 0;  // inclusive
};

inline ClickSound toneInPinkNoise(std::int64_t frames = 2 * kRepairRate, std::int64_t clickStart = kRepairRate)
{
    // A fixed generator, so that every run and every standard library hears the same noise.
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    const auto white = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / static_cast<double>(1ull << 52) - 1.0;
    };
    // Three one-pole filters summed: close to -3 dB per octave over the audible range.
    std::vector<double> pink(static_cast<std::size_t>(frames));
    double b0 = 0, b1 = 0, b2 = 0, power = 0;
    for (double& v : pink) {
        const double w = white();
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        v = b0 + b1 + b2 + w * 0.1848;
        power += v * v;
    }
    const double noiseScale = 270.0 / std::sqrt(power / static_cast<double>(frames));
    ClickSound s;
    s.clickStart = clickStart;
    s.clickEnd = clickStart + 30 * kRepairRate / 1000 - 1;
    for (std::int64_t p = 0; p < frames; ++p) {
        const double t = static_cast<double>(p) / kRepairRate;
        const double v = 6000 * std::sin(2 * std::numbers::pi * 440 * t + 0.7) + noiseScale * pink[static_cast<std::size_t>(p)];
        s.clean.push_back(v);
        double click = 0;
        if (p >= s.clickStart && p <= s.clickEnd)
            click = 20000 * white() * std::exp(-static_cast<double>(p - s.clickStart) / 600.0);
        s.clicked.push_back(std::clamp(v + click, -32768.0, 32767.0));
    }
    return s;
}

// A 1 kHz whistle with harmonics at 2, 3 and 4 kHz (3000 each) over a 300 Hz tone (6000).
inline std::vector<double> whistleOverTone(std::int64_t frames = kRepairRate)
{
    std::vector<double> x;
    for (std::int64_t p = 0; p < frames; ++p) {
        const double t = static_cast<double>(p) / kRepairRate;
        double v = 6000 * std::sin(2 * std::numbers::pi * 300 * t);
        for (int k = 1; k <= 4; ++k)
            v += 3000 * std::sin(2 * std::numbers::pi * 1000 * k * t + 0.4 * k);
        x.push_back(v);
    }
    return x;
}

// A 1 kHz whistle with its harmonics up to 10 kHz (1500 each) over a 300 Hz tone (6000), and four
// treble tones between 13 and 22 kHz that are no multiple of it (1000 each).
inline constexpr double kTrebleTones[] = {13300, 15700, 18100, 21100};
inline std::vector<double> whistleWithTreble(std::int64_t frames = kRepairRate)
{
    std::vector<double> x;
    for (std::int64_t p = 0; p < frames; ++p) {
        const double t = static_cast<double>(p) / kRepairRate;
        double v = 6000 * std::sin(2 * std::numbers::pi * 300 * t);
        for (int k = 1; k <= 10; ++k)
            v += 1500 * std::sin(2 * std::numbers::pi * 1000 * k * t + 0.4 * k);
        for (double f : kTrebleTones)
            v += 1000 * std::sin(2 * std::numbers::pi * f * t + f / 1000);
        x.push_back(v);
    }
    return x;
}

// The amplitude of frequency f (hertz) in samples first ... first + count - 1, Hanning weighted.
inline double toneAmplitude(const std::vector<double>& x, std::int64_t first, std::int64_t count, double f)
{
    std::complex<double> sum;
    double weights = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(k) + 0.5) / static_cast<double>(count));
        const double phase = 2 * std::numbers::pi * f * static_cast<double>(first + k) / kRepairRate;
        sum += w * x[static_cast<std::size_t>(first + k)] * std::polar(1.0, -phase);
        weights += w;
    }
    return 2 * std::abs(sum) / weights;
}

inline double decibels(double ratio) { return 20 * std::log10(ratio); }

// The largest magnitude and the root mean square of x[first] ... x[first + count - 1].
inline double peakOf(const std::vector<double>& x, std::int64_t first, std::int64_t count)
{
    double peak = 0;
    for (std::int64_t p = first; p < first + count; ++p)
        peak = std::max(peak, std::abs(x[static_cast<std::size_t>(p)]));
    return peak;
}

inline double rmsOf(const std::vector<double>& x, std::int64_t first, std::int64_t count)
{
    double sum = 0;
    for (std::int64_t p = first; p < first + count; ++p)
        sum += x[static_cast<std::size_t>(p)] * x[static_cast<std::size_t>(p)];
    return std::sqrt(sum / static_cast<double>(count));
}

// What a repaired span of first ... first + count - 1 sounds like next to the quarter second on either
// side of it: the tone's level in the span against its level around it (dB), the span's largest sample
// against the largest around it, and the difference to the clean sound against the clean sound (dB).
struct SpanMeasures {
    double toneChange;
    double peakRatio;
    double difference;
};

inline SpanMeasures measureSpan(const std::vector<double>& result, const std::vector<double>& clean, std::int64_t first,
                                std::int64_t count, double f = 440)
{
    const std::int64_t around = kRepairRate / 4;
    const double inside = toneAmplitude(result, first, count, f);
    const double outside = (toneAmplitude(result, first - around, around, f) + toneAmplitude(result, first + count, around, f)) / 2;
    const double peakAround = std::max(peakOf(result, first - around, around), peakOf(result, first + count, around));
    std::vector<double> d(result.begin() + first, result.begin() + first + count);
    for (std::int64_t k = 0; k < count; ++k)
        d[static_cast<std::size_t>(k)] -= clean[static_cast<std::size_t>(first + k)];
    return {decibels(inside / outside), peakOf(result, first, count) / peakAround,
            decibels(rmsOf(d, 0, count) / rmsOf(clean, first, count))};
}

} // namespace sonavik::test
