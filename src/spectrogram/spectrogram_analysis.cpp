#include "spectrogram/spectrogram_analysis.h"

#include "document/selection.h"
#include "document/sound_document.h"
#include "dsp/fft.h"
#include "edit/edit_control.h"
#include "edit/edit_dispatcher.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "spectrogram/worker_threads.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
// GCC 12 takes the AVX-512 intrinsics' placeholder operands for values used before they are set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define SONAVIK_AVX2 __attribute__((target("avx2")))
#define SONAVIK_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2")))
#endif

namespace sonavik {

namespace {

constexpr const char* kNoData = "No data!";
constexpr const char* kZeroData = "zero data!";
constexpr const char* kBadRegion = "選択領域が不正です";
constexpr const char* kNotEnough = "Not Enough!";
constexpr const char* kNoMemory = "Mem Not Allo!";

// Frames coloured together: their spectra stay in cache while the bytes of each bin are worked out
// frame by frame, and the picture is then written row by row, a block's pixels at a time. The block's
// bytes are kept within kColourScratch; frames with so many bins that not even two fit are written
// straight into the picture.
constexpr std::int32_t kColourBlock = 64;
constexpr std::size_t kColourScratch = std::size_t{1} << 20;

// More threads than this only add work buffers; frames are shared out a block at a time.
constexpr int kMaxThreads = 8;

// Hands out blocks 0 ... count - 1 to threads in runs of consecutive ones. Neighbouring blocks share the
// cache lines at the ends of their pieces of each picture row: handed out one by one, two threads would
// write those lines at the same moment, and each line would go back and forth between them.
class BlockRuns {
public:
    explicit BlockRuns(std::int32_t count) : count_(count) {}

    // The block after `last` (-1 at first) for the thread that had it; count once none is left.
    std::int32_t next(std::int32_t last)
    {
        if (last >= 0 && (last + 1) % kRun != 0 && last + 1 < count_)
            return last + 1;
        const std::int32_t run = nextRun_.fetch_add(1);
        return run <= (count_ - 1) / kRun ? run * kRun : count_;
    }

private:
    static constexpr std::int32_t kRun = 8;
    const std::int32_t count_;
    std::atomic<std::int32_t> nextRun_{0};
};

int threadsFor(int asked)
{
    return asked > 0 ? std::min(asked, kMaxThreads) : defaultSpectrogramThreads();
}

// Copies bytes to memory that is not read again soon (the spectra): the whole cache lines
// of the destination bypass the cache, so they are neither read in before being written nor push out
// the frame being worked on. The edges go through the cache. Stores made this way must be fenced
// (finishStreaming) before another thread reads them.
void streamCopy(void* to, const void* from, std::size_t bytes)
{
#if defined(__SSE2__)
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    const std::size_t head = (64 - reinterpret_cast<std::uintptr_t>(out) % 64) % 64;
    if (bytes < head + 64) {
        std::memcpy(out, in, bytes);
        return;
    }
    std::memcpy(out, in, head);
    std::size_t at = head;
    for (; at + 64 <= bytes; at += 64) {
        __m128i v[4];
        std::memcpy(v, in + at, 64);
        for (int i = 0; i < 4; ++i)
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + at) + i, v[i]);
    }
    std::memcpy(out + at, in + at, bytes - at);
#else
    std::memcpy(to, from, bytes);
#endif
}

void finishStreaming()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// Truncated toward zero and limited to 0 ... 255; a value that is not a finite number gives 0.
inline unsigned char colourByte(double x)
{
    if (x < 255.0)
        return x > 0.0 ? static_cast<unsigned char>(static_cast<int>(x)) : 0;
    return x <= std::numeric_limits<double>::max() ? 255 : 0;
}

struct ColourConstants {
    double linear;   // kL
    double logScale; // kG
    double logShift; // D
};

ColourConstants colourConstants(const Spectrogram& s, const ColourFactors& f)
{
    const double ln2 = std::log(2.0);
    ColourConstants c;
    c.linear = 0.005 * s.gain * s.amplitudeScale;
    c.logScale = 1275.0 / (ln2 * 100.0 * f.green);
    // The bracket holds 12 ln 2, not 12: the picture's brightness depends on it.
    c.logShift = 2.0 * std::log(s.amplitudeScale) - 2.0 * ln2 * (12.0 * ln2 - std::log(s.gain) / ln2);
    return c;
}

// Pixels of consecutive bins (blue, green, red in the low bytes of each word), pitch bytes apart from
// px on: whole words where the fourth byte may be overwritten, three bytes otherwise.
inline void storePixels(const std::uint32_t* pixel, std::size_t count, unsigned char* px, std::size_t pitch,
                        bool wholeWords)
{
    if (wholeWords && pitch == 4)
        std::memcpy(px, pixel, 4 * count);
    else if (wholeWords)
        for (std::size_t k = 0; k < count; ++k)
            std::memcpy(px + k * pitch, &pixel[k], 4);
    else
        for (std::size_t k = 0; k < count; ++k)
            std::memcpy(px + k * pitch, &pixel[k], 3);
}

#ifdef SONAVIK_AVX2
// The wide paths below do exactly the arithmetic of the portable ones, element by element (no fused
// multiply-add: the target has no FMA), so the pictures and spectra do not depend on the processor.

// Truncated and limited to 0 ... 255, and 0 where x is not finite (x - x is then not 0): four int32s.
SONAVIK_AVX2 inline __m128i colourBytesWide(__m256d x)
{
    const __m256d zero = _mm256_setzero_pd();
    const __m256d finite = _mm256_cmp_pd(_mm256_sub_pd(x, x), zero, _CMP_EQ_OQ);
    const __m256d limited = _mm256_and_pd(_mm256_min_pd(_mm256_max_pd(x, zero), _mm256_set1_pd(255.0)), finite);
    return _mm256_cvttpd_epi32(limited);
}

// The linear colours worked out in single precision, which is several times faster, where that is sure
// to give the bytes the double-precision arithmetic gives. With g = factor x linear rounded to single
// precision, y' = g sqrt(re^2 + im^2) is within 5 single-precision roundings (3e-7) of the exact y, or
// 8e-5 for the y up to 256 where the byte is not simply 255, when nothing underflows: so when y' - m
// and y' + m (m = kSingleMargin) give the same byte, so does y. Where even re^2 and im^2 underflow, y
// is below 1e12 x 2e-19 and y' too, so both give 0. The kernels below give the pixels of a vector of
// bins, or false where any byte is in doubt (about one bin in a thousand) or p is not finite in single
// precision; those bins are then worked out in double precision.
constexpr float kSingleMargin = 2e-4f;

// Whether the factors allow that: finite, and 0 or of a size for which the bounds above hold.
bool singlePrecisionColours(double linear, const double factor[3])
{
    for (int c = 0; c < 3; ++c) {
        const double g = std::fabs(factor[c] * linear);
        if (!(g == 0.0 || (g >= 1e-20 && g <= 1e12)))
            return false;
    }
    return true;
}

