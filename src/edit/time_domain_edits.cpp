#include "edit/time_domain_edits.h"

#include "platform/ui.h"

#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define SONAVIK_EDIT_AVX2 1
#endif

namespace sonavik {
namespace {

bool eightBit(const SoundDocument& doc) { return doc.format.wBitsPerSample == 8; }

// Element index of frame p, channel c; frames and channels are checked by the callers.
std::size_t elementOf(const SoundDocument& doc, std::int64_t frame, int channel)
{
    return static_cast<std::size_t>(frame) * doc.format.nChannels + static_cast<std::size_t>(channel);
}

int readSigned(const SoundDocument& doc, std::size_t element)
{
    if (eightBit(doc))
        return static_cast<int>(doc.samples.data()[element]) - 128;
    std::int16_t v;
    std::memcpy(&v, doc.samples.data() + 2 * element, 2);
    return v;
}

void writeNearest(SoundDocument& doc, std::size_t element, double value)
{
    if (eightBit(doc)) {
        doc.samples.data()[element] = static_cast<unsigned char>(nearestClipped(value, -128, 127) + 128);
    } else {
        const auto v = static_cast<std::int16_t>(nearestClipped(value, -32768, 32767));
        std::memcpy(doc.samples.data() + 2 * element, &v, 2);
    }
}

// Whole frames swap as one unit when every channel reverses at full weight.
template <typename Frame>
void swapFrameRange(unsigned char* bytes, std::int64_t first, std::int64_t last)
{
    for (; first < last; ++first, --last) {
        Frame a, b;
        std::memcpy(&a, bytes + first * sizeof(Frame), sizeof(Frame));
        std::memcpy(&b, bytes + last * sizeof(Frame), sizeof(Frame));
        std::memcpy(bytes + first * sizeof(Frame), &b, sizeof(Frame));
        std::memcpy(bytes + last * sizeof(Frame), &a, sizeof(Frame));
    }
}

void reverseWholeFrames(SoundDocument& doc, std::int64_t first, std::int64_t last)
{
    unsigned char* p = doc.samples.data();
    switch ((eightBit(doc) ? 1 : 2) * doc.format.nChannels) {
    case 1:
        swapFrameRange<std::uint8_t>(p, first, last);
        break;
    case 2:
        swapFrameRange<std::uint16_t>(p, first, last);
        break;
    default:
        swapFrameRange<std::uint32_t>(p, first, last);
        break;
    }
}

// One channel of a stereo sound at full weight: its samples swap, the other channel's stay.
template <typename Sample>
void swapChannelRange(unsigned char* bytes, int channels, int channel, std::int64_t first, std::int64_t last)
{
    for (; first < last; ++first, --last) {
        const std::size_t a = (static_cast<std::size_t>(first) * channels + channel) * sizeof(Sample);
        const std::size_t b = (static_cast<std::size_t>(last) * channels + channel) * sizeof(Sample);
        Sample x, y;
        std::memcpy(&x, bytes + a, sizeof(Sample));
        std::memcpy(&y, bytes + b, sizeof(Sample));
        std::memcpy(bytes + a, &y, sizeof(Sample));
        std::memcpy(bytes + b, &x, sizeof(Sample));
    }
}

#if defined(__SSE2__)
// The 16-bit paths below move four samples at a time; they give exactly what the scalar code gives.

// floor() of two doubles inside the int32 range, in the low two lanes.
inline __m128i floorPair(__m128d w)
{
    const __m128i r = _mm_cvttpd_epi32(w);
    __m128i down = _mm_castpd_si128(_mm_cmpgt_pd(_mm_cvtepi32_pd(r), w));  // truncation went up
    down = _mm_shuffle_epi32(down, _MM_SHUFFLE(3, 3, 2, 0));
    return _mm_add_epi32(r, down);
}

// nearest() of v[0..3] as four int32 lanes, within +-65536 (not a number gives 0); packing to 16 bits then
// saturates exactly as nearestClipped clips.
inline __m128i nearestFour(const double* v)
{
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d lo = _mm_set1_pd(-65536.0);
    const __m128d hi = _mm_set1_pd(65536.0);
    auto prepare = [&](__m128d x) {
        __m128d w = _mm_add_pd(x, half);
        w = _mm_and_pd(w, _mm_cmpord_pd(w, w));
        return _mm_min_pd(_mm_max_pd(w, lo), hi);
    };
    return _mm_unpacklo_epi64(floorPair(prepare(_mm_loadu_pd(v))), floorPair(prepare(_mm_loadu_pd(v + 2))));
}

inline void storeFourDoubles(__m128i four32, double* out)
{
    _mm_storeu_pd(out, _mm_cvtepi32_pd(four32));
    _mm_storeu_pd(out + 2, _mm_cvtepi32_pd(_mm_shuffle_epi32(four32, _MM_SHUFFLE(1, 0, 3, 2))));
}

// Samples [0, n) of a run of 16-bit samples; returns how many were done (a multiple of four).
int loadRun16(const unsigned char* s, int n, double* out)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 2 * i));
        storeFourDoubles(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16), out + i);
    }
    return i;
}

