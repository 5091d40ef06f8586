#pragma once
// Edits of a band together with its harmonics, the repair that rebuilds a rectangle's cells from the
// frames around it, and the band moved onto the strongest bin near it.

#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectrogram.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sonavik {

// Bins lo ... hi, inclusive.
struct BinRange {
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    friend bool operator==(const BinRange&, const BinRange&) = default;
};

// The bins an edit of the band lo ... hi (either order) reaches: the band limited to the spectrogram's
// bins and its first `harmonics` harmonics, k = 2 ... harmonics + 1, band k centred on k times the band's
// centre and as wide as the band (of two middles the upper, as the snap keeps an even width), each limited
// to the top bin and none starting above it. Sorted and merged, so no bin is listed twice; empty when the
// band lies outside.
std::vector<BinRange> bandBins(const Spectrogram& s, std::int32_t lo, std::int32_t hi, int harmonics);

// Rebuilds frames frameLo ... frameHi of the given bins from the frames just outside them: each bin's
// magnitude interpolated on a logarithmic scale between the last frame before and the first frame after,
// its phase continued from the frame before at the advance it made between the two frames before that
// (its own frequency, not the bin centre's). With only one side the magnitude is that side's and the phase
// runs on from it (backwards from the frame after). False, and nothing changed, when no frame lies
// outside the span or the span lies outside the spectrogram.
bool repairFrames(Spectrogram& s, std::int32_t frameLo, std::int32_t frameHi, const std::vector<BinRange>& bins);

// The edit on the rectangle (limited first) and on the bands of its first `harmonics` harmonics (see
// bandBins) over the same frames; Keep keeps those bands and clears everything else. False when nothing
// was changed. The picture is not recoloured here.
bool applyHarmonicEdit(Spectrogram& s, SpectralEdit edit, const CellRect& rect, int harmonics);

// The rectangle (limited) with its band moved, width kept, so that it is centred on the strongest peak
// within three band widths (at least 50 Hz) of the band's centre, strength being the magnitude summed
// over its frames. A peak is a bin no weaker than either neighbour, those outside the search included,
// so the slope of a tone beyond the search is never taken for one. A band that would cross the bottom
// or top bin is moved back inside. The band stays where it is when no bin is stronger than the rest.
// nullopt when the rectangle lies outside the spectrogram.
std::optional<CellRect> snappedToPeak(const Spectrogram& s, const CellRect& rect);

} // namespace sonavik
