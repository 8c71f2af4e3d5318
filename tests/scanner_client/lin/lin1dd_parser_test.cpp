#include "lin/linearization.h"

#include "lin1dd_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

#include "lin1dd_golden.inc"

using namespace quillan;
using namespace lintest;

Bytes golden()
{
    return fromHex(kGoldenLin1ddHex);
}

Bytes analyticTables()
{
    const Geometry g;
    const Cell zero{};
    return concat({table({0, g.w}, {0, g.h}, {g.xCell(0, 0), zero, zero, zero}),
                   table({0, g.w}, {0, g.h}, {g.zCell(0, 0), zero, zero, zero})});
}

TEST(Lin1ddParser, GoldenImageGivesSerialParametersAndTables)
{
    const Bytes img = golden();
    ASSERT_EQ(img.size(), 1188u);

    // The test builder writes the same bytes, so images built with it in
    // other tests follow the format too.
    const Geometry g;
    EXPECT_EQ(img, concat({magic(), record(1, [] { Bytes b; putU64(b, 12345678); return b; }()),
                           record(2, g.parameters()), record(3, analyticTables())}));

    Linearization lin;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);
    const LinData& d = lin.data();
    EXPECT_EQ(d.serialNumber, 12345678u);
    EXPECT_TRUE(lin.parametersLoaded());
    EXPECT_EQ(lin.parameterFloat(kLinZStart), 100.0f);
    EXPECT_EQ(lin.parameterFloat(kLinZRange), 200.0f);
    EXPECT_EQ(lin.parameterFloat(kLinXRangeAtStart), 60.0f);
    EXPECT_EQ(lin.parameterFloat(kLinXRangeAtEnd), 120.0f);
    EXPECT_EQ(lin.parameter(kLinWidthX), 2048);
    EXPECT_EQ(lin.parameter(kLinWidthZ), 1088);
    EXPECT_FALSE(lin.linearizationMode());
    ASSERT_TRUE(lin.tablesLoaded());
    for (const LinTable* t : {&d.xTable, &d.zTable}) {
        EXPECT_EQ(t->nx, 1u);
        EXPECT_EQ(t->nz, 1u);
        EXPECT_EQ(t->padding, 0u);
        EXPECT_EQ(t->uAxis[1], 2048.0);
        EXPECT_EQ(t->vAxis[1], 1088.0);
        EXPECT_EQ(t->rows[1], t->cells + 2 * 16);
    }

    const struct { double u, v; } points[] = {{0, 0}, {1024, 544}, {2048, 1088}, {17.25, 1000.5}, {2000, 3}};
    for (const auto& p : points) {
        double x = NAN, z = NAN;
        ASSERT_EQ(lin.convert(p.u, p.v, x, z), kLinConverted);
        EXPECT_NEAR(x, g.x(p.u, p.v), 1e-9) << p.u << "," << p.v;
        EXPECT_NEAR(z, g.z(p.u, p.v), 1e-9) << p.u << "," << p.v;
    }
}

struct CodeCase {
    const char* name;
    Bytes image;
    int code;
};

Bytes u32s(std::initializer_list<uint32_t> values)
{
    Bytes b;
    for (uint32_t v : values)
        putU32(b, v);
    return b;
}

Bytes withTrailingCut(Bytes b, size_t cut)
{
    b.resize(b.size() - cut);
    return b;
}

