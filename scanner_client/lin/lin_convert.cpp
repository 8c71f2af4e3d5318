// Bicubic evaluation of the linearization tables.
#include "lin/linearization.h"

#include <bit>

namespace quillan {
namespace {

using linpatch::evaluatePatch;
using linpatch::intervalFrom;

// Written so that NaN fails the test.
bool inRange(const LinTable& t, double u, double v)
{
    return t.uAxis[0] <= u && u <= t.uAxis[t.nx] && t.vAxis[0] <= v && v <= t.vAxis[t.nz];
}

// LinConvertPoint with the interval searches started from the hints.
int convertPoint(const LinTable& table, double u, double v, double& value, size_t& uHint, size_t& vHint)
{
    if (!table.loaded)
        return kLinNoData;
    if (!inRange(table, u, v))
        return kLinOutsideTable;
    const double* U = table.uAxis;
    const double* V = table.vAxis;
    const size_t i = intervalFrom(U, table.nx, u, uHint);
    const size_t j = intervalFrom(V, table.nz, v, vHint);
    value = evaluatePatch(table.rows[i] + 16 * j, u - U[i], v - V[j]);
    return kLinConverted;
}

}  // namespace

int LinConvertPoint(const LinTable& table, double u, double v, double& value)
{
    size_t uHint = 0, vHint = 0;
    return convertPoint(table, u, v, value, uHint, vHint);
}

int Linearization::convert(double u, double v, double& x, double& z) const
{
    LinCursor cursor;
    return convert(u, v, x, z, cursor);
}

int Linearization::convertTables(double u, double v, double& x, double& z, LinCursor& cursor) const
{
    if (!tablesLoaded()) {
        x = 0.0;
        z = 0.0;
        return kLinNoData;
    }
    if (m_SharedAxes) {
        const LinTable& t = m_Data.xTable;
        if (!inRange(t, u, v))
            return kLinOutsideTable;
        const size_t i = intervalFrom(t.uAxis, t.nx, u, cursor.xu);
        const size_t j = intervalFrom(t.vAxis, t.nz, v, cursor.xv);
        const double du = u - t.uAxis[i], dv = v - t.vAxis[j];
        x = evaluatePatch(t.rows[i] + 16 * j, du, dv);
        z = evaluatePatch(m_Data.zTable.rows[i] + 16 * j, du, dv);
        return kLinConverted;
    }
    const int rc = convertPoint(m_Data.xTable, u, v, x, cursor.xu, cursor.xv);
    if (rc != kLinConverted)
        return rc;
    return convertPoint(m_Data.zTable, u, v, z, cursor.zu, cursor.zv);
}

float Linearization::parameterFloat(LinParameter p) const
{
    return std::bit_cast<float>(m_Data.parameters[p]);
}

}  // namespace quillan