// Truncated and limited to 0 ... 255 (y is finite): eight int32s.
SONAVIK_AVX2 inline __m256i singleByteWide(__m256 y)
{
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(y, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

SONAVIK_AVX2 inline bool singlePrecisionPixelsWide(__m256 re, __m256 im, const __m256 g[3], __m256i& words)
{
    const __m256 p = _mm256_add_ps(_mm256_mul_ps(re, re), _mm256_mul_ps(im, im));
    if (_mm256_movemask_ps(_mm256_cmp_ps(p, _mm256_set1_ps(std::numeric_limits<float>::max()), _CMP_LE_OQ)) != 0xff)
        return false;
    const __m256 s = _mm256_sqrt_ps(p);
    const __m256 margin = _mm256_set1_ps(kSingleMargin);
    words = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
        const __m256 y = _mm256_mul_ps(g[c], s);
        const __m256i low = singleByteWide(_mm256_sub_ps(y, margin));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(low, singleByteWide(_mm256_add_ps(y, margin)))) != -1)
            return false;
        words = _mm256_or_si256(words, _mm256_slli_epi32(low, 8 * c));
    }
    return true;
}

// Linear colours of bins from ... last - 1 (all with both parts), eight at a time; returns the first
// bin left over. Each pixel is written as blue, green, red (and a fourth byte when wholeWords). Where
// given, the frame's n values are also streamed to kept (on a cache line) as the bins are coloured, a
// cache line a step: the stores then leave the core while it works, instead of all at once. Returns
// (through streamed) how many values went.
SONAVIK_AVX2 std::size_t linearBinsWide(const float* frame, std::size_t n, std::size_t from, std::size_t last,
                                        double linear, const double factor[3], unsigned char* cells,
                                        std::size_t pitch, bool wholeWords, float* kept, std::size_t& streamed)
{
    const __m256d kL = _mm256_set1_pd(linear);
    const __m256d f[3] = {_mm256_set1_pd(factor[0]), _mm256_set1_pd(factor[1]), _mm256_set1_pd(factor[2])};
    const bool single = singlePrecisionColours(linear, factor);
    const __m256 g[3] = {_mm256_set1_ps(static_cast<float>(factor[0] * linear)),
                         _mm256_set1_ps(static_cast<float>(factor[1] * linear)),
                         _mm256_set1_ps(static_cast<float>(factor[2] * linear))};
    const __m256i reversed = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t b = from;
    for (; b + 8 <= last; b += 8) {
        if (kept && streamed + 16 <= n) {
            _mm256_stream_ps(kept + streamed, _mm256_loadu_ps(frame + streamed));
            _mm256_stream_ps(kept + streamed + 8, _mm256_loadu_ps(frame + streamed + 8));
            streamed += 16;
        }
        const __m256 re = _mm256_loadu_ps(frame + b);
        // frame[n - b], frame[n - b - 1], ... frame[n - b - 7].
        const __m256 im = _mm256_permutevar8x32_ps(_mm256_loadu_ps(frame + n - b - 7), reversed);
        alignas(32) std::uint32_t pixel[8];
        __m256i words;
        if (single && singlePrecisionPixelsWide(re, im, g, words)) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(pixel), words);
            storePixels(pixel, 8, cells + b * pitch, pitch, wholeWords);
            continue;
        }
        for (int h = 0; h < 2; ++h) {
            const __m256d r = _mm256_cvtps_pd(h == 0 ? _mm256_castps256_ps128(re) : _mm256_extractf128_ps(re, 1));
            const __m256d i = _mm256_cvtps_pd(h == 0 ? _mm256_castps256_ps128(im) : _mm256_extractf128_ps(im, 1));
            const __m256d v = _mm256_mul_pd(kL, _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i))));
            const __m128i blue = colourBytesWide(_mm256_mul_pd(f[0], v));
            const __m128i green = colourBytesWide(_mm256_mul_pd(f[1], v));
            const __m128i red = colourBytesWide(_mm256_mul_pd(f[2], v));
            const __m128i bgr =
                _mm_or_si128(_mm_or_si128(blue, _mm_slli_epi32(green, 8)), _mm_slli_epi32(red, 16));
            _mm_store_si128(reinterpret_cast<__m128i*>(pixel + 4 * h), bgr);
        }
        storePixels(pixel, 8, cells + b * pitch, pitch, wholeWords);
    }
    return b;
}

// Pixels kept frame by frame written into the picture's rows, as pixelRows512 does (see there), eight
// frames by eight bins at a time.
SONAVIK_AVX2 void pixelRowsWide(const std::uint32_t* words, std::size_t pitch, std::size_t frames, std::size_t bins,
                                unsigned char* rows, std::size_t stride)
{
    // Within each 128-bit lane the low three bytes of its four words come first; then the lanes' twelve
    // bytes are put together: 24 bytes, eight pixels.
    const __m256i threeOfFour = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128, 0, 1,
                                                 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
    const __m256i lanesTogether = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0);
    const __m256i sixWords = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);
    const std::size_t wholeFrames = frames / 8 * 8;
    const std::size_t wholeBins = bins / 8 * 8;
    for (std::size_t b = 0; b < wholeBins; b += 8) {
        // The rows two eights on are asked for while these are turned: each lies far from the next, out
        // of the cache.
        if (b + 16 < wholeBins)
            for (std::size_t k = 0; k < 8; ++k) {
                const unsigned char* ahead = rows + (b + 16 + k) * stride;
                for (std::size_t at = 0; at < 3 * wholeFrames + 63; at += 64)
                    _mm_prefetch(reinterpret_cast<const char*>(ahead + at), _MM_HINT_T0);
            }
        for (std::size_t f = 0; f < wholeFrames; f += 8) {
            __m256i r[8], t[8];
            for (int k = 0; k < 8; ++k)
                r[k] = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i*>(words + (f + static_cast<std::size_t>(k)) * pitch + b));
            // Within each lane, t[4 g + c] holds column c of the lane's four columns, from rows 4 g ... 4 g + 3.
            for (int g = 0; g < 2; ++g) {
                const __m256i lo01 = _mm256_unpacklo_epi32(r[4 * g], r[4 * g + 1]);
                const __m256i hi01 = _mm256_unpackhi_epi32(r[4 * g], r[4 * g + 1]);
                const __m256i lo23 = _mm256_unpacklo_epi32(r[4 * g + 2], r[4 * g + 3]);
                const __m256i hi23 = _mm256_unpackhi_epi32(r[4 * g + 2], r[4 * g + 3]);
                t[4 * g] = _mm256_unpacklo_epi64(lo01, lo23);
                t[4 * g + 1] = _mm256_unpackhi_epi64(lo01, lo23);
                t[4 * g + 2] = _mm256_unpacklo_epi64(hi01, hi23);
                t[4 * g + 3] = _mm256_unpackhi_epi64(hi01, hi23);
            }
            // Column c: the low lanes of t[c] and t[4 + c]; column 4 + c: their high lanes.
            for (int c = 0; c < 4; ++c) {
                const __m256i column[2] = {_mm256_permute2x128_si256(t[c], t[4 + c], 0x20),
                                           _mm256_permute2x128_si256(t[c], t[4 + c], 0x31)};
                for (int half = 0; half < 2; ++half) {
                    const __m256i packed =
                        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(column[half], threeOfFour), lanesTogether);
                    const std::size_t bin = b + static_cast<std::size_t>(4 * half + c);
                    _mm256_maskstore_epi32(reinterpret_cast<int*>(rows + bin * stride + 3 * f), sixWords, packed);
                }
            }
        }
    }
    for (std::size_t b = 0; b < bins; ++b)
        for (std::size_t f = b < wholeBins ? wholeFrames : 0; f < frames; ++f)
            std::memcpy(rows + b * stride + 3 * f, words + f * pitch + b, 3);
}

