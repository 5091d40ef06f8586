#pragma once
// The lines of the history window: the first state ("開いた時", "録音" or "新規"), then one line per
// change with its number, the edit's menu name, its target and the time; the current state marked.

#include <string>
#include <vector>

namespace sonavik {

class EditHistory;

struct HistoryRow {
    int state = 0;
    std::string text;
    bool current = false;
};

std::vector<HistoryRow> historyRows(const EditHistory& history);

} // namespace sonavik
