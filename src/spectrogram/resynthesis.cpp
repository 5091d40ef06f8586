#include "spectrogram/resynthesis.h"

#include "document/selection.h"
#include "document/sound_document.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/edit_control.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "edit/progress.h"
#include "history/edit_history.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram_analysis.h"
#include "spectrogram/worker_threads.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace sonavik {

namespace {

constexpr const char* kNoDestination = "適用先データがありません";
constexpr const char* kNoChannel = "適用先LRチャンネルが指定されていません";
constexpr const char* kNoRight = "適用先データ(right)がありません";
constexpr const char* kBadStart = "適用先の開始位置が不正です。";
constexpr const char* kTooShort = "適用先データの長さが足りません。";
constexpr const char* kBadFormat = "データの形式が異常です";
constexpr const char* kBadSpectrogram = "スペクトルが異常です（バグ）";
constexpr const char* kBusy = "再生／録音中は、ファイルを編集できません";

bool validSpectrogram(const Spectrogram& s)
{
    const std::int32_t n = s.fftSize;
    return n >= 16 && (n & (n - 1)) == 0 && s.spectrumCount >= 1
           && s.spectra.size() >= static_cast<std::size_t>(s.spectrumCount) * static_cast<std::size_t>(n);
}

// The plain loops of a write-back, four values at a time: written once, compiled for every x86-64 (as
// pairs of SSE2 operations) and again for AVX2, and eight at a time for AVX-512, on the path the FFT
// takes. All give the values one at a time would (no fused multiply-adds).
typedef double Doubles4 __attribute__((vector_size(32)));
typedef float Floats4 __attribute__((vector_size(16)));
typedef int Ints4 __attribute__((vector_size(16)));
typedef double Doubles8 __attribute__((vector_size(64)));
typedef float Floats8 __attribute__((vector_size(32)));
typedef int Ints8 __attribute__((vector_size(32)));

template <int Lanes>
struct Vectors {
    using D = Doubles4;
    using F = Floats4;
    using I = Ints4;
};
template <>
struct Vectors<8> {
    using D = Doubles8;
    using F = Floats8;
    using I = Ints8;
};

template <class V>
[[gnu::always_inline]] inline void splat(V& v, double value)
{
    for (std::size_t i = 0; i < sizeof v / sizeof(double); ++i)
        v[i] = value;
}

// Frame u's n floats as doubles divided by the transform's scale. The scale is a power of two, so
// multiplying by its inverse is the division, to the bit. The spectra come from memory once, frame after
// frame: each line of the next frame is asked for as the same line of this one is read, so that it
// arrives while this frame is transformed; into the second-level cache only, where it does not push the
// transform's own data out.
template <int Lanes = 4>
[[gnu::always_inline]] inline void loadFrameLoop(const float* spectrum, double* frame, std::size_t n, double inverseScale,
                                                 bool prefetchNext)
{
    using Doubles = typename Vectors<Lanes>::D;
    Doubles by;
    splat(by, inverseScale);
    for (std::size_t k = 0; k < n; k += Lanes) {
        if (prefetchNext && k % 16 == 0)
            __builtin_prefetch(spectrum + n + k, 0, 1);
        typename Vectors<Lanes>::F v;
        std::memcpy(&v, spectrum + k, sizeof v);
        const Doubles d = __builtin_convertvector(v, Doubles) * by;
        std::memcpy(frame + k, &d, sizeof d);
    }
}

// With the window divided out of an inverse frame first (weights null for the rectangular window):
// mixed = (1 - fade) x its first half + fade x tail (the frame before's second half), in that order of
// operations; tail becomes its second half.
template <int Lanes = 4>
[[gnu::always_inline]] inline void crossfadeLoop(const double* frame, const double* weights, const double* keep,
                                                 const double* fade, double* tail, double* mixed, std::size_t half)
{
    using Doubles = typename Vectors<Lanes>::D;
    for (std::size_t k = 0; k < half; k += Lanes) {
        Doubles head, headShare, before, beforeShare, second;
        std::memcpy(&head, frame + k, sizeof head);
        std::memcpy(&second, frame + half + k, sizeof second);
        if (weights) {
            Doubles w, v;
            std::memcpy(&w, weights + k, sizeof w);
            std::memcpy(&v, weights + half + k, sizeof v);
            head /= w;
            second /= v;
        }
        std::memcpy(&headShare, keep + k, sizeof headShare);
        std::memcpy(&before, tail + k, sizeof before);
        std::memcpy(&beforeShare, fade + k, sizeof beforeShare);
        const Doubles m = headShare * head + beforeShare * before;
        std::memcpy(mixed + k, &m, sizeof m);
        std::memcpy(tail + k, &second, sizeof second);
    }
}

// Values as samples: truncated toward zero and limited to lo ... hi; a value that is not a number is
// silence.
template <int Lanes = 4>
[[gnu::always_inline]] inline void truncateLoop(const double* values, std::size_t count, double lo, double hi, int* out)
{
    using Doubles = typename Vectors<Lanes>::D;
    Doubles low, high, silence;
    splat(low, lo);
    splat(high, hi);
    splat(silence, 0.0);
    for (std::size_t k = 0; k < count; k += Lanes) {
        Doubles v;
        std::memcpy(&v, values + k, sizeof v);
        v = v == v ? v : silence;
        v = v >= high ? high : v;
        v = v <= low ? low : v;
        // Converting to integers truncates toward zero, as std::trunc does.
        const auto t = __builtin_convertvector(v, typename Vectors<Lanes>::I);
        std::memcpy(out + k, &t, sizeof t);
    }
}

struct FrameLoops {
    void (*loadFrame)(const float* spectrum, double* frame, std::size_t n, double inverseScale, bool prefetchNext);
    void (*crossfade)(const double* frame, const double* weights, const double* keep, const double* fade, double* tail,
                      double* mixed, std::size_t half);
    void (*truncate)(const double* values, std::size_t count, double lo, double hi, int* out);
};

const FrameLoops kPortableLoops = {
    [](const float* spectrum, double* frame, std::size_t n, double inverseScale, bool prefetchNext) {
        loadFrameLoop(spectrum, frame, n, inverseScale, prefetchNext);
    },
    [](const double* frame, const double* weights, const double* keep, const double* fade, double* tail, double* mixed,
       std::size_t half) { crossfadeLoop(frame, weights, keep, fade, tail, mixed, half); },
    [](const double* values, std::size_t count, double lo, double hi, int* out) { truncateLoop(values, count, lo, hi, out); },
};

#if defined(__x86_64__) || defined(__i386__)
#define SONAVIK_RESYNTHESIS_AVX2 __attribute__((target("avx2")))
SONAVIK_RESYNTHESIS_AVX2 void loadFrameWide(const float* spectrum, double* frame, std::size_t n, double inverseScale,
                                            bool prefetchNext)
{
    loadFrameLoop(spectrum, frame, n, inverseScale, prefetchNext);
}
SONAVIK_RESYNTHESIS_AVX2 void crossfadeWide(const double* frame, const double* weights, const double* keep,
                                            const double* fade, double* tail, double* mixed, std::size_t half)
{
    crossfadeLoop(frame, weights, keep, fade, tail, mixed, half);
}
SONAVIK_RESYNTHESIS_AVX2 void truncateWide(const double* values, std::size_t count, double lo, double hi, int* out)
{
    truncateLoop(values, count, lo, hi, out);
}
const FrameLoops kWideLoops = {loadFrameWide, crossfadeWide, truncateWide};

#define SONAVIK_RESYNTHESIS_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2")))
SONAVIK_RESYNTHESIS_AVX512 void loadFrame512(const float* spectrum, double* frame, std::size_t n, double inverseScale,
                                             bool prefetchNext)
{
    loadFrameLoop<8>(spectrum, frame, n, inverseScale, prefetchNext);
}
SONAVIK_RESYNTHESIS_AVX512 void crossfade512(const double* frame, const double* weights, const double* keep,
                                             const double* fade, double* tail, double* mixed, std::size_t half)
{
    crossfadeLoop<8>(frame, weights, keep, fade, tail, mixed, half);
}
SONAVIK_RESYNTHESIS_AVX512 void truncate512(const double* values, std::size_t count, double lo, double hi, int* out)
{
    truncateLoop<8>(values, count, lo, hi, out);
}
const FrameLoops kLoops512 = {loadFrame512, crossfade512, truncate512};
#endif

const FrameLoops& frameLoops()
{
#ifdef SONAVIK_RESYNTHESIS_AVX2
    switch (simdPath()) {
    case SimdPath::Avx512:
        return kLoops512;
    case SimdPath::Avx2:
        return kWideLoops;
    default:
        break;
    }
#endif
    return kPortableLoops;
}

// Samples of one channel read and written as signed values, in place or from the untouched sound into
// a copy of it.
struct ChannelSamples {
    const unsigned char* from;
    unsigned char* bytes;
    std::size_t stride;  // samples per frame
    std::size_t channel;
    bool eightBit;

