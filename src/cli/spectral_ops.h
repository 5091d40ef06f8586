#pragma once
// The OP operands of sonavik2-cli spectral: an edit of a rectangle of frames x bins, its ends given as
// cells, seconds or hertz, optionally with the band's harmonics.

#include "spectrogram/spectral_edits.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sonavik {
struct Settings;
struct Spectrogram;
} // namespace sonavik

namespace sonavik::cli {

// One end of a rectangle: a cell number, or seconds / hertz converted with the spectrogram's n and rate.
struct CellValue {
    enum class Unit { Cell, Seconds, Hertz } unit = Unit::Cell;
    double value = 0.0;
};

struct RectOp {
    std::string text;
    SpectralEdit edit = SpectralEdit::Erase;
    CellValue frame0, frame1, bin0, bin1;
    bool harmonics = false;  // ":harmonics" or ":harmonics=N", as with 倍音も
    int harmonicCount = 0;   // N; 0 for ":harmonics" alone: the settings' count
};

// "erase|double|halve|keep|repair:FRAME0:FRAME1:BIN0:BIN1[:harmonics[=N]]", N from 1 to kMaxHarmonics;
// nullopt when malformed.
std::optional<RectOp> parseRectOp(const std::string& text);

// The cell a value names in s: seconds count from the target's first frame and frames start a hop
// (n / 2 samples) apart; hertz are bin x rate / n. As the window reads them out, a time or a frequency
// lies in the cell whose read-out is at or below it. Limited to the range of int32.
std::int32_t cellOf(const CellValue& v, const Spectrogram& s);

// The op's rectangle in s (not limited) and the harmonics it takes (0 for none).
CellRect rectOf(const RectOp& op, const Spectrogram& s);
int harmonicsOf(const RectOp& op, const Settings& settings);

} // namespace sonavik::cli
