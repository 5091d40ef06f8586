#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sonavik {
namespace {

using Samples = std::vector<double>;

// The plain loop nest the fast transforms are measured against: bit reversal, then one pass per
// stage with the twiddles computed per (stage, j), exactly as first written.
void referenceBitReverse(std::size_t n, double* x)
{
    std::size_t j = 0;
    for (std::size_t i = 1; i + 1 < n; ++i) {
        std::size_t k = n / 2;
        while (true) {
            j ^= k;
            if (j >= k)
                break;
            k /= 2;
        }
        if (i < j)
            std::swap(x[i], x[j]);
    }
}

void referenceForward(std::size_t n, double* x)
{
    referenceBitReverse(n, x);
    double theta = -8.0 * std::atan(1.0);
    for (std::size_t h = 1; 2 * h <= n; h *= 2) {
        const std::size_t b = 2 * h, q = h / 2;
        theta /= 2;
        for (std::size_t s = 0; s < n; s += b) {
            const double t = x[s + h];
            x[s + h] = x[s] - t;
            x[s] = x[s] + t;
        }
        for (std::size_t j = 1; j < q; ++j) {
            const double c = std::cos(static_cast<double>(j) * theta);
            const double sn = std::sin(static_cast<double>(j) * theta);
            for (std::size_t s = 0; s < n; s += b) {
                const std::size_t i1 = s + j, i2 = s + h - j, i3 = s + h + j, i4 = s + b - j;
                const double t1 = x[i3] * c + x[i4] * sn;
                const double t2 = x[i4] * c - x[i3] * sn;
                x[i3] = t2 - x[i2];
                x[i4] = x[i2] + t2;
                x[i2] = x[i1] - t1;
                x[i1] = x[i1] + t1;
            }
        }
    }
}

void referenceInverse(std::size_t n, double* x)
{
    x[0] /= 2;
    x[n / 2] /= 2;
    double e = 8.0 * std::atan(1.0) / static_cast<double>(n);
    for (std::size_t b = n; b / 2 >= 1; b /= 2) {
        const std::size_t h = b / 2, q = h / 2;
        for (std::size_t s = 0; s < n; s += b) {
            const double t = x[s] - x[s + h];
            x[s] = x[s] + x[s + h];
            x[s + h] = t;
        }
        for (std::size_t j = 1; j < q; ++j) {
            const double c = std::cos(static_cast<double>(j) * e);
            const double sn = std::sin(static_cast<double>(j) * e);
            for (std::size_t s = 0; s < n; s += b) {
                const std::size_t i1 = s + j, i2 = s + h - j, i3 = s + h + j, i4 = s + b - j;
                const double t1 = x[i1] - x[i2];
                const double t2 = x[i4] + x[i3];
                x[i1] = x[i1] + x[i2];
                x[i2] = x[i4] - x[i3];
                x[i3] = t2 * sn + t1 * c;
                x[i4] = t2 * c - t1 * sn;
            }
        }
        e *= 2;
    }
    referenceBitReverse(n, x);
}

Samples randomSamples(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> value(-32768.0, 32767.0);
    Samples x(n);
    for (double& v : x)
        v = value(rng);
    return x;
}

double largestMagnitude(const Samples& x)
{
    double m = 0;
    for (double v : x)
        m = std::max(m, std::fabs(v));
    return m;
}

// Largest difference relative to the largest magnitude of the expected values.
double relativeError(const Samples& actual, const Samples& expected)
{
    double worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        worst = std::max(worst, std::fabs(actual[i] - expected[i]));
    const double scale = largestMagnitude(expected);
    return scale > 0 ? worst / scale : worst;
}

Samples forward(Samples x)
{
    fftForward(x.size(), x.data());
    return x;
}

Samples inverse(Samples x)
{
    fftInverse(x.size(), x.data());
    return x;
}

// The packed spectrum by definition, summed in long double with exactly reduced angles.
Samples directPackedSpectrum(const Samples& x)
{
    const std::size_t n = x.size();
    std::vector<long double> cosines(n), sines(n);
    const long double twoPi = 6.283185307179586476925286766559L;
    for (std::size_t m = 0; m < n; ++m) {
        cosines[m] = std::cos(twoPi * m / n);
        sines[m] = std::sin(twoPi * m / n);
    }
    Samples packed(n);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        long double re = 0, im = 0;
        for (std::size_t t = 0; t < n; ++t) {
            re += x[t] * cosines[k * t % n];
            im -= x[t] * sines[k * t % n];
        }
        packed[k] = static_cast<double>(re);
        if (k > 0 && k < n / 2)
            packed[n - k] = static_cast<double>(-im);
    }
    return packed;
}

