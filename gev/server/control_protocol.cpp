#include "server/control_protocol.h"

#include "model/bootstrap_registers.h"

#include "platform/debug_output.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace Kivu {

namespace {

constexpr uint32_t kStringAddresses[6] = {Bootstrap::kManufacturerName, Bootstrap::kModelName,
                                          Bootstrap::kDeviceVersion,    Bootstrap::kManufacturerInfo,
                                          Bootstrap::kSerialNumber,     Bootstrap::kUserDefinedName};
constexpr uint32_t kMaxActionSignals = 128;
constexpr uint32_t kActionSignalBase = 0x9800;

}  // namespace

std::shared_ptr<UIntReg> ControlProtocol::reg(uint32_t address)
{
    auto r = std::dynamic_pointer_cast<UIntReg>(m_Tree->Find(address));
    if (!r) {
        char text[64];
        std::snprintf(text, sizeof(text), "Missing register 0x%04X", address);
        throw std::runtime_error(text);
    }
    return r;
}

ControlProtocol::ControlProtocol(std::shared_ptr<RegTree> tree, std::shared_ptr<INetPlatform> net)
    : m_Tree(std::move(tree)), m_Net(std::move(net)), m_Answer(std::make_unique<Datagram>()),
      m_Scratch(std::make_unique<Datagram>()), m_LastAck(std::make_unique<Datagram>())
{
    if (!m_Tree)
        throw std::runtime_error("No register tree");
    m_Version = reg(Bootstrap::kVersion);
    m_DeviceMode = reg(Bootstrap::kDeviceMode);
    m_MacHigh = reg(Bootstrap::kDeviceMacHigh);
    m_MacLow = reg(Bootstrap::kDeviceMacLow);
    m_IpConfigOptions = reg(Bootstrap::kSupportedIpConfiguration);
    m_IpConfigCurrent = reg(Bootstrap::kCurrentIpConfiguration);
    m_CurrentIp = reg(Bootstrap::kCurrentIpAddress);
    m_CurrentMask = reg(Bootstrap::kCurrentSubnetMask);
    m_CurrentGateway = reg(Bootstrap::kCurrentDefaultGateway);
    m_PersistentIp = reg(Bootstrap::kPersistentIpAddress);
    m_PersistentMask = reg(Bootstrap::kPersistentSubnetMask);
    m_PersistentGateway = reg(Bootstrap::kPersistentDefaultGateway);
    m_StreamChannels = reg(Bootstrap::kNumberOfStreamChannels);
    m_ActionSignals = reg(Bootstrap::kNumberOfActionSignals);
    m_HeartbeatTimeout = reg(Bootstrap::kHeartbeatTimeout);
    m_TickHigh = reg(Bootstrap::kTimestampTickFrequencyHigh);
    m_TickLow = reg(Bootstrap::kTimestampTickFrequencyLow);
    m_SwitchoverKey = reg(Bootstrap::kControlSwitchoverKey);
    m_PrimaryPort = reg(Bootstrap::kPrimaryApplicationPort);
    m_PrimaryIp = reg(Bootstrap::kPrimaryApplicationIpAddress);
    m_Mcp = reg(Bootstrap::kMessageChannelPort);
    m_Mcda = reg(Bootstrap::kMessageChannelDestinationAddress);
    m_Scp0 = reg(Bootstrap::kStreamChannelPort0);
    m_Scda0 = reg(Bootstrap::kStreamChannelDestinationAddress0);
    m_AdapterIndex = reg(Manufacturer::kAdapterIndex);
    m_AdapterIp = reg(Manufacturer::kAdapterAddress);
    m_AdapterMask = reg(Manufacturer::kAdapterMask);
    m_SourceIp = reg(Manufacturer::kRequestSourceIp);
    m_SourcePort = reg(Manufacturer::kRequestSourcePort);
    m_AcquisitionStop = reg(Manufacturer::kAcquisitionStop);
    m_Ccp = std::dynamic_pointer_cast<CCPReg>(m_Tree->Find(Bootstrap::kControlChannelPrivilege));
    m_Resend = m_Tree->FindResendCmd();
    m_Events = m_Tree->FindEventEmitter();
    if (!m_Ccp || !m_Resend || !m_Events)
        throw std::runtime_error("Missing control registers");
    for (size_t i = 0; i < 6; ++i) {
        m_Strings[i] = std::dynamic_pointer_cast<StringReg>(m_Tree->Find(kStringAddresses[i]));
        if (!m_Strings[i])
            throw std::runtime_error("Missing identity string register");
    }

    m_CcpShadow.store(m_Ccp->GetValue());
    m_Ccp->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &ControlProtocol::OnCcpWrite));
    m_HeartbeatTimeout->Subscribe(CallbackList::BeforeWrite,
                                  MakeCallback(this, &ControlProtocol::OnHeartbeatTimeoutWrite));
    for (auto* r : {&m_IpConfigCurrent, &m_PersistentIp, &m_PersistentMask, &m_PersistentGateway})
        (*r)->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &ControlProtocol::OnIpConfigWrite));
}

