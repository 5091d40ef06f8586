// Sound files of other kinds, written here with libsndfile, opened and saved as the editor does.

#include "app/file_flows.h"
#include "document/workspace.h"
#include "edit/convolution.h"
#include "formats/sound_export.h"
#include "formats/sound_files.h"
#include "formats/sound_import.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::TempDir;

const std::string kLoadFailed = " の読み込みに失敗しました";

// Writes interleaved frames of the given values (short, int or float) with libsndfile.
template <typename T>
void writeSound(const std::string& path, int format, int channels, int rate, const std::vector<T>& values)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sf, nullptr) << path << ": " << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(values.size() / channels);
    sf_count_t written;
    if constexpr (std::is_same_v<T, short>)
        written = sf_writef_short(sf, values.data(), frames);
    else if constexpr (std::is_same_v<T, int>)
        written = sf_writef_int(sf, values.data(), frames);
    else
        written = sf_writef_float(sf, values.data(), frames);
    EXPECT_EQ(written, frames);
    sf_close(sf);
}

// Values that differ from their neighbours and reach both ends of 16 bits.
std::vector<short> noise16(std::size_t count)
{
    std::vector<short> v(count);
    std::uint32_t x = 12345;
    for (auto& s : v) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<short>(x >> 16);
    }
    v[0] = -32768;
    v[1] = 32767;
    return v;
}

std::vector<short> samples16(const SoundDocument& doc)
{
    std::vector<short> v(doc.byteCount() / 2);
    std::memcpy(v.data(), doc.samples.data(), v.size() * 2);
    return v;
}

class SoundFormats : public ::testing::Test {
protected:
    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::string status;

    bool open(const std::string& path) { return openWavFile(ws, ui, path, &status); }
};

TEST_F(SoundFormats, SixteenAndEightBitSourcesComeBackExactInEveryContainer)
{
    const std::vector<short> stereo = noise16(2 * 3000);
    const int kinds[] = {SF_FORMAT_WAVEX, SF_FORMAT_FLAC, SF_FORMAT_AIFF, SF_FORMAT_CAF, SF_FORMAT_W64,
                         SF_FORMAT_AU, SF_FORMAT_RF64};
    for (int kind : kinds) {
        SCOPED_TRACE(kind);
        const std::string path = dir.file("s16." + std::to_string(kind >> 16) + ".snd");
        writeSound(path, kind | SF_FORMAT_PCM_16, 2, 44100, stereo);
        ui.clear();
        ASSERT_TRUE(open(path)) << ::testing::PrintToString(ui.texts());
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ws.document.format.wBitsPerSample, 16);
        EXPECT_EQ(ws.document.format.nSamplesPerSec, 44100u);
        EXPECT_EQ(samples16(ws.document), stereo);
        EXPECT_TRUE(ws.document.converted);
    }
    // 8 bits stay 8 bits, sample for sample.
    std::vector<short> eight(3000);
    for (std::size_t i = 0; i < eight.size(); ++i)
        eight[i] = static_cast<short>((static_cast<int>((i * 37) % 256) - 128) * 256);
    for (int kind : {SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8}) {
        const std::string path = dir.file("s8.snd");
        writeSound(path, kind, 1, 8000, eight);
        ASSERT_TRUE(open(path));
        ASSERT_EQ(ws.document.format.wBitsPerSample, 8);
        ASSERT_EQ(ws.document.frameCount, 3000);
        for (std::size_t i = 0; i < eight.size(); ++i)
            ASSERT_EQ(ws.document.samples.data()[i], (eight[i] >> 8) + 128) << i;
    }
}

// Error against the exact value: mean near 0, rms within the dither's 0.5 step plus a margin.
void expectDithered(const SoundDocument& doc, const std::vector<double>& exact)
{
    ASSERT_EQ(doc.format.wBitsPerSample, 16);
    const std::vector<short> got = samples16(doc);
    ASSERT_EQ(got.size(), exact.size());
    double sum = 0, squares = 0, worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double e = got[i] - exact[i];
        sum += e;
        squares += e * e;
        worst = std::max(worst, std::abs(e));
    }
    EXPECT_LT(std::abs(sum / got.size()), 0.02);
    EXPECT_LE(std::sqrt(squares / got.size()), 0.6);
    EXPECT_GT(std::sqrt(squares / got.size()), 0.3);  // dithered, not merely rounded
    EXPECT_LT(worst, 1.5);
}

