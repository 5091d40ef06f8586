#include "spectrogram/resynthesis.h"

#include "document/sample_summary.h"
#include "document/selection.h"
#include "document/window_title.h"
#include "dsp/fft.h"
#include "edit/edit_control.h"
#include "platform/os.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectrogram_test_support.h"
#include "edit/spectral_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace sonavik {
namespace {

using test::bytesOf;
using test::ScriptedUi;

// The write-back as it was written before it ran on workers: one channel after the other, frame after
// frame, in place. The workers must give these bytes exactly.
void referenceWriteBack(SoundDocument& doc, const Settings& st, const Spectrogram& s)
{
    const std::int64_t n = s.fftSize, h = n / 2, frames = s.spectrumCount;
    const std::int64_t start = st.applyNewPosition != 0 ? st.applyStart : s.firstSample;
    const int channels = doc.format.nChannels;
    const bool eight = doc.format.wBitsPerSample == 8;
    auto at = [&](std::int64_t p, int c) { return static_cast<double>(test::sampleOf(doc, p, c) - (eight ? 128 : 0)); };
    auto store = [&](std::int64_t p, int c, double v) {
        const double lo = eight ? -128.0 : -32768.0, hi = eight ? 127.0 : 32767.0;
        const int value = static_cast<int>(v >= hi ? hi : v <= lo ? lo : v == v ? std::trunc(v) : 0.0);
        const std::size_t i = static_cast<std::size_t>(p * channels + c);
        if (eight) {
            doc.samples.data()[i] = static_cast<unsigned char>(value + 128);
        } else {
            const auto s16 = static_cast<std::int16_t>(value);
            std::memcpy(doc.samples.data() + 2 * i, &s16, 2);
        }
    };
    auto alpha = [&](std::int64_t p, int c) {
        if (st.applyUseAlpha == 0)
            return 1.0;
        double a = st.applyTreatMissingAlphaAsFull != 0 ? 1.0 : 0.0;
        for (const Selection& slot : selectionTable(doc, c))
            if (slot.kind != SelectionKind::None && p >= slot.start && p <= slot.end)
                a = (slot.kind == SelectionKind::Blue ? st.applyBlue : st.applyGreen) != 0 ? alphaAt(slot, p) : 0.0;
        return a;
    };
    const bool windowed = s.windowType >= kFftWindowHanning && s.windowType <= kFftWindowBlackman;
    std::vector<double> fade(h), tail(h), frame(n);
    for (std::int64_t k = 0; k < h; ++k)
        fade[k] = (std::cos(3.141592653589793 * static_cast<double>(k) / static_cast<double>(h - 1)) + 1.0) * 0.5;
    for (int c = 0; c < 2; ++c) {
        if ((c == 0 ? st.applyLeft : st.applyRight) == 0)
            continue;
        for (std::int64_t k = 0; k < h; ++k)
            tail[k] = at(start + k, c);
        for (std::int64_t u = 0; u <= frames; ++u) {
            const std::int64_t base = start + u * h;
            if (u < frames) {
                for (std::int64_t k = 0; k < n; ++k)
                    frame[k] = s.spectra[u * n + k] / static_cast<double>(h);
                fftInverse(n, frame.data());
                for (std::int64_t k = 0; windowed && k < n; ++k)
                    frame[k] /= fftWindowWeight(s.windowType, k, n);
            }
            for (std::int64_t k = 0; k < h; ++k) {
                const double old = at(base + k, c), a = alpha(base + k, c);
                const double fresh = u < frames ? frame[k] : old;
                store(base + k, c, ((1.0 - fade[k]) * fresh + fade[k] * tail[k]) * a + (1.0 - a) * old);
            }
            std::copy(frame.begin() + h, frame.end(), tail.begin());
        }
    }
}

Workspace copyOf(const Workspace& ws)
{
    Workspace copy;
    copy.settings = ws.settings;
    copy.document = ws.document.copyWithSamples();
    copy.undoStore = ws.undoStore.hasData() ? ws.undoStore.copyWithSamples() : ws.undoStore.copyWithoutSamples();
    return copy;
}

// A sound with blue and green selections in both channels and a spectrogram of the left channel whose
// middle band is erased, so that writing it back changes the sound.
struct Scene {
    Workspace ws;
    std::unique_ptr<Spectrogram> s;
};

Scene scene(int bits, int n, int window)
{
    Scene sc{test::toneWorkspace(bits, 2, 9000, 5000, 300, 3000, 2100), nullptr};
    SoundDocument& doc = sc.ws.document;
    doc.leftSelections[0] = test::selection(SelectionKind::Blue, 700, 4000, 0.2, 1.0, SelectionShape::Cos);
    doc.leftSelections[2] = test::selection(SelectionKind::Green, 4500, 8000, 1.0, 0.3);
    doc.rightSelections[1] = test::selection(SelectionKind::Green, 100, 6000, 0.0, 1.0);
    ScriptedUi ui;
    sc.s = test::analyse(sc.ws, ui, test::regionOf(0, 57, 8500), n, window);
    if (sc.s)
        applySpectralEdit(*sc.s, SpectralEdit::Erase, {0, sc.s->spectrumCount - 1, n / 8, n / 4});
    sc.ws.document.modified = 0;
    return sc;
}

struct Choice {
    const char* name;
    std::function<void(Settings&)> set;
};

const Choice kChoices[] = {
    {"left, no alpha", [](Settings& st) { setApplyUseAlpha(st, false); }},
    {"both, blue", [](Settings& st) { setApplyUseAlpha(st, true); setApplyRight(st, true); }},
    {"right, green, missing as full",
     [](Settings& st) {
         setApplyUseAlpha(st, true);
         setApplyGreen(st, true);
         setApplyBlue(st, false);
         setApplyMissingAlphaAsFull(st, true);
         setApplyRight(st, true);
         setApplyLeft(st, false);
     }},
    {"both, both colours, moved",
     [](Settings& st) {
         setApplyUseAlpha(st, true);
         setApplyGreen(st, true);
         setApplyRight(st, true);
         setApplyNewPosition(st, true);
         st.applyStart = 401;
     }},
};

std::function<bool()> answer(Workspace& ws, const Choice& choice)
{
    return [&ws, &choice] {
        openApplyDialog(ws.settings, false);
        choice.set(ws.settings);
        return true;
    };
}

// What the user sees of the workspace: the sound, the undo store and the title.
struct Seen {
    std::vector<unsigned char> document;
    std::vector<unsigned char> undo;
    int modified;
    std::string title;
    bool operator==(const Seen&) const = default;
};

Seen seen(const Workspace& ws) { return {bytesOf(ws.document), bytesOf(ws.undoStore), ws.document.modified, mainWindowTitle(ws)}; }

TEST(ResynthesisLongEdit, WorkersGiveTheBytesOfTheOneThreadWriteBack)
{
    for (int bits : {8, 16})
        for (const auto& [n, window] : {std::pair<int, int>{64, kFftWindowHanning}, std::pair<int, int>{256, 0}})
            for (const Choice& choice : kChoices) {
                SCOPED_TRACE(testing::Message() << bits << " bits, n " << n << ", " << choice.name);
                Scene base = scene(bits, n, window);
                ASSERT_TRUE(base.s);
                const std::vector<unsigned char> before = bytesOf(base.ws.document);

                Workspace reference = copyOf(base.ws);
                presetApplyOptions(reference.settings, *base.s);
                answer(reference, choice)();
                referenceWriteBack(reference.document, reference.settings, *base.s);
                ASSERT_NE(bytesOf(reference.document), before) << "the write-back changes the sound";

                // The one-thread button as the command line runs it.
                Workspace direct = copyOf(base.ws);
                ScriptedUi directUi;
                runResynthesis(direct, directUi, *base.s, answer(direct, choice));
                EXPECT_EQ(bytesOf(direct.document), bytesOf(reference.document));

                for (int threads : {1, 2, 3}) {
                    Workspace ws = copyOf(base.ws);
                    ScriptedUi ui;
                    LongEditOptions options;
                    options.threads = threads;
                    ensureSummary(ws.document);
                    ResynthesisStart started = startResynthesis(ws, ui, *base.s, answer(ws, choice), options);
                    ASSERT_NE(started.edit, nullptr);
                    EXPECT_TRUE(ws.busy());
                    EXPECT_EQ(bytesOf(ws.document), before) << "the window shows the untouched sound meanwhile";
                    started.edit->wait();
                    EXPECT_EQ(started.edit->percent(), 100);
                    EXPECT_EQ(started.edit->finish(ui, EditHost{}), LongEditOutcome::Done);
                    EXPECT_FALSE(ws.busy());
                    EXPECT_EQ(bytesOf(ws.document), bytesOf(reference.document)) << threads << " threads";
                    EXPECT_EQ(bytesOf(ws.undoStore), before);
                    EXPECT_EQ(ws.document.modified, 1);
                    EXPECT_EQ(mainWindowTitle(ws), mainWindowTitle(direct));
                    EXPECT_EQ(ui.statusText[1], directUi.statusText[1]);
                    EXPECT_EQ(ui.statusText[1], "処理中： 逆FFT ( 完了 )");
                    EXPECT_TRUE(ui.messages.empty());
                    EXPECT_TRUE(ws.document.summary.describes(layoutOf(ws.document)));
                }
            }
}

// Starts the write-back with a hook on the workers that may use the edit once it was returned.
struct Started {
    std::atomic<LongEdit*> edit{nullptr};
    ResynthesisStart result;