    double at(std::int64_t frame) const
    {
        const std::size_t i = static_cast<std::size_t>(frame) * stride + channel;
        if (eightBit)
            return static_cast<double>(static_cast<int>(from[i]) - 128);
        std::int16_t v;
        std::memcpy(&v, from + 2 * i, 2);
        return v;
    }

    double lowest() const { return eightBit ? -128.0 : -32768.0; }
    double highest() const { return eightBit ? 127.0 : 32767.0; }

    // Truncated toward zero and limited to the sample range; a value that is not a number is silence.
    void store(std::int64_t frame, double v) const
    {
        const double lo = lowest();
        const double hi = highest();
        const double t = v >= hi ? hi : v <= lo ? lo : v == v ? std::trunc(v) : 0.0;
        put(frame, static_cast<int>(t));
    }

    // Samples first ... first + count - 1 set to values (in range).
    void putRun(std::int64_t first, const int* values, std::size_t count) const
    {
        if (eightBit) {
            unsigned char* at = bytes + static_cast<std::size_t>(first) * stride + channel;
            for (std::size_t k = 0; k < count; ++k, at += stride)
                *at = static_cast<unsigned char>(values[k] + 128);
            return;
        }
        unsigned char* at = bytes + 2 * (static_cast<std::size_t>(first) * stride + channel);
        if (stride == 1) {
            // One channel: the samples lie side by side, a loop the compiler packs.
            std::int16_t run[256];
            for (std::size_t done = 0; done < count; done += 256) {
                const std::size_t m = std::min<std::size_t>(256, count - done);
                for (std::size_t k = 0; k < m; ++k)
                    run[k] = static_cast<std::int16_t>(values[done + k]);
                std::memcpy(at + 2 * done, run, 2 * m);
            }
            return;
        }
        for (std::size_t k = 0; k < count; ++k, at += 2 * stride) {
            const auto s = static_cast<std::int16_t>(values[k]);
            std::memcpy(at, &s, 2);
        }
    }

