// PACKETRESEND, ACTION and FORCEIP, and the IP configuration worker.
#include "server/control_protocol.h"

#include "model/resend_request.h"
#include "server/ip_address_rules.h"

#include "platform/debug_output.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace Kivu {

namespace {

__extension__ typedef unsigned __int128 Wide;

// Ticks at frequency hz to nanoseconds, saturating.
uint64_t ticksToNs(uint64_t ticks, uint64_t hz)
{
    const Wide ns = Wide(ticks) * 1000000000u / hz;
    return ns > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(ns);
}


}  // namespace

void ControlProtocol::HandlePacketResend(const Gvcp::Request& r)
{
    const uint32_t mode = m_GevMode.load();
    if (mode > 1)
        throw std::runtime_error("Error: unknown gev mode!");
    const bool extended = mode == 1 && (r.header.flags & Gvcp::Flag::ExtendedId) != 0;
    const auto p = Gvcp::DecodePacketResend(r, extended);
    if (!p || (m_Ccp->GetValue() & 7) == 0 || p->blockId == 0 || p->firstPacket > p->lastPacket)
        return;
    m_Resend->Post(PackResendRequest(ResendRange{p->blockId, p->firstPacket, p->lastPacket}));
}

void ControlProtocol::HandleActionCommand(const Datagram& request, const Gvcp::Request& r)
{
    const auto a = Gvcp::DecodeAction(r);
    if (!a)
        return;
    ActionCommandInfo info{a->deviceKey, a->groupKey, a->groupMask, 0};
    void* context;
    ActionCallback fn;
    {
        std::lock_guard lock(m_CallbackMutex);
        context = a->scheduled ? m_ScheduledContext : m_ActionContext;
        fn = a->scheduled ? m_Scheduled : m_Action;
    }
    if (a->scheduled) {
        const uint64_t hz = (uint64_t(m_TickHigh->GetValue()) << 32) | m_TickLow->GetValue();
        if (hz == 0)
            return;  // no time base to schedule against
        info.actionTimeNs = ticksToNs(a->actionTime, hz);
    }
    if (fn == nullptr || !fn(context, &info) || !r.AckRequested())
        return;
    const size_t n = Gvcp::BuildActionAck(m_Answer->data, r.header.requestId);
    m_Answer->address = request.address;
    m_Answer->port = request.port;
    m_Answer->length = static_cast<uint16_t>(n);
    m_Endpoint.Send(*m_Answer);
}

void ControlProtocol::HandleForceIp(const Datagram& request, const Gvcp::Request& r)
{
    const auto f = Gvcp::DecodeForceIp(r);
    if (!f || (m_Ccp->GetValue() & 7) != 0)
        return;
    if (f->macHigh != (m_MacHigh->GetValue() & 0xFFFF) || f->macLow != m_MacLow->GetValue())
        return;  // meant for another device

    auto reply = [&](uint16_t status) {
        const size_t n = Gvcp::BuildForceIpAck(m_Scratch->data, status, r.header.requestId);
        m_Scratch->address = request.address;
        m_Scratch->port = request.port;
        m_Scratch->length = static_cast<uint16_t>(n);
        m_Endpoint.Send(*m_Scratch);
    };

    // Address 0 asks for the device's own configuration; anything else must be usable.
    if (f->ip != 0 && !usableConfiguration(f->ip, f->mask, f->gateway)) {
        if (r.AckRequested())
            reply(GevStatus::InvalidParameter);
        return;
    }

    bool expected = false;
    if (!m_IpPending.compare_exchange_strong(expected, true)) {
        reply(GevStatus::NotImplemented);  // a configuration is being applied
        return;
    }
    {
        std::lock_guard lock(m_IpMutex);
        m_Forced = ForceIpPending{f->ip,     f->mask,           f->gateway,    f->macHigh,  f->macLow,
                                  r.AckRequested(), r.header.requestId, request.address, request.port,
                                  m_Options.forceIpDelayMs};
    }
    if (!startIpWorker() && r.AckRequested())
        reply(GevStatus::NotImplemented);
}

bool ControlProtocol::usableConfiguration(uint32_t ip, uint32_t mask, uint32_t gateway)
{
    if (!UsableDeviceAddress(ip, mask, gateway, (m_AdapterIp->GetValue() >> 24) == 127))
        return false;
    if (!m_Net)
        return true;
    // Linux has no duplicate address detection: an address of another interface would be taken silently.
    const uint32_t index = m_AdapterIndex->GetValue();
    for (const AdapterRecord& a : m_Net->ListAdapters())
        if (a.ipv4Sys == ip && a.ifIndex != index)
            return false;
    return true;
}

bool ControlProtocol::OnIpConfigWrite(UIntReg* reg)
{
    if (reg->GetRequester() != Origin::Remote || !m_Running.load())
        return true;
    bool expected = false;
    if (!m_IpPending.compare_exchange_strong(expected, true))
        return true;
    {
        std::lock_guard lock(m_IpMutex);
        m_Forced = ForceIpPending{};
        m_Forced.delayMs = m_Options.ipConfigDelayMs;
    }
    startIpWorker();
    return true;
}

