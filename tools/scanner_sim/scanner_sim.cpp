#include "tools/scanner_sim/scanner_sim.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/socket_options.h"
#include "platform/unique_fd.h"
#include "platform/worker_thread.h"
#include "tools/scanner_sim/command_log.h"
#include "tools/scanner_sim/container.h"
#include "tools/scanner_sim/free_run.h"
#include "tools/scanner_sim/inbound_tokenizer.h"
#include "tools/scanner_sim/library_local.h"
#include "tools/scanner_sim/lin1dd.h"
#include "tools/scanner_sim/socket_io.h"
#include "tools/scanner_sim/status_blocks.h"

namespace scanner_sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTextFlushDelay = std::chrono::milliseconds(30);
const std::string kStartPacket("\x02\x00\x00\x03\x00\x00\x00\x02", 8);

// What was written last on the connection: a sync container is recognised only after a container.
enum class Sent { Nothing, Lin1dd, Container, Legacy, Raw };

// How one frame (or run of frames) is written.
struct WriteShape {
    const std::vector<size_t>* cuts = nullptr;  // separate writes at these offsets
    bool closeAfter = false;  // shut the connection down afterwards
    int connection = -1;  // only to this connection (-1: the current one)
};

std::string_view withoutCr(std::string_view text)
{
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

struct ScannerSim::Impl {
    explicit Impl(Options o)
        : options(std::move(o)), model(options.device),
          producer(options.counterStart, options.streamFaults, options.profileHistory)
    {
        try {
            linFrame = lin1ddFrame(options.device.geometry, options.lin1ddFault);
            if (options.lin1ddBadCrc)
                linFrame.back() = static_cast<char>(~linFrame.back());
            if (options.legacyFrameType != 0 && options.legacyFrameType != 2 && options.legacyFrameType != 3)
                throw std::invalid_argument("scanner_sim: legacy frame type must be 2 or 3");
        } catch (const std::exception& e) {
            configError = e.what();  // reported by start()
        }
    }

    Options options;

    // Lifecycle; public control calls hold this while they run.
    std::mutex controlMutex;
    platform::WorkerThread worker;  // the server thread; its wake-up also says tasks are queued
    bool running = false;
    std::atomic<uint16_t> boundPort{0};

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
    // Of the current connection; written under writeMutex, read by the server thread's timers.
    std::atomic<Sent> lastSent{Sent::Nothing};
    std::atomic<Clock::rep> lastWrite{0};
    std::atomic<bool> linSentHere{false};
    std::atomic<int> writerConnection{-1};  // the connection clientFd belongs to
    std::atomic<bool> connectionStart{false};  // no profile written on it yet

    // Protocol. The model is shared with callers under modelMutex.
    mutable std::mutex modelMutex;
    SettingsModel model;
    std::string linFrame;  // fixed after construction
    std::string configError;
    std::optional<Clock::time_point> linDue;  // server thread
    std::vector<std::pair<Clock::time_point, std::string>> delayedAnswers;  // server thread

    // Connection faults (server thread).
    std::optional<Clock::time_point> closeDue;
    std::optional<Clock::time_point> silentDue;
    std::optional<Clock::time_point> relistenDue;
    bool faultSilence = false;  // silent was set by a fault option
    std::unique_ptr<CommandLog> commandLog;  // made by start()

    // Profile stream. produceMutex serialises making and writing profiles (before modelMutex,
    // settingsMutex and writeMutex). freeRun exists while the server thread runs.
    mutable std::mutex produceMutex;
    ProfileProducer producer;
    mutable std::mutex settingsMutex;
    mutable std::shared_ptr<const ProfileSettings> settingsCache;
    std::unique_ptr<FreeRunClock> freeRun;

    // Received log.
    mutable std::mutex logMutex;
    mutable std::condition_variable logChanged;
    std::vector<Command> log;
    std::vector<std::string> received;
    int accepts = 0;
    int closes = 0;
    int linSent = 0;
    uint64_t profilesSent = 0;
    bool connected = false;

    void wake() const { worker.wakeUp().signal(); }

    // Runs fn on the server thread (or here when it is not running) and waits for it.
    void runInLoop(std::function<void()> fn)
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

    void runTasks()
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

    bool write(std::string_view bytes, Sent kind, const WriteShape& shape = {})
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

    // The counters of the last profile sent (the start values before any).
    std::string statusContainer()
    {
        ProfileCounters counters;
        {
            std::lock_guard lock(produceMutex);
            counters = producer.LastCounters();
        }
        StatusFields fields;
        {
            std::lock_guard lock(modelMutex);
            fields = model.Status();
        }
        fields.pictureCounter = counters.pictureCounter;
        fields.timeStamp = counters.timeStamp;
        fields.encoderHtl = counters.encoderHtl;
        fields.encoderTtl = counters.encoderTtl;
        return statusOnlyContainer(fields);
    }

    std::shared_ptr<const ProfileSettings> currentSettings() const
    {
        ProfileSettings s;
        {
            std::lock_guard lock(modelMutex);
            s.status = model.Status();
            s.linearized = model.LinearizationMode();
            s.geometry = model.Identity().geometry;
        }
        s.status.encoderHtl = s.status.encoderTtl = 0;  // from the counters
        s.scale = options.linearizedScale;
        s.swappedStrengthWidth = options.swappedStrengthWidth;
        s.shortGeneralBlock = options.shortGeneralBlock;
        s.legacyType = options.legacyFrameType;
        std::lock_guard lock(settingsMutex);
        if (!settingsCache || !(*settingsCache == s))
            settingsCache = std::make_shared<const ProfileSettings>(std::move(s));
        return settingsCache;
    }

    bool streamAllowed() const
    {
        return writerConnection.load() >= 0 && (linSentHere.load() || options.linSend == Options::LinSend::Never);
    }

    // Makes and writes the next `count` profiles; on the server thread or the free-run thread.
    void emitProfiles(int count)
    {
        std::lock_guard lock(produceMutex);
        if (count <= 0 || !streamAllowed())
            return;
        const int connectionId = writerConnection.load();
        const ProfileBatch batch = producer.Build(currentSettings(), count, connectionId, connectionStart.load());
        bool faulty = false;
        for (const SentProfile& p : batch.profiles)
            faulty = faulty || p.fault != ProfileFault::None || p.garbageBefore;
        const WriteShape shape{batch.cuts.empty() ? nullptr : &batch.cuts, batch.closeAfter, connectionId};
        const Sent kind = options.legacyFrameType != 0 ? Sent::Legacy : (faulty ? Sent::Raw : Sent::Container);
        if (!write(batch.bytes, kind, shape))
            return;
        connectionStart = false;
        producer.Commit(batch);
        std::lock_guard logLock(logMutex);
        profilesSent = producer.SentCount();
        logChanged.notify_all();
    }

    static bool softwareLineStart(const StatusFields& f)
    {
        return f.triggerSource == 3 || (f.triggerSource == -1 && f.triggerAmountProfilesY == 3);
    }

    // Follows the model: camerarunning, the trigger source and the line time (server thread).
    void updateStream(bool acquisitionStart)
    {
        const std::shared_ptr<const ProfileSettings> s = currentSettings();
        const StatusFields& f = s->status;
        if (!f.cameraRunning || softwareLineStart(f)) {
            freeRun->Halt();
            return;
        }
        const bool burst = options.frameStartBurst && f.triggerSource == -1;
        const std::chrono::microseconds period(std::max<uint32_t>(f.lineTime, 1));
        if (acquisitionStart || (!burst && !freeRun->Active()))
            freeRun->Start(period, burst ? std::optional<uint64_t>(std::max<uint16_t>(f.amountProfilesY, 1))
                                         : std::nullopt);
        else
            freeRun->Retime(period);
    }

    void answerSync()
    {
        if (lastSent.load() != Sent::Container)  // lets the client synchronise first
            write(statusContainer(), Sent::Container);
        write(syncContainer(), Sent::Container);
    }

    void answerXml()
    {
        std::string frame;
        try {
            std::lock_guard lock(modelMutex);
            frame = xmlContainer(model.DescriptorXml());
        } catch (const std::length_error& e) {
            std::fprintf(stderr, "%s: no answer sent\n", e.what());
            return;
        }
        if (options.xmlReplyDelayMs > 0)
            delayedAnswers.emplace_back(Clock::now() + std::chrono::milliseconds(options.xmlReplyDelayMs),
                                        std::move(frame));
        else
            write(frame, Sent::Container);
    }

    void handleCommand(const Command& command)
    {
        if (command.binary) {
            if (command.bytes == kStartPacket && options.linSend == Options::LinSend::AfterStartPacket)
                linDue = Clock::now() + std::chrono::milliseconds(options.linDelayMs);
            return;
        }
        const std::string_view text = withoutCr(command.bytes);
        if (text == "SetRequestSyncContainer") {
            answerSync();
        } else if (text == "get_xmldescriptor" || (text.size() == 13 && text.starts_with("GetSettings="))) {
            answerXml();
        } else if (text == "SetResetSettings") {
            {
                std::lock_guard lock(modelMutex);
                model.Reset();
            }
            updateStream(false);
        } else if (text == "SetTriggerSoftware") {
            const std::shared_ptr<const ProfileSettings> s = currentSettings();
            if (s->status.cameraRunning && softwareLineStart(s->status))
                emitProfiles(1);
        } else if (text.starts_with("Set")) {
            {
                std::lock_guard lock(modelMutex);
                model.Apply(text);
            }
            if (text == "SetResetEncoder") {
                std::lock_guard lock(produceMutex);
                producer.ResetEncoders();
            }
            updateStream(text == "SetAcquisitionStart");
        }
    }

    std::optional<Clock::time_point> idleDue() const
    {
        if (options.idlePeriodMs <= 0 || !clientFd.isValid() || (freeRun && freeRun->Active()) ||
            lastSent.load() == Sent::Legacy ||
            (!linSentHere.load() && options.linSend != Options::LinSend::Never))
            return std::nullopt;
        return Clock::time_point(Clock::duration(lastWrite.load())) + std::chrono::milliseconds(options.idlePeriodMs);
    }

    void acceptClient()
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

    void armConnectionFaults()
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

    void goSilent()
    {
        silent = true;
        faultSilence = true;
    }

    void relisten()
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

    void record(Token token)
    {
        Command command{connection, token.binary, std::move(token.bytes)};
        if (options.onCommand)
            options.onCommand(command);
        handleCommand(command);
        if (!options.closeOnCommand.empty() && command.bytes == options.closeOnCommand)
            closeDue = Clock::now();  // after the bytes already read are taken in
        if (!options.silentOnCommand.empty() && command.bytes == options.silentOnCommand)
            goSilent();
        if (commandLog)
            commandLog->Write(command);
        // Logged last, so a caller that waited for the command sees its effects.
        std::lock_guard lock(logMutex);
        log.push_back(std::move(command));
        logChanged.notify_all();
    }

    void consume(std::string_view bytes)
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

    std::optional<Clock::time_point> nextDeadline() const
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

    int pollTimeoutMs() const
    {
        const auto next = nextDeadline();
        if (!next)
            return 1000;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
        return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
    }

    void runTimers()
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

    void loop(const std::stop_token& stop)
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

    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) const
    {
        std::unique_lock lock(logMutex);
        return logChanged.wait_for(lock, timeout, done);
    }
};

