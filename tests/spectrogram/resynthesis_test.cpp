#include "spectrogram/resynthesis.h"

#include "dsp/fft.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectrogram_test_support.h"
#include "edit/spectral_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace sonavik {
namespace {

using test::analyse;
using test::channelSamples;
using test::regionOf;
using test::ScriptedUi;
using test::toneWorkspace;

// Writes s back with the options as the button presets them, then the given changes.
int writeBack(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<void(Settings&)>& options = {})
{
    return runResynthesis(ws, ui, s, [&] {
        openApplyDialog(ws.settings, ws.document.format.nChannels == 1);
        if (options)
            options(ws.settings);
        return true;
    });
}

TEST(Resynthesis, AnUneditedSpectrogramGivesBackItsSamples)
{
    for (int bits : {16, 8}) {
        for (int window = 0; window <= 4; ++window) {
            Workspace ws = test::workspaceWith(test::randomDocument(bits, 2, 3000, 17 + window));
            const SoundDocument before = ws.document.copyWithSamples();
            ScriptedUi ui;
            auto s = analyse(ws, ui, regionOf(1, 123, 2800), 256, window);
            ASSERT_TRUE(s);
            EXPECT_EQ(writeBack(ws, ui, *s), kWroteRight);
            EXPECT_TRUE(ui.messages.empty());
            const std::int64_t last = 123 + (s->spectrumCount + 1) * 128 - 1;
            int worst = 0;
            for (std::int64_t p = 0; p < 3000; ++p) {
                const int d = std::abs(test::sampleOf(ws.document, p, 1) - test::sampleOf(before, p, 1));
                if (p < 123 || p > last) {
                    ASSERT_EQ(d, 0) << "outside the analysed span at " << p;
                }
                worst = std::max(worst, d);
            }
            EXPECT_LE(worst, 1) << bits << " bits, window " << window;
            EXPECT_EQ(channelSamples(ws.document, 0), channelSamples(before, 0));
            EXPECT_EQ(ws.document.modified, 1);
            EXPECT_EQ(test::bytesOf(ws.undoStore), test::bytesOf(before));
        }
    }
}

// Magnitude of the tone at frequency f (hertz) in samples [first, first + 4096) of a channel, Hanning weighted.
double toneLevel(const SoundDocument& doc, int channel, std::int64_t first, double f)
{
    const int n = 4096;
    std::vector<double> x(n);
    for (int k = 0; k < n; ++k)
        x[k] = test::sampleOf(doc, first + k, channel) * fftWindowWeight(kFftWindowHanning, k, n);
    fftForward(n, x.data());
    const int b = static_cast<int>(std::lround(f * n / doc.format.nSamplesPerSec));
    double best = 0;
    for (int i = b - 1; i <= b + 1; ++i)
        best = std::max(best, std::hypot(x[i], i > 0 && i < n / 2 ? x[n - i] : 0.0));
    return best;
}

// Every vector path this processor runs gives the portable path's spectra, pictures (linear and
// logarithmic) and written samples to the bit: 8 and 16 bits, mono and the right of two channels, a
// frame size whose transform runs every kind of pass, spectra scaled so that most samples change.
TEST(Resynthesis, EveryPathGivesThePortableSpectraPicturesAndSamples)
{
    struct Result {
        std::vector<float> spectra, uncoloured;
        std::vector<unsigned char> linear, logarithmic, samples;
    };
    // n = 512 gives 151 frames of 257 bins, whole sixteens of both and some over; n = 8192 gives eight
    // frames, fewer than a sixteen.
    auto run = [](SimdPath path, int bits, int channels, int n) {
        useSimdPath(path);
        Result r;
        Workspace ws = test::workspaceWith(test::randomDocument(bits, channels, 40000, 5 + bits + channels));
        ScriptedUi ui;
        auto s = analyse(ws, ui, regionOf(channels - 1, 3, 39000), n, kFftWindowHanning);
        if (!s)
            return r;
        r.spectra.assign(s->spectra.begin(), s->spectra.end());
        r.linear.assign(s->colourBitmap.begin(), s->colourBitmap.end());
        // The command line's analysis, which colours nothing, writes its spectra its own way.
        auto bare =
            analyseSpectrogram(ui, ws.document, regionOf(channels - 1, 3, 39000), ws.settings, 0, nullptr, false);
        if (bare)
            r.uncoloured.assign(bare->spectra.begin(), bare->spectra.end());
        s->logDisplay = 1;
        colourSpectrogram(*s, colourFactorsOf(ws.settings));
        r.logarithmic.assign(s->colourBitmap.begin(), s->colourBitmap.end());
        for (float& v : s->spectra)
            v *= 0.75f;
        if (writeBack(ws, ui, *s, [](Settings& st) { st.applyUseAlpha = 0; }) == 0)
            return Result{};
        r.samples.assign(ws.document.samples.data(), ws.document.samples.data() + ws.document.samples.size());
        return r;
    };
    for (const int bits : {16, 8}) {
        for (const int channels : {1, 2}) {
            const int n = bits == 16 ? 512 : 8192;
            const Result portable = run(SimdPath::Portable, bits, channels, n);
            ASSERT_FALSE(portable.spectra.empty());
            for (const SimdPath path : {SimdPath::Avx2, SimdPath::Avx512}) {
                if (!simdPathRuns(path))
                    continue;
                SCOPED_TRACE(std::string(simdPathName(path)) + ", " + std::to_string(bits) + " bits, "
                             + std::to_string(channels) + " channels, n = " + std::to_string(n));
                const Result wide = run(path, bits, channels, n);
                EXPECT_TRUE(wide.spectra == portable.spectra);
                EXPECT_TRUE(wide.uncoloured == portable.spectra);
                EXPECT_TRUE(wide.linear == portable.linear);
                EXPECT_TRUE(wide.logarithmic == portable.logarithmic);
                EXPECT_TRUE(wide.samples == portable.samples);
            }
        }
    }
    fftUsePortableKernels(false);
}

// Spectra so small that their squares underflow in single precision, and factors that still make
// bytes of them: no wider path may work these out the fast way.
TEST(Resynthesis, EveryPathColoursTinySpectraWithHugeFactorsAsThePortableOne)
{
    Workspace ws = test::workspaceWith(test::randomDocument(16, 1, 20000, 7));
    ScriptedUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 19999), 512, kFftWindowHanning);
    ASSERT_TRUE(s);
    for (float& v : s->spectra)
        v *= 1e-28f;
    auto picture = [&](SimdPath path) {
        useSimdPath(path);
        colourSpectrogram(*s, ColourFactors{1e26, 5e26, 2e27});
        return std::vector<unsigned char>(s->colourBitmap.begin(), s->colourBitmap.end());
    };
    const std::vector<unsigned char> portable = picture(SimdPath::Portable);
    EXPECT_GT(std::count_if(portable.begin(), portable.end(), [](unsigned char v) { return v > 0 && v < 255; }), 1000);
    for (const SimdPath path : {SimdPath::Avx2, SimdPath::Avx512}) {
        if (simdPathRuns(path)) {
            EXPECT_TRUE(picture(path) == portable) << simdPathName(path);
        }
    }
    fftUsePortableKernels(false);
}