    void put(std::int64_t frame, int value) const
    {
        const std::size_t i = static_cast<std::size_t>(frame) * stride + channel;
        if (eightBit) {
            bytes[i] = static_cast<unsigned char>(value + 128);
        } else {
            const auto s = static_cast<std::int16_t>(value);
            std::memcpy(bytes + 2 * i, &s, 2);
        }
    }
};

// The application degree of positions first ... first + count - 1 of a channel.
void fillApplyAlpha(const Settings& settings, const SelectionTable& table, std::int64_t first, std::size_t count,
                    double* alpha)
{
    if (settings.applyUseAlpha == 0) {
        std::fill(alpha, alpha + count, 1.0);
        return;
    }
    std::fill(alpha, alpha + count, settings.applyTreatMissingAlphaAsFull != 0 ? 1.0 : 0.0);
    const std::int64_t last = first + static_cast<std::int64_t>(count) - 1;
    for (const Selection& slot : table) {
        if (slot.kind == SelectionKind::None)
            continue;
        const std::int64_t lo = std::max<std::int64_t>(slot.start, first);
        const std::int64_t hi = std::min<std::int64_t>(slot.end, last);
        const bool chosen = slot.kind == SelectionKind::Blue ? settings.applyBlue != 0 : settings.applyGreen != 0;
        for (std::int64_t p = lo; p <= hi; ++p)
            alpha[p - first] = chosen ? alphaAt(slot, p) : 0.0;
    }
}

const char* resynthesisRefusal(const SoundDocument& doc, const Settings& settings, const Spectrogram& s)
{
    if (!doc.hasData())
        return kNoDestination;
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        return kNoChannel;
    const int channels = doc.format.nChannels;
    if (channels == 1 && settings.applyRight != 0)
        return kNoRight;
    const std::int64_t start = settings.applyNewPosition != 0 ? settings.applyStart : s.firstSample;
    if (start < 0)
        return kBadStart;
    if (!validSpectrogram(s))
        return kBadSpectrogram;
    const std::int64_t h = s.fftSize / 2;
    if (doc.frameCount < start + (static_cast<std::int64_t>(s.spectrumCount) + 1) * h)
        return kTooShort;
    const int bits = doc.format.wBitsPerSample;
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || doc.samples.size() < doc.byteCount()
        || doc.format.nBlockAlign != channels * (bits / 8))
        return kBadFormat;
    return nullptr;
}