ScannerSim::ScannerSim(Options options) : m_Impl(std::make_unique<Impl>(std::move(options))) {}

ScannerSim::~ScannerSim() { Stop(); }

void ScannerSim::Start()
{
    Impl& d = *m_Impl;
    std::lock_guard control(d.controlMutex);
    if (d.running)
        throw std::runtime_error("scanner_sim: already started");
    if (!d.configError.empty())
        throw std::runtime_error(d.configError);
    const uint16_t wanted = d.boundPort.load() != 0 ? d.boundPort.load() : d.options.port;
    if (!d.options.logPath.empty() && !d.commandLog)
        d.commandLog = std::make_unique<CommandLog>(d.options.logPath);  // a restart goes on with it
    platform::UniqueFD listener = openListener(d.options.bindAddress, wanted);
    if (!d.worker.wakeUp().isValid())
        throw std::runtime_error("scanner_sim: no eventfd for the server thread");
    d.boundPort = localPort(listener.get());
    d.listenFd = std::move(listener);
    d.stopping = false;
    d.running = true;  // before the thread reads it
    try {
        d.freeRun = std::make_unique<FreeRunClock>([&d](int count) { d.emitProfiles(count); }, d.options.minLinePeriod);
        d.updateStream(false);  // a restart keeps streaming when the model says so
        d.worker.start([&d](std::stop_token stop) { d.loop(stop); });
    } catch (const std::system_error& e) {
        d.freeRun.reset();
        d.running = false;
        throw std::runtime_error(std::string("scanner_sim: thread: ") + e.what());
    }
}

