#include "src/tcp_client.h"

#include "platform/socket_options.h"
#include "platform/system_error.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace quillan {
namespace {

std::string errorText(int error)
{
    if (error == 0)
        return "<no error message>\n";
    return format("(errno %d): %s", error, platform::systemErrorText(error));
}

using platform::PollResult;
using platform::setIntOption;
using platform::setTimeOption;

// What poll() would have returned, for the log lines: -1 failed, 0 timed out, 1 ready.
int pollCount(PollResult result) { return result == PollResult::Failed ? -1 : result == PollResult::TimedOut ? 0 : 1; }

void setBlocking(int fd, bool blocking)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

}  // namespace

TcpClient::TcpClient() = default;

TcpClient::~TcpClient() { Stop(); }

void TcpClient::SetCallbacks(Callback connected, Callback disconnected, DataCallback data, void* context,
                             ReadDataCallable readData)
{
    m_ConnectedCallback = std::move(connected);
    m_DisconnectedCallback = std::move(disconnected);
    m_DataCallback = std::move(data);
    m_Context = context;
    m_ReadData = std::move(readData);
}

void TcpClient::Reset()
{
    m_ConnectedCallback = nullptr;
    m_DisconnectedCallback = nullptr;
    m_DataCallback = nullptr;
    m_ReadData = nullptr;
    m_Context = nullptr;
    closeSocket();
    m_Connected = false;
    m_TimeoutMs = 0;
    m_Ip.clear();
    m_Port.clear();
    m_AutoReconnect = true;
}

void TcpClient::log(const std::string& text)
{
    if (m_Log)
        m_Log->line(this, text);
}

void TcpClient::Start(const std::string& ip, const std::string& port, int timeoutMs)
{
    log("Starting the TCP thread");
    m_Connected = false;
    m_Ip = ip;
    m_Port = port;
    m_TimeoutMs = timeoutMs;
    m_AutoReconnect = true;
    m_Worker.start([this](std::stop_token stop) { ThreadProc(stop); });
}

bool TcpClient::Stop()
{
    if (!m_Worker.running())
        return true;
    if (onThread())
        return false;
    log("Stoping the TCP thread");
    return m_Worker.stop();
}

bool TcpClient::onThread() const { return m_Worker.onThread(); }

int TcpClient::Send(const char* data, int length)
{
    std::lock_guard lock(m_SocketMutex);
    if (!m_Connected || !m_Socket.isValid() || length < 0)
        return -1;
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(m_Socket.get(), data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        sent += static_cast<int>(n);
    }
    return length;
}

void TcpClient::publishSocket(platform::UniqueFD fd)
{
    std::lock_guard lock(m_SocketMutex);
    m_Socket = std::move(fd);
}

void TcpClient::closeSocket()
{
    // shutdown first, so a sender blocked in send() returns before the lock is taken.
    int fd = m_Socket.get();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    std::lock_guard lock(m_SocketMutex);
    m_Socket.reset();
}

bool TcpClient::waitWake(int timeoutMs)
{
    return m_Worker.wakeUp().sleep(timeoutMs) == PollResult::Woken;
}

void TcpClient::OnConnected()
{
    log("connected");
    m_Connected = true;
    if (m_ConnectedCallback)
        m_ConnectedCallback();
}

void TcpClient::OnDisconnected()
{
    log("disconnected");
    m_Connected = false;
    if (m_DisconnectedCallback)
        m_DisconnectedCallback();
}

