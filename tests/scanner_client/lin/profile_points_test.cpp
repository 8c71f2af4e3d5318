#include "lin/legacy_profile.h"
#include "lin/profile_container.h"
#include "lin/profile_points.h"

#include "lin1dd_builder.h"
#include "profile_golden.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <memory>
#include <vector>

namespace {

#include "lin1dd_golden.inc"

using namespace quillan;
using namespace profiletest;

std::unique_ptr<Linearization> goldenLin()
{
    auto lin = std::make_unique<Linearization>();
    const Bytes img = fromHex(kGoldenLin1ddHex);
    EXPECT_EQ(ParseLin1dd(img.data(), img.size(), *lin), kLinOk);
    return lin;
}

TEST(LinearizeProfile, PixelContainerThroughTheTables)
{
    const auto lin = goldenLin();
    const lintest::Geometry g;
    ProfileContainerDecoder decoder;
    auto p = std::make_unique<DecodedProfile>();
    const Bytes c = fromHex(kPixelContainerHex);
    decoder.decode(c.data(), c.size(), false, *p);
    LinearizeProfile(*p, lin.get());

    // ROI X offset 100, step 1; ROI Z offset 50, step 0.
    for (const GoldenEcho& e : kPixelContainerEchoes) {
        const double u = e.column * 2 + 100;
        const double v = e.zRaw / 32.0 + 50;
        const EchoPoint& pt = p->columns[e.column].echoes[0];
        EXPECT_NEAR(pt.xMm, g.x(u, v), 1e-9) << e.column;
        EXPECT_NEAR(pt.zMm, g.z(u, v), 1e-9) << e.column;
    }
}

TEST(LinearizeProfile, ZeroRowsOutsidePointsAndNoData)
{
    const auto lin = goldenLin();
    const lintest::Geometry g;
    auto p = std::make_unique<DecodedProfile>();
    const Bytes frame = fromHex(kLegacyBasicHex);

    // Columns: zRaw 3205 (inside), 0 (no point), 65535 (row 4096 with step
    // Z 1: outside the table).
    DecodeLegacyProfile(frame.data(), frame.size(), *p);
    LinearizeProfile(*p, lin.get());
    const double u0 = 10, v0 = 2 * 3205 / 32.0;
    EXPECT_NEAR(p->columns[0].echoes[0].xMm, g.x(u0, v0), 1e-9);
    EXPECT_NEAR(p->columns[0].echoes[0].zMm, g.z(u0, v0), 1e-9);
    for (int c : {1, 2}) {
        EXPECT_EQ(p->columns[c].echoes[0].xMm, 0.0) << c;
        EXPECT_EQ(p->columns[c].echoes[0].zMm, 0.0) << c;
    }

    // Without data, or data without tables, nothing changes.
    DecodeLegacyProfile(frame.data(), frame.size(), *p);
    LinearizeProfile(*p, nullptr);
    EXPECT_EQ(p->columns[0].echoes[0].xMm, 0.0);
    Linearization empty;
    const Bytes magic = lintest::magic();
    ASSERT_EQ(ParseLin1dd(magic.data(), magic.size(), empty), kLinOk);
    LinearizeProfile(*p, &empty);
    EXPECT_EQ(p->columns[0].echoes[0].zMm, 0.0);
}

TEST(LinearizeProfile, LinearizedLayoutIsLeftAlone)
{
    const auto lin = goldenLin();
    ProfileContainerDecoder decoder;
    auto p = std::make_unique<DecodedProfile>();
    const Bytes c = fromHex(kLinearizedContainerHex);
    decoder.decode(c.data(), c.size(), false, *p);
    LinearizeProfile(*p, lin.get());
    for (const GoldenEcho& e : kLinearizedEchoes) {
        EXPECT_NEAR(p->columns[e.column].echoes[0].xMm, e.xMm, 1e-9);
        EXPECT_NEAR(p->columns[e.column].echoes[0].zMm, e.zMm, 1e-9);
    }
}

// The profile loop (in whatever width this machine runs it) gives the bits of
// point-by-point conversion, on tables whose cells do not join up.
TEST(LinearizeProfile, SameBitsAsPointByPointConversion)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> coef(-1, 1);
    const std::vector<double> u = {0, 256, 512, 700, 1024, 1280, 1536, 1792, 2048};
    const std::vector<double> v = {0, 136, 272, 408, 544, 680, 816, 952, 1088};
    std::vector<lintest::Cell> xc(u.size() * v.size()), zc(xc.size());
    for (auto* cells : {&xc, &zc})
        for (lintest::Cell& c : *cells)
            for (int k = 0; k < 16; ++k)
                c[k] = coef(rng) * std::pow(1e-2, (k / 4) + (k % 4));
    const Bytes img = lintest::concat(
        {lintest::magic(), lintest::record(3, lintest::concat({lintest::table(u, v, xc), lintest::table(u, v, zc)}))});
    Linearization lin;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);

    auto p = std::make_unique<DecodedProfile>();
    p->columnCount = kMaxProfileColumns;
    p->echoSlotsUsed = 0x03;
    p->effStepZ = 1;
    std::uniform_int_distribution<int> row(0, 700 * 32);
    for (int c = 0; c < kMaxProfileColumns; ++c)
        for (int j = 0; j < 2; ++j) {
            EchoPoint& e = p->columns[c].echoes[j];
            e.valid = c % 7 != 3;
            e.zPixel = c % 11 == 5 ? 0.0 : row(rng) / 32.0;  // rows past 1088 lie outside
            e.xMm = e.zMm = -1;
        }
    LinearizeProfile(*p, &lin);
    for (int c = 0; c < kMaxProfileColumns; ++c)
        for (int j = 0; j < 2; ++j) {
            const EchoPoint& e = p->columns[c].echoes[j];
            double x = -1, z = -1;
            if (e.valid && e.zPixel == 0.0)
                x = z = 0.0;
            else if (e.valid)
                lin.convert(c, 2 * e.zPixel, x, z);
            ASSERT_EQ(std::memcmp(&x, &e.xMm, sizeof x), 0) << c << "," << j;
            ASSERT_EQ(std::memcmp(&z, &e.zMm, sizeof z), 0) << c << "," << j;
        }
}

