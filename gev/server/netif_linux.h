#pragma once
// The host's IPv4 adapters through rtnetlink and interface ioctls.
#include "server/netif.h"

namespace Kivu {

// One record per IPv4 address: an interface's primary addresses first, then
// its secondary ones. Adding and deleting addresses needs CAP_NET_ADMIN.
class LinuxNetPlatform : public INetPlatform {
public:
    std::vector<AdapterRecord> ListAdapters() override;
    AddResult AddAddress(uint32_t ipSys, uint32_t maskSys, int ifIndex, AddedAddress* out, int* err) override;
    bool DeleteAddress(AddedAddress& address) override;
};

// Prefix length of a contiguous mask (host order); -1 otherwise.
int PrefixLength(uint32_t mask);

// Interface types as reported in the adapter records.
namespace IfType {
constexpr uint32_t Other = 1;
constexpr uint32_t Ethernet = 6;
constexpr uint32_t Loopback = 24;
constexpr uint32_t Wireless = 71;
constexpr uint32_t Tunnel = 131;
}  // namespace IfType

}  // namespace Kivu
