#include "audio/device_queue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace sonavik {
namespace {

int tags[10];

std::vector<int> indices(const std::vector<void*>& done)
{
    std::vector<int> out;
    for (void* t : done)
        out.push_back(static_cast<int>(static_cast<int*>(t) - tags));
    return out;
}

TEST(OutputQueue, StreamsBytesInQueueOrderAndFinishesBuffersOnlyWhenPlayedPast)
{
    std::vector<unsigned char> a(6), b(4);
    std::iota(a.begin(), a.end(), 0);
    std::iota(b.begin(), b.end(), 100);
    OutputQueue q;
    q.queue(&tags[0], a.data(), a.size());
    q.queue(&tags[1], nullptr, 0);  // an empty buffer between two full ones
    q.queue(&tags[2], b.data(), b.size());
    q.queue(&tags[3], b.data(), 0);

    unsigned char out[16] = {};
    ASSERT_EQ(q.take(out, 4), 4u);
    ASSERT_EQ(q.take(out + 4, 16), 6u);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 10), (std::vector<unsigned char>{0, 1, 2, 3, 4, 5, 100, 101, 102, 103}));
    EXPECT_EQ(q.take(out, 16), 0u);

    struct Step {
        std::uint64_t played;
        std::vector<int> done;
    };
    const Step steps[] = {
        {0, {}}, {5, {}}, {6, {0, 1}}, {9, {}}, {10, {2, 3}}, {10, {}},
    };
    for (const Step& s : steps)
        EXPECT_EQ(indices(q.finishedBy(s.played)), s.done) << "played " << s.played;
    EXPECT_TRUE(q.empty());
}

TEST(OutputQueue, NothingIsDoneBeforeTheStreamTookItAndClearReturnsEveryBufferInOrder)
{
    std::vector<unsigned char> a(8, 1);
    OutputQueue q;
    for (int i = 0; i < 3; ++i)
        q.queue(&tags[i], a.data(), a.size());
    unsigned char out[8];
    q.take(out, 8);
    // A device clock running ahead of what was handed over must not finish unsent buffers.
    EXPECT_EQ(indices(q.finishedBy(1000)), (std::vector<int>{0}));
    EXPECT_EQ(indices(q.clear()), (std::vector<int>{1, 2}));
    EXPECT_EQ(q.queuedBytes(), 0u);
    // Counting starts again after a clear.
    q.queue(&tags[4], a.data(), 2);
    EXPECT_EQ(q.take(out, 8), 2u);
    EXPECT_EQ(indices(q.finishedBy(2)), (std::vector<int>{4}));
}

TEST(InputQueue, FillsBuffersInOrderKeepsWholeFramesAndDropsBytesWithNowhereToGo)
{
    unsigned char a[10] = {}, b[8] = {};
    InputQueue q;
    q.setFrameSize(4);
    q.queue(&tags[0], a, sizeof a);  // holds 8 bytes: two whole frames
    q.queue(&tags[1], b, sizeof b);
    unsigned char in[20];
    std::iota(in, in + 20, 1);

    auto done = q.store(in, 5);
    EXPECT_TRUE(done.empty());
    done = q.store(in + 5, 7);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].tag, &tags[0]);
    EXPECT_EQ(done[0].recorded, 8u);
    EXPECT_EQ(a[7], 8);
    EXPECT_EQ(b[0], 9);

    const auto rest = q.clear();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].tag, &tags[1]);
    EXPECT_EQ(rest[0].recorded, 4u);
    EXPECT_TRUE(q.store(in, 20).empty());
    EXPECT_EQ(q.queued(), 0u);
}

} // namespace
} // namespace sonavik
