#include "spectrogram/spectral_edits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace sonavik {
namespace {

// Four frames of n = 8 (bins 0 ... 4) whose elements are 1, 2, 3, ...
Spectrogram counting()
{
    Spectrogram s;
    s.fftSize = 8;
    s.spectrumCount = 4;
    s.binCount = 5;
    s.spectra.resize(32);
    std::iota(s.spectra.begin(), s.spectra.end(), 1.0f);
    return s;
}

// Which elements of a frame hold bin b: b, and n - b for the bins with an imaginary part.
bool holdsBin(int element, int b) { return element == b || (b > 0 && b < 4 && element == 8 - b); }

TEST(SpectralEdits, EachEditActsOnBothPartsOfTheChosenCells)
{
    struct Case {
        const char* name;
        SpectralEdit edit;
        CellRect rect;
        // Factor of element m of frame j, from the cell it belongs to.
        std::function<float(int j, int b)> factor;
    };
    const Case cases[] = {
        {"erase bin 0", SpectralEdit::Erase, {1, 2, 0, 0}, [](int j, int b) { return j >= 1 && j <= 2 && b == 0 ? 0.0f : 1.0f; }},
        {"erase Nyquist", SpectralEdit::Erase, {0, 3, 4, 4}, [](int, int b) { return b == 4 ? 0.0f : 1.0f; }},
        {"double 1..2", SpectralEdit::Double, {0, 0, 1, 2}, [](int j, int b) { return j == 0 && b >= 1 && b <= 2 ? 2.0f : 1.0f; }},
        {"halve reversed ends", SpectralEdit::Halve, {3, 2, 3, 1}, [](int j, int b) { return j >= 2 && b >= 1 && b <= 3 ? 0.5f : 1.0f; }},
        {"keep", SpectralEdit::Keep, {1, 2, 1, 3}, [](int j, int b) { return j >= 1 && j <= 2 && b >= 1 && b <= 3 ? 1.0f : 0.0f; }},
        {"keep beyond the edges", SpectralEdit::Keep, {-5, 1, 3, 99}, [](int j, int b) { return j <= 1 && b >= 3 ? 1.0f : 0.0f; }},
    };
    for (const Case& c : cases) {
        Spectrogram s = counting();
        applySpectralEdit(s, c.edit, c.rect);
        for (int j = 0; j < 4; ++j)
            for (int m = 0; m < 8; ++m) {
                int bin = m <= 4 ? m : 8 - m;
                ASSERT_TRUE(holdsBin(m, bin));
                EXPECT_EQ(s.spectra[j * 8 + m], static_cast<float>(j * 8 + m + 1) * c.factor(j, bin))
                    << c.name << ": frame " << j << " element " << m;
            }
    }
}

TEST(SpectralEdits, ClearingAlsoClearsValuesThatAreNotNumbers)
{
    Spectrogram s = counting();
    s.spectra[1] = NAN;
    s.spectra[7] = INFINITY;
    applySpectralEdit(s, SpectralEdit::Erase, {0, 0, 1, 1});
    EXPECT_EQ(s.spectra[1], 0.0f);
    EXPECT_EQ(s.spectra[7], 0.0f);
}

TEST(SpectralEdits, RectanglesAreLimitedToTheSpectrogram)
{
    const Spectrogram s = counting();
    struct Case {
        CellRect in;
        std::optional<CellRect> out;
    };
    const Case cases[] = {
        {{0, 3, 0, 4}, CellRect{0, 3, 0, 4}},
        {{-3, 10, -1, 7}, CellRect{0, 3, 0, 4}},
        {{3, 1, 4, 2}, CellRect{1, 3, 2, 4}},
        {{4, 9, 0, 4}, std::nullopt},
        {{-9, -1, 0, 4}, std::nullopt},
        {{0, 3, 5, 5}, std::nullopt},
        {{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}, CellRect{0, 3, 0, 4}},
    };
    for (const Case& c : cases) {
        const auto got = limitedRect(s, c.in);
        ASSERT_EQ(got.has_value(), c.out.has_value()) << c.in.frameLo << ' ' << c.in.frameHi;
        if (got) {
            EXPECT_EQ(std::tuple(got->frameLo, got->frameHi, got->binLo, got->binHi),
                      std::tuple(c.out->frameLo, c.out->frameHi, c.out->binLo, c.out->binHi));
        }
    }
    EXPECT_EQ(spectralEditOfCommand(40501), SpectralEdit::Erase);
    EXPECT_EQ(spectralEditOfCommand(40508), SpectralEdit::Keep);
    EXPECT_EQ(spectralEditOfCommand(40509), std::nullopt);
}

} // namespace
} // namespace sonavik
