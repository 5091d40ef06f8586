#include "history/edit_history.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"
#include "edit/edit_test_support.h"
#include "platform/durable_file.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::TempDir;

// Takes every parameter dialog as answered with the settings as they are.
class AnsweringHost : public EditHost {
public:
    bool askParameters(int) override { return true; }
};

// What a state is, for comparing: every field the history keeps but the view states.
struct StateCopy {
    std::vector<unsigned char> bytes;
    std::int32_t frames = 0;
    std::int32_t modified = 0;
    std::string path;
    SelectionTable left{}, right{};
};

StateCopy copyOf(const SoundDocument& d)
{
    return {test::bytesOf(d), d.frameCount, d.modified, d.path, d.leftSelections, d.rightSelections};
}

bool sameSelections(const SelectionTable& a, const SelectionTable& b)
{
    for (int i = 0; i < kSelectionSlots; ++i)
        if (a[i].kind != b[i].kind || a[i].start != b[i].start || a[i].end != b[i].end || a[i].alphaStart != b[i].alphaStart
            || a[i].alphaEnd != b[i].alphaEnd || a[i].shape != b[i].shape || a[i].shapeParameter != b[i].shapeParameter)
            return false;
    return true;
}

::testing::AssertionResult sameState(const StateCopy& want, const SoundDocument& got)
{
    if (got.frameCount != want.frames || test::bytesOf(got) != want.bytes)
        return ::testing::AssertionFailure() << "samples differ (" << got.frameCount << " frames, want " << want.frames << ")";
    if (got.modified != want.modified || got.path != want.path)
        return ::testing::AssertionFailure() << "modified or path differ";
    if (!sameSelections(got.leftSelections, want.left) || !sameSelections(got.rightSelections, want.right))
        return ::testing::AssertionFailure() << "selections differ";
    return ::testing::AssertionSuccess();
}

void scatterRed(Workspace& ws, std::mt19937& rng);

// Random selections and a random red selection, so that every target has something to act on.
void scatterSelections(Workspace& ws, std::mt19937& rng)
{
    const std::int32_t n = ws.document.frameCount;
    for (int channel = 0; channel < ws.document.format.nChannels; ++channel) {
        SelectionTable& table = selectionTable(ws.document, channel);
        table.fill(Selection{});
        for (int i = 0; i < 3 && n > 8; ++i) {
            const std::int32_t a = static_cast<std::int32_t>(rng() % (n / 3)) + i * (n / 3);
            const std::int32_t b = std::min<std::int32_t>(a + static_cast<std::int32_t>(rng() % (n / 4)) + 1, n - 1);
            table[i] = test::selection(rng() % 2 ? SelectionKind::Blue : SelectionKind::Green, a, std::max(a, std::min(b, (i + 1) * (n / 3) - 1)),
                                       (rng() % 100) / 100.0, (rng() % 100) / 100.0, static_cast<SelectionShape>(rng() % 5), 1.0 + rng() % 4);
        }
    }
    scatterRed(ws, rng);
}

void scatterRed(Workspace& ws, std::mt19937& rng)
{
    const std::int32_t n = ws.document.frameCount;
    const std::int32_t a = static_cast<std::int32_t>(rng() % n);
    ws.red.redStart = a;
    ws.red.redEnd = std::min<std::int32_t>(n - 1, a + static_cast<std::int32_t>(rng() % 500));
    ws.red.redChannel = ws.document.format.nChannels == 2 ? static_cast<std::int32_t>(rng() % 2) : 0;
}

// The commands a run takes: every edit but the analysis and the convolution (which reads a file).
std::vector<int> editIds()
{
    std::vector<int> ids;
    for (const EditCommand& c : editCommands())
        if (c.kind != EditKind::Analysis && c.id != cmd::Convolve)
            ids.push_back(c.id);
    return ids;
}