// y[t] = x0/2 + x[n/2] (-1)^t / 2 + sum over 0 < k < n/2 of x[k] cos(2 pi k t / n) + x[n-k] sin(...).
Samples directInverse(const Samples& packed)
{
    const std::size_t n = packed.size();
    const long double twoPi = 6.283185307179586476925286766559L;
    Samples y(n);
    for (std::size_t t = 0; t < n; ++t) {
        long double sum = packed[0] / 2.0L + (t % 2 ? -1.0L : 1.0L) * packed[n / 2] / 2.0L;
        for (std::size_t k = 1; k < n / 2; ++k) {
            const long double angle = twoPi * static_cast<long double>(k * t % n) / n;
            sum += packed[k] * std::cos(angle) + packed[n - k] * std::sin(angle);
        }
        y[t] = static_cast<double>(sum);
    }
    return y;
}

// Every transform test runs on each path of kernels; those this processor cannot run are skipped.
class Fft : public ::testing::TestWithParam<SimdPath> {
protected:
    void SetUp() override
    {
        if (!simdPathRuns(GetParam()))
            GTEST_SKIP() << simdPathName(GetParam()) << " does not run on this processor";
        useSimdPath(GetParam());
    }
    void TearDown() override { fftUsePortableKernels(false); }
    bool portable() const { return GetParam() == SimdPath::Portable; }
};

INSTANTIATE_TEST_SUITE_P(Kernels, Fft, ::testing::Values(SimdPath::Avx512, SimdPath::Avx2, SimdPath::Portable),
                         [](const ::testing::TestParamInfo<SimdPath>& info) {
                             return std::string(simdPathName(info.param));
                         });

TEST_P(Fft, SmallExamples)
{
    EXPECT_EQ(forward({3, 1}), (Samples{4, 2}));
    EXPECT_EQ(inverse({4, 2}), (Samples{3, 1}));
    // X[1] = -2 + 2i: element 3 holds minus its imaginary part.
    EXPECT_EQ(forward({1, 2, 3, 4}), (Samples{10, -2, -2, -2}));
    EXPECT_EQ(inverse({10, -2, -2, -2}), (Samples{2, 4, 6, 8}));
    // Pure cosine and sine of bin 1 at n = 8: real part at element 1, minus imaginary part at 7.
    const double r = std::sqrt(0.5);
    const Samples cosine = forward({1, r, 0, -r, -1, -r, 0, r});
    const Samples sine = forward({0, r, 1, r, 0, -r, -1, -r});
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_NEAR(cosine[i], i == 1 ? 4.0 : 0.0, 1e-14) << i;
        EXPECT_NEAR(sine[i], i == 7 ? 4.0 : 0.0, 1e-14) << i; // X[1] = -4i
    }
}

TEST_P(Fft, ConstantInputHasOnlyDc)
{
    for (std::size_t n = 2; n <= (1u << 16); n *= 2) {
        const Samples spectrum = forward(Samples(n, -1.25));
        EXPECT_NEAR(spectrum[0], -1.25 * static_cast<double>(n), 1e-9) << n;
        for (std::size_t i = 1; i < n; ++i)
            ASSERT_NEAR(spectrum[i], 0.0, 1e-9) << "n " << n << " element " << i;
    }
}

