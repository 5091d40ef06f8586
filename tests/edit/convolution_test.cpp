#include "edit/convolution.h"

#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/spectral_test_support.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

using test::Bytes;
using test::ProgressUi;
using test::sampleOf;

constexpr const char* kNotMono = " はモノラルではありません。\n現バージョンの Sonavik 2 は、ステレオのファイルに\n"
                                 "よる畳み込みをサポートしていません。バージョンアップを\nお待ち下さい。";

Bytes samples16(std::initializer_list<int> values, std::size_t total = 0)
{
    Bytes b;
    for (int v : values) {
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        b.push_back(static_cast<unsigned char>(u));
        b.push_back(static_cast<unsigned char>(u >> 8));
    }
    b.resize(std::max(b.size(), 2 * total), 0);
    return b;
}

// A workspace whose response is path (set as typed, not yet completed) in folder dir.
Workspace convolving(SoundDocument doc, const std::string& responsePath, const std::string& openDir)
{
    Workspace ws = test::workspaceWith(std::move(doc));
    setFieldText(ws.settings.responsePath, responsePath);
    setFieldText(ws.settings.openDir, openDir);
    return ws;
}

int dryValue(const SoundDocument& doc, std::int64_t p, int channel)
{
    return sampleOf(doc, p, channel) - (doc.format.wBitsPerSample == 8 ? 128 : 0);
}

TEST(Convolution, BlockLengthIsAPowerOfTwoFrom4096To524288)
{
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, 4096},        {1, 4096},         {4096, 4096},      {4097, 8192},   {5000, 8192},
        {65536, 65536},   {65537, 131072},   {262144, 262144}, {262145, 524288}, {524288, 524288},
        {524289, 524288}, {2147483647, 524288},
    };
    for (const auto& [frames, n] : cases)
        EXPECT_EQ(convolutionBlockLength(frames), n) << frames;
}

// A one-sample response v reproduces the region at 0.018 v of its amplitude, without delay.
TEST(Convolution, UnitImpulseGivesTheFixedInputScale)
{
    struct Case {
        const char* name;
        int documentBits;
        int responseBits;
        Bytes data;
        double value;
    };
    const Case cases[] = {
        {"16-bit response 32767 on 16 bits", 16, 16, samples16({32767}), 32767.0 / 32768.0},
        {"16-bit response 32767 on 8 bits", 8, 16, samples16({32767}), 32767.0 / 32768.0},
        {"8-bit response 255 on 16 bits", 16, 8, Bytes{255}, 127.0 / 128.0},
        {"8-bit response 0 on 16 bits", 16, 8, Bytes{0}, -1.0},
        {"16-bit response -32768, 99 zeros", 16, 16, samples16({-32768}, 100), -1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::writeBytes(dir.file("one.wav"), test::canonicalWav(1, 8000, c.responseBits, c.data));
        Workspace ws = convolving(test::randomDocument(c.documentBits, 2, 12000, 1), dir.file("one.wav"), "");
        const SoundDocument original = ws.document.copyWithSamples();
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Convolve, test::wholeRegion(0, 0, 11999));
        EXPECT_TRUE(ui.messages.empty());
        for (std::int64_t p = 0; p < 12000; ++p) {
            const double expected = 0.018 * c.value * dryValue(original, p, 0);
            ASSERT_NEAR(dryValue(ws.document, p, 0), expected, 0.5 + 1e-6) << p;
            ASSERT_EQ(sampleOf(ws.document, p, 1), sampleOf(original, p, 1));
        }
    }
}

// An empty data chunk is a silent response: the region fades to silence by its alpha.
TEST(Convolution, EmptyResponseSilencesByAlpha)
{
    struct Case {
        int bits;
        double alpha;
    };
    for (const Case& c : {Case{16, 1.0}, Case{16, 0.5}, Case{8, 1.0}, Case{8, 0.25}}) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, alpha " << c.alpha);
        test::TempDir dir;
        test::writeBytes(dir.file("empty.wav"), test::canonicalWav(1, 44100, 16, {}));
        Workspace ws = convolving(test::randomDocument(c.bits, 1, 5000, 2), dir.file("empty.wav"), "");
        const SoundDocument original = ws.document.copyWithSamples();
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Convolve, test::wholeRegion(0, 100, 4899, c.alpha, c.alpha));
        for (std::int64_t p = 0; p < 5000; ++p) {
            const int x = dryValue(original, p, 0);
            const bool inside = p >= 100 && p <= 4899;
            ASSERT_EQ(dryValue(ws.document, p, 0), inside ? test::referenceStore((1 - c.alpha) * x, false) : x) << p;
        }
        EXPECT_TRUE(ui.messages.empty());
    }
}

