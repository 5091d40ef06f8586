#include "audio/device_queue.h"

#include <algorithm>
#include <cstring>

namespace sonavik {

void OutputQueue::queue(void* tag, const unsigned char* data, std::size_t length)
{
    buffers_.push_back({tag, data, data ? length : 0, queuedEnd_});
    queuedEnd_ += data ? length : 0;
}

std::size_t OutputQueue::take(unsigned char* out, std::size_t max)
{
    std::size_t copied = 0;
    for (const Buffer& b : buffers_) {
        if (copied == max)
            break;
        const std::uint64_t end = b.start + b.length;
        if (taken_ >= end)
            continue;
        const auto offset = static_cast<std::size_t>(taken_ - b.start);
        const std::size_t n = std::min(b.length - offset, max - copied);
        std::memcpy(out + copied, b.data + offset, n);
        copied += n;
        taken_ += n;
    }
    return copied;
}

std::vector<void*> OutputQueue::finishedBy(std::uint64_t playedBytes)
{
    // Nothing counts as heard before it was handed to the stream.
    playedBytes = std::min(playedBytes, taken_);
    std::vector<void*> done;
    while (!buffers_.empty() && buffers_.front().start + buffers_.front().length <= playedBytes) {
        done.push_back(buffers_.front().tag);
        buffers_.pop_front();
    }
    return done;
}

std::vector<void*> OutputQueue::clear()
{
    std::vector<void*> all;
    for (const Buffer& b : buffers_)
        all.push_back(b.tag);
    buffers_.clear();
    queuedEnd_ = 0;
    taken_ = 0;
    return all;
}

void InputQueue::queue(void* tag, unsigned char* data, std::size_t capacity)
{
    buffers_.push_back({tag, data, data ? capacity - capacity % frameSize_ : 0, 0});
}

std::vector<InputQueue::Done> InputQueue::store(const unsigned char* data, std::size_t length)
{
    std::vector<Done> done;
    while (length > 0 && !buffers_.empty()) {
        Buffer& b = buffers_.front();
        const std::size_t n = std::min(b.capacity - b.recorded, length);
        std::memcpy(b.data + b.recorded, data, n);
        b.recorded += n;
        data += n;
        length -= n;
        if (b.recorded == b.capacity) {
            done.push_back({b.tag, b.recorded});
            buffers_.pop_front();
        }
    }
    return done;
}

std::vector<InputQueue::Done> InputQueue::clear()
{
    std::vector<Done> all;
    for (const Buffer& b : buffers_)
        all.push_back({b.tag, b.recorded});
    buffers_.clear();
    return all;
}

} // namespace sonavik
