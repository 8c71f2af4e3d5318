#include "server/netif_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace Kivu {
namespace {

TEST(Ipv4Text, ParsesExactlyFourDecimalParts)
{
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"1.2.3.4", true, 0x01020304},    {"01.2.3.4", true, 0x01020304}, {"255.255.255.255", true, 0xFFFFFFFF},
        {"0.0.0.0", true, 0},             {"127.0.0.5", true, 0x7F000005}, {"001.002.003.004", true, 0x01020304},
        {"1.2.3", false, 0},              {"1.2.3.4.", false, 0},          {"1..2.3", false, 0},
        {"256.0.0.1", false, 0},          {"1.2.3.0004", false, 0},        {" 1.2.3.4", false, 0},
        {"1.2.3.4x", false, 0},           {"", false, 0},                  {".1.2.3", false, 0},
        {"1.2.3.4.5", false, 0},          {"1.2.-3.4", false, 0},          {"10.0.0", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t value = 0xDEAD;
        EXPECT_EQ(ParseIpv4(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 0xDEADu) << c.text;
    }
    uint32_t value = 0;
    EXPECT_FALSE(ParseIpv4(nullptr, value));
}

TEST(MacText, ParsesSixGroupsOfHexDigits)
{
    struct Case {
        const char* text;
        bool ok;
        uint8_t mac[6];
    };
    const Case cases[] = {
        {"00-1a-2B-3c-4D-5e", true, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
        {"0:1:2:3:4:5", true, {0, 1, 2, 3, 4, 5}},
        {"ff:FF-0a:b:C:d", true, {0xFF, 0xFF, 0x0A, 0x0B, 0x0C, 0x0D}},
        {"00:1A:2B:3C:4D", false, {}},
        {"001A2B3C4D5E", false, {}},
        {"00:1A:2B:3C:4D:5E:", false, {}},
        {"00:1A:2B:3C:4D:5G", false, {}},
        {"00:1A:2B:3C:4D:5E:6F", false, {}},
        {"000:1A:2B:3C:4D:5E", false, {}},
        {"00::2B:3C:4D:5E", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(ParseMac(c.text, mac), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::memcmp(mac, c.mac, 6), 0) << c.text;
        }
    }
}

TEST(Ipv4Text, FormatsWithinTheBuffer)
{
    char buffer[16];
    ASSERT_TRUE(FormatIpv4(0xFFFFFFFF, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "255.255.255.255");
    ASSERT_TRUE(FormatIpv4(0x0A000001, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "10.0.0.1");
    char small[8] = "xxxxxxx";
    EXPECT_FALSE(FormatIpv4(0xFFFFFFFF, small, sizeof small));
    EXPECT_EQ(small[7], '\0');
}

}  // namespace
}  // namespace Kivu
