// The spectrogram write-back ("I FFT") on one and on two worker threads: a spectrogram of the left
// channel (n = 4096, Hanning) written back into both channels of 44.1 kHz 16-bit stereo. Prints each
// time and the two-thread time as a ratio to the one-thread time of the same run. Each run is ended by a
// cancel after it has finished, which drops the written copy, so every run starts from the same sound.
// Run a Release build: resynthesis_bench [minutes, default 20]

#include "bench_support.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "settings/settings.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectrogram_analysis.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace sonavik;

struct Timing {
    double wall = -1.0;
    double processor = -1.0;  // summed over the threads
};

Timing seconds(Workspace& ws, Ui& ui, const Spectrogram& s, int threads)
{
    LongEditOptions options;
    options.threads = threads;
    const double p0 = bench::processorTime().total();
    const auto t0 = std::chrono::steady_clock::now();
    ResynthesisStart started = startResynthesis(ws, ui, s, [&] {
        ws.settings.applyUseAlpha = 0;
        ws.settings.applyLeft = 1;
        ws.settings.applyRight = 1;
        return true;
    }, options);
    if (!started.edit)
        return {};
    started.edit->wait();
    const auto t1 = std::chrono::steady_clock::now();
    const double p1 = bench::processorTime().total();
    started.edit->cancel();
    started.edit->finish(ui, EditHost{});
    return {std::chrono::duration<double>(t1 - t0).count(), p1 - p0};
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const auto frames = static_cast<std::int32_t>(minutes * 60 * 44100);
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.settings.fftLength = 4096;
    ws.settings.fftWindow = kFftWindowHanning;
    if (!bench::fillToneDocument(ws.document, frames)) {
        std::fprintf(stderr, "no memory for an %d-minute document\n", minutes);
        return 1;
    }
    bench::QuietUi ui;
    EditRegion region;
    region.channel = 0;
    region.start = 0;
    region.end = frames - 1;
    const std::unique_ptr<Spectrogram> s = analyseSpectrogram(ui, ws.document, region, ws.settings);
    if (!s) {
        std::fprintf(stderr, "the analysis was refused (memory)\n");
        return 1;
    }
    const Timing one = seconds(ws, ui, *s, 1);
    const Timing two = seconds(ws, ui, *s, 2);
    std::printf("SIMD path %s; %d minutes, 44.1 kHz stereo, n = 4096, %d frames written into both channels, %d cores\n",
                simdPathName(simdPath()), minutes, s->spectrumCount, defaultEditThreads());
    std::printf("I FFT   1 thread %7.2f s   2 threads %7.2f s   ratio %.2f\n", one.wall, two.wall, two.wall / one.wall);
    // On a machine shared with other work the wall times say little; the processor time per wall second
    // shows how many cores the write-back kept busy.
    std::printf("        processor time %.2f s and %.2f s, cores in use %.2f and %.2f\n", one.processor, two.processor,
                one.processor / one.wall, two.processor / two.wall);
    return 0;
}
