#include "lin/linearization.h"

#include "lin1dd_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

using namespace quillan;
using namespace lintest;

struct ParsedTable {
    LinTableData data;
    explicit ParsedTable(const Bytes& bytes)
    {
        size_t consumed = 0;
        EXPECT_EQ(ParseLinTable(bytes.data(), bytes.size(), consumed, data), kLinOk);
    }
    const LinTable& operator*() const { return data.table(); }
};

Cell only(int index, double value)
{
    Cell c{};
    c[index] = value;
    return c;
}

TEST(LinConvertPoint, SingleCoefficientPatches)
{
    // Two column intervals [0, 10] and [10, 30], one row interval [0, 4]:
    // cell (0, 0) constant 5, cell (1, 0) a[1][0] = 2, that is 2 du. Cells
    // of the last knots (j = 1, i = 2) are never used.
    const std::vector<Cell> cells = {only(0, 5), only(0, 99), only(4, 2), only(0, 99), only(0, 99), only(0, 99)};
    const ParsedTable t(table({0, 10, 30}, {0, 4}, cells));

    const struct { double u, v, expected; } cases[] = {
        {0, 0, 5}, {9.5, 3.9, 5},
        {10, 2, 0},  // the bisection's first probe is this knot: upper interval, du = 0
        {10.5, 1, 2 * 0.5}, {29, 4, 2 * 19}, {30, 4, 2 * 20},
    };
    for (const auto& c : cases) {
        double value = NAN;
        ASSERT_EQ(LinConvertPoint(*t, c.u, c.v, value), kLinConverted) << c.u << "," << c.v;
        EXPECT_DOUBLE_EQ(value, c.expected) << c.u << "," << c.v;
    }
}

TEST(LinConvertPoint, OutsideAndNanLeaveTheOutput)
{
    const ParsedTable t(table({0, 10, 30}, {0, 4}, std::vector<Cell>(6, only(0, 1))));
    const double above = std::nextafter(30.0, 40.0);
    const double below = std::nextafter(0.0, -1.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { double u, v; } cases[] = {
        {above, 1}, {below, 1}, {5, std::nextafter(4.0, 5.0)}, {5, -1}, {nan, 1}, {5, nan}, {nan, nan},
        {INFINITY, 1}, {-INFINITY, 1},
    };
    for (const auto& c : cases) {
        double value = 42;
        EXPECT_EQ(LinConvertPoint(*t, c.u, c.v, value), kLinOutsideTable) << c.u << "," << c.v;
        EXPECT_EQ(value, 42);
    }
    double value = 0;
    EXPECT_EQ(LinConvertPoint(*t, 30, 4, value), kLinConverted);
    EXPECT_EQ(LinConvertPoint(LinTable{}, 1, 1, value), kLinNoData);
}

TEST(LinConvertPoint, RepeatedKnotsStillFindAnInterval)
{
    // Non-decreasing axes with a repeated knot (an empty interval).
    const std::vector<Cell> cells(4 * 3, only(0, 7));
    const ParsedTable t(table({0, 1, 1, 2}, {0, 0, 3}, cells));
    for (double u : {0.0, 0.5, 1.0, 1.5, 2.0})
        for (double v : {0.0, 1.0, 3.0}) {
            double value = 0;
            ASSERT_EQ(LinConvertPoint(*t, u, v, value), kLinConverted);
            EXPECT_EQ(value, 7);
        }
}

// Reference: linear search for the first interval holding the point, and the
// patch summed term by term.
double reference(const std::vector<double>& u, const std::vector<double>& v, const std::vector<Cell>& cells,
                 double pu, double pv)
{
    size_t i = 0, j = 0;
    while (!(u[i] <= pu && pu <= u[i + 1]))
        ++i;
    while (!(v[j] <= pv && pv <= v[j + 1]))
        ++j;
    const Cell& a = cells[i * v.size() + j];
    double sum = 0;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            sum += a[4 * k + m] * std::pow(pu - u[i], k) * std::pow(pv - v[j], m);
    return sum;
}

TEST(LinConvertPoint, EightByEightBicubicMatchesReference)
{
    const std::vector<double> u = {0, 100, 300, 310, 700, 1000, 1500, 1900, 2048};
    const std::vector<double> v = {-5, 50, 51, 200, 400, 640, 800, 1000, 1088};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coef(-1, 1);
    std::vector<Cell> cells(u.size() * v.size());
    for (Cell& c : cells)
        for (int k = 0; k < 16; ++k)
            c[k] = coef(rng) * std::pow(1e-2, (k / 4) + (k % 4));
    const ParsedTable t(table(u, v, cells));

    std::uniform_real_distribution<double> pu(0, 2048), pv(-5, 1088);
    for (int n = 0; n < 2000; ++n) {
        const double a = pu(rng), b = pv(rng);
        double value = NAN;
        ASSERT_EQ(LinConvertPoint(*t, a, b, value), kLinConverted);
        const double expected = reference(u, v, cells, a, b);
        ASSERT_NEAR(value, expected, 1e-9 * (1 + std::fabs(expected))) << a << "," << b;
    }
}

TEST(LinearizationConvert, ClosedFormOnEightByEightTables)
{
    const Geometry g;
    const std::vector<double> knots = {0, 256, 512, 768, 1024, 1280, 1536, 1792, 2048};
    const std::vector<double> rows = {0, 136, 272, 408, 544, 680, 816, 952, 1088};
    const Bytes img = concat({magic(), record(2, g.parameters()), record(3, g.tables(knots, rows))});
    Linearization lin;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);

    std::mt19937 rng(3);
    std::uniform_real_distribution<double> pu(0, 2048), pv(0, 1088);
    for (int n = 0; n < 1000; ++n) {
        const double a = pu(rng), b = pv(rng);
        double x = NAN, z = NAN;
        ASSERT_EQ(lin.convert(a, b, x, z), kLinConverted);
        EXPECT_NEAR(x, g.x(a, b), 1e-9);
        EXPECT_NEAR(z, g.z(a, b), 1e-9);
    }
}