    void start(Workspace& ws, Ui& ui, const Spectrogram& s, const Choice& choice,
               std::function<void(LongEdit&, const EditRegion&, std::int64_t)> hook)
    {
        LongEditOptions options;
        options.threads = 2;
        options.onBlock = [this, hook](const EditRegion& region, std::int64_t frame) {
            LongEdit* e = nullptr;
            while (!(e = edit.load()))
                std::this_thread::yield();
            hook(*e, region, frame);
        };
        result = startResynthesis(ws, ui, s, answer(ws, choice), options);
        ASSERT_NE(result.edit, nullptr);
        edit = result.edit.get();
    }
};

TEST(ResynthesisLongEdit, CancelOrFailureLeavesSoundUndoAndTitleAsTheyWere)
{
    struct Case {
        const char* when;
        int channel;
        std::int64_t frame;  // -1: the last frame
        std::function<void(LongEdit&)> act;
        LongEditOutcome outcome;
    };
    const auto cancel = [](LongEdit& e) { e.cancel(); };
    const auto cancelTwice = [](LongEdit& e) { e.cancel(); e.cancel(); };
    const Case cases[] = {
        {"cancel in the first frame", 0, 0, cancel, LongEditOutcome::Cancelled},
        {"cancel twice inside the right channel", 1, 40, cancelTwice, LongEditOutcome::Cancelled},
        {"cancel in the last frame", 1, -1, cancel, LongEditOutcome::Cancelled},
        {"memory runs out", 1, 3, [](LongEdit&) { throw std::bad_alloc(); }, LongEditOutcome::Failed},
        {"a worker throws", 0, 50, [](LongEdit&) { throw std::runtime_error("worker"); }, LongEditOutcome::Failed},
    };
    for (int bits : {8, 16})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << bits << " bits, " << c.when);
            Scene sc = scene(bits, 64, kFftWindowHanning);
            ASSERT_TRUE(sc.s);
            sc.ws.undoStore = test::randomDocument(16, 1, 777, 5);
            const Seen before = seen(sc.ws);
            ScriptedUi ui;
            Started started;
            const std::int64_t last = sc.s->spectrumCount - 1;
            started.start(sc.ws, ui, *sc.s, kChoices[1], [&](LongEdit& e, const EditRegion& region, std::int64_t frame) {
                if (region.channel == c.channel && frame == (c.frame == -1 ? last : c.frame))
                    c.act(e);
            });
            EXPECT_EQ(started.result.edit->finish(ui, EditHost{}), c.outcome);
            EXPECT_FALSE(sc.ws.busy());
            EXPECT_TRUE(seen(sc.ws) == before);
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(ui.beeps, c.outcome == LongEditOutcome::Failed ? std::vector<BeepKind>{BeepKind::Error}
                                                                      : std::vector<BeepKind>{});
            EXPECT_EQ(ui.statusText[1], "処理中： 逆FFT ( 中止 )");
        }
}

