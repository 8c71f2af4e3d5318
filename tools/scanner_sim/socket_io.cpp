#include "scanner_sim/socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

#include "platform/socket_options.h"
#include "platform/system_error.h"

namespace scanner_sim {
namespace {

[[noreturn]] void fail(const std::string& what, int error)
{
    throw std::runtime_error("scanner_sim: " + what + ": " + platform::systemErrorText(error));
}

}  // namespace

platform::UniqueFD openListener(const std::string& address, uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("scanner_sim: not an IPv4 address: \"" + address + "\"");

    platform::UniqueFD fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        fail("socket", errno);
    if (!platform::setIntOption(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1))
        fail("SO_REUSEADDR", errno);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        fail("bind " + address + ":" + std::to_string(port), errno);
    if (::listen(fd.get(), 128) != 0)
        fail("listen", errno);
    return fd;
}

uint16_t localPort(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        fail("getsockname", errno);
    return ntohs(addr.sin_port);
}

bool sendAll(int fd, std::string_view bytes, const WritePacing& pacing, const std::atomic<bool>& abort,
             std::chrono::milliseconds stallLimit)
{
    using Clock = std::chrono::steady_clock;
    size_t offset = 0;
    auto lastProgress = Clock::now();
    while (offset < bytes.size()) {
        if (abort.load())
            return false;
        size_t n = bytes.size() - offset;
        if (pacing.chunkSize != 0 && n > pacing.chunkSize)
            n = pacing.chunkSize;
        const ssize_t sent = ::send(fd, bytes.data() + offset, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            offset += static_cast<size_t>(sent);
            lastProgress = Clock::now();
            if (pacing.chunkSize != 0 && offset < bytes.size())
                std::this_thread::sleep_for(pacing.pause);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() - lastProgress > stallLimit)
                return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 20);
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace scanner_sim