void ScannerSim::Stop()
{
    Impl& d = *m_Impl;
    std::lock_guard control(d.controlMutex);
    if (!d.running)
        return;
    d.stopping = true;
    d.worker.stop();
    d.freeRun.reset();  // after the server thread, which drives it
    d.listenFd.reset();
    d.running = false;
}

uint16_t ScannerSim::Port() const { return m_Impl->boundPort.load(); }

std::vector<Command> ScannerSim::Commands() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->log;
}

std::string ScannerSim::ReceivedBytes(int connection) const
{
    std::lock_guard lock(m_Impl->logMutex);
    if (connection < 0 || static_cast<size_t>(connection) >= m_Impl->received.size())
        return {};
    return m_Impl->received[static_cast<size_t>(connection)];
}

bool ScannerSim::WaitForCommand(const std::string& bytes, std::chrono::milliseconds timeout, int minCount)
{
    return m_Impl->waitFor(timeout, [&] {
        int count = 0;
        for (const Command& c : m_Impl->log)
            count += (c.bytes == bytes) ? 1 : 0;
        return count >= minCount;
    });
}

int ScannerSim::AcceptCount() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->accepts;
}

bool ScannerSim::WaitForAccepts(int count, std::chrono::milliseconds timeout)
{
    return m_Impl->waitFor(timeout, [&] { return m_Impl->accepts >= count; });
}

