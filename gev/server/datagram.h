#pragma once
// One UDP datagram with its peer, as the device's sockets exchange it.
#include <cstddef>
#include <cstdint>

namespace Kivu {

constexpr size_t kDatagramCapacity = 65536;

struct Datagram {
    uint32_t address = 0;  // IPv4 of the peer, host order
    uint16_t port = 0;     // UDP port of the peer, host order
    uint16_t length = 0;   // bytes used in data
    uint8_t data[kDatagramCapacity];
};

}  // namespace Kivu
