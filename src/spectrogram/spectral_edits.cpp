#include "spectrogram/spectral_edits.h"

#include "spectrogram/spectral_repair.h"

#include <algorithm>
#include <cstddef>

namespace sonavik {

namespace {

// Multiplies both parts of bins binLo ... binHi of one packed frame by factor.
void scaleBins(float* frame, std::int32_t n, std::int32_t binLo, std::int32_t binHi, float factor)
{
    const std::int32_t half = n / 2;
    // Clearing assigns, so that a value that is not a number is cleared too.
    const bool clear = factor == 0.0f;
    for (std::int32_t b = binLo; b <= binHi; ++b) {
        frame[b] = clear ? 0.0f : frame[b] * factor;
        if (b > 0 && b < half)
            frame[n - b] = clear ? 0.0f : frame[n - b] * factor;
    }
}

} // namespace

bool spectraComplete(const Spectrogram& s)
{
    return s.fftSize >= 2 && s.binCount == s.fftSize / 2 + 1 && s.spectrumCount > 0
           && s.spectra.size() >= static_cast<std::size_t>(s.spectrumCount) * static_cast<std::size_t>(s.fftSize);
}

std::optional<SpectralEdit> spectralEditOfCommand(int commandId)
{
    switch (commandId) {
    case 40501:
        return SpectralEdit::Erase;
    case 40502:
        return SpectralEdit::Double;
    case 40503:
        return SpectralEdit::Halve;
    case 40508:
        return SpectralEdit::Keep;
    case 40521:
        return SpectralEdit::Repair;
    default:
        return std::nullopt;
    }
}

std::optional<CellRect> limitedRect(const Spectrogram& s, CellRect r)
{
    if (r.frameLo > r.frameHi)
        std::swap(r.frameLo, r.frameHi);
    if (r.binLo > r.binHi)
        std::swap(r.binLo, r.binHi);
    if (r.frameHi < 0 || r.frameLo >= s.spectrumCount || r.binHi < 0 || r.binLo >= s.binCount)
        return std::nullopt;
    r.frameLo = std::max(r.frameLo, 0);
    r.binLo = std::max(r.binLo, 0);
    r.frameHi = std::min(r.frameHi, s.spectrumCount - 1);
    r.binHi = std::min(r.binHi, s.binCount - 1);
    return r;
}

std::optional<CellRect> selectionRect(const Spectrogram& s)
{
    if (!s.hasSelection())
        return std::nullopt;
    return limitedRect(s, {s.selFrameLo, s.selFrameHi, s.selBinLo, s.selBinHi});
}

void applySpectralEdit(Spectrogram& s, SpectralEdit edit, const CellRect& rect)
{
    if (!spectraComplete(s))
        return;
    const std::optional<CellRect> r = limitedRect(s, rect);
    if (!r)
        return;
    if (edit == SpectralEdit::Repair) {
        repairFrames(s, r->frameLo, r->frameHi, {{r->binLo, r->binHi}});
        return;
    }
    const std::int32_t n = s.fftSize;
    const auto frameAt = [&](std::int32_t j) { return s.spectra.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(n); };
    if (edit == SpectralEdit::Keep) {
        for (std::int32_t j = 0; j < s.spectrumCount; ++j) {
            float* frame = frameAt(j);
            const bool inside = j >= r->frameLo && j <= r->frameHi;
            if (!inside) {
                std::fill(frame, frame + n, 0.0f);
                continue;
            }
            if (r->binLo > 0)
                scaleBins(frame, n, 0, r->binLo - 1, 0.0f);
            if (r->binHi < s.binCount - 1)
                scaleBins(frame, n, r->binHi + 1, s.binCount - 1, 0.0f);
        }
        return;
    }
    const float factor = edit == SpectralEdit::Double ? 2.0f : edit == SpectralEdit::Halve ? 0.5f : 0.0f;
    for (std::int32_t j = r->frameLo; j <= r->frameHi; ++j)
        scaleBins(frameAt(j), n, r->binLo, r->binHi, factor);
}

} // namespace sonavik
