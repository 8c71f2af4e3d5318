#include "pixel_formats.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace lumabridge {
namespace {

TEST(PixelFormats, TablesGiveBytesAndPartDataType)
{
    const struct {
        const char* name;
        double bytes;
        uint16_t dataType;
    } cases[] = {{"Mono8", 1.0, 1},  {"Mono10Packed", 1.5, 1}, {"Mono10", 2.0, 1},
                 {"Mono16", 2.0, 1}, {"RGB16", 6.0, 1},        {"Coord3D_ABC32f", 12.0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BytesPerPixel(c.name), c.bytes);
        EXPECT_EQ(PartDataType(c.name), c.dataType);
    }
}

TEST(PixelFormats, UnknownNamesAreNotFoundAndStaySo)
{
    for (const char* name : {"Mono12", "", "mono8", "Mono8 ", "Coord3D_ABC32"}) {
        SCOPED_TRACE(name);
        for (int again = 0; again < 2; ++again) {  // a miss adds nothing
            EXPECT_EQ(BytesPerPixel(name), std::nullopt);
            EXPECT_EQ(PartDataType(name), std::nullopt);
        }
        EXPECT_EQ(PartByteCount(100, 10, name, true), 0u);
    }
}

TEST(PixelFormats, PartByteCountRoundsIntensityUpAndTruncatesRange)
{
    const struct {
        uint16_t width, lines;
        const char* format;
        bool roundUp;
        uint64_t bytes;
    } cases[] = {
        {1024, 3, "Mono10Packed", true, 4608},
        {5, 1, "Mono10Packed", true, 8},  // 7.5 up
        {5, 1, "Mono10Packed", false, 7},  // 7.5 down
        {2048, 100, "Coord3D_ABC32f", false, 2457600},
        {65535, 65535, "Coord3D_ABC32f", false, 51538034700},
        {0, 100, "Mono16", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.lines << " " << c.format);
        EXPECT_EQ(PartByteCount(c.width, c.lines, c.format, c.roundUp), c.bytes);
    }
}

static_assert(!std::is_copy_constructible_v<ChunkRecord>, "a chunk's value array has one owner");
static_assert(std::is_copy_constructible_v<ComponentRecord>);

TEST(ChunkRecord, StartsEmptyAndKeepsAnArrayOfTheSameSize)
{
    ChunkRecord chunk;
    EXPECT_TRUE(chunk.m_Name.empty());
    EXPECT_TRUE(chunk.m_DisplayName.empty());
    EXPECT_EQ(chunk.m_Values, nullptr);

    chunk.AllocateValues(40000);
    ASSERT_NE(chunk.m_Values, nullptr);
    EXPECT_EQ(chunk.m_ValueCount, 40000u);
    chunk.m_Values[39999] = 7;
    const uint32_t* first = chunk.m_Values.get();
    chunk.AllocateValues(40000);
    EXPECT_EQ(chunk.m_Values.get(), first);
    EXPECT_EQ(chunk.m_Values[39999], 7u);

    chunk.AllocateValues(10);
    EXPECT_EQ(chunk.m_ValueCount, 10u);
    chunk.m_Values[9] = 1;
}

}  // namespace
}  // namespace lumabridge