ControlProtocol::~ControlProtocol()
{
    Stop();
    m_Ccp->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &ControlProtocol::OnCcpWrite));
    m_HeartbeatTimeout->RemoveCallbacks(CallbackList::BeforeWrite,
                                        MakeCallback(this, &ControlProtocol::OnHeartbeatTimeoutWrite));
    for (auto* r : {&m_IpConfigCurrent, &m_PersistentIp, &m_PersistentMask, &m_PersistentGateway})
        (*r)->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &ControlProtocol::OnIpConfigWrite));
}

void ControlProtocol::SetServeOptions(const ServeOptions& options)
{
    std::lock_guard lock(m_LifecycleMutex);
    m_Options = options;
}

uint32_t ControlProtocol::Start(uint32_t gevMode)
{
    std::lock_guard lock(m_LifecycleMutex);
    if (m_Running.load())
        return GevResult::Fail;
    if (gevMode > 1)
        return GevResult::InvalidArgument;
    m_GevMode.store(gevMode);

    // A worker that stopped serving by itself has ended; it is joined here, not by its own thread.
    std::jthread finished;
    {
        std::lock_guard ipLock(m_IpMutex);
        finished = std::move(m_IpWorker);
    }
    if (finished.joinable())
        finished.join();

    // Persistent IP supported and enabled, and an address the worker would take too; otherwise
    // the current address is served as without a persistent configuration.
    if ((m_IpConfigOptions->GetValue() & 1) != 0 && (m_IpConfigCurrent->GetValue() & 1) != 0) {
        const uint32_t ip = m_PersistentIp->GetValue();
        const uint32_t mask = m_PersistentMask->GetValue();
        const uint32_t gateway = m_PersistentGateway->GetValue();
        if (usableConfiguration(ip, mask, gateway)) {
            m_CurrentIp->SetValue(ip);
            m_CurrentMask->SetValue(mask);
            m_CurrentGateway->SetValue(gateway);
        } else {
            platform::debugOutput("Error: the persistent IP configuration is no usable device address; "
                                  "it is left out\n");
        }
    }

    const uint32_t ip = m_CurrentIp->GetValue();
    const uint32_t mask = m_CurrentMask->GetValue();
    if (ip != m_AdapterIp->GetValue() && !m_Added.valid()) {
        AddResult added = AddResult::Failed;
        int err = 0;
        if (m_Net)
            added = m_Net->AddAddress(ip, mask, static_cast<int>(m_AdapterIndex->GetValue()), &m_Added, &err);
        if (added == AddResult::Failed) {
            platform::debugOutput("Error: cannot add the served address to the adapter "
                                  "(needs CAP_NET_ADMIN, or set the address up beforehand)\n");
            return GevResult::Fail;
        }
    }

    m_BoundPort = m_Options.port;
    {
        std::lock_guard serve(m_ServeMutex);
        if (!m_Endpoint.Open(EndpointConfig{ip, mask, m_Options.port,
                                            static_cast<int>(m_AdapterIndex->GetValue()),
                                            m_Options.broadcastListeners, m_Options.retry}))
            return GevResult::Fail;
        m_BoundPort = m_Endpoint.LocalPort();
    }

    {
        std::lock_guard hb(m_HeartbeatMutex);
        m_HeartbeatSignal = false;
    }
    {
        std::lock_guard ipLock(m_IpMutex);
        m_Stopping.store(false);
    }
    m_Last.valid = false;
    m_Connected.store(false);  // a new run starts without a client
    m_HeartbeatThread = std::jthread([this](std::stop_token st) { HeartbeatThread(st); });
    {
        std::lock_guard serve(m_ServeMutex);
        m_ReceiveThread = std::jthread([this](std::stop_token) { ReceiveLoop(); });
    }
    m_Running.store(true);
    return GevResult::Ok;
}