// What every frame of a write-back shares. Only for a destination resynthesisRefusal accepts.
struct InverseSetup {
    std::size_t n = 0;
    std::size_t half = 0;
    std::int64_t frames = 0;
    std::int64_t start = 0;
    std::vector<double> fade;
    std::vector<double> keep;     // 1 - fade
    std::vector<double> weights;  // empty for the rectangular window
    double inverseScale = 1.0;    // 1 / (n / 2), a power of two

    // The loops below do the same operations in the same order as one sample after the other would, so
    // the samples are the same to the bit on every processor.
    // Throws std::bad_alloc.
    InverseSetup(const Settings& settings, const Spectrogram& s)
        : n(static_cast<std::size_t>(s.fftSize)), half(n / 2), frames(s.spectrumCount),
          start(settings.applyNewPosition != 0 ? settings.applyStart : s.firstSample), fade(half), keep(half),
          inverseScale(1.0 / static_cast<double>(half))
    {
        if (s.windowType >= kFftWindowHanning && s.windowType <= kFftWindowBlackman)
            weights.resize(n);
        const double pi = 3.141592653589793;
        for (std::size_t k = 0; k < half; ++k) {
            fade[k] = (std::cos(pi * static_cast<double>(k) / static_cast<double>(half - 1)) + 1.0) * 0.5;
            keep[k] = 1.0 - fade[k];
        }
        for (std::size_t k = 0; k < weights.size(); ++k)
            weights[k] = fftWindowWeight(s.windowType, k, n);
    }

    // The last frame written, inclusive: the last frame's second half fades out into the sound.
    std::int64_t lastFrame() const { return start + (frames + 1) * static_cast<std::int64_t>(half) - 1; }

    // Frame u of the spectra back in the time domain; the window is divided out where it is used.
    void inverse(const FrameLoops& loops, const float* spectra, std::int64_t u, double* frame) const
    {
        loops.loadFrame(spectra + static_cast<std::size_t>(u) * n, frame, n, inverseScale, u + 1 < frames);
        fftInverse(n, frame);
    }
    const double* windowWeights() const { return weights.empty() ? nullptr : weights.data(); }
};

