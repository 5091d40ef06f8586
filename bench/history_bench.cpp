// The edit history on one hour of 44.1 kHz 16-bit stereo: what a one-second edit adds to the folder and
// to the edit's time, and how long going back to any of 100 states takes, each against a copy of the
// whole sound in memory measured in the same run. The first state (the sound as opened) is written on
// a thread from the opening; how long that takes and what the first change then adds are printed too.

#include "bench_support.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"
#include "history/edit_history.h"
#include "platform/durable_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using namespace sonavik;

double since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main()
{
    constexpr std::int32_t kFrames = 3600 * 44100;
    constexpr int kStates = 100;
    char folderName[] = "/tmp/sonavik-history-bench-XXXXXX";
    if (!mkdtemp(folderName)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string root = std::string(folderName) + "/";
    Workspace ws;
    applyDefaultSettings(ws.settings);
    if (!bench::fillToneDocument(ws.document, kFrames)) {
        std::fprintf(stderr, "no memory for an hour of stereo\n");
        return 1;
    }
    bench::QuietUi ui;
    EditHost host;
    std::string error;
    auto history = EditHistory::create(root, &error);
    if (!history) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    history->begin(ws.document, HistoryOrigin::Opened);
    // The sound as opened goes to the folder meanwhile; edits wait for it (the dispatcher settles first).
    history->settle();
    const double baseSeconds = since(t0);

    t0 = std::chrono::steady_clock::now();
    SoundDocument copy = ws.document.copyWithSamples();
    const double copySeconds = since(t0);
    copy = SoundDocument{};

    std::mt19937 rng(5);
    double firstSeconds = 0, worstSeconds = 0, totalSeconds = 0;
    std::uint64_t worstBytes = 0;
    for (int i = 0; i < kStates; ++i) {
        const std::int32_t start = static_cast<std::int32_t>(rng() % (kFrames - 44100));
        ws.red = RedSelection{start, start + 44099, static_cast<std::int32_t>(rng() % 2)};
        const int id = i % 2 ? cmd::Invert : cmd::Halve;
        // The edit without the history, then the history's part of it timed alone.
        ws.history = nullptr;
        if (!runEditCommand(ws, ui, host, id, 12, 0)) {
            std::fprintf(stderr, "edit %d refused\n", i);
            return 1;
        }
        ChangeNote note = changeNoteFor(*findEditCommand(id), ws.undoStore, ws.red, 12, 0);
        const std::uint64_t before = history->bytesOnDisk();
        t0 = std::chrono::steady_clock::now();
        if (!history->recordChange(ws.undoStore, ws.document, note)) {
            std::fprintf(stderr, "history: %s\n", history->failure().c_str());
            return 1;
        }
        const double seconds = since(t0);
        if (i == 0) {
            firstSeconds = seconds;  // takes the first state written meanwhile
            continue;
        }
        worstSeconds = std::max(worstSeconds, seconds);
        totalSeconds += seconds;
        worstBytes = std::max(worstBytes, history->bytesOnDisk() - before);
    }
    ws.undoStore = SoundDocument{};
    double worstBack = 0;
    int worstState = 0;
    for (int k : {0, 1, 25, 50, 75, 99, static_cast<int>(rng() % kStates), static_cast<int>(rng() % kStates)}) {
        SoundDocument state;
        t0 = std::chrono::steady_clock::now();
        if (!history->rebuildState(ws.document, k, state, &error)) {
            std::fprintf(stderr, "state %d: %s\n", k, error.c_str());
            return 1;
        }
        const double seconds = since(t0);
        if (seconds > worstBack) {
            worstBack = seconds;
            worstState = k;
        }
    }
    std::printf("one hour of 44.1 kHz stereo (%.0f MB); a copy of it in memory: %.1f ms\n", ws.document.byteCount() / 1e6,
                copySeconds * 1e3);
    std::printf("the sound as opened, written meanwhile from its opening: %.0f ms; first change then: %.0f ms, %.0f MB on disk\n",
                baseSeconds * 1e3, firstSeconds * 1e3,
                history->bytesOnDisk() / 1e6 - (kStates - 1) * 0.0);
    std::printf("one-second edit: at most %.3f MB added (limit 1 MB), at most %.2f ms added, mean %.2f ms (limit 20 ms),"
                " %.3f of the copy's time\n",
                worstBytes / 1e6, worstSeconds * 1e3, totalSeconds / (kStates - 1) * 1e3, worstSeconds / copySeconds);
    std::printf("going back to any of %d states: at most %.0f ms (state %d; limit 1000 ms), %.2f times the copy's time\n",
                kStates, worstBack * 1e3, worstState, worstBack / copySeconds);
    history->removeFolder();
    removeFlatFolder(root);
    return 0;
}
