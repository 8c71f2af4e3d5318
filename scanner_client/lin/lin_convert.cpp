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

// sum over k, m of a[4k + m] du^k dv^m, in Horner form.
double evaluatePatch(const double* a, double du, double dv)
{
    double value = 0.0;
    for (int k = 3; k >= 0; --k) {
        const double* r = a + 4 * k;
        const double inner = ((r[3] * dv + r[2]) * dv + r[1]) * dv + r[0];
        value = value * du + inner;
    }
    return value;
}

}  // namespace

int LinConvertPoint(const LinTable& table, double u, double v, double& value)
{
    if (!table.loaded)
        return kLinNoData;
    const double* U = table.uAxis;
    const double* V = table.vAxis;
    // Written so that NaN fails the test.
    if (!(U[0] <= u && u <= U[table.nx] && V[0] <= v && v <= V[table.nz]))
        return kLinOutsideTable;

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