// One random step: an edit, an undo, or going to an earlier state. True when the document changed.
bool randomStep(Workspace& ws, ScriptedUi& ui, AnsweringHost& host, std::mt19937& rng, const std::vector<int>& ids)
{
    const int kind = static_cast<int>(rng() % 10);
    if (kind == 0 && ws.undoStore.hasData()) {
        swapWithUndoStore(ws.document, ws.undoStore);
        noteUndo(ws, ui);
        return true;
    }
    if (kind == 1 && ws.history->lastState() > 0)
        return goToState(ws, ui, ws.history->firstState()
                                     + static_cast<int>(rng() % static_cast<unsigned>(ws.history->lastState() - ws.history->firstState())));
    if (ws.document.frameCount < 64)
        return false;
    // Selections drawn between edits are not changes of their own: each edit's state keeps the ones
    // it found, so only the red selection moves here.
    scatterRed(ws, rng);
    const int id = ids[rng() % ids.size()];
    static constexpr int kMonoTargets[] = {1, 6, 7, 8, 12, 13};
    const int target = ws.document.format.nChannels == 2 ? static_cast<int>(rng() % 15) : kMonoTargets[rng() % 6];
    const int slot = static_cast<int>(rng() % 3);
    return runEditCommand(ws, ui, host, id, target, slot);
}

class EditHistoryTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

