#pragma once
// LIN1DD linearization data: parsing from memory or a file, and conversion of
// sensor points (column u, sub-pixel row v) to millimetres.
//
// A `Linearization` is filled once by ParseLin1dd or LoadLin1ddFile and is
// meant to be read-only afterwards, so it can be shared between threads as
// std::shared_ptr<const Linearization> (see LinStore).
#include "lin/lin_data.h"
#include "lin/lin_patch.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillan {

// Storage of one table; `table()` is the LinTable record that points into it.
class LinTableData {
public:
    LinTableData() = default;
    LinTableData(const LinTableData&) = delete;
    LinTableData& operator=(const LinTableData&) = delete;

    const LinTable& table() const { return m_Table; }

private:
    friend int ParseLinTable(const uint8_t* bytes, size_t length, size_t& consumed, LinTableData& out);

    std::vector<double> m_U;
    std::vector<double> m_V;
    std::vector<double> m_Cells;
    std::vector<const double*> m_Rows;
    LinTable m_Table;
};

// The intervals of the last conversion through a Linearization. Points near
// each other, as along one profile, mostly fall into the same cells, which
// then need no search. One per caller; any state gives the same results.
struct LinCursor {
    size_t xu = 0, xv = 0;  // X table (both tables when they share their knots)
    size_t zu = 0, zv = 0;  // Z table
};

// Both tables of a Linearization on the same knots, their cells joined for
// the joint evaluations of lin_patch.h. A plain view (valid while the Linearization
// lives), so that a loop over many points can keep it in registers.
struct LinJoint {
    const double* u = nullptr;      // nx + 1 column knots
    const double* v = nullptr;      // nz + 1 row knots
    size_t nx = 0, nz = 0;
    const linpatch::JointCell* cells = nullptr;  // (nx + 1) x (nz + 1); null when there are none

    // Where (pu, pv) lies: its joined cell and the offsets in it. False, with
    // nothing set, outside the tables (or for NaN).
    [[gnu::always_inline]] bool locate(double pu, double pv, LinCursor& cursor, const linpatch::JointCell*& cell,
                                       double& du, double& dv) const
    {
        // Strictly inside the remembered interval means inside the table too.
        size_t i = cursor.xu;
        if (!(i < nx && u[i] < pu && pu < u[i + 1])) {
            if (!(u[0] <= pu && pu <= u[nx]))  // false for NaN
                return false;
            cursor.xu = i = linpatch::bisect(u, nx, pu);
        }
        size_t j = cursor.xv;
        if (!(j < nz && v[j] < pv && pv < v[j + 1])) {
            if (!(v[0] <= pv && pv <= v[nz]))
                return false;
            cursor.xv = j = linpatch::bisect(v, nz, pv);
        }
        cell = cells + (i * (nz + 1) + j);
        du = pu - u[i];
        dv = pv - v[j];
        return true;
    }

    // Linearization::convert with these tables, the patches evaluated by
    // Evaluate::evaluate(cell, du, dv) (one of the widths of lin_patch.h).
    template <typename Evaluate>
    [[gnu::always_inline]] int convertWith(double pu, double pv, double& x, double& z, LinCursor& cursor) const
    {
        const linpatch::JointCell* cell = nullptr;
        double du = 0.0, dv = 0.0;
        if (!locate(pu, pv, cursor, cell, du, dv))
            return kLinOutsideTable;
        const linpatch::Pair r = Evaluate::evaluate(*cell, du, dv);
        x = r[0];
        z = r[1];
        return kLinConverted;
    }

    // The two-lane evaluation, for any build.
    struct TwoLanes {
        [[gnu::always_inline]] static linpatch::Pair evaluate(const linpatch::JointCell& c, double du, double dv)
        {
            return linpatch::evaluateJoint(c, du, dv);
        }
    };
    [[gnu::always_inline]] int convert(double pu, double pv, double& x, double& z, LinCursor& cursor) const
    {
        return convertWith<TwoLanes>(pu, pv, x, z, cursor);
    }
};

class Linearization {
public:
    Linearization() = default;
    Linearization(const Linearization&) = delete;
    Linearization& operator=(const Linearization&) = delete;

    // The 152-byte record (serial number, both tables, parameters).
    const LinData& data() const { return m_Data; }
    bool parametersLoaded() const { return m_Data.parametersLoaded != 0; }
    // Set by a record of tag 7.
    bool linearizationMode() const { return m_LinearizationMode; }
    bool tablesLoaded() const { return m_Data.xTable.loaded && m_Data.zTable.loaded; }

    int32_t parameter(LinParameter p) const { return m_Data.parameters[p]; }
    // Parameters 0-3 hold binary32 values.
    float parameterFloat(LinParameter p) const;

    // (u, v) through the X table into x and then, only when that gives 0,
    // through the Z table into z. Returns the first non-zero code, else 0; an
    // output whose table lies outside is left untouched. Without both tables:
    // x = z = 0.0 and kLinNoData.
    int convert(double u, double v, double& x, double& z) const;
    // The same, starting the interval searches from `cursor`, which it updates.
    int convert(double u, double v, double& x, double& z, LinCursor& cursor) const
    {
        return m_Joint.cells ? m_Joint.convert(u, v, x, z, cursor) : convertTables(u, v, x, z, cursor);
    }

    // The tables as one when they share their knots; else cells is null and
    // convert() evaluates them one by one.
    const LinJoint& joint() const { return m_Joint; }

private:
    friend int ParseLin1dd(const uint8_t* bytes, size_t length, Linearization& out);

    // convert() through each table on its own (tables on their own knots, or
    // no memory for m_BothCells).
    int convertTables(double u, double v, double& x, double& z, LinCursor& cursor) const;

    LinData m_Data;
    LinTableData m_X;
    LinTableData m_Z;
    bool m_LinearizationMode = false;
    bool m_SharedAxes = false;  // both tables on the same knots: one interval search serves both
    // With both tables loaded on shared axes: cell n of both, joined; empty
    // otherwise.
    std::vector<linpatch::JointCell> m_BothCells;
    LinJoint m_Joint;  // over m_BothCells when it is not empty
};

// Parses a LIN1DD image into a fresh `out`. Returns a LinResult code. What was
// read before a failure stays in `out` (for instance parametersLoaded).
int ParseLin1dd(const uint8_t* bytes, size_t length, Linearization& out);

// Reads the whole file and parses it like ParseLin1dd. Adds the codes
// kLinFileOpenFailed (also for a path that is not a regular file),
// kLinFileReadFailed (empty file or short read) and kLinFileNoMemory (also
// for files above 256 MiB, far beyond any real image).
int LoadLin1ddFile(const char* path, Linearization& out);

// Parses one table (u32 nx, u32 nz, axes, cells) from the start of `bytes`;
// `consumed` receives the bytes used. Returns kLinOk, kLinBadTable (cut short,
// an empty or oversized grid, an axis not ascending or not finite) or
// kLinNoMemory.
int ParseLinTable(const uint8_t* bytes, size_t length, size_t& consumed, LinTableData& out);

// Evaluates one loaded table at (u, v). Returns kLinConverted, or
// kLinOutsideTable (also for NaN input) leaving `value` untouched.
int LinConvertPoint(const LinTable& table, double u, double v, double& value);

// Largest nx or nz accepted in a table.
inline constexpr uint32_t kLinMaxIntervals = 65535;

}  // namespace quillan
