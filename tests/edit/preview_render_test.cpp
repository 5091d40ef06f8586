#include "edit/preview_render.h"

#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/long_edit.h"
#include "edit/reverb.h"
#include "edit/spectral_test_support.h"

#include "platform/os.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <vector>

namespace sonavik {
namespace {

using test::selection;

constexpr std::int32_t kFrames = 30000;

// Blue and green selections with envelopes, in both channels where there are two, a red selection, and
// settings under which each of the three edits changes the sound; eq blocks of 512, reverb blocks of 4096.
Workspace workspace(int bits, int channels)
{
    Workspace ws = test::workspaceWith(test::randomDocument(bits, channels, kFrames, 3 + bits + channels));
    SoundDocument& doc = ws.document;
    doc.leftSelections[0] = selection(SelectionKind::Blue, 1000, 14999, 0.0, 1.0, SelectionShape::Cos);
    doc.leftSelections[3] = selection(SelectionKind::Green, 16000, 29000, 1.0, 0.25);
    if (channels == 2)
        doc.rightSelections[1] = selection(SelectionKind::Blue, 500, 22000, 0.2, 1.0, SelectionShape::ExpPlus, 3.0);
    ws.red.redStart = 2000;
    ws.red.redEnd = 23333;
    ws.red.redChannel = channels - 1;
    ws.settings.eqFftSize() = 512;
    test::setCurvePoint(ws.settings.eq, 0, 0.1, 0.2, 0.1, 0.5);
    test::setCurvePoint(ws.settings.eq, 1, 0.7, 0.9, 0.7, 0.6);
    ws.settings.eqWindow = 1;
    test::setCurvePoint(ws.settings.nonlinear, 3, 0.3, 0.2, 0.3, 0.6);
    applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 44100);
    ws.settings.reverbTimeStep() = 1;
    ws.reverbNoiseState = 12345;
    return ws;
}

// What OK writes: the equaliser and the reverb through the long edit, the nonlinear curve in place.
SoundDocument offline(const Workspace& from, int commandId, int target)
{
    Workspace ws;
    ws.settings = from.settings;
    ws.red = from.red;
    ws.reverbNoiseState = from.reverbNoiseState;
    ws.document = from.document.copyWithSamples();
    test::ScriptedUi ui;
    EditHost host;
    if (commandId == cmd::Nonlinear)
        editTarget(ws, ui, host, commandId, target, -1);
    else
        EXPECT_TRUE(runLongEditToEnd(ws, ui, host, commandId, target, -1));
    return std::move(ws.document);
}

// What the preview gave for its span, each frame at its place.
struct Heard {
    explicit Heard(const PreviewRender& preview)
        : block(preview.format().nBlockAlign), bytes(static_cast<std::size_t>(preview.frameCount()) * block)
    {
    }
    bool read(PreviewRender& preview, std::int64_t first, std::int64_t count)
    {
        count = std::min<std::int64_t>(count, preview.frameCount() - first);
        return preview.read(first, count, bytes.data() + first * block);
    }
    std::size_t block;
    std::vector<unsigned char> bytes;
};

// Frames [from, to) of the span against the same frames of the edited document.
int framesDiffering(const PreviewRender& preview, const Heard& heard, const SoundDocument& edited, std::int64_t from,
                    std::int64_t to)
{
    const std::size_t block = edited.format.nBlockAlign;
    int differing = 0;
    for (std::int64_t f = from; f < to; ++f)
        differing += std::memcmp(heard.bytes.data() + f * block, edited.samples.data() + (f + preview.firstFrame()) * block,
                                 block) != 0;
    return differing;
}

struct Target {
    int code;
    const char* name;
};

// In pieces of odd sizes, from the start and from a place in the middle, and over the loop's end back
// to the start, the frames are those OK writes, for each edit, target, bit depth and channel count.
TEST(PreviewRender, PiecesInAnyOrderAreTheFramesTheEditWrites)
{
    const Target targets[] = {{0, "both whole"}, {1, "left whole"}, {3, "blue and green of both"}, {12, "red"}};
    for (const int commandId : {cmd::Nonlinear, cmd::Equalize, cmd::Reverb})
        for (const int bits : {8, 16})
            for (const int channels : {1, 2})
                for (const Target& target : targets) {
                    if (channels == 1 && (target.code == 0 || target.code == 3))
                        continue;
                    SCOPED_TRACE(testing::Message() << commandId << ", " << bits << " bits, " << channels
                                                    << " channels, " << target.name);
                    const Workspace ws = workspace(bits, channels);
                    const SoundDocument edited = offline(ws, commandId, target.code);
                    ASSERT_NE(test::bytesOf(edited), test::bytesOf(ws.document)) << "the edit changes the sound";
                    PreviewRender preview(ws.document, ws.red, commandId, target.code, -1, ws.reverbNoiseState);
                    ASSERT_FALSE(preview.empty());
                    preview.setSettings(ws.settings);
                    const std::int64_t n = preview.frameCount();
                    Heard heard(preview);
                    // From the middle to the end, then from the start, as a loop that started in the middle plays.
                    for (std::int64_t f = n / 3; f < n; f += 2999)
                        ASSERT_TRUE(heard.read(preview, f, 2999));
                    EXPECT_EQ(framesDiffering(preview, heard, edited, n / 3, n), 0);
                    for (std::int64_t f = 0; f < n; f += 1237)
                        ASSERT_TRUE(heard.read(preview, f, 1237));
                    EXPECT_EQ(framesDiffering(preview, heard, edited, 0, n), 0);
                    // The noise of the session stays where it was: OK draws from the same place.
                    EXPECT_EQ(ws.reverbNoiseState, 12345u);
                }
}

// A change of the curve at frame k: from k on, the frames are those OK writes with the new curve.
TEST(PreviewRender, AfterAChangeTheFramesFollowTheNewSettings)
{
    for (const int commandId : {cmd::Nonlinear, cmd::Equalize, cmd::Reverb}) {
        SCOPED_TRACE(commandId);
        Workspace ws = workspace(16, 2);
        PreviewRender preview(ws.document, ws.red, commandId, 3, -1, ws.reverbNoiseState);
        preview.setSettings(ws.settings);
        Heard heard(preview);
        const std::int64_t k = 12345 - preview.firstFrame();
        for (std::int64_t f = 0; f < k; f += 4096)
            ASSERT_TRUE(heard.read(preview, f, std::min<std::int64_t>(4096, k - f)));
        // The new curve and values.
        test::setCurvePoint(ws.settings.nonlinear, 3, 0.3, 0.5, 0.3, 0.1);
        test::setCurvePoint(ws.settings.eq, 1, 0.7, 0.2, 0.7, 0.3);
        ws.settings.eqFftSize() = 1024;
        ws.settings.reverbRatio() = 80;
        const SoundDocument edited = offline(ws, commandId, 3);
        preview.setSettings(ws.settings);
        for (std::int64_t f = k; f < preview.frameCount(); f += 4096)
            ASSERT_TRUE(heard.read(preview, f, 4096));
        EXPECT_EQ(framesDiffering(preview, heard, edited, k, preview.frameCount()), 0);
    }
}

// A long span is heard without a copy of it: with room for a few pieces but not for another sound's
// length, the pieces are worked out (a preview that copies the span finds no memory and plays nothing).
TEST(PreviewRenderDeathTest, ALongSpanIsHeardWithRoomForAFewPiecesOnly)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto listen = [] {
        // Ten minutes of stereo noise: 106 MB.
        const std::int32_t frames = 44100 * 600;
        Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 1000, 7));
        SoundDocument& doc = ws.document;
        doc.frameCount = frames;
        doc.samples = SampleBuffer::allocate(doc.byteCount());
        for (std::size_t i = 0; i < doc.samples.size(); ++i)
            doc.samples.data()[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
        ws.settings.eqFftSize() = 4096;
        test::setCurvePoint(ws.settings.eq, 1, 0.7, 0.9, 0.7, 0.6);
        const rlimit limit{addressSpaceBytes() + (48u << 20), RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            std::_Exit(2);
        PreviewRender preview(doc, ws.red, cmd::Equalize, 0, -1, 1);
        preview.setSettings(ws.settings);
        std::vector<unsigned char> piece(44100 * 4);
        bool heard = !preview.empty();
        for (std::int64_t first : {std::int64_t{0}, std::int64_t{frames / 2}, std::int64_t{frames - 44100}})
            heard = heard && preview.read(first, 44100, piece.data()) &&
                    std::memcmp(piece.data(), doc.samples.data() + first * 4, piece.size()) != 0;
        std::_Exit(heard && !preview.failed() ? 0 : 1);
    };
    EXPECT_EXIT(listen(), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(PreviewRender, OnlyTheCurveEditsWithATargetInsideTheSoundHaveOne)
{
    Workspace ws = workspace(16, 1);
    EXPECT_TRUE(PreviewRender(ws.document, ws.red, cmd::Halve, 1, -1, 1).empty());
    ws.red.redStart = kFrames + 10;
    ws.red.redEnd = kFrames + 20;
    EXPECT_TRUE(PreviewRender(ws.document, ws.red, cmd::Equalize, 12, -1, 1).empty());
    PreviewRender left(ws.document, ws.red, cmd::Equalize, 1, -1, 1);
    EXPECT_EQ(left.firstFrame(), 0);
    EXPECT_EQ(left.frameCount(), kFrames);
}

} // namespace
} // namespace sonavik
