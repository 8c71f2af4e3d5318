#pragma once
// A blocking IPv4 UDP socket for the control and message channels.
//
// Receives end either with a datagram or when Shutdown is called from another
// thread; Close releases the descriptor and must only run once no thread is
// inside RecvFrom any more.
#include "server/datagram.h"
#include "platform/unique_fd.h"
#include "platform/wake_up.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace Kivu {

struct BindRetry {
    unsigned attempts = 5;
    std::chrono::milliseconds delay{1000};
};

// What RecvFrom saw besides the datagram itself.
struct ReceiveInfo {
    bool truncated = false;     // the datagram was larger than the buffer
    int interfaceIndex = 0;     // arrival interface (sockets opened as listeners)
    uint32_t destination = 0;   // destination IPv4 of the datagram, host order (listeners)
};

class DatagramSocket {
public:
    DatagramSocket();
    virtual ~DatagramSocket();
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Binds address:port (host order, port 0 = any) with broadcast sending
    // allowed; retries a failed bind. False when already open or every attempt failed.
    bool Open(uint32_t address, uint16_t port);
    // A receive-only socket for broadcasts to address:port, shared with other
    // listeners of the same address (SO_REUSEADDR), reporting the arrival interface.
    bool OpenListener(uint32_t address, uint16_t port);

    bool SendTo(const Datagram& datagram);
    // Blocks until a datagram arrives; false on error or after Shutdown.
    bool RecvFrom(Datagram& datagram, ReceiveInfo* info = nullptr);
    // Receives one datagram if one is waiting, without blocking.
    bool TryRecvFrom(Datagram& datagram, ReceiveInfo* info = nullptr);

    uint16_t GetLocalPort() const;
    bool IsOpen() const { return m_Fd.isValid(); }
    int Descriptor() const { return m_Fd.get(); }

    // Wakes a receiver blocked in RecvFrom; safe from any thread.
    void Shutdown();
    void Close();

    void SetBindRetry(const BindRetry& retry) { m_Retry = retry; }

private:
    bool open(uint32_t address, uint16_t port, bool listener);
    bool receive(Datagram& datagram, ReceiveInfo* info, int flags);

    platform::UniqueFD m_Fd;
    platform::WakeUp m_Wake;  // signalled by Shutdown, cleared by Open
    std::atomic<bool> m_ShutDown{false};
    BindRetry m_Retry;
};

}  // namespace Kivu
