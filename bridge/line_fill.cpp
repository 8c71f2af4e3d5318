#include "line_fill.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "pixel_formats.h"
#include "platform/bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumabridge {
namespace {

constexpr int32_t kMono10Max = 1023;

// Little-endian stores; on a little-endian host one plain store each.
template <typename T>
void storeLittle(uint8_t* p, T v)
{
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(p, &v, sizeof v);
    else
        platform::storeLE(p, std::bit_cast<std::conditional_t<sizeof(T) == 2, uint16_t, uint32_t>>(v));
}

uint16_t intensityValue(const int32_t* intensity, uint32_t k, uint32_t count, bool zeroLine)
{
    if (zeroLine || k >= count)
        return 0;
    return static_cast<uint16_t>(std::clamp(intensity[k], 0, kMono10Max));
}

// Twice the bytes per pixel (3 for Mono10Packed), 0 for an unknown format.
uint64_t halfBytesPerPixel(std::string_view pixelFormat)
{
    const std::optional<double> bytes = BytesPerPixel(pixelFormat);
    return bytes ? static_cast<uint64_t>(std::lround(*bytes * 2)) : 0;
}

// Mono10Packed: pixel g of the part is in the byte triple g / 2, as its first (even g) or second
// value; writing one leaves the other's bits as they are.
void packFirst(uint8_t* triple, uint16_t v)
{
    triple[0] = static_cast<uint8_t>(v >> 2);
    triple[1] = static_cast<uint8_t>((triple[1] & 0x30) | (v & 3));
}

void packSecond(uint8_t* triple, uint16_t v)
{
    triple[1] = static_cast<uint8_t>((triple[1] & 0x03) | ((v & 3) << 4));
    triple[2] = static_cast<uint8_t>(v >> 2);
}

void fillMono10Packed(const int32_t* intensity, uint8_t* part, uint64_t firstPixel, uint32_t count, uint32_t width,
                      bool zeroLine)
{
    uint32_t k = 0;
    uint64_t g = firstPixel;
    if (g % 2 == 1 && k < width)  // an odd-width line starting in the middle of a pair
        packSecond(part + (g++ / 2) * 3, intensityValue(intensity, k++, count, zeroLine));
    for (; k + 1 < width; k += 2, g += 2) {
        uint8_t* triple = part + (g / 2) * 3;
        const uint16_t p0 = intensityValue(intensity, k, count, zeroLine);
        const uint16_t p1 = intensityValue(intensity, k + 1, count, zeroLine);
        triple[0] = static_cast<uint8_t>(p0 >> 2);
        triple[1] = static_cast<uint8_t>((p0 & 3) | ((p1 & 3) << 4));
        triple[2] = static_cast<uint8_t>(p1 >> 2);
    }
    if (k < width)
        packFirst(part + (g / 2) * 3, intensityValue(intensity, k, count, zeroLine));
}

uint8_t* lineStart(std::span<uint8_t> buffer, std::string_view pixelFormat, uint32_t line, uint32_t width)
{
    return buffer.data() + static_cast<uint64_t>(line) * width * halfBytesPerPixel(pixelFormat) / 2;
}

bool fits(std::span<uint8_t> buffer, std::string_view pixelFormat, uint32_t line, uint32_t width)
{
    return LineEnd(pixelFormat, line, width) <= buffer.size();
}

// Mono16 column of x, or -1 outside 0..width-1 (and for a scale that maps nothing).
int64_t mono16Column(double x, const RangeMapping& m, uint32_t width)
{
    if (!(m.scaleA > 0) || !std::isfinite(m.scaleA))
        return -1;
    const double column = std::round((x - m.offsetA) / m.scaleA);
    if (!(column >= 0 && column < width))
        return -1;
    return static_cast<int64_t>(column);
}

void fillMono16(uint8_t* out, const double* z, const double* x, uint32_t count, uint32_t width,
                const RangeMapping& m)
{
    if (!(m.scaleC > 0) || !std::isfinite(m.scaleC))
        return;
    const double halfField = m.fieldWidthXEnd * 0.5;
    const double zEnd = m.workingRangeZStart + m.measuringRangeZ;
    for (uint32_t k = 0; k < count; ++k) {
        // Written so that NaN coordinates are skipped too.
        if (!(x[k] <= halfField && x[k] >= -halfField && z[k] >= m.workingRangeZStart && z[k] <= zEnd))
            continue;
        const int64_t column = mono16Column(x[k], m, width);
        if (column < 0)
            continue;
        // z is at or above the start: the conversion truncates, saturated at 16 bits.
        const double value = (z[k] - m.workingRangeZStart) / m.scaleC;
        storeLittle(out + column * 2, static_cast<uint16_t>(std::min(value, 65535.0)));
    }
}

constexpr double kFloatMax = std::numeric_limits<float>::max();

// Saturated at the float range (a NaN stays NaN).
float toFloat(double v)
{
    return static_cast<float>(std::clamp(v, -kFloatMax, kFloatMax));
}

#if defined(__SSE2__)
// toFloat of two values: min(a, b) and max(a, b) give b when either is NaN, so with v second a
// NaN passes through both as std::clamp passes it; the conversion rounds as the scalar one does.
__m128 toFloats(__m128d v)
{
    const __m128d clamped = _mm_max_pd(_mm_set1_pd(-kFloatMax), _mm_min_pd(_mm_set1_pd(kFloatMax), v));
    return _mm_cvtpd_ps(clamped);
}
#endif

// Mono10 values of the first count points, clamped to 0..1023, then zeros to width.
void fillMono10(const int32_t* intensity, uint8_t* out, uint32_t count, uint32_t width)
{
    uint32_t k = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        // Saturation to 16 bits keeps the order, so the clamp to 0..1023 is the same after it.
        const __m128i low = _mm_setzero_si128(), high = _mm_set1_epi16(kMono10Max);
        for (; k + 8 <= count; k += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(intensity + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(intensity + k + 4));
            const __m128i v = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(a, b), low), high);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), v);
        }
    }