// The messages of every unusable response, in order; the region stays as it was.
TEST(Convolution, UnusableResponsesAreRefusedWithTheirMessages)
{
    test::TempDir dir;
    test::writeBytes(dir.file("stereo.wav"), test::rampWav16(2, 100));
    test::writeBytes(dir.file("text.wav"), test::text("not a sound at all"));
    test::writeBytes(dir.file("cut.wav"), test::text("RIFF"));
    const std::string folder = dir.file("folder.wav");
    test::writeBytes(dir.file("x"), {});
    std::string mkdir = "mkdir " + folder;
    ASSERT_EQ(std::system(mkdir.c_str()), 0);

    struct Case {
        const char* name;
        std::string responsePath;
        std::string openDir;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"missing file", dir.file("missing.wav"), "",
         {dir.file("missing.wav") + " はファイル名が不正です", "畳み込みに使うファイルが不正です"}},
        {"bare missing name, completed", "missing", dir.path(),
         {dir.file("missing.wav") + " はファイル名が不正です", "畳み込みに使うファイルが不正です"}},
        {"name too short", "ab", "", {"ab はファイル名が不正です", "畳み込みに使うファイルが不正です"}},
        {"a folder", folder, "", {folder + " はファイル名が不正です", "畳み込みに使うファイルが不正です"}},
        {"not WAV", dir.file("text.wav"), "",
         {"Wave Format ではありません", dir.file("text.wav") + " の読み込みに失敗しました",
          "畳み込みに使うファイルが不正です"}},
        {"header cut", dir.file("cut.wav"), "",
         {"ヘッダが切れています", dir.file("cut.wav") + " の読み込みに失敗しました", "畳み込みに使うファイルが不正です"}},
        {"stereo", dir.file("stereo.wav"), "", {dir.file("stereo.wav") + kNotMono, "応答関数の読み込みに失敗しました"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = convolving(test::randomDocument(16, 1, 3000, 3), c.responsePath, c.openDir);
        const auto before = test::bytesOf(ws.document);
        ProgressUi ui;
        test::runRegionEdit(ws, ui, cmd::Convolve, test::wholeRegion(0, 0, 2999));
        EXPECT_EQ(ui.texts(), c.messages);
        for (const MessageRequest& m : ui.messages) {
            EXPECT_EQ(m.icon, MessageIcon::Error);
            EXPECT_EQ(m.caption, "Sonavik 2");
        }
        EXPECT_EQ(test::bytesOf(ws.document), before);
        EXPECT_EQ(fieldText(ws.settings.responsePath), c.responsePath);
    }
}

// The file is read once, before any region: with two selections a missing file is reported once and
// the command refused, the sound untouched; a good file is found from a bare name.
TEST(Convolution, TheResponseIsReadOnceBeforeTheRegions)
{
    test::TempDir dir;
    Workspace ws = convolving(test::randomDocument(16, 1, 3000, 3), "gone", dir.path());
    ws.document.leftSelections[0] = test::selection(SelectionKind::Blue, 100, 199);
    ws.document.leftSelections[1] = test::selection(SelectionKind::Blue, 500, 599);
    struct Host : EditHost {
        bool askParameters(int) override { return true; }
    } host;
    ProgressUi ui;
    const auto before = test::bytesOf(ws.document);
    EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Convolve, 7, -1));
    const std::string bad = dir.file("gone.wav") + " はファイル名が不正です";
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{bad, "畳み込みに使うファイルが不正です"}));
    EXPECT_EQ(test::bytesOf(ws.document), before);

    test::writeBytes(dir.file("gone.wav"), test::canonicalWav(1, 44100, 16, samples16({16384})));
    ui.clear();
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Convolve, 7, -1));
    EXPECT_TRUE(ui.messages.empty());
    for (std::int64_t p : {150, 550})
        EXPECT_NEAR(sampleOf(ws.document, p, 0), 0.009 * sampleOf(ws.undoStore, p, 0), 0.5 + 1e-6);
    EXPECT_EQ(sampleOf(ws.document, 300, 0), sampleOf(ws.undoStore, 300, 0));
}

// A 5000-frame response runs blocks of 8192 frames (FFT length 16384): over 16384 frames the progress
// stands at 0, 25, 50, 75 % and the empty third block at 100 and 125 %.
TEST(Convolution, ResponseLengthSetsTheBlock)
{
    test::TempDir dir;
    test::writeBytes(dir.file("r.wav"), test::canonicalWav(1, 44100, 16, samples16({1000, -500}, 5000)));
    Workspace ws = convolving(test::randomDocument(16, 1, 16384, 3), dir.file("r.wav"), "");
    ProgressUi ui;
    test::runRegionEdit(ws, ui, cmd::Convolve, test::wholeRegion(0, 0, 16383));
    std::vector<std::string> expected{"処理中： リバーブ ( メモリ割り当て中 )", "処理中： リバーブ ( 応答関数作成中 )",
                                      "処理中： リバーブ ( 応答関数 FFT 中 )"};
    for (int percent : {0, 25, 50, 75, 100, 125})
        expected.push_back("処理中： リバーブ ( データを FFT 中 " + std::to_string(percent) + " ％ )");
    expected.push_back("処理中： リバーブ ( 完了 )");
    EXPECT_EQ(ui.progress, expected);
}

