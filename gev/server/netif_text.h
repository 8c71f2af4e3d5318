#pragma once
// Text forms of IPv4 and MAC addresses.
#include <cstddef>
#include <cstdint>

namespace Kivu {

// "a.b.c.d": four parts of one to three decimal digits, each below 256
// (leading zeros allowed), nothing else. Result in host order.
bool ParseIpv4(const char* text, uint32_t& hostOrder);
// Six groups of one or two hexadecimal digits separated by '-' or ':'.
bool ParseMac(const char* text, uint8_t (&mac)[6]);
// "%u.%u.%u.%u" of a host-order address, bounded by size; false when it does not fit.
bool FormatIpv4(uint32_t hostOrder, char* out, size_t size);

}  // namespace Kivu
