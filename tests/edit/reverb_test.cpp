#include "edit/reverb.h"

#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/edit_dispatcher.h"
#include "edit/noise_generator.h"
#include "edit/edit_test_support.h"
#include "edit/spectral_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <tuple>

namespace sonavik {
namespace {

using test::ProgressUi;
using test::sampleOf;

// Each preset sets its curve (grey on edited, the rest inactive), k, ratio and 12 smoothing passes,
// then shortens and wets itself for slower sounds.
TEST(ReverbPresets, AdaptToTheSampleRate)
{
    struct Case {
        ReverbPreset preset;
        std::uint32_t rate;
        int k, ratio;
        const char* time;
        int points;
        double x0, y0;
    };
    const Case cases[] = {
        {ReverbPreset::Echo, 44100, 7, 10, "残響音の最大時間 5.9 秒", 9, 0, 1},
        {ReverbPreset::Echo, 33000, 7, 10, "残響音の最大時間 7.9 秒", 9, 0, 1},
        {ReverbPreset::LargeHall, 32999, 5, 47, "残響音の最大時間 2.0 秒", 4, 0.05, 0.6},
        {ReverbPreset::LargeHall, 22050, 5, 47, "残響音の最大時間 3.0 秒", 4, 0.05, 0.6},
        {ReverbPreset::LargeHall, 16000, 5, 47, "残響音の最大時間 4.1 秒", 4, 0.05, 0.6},
        {ReverbPreset::LargeHall, 11025, 4, 65, "残響音の最大時間 3.0 秒", 4, 0.05, 0.6},
        {ReverbPreset::Reset, 15999, 3, 75, "残響音の最大時間 1.0 秒", 2, 0, 1},
        {ReverbPreset::Bathroom, 44100, 5, 30, "残響音の最大時間 1.5 秒", 4, 0, 0},
        {ReverbPreset::Dream, 44100, 8, 80, "残響音の最大時間 11.9 秒", 4, 0, 0.4},
        {ReverbPreset::Studio, 22050, 2, 92, "残響音の最大時間 0.4 秒", 4, 0, 0.14},
        {ReverbPreset::Studio, 8000, 1, 95, "残響音の最大時間 0.5 秒", 4, 0, 0.14},
        {ReverbPreset::Studio, 0, 1, 95, "残響音の最大時間 0.1 秒", 4, 0, 0.14},  // no rate: 44100 Hz for the text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << reverbPresetText(c.preset) << " at " << c.rate);
        Settings s;
        applyDefaultSettings(s);
        s.reverbSmoothing() = 3;
        for (CurvePoint& p : s.reverb.points)
            p = {3, 0, 0.5, 0.5, 0.5, 0.5};
        applyReverbPreset(s, c.preset, c.rate);
        EXPECT_EQ(s.reverbTimeStep(), c.k);
        EXPECT_EQ(s.reverbRatio(), c.ratio);
        EXPECT_EQ(s.reverbSmoothing(), 12);
        EXPECT_EQ(reverbTimeText(s.reverbTimeStep(), c.rate), c.time);
        const CurvePoint& first = s.reverb.points[0];
        const CurvePoint& last = s.reverb.points[c.points - 1];
        EXPECT_EQ(std::tie(first.state, first.x, first.y, first.xGray, first.yGray), std::make_tuple(1, c.x0, c.y0, c.x0, c.y0));
        EXPECT_EQ(std::tie(last.state, last.x, last.y, last.xGray, last.yGray), std::make_tuple(1, 1.0, 1.0, 1.0, 1.0));
        for (int i = c.points; i < kCurvePoints; ++i)
            EXPECT_EQ(s.reverb.points[i].state, 0) << i;
    }
}

TEST(ReverbPresets, FoundByButtonTextOrAsciiName)
{
    const std::pair<const char*, std::optional<ReverbPreset>> cases[] = {
        {"リセット", ReverbPreset::Reset}, {"やまびこ", ReverbPreset::Echo}, {"スタジオ", ReverbPreset::Studio},
        {"hall", ReverbPreset::LargeHall}, {"bath", ReverbPreset::Bathroom}, {"dream", ReverbPreset::Dream},
        {"Echo", std::nullopt},            {"", std::nullopt},               {"ホール", std::nullopt},
    };
    for (const auto& [name, preset] : cases)
        EXPECT_EQ(findReverbPreset(name), preset) << name;

    Settings s;
    applyDefaultSettings(s);
    EXPECT_FALSE(applyReverbPreset(s, "cave", 44100));
    EXPECT_EQ(s.reverbTimeStep(), 5);
    EXPECT_TRUE(applyReverbPreset(s, "echo", 22050));
    EXPECT_EQ(s.reverbTimeStep(), 6);
    EXPECT_EQ(s.reverbRatio(), (10 + 100 - 45) / 2);
}

TEST(ReverbDialogRules, OpeningLimitsAndRatioText)
{
    Settings s;
    applyDefaultSettings(s);
    s.reverbTimeStep() = 99;
    s.reverbRatio() = -4;
    s.reverbSmoothing() = 0;
    s.reverb.displayKind = 1;
    prepareReverbSettings(s);
    EXPECT_EQ(s.reverbTimeStep(), 8);
    EXPECT_EQ(s.reverbRatio(), 0);
    EXPECT_EQ(s.reverbSmoothing(), 1);
    EXPECT_EQ(s.reverb.displayKind, 3);
    s.reverbTimeStep() = INT_MIN;
    s.reverbRatio() = 250;
    s.reverbSmoothing() = 17;
    prepareReverbSettings(s);
    EXPECT_EQ(s.reverbTimeStep(), 1);
    EXPECT_EQ(s.reverbRatio(), 100);
    EXPECT_EQ(s.reverbSmoothing(), 16);

    const std::pair<const char*, std::int32_t> texts[] = {
        {"30", 30}, {"0", 0}, {" 45abc", 45}, {"-5", -5}, {"+7", 7}, {"abc", 0}, {"", 0}, {"150", 150},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"１２", 0},
    };
    for (const auto& [text, value] : texts)
        EXPECT_EQ(parseRatioText(text), value) << text;
    EXPECT_EQ(reverbTimeText(8, 44100), "残響音の最大時間 11.9 秒");
    EXPECT_EQ(reverbTimeText(1, 8000), "残響音の最大時間 0.5 秒");
}

double highBandEnergy(const std::vector<double>& r, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t j = from + 1; j < to; ++j)
        sum += (r[j] - r[j - 1]) * (r[j] - r[j - 1]);
    return sum;
}

