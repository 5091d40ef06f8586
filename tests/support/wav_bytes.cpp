#include "support/wav_bytes.h"

namespace sonavik::test {

namespace {
void put32(std::vector<unsigned char>& v, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}
void put16(std::vector<unsigned char>& v, std::uint16_t x)
{
    v.push_back(static_cast<unsigned char>(x));
    v.push_back(static_cast<unsigned char>(x >> 8));
}
void putId(std::vector<unsigned char>& v, const char* id) { v.insert(v.end(), id, id + 4); }
} // namespace

std::vector<unsigned char> canonicalWav(int channels, int rate, int bits, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> v;
    const int align = channels * bits / 8;
    putId(v, "RIFF");
    put32(v, static_cast<std::uint32_t>(36 + data.size()));
    putId(v, "WAVE");
    putId(v, "fmt ");
    put32(v, 16);
    put16(v, 1);
    put16(v, static_cast<std::uint16_t>(channels));
    put32(v, static_cast<std::uint32_t>(rate));
    put32(v, static_cast<std::uint32_t>(rate * align));
    put16(v, static_cast<std::uint16_t>(align));
    put16(v, static_cast<std::uint16_t>(bits));
    putId(v, "data");
    put32(v, static_cast<std::uint32_t>(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

std::vector<unsigned char> rampWav16(int channels, int frames, int first, int rate)
{
    std::vector<unsigned char> data;
    int value = first;
    for (int i = 0; i < frames * channels; ++i, ++value)
        put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    return canonicalWav(channels, rate, 16, data);
}

} // namespace sonavik::test
