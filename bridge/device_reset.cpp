// DeviceReset: the server goes offline, the scanner's settings are reset and set up again,
// and the server comes back on the same address. One reset runs at a time.
#include "bridge.h"

#include <string>
#include <system_error>

#include "command_builders.h"
#include "gev_camera.h"

namespace lumabridge {
namespace {

constexpr uint32_t kResetDelayMs = 500;
constexpr uint32_t kDescriptorWindowMs = 5000;
constexpr uint32_t kSettleMs = 5000;

}  // namespace

bool Bridge::startDeviceReset()
{
    std::lock_guard lock(m_ResetMutex);
    if (m_ResetClosed)
        return false;
    if (m_ResetRunning) {
        m_Console.Message("Warning: a device reset is running; DeviceReset refused\n");
        return false;
    }
    m_ResetRunning = true;
    try {
        // The thread before has ended (m_ResetRunning was clear): this join returns at once.
        m_ResetThread = std::jthread([this](std::stop_token stop) { DeviceResetThread(stop); });
    } catch (const std::system_error&) {
        m_ResetRunning = false;
        throw;
    }
    return true;
}

void Bridge::DeviceResetThread(std::stop_token stop)
{
    guarded("device reset", [&] {
        if (!pause(kResetDelayMs, stop))
            return;
        // The bridge's acquisition ends with the server's.
        m_AcquisitionStopped = true;
        m_AcquisitionEvent.reset();
        m_NewProfileEvent.set();
        m_Camera->Stop();
        SendSetResetSettings(m_Scanner, m_Handle);

        const uint32_t start = m_Clock.NowMs();
        while (!stop.stop_requested() && m_Clock.NowMs() - start < kDescriptorWindowMs && !UpdateScannerInfo()) {
        }
        if (!pause(kSettleMs, stop))
            return;
        ConfigureScanner(stop);
        if (!stop.stop_requested())
            m_Camera->Start(m_ServedIp.c_str());
    });
    m_ResetRunning = false;
}

}  // namespace lumabridge