// What a run of frames works in. Throws std::bad_alloc.
struct FrameBuffers {
    explicit FrameBuffers(const InverseSetup& set)
        : tail(set.half), alpha(set.half), frame(set.n), mixed(set.half), written(set.half)
    {
    }
    std::vector<double> tail, alpha, frame, mixed;
    std::vector<int> written;
};

// Frames first ... last - 1 of one channel, each blended over the positions of its first half. Frame u
// needs only the second half of frame u - 1, so a run that starts inside the spectra computes that
// frame once more and gives exactly the samples of a run from frame 0; every position is read before
// it is written and by the one run that writes it, so runs may go at once. The run that ends with the
// last frame writes its fade-out too. beforeFrame is called before each frame.
void writeFrames(const InverseSetup& set, const Settings& settings, const SelectionTable& table, const float* spectra,
                 const ChannelSamples& samples, std::int64_t first, std::int64_t last, FrameBuffers& buffers,
                 const std::function<void(std::int64_t)>& beforeFrame)
{
    const FrameLoops& loops = frameLoops();
    const std::size_t half = set.half;
    std::vector<double>& tail = buffers.tail;
    std::vector<double>& alpha = buffers.alpha;
    std::vector<double>& frame = buffers.frame;
    std::vector<double>& mixed = buffers.mixed;
    std::vector<int>& written = buffers.written;
    if (first == 0) {
        for (std::size_t k = 0; k < half; ++k)
            tail[k] = samples.at(set.start + static_cast<std::int64_t>(k));
    } else {
        // Only the second half of the frame before is wanted.
        set.inverse(loops, spectra, first - 1, frame.data());
        loops.crossfade(frame.data(), set.windowWeights(), set.keep.data(), set.fade.data(), tail.data(), mixed.data(), half);
    }
    // Written fully, a sample is the crossfade alone and the old sound is not read.
    const bool full = settings.applyUseAlpha == 0;
    for (std::int64_t u = first; u < last; ++u) {
        if (beforeFrame)
            beforeFrame(u);
        const std::int64_t base = set.start + u * static_cast<std::int64_t>(half);
        set.inverse(loops, spectra, u, frame.data());
        loops.crossfade(frame.data(), set.windowWeights(), set.keep.data(), set.fade.data(), tail.data(), mixed.data(), half);
        if (full) {
            loops.truncate(mixed.data(), half, samples.lowest(), samples.highest(), written.data());
            samples.putRun(base, written.data(), half);
            continue;
        }
        fillApplyAlpha(settings, table, base, half, alpha.data());
        for (std::size_t k = 0; k < half; ++k) {
            const std::int64_t p = base + static_cast<std::int64_t>(k);
            samples.store(p, mixed[k] * alpha[k] + (1.0 - alpha[k]) * samples.at(p));
        }
    }
    if (last != set.frames)
        return;
    const std::int64_t base = set.start + set.frames * static_cast<std::int64_t>(half);
    fillApplyAlpha(settings, table, base, half, alpha.data());
    for (std::size_t k = 0; k < half; ++k) {
        const std::int64_t p = base + static_cast<std::int64_t>(k);
        const double old = samples.at(p);
        samples.store(p, ((1.0 - set.fade[k]) * old + set.fade[k] * tail[k]) * alpha[k] + (1.0 - alpha[k]) * old);
    }
}

const char* progressPrefix(int channel)
{
    return channel == 0 ? "処理中： 左スペクトルを 逆FFT 中 " : "処理中： 右スペクトルを 逆FFT 中 ";
}

// What the status bar keeps once a write-back has ended.
constexpr const char* kDone = "処理中： 逆FFT ( 完了 )";

std::string progressTextOf(int channel, std::int64_t frame, std::int64_t frames)
{
    return progressPrefix(channel) + std::to_string(frame * 100 / frames) + " ％";
}

