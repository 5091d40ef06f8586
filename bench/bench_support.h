#pragma once
// What the benchmarks share: a Ui that shows nothing, and the best of three timings.

#include "platform/ui.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

namespace sonavik::bench {

class QuietUi : public Ui {
public:
    MessageAnswer messageBox(const MessageRequest&) override { return MessageAnswer::Ok; }
    void beep(BeepKind) override {}
    std::optional<std::string> openFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<std::string> saveFileName(const FileDialogRequest&) override { return std::nullopt; }
    void setCursor(CursorKind) override {}
    void setStatusText(int, const std::string&) override {}
    void setTitle(const std::string&) override {}
};

// Seconds of the fastest of three runs of work; reset runs untimed before each.
inline double secondsOf(const std::function<void()>& work, const std::function<void()>& reset = {})
{
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 3; ++i) {
        if (reset)
            reset();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

} // namespace sonavik::bench