TEST(ReverbResponse, NoiseUnderTheEnvelopeSmoothedMoreTowardsTheEnd)
{
    const std::size_t n = 8192;
    Settings s;
    applyDefaultSettings(s);
    std::vector<double> r(2 * n, 7.0);

    applyReverbPreset(s, ReverbPreset::Reset, 44100);  // the curve on the bottom edge: silence
    synthesizeReverbResponse(s, r.data(), n);
    for (double v : r)
        ASSERT_EQ(v, 0.0);

    applyReverbPreset(s, ReverbPreset::Bathroom, 44100);
    for (int passes : {1, 16}) {
        s.reverbSmoothing() = passes;
        synthesizeReverbResponse(s, r.data(), n);
        for (std::size_t j = 0; j < n; ++j)
            ASSERT_LE(std::abs(r[j]), 1.0);
        for (std::size_t j = n; j < 2 * n; ++j)
            ASSERT_EQ(r[j], 0.0);
        double early = 0.0, late = 0.0;
        for (std::size_t j = 0; j < n / 4; ++j) {
            early += r[j] * r[j];
            late += r[n - 1 - j] * r[n - 1 - j];
        }
        EXPECT_GT(early, 20 * late) << passes;
    }
    // One pass against sixteen on a flat envelope: the passes blur the end far more than the start.
    s.reverbSmoothing() = 1;
    s.reverb.points[0].y = s.reverb.points[0].yGray = 0.0;
    test::setCurvePoint(s.reverb, 1, 1.0, 0.0, 1.0, 0.0);
    for (int i = 2; i < kCurvePoints; ++i)
        s.reverb.points[i] = CurvePoint{};
    std::srand(11);
    synthesizeReverbResponse(s, r.data(), n);
    const double oneStart = highBandEnergy(r, 1, 200), oneEnd = highBandEnergy(r, n - 200, n - 1);
    s.reverbSmoothing() = 16;
    std::srand(11);
    synthesizeReverbResponse(s, r.data(), n);
    const double manyStart = highBandEnergy(r, 1, 200), manyEnd = highBandEnergy(r, n - 200, n - 1);
    EXPECT_LT(manyEnd, oneEnd / 20);
    EXPECT_GT(oneEnd / manyEnd, 10 * (oneStart / manyStart));
    EXPECT_LT(manyEnd, manyStart / 100);
}

