// The long edits on one and on two worker threads: reverb "大ホール", the equaliser and a convolution
// with a 65536-frame response over one hour of 44.1 kHz 16-bit stereo, whole sound. Prints each time
// and the two-thread time as a ratio to the one-thread time of the same run, and the peak memory as a
// multiple of the document's size. Each run is ended by a cancel after it has finished, which drops the
// edited copy, so every run starts from the same sound.
// Run a Release build: long_edit_bench [minutes, default 60]

#include "bench_support.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "edit/reverb.h"
#include "settings/settings.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace sonavik;

struct Timing {
    double wall;
    double processor;  // summed over the threads
};

Timing seconds(Workspace& ws, Ui& ui, int commandId, int threads)
{
    LongEditOptions options;
    options.threads = threads;
    const double p0 = bench::processorTime().total();
    const auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<LongEdit> edit = LongEdit::start(ws, ui, commandId, 0, -1, options);
    if (!edit)
        return {-1.0, -1.0};
    edit->wait();
    const auto t1 = std::chrono::steady_clock::now();
    const double p1 = bench::processorTime().total();
    edit->cancel();
    edit->finish(ui, EditHost{});
    return {std::chrono::duration<double>(t1 - t0).count(), p1 - p0};
}

// Peak resident memory of the process so far, in bytes (VmHWM), or 0 where it cannot be read.
double peakBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) * 1024.0;
    return 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const auto frames = static_cast<std::int32_t>(minutes * 60 * 44100);
    Workspace ws;
    applyDefaultSettings(ws.settings);
    if (!bench::fillToneDocument(ws.document, frames)) {
        std::fprintf(stderr, "no memory for %zu bytes\n", static_cast<std::size_t>(frames) * 4);
        return 1;
    }
    bench::QuietUi ui;

    // A decaying noise response of 65536 frames, written as a mono WAV file.
    SoundDocument response;
    response.format = {1, 1, 44100, 88200, 2, 16, 0};
    response.frameCount = 65536;
    response.samples = SampleBuffer::allocate(response.byteCount());
    std::uint32_t noise = 1;
    for (std::int32_t i = 0; i < response.frameCount; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double v = (static_cast<int>(noise >> 16) - 32768) * std::exp(-i / 12000.0);
        const auto s = static_cast<std::int16_t>(v);
        std::memcpy(response.samples.data() + 2 * i, &s, 2);
    }
    const std::string responsePath = "/tmp/sonavik_long_edit_bench_response.wav";
    if (!writeWavFile(ui, response, responsePath)) {
        std::fprintf(stderr, "cannot write %s\n", responsePath.c_str());
        return 1;
    }
    setFieldText(ws.settings.responsePath, responsePath);
    applyReverbPreset(ws.settings, ReverbPreset::LargeHall, 44100);
    ws.settings.eqFftSize() = 4096;
    ws.settings.eq.points[0] = CurvePoint{1, 0, 0.1, 0.5, 0.1, 0.3};
    ws.settings.eq.points[1] = CurvePoint{1, 0, 0.9, 0.5, 0.9, 0.7};

    const double documentBytes = static_cast<double>(ws.document.byteCount());
    std::printf("%d minutes, 44.1 kHz, 16-bit stereo (%.0f MB), whole sound, %d cores\n", minutes,
                documentBytes / 1e6, defaultEditThreads());
    struct Case {
        const char* name;
        int commandId;
    };
    const Case cases[] = {
        {"reverb \"大ホール\" (blocks of 131072)", cmd::Reverb},
        {"equaliser (blocks of 4096)", cmd::Equalize},
        {"convolution, 65536-frame response", cmd::Convolve},
    };
    for (const Case& c : cases) {
        const Timing one = seconds(ws, ui, c.commandId, 1);
        const Timing two = seconds(ws, ui, c.commandId, 2);
        std::printf("%-40s 1 thread %7.2f s   2 threads %7.2f s   ratio %.2f\n", c.name, one.wall, two.wall,
                    two.wall / one.wall);
        // On a machine shared with other work the wall times say little; the processor time per wall
        // second shows how many cores the edit kept busy.
        std::printf("%-40s processor time %.2f s and %.2f s, cores in use %.2f and %.2f\n", "", one.processor,
                    two.processor, one.processor / one.wall, two.processor / two.wall);
    }
    std::printf("peak memory %.2f x the document (the document, the copy being edited, work arrays)\n",
                peakBytes() / documentBytes);
    std::remove(responsePath.c_str());
    return 0;
}
