#pragma once
// Building blocks of the table evaluation: the interval search on an axis and
// the bicubic patch, for one table or for two tables on the same knots at once.
// Both forms of the patch do the same operations in the same order, lane by
// lane, so they give the same bits.
#include <cstddef>
#include <cstring>

namespace quillan::linpatch {

// Index i with axis[i] <= t <= axis[i + 1], by bisection over [0, n]. The
// caller guarantees axis[0] <= t <= axis[n] and a non-decreasing axis, which
// keeps that invariant on [lo, hi] and so ends the loop.
[[gnu::always_inline]] inline size_t bisect(const double* axis, size_t n, double t)
{
    size_t lo = 0;
    size_t hi = n;
    for (;;) {
        const size_t mid = (lo + hi) / 2;
        if (t < axis[mid])
            hi = mid;
        else if (t > axis[mid + 1])
            lo = mid;
        else
            return mid;
    }
}

// The interval bisect gives, trying `hint` (the previous answer) first. A
// point strictly inside an interval lies in no other one, so the hint is taken
// only then; on a knot the bisection decides which side is used.
inline size_t intervalFrom(const double* axis, size_t n, double t, size_t& hint)
{
    const size_t h = hint;
    if (h < n && axis[h] < t && t < axis[h + 1])
        return h;
    hint = bisect(axis, n, t);
    return hint;
}

// sum over k, m of a[4k + m] du^k dv^m, in Horner form; the four row
// polynomials are independent of each other.
inline double evaluatePatch(const double* a, double du, double dv)
{
    const double p0 = ((a[3] * dv + a[2]) * dv + a[1]) * dv + a[0];
    const double p1 = ((a[7] * dv + a[6]) * dv + a[5]) * dv + a[4];
    const double p2 = ((a[11] * dv + a[10]) * dv + a[9]) * dv + a[8];
    const double p3 = ((a[15] * dv + a[14]) * dv + a[13]) * dv + a[12];
    return ((p3 * du + p2) * du + p1) * du + p0;
}

// Doubles processed lane by lane: SSE2 or AVX on x86-64 (the latter in code
// built for it), NEON on AArch64.
using Pair = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));

// The cell layout evaluatePatchBoth reads: the X and then the Z cell, each
// transposed, q[4m + k] = a[4k + m], so that the four row polynomials of a
// cell are evaluated side by side.
inline constexpr size_t kBothCellDoubles = 32;
inline void transposeCell(const double* a, double* q)
{
    for (size_t k = 0; k < 4; ++k)
        for (size_t m = 0; m < 4; ++m)
            q[4 * m + k] = a[4 * k + m];
}

// evaluatePatch of the X and the Z cell at the same (du, dv); returns {x, z}.
// Two lanes wide, for any build.
[[gnu::always_inline]] inline Pair evaluatePatchBoth(const double* q, double du, double dv)
{
    // xa holds lanes k = 0, 1 of the X cell, xb lanes 2, 3; za, zb the same of Z.
    Pair xa[4], xb[4], za[4], zb[4];
    for (int m = 0; m < 4; ++m) {
        std::memcpy(&xa[m], q + 4 * m, sizeof(Pair));
        std::memcpy(&xb[m], q + 4 * m + 2, sizeof(Pair));
        std::memcpy(&za[m], q + 16 + 4 * m, sizeof(Pair));
        std::memcpy(&zb[m], q + 16 + 4 * m + 2, sizeof(Pair));
    }
    const Pair v = {dv, dv};
    const Pair pxa = ((xa[3] * v + xa[2]) * v + xa[1]) * v + xa[0];
    const Pair pxb = ((xb[3] * v + xb[2]) * v + xb[1]) * v + xb[0];
    const Pair pza = ((za[3] * v + za[2]) * v + za[1]) * v + za[0];
    const Pair pzb = ((zb[3] * v + zb[2]) * v + zb[1]) * v + zb[0];
    const Pair p0 = __builtin_shufflevector(pxa, pza, 0, 2);
    const Pair p1 = __builtin_shufflevector(pxa, pza, 1, 3);
    const Pair p2 = __builtin_shufflevector(pxb, pzb, 0, 2);
    const Pair p3 = __builtin_shufflevector(pxb, pzb, 1, 3);
    const Pair u = {du, du};
    return ((p3 * u + p2) * u + p1) * u + p0;
}

// The same four lanes wide, for code built for AVX (elsewhere the compiler
// would pass the wide vectors through memory).
[[gnu::always_inline]] inline Pair evaluatePatchBothWide(const double* q, double du, double dv)
{
    // One load per vector: copies of whole arrays would go through the stack.
    Quad x0, x1, x2, x3, z0, z1, z2, z3;
    std::memcpy(&x0, q, sizeof x0);
    std::memcpy(&x1, q + 4, sizeof x1);
    std::memcpy(&x2, q + 8, sizeof x2);
    std::memcpy(&x3, q + 12, sizeof x3);
    std::memcpy(&z0, q + 16, sizeof z0);
    std::memcpy(&z1, q + 20, sizeof z1);
    std::memcpy(&z2, q + 24, sizeof z2);
    std::memcpy(&z3, q + 28, sizeof z3);
    const Quad v = {dv, dv, dv, dv};
    // Lane k: the row polynomial p_k of each cell.
    const Quad px = ((x3 * v + x2) * v + x1) * v + x0;
    const Quad pz = ((z3 * v + z2) * v + z1) * v + z0;
    const Pair p0 = __builtin_shufflevector(px, pz, 0, 4);
    const Pair p1 = __builtin_shufflevector(px, pz, 1, 5);
    const Pair p2 = __builtin_shufflevector(px, pz, 2, 6);
    const Pair p3 = __builtin_shufflevector(px, pz, 3, 7);
    const Pair u = {du, du};
    return ((p3 * u + p2) * u + p1) * u + p0;
}

}  // namespace quillan::linpatch