// count 16-bit samples of one channel (every channels-th value, channels 1 or 2) from at, each times
// its weight, as doubles.
SONAVIK_AVX2 void loadWeighted16Wide(const unsigned char* at, int channels, int channel, std::size_t count,
                                     const double* weights, double* out)
{
    std::size_t k = 0;
    if (channels == 2) {
        // Eight frames a time: each 32-bit word holds the left sample low, the right one high.
        for (; k + 8 <= count; k += 8) {
            const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 4 * k));
            const __m256i values = channel == 0 ? _mm256_srai_epi32(_mm256_slli_epi32(words, 16), 16)
                                                : _mm256_srai_epi32(words, 16);
            const __m256d lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(values));
            const __m256d hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(values, 1));
            _mm256_storeu_pd(out + k, _mm256_mul_pd(lo, _mm256_loadu_pd(weights + k)));
            _mm256_storeu_pd(out + k + 4, _mm256_mul_pd(hi, _mm256_loadu_pd(weights + k + 4)));
        }
    } else {
        for (; k + 8 <= count; k += 8) {
            const __m256i values =
                _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2 * k)));
            const __m256d lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(values));
            const __m256d hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(values, 1));
            _mm256_storeu_pd(out + k, _mm256_mul_pd(lo, _mm256_loadu_pd(weights + k)));
            _mm256_storeu_pd(out + k + 4, _mm256_mul_pd(hi, _mm256_loadu_pd(weights + k + 4)));
        }
    }
    const std::size_t stride = static_cast<std::size_t>(channels);
    for (; k < count; ++k) {
        std::int16_t v;
        std::memcpy(&v, at + 2 * (k * stride + static_cast<std::size_t>(channel)), 2);
        out[k] = static_cast<double>(v) * weights[k];
    }
}

// count doubles rounded to floats.
SONAVIK_AVX2 void singlesWide(const double* x, std::size_t count, float* out)
{
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        _mm_storeu_ps(out + k, _mm256_cvtpd_ps(_mm256_loadu_pd(x + k)));
        _mm_storeu_ps(out + k + 4, _mm256_cvtpd_ps(_mm256_loadu_pd(x + k + 4)));
    }
    for (; k < count; ++k)
        out[k] = static_cast<float>(x[k]);
}

// The same loops sixteen values at a time, for processors with AVX-512.

// Truncated and limited to 0 ... 255, and 0 where x is not finite: eight int32s.
SONAVIK_AVX512 inline __m256i colourBytes512(__m512d x)
{
    const __m512d zero = _mm512_setzero_pd();
    const __mmask8 finite = _mm512_cmp_pd_mask(_mm512_sub_pd(x, x), zero, _CMP_EQ_OQ);
    return _mm512_maskz_cvttpd_epi32(finite, _mm512_min_pd(_mm512_max_pd(x, zero), _mm512_set1_pd(255.0)));
}

// Truncated and limited to 0 ... 255 (y is finite): sixteen int32s.
SONAVIK_AVX512 inline __m512i singleByte512(__m512 y)
{
    return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(y, _mm512_setzero_ps()), _mm512_set1_ps(255.0f)));
}

SONAVIK_AVX512 inline bool singlePrecisionPixels512(__m512 re, __m512 im, const __m512 g[3], __m512i& words)
{
    const __m512 p = _mm512_add_ps(_mm512_mul_ps(re, re), _mm512_mul_ps(im, im));
    if (_mm512_cmp_ps_mask(p, _mm512_set1_ps(std::numeric_limits<float>::max()), _CMP_LE_OQ) != 0xffff)
        return false;
    const __m512 s = _mm512_sqrt_ps(p);
    const __m512 margin = _mm512_set1_ps(kSingleMargin);
    words = _mm512_setzero_si512();
    for (int c = 0; c < 3; ++c) {
        const __m512 y = _mm512_mul_ps(g[c], s);
        const __m512i low = singleByte512(_mm512_sub_ps(y, margin));
        if (_mm512_cmpneq_epi32_mask(low, singleByte512(_mm512_add_ps(y, margin))) != 0)
            return false;
        words = _mm512_or_si512(words, _mm512_slli_epi32(low, 8 * c));
    }
    return true;
}

// linearBinsWide sixteen bins at a time, streaming two cache lines a step.
SONAVIK_AVX512 std::size_t linearBins512(const float* frame, std::size_t n, std::size_t from, std::size_t last,
                                         double linear, const double factor[3], unsigned char* cells,
                                         std::size_t pitch, bool wholeWords, float* kept, std::size_t& streamed)
{
    const __m512d kL = _mm512_set1_pd(linear);
    const __m512d f[3] = {_mm512_set1_pd(factor[0]), _mm512_set1_pd(factor[1]), _mm512_set1_pd(factor[2])};
    const bool single = singlePrecisionColours(linear, factor);
    const __m512 g[3] = {_mm512_set1_ps(static_cast<float>(factor[0] * linear)),
                         _mm512_set1_ps(static_cast<float>(factor[1] * linear)),
                         _mm512_set1_ps(static_cast<float>(factor[2] * linear))};
    const __m512i reversed = _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t b = from;
    for (; b + 16 <= last; b += 16) {
        if (kept && streamed + 32 <= n) {
            _mm512_stream_ps(kept + streamed, _mm512_loadu_ps(frame + streamed));
            _mm512_stream_ps(kept + streamed + 16, _mm512_loadu_ps(frame + streamed + 16));
            streamed += 32;
        }
        const __m512 re = _mm512_loadu_ps(frame + b);
        // frame[n - b], frame[n - b - 1], ... frame[n - b - 15].
        const __m512 im = _mm512_permutexvar_ps(reversed, _mm512_loadu_ps(frame + n - b - 15));
        alignas(64) std::uint32_t pixel[16];
        __m512i words;
        if (single && singlePrecisionPixels512(re, im, g, words)) {
            _mm512_store_si512(pixel, words);
            storePixels(pixel, 16, cells + b * pitch, pitch, wholeWords);
            continue;
        }
        for (int h = 0; h < 2; ++h) {
            const __m512d r = _mm512_cvtps_pd(h == 0 ? _mm512_castps512_ps256(re)
                                                     : _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(re), 1)));
            const __m512d i = _mm512_cvtps_pd(h == 0 ? _mm512_castps512_ps256(im)
                                                     : _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(im), 1)));
            const __m512d v = _mm512_mul_pd(kL, _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(r, r), _mm512_mul_pd(i, i))));
            const __m256i blue = colourBytes512(_mm512_mul_pd(f[0], v));
            const __m256i green = colourBytes512(_mm512_mul_pd(f[1], v));
            const __m256i red = colourBytes512(_mm512_mul_pd(f[2], v));
            const __m256i bgr =
                _mm256_or_si256(_mm256_or_si256(blue, _mm256_slli_epi32(green, 8)), _mm256_slli_epi32(red, 16));
            _mm256_store_si256(reinterpret_cast<__m256i*>(pixel + 8 * h), bgr);
        }
        storePixels(pixel, 16, cells + b * pitch, pitch, wholeWords);
    }
    return b;
}

