#pragma once
// The bookkeeping of a sound device built on a byte stream (the Qt devices): buffers queued in order, the
// stream's position in them, and which buffers are finished. Toolkit-free so that the ordering rules are
// tested without a sound server.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sonavik {

// Output: the stream takes queued bytes in order; a buffer is done once the device has played past its
// last byte. An empty buffer is done as soon as everything queued before it has been played.
class OutputQueue {
public:
    void queue(void* tag, const unsigned char* data, std::size_t length);
    // Up to max of the next bytes not yet handed to the stream; fewer (or none) at the end of the queue.
    std::size_t take(unsigned char* out, std::size_t max);
    // The tags of the buffers finished once playedBytes (counted since the last clear) have been heard,
    // in queue order; each tag is returned once.
    std::vector<void*> finishedBy(std::uint64_t playedBytes);
    // Every queued buffer, finished or not, in queue order; the queue is empty afterwards and counting
    // starts again at 0.
    std::vector<void*> clear();

    bool empty() const { return buffers_.empty(); }
    std::uint64_t queuedBytes() const { return queuedEnd_; }
    std::uint64_t takenBytes() const { return taken_; }

private:
    struct Buffer {
        void* tag;
        const unsigned char* data;
        std::size_t length;
        std::uint64_t start;  // stream position of its first byte
    };
    std::deque<Buffer> buffers_;
    std::uint64_t queuedEnd_ = 0;
    std::uint64_t taken_ = 0;
};

// Input: recorded bytes fill the queued buffers in order; a buffer is done when it is full. Bytes that
// arrive while no buffer is queued are dropped, as a device with no buffer has nowhere to put them.
class InputQueue {
public:
    struct Done {
        void* tag;
        std::size_t recorded;
    };

    void queue(void* tag, unsigned char* data, std::size_t capacity);
    // Stores the bytes and returns the buffers they filled, in queue order.
    std::vector<Done> store(const unsigned char* data, std::size_t length);
    // Every queued buffer with what it holds so far, in queue order; the queue is empty afterwards.
    std::vector<Done> clear();
    std::size_t queued() const { return buffers_.size(); }
    // Buffer capacities are cut to whole frames of this size, so every buffer returned holds whole frames.
    void setFrameSize(std::size_t bytes) { frameSize_ = bytes ? bytes : 1; }

private:
    struct Buffer {
        void* tag;
        unsigned char* data;
        std::size_t capacity;
        std::size_t recorded;
    };
    std::deque<Buffer> buffers_;
    std::size_t frameSize_ = 1;
};

} // namespace sonavik
