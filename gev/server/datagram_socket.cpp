#include "server/datagram_socket.h"
#include "udp/udp_socket.h"
#include "platform/socket_options.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace Kivu {

namespace {

constexpr int kBufferSize = 0x500000;

}  // namespace

DatagramSocket::DatagramSocket() = default;

DatagramSocket::~DatagramSocket()
{
    Close();
}

bool DatagramSocket::Open(uint32_t address, uint16_t port)
{
    return open(address, port, false);
}

bool DatagramSocket::OpenListener(uint32_t address, uint16_t port)
{
    return open(address, port, true);
}

bool DatagramSocket::open(uint32_t address, uint16_t port, bool listener)
{
    if (IsOpen())
        return false;
    platform::UniqueFD fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid() || !m_Wake.isValid())
        return false;
    // Best effort: the socket works with the default buffers too.
    platform::setIntOption(fd.get(), SOL_SOCKET, SO_BROADCAST, 1);
    platform::setIntOption(fd.get(), SOL_SOCKET, SO_RCVBUF, kBufferSize);
    if (listener) {
        platform::setIntOption(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1);
        platform::setIntOption(fd.get(), IPPROTO_IP, IP_PKTINFO, 1);
    } else {
        platform::setIntOption(fd.get(), SOL_SOCKET, SO_SNDBUF, kBufferSize);
    }

    const sockaddr_in sa = Udp::SocketAddress(address, port);
    const unsigned attempts = m_Retry.attempts == 0 ? 1 : m_Retry.attempts;
    for (unsigned i = 0; i < attempts; ++i) {
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0) {
            m_Fd = std::move(fd);
            m_Wake.clear();
            m_ShutDown.store(false);
            return true;
        }
        if (i + 1 < attempts)
            std::this_thread::sleep_for(m_Retry.delay);
    }
    return false;
}

bool DatagramSocket::SendTo(const Datagram& datagram)
{
    if (!IsOpen() || datagram.length == 0)
        return false;
    const sockaddr_in sa = Udp::SocketAddress(datagram.address, datagram.port);
    ssize_t sent;
    do {
        sent = ::sendto(m_Fd.get(), datagram.data, datagram.length, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(datagram.length);
}

bool DatagramSocket::RecvFrom(Datagram& datagram, ReceiveInfo* info)
{
    if (!IsOpen())
        return false;
    for (;;) {
        if (m_ShutDown.load())
            return false;
        short revents = 0;
        if (m_Wake.wait(m_Fd.get(), POLLIN, -1, &revents) != platform::PollResult::Ready || m_ShutDown.load())
            return false;
        if (revents & (POLLERR | POLLNVAL))
            return false;
        if (receive(datagram, info, MSG_DONTWAIT))
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
    }
}

bool DatagramSocket::TryRecvFrom(Datagram& datagram, ReceiveInfo* info)
{
    if (!IsOpen() || m_ShutDown.load())
        return false;
    return receive(datagram, info, MSG_DONTWAIT);
}

bool DatagramSocket::receive(Datagram& datagram, ReceiveInfo* info, int flags)
{
    sockaddr_in from{};
    iovec iov{datagram.data, sizeof(datagram.data)};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof(from);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);

    const ssize_t n = ::recvmsg(m_Fd.get(), &msg, flags | MSG_TRUNC);
    if (n < 0)
        return false;
    const bool truncated = (msg.msg_flags & MSG_TRUNC) != 0 || static_cast<size_t>(n) > sizeof(datagram.data);
    const size_t kept = truncated ? sizeof(datagram.data) : static_cast<size_t>(n);
    // A datagram cannot reach 65536 bytes over IPv4, so the length field holds every kept size.
    datagram.length = static_cast<uint16_t>(kept > 0xFFFF ? 0xFFFF : kept);
    datagram.address = ntohl(from.sin_addr.s_addr);
    datagram.port = ntohs(from.sin_port);
    if (info != nullptr) {
        *info = ReceiveInfo{};
        info->truncated = truncated;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo pi;
                std::memcpy(&pi, CMSG_DATA(c), sizeof(pi));
                info->interfaceIndex = pi.ipi_ifindex;
                info->destination = ntohl(pi.ipi_addr.s_addr);
            }
        }
    }
    return true;
}

uint16_t DatagramSocket::GetLocalPort() const
{
    return Udp::LocalPort(m_Fd.get());
}

void DatagramSocket::Shutdown()
{
    m_ShutDown.store(true);
    m_Wake.signal();
}

void DatagramSocket::Close()
{
    m_Fd.reset();
}

}  // namespace Kivu
