#include "src/cquillan.h"

#include "src/debug_options.h"
#include "src/version.h"

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/process.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <thread>

namespace quillan {
namespace {
constexpr uint32_t kCaptureFinished = 0xFFFFFFFFu;
constexpr uint8_t kStartPacket[8] = {0x02, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02};
}  // namespace

CQuillan::CQuillan() = default;

CQuillan::~CQuillan()
{
    m_Tcp.Stop();
    m_Log->closeFile();
}

void CQuillan::readDebugOptions(const std::string& directory)
{
    std::ifstream in(directory + kDebugOptionsFileName);
    if (!in.is_open())
        return;
    DebugOptions options = parseDebugOptions(in);
    if (options.captureBytes > 0) {
        m_Capture.reset(new (std::nothrow) uint8_t[options.captureBytes]);
        m_CaptureSize = m_Capture ? options.captureBytes : 0;
        m_Captured = 0;
        platform::debugOutput(format("QuillanDll: Debug: savereceivedbinarydata=%s(%u)\n",
                                     options.captureValueText.c_str(), m_CaptureSize)
                                  .c_str());
    }
    if (options.debugFile && !m_Log->openFile(directory + debugFileName(m_Ip)))
        platform::debugOutput("Error opening the debug file\n");
    if (options.debugTerminal) {
        m_Log->enableTerminal();
        platform::debugOutput("QuillanDll: Debug: active\n");
    }
    setDebugActive(true);
}

bool CQuillan::Connect(const char* ip, const char* port, int timeoutMs, void* context, ReadDataCallable readData,
                       int fifoSize)
{
    m_Ip = ip ? ip : "";
    m_Port = port ? port : "";
    m_HostDirectory = platform::hostProgramDirectory();

    setDebugActive(false);
    readDebugOptions(m_HostDirectory);
    m_Tcp.SetLog(m_Log);

    try {
        m_Ring = fifoSize > 0 ? std::make_unique<stream::FrameRing>(static_cast<size_t>(fifoSize)) : nullptr;
    } catch (const std::bad_alloc&) {
        m_Ring.reset();
    }
    if (!m_Ring) {
        logGlobal("Failed to allocate memory");
        return true;
    }
    if (debugActive())
        m_Log->raw("\n\n\n\n\n" + logPrefix(this) + format("memory allocated [%u bytes]", fifoSize) + "\n");

    m_Tcp.Reset();
    m_Tcp.SetCallbacks([this] { InitializeAcquisition(); }, [this] { OnTcpDisconnected(); },
                      [this](char* data, unsigned long length) { OnReceive(data, length); }, context,
                      std::move(readData));
    m_Status = 0;
    m_Tcp.Start(m_Ip, m_Port, timeoutMs);
    return false;
}

void CQuillan::InitializeAcquisition()
{
    log("set initializ acquisition");
    // Nothing of the previous connection survives: its bytes, frames and kept blocks.
    m_Lin.clearParametersLoaded();
    m_Parser.reset();
    m_Ring->reset();
    m_Ring->setDelivery(false);
    {
        std::lock_guard lock(m_DecodeMutex);
        m_Decoder.reset();
    }
    {
        std::lock_guard lock(m_StatusMutex);
        m_StatusFrame.clear();
        m_Delivered = false;
        m_NewStatus = false;
    }
    m_Captured = 0;

    // Sent directly: the echo-mode path would wait for an answer only this thread can receive.
    std::string hello = std::string("SetHostLibraryVersion=") + kVersionText + "\r";
    m_Tcp.Send(hello.data(), static_cast<int>(hello.size()));
    m_Tcp.Send(reinterpret_cast<const char*>(kStartPacket), sizeof(kStartPacket));

    if (m_CaptureSize > 0) {
        auto t = platform::localTimeNow();
        std::string name = format("[%u] %04u%02u%02u_%02u%02u%02u_RxRawData.bin",
                                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)), t.year, t.month, t.day,
                                  t.hour, t.minute, t.second);
        m_Log->raw(name + "\n");
        m_DumpName = m_HostDirectory + name;
    }
}

void CQuillan::writeCapture()
{
    std::remove(m_DumpName.c_str());
    std::ofstream out(m_DumpName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(m_Capture.get()), m_Captured);
}