TEST(Resynthesis, AnErasedBandIsGoneAndTheRestStays)
{
    // 300 Hz and 2000 Hz at 8000 Hz; erase 1500 ... 2500 Hz in every frame.
    Workspace ws = toneWorkspace(16, 1, 16000, 6000, 300, 6000, 2000);
    ScriptedUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 15999), 512, kFftWindowHanning);
    ASSERT_TRUE(s);
    const double hzPerBin = 8000.0 / 512;
    applySpectralEdit(*s, SpectralEdit::Erase,
                      {0, s->spectrumCount - 1, static_cast<int>(1500 / hzPerBin), static_cast<int>(2500 / hzPerBin)});
    const int first = test::sampleOf(ws.document, 0, 0);
    const double low = toneLevel(ws.document, 0, 6000, 300);
    const double high = toneLevel(ws.document, 0, 6000, 2000);
    writeBack(ws, ui, *s);
    EXPECT_NEAR(toneLevel(ws.document, 0, 6000, 300), low, low * 0.01);
    EXPECT_LT(toneLevel(ws.document, 0, 6000, 2000), high * 0.001);
    // The first half frame fades in from the sound that was there: its first sample is the old one.
    EXPECT_EQ(test::sampleOf(ws.document, 0, 0), first);
}

TEST(Resynthesis, AlphaChoosesWhereTheSoundIsWritten)
{
    // Spectra of silence written over a tone: a written sample becomes 0, a kept one keeps the tone.
    struct Case {
        const char* name;
        bool useAlpha;
        bool missingFull;
        bool blue;
        bool green;
        std::vector<std::pair<std::int64_t, bool>> written;  // position, whether it was overwritten
    };
    // Blue selection 1000 ... 1999 at alpha 1, green 3000 ... 3999 at alpha 1.
    const Case cases[] = {
        {"alpha off", false, false, false, false, {{500, true}, {1500, true}, {2500, true}, {3500, true}}},
        {"blue only", true, false, true, false, {{500, false}, {1500, true}, {2500, false}, {3500, false}}},
        {"green only", true, false, false, true, {{500, false}, {1500, false}, {2500, false}, {3500, true}}},
        {"both", true, false, true, true, {{500, false}, {1500, true}, {2500, false}, {3500, true}}},
        {"green, missing as full", true, true, false, true, {{500, true}, {1500, false}, {2500, true}, {3500, true}}},
    };
    for (const Case& c : cases) {
        Workspace ws = toneWorkspace(16, 1, 6000, 8000, 440);
        ws.document.leftSelections[0] = test::selection(SelectionKind::Blue, 1000, 1999);
        ws.document.leftSelections[1] = test::selection(SelectionKind::Green, 3000, 3999);
        Workspace silence = test::workspaceWith(test::makeDocument(16, 1, 6000, [](std::int64_t, int) { return 0; }));
        ScriptedUi ui;
        auto s = analyse(silence, ui, regionOf(0, 0, 5999), 64);
        ASSERT_TRUE(s);
        const SoundDocument before = ws.document.copyWithSamples();
        writeBack(ws, ui, *s, [&](Settings& st) {
            st.applyUseAlpha = c.useAlpha;
            st.applyTreatMissingAlphaAsFull = c.missingFull;
            st.applyBlue = c.blue;
            st.applyGreen = c.green;
        });
        for (const auto& [p, overwritten] : c.written) {
            for (std::int64_t q = p; q < p + 50; ++q) {
                const int want = overwritten ? 0 : test::sampleOf(before, q, 0);
                ASSERT_EQ(test::sampleOf(ws.document, q, 0), want) << c.name << " at " << q;
            }
        }
        EXPECT_EQ(ws.document.modified, 1) << c.name;
    }
}