// Pixels kept frame by frame (one word per bin, blue, green and red in its low bytes; frame f's bin b
// at words[f * pitch + b]) written into the picture's rows: bin b's row starts at rows + b * stride and
// gets frames 0 ... frames - 1 as three bytes each. Sixteen frames by sixteen bins at a time, turned
// in registers; the edges a word at a time.
SONAVIK_AVX512 void pixelRows512(const std::uint32_t* words, std::size_t pitch, std::size_t frames,
                                 std::size_t bins, unsigned char* rows, std::size_t stride)
{
    // Within each 128-bit lane the low three bytes of its four words come first; then the lanes' twelve
    // bytes are put together: 48 bytes, sixteen pixels.
    const __m512i threeOfFour = _mm512_set4_epi32(static_cast<int>(0x80808080), 0x0e0d0c0a, 0x09080605, 0x04020100);
    const __m512i lanesTogether = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
    const std::size_t wholeFrames = frames / 16 * 16;
    const std::size_t wholeBins = bins / 16 * 16;
    for (std::size_t b = 0; b < wholeBins; b += 16) {
        // The rows two sixteens on are asked for while these are turned: each lies far from the next,
        // out of the cache.
        if (b + 32 < wholeBins)
            for (std::size_t k = 0; k < 16; ++k) {
                const unsigned char* ahead = rows + (b + 32 + k) * stride;
                for (std::size_t at = 0; at < 3 * wholeFrames + 63; at += 64)
                    _mm_prefetch(reinterpret_cast<const char*>(ahead + at), _MM_HINT_T0);
            }
        for (std::size_t f = 0; f < wholeFrames; f += 16) {
            __m512i r[16], t[16];
            for (int k = 0; k < 16; ++k)
                r[k] = _mm512_loadu_si512(words + (f + static_cast<std::size_t>(k)) * pitch + b);
            // Words, then pairs of words: within each lane, t[4 g + c] holds column c of the lane's four
            // columns, from rows 4 g ... 4 g + 3.
            for (int g = 0; g < 4; ++g) {
                const __m512i lo01 = _mm512_unpacklo_epi32(r[4 * g], r[4 * g + 1]);
                const __m512i hi01 = _mm512_unpackhi_epi32(r[4 * g], r[4 * g + 1]);
                const __m512i lo23 = _mm512_unpacklo_epi32(r[4 * g + 2], r[4 * g + 3]);
                const __m512i hi23 = _mm512_unpackhi_epi32(r[4 * g + 2], r[4 * g + 3]);
                t[4 * g] = _mm512_unpacklo_epi64(lo01, lo23);
                t[4 * g + 1] = _mm512_unpackhi_epi64(lo01, lo23);
                t[4 * g + 2] = _mm512_unpacklo_epi64(hi01, hi23);
                t[4 * g + 3] = _mm512_unpackhi_epi64(hi01, hi23);
            }
            // Then the lanes: column 4 L + c gathers lane L of t[c], t[4 + c], t[8 + c] and t[12 + c].
            for (int c = 0; c < 4; ++c) {
                const __m512i lowLanes01 = _mm512_shuffle_i32x4(t[c], t[4 + c], 0x44);
                const __m512i highLanes01 = _mm512_shuffle_i32x4(t[c], t[4 + c], 0xee);
                const __m512i lowLanes23 = _mm512_shuffle_i32x4(t[8 + c], t[12 + c], 0x44);
                const __m512i highLanes23 = _mm512_shuffle_i32x4(t[8 + c], t[12 + c], 0xee);
                const __m512i column[4] = {_mm512_shuffle_i32x4(lowLanes01, lowLanes23, 0x88),
                                           _mm512_shuffle_i32x4(lowLanes01, lowLanes23, 0xdd),
                                           _mm512_shuffle_i32x4(highLanes01, highLanes23, 0x88),
                                           _mm512_shuffle_i32x4(highLanes01, highLanes23, 0xdd)};
                for (int lane = 0; lane < 4; ++lane) {
                    const __m512i packed = _mm512_permutexvar_epi32(lanesTogether,
                                                                    _mm512_shuffle_epi8(column[lane], threeOfFour));
                    const std::size_t bin = b + static_cast<std::size_t>(4 * lane + c);
                    _mm512_mask_storeu_epi32(rows + bin * stride + 3 * f, 0x0fff, packed);
                }
            }
        }
    }
    for (std::size_t b = 0; b < bins; ++b)
        for (std::size_t f = b < wholeBins ? wholeFrames : 0; f < frames; ++f)
            std::memcpy(rows + b * stride + 3 * f, words + f * pitch + b, 3);
}

SONAVIK_AVX512 void loadWeighted16Avx512(const unsigned char* at, int channels, int channel, std::size_t count,
                                         const double* weights, double* out)
{
    std::size_t k = 0;
    if (channels == 2) {
        for (; k + 16 <= count; k += 16) {
            const __m512i words = _mm512_loadu_si512(at + 4 * k);
            const __m512i values = channel == 0 ? _mm512_srai_epi32(_mm512_slli_epi32(words, 16), 16)
                                                : _mm512_srai_epi32(words, 16);
            const __m512d lo = _mm512_cvtepi32_pd(_mm512_castsi512_si256(values));
            const __m512d hi = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(values, 1));
            _mm512_storeu_pd(out + k, _mm512_mul_pd(lo, _mm512_loadu_pd(weights + k)));
            _mm512_storeu_pd(out + k + 8, _mm512_mul_pd(hi, _mm512_loadu_pd(weights + k + 8)));
        }
    } else {
        for (; k + 16 <= count; k += 16) {
            const __m512i values =
                _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2 * k)));
            const __m512d lo = _mm512_cvtepi32_pd(_mm512_castsi512_si256(values));
            const __m512d hi = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(values, 1));
            _mm512_storeu_pd(out + k, _mm512_mul_pd(lo, _mm512_loadu_pd(weights + k)));
            _mm512_storeu_pd(out + k + 8, _mm512_mul_pd(hi, _mm512_loadu_pd(weights + k + 8)));
        }
    }
    const std::size_t stride = static_cast<std::size_t>(channels);
    for (; k < count; ++k) {
        std::int16_t v;
        std::memcpy(&v, at + 2 * (k * stride + static_cast<std::size_t>(channel)), 2);
        out[k] = static_cast<double>(v) * weights[k];
    }
}