// The channels the settings choose, left first.
std::vector<int> chosenChannels(const Settings& settings)
{
    std::vector<int> chosen;
    if (settings.applyLeft != 0)
        chosen.push_back(0);
    if (settings.applyRight != 0)
        chosen.push_back(1);
    return chosen;
}

// A channel's frames cut into runs that can be written at once; the runs do not depend on the number of
// threads, so neither do the samples.
struct FrameRun {
    int channel;
    std::int64_t first;
    std::int64_t last;
};

std::vector<FrameRun> frameRuns(const std::vector<int>& channels, std::int64_t frames)
{
    // Each run after the first computes one frame twice.
    const std::int64_t runFrames = std::max<std::int64_t>(32, (frames + 15) / 16);
    std::vector<FrameRun> runs;
    for (int c : channels)
        for (std::int64_t first = 0; first < frames; first += runFrames)
            runs.push_back({c, first, std::min(first + runFrames, frames)});
    return runs;
}

// The write-back on worker threads: each channel's frames cut into runs that any worker can take.
class ResynthesisJob : public LongEditJob {
public:
    // Throws std::bad_alloc. s must stay unchanged until the edit is finished.
    ResynthesisJob(const SoundDocument& doc, const Settings& settings, const Spectrogram& s)
        : settings_(settings), set_(settings, s), spectra_(s.spectra.data()), channels_(chosenChannels(settings)),
          stride_(static_cast<std::size_t>(doc.format.nChannels)), eightBit_(doc.format.wBitsPerSample == 8)
    {
        runs_ = frameRuns(channels_, set_.frames);
    }

    bool runNextPiece(const SoundDocument& source, SoundDocument& working, EditControl& control) override
    {
        const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= runs_.size())
            return false;
        const FrameRun& run = runs_[i];
        const ChannelSamples samples{source.samples.data(), working.samples.data(), stride_,
                                     static_cast<std::size_t>(run.channel), eightBit_};
        EditRegion region;
        region.channel = run.channel;
        region.start = static_cast<std::int32_t>(set_.start);
        region.end = static_cast<std::int32_t>(set_.lastFrame());
        const std::int64_t h = static_cast<std::int64_t>(set_.half);
        FrameBuffers buffers(set_);
        writeFrames(set_, settings_, selectionTable(source, run.channel), spectra_, samples, run.first, run.last, buffers,
                    [&](std::int64_t u) {
                        if (u > run.first) {
                            done_[run.channel].fetch_add(1, std::memory_order_relaxed);
                            control.framesWritten(h);
                        }
                        control.beforeBlock(region, u);
                    });
        done_[run.channel].fetch_add(1, std::memory_order_relaxed);
        control.framesWritten(h);
        return true;
    }

    std::int64_t totalFrames() const override
    {
        return static_cast<std::int64_t>(channels_.size()) * set_.frames * static_cast<std::int64_t>(set_.half);
    }

    void completed(SoundDocument& working) override { noteSamplesChanged(working, set_.start, set_.lastFrame()); }

    std::string progressText() const override
    {
        for (int c : channels_) {
            const std::int64_t done = done_[c].load(std::memory_order_relaxed);
            if (done < set_.frames)
                return progressTextOf(c, done, set_.frames);
        }
        return doneText();
    }

    std::string doneText() const override { return kDone; }
    std::string stoppedText() const override { return "処理中： 逆FFT ( 中止 )"; }
    void reportFailure(Ui& ui) const override { ui.beepWithReason(BeepKind::Error, "not enough memory for the write-back"); }

private:
    Settings settings_;
    InverseSetup set_;
    const float* spectra_;
    std::vector<int> channels_;
    std::size_t stride_;
    bool eightBit_;
    std::vector<FrameRun> runs_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::int64_t> done_[2] = {0, 0};
};

} // namespace

void presetApplyOptions(Settings& settings, const Spectrogram& s)
{
    settings.applyNewPosition = 0;
    settings.applyTreatMissingAlphaAsFull = 0;
    settings.applyStart = s.firstSample;
    settings.applyLeft = s.channel == 1 ? 0 : 1;
    settings.applyRight = s.channel == 1 ? 1 : 0;
}

