#pragma once
// Inside the PulseAudio input: what the server sends is taken at once, whether or not a buffer waits
// for it, so that a stall of the program costs nothing. RecordHold keeps it in order up to a limit and
// counts what was lost: what did not fit, the holes the server reported (sound it dropped itself), and
// what the source made that never reached the stream (see SourceClockCheck).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sonavik::pulse {

class RecordHold {
public:
    // Empties the hold for a new open: whole frames of frameBytes, at most limit bytes held.
    void reset(std::size_t frameBytes, std::size_t limit);
    // What is held goes (the device was reset); the count of lost bytes stays.
    void dropHeld();

    // peek(data, n) hands out the next piece the server sent (false or n == 0 when there is none; data
    // null for a hole of n bytes), drop() lets it go. Every piece there is, is taken.
    using Peek = std::function<bool(const void*& data, std::size_t& n)>;
    void takeAll(const Peek& peek, const std::function<void()>& drop);

    // Keeps the whole frames of data that fit under the limit; the rest counts as lost.
    void put(const unsigned char* data, std::size_t n);
    void countLost(std::uint64_t n) { lost_ += n; }

    // Moves up to n held bytes, oldest first, to out; how many were moved.
    std::size_t moveInto(unsigned char* out, std::size_t n);

    std::size_t heldBytes() const { return held_.size() - from_; }
    std::size_t limit() const { return limit_; }
    std::uint64_t lostBytes() const { return lost_; }

private:
    std::vector<unsigned char> held_;
    std::size_t from_ = 0;
    std::size_t frame_ = 1;
    std::size_t limit_ = 0;
    std::uint64_t lost_ = 0;
};

} // namespace sonavik::pulse

namespace sonavik::pulse {

// Sound the source made that never reached the stream. The server drops what no longer fits into a
// record stream's queue (the whole program stopped for longer than the queue holds) and says nothing,
// so the source's position (what the server wrote into the queue, plus what the source still holds) is
// compared, from one timing report to the next, with the time that passed on the server's clock.
class SourceClockCheck {
public:
    // Differences up to tolerance bytes are the source's own unevenness, not a loss.
    void reset(std::uint32_t bytesPerSecond, std::uint32_t frameBytes, std::uint64_t tolerance);
    // The next report starts afresh (the source was suspended or moved: its clock is another).
    void restart() { known_ = false; }
    // A timing report: at usec the source had made position bytes. Returns the whole frames missing
    // since the last report, 0 within the tolerance.
    std::uint64_t report(std::uint64_t usec, std::int64_t position);

private:
    std::uint32_t bytesPerSecond_ = 0;
    std::uint32_t frame_ = 1;
    std::uint64_t tolerance_ = 0;
    bool known_ = false;
    std::uint64_t usec_ = 0;
    std::int64_t position_ = 0;
};

} // namespace sonavik::pulse