int storeRun16(unsigned char* d, int n, const double* values)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i r = nearestFour(values + i);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 2 * i), _mm_packs_epi32(r, r));
    }
    return i;
}

// One channel of stereo 16-bit frames; returns how many frames were done.
int loadChannel16(const unsigned char* frames, int channel, int count, double* out)
{
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 4 * i));
        storeFourDoubles(channel == 0 ? _mm_srai_epi32(_mm_slli_epi32(x, 16), 16) : _mm_srai_epi32(x, 16), out + i);
    }
    return i;
}

int storeChannel16(unsigned char* frames, int channel, int count, const double* values)
{
    const __m128i keep = channel == 0 ? _mm_set1_epi32(static_cast<int>(0xFFFF0000u)) : _mm_set1_epi32(0x0000FFFF);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i r = nearestFour(values + i);
        __m128i mine = _mm_unpacklo_epi16(_mm_packs_epi32(r, r), _mm_setzero_si128());
        if (channel == 1)
            mine = _mm_slli_epi32(mine, 16);
        __m128i* at = reinterpret_cast<__m128i*>(frames + 4 * i);
        _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), mine));
    }
    return i;
}
#endif

#if defined(SONAVIK_EDIT_AVX2)
// The same four kernels eight samples at a time where the processor has AVX2; floor() is one instruction.
#define SONAVIK_AVX2_FN __attribute__((target("avx2")))
// Only for code where no multiply feeds an add: with FMA enabled the compiler may fuse the two, which
// rounds once instead of twice.
#define SONAVIK_AVX2_FMA_FN __attribute__((target("avx2,fma")))

SONAVIK_AVX2_FN inline __m128i nearestFourAvx2(const double* v)
{
    __m256d w = _mm256_add_pd(_mm256_loadu_pd(v), _mm256_set1_pd(0.5));
    w = _mm256_and_pd(w, _mm256_cmp_pd(w, w, _CMP_ORD_Q));
    w = _mm256_min_pd(_mm256_max_pd(w, _mm256_set1_pd(-65536.0)), _mm256_set1_pd(65536.0));
    return _mm256_cvttpd_epi32(_mm256_floor_pd(w));
}

SONAVIK_AVX2_FN inline void storeEightDoubles(__m256i eight32, double* out)
{
    _mm256_storeu_pd(out, _mm256_cvtepi32_pd(_mm256_castsi256_si128(eight32)));
    _mm256_storeu_pd(out + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(eight32, 1)));
}

SONAVIK_AVX2_FN int loadRun16Avx2(const unsigned char* s, int n, double* out)
{
    int i = 0;
    for (; i + 8 <= n; i += 8)
        storeEightDoubles(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i))), out + i);
    return i;
}

SONAVIK_AVX2_FN int storeRun16Avx2(unsigned char* d, int n, const double* values)
{
    int i = 0;
    for (; i + 8 <= n; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * i),
                         _mm_packs_epi32(nearestFourAvx2(values + i), nearestFourAvx2(values + i + 4)));
    return i;
}

SONAVIK_AVX2_FN int loadChannel16Avx2(const unsigned char* frames, int channel, int count, double* out)
{
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frames + 4 * i));
        storeEightDoubles(channel == 0 ? _mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16) : _mm256_srai_epi32(x, 16),
                          out + i);
    }
    return i;
}

SONAVIK_AVX2_FN int storeChannel16Avx2(unsigned char* frames, int channel, int count, const double* values)
{
    const __m256i keep =
        channel == 0 ? _mm256_set1_epi32(static_cast<int>(0xFFFF0000u)) : _mm256_set1_epi32(0x0000FFFF);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i packed = _mm_packs_epi32(nearestFourAvx2(values + i), nearestFourAvx2(values + i + 4));
        __m256i mine = _mm256_cvtepu16_epi32(packed);
        if (channel == 1)
            mine = _mm256_slli_epi32(mine, 16);
        __m256i* at = reinterpret_cast<__m256i*>(frames + 4 * i);
        _mm256_storeu_si256(at, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(at), keep), mine));
    }
    return i;
}

// The fused pass: eight samples at a time are loaded, edited, rounded and stored without leaving the
// registers. Every edit it takes is e = k x with one factor k per frame, which gives exactly the scalar
// edit's value, so each lane does the scalar arithmetic in the scalar order.
enum class Layout { Mono, BothOfTwo, OneOfTwo };

struct FusedBlock {
    SoundDocument* doc;
    unsigned char* frames;  // the block's first frame
    int channel;            // the edited channel of OneOfTwo
    std::int64_t first;     // the block's first frame number
    int count;              // frames in the block
    const double* factor;   // k of each frame
    const double* alpha;    // weight of each frame (Weight::PerFrame)
    double lineStart;       // the line's weight at the block's first frame and its rise over a block
    double lineRise;
    double alphaError;      // how far the line may lie from alphaAt
    const Selection* envelope;
    std::size_t bytesLeft;  // from frames to the end of the region
};

