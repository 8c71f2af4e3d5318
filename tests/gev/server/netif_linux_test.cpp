#include "server/netif_adapters.h"
#include "server/netif_linux.h"
#include "netns.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <algorithm>
#include <cerrno>

namespace Kivu {
namespace {

AdapterRecord adapter(uint32_t index, uint32_t type, uint32_t mbps)
{
    AdapterRecord r;
    r.ifIndex = index;
    r.ipv4Sys = 0x0A000000 | index;
    r.ifType = type;
    r.speedMbps = mbps;
    return r;
}

TEST(AdapterOrder, GigabitEthernetGoesFrontInReverseOrder)
{
    const std::vector<AdapterRecord> found = {
        adapter(1, IfType::Ethernet, 1000), adapter(2, IfType::Ethernet, 1000), adapter(3, IfType::Wireless, 1000),
        adapter(4, IfType::Ethernet, 10000), adapter(5, IfType::Loopback, 0), adapter(6, IfType::Ethernet, 1000)};
    std::vector<uint32_t> order;
    for (const AdapterRecord& r : OrderAdapters(found))
        order.push_back(r.ifIndex);
    EXPECT_EQ(order, (std::vector<uint32_t>{6, 2, 1, 3, 4, 5}));
}

TEST(PrefixLength, OnlyContiguousMasks)
{
    EXPECT_EQ(PrefixLength(0xFFFFFF00), 24);
    EXPECT_EQ(PrefixLength(0xFFFFFFFF), 32);
    EXPECT_EQ(PrefixLength(0), 0);
    EXPECT_EQ(PrefixLength(0xFF000000), 8);
    EXPECT_EQ(PrefixLength(0xFF00FF00), -1);
    EXPECT_EQ(PrefixLength(0x00FFFFFF), -1);
}

const AdapterRecord* findIp(const std::vector<AdapterRecord>& list, uint32_t ip)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const AdapterRecord& r) { return r.ipv4Sys == ip; });
    return it == list.end() ? nullptr : &*it;
}

TEST(LinuxNetPlatform, ListsLoopbackAndVethWithLinkValues)
{
    nstest::RunInFreshNetns([] {
        ASSERT_TRUE(nstest::Shell("ip link add vdev type veth peer name vcli && "
                                  "ip link set vdev address 02:11:22:33:44:55 mtu 9000 && "
                                  "ip addr add 10.77.0.1/24 dev vdev && ip addr add 10.77.0.9/24 dev vdev && "
                                  "ip link set vdev up && ip link set vcli up"));
        LinuxNetPlatform net;
        const auto list = net.ListAdapters();

        const AdapterRecord* lo = findIp(list, 0x7F000001);
        ASSERT_NE(lo, nullptr);
        EXPECT_EQ(lo->ifType, IfType::Loopback);
        EXPECT_EQ(lo->mtu, 65536u);
        EXPECT_EQ(lo->maskSys, 0xFF000000u);
        EXPECT_EQ(lo->speedMbps, 0u);

        const AdapterRecord* primary = findIp(list, 0x0A4D0001);
        ASSERT_NE(primary, nullptr);
        EXPECT_EQ(primary->ifIndex, if_nametoindex("vdev"));
        EXPECT_EQ(primary->ifType, IfType::Ethernet);
        EXPECT_EQ(primary->mtu, 9000u);
        EXPECT_EQ(primary->maskSys, 0xFFFFFF00u);
        const uint8_t mac[8] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0};
        EXPECT_TRUE(std::equal(mac, mac + 8, primary->phys));
        // veth reports 10 Gbit/s, which bit/s cannot hold.
        EXPECT_EQ(primary->speedMbps, 10000u);
        EXPECT_EQ(primary->speedBps, 0xFFFFFFFFu);

        // The secondary address is listed after its interface's primary.
        const AdapterRecord* secondary = findIp(list, 0x0A4D0009);
        ASSERT_NE(secondary, nullptr);
        EXPECT_GT(secondary, primary);
    });
}

TEST(LinuxNetPlatform, AddsAndDeletesOnlyWhatItAdded)
{
    nstest::RunInFreshNetns([] {
        ASSERT_TRUE(nstest::Shell("ip link add vdev type veth peer name vcli && "
                                  "ip addr add 10.77.0.1/24 dev vdev && ip addr add 10.77.0.60/24 dev vdev"));
        const int index = static_cast<int>(if_nametoindex("vdev"));
        LinuxNetPlatform net;

        AddedAddress added;
        int err = 0;
        ASSERT_EQ(net.AddAddress(0x0A4D0032, 0xFFFFFF00, index, &added, &err), AddResult::Added) << err;
        EXPECT_TRUE(added.valid());
        EXPECT_TRUE(nstest::Shell("ip -4 addr show dev vdev | grep -q 'inet 10.77.0.50/24 brd 10.77.0.255'"));

        AddedAddress existing;
        EXPECT_EQ(net.AddAddress(0x0A4D003C, 0xFFFFFF00, index, &existing, &err), AddResult::AlreadyExists);
        EXPECT_FALSE(existing.valid());

        EXPECT_EQ(net.AddAddress(0x0A4D0033, 0xFF00FF00, index, &existing, &err), AddResult::Failed);
        EXPECT_EQ(net.AddAddress(0x0A4D0033, 0xFFFFFF00, 9999, &existing, &err), AddResult::Failed);
        EXPECT_FALSE(existing.valid());

        EXPECT_TRUE(net.DeleteAddress(added));
        EXPECT_FALSE(added.valid());
        EXPECT_FALSE(nstest::Shell("ip -4 addr show dev vdev | grep -q 10.77.0.50"));
        EXPECT_TRUE(nstest::Shell("ip -4 addr show dev vdev | grep -q 10.77.0.60"));

        // An address someone else removed first counts as deleted.
        ASSERT_EQ(net.AddAddress(0x0A4D0032, 0xFFFFFF00, index, &added, &err), AddResult::Added);
        ASSERT_TRUE(nstest::Shell("ip addr del 10.77.0.50/24 dev vdev"));
        EXPECT_TRUE(net.DeleteAddress(added));
    });
}

TEST(LinuxNetPlatform, AddWithoutNetAdminFails)
{
    nstest::RunInFreshNetns([] {
        ASSERT_TRUE(nstest::Shell("ip link add vdev type veth peer name vcli && ip addr add 10.77.0.1/24 dev vdev"));
        const int index = static_cast<int>(if_nametoindex("vdev"));
        ASSERT_TRUE(nstest::DropNetAdmin());
        LinuxNetPlatform net;
        AddedAddress added;
        int err = 0;
        EXPECT_EQ(net.AddAddress(0x0A4D0032, 0xFFFFFF00, index, &added, &err), AddResult::Failed);
        EXPECT_EQ(err, EPERM);
        EXPECT_FALSE(added.valid());
    });
}

}  // namespace
}  // namespace Kivu
