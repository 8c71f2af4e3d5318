// LIN1DD image layout: "LIN1DD\0" plus one byte, then records
// {u32 tag, u32 body length, body}, all little-endian.
#include "lin/linearization.h"

#include "platform/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/stat.h>

namespace quillan {
namespace {

constexpr uint8_t kMagic[7] = {'L', 'I', 'N', '1', 'D', 'D', 0};
constexpr size_t kMagicSize = 8;
constexpr size_t kRecordHeader = 8;
constexpr size_t kCellDoubles = 16;
constexpr size_t kCellBytes = kCellDoubles * 8;
constexpr size_t kParameterBytes = 4 * kLinParameterCount;
// Far above any real image; larger files are refused as out of memory.
constexpr long kMaxFileSize = 256L << 20;

enum RecordTag : uint32_t {
    kTagSerial = 1,
    kTagParameters = 2,
    kTagTables = 3,
    kTagLinearizationMode = 7,
};

void loadDoubles(const uint8_t* src, size_t count, std::vector<double>& out)
{
    out.resize(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = platform::loadF64LE(src + 8 * i);
}

// Knots must be finite and non-decreasing, which the interval search relies on.
bool axisUsable(const std::vector<double>& axis)
{
    for (size_t i = 0; i < axis.size(); ++i) {
        if (!std::isfinite(axis[i]))
            return false;
        if (i > 0 && !(axis[i - 1] <= axis[i]))
            return false;
    }
    return true;
}

bool sameAxes(const LinTable& a, const LinTable& b)
{
    return a.loaded && b.loaded && a.nx == b.nx && a.nz == b.nz &&
           std::equal(a.uAxis, a.uAxis + a.nx + 1, b.uAxis) && std::equal(a.vAxis, a.vAxis + a.nz + 1, b.vAxis);
}

// Cell n of both tables joined, at n; empty when there is no memory for it
// (the tables are then evaluated one by one).
void joinCells(const LinData& d, std::vector<linpatch::JointCell>& out)
{
    out.clear();
    const size_t cells = (size_t{d.xTable.nx} + 1) * (size_t{d.xTable.nz} + 1);
    try {
        out.resize(cells);
    } catch (const std::bad_alloc&) {
        out = std::vector<linpatch::JointCell>{};
        return;
    }
    for (size_t n = 0; n < cells; ++n)
        linpatch::joinCell(d.xTable.cells + kCellDoubles * n, d.zTable.cells + kCellDoubles * n, out[n]);
}

void clear(LinData& d)
{
    d.serialNumber = 0;
    d.xTable.loaded = 0;
    d.zTable.loaded = 0;
    d.parametersLoaded = 0;
}

}  // namespace

int ParseLinTable(const uint8_t* bytes, size_t length, size_t& consumed, LinTableData& out)
{
    consumed = 0;
    out.m_Table = LinTable{};
    if (length < 8)
        return kLinBadTable;

    const uint32_t nx = platform::loadLE32(bytes);
    const uint32_t nz = platform::loadLE32(bytes + 4);
    out.m_Table.nx = nx;
    out.m_Table.nz = nz;
    if (nx == 0 || nz == 0 || nx > kLinMaxIntervals || nz > kLinMaxIntervals)
        return kLinBadTable;

    // With the caps above none of these products can overflow.
    const size_t uCount = size_t{nx} + 1;
    const size_t vCount = size_t{nz} + 1;
    const size_t cellCount = uCount * vCount;
    size_t offset = 8;
    const size_t uOffset = offset;
    if ((length - offset) / 8 < uCount)
        return kLinBadTable;
    offset += 8 * uCount;
    const size_t vOffset = offset;
    if ((length - offset) / 8 < vCount)
        return kLinBadTable;
    offset += 8 * vCount;
    const size_t cellOffset = offset;
    if ((length - offset) / kCellBytes < cellCount)
        return kLinBadTable;
    offset += kCellBytes * cellCount;

    try {
        loadDoubles(bytes + uOffset, uCount, out.m_U);
        loadDoubles(bytes + vOffset, vCount, out.m_V);
        if (!axisUsable(out.m_U) || !axisUsable(out.m_V))
            return kLinBadTable;
        loadDoubles(bytes + cellOffset, cellCount * kCellDoubles, out.m_Cells);
        out.m_Rows.resize(uCount);
    } catch (const std::bad_alloc&) {
        return kLinNoMemory;
    }
    for (size_t i = 0; i < uCount; ++i)
        out.m_Rows[i] = out.m_Cells.data() + i * vCount * kCellDoubles;

    out.m_Table.uAxis = out.m_U.data();
    out.m_Table.vAxis = out.m_V.data();
    out.m_Table.rows = out.m_Rows.data();
    out.m_Table.cells = out.m_Cells.data();
    out.m_Table.loaded = 1;
    consumed = offset;
    return kLinOk;
}

int ParseLin1dd(const uint8_t* bytes, size_t length, Linearization& out)
{
    LinData& d = out.m_Data;
    clear(d);
    out.m_LinearizationMode = false;
    out.m_SharedAxes = false;
    out.m_BothCells.clear();
    out.m_Joint = LinJoint{};

    if (length > kMagicSize && std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return kLinBadMagic;

    size_t offset = kMagicSize;
    while (offset < length) {
        if (length - offset < kRecordHeader)
            return kLinRecordHeaderCut;
        const uint32_t tag = platform::loadLE32(bytes + offset);
        const size_t n = platform::loadLE32(bytes + offset + 4);
        const size_t bodyOffset = offset + kRecordHeader;
        if (n > length - bodyOffset)
            return kLinRecordBodyCut;
        const uint8_t* body = bytes + bodyOffset;

        switch (tag) {
        case kTagSerial:
            if (n != 8)
                return kLinBadSerialRecord;
            d.serialNumber = platform::loadLE64(body);
            break;
        case kTagParameters:
            for (size_t i = 0; i < kLinParameterCount && 4 * (i + 1) <= n; ++i)
                d.parameters[i] = static_cast<int32_t>(platform::loadLE32(body + 4 * i));
            if (n < kParameterBytes)
                return kLinShortParameters;
            d.parametersLoaded = 1;
            break;
        case kTagTables: {
            out.m_SharedAxes = false;
            out.m_BothCells.clear();
            out.m_Joint = LinJoint{};
            d.xTable.loaded = 0;
            d.zTable.loaded = 0;
            size_t usedX = 0;
            size_t usedZ = 0;
            int rc = ParseLinTable(body, n, usedX, out.m_X);
            d.xTable = out.m_X.table();
            if (rc != kLinOk)
                return rc;
            rc = ParseLinTable(body + usedX, n - usedX, usedZ, out.m_Z);
            d.zTable = out.m_Z.table();
            if (rc != kLinOk)
                return rc;
            out.m_SharedAxes = sameAxes(d.xTable, d.zTable);
            if (out.m_SharedAxes) {
                joinCells(d, out.m_BothCells);
                if (!out.m_BothCells.empty())
                    out.m_Joint = LinJoint{d.xTable.uAxis, d.xTable.vAxis, d.xTable.nx, d.xTable.nz,
                                          out.m_BothCells.data()};
            }
            break;
        }
        case kTagLinearizationMode:
            out.m_LinearizationMode = true;
            break;
        default:
            break;
        }
        offset = bodyOffset + n;
    }
    return kLinOk;
}

int LoadLin1ddFile(const char* path, Linearization& out)
{
    if (path == nullptr)
        return kLinFileOpenFailed;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return kLinFileOpenFailed;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return kLinFileOpenFailed;
    }

    std::vector<uint8_t> buffer;
    int rc = kLinOk;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0)
        size = std::ftell(f);
    if (size <= 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        rc = kLinFileReadFailed;
    } else if (size > kMaxFileSize) {
        rc = kLinFileNoMemory;
    } else {
        try {
            buffer.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            rc = kLinFileNoMemory;
        }
        if (rc == kLinOk && std::fread(buffer.data(), 1, buffer.size(), f) != buffer.size())
            rc = kLinFileReadFailed;
    }
    std::fclose(f);
    if (rc != kLinOk)
        return rc;
    return ParseLin1dd(buffer.data(), buffer.size(), out);
}

}  // namespace quillan
