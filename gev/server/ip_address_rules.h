#pragma once
// Which IPv4 configurations a device takes on its adapter when a client asks
// for one (FORCEIP, persistent IP): a remote client must not make the host add
// an address no device may have.
#include <cstdint>

namespace Kivu {

// ip, mask and gateway in host order (a.b.c.d = a << 24 | ...). True for a
// unicast address with host bits neither all 0 nor all 1 under a contiguous
// mask of /1 to /30, and a gateway that is 0 or another address. Loopback
// addresses only for a device served on loopback.
bool UsableDeviceAddress(uint32_t ip, uint32_t mask, uint32_t gateway, bool servedOnLoopback);

}  // namespace Kivu