void CQuillan::OnTcpDisconnected()
{
    m_Status = 0;
    m_LinValid = 0;
    m_XmlAnswers.dropPending();
    if (m_Ring)
        m_Ring->setDelivery(false);
    if (m_CaptureSize > 0 && m_Captured > 0 && m_Captured < m_CaptureSize) {
        writeCapture();
        m_Captured = 0;
    }
}

void CQuillan::OnReceive(char* data, unsigned long length)
{
    if (m_CaptureSize > 0 && m_Captured < m_CaptureSize) {
        uint32_t n = static_cast<uint32_t>(std::min<unsigned long>(length, m_CaptureSize - m_Captured));
        std::memcpy(m_Capture.get() + m_Captured, data, n);
        m_Captured += n;
        if (m_Captured == m_CaptureSize) {
            writeCapture();
            m_Captured = kCaptureFinished;
        }
    }
    m_Parser.feed(reinterpret_cast<const uint8_t*>(data), length);
}

void CQuillan::ScannerReady()
{
    m_Status = 3;
    log("scanner ready");
}

void CQuillan::store(const uint8_t* frame, size_t length, platform::Event& event)
{
    auto result = m_Ring->push(frame, length);
    if (result.emptied) {
        logGlobal("Reset FiFo");
        ProfileDataEvent.reset();
    }
    if (result.overwritten > 0)
        logGlobal("Q7TX-Dll: Write<Read AND Write+Buffer>Read");
    if (result.stored) {
        {
            std::lock_guard lock(m_StatusMutex);
            m_NewStatus = true;
        }
        event.set();
    }
}

void CQuillan::storeProfileContainer(const uint8_t* frame, size_t length) { store(frame, length, ProfileDataEvent); }

void CQuillan::storeImageContainer(const uint8_t* frame, size_t length) { store(frame, length, ImageFrameEvent); }

void CQuillan::storeLegacyProfile(const uint8_t* frame, size_t length) { store(frame, length, ProfileDataEvent); }

void CQuillan::xmlReceived(std::string_view text)
{
    std::string copy(text);
    // Parsed before the waiting request is woken: its next request may rely on the new texts.
    bool parsed = m_Info.parse(copy.c_str(), platform::tickCountMs());
    m_XmlAnswers.answered(std::move(copy), parsed);
}

void CQuillan::syncContainerArrived() { SyncContainerEvent.set(); }

void CQuillan::linearizationReceived(const uint8_t* image, size_t length)
{
    if (m_Lin.loadImage(image, length) == kLinOk) {
        m_LinValid = 1;
        ScannerReady();
    }
}

void CQuillan::synchronisationChanged(bool synchronised) { m_Ring->setDelivery(synchronised); }

stream::FifoLevels CQuillan::fifoLevels() const { return m_Ring->levels(); }

void CQuillan::ResetFifo()
{
    if (m_Ring)
        m_Ring->reset();
    {
        // Frames stored from now on are the status source until a profile is read again.
        std::lock_guard lock(m_StatusMutex);
        m_StatusFrame.clear();
        m_Delivered = false;
        m_NewStatus = true;
    }
    ProfileDataEvent.reset();
    logGlobal("Reset FiFo");
}

int CQuillan::fifoFillPercent() const { return m_Ring ? static_cast<int>(m_Ring->levels().fillPercent) : 0; }

void CQuillan::pause200ms()
{
    uint32_t start = platform::tickCountMs();
    while (platform::tickCountMs() - start < 200)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

int CQuillan::SetLinearizationFile(const char* path)
{
    m_LinValid = 0;
    m_Lin.clear();
    int rc = m_Lin.loadFile(path);
    if (rc == kLinOk)
        m_LinValid = 1;
    return rc;
}

void CQuillan::Cleanup()
{
    logGlobal("Cleaning");
    log("Stoping the TCP thread " + m_Tcp.ip());
    m_Tcp.Stop();
    m_LinValid = 0;
    m_Lin.clear();
    m_Capture.reset();
    m_Ring.reset();
    m_CaptureSize = 0;
    m_Captured = 0;
    m_Log->closeFile();
}

}  // namespace quillan
