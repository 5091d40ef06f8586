// The FFT command's analysis and colouring of one hour of 44.1 kHz 16-bit sound (one channel) at
// n = 4096, against the same number of real FFTs of that size done by FFTW (r2c, planned with
// FFTW_MEASURE) in the same run, and the inverse (writing an unedited spectrogram back) against as many
// FFTW c2r transforms: in place (the command line's way) and as the window's I FFT does it (into a copy
// of the sound that then becomes the document), both on the default threads. Best of 3 in wall time;
// the processor time (user, all threads) is the mean of the three, so a loaded machine shows in the gap
// between the two. The analysis runs on one thread first (the process's first, which maps its memory)
// and then on the default threads. Prints the memory the analysis holds and the peak of the process.
// The system time is mostly the kernel clearing the 1.7 GB of fresh pages the first analysis writes;
// later ones reuse them.
// Run a Release build: spectrogram_bench

#include "bench_support.h"
#include "document/selection.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "document/sample_summary.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "settings/settings.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectrogram_analysis.h"

#include <fftw3.h>

#include <sys/resource.h>

#include <algorithm>
#include <thread>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace sonavik;

using bench::QuietUi;
using bench::secondsOf;

using bench::ProcessorTime;
using bench::processorTime;

struct Timing {
    double wall;    // best of three
    double user;    // mean of three
    double system;  // mean of three
};

Timing timed(const std::function<void()>& work, const std::function<void()>& reset = {})
{
    // The resets run untimed by the clock but inside the processor time; they only free memory.
    const ProcessorTime t0 = processorTime();
    const double wall = secondsOf(work, reset);
    const ProcessorTime t1 = processorTime();
    return {wall, (t1.user - t0.user) / 3.0, (t1.system - t0.system) / 3.0};
}

// transforms FFTW transforms of n reals (r2c) or of n/2 + 1 complex values (c2r), each on input copied
// in fresh from a prepared buffer, as the analysis loads each frame.
Timing fftwSeconds(int n, long transforms, bool inverse)
{
    double* real = fftw_alloc_real(static_cast<std::size_t>(n));
    fftw_complex* spectrum = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftw_plan plan = inverse ? fftw_plan_dft_c2r_1d(n, spectrum, real, FFTW_MEASURE)
                             : fftw_plan_dft_r2c_1d(n, real, spectrum, FFTW_MEASURE);
    std::vector<double> source(static_cast<std::size_t>(n + 2));
    for (int i = 0; i < n + 2; ++i)
        source[i] = static_cast<double>((i * 7919) % 20000 - 10000);
    const Timing seconds = timed([&] {
        for (long t = 0; t < transforms; ++t) {
            if (inverse)
                std::memcpy(spectrum, source.data(), static_cast<std::size_t>(n + 2) * sizeof(double));
            else
                std::memcpy(real, source.data(), static_cast<std::size_t>(n) * sizeof(double));
            fftw_execute(plan);
        }
    });
    fftw_destroy_plan(plan);
    fftw_free(spectrum);
    fftw_free(real);
    return seconds;
}

