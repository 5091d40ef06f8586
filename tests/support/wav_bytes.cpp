#include "support/wav_bytes.h"

namespace sonavik::test {

Bytes canonicalWav(int channels, int rate, int bits, const Bytes& data)
{
    return riff({chunk("fmt ", fmtBody(channels, static_cast<std::uint32_t>(rate), bits)), chunk("data", data)});
}

Bytes rampWav16(int channels, int frames, int first, int rate)
{
    Bytes data;
    int value = first;
    for (int i = 0; i < frames * channels; ++i, ++value) {
        const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
        data.push_back(static_cast<unsigned char>(v));
        data.push_back(static_cast<unsigned char>(v >> 8));
    }
    return canonicalWav(channels, rate, 16, data);
}

} // namespace sonavik::test
