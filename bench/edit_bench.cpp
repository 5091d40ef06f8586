// Times the time-domain edits on one hour of 44.1 kHz 16-bit stereo held in memory, each against a
// memcpy of the same number of bytes in the same run (best of 3), and the undo snapshot the same way.

#include "bench_support.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "platform/ui.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

namespace {

using namespace sonavik;

using bench::QuietUi;
using bench::secondsOf;

} // namespace

int main()
{
    constexpr std::int32_t kFrames = 3600 * 44100;
    Workspace ws;
    applyDefaultSettings(ws.settings);
    SoundDocument& doc = ws.document;
    if (!bench::fillToneDocument(doc, kFrames)) {
        std::fprintf(stderr, "no memory for %zu bytes\n", static_cast<std::size_t>(kFrames) * 4);
        return 1;
    }
    const std::size_t bytes = doc.byteCount();
    const SampleBuffer pristine = doc.samples.clone();
    SampleBuffer target = SampleBuffer::allocate(bytes);
    std::memset(target.data(), 1, bytes);
    auto restore = [&] { std::memcpy(doc.samples.data(), pristine.data(), bytes); };

    const double copy = secondsOf([&] { std::memcpy(target.data(), doc.samples.data(), bytes); });
    std::printf("one hour, 44.1 kHz, 16-bit stereo: %zu bytes\n", bytes);
    std::printf("%-44s %8.3f s\n", "memcpy of the same bytes (reference)", copy);

    QuietUi ui;
    EditHost host;
    struct Run {
        const char* name;
        int id;
        int target;
    };
    const Run runs[] = {
        {"silence, whole channels", cmd::Silence, 0},
        {"invert, whole channels", cmd::Invert, 0},
        {"reverse, whole channels", cmd::Reverse, 0},
        {"linear fade-in, whole channels", cmd::FadeInLinear, 0},
        {"double, whole-length blue selection, Cos", cmd::Double, 7},
    };
    doc.leftSelections[0] = Selection{SelectionKind::Blue, 0, kFrames - 1, 0.0, 1.0, SelectionShape::Cos, 1.0};
    for (const Run& r : runs) {
        const double t = secondsOf([&] { editTarget(ws, ui, host, r.id, r.target, -1); }, restore);
        std::printf("%-44s %8.3f s  %5.2f x memcpy\n", r.name, t, t / copy);
    }

    // The snapshot copies into a fresh buffer, so the fair reference also takes fresh memory.
    const double snapshot = secondsOf([&] { snapshotForEdit(doc, ws.undoStore, ui); },
                                      [&] { ws.undoStore = SoundDocument{}; });
    const double freshCopy = secondsOf([&] {
        SampleBuffer fresh = SampleBuffer::allocate(bytes);
        std::memcpy(fresh.data(), doc.samples.data(), bytes);
    });
    std::printf("%-44s %8.3f s  %5.2f x memcpy, %5.2f x allocate+memcpy (%.3f s)\n", "undo snapshot", snapshot,
                snapshot / copy, snapshot / freshCopy, freshCopy);
    return 0;
}