// Random edits of every kind, undos and jumps back; every state rebuilt from the current sound and, at
// the end, from the folder alone, equals the state as it was when it was made.
TEST_P(EditHistoryTest, EveryStateComesBackBitExact)
{
    const auto [bits, channels] = GetParam();
    TempDir dir;
    ScriptedUi ui;
    AnsweringHost host;
    std::string error;
    auto history = EditHistory::create(dir.path() + "sessions", &error);
    ASSERT_TRUE(history) << error;
    std::mt19937 rng(1234 + bits + channels);
    Workspace ws = test::workspaceWith(test::randomDocument(bits, channels, 6000, 7));
    ws.document.path = "/music/a.wav";
    scatterSelections(ws, rng);
    ws.history = history.get();
    history->begin(ws.document, HistoryOrigin::Opened);
    std::vector<StateCopy> states{copyOf(ws.document)};
    const std::vector<int> ids = editIds();
    std::set<int> kinds;
    for (int step = 0; step < 100; ++step) {
        const int before = history->lastState();
        const bool changed = randomStep(ws, ui, host, rng, ids);
        ASSERT_FALSE(history->failed()) << history->failure();
        if (!changed) {
            ASSERT_EQ(history->lastState(), before);
            continue;
        }
        ASSERT_EQ(history->lastState(), before + 1);
        kinds.insert(history->entries().back().note.commandId);
        states.push_back(copyOf(ws.document));
        const int k = static_cast<int>(rng() % states.size());
        SoundDocument rebuilt;
        ASSERT_TRUE(history->rebuildState(ws.document, k, rebuilt, &error)) << error;
        ASSERT_TRUE(sameState(states[k], rebuilt)) << "state " << k << " of " << states.size() - 1;
    }
    EXPECT_TRUE(kinds.count(cmd::Trim) && kinds.count(cmd::Delete) && kinds.count(cmd::Reverse)) << "the run missed a kind";
    for (int k = 0; k < static_cast<int>(states.size()); ++k) {
        SoundDocument recovered;
        ASSERT_TRUE(recoverState(history->folder(), k, recovered, &error)) << error;
        ASSERT_TRUE(sameState(states[k], recovered)) << "state " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EditHistoryTest, ::testing::Values(std::tuple{16, 2}, std::tuple{8, 1}));

// A history in a folder of its own and a workspace with doc that it records; the history has not begun.
struct Scene {
    explicit Scene(SoundDocument doc) : history(EditHistory::create(dir.path(), &error)), ws(test::workspaceWith(std::move(doc)))
    {
        ws.history = history.get();
    }
    TempDir dir;
    ScriptedUi ui;
    AnsweringHost host;
    std::string error;
    std::unique_ptr<EditHistory> history;
    Workspace ws;
};

// A change of one second of a long sound stores about that second (its old and new frames), not the sound.
TEST(EditHistory, AChangeStoresOnlyItsSpan)
{
    Scene sc(test::randomDocument(16, 2, 441000, 3));
    ASSERT_TRUE(sc.history) << sc.error;
    EditHistory* history = sc.history.get();
    Workspace& ws = sc.ws;
    history->begin(ws.document, HistoryOrigin::Opened);
    ws.red = RedSelection{44100, 88199, 1};
    ASSERT_TRUE(runEditCommand(ws, sc.ui, sc.host, cmd::Halve, 12, 0));
    const std::uint64_t afterFirst = history->bytesOnDisk();
    ASSERT_TRUE(runEditCommand(ws, sc.ui, sc.host, cmd::Invert, 12, 0));
    const std::uint64_t second = history->bytesOnDisk() - afterFirst;
    EXPECT_GE(second, 2u * 44100 * 4);
    EXPECT_LT(second, 2u * 44100 * 4 + 64 * 1024);
    const HistoryEntry& e = history->entries().back();
    EXPECT_EQ(e.start, 44100);
    EXPECT_EQ(e.oldCount, 44100);
    EXPECT_EQ(e.note.name, "逆相");
}

// A long opened sound is written to the folder before it changes; the first change takes that file only
// when the sound before it is the one written (here once changed behind the history's back), and either
// way the first state recovered is the sound before the change.
TEST(EditHistory, ALongOpenedSoundIsWrittenBeforeItsFirstChangeWhichTakesItOnlyIfItIsTheSoundBefore)
{
    for (const bool behindItsBack : {false, true}) {
        SCOPED_TRACE(behindItsBack ? "changed behind its back" : "as opened");
        Scene sc(test::randomDocument(16, 2, 2400000, 7));
        ASSERT_TRUE(sc.history) << sc.error;
        EditHistory* history = sc.history.get();
        Workspace& ws = sc.ws;
        history->begin(ws.document, HistoryOrigin::Opened);
        history->settle();
        struct stat written {};
        ASSERT_EQ(::stat((history->folder() + "base-0").c_str(), &written), 0);
        EXPECT_GT(static_cast<std::uint64_t>(written.st_size), ws.document.byteCount());
        if (behindItsBack)
            ws.document.samples.data()[4001] ^= 0x55;
        ws.red = RedSelection{1000, 5000, 1};
        ASSERT_TRUE(runEditCommand(ws, sc.ui, sc.host, cmd::Halve, 12, 0));
        for (const int k : {0, 1}) {
            SoundDocument recovered;
            ASSERT_TRUE(recoverState(history->folder(), k, recovered, &sc.error)) << sc.error;
            EXPECT_TRUE(test::bytesOf(recovered) == test::bytesOf(k == 0 ? ws.undoStore : ws.document)) << "state " << k;
        }
    }
}

// Over the size limit the oldest states go and the folder shrinks; the states kept still come back.
TEST(EditHistory, TheLimitDropsTheOldestStates)
{
    Scene sc(test::randomDocument(16, 1, 20000, 5));
    ASSERT_TRUE(sc.history) << sc.error;
    EditHistory* history = sc.history.get();
    Workspace& ws = sc.ws;
    history->setSizeLimit(200000);
    history->begin(ws.document, HistoryOrigin::Opened);
    std::vector<StateCopy> states{copyOf(ws.document)};
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(runEditCommand(ws, sc.ui, sc.host, i % 2 ? cmd::Invert : cmd::Reverse, 1, 0));
        states.push_back(copyOf(ws.document));
    }
    EXPECT_GT(history->firstState(), 0);
    EXPECT_LE(history->bytesOnDisk(), 200000u);
    EXPECT_NE(sc.ui.statusText[0].find("古い状態"), std::string::npos);
    for (int k = history->firstState(); k <= history->lastState(); ++k) {
        SoundDocument a, b;
        ASSERT_TRUE(history->rebuildState(ws.document, k, a, &sc.error)) << sc.error;
        ASSERT_TRUE(sameState(states[k], a)) << k;
        ASSERT_TRUE(recoverState(history->folder(), k, b, &sc.error)) << sc.error;
        ASSERT_TRUE(sameState(states[k], b)) << k;
    }
    SoundDocument gone;
    EXPECT_FALSE(recoverState(history->folder(), 0, gone, &sc.error));
}