void openApplyDialog(Settings& settings, bool mono)
{
    if (settings.applyUseAlpha == 0) {
        settings.applyGreen = 0;
        settings.applyBlue = 0;
    } else if (settings.applyGreen == 0 && settings.applyBlue == 0) {
        settings.applyBlue = 1;
    }
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyLeft = 1;
    if (mono) {
        settings.applyLeft = 1;
        settings.applyRight = 0;
    }
    settings.applyNewPosition = settings.applyNewPosition != 0 ? 1 : 0;
}

ApplyDialogEnables applyDialogEnables(const Settings& settings, bool mono)
{
    return {settings.applyUseAlpha == 1, !mono, settings.applyNewPosition != 0};
}

void setApplyUseAlpha(Settings& settings, bool on)
{
    settings.applyUseAlpha = on ? 1 : 0;
    if (!on) {
        settings.applyBlue = 0;
        settings.applyGreen = 0;
        settings.applyTreatMissingAlphaAsFull = 1;
        return;
    }
    // Blue is chosen when neither colour was, and green is turned off: blue alone, as every reachable
    // state gives (alpha off always comes with neither colour).
    settings.applyBlue = 1;
    settings.applyGreen = 0;
}

void setApplyGreen(Settings& settings, bool on)
{
    settings.applyGreen = on ? 1 : 0;
    if (settings.applyGreen == 0 && settings.applyBlue == 0)
        settings.applyBlue = 1;
}

void setApplyBlue(Settings& settings, bool on)
{
    settings.applyBlue = on ? 1 : 0;
    if (settings.applyGreen == 0 && settings.applyBlue == 0)
        settings.applyGreen = 1;
}

void setApplyLeft(Settings& settings, bool on)
{
    settings.applyLeft = on ? 1 : 0;
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyRight = 1;
}

void setApplyRight(Settings& settings, bool on)
{
    settings.applyRight = on ? 1 : 0;
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyLeft = 1;
}

void setApplyMissingAlphaAsFull(Settings& settings, bool on) { settings.applyTreatMissingAlphaAsFull = on ? 1 : 0; }

void setApplyNewPosition(Settings& settings, bool on) { settings.applyNewPosition = on ? 1 : 0; }

