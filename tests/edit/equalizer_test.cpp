#include "edit/equalizer.h"

#include "curve/curve.h"
#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/spectral_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace sonavik {
namespace {

using test::ProgressUi;
using test::sampleOf;
using test::sineAt;

Workspace sineWorkspace(int bits, std::int32_t frames, double amplitude, double period, int offset = 0)
{
    const int centre = bits == 8 ? 128 : 0;
    return test::workspaceWith(test::makeDocument(bits, 1, frames, [&](std::int64_t p, int) {
        return centre + offset + sineAt(p, amplitude, period);
    }));
}

// Every point of the curve at one height, grey positions at unity gain.
void flatCurveAt(CurveData& curve, double y)
{
    test::setCurvePoint(curve, 0, 0.0, y, 0.0, 0.5);
    test::setCurvePoint(curve, 1, 1.0, y, 1.0, 0.5);
}

int signedSample(const SoundDocument& doc, std::int64_t p)
{
    return sampleOf(doc, p, 0) - (doc.format.wBitsPerSample == 8 ? 128 : 0);
}

TEST(Equalizer, FlatCurveLeavesTheSoundAsItWas)
{
    for (int bits : {8, 16})
        for (int gainLog : {0, 1})
            for (int frequencyLog : {0, 1})
                for (int window : {0, 1, 2, 3, 4}) {
                    SCOPED_TRACE(testing::Message() << bits << " bits, gain log " << gainLog << ", frequency log "
                                                    << frequencyLog << ", window " << window);
                    Workspace ws = test::workspaceWith(test::randomDocument(bits, 1, 10000, 3));
                    ws.settings.eqGainLog() = gainLog;
                    ws.settings.eqFrequencyLog() = frequencyLog;
                    ws.settings.eqWindow = window;
                    ws.settings.eqFftSize() = 1024;
                    const auto before = test::bytesOf(ws.document);
                    ProgressUi ui;
                    test::runRegionEdit(ws, ui, cmd::Equalize, test::wholeRegion(0, 0, 9999));
                    EXPECT_EQ(test::bytesOf(ws.document), before);
                    EXPECT_TRUE(ui.messages.empty());
                    EXPECT_TRUE(ui.beeps.empty());
                }
}

TEST(Equalizer, RegionShorterThanTheBlockIsLeftAlone)
{
    struct Case {
        const char* name;
        std::int32_t storedSize;
        std::int32_t start, end;
    };
    const Case cases[] = {
        {"one frame short of 4096", 4096, 100, 4194},
        {"damaged size taken as 2^30", INT_MAX, 0, 19999},
        {"one frame", 16, 7, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = sineWorkspace(16, 20000, 1000, 64);
        flatCurveAt(ws.settings.eq, 0.0);
        ws.settings.eqFftSize() = c.storedSize;
        const auto before = test::bytesOf(ws.document);
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Equalize, test::wholeRegion(0, c.start, c.end));
        EXPECT_EQ(test::bytesOf(ws.document), before);
        EXPECT_TRUE(ui.beeps.empty());
        EXPECT_EQ(ui.progress, (std::vector<std::string>{"処理中： イコライザ ( メモリ割り当て中 )", "処理中： イコライザ ( 完了 )"}));
    }
}

// 10000 frames in blocks of 4096 at a hop of 2048: blocks at 0, 2048 and 4096; frames 0…2047 fade in,
// 6144…8191 fade back out, 8192 on keep their values. Each case puts the whole curve at one edge; the
// DC offset passes unchanged whatever the gain.
TEST(Equalizer, GainAtTheEdgesBlockPositionsAndDirectCurrent)
{
    struct Case {
        const char* name;
        int bits;
        int gainLog;
        double y;
        double amplitude;
        int offset;
        double factor;
    };
    const Case cases[] = {
        {"log gain, top edge: +20 dB", 16, 1, 0.0, 1000, 0, 10.0},
        {"log gain, bottom edge: -20 dB", 16, 1, 1.0, 1000, 1000, 0.1},
        {"linear gain, top edge: x2", 16, 0, 0.0, 1000, -3000, 2.0},
        {"linear gain, bottom edge: only DC left", 16, 0, 1.0, 1000, 1000, 0.0},
        {"8 bits, log gain, top edge", 8, 1, 0.0, 10, 0, 10.0},
        {"8 bits, log gain, bottom edge", 8, 1, 1.0, 100, -20, 0.1},
    };
    for (const Case& c : cases)
        for (int frequencyLog : {0, 1}) {
            SCOPED_TRACE(testing::Message() << c.name << ", frequency log " << frequencyLog);
            Workspace ws = sineWorkspace(c.bits, 10000, c.amplitude, 64, c.offset);
            const SoundDocument original = ws.document.copyWithSamples();
            flatCurveAt(ws.settings.eq, c.y);
            ws.settings.eqGainLog() = c.gainLog;
            ws.settings.eqFrequencyLog() = frequencyLog;
            ProgressUi ui;
            test::runRegionEdit(ws, ui, cmd::Equalize, test::wholeRegion(0, 0, 9999));

            EXPECT_EQ(signedSample(ws.document, 0), signedSample(original, 0));
            for (std::int64_t p = 2048; p <= 6144; ++p)
                ASSERT_NEAR(signedSample(ws.document, p), c.offset + c.factor * sineAt(p, c.amplitude, 64), 1.0) << p;
            // Half way through the fade back: between the two levels.
            const std::int64_t fading = 7168 + 16;  // a crest of the sine
            const int mid = signedSample(ws.document, fading) - c.offset;
            EXPECT_GT(std::abs(mid - c.amplitude), 1);
            EXPECT_GT(std::abs(mid - c.factor * c.amplitude), 1);
            for (std::int64_t p = 8191; p < 10000; ++p)
                ASSERT_EQ(sampleOf(ws.document, p, 0), sampleOf(original, p, 0)) << "frame " << p;
        }
}

// Two tones, bins 16 and 512 of a 4096-frame block, under a sloping curve: the gain of each is the
// curve at u = i - 1 on the linear frequency axis and at (n - 1) ln i / ln n on the logarithmic one.
TEST(Equalizer, FrequencyAxisPicksTheCurveIndex)
{
    for (int frequencyLog : {0, 1}) {
        SCOPED_TRACE(frequencyLog);
        Workspace ws = test::workspaceWith(test::makeDocument(16, 1, 16384, [](std::int64_t p, int) {
            return sineAt(p, 1000, 256) + sineAt(p, 1000, 8);
        }));
        CurveData& curve = ws.settings.eq;
        test::setCurvePoint(curve, 0, 0.0, 0.9, 0.0, 0.9);
        test::setCurvePoint(curve, 1, 0.5, 0.5, 0.5, 0.5);
        test::setCurvePoint(curve, 2, 1.0, 0.1, 1.0, 0.1);
        ws.settings.eqFrequencyLog() = frequencyLog;
        const int n = 2048;
        std::vector<double> y(n);
        ProgressUi ui;
        ASSERT_TRUE(sampleCurve(ui, curve, 1.0, y.data(), n));
        auto gainOfBin = [&](int i) {
            const int u = frequencyLog ? static_cast<int>(std::floor((n - 1) * std::log(i) / std::log(n) + 0.5)) : i - 1;
            return std::pow(10.0, 1.0 - 2.0 * y[u]);
        };
        const double low = gainOfBin(16), high = gainOfBin(512);
        // The rounding noise of the two tones lies in other bins with other gains: a few units.
        ASSERT_GT(std::abs(low - high), 0.1);
        test::runRegionEdit(ws, ui, cmd::Equalize, test::wholeRegion(0, 0, 16383));
        for (std::int64_t p = 2048; p < 12288; ++p)
            ASSERT_NEAR(sampleOf(ws.document, p, 0), low * sineAt(p, 1000, 256) + high * sineAt(p, 1000, 8), 4.0)
                << "frame " << p;
    }
}

// Alpha is the curve's degree at each block's centre: 0 gives the grey curve (here unity gain). Two steps,
// 0 up to frame 8191 and 1 from 8192: the block at 6144 has its centre at 8192 and takes the full gain,
// the one at 4096 (centre 6144) none.
TEST(Equalizer, AlphaAtTheBlockCentreMorphsFromTheGreyCurve)
{
    Workspace ws = sineWorkspace(16, 16384, 1000, 64);
    const SoundDocument original = ws.document.copyWithSamples();
    flatCurveAt(ws.settings.eq, 0.0);
    EditRegion r = test::wholeRegion(0, 0, 16383, 0.0, 1.0);
    r.shape = SelectionShape::Staircase;
    r.shapeParameter = 2.0;
    ProgressUi ui;
    test::runRegionEdit(ws, ui, cmd::Equalize, r);
    const int crest = 16;  // sin = 1 at p = 16 (mod 64)
    EXPECT_NEAR(sampleOf(ws.document, 4096 + crest, 0), sampleOf(original, 4096 + crest, 0), 1.0);
    // Half way through the cross-fade of the two: F of frame 1040 of the half-block is about 0.49.
    const double fade = (std::cos(std::numbers::pi * 1040 / 2047) + 1) / 2;
    EXPECT_NEAR(sampleOf(ws.document, 7168 + crest, 0), (10 * (1 - fade) + fade) * sampleOf(original, 7168 + crest, 0), 2.0);
    EXPECT_NEAR(sampleOf(ws.document, 9216 + crest, 0), 10.0 * sampleOf(original, 9216 + crest, 0), 1.0);
}

TEST(Equalizer, ProgressTextsAndOnlyTheTargetChannelChanges)
{
    Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 10000, 9));
    flatCurveAt(ws.settings.eq, 0.2);
    const auto left = test::channelSamples(ws.document, 0);
    const auto right = test::channelSamples(ws.document, 1);
    ProgressUi ui;
    test::runRegionEdit(ws, ui, cmd::Equalize, test::wholeRegion(1, 0, 9999));
    auto block = [](int percent) { return "処理中： イコライザ ( データを FFT 中 " + std::to_string(percent) + " ％ )"; };
    // (q - s) x 100 / (e - s), then with a quarter block more, for q = 0, 2048, 4096 and e - s = 9999.
    EXPECT_EQ(ui.progress, (std::vector<std::string>{"処理中： イコライザ ( メモリ割り当て中 )", block(0), block(10),
                                                     block(20), block(30), block(40), block(51),
                                                     "処理中： イコライザ ( 完了 )"}));
    EXPECT_EQ(test::channelSamples(ws.document, 0), left);
    EXPECT_NE(test::channelSamples(ws.document, 1), right);
}