TEST_P(Fft, InverseOfForwardIsHalfNTimesTheSamples)
{
    for (std::size_t n = 2; n <= (1u << 16); n *= 2) {
        const Samples s = randomSamples(n, static_cast<unsigned>(n));
        Samples expected = s;
        for (double& v : expected)
            v *= static_cast<double>(n / 2);
        EXPECT_LT(relativeError(inverse(forward(s)), expected), 1e-14) << n;
    }
}

TEST_P(Fft, MatchesTheDefinition)
{
    for (std::size_t n : {2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 1024u}) {
        const Samples s = randomSamples(n, 7 + static_cast<unsigned>(n));
        EXPECT_LT(relativeError(forward(s), directPackedSpectrum(s)), 1e-14) << n;
        EXPECT_LT(relativeError(inverse(s), directInverse(s)), 1e-14) << n;
    }
}

// Sizes around the tiled bit reversal (64), the cache-sized blocks (4096) and the kept twiddle
// tables (2^21), odd and even stage counts, and buffers that are not aligned to a vector.
TEST_P(Fft, AgreesWithThePlainAlgorithm)
{
    // 2^22 also runs its top stage with twiddles computed on the fly; that code is shared by both
    // kernel sets, so the portable run leaves it out.
    const std::size_t largest = std::size_t{1} << (portable() ? 20 : 22);
    for (std::size_t n = 2; n <= largest; n *= 2) {
        for (std::size_t offset : {0u, 1u}) {
            if (offset && n > (1u << 16))
                continue;
            const Samples s = randomSamples(n, 99 + static_cast<unsigned>(n));
            Samples buffer(n + offset);
            std::copy(s.begin(), s.end(), buffer.begin() + offset);
            fftForward(n, buffer.data() + offset);
            Samples expected = s;
            referenceForward(n, expected.data());
            const Samples actual(buffer.begin() + offset, buffer.end());
            ASSERT_LT(relativeError(actual, expected), 1e-14) << "forward n " << n << " offset " << offset;

            fftInverse(n, buffer.data() + offset);
            referenceInverse(n, expected.data());
            const Samples back(buffer.begin() + offset, buffer.end());
            ASSERT_LT(relativeError(back, expected), 1e-14) << "inverse n " << n << " offset " << offset;
        }
    }
}

TEST_P(Fft, ThreadsFirstUsingASizeGetTheSameResult)
{
    const std::size_t n = std::size_t{1} << 18;
    const Samples s = randomSamples(n, 5);
    std::vector<Samples> results(4, s);
    std::vector<std::thread> threads;
    for (Samples& r : results)
        threads.emplace_back([&r, n] { fftForward(n, r.data()); });
    for (std::thread& t : threads)
        t.join();
    for (const Samples& r : results)
        EXPECT_EQ(r, results[0]);
}

// The paths differ only in how many values they work on at once: each gives the portable path's
// results to the bit, at the sizes where the kernels change (tiles from 64, blocks from 4096, the
// largest kept twiddle tables) and on buffers not aligned to a vector.
TEST_P(Fft, GivesThePortableResultsToTheBit)
{
    for (std::size_t n = 2; n <= (std::size_t{1} << 20); n *= 2) {
        const std::size_t offset = n <= 4096 ? 1 : 0;
        Samples forwardOut(n + offset), inverseOut(n + offset);
        const Samples s = randomSamples(n, 3 + static_cast<unsigned>(n));
        std::copy(s.begin(), s.end(), forwardOut.begin() + offset);
        std::copy(s.begin(), s.end(), inverseOut.begin() + offset);
        fftForward(n, forwardOut.data() + offset);
        fftInverse(n, inverseOut.data() + offset);
        useSimdPath(SimdPath::Portable);
        const Samples portableForward = forward(s), portableInverse = inverse(s);
        useSimdPath(GetParam());
        ASSERT_TRUE(std::equal(portableForward.begin(), portableForward.end(), forwardOut.begin() + offset)) << n;
        ASSERT_TRUE(std::equal(portableInverse.begin(), portableInverse.end(), inverseOut.begin() + offset)) << n;
    }
}

