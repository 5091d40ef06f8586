#pragma once
// The reverb's white noise: the classic linear congruential step x = x * 214013 + 2531011 (mod 2^32),
// giving bits 16 to 30, 0 to 32767. Our own, so that a reverb gives the same samples whatever C library
// the program runs on.

#include <cstdint>

namespace sonavik {

inline constexpr std::uint32_t kNoiseSeed = 1;

class NoiseGenerator {
public:
    explicit NoiseGenerator(std::uint32_t state = kNoiseSeed) : state_(state) {}

    int next()
    {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }
    std::uint32_t state() const { return state_; }

private:
    std::uint32_t state_;
};

} // namespace sonavik
