#include "dsp/fft.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

// A radix-2 real FFT (decimation in time forward, in frequency backward) whose butterflies keep
// every block in the packed layout. Against the textbook loop nest it
// - computes each twiddle once per process and keeps it (one table per stage size),
// - runs two stages per pass over the data, depth first, so a 4096-element block does all its
//   stages while it is in cache,
// - does the three smallest stages inside the bit reversal, in tiles of whole cache lines,
// - runs the butterflies on vectors (AVX-512 or AVX2 where present).
// Each butterfly computes what the textbook one does, so results agree up to rounding.

namespace sonavik {
namespace {

constexpr int kMaxTableLevel = 19;        // stages up to 2^21 keep their twiddles (16 MiB at most)
constexpr std::size_t kLeafSize = 4096;   // blocks up to this size run their stages breadth first
constexpr std::size_t kChunk = 256;       // twiddles computed at a time where there is no table
// Elements per block of the first `pairs` pairs of stages (16 and 32, 64 and 128, ...).
constexpr std::size_t kSmallBlockOf(int pairs) { return std::size_t{32} << (2 * (pairs - 1)); }
constexpr std::size_t kStopCheckSize = std::size_t{1} << 16;  // blocks from this size on look at the stop flag

thread_local const std::atomic<bool>* tStopFlag = nullptr;

// Whether this thread's transform is no longer wanted (fftSetStopFlag).
bool stopped() { return tStopFlag && tStopFlag->load(std::memory_order_relaxed); }

int log2Of(std::size_t n)
{
    int m = 0;
    while ((std::size_t{1} << m) < n)
        ++m;
    return m;
}

double twoPi()
{
    static const double value = 8.0 * std::atan(1.0);
    return value;
}

// Stage with half-block h = 2q: entry j < q of its table holds cos(j*2pi/4q) and, q entries later,
// sin(j*2pi/4q). The angle is formed exactly as j * (8 atan(1) / b), which halving reproduces.
void fillTwiddles(double* table, std::size_t q, std::size_t jFirst, std::size_t count)
{
    const double step = twoPi() / static_cast<double>(4 * q);
    for (std::size_t i = 0; i < count; ++i) {
        const double angle = static_cast<double>(jFirst + i) * step;
        table[i] = std::cos(angle);
        table[count + i] = std::sin(angle);
    }
}

std::atomic<const double*> gTables[kMaxTableLevel + 1];

// Null when the level is too large to keep or memory is short; callers then compute in chunks.
const double* twiddleTable(int level)
{
    if (level > kMaxTableLevel)
        return nullptr;
    if (const double* table = gTables[level].load(std::memory_order_acquire))
        return table;
    const std::size_t q = std::size_t{1} << level;
    double* table = new (std::nothrow) double[2 * q];
    if (!table)
        return nullptr;
    fillTwiddles(table, q, 0, q);
    const double* expected = nullptr;
    if (!gTables[level].compare_exchange_strong(expected, table, std::memory_order_acq_rel)) {
        delete[] table; // another thread got there first; its table is identical
        return expected;
    }
    return table;
}

// Vectors of doubles; the widest kind the processor runs is chosen once at run time. The packed
// layout walks half of the indices downwards, so those are loaded and stored reversed.
typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));

template <class V>
constexpr std::size_t kLanes = sizeof(V) / sizeof(double);

template <class V>
[[gnu::always_inline]] inline void load(V& v, const double* p)
{
    std::memcpy(&v, p, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v)
{
    std::memcpy(p, &v, sizeof v);
}

// Element i of v is p[-i].
template <class V>
[[gnu::always_inline]] inline void loadReversed(V& v, const double* p)
{
    load(v, p - (kLanes<V> - 1));
    if constexpr (kLanes<V> == 2)
        v = __builtin_shufflevector(v, v, 1, 0);
    else if constexpr (kLanes<V> == 4)
        v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
    else if constexpr (kLanes<V> == 8)
        v = __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
}

template <class V>
[[gnu::always_inline]] inline void storeReversed(double* p, const V& v)
{
    if constexpr (kLanes<V> == 2)
        store(p - 1, V(__builtin_shufflevector(v, v, 1, 0)));
    else if constexpr (kLanes<V> == 4)
        store(p - 3, V(__builtin_shufflevector(v, v, 3, 2, 1, 0)));
    else if constexpr (kLanes<V> == 8)
        store(p - 7, V(__builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0)));
    else
        store(p, v);
}

