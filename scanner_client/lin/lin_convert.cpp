// Bicubic evaluation of the linearization tables.
#include "lin/linearization.h"

#include <bit>

namespace quillan {
namespace {

// Index i with axis[i] <= t <= axis[i + 1], by bisection over [0, n]. The
// caller guarantees axis[0] <= t <= axis[n] and a non-decreasing axis, which
// keeps that invariant on [lo, hi] and so ends the loop.
size_t findInterval(const double* axis, size_t n, double t)
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

// sum over k, m of a[4k + m] du^k dv^m, in Horner form; the four row
// polynomials are independent of each other.
double evaluatePatch(const double* a, double du, double dv)
{
    const double p0 = ((a[3] * dv + a[2]) * dv + a[1]) * dv + a[0];
    const double p1 = ((a[7] * dv + a[6]) * dv + a[5]) * dv + a[4];
    const double p2 = ((a[11] * dv + a[10]) * dv + a[9]) * dv + a[8];
    const double p3 = ((a[15] * dv + a[14]) * dv + a[13]) * dv + a[12];
    return ((p3 * du + p2) * du + p1) * du + p0;
}

// Written so that NaN fails the test.
bool inRange(const LinTable& t, double u, double v)
{
    return t.uAxis[0] <= u && u <= t.uAxis[t.nx] && t.vAxis[0] <= v && v <= t.vAxis[t.nz];
}

}  // namespace

int LinConvertPoint(const LinTable& table, double u, double v, double& value)
{
    if (!table.loaded)
        return kLinNoData;
    if (!inRange(table, u, v))
        return kLinOutsideTable;
    const double* U = table.uAxis;
    const double* V = table.vAxis;

    const size_t i = findInterval(U, table.nx, u);
    const size_t j = findInterval(V, table.nz, v);
    const double* cell = table.rows[i] + 16 * j;
    value = evaluatePatch(cell, u - U[i], v - V[j]);
    return kLinConverted;
}

int Linearization::convert(double u, double v, double& x, double& z) const
{
    if (!tablesLoaded()) {
        x = 0.0;
        z = 0.0;
        return kLinNoData;
    }
    if (sharedAxes_) {
        const LinTable& t = data_.xTable;
        if (!inRange(t, u, v))
            return kLinOutsideTable;
        const size_t i = findInterval(t.uAxis, t.nx, u);
        const size_t j = findInterval(t.vAxis, t.nz, v);
        const double du = u - t.uAxis[i], dv = v - t.vAxis[j];
        x = evaluatePatch(t.rows[i] + 16 * j, du, dv);
        z = evaluatePatch(data_.zTable.rows[i] + 16 * j, du, dv);
        return kLinConverted;
    }
    const int rc = LinConvertPoint(data_.xTable, u, v, x);
    if (rc != kLinConverted)
        return rc;
    return LinConvertPoint(data_.zTable, u, v, z);
}

float Linearization::parameterFloat(LinParameter p) const
{
    return std::bit_cast<float>(data_.parameters[p]);
}

}  // namespace quillan
