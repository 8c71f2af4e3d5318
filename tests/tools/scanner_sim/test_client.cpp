#include "test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace scanner_sim::test {

using Clock = std::chrono::steady_clock;

TestClient::TestClient(uint16_t port)
{
    platform::UniqueFD fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd.isValid() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error_ = errno;
        return;
    }
    fd_ = std::move(fd);
}

bool TestClient::send(const std::string& bytes)
{
    size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::send(fd_.get(), bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        offset += static_cast<size_t>(n);
    }
    return true;
}

std::string TestClient::receive(size_t count, std::chrono::milliseconds timeout)
{
    std::string out;
    const auto deadline = Clock::now() + timeout;
    char buffer[65536];
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const size_t want = std::min(sizeof buffer, count - out.size());
        const ssize_t n = ::recv(fd_.get(), buffer, want, 0);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool TestClient::waitForClose(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return true;
    }
}

}  // namespace scanner_sim::test