TEST(Resynthesis, NoAlphaAnywhereChangesNothingButMarksTheSoundModified)
{
    Workspace ws = toneWorkspace(16, 2, 2000, 8000, 440);
    const auto before = test::bytesOf(ws.document);
    ScriptedUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 1999), 64);
    applySpectralEdit(*s, SpectralEdit::Erase, {0, s->spectrumCount - 1, 0, 32});
    EXPECT_EQ(writeBack(ws, ui, *s, [](Settings& st) { setApplyUseAlpha(st, true); }), kWroteLeft);
    EXPECT_EQ(test::bytesOf(ws.document), before);
    EXPECT_EQ(ws.document.modified, 1);
}

TEST(Resynthesis, DestinationChannelAndPosition)
{
    // The left channel's spectrogram of frames 0 ... 1055 (F = 32, n = 64) into the right channel,
    // and from frame 1000.
    Workspace ws = toneWorkspace(16, 2, 4000, 8000, 440, 3000, 1000);
    ScriptedUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 1055), 64);
    ASSERT_TRUE(s);
    const SoundDocument before = ws.document.copyWithSamples();
    EXPECT_EQ(writeBack(ws, ui, *s, [](Settings& st) {
                  setApplyRight(st, true);
                  setApplyLeft(st, false);
                  setApplyNewPosition(st, true);
                  st.applyStart = 1000;
              }),
              kWroteRight);
    EXPECT_EQ(channelSamples(ws.document, 0), channelSamples(before, 0));
    for (std::int64_t p = 0; p < 4000; ++p) {
        const int now = test::sampleOf(ws.document, p, 1);
        if (p < 1000 || p >= 1000 + 33 * 32) {
            ASSERT_EQ(now, test::sampleOf(before, p, 1)) << p;
        } else if (p >= 1032 && p < 1000 + 32 * 32) {  // away from the crossfades at both ends: left from frame p - 1000
            ASSERT_NEAR(now, test::sampleOf(before, p - 1000, 0), 1) << p;
        }
    }
}

