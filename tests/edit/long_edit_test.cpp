#include "edit/long_edit.h"

#include "app/file_flows.h"
#include "document/sample_summary.h"
#include "document/wav_file.h"
#include "document/window_title.h"
#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/reverb.h"
#include "edit/spectral_test_support.h"
#include "platform/os.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

namespace sonavik {
namespace {

using test::bytesOf;
using test::ScriptedUi;
using test::selection;

// Small enough to be quick, long enough that every region is cut into several runs: equaliser blocks of
// 256 frames, reverb and convolution blocks of 4096.
constexpr std::int32_t kFrames = 40000;

struct Job {
    int commandId;
    const char* name;
};
constexpr Job kJobs[] = {{cmd::Equalize, "equalize"}, {cmd::Reverb, "reverb"}, {cmd::Convolve, "convolve"}};

struct Target {
    int code;
    const char* name;
};

class LongEditTest : public ::testing::Test {
protected:
    LongEditTest()
    {
        // A response of 3000 frames of decaying clicks: blocks of 4096.
        test::Bytes data;
        for (int i = 0; i < 3000; ++i) {
            const int v = i % 97 == 0 ? 20000 - 6 * i : (i * 37) % 200 - 100;
            data.push_back(static_cast<unsigned char>(v));
            data.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(v) >> 8));
        }
        responsePath = dir.file("response.wav");
        test::writeBytes(responsePath, test::canonicalWav(1, 44100, 16, data));
    }

    // A sound with blue and green selections whose envelopes vary, in both channels where there are two,
    // and a red selection; the settings of every long edit set so that it changes the sound.
    Workspace workspace(int bits, int channels)
    {
        Workspace ws = test::workspaceWith(test::randomDocument(bits, channels, kFrames, 7 + bits + channels));
        SoundDocument& doc = ws.document;
        doc.leftSelections[0] = selection(SelectionKind::Blue, 1000, 19999, 0.0, 1.0, SelectionShape::Cos);
        doc.leftSelections[3] = selection(SelectionKind::Green, 21000, 39000, 1.0, 0.25);
        if (channels == 2) {
            doc.rightSelections[1] = selection(SelectionKind::Blue, 500, 30000, 0.2, 1.0, SelectionShape::ExpPlus, 3.0);
            doc.rightSelections[2] = selection(SelectionKind::Blue, 31000, 31100);
        }
        ws.red.redStart = 2000;
        ws.red.redEnd = 33333;
        ws.red.redChannel = channels - 1;
        ws.settings.eqFftSize() = 256;
        test::setCurvePoint(ws.settings.eq, 0, 0.1, 0.2, 0.1, 0.5);
        test::setCurvePoint(ws.settings.eq, 1, 0.7, 0.9, 0.7, 0.6);
        ws.settings.eqWindow = 1;
        applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 44100);
        ws.settings.reverbTimeStep() = 1;
        setFieldText(ws.settings.responsePath, responsePath);
        return ws;
    }

    // The undo store holds something of its own, to see that a cancelled edit leaves it alone.
    static void fillUndoStore(Workspace& ws)
    {
        ws.undoStore = test::randomDocument(16, 1, 1234, 99);
        ws.undoStore.path = "/before/undo.wav";
    }

    test::TempDir dir;
    std::string responsePath;
};

Workspace copyOf(const Workspace& ws)
{
    Workspace copy;
    copy.settings = ws.settings;
    copy.red = ws.red;
    copy.document = ws.document.copyWithSamples();
    copy.undoStore = ws.undoStore.hasData() ? ws.undoStore.copyWithSamples() : ws.undoStore.copyWithoutSamples();
    return copy;
}

// Runs the command through the engine with a given number of threads, the noise generator reset first.
std::vector<unsigned char> runWith(Workspace ws, int commandId, int target, int threads, std::vector<std::string>* texts = nullptr)
{
    std::srand(1);
    ScriptedUi ui;
    EditHost host;
    LongEditOptions options;
    options.threads = threads;
    ensureSummary(ws.document);
    EXPECT_TRUE(runLongEditToEnd(ws, ui, host, commandId, target, -1, options));
    EXPECT_FALSE(ws.busy());
    // The views draw from the summary: it must describe the edited samples, not the ones before.
    const SampleLayout layout = layoutOf(ws.document);
    EXPECT_TRUE(ws.document.summary.describes(layout));
    for (int c = 0; c < ws.document.format.nChannels; ++c)
        for (std::int64_t first = 0; first < kFrames; first += 3001)
            EXPECT_EQ(ws.document.summary.minMax(c, first, first + 5000), scanFrames(layout, c, first, first + 5000));
    if (texts)
        *texts = ui.texts();
    return bytesOf(ws.document);
}