platform::UniqueFD TcpClient::connectOnce(const sockaddr_in& addr, std::stop_token& stop)
{
    auto started = std::chrono::steady_clock::now();
    auto waitRestOfSecond = [&] {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        if (elapsed.count() < 1000 && !stop.stop_requested())
            waitWake(static_cast<int>(1000 - elapsed.count()));
    };

    platform::UniqueFD fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid()) {
        log(format("[%s]Error%d", m_Ip.c_str(), errno));
        waitRestOfSecond();
        return {};
    }
    log(format("recv timeout %d", m_TimeoutMs));
    setTimeOption(fd.get(), SO_RCVTIMEO, m_TimeoutMs);
    setTimeOption(fd.get(), SO_SNDTIMEO, kSendTimeoutMs);
    setIntOption(fd.get(), SOL_SOCKET, SO_RCVBUF, kSocketBufferBytes);
    setIntOption(fd.get(), SOL_SOCKET, SO_SNDBUF, kSocketBufferBytes);
    setIntOption(fd.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
    setIntOption(fd.get(), IPPROTO_TCP, TCP_KEEPIDLE, 3);
    setIntOption(fd.get(), IPPROTO_TCP, TCP_KEEPINTVL, 1);
    setIntOption(fd.get(), IPPROTO_TCP, TCP_KEEPCNT, 10);
    setIntOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);

    log("connecting");
    setBlocking(fd.get(), false);
    int rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    int error = rc == 0 ? 0 : errno;
    int ready = 1;
    if (rc != 0 && error == EINPROGRESS) {
        short revents = 0;
        ready = pollCount(m_Worker.wakeUp().wait(fd.get(), POLLOUT, 1000, &revents));
        error = 0;
        if (ready > 0 && (revents & (POLLOUT | POLLERR | POLLHUP))) {
            socklen_t len = sizeof(error);
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len);
        } else {
            error = ready < 0 ? errno : ETIMEDOUT;
            ready = 0;
        }
    }
    if (error != 0) {
        log(format("Trying to connect. Error: %d  %s", ready, errorText(error).c_str()));
        waitRestOfSecond();
        return {};
    }
    setBlocking(fd.get(), true);
    return fd;
}

TcpClient::Loss TcpClient::receive(int fd, std::stop_token& stop, char* buffer, int& lastResult)
{
    while (!stop.stop_requested()) {
        short revents = 0;
        const int ready = pollCount(m_Worker.wakeUp().wait(fd, POLLIN, m_TimeoutMs > 0 ? m_TimeoutMs : -1, &revents));
        if (stop.stop_requested())
            break;
        if (ready <= 0 || !(revents & (POLLIN | POLLERR | POLLHUP))) {
            lastResult = ready;
            return Loss::Select;
        }
        ssize_t n = ::recv(fd, buffer, kReceiveChunk, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            lastResult = static_cast<int>(n);
            return Loss::Recv;
        }
        lastResult = static_cast<int>(n);
        if (m_DataCallback)
            m_DataCallback(buffer, static_cast<unsigned long>(n));
        if (m_ReadData)
            m_ReadData(buffer, static_cast<int>(n));
    }
    return Loss::None;
}

void TcpClient::ThreadProc(std::stop_token stop)
{
    log("TCP thread has started");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::atoi(m_Port.c_str())));
    bool addressValid = ::inet_pton(AF_INET, m_Ip.c_str(), &addr.sin_addr) == 1;
    if (!addressValid)
        log(format("invalid scanner address \"%s\"", m_Ip.c_str()));

    std::vector<char> buffer(kReceiveChunk);
    while (addressValid && !stop.stop_requested()) {
        platform::UniqueFD fd = connectOnce(addr, stop);
        if (!fd.isValid())
            continue;
        int raw = fd.get();
        publishSocket(std::move(fd));
        OnConnected();
        log("receiving");

        int lastResult = 0;
        int error = 0;
        Loss loss = receive(raw, stop, buffer.data(), lastResult);
        error = errno;
        if (loss == Loss::None)
            break;
        closeSocket();
        OnDisconnected();
        const char* where = loss == Loss::Select ? "select" : "recv";
        if (m_AutoReconnect) {
            log(format("connection is lost in %s, try to reconnect. Error: %d  %s", where, lastResult,
                       errorText(loss == Loss::Recv && lastResult == 0 ? 0 : error).c_str()));
        } else {
            log(format("connection is lost in %s, Exit. Error: %d  %s", where, lastResult,
                       errorText(loss == Loss::Recv && lastResult == 0 ? 0 : error).c_str()));
            break;
        }
    }
    if (!addressValid)
        waitWake(-1);
    closeSocket();
    OnDisconnected();
    log("Exit TCP client thread.");
}

}  // namespace quillan
