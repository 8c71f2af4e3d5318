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

// Doubles processed lane by lane: SSE2, AVX or AVX-512 on x86-64 (the wider
// ones only in code built for them), NEON on AArch64.
using Pair = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));
using Oct = double __attribute__((vector_size(64)));

// The X and the Z cell of one grid position as the joint evaluations read
// them: q[8m + k] = a[4k + m] of the X cell and q[8m + 4 + k] of the Z cell,
// so that the eight row polynomials p_k are evaluated side by side. One
// cache line per power m of dv.
struct alignas(64) JointCell {
    double q[32];
};

inline void joinCell(const double* x, const double* z, JointCell& out)
{
    for (size_t k = 0; k < 4; ++k)
        for (size_t m = 0; m < 4; ++m) {
            out.q[8 * m + k] = x[4 * k + m];
            out.q[8 * m + 4 + k] = z[4 * k + m];
        }
}

// The last step of every width: p = {p_k of X, p_k of Z} for k = 0 .. 3,
// summed in du; returns {x, z}.
[[gnu::always_inline]] inline Pair sumRows(Pair p0, Pair p1, Pair p2, Pair p3, double du)
{
    const Pair u = {du, du};
    return ((p3 * u + p2) * u + p1) * u + p0;
}

// evaluatePatch of the X and the Z cell at the same (du, dv); returns {x, z}.
// Two lanes wide, for any build.
[[gnu::always_inline]] inline Pair evaluateJoint(const JointCell& c, double du, double dv)
{
    // Lanes k = 0, 1 (a) and 2, 3 (b) of X and of Z for the power m, each
    // loaded where it is used (arrays of them would go through the stack).
    const auto at = [&c](int m, int lane) {
        Pair r;
        std::memcpy(&r, c.q + 8 * m + lane, sizeof r);
        return r;
    };
    const Pair v = {dv, dv};
    const Pair pxa = ((at(3, 0) * v + at(2, 0)) * v + at(1, 0)) * v + at(0, 0);
    const Pair pxb = ((at(3, 2) * v + at(2, 2)) * v + at(1, 2)) * v + at(0, 2);
    const Pair pza = ((at(3, 4) * v + at(2, 4)) * v + at(1, 4)) * v + at(0, 4);
    const Pair pzb = ((at(3, 6) * v + at(2, 6)) * v + at(1, 6)) * v + at(0, 6);
    return sumRows(__builtin_shufflevector(pxa, pza, 0, 2), __builtin_shufflevector(pxa, pza, 1, 3),
                   __builtin_shufflevector(pxb, pzb, 0, 2), __builtin_shufflevector(pxb, pzb, 1, 3), du);
}

// The same four lanes wide, only for code built for AVX (elsewhere the wide
// vectors would go through memory). Whole vectors are loaded one by one:
// copies of arrays of them would go through the stack.
[[gnu::always_inline]] inline Pair evaluateJointAvx(const JointCell& c, double du, double dv)
{
    Quad x0, x1, x2, x3, z0, z1, z2, z3;
    std::memcpy(&x0, c.q, sizeof x0);
    std::memcpy(&z0, c.q + 4, sizeof z0);
    std::memcpy(&x1, c.q + 8, sizeof x1);
    std::memcpy(&z1, c.q + 12, sizeof z1);
    std::memcpy(&x2, c.q + 16, sizeof x2);
    std::memcpy(&z2, c.q + 20, sizeof z2);
    std::memcpy(&x3, c.q + 24, sizeof x3);
    std::memcpy(&z3, c.q + 28, sizeof z3);
    const Quad v = {dv, dv, dv, dv};
    const Quad px = ((x3 * v + x2) * v + x1) * v + x0;
    const Quad pz = ((z3 * v + z2) * v + z1) * v + z0;
    return sumRows(__builtin_shufflevector(px, pz, 0, 4), __builtin_shufflevector(px, pz, 1, 5),
                   __builtin_shufflevector(px, pz, 2, 6), __builtin_shufflevector(px, pz, 3, 7), du);
}

// The same eight lanes wide, only for code built for AVX-512 (and without
// fused multiply-add, which that instruction set brings along).
[[gnu::always_inline]] inline Pair evaluateJointAvx512(const JointCell& c, double du, double dv)
{
    Oct w0, w1, w2, w3;
    std::memcpy(&w0, c.q, sizeof w0);
    std::memcpy(&w1, c.q + 8, sizeof w1);
    std::memcpy(&w2, c.q + 16, sizeof w2);
    std::memcpy(&w3, c.q + 24, sizeof w3);
    const Oct v = {dv, dv, dv, dv, dv, dv, dv, dv};
    const Oct p = ((w3 * v + w2) * v + w1) * v + w0;
    return sumRows(__builtin_shufflevector(p, p, 0, 4), __builtin_shufflevector(p, p, 1, 5),
                   __builtin_shufflevector(p, p, 2, 6), __builtin_shufflevector(p, p, 3, 7), du);
}

// evaluateJointAvx512 of two cells at once, each at its own (du, dv), the
// sums in du of both done in one vector.
[[gnu::always_inline]] inline void evaluateJointAvx512Two(const JointCell& a, double duA, double dvA, double& xA,
                                                         double& zA, const JointCell& b, double duB, double dvB,
                                                         double& xB, double& zB)
{
    Oct a0, a1, a2, a3, b0, b1, b2, b3;
    std::memcpy(&a0, a.q, sizeof a0);
    std::memcpy(&a1, a.q + 8, sizeof a1);
    std::memcpy(&a2, a.q + 16, sizeof a2);
    std::memcpy(&a3, a.q + 24, sizeof a3);
    std::memcpy(&b0, b.q, sizeof b0);
    std::memcpy(&b1, b.q + 8, sizeof b1);
    std::memcpy(&b2, b.q + 16, sizeof b2);
    std::memcpy(&b3, b.q + 24, sizeof b3);
    const Oct va = {dvA, dvA, dvA, dvA, dvA, dvA, dvA, dvA};
    const Oct vb = {dvB, dvB, dvB, dvB, dvB, dvB, dvB, dvB};
    const Oct pa = ((a3 * va + a2) * va + a1) * va + a0;
    const Oct pb = ((b3 * vb + b2) * vb + b1) * vb + b0;
    // Row k of both: {p_k of X, p_k of Z} of a, then of b.
    const Quad p0 = __builtin_shufflevector(pa, pb, 0, 4, 8, 12);
    const Quad p1 = __builtin_shufflevector(pa, pb, 1, 5, 9, 13);
    const Quad p2 = __builtin_shufflevector(pa, pb, 2, 6, 10, 14);
    const Quad p3 = __builtin_shufflevector(pa, pb, 3, 7, 11, 15);
    const Quad u = {duA, duA, duB, duB};
    const Quad r = ((p3 * u + p2) * u + p1) * u + p0;
    xA = r[0];
    zA = r[1];
    xB = r[2];
    zB = r[3];
}

}  // namespace quillan::linpatch