SONAVIK_AVX512 void singlesAvx512(const double* x, std::size_t count, float* out)
{
    std::size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        _mm256_storeu_ps(out + k, _mm512_cvtpd_ps(_mm512_loadu_pd(x + k)));
        _mm256_storeu_ps(out + k + 8, _mm512_cvtpd_ps(_mm512_loadu_pd(x + k + 8)));
    }
    for (; k < count; ++k)
        out[k] = static_cast<float>(x[k]);
}
#endif

void singles(const double* x, std::size_t count, float* out, SimdPath path)
{
#ifdef SONAVIK_AVX2
    if (path == SimdPath::Avx512) {
        singlesAvx512(x, count, out);
        return;
    }
    if (path == SimdPath::Avx2) {
        singlesWide(x, count, out);
        return;
    }
#endif
    (void)path;
    for (std::size_t k = 0; k < count; ++k)
        out[k] = static_cast<float>(x[k]);
}

// Colours frames of a spectrogram, a block at a time: the bytes of every bin of a frame (the linear map
// runs on vectors) go to a scratch block laid out like the picture's rows, which are then copied whole.
// Each scratch row has one spare byte at its end, so a pixel can be stored as one 4-byte word: the
// fourth byte is overwritten by the next frame's pixel, or lands in the spare byte.
// With AVX2 or AVX-512 the block's pixels are instead kept frame by frame, a word per bin, and turned into
// the picture's rows in registers (pixelRowsWide, pixelRows512): blocks are then whole sixteens of frames.
class Colourer {
public:
    Colourer(Spectrogram& s, const ColourFactors& f)
        : s_(s), f_(f), c_(colourConstants(s, f)), bins_(static_cast<std::size_t>(s.binCount)),
          wordsPerFrame_((bins_ + 15) / 16 * 16), tiledBlock_(tiledBlock(wordsPerFrame_, path_)),
          block_(tiledBlock_ > 0 ? tiledBlock_
                                 : static_cast<std::int32_t>(
                                       std::clamp<std::size_t>(kColourScratch / (3 * bins_), 1, kColourBlock))),
          direct_(block_ < 2),
          rowPitch_(direct_ ? s.bitmapStride() : tiledBlock_ > 0 ? 4 : 3 * static_cast<std::size_t>(block_) + 1),
          scratch_(direct_             ? 0
                   : tiledBlock_ > 0 ? 4 * wordsPerFrame_ * static_cast<std::size_t>(block_)
                                     : rowPitch_ * bins_)
    {
    }

    // Frames per call of frames() that keep its bytes in the scratch block.
    std::int32_t blockFrames() const { return block_; }

    // Colours frames j0 ... j1 - 1, whose spectra start at spectra (frame j0's first element). Calls for
    // different frames may run at once on different Colourers of the same spectrogram.
    void frames(std::int32_t j0, std::int32_t j1, const float* spectra)
    {
        const std::size_t n = static_cast<std::size_t>(s_.fftSize);
        for (std::int32_t j = j0; j < j1; ++j)
            frame(j0, j, spectra + static_cast<std::size_t>(j - j0) * n);
        write(j0, j1);
    }

    // The same in two steps: frame j of the block that starts at frame j0, one at a time; then the
    // block's pixels into the picture. Where kept is given, the frame's values are also streamed there
    // (as streamCopy does), along the way where the kernel allows.
    void frame(std::int32_t j0, std::int32_t j, const float* values, float* kept = nullptr)
    {
        // From one frame's bytes to the next frame's: a word per bin when kept frame by frame.
        const std::size_t frameStep = tiledBlock_ > 0 ? 4 * wordsPerFrame_ : 3;
        unsigned char* cells = direct_ ? s_.colourBitmap.data() + 3 * static_cast<std::size_t>(j)
                                       : scratch_.data() + frameStep * static_cast<std::size_t>(j - j0);
        std::size_t streamed = 0;
        // The kernels stream whole aligned vectors: only to a frame that starts on a cache line.
        float* const alongTheWay = reinterpret_cast<std::uintptr_t>(kept) % 64 == 0 ? kept : nullptr;
        if (s_.logDisplay != 0)
            logFrame(values, cells);
        else
            linearFrame(values, cells, alongTheWay, streamed);
        if (kept)
            streamCopy(kept + streamed, values + streamed,
                       (static_cast<std::size_t>(s_.fftSize) - streamed) * sizeof(float));
    }

    void write(std::int32_t j0, std::int32_t j1)
    {
        if (direct_)
            return;
        const std::size_t stride = s_.bitmapStride();
        const std::size_t bytes = 3 * static_cast<std::size_t>(j1 - j0);
        unsigned char* row = s_.colourBitmap.data() + 3 * static_cast<std::size_t>(j0);
#ifdef SONAVIK_AVX2
        if (tiledBlock_ > 0) {
            const auto rows = path_ == SimdPath::Avx512 ? pixelRows512 : pixelRowsWide;
            rows(reinterpret_cast<const std::uint32_t*>(scratch_.data()), wordsPerFrame_,
                 static_cast<std::size_t>(j1 - j0), bins_, row, stride);
            return;
        }
#endif
        // Through the cache: a row's few hundred bytes rarely start on a cache line, and streaming the
        // lines between its partly written ends was slower.
        for (std::size_t b = 0; b < bins_; ++b, row += stride)
            std::memcpy(row, scratch_.data() + b * rowPitch_, bytes);
    }

private:
    // Frames per block when the pixels are kept frame by frame: whole sixteens within the scratch
    // allowance, up to kColourBlock; 0 where that way is not taken.
    static std::int32_t tiledBlock(std::size_t wordsPerFrame, SimdPath path)
    {
#ifndef SONAVIK_AVX2
        path = SimdPath::Portable;
#endif
        if (path == SimdPath::Portable)
            return 0;
        const std::size_t frames = std::min<std::size_t>(kColourScratch / (4 * wordsPerFrame), kColourBlock) / 16 * 16;
        return static_cast<std::int32_t>(frames);
    }

    double power(const float* frame, std::size_t b) const
    {
        const double re = frame[b];
        if (b == 0 || b + 1 == bins_)
            return re * re;
        const double im = frame[static_cast<std::size_t>(s_.fftSize) - b];
        return re * re + im * im;
    }

