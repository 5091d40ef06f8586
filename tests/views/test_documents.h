#pragma once
// Documents with chosen or random samples for the drawing and summary tests.

#include "document/sound_document.h"

#include <cstdint>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace sonavik::test {

// sampleOf(frame, channel) gives the raw amplitude: 0..255 for 8 bits, -32768..32767 for 16 bits.
inline SoundDocument makeDocument(int bits, int channels, std::int32_t frames,
                                  const std::function<int(std::int64_t, int)>& sampleOf, std::uint32_t rate = 44100)
{
    SoundDocument doc;
    doc.format.wFormatTag = 1;
    doc.format.nChannels = static_cast<std::uint16_t>(channels);
    doc.format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    doc.format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    doc.format.nSamplesPerSec = rate;
    doc.format.nAvgBytesPerSec = rate * doc.format.nBlockAlign;
    doc.frameCount = frames;
    doc.samples = SampleBuffer::allocate(doc.byteCount());
    unsigned char* p = doc.samples.data();
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int v = sampleOf(i, c);
            if (bits == 8) {
                *p++ = static_cast<unsigned char>(v);
            } else {
                const auto s = static_cast<std::int16_t>(v);
                std::memcpy(p, &s, 2);
                p += 2;
            }
        }
    }
    return doc;
}

// Noise with slow swings and occasional spikes, so that neighbouring columns differ a lot and a little.
inline SoundDocument randomDocument(int bits, int channels, std::int32_t frames, unsigned seed)
{
    std::mt19937 rng(seed);
    const int lo = bits == 8 ? 0 : -32768;
    const int hi = bits == 8 ? 255 : 32767;
    std::uniform_int_distribution<int> any(lo, hi);
    std::uniform_int_distribution<int> percent(0, 99);
    const int mid = (lo + hi) / 2;
    const int swing = (hi - lo) / 4;
    return makeDocument(bits, channels, frames, [&](std::int64_t i, int c) {
        if (percent(rng) == 0)
            return any(rng);
        const int base = mid + static_cast<int>(swing * std::sin(static_cast<double>(i) / (700.0 + 300 * c)));
        std::uniform_int_distribution<int> jitter(-swing / 8, swing / 8);
        return std::clamp(base + jitter(rng), lo, hi);
    });
}

} // namespace sonavik::test
