// The scanner connection: connecting and the first descriptor, the firmware gate, and the
// monitor thread that watches the link.
#include "bridge.h"

#include <string>

#include "command_builders.h"
#include "gev_camera.h"

namespace lumabridge {
namespace {

constexpr uint32_t kConnectWindowMs = 3000;
constexpr uint32_t kConnectPollMs = 100;
constexpr uint32_t kMonitorPeriodMs = 10;
constexpr int kStatusReady = 3;
constexpr uint16_t kLostEventId = 10;
constexpr char kLostEventText[] = "connection to scanner is lost";

}  // namespace

bool Bridge::UpdateScannerInfo()
{
    std::lock_guard lock(m_InfoMutex);
    InfoStatus status = InfoStatus::Ok;
    if (lumabridge::UpdateScannerInfo(m_Scanner, m_Handle, m_Clock, m_Info, &status))
        return true;
    if (status == InfoStatus::ReceiveError) {
        m_Console.Debug("Wraning xml receive error\n");
        return false;
    }
    if (status == InfoStatus::XmlError)
        m_Console.Debug("", "Failed to read the XML data\n");
    m_Console.Debug("Wraning xml parser error\n", "Warning xml parser error\n");
    return false;
}

ScannerInfo Bridge::info() const
{
    std::lock_guard lock(m_InfoMutex);
    return m_Info;
}

bool Bridge::Connect(const std::string& scannerIp, const std::string& userName, uint16_t port)
{
    m_ScannerIp = scannerIp;
    if (m_Handle)
        return false;

    unsigned char version[1024] = {};
    m_Scanner.GetVersion(version, sizeof version);
    version[sizeof version - 1] = '\0';
    m_ClientLibraryVersion = reinterpret_cast<const char*>(version);

    const std::string portText = std::to_string(port);
    ScannerHandle handle = m_Scanner.Connect(scannerIp.c_str(), portText.c_str(), m_AutoReconnect ? 3000 : 0);
    if (!handle) {
        m_Console.Message("Error: Quillan_Connect: NULL-Pointer\n");
        return false;
    }
    m_Handle = handle;

    const std::stop_token never;
    const uint32_t t0 = m_Clock.NowMs();
    for (;;) {
        int status = 0;
        m_Scanner.GetConnectStatus(handle, &status);
        const bool expired = m_Clock.NowMs() - t0 > kConnectWindowMs;
        if (expired || interrupted(never)) {
            m_Handle = nullptr;
            m_Scanner.Disconnect(handle);
            if (expired)
                m_Console.Message("Error: Quillan_Connect: check connection parameters\n");
            return false;
        }
        m_Clock.SleepMs(kConnectPollMs);
        if (status == kStatusReady)
            break;
    }

    m_Console.Message("Scanner connected\n");
    SendSetAcquisitionStop(m_Scanner, handle);

    // The descriptor gets what is left of the window.
    bool described = false;
    while (!described && m_Clock.NowMs() - t0 < kConnectWindowMs && !interrupted(never))
        described = UpdateScannerInfo();
    if (!described) {
        if (!interrupted(never))
            m_Console.Message("Error: No Valid XML-Packet!!!\n");
        return false;
    }

    if (m_FirmwareCheck && !FirmwareAtLeast(info().m_FirmwareVersion, 1, 2, 0)) {
        m_Console.Message("Error: Update the scanner FW to at least 1.2.0\n");
        return false;
    }

    if (!allocateRing())
        return false;

    m_Console.Message("Starting scanner monitor thread\n");
    m_MonitorThread = std::jthread([this](std::stop_token stop) { ScannerMonitorThread(stop); });
    m_Console.Message("Starting scanner thread\n");
    m_ScannerThread = std::jthread([this](std::stop_token stop) { ScannerThread(stop); });
    {
        std::lock_guard lock(m_InfoMutex);
        m_Info.m_LastRefreshMs = m_Clock.NowMs();
    }

    if (!m_DebugFileName.empty())
        m_Console.OpenLog(m_DebugFileName);
    if (!userName.empty())
        SendSetUserString(m_Scanner, handle, userName);
    return true;
}

void Bridge::sendLostEvent()
{
    if (m_Camera)
        m_Camera->SendEventData(kLostEventId, kLostEventText, sizeof kLostEventText - 1, 0xFFFF, true);
}

void Bridge::ScannerMonitorThread(std::stop_token stop)
{
    guarded("scanner monitor thread", [&] {
        m_Console.Message("Scanner monitor thread has started\n");
        const ScannerHandle handle = m_Handle;
        bool lost = false;
        while (!stop.stop_requested()) {
            int status = 0;
            m_Scanner.GetConnectStatus(handle, &status);
            if (!lost && status == 0) {
                lost = true;
                sendLostEvent();
                m_Console.Message("disconnected\n");
                if (!m_AutoReconnect) {
                    m_ScannerLost = true;
                    RequestExit();
                    break;
                }
            } else if (lost && status == kStatusReady) {
                SendSetInitializeAcquisition(m_Scanner, handle);
                lost = false;
                m_Console.Message("connected\n");
            }
            m_Clock.SleepMs(kMonitorPeriodMs);
        }
        m_Console.Message("Scanner monitor thread has been ended\n");
    });
}

}  // namespace lumabridge
