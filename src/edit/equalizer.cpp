#include "edit/equalizer.h"

#include "curve/curve.h"
#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "dsp/fft.h"
#include "edit/edit_control.h"
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

// Loops over the millions of bins of a large block take long: a long edit's stop request is looked at
// every so many of them.
void pollStop(const EditControl* control, std::int64_t i)
{
    if (control && (i & 0xFFFF) == 0)
        control->checkStop();
}

// The per-run arrays: all or nothing.
struct RunBuffers {
    std::unique_ptr<double[]> block;    // B, C elements
    std::unique_ptr<double[]> carried;  // H, n
    std::unique_ptr<double[]> curve;    // Y, n
    std::unique_ptr<double[]> gain;     // per bin 0…n, already divided by C / 2

    bool allocate(std::size_t c)
    {
        const std::size_t n = c / 2;
        block = tryAllocate<double>(c);
        carried = tryAllocate<double>(n);
        curve = tryAllocate<double>(n);
        gain = tryAllocate<double>(n + 1);
        return block && carried && curve && gain;
    }
};

// The gains of one block and the curve they come from, kept while alpha stays the same.
class BlockGains {
public:
    BlockGains(const Settings& settings, const EqualizerPlan& plan, RunBuffers& buffers, const EditControl* control)
        : settings_(settings), plan_(plan), control_(control), Y_(buffers.curve.get()), G_(buffers.gain.get())
    {
        std::fill(Y_, Y_ + plan.n, 0.5);
    }
    // Gains for alpha a; beeps (unless quiet) when the curve cannot be morphed to a, keeping the
    // curve it had.
    const double* at(double a, Ui& ui, bool quiet)
    {
        if (have_ && a == degree_)
            return G_;
        const std::int64_t n = plan_.n;
        morphed_.morph(settings_.eq, a);
        if (morphed_.valid())
            morphed_.sample(Y_, static_cast<int>(n));
        else if (!quiet)
            ui.beep(BeepKind::Error);
        // The inverse transform returns C / 2 times the signal; dividing the spectrum by that power of
        // two instead gives the very same doubles.
        const double scale = 2.0 / static_cast<double>(plan_.c);
        G_[0] = scale;  // DC passes unchanged
        for (std::int64_t i = 1; i <= n; ++i) {
            pollStop(control_, i);
            const double y = Y_[plan_.logFrequency ? plan_.bin[i] : i - 1];
            const double g = plan_.logGain ? std::pow(10.0, 1.0 - 2.0 * y) : (1.0 - y) * plan_.linearSpan;
            G_[i] = g * scale;
        }
        have_ = true;
        degree_ = a;
        return G_;
    }

private:
    const Settings& settings_;
    const EqualizerPlan& plan_;
    const EditControl* control_;
    double* Y_;
    double* G_;
    MorphedCurve morphed_;
    bool have_ = false;
    double degree_ = 0.0;
};

// B = the filtered block at q, read from source: windowed, transformed, weighted by the gains at the
// block centre's alpha, transformed back and un-windowed.
void filterBlock(const SoundDocument& source, int channel, std::int64_t q, const EqualizerPlan& plan, BlockGains& gains,
                 double a, Ui& ui, bool quiet, double* B, PercentProgress* progress, std::int64_t s, std::int64_t e,
                 const EditControl* control)
{
    const std::int64_t c = plan.c;
    const std::int64_t n = plan.n;
    edit_detail::loadSigned(source, channel, 1, q, static_cast<int>(c), B);
    if (plan.windowed)
        for (std::int64_t i = 0; i < c; ++i)
            B[i] *= plan.window[i];
    fftForward(static_cast<std::size_t>(c), B);
    if (control)
        control->checkStop();
    if (progress)
        progress->show(q - s + n / 2, e - s);
    const double* G = gains.at(a, ui, quiet);
    for (std::int64_t i = 0; i <= n; ++i)
        B[i] *= G[i];
    for (std::int64_t i = 1; i < n; ++i)
        B[c - i] *= G[i];
    fftInverse(static_cast<std::size_t>(c), B);
    if (control)
        control->checkStop();
    if (plan.windowed)
        for (std::int64_t i = 0; i < c; ++i)
            B[i] /= plan.window[i];
}

void store(EditContext& context, int channel, std::int64_t first, int count, const double* values)
{
    if (context.control)
        edit_detail::storeNearestOwn(context.document, channel, first, count, values);
    else
        edit_detail::storeNearest(context.document, channel, 1, first, count, values);
}

void equalizeChannel(EditContext& context, const EditRegion& region, int channel)
{
    EqualizerPlan plan;
    if (!prepareEqualizer(context, region, plan))
        return;
    PercentProgress progress(context.ui, kBlockPrefix, kBlockSuffix);
    if (!equalizeBlocks(context, context.document, region, channel, plan, 0, equalizerBlockCount(region, plan),
                        &progress)) {
        context.ui.beep(BeepKind::Error);
        return;
    }
    const std::int64_t q = region.start + equalizerBlockCount(region, plan) * plan.n;
    noteSamplesChanged(context.document, region.start, q + plan.n - 1);
    showProgress(context.ui, kDone);
}

} // namespace

