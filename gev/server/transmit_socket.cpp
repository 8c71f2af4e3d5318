#include "server/transmit_socket.h"
#include "udp/udp_socket.h"
#include "platform/socket_options.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace Kivu {

namespace {

constexpr int kBufferSize = 0x500000;
constexpr size_t kMaxPacketsPerCall = 1024;  // UIO_MAXIOV
constexpr size_t kMaxElementsPerPacket = 16;

}  // namespace

TransmitSocket::TransmitSocket() = default;

TransmitSocket::~TransmitSocket()
{
    Close();
}

bool TransmitSocket::Open(uint32_t address)
{
    if (IsOpen())
        return true;
    m_Fd = Udp::OpenBound(address, kBufferSize);
    return m_Fd.isValid();
}

bool TransmitSocket::Connect(uint32_t address, uint16_t port)
{
    return IsOpen() && Udp::Connect(m_Fd.get(), address, port);
}

bool TransmitSocket::SetDontFragment(bool enable)
{
    if (!IsOpen())
        return false;
    const int mode = enable ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return platform::setIntOption(m_Fd.get(), IPPROTO_IP, IP_MTU_DISCOVER, mode);
}

bool TransmitSocket::TransmitPackets(const TransmitElement* elements, size_t count)
{
    if (!IsOpen() || (elements == nullptr && count != 0))
        return false;

    std::vector<iovec> iovs;
    std::vector<mmsghdr> messages;
    iovs.reserve(count);
    std::vector<size_t> firsts;  // index of each packet's first iovec
    size_t pieces = 0;
    for (size_t i = 0; i < count; ++i) {
        const TransmitElement& e = elements[i];
        if (e.data == nullptr && e.length != 0)
            return false;
        if (pieces == 0)
            firsts.push_back(iovs.size());
        iovs.push_back({const_cast<uint8_t*>(e.data), e.length});
        if (++pieces > kMaxElementsPerPacket)
            return false;
        if (e.endOfPacket || i + 1 == count)
            pieces = 0;
    }
    messages.resize(firsts.size());
    for (size_t p = 0; p < firsts.size(); ++p) {
        const size_t end = p + 1 < firsts.size() ? firsts[p + 1] : iovs.size();
        messages[p] = mmsghdr{};
        messages[p].msg_hdr.msg_iov = &iovs[firsts[p]];
        messages[p].msg_hdr.msg_iovlen = end - firsts[p];
    }

    size_t done = 0;
    while (done < messages.size()) {
        const size_t batch = std::min(kMaxPacketsPerCall, messages.size() - done);
        const int sent = ::sendmmsg(m_Fd.get(), &messages[done], static_cast<unsigned>(batch), 0);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (sent == 0)
            return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

uint16_t TransmitSocket::GetLocalPort() const
{
    return Udp::LocalPort(m_Fd.get());
}

void TransmitSocket::Close()
{
    m_Fd.reset();
}

}  // namespace Kivu