TEST(FftPath, TheEnvironmentChoosesAPathTheProcessorRuns)
{
    EXPECT_TRUE(simdPathRuns(SimdPath::Portable));
    EXPECT_TRUE(simdPathRuns(startSimdPath()));
    // The widest runnable path unless SONAVIK_SIMD names a narrower one.
    const char* asked = std::getenv("SONAVIK_SIMD");
    if (!asked || std::string(asked) == "avx512") {
        EXPECT_EQ(startSimdPath(), simdPathRuns(SimdPath::Avx512) ? SimdPath::Avx512
                                   : simdPathRuns(SimdPath::Avx2) ? SimdPath::Avx2 : SimdPath::Portable);
    } else if (std::string(asked) == "portable") {
        EXPECT_EQ(startSimdPath(), SimdPath::Portable);
    }
    useSimdPath(SimdPath::Portable);
    EXPECT_FALSE(fftWideKernels());
    fftUsePortableKernels(false);
    EXPECT_EQ(simdPath(), startSimdPath());
}

TEST(FftWindow, EdgeAndCentreWeights)
{
    struct Case {
        int type;
        double edge, centre;
    };
    const Case cases[] = {
        {kFftWindowRectangular, 1.0, 1.0},
        {kFftWindowHanning, 0.005, 1.005},
        {kFftWindowHamming, 0.08, 1.0},
        {kFftWindowBlackman, 0.01, 1.01},
        {kFftWindowExtendedRectangular, 1.0, 1.0},
        {-1, 1.0, 1.0},
        {5, 1.0, 1.0},
    };
    for (const Case& c : cases) {
        for (std::size_t length : {17u, 4097u}) {
            EXPECT_NEAR(fftWindowWeight(c.type, 0, length), c.edge, 1e-15) << c.type;
            EXPECT_NEAR(fftWindowWeight(c.type, length - 1, length), c.edge, 1e-15) << c.type;
            EXPECT_NEAR(fftWindowWeight(c.type, (length - 1) / 2, length), c.centre, 1e-15) << c.type;
        }
    }
}

TEST(FftWindow, WeightsFollowTheirFormulasAndNeverReachZero)
{
    const std::size_t length = 4096;
    const double d = static_cast<double>(length - 1);
    for (std::size_t k = 0; k < length; ++k) {
        const double c1 = std::cos(static_cast<double>(k) * 6.283185307179586 / d);
        const double c2 = std::cos(static_cast<double>(k) * 12.566370614359172 / d);
        ASSERT_NEAR(fftWindowWeight(kFftWindowHanning, k, length), 0.5 * (1.01 - c1), 1e-15);
        ASSERT_NEAR(fftWindowWeight(kFftWindowHamming, k, length), 0.54 - 0.46 * c1, 1e-15);
        ASSERT_NEAR(fftWindowWeight(kFftWindowBlackman, k, length), 0.43 - 0.5 * c1 + 0.08 * c2, 1e-15);
        for (int type = 1; type <= 3; ++type)
            ASSERT_GT(fftWindowWeight(type, k, length), 0.0049) << type << " " << k;
    }
    EXPECT_NEAR(fftWindowWeight(kFftWindowHanning, 1, 5), 0.505, 1e-15);
}

TEST(FftWindow, FramesTooShortForTheFormulasWeighOne)
{
    for (int type = 0; type <= 4; ++type) {
        EXPECT_EQ(fftWindowWeight(type, 0, 1), 1.0) << type;
        EXPECT_EQ(fftWindowWeight(type, 0, 0), 1.0) << type;
    }
}

} // namespace
} // namespace sonavik
