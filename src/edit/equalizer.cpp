#include "edit/equalizer.h"

#include "curve/curve.h"
#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "dsp/fft.h"
#include "edit/progress.h"
#include "edit/time_domain_edits.h"
#include "platform/ui.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <numbers>

namespace sonavik {
namespace {

constexpr const char* kAllocating = "処理中： イコライザ ( メモリ割り当て中 )";
constexpr const char* kBlockPrefix = "処理中： イコライザ ( データを FFT 中 ";
constexpr const char* kBlockSuffix = " ％ )";
constexpr const char* kDone = "処理中： イコライザ ( 完了 )";

template <typename T>
std::unique_ptr<T[]> tryAllocate(std::size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

bool weightsSamples(int window) { return window >= kFftWindowHanning && window <= kFftWindowBlackman; }

// The working arrays of one region: all or nothing.
struct EqualizerBuffers {
    std::unique_ptr<double[]> block;     // B, C elements
    std::unique_ptr<double[]> carried;   // H, n
    std::unique_ptr<double[]> fade;      // F, n
    std::unique_ptr<double[]> curve;     // Y, n
    std::unique_ptr<double[]> gain;      // per bin 0…n, already divided by C / 2
    std::unique_ptr<std::int32_t[]> bin; // curve index of bin i, logarithmic frequency axis only
    std::unique_ptr<double[]> window;    // weights of the C samples, windows 1 to 3 only

    bool allocate(std::size_t c, bool logFrequency, bool windowed)
    {
        const std::size_t n = c / 2;
        block = tryAllocate<double>(c);
        carried = tryAllocate<double>(n);
        fade = tryAllocate<double>(n);
        curve = tryAllocate<double>(n);
        gain = tryAllocate<double>(n + 1);
        if (logFrequency)
            bin = tryAllocate<std::int32_t>(n + 1);
        if (windowed)
            window = tryAllocate<double>(c);
        return block && carried && fade && curve && gain && (!logFrequency || bin) && (!windowed || window);
    }
};

void equalizeChannel(EditContext& context, const EditRegion& region, int channel)
{
    Ui& ui = context.ui;
    SoundDocument& doc = context.document;
    const Settings& settings = context.settings;
    showProgress(ui, kAllocating);

    const std::int64_t c = std::int64_t{1} << equalizerFftExponent(settings.eqFftSize());
    const std::int64_t n = c / 2;
    const std::int64_t s = region.start;
    const std::int64_t e = region.end;
    // No block fits: nothing would be changed, so nothing is allocated either (a size from a damaged
    // settings file cannot ask for gigabytes over a short region).
    if (e - s + 1 < c) {
        showProgress(ui, kDone);
        return;
    }
    const bool logGain = settings.eqGainLog() == 1;
    const bool logFrequency = settings.eqFrequencyLog() == 1;
    const int windowType = settings.eqWindow;
    const bool windowed = weightsSamples(windowType);
    EqualizerBuffers buffers;
    if (!buffers.allocate(static_cast<std::size_t>(c), logFrequency, windowed)) {
        ui.beep(BeepKind::Error);
        return;
    }
    double* const B = buffers.block.get();
    double* const H = buffers.carried.get();
    double* const F = buffers.fade.get();
    double* const Y = buffers.curve.get();
    double* const G = buffers.gain.get();

    for (std::int64_t i = 0; i < n; ++i)
        F[i] = (std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1)) + 1.0) * 0.5;
    if (windowed)
        for (std::int64_t i = 0; i < c; ++i)
            buffers.window[i] = fftWindowWeight(windowType, static_cast<std::size_t>(i), static_cast<std::size_t>(c));
    if (logFrequency) {
        const double logN = std::log(static_cast<double>(n));
        for (std::int64_t i = 1; i <= n; ++i) {
            const double u = std::floor(static_cast<double>(n - 1) * std::log(static_cast<double>(i)) / logN + 0.5);
            buffers.bin[i] = static_cast<std::int32_t>(std::clamp(u, 0.0, static_cast<double>(n - 1)));
        }
    }
    for (std::int64_t i = 0; i < n; ++i)
        Y[i] = 0.5;
    // The inverse transform returns C / 2 times the signal; dividing the spectrum by that power of two
    // instead gives the very same doubles.
    const double scale = 2.0 / static_cast<double>(c);
    const double linearSpan = 1.0 + settings.eqLinearGainSpan();
    MorphedCurve morphed;
    bool haveGains = false;
    double gainDegree = 0.0;
    auto prepareGains = [&](double degree) {
        morphed.morph(settings.eq, degree);
        if (morphed.valid())
            morphed.sample(Y, static_cast<int>(n));
        else
            ui.beep(BeepKind::Error);  // the curve stays as it was
        G[0] = scale;                  // DC passes unchanged
        for (std::int64_t i = 1; i <= n; ++i) {
            const double y = Y[logFrequency ? buffers.bin[i] : i - 1];
            const double g = logGain ? std::pow(10.0, 1.0 - 2.0 * y) : (1.0 - y) * linearSpan;
            G[i] = g * scale;
        }
        haveGains = true;
        gainDegree = degree;
    };

