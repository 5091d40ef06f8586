#pragma once
// What a long edit running on worker threads shares with the thread that started it: a request to
// stop, checked before every block, and how many frames have been written so far.

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
        if (stopRequested())
            throw EditStopped{};
    }
    // Worker threads, after a block wrote its frames.
    void framesWritten(std::int64_t frames) { written_.fetch_add(frames, std::memory_order_relaxed); }
    std::int64_t framesWritten() const { return written_.load(std::memory_order_relaxed); }

    // Tests: called on the worker thread before each block (to stop or fail at a chosen block).
    std::function<void(const EditRegion& region, std::int64_t block)> onBlock;

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> written_{0};
};

} // namespace sonavik