// The edit in place on this thread, region after region, as it was before there were workers.
std::vector<unsigned char> runInPlace(Workspace ws, int commandId, int target)
{
    std::srand(1);
    ScriptedUi ui;
    EditHost host;
    editTarget(ws, ui, host, commandId, target, -1);
    return bytesOf(ws.document);
}

TEST_F(LongEditTest, EveryThreadCountGivesTheFramesOfTheEditInPlace)
{
    const Target targets[] = {{0, "both whole"}, {1, "left whole"}, {3, "blue and green of both"}, {12, "red"}};
    for (const Job& job : kJobs)
        for (int bits : {8, 16})
            for (int channels : {1, 2})
                for (const Target& target : targets) {
                    if (channels == 1 && (target.code == 0 || target.code == 3))
                        continue;
                    SCOPED_TRACE(testing::Message() << job.name << ", " << bits << " bits, " << channels
                                                    << " channels, " << target.name);
                    const Workspace ws = workspace(bits, channels);
                    const std::vector<unsigned char> before = bytesOf(ws.document);
                    const std::vector<unsigned char> inPlace = runInPlace(copyOf(ws), job.commandId, target.code);
                    ASSERT_NE(inPlace, before) << "the edit changes the sound";
                    for (int threads : {1, 2, 3})
                        EXPECT_EQ(runWith(copyOf(ws), job.commandId, target.code, threads), inPlace)
                            << threads << " threads";
                }
}


// What the user sees of the workspace: the sound, the undo store and the title.
struct Seen {
    std::vector<unsigned char> document;
    std::vector<unsigned char> undo;
    std::string undoPath;
    int modified;
    std::string title;
    bool operator==(const Seen&) const = default;
};

Seen seen(const Workspace& ws)
{
    return {bytesOf(ws.document), bytesOf(ws.undoStore), ws.undoStore.path, ws.document.modified, mainWindowTitle(ws)};
}

// Starts the edit with a hook on the worker threads; the hook may use the edit once start() returned.
struct Started {
    std::atomic<LongEdit*> edit{nullptr};
    std::unique_ptr<LongEdit> owner;

    void start(Workspace& ws, Ui& ui, int commandId, int target, int threads,
               std::function<void(LongEdit&, const EditRegion&, std::int64_t)> hook)
    {
        LongEditOptions options;
        options.threads = threads;
        options.onBlock = [this, hook](const EditRegion& region, std::int64_t block) {
            LongEdit* e = nullptr;
            while (!(e = edit.load()))
                std::this_thread::yield();
            hook(*e, region, block);
        };
        owner = LongEdit::start(ws, ui, commandId, target, -1, options);
        ASSERT_NE(owner, nullptr);
        edit = owner.get();
    }
};

