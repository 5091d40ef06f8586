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
            if (tasks_.empty())
                wake_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(10)),
                                 [this] { return !tasks_.empty(); });
            if (tasks_.empty())
                continue;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace sonavik