// The hardware prefetcher falls behind once each cache line takes this much arithmetic; asking for
// the line a few kilobytes ahead keeps the pass close to the speed of a copy.
inline constexpr std::size_t kPrefetchAhead = 4096;

using FusedKernel = void (*)(const FusedBlock&);

// Eight samples of one layout and width as two vectors of doubles, and back with nearest()'s clipping.
template <int Bits, Layout L>
struct GroupIo {
    // Both channels of four frames go left in the low lanes, right in the high ones, so that one
    // per-frame vector serves both; otherwise the lanes are eight frames in order.
    static constexpr int kFrames = L == Layout::BothOfTwo ? 4 : 8;
    static constexpr int kBytes = (L == Layout::OneOfTwo ? 16 : 8) * (Bits / 8);

    static constexpr int frameOfLane(int lane) { return L == Layout::BothOfTwo ? lane % 4 : lane; }

    SONAVIK_AVX2_FN static void toDoubles(__m256i eight, __m256d& low, __m256d& high)
    {
        low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(eight));
        high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(eight, 1));
    }

    SONAVIK_AVX2_FN static void load(const unsigned char* p, int channel, __m256d& low, __m256d& high)
    {
        if constexpr (L == Layout::BothOfTwo) {
            // Each 32-bit lane holds one frame: left in the low half, right in the high half.
            __m128i left, right;
            if constexpr (Bits == 16) {
                const __m128i frames = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                left = _mm_srai_epi32(_mm_slli_epi32(frames, 16), 16);
                right = _mm_srai_epi32(frames, 16);
            } else {
                const __m128i frames = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
                left = _mm_sub_epi32(_mm_and_si128(frames, _mm_set1_epi32(0xFFFF)), _mm_set1_epi32(128));
                right = _mm_sub_epi32(_mm_srli_epi32(frames, 16), _mm_set1_epi32(128));
            }
            low = _mm256_cvtepi32_pd(left);
            high = _mm256_cvtepi32_pd(right);
        } else if constexpr (L == Layout::Mono) {
            if constexpr (Bits == 16) {
                toDoubles(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), low, high);
            } else {
                const __m256i u = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
                toDoubles(_mm256_sub_epi32(u, _mm256_set1_epi32(128)), low, high);
            }
        } else if constexpr (Bits == 16) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            toDoubles(channel == 0 ? _mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16) : _mm256_srai_epi32(x, 16), low,
                      high);
        } else {
            // Each 32-bit lane holds one frame's two bytes as 16-bit words.
            const __m256i w = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
            const __m256i u = channel == 0 ? _mm256_and_si256(w, _mm256_set1_epi32(0xFFFF)) : _mm256_srli_epi32(w, 16);
            toDoubles(_mm256_sub_epi32(u, _mm256_set1_epi32(128)), low, high);
        }
    }

    // low, high: floor values within +-65536 in the lanes' order; the 16-bit packs saturate exactly as
    // nearestClipped clips.
    SONAVIK_AVX2_FN static void store(unsigned char* p, int channel, __m128i low, __m128i high)
    {
        __m128i words = _mm_packs_epi32(low, high);
        if constexpr (L == Layout::BothOfTwo)
            words = _mm_shuffle_epi8(words, _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15));
        if constexpr (Bits == 16 && L != Layout::OneOfTwo) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), words);
        } else if constexpr (Bits == 16) {
            __m256i* at = reinterpret_cast<__m256i*>(p);
            const __m256i mine = _mm256_cvtepu16_epi32(words);
            const __m256i kept = _mm256_loadu_si256(at);
            _mm256_storeu_si256(at, channel == 0 ? _mm256_blend_epi16(kept, mine, 0x55)
                                                 : _mm256_blend_epi16(kept, _mm256_slli_epi32(mine, 16), 0x55 << 1));
        } else {
            const __m128i biased = _mm_adds_epi16(words, _mm_set1_epi16(128));
            const __m128i bytes = _mm_packus_epi16(biased, biased);
            if constexpr (L != Layout::OneOfTwo) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
            } else {
                __m128i* at = reinterpret_cast<__m128i*>(p);
                const __m128i mine = _mm_cvtepu8_epi16(bytes);
                const __m128i kept = _mm_loadu_si128(at);
                const __m128i other = _mm_set1_epi16(static_cast<short>(channel == 0 ? 0xFF00 : 0x00FF));
                const __m128i placed = channel == 0 ? mine : _mm_slli_epi16(mine, 8);
                _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(kept, other), placed));
            }
        }
    }

    // A per-frame value for the low and high four lanes.
    SONAVIK_AVX2_FN static void perFrame(const double* values, __m256d& low, __m256d& high)
    {
        low = _mm256_loadu_pd(values);
        high = L == Layout::BothOfTwo ? low : _mm256_loadu_pd(values + 4);
    }
};