// Square transpose of kLanes<V> vectors.
template <class V>
[[gnu::always_inline]] inline void transpose(V* r)
{
    if constexpr (kLanes<V> == 2) {
        const V a = __builtin_shufflevector(r[0], r[1], 0, 2);
        r[1] = __builtin_shufflevector(r[0], r[1], 1, 3);
        r[0] = a;
    } else if constexpr (kLanes<V> == 8) {
        // Pairs of lanes, then of two, then of four: element i of r[k] goes to element k of r[i].
        V t[8], u[8];
#pragma GCC unroll 4
        for (int k = 0; k < 8; k += 2) {
            t[k] = __builtin_shufflevector(r[k], r[k + 1], 0, 8, 2, 10, 4, 12, 6, 14);
            t[k + 1] = __builtin_shufflevector(r[k], r[k + 1], 1, 9, 3, 11, 5, 13, 7, 15);
        }
#pragma GCC unroll 2
        for (int k = 0; k < 8; k += 4) {
            u[k] = __builtin_shufflevector(t[k], t[k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            u[k + 1] = __builtin_shufflevector(t[k + 1], t[k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
            u[k + 2] = __builtin_shufflevector(t[k], t[k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
            u[k + 3] = __builtin_shufflevector(t[k + 1], t[k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
        }
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            r[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            r[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    } else {
        const V t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 2, 6);
        const V t1 = __builtin_shufflevector(r[0], r[1], 1, 5, 3, 7);
        const V t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 2, 6);
        const V t3 = __builtin_shufflevector(r[2], r[3], 1, 5, 3, 7);
        r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
        r[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
        r[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
        r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
    }
}

// The two butterflies, on registers; c and s belong to the positive angle j*2pi/b (the forward
// transform turns the other way). Arguments are the elements j, h - j, h + j and b - j of a block.
template <class T, class W>
[[gnu::always_inline]] inline void forwardButterfly(T& a1, T& a2, T& a3, T& a4, const W& c, const W& s)
{
    const T t1 = a3 * c - a4 * s;
    const T t2 = a4 * c + a3 * s;
    a3 = t2 - a2;
    a4 = a2 + t2;
    a2 = a1 - t1;
    a1 = a1 + t1;
}

template <class T, class W>
[[gnu::always_inline]] inline void inverseButterfly(T& a1, T& a2, T& a3, T& a4, const W& c, const W& s)
{
    const T t1 = a1 - a2;
    const T t2 = a4 + a3;
    a1 = a1 + a2;
    a2 = a4 - a3;
    a3 = t2 * s + t1 * c;
    a4 = t2 * c - t1 * s;
}

// Runs f(i, lanes) over i = 0 .. count - 1 in the widest steps that fit.
template <class V, class F>
[[gnu::always_inline]] inline void forLanes(std::size_t count, F&& f)
{
    std::size_t i = 0;
    for (; i + kLanes<V> <= count; i += kLanes<V>)
        f.template operator()<V>(i);
    if constexpr (kLanes<V> > 4) {
        if (i + 4 <= count) {
            f.template operator()<V4>(i);
            i += 4;
        }
    }
    if constexpr (kLanes<V> > 2) {
        if (i + 2 <= count) {
            f.template operator()<V2>(i);
            i += 2;
        }
    }
    for (; i < count; ++i)
        f.template operator()<double>(i);
}

// One stage of block size b: butterflies j0 .. j0 + count - 1 of every block in [x, x + length),
// and with `pairs` the first butterfly (elements 0 and b/2) too. c[i], s[i] belong to j0 + i.
template <bool Forward, class V>
[[gnu::always_inline]] inline void stageBlocks(double* x, std::size_t length, std::size_t b, std::size_t j0,
                                               std::size_t count, const double* c, const double* s, bool pairs)
{
    const std::size_t h = b / 2;
    for (std::size_t start = 0; start < length; start += b) {
        double* block = x + start;
        if (pairs) {
            const double a = block[0], t = block[h];
            block[0] = a + t;
            block[h] = a - t;
        }
        double* up1 = block + j0;
        double* down2 = block + h - j0;
        double* up3 = block + h + j0;
        double* down4 = block + b - j0;
        // Inlined, as the helpers of tiledBitReverse are: out of line a lambda loses the target attribute.
        forLanes<V>(count, [&]<class U>(std::size_t i) __attribute__((always_inline)) {
            U a1, a2, a3, a4, cv, sv;
            load(a1, up1 + i);
            loadReversed(a2, down2 - i);
            load(a3, up3 + i);
            loadReversed(a4, down4 - i);
            load(cv, c + i);
            load(sv, s + i);
            if constexpr (Forward)
                forwardButterfly(a1, a2, a3, a4, cv, sv);
            else
                inverseButterfly(a1, a2, a3, a4, cv, sv);
            store(up1 + i, a1);
            storeReversed(down2 - i, a2);
            store(up3 + i, a3);
            storeReversed(down4 - i, a4);
        });
    }
}

// The elements 0 and h of two neighbouring blocks of b (a0, ah and b0, bh) through stages b and 2b.
template <bool Forward, class T>
[[gnu::always_inline]] inline void pairedEnds(T& a0, T& ah, T& b0, T& bh)
{
    if constexpr (Forward) {
        const T s0 = a0 + ah, s1 = b0 + bh;
        ah = a0 - ah;
        bh = b0 - bh;
        a0 = s0 + s1;
        b0 = s0 - s1;
    } else {
        const T s0 = a0 + b0, s1 = a0 - b0;
        a0 = s0 + ah;
        ah = s0 - ah;
        b0 = s1 + bh;
        bh = s1 - bh;
    }
}

// The eight elements j, h - j, h + j, b - j of two neighbouring blocks of b (e and f) through stages b
// and 2b; w: stage b's twiddle of j, u and v: stage 2b's of j and h - j.
template <bool Forward, class T, class W>
[[gnu::always_inline]] inline void pairedGroup(T& e1, T& e2, T& e3, T& e4, T& f1, T& f2, T& f3, T& f4, const W& wc,
                                               const W& ws, const W& uc, const W& us, const W& vc, const W& vs)
{
    if constexpr (Forward) {
        forwardButterfly(e1, e2, e3, e4, wc, ws);
        forwardButterfly(f1, f2, f3, f4, wc, ws);
        forwardButterfly(e1, e4, f1, f4, uc, us);
        forwardButterfly(e2, e3, f2, f3, vc, vs);
    } else {
        inverseButterfly(e1, e4, f1, f4, uc, us);
        inverseButterfly(e2, e3, f2, f3, vc, vs);
        inverseButterfly(e1, e2, e3, e4, wc, ws);
        inverseButterfly(f1, f2, f3, f4, wc, ws);
    }
}

// Stages b and 2b together on every block of 2b in [x, x + length): one pass instead of two. With
// h = b/2 and q = b/4, the butterflies j of stage b in both halves and the butterflies j and h - j
// of stage 2b share the eight elements j, h - j, h + j, b - j and b plus each of these; the
// elements 0, h, b, b + h and q, h + q, b + q, b + h + q close two smaller groups. tb, t2b: the
// twiddle tables of the two stages (cosines, then sines q and h entries later).
template <bool Forward, class V>
[[gnu::always_inline]] inline void pairedStages(double* x, std::size_t length, std::size_t b, const double* tb,
                                                const double* t2b)
{
    const std::size_t h = b / 2, q = b / 4;
    const double* cb = tb;
    const double* sb = tb + q;
    const double* c2 = t2b;
    const double* s2 = t2b + h;
    for (std::size_t start = 0; start < length; start += 2 * b) {
        double* x0 = x + start;
        double* x1 = x0 + b;
        pairedEnds<Forward>(x0[0], x0[h], x1[0], x1[h]);
        {
            double a1 = x0[q], a2 = x0[h + q], a3 = x1[q], a4 = x1[h + q];
            if constexpr (Forward)
                forwardButterfly(a1, a2, a3, a4, c2[q], s2[q]);
            else
                inverseButterfly(a1, a2, a3, a4, c2[q], s2[q]);
            x0[q] = a1, x0[h + q] = a2, x1[q] = a3, x1[h + q] = a4;
        }
        forLanes<V>(q - 1, [&]<class U>(std::size_t i) __attribute__((always_inline)) {
            const std::size_t j = i + 1;
            U e1, e2, e3, e4, f1, f2, f3, f4, wc, ws, uc, us, vc, vs;
            load(e1, x0 + j);
            loadReversed(e2, x0 + h - j);
            load(e3, x0 + h + j);
            loadReversed(e4, x0 + b - j);
            load(f1, x1 + j);
            loadReversed(f2, x1 + h - j);
            load(f3, x1 + h + j);
            loadReversed(f4, x1 + b - j);
            load(wc, cb + j);
            load(ws, sb + j);
            load(uc, c2 + j);
            load(us, s2 + j);
            loadReversed(vc, c2 + h - j);
            loadReversed(vs, s2 + h - j);
            pairedGroup<Forward>(e1, e2, e3, e4, f1, f2, f3, f4, wc, ws, uc, us, vc, vs);
            store(x0 + j, e1);
            storeReversed(x0 + h - j, e2);
            store(x0 + h + j, e3);
            storeReversed(x0 + b - j, e4);
            store(x1 + j, f1);
            storeReversed(x1 + h - j, f2);
            store(x1 + h + j, f3);
            storeReversed(x1 + b - j, f4);
        });
    }
}

// Stages b and 2b of one block of 2b whose elements are vectors: lane l of x[k] is element k of the
// l-th of several blocks side by side. Each lane does what pairedStages does to its block.
template <bool Forward, class T>
[[gnu::always_inline]] inline void pairedStagesAcross(T* x0, std::size_t b, const double* tb, const double* t2b)
{
    const std::size_t h = b / 2, q = b / 4;
    const double* cb = tb;
    const double* sb = tb + q;
    const double* c2 = t2b;
    const double* s2 = t2b + h;
    T* x1 = x0 + b;
    pairedEnds<Forward>(x0[0], x0[h], x1[0], x1[h]);
    if constexpr (Forward)
        forwardButterfly(x0[q], x0[h + q], x1[q], x1[h + q], c2[q], s2[q]);
    else
        inverseButterfly(x0[q], x0[h + q], x1[q], x1[h + q], c2[q], s2[q]);
    for (std::size_t j = 1; j < q; ++j)
        pairedGroup<Forward>(x0[j], x0[h - j], x0[h + j], x0[b - j], x1[j], x1[h - j], x1[h + j], x1[b - j], cb[j],
                             sb[j], c2[j], s2[j], c2[h - j], s2[h - j]);
}

// The small stages 16 ... 32 x 4^(Pairs - 1) (Pairs pairs) of every block of kSmallBlockOf(Pairs) in
// [x, x + length), kLanes<V> blocks at a time: each group of blocks is transposed into vectors whose
// lanes are the blocks, so that every butterfly runs on whole vectors however small its block, and
// transposed back. length is a multiple of kLanes<V> blocks. tables[l]: the twiddle table of level l (2 ... 2 Pairs + 1).
template <bool Forward, class V, int Pairs>
[[gnu::always_inline]] inline void smallStagesAcross(double* x, std::size_t length, const double* const* tables)
{
    constexpr std::size_t L = kLanes<V>;
    constexpr std::size_t B = kSmallBlockOf(Pairs);
    V v[B];
    for (std::size_t done = 0; done < length; done += L * B) {
        double* group = x + done;
#pragma GCC unroll 2
        for (std::size_t e = 0; e < B; e += L) {
#pragma GCC unroll 8
            for (std::size_t l = 0; l < L; ++l)
                load(v[e + l], group + l * B + e);
            transpose(v + e);
        }
        if constexpr (Forward) {
            for (int p = 0; p < Pairs; ++p) {
                const std::size_t b = std::size_t{16} << (2 * p);
                for (std::size_t start = 0; start < B; start += 2 * b)
                    pairedStagesAcross<true>(v + start, b, tables[2 + 2 * p], tables[3 + 2 * p]);
            }
        } else {
            for (int p = Pairs - 1; p >= 0; --p) {
                const std::size_t b = std::size_t{16} << (2 * p);
                for (std::size_t start = 0; start < B; start += 2 * b)
                    pairedStagesAcross<false>(v + start, b, tables[2 + 2 * p], tables[3 + 2 * p]);
            }
        }
#pragma GCC unroll 2
        for (std::size_t e = 0; e < B; e += L) {
            transpose(v + e);
#pragma GCC unroll 8
            for (std::size_t l = 0; l < L; ++l)
                store(group + l * B + e, v[e + l]);
        }
    }
}

struct Eighth {
    double c, s; // cos and sin of 2pi/8, as the stage table has them
};

// Stages 2, 4 and 8 of a bit-reversed block of eight (T = double), or of several side by side.
template <class T>
[[gnu::always_inline]] inline void forwardEight(T* v, Eighth w)
{
    T v0 = v[0] + v[1], v1 = v[0] - v[1];
    T v2 = v[2] + v[3], v3 = v[2] - v[3];
    T v4 = v[4] + v[5], v5 = v[4] - v[5];
    T v6 = v[6] + v[7], v7 = v[6] - v[7];
    T t = v2;
    v2 = v0 - t;
    v0 = v0 + t;
    t = v6;
    v6 = v4 - t;
    v4 = v4 + t;
    t = v4;
    v4 = v0 - t;
    v0 = v0 + t;
    forwardButterfly(v1, v3, v5, v7, w.c, w.s);
    v[0] = v0, v[1] = v1, v[2] = v2, v[3] = v3, v[4] = v4, v[5] = v5, v[6] = v6, v[7] = v7;
}

template <class T>
[[gnu::always_inline]] inline void inverseEight(T* v, Eighth w)
{
    T v0 = v[0] + v[4], v4 = v[0] - v[4];
    T v1 = v[1], v3 = v[3], v5 = v[5], v7 = v[7];
    inverseButterfly(v1, v3, v5, v7, w.c, w.s);
    T v2 = v[2], v6 = v[6];
    T t = v0 - v2;
    v0 = v0 + v2;
    v2 = t;
    t = v4 - v6;
    v4 = v4 + v6;
    v6 = t;
    v[0] = v0 + v1, v[1] = v0 - v1;
    v[2] = v2 + v3, v[3] = v2 - v3;
    v[4] = v4 + v5, v[5] = v4 - v5;
    v[6] = v6 + v7, v[7] = v6 - v7;
}

constexpr std::size_t kReverse3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// Bit reversal for n >= 64 in tiles of 8 x 8. Index bits (a, m, c), with a and c three bits each,
// map to (rev c, rev m, rev a): tile m and tile rev m swap their contents transposed. Each row of a
// tile is eight contiguous elements, and on the reversed side a block of eight, so the forward
// transform does its first three stages here, and the inverse its last three. Several rows are
// transformed side by side, one per vector lane; the transposes that this needs are the ones the
// reversal needs anyway.
template <bool Forward, class V>
[[gnu::always_inline]] inline void tiledBitReverse(std::size_t n, double* x, Eighth w)
{
    constexpr std::size_t L = kLanes<V>;
    const std::size_t rowStride = n / 8;
    const std::size_t tileCount = n / 64;
    double tileA[64], tileB[64];
    // Tile m, rearranged (and transformed) into the eight rows it takes at the reversed tile.
    // Both helpers must be inlined: a lambda does not inherit the caller's target attribute, so out of
    // line it would run the wide vectors without AVX2, split and through memory.
    auto gather = [&](double* out, std::size_t m) __attribute__((always_inline)) {
        const double* tile = x + m * 8;
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 8 / L; ++g) {
            V v[8];
            if constexpr (Forward) {
                // Lane l of v[C] is element C of output row rev(L g + l): input row rev C, column L g + l.
#pragma GCC unroll 8
                for (std::size_t c = 0; c < 8; ++c)
                    load(v[c], tile + kReverse3[c] * rowStride + L * g);
                forwardEight(v, w);
#pragma GCC unroll 4
                for (std::size_t k = 0; k < 8; k += L) {
                    transpose(v + k);
#pragma GCC unroll 4
                    for (std::size_t l = 0; l < L; ++l)
                        store(out + kReverse3[L * g + l] * 8 + k, v[k + l]);
                }
            } else {
                // Lane l of v[C] is element C of input row rev(L g + l), which is output column L g + l.
#pragma GCC unroll 4
                for (std::size_t k = 0; k < 8; k += L) {
#pragma GCC unroll 4
                    for (std::size_t l = 0; l < L; ++l)
                        load(v[k + l], tile + kReverse3[L * g + l] * rowStride + k);
                    transpose(v + k);
                }
                inverseEight(v, w);
#pragma GCC unroll 8
                for (std::size_t a = 0; a < 8; ++a)
                    store(out + a * 8 + L * g, v[kReverse3[a]]);
            }
        }
    };
    auto put = [&](const double* in, std::size_t m) __attribute__((always_inline)) {
#pragma GCC unroll 8
        for (std::size_t a = 0; a < 8; ++a) {
#pragma GCC unroll 4
            for (std::size_t k = 0; k < 8; k += L) {
                V v;
                load(v, in + a * 8 + k);
                store(x + a * rowStride + m * 8 + k, v);
            }
        }
    };
    std::size_t reversed = 0; // tile m's partner, stepped as the bit-reversal counter always is
    for (std::size_t m = 0; m < tileCount; ++m) {
        // A reversal of millions of elements reaches all over memory: it looks at the stop flag too.
        if ((m & 0xFFF) == 0 && stopped())
            return;
        if (m > 0) {
            std::size_t k = tileCount / 2;
            while (true) {
                reversed ^= k;
                if (reversed >= k)
                    break;
                k /= 2;
            }
        }
        if (reversed < m)
            continue;
        gather(tileA, m);
        if (reversed == m) {
            put(tileA, m);
            continue;
        }
        gather(tileB, reversed);
        put(tileA, reversed);
        put(tileB, m);
    }
}

// The bit reversal with the stages 2 ... 128 of the forward transform (Forward), or the stages 128 ... 2
// with the bit reversal of the inverse one, for 1024 <= n <= kFusedMax, eight lanes. The tiles of the
// reversal (see tiledBitReverse) already hold, lane by lane, eight blocks of eight output elements that
// lie n/8 apart: with the sixteen tiles whose blocks make up the same eight blocks of 128, stages 16 ...
// 128 run lane by lane too, without the transposes the small stages need on their own. The whole
// transform is held meanwhile, and both it and x must stay in the first-level cache: at n = 4096 this
// way was slower than the reversal and the small stages one after the other.
constexpr std::size_t kFusedMax = 2048;

template <bool Forward>
[[gnu::always_inline]] inline void fusedSmallStages(std::size_t n, double* x, Eighth w, const double* const* tables)
{
    using V = V8;
    const std::size_t rowStride = n / 8;
    const std::size_t tileCount = n / 64;
    const std::size_t groupStride = n / 1024; // between the blocks of 128 of one group, lane to lane
    V v[kFusedMax / 8];
    int tileBits = 0;
    while ((std::size_t{1} << tileBits) < tileCount)
        ++tileBits;
    // Output tile t (its blocks of eight at t * 8 + a n/8) comes from tile reverse(t); group t / 16
    // keeps them at (t % 16) * 8.
    auto reversedTile = [&](std::size_t t) __attribute__((always_inline)) {
        std::size_t r = 0;
        for (int bit = 0; bit < tileBits; ++bit)
            r |= ((t >> bit) & 1) << (tileBits - 1 - bit);
        return r;
    };
    // Lane l holds block kReverse3[l] * groupStride + group: the order the tiles give.
    auto blockStart = [&](std::size_t group, std::size_t l) __attribute__((always_inline)) {
        return (kReverse3[l] * groupStride + group) * 128;
    };
    auto stages = [&](V* group) __attribute__((always_inline)) {
        if constexpr (Forward) {
            for (std::size_t start = 0; start < 128; start += 32)
                pairedStagesAcross<true>(group + start, 16, tables[2], tables[3]);
            pairedStagesAcross<true>(group, 64, tables[4], tables[5]);
        } else {
            pairedStagesAcross<false>(group, 64, tables[4], tables[5]);
            for (std::size_t start = 0; start < 128; start += 32)
                pairedStagesAcross<false>(group + start, 16, tables[2], tables[3]);
        }
    };
    if constexpr (Forward) {
        for (std::size_t t = 0; t < tileCount; ++t) {
            const double* tile = x + reversedTile(t) * 8;
            V* out = v + (t / 16) * 128 + (t % 16) * 8;
#pragma GCC unroll 8
            for (std::size_t c = 0; c < 8; ++c)
                load(out[c], tile + kReverse3[c] * rowStride);
            forwardEight(out, w);
        }
        for (std::size_t group = 0; group < tileCount / 16; ++group) {
            V* g = v + group * 128;
            stages(g);
            for (std::size_t e = 0; e < 128; e += 8) {
                transpose(g + e);
#pragma GCC unroll 8
                for (std::size_t l = 0; l < 8; ++l)
                    store(x + blockStart(group, l) + e, g[e + l]);
            }
        }
    } else {
        for (std::size_t group = 0; group < tileCount / 16; ++group) {
            V* g = v + group * 128;
            for (std::size_t e = 0; e < 128; e += 8) {
#pragma GCC unroll 8
                for (std::size_t l = 0; l < 8; ++l)
                    load(g[e + l], x + blockStart(group, l) + e);
                transpose(g + e);
            }
            stages(g);
        }
        for (std::size_t t = 0; t < tileCount; ++t) {
            V* in = v + (t / 16) * 128 + (t % 16) * 8;
            inverseEight(in, w);
            double* tile = x + reversedTile(t) * 8;
#pragma GCC unroll 8
            for (std::size_t a = 0; a < 8; ++a)
                store(tile + a * rowStride, in[kReverse3[a]]);
        }
    }
}

// The vector kernels, compiled once for every vector width; which set runs is decided once.
struct Kernels {
    void (*stage)(double* x, std::size_t length, std::size_t b, std::size_t j0, std::size_t count, const double* c,
                  const double* s, bool pairs);
    void (*pairedStages)(double* x, std::size_t length, std::size_t b, const double* tb, const double* t2b);
    void (*tiledBitReverse)(std::size_t n, double* x, Eighth w);
    // The first (forward) or last (inverse) `pairs` pairs of stages of [x, x + length) whose smaller
    // stages are done, kSmallBlockOf(pairs) elements per block, in groups of kLanes blocks; pairs is what
    // smallPairs gave for length.
    void (*smallStages)(double* x, std::size_t length, int pairs, const double* const* tables);
    std::size_t lanes; // blocks per group of smallStages; 0 where there is no such kernel
    // fusedSmallStages; null where there is no such kernel.
    void (*fusedSmallStages)(std::size_t n, double* x, Eighth w, const double* const* tables);
};

template <bool Forward, class V>
[[gnu::always_inline]] inline void smallStagesOf(double* x, std::size_t length, int pairs, const double* const* tables)
{
    if (pairs == 2)
        smallStagesAcross<Forward, V, 2>(x, length, tables);
    else if (pairs == 1)
        smallStagesAcross<Forward, V, 1>(x, length, tables);
}

#define SONAVIK_FFT_KERNELS(Forward, V, attributes)                                                              \
    Kernels{                                                                                                     \
        [](double* x, std::size_t length, std::size_t b, std::size_t j0, std::size_t count, const double* c,    \
           const double* s, bool pairs) attributes { stageBlocks<Forward, V>(x, length, b, j0, count, c, s, pairs); }, \
        [](double* x, std::size_t length, std::size_t b, const double* tb, const double* t2b) attributes {      \
            pairedStages<Forward, V>(x, length, b, tb, t2b);                                                     \
        },                                                                                                       \
        [](std::size_t n, double* x, Eighth w) attributes { tiledBitReverse<Forward, V>(n, x, w); },             \
        nullptr,                                                                                                 \
        0,                                                                                                       \
        nullptr,                                                                                                 \
    }

// Butterflies per block from which the AVX-512 kernels use eight lanes.
constexpr std::size_t kWideCount = 64;

// The AVX-512 kernels run the small stages across blocks, two pairs at a time (three need more than the
// first-level cache holds). With four lanes or two the transposes cost more than the small stages do
// along the blocks: those keep that way.
constexpr int kMaxSmallPairs = 2;

#if defined(__x86_64__) || defined(__i386__)
#define SONAVIK_FFT_AVX2 __attribute__((target("avx2,fma")))
#define SONAVIK_FFT_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,fma")))
#endif

bool runs(SimdPath path)
{
#ifdef SONAVIK_FFT_AVX2
    static const bool avx2 = [] {
        __builtin_cpu_init(); // in case the first transform runs from a static constructor
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")
                               && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    return path == SimdPath::Portable || (path == SimdPath::Avx2 && avx2) || (path == SimdPath::Avx512 && avx512);
#else
    return path == SimdPath::Portable;
#endif
}

// The widest path this processor runs, no wider than asked.
SimdPath runnable(SimdPath asked)
{
    int p = static_cast<int>(asked);
    while (p > 0 && !runs(static_cast<SimdPath>(p)))
        --p;
    return static_cast<SimdPath>(p);
}

SimdPath chosenAtStart()
{
    static const SimdPath path = [] {
        SimdPath asked = SimdPath::Avx512;
        if (const char* name = std::getenv("SONAVIK_SIMD")) {
            for (SimdPath p : {SimdPath::Portable, SimdPath::Avx2, SimdPath::Avx512})
                if (std::strcmp(name, simdPathName(p)) == 0)
                    asked = p;
        }
        return runnable(asked);
    }();
    return path;
}

// -1 until a path is forced; then the forced one.
std::atomic<int> gForcedPath{-1};

SimdPath currentPath()
{
    const int forced = gForcedPath.load(std::memory_order_relaxed);
    return forced >= 0 ? static_cast<SimdPath>(forced) : chosenAtStart();
}

template <bool Forward>
const Kernels& kernels()
{
    static const Kernels sets[3] = {
        SONAVIK_FFT_KERNELS(Forward, V2, ),
#ifdef SONAVIK_FFT_AVX2
        SONAVIK_FFT_KERNELS(Forward, V4, SONAVIK_FFT_AVX2),
        // Eight lanes only where a block has many butterflies: in the small stages the leftovers after
        // the last whole vector cost more than the wider vectors save, and the tiles of the bit
        // reversal transpose faster in halves.
        Kernels{
            [](double* x, std::size_t length, std::size_t b, std::size_t j0, std::size_t count, const double* c,
               const double* s, bool pairs) SONAVIK_FFT_AVX512 {
                if (count >= kWideCount)
                    stageBlocks<Forward, V8>(x, length, b, j0, count, c, s, pairs);
                else
                    stageBlocks<Forward, V4>(x, length, b, j0, count, c, s, pairs);
            },
            [](double* x, std::size_t length, std::size_t b, const double* tb, const double* t2b) SONAVIK_FFT_AVX512 {
                if (b / 4 >= kWideCount)
                    pairedStages<Forward, V8>(x, length, b, tb, t2b);
                else
                    pairedStages<Forward, V4>(x, length, b, tb, t2b);
            },
            [](std::size_t n, double* x, Eighth w) SONAVIK_FFT_AVX512 { tiledBitReverse<Forward, V4>(n, x, w); },
            [](double* x, std::size_t length, int pairs, const double* const* tables) SONAVIK_FFT_AVX512 {
                smallStagesOf<Forward, V8>(x, length, pairs, tables);
            },
            8,
            [](std::size_t n, double* x, Eighth w, const double* const* tables) SONAVIK_FFT_AVX512 {
                fusedSmallStages<Forward>(n, x, w, tables);
            },
        },
#else
        SONAVIK_FFT_KERNELS(Forward, V2, ),
        SONAVIK_FFT_KERNELS(Forward, V2, ),
#endif
    };
    return sets[static_cast<int>(currentPath())];
}

// One stage of block size b (b >= 16) over every block of [x, x + length).
template <bool Forward>
void stage(double* x, std::size_t length, std::size_t b)
{
    const Kernels& k = kernels<Forward>();
    const std::size_t q = b / 4;
    if (const double* table = twiddleTable(log2Of(q))) {
        k.stage(x, length, b, 1, q - 1, table + 1, table + q + 1, true);
        return;
    }
    double chunk[2 * kChunk];
    for (std::size_t j0 = 1; j0 < q && !stopped(); j0 += kChunk) {
        const std::size_t count = q - j0 < kChunk ? q - j0 : kChunk;
        fillTwiddles(chunk, q, j0, count);
        k.stage(x, length, b, j0, count, chunk, chunk + count, j0 == 1);
    }
}

// Stages b and 2b over every block of 2b in [x, x + length).
template <bool Forward>
void stagePair(double* x, std::size_t length, std::size_t b)
{
    const double* tb = twiddleTable(log2Of(b / 4));
    const double* t2b = twiddleTable(log2Of(b / 2));
    if (tb && t2b) {
        kernels<Forward>().pairedStages(x, length, b, tb, t2b);
    } else if (Forward) {
        stage<true>(x, length, b);
        stage<true>(x, length, 2 * b);
    } else {
        stage<false>(x, length, 2 * b);
        stage<false>(x, length, b);
    }
}

Eighth eighth()
{
    if (const double* table = twiddleTable(1))
        return {table[1], table[3]};
    double t[2];
    fillTwiddles(t, 2, 1, 1);
    return {t[0], t[1]};
}

void plainBitReverse(std::size_t n, double* x)
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
        if (i < j) {
            const double t = x[i];
            x[i] = x[j];
            x[j] = t;
        }
    }
}

// The pairs of small stages that smallStages runs on a block of b: as many as fit a group of blocks
// of the vector's lanes, at most kMaxSmallPairs; 0 when the block is too small (or a table cannot be had).
int smallPairs(const Kernels& k, std::size_t b)
{
    if (k.lanes == 0)
        return 0;
    int pairs = 0;
    while (pairs < kMaxSmallPairs && k.lanes * kSmallBlockOf(pairs + 1) <= b)
        ++pairs;
    for (int level = 2; level <= 2 * pairs + 1; ++level)
        if (!twiddleTable(level))
            return 0;
    return pairs;
}

// The pairs of small stages fusedSmallStages runs with the bit reversal of n: two, or none.
int fusedPairs(const Kernels& k, std::size_t n)
{
    if (!k.fusedSmallStages || n < 1024 || n > kFusedMax)
        return 0;
    for (int level = 2; level <= 5; ++level)
        if (!twiddleTable(level))
            return 0;
    return 2;
}

// The twiddle tables of the first `pairs` pairs of stages, by level (the small kernels' argument).
struct SmallTables {
    explicit SmallTables(int pairs)
    {
        for (int level = 2; level <= 2 * pairs + 1; ++level)
            at[level] = twiddleTable(level);
    }
    const double* at[8] = {};
};

template <bool Forward>
void smallStages(double* x, std::size_t b, int pairs)
{
    if (pairs > 0)
        kernels<Forward>().smallStages(x, b, pairs, SmallTables(pairs).at);
}

// Bit reversal and stages 2, 4 and 8 (fewer for n < 8), and where the kernel is fused with it the
// small stages after them: returns how many pairs of those it ran.
int forwardFirstStages(std::size_t n, double* x)
{
    if (n >= 64) {
        const Kernels& k = kernels<true>();
        if (const int pairs = fusedPairs(k, n)) {
            k.fusedSmallStages(n, x, eighth(), SmallTables(pairs).at);
            return pairs;
        }
        k.tiledBitReverse(n, x, eighth());
        return 0;
    }
    plainBitReverse(n, x);
    if (n == 2) {
        const double t = x[1];
        x[1] = x[0] - t;
        x[0] = x[0] + t;
    } else if (n == 4) {
        const double v0 = x[0] + x[1], v1 = x[0] - x[1], v2 = x[2] + x[3], v3 = x[2] - x[3];
        x[0] = v0 + v2, x[1] = v1, x[2] = v0 - v2, x[3] = v3;
    } else {
        const Eighth w = eighth();
        for (std::size_t s = 0; s < n; s += 8)
            forwardEight(x + s, w);
    }
    return 0;
}

// The inverse's last stages and bit reversal; with fused (fusedPairs), that many pairs of small stages
// before them too.
void inverseLastStages(std::size_t n, double* x, int fused)
{
    if (fused > 0) {
        kernels<false>().fusedSmallStages(n, x, eighth(), SmallTables(fused).at);
        return;
    }
    if (n >= 64) {
        kernels<false>().tiledBitReverse(n, x, eighth());
        return;
    }
    if (n == 2) {
        const double t = x[0] - x[1];
        x[0] = x[0] + x[1];
        x[1] = t;
    } else if (n == 4) {
        const double v0 = x[0] + x[2], v2 = x[0] - x[2];
        x[0] = v0 + x[1], x[1] = v0 - x[1];
        const double v3 = x[3];
        x[2] = v2 + v3, x[3] = v2 - v3;
    } else {
        const Eighth w = eighth();
        for (std::size_t s = 0; s < n; s += 8)
            inverseEight(x + s, w);
    }
    plainBitReverse(n, x);
}

// Stages 16 .. b of one block whose smaller stages are done (and `done` pairs of stages after them):
// in pairs, depth first above kLeafSize.
void forwardBlock(double* x, std::size_t b, int done)
{
    if (b <= kLeafSize) {
        const int pairs = done > 0 ? done : smallPairs(kernels<true>(), b);
        if (done == 0)
            smallStages<true>(x, b, pairs);
        std::size_t size = std::size_t{16} << (2 * pairs);
        for (; 2 * size <= b; size *= 4)
            stagePair<true>(x, b, size);
        if (size == b)
            stage<true>(x, b, b);
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (b >= kStopCheckSize && stopped())
            return;
        forwardBlock(x + i * (b / 4), b / 4, 0);
    }
    if (b >= kStopCheckSize && stopped())
        return;
    stagePair<true>(x, b, b / 2);
}

// The inverse: stages b .. 16, but for the last `left` pairs that inverseLastStages runs.
void inverseBlock(double* x, std::size_t b, int left)
{
    if (b <= kLeafSize) {
        std::size_t size = 16; // the last pair the forward transform ran, or its single last stage
        while (4 * size <= b)
            size *= 4;
        if (size == b) {
            stage<false>(x, b, b);
            size /= 4;
        }
        const int pairs = left > 0 ? left : smallPairs(kernels<false>(), b);
        for (; size >= (std::size_t{16} << (2 * pairs)); size /= 4)
            stagePair<false>(x, b, size);
        if (left == 0)
            smallStages<false>(x, b, pairs);
        return;
    }
    if (b >= kStopCheckSize && stopped())
        return;
    stagePair<false>(x, b, b / 2);
    for (std::size_t i = 0; i < 4; ++i) {
        if (b >= kStopCheckSize && stopped())
            return;
        inverseBlock(x + i * (b / 4), b / 4, 0);
    }
}

} // namespace

void fftForward(std::size_t n, double* x) noexcept
{
    const int done = forwardFirstStages(n, x);
    if (n >= 16)
        forwardBlock(x, n, done);
}

void fftInverse(std::size_t n, double* x) noexcept
{
    x[0] *= 0.5;
    x[n / 2] *= 0.5;
    const int fused = n >= 64 ? fusedPairs(kernels<false>(), n) : 0;
    if (n >= 16)
        inverseBlock(x, n, fused);
    inverseLastStages(n, x, fused);
}

const std::atomic<bool>* fftSetStopFlag(const std::atomic<bool>* flag) noexcept
{
    const std::atomic<bool>* previous = tStopFlag;
    tStopFlag = flag;
    return previous;
}

SimdPath simdPath() noexcept { return currentPath(); }

bool simdPathRuns(SimdPath path) noexcept { return runs(path); }

void useSimdPath(SimdPath path) noexcept
{
    gForcedPath.store(static_cast<int>(runnable(path)), std::memory_order_relaxed);
}

SimdPath startSimdPath() noexcept { return chosenAtStart(); }

const char* simdPathName(SimdPath path) noexcept
{
    switch (path) {
    case SimdPath::Avx512:
        return "avx512";
    case SimdPath::Avx2:
        return "avx2";
    default:
        return "portable";
    }
}

void fftUsePortableKernels(bool on) noexcept
{
    if (on)
        useSimdPath(SimdPath::Portable);
    else
        gForcedPath.store(-1, std::memory_order_relaxed);
}

bool fftWideKernels() noexcept { return currentPath() != SimdPath::Portable; }

double fftWindowWeight(int type, std::size_t k, std::size_t frameLength) noexcept
{
    if (frameLength < 2)
        return 1.0; // the formulas divide by frameLength - 1
    const double kd = static_cast<double>(k);
    const double d = static_cast<double>(frameLength - 1);
    switch (type) {
    case kFftWindowHanning:
        return 0.5 * (1.01 - std::cos(kd * 6.283185307179586 / d));
    case kFftWindowHamming:
        return 0.54 - 0.46 * std::cos(kd * 6.283185307179586 / d);
    case kFftWindowBlackman:
        return 0.43 - 0.5 * std::cos(kd * 6.283185307179586 / d) + 0.08 * std::cos(kd * 12.566370614359172 / d);
    default:
        return 1.0;
    }
}

} // namespace sonavik
