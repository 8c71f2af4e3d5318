#include "server/ip_address_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(IpAddressRules, WhichConfigurationsADeviceTakes)
{
    constexpr uint32_t m24 = 0xFFFFFF00, m8 = 0xFF000000;
    struct Case {
        uint32_t address, mask, gateway;
        bool loopbackServed, usable;
        const char* what;
    } cases[] = {
        {ip(10, 88, 0, 5), m24, 0, false, true, "a host of a /24"},
        {ip(10, 88, 0, 5), m24, ip(10, 88, 0, 1), false, true, "with a gateway"},
        {ip(169, 254, 3, 4), 0xFFFF0000, 0, false, true, "link-local"},
        {ip(10, 88, 0, 1), 0xFFFFFFFC, 0, false, true, "/30"},
        {ip(192, 168, 1, 2), 0x80000000, 0, false, true, "/1"},
        {ip(10, 88, 0, 0), m24, 0, false, false, "the subnet's own address"},
        {ip(10, 88, 0, 255), m24, 0, false, false, "the subnet's broadcast address"},
        {ip(10, 88, 0, 4), 0xFFFFFFFE, 0, false, false, "/31"},
        {ip(10, 88, 0, 5), 0xFFFFFFFF, 0, false, false, "/32"},
        {ip(10, 88, 0, 5), 0, 0, false, false, "mask 0"},
        {ip(10, 88, 0, 5), 0xFF00FF00, 0, false, false, "a mask with a hole"},
        {ip(10, 88, 0, 5), 0x00FFFFFF, 0, false, false, "a reversed mask"},
        {ip(0, 1, 2, 3), m8, 0, false, false, "0.x"},
        {ip(224, 0, 0, 5), m24, 0, false, false, "multicast"},
        {ip(239, 255, 1, 2), m24, 0, false, false, "multicast, top"},
        {ip(240, 0, 0, 5), m24, 0, false, false, "reserved"},
        {ip(255, 255, 255, 255), m24, 0, false, false, "limited broadcast"},
        {ip(127, 0, 0, 5), m8, 0, false, false, "loopback for a device on a real adapter"},
        {ip(127, 0, 0, 5), m8, 0, true, true, "loopback for a device on loopback"},
        {ip(10, 88, 0, 5), m24, ip(10, 88, 0, 5), false, false, "its own gateway"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Kivu::UsableDeviceAddress(c.address, c.mask, c.gateway, c.loopbackServed), c.usable) << c.what;
}

}  // namespace
