#pragma once
// The main window's menu bar, read by the Qt shell to build its menus.

#include "edit/command_ids.h"

#include <vector>

namespace sonavik {

struct MenuItem {
    int id;            // 0 for a separator
    const char* text;
};

struct Menu {
    const char* title;
    std::vector<MenuItem> items;
};

const std::vector<Menu>& mainMenu();

} // namespace sonavik