    void put(double v, std::size_t b, unsigned char* cells) const
    {
        unsigned char* px = cells + b * rowPitch_;
        px[0] = colourByte(f_.blue * v);
        px[1] = colourByte(f_.green * v);
        px[2] = colourByte(f_.red * v);
    }

    void logFrame(const float* frame, unsigned char* cells) const
    {
        for (std::size_t b = 0; b < bins_; ++b)
            put(c_.logScale * (std::log(power(frame, b)) + c_.logShift), b, cells);
    }

    void linearFrame(const float* frame, unsigned char* cells, float* kept, std::size_t& streamed) const
    {
        std::size_t b = 1;
        [[maybe_unused]] const std::size_t n = static_cast<std::size_t>(s_.fftSize);
#ifdef SONAVIK_AVX2
        const double factors[3] = {f_.blue, f_.green, f_.red};
        if (path_ == SimdPath::Avx512)
            b = linearBins512(frame, n, b, bins_ - 1, c_.linear, factors, cells, rowPitch_, !direct_, kept, streamed);
        else if (path_ == SimdPath::Avx2)
            b = linearBinsWide(frame, n, b, bins_ - 1, c_.linear, factors, cells, rowPitch_, !direct_, kept,
                               streamed);
#else
        (void)kept;
        (void)streamed;
#endif
#if defined(__SSE2__)
        // Bins 1 ... B - 2 have both parts; four at a time, with exactly the scalar arithmetic.
        const __m128d zero = _mm_setzero_pd();
        const __m128d top = _mm_set1_pd(255.0);
        const __m128d kL = _mm_set1_pd(c_.linear);
        const __m128d factor[3] = {_mm_set1_pd(f_.blue), _mm_set1_pd(f_.green), _mm_set1_pd(f_.red)};
        const std::size_t pitch = rowPitch_;
        const bool wholeWords = !direct_;
        // Two floats from at, as doubles.
        auto load2 = [](const float* at) {
            return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))));
        };
        // Truncated and limited to 0 ... 255, and 0 where x is not finite (x - x is then not 0).
        auto bytes = [&](__m128d x) {
            const __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(x, x), zero);
            const __m128d limited = _mm_and_pd(_mm_min_pd(_mm_max_pd(x, zero), top), finite);
            return _mm_cvttpd_epi32(limited);
        };
        const std::size_t last = bins_ - 1;
        for (; b + 4 <= last; b += 4) {
            __m128d v[2];
            for (int h = 0; h < 2; ++h) {
                const std::size_t at = b + 2 * static_cast<std::size_t>(h);
                const __m128d re = load2(frame + at);
                // frame[n - at] and frame[n - at - 1], in that order.
                const __m128d imReversed = load2(frame + n - at - 1);
                const __m128d im = _mm_shuffle_pd(imReversed, imReversed, 1);
                const __m128d p = _mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im));
                v[h] = _mm_mul_pd(kL, _mm_sqrt_pd(p));
            }
            __m128i colourBytes[3];
            for (int colour = 0; colour < 3; ++colour) {
                const __m128i lo = bytes(_mm_mul_pd(factor[colour], v[0]));
                const __m128i hi = bytes(_mm_mul_pd(factor[colour], v[1]));
                const __m128i four = _mm_unpacklo_epi64(lo, hi);
                colourBytes[colour] = _mm_packus_epi16(_mm_packs_epi32(four, four), _mm_setzero_si128());
            }
            // Blue, green, red and a zero for each of the four bins.
            const __m128i blueGreen = _mm_unpacklo_epi8(colourBytes[0], colourBytes[1]);
            const __m128i redZero = _mm_unpacklo_epi8(colourBytes[2], _mm_setzero_si128());
            alignas(16) std::uint32_t pixel[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(pixel), _mm_unpacklo_epi16(blueGreen, redZero));
            storePixels(pixel, 4, cells + b * pitch, pitch, wholeWords);
        }
#endif
        for (; b + 1 < bins_; ++b)
            put(c_.linear * std::sqrt(power(frame, b)), b, cells);
        put(c_.linear * std::sqrt(power(frame, 0)), 0, cells);
        if (bins_ > 1)
            put(c_.linear * std::sqrt(power(frame, bins_ - 1)), bins_ - 1, cells);
    }

    const SimdPath path_ = simdPath();
    Spectrogram& s_;
    const ColourFactors f_;
    const ColourConstants c_;
    const std::size_t bins_;
    const std::size_t wordsPerFrame_; // bins rounded up to whole sixteens
    const std::int32_t tiledBlock_;
    const std::int32_t block_;
    const bool direct_;
    const std::size_t rowPitch_;  // from one bin's bytes to the next bin's
    std::vector<unsigned char> scratch_;
};

bool readyToColour(const Spectrogram& s)
{
    if (s.spectrumCount <= 0 || s.binCount <= 0 || s.fftSize < 2 || s.binCount != s.fftSize / 2 + 1)
        return false;
    const std::size_t frames = static_cast<std::size_t>(s.spectrumCount);
    return !s.colourBitmap.empty() && s.colourBitmap.size() >= s.bitmapStride() * static_cast<std::size_t>(s.binCount)
           && s.spectra.size() >= frames * static_cast<std::size_t>(s.fftSize);
}

std::int32_t floorLog2Rounded(double n)
{
    return static_cast<std::int32_t>(std::floor(std::log10(n) / std::log10(2.0) + 0.5));
}

// The signed sample of a channel at a frame (8-bit bytes less 128).
struct SampleReader {
    const unsigned char* bytes;
    int channels;
    int channel;
    bool eightBit;

    // count samples from firstFrame into out, each times its weight when there are weights: one pass.
    void load(std::int64_t firstFrame, std::size_t count, const double* weights, double* out, SimdPath path) const
    {
#ifdef SONAVIK_AVX2
        if (path != SimdPath::Portable && !eightBit && weights && (channels == 1 || channels == 2)) {
            const auto wide = path == SimdPath::Avx512 ? loadWeighted16Avx512 : loadWeighted16Wide;
            wide(bytes + 2 * static_cast<std::size_t>(firstFrame) * static_cast<std::size_t>(channels), channels,
                 channel, count, weights, out);
            return;
        }
#endif
        (void)path;
        if (eightBit)
            loadAs(firstFrame, count, weights, out, [](const unsigned char* at, std::size_t index) {
                return static_cast<double>(static_cast<int>(at[index]) - 128);
            });
        else
            loadAs(firstFrame, count, weights, out, [](const unsigned char* at, std::size_t index) {
                std::int16_t v;
                std::memcpy(&v, at + 2 * index, 2);
                return static_cast<double>(v);
            });
    }