// Runs with the pending mark set; clears it when no worker starts.
bool ControlProtocol::startIpWorker()
{
    std::jthread previous;
    {
        std::lock_guard lock(m_IpMutex);
        if (m_Stopping.load()) {
            m_IpPending.store(false);
            return false;
        }
        previous = std::move(m_IpWorker);  // a finished worker
    }
    if (previous.joinable())
        previous.join();
    std::lock_guard lock(m_IpMutex);
    if (m_Stopping.load()) {
        m_IpPending.store(false);
        return false;
    }
    try {
        m_IpWorker = std::jthread([this](std::stop_token st) { IpConfigurationThread(st); });
    } catch (const std::system_error&) {
        platform::debugOutput("Error: cannot start the IP configuration thread\n");
        m_IpPending.store(false);
        return false;
    }
    return true;
}

void ControlProtocol::IpConfigurationThread(std::stop_token stop)
{
    ForceIpPending forced;
    {
        std::unique_lock lock(m_IpMutex);
        forced = m_Forced;
        m_IpCv.wait_for(lock, stop, std::chrono::milliseconds(forced.delayMs), [] { return false; });
    }
    if (stop.stop_requested()) {
        m_IpPending.store(false);
        return;
    }

    const uint32_t oldIp = m_CurrentIp->GetValue();
    const uint32_t oldMask = m_CurrentMask->GetValue();
    const uint32_t oldGateway = m_CurrentGateway->GetValue();
    const uint32_t oldMacHigh = m_MacHigh->GetValue();
    const uint32_t oldMacLow = m_MacLow->GetValue();

    // A client's configuration (forced or persistent) is checked again here: the host's
    // interfaces may have changed since it was given. The adapter's own is taken as it is.
    bool usable = true;
    if (forced.ip != 0) {
        usable = usableConfiguration(forced.ip, forced.mask, forced.gateway);
        m_CurrentIp->SetValue(forced.ip);
        m_CurrentMask->SetValue(forced.mask);
        m_CurrentGateway->SetValue(forced.gateway);
        m_MacHigh->SetValue(forced.macHigh);
        m_MacLow->SetValue(forced.macLow);
    } else if ((m_IpConfigCurrent->GetValue() & 1) != 0 && m_PersistentIp->GetValue() != 0 &&
               m_PersistentMask->GetValue() != 0) {
        usable = usableConfiguration(m_PersistentIp->GetValue(), m_PersistentMask->GetValue(),
                                     m_PersistentGateway->GetValue());
        m_CurrentIp->SetValue(m_PersistentIp->GetValue());
        m_CurrentMask->SetValue(m_PersistentMask->GetValue());
        m_CurrentGateway->SetValue(m_PersistentGateway->GetValue());
    } else {
        m_CurrentIp->SetValue(m_AdapterIp->GetValue());
        m_CurrentMask->SetValue(m_AdapterMask->GetValue());
        m_CurrentGateway->SetValue(0);
    }

    uint16_t status = 0;
    bool serving = true;
    const bool changed = m_CurrentIp->GetValue() != oldIp || m_CurrentMask->GetValue() != oldMask;
    if (!usable || !changed || !ApplyIpAddress()) {
        status = GevStatus::NotImplemented;
        m_CurrentIp->SetValue(oldIp);
        m_CurrentMask->SetValue(oldMask);
        m_CurrentGateway->SetValue(oldGateway);
        m_MacHigh->SetValue(oldMacHigh);
        m_MacLow->SetValue(oldMacLow);
        // The old configuration again (an unusable one was never applied, so the socket still
        // serves it); when even that fails the control protocol stops.
        if (usable)
            serving = ApplyIpAddress();
        if (!serving) {
            platform::debugOutput("Error: the device cannot serve its previous address again; "
                                  "the control protocol stops\n");
            {
                std::lock_guard lock(m_IpMutex);
                m_Stopping.store(true);  // no further worker, no connection callbacks
            }
            m_IpPending.store(false);
            stopRunning();
            return;
        }
    }
    // Done before the acknowledge: a client may send its next FORCEIP the moment it arrives.
    m_IpPending.store(false);
    if (serving && forced.ack) {
        auto ack = std::make_unique<Datagram>();
        ack->address = forced.requesterIp;
        ack->port = forced.requesterPort;
        ack->length = static_cast<uint16_t>(Gvcp::BuildForceIpAck(ack->data, status, forced.requestId));
        std::lock_guard serve(m_ServeMutex);
        m_Endpoint.Send(*ack);
    }
}

bool ControlProtocol::ApplyIpAddress()
{
    std::lock_guard serve(m_ServeMutex);
    stopServing();
    if (m_Added.valid() && m_Net)
        m_Net->DeleteAddress(m_Added);
    m_Added = AddedAddress{};
    const uint32_t ip = m_CurrentIp->GetValue();
    if (ip != m_AdapterIp->GetValue()) {
        int err = 0;
        if (!m_Net || m_Net->AddAddress(ip, m_CurrentMask->GetValue(), static_cast<int>(m_AdapterIndex->GetValue()),
                                        &m_Added, &err) == AddResult::Failed)
            return false;
    }
    return startServing();
}

}  // namespace Kivu