#endif
    for (; k < count; ++k)
        storeLittle(out + 2 * k, static_cast<uint16_t>(std::clamp(intensity[k], 0, kMono10Max)));
    std::memset(out + 2 * size_t{count}, 0, 2 * size_t{width - count});
}

void fillCoord3D(uint8_t* out, const double* z, const double* x, int32_t yDelta, uint32_t count,
                 const RangeMapping& m)
{
    const float y = toFloat(static_cast<double>(yDelta) * m.scaleB + m.offsetB);
    uint32_t k = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        // Four points, twelve floats: x0 y z0 x1 | y z1 x2 y | z2 x3 y z3.
        const __m128 yv = _mm_set1_ps(y);
        for (; k + 4 <= count; k += 4, out += 48) {
            const __m128 xs = _mm_movelh_ps(toFloats(_mm_loadu_pd(x + k)), toFloats(_mm_loadu_pd(x + k + 2)));
            const __m128 zs = _mm_movelh_ps(toFloats(_mm_loadu_pd(z + k)), toFloats(_mm_loadu_pd(z + k + 2)));
            const __m128 xz01 = _mm_unpacklo_ps(xs, zs);  // x0 z0 x1 z1
            const __m128 xz23 = _mm_unpackhi_ps(xs, zs);  // x2 z2 x3 z3
            const __m128 first = _mm_shuffle_ps(_mm_unpacklo_ps(xs, yv), xz01, _MM_SHUFFLE(2, 1, 1, 0));
            const __m128 second = _mm_shuffle_ps(_mm_unpacklo_ps(yv, zs), _mm_unpackhi_ps(xs, yv),
                                                 _MM_SHUFFLE(1, 0, 3, 2));
            const __m128 third = _mm_shuffle_ps(xz23, _mm_unpackhi_ps(yv, zs), _MM_SHUFFLE(3, 2, 2, 1));
            _mm_storeu_ps(reinterpret_cast<float*>(out), first);
            _mm_storeu_ps(reinterpret_cast<float*>(out + 16), second);
            _mm_storeu_ps(reinterpret_cast<float*>(out + 32), third);
        }
    }
#endif
    for (; k < count; ++k, out += 12) {
        storeLittle(out, toFloat(x[k]));
        storeLittle(out + 4, y);
        storeLittle(out + 8, toFloat(z[k]));
    }
}

}  // namespace

uint64_t LineEnd(std::string_view pixelFormat, uint32_t line, uint32_t width)
{
    return ((static_cast<uint64_t>(line) + 1) * width * halfBytesPerPixel(pixelFormat) + 1) / 2;
}

bool FillIntensityLine(const int32_t* intensity, std::span<uint8_t> buffer, std::string_view pixelFormat,
                       uint32_t line, uint32_t pointCount, uint32_t width, bool zeroLine)
{
    if (!fits(buffer, pixelFormat, line, width))
        return false;
    const uint32_t count = std::min(pointCount, width);
    if (pixelFormat == "Mono10") {
        fillMono10(intensity, lineStart(buffer, pixelFormat, line, width), zeroLine ? 0 : count, width);
    } else if (pixelFormat == "Mono10Packed") {
        fillMono10Packed(intensity, buffer.data(), static_cast<uint64_t>(line) * width, count, width, zeroLine);
    } else {
        uint8_t* out = lineStart(buffer, pixelFormat, line, width);
        std::memset(out, 0, LineEnd(pixelFormat, line, width) - static_cast<uint64_t>(out - buffer.data()));
    }
    return true;
}

bool FillRangeLine(std::span<uint8_t> buffer, std::string_view pixelFormat, const double* z, const double* x,
                   int32_t yDelta, uint32_t line, uint32_t pointCount, uint32_t width, bool zeroLine,
                   const RangeMapping& mapping)
{
    if (!fits(buffer, pixelFormat, line, width))
        return false;
    const uint32_t count = std::min(pointCount, width);
    uint8_t* out = lineStart(buffer, pixelFormat, line, width);
    const uint64_t end = LineEnd(pixelFormat, line, width);
    if (pixelFormat == "Mono10Packed") {  // not a range format; its lines share bytes
        fillMono10Packed(nullptr, buffer.data(), static_cast<uint64_t>(line) * width, 0, width, true);
        return true;
    }
    const uint64_t lineBytes = end - static_cast<uint64_t>(out - buffer.data());
    if (!zeroLine && pixelFormat == "Coord3D_ABC32f") {  // the points, then zeros after them
        fillCoord3D(out, z, x, yDelta, count, mapping);
        std::memset(out + size_t{count} * 12, 0, lineBytes - size_t{count} * 12);
        return true;
    }
    std::memset(out, 0, lineBytes);
    if (!zeroLine && pixelFormat == "Mono16")
        fillMono16(out, z, x, count, width, mapping);
    return true;
}

}  // namespace lumabridge
