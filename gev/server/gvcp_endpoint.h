#pragma once
// The control channel's sockets: one bound to the served address, which sends
// every answer, and listeners for the limited and the subnet broadcast, which a
// socket bound to a unicast address never receives on Linux.
#include "server/datagram_socket.h"
#include "platform/wake_up.h"

#include <atomic>
#include <cstdint>

namespace Kivu {

struct EndpointConfig {
    uint32_t address = 0;     // served IPv4, host order
    uint32_t mask = 0;        // its subnet mask (0: no subnet listener)
    uint16_t port = 0;        // 0 = any; the listeners use the port the unicast socket got
    int interfaceIndex = 0;   // broadcasts from other interfaces are dropped; 0 accepts all
    bool broadcastListeners = true;
    BindRetry retry;
};

class GvcpEndpoint {
public:
    GvcpEndpoint() = default;
    GvcpEndpoint(const GvcpEndpoint&) = delete;
    GvcpEndpoint& operator=(const GvcpEndpoint&) = delete;

    // False when the unicast socket cannot be bound; listeners are best effort.
    bool Open(const EndpointConfig& config);
    // Blocks until a request arrives on any socket; false once shut down.
    bool Receive(Datagram& datagram);
    bool Send(const Datagram& datagram) { return m_Unicast.SendTo(datagram); }
    uint16_t LocalPort() const { return m_Unicast.GetLocalPort(); }
    bool IsOpen() const { return m_Unicast.IsOpen(); }
    size_t ListenerCount() const;

    // Wakes Receive from any thread; Close only once no thread is in Receive.
    void Shutdown();
    void Close();

private:
    static constexpr size_t kListeners = 2;

    DatagramSocket m_Unicast;
    DatagramSocket m_Listeners[kListeners];
    platform::WakeUp m_Wake;  // signalled by Shutdown, cleared by Open
    std::atomic<bool> m_ShutDown{false};
    int m_InterfaceIndex = 0;
    size_t m_Next = 0;  // round robin over ready sockets
};

}  // namespace Kivu