bool ControlProtocol::startServing()
{
    const uint32_t ip = m_CurrentIp->GetValue();
    const uint32_t mask = m_CurrentMask->GetValue();
    if (!m_Endpoint.Open(EndpointConfig{ip, mask, m_BoundPort, static_cast<int>(m_AdapterIndex->GetValue()),
                                        m_Options.broadcastListeners, m_Options.retry}))
        return false;
    m_ReceiveThread = std::jthread([this](std::stop_token) { ReceiveLoop(); });
    return true;
}

void ControlProtocol::stopServing()
{
    m_ReceiveThread.request_stop();
    m_Endpoint.Shutdown();
    if (m_ReceiveThread.joinable())
        m_ReceiveThread.join();
    m_Endpoint.Close();
}

void ControlProtocol::Stop()
{
    std::lock_guard lock(m_LifecycleMutex);
    std::jthread worker;
    {
        std::lock_guard ipLock(m_IpMutex);
        m_Stopping.store(true);
        worker = std::move(m_IpWorker);
    }
    if (worker.joinable()) {
        worker.request_stop();
        m_IpCv.notify_all();
        worker.join();
    }
    stopRunning();
}

// Run by Stop once the worker is joined, or by the worker itself (which Stop or Start then joins).
void ControlProtocol::stopRunning()
{
    {
        std::lock_guard serve(m_ServeMutex);
        stopServing();
    }
    if (m_HeartbeatThread.joinable()) {
        m_Ccp->SetValue(0);  // releases a client through the CCP hook
        m_HeartbeatThread.request_stop();
        {
            std::lock_guard hb(m_HeartbeatMutex);
            m_HeartbeatSignal = true;
        }
        m_HeartbeatCv.notify_all();
        m_HeartbeatThread.join();
    }
    if (m_Added.valid() && m_Net)
        m_Net->DeleteAddress(m_Added);
    m_Added = AddedAddress{};
    m_Running.store(false);
}

uint16_t ControlProtocol::LocalPort() const
{
    std::lock_guard serve(m_ServeMutex);
    return m_Endpoint.LocalPort();
}

bool ControlProtocol::SetActionCallback(void* context, ActionCallback fn)
{
    std::lock_guard lock(m_CallbackMutex);
    m_ActionContext = context;
    m_Action = fn;
    return true;
}

bool ControlProtocol::SetScheduledActionCallback(void* context, ActionCallback fn)
{
    std::lock_guard lock(m_CallbackMutex);
    m_ScheduledContext = context;
    m_Scheduled = fn;
    return true;
}

bool ControlProtocol::SetClientConnectionCallback(void* context, ClientConnectionCallback fn)
{
    std::lock_guard lock(m_CallbackMutex);
    m_ConnectionContext = context;
    m_Connection = fn;
    return true;
}

void ControlProtocol::SetAnswerDelays(uint32_t discoveryMs, uint32_t readMs, uint32_t writeMs)
{
    m_Delay[0].store(discoveryMs);
    m_Delay[1].store(readMs);
    m_Delay[2].store(writeMs);
}

void ControlProtocol::SetAnswerEveryNth(uint32_t discoveryN, uint32_t readN, uint32_t writeN)
{
    m_EveryNth[0].store(discoveryN);
    m_EveryNth[1].store(readN);
    m_EveryNth[2].store(writeN);
}

uint32_t ControlProtocol::SetActionSignalCount(uint32_t n)
{
    if (n > kMaxActionSignals)
        return GevResult::InvalidArgument;
    const uint32_t m = m_ActionSignals->GetValue();
    for (uint32_t i = m; i < n; ++i) {
        const uint32_t a = kActionSignalBase + 16 * i;
        m_Tree->AddRegister(std::make_shared<UIntReg>(a, 0, Access::ReadWrite));      // group key
        m_Tree->AddRegister(std::make_shared<UIntReg>(a + 4, 0, Access::ReadWrite));  // group mask
    }
    for (uint32_t i = n; i < m; ++i) {
        const uint32_t a = kActionSignalBase + 16 * i;
        m_Tree->RemoveRegister(a);
        m_Tree->RemoveRegister(a + 4);
    }
    m_ActionSignals->SetValue(n);
    return GevResult::Ok;
}

void ControlProtocol::ReceiveLoop()
{
    auto request = std::make_unique<Datagram>();
    while (m_Endpoint.Receive(*request))
        Dispatch(*request);
}

}  // namespace Kivu
