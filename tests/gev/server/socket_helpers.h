#pragma once
// Loopback addresses and small datagram helpers for the socket tests.
#include "server/datagram.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace test_support {

constexpr uint32_t loopback(uint8_t last) { return 0x7F000000u | last; }

inline std::unique_ptr<Kivu::Datagram> makeDatagram(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes)
{
    auto d = std::make_unique<Kivu::Datagram>();
    d->address = address;
    d->port = port;
    d->length = static_cast<uint16_t>(bytes.size());
    if (!bytes.empty())
        std::memcpy(d->data, bytes.data(), bytes.size());
    return d;
}

inline std::vector<uint8_t> bytesOf(const Kivu::Datagram& d)
{
    return std::vector<uint8_t>(d.data, d.data + d.length);
}

}  // namespace test_support
