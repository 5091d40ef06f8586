#pragma once
// The edits of a spectrogram's rectangle of frames x bins, on both parts of each bin's packed value.

#include "spectrogram/spectrogram.h"

#include <cstdint>
#include <optional>

namespace sonavik {

enum class SpectralEdit {
    Erase,   // "消去": both parts of every selected cell set to 0
    Double,  // "大きさを２倍"
    Halve,   // "大きさを半分"
    Keep,    // "トリミング": every cell outside the rectangle, in all frames, set to 0
    Repair,  // "修復": the cells rebuilt from the frames around the rectangle (spectral_repair.h)
};

// Frames frameLo ... frameHi and bins binLo ... binHi, inclusive.
struct CellRect {
    std::int32_t frameLo = 0;
    std::int32_t frameHi = 0;
    std::int32_t binLo = 0;
    std::int32_t binHi = 0;
};

// The context menu's command ids 40501, 40502, 40503, 40508 and 40521 (repair); nullopt for "キャンセル" (40509) and
// anything else.
std::optional<SpectralEdit> spectralEditOfCommand(int commandId);

// The rectangle with its ends in either order, limited to the spectrogram's frames and bins; nullopt when
// no cell of it lies inside.
std::optional<CellRect> limitedRect(const Spectrogram& s, CellRect rect);
// The window's selection as a rectangle (limited), nullopt without one.
std::optional<CellRect> selectionRect(const Spectrogram& s);

// Whether the spectra hold every frame the shape names, so that edits can touch any cell.
bool spectraComplete(const Spectrogram& s);

// Applies edit to the spectra for the rectangle (limited first; nothing happens when nothing is left).
// The picture is not recoloured here.
void applySpectralEdit(Spectrogram& s, SpectralEdit edit, const CellRect& rect);

} // namespace sonavik
