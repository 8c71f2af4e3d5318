#include "server/stream/stream_socket.h"
#include "udp/udp_socket.h"
#include "platform/socket_options.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>

namespace Kivu {

namespace {

constexpr int kBufferBytes = 0x500000;
constexpr size_t kMaxBatch = 1024;  // UIO_MAXIOV

}  // namespace

bool StreamSocket::Open(uint32_t address)
{
    Close();
    m_Fd = Udp::OpenBound(address, kBufferBytes);
    return m_Fd.isValid();
}

bool StreamSocket::Connect(uint32_t address, uint16_t port)
{
    return IsOpen() && Udp::Connect(m_Fd.get(), address, port);
}

void StreamSocket::Close()
{
    m_Fd.reset();
}

uint16_t StreamSocket::LocalPort() const
{
    return Udp::LocalPort(m_Fd.get());
}

bool StreamSocket::SetDontFragment(bool enable)
{
    const int mode = enable ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return IsOpen() && platform::setIntOption(m_Fd.get(), IPPROTO_IP, IP_MTU_DISCOVER, mode);
}

size_t StreamSocket::Send(mmsghdr* messages, size_t count)
{
    if (!IsOpen())
        return 0;
    size_t done = 0;
    size_t sent = 0;
    int retries = 0;
    while (done < count) {
        const size_t batch = std::min(kMaxBatch, count - done);
        const int n = ::sendmmsg(m_Fd.get(), messages + done, static_cast<unsigned>(batch), 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            sent += static_cast<size_t>(n);
            retries = 0;
            continue;
        }
        if (n < 0 && errno == EINTR && ++retries < 100)
            continue;
        // The first message of the batch was refused (an ICMP error pending on
        // the connected socket, a full queue): skip it and go on.
        ++done;
        retries = 0;
    }
    return sent;
}

}  // namespace Kivu