// Lanes whose w = v + 0.5 lies within margin of a whole number, as nearWhole decides (|w| < 2^17 here).
SONAVIK_AVX2_FN inline __m256d nearWholeMask(__m256d w, __m256d whole, __m256d margin)
{
    const __m256d fraction = _mm256_sub_pd(w, whole);  // exact below 2^52
    const __m256d low = _mm256_cmp_pd(fraction, margin, _CMP_LT_OQ);
    const __m256d high = _mm256_cmp_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), fraction), margin, _CMP_LT_OQ);
    return _mm256_or_pd(low, high);
}

// How each frame is weighted: fully, by a weight per frame, or by a line through two exact weights
// whose lanes near a rounding edge are worked out again with alphaAt.
enum class Weight { Full, PerFrame, Line };

template <int Bits, Layout L, Weight W>
SONAVIK_AVX2_FN void fusedBlockAvx2(const FusedBlock& b)
{
    using Io = GroupIo<Bits, L>;
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d error = _mm256_set1_pd(b.alphaError);
    const __m256d slack = _mm256_set1_pd(edit_detail::kBlendSlack);
    const __m256d noSign = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    // The line's weights a + rise (i / kBlockFrames), as fillAlpha gives them; the offsets i / kBlockFrames
    // of the lanes step on exactly.
    constexpr double kStep = 1.0 / edit_detail::kBlockFrames;
    const __m256d lineStart = _mm256_set1_pd(b.lineStart);
    const __m256d lineRise = _mm256_set1_pd(b.lineRise);
    const __m256d offsetStep = _mm256_set1_pd(Io::kFrames * kStep);
    __m256d offset0 = _mm256_setr_pd(0, kStep, 2 * kStep, 3 * kStep);
    __m256d offset1 = _mm256_add_pd(offset0, _mm256_set1_pd(Io::frameOfLane(4) * kStep));
    // Locals, as the stores through a byte pointer could otherwise change any field.
    unsigned char* const frames = b.frames;
    const double* const factor = b.factor;
    const double* const alpha = b.alpha;
    const int channel = b.channel;
    const std::size_t bytesLeft = b.bytesLeft;
    const int groups = b.count / Io::kFrames;
    for (int g = 0; g < groups; ++g) {
        const std::size_t offset = static_cast<std::size_t>(g) * Io::kBytes;
        unsigned char* at = frames + offset;
        if ((reinterpret_cast<std::uintptr_t>(at) & 63) < Io::kBytes && offset + kPrefetchAhead < bytesLeft)
            _mm_prefetch(reinterpret_cast<const char*>(at + kPrefetchAhead), _MM_HINT_T0);
        const int frame = g * Io::kFrames;
        __m256d x0, x1;
        Io::load(at, channel, x0, x1);
        __m256d k0, k1;
        Io::perFrame(factor + frame, k0, k1);
        const __m256d e0 = _mm256_mul_pd(k0, x0);
        const __m256d e1 = _mm256_mul_pd(k1, x1);
        __m256d v0 = e0, v1 = e1;
        if constexpr (W != Weight::Full) {
            __m256d a0, a1;
            if constexpr (W == Weight::Line) {
                a0 = _mm256_add_pd(lineStart, _mm256_mul_pd(lineRise, offset0));
                a1 = L == Layout::BothOfTwo ? a0 : _mm256_add_pd(lineStart, _mm256_mul_pd(lineRise, offset1));
                offset0 = _mm256_add_pd(offset0, offsetStep);
                offset1 = _mm256_add_pd(offset1, offsetStep);
            } else {
                Io::perFrame(alpha + frame, a0, a1);
            }
            v0 = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, a0), x0), _mm256_mul_pd(a0, e0));
            v1 = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, a1), x1), _mm256_mul_pd(a1, e1));
        }
        __m256d w0 = _mm256_add_pd(v0, half);
        __m256d w1 = _mm256_add_pd(v1, half);
        __m256d whole0 = _mm256_floor_pd(w0);
        __m256d whole1 = _mm256_floor_pd(w1);
        if constexpr (W == Weight::Line) {
            const __m256d m0 = _mm256_add_pd(_mm256_mul_pd(_mm256_and_pd(_mm256_sub_pd(e0, x0), noSign), error), slack);
            const __m256d m1 = _mm256_add_pd(_mm256_mul_pd(_mm256_and_pd(_mm256_sub_pd(e1, x1), noSign), error), slack);
            const __m256d near0 = nearWholeMask(w0, whole0, m0);
            const __m256d near1 = nearWholeMask(w1, whole1, m1);
            if (!_mm256_testz_pd(_mm256_or_pd(near0, near1), _mm256_or_pd(near0, near1))) {
                // Rare: these lanes are worked out again with alphaAt itself.
                const int near = _mm256_movemask_pd(near0) | (_mm256_movemask_pd(near1) << 4);
                alignas(32) double x[8], e[8], v[8];
                _mm256_store_pd(x, x0);
                _mm256_store_pd(x + 4, x1);
                _mm256_store_pd(e, e0);
                _mm256_store_pd(e + 4, e1);
                _mm256_store_pd(v, v0);
                _mm256_store_pd(v + 4, v1);
                for (int j = 0; j < 8; ++j)
                    if (near & (1 << j)) {
                        const double a = alphaAt(*b.envelope, b.first + frame + Io::frameOfLane(j));
                        v[j] = (1.0 - a) * x[j] + a * e[j];
                    }
                whole0 = _mm256_floor_pd(_mm256_add_pd(_mm256_load_pd(v), half));
                whole1 = _mm256_floor_pd(_mm256_add_pd(_mm256_load_pd(v + 4), half));
            }
        }
        // The factors lie in [-1, 2] and the weights in [0, 1], so |w| stays below 2^17: the whole
        // numbers convert to int32 as they are, and the packs to 16 bits clip.
        Io::store(at, channel, _mm256_cvttpd_epi32(whole0), _mm256_cvttpd_epi32(whole1));
    }
    // The last few frames of the region, one sample at a time.
    for (int i = groups * Io::kFrames; i < b.count; ++i)
        for (int c = 0; c < (L == Layout::BothOfTwo ? 2 : 1); ++c) {
            const std::size_t element = elementOf(*b.doc, b.first + i, L == Layout::OneOfTwo ? b.channel : c);
            const double x = readSigned(*b.doc, element);
            const double e = b.factor[i] * x;
            double v = e;
            if constexpr (W != Weight::Full) {
                const double a = W == Weight::Line ? alphaAt(*b.envelope, b.first + i) : b.alpha[i];
                v = (1.0 - a) * x + a * e;
            }
            writeNearest(*b.doc, element, v);
        }
}