TEST(ReverbNoise, TheClassicGeneratorFromSeedOne)
{
    NoiseGenerator noise;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int value : expected)
        EXPECT_EQ(noise.next(), value);
    NoiseGenerator resumed(noise.state());
    NoiseGenerator straight;
    for (int i = 0; i < 10; ++i)
        straight.next();
    for (int i = 0; i < 100000; ++i) {
        const int v = straight.next();
        ASSERT_EQ(resumed.next(), v);
        ASSERT_TRUE(v >= 0 && v <= 32767);
    }
}

// The generator is never reseeded: the second reverb of a session goes on with the sequence (a
// different response), while a new session repeats the first.
TEST(ReverbNoise, ConsecutiveReverbsContinueOneSequence)
{
    struct Host : EditHost {
        bool askParameters(int) override { return true; }
    } host;
    auto reverbed = [&](Workspace& ws) {
        ProgressUi ui;
        EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Reverb, 1, -1)) << testing::PrintToString(ui.texts());
        return test::bytesOf(ws.document);
    };
    auto session = [] {
        Workspace ws = test::workspaceWith(test::randomDocument(16, 1, 3000, 8));
        applyReverbPreset(ws.settings, ReverbPreset::Bathroom, 44100);
        ws.settings.reverbTimeStep() = 1;
        return ws;
    };
    Workspace first = session();
    const auto once = reverbed(first);
    const std::uint32_t afterOne = first.reverbNoiseState;
    EXPECT_NE(afterOne, kNoiseSeed);
    swapWithUndoStore(first.document, first.undoStore);  // back to the dry sound
    EXPECT_NE(reverbed(first), once);

    Workspace second = session();
    EXPECT_EQ(reverbed(second), once);
    EXPECT_EQ(second.reverbNoiseState, afterOne);
}

// The block engine against the plain definition: 0.018 x the linear convolution with the response,
// mixed with the dry sound at a r.
TEST(Reverb, MatchesDirectConvolutionAcrossBlocks)
{
    struct Case {
        const char* name;
        int bits;
        int ratio;
        EditRegion region;
    };
    const Case cases[] = {
        {"wet only", 16, 100, test::wholeRegion(0, 0, 9999)},
        {"60 %, inner region", 16, 60, test::wholeRegion(0, 1500, 9998)},
        {"60 %, rising envelope", 16, 60, test::wholeRegion(0, 300, 8500, 0.0, 1.0)},
        {"8 bits, wet only", 8, 100, test::wholeRegion(0, 0, 9999)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = test::workspaceWith(test::randomDocument(c.bits, 1, 10000, 4));
        const SoundDocument original = ws.document.copyWithSamples();
        applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 8000);  // k = 4: N = 32768 > the region
        ws.settings.reverbTimeStep() = 1;                                // N = 4096: three blocks
        ws.settings.reverbRatio() = c.ratio;
        const std::size_t n = 4096;
        std::vector<double> h(2 * n);
        std::srand(5);
        synthesizeReverbResponse(ws.settings, h.data(), n);
        std::srand(5);
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Reverb, c.region);

        const bool eight = c.bits == 8;
        const EditRegion& r = c.region;
        std::vector<double> dry(10000);
        for (std::int64_t p = 0; p < 10000; ++p)
            dry[p] = sampleOf(original, p, 0) - (eight ? 128 : 0);
        const double ratio = c.ratio / 100.0;
        int worst = 0;
        for (std::int64_t p = r.start; p <= r.end; ++p) {
            double wet = 0.0;
            for (std::int64_t j = 0; j < static_cast<std::int64_t>(n) && p - j >= r.start; ++j)
                wet += h[j] * dry[p - j];
            wet *= 0.018;
            const double a = test::referenceAlpha(r, p);
            const int expected = test::referenceStore((1 - a * ratio) * dry[p] + wet * a * ratio, eight);
            worst = std::max(worst, std::abs(sampleOf(ws.document, p, 0) - expected));
        }
        EXPECT_LE(worst, 1);
        for (std::int64_t p = 0; p < 10000; ++p) {
            if (p < r.start || p > r.end) {
                ASSERT_EQ(sampleOf(ws.document, p, 0), sampleOf(original, p, 0)) << p;
            }
        }
        EXPECT_EQ(ws.document.frameCount, 10000);
    }
}

