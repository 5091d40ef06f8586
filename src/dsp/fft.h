#pragma once
// The real FFT pair under every spectral feature, and the analysis windows of the FFT command.
//
// Packed spectrum of n reals x[0..n-1], X[k] = sum x[t] e^(-2 pi i k t / n):
//   element m holds Re X[m] for m <= n/2 and Im X[m] for m > n/2
//   (so bin k, 1 <= k < n/2, is Re at k and -Im X[k] at n - k; DC and Nyquist are real).

#include <atomic>
#include <cstddef>

namespace sonavik {

// Precondition for both: n is a power of two, n >= 2 (not checked); x holds n doubles.
// The first call for a size keeps its twiddles (about n doubles, for n up to 2^21) for the rest of
// the process; after that the transforms allocate nothing. Safe to call from several threads.

// In place: samples -> packed spectrum, unscaled.
void fftForward(std::size_t n, double* x) noexcept;

// In place: packed spectrum -> samples y[t] = x[0]/2 + x[n/2] (-1)^t / 2
//   + sum over 0 < k < n/2 of x[k] cos(2 pi k t / n) + x[n-k] sin(2 pi k t / n),
// so fftInverse(fftForward(s)) == (n/2) * s.
void fftInverse(std::size_t n, double* x) noexcept;

// From now on the transforms of the calling thread give up early, leaving x meaningless, once *flag is
// true: work that is no longer wanted ends within milliseconds even at sizes that take seconds. Null
// (the default) never gives up. Returns the flag set before, to be put back.
const std::atomic<bool>* fftSetStopFlag(const std::atomic<bool>* flag) noexcept;

// The instruction sets the vector kernels are compiled for, narrowest first. One is chosen once, at the
// first transform: the widest this processor runs, or the one the environment variable SONAVIK_SIMD names
// ("avx512", "avx2" or "portable") when the processor runs it (a wider name than the processor runs gives
// the widest it does). Every path gives the same results to the bit: the same operations in the same
// order, no fused multiply-adds. Other code with its own vector loops follows the same choice.
enum class SimdPath : int { Portable = 0, Avx2 = 1, Avx512 = 2 };

SimdPath simdPath() noexcept;
bool simdPathRuns(SimdPath path) noexcept;
// Tests and benchmarks: from now on run path (the widest one at most that this processor runs).
void useSimdPath(SimdPath path) noexcept;
// The path chosen at start (SONAVIK_SIMD or the widest).
SimdPath startSimdPath() noexcept;
// "avx512", "avx2" or "portable".
const char* simdPathName(SimdPath path) noexcept;

// Tests and benchmarks: run the portable (SSE2-width) kernels, or (false) the path chosen at start.
void fftUsePortableKernels(bool on) noexcept;
// True when a path wider than the portable one runs.
bool fftWideKernels() noexcept;

enum FftWindowType : int {
    kFftWindowRectangular = 0,
    kFftWindowHanning = 1,
    kFftWindowHamming = 2,
    kFftWindowBlackman = 3,
    kFftWindowExtendedRectangular = 4, // never offered; weighs like rectangular
};

// Weight of sample k (0 <= k < frameLength) of a frame. Never zero: the resynthesis divides by it.
// Types 0, 4 and unknown types weigh 1, and so does every type for frames shorter than 2.
double fftWindowWeight(int type, std::size_t k, std::size_t frameLength) noexcept;

} // namespace sonavik
