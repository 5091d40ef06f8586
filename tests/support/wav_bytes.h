#pragma once
// Builds small WAV files in memory for tests.

#include <cstdint>
#include <string>
#include <vector>

namespace sonavik::test {

// A canonical PCM WAV file: 44-byte header and the given data bytes.
std::vector<unsigned char> canonicalWav(int channels, int rate, int bits, const std::vector<unsigned char>& data);
// A 16-bit file of n frames whose samples count up from first, channel by channel.
std::vector<unsigned char> rampWav16(int channels, int frames, int first = 0, int rate = 44100);

} // namespace sonavik::test