// The same transforms with our own fftForward, for the share of the analysis that is the FFT itself.
Timing oursSeconds(int n, long transforms)
{
    std::vector<double> source(static_cast<std::size_t>(n)), x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        source[i] = static_cast<double>((i * 7919) % 20000 - 10000);
    return timed([&] {
        for (long t = 0; t < transforms; ++t) {
            std::memcpy(x.data(), source.data(), static_cast<std::size_t>(n) * sizeof(double));
            fftForward(static_cast<std::size_t>(n), x.data());
        }
    });
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main()
{
    constexpr std::int32_t kFrames = 44100 * 3600;
    constexpr int kN = 4096;
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.settings.fftLength = kN;
    ws.settings.fftWindow = kFftWindowHanning;
    if (!bench::fillToneDocument(ws.document, kFrames)) {
        std::printf("not enough memory for an hour of stereo sound\n");
        return 1;
    }
    QuietUi ui;
    EditRegion region;
    region.channel = 0;
    region.start = 0;
    region.end = kFrames - 1;

    const int threads = defaultSpectrogramThreads();
    std::unique_ptr<Spectrogram> s;
    const Timing single = timed([&] { s = analyseSpectrogram(ui, ws.document, region, ws.settings, 1); },
                                [&] { s.reset(); });
    const Timing analysis = timed([&] { s = analyseSpectrogram(ui, ws.document, region, ws.settings, threads); },
                                  [&] { s.reset(); });
    if (!s) {
        std::printf("the analysis was refused (memory)\n");
        return 1;
    }
    const long frames = s->spectrumCount;
    const Timing colouring = timed([&] { colourSpectrogram(*s, colourFactorsOf(ws.settings), threads); });
    const Timing fftwForward = fftwSeconds(kN, frames, false);
    const Timing oursForward = oursSeconds(kN, frames);

    ws.settings.applyUseAlpha = 0;
    presetApplyOptions(ws.settings, *s);
    const double inverse = secondsOf([&] { resynthesizeSpectrogram(ws, ui, *s); });
    ensureSummary(ws.document);
    bool threadedDone = true;
    const double inverseThreads = secondsOf([&] {
        ResynthesisStart started = startResynthesis(ws, ui, *s, nullptr);
        if (!started.edit) {
            threadedDone = false;
            return;
        }
        started.edit->wait();
        threadedDone = threadedDone && started.edit->finish(ui, EditHost{}) == LongEditOutcome::Done;
    });
    if (!threadedDone) {
        std::printf("the threaded write-back did not finish\n");
        return 1;
    }
    const double fftwInverse = fftwSeconds(kN, frames, true).wall;

    const double spectraMb = static_cast<double>(s->spectra.size() * sizeof(float)) / (1 << 20);
    const double bitmapMb = static_cast<double>(s->colourBitmap.size()) / (1 << 20);
    const double soundMb = static_cast<double>(ws.document.byteCount()) / (1 << 20);
    std::printf("SIMD path %s; one hour of 44.1 kHz sound, one channel, n = %d, Hanning: %ld frames x %d bins\n",
                simdPathName(simdPath()), kN, frames, s->binCount);
    std::printf("threads: %d (cores %u)\n", threads, std::thread::hardware_concurrency());
    std::printf("analysis + colouring %7.3f s   FFTW r2c x %ld %7.3f s   ratio %.2f   (CPU user %.3f s + system %.3f s; "
                "FFTW user %.3f s)\n",
                analysis.wall, frames, fftwForward.wall, analysis.wall / fftwForward.wall, analysis.user,
                analysis.system, fftwForward.user);
    std::printf("  on one thread      %7.3f s   ratio %.2f   (CPU user %.3f s + system %.3f s; user ratio %.2f)\n",
                single.wall, single.wall / fftwForward.wall, single.user, single.system,
                single.user / fftwForward.user);
    std::printf("  of which FFTs      %7.3f s (fftForward x %ld alone, ratio %.2f to FFTW; user CPU %.3f s)\n",
                oursForward.wall, frames, oursForward.wall / fftwForward.wall, oursForward.user);
    std::printf("colouring again      %7.3f s (linear, %d threads; user CPU %.3f s)\n", colouring.wall, threads,
                colouring.user);
    std::printf("resynthesis          %7.3f s   FFTW c2r x %ld %7.3f s   ratio %.2f\n", inverse, frames, fftwInverse,
                inverse / fftwInverse);
    std::printf("  in the window      %7.3f s   ratio %.2f   (%d threads, the edit's copy of the sound and its summary)\n",
                inverseThreads, inverseThreads / fftwInverse, threads);
    std::printf("memory: spectra %.0f MiB + picture %.0f MiB (sound %.0f MiB); peak of the process %.0f MiB\n",
                spectraMb, bitmapMb, soundMb, peakMegabytes());
    return 0;
}
