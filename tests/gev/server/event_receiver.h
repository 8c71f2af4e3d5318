#pragma once
// The client's end of the message channel for the tests: a UDP socket on
// loopback that receives EVENT and EVENTDATA packets, decodes them on its own
// (independently of the device's encoder) and acknowledges on request.
#include "server/datagram_socket.h"
#include "platform/bytes.h"
#include "socket_helpers.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace test_support {

struct DecodedRecord {
    uint16_t reserved = 0;
    uint16_t eventId = 0;
    uint16_t channel = 0;
    uint16_t reserved2 = 0;  // extended records only
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
};

struct DecodedEvent {
    std::vector<uint8_t> bytes;  // as received
    uint8_t flags = 0;
    uint16_t command = 0;
    uint16_t length = 0;
    uint16_t requestId = 0;
    std::vector<DecodedRecord> records;
    std::vector<uint8_t> data;  // EVENTDATA only
    bool extended() const { return (flags & 0x10) != 0; }
    bool ackRequested() const { return (flags & 0x01) != 0; }
};

// Decodes a message-channel packet; nullopt when it is not well formed.
inline std::optional<DecodedEvent> decodeEvent(const std::vector<uint8_t>& b)
{
    if (b.size() < 8 || b[0] != 0x42)
        return std::nullopt;
    DecodedEvent e;
    e.bytes = b;
    e.flags = b[1];
    e.command = platform::loadBE16(&b[2]);
    e.length = platform::loadBE16(&b[4]);
    e.requestId = platform::loadBE16(&b[6]);
    if (b.size() != 8u + e.length)
        return std::nullopt;
    const size_t record = e.extended() ? 24 : 16;
    auto recordAt = [&](size_t at) {
        DecodedRecord r;
        r.reserved = platform::loadBE16(&b[at]);
        r.eventId = platform::loadBE16(&b[at + 2]);
        r.channel = platform::loadBE16(&b[at + 4]);
        if (e.extended()) {
            r.reserved2 = platform::loadBE16(&b[at + 6]);
            r.blockId = platform::loadBE64(&b[at + 8]);
            r.timestamp = platform::loadBE64(&b[at + 16]);
        } else {
            r.blockId = platform::loadBE16(&b[at + 6]);
            r.timestamp = (uint64_t{platform::loadBE32(&b[at + 8])} << 32) | platform::loadBE32(&b[at + 12]);
        }
        return r;
    };
    if (e.command == 0x00C0) {
        if (e.length == 0 || e.length % record != 0)
            return std::nullopt;
        for (size_t at = 8; at < b.size(); at += record)
            e.records.push_back(recordAt(at));
    } else if (e.command == 0x00C2) {
        if (e.length < record)
            return std::nullopt;
        e.records.push_back(recordAt(8));
        e.data.assign(b.begin() + 8 + static_cast<std::ptrdiff_t>(record), b.end());
    } else {
        return std::nullopt;
    }
    return e;
}

class EventReceiver {
public:
    explicit EventReceiver(uint32_t address) : m_In(std::make_unique<Kivu::Datagram>())
    {
        m_Socket.Open(address, 0);
    }

    uint16_t port() const { return m_Socket.GetLocalPort(); }

    // The next packet within wait, as received, with its sender.
    std::optional<std::vector<uint8_t>> receiveBytes(std::chrono::milliseconds wait = std::chrono::milliseconds(3000))
    {
        pollfd p{m_Socket.Descriptor(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !m_Socket.TryRecvFrom(*m_In))
            return std::nullopt;
        m_From = m_In->address;
        m_FromPort = m_In->port;
        return bytesOf(*m_In);
    }

    // The next packet, decoded; a packet that does not decode fails the test.
    std::optional<DecodedEvent> receive(std::chrono::milliseconds wait = std::chrono::milliseconds(3000))
    {
        auto bytes = receiveBytes(wait);
        if (!bytes)
            return std::nullopt;
        auto e = decodeEvent(*bytes);
        EXPECT_TRUE(e) << "malformed packet of " << bytes->size() << " bytes";
        return e;
    }

    // Every packet until none came for quiet.
    std::vector<DecodedEvent> drain(std::chrono::milliseconds quiet)
    {
        std::vector<DecodedEvent> all;
        while (auto e = receive(quiet))
            all.push_back(*e);
        return all;
    }

    // Answers the device at the packet's source, as a client does.
    void acknowledge(const DecodedEvent& e)
    {
        std::vector<uint8_t> ack(8, 0);  // status 0, answer, length 0, request id
        platform::storeBE16(&ack[2], e.command == 0x00C0 ? 0x00C1 : 0x00C3);
        platform::storeBE16(&ack[6], e.requestId);
        m_Socket.SendTo(*makeDatagram(m_From, m_FromPort, ack));
    }

    uint32_t lastSender() const { return m_From; }
    uint16_t lastSenderPort() const { return m_FromPort; }

private:
    Kivu::DatagramSocket m_Socket;
    std::unique_ptr<Kivu::Datagram> m_In;
    uint32_t m_From = 0;
    uint16_t m_FromPort = 0;
};

}  // namespace test_support
