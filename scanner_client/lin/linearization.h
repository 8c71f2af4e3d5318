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

    const LinTable& table() const { return table_; }

private:
    friend int ParseLinTable(const uint8_t* bytes, size_t length, size_t& consumed, LinTableData& out);

    std::vector<double> u_;
    std::vector<double> v_;
    std::vector<double> cells_;
    std::vector<const double*> rows_;
    LinTable table_;
};

// The intervals of the last conversion through a Linearization. Points near
// each other, as along one profile, mostly fall into the same cells, which
// then need no search. One per caller; any state gives the same results.
struct LinCursor {
    size_t xu = 0, xv = 0;  // X table (both tables when they share their knots)
    size_t zu = 0, zv = 0;  // Z table
};

class Linearization {
public:
    Linearization() = default;
    Linearization(const Linearization&) = delete;
    Linearization& operator=(const Linearization&) = delete;

    // The 152-byte record (serial number, both tables, parameters).
    const LinData& data() const { return data_; }
    bool parametersLoaded() const { return data_.parametersLoaded != 0; }
    // Set by a record of tag 7.
    bool linearizationMode() const { return linearizationMode_; }
    bool tablesLoaded() const { return data_.xTable.loaded && data_.zTable.loaded; }

    int32_t parameter(LinParameter p) const { return data_.parameters[p]; }
    // Parameters 0-3 hold binary32 values.
    float parameterFloat(LinParameter p) const;

    // (u, v) through the X table into x and then, only when that gives 0,
    // through the Z table into z. Returns the first non-zero code, else 0; an
    // output whose table lies outside is left untouched. Without both tables:
    // x = z = 0.0 and kLinNoData.
    int convert(double u, double v, double& x, double& z) const;
    // The same, starting the interval searches from `cursor`, which it updates.
    // Inline for tables on shared knots, the common case on a profile's road.
    int convert(double u, double v, double& x, double& z, LinCursor& cursor) const
    {
        if (pairedCells_.empty())
            return convertTables(u, v, x, z, cursor);
        const LinTable& t = data_.xTable;
        const double* U = t.uAxis;
        const double* V = t.vAxis;
        if (!(U[0] <= u && u <= U[t.nx] && V[0] <= v && v <= V[t.nz]))  // false for NaN
            return kLinOutsideTable;
        const size_t i = linpatch::intervalFrom(U, t.nx, u, cursor.xu);
        const size_t j = linpatch::intervalFrom(V, t.nz, v, cursor.xv);
        const double* cell = pairedCells_.data() + 32 * (i * (size_t{t.nz} + 1) + j);
        const linpatch::Pair r = linpatch::evaluatePatchPair(cell, u - U[i], v - V[j]);
        x = r[0];
        z = r[1];
        return kLinConverted;
    }

private:
    friend int ParseLin1dd(const uint8_t* bytes, size_t length, Linearization& out);

    // convert() through each table on its own (also without paired cells).
    int convertTables(double u, double v, double& x, double& z, LinCursor& cursor) const;

    LinData data_;
    LinTableData x_;
    LinTableData z_;
    bool linearizationMode_ = false;
    bool sharedAxes_ = false;  // both tables on the same knots: one interval search serves both
    // With both tables loaded on shared axes: cell n of both as 16 pairs
    // (X, Z coefficient) at 32 n; empty otherwise.
    std::vector<double> pairedCells_;
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
