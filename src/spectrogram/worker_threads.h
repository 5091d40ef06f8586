#pragma once
// Work shared out over a few threads of this process, for the analysis and the write-back.

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace sonavik {

// Runs work on the calling thread and on threads - 1 helpers; a helper that cannot be started leaves
// its share to the others, so fewer threads give the same result. Whatever any share throws, every
// helper is joined first (they use this frame's state), then the first exception is passed on.
template <typename Work>
void runOnThreads(int threads, Work&& work)
{
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(std::max(threads, 1)));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([&work, &failures, t] {
                try {
                    work(t);
                } catch (...) {
                    failures[static_cast<std::size_t>(t)] = std::current_exception();
                }
            });
        } catch (...) {
            break;
        }
    }
    try {
        work(0);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

} // namespace sonavik
