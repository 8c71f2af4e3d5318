#pragma once
// The connected UDP socket a stream channel sends its packets on.
#include "platform/unique_fd.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace Kivu {

class StreamSocket {
public:
    StreamSocket() = default;
    virtual ~StreamSocket() = default;
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // Binds address:0 (host order); closes an open socket first.
    virtual bool Open(uint32_t address);
    virtual bool Connect(uint32_t address, uint16_t port);
    virtual void Close();
    bool IsOpen() const { return m_Fd.isValid(); }
    uint16_t LocalPort() const;
    // Sets IP_PMTUDISC_DO (no fragmentation) or lets the kernel fragment.
    bool SetDontFragment(bool enable);

    // Sends each message as one datagram, in batches the kernel takes. A message
    // the kernel refuses (no receiver yet: ECONNREFUSED, or a full queue) counts
    // as not sent and the rest still go. Returns the messages sent.
    virtual size_t Send(mmsghdr* messages, size_t count);

private:
    platform::UniqueFD m_Fd;
};

}  // namespace Kivu
