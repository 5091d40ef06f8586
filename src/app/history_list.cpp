#include "app/history_list.h"

#include "history/edit_history.h"
#include "views/context_menus.h"

#include <ctime>

namespace sonavik {

namespace {

std::string clockTime(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string frames(std::int32_t first, std::int32_t last)
{
    return std::to_string(first) + "～" + std::to_string(last);
}

// 処理の対象's words for the target; a red or numbered selection also by its frames.
std::string targetWords(const ChangeNote& note)
{
    if (note.target >= 0 && note.target <= 11)
        return targetText(note.target);
    if (note.target == 12)
        return std::string(targetText(12)) + " " + frames(note.targetFirst, note.targetLast);
    if (note.target == 13 || note.target == 14)
        return std::string(note.target == 13 ? "左α " : "右α ") + std::to_string(note.slot + 1) + " 番 "
               + frames(note.targetFirst, note.targetLast);
    return "";
}

} // namespace

std::vector<HistoryRow> historyRows(const EditHistory& history)
{
    std::vector<HistoryRow> rows;
    const int first = history.firstState();
    const std::string firstName = first == 0 ? historyOriginText(history.origin()) : std::to_string(first);
    rows.push_back({first, firstName + "  " + clockTime(history.originTime()), false});
    for (const HistoryEntry& e : history.entries()) {
        std::string text = std::to_string(e.index) + "  " + e.note.name;
        const std::string target = targetWords(e.note);
        if (!target.empty())
            text += "  " + target;
        rows.push_back({e.index, text + "  " + clockTime(e.time), false});
    }
    rows.back().current = true;
    return rows;
}

} // namespace sonavik