TEST(Resynthesis, ResultsAreLimitedToTheSampleRange)
{
    for (int bits : {16, 8}) {
        const int peak = bits == 16 ? 30000 : 120;
        Workspace ws = test::workspaceWith(test::makeDocument(bits, 1, 1000, [&](std::int64_t p, int) {
            return static_cast<int>(std::lround(peak * std::sin(p * 0.3))) + (bits == 8 ? 128 : 0);
        }));
        ScriptedUi ui;
        auto s = analyse(ws, ui, regionOf(0, 0, 999), 32);
        ASSERT_TRUE(s);
        applySpectralEdit(*s, SpectralEdit::Double, {0, s->spectrumCount - 1, 0, 16});
        applySpectralEdit(*s, SpectralEdit::Double, {0, s->spectrumCount - 1, 0, 16});
        writeBack(ws, ui, *s);
        const std::vector<int> out = channelSamples(ws.document, 0);
        const int hi = bits == 16 ? 32767 : 255, lo = bits == 16 ? -32768 : 0;
        EXPECT_EQ(*std::max_element(out.begin() + 40, out.end() - 40), hi) << bits;
        EXPECT_EQ(*std::min_element(out.begin() + 40, out.end() - 40), lo) << bits;
    }
}

TEST(Resynthesis, RefusalsWriteNothing)
{
    struct Case {
        const char* name;
        int channels;
        std::int32_t frames;  // of the destination, after the analysis of 0 ... 299 (F = 17, n = 32: 288 frames written)
        std::function<void(Workspace&)> change;
        std::function<void(Settings&)> options;
        const char* message;
    };
    const Case cases[] = {
        {"closed", 2, 300, [](Workspace& ws) { ws.document.samples.reset(); }, {}, "適用先データがありません"},
        {"no channel", 2, 300, {}, [](Settings& st) { st.applyLeft = st.applyRight = 0; }, "適用先LRチャンネルが指定されていません"},
        {"right of mono", 1, 300, {}, [](Settings& st) { st.applyRight = 1; }, "適用先データ(right)がありません"},
        {"negative start", 2, 300, {}, [](Settings& st) { st.applyNewPosition = 1; st.applyStart = -1; }, "適用先の開始位置が不正です。"},
        {"shortened", 2, 287, {}, {}, "適用先データの長さが足りません。"},
        {"start too late", 2, 300, {}, [](Settings& st) { st.applyNewPosition = 1; st.applyStart = 13; }, "適用先データの長さが足りません。"},
        {"start near the top", 2, 300, {}, [](Settings& st) { st.applyNewPosition = 1; st.applyStart = INT_MAX; }, "適用先データの長さが足りません。"},
    };
    for (const Case& c : cases) {
        Workspace source = toneWorkspace(16, 2, 300, 8000, 440);
        ScriptedUi ui;
        auto s = analyse(source, ui, regionOf(0, 0, 299), 32);
        ASSERT_TRUE(s);
        // The sound that is there at the time of writing: replaced, shortened or made mono since.
        Workspace ws = toneWorkspace(16, c.channels, c.frames, 100, 50);
        if (c.change)
            c.change(ws);
        const SoundDocument before = ws.document.copyWithSamples();
        presetApplyOptions(ws.settings, *s);
        if (c.options)
            c.options(ws.settings);
        EXPECT_EQ(resynthesizeSpectrogram(ws, ui, *s), 0) << c.name;
        EXPECT_EQ(ui.texts(), std::vector<std::string>{c.message}) << c.name;
        if (ws.document.hasData()) {
            EXPECT_EQ(test::bytesOf(ws.document), test::bytesOf(before)) << c.name;
        }
    }
}