    const bool full = edit_detail::fullWeight(region);
    const Selection envelope = edit_detail::envelopeOf(region);
    const int ni = static_cast<int>(n);
    const int ci = static_cast<int>(c);
    PercentProgress progress(ui, kBlockPrefix, kBlockSuffix);

    edit_detail::loadSigned(doc, channel, 1, s, ni, H);
    std::int64_t q = s;
    for (; q + c - 1 <= e; q += n) {
        progress.show(q - s, e - s);
        edit_detail::loadSigned(doc, channel, 1, q, ci, B);
        if (windowed)
            for (std::int64_t i = 0; i < c; ++i)
                B[i] *= buffers.window[i];
        fftForward(static_cast<std::size_t>(c), B);
        progress.show(q - s + n / 2, e - s);

        const double a = full ? 1.0 : alphaAt(envelope, q + n);
        if (!haveGains || a != gainDegree)
            prepareGains(a);
        for (std::int64_t i = 0; i <= n; ++i)
            B[i] *= G[i];
        for (std::int64_t i = 1; i < n; ++i)
            B[c - i] *= G[i];

        fftInverse(static_cast<std::size_t>(c), B);
        if (windowed)
            for (std::int64_t i = 0; i < c; ++i)
                B[i] /= buffers.window[i];
        // The new block fades in while the carried half of the one before fades out.
        for (std::int64_t i = 0; i < n; ++i)
            H[i] = F[n - 1 - i] * B[i] + F[i] * H[i];
        edit_detail::storeNearest(doc, channel, 1, q, ni, H);
        std::copy(B + n, B + c, H);
    }
    // The last processed half fades back into the untouched sound; the at most n - 1 frames after it
    // stay as they are.
    edit_detail::loadSigned(doc, channel, 1, q, ni, B);
    for (std::int64_t i = 0; i < n; ++i)
        H[i] = B[i] * F[n - 1 - i] + F[i] * H[i];
    edit_detail::storeNearest(doc, channel, 1, q, ni, H);
    noteSamplesChanged(doc, s, q + n - 1);
    showProgress(ui, kDone);
}

} // namespace

void equalizeRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    for (int k = 0; k < std::max(channelCount, 1); ++k)
        equalizeChannel(context, region, region.channel + k);
}

int equalizerFftExponent(std::int32_t storedSize)
{
    const std::int32_t size = std::clamp<std::int32_t>(storedSize, 1 << kMinEqFftExponent, 1 << kMaxEqFftExponent);
    for (int k = kMinEqFftExponent; k <= kMaxEqFftExponent; ++k)
        if (size == (std::int32_t{1} << k))
            return k;
    const double k = std::floor(std::log10(static_cast<double>(size)) / std::log10(2.0) + 0.5);
    return static_cast<int>(std::clamp(k, static_cast<double>(kMinEqFftExponent), static_cast<double>(kMaxEqFftExponent)));
}

int prepareEqualizerSettings(Settings& settings)
{
    if (settings.eqGainLog() != 0 && settings.eqGainLog() != 1)
        settings.eqGainLog() = 0;
    if (settings.eqFrequencyLog() != 0 && settings.eqFrequencyLog() != 1)
        settings.eqFrequencyLog() = 0;
    if (settings.eqWindow < 0 || settings.eqWindow > 4)
        settings.eqWindow = 0;
    const int k = equalizerFftExponent(settings.eqFftSize());
    settings.eqFftSize() = std::int32_t{1} << k;
    settings.eq.displayKind = 1;
    return k;
}

int recommendedEqFftSize(std::uint32_t f)
{
    if (f > 30000 && f <= 50000)
        return 8192;
    if (f > 15000 && f <= 30000)
        return 4096;
    if (f > 7500 && f <= 15000)
        return 2048;
    if (f > 3500 && f <= 7500)
        return 1024;
    return 0;
}

std::string equalizerSizeText(int size, std::uint32_t samplesPerSec)
{
    char text[64];
    const int recommended = recommendedEqFftSize(samplesPerSec);
    if (recommended > 0)
        std::snprintf(text, sizeof text, "size= %d ( 推奨値は %d )", size, recommended);
    else
        std::snprintf(text, sizeof text, "size= %d", size);
    return text;
}

void resetEqualizerCurve(CurveData& curve)
{
    for (CurvePoint& p : curve.points)
        p = CurvePoint{};
}

void resetEqualizerGreyPoints(CurveData& curve)
{
    for (CurvePoint& p : curve.points)
        if (p.state != 0)
            p.yGray = 0.5;
}

} // namespace sonavik