// Random cells that do not join up, so that the side of a knot a point is
// taken from shows in the result.
std::vector<Cell> randomCells(size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coef(-1, 1);
    std::vector<Cell> cells(count);
    for (Cell& c : cells)
        for (int k = 0; k < 16; ++k)
            c[k] = coef(rng) * std::pow(1e-2, (k / 4) + (k % 4));
    return cells;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A cursor changes how intervals are found, never which: along sweeps, on and
// between knots, outside, after jumps, with repeated knots, with both tables
// on the same knots (evaluated together) or on their own, every result equals
// LinConvertPoint's through the X and then the Z table, bit for bit.
TEST(LinearizationConvert, CursorGivesTheSameBitsAsTheTablesOneByOne)
{
    const std::vector<double> u = {0, 100, 300, 300, 700, 1000, 1500, 1900, 2048};
    const std::vector<double> v = {-5, 50, 51, 200, 400, 640, 640, 1000, 1088};
    const std::vector<double> otherV = {0, 300, 600, 1000};
    const size_t cells = u.size() * v.size();
    const Bytes xShared = table(u, v, randomCells(cells, 11));
    const Bytes zShared = table(u, v, randomCells(cells, 12));
    const Bytes zOther = table(u, otherV, randomCells(u.size() * otherV.size(), 13));

    std::vector<std::pair<double, double>> points;
    for (double a = -2; a <= 2050; a += 1)  // a sweep over every knot of u
        points.emplace_back(a, 544 + 500 * std::sin(a / 300));
    for (double b : v)
        for (double a : u)
            points.emplace_back(a, b);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> pu(-10, 2060), pv(-10, 1100);
    for (int n = 0; n < 2000; ++n)
        points.emplace_back(pu(rng), pv(rng));
    points.emplace_back(NAN, 10);
    points.emplace_back(10, NAN);

    for (const Bytes* z : {&zShared, &zOther}) {
        SCOPED_TRACE(z == &zShared ? "shared knots" : "own knots");
        const Bytes img = concat({magic(), record(3, concat({xShared, *z}))});
        Linearization lin;
        ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);
        LinCursor cursor;
        for (const auto& [a, b] : points) {
            double ex = -9, ez = -9;
            int expected = LinConvertPoint(lin.data().xTable, a, b, ex);
            if (expected == kLinConverted)
                expected = LinConvertPoint(lin.data().zTable, a, b, ez);
            double x = -9, z2 = -9, xPlain = -9, zPlain = -9;
            ASSERT_EQ(lin.convert(a, b, x, z2, cursor), expected) << a << "," << b;
            ASSERT_EQ(lin.convert(a, b, xPlain, zPlain), expected) << a << "," << b;
            ASSERT_TRUE(sameBits(x, ex) && sameBits(z2, ez)) << a << "," << b;
            ASSERT_TRUE(sameBits(xPlain, ex) && sameBits(zPlain, ez)) << a << "," << b;
        }
    }
}

TEST(LinearizationConvert, ZOnlyAfterX)
{
    // X covers v in [0, 10], Z only [0, 5].
    const Bytes x = table({0, 10}, {0, 10}, std::vector<Cell>(4, only(0, 1)));
    const Bytes z = table({0, 10}, {0, 5}, std::vector<Cell>(4, only(0, 2)));
    const Bytes img = concat({magic(), record(3, concat({x, z}))});
    Linearization lin;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);

    const struct { double u, v; int rc; double x, z; } cases[] = {
        {5, 2, kLinConverted, 1, 2},
        {5, 7, kLinOutsideTable, 1, -9},    // x written, z untouched
        {11, 2, kLinOutsideTable, -9, -9},  // neither written
    };
    for (const auto& c : cases) {
        double ox = -9, oz = -9;
        EXPECT_EQ(lin.convert(c.u, c.v, ox, oz), c.rc);
        EXPECT_EQ(ox, c.x);
        EXPECT_EQ(oz, c.z);
    }
}

}  // namespace
