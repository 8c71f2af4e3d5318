#include "line_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace lumabridge {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kStale = 0xAA;  // what the buffer held from an earlier block

Bytes stale(size_t n)
{
    return Bytes(n, kStale);
}

// Bytes at [offset, offset + n).
Bytes slice(const Bytes& b, size_t offset, size_t n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset), b.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

Bytes le16(std::initializer_list<uint16_t> values)
{
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    return out;
}

Bytes f32(std::initializer_list<float> values)
{
    Bytes out(values.size() * 4);
    size_t i = 0;
    for (float v : values)
        platform::storeF32LE(out.data() + 4 * i++, v);
    return out;
}

TEST(IntensityLine, WritesOneLineOfEachFormat)
{
    const int32_t intensity[] = {0x155, 0x2AA, 3, 1023, 2000, -7};
    const struct {
        const char* name;
        const char* format;
        uint32_t line, count, width;
        bool zeroLine;
        size_t offset;  // of the line
        Bytes line_bytes;
    } cases[] = {
        {"mono10", "Mono10", 1, 6, 4, false, 8, le16({0x155, 0x2AA, 3, 1023})},
        {"mono10 clamps above 1023 and below 0", "Mono10", 0, 6, 6, false, 0, le16({0x155, 0x2AA, 3, 1023, 1023, 0})},
        {"mono10 fewer points than pixels", "Mono10", 1, 2, 5, false, 10, le16({0x155, 0x2AA, 0, 0, 0})},
        {"mono10 zero line", "Mono10", 1, 6, 4, true, 8, le16({0, 0, 0, 0})},
        {"packed even count", "Mono10Packed", 1, 4, 4, false, 6, {0x55, 0x21, 0xAA, 0x00, 0x33, 0xFF}},
        {"packed odd count: the missing value is 0", "Mono10Packed", 1, 3, 4, false, 6,
         {0x55, 0x21, 0xAA, 0x00, 0x03, 0x00}},
        {"packed clamps", "Mono10Packed", 0, 6, 6, false, 0, {0x55, 0x21, 0xAA, 0x00, 0x33, 0xFF, 0xFF, 0x03, 0x00}},
        {"packed zero line", "Mono10Packed", 1, 4, 4, true, 6, Bytes(6, 0)},
        {"another known format is cleared", "Mono8", 2, 6, 5, false, 10, Bytes(5, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer = stale(64);
        ASSERT_TRUE(FillIntensityLine(intensity, buffer, c.format, c.line, c.count, c.width, c.zeroLine));
        EXPECT_EQ(slice(buffer, c.offset, c.line_bytes.size()), c.line_bytes);
        // Nothing around the line changes.
        EXPECT_EQ(slice(buffer, 0, c.offset), stale(c.offset));
        const size_t end = c.offset + c.line_bytes.size();
        EXPECT_EQ(slice(buffer, end, buffer.size() - end), stale(buffer.size() - end));
    }
}

TEST(IntensityLine, PacksOddWidthsByPixelIndexWhateverTheLineOrder)
{
    // Width 5: pixel 4 (line 0) and pixel 5 (line 1) share the third byte triple.
    const int32_t line0[] = {5, 10, 15, 17, 0x3FD};
    const int32_t line1[] = {0x3FE, 21, 26, 31, 33};
    const Bytes expected = {0x01, 0x21, 0x02, 0x03, 0x13, 0x04, 0xFF, 0x21, 0xFF,
                            0x05, 0x21, 0x06, 0x07, 0x13, 0x08};
    for (bool line1First : {false, true}) {
        SCOPED_TRACE(line1First ? "line 1 first" : "line 0 first");
        Bytes buffer = stale(15);  // ceil(5 x 2 x 1.5)
        const int32_t* lines[] = {line0, line1};
        const uint32_t a = line1First ? 1 : 0, b = 1 - a;
        const bool first = FillIntensityLine(lines[a], buffer, "Mono10Packed", a, 5, 5, false);
        const bool second = FillIntensityLine(lines[b], buffer, "Mono10Packed", b, 5, 5, false);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(buffer, expected);

        // An empty line 1 clears its pixels only.
        ASSERT_TRUE(FillIntensityLine(nullptr, buffer, "Mono10Packed", 1, 0, 5, true));
        EXPECT_EQ(slice(buffer, 0, 8), (Bytes{0x01, 0x21, 0x02, 0x03, 0x13, 0x04, 0xFF, 0x01}));
        EXPECT_EQ(slice(buffer, 8, 7), Bytes(7, 0));
    }
}

TEST(IntensityLine, RefusesALineBeyondTheBufferAndSkipsUnknownFormats)
{
    const int32_t intensity[] = {1, 2, 3, 4, 5, 6};
    const struct {
        const char* format;
        size_t size;
        uint32_t line, width;
    } tooShort[] = {{"Mono10", 15, 1, 4}, {"Mono10Packed", 14, 1, 5}, {"Mono8", 11, 1, 6}};
    for (const auto& c : tooShort) {
        SCOPED_TRACE(c.format);
        Bytes buffer = stale(c.size);
        EXPECT_FALSE(FillIntensityLine(intensity, buffer, c.format, c.line, 6, c.width, false));
        EXPECT_EQ(buffer, stale(c.size));
        buffer.push_back(kStale);  // one byte more fits
        EXPECT_TRUE(FillIntensityLine(intensity, buffer, c.format, c.line, 6, c.width, false));
    }
    Bytes buffer = stale(16);
    EXPECT_TRUE(FillIntensityLine(intensity, buffer, "Mono12", 0, 6, 4, false));
    EXPECT_EQ(buffer, stale(16));
}

TEST(IntensityLine, LineEndCoversEveryPixelOfTheLine)
{
    EXPECT_EQ(LineEnd("Mono10Packed", 2, 1024), 4608u);
    EXPECT_EQ(LineEnd("Mono10Packed", 0, 5), 8u);  // pixel 4's bytes 6 and 7
    EXPECT_EQ(LineEnd("Mono10Packed", 1, 5), 15u);
    EXPECT_EQ(LineEnd("Coord3D_ABC32f", 9999, 4500), 540'000'000u);
    EXPECT_EQ(LineEnd("Mono12", 3, 100), 0u);
}

// Field -5..5 mm over 5 columns (A scale 2, offset -5); z range 100..200 mm at 0.5 mm (C scale).
RangeMapping mono16Mapping()
{
    RangeMapping m;
    m.workingRangeZStart = 100;
    m.measuringRangeZ = 100;
    m.fieldWidthXEnd = 10;
    m.scaleA = 2;
    m.offsetA = -5;
    m.scaleC = 0.5f;
    return m;
}

TEST(RangeLine, Mono16PlacesPointsByColumn)
{
    const struct {
        const char* name;
        std::vector<double> x, z;
        Bytes line;
    } cases[] = {
        {"columns and values", {-5, -1, 0.9, 3}, {110.7, 100, 200, 150.25}, le16({21, 0, 0, 200, 100})},
        {"half a column rounds away from zero", {-4}, {101}, le16({0, 2, 0, 0, 0})},
        {"the last point of a column wins", {0, 0.5}, {120, 130}, le16({0, 0, 0, 60, 0})},
        {"outside the field", {-5.01, 5.01}, {120, 120}, le16({0, 0, 0, 0, 0})},
        {"outside the measuring range", {0, 0}, {99.9, 200.1}, le16({0, 0, 0, 0, 0})},
        {"columns at and above the width are dropped", {4.5, 5}, {120, 120}, le16({0, 0, 0, 0, 0})},
        {"not a number", {NAN, 0}, {120, NAN}, le16({0, 0, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer = stale(30);
        ASSERT_TRUE(FillRangeLine(buffer, "Mono16", c.z.data(), c.x.data(), 0, 1, static_cast<uint32_t>(c.x.size()),
                                  5, false, mono16Mapping()));
        EXPECT_EQ(slice(buffer, 10, 10), c.line);
        EXPECT_EQ(slice(buffer, 0, 10), stale(10));
        EXPECT_EQ(slice(buffer, 20, 10), stale(10));
    }
}

TEST(RangeLine, Mono16ScalesThatMapNothingGiveAnEmptyLine)
{
    const double x[] = {-5, 0}, z[] = {120, 170};
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (float bad : {0.0f, -2.0f, nan, inf}) {
        for (bool onA : {true, false}) {
            SCOPED_TRACE(testing::Message() << bad << (onA ? " on A" : " on C"));
            RangeMapping m = mono16Mapping();
            (onA ? m.scaleA : m.scaleC) = bad;
            Bytes buffer = stale(10);
            ASSERT_TRUE(FillRangeLine(buffer, "Mono16", z, x, 0, 0, 2, 5, false, m));
            EXPECT_EQ(buffer, Bytes(10, 0));
        }
    }
    // A C scale too fine for 16 bits saturates.
    RangeMapping fine = mono16Mapping();
    fine.scaleC = 1.0f / 1024;
    Bytes buffer = stale(10);
    ASSERT_TRUE(FillRangeLine(buffer, "Mono16", z, x, 0, 0, 2, 5, false, fine));
    EXPECT_EQ(buffer, le16({20480, 0, 0, 0xFFFF, 0}));
}

TEST(RangeLine, Coord3DWritesTriplesInPointOrder)
{
    const double x[] = {-2.5, 7.25, 1}, z[] = {101.5, 150, 0};
    RangeMapping m;
    m.scaleB = 0.5f;
    m.offsetB = 1;
    const struct {
        const char* name;
        uint32_t count, width;
        int32_t yDelta;
        bool zeroLine;
        Bytes line;
    } cases[] = {
        {"two points of four", 2, 4, -3, false, f32({-2.5f, -0.5f, 101.5f, 7.25f, -0.5f, 150, 0, 0, 0, 0, 0, 0})},
        {"more points than pixels", 3, 2, 4, false, f32({-2.5f, 3, 101.5f, 7.25f, 3, 150})},
        {"zero line", 3, 4, 4, true, Bytes(48, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer = stale(c.line.size() * 3);
        ASSERT_TRUE(FillRangeLine(buffer, "Coord3D_ABC32f", z, x, c.yDelta, 1, c.count, c.width, c.zeroLine, m));
        EXPECT_EQ(slice(buffer, c.line.size(), c.line.size()), c.line);
        EXPECT_EQ(slice(buffer, 0, c.line.size()), stale(c.line.size()));
        EXPECT_EQ(slice(buffer, 2 * c.line.size(), c.line.size()), stale(c.line.size()));
    }
    // y saturates at the float range.
    m.scaleB = std::numeric_limits<float>::max();
    Bytes buffer = stale(12);
    ASSERT_TRUE(FillRangeLine(buffer, "Coord3D_ABC32f", z, x, 1000, 0, 1, 1, false, m));
    EXPECT_EQ(platform::loadF32LE(buffer.data() + 4), std::numeric_limits<float>::max());
}

// Long lines, whose points are taken several at a time, against the rule point by point: every
// count from 0 to 21 (each remainder after a run of 4 or 8 points), at every line start alignment.
TEST(LongLines, EachPointFollowsTheRule)
{
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {-2.5,    7.25, 1e300, -1e300, nan,     inf,   -inf, -0.0,   1e-310,
                                        0.1,     3e38, -3.5e38, kFloatMax, 1.0 + 1e-9, 123.456, -7,   0, 1e-40,
                                        4.4e-39, 99.99, -0.125};
    const std::vector<int32_t> intensities = {0x155, -1,   1023, 1024, 0,     -70000, 70000, 512, 2147483647,
                                              -2147483647 - 1, 1, 1000, 3, 65535, 65536, -32768, 32767, 7,
                                              1022, 8, 9};
    std::vector<double> x(values.size()), z(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        x[k] = values[k];
        z[k] = values[values.size() - 1 - k];
    }
    RangeMapping m;
    m.scaleB = 0.5f;
    m.offsetB = 1;
    const auto floatOf = [&](double v) { return static_cast<float>(std::clamp(v, -kFloatMax, kFloatMax)); };
    const auto sameBits = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    constexpr uint32_t kWidth = 24;
    for (uint32_t line = 0; line < 3; ++line) {
        for (uint32_t count = 0; count <= values.size(); ++count) {
            SCOPED_TRACE("line " + std::to_string(line) + ", count " + std::to_string(count));
            Bytes range = stale(LineEnd("Coord3D_ABC32f", line, kWidth));
            ASSERT_TRUE(FillRangeLine(range, "Coord3D_ABC32f", z.data(), x.data(), -3, line, count, kWidth, false, m));
            const uint8_t* out = range.data() + size_t{line} * kWidth * 12;
            for (uint32_t k = 0; k < kWidth; ++k) {
                SCOPED_TRACE("point " + std::to_string(k));
                const bool point = k < count;
                EXPECT_TRUE(sameBits(platform::loadF32LE(out + 12 * k), point ? floatOf(x[k]) : 0.0f));
                EXPECT_TRUE(sameBits(platform::loadF32LE(out + 12 * k + 4), point ? -0.5f : 0.0f));
                EXPECT_TRUE(sameBits(platform::loadF32LE(out + 12 * k + 8), point ? floatOf(z[k]) : 0.0f));
            }
            EXPECT_EQ(slice(range, 0, size_t{line} * kWidth * 12), stale(size_t{line} * kWidth * 12));

            Bytes mono = stale(LineEnd("Mono10", line + 1, kWidth));
            ASSERT_TRUE(FillIntensityLine(intensities.data(), mono, "Mono10", line, count, kWidth, false));
            for (uint32_t k = 0; k < kWidth; ++k) {
                const uint16_t expected = k < count ? static_cast<uint16_t>(std::clamp(intensities[k], 0, 1023)) : 0;
                EXPECT_EQ(platform::loadLE16(mono.data() + (size_t{line} * kWidth + k) * 2), expected) << "pixel " << k;
            }
            const size_t end = size_t{line + 1} * kWidth * 2;
            EXPECT_EQ(slice(mono, end, mono.size() - end), stale(mono.size() - end));
        }
    }
}

TEST(RangeLine, RefusesALineBeyondTheBuffer)
{
    const double x[] = {0, 0, 0, 0}, z[] = {150, 150, 150, 150};
    for (const char* format : {"Mono16", "Coord3D_ABC32f"}) {
        SCOPED_TRACE(format);
        const size_t size = LineEnd(format, 2, 4);
        Bytes buffer = stale(size - 1);
        EXPECT_FALSE(FillRangeLine(buffer, format, z, x, 0, 2, 4, 4, false, mono16Mapping()));
        EXPECT_EQ(buffer, stale(size - 1));
        buffer.push_back(kStale);
        EXPECT_TRUE(FillRangeLine(buffer, format, z, x, 0, 2, 4, 4, false, mono16Mapping()));
    }
    Bytes buffer = stale(16);
    EXPECT_TRUE(FillRangeLine(buffer, "Mono12", z, x, 0, 0, 4, 4, false, mono16Mapping()));
    EXPECT_EQ(buffer, stale(16));
}

}  // namespace
}  // namespace lumabridge
