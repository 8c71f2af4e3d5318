#pragma once
// Building blocks of the table evaluation: the interval search on an axis and
// the bicubic patch, for one table or for two tables on the same knots at once.
// Both forms of the patch do the same operations in the same order, so they
// give the same bits.
#include <cstddef>
#include <cstring>

namespace quillan::linpatch {

// Index i with axis[i] <= t <= axis[i + 1], by bisection over [0, n]. The
// caller guarantees axis[0] <= t <= axis[n] and a non-decreasing axis, which
// keeps that invariant on [lo, hi] and so ends the loop.
inline size_t bisect(const double* axis, size_t n, double t)
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

// Two doubles processed lane by lane (SSE2 on x86-64, NEON on AArch64).
using Pair = double __attribute__((vector_size(16)));

// evaluatePatch of two patches at the same (du, dv): `a` holds the 16
// coefficients interleaved, a[2n] of the first patch and a[2n + 1] of the
// second. Returns {first, second}.
inline Pair evaluatePatchPair(const double* a, double du, double dv)
{
    const auto c = [a](int n) {
        Pair p;
        std::memcpy(&p, a + 2 * n, sizeof p);
        return p;
    };
    const Pair u = {du, du};
    const Pair v = {dv, dv};
    const Pair p0 = ((c(3) * v + c(2)) * v + c(1)) * v + c(0);
    const Pair p1 = ((c(7) * v + c(6)) * v + c(5)) * v + c(4);
    const Pair p2 = ((c(11) * v + c(10)) * v + c(9)) * v + c(8);
    const Pair p3 = ((c(15) * v + c(14)) * v + c(13)) * v + c(12);
    return ((p3 * u + p2) * u + p1) * u + p0;
}

}  // namespace quillan::linpatch