bool prepareEqualizer(EditContext& context, const EditRegion& region, EqualizerPlan& plan)
{
    Ui& ui = context.ui;
    const Settings& settings = context.settings;
    showProgress(ui, kAllocating);

    const std::int64_t c = std::int64_t{1} << equalizerFftExponent(settings.eqFftSize());
    const std::int64_t n = c / 2;
    // No block fits: nothing would be changed, so nothing is allocated either (a size from a damaged
    // settings file cannot ask for gigabytes over a short region).
    if (static_cast<std::int64_t>(region.end) - region.start + 1 < c) {
        showProgress(ui, kDone);
        return false;
    }
    plan.c = c;
    plan.n = n;
    plan.logGain = settings.eqGainLog() == 1;
    plan.logFrequency = settings.eqFrequencyLog() == 1;
    plan.windowType = settings.eqWindow;
    plan.windowed = weightsSamples(plan.windowType);
    plan.linearSpan = 1.0 + settings.eqLinearGainSpan();
    // The block loop's arrays are asked for here as well: a region the memory does not suffice for is
    // refused before anything is done.
    RunBuffers run;
    plan.fade = tryAllocate<double>(static_cast<std::size_t>(n));
    if (plan.logFrequency)
        plan.bin = tryAllocate<std::int32_t>(static_cast<std::size_t>(n + 1));
    if (plan.windowed)
        plan.window = tryAllocate<double>(static_cast<std::size_t>(c));
    if (!run.allocate(static_cast<std::size_t>(c)) || !plan.fade || (plan.logFrequency && !plan.bin)
        || (plan.windowed && !plan.window)) {
        ui.beep(BeepKind::Error);
        return false;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        pollStop(context.control, i);
        plan.fade[i] = (std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1)) + 1.0) * 0.5;
    }
    if (plan.windowed)
        for (std::int64_t i = 0; i < c; ++i) {
            pollStop(context.control, i);
            plan.window[i] = fftWindowWeight(plan.windowType, static_cast<std::size_t>(i), static_cast<std::size_t>(c));
        }
    if (plan.logFrequency) {
        const double logN = std::log(static_cast<double>(n));
        for (std::int64_t i = 1; i <= n; ++i) {
            pollStop(context.control, i);
            const double u = std::floor(static_cast<double>(n - 1) * std::log(static_cast<double>(i)) / logN + 0.5);
            plan.bin[i] = static_cast<std::int32_t>(std::clamp(u, 0.0, static_cast<double>(n - 1)));
        }
    }
    return true;
}

std::int64_t equalizerBlockCount(const EditRegion& region, const EqualizerPlan& plan)
{
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    return plan.n > 0 && length >= plan.c ? (length - plan.c) / plan.n + 1 : 0;
}

bool equalizeBlocks(EditContext& context, const SoundDocument& source, const EditRegion& region, int channel,
                    const EqualizerPlan& plan, std::int64_t firstBlock, std::int64_t endBlock, PercentProgress* progress)
{
    Ui& ui = context.ui;
    RunBuffers buffers;
    if (!buffers.allocate(static_cast<std::size_t>(plan.c)))
        return false;
    double* const B = buffers.block.get();
    double* const H = buffers.carried.get();
    const double* const F = plan.fade.get();
    const std::int64_t c = plan.c;
    const std::int64_t n = plan.n;
    const int ni = static_cast<int>(n);
    const std::int64_t s = region.start;
    const std::int64_t e = region.end;
    const bool full = edit_detail::fullWeight(region);
    const Selection envelope = edit_detail::envelopeOf(region);
    auto alphaOf = [&](std::int64_t q) { return full ? 1.0 : alphaAt(envelope, q + n); };
    BlockGains gains(context.settings, plan, buffers, context.control);

    if (firstBlock == 0) {
        edit_detail::loadSigned(source, channel, 1, s, ni, H);
    } else {
        // The second half of the block before carries into this run's first block. Its gains were
        // asked for by the run before, which beeped if they had to.
        const std::int64_t q = s + (firstBlock - 1) * n;
        filterBlock(source, channel, q, plan, gains, alphaOf(q), ui, true, B, nullptr, s, e, context.control);
        std::copy(B + n, B + c, H);
    }
    for (std::int64_t k = firstBlock; k < endBlock; ++k) {
        const std::int64_t q = s + k * n;
        if (context.control)
            context.control->beforeBlock(region, k);
        if (progress)
            progress->show(q - s, e - s);
        filterBlock(source, channel, q, plan, gains, alphaOf(q), ui, false, B, progress, s, e, context.control);
        // The new block fades in while the carried half of the one before fades out.
        for (std::int64_t i = 0; i < n; ++i)
            H[i] = F[n - 1 - i] * B[i] + F[i] * H[i];
        store(context, channel, q, ni, H);
        std::copy(B + n, B + c, H);
        if (context.control)
            context.control->framesWritten(n);
    }
    if (endBlock == equalizerBlockCount(region, plan)) {
        // The last processed half fades back into the untouched sound; the at most n - 1 frames after
        // it stay as they are.
        const std::int64_t q = s + endBlock * n;
        edit_detail::loadSigned(source, channel, 1, q, ni, B);
        for (std::int64_t i = 0; i < n; ++i)
            H[i] = B[i] * F[n - 1 - i] + F[i] * H[i];
        store(context, channel, q, ni, H);
        if (context.control)
            context.control->framesWritten(n);
    }
    return true;
}

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
