#pragma once
// Hands work to the user-interface thread. The sound devices run their own thread and must deliver
// their notifications on the thread the engines live on: the window posts them into Qt's event loop,
// the command-line tool and the device tests into a TaskQueue they run themselves.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace sonavik {

// Queues task to run later on the user-interface thread. Callable from any thread; never blocks for long
// and never runs the task itself.
using PostToUi = std::function<void(std::function<void()> task)>;

// A minimal event loop for a program without a toolkit.
class TaskQueue {
public:
    void post(std::function<void()> task);
    PostToUi poster();
    // Runs queued tasks in order until done() holds (true) or the time is up (false). done() is checked
    // at the start, after every task and when the time is up: while no task comes the thread sleeps, so
    // a done() that changes without a task (a signal's flag) is seen only at the end.
    bool runUntil(const std::function<bool()>& done, double seconds);
    void runFor(double seconds) { runUntil([] { return false; }, seconds); }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
};

} // namespace sonavik
