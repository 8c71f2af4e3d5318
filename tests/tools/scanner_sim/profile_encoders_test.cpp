// Profile containers and the 8 x 8 LIN1DD variant against stated bytes, the field layout and the
// analytic millimetres.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "golden_cases.h"
#include "platform/bytes.h"
#include "scanner_sim/crc32_mpeg2.h"
#include "scanner_sim/legacy_frame.h"
#include "scanner_sim/profile_container.h"

namespace scanner_sim {
namespace {

using test::toHex;

const uint8_t* u8(const std::string& s, size_t offset) { return reinterpret_cast<const uint8_t*>(s.data()) + offset; }
uint32_t le32(const std::string& s, size_t offset) { return platform::loadLE32(u8(s, offset)); }
uint16_t le16(const std::string& s, size_t offset) { return platform::loadLE16(u8(s, offset)); }
float f32(const std::string& s, size_t offset) { return std::bit_cast<float>(le32(s, offset)); }

constexpr size_t kStatusBytes = 8 + 52 + 60 + 16 + 16 + 160;  // magic, length and the five status blocks

ProfileSettings settingsOf(const char* name)
{
    for (const test::ProfileCase& c : test::goldenProfileCases())
        if (std::string_view(c.name) == name)
            return test::goldenProfileSettings(c);
    throw std::invalid_argument(name);
}

uint64_t indexOf(const char* name)
{
    for (const test::ProfileCase& c : test::goldenProfileCases())
        if (std::string_view(c.name) == name)
            return c.index;
    throw std::invalid_argument(name);
}

std::string golden(const char* name)
{
    return profileContainer(settingsOf(name), test::goldenCounters(indexOf(name)));
}

// Walks the blocks; returns {tag, offset} pairs.
std::vector<std::pair<uint32_t, size_t>> walk(const std::string& c)
{
    std::vector<std::pair<uint32_t, size_t>> out;
    size_t at = 8;
    while (at + 8 <= c.size()) {
        out.emplace_back(le32(c, at), at);
        const uint32_t length = le32(c, at + 4);
        if (length < 8)
            break;
        at += length;
    }
    return out;
}

TEST(ProfileContainer, PixelLayoutOf2048Columns)
{
    const std::string c = golden("profile_pixel");
    ASSERT_EQ(c.size(), 8536u);
    EXPECT_EQ(le32(c, 4), 8536u);
    const std::vector<std::pair<uint32_t, size_t>> expected = {
        {kGeneralTag, 8},      {kStatisticsTag, 60},  {kRoiXTag, 120},      {kRoiZTag, 136},
        {kFpgaTagSeriesB, 152}, {kPixelProfileTag, 312}, {kEndTag, 8524}};
    EXPECT_EQ(walk(c), expected);
    EXPECT_EQ(le16(c, 8 + 8), 0x1234);  // picture counter
    EXPECT_EQ(le32(c, 8 + 10), 0x89ABCDEFu);  // time stamp
    EXPECT_EQ(le32(c, 8 + 14), 1000u);  // HTL
    EXPECT_EQ(le32(c, 8 + 22), 2000u);  // TTL
    EXPECT_EQ(toHex(c.substr(kStatusBytes, 20)), "01061a0214200000000001000710080810500000");
    // Column bytes (Z u16, strength >> 2, (strength & 3) << 6 | width) of profile 7.
    const struct {
        size_t column;
        const char* hex;
    } columns[] = {{0, "7a5201c5"},    {1, "925202c5"},    {512, "c46201c5"}, {1535, "312500c5"},
                   {1536, "00000000"}, {1567, "00000000"}, {1568, "ce2621c5"}, {2047, "625200c5"}};
    for (const auto& col : columns)
        EXPECT_EQ(toHex(c.substr(kStatusBytes + 20 + 4 * col.column, 4)), col.hex) << col.column;
}

TEST(ProfileContainer, TwoEchoesWithoutStrength)
{
    const std::string c = golden("profile_two_echoes");
    // 100 columns x 2 echoes x (Z, width, reserved).
    EXPECT_EQ(toHex(c.substr(kStatusBytes, 20)), "01061a02fc030000000003000d10080810500000");
    EXPECT_EQ(toHex(c.substr(kStatusBytes + 20, 12)), "bb650500003b6e060000bf65");
}

TEST(ProfileContainer, LinearizedLayoutWithScaleBlock)
{
    const std::string c = golden("profile_linearized");
    const size_t scale = kStatusBytes;
    const size_t block = scale + 32;
    EXPECT_EQ(le32(c, scale), kProfileScaleTag);
    EXPECT_EQ(f32(c, scale + 8), 1.0f / 256);
    EXPECT_EQ(f32(c, scale + 12), -128.0f);
    EXPECT_EQ(f32(c, scale + 16), 1.0f / 64);
    EXPECT_EQ(f32(c, scale + 20), 0.0f);
    EXPECT_EQ(toHex(c.substr(block, 56)),
              "02061a02b8010000000000000000000040000000010000000000000002000000040000000500000001000000"
              "000000000000000088010000");
    // Z u16, strength << 6 | width, X u16; column 48 has no point: 0 mm on both axes.
    const struct {
        size_t column;
        const char* hex;
    } elements[] = {{0, "8458850a677e"}, {1, "7358850b797e"}, {48, "000000000080"}, {63, "155485497e82"}};
    for (const auto& e : elements)
        EXPECT_EQ(toHex(c.substr(block + 56 + 6 * e.column, 6)), e.hex) << e.column;
}

TEST(ProfileContainer, StrengthWidthPackings)
{
    // The swapped packing: strength = (v & 0xFF) << 2 | v >> 14, width = (v >> 8) & 0x3F.
    const std::string swapped = golden("profile_linearized_swapped");
    const ProfileValues v = profileValues(settingsOf("profile_linearized_swapped"), test::goldenCounters(250));
    const size_t data = kStatusBytes + 32 + 56;
    for (int col = 0; col < v.columns; ++col) {
        const uint16_t packed = le16(swapped, data + 6 * static_cast<size_t>(col) + 2);
        EXPECT_EQ(((packed & 0xFF) << 2) | (packed >> 14), v.at(col, 0).strength) << col;
        EXPECT_EQ((packed >> 8) & 0x3F, v.at(col, 0).width) << col;
    }
    // Strength alone is one byte (strength >> 2): elements of 5 bytes, entries Z, strength, X.
    const std::string alone = golden("profile_linearized_strength_only");
    const size_t block = kStatusBytes + 32;
    EXPECT_EQ(le32(alone, block + 4), 56u + 20 * 5);
    EXPECT_EQ(toHex(alone.substr(block + 28, 12)), "020000000400000001000000");
    EXPECT_EQ(le32(alone, block + 52), 20u * 5 + 8);
}

// Reads point data back with the decoder's rules, for comparison with profileValues.
std::vector<ProfilePoint> readPoints(const std::string& c, size_t at, size_t end, uint8_t mask, uint8_t content)
{
    if (content == 0)
        content = 0x0F;
    std::vector<ProfilePoint> out;
    while (at < end) {
        for (int echo = 0; echo < 4; ++echo) {
            if (!(mask & (1 << echo)))
                continue;
            ProfilePoint p;
            if (content & 1)
                p.zRaw = le16(c, at), at += 2;
            if (content & 2)
                p.strength = static_cast<uint16_t>(*u8(c, at++) * 4);
            if (content & 4) {
                const uint8_t b = *u8(c, at++);
                p.strength = static_cast<uint16_t>(p.strength + (b >> 6));
                p.width = b & 0x3F;
            }
            if (content & 8)
                p.reserved = static_cast<uint16_t>(*u8(c, at) + 8 * *u8(c, at + 1)), at += 2;
            out.push_back(p);
        }
    }
    return out;
}

std::vector<ProfilePoint> readPixelBlock(const std::string& c, size_t block)
{
    return readPoints(c, block + 20, block + le32(c, block + 4), *u8(c, block + 10), *u8(c, block + 12));
}

TEST(ProfileContainer, ValuesAreWhatTheBytesCarry)
{
    for (const char* name : {"profile_pixel", "profile_two_echoes", "profile_all_fields_echo1"}) {
        SCOPED_TRACE(name);
        const std::string c = golden(name);
        const ProfileValues v = profileValues(settingsOf(name), test::goldenCounters(indexOf(name)));
        EXPECT_EQ(readPixelBlock(c, kStatusBytes), v.points);
        EXPECT_EQ(v.points.size(), static_cast<size_t>(v.columns) * v.echoSlots.size());
    }
    const ProfileValues one = profileValues(settingsOf("profile_all_fields_echo1"), test::goldenCounters(99));
    EXPECT_EQ(one.echoSlots, std::vector<int>{1});  // signal enable 2: echo mask 0x02
}

TEST(LegacyFrame, HeaderTailAndPoints)
{
    for (const test::LegacyCase& c : test::goldenLegacyCases()) {
        SCOPED_TRACE(c.profile.name);
        const ProfileSettings s = test::goldenProfileSettings(c.profile);
        const std::string f = legacyProfileFrame(s, test::goldenCounters(c.profile.index), c.type);
        ASSERT_EQ(f.size(), 504u);
        EXPECT_EQ(legacyFrameLength(s), f.size());
        EXPECT_EQ(static_cast<uint8_t>(f[0]), c.type);
        EXPECT_EQ(toHex(f.substr(1, 15)), "19f80100003412efcdab89e8030000");  // length, counter, time, HTL
        EXPECT_EQ(toHex(f.substr(62, 2)), "0201");
        EXPECT_EQ(toHex(f.substr(288, 8)), "0000000220000100");  // ROI Z
        EXPECT_EQ(toHex(f.substr(504 - 14, 2)), "2903");
        EXPECT_EQ(crc32Mpeg2(std::string_view(f).substr(0, 500)), platform::loadBE32(u8(f, 500)));
        // The points read back as the pixel layout of the same settings.
        EXPECT_EQ(readPoints(f, 320, 504 - 64, *u8(f, 213), *u8(f, 215)), profileValues(s, test::goldenCounters(c.profile.index)).points);
    }
}

TEST(ProfileContainer, SurfaceFollowsTheProfileNumber)
{
    ProfileSettings s = settingsOf("profile_pixel");
    const ProfileValues a = profileValues(s, test::goldenCounters(0));
    const ProfileValues b = profileValues(s, test::goldenCounters(25));  // a quarter period later
    const ProfileValues c = profileValues(s, test::goldenCounters(100));
    for (int col = 0; col < a.columns; ++col)
        ASSERT_EQ(a.at(col, 0).zRaw, c.at(col, 0).zRaw) << col;  // period 100
    EXPECT_EQ(a.at(0, 0).zRaw, 32 * 1088 / 2);  // sin 0
    EXPECT_EQ(b.at(0, 0).zRaw, 32 * (1088 / 2 + 1088 / 4));  // sin pi/2
    EXPECT_EQ(a.at(1, 0).strength, 4);
    EXPECT_EQ(b.at(1, 0).strength, 29);
}

TEST(ProfileContainer, ShortGeneralBlock)
{
    ProfileSettings s = settingsOf("profile_pixel");
    const std::string full = profileContainer(s, test::goldenCounters(7));
    s.shortGeneralBlock = true;
    const std::string c = profileContainer(s, test::goldenCounters(7));
    ASSERT_EQ(c.size(), full.size() - 8);
    EXPECT_EQ(le32(c, 4), c.size());
    EXPECT_EQ(le32(c, 12), 44u);
    EXPECT_EQ(c.substr(8 + 8, 36), full.substr(8 + 8, 36));  // counters, encoders and I/O bits stay
    EXPECT_EQ(le32(c, 8 + 44), kStatisticsTag);
}

TEST(ProfileContainer, LengthFollowsTheRoiWidth)
{
    ProfileSettings s = settingsOf("profile_pixel");
    s.status.roiWidthX = 4000;  // at most 2048 columns
    EXPECT_EQ(profileContainer(s, {}).size(), 8536u);
    s.status.roiWidthX = 1280;
    EXPECT_EQ(profileContainer(s, {}).size(), 8536u - 4 * 768);
    s.status.signalEnable = 3;
    EXPECT_EQ(profileContainer(s, {}).size(), 8536u - 4 * 2048 + 8 * 1280);
}

TEST(ProfileContainer, LinearizedRawValuesGiveTheAnalyticMillimetres)
{
    const ProfileSettings s = settingsOf("profile_linearized");
    const ProfileValues v = profileValues(s, test::goldenCounters(42));
    const ProfileValues pixels = profileValues(settingsOf("profile_pixel"), test::goldenCounters(42));
    int points = 0;
    for (int col = 0; col < v.columns; ++col) {
        const uint16_t zRaw = surfaceEcho(2048, 1088, v.columns, col, 42, 0).zRaw;
        if (zRaw == 0)
            continue;
        ++points;
        const double u = col + 1000.0;
        const double vRow = 2 * (zRaw / 32.0) + 32;  // ROI Z step 1, offset 32
        const double z = 100 + 200 * vRow / 1088;
        const double x = (u / 2048 - 0.5) * (60 + 60.0 / 1088 * vRow);
        EXPECT_NEAR(s.scale.zScale * v.at(col, 0).zRaw + s.scale.zOffset, z, s.scale.zScale / 2) << col;
        EXPECT_NEAR(s.scale.xScale * v.at(col, 0).xRaw + s.scale.xOffset, x, s.scale.xScale / 2) << col;
    }
    EXPECT_EQ(points, 63);
    EXPECT_GT(pixels.columns, 0);
}

// Evaluates a LIN1DD table as the client does: bisection, then the cell's bicubic in du, dv.
double evaluate(const std::string& t, double u, double v)
{
    const uint32_t nx = le32(t, 0), nz = le32(t, 4);
    const auto axis = [&](size_t base, uint32_t i) { return std::bit_cast<double>(platform::loadLE64(u8(t, base + 8 * i))); };
    const size_t uBase = 8, vBase = 8 + 8 * (nx + 1), cells = vBase + 8 * (nz + 1);
    const auto find = [&](size_t base, uint32_t n, double value) {
        uint32_t lo = 0, hi = n;
        for (;;) {
            const uint32_t mid = (lo + hi) / 2;
            if (value < axis(base, mid))
                hi = mid;
            else if (value > axis(base, mid + 1))
                lo = mid;
            else
                return mid;
        }
    };
    const uint32_t i = find(uBase, nx, u), j = find(vBase, nz, v);
    const double du = u - axis(uBase, i), dv = v - axis(vBase, j);
    const size_t cell = cells + (static_cast<size_t>(i) * (nz + 1) + j) * 128;
    double sum = 0;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            sum += axis(cell, static_cast<uint32_t>(4 * k + m)) * std::pow(du, k) * std::pow(dv, m);
    return sum;
}

TEST(Lin1dd, TableFaultsKeepTheFrameSound)
{
    const LinGeometry g = test::goldenLinGeometry();
    const std::string good = lin1ddFrame(g);
    const size_t xTable = 6 + 8 + 16 + 52 + 8;  // in the frame
    const auto f64 = [](const std::string& s, size_t at) { return std::bit_cast<double>(platform::loadLE64(u8(s, at))); };
    const struct {
        LinTableFault fault;
        size_t changedAt;
        size_t changedBytes;
    } cases[] = {{LinTableFault::ZeroCells, xTable, 4},
                 {LinTableFault::HugeCells, xTable, 4},
                 {LinTableFault::NanAxis, xTable + 16, 8},
                 {LinTableFault::DescendingAxis, xTable + 8, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        const std::string f = lin1ddFrame(g, c.fault);
        ASSERT_EQ(f.size(), good.size());
        EXPECT_EQ(crc32Mpeg2(std::string_view(f).substr(0, f.size() - 4)), platform::loadBE32(u8(f, f.size() - 4)));
        EXPECT_EQ(f.substr(0, c.changedAt), good.substr(0, c.changedAt));
        EXPECT_EQ(f.substr(c.changedAt + c.changedBytes, f.size() - 4 - c.changedAt - c.changedBytes),
                  good.substr(c.changedAt + c.changedBytes, f.size() - 4 - c.changedAt - c.changedBytes));
    }
    EXPECT_EQ(le32(lin1ddFrame(g, LinTableFault::ZeroCells), xTable), 0u);
    EXPECT_EQ(le32(lin1ddFrame(g, LinTableFault::HugeCells), xTable), 0x40000000u);
    EXPECT_TRUE(std::isnan(f64(lin1ddFrame(g, LinTableFault::NanAxis), xTable + 16)));
    const std::string descending = lin1ddFrame(g, LinTableFault::DescendingAxis);
    EXPECT_EQ(f64(descending, xTable + 8), 2048.0);
    EXPECT_EQ(f64(descending, xTable + 16), 0.0);
}

TEST(Lin1dd, EightByEightCellsGiveTheAnalyticValues)
{
    const LinGeometry g = test::goldenLinGeometry8x8();
    const std::string image = lin1ddImage(g);
    // Record 3 follows the 8-byte magic, record 1 (16 bytes) and record 2 (52 bytes).
    const size_t record3 = 8 + 16 + 52;
    ASSERT_EQ(le32(image, record3), 3u);
    const size_t tableSize = 8 + 2 * 9 * 8 + 81 * 128;
    ASSERT_EQ(le32(image, record3 + 4), 2 * tableSize);
    const std::string x = image.substr(record3 + 8, tableSize);
    const std::string z = image.substr(record3 + 8 + tableSize, tableSize);
    EXPECT_EQ(le32(x, 0), 8u);
    EXPECT_EQ(le32(x, 4), 8u);
    const double points[][2] = {{0, 0}, {2048, 1088}, {255.9, 135.9}, {256, 136}, {1000.25, 700.5}, {1791, 1}};
    for (const auto& p : points) {
        const Millimetres mm = analyticMillimetres(g, p[0], p[1]);
        EXPECT_NEAR(evaluate(x, p[0], p[1]), mm.x, 1e-9) << p[0] << "," << p[1];
        EXPECT_NEAR(evaluate(z, p[0], p[1]), mm.z, 1e-9) << p[0] << "," << p[1];
    }
    EXPECT_NEAR(analyticMillimetres(g, 2048, 1088).x, 60, 1e-12);  // half the field width at the far end
}

}  // namespace
}  // namespace scanner_sim
