// The equaliser (blocks of 4096) and the reverb ("やまびこ", blocks of 262144 frames) over ten minutes
// of 44.1 kHz 16-bit stereo, both channels, each against the same number of real FFTs of the same
// sizes done by FFTW (r2c and c2r, planned with FFTW_MEASURE) in the same run. Best of 3.
// Run a Release build: spectral_bench

#include "bench_support.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/edit_dispatcher.h"
#include "edit/equalizer.h"
#include "edit/reverb.h"
#include "platform/ui.h"

#include <fftw3.h>

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

// pairs forward and inverse transforms of n reals, then extraForward more forward ones.
double fftwSeconds(int n, long pairs, long extraForward)
{
    double* in = fftw_alloc_real(static_cast<std::size_t>(n));
    double* back = fftw_alloc_real(static_cast<std::size_t>(n));
    fftw_complex* spectrum = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, in, spectrum, FFTW_MEASURE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum, back, FFTW_MEASURE);
    for (int i = 0; i < n; ++i)
        in[i] = std::sin(i * 0.01) + 0.25 * std::sin(i * 1.3);
    const double seconds = secondsOf([&] {
        for (long k = 0; k < pairs; ++k) {
            fftw_execute(forward);
            fftw_execute(inverse);
        }
        for (long k = 0; k < extraForward; ++k)
            fftw_execute(forward);
    });
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(spectrum);
    fftw_free(back);
    fftw_free(in);
    return seconds;
}

} // namespace

int main()
{
    constexpr std::int32_t kFrames = 600 * 44100;
    Workspace ws;
    applyDefaultSettings(ws.settings);
    SoundDocument& doc = ws.document;
    if (!bench::fillToneDocument(doc, kFrames)) {
        std::fprintf(stderr, "no memory for %zu bytes\n", static_cast<std::size_t>(kFrames) * 4);
        return 1;
    }
    const SampleBuffer pristine = doc.samples.clone();
    auto restore = [&] { std::memcpy(doc.samples.data(), pristine.data(), doc.byteCount()); };
    QuietUi ui;
    EditHost host;
    std::printf("ten minutes, 44.1 kHz, 16-bit stereo, whole sound (both channels); best of 3\n");

    // Equaliser: a bass boost and a treble cut.
    ws.settings.eqFftSize() = 4096;
    CurvePoint* p = ws.settings.eq.points;
    p[0] = CurvePoint{1, 0, 0.1, 0.5, 0.1, 0.3};
    p[1] = CurvePoint{1, 0, 0.5, 0.5, 0.5, 0.5};
    p[2] = CurvePoint{1, 0, 0.9, 0.5, 0.9, 0.7};
    const double eq = secondsOf([&] { editTarget(ws, ui, host, cmd::Equalize, 0, -1); }, restore);
    const long c = 4096, hop = c / 2;
    const long eqBlocks = 2 * ((kFrames - c) / hop + 1);
    const double eqFftw = fftwSeconds(static_cast<int>(c), eqBlocks, 0);
    std::printf("%-34s %8.3f s   FFTW, %ld + %ld transforms of %ld: %7.3f s   ratio %.2f\n",
                "equaliser, blocks of 4096", eq, eqBlocks, eqBlocks, c, eqFftw, eq / eqFftw);

    applyReverbPreset(ws.settings, ReverbPreset::Echo, 44100);
    const long n = static_cast<long>(reverbResponseLength(ws.settings.reverbTimeStep()));
    const double reverb = secondsOf([&] { editTarget(ws, ui, host, cmd::Reverb, 0, -1); }, restore);
    const long reverbBlocks = 2 * ((kFrames + n - 1) / n);
    const double reverbFftw = fftwSeconds(static_cast<int>(2 * n), reverbBlocks, 2);
    std::printf("%-34s %8.3f s   FFTW, %ld + %ld transforms of %ld: %7.3f s   ratio %.2f\n",
                "reverb \"やまびこ\", blocks of 262144", reverb, reverbBlocks + 2, reverbBlocks, 2 * n, reverbFftw,
                reverb / reverbFftw);
    return 0;
}