template <int Bits, Layout L>
FusedKernel fusedKernelFor(Weight weight)
{
    switch (weight) {
    case Weight::Full:
        return &fusedBlockAvx2<Bits, L, Weight::Full>;
    case Weight::PerFrame:
        return &fusedBlockAvx2<Bits, L, Weight::PerFrame>;
    default:
        return &fusedBlockAvx2<Bits, L, Weight::Line>;
    }
}

FusedKernel fusedKernelFor(int bits, Layout layout, Weight weight)
{
    switch (layout) {
    case Layout::Mono:
        return bits == 8 ? fusedKernelFor<8, Layout::Mono>(weight) : fusedKernelFor<16, Layout::Mono>(weight);
    case Layout::BothOfTwo:
        return bits == 8 ? fusedKernelFor<8, Layout::BothOfTwo>(weight) : fusedKernelFor<16, Layout::BothOfTwo>(weight);
    default:
        return bits == 8 ? fusedKernelFor<8, Layout::OneOfTwo>(weight) : fusedKernelFor<16, Layout::OneOfTwo>(weight);
    }
}

// t = (fromStart + i) / span as the correctly rounded division gives it, or 1 - t. The quotient comes
// from the reciprocal: n (1/span) lies within two units in the last place, the remainder n - q span is
// exact in a fused multiply-add, and one correction step lands on the correctly rounded quotient because
// the step errs by at most 2^-51 of a unit while n / span (whole numbers) is never closer to a rounding
// midpoint than 1 / (2 span) of a unit.
SONAVIK_AVX2_FMA_FN void fillPositionsAvx2(std::int64_t fromStart, std::int64_t span, int count, bool falling,
                                            double* out)
{
    const double denominator = static_cast<double>(span);
    const double reciprocal = 1.0 / denominator;
    const __m256d d = _mm256_set1_pd(denominator);
    const __m256d y = _mm256_set1_pd(reciprocal);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d four = _mm256_set1_pd(4.0);
    __m256d numerator = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(fromStart)), _mm256_setr_pd(0, 1, 2, 3));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d q = _mm256_mul_pd(numerator, y);
        const __m256d remainder = _mm256_fnmadd_pd(q, d, numerator);
        const __m256d t = _mm256_fmadd_pd(remainder, y, q);
        _mm256_storeu_pd(out + i, falling ? _mm256_sub_pd(one, t) : t);
        numerator = _mm256_add_pd(numerator, four);
    }
    const double base = static_cast<double>(fromStart);
    for (; i < count; ++i) {
        const double t = (base + static_cast<double>(i)) / denominator;
        out[i] = falling ? 1.0 - t : t;
    }
}
#endif

} // namespace

