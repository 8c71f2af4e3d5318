#pragma once
// The GVCP control protocol of a device: discovery, register and memory access,
// control privilege with heartbeat, packet resend, action commands and FORCEIP,
// served on one receive thread over a register tree.
#include "gev_camera.h"

#include "model/reg_tree.h"
#include "model/registers.h"
#include "server/datagram.h"
#include "server/gvcp_endpoint.h"
#include "server/gvcp_wire.h"
#include "server/netif.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace Kivu {

// Where and how Start serves; the camera keeps the defaults.
struct ServeOptions {
    uint16_t port = Gvcp::kPort;  // 0 = any free port (tests)
    bool broadcastListeners = true;
    BindRetry retry;
    uint32_t forceIpDelayMs = 0;
    uint32_t ipConfigDelayMs = 3000;  // after a client's write of the IP configuration registers
};

class ControlProtocol : public Base {
public:
    // Binds the registers it needs from tree; throws std::runtime_error when one is missing.
    explicit ControlProtocol(std::shared_ptr<RegTree> tree, std::shared_ptr<INetPlatform> net = nullptr);
    ~ControlProtocol() override;
    ControlProtocol(const ControlProtocol&) = delete;
    ControlProtocol& operator=(const ControlProtocol&) = delete;

    // Serves on the persistent IP when enabled and usable, else on the current IP
    // (0x0024), adding it to the adapter when it is not the adapter's own.
    // gevMode 0: GigE Vision 1.2 ids, 1: 2.0 extended ids.
    uint32_t Start(uint32_t gevMode);
    void Stop();
    // False also once the IP configuration worker stopped serving (no address left to serve).
    bool IsRunning() const { return m_Running.load(); }
    // The bound control port; 0 when not serving.
    uint16_t LocalPort() const;

    // Takes effect at the next Start; call while stopped.
    void SetServeOptions(const ServeOptions& options);
    bool SetActionCallback(void* context, ActionCallback fn);
    bool SetScheduledActionCallback(void* context, ActionCallback fn);
    bool SetClientConnectionCallback(void* context, ClientConnectionCallback fn);
    void SetAnswerDelays(uint32_t discoveryMs, uint32_t readMs, uint32_t writeMs);
    void SetAnswerEveryNth(uint32_t discoveryN, uint32_t readN, uint32_t writeN);
    uint32_t SetActionSignalCount(uint32_t n);

    // One request as the receive loop hands it over; answers go out on the control socket.
    void Dispatch(const Datagram& request);

private:
    // Request side.
    void ReceiveLoop();
    void dispatch(const Datagram& request, const Gvcp::Request& r);
    void HandleDiscovery(const Datagram& request, const Gvcp::Request& r);
    void HandleReadReg(const Datagram& request, const Gvcp::Request& r);
    void HandleWriteReg(const Datagram& request, const Gvcp::Request& r);
    void HandleReadMem(const Datagram& request, const Gvcp::Request& r);
    void HandleWriteMem(const Datagram& request, const Gvcp::Request& r);
    void HandlePacketResend(const Gvcp::Request& r);
    void HandleActionCommand(const Datagram& request, const Gvcp::Request& r);
    void HandleForceIp(const Datagram& request, const Gvcp::Request& r);
    void SendInvalidHeaderNack(const Datagram& request, uint16_t requestId);
    void SendNotImplementedNack(const Datagram& request, uint16_t requestId);
    void sendNack(const Datagram& request, uint16_t status, uint16_t requestId);
    // Sends the answer buffer's first length bytes to the requester and keeps
    // them for a repeat of the same request.
    void answer(const Datagram& request, const Gvcp::Request& r, size_t length);
    bool repeatOfLast(const Datagram& request, const Gvcp::Request& r);
    void remember(const Datagram& request, const Gvcp::Request& r, size_t length);
    bool passesEveryNth(std::atomic<uint32_t>& counter, const std::atomic<uint32_t>& divisor);
    void delay(const std::atomic<uint32_t>& ms);
    uint32_t readRegister(uint32_t address, uint8_t* out);
    uint32_t writeRegister(uint32_t address, uint32_t value);

    // Privilege and heartbeat.
    bool CheckPrivilege(uint32_t address, bool isRead);
    bool switchoverKeyMatches(uint32_t written);
    bool carriesSwitchoverKey(uint32_t written);
    void OnPrimaryRequest();
    bool RequesterIsPrimary();
    void HeartbeatThread(std::stop_token stop);
    bool OnCcpWrite(UIntReg* reg);
    bool OnHeartbeatTimeoutWrite(UIntReg* reg);
    bool OnIpConfigWrite(UIntReg* reg);
    void ResetOnRelease();
    void makeRequesterPrimary();
    void notifyConnection(bool connected);

