#pragma once
// Everything the editor keeps for the whole run, in one object that is passed by reference.
// Each test starts from a fresh one.

#include "app/settings.h"
#include "document/sound_document.h"
#include "views/selection.h"

#include <cstddef>
#include <string>

namespace sonavik {

struct Workspace {
    Settings settings{};
    std::string programDir;     // with trailing separator, or empty: files are then relative to the current folder
    SoundDocument document;
    SoundDocument undoStore;
    RedSelection red;
    int playing = 0;
    int capturing = 0;
    int loopMode = 1;
    int newDataCounter = 0;
    std::size_t pageSize = 4096;

    bool busy() const { return playing == 1 || capturing == 1; }
};

} // namespace sonavik
