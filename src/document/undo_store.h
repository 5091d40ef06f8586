#pragma once
// What the undo store keeps outside memory: four transfer files beside parameter.ini that are only ever
// emptied, at start-up and at exit.

#include <string>

namespace sonavik {

class Ui;

inline constexpr const char* kTransferFileNames[] = {"tmp_l.hed", "tmp_l.bod", "tmp_r.hed", "tmp_r.bod"};

// Creates or truncates programDir + each name, in order. Stops at the first that cannot be opened, after
// "<path>を開けません" (caption "Sonavik 2", no owner window); returns false then.
bool resetTransferFiles(const std::string& programDir, Ui& ui);

} // namespace sonavik
