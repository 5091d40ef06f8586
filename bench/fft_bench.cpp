// fftForward and fftInverse against FFTW's real transforms of the same size, timed in the same run:
// FFTW's in-place r2r (halfcomplex, the layout closest to ours) and out-of-place r2c/c2r, planned
// with FFTW_MEASURE before any timing. Ours run the path SONAVIK_SIMD names (avx512, avx2, portable) or
// the widest this processor runs. Run a Release build: fft_bench

#include "dsp/fft.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

using namespace sonavik;

namespace {

// Nanoseconds per call: the best of `runs` runs of `calls` back-to-back calls. Repeated transforms
// of the same buffer grow its values by about sqrt(n) a call, so `calls` stays well below overflow
// and `reset` (not timed) restores the input before every run.
double nanosecondsPerCall(int runs, int calls, const std::function<void()>& reset,
                          const std::function<void()>& call)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        reset();
        const auto start = std::chrono::steady_clock::now();
        for (int c = 0; c < calls; ++c)
            call();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / calls);
    }
    return best;
}

struct FftwBuffer {
    explicit FftwBuffer(std::size_t count) : data(static_cast<double*>(fftw_malloc(count * sizeof(double)))) {}
    ~FftwBuffer() { fftw_free(data); }
    FftwBuffer(const FftwBuffer&) = delete;
    FftwBuffer& operator=(const FftwBuffer&) = delete;
    double* data;
};

void benchmark(std::size_t n, int runs, int calls)
{
    std::vector<double> input(n);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (double& v : input)
        v = value(rng);

    FftwBuffer ours(n), halfComplex(n), real(n + 2), complexOut(n + 2);
    fftw_plan r2hc = fftw_plan_r2r_1d(static_cast<int>(n), halfComplex.data, halfComplex.data, FFTW_R2HC, FFTW_MEASURE);
    fftw_plan hc2r = fftw_plan_r2r_1d(static_cast<int>(n), halfComplex.data, halfComplex.data, FFTW_HC2R, FFTW_MEASURE);
    fftw_plan r2c = fftw_plan_dft_r2c_1d(static_cast<int>(n), real.data,
                                         reinterpret_cast<fftw_complex*>(complexOut.data), FFTW_MEASURE);
    fftw_plan c2r = fftw_plan_dft_c2r_1d(static_cast<int>(n), reinterpret_cast<fftw_complex*>(complexOut.data),
                                         real.data, FFTW_MEASURE);

    auto fill = [&](double* target) { std::memcpy(target, input.data(), n * sizeof(double)); };
    auto fillComplex = [&] {
        std::memcpy(complexOut.data, input.data(), n * sizeof(double));
        complexOut.data[1] = complexOut.data[n] = complexOut.data[n + 1] = 0; // real DC and Nyquist
    };
    fill(ours.data);
    fftForward(n, ours.data); // builds the twiddle tables

    const double oursForward = nanosecondsPerCall(runs, calls, [&] { fill(ours.data); },
                                                  [&] { fftForward(n, ours.data); });
    const double oursInverse = nanosecondsPerCall(runs, calls, [&] { fill(ours.data); },
                                                  [&] { fftInverse(n, ours.data); });
    fftUsePortableKernels(true);
    const double portableForward = nanosecondsPerCall(runs, calls, [&] { fill(ours.data); },
                                                      [&] { fftForward(n, ours.data); });
    const double portableInverse = nanosecondsPerCall(runs, calls, [&] { fill(ours.data); },
                                                      [&] { fftInverse(n, ours.data); });
    fftUsePortableKernels(false);
    const double fftwR2hc = nanosecondsPerCall(runs, calls, [&] { fill(halfComplex.data); },
                                               [&] { fftw_execute(r2hc); });
    const double fftwHc2r = nanosecondsPerCall(runs, calls, [&] { fill(halfComplex.data); },
                                               [&] { fftw_execute(hc2r); });
    // Out of place: r2c leaves its input alone; c2r may overwrite it, so it gets fresh input per run.
    const double fftwR2c = nanosecondsPerCall(runs, calls, [&] { fill(real.data); }, [&] { fftw_execute(r2c); });
    const double fftwC2r = nanosecondsPerCall(runs, calls, fillComplex, [&] { fftw_execute(c2r); });

    const double bestForward = std::min(fftwR2hc, fftwR2c);
    const double bestInverse = std::min(fftwHc2r, fftwC2r);
    std::printf("n = %7zu forward %9.1f us (portable %9.1f)  FFTW r2hc %9.1f  r2c %9.1f  ratio %.2f (%.2f)\n", n,
                oursForward / 1000, portableForward / 1000, fftwR2hc / 1000, fftwR2c / 1000, oursForward / bestForward,
                portableForward / bestForward);
    std::printf("          inverse %9.1f us (portable %9.1f)  FFTW hc2r %9.1f  c2r %9.1f  ratio %.2f (%.2f)\n",
                oursInverse / 1000, portableInverse / 1000, fftwHc2r / 1000, fftwC2r / 1000, oursInverse / bestInverse,
                portableInverse / bestInverse);

    fftw_destroy_plan(r2hc);
    fftw_destroy_plan(hc2r);
    fftw_destroy_plan(r2c);
    fftw_destroy_plan(c2r);
}

} // namespace

int main()
{
    std::printf("SIMD path %s. Best time per transform. Ratio: ours / the faster FFTW real transform; in brackets\n"
                "with the portable kernels that machines without AVX2 run.\n",
                simdPathName(simdPath()));
    benchmark(4096, 40, 100);
    benchmark(65536, 20, 40);
    benchmark(1048576, 10, 8);
    return 0;
}
