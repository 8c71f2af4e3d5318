// Outbound encoders against byte vectors stated with the protocol and against the field layout.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <tuple>

#include "golden_cases.h"
#include "platform/bytes.h"

namespace scanner_sim {
namespace {

using test::toHex;

const uint8_t* u8(const std::string& s, size_t offset) { return reinterpret_cast<const uint8_t*>(s.data()) + offset; }
uint32_t le32(const std::string& s, size_t offset) { return platform::loadLE32(u8(s, offset)); }

TEST(Crc32Mpeg2, KnownValues)
{
    struct Case {
        std::string data;
        uint32_t crc;
    };
    const Case cases[] = {{"123456789", 0x0376E6E7}, {"", 0xFFFFFFFF}, {std::string(1, '\0'), 0x4E08BFB4}};
    for (const Case& c : cases)
        EXPECT_EQ(crc32Mpeg2(c.data), c.crc) << toHex(c.data);
}

// Every length around the four-byte steps against the bit-by-bit definition.
TEST(Crc32Mpeg2, AgreesWithTheBitwiseDefinition)
{
    const auto bitwise = [](std::string_view data) {
        uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char b : data) {
            crc ^= static_cast<uint32_t>(b) << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        return crc;
    };
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += static_cast<char>((i * 73 + 11) & 0xFF);
    for (size_t length = 0; length <= 13; ++length)
        for (size_t start = 0; start < 4; ++start)
            EXPECT_EQ(crc32Mpeg2(std::string_view(data).substr(start, length)),
                      bitwise(std::string_view(data).substr(start, length)))
                << start << " " << length;
    EXPECT_EQ(crc32Mpeg2(data), bitwise(data));
}

TEST(Containers, MatchTheStatedBytes)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* hex;
    };
    const Case cases[] = {
        {"empty", buildContainer({}), "ff011a0214000000ffff1a020c000000264f14d8"},
        {"xml", xmlContainer("<device/>"),
         "ff011a022600000003011a02120000003c6465766963652f3e00ffff1a020c000000ae8167b3"},
        {"sync", syncContainer(), "00011a0214000000ffff1a020c000000cdd39a68"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toHex(c.bytes), c.hex) << c.name;
}

TEST(Containers, XmlTextLimitKeepsRoomForTheNul)
{
    EXPECT_NO_THROW(xmlContainer(std::string(kMaxXmlWithNul - 1, 'a')));
    EXPECT_THROW(xmlContainer(std::string(kMaxXmlWithNul, 'a')), std::length_error);
}

TEST(Containers, BlocksAddUpToTheTotalLength)
{
    const std::string c = buildContainer({Block{0x021A0201, std::string(8, 'x')}, Block{0x021A0202, ""}});
    ASSERT_EQ(c.size(), 8u + 16 + 8 + 12);
    EXPECT_EQ(le32(c, 4), c.size());
    EXPECT_EQ(le32(c, 12), 16u);
    EXPECT_EQ(le32(c, 28), 8u);
    EXPECT_EQ(le32(c, 32), kEndTag);
    EXPECT_EQ(platform::loadBE32(u8(c, c.size() - 4)), crc32Mpeg2(std::string_view(c).substr(0, c.size() - 4)));
}

TEST(Lin1dd, GoldenFrame)
{
    const std::string frame = lin1ddFrame(test::goldenLinGeometry());
    ASSERT_EQ(frame.size(), 1198u);
    EXPECT_EQ(lin1ddImage(test::goldenLinGeometry()).size(), 1188u);
    EXPECT_EQ(toHex(frame.substr(0, 6)), "0719ae040000");
    EXPECT_EQ(toHex(frame.substr(frame.size() - 4)), "61ee1027");
    EXPECT_EQ(frame.substr(6, 8), std::string("LIN1DD\0\0", 8));
}

// Evaluates cell (0, 0) of a table inside the image the way a reader of the format would.
double evaluate(const std::string& image, size_t table, double u, double v)
{
    const size_t cells = table + 8 + 16 + 16;
    double sum = 0;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m) {
            const double a = std::bit_cast<double>(platform::loadLE64(u8(image, cells + 8 * (4 * k + m))));
            sum += a * std::pow(u, k) * std::pow(v, m);
        }
    return sum;
}