// A profile with the given (x, z) for echo `echo` of each column; NaN x means
// no valid echo.
std::unique_ptr<DecodedProfile> profileOf(const std::vector<std::pair<double, double>>& points, int echo = 0)
{
    auto p = std::make_unique<DecodedProfile>();
    p->columnCount = static_cast<int>(points.size());
    p->echoSlotsUsed = static_cast<uint8_t>(1u << echo);
    for (size_t c = 0; c < points.size(); ++c) {
        EchoPoint& e = p->columns[c].echoes[echo];
        e.valid = !std::isnan(points[c].first);
        e.xMm = points[c].first;
        e.zMm = points[c].second;
        e.strength = 100 + static_cast<int>(c);
        e.width = static_cast<int>(c);
    }
    return p;
}

TEST(EmitProfilePoints, ValidEchoesInOrderUpToMaxPoints)
{
    // Second echo only (mask 0x02): slot 1 is emitted, slot 0 is not.
    const auto p = profileOf({{1, 10}, {2, 20}, {NAN, 0}, {4, 40}}, 1);
    std::vector<double> x(6, -1), z(6, -1);
    std::vector<int> in(6, -1), w(6, -1);
    const struct { int maxPoints; int written; } cases[] = {{10, 3}, {3, 3}, {2, 2}, {0, 0}, {-5, 0}};
    for (const auto& c : cases) {
        std::fill(x.begin(), x.end(), -1);
        std::fill(w.begin(), w.end(), -1);
        const int n = EmitProfilePoints(*p, {x.data(), z.data(), in.data(), w.data(), c.maxPoints}, false);
        EXPECT_EQ(n, c.written) << c.maxPoints;
        for (int i = n; i < 6; ++i) {
            EXPECT_EQ(x[i], -1) << "written past the end at " << i;
            EXPECT_EQ(w[i], -1) << "written past the end at " << i;
        }
    }
    EmitProfilePoints(*p, {x.data(), z.data(), in.data(), w.data(), 10}, false);
    EXPECT_EQ(x[2], 4);
    EXPECT_EQ(z[2], 40);
    EXPECT_EQ(in[2], 103);
    EXPECT_EQ(w[2], 3);

    // Only some arrays given.
    std::vector<double> onlyZ(4, -1);
    EXPECT_EQ(EmitProfilePoints(*p, {nullptr, onlyZ.data(), nullptr, nullptr, 4}, false), 3);
    EXPECT_EQ(onlyZ[1], 20);
}

TEST(EmitProfilePoints, SortByX)
{
    // Columns with a zero point keep their places; the others are ordered
    // by x (NaN last).
    const auto p = profileOf({{5, 1}, {0, 0}, {-3, 1}, {NAN, 0}, {2, 1}, {0, 7}, {NAN, 0}});
    p->columns[6].echoes[0] = EchoPoint{true, 0, 0, 0, 0, 0, 0, std::nan(""), 1.0};
    std::vector<double> x(8), z(8);
    const int n = EmitProfilePoints(*p, {x.data(), z.data(), nullptr, nullptr, 8}, true);
    ASSERT_EQ(n, 6);
    const double expectedX[] = {-3, 0, 0, 2, 5};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(x[i], expectedX[i]) << i;
    EXPECT_EQ(z[1], 0);  // the zero point stays second
    EXPECT_TRUE(std::isnan(x[5]));

    const int m = EmitProfilePoints(*p, {x.data(), z.data(), nullptr, nullptr, 8}, false);
    ASSERT_EQ(m, 6);
    EXPECT_EQ(x[0], 5);
    EXPECT_EQ(x[2], -3);
}

}  // namespace
