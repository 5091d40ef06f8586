#include "spectrogram/spectrogram_analysis.h"

#include "dsp/fft.h"
#include "edit/command_ids.h"
#include "spectrogram/analysis_collector.h"
#include "spectrogram/spectrogram_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <random>
#include <cmath>
#include <vector>

namespace sonavik {
namespace {

using test::analyse;
using test::regionOf;
using test::ScriptedUi;
using test::toneWorkspace;

TEST(SpectrogramAnalysis, FrameCountAndTitleFollowTheRegionLength)
{
    struct Case {
        std::int32_t start;
        std::int32_t length;
        int channel;
        std::int32_t selectionNumber;
        std::int32_t frames;
        const char* title;
    };
    // n = 64, hop 32: exactly n gives one frame, n + n/2 - 1 still one, n + n/2 two.
    const Case cases[] = {
        {0, 64, 0, -1, 1, "[ L ] 0 ～ 63 ＝ ( 64 ÷ 2 ) × ( 1 ＋ 1 )"},
        {10, 95, 0, -1, 1, "[ L ] 10 ～ 73 ＝ ( 64 ÷ 2 ) × ( 1 ＋ 1 )"},
        {10, 96, 1, -1, 2, "[ R ] 10 ～ 105 ＝ ( 64 ÷ 2 ) × ( 2 ＋ 1 )"},
        {5, 1000, 1, 6, 30, "[ R 7 ] 5 ～ 996 ＝ ( 64 ÷ 2 ) × ( 30 ＋ 1 )"},
        {0, 1000, 0, 0, 30, "[ L 1 ] 0 ～ 991 ＝ ( 64 ÷ 2 ) × ( 30 ＋ 1 )"},
    };
    Workspace ws = toneWorkspace(16, 2, 2000, 1000, 440);
    for (const Case& c : cases) {
        ScriptedUi ui;
        EditRegion r = regionOf(c.channel, c.start, c.start + c.length - 1);
        r.selectionNumber = c.selectionNumber;
        auto s = analyse(ws, ui, r, 64);
        ASSERT_TRUE(s) << c.title;
        EXPECT_EQ(s->spectrumCount, c.frames) << c.title;
        EXPECT_EQ(s->binCount, 33);
        EXPECT_EQ(s->spectra.size(), static_cast<std::size_t>(c.frames) * 64);
        EXPECT_EQ(s->colourBitmap.size(), Spectrogram::bitmapStrideOf(c.frames) * 33);
        // Each row's padding is zeros, as the picture files need it.
        for (std::size_t row = 0; row < 33; ++row)
            for (std::size_t at = 3 * c.frames; at < s->bitmapStride(); ++at)
                ASSERT_EQ(s->colourBitmap[row * s->bitmapStride() + at], 0) << c.title;
        EXPECT_EQ(spectrogramTitle(*s), c.title);
        EXPECT_TRUE(ui.messages.empty());
    }
}

// Runs body on every path of kernels this machine runs.
template <typename Body>
void withEachKernelSet(Body body)
{
    for (const SimdPath path : {SimdPath::Avx512, SimdPath::Avx2, SimdPath::Portable}) {
        if (!simdPathRuns(path))
            continue;
        useSimdPath(path);
        SCOPED_TRACE(simdPathName(path));
        body();
    }
    fftUsePortableKernels(false);
}

TEST(SpectrogramAnalysis, FrameSpectraAreTheFftOfTheChannelsSamples)
{
    // Mono, and stereo with different channels; frames from sample 7 on, Hamming window.
    withEachKernelSet([] {
        for (const int channels : {1, 2}) {
            Workspace ws = test::workspaceWith(test::randomDocument(16, channels, 600, 11));
            for (int channel = 0; channel < channels; ++channel) {
                ScriptedUi ui;
                auto s = analyse(ws, ui, regionOf(channel, 7, 400), 32, kFftWindowHamming);
                ASSERT_TRUE(s);
                EXPECT_EQ(s->windowType, kFftWindowHamming);
                for (int j : {0, 3, s->spectrumCount - 1}) {
                    std::vector<double> x(32);
                    for (int k = 0; k < 32; ++k)
                        x[k] = test::sampleOf(ws.document, 7 + j * 16 + k, channel)
                               * fftWindowWeight(kFftWindowHamming, k, 32);
                    fftForward(32, x.data());
                    for (int k = 0; k < 32; ++k)
                        ASSERT_EQ(s->spectra[j * 32 + k], static_cast<float>(x[k]))
                            << channels << " channels, channel " << channel << " frame " << j << " element " << k;
                }
            }
        }
    });
}

TEST(SpectrogramAnalysis, AlphaWeighsTheSamplesOfASelectionOnly)
{
    Workspace ws = test::workspaceWith(test::randomDocument(16, 1, 300, 5));
    ScriptedUi ui;
    ws.settings.fftApplyAlpha = 1;
    // A whole channel (levels 1 and 1) gives what no alpha gives.
    auto weighed = analyse(ws, ui, regionOf(0, 0, 299), 16);
    ws.settings.fftApplyAlpha = 0;
    auto plain = analyse(ws, ui, regionOf(0, 0, 299), 16);
    ASSERT_TRUE(weighed && plain);
    EXPECT_EQ(weighed->spectra, plain->spectra);
    EXPECT_EQ(weighed->colourBitmap, plain->colourBitmap);

    // A selection rising from 0: the first sample of frame 0 counts nothing, the next ones more and more.
    EditRegion rising = regionOf(0, 20, 120);
    rising.alphaStart = 0.0;
    rising.alphaEnd = 1.0;
    ws.settings.fftApplyAlpha = 1;
    auto s = analyse(ws, ui, rising, 16);
    ASSERT_TRUE(s);
    Selection envelope{SelectionKind::Blue, 20, 120, 0.0, 1.0, SelectionShape::Linear, 1.0};
    std::vector<double> x(16);
    for (int k = 0; k < 16; ++k)
        x[k] = test::sampleOf(ws.document, 20 + 8 + k, 0) * alphaAt(envelope, 20 + 8 + k);
    fftForward(16, x.data());
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(s->spectra[16 + k], static_cast<float>(x[k]));
    EXPECT_EQ(alphaAt(envelope, 20), 0.0);
}

TEST(SpectrogramAnalysis, ThreadsShareTheFramesWithoutChangingAByte)
{
    // Spectra and picture from 1 thread against 2, 3 and 5, and the picture coloured in the analysis
    // against a colouring afterwards, in both modes. Hundreds of blocks of frames at n = 16; one frame per
    // block, coloured straight into the picture, at 2^19.
    struct Case {
        int bits;
        int channel;
        std::int32_t length;
        int n;
        int window;
        bool alpha;
    };
    const Case cases[] = {
        {16, 1, 40'000, 16, kFftWindowHanning, false},
        {8, 0, 9'000, 64, kFftWindowBlackman, true},
        {16, 0, 5 << 18, 1 << 19, kFftWindowHamming, false},
    };
    for (const Case& c : cases) {
        Workspace ws = test::workspaceWith(test::randomDocument(c.bits, 2, c.length, c.n));
        ws.settings.fftLength = c.n;
        ws.settings.fftWindow = c.window;
        ws.settings.fftApplyAlpha = c.alpha ? 1 : 0;
        EditRegion region = regionOf(c.channel, 3, c.length - 1);
        region.alphaStart = 0.2;
        region.alphaEnd = 0.9;
        ScriptedUi ui;
        const auto one = analyseSpectrogram(ui, ws.document, region, ws.settings, 1);
        ASSERT_TRUE(one) << "n " << c.n;
        ASSERT_GT(one->spectrumCount, 2);
        for (const int threads : {2, 3, 5}) {
            const auto several = analyseSpectrogram(ui, ws.document, region, ws.settings, threads);
            ASSERT_TRUE(several);
            EXPECT_TRUE(several->spectra == one->spectra) << "n " << c.n << " threads " << threads;
            EXPECT_TRUE(several->colourBitmap == one->colourBitmap) << "n " << c.n << " threads " << threads;
        }
        const ColourFactors factors = colourFactorsOf(ws.settings);
        Spectrogram again = *one;
        colourSpectrogram(again, factors, 3);
        EXPECT_TRUE(again.colourBitmap == one->colourBitmap) << "n " << c.n;
        again.logDisplay = 1;
        again.gain = 8.0;
        Spectrogram single = again;
        colourSpectrogram(single, factors, 1);
        colourSpectrogram(again, factors, 2);
        EXPECT_TRUE(again.colourBitmap == single.colourBitmap) << "n " << c.n;
        EXPECT_FALSE(single.colourBitmap == one->colourBitmap) << "n " << c.n;
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST(SpectrogramAnalysis, WindowTypeFourAnalysesLikeRectangular)
{
    Workspace ws = toneWorkspace(16, 1, 500, 3000, 700);
    ScriptedUi ui;
    auto four = analyse(ws, ui, regionOf(0, 0, 499), 64, kFftWindowExtendedRectangular);
    auto zero = analyse(ws, ui, regionOf(0, 0, 499), 64, kFftWindowRectangular);
    ASSERT_TRUE(four && zero);
    EXPECT_EQ(four->spectra, zero->spectra);
    EXPECT_EQ(four->windowType, kFftWindowExtendedRectangular);
}

TEST(SpectrogramAnalysis, EightBitSoundColoursLikeSixteenBitSoundOf256TimesTheValues)
{
    // The same waveform: 8-bit values v + 128, 16-bit values 256 v.
    auto wave = [](std::int64_t p) { return static_cast<int>(std::lround(100 * std::sin(p * 0.21) + 20 * std::sin(p * 1.3))); };
    Workspace eight = test::workspaceWith(test::makeDocument(8, 1, 800, [&](std::int64_t p, int) { return wave(p) + 128; }));
    Workspace sixteen = test::workspaceWith(test::makeDocument(16, 1, 800, [&](std::int64_t p, int) { return 256 * wave(p); }));
    for (int logDisplay : {0, 1}) {
        ScriptedUi ui;
        auto a = analyse(eight, ui, regionOf(0, 0, 799), 128, kFftWindowHanning);
        auto b = analyse(sixteen, ui, regionOf(0, 0, 799), 128, kFftWindowHanning);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->amplitudeScale, 256.0);
        EXPECT_EQ(b->amplitudeScale, 1.0);
        a->logDisplay = b->logDisplay = logDisplay;
        a->gain = b->gain = 4.0;
        colourSpectrogram(*a, colourFactorsOf(eight.settings));
        colourSpectrogram(*b, colourFactorsOf(sixteen.settings));
        EXPECT_EQ(a->colourBitmap, b->colourBitmap) << "log " << logDisplay;
        // Not all black: the comparison means something.
        EXPECT_GT(*std::max_element(b->colourBitmap.begin(), b->colourBitmap.end()), 0);
    }
}

TEST(SpectrogramAnalysis, SilenceIsBlackInBothModes)
{
    for (int bits : {8, 16}) {
        Workspace ws = test::workspaceWith(test::makeDocument(bits, 1, 300, [&](std::int64_t, int) { return bits == 8 ? 128 : 0; }));
        ScriptedUi ui;
        auto s = analyse(ws, ui, regionOf(0, 0, 299), 16);
        ASSERT_TRUE(s);
        for (int logDisplay : {0, 1}) {
            s->logDisplay = logDisplay;
            std::fill(s->colourBitmap.begin(), s->colourBitmap.end(), 7);
            colourSpectrogram(*s, colourFactorsOf(ws.settings));
            // Padding bytes are left alone; every pixel is black.
            for (int b = 0; b < s->binCount; ++b)
                for (int j = 0; j < s->spectrumCount; ++j)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(s->colourBitmap[b * s->bitmapStride() + 3 * j + c], 0) << bits << " bits, log " << logDisplay;
        }
    }
}

// The colour rules written out plainly for one power value.
std::array<int, 3> referenceColour(double power, double gain, double scale, bool logDisplay)
{
    const double cB = 0.1, cG = 0.3, cR = 1.0;
    const double ln2 = std::log(2.0);
    double v;
    if (logDisplay) {
        const double kG = 12.75 / (cG * ln2);
        const double d = 2 * std::log(scale) + 2 * std::log(gain) - 24 * ln2 * ln2;
        v = kG * (std::log(power) + d);
    } else {
        v = 0.005 * gain * scale * std::sqrt(power);
    }
    auto byte = [](double x) { return std::isfinite(x) ? static_cast<int>(std::clamp(std::trunc(x), 0.0, 255.0)) : 0; };
    return {byte(cB * v), byte(cG * v), byte(cR * v)};
}

TEST(SpectrogramColouring, PixelsFollowThePowerOfEachBin)
{
    // Hand-made spectra of three frames: bins 0 and n/2 are real, the others have both parts; magnitudes
    // from 0 to far past white, and values that are not numbers. The large sizes colour a few frames at a
    // time and, at 2^19, straight into the picture; every 7th bin and the top two are checked there.
    const float specials[] = {0.0f, 1.0f, -3.0f, 250.0f, 3000.0f, -40000.0f, 1e6f, 1e30f, -1e38f, NAN, INFINITY};
    withEachKernelSet([&] {
        for (const int n : {8, 64, 1 << 16, 1 << 19}) {
            Spectrogram s;
            s.fftSize = n;
            s.spectrumCount = 3;
            s.binCount = n / 2 + 1;
            std::mt19937 rng(n);
            for (int i = 0; i < 3 * n; ++i)
                s.spectra.push_back(i % 5 == 0 ? specials[rng() % std::size(specials)]
                                               : std::uniform_real_distribution<float>(-5e4f, 5e4f)(rng));
            s.colourBitmap.assign(Spectrogram::bitmapStrideOf(3) * s.binCount, 0);
            const Settings defaults = [] { Settings st; applyDefaultSettings(st); return st; }();
            struct Mode {
                double gain;
                int logDisplay;
            };
            for (const Mode m : {Mode{1.0, 0}, Mode{8.0, 0}, Mode{0.25, 0}, Mode{1.0, 1}, Mode{16.0, 1}}) {
                s.gain = m.gain;
                s.logDisplay = m.logDisplay;
                colourSpectrogram(s, colourFactorsOf(defaults));
                for (int j = 0; j < 3; ++j)
                    for (int b = 0; b < s.binCount; b += (n <= 64 || b + 9 >= s.binCount) ? 1 : 7) {
                        const double re = s.spectra[j * n + b];
                        const double im = b > 0 && b < n / 2 ? s.spectra[j * n + n - b] : 0.0;
                        const auto want = referenceColour(re * re + im * im, m.gain, 1.0, m.logDisplay);
                        const unsigned char* px = &s.colourBitmap[b * s.bitmapStride() + 3 * j];
                        ASSERT_EQ((std::array<int, 3>{px[0], px[1], px[2]}), want)
                            << "n " << n << " frame " << j << " bin " << b << " gain " << m.gain << " log " << m.logDisplay;
                    }
            }
        }
    });
}

TEST(SpectrogramColouring, ValuesThatAreNotNumbersGiveBlack)
{
    Spectrogram s;
    s.fftSize = 4;
    s.spectrumCount = 1;
    s.binCount = 3;
    s.spectra = {std::nanf(""), INFINITY, 0, 1};
    s.colourBitmap.assign(4 * 3, 9);
    colourSpectrogram(s, ColourFactors{});
    EXPECT_EQ(s.colourBitmap[0], 0);  // NaN at DC
    EXPECT_EQ(s.colourBitmap[4], 0);  // infinite power in bin 1
    EXPECT_EQ(s.colourBitmap[8], 0);  // inf at Nyquist
    s.logDisplay = 1;
    colourSpectrogram(s, ColourFactors{});
    EXPECT_EQ(s.colourBitmap[4 + 2], 0);  // ln of infinity is not finite either
}

TEST(FftSettingsRules, StoredValuesAreLimitedAsTheDialogLimitsThem)
{
    struct Case {
        std::int32_t length;
        std::int32_t window;
        std::int32_t wantLength;
        std::int32_t wantWindow;
        int exponent;
    };
    const Case cases[] = {
        {4096, 1, 4096, 1, 12}, {3000, 4, 4096, 4, 12}, {5, 5, 16, 0, 4},        {INT_MAX, -1, 1 << 30, 0, 30},
        {INT_MIN, 3, 16, 3, 4}, {2800, 0, 2048, 0, 11}, {1 << 30, 2, 1 << 30, 2, 30}, {17, 7, 16, 0, 4},
    };
    for (const Case& c : cases) {
        Settings st;
        applyDefaultSettings(st);
        st.fftLength = c.length;
        st.fftWindow = c.window;
        normaliseFftSettings(st);
        EXPECT_EQ(st.fftLength, c.wantLength) << c.length;
        EXPECT_EQ(st.fftWindow, c.wantWindow) << c.window;
        EXPECT_EQ(fftLengthExponent(st.fftLength), c.exponent) << c.length;
    }
    EXPECT_EQ(fftSettingsText(4096, 44100), "4096 0.0929 sec 10.7666 Hz");
    EXPECT_EQ(fftSettingsText(16, 8000), "16 0.0020 sec 500.0000 Hz");
}

TEST(SpectrogramAnalysis, RefusalsShowTheirMessageAndGiveNothing)
{
    struct Case {
        const char* name;
        std::function<void(Workspace&)> damage;
        EditRegion region;
        int n;
        const char* message;
    };
    const Case cases[] = {
        {"no samples", [](Workspace& ws) { ws.document.samples.reset(); }, regionOf(0, 0, 99), 16, "No data!"},
        {"no frames", [](Workspace& ws) { ws.document.frameCount = 0; }, regionOf(0, 0, 99), 16, "zero data!"},
        {"shorter than n", {}, regionOf(0, 10, 40), 32, "Not Enough!"},
        {"huge n on a short sound", {}, regionOf(0, 0, 199), 1 << 30, "Not Enough!"},
        {"past the end", {}, regionOf(0, 150, 200), 16, "選択領域が不正です"},
        {"right of mono", {}, regionOf(1, 0, 199), 16, "選択領域が不正です"},
        {"negative start", {}, regionOf(0, -5, 100), 16, "選択領域が不正です"},
    };
    for (const Case& c : cases) {
        Workspace ws = toneWorkspace(16, 1, 200, 1000, 300);
        if (c.damage)
            c.damage(ws);
        ScriptedUi ui;
        EXPECT_FALSE(analyse(ws, ui, c.region, c.n)) << c.name;
        ASSERT_EQ(ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(ui.messages[0].text, c.message) << c.name;
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error) << c.name;
    }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(SpectrogramAnalysis, AnAnalysisThatCannotGetItsMemoryIsRefused)
{
    // Ten million frames at n = 16 want about 115 MB of spectra and picture; the process may grow by 40 MB.
    Workspace ws = test::workspaceWith(test::makeDocument(16, 1, 10'000'000, [](std::int64_t, int) { return 0; }));
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    if (pages == 0)
        GTEST_SKIP() << "the size of the process is not known";
    rlimit saved{};
    getrlimit(RLIMIT_AS, &saved);
    rlimit tight = saved;
    tight.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (40u << 20);
    setrlimit(RLIMIT_AS, &tight);
    ScriptedUi ui;
    const bool analysed = analyse(ws, ui, regionOf(0, 0, 9'999'999), 16) != nullptr;
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_FALSE(analysed);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Mem Not Allo!"});
    // Once the memory is there again the same analysis runs.
    ui.clear();
    EXPECT_TRUE(analyse(ws, ui, regionOf(0, 0, 9'999'999), 16));
}
#endif

TEST(SpectrogramAnalysis, TheMenuCommandAnalysesEveryRegionOfTheTarget)
{
    // Both channels of a stereo sound, through the dispatcher: a failed region does not stop the next.
    Workspace ws = toneWorkspace(16, 2, 1000, 2000, 500);
    ws.settings.fftLength = 3000;  // as if stored by hand: limited to 4096 like the dialog does...
    ScriptedUi ui;
    AnalysisCollector host(ws, ui);
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Fft, 0, -1));
    EXPECT_EQ(ws.settings.fftLength, 4096);
    ASSERT_EQ(host.results.size(), 2u);
    EXPECT_FALSE(host.results[0] || host.results[1]);  // ...which is longer than the sound
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"Not Enough!", "Not Enough!"}));

    ws.settings.fftLength = 256;
    ws.document.rightSelections[0] = test::selection(SelectionKind::Green, 100, 300);
    ws.document.rightSelections[1] = test::selection(SelectionKind::Blue, 400, 999);
    ui.clear();
    host.results.clear();
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Fft, 9, -1));  // blue and green of the right
    ASSERT_EQ(host.results.size(), 2u);
    EXPECT_FALSE(host.results[0]);
    ASSERT_TRUE(host.results[1]);
    EXPECT_EQ(spectrogramTitle(*host.results[1]), "[ R 2 ] 400 ～ 911 ＝ ( 256 ÷ 2 ) × ( 3 ＋ 1 )");
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Not Enough!"});
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_TRUE(ws.undoStore.samples.isNull());
}

} // namespace
} // namespace sonavik
