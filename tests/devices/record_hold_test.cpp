// The input's holding queue and its check against the source's clock, without a server: pieces and
// holes are handed in as the server's stream would hand them out.

#include "pulse/record_hold.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace sonavik::pulse {
namespace {

struct Piece {
    std::vector<unsigned char> bytes;
    std::size_t hole = 0;  // a hole of this many bytes when bytes is empty
};

void takeAll(RecordHold& hold, std::deque<Piece> pieces)
{
    hold.takeAll(
        [&](const void*& data, std::size_t& n) {
            if (pieces.empty())
                return false;
            const Piece& p = pieces.front();
            data = p.bytes.empty() ? nullptr : p.bytes.data();
            n = p.bytes.empty() ? p.hole : p.bytes.size();
            return true;
        },
        [&] { pieces.pop_front(); });
}

std::vector<unsigned char> moveOut(RecordHold& hold)
{
    std::vector<unsigned char> out(hold.heldBytes() + 8);
    out.resize(hold.moveInto(out.data(), out.size()));
    return out;
}

// A hole the server reports counts its bytes lost, and the frames after it are kept, in order.
TEST(RecordHold, AHoleIsCountedLostAndTheFramesAfterItAreKept)
{
    RecordHold hold;
    hold.reset(4, 1 << 20);
    takeAll(hold, {{{1, 2, 3, 4}}, {{}, 12}, {{5, 6, 7, 8, 9, 10, 11, 12}}});
    EXPECT_EQ(hold.lostBytes(), 12u);
    EXPECT_EQ(moveOut(hold), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

// Exactly the limit is kept, in whole frames; what is over it counts lost; room taken out is room again.
TEST(RecordHold, TheLimitKeepsExactlyItsBytesAndCountsTheRest)
{
    RecordHold hold;
    hold.reset(4, 40);
    std::vector<unsigned char> piece(24);
    for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<unsigned char>(i);
    takeAll(hold, {{piece}, {piece}});
    EXPECT_EQ(hold.heldBytes(), 40u);
    EXPECT_EQ(hold.lostBytes(), 8u);
    std::vector<unsigned char> first(16);
    ASSERT_EQ(hold.moveInto(first.data(), first.size()), 16u);
    EXPECT_EQ(first, std::vector<unsigned char>(piece.begin(), piece.begin() + 16));
    takeAll(hold, {{std::vector<unsigned char>(18, 0xAB)}});
    EXPECT_EQ(hold.heldBytes(), 40u);
    EXPECT_EQ(hold.lostBytes(), 8u + 2u);
    const std::vector<unsigned char> rest = moveOut(hold);
    ASSERT_EQ(rest.size(), 40u);
    EXPECT_EQ(std::vector<unsigned char>(rest.begin(), rest.begin() + 8), std::vector<unsigned char>(piece.begin() + 16, piece.end()));
    EXPECT_EQ(rest.back(), 0xAB);
}

// A source whose position keeps pace with the clock loses nothing, however unevenly it hands sound over
// within the tolerance; a stretch it fell behind by more counts exactly the whole frames missing.
TEST(SourceClockCheck, CountsWhatTheSourceMadeThatNeverReachedTheStream)
{
    SourceClockCheck check;
    const std::uint32_t perSecond = 176400;
    check.reset(perSecond, 4, perSecond / 4);
    EXPECT_EQ(check.report(1'000'000, 0), 0u);  // not started yet
    EXPECT_EQ(check.report(2'000'000, 4096), 0u);
    EXPECT_EQ(check.report(3'000'000, 4096 + 176400 - 30000), 0u);
    EXPECT_EQ(check.report(4'000'000, 4096 + 2 * 176400), 0u);
    // Ten seconds pass, four seconds arrive.
    EXPECT_EQ(check.report(14'000'000, 4096 + 6 * 176400), 6u * 176400);
    // A stretch of 0.5 s short by 1001 bytes beyond the tolerance: whole frames only.
    check.reset(perSecond, 4, 0);
    EXPECT_EQ(check.report(1'000'000, 1000), 0u);
    EXPECT_EQ(check.report(1'500'000, 1000 + 88200 - 1001), 1000u);
    // After the source changed, the next report only starts the count again.
    check.restart();
    EXPECT_EQ(check.report(9'000'000, 5000), 0u);
    EXPECT_EQ(check.report(10'000'000, 5000 + 176400), 0u);
}

} // namespace
} // namespace sonavik::pulse
