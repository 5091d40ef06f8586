#pragma once
// The one-line progress texts that the long spectral edits paint into the right-hand part of the
// status bar while they run.

#include <cstdint>
#include <string>
#include <utility>

namespace sonavik {

class Ui;

// Shows text in status-bar part 1 at once (the edits run without the message loop).
void showProgress(Ui& ui, const std::string& text);

// A percentage text "prefix %d suffix" that goes to the status bar only when its number changes, so
// that an edit with thousands of small blocks does not repaint the bar thousands of times.
class PercentProgress {
public:
    PercentProgress(Ui& ui, std::string prefix, std::string suffix)
        : ui_(ui), prefix_(std::move(prefix)), suffix_(std::move(suffix))
    {
    }
    // The integer part of numerator x 100 / denominator (both counts of frames, so no overflow in
    // 64 bits); a denominator of 0 or less shows 0.
    void show(std::int64_t numerator, std::int64_t denominator);
    void showPercent(std::int64_t percent);

private:
    Ui& ui_;
    std::string prefix_;
    std::string suffix_;
    bool shown_ = false;
    std::int64_t last_ = 0;
};

} // namespace sonavik
