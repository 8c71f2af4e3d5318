#pragma once
// The host's network interfaces as the device library needs them: the adapter
// list and adding or removing the served address on an adapter.
#include <cstdint>
#include <vector>

namespace Kivu {

struct AdapterRecord {
    uint32_t ifIndex = 0;
    uint32_t ipv4Sys = 0;  // host order
    uint32_t maskSys = 0;  // host order
    uint32_t ifType = 0;
    uint32_t mtu = 0;
    uint32_t speedBps = 0;   // saturates at 0xFFFFFFFF
    uint32_t speedMbps = 0;  // exact; 0 when unknown
    uint8_t phys[8] = {};
};

// An address this library added; only such an address is ever deleted.
struct AddedAddress {
    int ifIndex = 0;
    uint32_t ipv4Sys = 0;
    uint8_t prefixLen = 0;
    bool valid() const { return ifIndex != 0 && ipv4Sys != 0; }
};

enum class AddResult { Added, AlreadyExists, Failed };

class INetPlatform {
public:
    virtual ~INetPlatform() = default;
    virtual std::vector<AdapterRecord> ListAdapters() = 0;
    // ipSys and maskSys in host order. AlreadyExists leaves out invalid.
    virtual AddResult AddAddress(uint32_t ipSys, uint32_t maskSys, int ifIndex, AddedAddress* out, int* err) = 0;
    // Deletes an address from AddAddress and clears it.
    virtual bool DeleteAddress(AddedAddress& address) = 0;
};

}  // namespace Kivu