TEST_F(SoundFormats, WiderAndFloatSourcesAreDitheredTo16BitsTheSameEveryTime)
{
    const std::size_t n = 40000;
    std::vector<int> ramp(n);  // 24-bit values, left-justified as libsndfile takes ints
    std::vector<double> rampExact(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int s = static_cast<int>(i * 419) % (1 << 24) - (1 << 23);
        ramp[i] = s * 256;
        rampExact[i] = s / 256.0;
    }
    for (int kind : {SF_FORMAT_WAV, SF_FORMAT_FLAC}) {
        const std::string path = dir.file("ramp24." + std::to_string(kind >> 16) + ".snd");
        writeSound(path, kind | SF_FORMAT_PCM_24, 1, 48000, ramp);
        ASSERT_TRUE(open(path));
        EXPECT_EQ(status, "24 ビット → 16 ビットに変換しました (ディザ)");
        expectDithered(ws.document, rampExact);
        const std::vector<short> first = samples16(ws.document);
        ASSERT_TRUE(open(path));
        EXPECT_EQ(samples16(ws.document), first);
    }

    std::vector<float> sine(n);
    std::vector<double> sineExact(n);
    for (std::size_t i = 0; i < n; ++i) {
        sine[i] = static_cast<float>(0.9 * std::sin(i * 0.0123));
        sineExact[i] = static_cast<double>(sine[i]) * 32768.0;
    }
    writeSound(dir.file("sine.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, sine);
    ASSERT_TRUE(open(dir.file("sine.wav")));
    EXPECT_EQ(status, "32 ビット浮動小数点 → 16 ビットに変換しました (ディザ)");
    expectDithered(ws.document, sineExact);
}

TEST_F(SoundFormats, FloatsBeyondFullScaleAreClippedAndCounted)
{
    const std::vector<float> values = {0.5f, 1.5f, -2.0f, 1.0f, -1.0f, 1.0001f, 0.0f, -0.25f};
    writeSound(dir.file("loud.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, values);
    ASSERT_TRUE(open(dir.file("loud.wav")));
    EXPECT_NE(status.find("範囲を超えた 3 サンプルをクリップしました"), std::string::npos) << status;
    const std::vector<short> got = samples16(ws.document);
    EXPECT_EQ(got[1], 32767);
    EXPECT_EQ(got[2], -32768);
    EXPECT_EQ(got[5], 32767);
    EXPECT_NEAR(got[0], 16384, 1);
}

TEST_F(SoundFormats, MoreThanTwoChannelsByChoiceOrMix)
{
    const std::size_t frames = 1000;
    std::vector<short> six(6 * frames);
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < 6; ++c)
            six[f * 6 + c] = static_cast<short>((c + 1) * 1000 + static_cast<int>(f % 97) * (c % 2 ? -1 : 1));
    const std::string path = dir.file("six.wav");
    writeSound(path, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, 48000, six);

    ui.channelAnswer = ChannelChoice{ChannelChoice::Kind::Pair, 5, 2};
    ASSERT_TRUE(open(path));
    EXPECT_EQ(ui.channelQuestions, std::vector<int>{6});
    ASSERT_EQ(ws.document.format.nChannels, 2);
    std::vector<short> got = samples16(ws.document);
    for (std::size_t f = 0; f < frames; ++f) {
        ASSERT_EQ(got[2 * f], six[f * 6 + 4]) << f;
        ASSERT_EQ(got[2 * f + 1], six[f * 6 + 1]) << f;
    }

    ui.channelAnswer = ChannelChoice{ChannelChoice::Kind::MixMono, 1, 2};
    ASSERT_TRUE(open(path));
    ASSERT_EQ(ws.document.format.nChannels, 1);
    got = samples16(ws.document);
    for (std::size_t f = 0; f < frames; ++f) {
        double mean = 0;
        for (int c = 0; c < 6; ++c)
            mean += six[f * 6 + c] / 6.0;
        ASSERT_NEAR(got[f], mean, 1.5) << f;  // the dither moves a value by at most one step either way
    }

    // A cancelled choice is a failed open: no sound, the old one in the undo store.
    ui.channelAnswer.reset();
    ui.clear();
    EXPECT_FALSE(open(path));
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_TRUE(ws.undoStore.hasData());
    EXPECT_EQ(ui.texts(), std::vector<std::string>{path + kLoadFailed});
}

TEST_F(SoundFormats, SavesAsFlacBitExactAndTheLossyKindsReopen)
{
    const std::vector<short> stereo = noise16(2 * 5000);
    const std::string source = dir.file("source.wav");
    writeSound(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, stereo);
    ASSERT_TRUE(open(source));
    ASSERT_FALSE(ws.document.converted);

    // The kind follows the name's extension, or the chosen filter when the name has none.
    struct Case {
        std::string answer;
        int filter;
        std::string written;
        bool exact;
    } cases[] = {
        {dir.file("a.flac"), 0, dir.file("a.flac"), true},
        {dir.file("b"), 1, dir.file("b.flac"), true},
        {dir.file("c.ogg"), 0, dir.file("c.ogg"), false},
        {dir.file("d"), 3, dir.file("d.mp3"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ASSERT_TRUE(open(source));
        ui.fileAnswers = {c.answer};
        ui.filterIndex = c.filter;
        ASSERT_TRUE(saveWavFileAs(ws, ui)) << ::testing::PrintToString(ui.texts());
        EXPECT_EQ(ws.document.path, c.written);
        Workspace again;
        ASSERT_TRUE(openWavFile(again, ui, c.written));
        EXPECT_EQ(again.document.format.nChannels, 2);
        EXPECT_EQ(again.document.format.nSamplesPerSec, 44100u);
        if (c.exact) {
            EXPECT_EQ(samples16(again.document), stereo);
        }
    }
    const auto flac = describeSoundFile(dir.file("b.flac"));
    ASSERT_TRUE(flac);
    EXPECT_EQ(flac->container.rfind("FLAC", 0), 0u);
}

TEST_F(SoundFormats, OverwritingAConvertedSoundAsksForAWavName)
{
    std::vector<int> ramp(2000, 1 << 20);
    const std::string path = dir.file("take.flac");
    writeSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 48000, ramp);
    const std::vector<unsigned char> original = test::readBytes(path);
    ASSERT_TRUE(open(path));
    ui.fileAnswers = {std::nullopt};
    EXPECT_FALSE(saveWavFile(ws, ui));
    ASSERT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_EQ(ui.saveDialogs[0].initialName, "take.wav");
    EXPECT_EQ(ui.saveDialogs[0].initialDir, dir.path());
    EXPECT_EQ(test::readBytes(path), original);
}

TEST_F(SoundFormats, AFailedExportLeavesTheOldFile)
{
    const std::string target = dir.file("keep.mp3");
    test::writeBytes(target, {1, 2, 3, 4});
    // MP3 has no 96 kHz: the encoder refuses after the writer has opened.
    ASSERT_TRUE(open([&] {
        writeSound(dir.file("hi.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 96000, noise16(2000));
        return dir.file("hi.wav");
    }()));
    ui.clear();
    EXPECT_FALSE(writeSoundFile(ui, ws.document, target, SaveKind::Mp3));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{target + "の保存に失敗しました。"});
    EXPECT_EQ(test::readBytes(target), (std::vector<unsigned char>{1, 2, 3, 4}));
    ASSERT_TRUE(writeSoundFile(ui, ws.document, dir.file("keep.flac"), SaveKind::Flac));
    struct stat st {};
    ASSERT_EQ(stat(dir.path().c_str(), &st), 0);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 3);  // hi.wav, keep.mp3, keep.flac: no scratch file left behind
}

TEST_F(SoundFormats, DamagedInputsAreRefusedOrOpenAsFarAsTheyDecode)
{
    const std::vector<short> stereo = noise16(2 * 44100);
    writeSound(dir.file("whole.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, stereo);
    const std::vector<unsigned char> whole = test::readBytes(dir.file("whole.flac"));

    test::writeBytes(dir.file("empty.flac"), {});
    const std::string text = "this is not a sound file at all, only words\n";
    test::writeBytes(dir.file("text.mp3"), std::vector<unsigned char>(text.begin(), text.end()));
    test::writeBytes(dir.file("header.flac"), std::vector<unsigned char>(whole.begin(), whole.begin() + 60));
    // STREAMINFO's 36-bit sample count set to its largest: far more than the editor holds.
    std::vector<unsigned char> huge(whole);
    huge[21] |= 0x0F;
    for (int i = 22; i < 26; ++i)
        huge[i] = 0xFF;
    test::writeBytes(dir.file("huge.flac"), huge);
    struct Case {
        const char* name;
        const char* reason;
    } cases[] = {
        {"empty.flac", "ヘッダが切れています"},
        {"text.mp3", "音声ファイルとして読めません"},
        {"header.flac", "音声ファイルとして読めません"},
        {"huge.flac", "長すぎて開けません (2 GB を超えます)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ws.document = SoundDocument();
        ui.clear();
        EXPECT_FALSE(open(dir.file(c.name)));
        EXPECT_FALSE(ws.document.hasData());
        EXPECT_EQ(ui.texts(), (std::vector<std::string>{c.reason, dir.file(c.name) + kLoadFailed}));
    }

    // Cut part-way: what decodes opens, with a notice that it ended early.
    test::writeBytes(dir.file("cut.flac"), std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() / 2));
    ui.clear();
    ASSERT_TRUE(open(dir.file("cut.flac")));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind(dir.file("cut.flac") + " は途中までしか読めませんでした", 0), 0u);
    EXPECT_GT(ws.document.frameCount, 0);
    EXPECT_LT(ws.document.frameCount, 44100);
    EXPECT_EQ(ws.document.samples.size(), ws.document.byteCount());
    const std::vector<short> got = samples16(ws.document);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), stereo.begin()));
}

TEST_F(SoundFormats, ConvolutionTakesAResponseOfAnyKind)
{
    const std::vector<short> values = noise16(500);
    writeSound(dir.file("r.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, values);
    writeSound(dir.file("r.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, values);
    const auto wav = loadResponse(ui, dir.file("r.wav"), dir.path());
    const auto flac = loadResponse(ui, dir.file("r.flac"), dir.path());
    ASSERT_TRUE(wav && flac) << ::testing::PrintToString(ui.texts());
    EXPECT_EQ(flac->frames, 500);
    EXPECT_EQ(flac->values, wav->values);
    writeSound(dir.file("st.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, values);
    ui.clear();
    EXPECT_FALSE(loadResponse(ui, dir.file("st.flac"), dir.path()));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages[0].text.rfind(dir.file("st.flac") + " はモノラルではありません", 0), 0u);
}

TEST(SoundFileNames, SoundExtensionsKeepTheirNamesOthersGetWav)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"/a/x.flac", "/a/x.flac"}, {"/a/x.MP3", "/a/x.MP3"}, {"/a/x.ogg", "/a/x.ogg"}, {"/a/x.aiff", "/a/x.aiff"},
        {"/a/x.txt", "/a/x.txt.wav"}, {"take", "/snd/take.wav"}, {"/a.flac/x", "/a.flac/x.wav"},
    };
    for (const Case& c : cases) {
        std::string path = c.in;
        EXPECT_TRUE(checkSoundFileName(path, "/snd/"));
        EXPECT_EQ(path, c.out);
    }
    const FileDialogRequest open = soundOpenDialog("読み込み", "/snd/");
    ASSERT_EQ(open.filters.size(), 3u);
    EXPECT_EQ(open.filters[0].name, "音声ファイル");
    for (const char* e : {"*.wav", "*.flac", "*.ogg", "*.mp3", "*.aiff"})
        EXPECT_NE(open.filters[0].pattern.find(e), std::string::npos) << e;
    EXPECT_EQ(open.filters[1].name, "WAV");
    EXPECT_EQ(open.filters[2].name, "すべて");
}

} // namespace
} // namespace sonavik