namespace edit_detail {

bool& wideVectors()
{
#if defined(SONAVIK_EDIT_AVX2)
    static bool use = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    static bool use = false;
#endif
    return use;
}

Selection envelopeOf(const EditRegion& region)
{
    Selection s;
    s.kind = SelectionKind::Blue;
    s.start = region.start;
    s.end = region.end;
    s.alphaStart = region.alphaStart;
    s.alphaEnd = region.alphaEnd;
    s.shape = region.shape;
    s.shapeParameter = region.shapeParameter;
    return s;
}

bool fullWeight(const EditRegion& region)
{
    return region.shape == SelectionShape::Linear && region.alphaStart == 1.0 && region.alphaEnd == 1.0;
}

void loadSigned(const SoundDocument& doc, int channel, int channelCount, std::int64_t first, int count, double* out)
{
    const int n = doc.format.nChannels;
    const unsigned char* base = doc.samples.data();
    const std::size_t firstElement = elementOf(doc, first, channel);
    if (eightBit(doc)) {
        const unsigned char* s = base + firstElement;
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < channelCount; ++c)
                out[i * channelCount + c] = static_cast<int>(s[i * n + c]) - 128;
        return;
    }
    const unsigned char* s = base + 2 * firstElement;
    int done = 0;  // frames
#if defined(SONAVIK_EDIT_AVX2)
    if (wideVectors()) {
        if (channelCount == n)
            done = loadRun16Avx2(s, count * n, out) / n;
        else if (n == 2)
            done = loadChannel16Avx2(base + 4 * static_cast<std::size_t>(first), channel, count, out);
    }
#endif
#if defined(__SSE2__)
    if (done == 0 && channelCount == n)
        done = loadRun16(s, count * n, out) / n;
    else if (done == 0 && n == 2)
        done = loadChannel16(base + 4 * static_cast<std::size_t>(first), channel, count, out);
#endif
    for (int i = done; i < count; ++i)
        for (int c = 0; c < channelCount; ++c) {
            std::int16_t v;
            std::memcpy(&v, s + 2 * (i * n + c), 2);
            out[i * channelCount + c] = v;
        }
}

void storeNearest(SoundDocument& doc, int channel, int channelCount, std::int64_t first, int count,
                  const double* values)
{
    const int n = doc.format.nChannels;
    unsigned char* base = doc.samples.data();
    const std::size_t firstElement = elementOf(doc, first, channel);
    if (eightBit(doc)) {
        unsigned char* d = base + firstElement;
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < channelCount; ++c)
                d[i * n + c] = static_cast<unsigned char>(nearestClipped(values[i * channelCount + c], -128, 127) + 128);
        return;
    }
    unsigned char* d = base + 2 * firstElement;
    int done = 0;
#if defined(SONAVIK_EDIT_AVX2)
    if (wideVectors()) {
        if (channelCount == n)
            done = storeRun16Avx2(d, count * n, values) / n;
        else if (n == 2)
            done = storeChannel16Avx2(base + 4 * static_cast<std::size_t>(first), channel, count, values);
    }
#endif
#if defined(__SSE2__)
    if (done == 0 && channelCount == n)
        done = storeRun16(d, count * n, values) / n;
    else if (done == 0 && n == 2)
        done = storeChannel16(base + 4 * static_cast<std::size_t>(first), channel, count, values);
#endif
    for (int i = done; i < count; ++i)
        for (int c = 0; c < channelCount; ++c) {
            const auto v = static_cast<std::int16_t>(nearestClipped(values[i * channelCount + c], -32768, 32767));
            std::memcpy(d + 2 * (i * n + c), &v, 2);
        }
}

void storeNearestOwn(SoundDocument& doc, int channel, std::int64_t first, int count, const double* values)
{
    // Bytes and mono samples are stored one by one already; only one channel of stereo 16-bit frames
    // is stored above as whole frames.
    if (eightBit(doc) || doc.format.nChannels != 2) {
        storeNearest(doc, channel, 1, first, count, values);
        return;
    }
    unsigned char* d = doc.samples.data() + 2 * elementOf(doc, first, channel);
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128i r = nearestFour(values + i);
        const __m128i packed = _mm_packs_epi32(r, r);
        const std::int16_t four[4] = {static_cast<std::int16_t>(_mm_extract_epi16(packed, 0)),
                                      static_cast<std::int16_t>(_mm_extract_epi16(packed, 1)),
                                      static_cast<std::int16_t>(_mm_extract_epi16(packed, 2)),
                                      static_cast<std::int16_t>(_mm_extract_epi16(packed, 3))};
        for (int k = 0; k < 4; ++k)
            std::memcpy(d + 4 * (i + k), &four[k], 2);
    }
#endif
    for (; i < count; ++i) {
        const auto v = static_cast<std::int16_t>(nearestClipped(values[i], -32768, 32767));
        std::memcpy(d + 4 * i, &v, 2);
    }
}

void fillPositions(std::int64_t fromStart, std::int64_t span, int count, double* out)
{
    if (span == 0) {
        for (int i = 0; i < count; ++i)
            out[i] = 0.5;
        return;
    }
#if defined(SONAVIK_EDIT_AVX2)
    constexpr std::int64_t kLimit = std::int64_t{1} << 40;  // far inside the reciprocal's proof
    if (wideVectors() && fromStart >= 0 && fromStart + count <= kLimit && span < kLimit) {
        fillPositionsAvx2(fromStart, span, count, false, out);
        return;
    }
#endif
    const double denominator = static_cast<double>(span);
    const double base = static_cast<double>(fromStart);  // whole numbers below 2^31 add up exactly
    for (int i = 0; i < count; ++i)
        out[i] = (base + static_cast<double>(i)) / denominator;
}