TEST_F(LongEditTest, CancelAnywhereLeavesSoundUndoAndTitleAsTheyWere)
{
    struct Case {
        const char* when;
        int channel;
        std::int64_t block;  // -1: the last block; -2: after every block, before finish
        int cancels;
    };
    const Case cases[] = {
        {"first block of the left channel", 0, 0, 1},
        {"a middle block of the right channel", 1, 3, 1},
        {"last block of the right channel", 1, -1, 1},
        {"after every block was written", 1, -2, 1},
        {"twice in the first block", 0, 0, 2},
    };
    for (const Job& job : kJobs)
        for (const Case& c : cases)
            for (int threads : {1, 2}) {
                SCOPED_TRACE(testing::Message() << job.name << ", " << c.when << ", " << threads << " threads");
                Workspace ws = workspace(16, 2);
                fillUndoStore(ws);
                ws.document.modified = 0;
                ws.reverbNoiseState = 12345;  // an earlier reverb of the session
                const Seen before = seen(ws);
                ScriptedUi ui;
                const std::int64_t lastBlock = job.commandId == cmd::Equalize ? (kFrames - 256) / 128 : kFrames / 4096;
                Started started;
                started.start(ws, ui, job.commandId, 0, threads, [&](LongEdit& e, const EditRegion& region, std::int64_t block) {
                    const std::int64_t at = c.block == -1 ? lastBlock : c.block;
                    if (region.channel == c.channel && block == at)
                        for (int i = 0; i < c.cancels; ++i)
                            e.cancel();
                });
                EXPECT_TRUE(ws.busy());
                started.owner->wait();
                if (c.block == -2)
                    started.owner->cancel();
                EXPECT_EQ(started.owner->finish(ui, EditHost{}), LongEditOutcome::Cancelled);
                EXPECT_FALSE(ws.busy());
                EXPECT_TRUE(seen(ws) == before);
                EXPECT_EQ(ws.reverbNoiseState, 12345u) << "a cancelled reverb leaves the noise sequence where it was";
                EXPECT_TRUE(ui.messages.empty());
                EXPECT_EQ(ui.statusText[1], std::string("処理中： ") + (job.commandId == cmd::Equalize ? "イコライザ" : "リバーブ") + " ( 中止 )");
            }
}

// An exception or a failed allocation on a worker stops every worker; the edit's own memory report
// follows and nothing has changed.
TEST_F(LongEditTest, FailureInAWorkerReportsAndRestores)
{
    struct Case {
        const char* what;
        std::function<void()> fail;
    };
    const Case cases[] = {
        {"allocation failure", [] { throw std::bad_alloc(); }},
        {"exception", [] { throw std::runtime_error("worker"); }},
    };
    for (const Job& job : kJobs)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << job.name << ", " << c.what);
            Workspace ws = workspace(8, 2);
            fillUndoStore(ws);
            const Seen before = seen(ws);
            ScriptedUi ui;
            Started started;
            started.start(ws, ui, job.commandId, 3, 2, [&](LongEdit&, const EditRegion& region, std::int64_t block) {
                if (region.channel == 1 && block == 2)
                    c.fail();
            });
            EXPECT_EQ(started.owner->finish(ui, EditHost{}), LongEditOutcome::Failed);
            EXPECT_TRUE(seen(ws) == before);
            EXPECT_FALSE(ws.busy());
            if (job.commandId == cmd::Equalize) {
                EXPECT_TRUE(ui.messages.empty());
                EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Error});
            } else {
                EXPECT_EQ(ui.texts(), std::vector<std::string>{"メモリがたりません"});
            }
        }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own address space defeats the limit
// Without memory for the copy the edit writes into, nothing starts and nothing changes: the undo store
// keeps the sound it held, so that undo still gives it back.
TEST_F(LongEditTest, NoWorkingCopyLeavesTheUndoStoreAlone)
{
    auto startUnderCap = [&] {
        Workspace ws = test::workspaceWith(test::makeDocument(16, 2, 16 << 20, [](std::int64_t, int) { return 0; }));
        fillUndoStore(ws);
        const unsigned char* samples = ws.document.samples.data();
        const std::vector<unsigned char> undo = bytesOf(ws.undoStore);
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1)
            std::exit(2);
        std::fclose(statm);
        // Room for a few megabytes more, not for a second copy of the 64 MB sound.
        rlimit limit{static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (16u << 20), RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &limit);
        ScriptedUi ui;
        const bool started = LongEdit::start(ws, ui, cmd::Reverb, 0, -1) != nullptr;
        const bool kept = ws.document.samples.data() == samples && bytesOf(ws.undoStore) == undo
                          && ws.undoStore.path == "/before/undo.wav" && !ws.busy();
        std::exit(!started && kept && ui.beeps == std::vector<BeepKind>{BeepKind::Default} ? 0 : 1);
    };
    EXPECT_EXIT(startUnderCap(), ::testing::ExitedWithCode(0), "");
}
#endif

