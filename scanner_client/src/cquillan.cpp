#include "cquillan.h"

#include "debug_options.h"
#include "version.h"

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
    tcp_.Stop();
    log_->closeFile();
}

void CQuillan::readDebugOptions(const std::string& directory)
{
    std::ifstream in(directory + kDebugOptionsFileName);
    if (!in.is_open())
        return;
    DebugOptions options = parseDebugOptions(in);
    if (options.captureBytes > 0) {
        capture_.reset(new (std::nothrow) uint8_t[options.captureBytes]);
        captureSize_ = capture_ ? options.captureBytes : 0;
        captured_ = 0;
        platform::debugOutput(format("QuillanDll: Debug: savereceivedbinarydata=%s(%u)\n",
                                     options.captureValueText.c_str(), captureSize_)
                                  .c_str());
    }
    if (options.debugFile && !log_->openFile(directory + debugFileName(ip_)))
        platform::debugOutput("Error opening the debug file\n");
    if (options.debugTerminal) {
        log_->enableTerminal();
        platform::debugOutput("QuillanDll: Debug: active\n");
    }
    setDebugActive(true);
}

bool CQuillan::Connect(const char* ip, const char* port, int timeoutMs, void* context, ReadDataCallable readData,
                       int fifoSize)
{
    ip_ = ip ? ip : "";
    port_ = port ? port : "";
    hostDirectory_ = platform::hostProgramDirectory();

    setDebugActive(false);
    readDebugOptions(hostDirectory_);
    tcp_.SetLog(log_);

    try {
        ring_ = fifoSize > 0 ? std::make_unique<stream::FrameRing>(static_cast<size_t>(fifoSize)) : nullptr;
    } catch (const std::bad_alloc&) {
        ring_.reset();
    }
    if (!ring_) {
        logGlobal("Failed to allocate memory");
        return true;
    }
    if (debugActive())
        log_->raw("\n\n\n\n\n" + logPrefix(this) + format("memory allocated [%u bytes]", fifoSize) + "\n");

    tcp_.Reset();
    tcp_.SetCallbacks([this] { InitializeAcquisition(); }, [this] { OnTcpDisconnected(); },
                      [this](char* data, unsigned long length) { OnReceive(data, length); }, context,
                      std::move(readData));
    status_ = 0;
    tcp_.Start(ip_, port_, timeoutMs);
    return false;
}

void CQuillan::InitializeAcquisition()
{
    log("set initializ acquisition");
    // Nothing of the previous connection survives: its bytes, frames and kept blocks.
    lin_.clearParametersLoaded();
    parser_.reset();
    ring_->reset();
    ring_->setDelivery(false);
    {
        std::lock_guard lock(decodeMutex_);
        decoder_.reset();
    }
    {
        std::lock_guard lock(statusMutex_);
        statusFrame_.clear();
        delivered_ = false;
        newStatus_ = false;
    }
    captured_ = 0;

    // Sent directly: the echo-mode path would wait for an answer only this thread can receive.
    std::string hello = std::string("SetHostLibraryVersion=") + kVersionText + "\r";
    tcp_.Send(hello.data(), static_cast<int>(hello.size()));
    tcp_.Send(reinterpret_cast<const char*>(kStartPacket), sizeof(kStartPacket));

    if (captureSize_ > 0) {
        auto t = platform::localTimeNow();
        std::string name = format("[%u] %04u%02u%02u_%02u%02u%02u_RxRawData.bin",
                                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)), t.year, t.month, t.day,
                                  t.hour, t.minute, t.second);
        log_->raw(name + "\n");
        dumpName_ = hostDirectory_ + name;
    }
}

void CQuillan::writeCapture()
{
    std::remove(dumpName_.c_str());
    std::ofstream out(dumpName_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(capture_.get()), captured_);
}

void CQuillan::OnTcpDisconnected()
{
    status_ = 0;
    linValid_ = 0;
    xmlAnswers_.dropPending();
    if (ring_)
        ring_->setDelivery(false);
    if (captureSize_ > 0 && captured_ > 0 && captured_ < captureSize_) {
        writeCapture();
        captured_ = 0;
    }
}

void CQuillan::OnReceive(char* data, unsigned long length)
{
    if (captureSize_ > 0 && captured_ < captureSize_) {
        uint32_t n = static_cast<uint32_t>(std::min<unsigned long>(length, captureSize_ - captured_));
        std::memcpy(capture_.get() + captured_, data, n);
        captured_ += n;
        if (captured_ == captureSize_) {
            writeCapture();
            captured_ = kCaptureFinished;
        }
    }
    parser_.feed(reinterpret_cast<const uint8_t*>(data), length);
}

void CQuillan::ScannerReady()
{
    status_ = 3;
    log("scanner ready");
}

void CQuillan::store(const uint8_t* frame, size_t length, platform::Event& event)
{
    auto result = ring_->push(frame, length);
    if (result.emptied) {
        logGlobal("Reset FiFo");
        ProfileDataEvent.reset();
    }
    if (result.overwritten > 0)
        logGlobal("Q7TX-Dll: Write<Read AND Write+Buffer>Read");
    if (result.stored) {
        {
            std::lock_guard lock(statusMutex_);
            newStatus_ = true;
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
    bool parsed = info_.parse(copy.c_str(), platform::tickCountMs());
    xmlAnswers_.answered(std::move(copy), parsed);
}

void CQuillan::syncContainerArrived() { SyncContainerEvent.set(); }

void CQuillan::linearizationReceived(const uint8_t* image, size_t length)
{
    if (lin_.loadImage(image, length) == kLinOk) {
        linValid_ = 1;
        ScannerReady();
    }
}

void CQuillan::synchronisationChanged(bool synchronised) { ring_->setDelivery(synchronised); }

stream::FifoLevels CQuillan::fifoLevels() const { return ring_->levels(); }

void CQuillan::ResetFifo()
{
    if (ring_)
        ring_->reset();
    {
        // Frames stored from now on are the status source until a profile is read again.
        std::lock_guard lock(statusMutex_);
        statusFrame_.clear();
        delivered_ = false;
        newStatus_ = true;
    }
    ProfileDataEvent.reset();
    logGlobal("Reset FiFo");
}

int CQuillan::fifoFillPercent() const { return ring_ ? static_cast<int>(ring_->levels().fillPercent) : 0; }

void CQuillan::pause200ms()
{
    uint32_t start = platform::tickCountMs();
    while (platform::tickCountMs() - start < 200)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

int CQuillan::SetLinearizationFile(const char* path)
{
    linValid_ = 0;
    lin_.clear();
    int rc = lin_.loadFile(path);
    if (rc == kLinOk)
        linValid_ = 1;
    return rc;
}

void CQuillan::Cleanup()
{
    logGlobal("Cleaning");
    log("Stoping the TCP thread " + tcp_.ip());
    tcp_.Stop();
    linValid_ = 0;
    lin_.clear();
    capture_.reset();
    ring_.reset();
    captureSize_ = 0;
    captured_ = 0;
    log_->closeFile();
}

}  // namespace quillan