namespace {

// How far a straight line between the exact weights at the two ends of a block may stray from alphaAt
// inside it, for a Cos envelope (a0 - a1) / 2 cos(w (p - start)) + (a0 + a1) / 2 with both levels in
// [0, 1]: the curve's bend over the block, |a0 - a1| / 2 w^2 B^2 / 8, plus the rounding of alphaAt at
// the three frames involved and of the line, all taken four times over. 0 where interpolation is not
// worth it (the envelope turns too fast, or is no such envelope).
double interpolationError(const Selection& e)
{
    if (e.shape != SelectionShape::Cos || e.end <= e.start || !(e.alphaStart >= 0.0 && e.alphaStart <= 1.0)
        || !(e.alphaEnd >= 0.0 && e.alphaEnd <= 1.0) || !std::isfinite(e.shapeParameter))
        return 0.0;
    const double halfSwing = std::fabs(e.alphaStart - e.alphaEnd) / 2.0;
    const double turn = std::numbers::pi * std::fabs(e.shapeParameter) / (static_cast<double>(e.end) - e.start);
    const double blocks = static_cast<double>(kBlockFrames);
    const double bend = halfSwing * turn * turn * blocks * blocks / 8.0;
    const double rounding = (std::numbers::pi * std::fabs(e.shapeParameter) + 8.0) * 1e-15;
    const double bound = 4.0 * (bend + 3.0 * rounding + 1e-15);
    return bound < 1e-7 ? bound : 0.0;
}

// The line through the exact weights of a block's first frame and of the frame one past a full block
// (alphaAt is defined beyond the range).
struct AlphaLine {
    double start;
    double rise;
};

AlphaLine alphaLine(const Selection& envelope, std::int64_t first)
{
    const double a = alphaAt(envelope, first);
    return {a, alphaAt(envelope, first + kBlockFrames) - a};
}

} // namespace

double fillAlpha(const Selection& envelope, std::int64_t first, int count, double* out)
{
    const double error = interpolationError(envelope);
    if (error > 0.0) {
        const AlphaLine line = alphaLine(envelope, first);
        constexpr double kStep = 1.0 / kBlockFrames;
        for (int i = 0; i < count; ++i)
            out[i] = line.start + line.rise * (i * kStep);
        return error;
    }
    for (int i = 0; i < count; ++i)
        out[i] = alphaAt(envelope, first + i);
    return 0.0;
}

bool fusedSampleWiseEdit(SoundDocument& doc, const EditRegion& region, int channelCount, SampleEdit edit)
{
#if defined(SONAVIK_EDIT_AVX2)
    // The edits whose value is a factor of the frame times x; the factor comes from the edit itself.
    enum class Factor { Constant, Rising, Falling, Computed };
    Factor kind;
    namespace se = sample_edits;
    if (edit == &se::silence || edit == &se::halve || edit == &se::twice || edit == &se::invert)
        kind = Factor::Constant;
    else if (edit == &se::fadeInLinear)
        kind = Factor::Rising;
    else if (edit == &se::fadeOutLinear)
        kind = Factor::Falling;
    else if (edit == &se::fadeInCos || edit == &se::fadeOutCos)
        kind = Factor::Computed;
    else
        return false;
    const int n = doc.format.nChannels;
    const int cc = channelCount == 2 ? 2 : 1;
    if (!wideVectors() || (n != 1 && n != 2) || cc > n)
        return false;
    const Layout layout = n == 1 ? Layout::Mono : cc == 2 ? Layout::BothOfTwo : Layout::OneOfTwo;
    const int bits = eightBit(doc) ? 8 : 16;
    const Selection envelope = envelopeOf(region);
    const double lineError = interpolationError(envelope);
    const Weight weight = fullWeight(region) ? Weight::Full : lineError > 0.0 ? Weight::Line : Weight::PerFrame;
    const FusedKernel kernel = fusedKernelFor(bits, layout, weight);

    alignas(32) double factor[kBlockFrames];
    alignas(32) double alpha[kBlockFrames];
    if (kind == Factor::Constant)
        std::fill(factor, factor + kBlockFrames, edit(1.0, 0.0));
    const std::int64_t span = static_cast<std::int64_t>(region.end) - region.start;
    FusedBlock block{&doc, nullptr, region.channel, 0, 0, factor, alpha, 0.0, 0.0, lineError, &envelope, 0};
    const std::size_t frameBytes = static_cast<std::size_t>(n) * (bits / 8);
    const unsigned char* regionEnd = doc.samples.data() + (static_cast<std::size_t>(region.end) + 1) * frameBytes;
    for (std::int64_t first = region.start; first <= region.end; first += kBlockFrames) {
        const int count = static_cast<int>(std::min<std::int64_t>(kBlockFrames, region.end - first + 1));
        if ((kind == Factor::Rising || kind == Factor::Falling) && span == 0) {
            std::fill(factor, factor + count, 0.5);  // 1 - 0.5 as well
        } else if (kind == Factor::Rising || kind == Factor::Falling) {
            fillPositionsAvx2(first - region.start, span, count, kind == Factor::Falling, factor);
        } else if (kind == Factor::Computed) {
            fillPositions(first - region.start, span, count, factor);
            for (int i = 0; i < count; ++i)
                factor[i] = edit(1.0, factor[i]);
        }
        if (weight == Weight::Line) {
            const AlphaLine line = alphaLine(envelope, first);
            block.lineStart = line.start;
            block.lineRise = line.rise;
        } else if (weight == Weight::PerFrame) {
            fillAlpha(envelope, first, count, alpha);
        }
        block.frames = doc.samples.data() + static_cast<std::size_t>(first) * frameBytes;
        block.bytesLeft = static_cast<std::size_t>(regionEnd - block.frames);
        block.first = first;
        block.count = count;
        kernel(block);
    }
    return true;
#else
    (void)doc;
    (void)region;
    (void)channelCount;
    (void)edit;
    return false;
#endif
}

