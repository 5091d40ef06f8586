#pragma once
// One analysis of one channel: half-overlapping windowed FFT frames kept as packed single-precision
// spectra, their colour picture, and the state of the window that shows them.

#include "platform/os.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace sonavik {

// An allocator whose new elements are left as they come (default-initialised): the analysis writes
// every value of its gigabytes of spectra once, so filling them with zeros first would cost a pass
// over all of that memory for nothing. Buffers of many megabytes are large buffers of the system,
// kept for the next analysis once released.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    static constexpr std::size_t kLargeBytes = std::size_t{32} << 20;

    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() noexcept = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        if (count < kLargeBytes / sizeof(T))
            return std::allocator<T>::allocate(count);
        if (count > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        if (void* data = allocateLargeBuffer(count * sizeof(T)))
            return static_cast<T*>(data);
        throw std::bad_alloc();
    }
    void deallocate(T* data, std::size_t count) noexcept
    {
        if (count < kLargeBytes / sizeof(T))
            std::allocator<T>::deallocate(data, count);
        else
            releaseLargeBuffer(data, count * sizeof(T));
    }
    template <typename U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// resize() leaves the new values undefined; assign() and the other constructors set them as usual.
using SpectrumValues = std::vector<float, UninitialisedAllocator<float>>;
using PictureBytes = std::vector<unsigned char, UninitialisedAllocator<unsigned char>>;

struct Spectrogram {
    // Frame j occupies elements j*n ... j*n + n - 1 in the packed layout of fftForward, unscaled.
    SpectrumValues spectra;
    // binCount rows of spectrumCount pixels, blue, green, red; row b is bin b (row 0 = DC), column j
    // frame j; each row padded to bitmapStride() bytes with zeros. Empty until the analysis colours it.
    PictureBytes colourBitmap;

    std::int32_t spectrumCount = 0;  // F
    std::int32_t binCount = 0;       // B = n/2 + 1
    std::int32_t plotWidth = -1;     // plot size at the last resize; -1 before the first
    std::int32_t plotHeight = -1;
    double amplitudeScale = 1.0;     // 256 for 8-bit sound: brings its magnitudes to the 16-bit scale
    double gain = 1.0;
    std::int32_t logDisplay = 0;     // 0 linear colouring, 1 logarithmic
    std::uint32_t sampleRate = 0;

    // Selected rectangle of the window, inclusive; selFrameLo == -1 means none.
    std::int32_t selFrameLo = -1;
    std::int32_t selFrameHi = -1;
    std::int32_t selBinLo = -1;
    std::int32_t selBinHi = -1;
    // Frame low, frame high, bin low, bin high: where the drag started, and under the pointer now.
    std::array<std::int32_t, 4> anchorCell{};
    std::array<std::int32_t, 4> currentCell{};
    double originX = 0.0;  // first visible frame
    double originY = 0.0;  // first visible bin
    double zoomX = 1.0;    // pixels per frame
    double zoomY = 1.0;    // pixels per bin

    std::int32_t fftSize = 0;        // n
    std::int32_t firstSample = 0;    // first sample frame of analysis frame 0
    std::int32_t lastSample = 0;     // last sample frame of the analysed region (inclusive)
    std::int32_t channel = 0;        // 0 left, 1 right
    std::int32_t windowType = 0;     // FftWindowType of every frame; resynthesis divides it out
    std::int32_t selectionNumber = -1;  // slot index of the analysed numbered selection, or -1

    bool hasSelection() const { return selFrameLo != -1; }
    // 3F rounded up to a multiple of 4, as in every 24-bit picture of the program.
    std::size_t bitmapStride() const { return bitmapStrideOf(spectrumCount); }
    static std::size_t bitmapStrideOf(std::int32_t width)
    {
        const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
        return (3 * w + 3) & ~std::size_t{3};
    }
    // Hop between frames, n/2.
    std::int32_t hop() const { return fftSize / 2; }
    // Frames start a hop apart: the seconds from the analysed region's first sample to the start of
    // frame j, or the length of j frames (0 without a rate).
    double secondsOfFrames(std::int64_t frames) const
    {
        return sampleRate > 0 ? static_cast<double>(frames) * hop() / sampleRate : 0.0;
    }
};

} // namespace sonavik
