#include "server/stream/gvsp_chunks.h"

#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Kivu::Gvsp;
using platform::loadBE32;

namespace {

struct Call {
    bool data;  // false: the image-data trailer
    uint32_t id;
    uint32_t length;
};

struct Expect {
    size_t at;  // byte offset in the frame
    uint32_t value;
};

struct Row {
    const char* name;
    uint16_t parts;
    uint64_t total;
    uint64_t payload;
    std::vector<Call> calls;
    uint64_t offset;
    std::vector<Expect> words;  // big-endian u32 values expected in the frame
};

// Chunk data bytes are the chunk id's low byte repeated.
const Row kRows[] = {
    {"no parts: A then B packed back from S", 0, 0, 100, {{true, 0xA, 4}, {true, 0xB, 4}}, 24,
     {{88, 0x0A0A0A0A}, {92, 0xA}, {96, 4}, {76, 0x0B0B0B0B}, {80, 0xB}, {84, 4}}},
    {"no parts: image trailer last sits first", 0, 0, 100, {{true, 0xA, 4}, {false, 0x1, 76}}, 20,
     {{80, 0x1}, {84, 76}, {88, 0x0A0A0A0A}, {92, 0xA}, {96, 4}}},
    {"no parts: image trailer first still sits first", 0, 0, 100, {{false, 0x1, 76}, {true, 0xA, 4}}, 20,
     {{80, 0x1}, {84, 76}, {88, 0x0A0A0A0A}, {92, 0xA}, {96, 4}}},
    {"one part: chunk at T+8, then the image trailer at T", 1, 40, 0, {{true, 0xC, 4}, {false, 0x7, 0}}, 20,
     {{40, 0x7}, {44, 40}, {48, 0x0C0C0C0C}, {52, 0xC}, {56, 4}}},
    {"one part: image trailer first gives the same bytes", 1, 40, 0, {{false, 0x7, 0}, {true, 0xC, 4}}, 20,
     {{40, 0x7}, {44, 40}, {48, 0x0C0C0C0C}, {52, 0xC}, {56, 4}}},
    {"two parts: image trailer at 0, first chunk at 8", 2, 5000, 0,
     {{true, 0xC, 4}, {true, 0xD, 8}, {false, 0x7, 0}}, 36,
     {{0, 0x7}, {4, 5000}, {8, 0x0C0C0C0C}, {12, 0xC}, {16, 4}, {20, 0x0D0D0D0D}, {24, 0x0D0D0D0D},
      {28, 0xD}, {32, 8}}},
    {"two parts: chunks only reserve the image trailer slot", 2, 5000, 0, {{true, 0xC, 4}}, 20,
     {{0, 0}, {4, 5000}, {8, 0x0C0C0C0C}, {12, 0xC}, {16, 4}}},
};

class ChunkPlacement : public testing::TestWithParam<Row> {};

TEST_P(ChunkPlacement, Layout)
{
    const Row& r = GetParam();
    std::vector<uint8_t> frame(256, 0xEE);
    ChunkFrame f{frame.data(), r.parts, r.total, r.payload, 128};
    ChunkArea area;
    for (const Call& c : r.calls) {
        std::vector<uint8_t> data(c.length, static_cast<uint8_t>(c.id));
        ASSERT_TRUE(PlaceChunk(f, area, c.data ? data.data() : nullptr, c.length, c.id));
    }
    EXPECT_EQ(area.Offset(), r.offset);
    for (const Expect& e : r.words)
        EXPECT_EQ(loadBE32(&frame[e.at]), e.value) << "at " << e.at;
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkPlacement, testing::ValuesIn(kRows), [](const auto& p) {
    return "row" + std::to_string(p.index);
});

TEST(ChunkPlacementBounds, RefusedPastTheDeclaredBytesWithNothingWritten)
{
    std::vector<uint8_t> frame(64, 0xEE);
    const std::vector<uint8_t> copy = frame;
    const uint8_t data[16] = {};
    ChunkArea area;
    // No parts: payload of 20 bytes cannot take 16 + 8.
    EXPECT_FALSE(PlaceChunk({frame.data(), 0, 0, 20, 64}, area, data, 16, 1));
    // Declared chunk bytes 20 cannot take 16 + 8 either.
    EXPECT_FALSE(PlaceChunk({frame.data(), 0, 0, 64, 20}, area, data, 16, 1));
    // With parts the reserved image trailer counts: 4 + 8 + 8 > 19.
    EXPECT_FALSE(PlaceChunk({frame.data(), 2, 10, 0, 19}, area, data, 4, 1));
    EXPECT_FALSE(PlaceChunk({nullptr, 2, 10, 0, 64}, area, data, 4, 1));
    EXPECT_EQ(area.Offset(), 0u);
    EXPECT_EQ(frame, copy);
    // Exactly the declared bytes fit.
    EXPECT_TRUE(PlaceChunk({frame.data(), 2, 10, 0, 20}, area, data, 4, 1));
    EXPECT_EQ(area.Offset(), 20u);
    // An image trailer after that reuses the reserved slot.
    EXPECT_TRUE(PlaceChunk({frame.data(), 2, 10, 0, 20}, area, nullptr, 0, 9));
    EXPECT_EQ(area.Offset(), 20u);
}

}  // namespace
