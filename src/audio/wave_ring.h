#pragma once
// The ten equal buffers that playback and recording keep queued at a device.

#include "platform/wave_device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonavik {

class Ui;

inline constexpr int kRingSize = 10;
// A damaged packet count cannot ask for more than this per buffer.
inline constexpr std::size_t kMaxBufferBytes = std::size_t{1} << 20;

// packets x pageSize bytes, with packets below 1 taken as 1 and the product limited to kMaxBufferBytes
// (in whole pages).
std::uint32_t ringBufferBytes(std::int32_t packets, std::size_t pageSize);

class WaveRing {
public:
    // Ten zero-filled buffers of capacity bytes, each with its length set to the capacity. False when the
    // memory cannot be had, or when the ring is still in use (after the error beep and "Prog Miss!").
    bool allocate(Ui& ui, std::uint32_t capacity);
    void release();
    bool inUse() const { return static_cast<bool>(headers_[0]); }
    std::uint32_t capacity() const { return capacity_; }
    WaveBuffer& operator[](int slot) { return *headers_[static_cast<std::size_t>(slot)]; }
    // Whether buffer is one of this ring's headers (device notifications may outlive a ring).
    bool owns(const WaveBuffer* buffer) const;

private:
    std::array<std::unique_ptr<WaveBuffer>, kRingSize> headers_;
    std::array<std::unique_ptr<unsigned char[]>, kRingSize> data_;
    std::uint32_t capacity_ = 0;
};

} // namespace sonavik