    // Asks for the bytes of count frames from firstFrame to be brought into the cache.
    void prefetch(std::int64_t firstFrame, std::size_t count) const
    {
        const std::size_t frameBytes = static_cast<std::size_t>(channels) * (eightBit ? 1 : 2);
        const unsigned char* from = bytes + static_cast<std::size_t>(firstFrame) * frameBytes;
        const std::size_t length = count * frameBytes;
        for (std::size_t at = 0; at < length; at += 64)
            __builtin_prefetch(from + at);
    }

private:
    template <typename Sample>
    void loadAs(std::int64_t firstFrame, std::size_t count, const double* weights, double* out, Sample sample) const
    {
        const std::size_t stride = static_cast<std::size_t>(channels);
        std::size_t index = static_cast<std::size_t>(firstFrame) * stride + static_cast<std::size_t>(channel);
        if (weights) {
            for (std::size_t k = 0; k < count; ++k, index += stride)
                out[k] = sample(bytes, index) * weights[k];
        } else {
            for (std::size_t k = 0; k < count; ++k, index += stride)
                out[k] = sample(bytes, index);
        }
    }
};

// What one thread of the analysis works in: one frame's samples, its spectrum as it is kept (coloured
// from here, while in cache, and then streamed to the spectra) and its own colouring scratch.
struct AnalysisWorker {
    AnalysisWorker(Spectrogram& s, const ColourFactors& f, std::size_t n) : colourer(s, f), work(n), single(n) {}
    Colourer colourer;
    std::vector<double> work;
    std::vector<float> single;
};

// The analysis proper, once the region has been checked; throws std::bad_alloc when memory runs out.
// Threads take blocks of frames in turn; each frame is written to its place in the spectra and
// coloured while it is in cache, so the result does not depend on the threads.
std::unique_ptr<Spectrogram> analyseInto(Ui& ui, const SoundDocument& doc, const EditRegion& region,
                                         const Settings& settings, std::int32_t n, std::int32_t frames, int threads,
                                         EditControl* control, bool coloured)
{
    auto result = std::make_unique<Spectrogram>();
    Spectrogram& s = *result;
    const std::int32_t h = n / 2;
    const int bits = doc.format.wBitsPerSample;
    s.spectrumCount = frames;
    s.binCount = h + 1;
    s.amplitudeScale = bits == 8 ? 256.0 : 1.0;
    s.sampleRate = doc.format.nSamplesPerSec;
    s.fftSize = n;
    s.firstSample = region.start;
    s.lastSample = region.end;
    s.channel = region.channel;
    s.windowType = normalisedFftWindow(settings.fftWindow);
    s.selectionNumber = region.selectionNumber;

    const std::size_t size = static_cast<std::size_t>(n);
    // Sized, not filled: every value is written once, by the thread that analyses its frame, so the
    // gigabytes of an hour are written once. Each block's pages are mapped by that thread, just before.
    s.spectra.resize(static_cast<std::size_t>(frames) * size);
    float* const spectra = s.spectra.data();
    // The weights are the same for every frame: worked out once.
    const bool windowed = s.windowType >= kFftWindowHanning && s.windowType <= kFftWindowBlackman;
    std::vector<double> weights(windowed ? size : 0);
    for (std::size_t k = 0; k < weights.size(); ++k)
        weights[k] = fftWindowWeight(s.windowType, k, size);
    const Selection envelope{SelectionKind::Blue, region.start, region.end, region.alphaStart,
                             region.alphaEnd,     region.shape, region.shapeParameter};
    const bool fullWeight = region.shape == SelectionShape::Linear && region.alphaStart == 1.0 && region.alphaEnd == 1.0;
    const bool weighAlpha = settings.fftApplyAlpha == 1 && !fullWeight;

    const SampleReader reader{doc.samples.data(), doc.format.nChannels, region.channel, bits == 8};
    const SimdPath path = simdPath();
    const ColourFactors factors = colourFactorsOf(settings);
    std::vector<std::unique_ptr<AnalysisWorker>> workers;
    const std::int32_t block = Colourer(s, factors).blockFrames();
    const std::int32_t blocks = (frames - 1) / block + 1;
    threads = std::clamp(threads, 1, blocks);
    for (int t = 0; t < threads; ++t)
        workers.push_back(std::make_unique<AnalysisWorker>(s, factors, size));
    // The picture's pages are mapped by all threads at once, a share each. Its pixels are all written
    // by the colouring; only the padding at the end of each row is cleared here.
    const std::size_t stride = s.bitmapStride();
    const std::size_t pictureSize = coloured ? stride * static_cast<std::size_t>(s.binCount) : 0;
    s.colourBitmap.resize(pictureSize);
    unsigned char* const picture = s.colourBitmap.data();
    runOnThreads(threads, [&](int t) {
        const std::size_t from = pictureSize / static_cast<std::size_t>(threads) * static_cast<std::size_t>(t);
        const std::size_t to = t + 1 == threads ? pictureSize : from + pictureSize / static_cast<std::size_t>(threads);
        prefaultForWriting(picture + from, to - from);
    });
    const std::size_t pixelBytes = 3 * static_cast<std::size_t>(frames);
    if (coloured && stride > pixelBytes)
        for (std::size_t row = 0; row < static_cast<std::size_t>(s.binCount); ++row)
            std::memset(picture + row * stride + pixelBytes, 0, stride - pixelBytes);

    BlockRuns runs(blocks);
    // Once a share fails or is stopped the others take no further block.
    std::atomic<bool> abandoned{false};
    auto analyse = [&](int t) {
        AnalysisWorker& w = *workers[static_cast<std::size_t>(t)];
        double* x = w.work.data();
        float* const single = w.single.data();
        for (std::int32_t c = runs.next(-1); !abandoned && c < blocks; c = runs.next(c)) {
            const std::int32_t j0 = c * block;
            const std::int32_t j1 = std::min(frames, j0 + block);
            if (control)
                control->beforeBlock(region, c);
            float* const values = spectra + static_cast<std::size_t>(j0) * size;
            prefaultForWriting(values, static_cast<std::size_t>(j1 - j0) * size * sizeof(float));
            for (std::int32_t j = j0; j < j1; ++j) {
                // A frame of millions of samples takes long: a stop is looked at before each.
                if (control)
                    control->checkStop();
                const std::int64_t first = static_cast<std::int64_t>(region.start) + static_cast<std::int64_t>(j) * h;
                reader.load(first, size, weights.empty() ? nullptr : weights.data(), x, path);
                if (weighAlpha)
                    for (std::size_t k = 0; k < size; ++k)
                        x[k] *= alphaAt(envelope, first + static_cast<std::int64_t>(k));
                // The sound the frame after the next adds is fetched while this one is transformed.
                if (j + 2 < frames)
                    reader.prefetch(first + n + h, static_cast<std::size_t>(h));
                fftForward(size, x);
                float* const kept = values + static_cast<std::size_t>(j - j0) * size;
                singles(x, size, single, path);
                // The colouring streams the frame to the spectra as it goes, where its kernel can.
                if (coloured)
                    w.colourer.frame(j0, j, single, kept);
                else
                    streamCopy(kept, single, size * sizeof(float));
            }
            if (coloured)
                w.colourer.write(j0, j1);
            if (control)
                control->framesWritten(static_cast<std::int64_t>(j1 - j0) * h);
        }
    };
    auto work = [&](int t) {
        FftStopScope stopScope(control);
        try {
            analyse(t);
            finishStreaming();
        } catch (...) {
            finishStreaming();
            abandoned = true;
            throw;
        }
    };
    ui.setCursor(CursorKind::Wait);
    try {
        runOnThreads(threads, work);
    } catch (...) {
        ui.setCursor(CursorKind::Arrow);
        throw;
    }
    ui.setCursor(CursorKind::Arrow);
    return result;
}

} // namespace