TEST(Resynthesis, ShowsItsProgressPerChannel)
{
    Workspace ws = toneWorkspace(16, 2, 2000, 8000, 440);
    test::ProgressUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 1999), 64);
    ASSERT_TRUE(s);
    writeBack(ws, ui, *s, [](Settings& st) { st.applyRight = 1; });
    ASSERT_FALSE(ui.progress.empty());
    EXPECT_EQ(ui.progress.front(), "処理中： 左スペクトルを 逆FFT 中 0 ％");
    ASSERT_GE(ui.progress.size(), 2u);
    EXPECT_EQ(ui.progress[ui.progress.size() - 2], "処理中： 右スペクトルを 逆FFT 中 98 ％");
    // The last text says it is over rather than leaving a percentage below 100 standing.
    EXPECT_EQ(ui.progress.back(), "処理中： 逆FFT ( 完了 )");
}

TEST(Resynthesis, RefusedWhilePlayingAndCancelledByTheDialog)
{
    Workspace ws = toneWorkspace(16, 1, 500, 8000, 440);
    ScriptedUi ui;
    auto s = analyse(ws, ui, regionOf(0, 0, 499), 32);
    ws.playing = 1;
    bool asked = false;
    EXPECT_EQ(runResynthesis(ws, ui, *s, [&] { return asked = true; }), 0);
    EXPECT_FALSE(asked);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"再生／録音中は、ファイルを編集できません"});
    ws.playing = 0;
    ui.clear();
    EXPECT_EQ(runResynthesis(ws, ui, *s, [] { return false; }), 0);
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_TRUE(ws.undoStore.samples.isNull());
}