// Without room for the write-back's copy of the sound (a container's limit would end the program for
// it) the write-back does not start: the default beep, the sound as it was, marked modified as after a
// failed undo snapshot.
TEST(ResynthesisLongEdit, NoRoomForTheCopyLeavesTheSound)
{
    Scene sc = scene(16, 64, 0);
    ASSERT_TRUE(sc.s);
    const std::vector<unsigned char> before = bytesOf(sc.ws.document);
    const MemoryRoomOverride room(sc.ws.document.byteCount() / 2);
    ScriptedUi ui;
    const ResynthesisStart started = startResynthesis(sc.ws, ui, *sc.s, answer(sc.ws, kChoices[1]));
    EXPECT_EQ(started.edit, nullptr);
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Default});
    EXPECT_EQ(bytesOf(sc.ws.document), before);
    EXPECT_EQ(sc.ws.document.modified, 1);
    EXPECT_FALSE(sc.ws.busy());
}

// A refused write-back ends at once as the one-thread button ends it: its message, the undo snapshot
// and the document marked modified; a busy program refuses before asking.
TEST(ResynthesisLongEdit, RefusalsEndAtOnceAsBefore)
{
    Scene sc = scene(16, 64, 0);
    ASSERT_TRUE(sc.s);
    const std::vector<unsigned char> before = bytesOf(sc.ws.document);
    ScriptedUi ui;
    const Choice tooLate{"moved past the end", [](Settings& st) {
                             setApplyNewPosition(st, true);
                             st.applyStart = 8000;
                         }};
    ResynthesisStart started = startResynthesis(sc.ws, ui, *sc.s, answer(sc.ws, tooLate));
    EXPECT_EQ(started.edit, nullptr);
    EXPECT_EQ(started.written, 0);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"適用先データの長さが足りません。"});
    EXPECT_EQ(sc.ws.document.modified, 1);
    EXPECT_EQ(bytesOf(sc.ws.undoStore), before);
    EXPECT_FALSE(sc.ws.busy());

    sc.ws.playing = 1;
    bool asked = false;
    ScriptedUi busyUi;
    EXPECT_EQ(startResynthesis(sc.ws, busyUi, *sc.s, [&] { return asked = true; }).edit, nullptr);
    EXPECT_FALSE(asked);
    EXPECT_EQ(busyUi.texts(), std::vector<std::string>{"再生／録音中は、ファイルを編集できません"});
}

} // namespace
} // namespace sonavik
