#include "server/ip_address_rules.h"

namespace Kivu {

namespace {

bool contiguous(uint32_t mask)
{
    const uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

}  // namespace

bool UsableDeviceAddress(uint32_t ip, uint32_t mask, uint32_t gateway, bool servedOnLoopback)
{
    const uint32_t first = ip >> 24;
    if (first == 0 || first >= 224)  // "this network", multicast, reserved and broadcast
        return false;
    if (first == 127 && !servedOnLoopback)
        return false;
    if (mask == 0 || !contiguous(mask))
        return false;
    const uint32_t host = ip & ~mask;
    if (host == 0 || host == ~mask)  // the subnet's own or broadcast address; no host part at /31 and /32
        return false;
    return gateway != ip;
}

}  // namespace Kivu