// The settings' limit applies at once; one smaller than a single change keeps that last change, so that
// the states on both sides of it still come back.
TEST(EditHistory, ASettingsLimitDropsAtOnceAndKeepsTheLastChange)
{
    Scene sc(test::randomDocument(16, 1, 300000, 5));  // 600 KB a state
    ASSERT_TRUE(sc.history) << sc.error;
    EditHistory* history = sc.history.get();
    Workspace& ws = sc.ws;
    history->begin(ws.document, HistoryOrigin::Opened);
    std::vector<StateCopy> states{copyOf(ws.document)};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(runEditCommand(ws, sc.ui, sc.host, i % 2 ? cmd::Invert : cmd::Reverse, 1, 0));
        states.push_back(copyOf(ws.document));
    }
    applyHistoryLimit(ws, sc.ui);
    ASSERT_EQ(history->firstState(), 0) << "the default holds them all";
    ws.settings.historyLimitMiB = 1;
    applyHistoryLimit(ws, sc.ui);
    EXPECT_EQ(history->firstState(), 3);
    EXPECT_EQ(history->lastState(), 4);
    EXPECT_NE(sc.ui.statusText[0].find("古い状態を 3 個"), std::string::npos) << sc.ui.statusText[0];
    for (int k = 3; k <= 4; ++k) {
        SoundDocument a, b;
        ASSERT_TRUE(history->rebuildState(ws.document, k, a, &sc.error)) << sc.error;
        EXPECT_TRUE(sameState(states[k], a)) << k;
        ASSERT_TRUE(recoverState(history->folder(), k, b, &sc.error)) << sc.error;
        EXPECT_TRUE(sameState(states[k], b)) << k;
    }
}

// A folder that cannot be written stops the history with a message; the edit itself goes on.
TEST(EditHistory, AnUnwritableFolderStopsOnlyTheHistory)
{
    TempDir dir;
    ScriptedUi ui;
    AnsweringHost host;
    std::string error;
    auto history = EditHistory::create(dir.path(), &error);
    ASSERT_TRUE(history) << error;
    Workspace ws = test::workspaceWith(test::randomDocument(16, 1, 2000, 5));
    ws.history = history.get();
    history->begin(ws.document, HistoryOrigin::Opened);
    // The folder gone (as a disk taken away would leave it): even root cannot write there.
    ASSERT_TRUE(removeFlatFolder(history->folder()));
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Invert, 1, 0));
    EXPECT_TRUE(history->failed());
    EXPECT_EQ(ui.statusText[0].rfind("履歴を保存できません: ", 0), 0u) << ui.statusText[0];
    EXPECT_TRUE(ws.undoStore.hasData());
    EXPECT_EQ(ws.document.modified, 1);
}

