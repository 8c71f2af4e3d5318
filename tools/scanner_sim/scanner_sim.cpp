#include "scanner_sim/scanner_sim.h"

#include <stdexcept>
#include <system_error>

#include "scanner_sim/library_local.h"
#include "scanner_sim/lin1dd.h"
#include "scanner_sim/scanner_sim_impl.h"
#include "scanner_sim/socket_io.h"

namespace scanner_sim {

ScannerSim::Impl::Impl(Options o)
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

bool ScannerSim::Impl::waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) const
{
    std::unique_lock lock(logMutex);
    return logChanged.wait_for(lock, timeout, done);
}

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
    if (!d.options.profileLogPath.empty() && !d.profileLog)
        d.profileLog = std::make_unique<ProfileLog>(d.options.profileLogPath);
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

uint64_t ScannerSim::SpoilNextProfile(NextProfileFault fault, uint16_t gapSize)
{
    std::lock_guard lock(m_Impl->produceMutex);
    ProfileProducer& producer = m_Impl->producer;
    const uint64_t index = producer.NextCounters().index;
    StreamFaults faults = producer.Faults();
    switch (fault) {
    case NextProfileFault::Gap:
        faults.counterGap.push_back(index);
        faults.gapSize = gapSize;
        break;
    case NextProfileFault::Repeat: faults.counterRepeat.push_back(index); break;
    case NextProfileFault::Flip: faults.flipByte.push_back(index); break;
    }
    producer.SetFaults(std::move(faults));
    return index;
}

StreamFaults ScannerSim::ActiveStreamFaults() const
{
    std::lock_guard lock(m_Impl->produceMutex);
    return m_Impl->producer.Faults();
}

}  // namespace scanner_sim