std::int32_t normalisedFftLength(std::int32_t stored)
{
    const std::int32_t n = std::clamp(stored, kMinFftLength, kMaxFftLength);
    if ((n & (n - 1)) == 0)
        return n;
    const std::int32_t k = std::clamp(floorLog2Rounded(n), 4, 30);
    return std::int32_t{1} << k;
}

std::int32_t normalisedFftWindow(std::int32_t stored) { return stored >= 0 && stored <= 4 ? stored : 0; }

void normaliseFftSettings(Settings& settings)
{
    settings.fftLength = normalisedFftLength(settings.fftLength);
    settings.fftWindow = normalisedFftWindow(settings.fftWindow);
}

int fftLengthExponent(std::int32_t length)
{
    int k = 0;
    while (k < 30 && (std::int32_t{1} << (k + 1)) <= length)
        ++k;
    return k;
}

std::string fftSettingsText(std::int32_t length, std::uint32_t rate)
{
    char text[128];
    std::snprintf(text, sizeof text, "%d %.4lf sec %.4lf Hz", length, static_cast<double>(length) / rate,
                  static_cast<double>(rate) / length);
    return text;
}

ColourFactors colourFactorsOf(const Settings& settings)
{
    return {settings.spectrogramBlue, settings.spectrogramGreen, settings.spectrogramRed};
}

int defaultSpectrogramThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaxThreads);
}

void colourSpectrogram(Spectrogram& s, const ColourFactors& factors, int threads)
{
    if (!readyToColour(s))
        return;
    const std::size_t n = static_cast<std::size_t>(s.fftSize);
    const std::int32_t block = Colourer(s, factors).blockFrames();
    const std::int32_t blocks = (s.spectrumCount - 1) / block + 1;
    std::vector<std::unique_ptr<Colourer>> colourers;
    const int count = std::clamp(threadsFor(threads), 1, blocks);
    for (int t = 0; t < count; ++t)
        colourers.push_back(std::make_unique<Colourer>(s, factors));
    // Each block of frames owns its columns of the picture, whichever thread colours it.
    BlockRuns runs(blocks);
    runOnThreads(count, [&](int t) {
        for (std::int32_t c = runs.next(-1); c < blocks; c = runs.next(c)) {
            const std::int32_t j0 = c * block;
            colourers[static_cast<std::size_t>(t)]->frames(j0, std::min(s.spectrumCount, j0 + block),
                                                           s.spectra.data() + static_cast<std::size_t>(j0) * n);
        }
    });
}

void colourSpectrogram(Ui& ui, Spectrogram& s, const Settings& settings)
{
    if (!readyToColour(s))
        return;
    ui.setCursor(CursorKind::Wait);
    colourSpectrogram(s, colourFactorsOf(settings));
    ui.setCursor(CursorKind::Arrow);
}

std::unique_ptr<Spectrogram> analyseSpectrogram(Ui& ui, const SoundDocument& doc, const EditRegion& region,
                                                const Settings& settings, int threads, EditControl* control,
                                                bool picture)
{
    if (!doc.hasData()) {
        showError(ui, kNoData);
        return nullptr;
    }
    if (doc.frameCount <= 0) {
        showError(ui, kZeroData);
        return nullptr;
    }
    const int channels = doc.format.nChannels;
    const int bits = doc.format.wBitsPerSample;
    const bool formatOk = (channels == 1 || channels == 2) && (bits == 8 || bits == 16)
                          && doc.samples.size() >= static_cast<std::size_t>(doc.frameCount) * channels * (bits / 8);
    if (!formatOk || region.channel < 0 || region.channel >= channels || region.start < 0 || region.end < region.start
        || region.end >= doc.frameCount) {
        showError(ui, kBadRegion);
        return nullptr;
    }
    const std::int32_t n = normalisedFftLength(settings.fftLength);
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    if (length < n) {
        showError(ui, kNotEnough);
        return nullptr;
    }
    const std::int32_t h = n / 2;
    const auto frames = static_cast<std::int32_t>(length / h - 1);
    const std::int32_t bins = h + 1;

    // An hour of sound at a large n asks for gigabytes: refuse before asking rather than let the
    // system run out while the spectra are filled.
    const std::size_t spectraCount = static_cast<std::size_t>(frames) * static_cast<std::size_t>(n);
    const std::size_t bitmapSize = picture ? Spectrogram::bitmapStrideOf(frames) * static_cast<std::size_t>(bins) : 0;
    // Spectra, picture, the weights, and per thread one frame's samples and spectrum and the colouring
    // scratch. Threads are given up before the analysis is refused.
    const double perThread = 12.0 * static_cast<double>(n) + static_cast<double>(kColourScratch);
    const double shared = 4.0 * static_cast<double>(spectraCount) + static_cast<double>(bitmapSize) + 8.0 * n;
    const std::uint64_t available = availableMemoryBytes();
    int threadCount = threadsFor(threads);
    while (available > 0 && threadCount > 1 && shared + threadCount * perThread > static_cast<double>(available))
        --threadCount;
    if (available > 0 && shared + perThread > static_cast<double>(available)) {
        showError(ui, kNoMemory);
        return nullptr;
    }
    try {
        return analyseInto(ui, doc, region, settings, n, frames, threadCount, control, picture);
    } catch (const std::bad_alloc&) {
        // Whatever was allocated has been released on the way out.
        showError(ui, kNoMemory);
        return nullptr;
    }
}


std::string spectrogramTitle(const Spectrogram& s)
{
    const char* side = s.channel == 1 ? "R" : "L";
    const long long first = s.firstSample;
    const long long last = first + (static_cast<long long>(s.spectrumCount) + 1) * s.hop() - 1;
    char text[256];
    if (s.selectionNumber >= 0)
        std::snprintf(text, sizeof text, "[ %s %d ] %lld ～ %lld ＝ ( %d ÷ 2 ) × ( %d ＋ 1 )", side,
                      s.selectionNumber + 1, first, last, s.fftSize, s.spectrumCount);
    else
        std::snprintf(text, sizeof text, "[ %s ] %lld ～ %lld ＝ ( %d ÷ 2 ) × ( %d ＋ 1 )", side, first, last,
                      s.fftSize, s.spectrumCount);
    return text;
}

} // namespace sonavik