TEST(Reverb, RatioZeroKeepsAndSilentResponseAtFullRatioSilences)
{
    struct Case {
        const char* name;
        int bits;
        ReverbPreset preset;
        int ratio;
        bool silent;
    };
    const Case cases[] = {
        {"ratio 0, 8 bits", 8, ReverbPreset::Echo, 0, false},
        {"typed ratio below 0 counts as 0", 16, ReverbPreset::Studio, -40, false},
        {"silent response, typed ratio above 100", 16, ReverbPreset::Reset, 300, true},
        {"silent response, ratio 100, 8 bits", 8, ReverbPreset::Reset, 100, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = test::workspaceWith(test::randomDocument(c.bits, 2, 20000, 8));
        applyReverbPreset(ws.settings, c.preset, 11025);
        ws.settings.reverbRatio() = c.ratio;
        const auto before = test::bytesOf(ws.document);
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Reverb, test::wholeRegion(1, 0, 19999));
        if (c.silent) {
            for (std::int64_t p = 0; p < 20000; ++p)
                ASSERT_EQ(sampleOf(ws.document, p, 1), c.bits == 8 ? 128 : 0);
        } else {
            EXPECT_EQ(test::bytesOf(ws.document), before);
        }
        EXPECT_TRUE(ui.messages.empty());
    }
}

// A region of exactly two blocks runs a third, empty one; the progress shows each block twice.
TEST(Reverb, ProgressAndTheEmptyBlockAfterAWholeNumberOfBlocks)
{
    struct Case {
        std::int32_t frames;
        std::vector<int> percents;
    };
    const Case cases[] = {
        {8192, {0, 25, 50, 75, 100, 125}},
        {8191, {0, 25, 50, 75}},
        {1, {0, 204800}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        Workspace ws = test::workspaceWith(test::randomDocument(16, 1, c.frames, 2));
        ws.settings.reverbTimeStep() = 1;
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Reverb, test::wholeRegion(0, 0, c.frames - 1));
        std::vector<std::string> expected{"処理中： リバーブ ( メモリ割り当て中 )", "処理中： リバーブ ( 応答関数作成中 )",
                                          "処理中： リバーブ ( 応答関数 FFT 中 )"};
        for (int percent : c.percents)
            expected.push_back("処理中： リバーブ ( データを FFT 中 " + std::to_string(percent) + " ％ )");
        expected.push_back("処理中： リバーブ ( 完了 )");
        EXPECT_EQ(ui.progress, expected);
    }
}

TEST(Reverb, DamagedSettingsStayWithinLimits)
{
    EXPECT_EQ(reverbResponseLength(5), 65536);
    EXPECT_EQ(reverbResponseLength(1), 4096);
    EXPECT_EQ(reverbResponseLength(8), 524288);
    EXPECT_EQ(reverbResponseLength(INT_MAX), 524288);
    EXPECT_EQ(reverbResponseLength(-3), 4096);

    Workspace ws = test::workspaceWith(test::randomDocument(16, 1, 5000, 2));
    ws.settings.reverbTimeStep() = 40;
    ws.settings.reverbSmoothing() = INT_MAX;
    ws.settings.reverbRatio() = 50;
    ProgressUi ui;
    test::runRegionEdit(ws, ui, cmd::Reverb, test::wholeRegion(0, 0, 4999));
    EXPECT_EQ(ui.progress.back(), "処理中： リバーブ ( 完了 )");
    EXPECT_EQ(ui.progress[4], "処理中： リバーブ ( データを FFT 中 5242 ％ )");  // N = 524288
}

} // namespace
} // namespace sonavik
