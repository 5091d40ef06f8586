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
#endif

} // namespace

namespace edit_detail {

bool& wideVectors()
{
#if defined(SONAVIK_EDIT_AVX2)
    static bool use = __builtin_cpu_supports("avx2");
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

void fillPositions(std::int64_t fromStart, std::int64_t span, int count, double* out)
{
    if (span == 0) {
        for (int i = 0; i < count; ++i)
            out[i] = 0.5;
        return;
    }
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

} // namespace

double fillAlpha(const Selection& envelope, std::int64_t first, int count, double* out)
{
    const double error = interpolationError(envelope);
    if (error > 0.0) {
        // The frame one past a full block is the line's other end; alphaAt is defined beyond the range.
        const double a = alphaAt(envelope, first);
        const double rise = alphaAt(envelope, first + kBlockFrames) - a;
        constexpr double kStep = 1.0 / kBlockFrames;
        for (int i = 0; i < count; ++i)
            out[i] = a + rise * (i * kStep);
        return error;
    }
    for (int i = 0; i < count; ++i)
        out[i] = alphaAt(envelope, first + i);
    return 0.0;
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
