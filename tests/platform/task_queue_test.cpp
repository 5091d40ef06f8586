#include "platform/task_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace sonavik {
namespace {

// An idle queue sleeps until a task comes: done() is asked at the start and at the end, not every few
// milliseconds; tasks posted from another thread run in order on the caller's thread.
TEST(TaskQueue, SleepsWhileIdleAndRunsPostedTasksInOrder)
{
    TaskQueue queue;
    int asked = 0;
    EXPECT_FALSE(queue.runUntil([&] { return ++asked > 1000; }, 0.3));
    EXPECT_LE(asked, 3);

    std::vector<int> ran;
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i)
            queue.post([&ran, i] { ran.push_back(i); });
    });
    EXPECT_TRUE(queue.runUntil([&] { return ran.size() == 5; }, 30.0));
    poster.join();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
}

} // namespace
} // namespace sonavik