bool tablePays(const SoundDocument& doc, const EditRegion& region, int channelCount)
{
    const std::int64_t samples = (static_cast<std::int64_t>(region.end) - region.start + 1) * channelCount;
    return eightBit(doc) ? samples >= 256 : samples >= 65536;
}

void applyByTable(SoundDocument& doc, const EditRegion& region, int channelCount, SampleEdit edit)
{
    const int n = doc.format.nChannels;
    const bool contiguous = channelCount == n;
    const std::size_t firstElement = elementOf(doc, region.start, contiguous ? 0 : region.channel);
    const std::size_t lastElement = elementOf(doc, region.end, contiguous ? n - 1 : region.channel);
    const std::size_t step = contiguous ? 1 : static_cast<std::size_t>(n);
    if (eightBit(doc)) {
        unsigned char table[256];
        for (int b = 0; b < 256; ++b)
            table[b] = static_cast<unsigned char>(nearestClipped(edit(b - 128, 0.0), -128, 127) + 128);
        unsigned char* p = doc.samples.data();
        for (std::size_t e = firstElement; e <= lastElement; e += step)
            p[e] = table[p[e]];
        return;
    }
    // Indexed by the sample's bit pattern.
    std::vector<std::int16_t> table(65536);
    for (int x = -32768; x <= 32767; ++x)
        table[static_cast<std::uint16_t>(x)] = static_cast<std::int16_t>(nearestClipped(edit(x, 0.0), -32768, 32767));
    unsigned char* p = doc.samples.data();
    for (std::size_t e = firstElement; e <= lastElement; e += step) {
        std::uint16_t bits;
        std::memcpy(&bits, p + 2 * e, 2);
        std::memcpy(p + 2 * e, &table[bits], 2);
    }
}

} // namespace edit_detail

void reverseRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    SoundDocument& doc = context.document;
    if (region.start == region.end)
        return;
    // Full weight: (1 - 1) A + 1 B is B exactly, so the pairs simply swap.
    if (edit_detail::fullWeight(region)) {
        const int channels = doc.format.nChannels;
        if (channelCount == channels && channels <= 2)
            reverseWholeFrames(doc, region.start, region.end);
        else
            for (int c = region.channel; c < region.channel + channelCount; ++c) {
                if (eightBit(doc))
                    swapChannelRange<std::uint8_t>(doc.samples.data(), channels, c, region.start, region.end);
                else
                    swapChannelRange<std::uint16_t>(doc.samples.data(), channels, c, region.start, region.end);
            }
        noteSamplesChanged(doc, region.start, region.end);
        return;
    }
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    const Selection envelope = edit_detail::envelopeOf(region);
    for (std::int64_t i = 0; i < length / 2; ++i) {
        const std::int64_t p = region.start + i;
        const std::int64_t q = region.end - i;
        const double ap = alphaAt(envelope, p);
        const double aq = alphaAt(envelope, q);
        for (int c = region.channel; c < region.channel + channelCount; ++c) {
            const std::size_t ep = elementOf(doc, p, c);
            const std::size_t eq = elementOf(doc, q, c);
            const double a = readSigned(doc, ep);
            const double b = readSigned(doc, eq);
            writeNearest(doc, ep, (1.0 - ap) * a + ap * b);
            writeNearest(doc, eq, (1.0 - aq) * b + aq * a);
        }
    }
    noteSamplesChanged(doc, region.start, region.end);
}

void editRegion(EditContext& context, int commandId, const EditRegion& region)
{
    const SoundDocument& doc = context.document;
    if (region.start < 0 || region.end > doc.frameCount - 1 || region.end < region.start || region.channel < 0
        || region.channel >= doc.format.nChannels || !doc.hasData()) {
        showError(context.ui, "選択領域が不正です");
        return;
    }
    const EditCommand* command = findEditCommand(commandId);
    if (command && command->kind == EditKind::InPlace && command->regionEdit)
        command->regionEdit(context, region, 1);
}

} // namespace sonavik
