#include "platform/bytes.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Bytes, LoadsAndStoresInBothOrders)
{
    const uint8_t b[8] = {0xff, 0x01, 0x1a, 0x02, 0x26, 0x00, 0x00, 0x80};
    EXPECT_EQ(loadLE32(b), 0x021A01FFu);
    EXPECT_EQ(loadBE32(b), 0xFF011A02u);
    EXPECT_EQ(loadLE16(b + 4), 0x0026u);
    EXPECT_EQ(loadBE16(b + 6), 0x0080u);
    EXPECT_EQ(loadLE64(b), 0x80000026021A01FFull);

    uint8_t out[8] = {};
    storeLE32(out, 0x021A01FFu);
    EXPECT_EQ(0, memcmp(out, b, 4));
    storeBE32(out, 0xFF011A02u);
    EXPECT_EQ(0, memcmp(out, b, 4));
    storeBE64(out, 0x0102030405060708ull);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[7], 8);
}

TEST(Bytes, FloatsRoundTripLittleEndian)
{
    uint8_t out[8];
    storeF32LE(out, 100.0f);
    EXPECT_EQ(loadLE32(out), 0x42C80000u);
    EXPECT_EQ(loadF32LE(out), 100.0f);
    storeF64LE(out, -0.5);
    EXPECT_EQ(out[7], 0xBF);
    EXPECT_EQ(loadF64LE(out), -0.5);
}
