#pragma once
// One line of a block's part from one profile: the intensity part (Mono10, Mono10Packed) and the
// range part (Mono16, Coord3D_ABC32f). Values are stored little-endian; the parts' other known
// formats get a cleared line, unknown ones nothing.
#include <cstdint>
#include <span>
#include <string_view>

namespace lumabridge {

// What the range line maps points with: the scanner's geometry (mm) and the Scan3d coordinates
// A (x), B (y) and C (z).
struct RangeMapping {
    double workingRangeZStart = 0;
    double measuringRangeZ = 0;
    double fieldWidthXEnd = 0;
    float scaleA = 1, offsetA = 0;
    float scaleB = 1, offsetB = 0;
    float scaleC = 1;
};

// Bytes from the start of the part to the end of line `line` (lines of `width` pixels); 0 for a
// format that has no fixed size.
uint64_t LineEnd(std::string_view pixelFormat, uint32_t line, uint32_t width);

// Writes line `line` of an intensity part from min(pointCount, width) values; the rest of the
// line, and all of it with zeroLine, is 0. Intensities are clamped to 0..1023. Returns false,
// writing nothing, when the line does not fit in buffer.
bool FillIntensityLine(const int32_t* intensity, std::span<uint8_t> buffer, std::string_view pixelFormat,
                       uint32_t line, uint32_t pointCount, uint32_t width, bool zeroLine);

// Writes line `line` of a range part from min(pointCount, width) points (x, z in mm); yDelta is the
// line's encoder or time difference to line 0. Returns false, writing nothing, when the line does
// not fit in buffer.
//   Mono16: a point inside the field and the measuring range goes to column
//   round((x - offsetA) / scaleA) when that is below width, as trunc((z - zstart) / scaleC); other
//   columns are 0, and so is every column when scaleA or scaleC is not a positive number.
//   Coord3D_ABC32f: point k is the triple (x, yDelta * scaleB + offsetB, z) at position k.
bool FillRangeLine(std::span<uint8_t> buffer, std::string_view pixelFormat, const double* z, const double* x,
                   int32_t yDelta, uint32_t line, uint32_t pointCount, uint32_t width, bool zeroLine,
                   const RangeMapping& mapping);

}  // namespace lumabridge
