#include <gtest/gtest.h>

#include <cstring>

#include "golden_frames.h"
#include "stream/crc32.h"
#include "stream/frame_check.h"
#include "test_frames.h"

using namespace quillan::stream;
using testframes::Bytes;
using testframes::fromHex;

namespace {

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + 7);
    return b;
}

}  // namespace

TEST(Crc32Mpeg2, CheckValue)
{
    const char* text = "123456789";
    EXPECT_EQ(crc32Mpeg2(reinterpret_cast<const uint8_t*>(text), std::strlen(text)), 0x0376E6E7u);
}

TEST(Crc32Mpeg2, MatchesGoldenOverEveryTailLength)
{
    const Bytes data = pattern(1000);
    for (const auto& [length, crc] : golden::kPatternCrcs) {
        SCOPED_TRACE(length);
        EXPECT_EQ(crc32Mpeg2(data.data(), length), crc);
    }
}

TEST(Crc32Mpeg2, ContinuesAcrossPieces)
{
    const Bytes data = pattern(1000);
    for (size_t split : {1u, 5u, 8u, 13u, 999u}) {
        SCOPED_TRACE(split);
        const uint32_t first = crc32Mpeg2(data.data(), split);
        EXPECT_EQ(crc32Mpeg2(data.data() + split, data.size() - split, first), golden::kPatternCrcs[12].crc);
    }
}

TEST(FrameBuilders, ReproduceGoldenFrames)
{
    EXPECT_EQ(testframes::container({}), fromHex(golden::kEmptyContainer));
    EXPECT_EQ(testframes::profileContainer(0x1234, 1000), fromHex(golden::kProfileContainer));
    EXPECT_EQ(testframes::imageContainer(9, 2000), fromHex(golden::kImageContainer));
    EXPECT_EQ(testframes::legacyFrame(2, 400, 7, 5000), fromHex(golden::kLegacyProfile));
}

TEST(CheckFrame, AcceptsGoldenFrames)
{
    for (const char* hex : {golden::kEmptyContainer, golden::kXmlContainer, golden::kProfileContainer,
                            golden::kImageContainer, golden::kLegacyProfile, golden::kLinearizationFrame,
                            golden::kStatusContainer}) {
        const Bytes f = fromHex(hex);
        EXPECT_EQ(checkFrame(f.data(), f.size()), FrameCheck::Ok) << hex;
    }
}

TEST(CheckFrame, RejectsEveryFlippedByte)
{
    const Bytes good = fromHex(golden::kProfileContainer);
    for (size_t i = 0; i < good.size(); ++i) {
        Bytes f = good;
        f[i] ^= 0x10;
        EXPECT_EQ(checkFrame(f.data(), f.size()), FrameCheck::BadCrc) << "byte " << i;
    }
}

TEST(CheckFrame, RejectionRules)
{
    Bytes type4 = testframes::legacyFrame(4, 400);
    Bytes longField = testframes::legacyFrame(2, 400);
    longField[5] = 0x01;  // u32 length field 0x01000190
    testframes::resealCrc(longField);
    Bytes type7HighBit = testframes::legacyFrame(7, 400);
    type7HighBit[5] = 0x80;  // top bit of a type-7 length is not part of it
    testframes::resealCrc(type7HighBit);
    Bytes bigContainer = testframes::container({});
    testframes::putLE32(bigContainer, 4, 4'198'401);
    testframes::resealCrc(bigContainer);
    Bytes maxContainer = testframes::container({});
    testframes::putLE32(maxContainer, 4, 4'198'400);
    testframes::resealCrc(maxContainer);

    struct Case {
        const char* name;
        const Bytes* frame;
        size_t length;
        FrameCheck expected;
    };
    const Bytes shortFrame = fromHex(golden::kSyncContainer);
    const Case cases[] = {
        {"type 4", &type4, type4.size(), FrameCheck::Type4},
        {"legacy u32 length over the limit", &longField, longField.size(), FrameCheck::LengthOverLimit},
        {"type 7 top bit ignored", &type7HighBit, type7HighBit.size(), FrameCheck::Ok},
        {"container length over the limit", &bigContainer, bigContainer.size(), FrameCheck::LengthOverLimit},
        {"container length at the limit", &maxContainer, maxContainer.size(), FrameCheck::Ok},
        {"7 bytes", &shortFrame, 7, FrameCheck::TooShort},
        {"0 bytes", &shortFrame, 0, FrameCheck::TooShort},
        {"above 2 x BUFFERRXMAX", &shortFrame, kMaxCheckedLength + 1, FrameCheck::TooLong},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkFrame(c.frame->data(), c.length), c.expected) << c.name;
}

TEST(LegacyFrameLength, HeaderRules)
{
    struct Case {
        uint8_t header[6];
        uint32_t expected;
    };
    const Case cases[] = {
        {{2, 0x19, 0x90, 0x01, 0x00, 0x00}, 400},
        {{3, 0x19, 0x00, 0x10, 0x40, 0xFF}, 0x401000},  // byte 5 is not part of a 24-bit length
        {{7, 0x19, 0xAE, 0x04, 0x00, 0x00}, 1198},
        {{7, 0x19, 0x01, 0x00, 0x00, 0x81}, 0x01000001},  // 32 bits, top bit cleared
    };
    for (const Case& c : cases)
        EXPECT_EQ(legacyFrameLength(c.header), c.expected);
}