std::optional<std::int32_t> parseApplyStart(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool acceptApplyDialog(Ui& ui, Settings& settings, std::string_view startText)
{
    if (settings.applyNewPosition == 0)
        return true;
    const std::optional<std::int32_t> start = parseApplyStart(startText);
    if (!start) {
        showError(ui, kBadApplyStart);
        return false;
    }
    settings.applyStart = *start;
    return true;
}

int resynthesizeSpectrogram(Workspace& ws, Ui& ui, const Spectrogram& s)
{
    SoundDocument& doc = ws.document;
    const Settings& settings = ws.settings;
    if (const char* refusal = resynthesisRefusal(doc, settings, s)) {
        showError(ui, refusal);
        return 0;
    }
    std::unique_ptr<InverseSetup> set;
    try {
        set = std::make_unique<InverseSetup>(settings, s);
    } catch (const std::bad_alloc&) {
        ui.beepWithReason(BeepKind::Error, "not enough memory for the write-back");
        return 0;
    }
    // The runs of each channel in place, on the processor's cores; every thread's buffers are had before
    // a sample is written. The calling thread shows the progress.
    const int threads = defaultSpectrogramThreads();
    std::vector<std::unique_ptr<FrameBuffers>> buffers;
    try {
        for (int t = 0; t < threads; ++t)
            buffers.push_back(std::make_unique<FrameBuffers>(*set));
    } catch (const std::bad_alloc&) {
        if (buffers.empty()) {
            ui.beepWithReason(BeepKind::Error, "not enough memory for the write-back");
            return 0;
        }
    }
    int written = 0;
    for (int c : chosenChannels(settings)) {
        const ChannelSamples samples{doc.samples.data(), doc.samples.data(), static_cast<std::size_t>(doc.format.nChannels),
                                     static_cast<std::size_t>(c), doc.format.wBitsPerSample == 8};
        PercentProgress progress(ui, progressPrefix(c), " ％");
        const std::vector<FrameRun> runs = frameRuns({c}, set->frames);
        std::atomic<std::size_t> next{0};
        std::atomic<std::int64_t> done{0};
        // The first and the last percentage are shown whichever thread writes those frames; between them
        // the calling thread shows how many are done whenever it starts one.
        progress.show(0, set->frames);
        runOnThreads(static_cast<int>(buffers.size()), [&](int t) {
            for (std::size_t i; (i = next.fetch_add(1)) < runs.size();)
                writeFrames(*set, settings, selectionTable(doc, c), s.spectra.data(), samples, runs[i].first,
                            runs[i].last, *buffers[static_cast<std::size_t>(t)], [&](std::int64_t) {
                                const std::int64_t frames = done.fetch_add(1, std::memory_order_relaxed);
                                if (t == 0)
                                    progress.show(frames, set->frames);
                            });
        });
        progress.show(set->frames - 1, set->frames);
        written |= c == 0 ? kWroteLeft : kWroteRight;
    }
    if (written != 0) {
        noteSamplesChanged(doc, set->start, set->lastFrame());
        showProgress(ui, kDone);
    }
    return written;
}

namespace {

// The one-thread button: the undo snapshot, the write-back, the document marked modified.
int writeBackNow(Workspace& ws, Ui& ui, const Spectrogram& s)
{
    int written = 0;
    // Without an undo copy the sound is not touched (the snapshot has beeped); it is still marked
    // modified, as after a refused resynthesis.
    const bool snapshot = snapshotForChange(ws, ui);
    if (snapshot || !ws.document.hasData())
        written = resynthesizeSpectrogram(ws, ui, s);
    markModified(ws, ui);
    if (snapshot) {
        ChangeNote note;
        note.name = "I FFT";
        noteChange(ws, ui, note);
    }
    return written;
}

} // namespace

int runResynthesis(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<bool()>& askOptions)
{
    if (refusedForLongEdit(ws, ui))
        return 0;
    if (ws.busy()) {
        showNotice(ui, kBusy);
        return 0;
    }
    presetApplyOptions(ws.settings, s);
    if (askOptions && !askOptions())
        return 0;
    return writeBackNow(ws, ui, s);
}

ResynthesisStart startResynthesis(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<bool()>& askOptions,
                                  const LongEditOptions& options)
{
    ResynthesisStart result;
    if (refusedForLongEdit(ws, ui))
        return result;
    if (ws.busy()) {
        showNotice(ui, kBusy);
        return result;
    }
    presetApplyOptions(ws.settings, s);
    if (askOptions && !askOptions())
        return result;
    const std::vector<int> chosen = chosenChannels(ws.settings);
    std::unique_ptr<ResynthesisJob> job;
    if (!resynthesisRefusal(ws.document, ws.settings, s)) {
        try {
            job = std::make_unique<ResynthesisJob>(ws.document, ws.settings, s);
        } catch (const std::bad_alloc&) {
            job.reset();
        }
    }
    if (!job) {
        // Refusals and a lack of memory take the one-thread way, which says so.
        result.written = writeBackNow(ws, ui, s);
        return result;
    }
    result.edit = LongEdit::startJob(ws, ui, std::move(job), options);
    if (!result.edit) {
        // No copy to be had: beeped, the sound untouched, marked modified as after a failed snapshot.
        markModified(ws, ui);
        return result;
    }
    for (int c : chosen)
        result.written |= c == 0 ? kWroteLeft : kWroteRight;
    return result;
}

} // namespace sonavik
