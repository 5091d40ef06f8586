#include "platform/task_queue.h"

namespace sonavik {

void TaskQueue::post(std::function<void()> task)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

PostToUi TaskQueue::poster()
{
    return [this](std::function<void()> task) { post(std::move(task)); };
}

bool TaskQueue::runUntil(const std::function<bool()>& done, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        if (done())
            return true;
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            // Only a task can change what done() looks at: sleep until one comes or the time is up.
            if (!wake_.wait_until(lock, deadline, [this] { return !tasks_.empty(); }))
                return done();
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace sonavik