// Folders of running programs are never listed; a damaged last record leaves the state before it, a
// folder without a readable first state is listed with its problem; removing works only when unlocked.
TEST(EditHistory, RecoveryFindsEndedProgramsAndTheLastWholeState)
{
    TempDir dir;
    ScriptedUi ui;
    AnsweringHost host;
    std::string error;
    const std::string root = dir.path() + "sessions/";
    auto running = EditHistory::create(root, &error);
    auto ended = EditHistory::create(root, &error);
    ASSERT_TRUE(running && ended) << error;
    Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 3000, 9));
    ws.document.path = "/music/b.wav";
    ws.history = ended.get();
    ended->begin(ws.document, HistoryOrigin::Opened);
    running->begin(ws.document, HistoryOrigin::Opened);
    std::vector<StateCopy> states{copyOf(ws.document)};
    for (int id : {cmd::Halve, cmd::Reverse, cmd::Invert}) {
        ASSERT_TRUE(runEditCommand(ws, ui, host, id, 0, 0));
        states.push_back(copyOf(ws.document));
    }
    ws.history = running.get();
    ASSERT_TRUE(runEditCommand(ws, ui, host, cmd::Halve, 0, 0));
    const std::string folder = ended->folder();
    ended.reset();  // the program ends without removing its folder: its lock is free

    std::vector<RecoverableSound> found = findRecoverable(root);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].folder, folder);
    EXPECT_EQ(found[0].path, "/music/b.wav");
    EXPECT_EQ(found[0].stateCount, 3);
    EXPECT_FALSE(found[0].saved);
    EXPECT_FALSE(removeHistoryFolder(running->folder()));

    // The last record cut short, as a crash in the middle of writing it leaves it.
    const std::string log = folder + "log-0";
    std::vector<unsigned char> bytes = test::readBytes(log);
    bytes.resize(bytes.size() - 10);
    test::writeBytes(log, bytes);
    SoundDocument recovered;
    ASSERT_TRUE(recoverState(folder, std::nullopt, recovered, &error)) << error;
    EXPECT_TRUE(sameState(states[2], recovered));
    // A flipped byte in a record's sound ends the states before that record.
    bytes[bytes.size() / 2] ^= 0x40;
    test::writeBytes(log, bytes);
    ASSERT_TRUE(recoverState(folder, std::nullopt, recovered, &error)) << error;
    EXPECT_TRUE(sameState(states[0], recovered) || sameState(states[1], recovered));

    test::writeBytes(folder + "base-0", {1, 2, 3});
    found = findRecoverable(root);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].problem.empty());
    EXPECT_FALSE(recoverState(folder, std::nullopt, recovered, &error));
    EXPECT_TRUE(removeHistoryFolder(folder));
    EXPECT_TRUE(findRecoverable(root).empty());
    running->removeFolder();
    EXPECT_TRUE(folderEntries(root).empty());
}

// A child makes random edits, each recorded, and is killed at a random moment; the folder it leaves
// gives exactly its last completed state, which the edits replayed alone reproduce. The number of kills
// is kKills (the more, the longer the test runs).
TEST(EditHistory, AKilledProgramLeavesItsLastCompletedState)
{
    constexpr int kKills = 200;
    TempDir dir;
    const std::vector<int> ids = editIds();
    std::mt19937 timing(99);
    for (int kill = 0; kill < kKills; ++kill) {
        const std::string root = dir.path() + "k" + std::to_string(kill) + "/";
        const unsigned seed = 500 + kill;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ScriptedUi ui;
            AnsweringHost host;
            std::string error;
            auto history = EditHistory::create(root, &error);
            if (!history)
                ::_exit(3);
            Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 20000, seed));
            std::mt19937 rng(seed);
            scatterSelections(ws, rng);
            ws.history = history.get();
            history->begin(ws.document, HistoryOrigin::Opened);
            for (;;)
                randomStep(ws, ui, host, rng, ids);
        }
        ::usleep(2000 + timing() % 60000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself";

        std::vector<RecoverableSound> found = findRecoverable(root);
        if (found.empty() || found[0].saved)
            continue;  // killed before its first change was on disk
        SoundDocument recovered;
        std::string error;
        ASSERT_TRUE(recoverState(found[0].folder, std::nullopt, recovered, &error)) << error;
        // The same steps again, up to the state the folder reached.
        ScriptedUi ui;
        AnsweringHost host;
        auto history = EditHistory::create(dir.path() + "replay/", &error);
        Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 20000, seed));
        std::mt19937 rng(seed);
        scatterSelections(ws, rng);
        ws.history = history.get();
        history->begin(ws.document, HistoryOrigin::Opened);
        while (history->lastState() < found[0].lastState)
            randomStep(ws, ui, host, rng, ids);
        ASSERT_TRUE(sameState(copyOf(ws.document), recovered)) << "kill " << kill << " at state " << found[0].lastState;
        history->removeFolder();
    }
}

} // namespace
} // namespace sonavik
