#include "gev/server/stream/stream_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>

namespace Kivu {

namespace {

constexpr int kBufferBytes = 0x500000;
constexpr size_t kMaxBatch = 1024;  // UIO_MAXIOV

sockaddr_in socketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

}  // namespace

bool StreamSocket::Open(uint32_t address)
{
    Close();
    platform::UniqueFD fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return false;
    const int size = kBufferBytes;
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    const sockaddr_in sa = socketAddress(address, 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return false;
    m_Fd = std::move(fd);
    return true;
}

bool StreamSocket::Connect(uint32_t address, uint16_t port)
{
    if (!IsOpen())
        return false;
    const sockaddr_in sa = socketAddress(address, port);
    return ::connect(m_Fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
}

void StreamSocket::Close()
{
    m_Fd.reset();
}

uint16_t StreamSocket::LocalPort() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    if (!IsOpen() || ::getsockname(m_Fd.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

bool StreamSocket::SetDontFragment(bool enable)
{
    const int mode = enable ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return IsOpen() && ::setsockopt(m_Fd.get(), IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof(mode)) == 0;
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
