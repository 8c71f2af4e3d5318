#pragma once
// In-memory records of the LIN1DD linearization data. `LinData` is also the
// 152-byte block that Quillan_GetLinDatType copies out to callers.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace quillan {

// One calibration table: a grid of bicubic patches over the sensor axes.
// The pointers refer to storage owned by the `Linearization` that holds the
// record; they are valid only while that object lives.
struct LinTable {
    int32_t loaded = 0;
    uint32_t nx = 0;                         // column intervals
    uint32_t nz = 0;                         // row intervals
    uint32_t padding = 0;                    // always 0
    const double* uAxis = nullptr;           // nx + 1 ascending column knots
    const double* vAxis = nullptr;           // nz + 1 ascending row knots
    const double* const* rows = nullptr;     // nx + 1 pointers, entry i at cell (i, 0)
    const double* cells = nullptr;           // (nx + 1) x (nz + 1) cells of 16 coefficients
};

// Indices into LinData::parameters.
enum LinParameter : int {
    kLinZStart = 0,          // mm, binary32
    kLinZRange = 1,          // mm, binary32
    kLinXRangeAtStart = 2,   // field width at z_start, mm, binary32
    kLinXRangeAtEnd = 3,     // field width at z_start + z_range, mm, binary32
    kLinWidthX = 5,          // sensor columns
    kLinWidthZ = 6,          // sensor rows
    kLinParameterCount = 11,
};

struct LinData {
    uint64_t serialNumber = 0;
    LinTable xTable;
    LinTable zTable;
    int32_t parametersLoaded = 0;
    int32_t parameters[kLinParameterCount] = {};
};

static_assert(std::is_trivially_copyable_v<LinTable> && sizeof(LinTable) == 48);
static_assert(std::is_trivially_copyable_v<LinData> && sizeof(LinData) == 152);
static_assert(offsetof(LinData, xTable) == 8 && offsetof(LinData, zTable) == 56);
static_assert(offsetof(LinData, parametersLoaded) == 104 && offsetof(LinData, parameters) == 108);

inline constexpr size_t kLinDataSize = sizeof(LinData);

// Result codes of the LIN1DD parser and file loader.
enum LinResult : int {
    kLinOk = 0,
    kLinFileOpenFailed = -1,
    kLinFileReadFailed = -2,     // empty file or short read
    kLinFileNoMemory = -3,
    kLinBadMagic = -4,
    kLinRecordHeaderCut = -5,    // fewer than 8 bytes left for a record header
    kLinRecordBodyCut = -6,      // a record body runs past the end
    kLinBadSerialRecord = 1,     // record 1 is not 8 bytes long
    kLinShortParameters = 2,     // record 2 is shorter than 44 bytes
    kLinBadTable = 3,            // a table is cut short or malformed
    kLinNoMemory = 13,
};

// Result codes of a point conversion.
enum LinConvertResult : int {
    kLinConverted = 0,
    kLinOutsideTable = 1,
    kLinNoData = -1,
};

}  // namespace quillan