TEST(EqualizerDialogRules, FftSizeExponent)
{
    const std::pair<std::int32_t, int> cases[] = {
        {4096, 12}, {16, 4},   {15, 4},       {0, 4},         {-5, 4},  {INT_MIN, 4}, {1 << 30, 30},
        {INT_MAX, 30}, {3000, 12}, {5000, 12}, {6000, 13},   {23, 5},  {22, 4},
    };
    for (const auto& [size, k] : cases)
        EXPECT_EQ(equalizerFftExponent(size), k) << size;
}

TEST(EqualizerDialogRules, OpeningRepairsTheSettings)
{
    struct Case {
        std::int32_t gainLog, frequencyLog, window, size;
        std::int32_t gainLogAfter, frequencyLogAfter, windowAfter, sizeAfter;
    };
    const Case cases[] = {
        {1, 1, 3, 4096, 1, 1, 3, 4096},
        {0, 0, 0, 16, 0, 0, 0, 16},
        {2, -1, 4, 3000, 0, 0, 4, 4096},
        {7, 1, 5, 1 << 30, 0, 1, 0, 1 << 30},
        {1, 9, -1, -100, 1, 0, 0, 16},
    };
    for (const Case& c : cases) {
        Settings s;
        applyDefaultSettings(s);
        s.eqGainLog() = c.gainLog;
        s.eqFrequencyLog() = c.frequencyLog;
        s.eqWindow = c.window;
        s.eqFftSize() = c.size;
        s.eq.displayKind = 0;
        const int k = prepareEqualizerSettings(s);
        EXPECT_EQ(s.eqGainLog(), c.gainLogAfter);
        EXPECT_EQ(s.eqFrequencyLog(), c.frequencyLogAfter);
        EXPECT_EQ(s.eqWindow, c.windowAfter);
        EXPECT_EQ(s.eqFftSize(), c.sizeAfter);
        EXPECT_EQ(1 << k, c.sizeAfter);
        EXPECT_EQ(s.eq.displayKind, 1);
    }
}

TEST(EqualizerDialogRules, SizeTextRecommendsByRate)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {44100, "size= 4096 ( 推奨値は 8192 )"}, {50000, "size= 4096 ( 推奨値は 8192 )"},
        {30000, "size= 4096 ( 推奨値は 4096 )"}, {15000, "size= 4096 ( 推奨値は 2048 )"},
        {7501, "size= 4096 ( 推奨値は 2048 )"},  {7500, "size= 4096 ( 推奨値は 1024 )"},
        {3500, "size= 4096"},                    {50001, "size= 4096"},
    };
    for (const auto& [rate, text] : cases)
        EXPECT_EQ(equalizerSizeText(4096, rate), text) << rate;
}

} // namespace
} // namespace sonavik
