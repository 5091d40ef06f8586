#include "pulse/record_hold.h"

#include <algorithm>
#include <cstring>

namespace sonavik::pulse {

void RecordHold::reset(std::size_t frameBytes, std::size_t limit)
{
    held_.clear();
    from_ = 0;
    frame_ = std::max<std::size_t>(frameBytes, 1);
    limit_ = limit;
    lost_ = 0;
}

void RecordHold::dropHeld()
{
    held_.clear();
    from_ = 0;
}

void RecordHold::takeAll(const Peek& peek, const std::function<void()>& drop)
{
    for (;;) {
        const void* data = nullptr;
        std::size_t n = 0;
        if (!peek(data, n) || n == 0)
            break;
        if (data)
            put(static_cast<const unsigned char*>(data), n);
        else
            lost_ += n;  // a hole: the server had dropped this much
        drop();
    }
}

void RecordHold::put(const unsigned char* data, std::size_t n)
{
    if (from_ > 0 && from_ * 2 >= held_.size()) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(from_));
        from_ = 0;
    }
    const std::size_t room = limit_ - std::min(limit_, heldBytes());
    std::size_t keep = std::min(n, room);
    keep -= keep % frame_;
    lost_ += n - keep;
    held_.insert(held_.end(), data, data + keep);
}

std::size_t RecordHold::moveInto(unsigned char* out, std::size_t n)
{
    n = std::min(n, heldBytes());
    if (n > 0)
        std::memcpy(out, held_.data() + from_, n);
    from_ += n;
    if (from_ == held_.size())
        dropHeld();
    return n;
}

} // namespace sonavik::pulse

namespace sonavik::pulse {

void SourceClockCheck::reset(std::uint32_t bytesPerSecond, std::uint32_t frameBytes, std::uint64_t tolerance)
{
    bytesPerSecond_ = bytesPerSecond;
    frame_ = std::max<std::uint32_t>(frameBytes, 1);
    tolerance_ = tolerance;
    known_ = false;
}

std::uint64_t SourceClockCheck::report(std::uint64_t usec, std::int64_t position)
{
    // Nothing made yet: a source that is still starting up has no clock to compare with.
    if (position <= 0)
        return 0;
    if (!known_ || usec < usec_ || position < position_) {
        known_ = true;
        usec_ = usec;
        position_ = position;
        return 0;
    }
    const double made = static_cast<double>(usec - usec_) * bytesPerSecond_ / 1e6;
    const double missing = made - static_cast<double>(position - position_);
    usec_ = usec;
    position_ = position;
    if (missing <= static_cast<double>(tolerance_))
        return 0;
    const auto lost = static_cast<std::uint64_t>(missing);
    return lost - lost % frame_;
}

} // namespace sonavik::pulse
