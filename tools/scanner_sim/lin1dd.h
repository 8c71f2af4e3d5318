#pragma once
// LIN1DD linearization data with analytic tables, sent as a legacy type-7 frame.
#include <cstdint>
#include <string>

namespace scanner_sim {

struct LinGeometry {
    uint64_t serialNumber = 12345678;
    float zStart = 100;  // mm
    float zRange = 200;  // mm
    float xStart = 60;  // field width at zStart, mm
    float xEnd = 120;  // field width at zStart + zRange, mm
    int32_t widthX = 2048;  // sensor columns
    int32_t widthZ = 1088;  // sensor rows
    bool modeRecord = false;  // add record 7 (the scanner linearizes itself)
    int cells = 1;  // nx = nz: cells per axis (1..64)

    bool operator==(const LinGeometry&) const = default;
};

// Tables with nx = nz = cells over U = [0, widthX], V = [0, widthZ], axes evenly spaced
// (U[i] = widthX i / cells), giving
//   z = zStart + zRange v / widthZ
//   x = (u / widthX - 1/2) (xStart + k v),  k = (xEnd - xStart) / widthZ
// Cell (i, j) with i, j < cells holds this bilinear polynomial re-expanded around (U[i], V[j]);
// the cells of the last axis values (i or j = cells) are 0. With one cell only cell (0, 0) is set.
std::string lin1ddImage(const LinGeometry& geometry);

// Spoilt X tables for the parser's checks: nx = 0, nx = 0x40000000 (the table runs past its
// record), U[1] = NaN, or U[0] and U[1] swapped (descending).
enum class LinTableFault { None, ZeroCells, HugeCells, NanAxis, DescendingAxis };

// 07 19 <u32 length> <image> <CRC>; a table fault keeps the length and the CRC right.
std::string lin1ddFrame(const LinGeometry& geometry, LinTableFault fault = LinTableFault::None);

}  // namespace scanner_sim