std::vector<CodeCase> codeCases()
{
    const Geometry g;
    const Bytes xTable = table({0, 1}, {0, 1}, std::vector<Cell>(4));
    Bytes badMagic = magic();
    badMagic[5] = 'X';
    Bytes byte7Free = magic();
    byte7Free[7] = 0x55;
    const Bytes descending = table({0, 2, 1}, {0, 1}, std::vector<Cell>(6));
    const Bytes nanAxis = table({0, NAN}, {0, 1}, std::vector<Cell>(4));
    const Bytes infAxis = table({0, 1}, {-INFINITY, 1}, std::vector<Cell>(4));

    return {
        {"magic only", magic(), kLinOk},
        {"empty", {}, kLinOk},
        {"short wrong magic", Bytes{'x', 'y', 'z'}, kLinOk},
        {"wrong magic", concat({badMagic, record(9, {})}), kLinBadMagic},
        {"byte 7 not compared", concat({byte7Free, record(9, {})}), kLinOk},
        {"serial of 4 bytes", concat({magic(), record(1, u32s({7}))}), kLinBadSerialRecord},
        {"serial of 9 bytes", concat({magic(), record(1, Bytes(9))}), kLinBadSerialRecord},
        {"parameters of 40 bytes", concat({magic(), record(2, Bytes(40))}), kLinShortParameters},
        {"unknown tag skipped", concat({magic(), record(9, Bytes(3)), record(1, Bytes(8))}), kLinOk},
        {"body past the end", withTrailingCut(concat({magic(), record(1, Bytes(8))}), 1), kLinRecordBodyCut},
        {"length 0xFFFFFFFF", concat({magic(), u32s({9, 0xFFFFFFFFu}), Bytes(8)}), kLinRecordBodyCut},
        {"4 stray bytes", concat({magic(), record(1, Bytes(8)), Bytes(4)}), kLinRecordHeaderCut},
        {"table header cut", concat({magic(), record(3, u32s({1}))}), kLinBadTable},
        {"nx of 0", concat({magic(), record(3, concat({u32s({0, 1}), Bytes(8 + 16 + 2 * 128)}))}), kLinBadTable},
        {"nz of 0", concat({magic(), record(3, concat({u32s({1, 0}), Bytes(16 + 8 + 2 * 128)}))}), kLinBadTable},
        {"nx of 0xFFFFFFFF", concat({magic(), record(3, concat({u32s({0xFFFFFFFFu, 1}), Bytes(64)}))}), kLinBadTable},
        {"nx above the cap", concat({magic(), record(3, concat({u32s({65536, 1}), Bytes(64)}))}), kLinBadTable},
        {"U axis cut", concat({magic(), record(3, withTrailingCut(xTable, xTable.size() - 8 - 15))}), kLinBadTable},
        {"cells cut by a byte", concat({magic(), record(3, withTrailingCut(xTable, 1))}), kLinBadTable},
        {"Z table missing", concat({magic(), record(3, xTable)}), kLinBadTable},
        {"descending axis", concat({magic(), record(3, concat({descending, xTable}))}), kLinBadTable},
        {"NaN knot", concat({magic(), record(3, concat({nanAxis, xTable}))}), kLinBadTable},
        {"infinite knot", concat({magic(), record(3, concat({xTable, infAxis}))}), kLinBadTable},
        {"full image with mode record",
         concat({magic(), record(1, Bytes(8)), record(2, g.parameters()), record(3, concat({xTable, xTable})),
                 record(7, Bytes(1))}),
         kLinOk},
    };
}

TEST(Lin1ddParser, ResultCodes)
{
    for (const CodeCase& c : codeCases()) {
        Linearization lin;
        EXPECT_EQ(ParseLin1dd(c.image.data(), c.image.size(), lin), c.code) << c.name;
    }
}

TEST(Lin1ddParser, PartialRecordsLeaveWhatWasRead)
{
    // Parameters 0-9 of a 40-byte record are filled, but the record does not
    // count as loaded.
    Bytes params;
    for (uint32_t i = 1; i <= 10; ++i)
        putU32(params, i);
    Bytes img = concat({magic(), record(2, params)});
    Linearization lin;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinShortParameters);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(lin.data().parameters[i], i + 1);
    EXPECT_EQ(lin.data().parameters[10], 0);
    EXPECT_FALSE(lin.parametersLoaded());

    // A good X table followed by a bad Z table: X is loaded, Z is not.
    const Geometry g;
    const Bytes xTable = table({0, 1}, {0, 1}, std::vector<Cell>(4));
    img = concat({magic(), record(2, g.parameters()), record(3, concat({xTable, u32s({1, 1})}))});
    Linearization lin2;
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin2), kLinBadTable);
    EXPECT_TRUE(lin2.parametersLoaded());
    EXPECT_TRUE(lin2.data().xTable.loaded);
    EXPECT_FALSE(lin2.data().zTable.loaded);
    double x = 7, z = 7;
    EXPECT_EQ(lin2.convert(0.5, 0.5, x, z), kLinNoData);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(z, 0.0);
}

TEST(Lin1ddParser, MagicOnlyAndModeRecord)
{
    Linearization lin;
    const Bytes img = magic();
    ASSERT_EQ(ParseLin1dd(img.data(), img.size(), lin), kLinOk);
    EXPECT_FALSE(lin.tablesLoaded());
    EXPECT_FALSE(lin.parametersLoaded());
    EXPECT_EQ(lin.data().serialNumber, 0u);

    const Bytes withMode = concat({magic(), record(7, {})});
    Linearization lin2;
    ASSERT_EQ(ParseLin1dd(withMode.data(), withMode.size(), lin2), kLinOk);
    EXPECT_TRUE(lin2.linearizationMode());
}

TEST(Lin1ddParser, TableConsumesExactlyItsBytes)
{
    const Bytes t = table({0, 1, 2}, {0, 5}, std::vector<Cell>(6));
    Bytes withTail = concat({t, Bytes(5, 0xAA)});
    LinTableData out;
    size_t consumed = 99;
    ASSERT_EQ(ParseLinTable(withTail.data(), withTail.size(), consumed, out), kLinOk);
    EXPECT_EQ(consumed, 8 + 3 * 8 + 2 * 8 + 6 * 128u);
    EXPECT_EQ(consumed, t.size());
    EXPECT_EQ(out.table().nx, 2u);
    EXPECT_EQ(out.table().nz, 1u);

    ASSERT_EQ(ParseLinTable(t.data(), t.size() - 1, consumed, out), kLinBadTable);
    EXPECT_EQ(consumed, 0u);
    EXPECT_FALSE(out.table().loaded);
}

}  // namespace
