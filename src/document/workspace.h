#pragma once
// Everything the editor keeps for the whole run, in one object that is passed by reference.
// Each test starts from a fresh one.

#include "document/selection.h"
#include "document/sound_document.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sonavik {

class EditHistory;

struct Workspace {
    Settings settings{};
    std::string programDir;     // with trailing separator, or empty: files are then relative to the current folder
    SoundDocument document;
    SoundDocument undoStore;
    RedSelection red;
    // The one pointer gesture shared by the waveform views and the spectrogram windows; 0 when idle.
    int dragMode = 0;
    // The slot found by the last hit test of a view.
    int currentSelection = 0;
    // Frames of the pointer's column during a red-selection drag.
    std::int32_t cursorFirst = 0;
    std::int32_t cursorLast = 0;
    int playing = 0;
    int capturing = 0;
    int loopMode = 1;
    int newDataCounter = 0;
    std::size_t pageSize = 4096;
    // An equaliser, reverb or convolution is running on worker threads (edit/long_edit.h): the sound
    // must not change or go away until it ends, so the program counts as busy as during playback.
    bool longEditRunning = false;
    // The reverb's noise generator state: never reseeded, so consecutive reverbs continue one sequence.
    std::uint32_t reverbNoiseState = 1;
    // Where every change is recorded on disk (history/edit_history.h); null when nothing records.
    EditHistory* history = nullptr;

    bool busy() const { return playing == 1 || capturing == 1 || longEditRunning; }
};

} // namespace sonavik
