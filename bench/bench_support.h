#pragma once
// What the benchmarks share: a Ui that shows nothing, the best of three timings and the processor time.

#include "document/sound_document.h"
#include "platform/ui.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

namespace sonavik::bench {

class QuietUi : public SilentUi {
public:
    QuietUi() : SilentUi(MessageAnswer::Ok) {}
};

// Processor time of the whole process so far, all threads: in user mode, and in the system (mostly
// mapping and zeroing fresh pages).
struct ProcessorTime {
    double user;
    double system;
    double total() const { return user + system; }
};
inline ProcessorTime processorTime()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// Seconds of the fastest of three runs of work; reset runs untimed before each.
inline double secondsOf(const std::function<void()>& work, const std::function<void()>& reset = {})
{
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 3; ++i) {
        if (reset)
            reset();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

// A 44.1 kHz 16-bit stereo document of a tone with a little noise, so that sample values move the way
// music does; false when the memory cannot be had.
inline bool fillToneDocument(SoundDocument& doc, std::int32_t frames)
{
    doc.format = {1, 2, 44100, 44100 * 4, 4, 16, 0};
    doc.frameCount = frames;
    doc.samples = SampleBuffer::allocate(doc.byteCount());
    if (doc.samples.isNull())
        return false;
    std::uint32_t noise = 12345;
    for (std::int32_t p = 0; p < frames; ++p) {
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = 12000.0 * std::sin(p * (0.031 + 0.007 * c)) + static_cast<int>(noise >> 22) - 512;
            const auto s = static_cast<std::int16_t>(v);
            std::memcpy(doc.samples.data() + 4 * static_cast<std::size_t>(p) + 2 * c, &s, 2);
        }
    }
    return true;
}

} // namespace sonavik::bench