int ScannerSim::CloseCount() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->closes;
}

bool ScannerSim::ClientConnected() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->connected;
}

bool ScannerSim::WaitForClientClosed(std::chrono::milliseconds timeout)
{
    return m_Impl->waitFor(timeout, [&] { return !m_Impl->connected; });
}

void ScannerSim::CloseClient()
{
    m_Impl->runInLoop([this] { m_Impl->dropClient(); });
}

void ScannerSim::SetSilent(bool silent) { m_Impl->silent = silent; }

void ScannerSim::SetRefusing(bool refusing)
{
    m_Impl->runInLoop([this, refusing] {
        Impl& d = *m_Impl;
        if (!d.running)  // start() always listens
            return;
        d.relistenDue.reset();
        if (refusing)
            d.listenFd.reset();
        else if (!d.listenFd.isValid() && d.boundPort.load() != 0)
            d.listenFd = openListener(d.options.bindAddress, d.boundPort.load());
    });
}

bool ScannerSim::SendRaw(const std::string& bytes) { return m_Impl->write(bytes, Sent::Raw); }

bool ScannerSim::SendLin1dd()
{
    return !m_Impl->linFrame.empty() && m_Impl->write(m_Impl->linFrame, Sent::Lin1dd);
}

int ScannerSim::Lin1ddSentCount() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->linSent;
}

bool ScannerSim::WaitForLin1ddSent(int count, std::chrono::milliseconds timeout)
{
    return m_Impl->waitFor(timeout, [&] { return m_Impl->linSent >= count; });
}

std::string ScannerSim::ModelValue(const std::string& path) const
{
    std::lock_guard lock(m_Impl->modelMutex);
    return m_Impl->model.Value(path);
}

void ScannerSim::SetModelValue(const std::string& path, const std::string& value)
{
    std::lock_guard lock(m_Impl->modelMutex);
    m_Impl->model.Set(path, value);
}

void ScannerSim::RemoveModelKey(const std::string& path)
{
    std::lock_guard lock(m_Impl->modelMutex);
    m_Impl->model.Remove(path);
}

std::string ScannerSim::DescriptorXml() const
{
    std::lock_guard lock(m_Impl->modelMutex);
    return m_Impl->model.DescriptorXml();
}

std::vector<Command> ScannerSim::LibraryLocalCommands() const
{
    std::vector<Command> out;
    for (const Command& c : Commands())
        if (!c.binary && isLibraryLocalCommand(c.bytes))
            out.push_back(c);
    return out;
}

uint64_t ScannerSim::ProfilesSent() const
{
    std::lock_guard lock(m_Impl->logMutex);
    return m_Impl->profilesSent;
}

bool ScannerSim::WaitForProfilesSent(uint64_t count, std::chrono::milliseconds timeout)
{
    return m_Impl->waitFor(timeout, [&] { return m_Impl->profilesSent >= count; });
}

std::optional<SentProfile> ScannerSim::ProfileAt(uint64_t index) const
{
    std::lock_guard lock(m_Impl->produceMutex);
    return m_Impl->producer.Sent(index);
}

std::shared_ptr<const ProfileSettings> ScannerSim::NextProfileSettings() const { return m_Impl->currentSettings(); }

ProfileCounters ScannerSim::NextProfileCounters() const
{
    std::lock_guard lock(m_Impl->produceMutex);
    return m_Impl->producer.NextCounters();
}

bool ScannerSim::Streaming() const
{
    bool active = false;
    m_Impl->runInLoop([this, &active] { active = m_Impl->freeRun && m_Impl->freeRun->Active(); });
    return active;
}

void ScannerSim::SetStreamFaults(StreamFaults faults)
{
    std::lock_guard lock(m_Impl->produceMutex);
    m_Impl->producer.SetFaults(std::move(faults));
}

StreamFaults ScannerSim::ActiveStreamFaults() const
{
    std::lock_guard lock(m_Impl->produceMutex);
    return m_Impl->producer.Faults();
}

}  // namespace scanner_sim
