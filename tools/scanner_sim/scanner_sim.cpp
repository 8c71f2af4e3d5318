#include "tools/scanner_sim/scanner_sim.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/system_error.h"
#include "platform/unique_fd.h"
#include "tools/scanner_sim/inbound_tokenizer.h"
#include "tools/scanner_sim/socket_io.h"

namespace scanner_sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTextFlushDelay = std::chrono::milliseconds(30);

}  // namespace

struct ScannerSim::Impl {
    explicit Impl(Options o) : options(std::move(o)) {}

    Options options;

    // Lifecycle; public control calls hold this while they run.
    std::mutex controlMutex;
    std::jthread thread;
    std::atomic<std::thread::id> serverThreadId{};
    bool running = false;
    std::atomic<uint16_t> boundPort{0};
    platform::UniqueFD wakeFd;

    // Owned by the server thread (or by the caller while the thread is not running).
    platform::UniqueFD listenFd;
    InboundTokenizer tokenizer;
    Clock::time_point lastByte{};
    int connection = -1;

    // Work the server thread runs for control calls.
    std::mutex taskMutex;
    std::deque<std::packaged_task<void()>> tasks;

    // The one outbound writer. clientFd changes only on the server thread, under writeMutex.
    std::mutex writeMutex;
    platform::UniqueFD clientFd;
    std::atomic<bool> silent{false};
    std::atomic<bool> stopping{false};

    // Received log.
    mutable std::mutex logMutex;
    mutable std::condition_variable logChanged;
    std::vector<Command> log;
    std::vector<std::string> received;
    int accepts = 0;
    int closes = 0;
    bool connected = false;

    void wake() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd.get(), &one, sizeof one);
    }

    // Runs fn on the server thread (or here when it is not running) and waits for it.
    void runInLoop(std::function<void()> fn)
    {
        if (std::this_thread::get_id() == serverThreadId.load()) {  // from onCommand
            fn();
            return;
        }
        std::lock_guard control(controlMutex);
        if (!running) {
            fn();
            return;
        }
        std::packaged_task<void()> task(std::move(fn));
        auto done = task.get_future();
        {
            std::lock_guard lock(taskMutex);
            tasks.push_back(std::move(task));
        }
        wake();
        done.get();
    }

    void runTasks()
    {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd.get(), &count, sizeof count);
        for (;;) {
            std::packaged_task<void()> task;
            {
                std::lock_guard lock(taskMutex);
                if (tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    bool write(std::string_view bytes, bool raw)
    {
        std::lock_guard lock(writeMutex);
        if (!clientFd.isValid() || (silent.load() && !raw))
            return false;
        return sendAll(clientFd.get(), bytes, WritePacing{options.chunkSize, options.chunkPause}, stopping);
    }

    void acceptClient()
    {
        platform::UniqueFD fd(::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!fd.isValid())
            return;  // the peer gave up meanwhile, or EINTR: poll again
        const int one = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        tokenizer.reset();
        {
            std::lock_guard lock(writeMutex);
            clientFd = std::move(fd);
        }
        std::lock_guard lock(logMutex);
        connection = accepts++;
        received.emplace_back();
        connected = true;
        logChanged.notify_all();
    }

    // Closes the connection after taking in the bytes that had already arrived.
    void dropClient()
    {
        if (!clientFd.isValid())
            return;
        char buffer[4096];
        for (int i = 0; i < 256; ++i) {  // bounded: a peer that keeps writing does not hold us here
            const ssize_t n = ::recv(clientFd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                break;
            consume(std::string_view(buffer, static_cast<size_t>(n)));
        }
        if (auto rest = tokenizer.flushText())
            record(std::move(*rest));
        {
            std::lock_guard lock(writeMutex);
            ::shutdown(clientFd.get(), SHUT_RDWR);
            clientFd.reset();
        }
        std::lock_guard lock(logMutex);
        ++closes;
        connected = false;
        logChanged.notify_all();
    }

    void record(Token token)
    {
        Command command{connection, token.binary, std::move(token.bytes)};
        {
            std::lock_guard lock(logMutex);
            log.push_back(command);
            logChanged.notify_all();
        }
        if (options.onCommand)
            options.onCommand(command);
    }

    void consume(std::string_view bytes)
    {
        {
            std::lock_guard lock(logMutex);
            received[static_cast<size_t>(connection)].append(bytes);
        }
        lastByte = Clock::now();
        std::vector<Token> tokens;
        tokenizer.feed(bytes, tokens);
        for (Token& token : tokens)
            record(std::move(token));
    }

    // Reads what is there; false when the connection has ended.
    bool readClient(char* buffer, size_t size)
    {
        const ssize_t n = ::recv(clientFd.get(), buffer, size, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n <= 0)
            return false;
        consume(std::string_view(buffer, static_cast<size_t>(n)));
        return true;
    }

    int pollTimeoutMs() const
    {
        if (!tokenizer.hasPendingText())
            return 1000;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastByte + kTextFlushDelay - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }

    void runTimers()
    {
        if (tokenizer.hasPendingText() && Clock::now() - lastByte >= kTextFlushDelay) {
            if (auto text = tokenizer.flushText())
                record(std::move(*text));
        }
    }

    void loop(const std::stop_token& stop)
    {
        std::vector<char> buffer(65536);
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{wakeFd.get(), POLLIN, 0}, {-1, POLLIN, 0}};
            const int polledClient = clientFd.get();
            if (polledClient >= 0)
                fds[1].fd = polledClient;
            else if (listenFd.isValid())
                fds[1].fd = listenFd.get();
            if (::poll(fds, 2, pollTimeoutMs()) < 0 && errno != EINTR)
                break;
            if (fds[0].revents != 0)
                runTasks();
            if (fds[1].fd >= 0 && fds[1].revents != 0) {
                if (polledClient >= 0) {
                    if (clientFd.get() == polledClient && !readClient(buffer.data(), buffer.size()))
                        dropClient();
                } else if (listenFd.isValid() && listenFd.get() == fds[1].fd) {
                    acceptClient();
                }
            }
            runTimers();
        }
        dropClient();
    }

    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) const
    {
        std::unique_lock lock(logMutex);
        return logChanged.wait_for(lock, timeout, done);
    }
};