// Where a container's limit would have the process killed for a copy of the sound (the copy itself
// would be granted), it is not asked for: the undo snapshot and the long edit's working copy are refused
// with the default beep, the sound and the undo store as they were; a file too large for the room is
// refused as 開く refuses one it cannot hold.
TEST_F(LongEditTest, CopiesOfTheSoundAskTheRoomCheckFirst)
{
    Workspace ws = workspace(16, 2);
    const std::vector<unsigned char> sound = bytesOf(ws.document);
    const std::string file = dir.file("large.wav");
    {
        ScriptedUi ui;
        ASSERT_TRUE(writeWavFile(ui, ws.document, file));
    }
    const MemoryRoomOverride room(ws.document.byteCount() / 2);

    ScriptedUi snapshotUi;
    EditHost host;
    EXPECT_FALSE(runEditCommand(ws, snapshotUi, host, cmd::Halve, 0, -1));
    EXPECT_EQ(snapshotUi.beeps, std::vector<BeepKind>{BeepKind::Default});
    EXPECT_EQ(bytesOf(ws.document), sound);
    EXPECT_EQ(ws.document.modified, 0);

    fillUndoStore(ws);
    const std::vector<unsigned char> undo = bytesOf(ws.undoStore);
    ScriptedUi longUi;
    EXPECT_EQ(LongEdit::start(ws, longUi, cmd::Reverb, 0, -1), nullptr);
    EXPECT_EQ(longUi.beeps, std::vector<BeepKind>{BeepKind::Default});
    EXPECT_EQ(bytesOf(ws.document), sound);
    EXPECT_EQ(bytesOf(ws.undoStore), undo);
    EXPECT_FALSE(ws.busy());

    ScriptedUi openUi;
    Workspace other;
    EXPECT_FALSE(openWavFile(other, openUi, file));
    ASSERT_EQ(openUi.messages.size(), 1u);
    EXPECT_EQ(openUi.messages[0].caption, "メモリ割り当て失敗");
    EXPECT_EQ(openUi.messages[0].text, file);
}

// Blocks of 2^24 frames take seconds to set up and to filter: a stop request is still obeyed within
// 0.2 s, whether it comes while the curve's weights are built or inside a block.
TEST_F(LongEditTest, StopsSoonEvenWithHugeEqualizerBlocks)
{
    Workspace ws = test::workspaceWith(test::makeDocument(16, 1, (1 << 24) + (1 << 23), [](std::int64_t i, int) {
        return static_cast<int>(i % 2000) - 1000;
    }));
    ws.settings.eqFftSize() = 1 << 24;
    ws.settings.eqWindow = 1;
    ws.settings.eqFrequencyLog() = 1;
    const std::vector<unsigned char> before = bytesOf(ws.document);
#if defined(__SANITIZE_ADDRESS__)
    const long bound = 800;  // instrumented loops run several times slower
#else
    const long bound = 200;
#endif
    for (int delay : {0, 150, 600, 1500}) {
        SCOPED_TRACE(testing::Message() << "stopped after " << delay << " ms");
        ScriptedUi ui;
        LongEditOptions options;
        options.threads = 1;
        std::unique_ptr<LongEdit> edit = LongEdit::start(ws, ui, cmd::Equalize, 1, -1, options);
        ASSERT_NE(edit, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        const auto asked = std::chrono::steady_clock::now();
        edit->cancel();
        edit->wait();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
        EXPECT_LE(took.count(), bound);
        EXPECT_EQ(edit->finish(ui, EditHost{}), LongEditOutcome::Cancelled);
        EXPECT_EQ(bytesOf(ws.document), before);
    }
}

// While the workers run the program is busy: edits, and with them every other guarded command, are
// refused with the running edit's own notice, and nothing is snapshotted.
TEST_F(LongEditTest, BusyUntilFinished)
{
    Workspace ws = workspace(16, 2);
    fillUndoStore(ws);
    const Seen before = seen(ws);
    ScriptedUi ui;
    std::atomic<bool> release{false};
    std::atomic<bool> waiting{false};
    Started started;
    started.start(ws, ui, cmd::Reverb, 0, 2, [&](LongEdit&, const EditRegion&, std::int64_t block) {
        if (block == 1) {
            waiting = true;
            while (!release)
                std::this_thread::yield();
        }
    });
    while (!waiting)
        std::this_thread::yield();
    EXPECT_FALSE(started.owner->finished());
    EditHost host;
    EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Halve, 0, -1));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"処理中は、この操作はできません"});
    EXPECT_EQ(LongEdit::start(ws, ui, cmd::Reverb, 0, -1), nullptr);
    EXPECT_TRUE(seen(ws) == before);
    EXPECT_EQ(started.owner->progressText().rfind("処理中： リバーブ ( ", 0), 0u) << started.owner->progressText();
    release = true;
    ui.clear();
    EXPECT_EQ(started.owner->finish(ui, host), LongEditOutcome::Done);
    EXPECT_FALSE(ws.busy());
    EXPECT_EQ(bytesOf(ws.undoStore), before.document);
    EXPECT_NE(bytesOf(ws.document), before.document);
    EXPECT_EQ(ws.document.modified, 1);
    EXPECT_EQ(ui.title, mainWindowTitle(ws));
    EXPECT_EQ(ui.statusText[1], "処理中： リバーブ ( 完了 )");
}

