// The server thread's loop: accepts, reads and writes the connection, runs the
// tasks of control calls and the timers of delayed answers and faults.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/socket_options.h"
#include "scanner_sim/container.h"
#include "scanner_sim/scanner_sim_impl.h"
#include "scanner_sim/socket_io.h"

namespace scanner_sim {
namespace {

constexpr auto kTextFlushDelay = std::chrono::milliseconds(30);

}  // namespace

void ScannerSim::Impl::runInLoop(std::function<void()> fn)
{
    if (worker.onThread()) {  // from onCommand
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

void ScannerSim::Impl::runTasks()
{
    worker.wakeUp().clear();
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

bool ScannerSim::Impl::write(std::string_view bytes, Sent kind, const WriteShape& shape)
{
    {
        std::lock_guard lock(writeMutex);
        if (!clientFd.isValid() || (silent.load() && kind != Sent::Raw) || stopping.load() ||
            (shape.connection >= 0 && shape.connection != writerConnection.load()))
            return false;
        const WritePacing pacing{options.chunkSize, options.chunkPause};
        size_t from = 0;
        const size_t pieces = shape.cuts ? shape.cuts->size() : 0;
        for (size_t i = 0; i <= pieces; ++i) {
            const size_t to = i < pieces ? (*shape.cuts)[i] : bytes.size();
            if (i > 0)
                std::this_thread::sleep_for(options.chunkPause);
            if (!sendAll(clientFd.get(), bytes.substr(from, to - from), pacing, stopping))
                return false;
            from = to;
        }
        if (shape.closeAfter)
            ::shutdown(clientFd.get(), SHUT_RDWR);  // the server thread sees the end and drops it
        lastSent = kind;
        lastWrite = Clock::now().time_since_epoch().count();
        if (kind == Sent::Lin1dd)
            linSentHere = true;
    }
    if (kind == Sent::Lin1dd) {
        std::lock_guard lock(logMutex);
        ++linSent;
        logChanged.notify_all();
    }
    return true;
}

std::optional<Clock::time_point> ScannerSim::Impl::idleDue() const
{
    if (options.idlePeriodMs <= 0 || !clientFd.isValid() || (freeRun && freeRun->Active()) ||
        lastSent.load() == Sent::Legacy ||
        (!linSentHere.load() && options.linSend != Options::LinSend::Never))
        return std::nullopt;
    return Clock::time_point(Clock::duration(lastWrite.load())) + std::chrono::milliseconds(options.idlePeriodMs);
}

void ScannerSim::Impl::acceptClient()
{
    platform::UniqueFD fd(::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.isValid())
        return;  // the peer gave up meanwhile, or EINTR: poll again
    platform::setIntOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);
    tokenizer.Reset();
    int id = 0;
    {
        std::lock_guard lock(logMutex);
        id = accepts;
    }
    {
        std::lock_guard lock(writeMutex);
        clientFd = std::move(fd);
        writerConnection = id;
        connectionStart = true;
        lastSent = Sent::Nothing;
        lastWrite = Clock::now().time_since_epoch().count();
        linSentHere = false;
    }
    delayedAnswers.clear();
    linDue.reset();
    armConnectionFaults();
    if (options.linSend == Options::LinSend::OnAccept)
        linDue = Clock::now() + std::chrono::milliseconds(options.linDelayMs);
    std::lock_guard lock(logMutex);
    connection = accepts++;
    received.emplace_back();
    connected = true;
    logChanged.notify_all();
}

void ScannerSim::Impl::armConnectionFaults()
{
    const auto now = Clock::now();
    closeDue.reset();
    silentDue.reset();
    if (options.closeAfterMs > 0)
        closeDue = now + std::chrono::milliseconds(options.closeAfterMs);
    if (options.silentAfterMs > 0)
        silentDue = now + std::chrono::milliseconds(options.silentAfterMs);
    if (faultSilence) {
        faultSilence = false;
        silent = false;
    }
}

void ScannerSim::Impl::goSilent()
{
    silent = true;
    faultSilence = true;
}

void ScannerSim::Impl::relisten()
{
    relistenDue.reset();
    if (listenFd.isValid() || boundPort.load() == 0)
        return;
    try {
        listenFd = openListener(options.bindAddress, boundPort.load());
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s: trying again\n", e.what());
        relistenDue = Clock::now() + std::chrono::milliseconds(100);
    }
}

void ScannerSim::Impl::dropClient()
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
    if (auto rest = tokenizer.FlushText())
        record(std::move(*rest));
    {
        std::lock_guard lock(writeMutex);
        ::shutdown(clientFd.get(), SHUT_RDWR);
        clientFd.reset();
        writerConnection = -1;
    }
    closeDue.reset();
    silentDue.reset();
    if (options.refuseAfterCloseMs > 0 && !stopping.load() && listenFd.isValid()) {
        listenFd.reset();
        relistenDue = Clock::now() + std::chrono::milliseconds(options.refuseAfterCloseMs);
    }
    std::lock_guard lock(logMutex);
    ++closes;
    connected = false;
    logChanged.notify_all();
}

void ScannerSim::Impl::consume(std::string_view bytes)
{
    {
        std::lock_guard lock(logMutex);
        received[static_cast<size_t>(connection)].append(bytes);
    }
    lastByte = Clock::now();
    std::vector<Token> tokens;
    tokenizer.Feed(bytes, tokens);
    for (Token& token : tokens)
        record(std::move(token));
}

bool ScannerSim::Impl::readClient(char* buffer, size_t size)
{
    const ssize_t n = ::recv(clientFd.get(), buffer, size, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return true;
    if (n <= 0)
        return false;
    consume(std::string_view(buffer, static_cast<size_t>(n)));
    return true;
}

std::optional<Clock::time_point> ScannerSim::Impl::nextDeadline() const
{
    std::optional<Clock::time_point> next;
    const auto consider = [&next](std::optional<Clock::time_point> t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (tokenizer.HasPendingText())
        consider(lastByte + kTextFlushDelay);
    consider(linDue);
    consider(closeDue);
    consider(silentDue);
    consider(relistenDue);
    for (const auto& answer : delayedAnswers)
        consider(answer.first);
    consider(idleDue());
    return next;
}

int ScannerSim::Impl::pollTimeoutMs() const
{
    const auto next = nextDeadline();
    if (!next)
        return 1000;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
}

void ScannerSim::Impl::runTimers()
{
    const auto now = Clock::now();
    if (tokenizer.HasPendingText() && now - lastByte >= kTextFlushDelay) {
        if (auto text = tokenizer.FlushText())
            record(std::move(*text));
    }
    if (linDue && now >= *linDue) {
        linDue.reset();
        if (options.xmlBeforeLin1dd) {
            try {
                std::string xml;
                {
                    std::lock_guard lock(modelMutex);
                    xml = xmlContainer(model.DescriptorXml());
                }
                write(xml, Sent::Container);
            } catch (const std::length_error& e) {
                std::fprintf(stderr, "%s: no descriptor before LIN1DD\n", e.what());
            }
        }
        write(linFrame, Sent::Lin1dd);
    }
    if (silentDue && now >= *silentDue) {
        silentDue.reset();
        goSilent();
    }
    if (closeDue && now >= *closeDue) {
        closeDue.reset();
        dropClient();
    }
    if (relistenDue && now >= *relistenDue)
        relisten();
    for (size_t i = 0; i < delayedAnswers.size();) {
        if (now >= delayedAnswers[i].first) {
            write(delayedAnswers[i].second, Sent::Container);
            delayedAnswers.erase(delayedAnswers.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (const auto idle = idleDue(); idle && now >= *idle && !write(statusContainer(), Sent::Container))
        lastWrite = now.time_since_epoch().count();  // silent or failed: try again a period later
}

void ScannerSim::Impl::loop(const std::stop_token& stop)
{
    std::vector<char> buffer(65536);
    while (!stop.stop_requested()) {
        pollfd polled{-1, POLLIN, 0};
        const int polledClient = clientFd.get();
        if (polledClient >= 0)
            polled.fd = polledClient;
        else if (listenFd.isValid())
            polled.fd = listenFd.get();
        const platform::PollResult result = worker.wakeUp().wait(std::span(&polled, 1), pollTimeoutMs());
        if (result == platform::PollResult::Failed)
            break;
        if (result == platform::PollResult::Woken)
            runTasks();
        if (polled.fd >= 0 && polled.revents != 0) {
            if (polledClient >= 0) {
                if (clientFd.get() == polledClient && !readClient(buffer.data(), buffer.size()))
                    dropClient();
            } else if (listenFd.isValid() && listenFd.get() == polled.fd) {
                acceptClient();
            }
        }
        runTimers();
    }
    dropClient();
}

}  // namespace scanner_sim