TEST(Lin1dd, TablesGiveTheTrapezoid)
{
    const LinGeometry g = test::goldenLinGeometry();
    const std::string image = lin1ddImage(g);
    // magic 8, record 1 (16), record 2 (52), record 3 header (8): X table, then the Z table.
    const size_t xTable = 8 + 16 + 52 + 8;
    const size_t tableSize = 8 + 16 + 16 + 4 * 128;
    ASSERT_EQ(le32(image, 8 + 16 + 52), 3u);
    ASSERT_EQ(le32(image, 8 + 16 + 52 + 4), 2 * tableSize);
    struct Point {
        double u, v, x, z;
    };
    const Point points[] = {
        {0, 0, -30, 100}, {2048, 0, 30, 100}, {1024, 544, 0, 200}, {0, 1088, -60, 300}, {2048, 1088, 60, 300},
        {512, 272, -(60 + 15) / 4.0, 150},
    };
    for (const Point& p : points) {
        EXPECT_DOUBLE_EQ(evaluate(image, xTable, p.u, p.v), p.x) << p.u << "," << p.v;
        EXPECT_DOUBLE_EQ(evaluate(image, xTable + tableSize, p.u, p.v), p.z) << p.u << "," << p.v;
    }
    LinGeometry withMode = g;
    withMode.modeRecord = true;
    const std::string mode = lin1ddImage(withMode);
    ASSERT_EQ(mode.size(), image.size() + 12);
    EXPECT_EQ(le32(mode, image.size()), 7u);
}

TEST(StatusBlocks, LayoutAndLength)
{
    const std::string c = statusOnlyContainer(test::goldenStatusFields());
    ASSERT_EQ(c.size(), 8u + 52 + 60 + 16 + 16 + 160 + 12);
    // Tags and lengths in order.
    const std::pair<uint32_t, uint32_t> blocks[] = {{kGeneralTag, 52}, {kStatisticsTag, 60}, {kRoiXTag, 16},
                                                    {kRoiZTag, 16},    {kFpgaTagSeriesB, 160}, {kEndTag, 12}};
    size_t at = 8;
    for (const auto& [tag, length] : blocks) {
        EXPECT_EQ(le32(c, at), tag);
        EXPECT_EQ(le32(c, at + 4), length);
        at += length;
    }
    EXPECT_EQ(at, c.size());
}

TEST(StatusBlocks, TriggerAndEncoderFunctionBytes)
{
    const size_t fpga = 8 + 52 + 60 + 16 + 16;
    struct Case {
        int source, amount;
        bool running;
        uint8_t byte9;
    };
    const Case triggers[] = {{-1, 10, true, 0x8A}, {0, 0, false, 0x00}, {3, 0, true, 0x83}, {-1, 1, false, 0x09}};
    for (const Case& t : triggers) {
        StatusFields f;
        f.triggerSource = t.source;
        f.triggerAmountProfilesY = t.amount;
        f.cameraRunning = t.running;
        EXPECT_EQ(static_cast<uint8_t>(statusOnlyContainer(f)[fpga + 9]), t.byte9) << t.source << "/" << t.amount;
    }
    // Function -> (+71 bit 2, +72)
    const std::tuple<int, int, int> functions[] = {{0, 4, 0}, {1, 4, 1}, {2, 4, 2}, {3, 0, 0}, {4, 0, 1}};
    for (const auto& [function, b71, b72] : functions) {
        StatusFields f;
        f.encoderTriggerFunction = function;
        const std::string c = statusOnlyContainer(f);
        EXPECT_EQ(c[fpga + 71] & 4, b71) << function;
        EXPECT_EQ(c[fpga + 72], b72) << function;
    }
}

}  // namespace
}  // namespace scanner_sim