// A response file that cannot be used is reported once, before anything starts; messages of the
// regions come in target order however the threads ran: a region outside the sound is skipped with
// its message.
TEST_F(LongEditTest, MessagesComeInTargetOrder)
{
    Workspace ws = workspace(16, 2);
    setFieldText(ws.settings.responsePath, dir.file("missing.wav"));
    ScriptedUi ui;
    EXPECT_EQ(LongEdit::start(ws, ui, cmd::Convolve, 3, -1), nullptr);
    EXPECT_FALSE(ws.busy());
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{dir.file("missing.wav") + " はファイル名が不正です",
                                                    "畳み込みに使うファイルが不正です"}));
    for (int threads : {1, 2}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        std::vector<std::string> texts;
        Workspace outside = workspace(16, 2);
        outside.document.rightSelections[1].end = kFrames + 5;
        runWith(copyOf(outside), cmd::Reverb, 3, threads, &texts);
        EXPECT_EQ(texts, std::vector<std::string>{"選択領域が不正です"});
    }
}

// Overlapping selections of one channel (a damaged table) are edited in place, one after the other,
// exactly as before there were workers.
TEST_F(LongEditTest, OverlappingSelectionsGiveTheEditInPlace)
{
    for (const Job& job : kJobs) {
        SCOPED_TRACE(job.name);
        Workspace ws = workspace(16, 1);
        ws.document.leftSelections[5] = selection(SelectionKind::Blue, 15000, 25000, 0.5, 1.0);
        EXPECT_EQ(runWith(copyOf(ws), job.commandId, 6, 2), runInPlace(copyOf(ws), job.commandId, 6));
    }
}

// Two threads storing the two channels of the same frames must not touch each other's bytes.
TEST(StoreNearestOwn, WritesOnlyItsChannelAndRoundsAsTheSharedStore)
{
    const double values[] = {0.49, 0.5, -0.5, -0.51, 32767.4, 40000, -40000, std::nan(""), 1e300, -7.5, 12.5, 3};
    const int count = static_cast<int>(std::size(values));
    for (int channel : {0, 1}) {
        SoundDocument shared = test::makeDocument(16, 2, count + 3, [](std::int64_t i, int c) { return c == 0 ? 1111 + int(i) : -2222 - int(i); });
        SoundDocument own = shared.copyWithSamples();
        edit_detail::storeNearest(shared, channel, 1, 2, count, values);
        edit_detail::storeNearestOwn(own, channel, 2, count, values);
        EXPECT_EQ(bytesOf(own), bytesOf(shared)) << channel;
    }
}

// Two workers really work at once: each holds at the first block it takes until the other has come
// too (a one-thread engine would never get there).
TEST_F(LongEditTest, TwoWorkersMeetInsideTheirBlocks)
{
    Workspace ws = workspace(16, 2);
    ScriptedUi ui;
    std::mutex mutex;
    std::set<std::thread::id> arrived;
    std::atomic<bool> met{false};
    LongEditOptions options;
    options.threads = 2;
    options.onBlock = [&](const EditRegion&, std::int64_t) {
        {
            std::lock_guard lock(mutex);
            arrived.insert(std::this_thread::get_id());
            if (arrived.size() == 2)
                met = true;
        }
        // A bound so that a broken engine fails instead of hanging.
        for (int i = 0; i < 20000 && !met; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::unique_ptr<LongEdit> edit = LongEdit::start(ws, ui, cmd::Reverb, 0, -1, options);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->threadCount(), 2);
    EXPECT_EQ(edit->finish(ui, EditHost{}), LongEditOutcome::Done);
    EXPECT_TRUE(met);
}

} // namespace
} // namespace sonavik
