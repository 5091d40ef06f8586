#include "spectrogram/spectrogram_export.h"

#include "settings/settings.h"
#include "spectrogram/spectrogram_analysis.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>

namespace sonavik {
namespace {

using test::Bytes;
using test::ScriptedUi;
using test::TempDir;

// F frames of n = 16 with values that differ from frame to frame, coloured.
Spectrogram sample(std::int32_t frames)
{
    Spectrogram s;
    s.fftSize = 16;
    s.spectrumCount = frames;
    s.binCount = 9;
    s.sampleRate = 8000;
    for (int i = 0; i < frames * 16; ++i)
        s.spectra.push_back(static_cast<float>((i * 37) % 500) - 100.0f);
    s.colourBitmap.assign(Spectrogram::bitmapStrideOf(frames) * 9, 0);
    colourSpectrogram(s, ColourFactors{});
    return s;
}

std::uint32_t u32At(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(SpectrogramExport, FilesHaveTheExactLayouts)
{
    struct Case {
        std::int32_t frames;
        std::size_t stride;
        std::size_t bitmapSize;
        std::size_t spectraSize;
    };
    // F = 5, n = 16: stride 16, 54 + 16 x 9 = 198 bytes, 16 + 4 x 5 x 16 = 336. A multiple of 4 needs no padding.
    const Case cases[] = {{5, 16, 198, 336}, {4, 12, 162, 272}, {6, 20, 234, 400}, {1, 4, 90, 80}};
    for (const Case& c : cases) {
        TempDir dir;
        ScriptedUi ui;
        const Spectrogram s = sample(c.frames);
        ASSERT_TRUE(writeSpectrogramBitmap(ui, s, dir.file("a.bmp")));
        ASSERT_TRUE(writeSpectrogramSpectra(ui, s, dir.file("a.fft")));
        const Bytes bmp = test::readBytes(dir.file("a.bmp"));
        ASSERT_EQ(bmp.size(), c.bitmapSize) << c.frames;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        const std::pair<std::size_t, std::uint32_t> fields[] = {
            {2, c.bitmapSize}, {6, 0}, {10, 54}, {14, 40}, {18, c.frames}, {22, 9}, {26, 1 | 24 << 16},
            {30, 0},           {34, 0}, {38, 100}, {42, 100}, {46, 0}, {50, 0}};
        for (const auto& [at, value] : fields)
            EXPECT_EQ(u32At(bmp, at), value) << "F " << c.frames << " offset " << at;
        EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), Bytes(s.colourBitmap.begin(), s.colourBitmap.end()));
        EXPECT_EQ(s.bitmapStride(), c.stride);
        for (int b = 0; b < 9; ++b)
            for (std::size_t pad = 3 * c.frames; pad < c.stride; ++pad)
                EXPECT_EQ(bmp[54 + b * c.stride + pad], 0);

        const Bytes fft = test::readBytes(dir.file("a.fft"));
        ASSERT_EQ(fft.size(), c.spectraSize);
        EXPECT_EQ(u32At(fft, 0), 16u);
        EXPECT_EQ(u32At(fft, 4), static_cast<std::uint32_t>(c.frames));
        EXPECT_EQ(u32At(fft, 8), 0u);
        EXPECT_EQ(u32At(fft, 12), 0u);
        EXPECT_EQ(std::memcmp(fft.data() + 16, s.spectra.data(), fft.size() - 16), 0);
    }
}

TEST(SpectrogramExport, TheExtensionIsAddedUnlessPresentInAnyCase)
{
    const std::pair<const char*, const char*> bmp[] = {
        {"x", "x.bmp"}, {"picture.Bmp", "picture.Bmp"}, {"a.BMP", "a.BMP"}, {"a.txt", "a.txt.bmp"}, {".bmp", ".bmp"},
        {"bmp", "bmp.bmp"}, {"", ".bmp"}, {"/d/x.bmp.gz", "/d/x.bmp.gz.bmp"}};
    for (const auto& [in, out] : bmp)
        EXPECT_EQ(withSaveExtension(in, ".bmp"), out) << in;
    EXPECT_EQ(withSaveExtension("spec.fft.txt", ".fft"), "spec.fft.txt.fft");
    EXPECT_EQ(withSaveExtension("spec.FFT", ".fft"), "spec.FFT");
}

TEST(SpectrogramExport, SavingAsksForANameAndRemembersTheFolder)
{
    TempDir dir;
    Settings st;
    applyDefaultSettings(st);
    setFieldText(st.saveDir, "/nowhere/");
    ScriptedUi ui;
    Spectrogram s = sample(5);
    ui.fileAnswers = {dir.file("x"), dir.file("spec.fft.txt"), std::nullopt};
    ASSERT_TRUE(saveSpectrogramBitmap(ui, st, s));
    EXPECT_EQ(test::readBytes(dir.file("x.bmp")).size(), 198u);
    ASSERT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_EQ(ui.saveDialogs[0].title, "名前を付けて保存");
    EXPECT_EQ(ui.saveDialogs[0].initialDir, "/nowhere/");
    EXPECT_EQ(ui.saveDialogs[0].filterName, "bmpﾌｧｲﾙ(*.bmp)");
    EXPECT_EQ(ui.saveDialogs[0].filterPattern, "*.bmp");
    EXPECT_TRUE(ui.saveDialogs[0].confirmOverwrite);
    EXPECT_EQ(fieldText(st.saveDir), dir.path());

    ASSERT_TRUE(saveSpectrogramSpectra(ui, st, s));
    EXPECT_EQ(test::readBytes(dir.file("spec.fft.txt.fft")).size(), 336u);
    EXPECT_EQ(ui.saveDialogs[1].initialDir, dir.path());
    EXPECT_EQ(ui.saveDialogs[1].filterName, "fftﾌｧｲﾙ(*.fft)");

    // Cancelled: nothing written, the folder stays.
    setFieldText(st.saveDir, "/kept/");
    EXPECT_FALSE(saveSpectrogramBitmap(ui, st, s));
    EXPECT_EQ(fieldText(st.saveDir), "/kept/");
    EXPECT_TRUE(ui.messages.empty());
}

TEST(SpectrogramExport, GainChangesThePictureButNotTheSpectra)
{
    TempDir dir;
    ScriptedUi ui;
    Spectrogram s = sample(7);
    ASSERT_TRUE(writeSpectrogramBitmap(ui, s, dir.file("1.bmp")));
    ASSERT_TRUE(writeSpectrogramSpectra(ui, s, dir.file("1.fft")));
    s.gain *= 2;
    colourSpectrogram(s, ColourFactors{});
    ASSERT_TRUE(writeSpectrogramBitmap(ui, s, dir.file("2.bmp")));
    ASSERT_TRUE(writeSpectrogramSpectra(ui, s, dir.file("2.fft")));
    const Bytes before = test::readBytes(dir.file("1.bmp")), after = test::readBytes(dir.file("2.bmp"));
    long brighter = 0;
    for (std::size_t i = 54; i < before.size(); ++i) {
        ASSERT_GE(after[i], before[i]);
        brighter += after[i] > before[i];
    }
    EXPECT_GT(brighter, 0);
    EXPECT_EQ(test::readBytes(dir.file("1.fft")), test::readBytes(dir.file("2.fft")));
}

TEST(SpectrogramExport, FailuresLeaveNoHalfFileAndTheOldFileIntact)
{
    TempDir dir;
    Settings st;
    applyDefaultSettings(st);
    const Spectrogram s = sample(5);

    struct Case {
        const char* name;
        std::function<bool(ScriptedUi&, const Spectrogram&)> save;
        const char* message;
        MessageIcon icon;
    };
    Spectrogram empty;
    const Case cases[] = {
        {"no picture", [&](ScriptedUi& ui, const Spectrogram&) { return saveSpectrogramBitmap(ui, st, empty); }, "No bmp", MessageIcon::None},
        {"no spectra", [&](ScriptedUi& ui, const Spectrogram&) { return saveSpectrogramSpectra(ui, st, empty); }, "No Data", MessageIcon::None},
        {"missing folder", [&](ScriptedUi& ui, const Spectrogram& x) { return writeSpectrogramBitmap(ui, x, dir.file("no/such/a.bmp")); },
         "保存できません", MessageIcon::Error},
    };
    for (const Case& c : cases) {
        ScriptedUi ui;
        EXPECT_FALSE(c.save(ui, s)) << c.name;
        ASSERT_EQ(ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(ui.messages[0].text, c.message) << c.name;
        EXPECT_EQ(ui.messages[0].icon, c.icon) << c.name;
        EXPECT_TRUE(ui.saveDialogs.empty()) << c.name;
    }

    // A disk that fills up after 100 bytes: "保存失敗", the old file as it was, no temporary file left.
    ScriptedUi ui;
    const std::string old = dir.file("old.fft");
    test::writeBytes(old, Bytes{1, 2, 3});
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = writeSpectrogramSpectra(ui, s, old);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(test::readBytes(old), (Bytes{1, 2, 3}));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"保存失敗"});
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temporary file left behind";
}

} // namespace
} // namespace sonavik
