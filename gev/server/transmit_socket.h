#pragma once
// A connected IPv4 UDP socket that sends prepared packet lists (the stream channels).
#include "platform/unique_fd.h"

#include <cstddef>
#include <cstdint>

namespace Kivu {

// One piece of a packet; a packet ends with the element that has endOfPacket set
// (or with the last element of the list).
struct TransmitElement {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    bool endOfPacket = true;
};

class TransmitSocket {
public:
    TransmitSocket();
    virtual ~TransmitSocket();
    TransmitSocket(const TransmitSocket&) = delete;
    TransmitSocket& operator=(const TransmitSocket&) = delete;

    // Binds address (host order) with any port; true at once when already open.
    bool Open(uint32_t address);
    bool Connect(uint32_t address, uint16_t port);
    // Sends every packet of the list, one datagram each. False when the socket
    // is closed, a packet is malformed or a send fails (a peer that refuses,
    // ICMP port unreachable, also gives false; the socket stays usable).
    bool TransmitPackets(const TransmitElement* elements, size_t count);
    // Sends are synchronous: true while the socket is open.
    bool WaitOverlapped() const { return IsOpen(); }
    // Sets or clears the don't-fragment bit of sent packets.
    bool SetDontFragment(bool enable);

    uint16_t GetLocalPort() const;
    bool IsOpen() const { return m_Fd.isValid(); }
    void Close();

private:
    platform::UniqueFD m_Fd;
};

}  // namespace Kivu
