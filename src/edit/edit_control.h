#pragma once
// What a long edit running on worker threads shares with the thread that started it: a request to
// stop, checked before every block (and inside blocks that take long), and how many frames have been
// written so far.

#include "dsp/fft.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace sonavik {

struct EditRegion;

// Thrown by EditControl::beforeBlock once a stop was asked for; the block loops hold nothing that
// needs more than their destructors, so it simply unwinds to the worker.
struct EditStopped {};

class EditControl {
public:
    // Any thread. Workers stop before their next block.
    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

    // Worker threads, before each block of a region: throws EditStopped after a stop request.
    void beforeBlock(const EditRegion& region, std::int64_t block) const
    {
        if (onBlock)
            onBlock(region, block);
        checkStop();
    }
    // Worker threads, inside a block that takes long: throws EditStopped after a stop request.
    void checkStop() const
    {
        if (stopRequested())
            throw EditStopped{};
    }
    const std::atomic<bool>& stopFlag() const { return stop_; }
    // Worker threads, after a block wrote its frames.
    void framesWritten(std::int64_t frames) { written_.fetch_add(frames, std::memory_order_relaxed); }
    std::int64_t framesWritten() const { return written_.load(std::memory_order_relaxed); }

    // Tests: called on the worker thread before each block (to stop or fail at a chosen block).
    std::function<void(const EditRegion& region, std::int64_t block)> onBlock;

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> written_{0};
};

// While it lives, the transforms of this thread give up as soon as control is asked to stop, so that
// a stop is obeyed within a fraction of a second even where one transform takes seconds. The work
// that called them checks control afterwards and throws EditStopped.
class FftStopScope {
public:
    explicit FftStopScope(const EditControl* control)
        : previous_(fftSetStopFlag(control ? &control->stopFlag() : nullptr))
    {
    }
    ~FftStopScope() { fftSetStopFlag(previous_); }
    FftStopScope(const FftStopScope&) = delete;
    FftStopScope& operator=(const FftStopScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

} // namespace sonavik
