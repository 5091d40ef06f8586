#include "edit/progress.h"

#include "platform/ui.h"

namespace sonavik {

void showProgress(Ui& ui, const std::string& text) { ui.setStatusText(1, text); }

void PercentProgress::show(std::int64_t numerator, std::int64_t denominator)
{
    showPercent(denominator > 0 ? numerator * 100 / denominator : 0);
}

void PercentProgress::showPercent(std::int64_t percent)
{
    if (shown_ && percent == last_)
        return;
    shown_ = true;
    last_ = percent;
    showProgress(ui_, prefix_ + std::to_string(percent) + suffix_);
}

} // namespace sonavik
