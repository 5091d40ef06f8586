#include "spectrogram/spectral_repair.h"

#include "dsp/fft.h"
#include "spectrogram/repair_sounds.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectrogram_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace sonavik {
namespace {

using test::analyse;
using test::regionOf;
using test::ScriptedUi;

// A mono document of values on the 16-bit scale, at 8 bits divided by 256.
Workspace workspaceOf(const std::vector<double>& x, int bits)
{
    return test::workspaceWith(test::makeDocument(bits, 1, static_cast<std::int32_t>(x.size()), [&](std::int64_t p, int) {
        const double v = x[static_cast<std::size_t>(p)];
        return bits == 8 ? static_cast<int>(std::clamp(std::lround(v / 256) + 128, 0l, 255l))
                         : static_cast<int>(std::clamp(std::lround(v), -32768l, 32767l));
    }, test::kRepairRate));
}

// The document's samples back on the 16-bit scale.
std::vector<double> samplesOf(const SoundDocument& doc)
{
    std::vector<double> x;
    const bool eight = doc.format.wBitsPerSample == 8;
    for (std::int64_t p = 0; p < doc.frameCount; ++p)
        x.push_back(eight ? (test::sampleOf(doc, p, 0) - 128) * 256.0 : test::sampleOf(doc, p, 0));
    return x;
}

void writeBackWhole(Workspace& ws, Ui& ui, const Spectrogram& s)
{
    presetApplyOptions(ws.settings, s);
    ws.settings.applyUseAlpha = 0;
    ASSERT_EQ(resynthesizeSpectrogram(ws, ui, s), kWroteLeft);
}

std::complex<double> cellOf(const Spectrogram& s, int frame, int bin)
{
    const float* f = s.spectra.data() + static_cast<std::size_t>(frame) * s.fftSize;
    return {f[bin], bin > 0 && bin < s.fftSize / 2 ? f[s.fftSize - bin] : 0.0};
}

TEST(SpectralRepair, AClickInNoiseIsRebuiltAroundTheToneWhereEraseLeavesAHole)
{
    const test::ClickSound sound = test::toneInPinkNoise();
    // The write-back's loops, as the FFT's, run four values at a time in the widest instructions the
    // machine has or in the portable ones: both are heard.
    struct Run {
        int bits;
        bool portable;
    };
    for (const Run run : {Run{16, false}, Run{8, false}, Run{16, true}}) {
        fftUsePortableKernels(run.portable);
        const int bits = run.bits;
        SCOPED_TRACE(std::to_string(bits) + (run.portable ? " bits, portable loops" : " bits"));
        const int n = 2048, h = n / 2;
        // Every frame whose window holds a sample of the click; the samples those frames alone make up.
        const int lo = static_cast<int>((sound.clickStart - n + 1 + h - 1) / h);
        const int hi = static_cast<int>(sound.clickEnd / h);
        const std::int64_t first = (lo + 1) * std::int64_t{h}, count = (hi - lo) * std::int64_t{h};
        const std::vector<double> clean = samplesOf(workspaceOf(sound.clean, bits).document);
        for (SpectralEdit edit : {SpectralEdit::Repair, SpectralEdit::Erase}) {
            Workspace ws = workspaceOf(sound.clicked, bits);
            ScriptedUi ui;
            auto s = analyse(ws, ui, regionOf(0, 0, ws.document.frameCount - 1), n, kFftWindowHanning);
            ASSERT_TRUE(s);
            ASSERT_TRUE(applyHarmonicEdit(*s, edit, {lo, hi, 0, s->binCount - 1}, 0));
            writeBackWhole(ws, ui, *s);
            const test::SpanMeasures m = test::measureSpan(samplesOf(ws.document), clean, first, count);
            if (edit == SpectralEdit::Erase) {
                EXPECT_LT(m.toneChange, -20);
                continue;
            }
            EXPECT_NEAR(m.toneChange, 0, 1);
            EXPECT_LE(m.peakRatio, 1.5);
            // The noise cannot come back sample for sample, the tone can.
            EXPECT_LT(m.difference, -10);
        }
    }
    fftUsePortableKernels(false);
}

// The spectrogram (n = 256, Hanning, 8000 Hz) of a 1234.5 Hz tone, between the centres of bins 39 and
// 40 (or at hz), whose amplitude starts at start and grows by growth from frame to frame.
std::unique_ptr<Spectrogram> toneSpectrogram(Workspace& ws, int frames, double start = 3000, double growth = 1,
                                             double hz = 1234.5)
{
    const int samples = (frames + 1) * 128;
    ws = test::workspaceWith(test::makeDocument(16, 1, samples, [&](std::int64_t p, int) {
        const double a = start * std::pow(growth, static_cast<double>(p) / 128);
        return static_cast<int>(std::lround(a * std::sin(2 * std::numbers::pi * hz * static_cast<double>(p) / 8000)));
    }, 8000));
    ScriptedUi ui;
    return analyse(ws, ui, regionOf(0, 0, samples - 1), 256, kFftWindowHanning);
}

TEST(SpectralRepair, ASteadyOrGrowingToneRunsOnThroughTheSpanFromEitherSide)
{
    struct Case {
        const char* name;
        bool growing;
        int frameLo, frameHi;  // from the end when negative
    };
    // The bin-centre advance would be half a turn off per frame. The growing tone gains a factor 1.5 per
    // frame, so a straight line between the magnitudes of frames 7 and 12 would be half as loud again in
    // the middle.
    const Case cases[] = {
        {"both sides, growing", true, 8, 11},
        {"both sides, steady", false, 8, 11},
        {"at the start", false, 0, 2},
        {"at the end", false, -3, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws;
        auto s = c.growing ? toneSpectrogram(ws, 16, 20, 1.5) : toneSpectrogram(ws, 24);
        ASSERT_TRUE(s);
        const int lo = c.frameLo < 0 ? s->spectrumCount + c.frameLo : c.frameLo;
        const int hi = c.frameHi < 0 ? s->spectrumCount + c.frameHi : c.frameHi;
        const Spectrogram before = *s;
        ASSERT_TRUE(repairFrames(*s, lo, hi, {{30, 49}}));
        for (int j = 0; j < s->spectrumCount; ++j) {
            for (int b = 0; b < s->binCount; ++b) {
                const std::complex<double> was = cellOf(before, j, b), now = cellOf(*s, j, b);
                if (j < lo || j > hi || b < 30 || b > 49) {
                    ASSERT_EQ(now, was) << "frame " << j << " bin " << b;
                } else if (b >= 38 && b <= 41) {
                    // The tone's main lobe comes back as it was, in magnitude and phase.
                    EXPECT_LT(std::abs(now - was), 0.02 * std::abs(was)) << "frame " << j << " bin " << b;
                }
            }
        }
    }
}

TEST(SpectralRepair, NothingToRebuildFromChangesNothing)
{
    Workspace ws;
    auto s = toneSpectrogram(ws, 1);
    ASSERT_TRUE(s);
    ASSERT_EQ(s->spectrumCount, 1);
    const Spectrogram before = *s;
    EXPECT_FALSE(repairFrames(*s, 0, 0, {{0, 128}}));
    EXPECT_FALSE(applyHarmonicEdit(*s, SpectralEdit::Repair, {-5, 5, 0, 1000}, 8));
    EXPECT_FALSE(applyHarmonicEdit(*s, SpectralEdit::Erase, {3, 5, 0, 10}, 8));
    EXPECT_FALSE(snappedToPeak(*s, {0, 0, 200, 300}));
    EXPECT_EQ(s->spectra, before.spectra);
    // Only the frame before: the bin-centre advance, and every value a number.
    s = toneSpectrogram(ws, 8);
    ASSERT_TRUE(repairFrames(*s, 1, 3, {{0, 128}}));
    for (float v : s->spectra)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(HarmonicBands, TheFirstNHarmonicsAsWideAsTheBandUpToTheTopBinEachBinOnce)
{
    Spectrogram s;
    s.binCount = 1025;  // top bin 1024
    struct Case {
        const char* name;
        int lo, hi, harmonics;
        std::vector<BinRange> bands;
    };
    const Case cases[] = {
        {"apart, centred on the multiples", 300, 310, 8, {{300, 310}, {605, 615}, {910, 920}}},
        {"ends in either order", 310, 300, 8, {{300, 310}, {605, 615}, {910, 920}}},
        {"the last cut at the top", 335, 345, 8, {{335, 345}, {675, 685}, {1015, 1024}}},
        {"N of them", 10, 12, 3, {{10, 12}, {21, 23}, {32, 34}, {43, 45}}},
        {"one", 10, 12, 1, {{10, 12}, {21, 23}}},
        {"none", 10, 12, 0, {{10, 12}}},
        {"even width: the upper middle", 10, 11, 2, {{10, 11}, {21, 22}, {31, 32}}},
        {"overlapping bands merged, the treble left", 10, 30, 8, {{10, 190}}},
        {"the most harmonics", 1, 1, kMaxHarmonics, {{1, kMaxHarmonics + 1}}},
        {"from DC", 0, 5, 8, {{0, 25}}},
        {"DC alone", 0, 0, 8, {{0, 0}}},
        {"past the top: limited", 1000, 5000, 8, {{1000, 1024}}},
        {"the top bin", 1024, 1024, 8, {{1024, 1024}}},
        {"below 0", -20, -1, 8, {}},
        {"above the top", 1025, 2000, 8, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bandBins(s, c.lo, c.hi, c.harmonics), c.bands) << c.name;
}

TEST(HarmonicEdit, OneEraseTakesAWhistleAndItsFirstHarmonicsAndLeavesTheToneAndTheTreble)
{
    for (int bits : {16, 8}) {
        SCOPED_TRACE(bits);
        const std::vector<double> sound = test::whistleWithTreble();
        Workspace ws = workspaceOf(sound, bits);
        ScriptedUi ui;
        const int n = 4096;
        auto s = analyse(ws, ui, regionOf(0, 0, ws.document.frameCount - 1), n, kFftWindowHanning);
        ASSERT_TRUE(s);
        // Eleven bins centred on 1 kHz; eight harmonics, up to 9 kHz.
        const int bin = static_cast<int>(std::lround(1000.0 * n / test::kRepairRate));
        ASSERT_TRUE(applyHarmonicEdit(*s, SpectralEdit::Erase, {0, s->spectrumCount - 1, bin - 5, bin + 5}, 8));
        const std::vector<double> before = samplesOf(ws.document);
        writeBackWhole(ws, ui, *s);
        const std::vector<double> after = samplesOf(ws.document);
        const auto change = [&](double hz) {
            const std::int64_t first = 11025, count = 16384;
            return test::decibels(test::toneAmplitude(after, first, count, hz) / test::toneAmplitude(before, first, count, hz));
        };
        for (int k = 1; k <= 9; ++k)
            EXPECT_LT(change(1000.0 * k), -30) << k << " kHz";
        EXPECT_NEAR(change(10000), 0, 1);
        EXPECT_NEAR(change(300), 0, 1);
        for (double hz : test::kTrebleTones)
            EXPECT_NEAR(change(hz), 0, 1) << hz << " Hz";
    }
}

TEST(HarmonicEdit, EveryEditActsOnceOnEachBandAndNowhereElse)
{
    Workspace ws;
    auto original = toneSpectrogram(ws, 12);
    ASSERT_TRUE(original);
    // Eight harmonics of bins 10 ... 30 reach every bin from 10 to the top (128); of 50 ... 52 there is
    // room for one.
    struct Rect {
        CellRect cells;
        std::vector<BinRange> bands;
    };
    const Rect overlapping{{4, 6, 10, 30}, {{10, 128}}}, apart{{4, 6, 50, 52}, {{50, 52}, {101, 103}}};
    const auto inBands = [](const Rect& r, int j, int b) {
        if (j < r.cells.frameLo || j > r.cells.frameHi)
            return false;
        return std::any_of(r.bands.begin(), r.bands.end(), [&](const BinRange& band) { return b >= band.lo && b <= band.hi; });
    };
    struct Case {
        SpectralEdit edit;
        double inside, outside;  // the factor on cells in the bands and elsewhere
    };
    for (const Rect& r : {overlapping, apart}) {
        for (const Case& c : {Case{SpectralEdit::Double, 2, 1}, Case{SpectralEdit::Halve, 0.5, 1},
                              Case{SpectralEdit::Erase, 0, 1}, Case{SpectralEdit::Keep, 1, 0}}) {
            Spectrogram s = *original;
            ASSERT_TRUE(applyHarmonicEdit(s, c.edit, r.cells, 8));
            for (int j = 0; j < s.spectrumCount; ++j)
                for (int b = 0; b < s.binCount; ++b) {
                    const double factor = inBands(r, j, b) ? c.inside : c.outside;
                    ASSERT_EQ(cellOf(s, j, b), cellOf(*original, j, b) * factor)
                        << "edit " << static_cast<int>(c.edit) << " band " << r.cells.binLo << " frame " << j << " bin " << b;
                }
        }
    }
}

TEST(SnapToPeak, MovesTheBandOntoTheStrongestBinNearItKeepingItsWidth)
{
    // A 1234.5 Hz tone at bin 39.5 of n = 256 (8000 Hz): its strongest bin is 39 or 40.
    Workspace ws;
    auto s = toneSpectrogram(ws, 12);
    ASSERT_TRUE(s);
    const auto peak = [&](int lo, int hi) {
        const auto r = snappedToPeak(*s, {3, 6, lo, hi});
        EXPECT_TRUE(r);
        return r ? std::pair(r->binLo, r->binHi) : std::pair(-1, -1);
    };
    double strongest = 0;
    int top = 0;
    for (int b = 0; b < s->binCount; ++b) {
        double sum = 0;
        for (int j = 3; j <= 6; ++j)
            sum += std::abs(cellOf(*s, j, b));
        if (sum > strongest) {
            strongest = sum;
            top = b;
        }
    }
    // Centred 30 Hz (about one bin of 31.25 Hz) or three bins off, a band of 5 bins is centred on the peak.
    EXPECT_EQ(peak(top - 3, top + 1), std::pair(top - 2, top + 2));
    EXPECT_EQ(peak(top + 1, top + 5), std::pair(top - 2, top + 2));
    // An even width keeps it; the centre is the lower middle.
    EXPECT_EQ(peak(top + 1, top + 4), std::pair(top - 1, top + 2));
    // More than three widths away the tone is not seen: the band goes onto a peak of its own noise,
    // never onto the tone's slope at the edge of the search (top + 21).
    const auto far = snappedToPeak(*s, {3, 6, top + 30, top + 32});
    ASSERT_TRUE(far);
    EXPECT_EQ(far->binHi - far->binLo, 2);
    EXPECT_GT(far->binLo, top + 20);
    // Frames kept, ends swapped, limited; bands near the ends stay inside.
    EXPECT_EQ(snappedToPeak(*s, {6, 3, top + 1, top - 3})->frameLo, 3);
    // A tone 9.6 bins (300 Hz) from the centre of a band of 5 bins: the band is centred on its bin.
    Workspace toneWs;
    auto away = toneSpectrogram(toneWs, 12, 3000, 1, 39.6 * 8000 / 256);
    ASSERT_TRUE(away);
    const auto found = snappedToPeak(*away, {3, 6, 28, 32});
    ASSERT_TRUE(found);
    EXPECT_EQ(std::pair(found->binLo, found->binHi), std::pair(38, 42));
    // Just beyond the search (8 ... 38 around bins 21 ... 25) the tone's main lobe makes bin 38 the
    // strongest of the search, but it is no peak: the band is not centred on it.
    const auto beyond = snappedToPeak(*away, {3, 6, 21, 25});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->binHi - beyond->binLo, 4);
    EXPECT_NE(beyond->binLo + 2, 38);
    Spectrogram silent = *s;
    std::fill(silent.spectra.begin(), silent.spectra.end(), 0.0f);
    EXPECT_EQ(snappedToPeak(silent, {3, 6, 60, 70})->binLo, 60);
    for (float& v : silent.spectra)
        v = 1.0f;
    silent.spectra[5 * 256 + 128] = 100.0f;  // Nyquist of frame 5
    const auto atTop = snappedToPeak(silent, {3, 6, 120, 127});
    EXPECT_EQ(std::pair(atTop->binLo, atTop->binHi), std::pair(121, 128));
    silent.spectra[5 * 256 + 128] = 1.0f;
    silent.spectra[5 * 256] = 100.0f;  // DC
    const auto atBottom = snappedToPeak(silent, {3, 6, 1, 8});
    EXPECT_EQ(std::pair(atBottom->binLo, atBottom->binHi), std::pair(0, 7));
}

} // namespace
} // namespace sonavik
