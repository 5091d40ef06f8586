#pragma once
// Small WAV byte images assembled chunk by chunk, for tests.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace sonavik::test {


using Bytes = std::vector<unsigned char>;

inline Bytes le32(std::uint32_t v)
{
    return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 24)};
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A chunk whose size field says `declared` (the body's length unless given), followed by its body.
inline Bytes chunk(const std::string& id, const Bytes& body, std::int64_t declared = -1)
{
    return cat({text(id), le32(static_cast<std::uint32_t>(declared < 0 ? body.size() : declared)), body});
}

inline Bytes fmtBody(int channels, std::uint32_t rate, int bits, int blockAlign = -1, std::int64_t avg = -1,
                     int tag = 1)
{
    int align = blockAlign < 0 ? channels * bits / 8 : blockAlign;
    std::uint32_t perSec = avg < 0 ? static_cast<std::uint32_t>(align) * rate : static_cast<std::uint32_t>(avg);
    Bytes b = {static_cast<unsigned char>(tag), static_cast<unsigned char>(tag >> 8),
               static_cast<unsigned char>(channels), 0};
    b = cat({b, le32(rate), le32(perSec), Bytes{static_cast<unsigned char>(align), 0},
             Bytes{static_cast<unsigned char>(bits), 0}});
    return b;
}

// "RIFF", a RIFF size that fits the chunks, "WAVE", then the chunks as given.
inline Bytes riff(std::initializer_list<Bytes> chunks)
{
    Bytes body = cat(chunks);
    return cat({text("RIFF"), le32(static_cast<std::uint32_t>(body.size() + 4)), text("WAVE"), body});
}

// n bytes that differ from their neighbours, so that a shifted or partial read shows.
inline Bytes ramp(std::size_t n, unsigned seed = 1)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 7 + seed) & 0xFF);
    return b;
}

// A canonical PCM WAV file: 44-byte header and the given data bytes.
Bytes canonicalWav(int channels, int rate, int bits, const Bytes& data);
// A 16-bit file of n frames whose samples count up from first, channel by channel.
Bytes rampWav16(int channels, int frames, int first = 0, int rate = 44100);

} // namespace sonavik::test