ScannerSim::ScannerSim(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ScannerSim::~ScannerSim() { stop(); }

void ScannerSim::start()
{
    Impl& d = *impl_;
    std::lock_guard control(d.controlMutex);
    if (d.running)
        throw std::runtime_error("scanner_sim: already started");
    const uint16_t wanted = d.boundPort.load() != 0 ? d.boundPort.load() : d.options.port;
    platform::UniqueFD listener = openListener(d.options.bindAddress, wanted);
    platform::UniqueFD wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.isValid())
        throw std::runtime_error(std::string("scanner_sim: eventfd: ") + platform::systemErrorText(errno));
    d.boundPort = localPort(listener.get());
    d.listenFd = std::move(listener);
    d.wakeFd = std::move(wake);
    d.stopping = false;
    d.running = true;  // before the thread reads it
    try {
        d.thread = std::jthread([&d](std::stop_token stop) { d.loop(stop); });
    } catch (const std::system_error& e) {
        d.running = false;
        throw std::runtime_error(std::string("scanner_sim: thread: ") + e.what());
    }
    d.serverThreadId = d.thread.get_id();
}

void ScannerSim::stop()
{
    Impl& d = *impl_;
    std::lock_guard control(d.controlMutex);
    if (!d.running)
        return;
    d.stopping = true;
    d.thread.request_stop();
    d.wake();
    d.thread.join();
    d.serverThreadId = std::thread::id{};
    d.listenFd.reset();
    d.wakeFd.reset();
    d.running = false;
}

uint16_t ScannerSim::port() const { return impl_->boundPort.load(); }

std::vector<Command> ScannerSim::commands() const
{
    std::lock_guard lock(impl_->logMutex);
    return impl_->log;
}

std::string ScannerSim::receivedBytes(int connection) const
{
    std::lock_guard lock(impl_->logMutex);
    if (connection < 0 || static_cast<size_t>(connection) >= impl_->received.size())
        return {};
    return impl_->received[static_cast<size_t>(connection)];
}

bool ScannerSim::waitForCommand(const std::string& bytes, std::chrono::milliseconds timeout, int minCount)
{
    return impl_->waitFor(timeout, [&] {
        int count = 0;
        for (const Command& c : impl_->log)
            count += (c.bytes == bytes) ? 1 : 0;
        return count >= minCount;
    });
}

int ScannerSim::acceptCount() const
{
    std::lock_guard lock(impl_->logMutex);
    return impl_->accepts;
}

bool ScannerSim::waitForAccepts(int count, std::chrono::milliseconds timeout)
{
    return impl_->waitFor(timeout, [&] { return impl_->accepts >= count; });
}

int ScannerSim::closeCount() const
{
    std::lock_guard lock(impl_->logMutex);
    return impl_->closes;
}

bool ScannerSim::clientConnected() const
{
    std::lock_guard lock(impl_->logMutex);
    return impl_->connected;
}

bool ScannerSim::waitForClientClosed(std::chrono::milliseconds timeout)
{
    return impl_->waitFor(timeout, [&] { return !impl_->connected; });
}

void ScannerSim::closeClient()
{
    impl_->runInLoop([this] { impl_->dropClient(); });
}

void ScannerSim::setSilent(bool silent) { impl_->silent = silent; }

void ScannerSim::setRefusing(bool refusing)
{
    impl_->runInLoop([this, refusing] {
        Impl& d = *impl_;
        if (!d.running)  // start() always listens
            return;
        if (refusing)
            d.listenFd.reset();
        else if (!d.listenFd.isValid() && d.boundPort.load() != 0)
            d.listenFd = openListener(d.options.bindAddress, d.boundPort.load());
    });
}

bool ScannerSim::sendRaw(const std::string& bytes) { return impl_->write(bytes, true); }

}  // namespace scanner_sim
