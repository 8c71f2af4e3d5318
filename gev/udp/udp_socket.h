#pragma once
// Small pieces shared by the UDP sockets of the control and stream protocols.
#include "platform/socket_options.h"
#include "platform/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace Kivu::Udp {

// Host-order address and port as a socket address.
inline sockaddr_in SocketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

// A datagram socket bound to address:0 with both buffers asked for bufferBytes; invalid on failure.
inline platform::UniqueFD OpenBound(uint32_t address, int bufferBytes)
{
    platform::UniqueFD fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return fd;
    (void)platform::setIntOption(fd.get(), SOL_SOCKET, SO_SNDBUF, bufferBytes);
    (void)platform::setIntOption(fd.get(), SOL_SOCKET, SO_RCVBUF, bufferBytes);
    const sockaddr_in sa = SocketAddress(address, 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return platform::UniqueFD();
    return fd;
}

inline bool Connect(int fd, uint32_t address, uint16_t port)
{
    const sockaddr_in sa = SocketAddress(address, port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
}

// The bound port, 0 when there is none.
inline uint16_t LocalPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

}  // namespace Kivu::Udp