TEST(ApplyDialogRules, OpeningAndClickingKeepAChoiceOfColourAndChannel)
{
    Settings st;
    applyDefaultSettings(st);
    Spectrogram s;
    s.channel = 1;
    s.firstSample = 777;
    st.applyNewPosition = 1;
    st.applyTreatMissingAlphaAsFull = 1;
    presetApplyOptions(st, s);
    EXPECT_EQ(std::tuple(st.applyNewPosition, st.applyTreatMissingAlphaAsFull, st.applyStart, st.applyLeft, st.applyRight),
              std::tuple(0, 0, 777, 0, 1));

    struct Step {
        const char* name;
        std::function<void(Settings&)> act;
        int useAlpha, green, blue, missingFull, left, right;
    };
    // From: alpha off, green and blue stored on (a file edited by hand), stereo, right chosen.
    const Step steps[] = {
        {"open", [](Settings& x) { openApplyDialog(x, false); }, 0, 0, 0, 0, 0, 1},
        {"alpha on", [](Settings& x) { setApplyUseAlpha(x, true); }, 1, 0, 1, 0, 0, 1},
        {"green on", [](Settings& x) { setApplyGreen(x, true); }, 1, 1, 1, 0, 0, 1},
        {"blue off", [](Settings& x) { setApplyBlue(x, false); }, 1, 1, 0, 0, 0, 1},
        {"green off forces blue", [](Settings& x) { setApplyGreen(x, false); }, 1, 0, 1, 0, 0, 1},
        {"blue off forces green", [](Settings& x) { setApplyBlue(x, false); }, 1, 1, 0, 0, 0, 1},
        {"missing as full", [](Settings& x) { setApplyMissingAlphaAsFull(x, true); }, 1, 1, 0, 1, 0, 1},
        {"alpha off clears colours", [](Settings& x) { setApplyUseAlpha(x, false); }, 0, 0, 0, 1, 0, 1},
        {"alpha on again: blue alone", [](Settings& x) { setApplyUseAlpha(x, true); }, 1, 0, 1, 1, 0, 1},
        {"right off forces left", [](Settings& x) { setApplyRight(x, false); }, 1, 0, 1, 1, 1, 0},
        {"right on", [](Settings& x) { setApplyRight(x, true); }, 1, 0, 1, 1, 1, 1},
        {"left off", [](Settings& x) { setApplyLeft(x, false); }, 1, 0, 1, 1, 0, 1},
        {"right off forces left again", [](Settings& x) { setApplyRight(x, false); }, 1, 0, 1, 1, 1, 0},
        {"left off forces right", [](Settings& x) { setApplyLeft(x, false); }, 1, 0, 1, 1, 0, 1},
        {"open for mono", [](Settings& x) { openApplyDialog(x, true); }, 1, 0, 1, 1, 1, 0},
    };
    st.applyUseAlpha = 0;
    st.applyGreen = st.applyBlue = 1;
    for (const Step& step : steps) {
        step.act(st);
        EXPECT_EQ(std::tuple(st.applyUseAlpha, st.applyGreen, st.applyBlue, st.applyTreatMissingAlphaAsFull,
                             st.applyLeft, st.applyRight),
                  std::tuple(step.useAlpha, step.green, step.blue, step.missingFull, step.left, step.right))
            << step.name;
    }
    const ApplyDialogEnables mono = applyDialogEnables(st, true);
    EXPECT_TRUE(mono.alphaChoices);
    EXPECT_FALSE(mono.channels);
    EXPECT_FALSE(mono.start);
    setApplyNewPosition(st, true);
    setApplyUseAlpha(st, false);
    const ApplyDialogEnables stereo = applyDialogEnables(st, false);
    EXPECT_FALSE(stereo.alphaChoices);
    EXPECT_TRUE(stereo.channels);
    EXPECT_TRUE(stereo.start);
}

TEST(ApplyDialogRules, TheStartFieldTakesWhole32BitNumbersOnly)
{
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"1000", 1000},      {" -25 ", -25},          {"+7", 7},         {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN}, {"2147483648", std::nullopt}, {"99999999999", std::nullopt},
        {"", std::nullopt},  {"12abc", std::nullopt},  {"abc", std::nullopt}, {"1.5", std::nullopt},
        {"+-3", std::nullopt}, {"--3", std::nullopt},  {"0x10", std::nullopt},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(parseApplyStart(text), want) << '"' << text << '"';

    Settings st;
    applyDefaultSettings(st);
    ScriptedUi ui;
    st.applyStart = 5;
    EXPECT_TRUE(acceptApplyDialog(ui, st, "junk"));  // the original position ignores the field
    EXPECT_EQ(st.applyStart, 5);
    st.applyNewPosition = 1;
    EXPECT_FALSE(acceptApplyDialog(ui, st, "4294967296"));
    EXPECT_EQ(st.applyStart, 5);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{kBadApplyStart});
    EXPECT_TRUE(acceptApplyDialog(ui, st, "1000"));
    EXPECT_EQ(st.applyStart, 1000);
}

} // namespace
} // namespace sonavik