    // IP configuration.
    bool startIpWorker();
    bool usableConfiguration(uint32_t ip, uint32_t mask, uint32_t gateway);
    void IpConfigurationThread(std::stop_token stop);
    bool ApplyIpAddress();
    bool startServing();
    void stopServing();
    // Ends serving, the heartbeat and the added address, and clears the running flag.
    void stopRunning();

    std::shared_ptr<UIntReg> reg(uint32_t address);

    std::shared_ptr<RegTree> m_Tree;
    std::shared_ptr<INetPlatform> m_Net;

    // Bound registers.
    std::shared_ptr<UIntReg> m_Version, m_DeviceMode, m_MacHigh, m_MacLow, m_IpConfigOptions, m_IpConfigCurrent,
        m_CurrentIp, m_CurrentMask, m_CurrentGateway, m_PersistentIp, m_PersistentMask, m_PersistentGateway,
        m_StreamChannels, m_PrimaryIp, m_PrimaryPort, m_SourceIp, m_SourcePort, m_SwitchoverKey, m_HeartbeatTimeout,
        m_Mcp, m_Mcda, m_Scp0, m_Scda0, m_AcquisitionStop, m_ActionSignals, m_TickHigh, m_TickLow, m_AdapterIp,
        m_AdapterMask, m_AdapterIndex;
    std::shared_ptr<CCPReg> m_Ccp;
    std::shared_ptr<ResendCmd> m_Resend;
    std::shared_ptr<EventEmitter> m_Events;
    std::shared_ptr<StringReg> m_Strings[6];

    // Serving.
    std::mutex m_LifecycleMutex;  // Start, Stop
    mutable std::mutex m_ServeMutex;  // the endpoint and the receive thread between Stop and the worker
    GvcpEndpoint m_Endpoint;
    std::jthread m_ReceiveThread;
    std::jthread m_HeartbeatThread;
    std::jthread m_IpWorker;
    std::atomic<bool> m_Running{false};
    std::atomic<bool> m_Stopping{false};
    std::atomic<uint32_t> m_GevMode{0};
    ServeOptions m_Options;
    uint16_t m_BoundPort = 0;
    AddedAddress m_Added;

    // Heartbeat event: auto reset.
    std::mutex m_HeartbeatMutex;
    std::condition_variable_any m_HeartbeatCv;
    bool m_HeartbeatSignal = false;
    std::atomic<bool> m_Connected{false};
    std::atomic<uint32_t> m_CcpShadow{0};  // CCP as last accepted, for the old mode in the hook

    // Callbacks, guarded by m_CallbackMutex.
    std::mutex m_CallbackMutex;
    void* m_ActionContext = nullptr;
    ActionCallback m_Action = nullptr;
    void* m_ScheduledContext = nullptr;
    ActionCallback m_Scheduled = nullptr;
    void* m_ConnectionContext = nullptr;
    ClientConnectionCallback m_Connection = nullptr;

    // Test knobs: delays, every-N divisors and counters (discovery, read, write).
    std::atomic<uint32_t> m_Delay[3]{};
    std::atomic<uint32_t> m_EveryNth[3]{};
    std::atomic<uint32_t> m_Counter[3]{};

    // Receive-thread state.
    std::unique_ptr<Datagram> m_Answer;   // acknowledges of the register commands and ACTION
    std::unique_ptr<Datagram> m_Scratch;  // DISCOVERY and the negative acknowledges
    struct LastRequest {
        bool valid = false;
        uint32_t ip = 0;
        uint16_t port = 0;
        uint16_t requestId = 0;
        uint16_t command = 0;
        size_t length = 0;  // 0: executed without acknowledge
    } m_Last;
    std::unique_ptr<Datagram> m_LastAck;
    uint32_t m_RequestIp = 0;
    uint16_t m_RequestPort = 0;

    // IP configuration worker.
    std::mutex m_IpMutex;
    std::condition_variable_any m_IpCv;
    std::atomic<bool> m_IpPending{false};
    struct ForceIpPending {
        uint32_t ip = 0, mask = 0, gateway = 0, macHigh = 0, macLow = 0;
        bool ack = false;
        uint16_t requestId = 0;
        uint32_t requesterIp = 0;
        uint16_t requesterPort = 0;
        uint32_t delayMs = 0;
    } m_Forced;
};

}  // namespace Kivu
