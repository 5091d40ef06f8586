#include "spectrogram/spectral_repair.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>

namespace sonavik {

namespace {

constexpr double kPi = std::numbers::pi;
// A silent side of a repair is taken as this far below anything audible rather than as minus infinity
// decibels.
constexpr double kSilentLevel = 1e-30;
// However narrow the band, the snap looks at least this far either side of its centre.
constexpr double kPeakReachHertz = 50.0;

// One bin of the packed frames as a complex number (real at b, the other part at n - b, none for DC and
// Nyquist). The packed sign of the second part does not matter: everything here is linear in the phase.
class BinCells {
public:
    BinCells(Spectrogram& s, std::int32_t bin)
        : s_(s), n_(static_cast<std::size_t>(s.fftSize)), bin_(static_cast<std::size_t>(bin)),
          complex_(bin > 0 && bin < s.fftSize / 2)
    {
    }

    std::complex<double> at(std::int32_t frame) const
    {
        const float* f = frameAt(frame);
        return {f[bin_], complex_ ? f[n_ - bin_] : 0.0};
    }

    void set(std::int32_t frame, std::complex<double> value)
    {
        float* f = frameAt(frame);
        f[bin_] = static_cast<float>(value.real());
        if (complex_)
            f[n_ - bin_] = static_cast<float>(value.imag());
    }

private:
    float* frameAt(std::int32_t frame) const { return s_.spectra.data() + static_cast<std::size_t>(frame) * n_; }

