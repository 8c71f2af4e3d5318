// The Bridge's life: construction with the camera's configuration, the option setters, the
// camera callbacks and the ordered shutdown.
#include "bridge.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <new>

#include "command_builders.h"
#include "gev_camera.h"

namespace lumabridge {
namespace {

constexpr size_t kFrameBufferBytes = 540'000'000;

std::atomic<bool (*)()> g_StopCheck{nullptr};

}  // namespace

Bridge::Bridge(ScannerApi& scanner, Clock& clock, CGevCamera* camera)
    : m_Scanner(scanner), m_Clock(clock), m_Camera(camera)
{
    if (!m_Camera)
        return;
    m_Camera->SetGevMode(1);
    m_Camera->SetStreamChannelCount(1);
    m_Camera->SetPayloadType(1, 0);
    m_Camera->SetMaxImageSize(4500, 10000);
    m_Camera->SetFeatureReadCallback(this, &Bridge::OnFeatureReadCallback);
    m_Camera->SetFeatureWriteCallback(this, &Bridge::OnFeatureWriteCallback);
    m_Camera->SetClientConnectionCallback(this, &Bridge::OnClientConnection);
    m_Camera->SetTimestampMode(3, 0);
    m_Camera->SetRegionMode(2, 0);
}

Bridge::~Bridge()
{
    Shutdown();
}

void Bridge::ReadInterfaces()
{
    if (!m_Camera)
        return;
    for (uint32_t i = 0; static_cast<int64_t>(i) < m_Camera->GetNetworkInterfaceCount(); ++i) {
        char ip[16] = {};
        m_Camera->GetNetworkInterfaceIp(i, ip);
        ip[15] = '\0';
        m_Interfaces.emplace_back(ip);
    }
}

const std::vector<std::string>& Bridge::Interfaces() const
{
    return m_Interfaces;
}

bool Bridge::AllocateFrameBuffer()
{
    // Not value-initialised: the pages stay virtual until a block is written.
    m_FrameBuffer.reset(new (std::nothrow) uint8_t[kFrameBufferBytes]);
    return !m_FrameBuffer;
}

void Bridge::SetDebugFileName(const std::string& name)
{
    m_DebugFileName = name;
}

void Bridge::SetPointCloudOptions(uint32_t count, const std::string& name)
{
    m_ScansToSave = count;
    m_PointCloudFileName = name;
}

void Bridge::SetProfileTimeout(uint32_t ms)
{
    m_ProfileTimeoutMs = ms;
}

void Bridge::EnableConsoleDebug()
{
    m_Console.EnableDebug();
}

void Bridge::EnableAutoReconnect()
{
    m_AutoReconnect = true;
}

void Bridge::DisableFirmwareCheck()
{
    m_FirmwareCheck = false;
}

void Bridge::EnableOrbalisMode()
{
    if (!m_OrbalisMode.exchange(true))
        m_Version += ".orbalis";
}

void Bridge::EnableHardwareLinearization()
{
    m_HardwareLinearization = true;
}

void Bridge::RequestExit()
{
    m_ExitRequested = true;
}

bool Bridge::IsExitRequested() const
{
    return m_ExitRequested;
}

bool Bridge::IsScannerLost() const
{
    return m_ScannerLost;
}

void Bridge::SetConsoleStreams(std::ostream& out, std::ostream& err)
{
    m_Console.SetStreams(out, err);
}

bool Bridge::pause(uint32_t ms, const std::stop_token& stop)
{
    const uint32_t start = m_Clock.NowMs();
    while (!interrupted(stop)) {
        const uint32_t elapsed = m_Clock.NowMs() - start;
        if (elapsed >= ms)
            return true;
        m_Clock.SleepMs(std::min<uint32_t>(ms - elapsed, 10));
    }
    return false;
}

void Bridge::SetStopCheck(bool (*stopRequested)())
{
    g_StopCheck = stopRequested;
}

bool Bridge::interrupted(const std::stop_token& stop) const
{
    if (stop.stop_requested() || m_ExitRequested)
        return true;
    bool (*check)() = g_StopCheck;
    return check && check();
}

void Bridge::guarded(const char* where, const std::function<void()>& body) noexcept
{
    try {
        body();
    } catch (const std::exception& e) {
        m_Console.Message(std::string("Error: ") + where + ": " + e.what() + "\n");
    } catch (...) {
        m_Console.Message(std::string("Error: ") + where + " failed\n");
    }
}

// Camera callbacks: exceptions end here, as a refusal or nothing.

bool Bridge::OnFeatureReadCallback(void* context, const char* featureName)
{
    auto& bridge = *static_cast<Bridge*>(context);
    bool accepted = false;
    bridge.guarded("feature read", [&] { accepted = bridge.OnFeatureRead(featureName ? featureName : ""); });
    return accepted;
}

bool Bridge::OnFeatureWriteCallback(void* context, const char* featureName)
{
    auto& bridge = *static_cast<Bridge*>(context);
    bool accepted = false;
    bridge.guarded("feature write", [&] { accepted = bridge.OnFeatureWrite(featureName ? featureName : ""); });
    return accepted;
}

void Bridge::OnClientConnection(void* context, bool connected)
{
    auto& bridge = *static_cast<Bridge*>(context);
    bridge.guarded("client connection", [&] {
        if (connected) {
            bridge.m_Console.Message("\nClient is connected\n");
            return;
        }
        bridge.m_AcquisitionStopped = true;
        SendSetAcquisitionStop(bridge.m_Scanner, bridge.m_Handle);
        bridge.m_AcquisitionEvent.reset();
        // Wakes an image thread waiting for profiles, so that the next client can start again.
        bridge.m_NewProfileEvent.set();
        bridge.m_Console.Message("\nClient is disconnected\n");
    });
}

void Bridge::Shutdown()
{
    if (m_ShutDown.exchange(true))
        return;

    // The device reset first: it stops and starts the camera itself.
    std::jthread reset;
    {
        std::lock_guard lock(m_ResetMutex);
        m_ResetClosed = true;
        reset = std::move(m_ResetThread);
    }
    if (reset.joinable()) {
        reset.request_stop();
        reset.join();
    }

    if (m_Camera)
        m_Camera->Stop();
    m_AcquisitionStopped = true;
    m_ImageThread.request_stop();
    m_NewProfileEvent.set();
    m_AcquisitionEvent.set();
    if (m_ImageThread.joinable())
        m_ImageThread.join();

    // The scanner thread reads through the handle: it ends before the handle is closed.
    if (m_ScannerThread.joinable()) {
        m_ScannerThread.request_stop();
        m_ScannerThread.join();
    }
    // The monitor sends camera events: it ends before the camera is deleted.
    if (m_MonitorThread.joinable()) {
        m_MonitorThread.request_stop();
        m_MonitorThread.join();
    }
    delete m_Camera;
    m_Camera = nullptr;

    if (ScannerHandle handle = m_Handle.exchange(nullptr))
        m_Scanner.Disconnect(handle);
    m_Console.CloseLog();
    m_FrameBuffer.reset();
}

}  // namespace lumabridge
