// Control privilege (CCP), the primary application and the heartbeat.
#include "server/control_protocol.h"

#include "model/bootstrap_registers.h"

#include <chrono>

namespace Kivu {

namespace {

constexpr uint32_t kMinHeartbeatMs = 500;
constexpr uint16_t kSwitchoverEventId = 0x0007;

enum class Mode { None, Exclusive, Control, Switchover, Invalid };

Mode modeOf(uint32_t ccp)
{
    const uint32_t bits = ccp & 7;
    if (bits & 1)
        return Mode::Exclusive;
    if ((bits & 6) == 6)
        return Mode::Switchover;
    if (bits & 2)
        return Mode::Control;
    if (bits & 4)
        return Mode::Invalid;
    return Mode::None;
}

}  // namespace

bool ControlProtocol::RequesterIsPrimary()
{
    const uint32_t ip = m_SourceIp->GetValue();
    const uint32_t port = m_SourcePort->GetValue();
    return (ip != 0 || port != 0) && ip == m_PrimaryIp->GetValue() && port == m_PrimaryPort->GetValue();
}

bool ControlProtocol::CheckPrivilege(uint32_t address, bool isRead)
{
    const Mode mode = modeOf(m_Ccp->GetValue());
    if (isRead)
        return mode != Mode::Exclusive || RequesterIsPrimary();
    switch (mode) {
    case Mode::None: return address == Bootstrap::kControlChannelPrivilege;
    case Mode::Control:
    case Mode::Exclusive: return RequesterIsPrimary();
    case Mode::Switchover: return address == Bootstrap::kControlChannelPrivilege || RequesterIsPrimary();
    case Mode::Invalid: return false;
    }
    return false;
}

// A client that does not hold control writes CCP in switchover mode: the upper
// half must carry the switchover key. Everyone else passes.
bool ControlProtocol::switchoverKeyMatches(uint32_t written)
{
    if (modeOf(m_Ccp->GetValue()) != Mode::Switchover || RequesterIsPrimary())
        return true;
    return carriesSwitchoverKey(written);
}

// The whole key register, so a key wider than 16 bits matches no write.
bool ControlProtocol::carriesSwitchoverKey(uint32_t written)
{
    return (written >> 16) == m_SwitchoverKey->GetValue();
}

void ControlProtocol::OnPrimaryRequest()
{
    if (!RequesterIsPrimary())
        return;
    if (!m_Stopping.load() && !m_Connected.exchange(true))
        notifyConnection(true);
    {
        std::lock_guard lock(m_HeartbeatMutex);
        m_HeartbeatSignal = true;
    }
    m_HeartbeatCv.notify_all();
}

void ControlProtocol::notifyConnection(bool connected)
{
    void* context;
    ClientConnectionCallback fn;
    {
        std::lock_guard lock(m_CallbackMutex);
        context = m_ConnectionContext;
        fn = m_Connection;
    }
    if (fn != nullptr && !m_Stopping.load())
        fn(context, connected);
}

void ControlProtocol::makeRequesterPrimary()
{
    m_PrimaryIp->SetValue(m_SourceIp->GetValue());
    m_PrimaryPort->SetValue(m_SourcePort->GetValue());
    // The new owner's heartbeat period starts now, not with an older wait.
    {
        std::lock_guard lock(m_HeartbeatMutex);
        m_HeartbeatSignal = true;
    }
    m_HeartbeatCv.notify_all();
}

bool ControlProtocol::OnCcpWrite(UIntReg* reg)
{
    const uint32_t origin = reg->GetRequester();
    const uint32_t written = reg->GetValue();  // already stored; nested, so no callbacks
    const uint32_t bits = written & 7;         // the switchover key is write-only
    const bool client = origin == Origin::Remote;
    const Mode oldMode = modeOf(m_CcpShadow.load());
    const Mode newMode = modeOf(bits);

    // Switchover without control cannot be left by anyone's write but the host's clear: refuse it.
    if (newMode == Mode::Invalid)
        return false;

    auto accept = [&] {
        if (written != bits)
            reg->SetValue(bits);
        m_CcpShadow.store(bits);
        return true;
    };

    switch (oldMode) {
    case Mode::None:
        if (client && (bits & 3) != 0)
            makeRequesterPrimary();
        return accept();
    case Mode::Control:
    case Mode::Switchover:
    case Mode::Exclusive:
        if (!client || RequesterIsPrimary()) {
            if (newMode == Mode::None)
                ResetOnRelease();
            return accept();
        }
        if (oldMode == Mode::Switchover && carriesSwitchoverKey(written)) {
            reg->SetValue(bits);
            EventEmitter::Event event;
            event.kind = EventEmitter::OneEvent;
            event.eventId = kSwitchoverEventId;
            event.channel = 0xFFFF;
            event.count = 1;
            event.flag = 0;
            m_Events->Post(event);
            ResetOnRelease();
            if ((bits & 3) != 0)
                makeRequesterPrimary();
            return accept();
        }
        reg->SetStatus(GevStatus::AccessDenied);
        return false;
    case Mode::Invalid:
        // Stored by an older writer: internal and local clears still leave it.
        if (!client && newMode == Mode::None)
            return accept();
        return false;
    }
    return false;
}

void ControlProtocol::ResetOnRelease()
{
    m_AcquisitionStop->SetValue(0xFFFFFFFF);
    m_Scp0->SetValue(0);
    m_Scda0->SetValue(0);
    const uint32_t channels = m_StreamChannels->GetValue();
    for (uint32_t i = 1; i < channels && i < 512; ++i) {
        m_Tree->WriteRegister(Bootstrap::StreamChannel(Bootstrap::kStreamChannelPort0, i), 0, Origin::Remote);
        m_Tree->WriteRegister(Bootstrap::StreamChannel(Bootstrap::kStreamChannelDestinationAddress0, i), 0,
                              Origin::Remote);
    }
    m_Mcp->SetValue(0);
    m_Mcda->SetValue(0);
    m_PrimaryIp->SetValue(0);
    m_PrimaryPort->SetValue(0);
}

bool ControlProtocol::OnHeartbeatTimeoutWrite(UIntReg* reg)
{
    if (reg->GetValue() < kMinHeartbeatMs)
        return false;
    {
        std::lock_guard lock(m_HeartbeatMutex);
        m_HeartbeatSignal = true;
    }
    m_HeartbeatCv.notify_all();
    return true;
}

void ControlProtocol::HeartbeatThread(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        const uint32_t timeoutMs = m_HeartbeatTimeout->GetValue();
        {
            std::unique_lock lock(m_HeartbeatMutex);
            const bool signalled = m_HeartbeatCv.wait_for(lock, stop, std::chrono::milliseconds(timeoutMs),
                                                          [&] { return m_HeartbeatSignal; });
            if (signalled) {
                m_HeartbeatSignal = false;  // auto reset
                continue;
            }
        }
        if (stop.stop_requested() || m_Stopping.load())
            break;
        if (m_Connected.exchange(false))
            notifyConnection(false);
        if (m_Ccp->GetValue() != 0)
            m_Ccp->SetValue(0);
    }
}

}  // namespace Kivu