TEST(ResponseFile, ShortDataIsZeroFilledAndLongDataCut)
{
    test::TempDir dir;
    // The header promises 100 frames; 10 are there.
    Bytes ten = samples16({3, 1, 4, 1, 5, 9, 2, 6, 5, 3});
    test::writeBytes(dir.file("short.wav"),
                     test::riff({test::chunk("fmt ", test::fmtBody(1, 44100, 16)), test::chunk("data", ten, 200)}));
    // 524290 frames of 8 bits: 200 at the start, 60 at frame 524287, 250 beyond the cut.
    Bytes long8(524290, 128);
    long8[0] = 200;
    long8[524287] = 60;
    long8[524288] = long8[524289] = 250;
    test::writeBytes(dir.file("long.wav"), test::canonicalWav(1, 8000, 8, long8));

    ProgressUi ui;
    EXPECT_EQ(readResponseLength(ui, dir.file("short.wav"), ""), 100);
    std::vector<double> w(2 * 4096, 9.0);
    ASSERT_TRUE(readResponse(ui, w.data(), w.size(), "short", dir.path()));
    const double expected[] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3};
    for (int j = 0; j < 10; ++j)
        EXPECT_EQ(w[j], expected[j] / 32768.0);
    for (std::size_t j = 10; j < w.size(); ++j)
        ASSERT_EQ(w[j], 0.0) << j;

    EXPECT_EQ(readResponseLength(ui, dir.file("long.wav"), ""), 524290);
    std::vector<double> big(2 * 524288, 9.0);
    ASSERT_TRUE(readResponse(ui, big.data(), big.size(), dir.file("long.wav"), ""));
    EXPECT_EQ(big[0], 72.0 / 128.0);
    EXPECT_EQ(big[1], 0.0);
    EXPECT_EQ(big[524287], -68.0 / 128.0);
    for (std::size_t j = 524288; j < big.size(); ++j)
        ASSERT_EQ(big[j], 0.0) << j;
    EXPECT_TRUE(ui.messages.empty());

    // A short file convolves as the same response written out in full.
    test::writeBytes(dir.file("full.wav"), test::canonicalWav(1, 44100, 16, samples16({3, 1, 4, 1, 5, 9, 2, 6, 5, 3}, 100)));
    Workspace a = convolving(test::randomDocument(16, 1, 6000, 7), dir.file("short.wav"), "");
    Workspace b = convolving(test::randomDocument(16, 1, 6000, 7), dir.file("full.wav"), "");
    test::runRegionEdit(a, ui, cmd::Convolve, test::wholeRegion(0, 0, 5999));
    test::runRegionEdit(b, ui, cmd::Convolve, test::wholeRegion(0, 0, 5999));
    EXPECT_EQ(test::bytesOf(a.document), test::bytesOf(b.document));
    EXPECT_TRUE(ui.messages.empty());
}

// The reverberation past the last frame is dropped: the sound keeps its length.
TEST(Convolution, RegionAtTheEndKeepsTheLength)
{
    test::TempDir dir;
    test::writeBytes(dir.file("r.wav"), test::canonicalWav(1, 44100, 16, samples16({0, 0, 0, 30000}, 3000)));
    Workspace ws = convolving(test::randomDocument(8, 2, 7000, 3), dir.file("r.wav"), "");
    const SoundDocument original = ws.document.copyWithSamples();
    ProgressUi ui;
    test::runRegionEdit(ws, ui, cmd::Convolve, test::wholeRegion(1, 5000, 6999));
    EXPECT_EQ(ws.document.frameCount, 7000);
    EXPECT_EQ(ws.document.byteCount(), original.byteCount());
    // A delay of 3 frames at 0.018 x 30000 / 32768 of the amplitude.
    for (std::int64_t p = 5000; p < 7000; ++p) {
        const double wet = p >= 5003 ? 0.018 * 30000.0 / 32768.0 * dryValue(original, p - 3, 1) : 0.0;
        ASSERT_NEAR(dryValue(ws.document, p, 1), wet, 0.5 + 1e-6) << p;
    }
    for (std::int64_t p = 0; p < 7000; ++p)
        ASSERT_EQ(sampleOf(ws.document, p, 0), sampleOf(original, p, 0));
}

} // namespace
} // namespace sonavik