    Spectrogram& s_;
    std::size_t n_;
    std::size_t bin_;
    bool complex_;
};

// The factor from one frame's magnitude to the next on a straight line in decibels from `from` to `to`
// over `steps` frames.
double levelStep(double from, double to, std::int32_t steps)
{
    if (from == to)
        return 1.0;
    return std::pow(std::max(to, kSilentLevel) / std::max(from, kSilentLevel), 1.0 / steps);
}

// The unit phasor of z (1 for 0).
std::complex<double> direction(std::complex<double> z)
{
    const double level = std::abs(z);
    return level > 0 ? z / level : std::complex<double>(1.0, 0.0);
}

// The phase advance of one bin from frame to frame, as measured; multiples of 2 pi removed so that long
// spans keep their precision.
double advanceBetween(std::complex<double> earlier, std::complex<double> later)
{
    return std::remainder(std::arg(later) - std::arg(earlier), 2.0 * kPi);
}

// Frame by frame the magnitude is multiplied by a constant and the phasor turned by the advance, so a
// span of any length costs a few multiplications per cell.
void repairBin(Spectrogram& s, std::int32_t bin, std::int32_t frameLo, std::int32_t frameHi)
{
    BinCells cells(s, bin);
    const std::int32_t before = frameLo - 1;
    const std::int32_t after = frameHi + 1;
    const bool hasBefore = before >= 0;
    const bool hasAfter = after < s.spectrumCount;
    // With the frames n/2 apart, the bin's centre frequency turns by pi * bin per frame; only used where
    // no second frame on the side tells the bin's own advance.
    const double centreAdvance = std::remainder(kPi * bin, 2.0 * kPi);
    if (hasBefore) {
        const std::complex<double> from = cells.at(before);
        const double advance = before >= 1 ? advanceBetween(cells.at(before - 1), from) : centreAdvance;
        const std::complex<double> turn = std::polar(1.0, advance);
        double level = std::abs(from);
        const double step = hasAfter ? levelStep(level, std::abs(cells.at(after)), after - before) : 1.0;
        if (step != 1.0)
            level = std::max(level, kSilentLevel);
        std::complex<double> phasor = direction(from);
        for (std::int32_t j = frameLo; j <= frameHi; ++j) {
            phasor *= turn;
            level *= step;
            cells.set(j, level * phasor);
        }
        return;
    }
    const std::complex<double> to = cells.at(after);
    const double advance = after + 1 < s.spectrumCount ? advanceBetween(to, cells.at(after + 1)) : centreAdvance;
    const std::complex<double> turnBack = std::polar(1.0, -advance);
    const double level = std::abs(to);
    std::complex<double> phasor = direction(to);
    for (std::int32_t j = frameHi; j >= frameLo; --j) {
        phasor *= turnBack;
        cells.set(j, level * phasor);
    }
}

} // namespace

std::vector<BinRange> bandBins(const Spectrogram& s, std::int32_t lo, std::int32_t hi, int harmonics)
{
    const std::int32_t top = s.binCount - 1;
    if (lo > hi)
        std::swap(lo, hi);
    if (top < 0 || hi < 0 || lo > top)
        return {};
    lo = std::max(lo, 0);
    hi = std::min(hi, top);
    std::vector<BinRange> bands{{lo, hi}};
    // Each band keeps the selected width: the multiples of its ends (k lo ... k hi) widen with k, merge
    // from some k on and take the whole treble away. Twice the centre and the width less one have the same
    // parity, so band k's lowest bin is a whole number or a half, taken upwards.
    const std::int64_t centre2 = std::int64_t{lo} + hi;
    const std::int64_t span = std::int64_t{hi} - lo;
    for (std::int64_t k = 2; k <= std::int64_t{harmonics} + 1; ++k) {
        const std::int64_t klo = (k * centre2 - span + 1) / 2;
        if (klo > top)
            break;
        const auto khi = static_cast<std::int32_t>(std::min<std::int64_t>(klo + span, top));
        // The bands come in rising order: one that meets the one before joins it.
        if (klo <= std::int64_t{bands.back().hi} + 1)
            bands.back().hi = std::max(bands.back().hi, khi);
        else
            bands.push_back({static_cast<std::int32_t>(klo), khi});
    }
    return bands;
}

bool repairFrames(Spectrogram& s, std::int32_t frameLo, std::int32_t frameHi, const std::vector<BinRange>& bins)
{
    if (!spectraComplete(s))
        return false;
    if (frameLo > frameHi)
        std::swap(frameLo, frameHi);
    if (frameHi < 0 || frameLo >= s.spectrumCount)
        return false;
    frameLo = std::max(frameLo, 0);
    frameHi = std::min(frameHi, s.spectrumCount - 1);
    if (frameLo == 0 && frameHi == s.spectrumCount - 1)
        return false;
    const std::int32_t top = s.binCount - 1;
    for (const BinRange& range : bins)
        for (std::int32_t b = std::max(range.lo, 0); b <= std::min(range.hi, top); ++b)
            repairBin(s, b, frameLo, frameHi);
    return true;
}

bool applyHarmonicEdit(Spectrogram& s, SpectralEdit edit, const CellRect& rect, int harmonics)
{
    const std::optional<CellRect> r = limitedRect(s, rect);
    if (!r || !spectraComplete(s))
        return false;
    const std::vector<BinRange> bands = bandBins(s, r->binLo, r->binHi, harmonics);
    switch (edit) {
    case SpectralEdit::Repair:
        return repairFrames(s, r->frameLo, r->frameHi, bands);
    case SpectralEdit::Keep: {
        // Every frame outside cleared, then the bins between and around the kept bands inside.
        applySpectralEdit(s, SpectralEdit::Keep, {r->frameLo, r->frameHi, 0, s.binCount - 1});
        std::int32_t next = 0;
        for (const BinRange& band : bands) {
            if (band.lo > next)
                applySpectralEdit(s, SpectralEdit::Erase, {r->frameLo, r->frameHi, next, band.lo - 1});
            next = band.hi + 1;
        }
        if (next < s.binCount)
            applySpectralEdit(s, SpectralEdit::Erase, {r->frameLo, r->frameHi, next, s.binCount - 1});
        return true;
    }
    case SpectralEdit::Erase:
    case SpectralEdit::Double:
    case SpectralEdit::Halve:
        for (const BinRange& band : bands)
            applySpectralEdit(s, edit, {r->frameLo, r->frameHi, band.lo, band.hi});
        return true;
    }
    return false;
}

std::optional<CellRect> snappedToPeak(const Spectrogram& s, const CellRect& rect)
{
    std::optional<CellRect> r = limitedRect(s, rect);
    if (!r || !spectraComplete(s))
        return std::nullopt;
    const std::int32_t top = s.binCount - 1;
    const std::int32_t width = r->binHi - r->binLo + 1;
    // Twice the centre, so that bands of even width stay in whole numbers.
    const std::int64_t centre2 = static_cast<std::int64_t>(r->binLo) + r->binHi;
    // A narrow band at a large FFT size spans a few hertz: a whistle drifting by a few tens of them is
    // still meant.
    std::int64_t reach = 3 * std::int64_t{width};
    if (s.sampleRate > 0)
        reach = std::max<std::int64_t>(reach, static_cast<std::int64_t>(std::ceil(kPeakReachHertz * s.fftSize / s.sampleRate)));
    const auto first = static_cast<std::int32_t>(std::max<std::int64_t>(0, (centre2 - 2 * reach + 1) / 2));
    const auto last = static_cast<std::int32_t>(std::min<std::int64_t>(top, (centre2 + 2 * reach) / 2));
    // The strengths of the search and of one bin either side of it, to tell a peak from a slope.
    const std::int32_t from = std::max(first - 1, 0);
    const std::int32_t to = std::min(last + 1, top);
    const std::size_t n = static_cast<std::size_t>(s.fftSize);
    std::vector<double> strength(static_cast<std::size_t>(to - from + 1), 0.0);
    for (std::int32_t j = r->frameLo; j <= r->frameHi; ++j) {
        const float* f = s.spectra.data() + static_cast<std::size_t>(j) * n;
        for (std::int32_t b = from; b <= to; ++b) {
            const double im = b > 0 && b < s.fftSize / 2 ? f[n - static_cast<std::size_t>(b)] : 0.0;
            strength[static_cast<std::size_t>(b - from)] += std::hypot(static_cast<double>(f[b]), im);
        }
    }
    const auto at = [&](std::int32_t b) { return strength[static_cast<std::size_t>(b - from)]; };
    // The strongest peak; of equals, the one nearest the centre.
    const auto distance = [&](std::int32_t bin) { return std::abs(2 * std::int64_t{bin} - centre2); };
    std::int32_t peak = -1;
    double best = 0.0;
    double strongest = at(first);
    double weakest = strongest;
    for (std::int32_t b = first; b <= last; ++b) {
        const double v = at(b);
        strongest = std::max(strongest, v);
        weakest = std::min(weakest, v);
        if ((b > from && at(b - 1) > v) || (b < to && at(b + 1) > v))
            continue;
        if (peak < 0 || v > best || (v == best && distance(b) < distance(peak))) {
            best = v;
            peak = b;
        }
    }
    if (peak < 0 || !(strongest > weakest))
        return r;
    std::int32_t lo = peak - (width - 1) / 2;
    lo = std::clamp(lo, 0, top - width + 1);
    r->binLo = lo;
    r->binHi = lo + width - 1;
    return r;
}

} // namespace sonavik
