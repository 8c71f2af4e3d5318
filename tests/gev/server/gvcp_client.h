#pragma once
// A loopback GVCP client for the control protocol tests: sends command bytes
// and waits a bounded time for an answer.
#include "server/datagram_socket.h"
#include "platform/bytes.h"
#include "socket_helpers.h"

#include <poll.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

inline Bytes command(uint8_t flags, uint16_t cmd, uint16_t id, const Bytes& payload)
{
    Bytes b(8 + payload.size());
    if (!payload.empty())
        std::memcpy(b.data() + 8, payload.data(), payload.size());
    b[0] = 0x42;
    b[1] = flags;
    platform::storeBE16(&b[2], cmd);
    platform::storeBE16(&b[4], static_cast<uint16_t>(payload.size()));
    platform::storeBE16(&b[6], id);
    return b;
}

inline Bytes be32s(std::initializer_list<uint32_t> words)
{
    Bytes b(4 * words.size());
    size_t i = 0;
    for (uint32_t w : words)
        platform::storeBE32(&b[4 * i++], w);
    return b;
}

// The FORCEIP_CMD payload for the device with the given MAC.
inline Bytes forceIpPayload(uint16_t macHigh, uint32_t macLow, uint32_t ip, uint32_t mask, uint32_t gateway = 0)
{
    Bytes p(56, 0);
    platform::storeBE16(&p[2], macHigh);
    platform::storeBE32(&p[4], macLow);
    platform::storeBE32(&p[20], ip);
    platform::storeBE32(&p[36], mask);
    platform::storeBE32(&p[52], gateway);
    return p;
}

struct Answer {
    Bytes bytes;
    uint32_t from = 0;
    uint16_t status() const { return platform::loadBE16(&bytes[0]); }
    uint16_t code() const { return platform::loadBE16(&bytes[2]); }
    uint16_t length() const { return platform::loadBE16(&bytes[4]); }
    uint16_t id() const { return platform::loadBE16(&bytes[6]); }
    uint32_t word(size_t i) const { return platform::loadBE32(&bytes[8 + 4 * i]); }
};

class GvcpClient {
public:
    explicit GvcpClient(uint32_t address) : m_In(std::make_unique<Kivu::Datagram>())
    {
        m_Socket.Open(address, 0);
    }

    void setServer(uint32_t address, uint16_t port)
    {
        m_ServerIp = address;
        m_ServerPort = port;
    }

    void send(const Bytes& bytes) { m_Socket.SendTo(*makeDatagram(m_ServerIp, m_ServerPort, bytes)); }

    std::optional<Answer> receive(std::chrono::milliseconds wait = std::chrono::milliseconds(1000))
    {
        pollfd p{m_Socket.Descriptor(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !m_Socket.TryRecvFrom(*m_In))
            return std::nullopt;
        return Answer{bytesOf(*m_In), m_In->address};
    }

    std::optional<Answer> exchange(const Bytes& bytes, std::chrono::milliseconds wait = std::chrono::milliseconds(1000))
    {
        send(bytes);
        return receive(wait);
    }

    // Register helpers with a fresh request id each.
    std::optional<Answer> readReg(uint32_t address) { return exchange(command(1, 0x80, next(), be32s({address}))); }
    std::optional<Answer> writeReg(uint32_t address, uint32_t value)
    {
        return exchange(command(1, 0x82, next(), be32s({address, value})));
    }
    uint16_t next() { return m_Id = static_cast<uint16_t>(m_Id == 0xFFFF ? 1 : m_Id + 1); }
    uint16_t port() const { return m_Socket.GetLocalPort(); }

private:
    Kivu::DatagramSocket m_Socket;
    std::unique_ptr<Kivu::Datagram> m_In;
    uint32_t m_ServerIp = 0;
    uint16_t m_ServerPort = 0;
    uint16_t m_Id = 0;
};

}  // namespace test_support
