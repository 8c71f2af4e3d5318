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

namespace quillan {
namespace {
constexpr uint32_t kCaptureFinished = 0xFFFFFFFFu;
constexpr uint8_t kStartPacket[8] = {0x02, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02};
}  // namespace

CQuillan::CQuillan() { statisticsTick_ = platform::tickCountMs(); }

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

    fifo_.reset(fifoSize > 0 ? new (std::nothrow) uint8_t[static_cast<size_t>(fifoSize)] : nullptr);
    if (!fifo_) {
        logGlobal("Failed to allocate memory");
        return true;
    }
    if (debugActive())
        log_->raw("\n\n\n\n\n" + logPrefix(this) + format("memory allocated [%u bytes]", fifoSize) + "\n");

    fifoWrite_ = 0;
    fifoRead_ = 0;
    fifoSize_ = fifoSize;
    tcp_.Reset();
    tcp_.SetCallbacks([this] { InitializeAcquisition(); }, [this] { OnTcpDisconnected(); },
                      [this](char* data, unsigned long length) { OnReceive(data, length); }, context,
                      std::move(readData));

    status_ = 0;
    synchronised_ = false;
    byteCount_ = 0;
    frameLength_ = kDefaultFrameLength;
    statisticsTick_ = platform::tickCountMs();

    tcp_.Start(ip_, port_, timeoutMs);
    return false;
}

void CQuillan::InitializeAcquisition()
{
    log("set initializ acquisition");
    byteCount_ = 0;
    {
        std::lock_guard lock(fifoWriteMutex_);
        fifoWrite_ = 0;
    }
    {
        std::lock_guard lock(fifoReadMutex_);
        fifoRead_ = 0;
    }
    statisticsTick_ = streamStartTick_ = platform::tickCountMs();
    synchronised_ = false;
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
    if (captureSize_ > 0 && captured_ > 0 && captured_ < captureSize_) {
        writeCapture();
        captured_ = 0;
    }
}

void CQuillan::OnReceive(char* data, unsigned long length)
{
    byteCount_ += length;
    if (captureSize_ > 0 && captured_ < captureSize_) {
        uint32_t n = static_cast<uint32_t>(std::min<unsigned long>(length, captureSize_ - captured_));
        std::memcpy(capture_.get() + captured_, data, n);
        captured_ += n;
        if (captured_ == captureSize_) {
            writeCapture();
            captured_ = kCaptureFinished;
        }
    }
}

void CQuillan::ScannerReady()
{
    status_ = 3;
    log("scanner ready");
}

void CQuillan::ResetFifo()
{
    log("Reset FiFo");
    std::scoped_lock lock(fifoWriteMutex_, fifoReadMutex_);
    fifoWrite_ = 0;
    fifoRead_ = 0;
}

int CQuillan::fifoFillPercent() const
{
    int write = fifoWrite_;
    int read = fifoRead_;
    if (write == read || fifoSize_ <= 0)
        return 0;
    double fill = write - read;
    if (read >= write)
        fill += fifoSize_;
    return static_cast<int>(fill / fifoSize_ * 100.0);
}

void CQuillan::pause200ms()
{
    uint32_t start = platform::tickCountMs();
    while (platform::tickCountMs() - start < 200)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void CQuillan::Cleanup()
{
    logGlobal("Cleaning");
    log("Stoping the TCP thread " + tcp_.ip());
    tcp_.Stop();
    synchronised_ = false;
    linValid_ = 0;
    capture_.reset();
    fifo_.reset();
    captureSize_ = 0;
    captured_ = 0;
    log_->closeFile();
}

}  // namespace quillan
