#pragma once
// One scanner connection: the TCP client, the state received from the scanner, the frame FIFO,
// the events that wake readers, and the connection's debug output.
#include "debug_log.h"
#include "tcp_client.h"

#include "platform/event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quillan {

class CQuillan {
public:
    using ReadDataCallable = std::function<void(char*, int)>;

    static constexpr int kDefaultFrameLength = 24960;

    CQuillan();
    virtual ~CQuillan();
    CQuillan(const CQuillan&) = delete;
    CQuillan& operator=(const CQuillan&) = delete;

    // True on failure (the FIFO could not be allocated).
    bool Connect(const char* ip, const char* port, int timeoutMs, void* context, ReadDataCallable readData,
                 int fifoSize);
    void Cleanup();

    // Receive-thread callbacks.
    void InitializeAcquisition();
    void OnTcpDisconnected();
    void OnReceive(char* data, unsigned long length);
    void ScannerReady();

    int SendCommand(const char* text, int len);
    void ResetFifo();
    int fifoFillPercent() const;

    int status() const { return status_; }
    bool onReceiveThread() const { return tcp_.onThread(); }
    const std::string& ip() const { return ip_; }
    bool hasLinearization() const { return linValid_ != 0; }

    void log(const std::string& text) { log_->line(this, text); }
    // Lines written only while the process-wide debug flag is set.
    void logGlobal(const std::string& text)
    {
        if (debugActive())
            log(text);
    }

    // Events readers wait on.
    platform::Event ProfileDataEvent{false, false};
    platform::Event XmlParsedEvent{true, false};
    platform::Event XmlReceivedEvent{true, false};
    platform::Event SyncContainerEvent{true, false};
    platform::Event ImageFrameEvent{false, false};

private:
    void readDebugOptions(const std::string& directory);
    void writeCapture();
    void pause200ms();

    std::string ip_;
    std::string port_;

    std::mutex xmlMutex_;
    std::mutex commandMutex_;
    std::mutex fifoWriteMutex_;
    std::mutex fifoReadMutex_;

    std::atomic<int> status_{0};
    std::atomic<int> linValid_{0};

    // Frame FIFO.
    std::unique_ptr<uint8_t[]> fifo_;
    int fifoSize_ = 0;
    std::atomic<int> fifoWrite_{0};
    std::atomic<int> fifoRead_{0};
    int frameLength_ = kDefaultFrameLength;
    std::atomic<bool> synchronised_{false};

    // Connection flags set by local commands.
    std::atomic<bool> sortX_{false};
    std::atomic<bool> echoMode_{false};
    std::atomic<bool> newestFrameOnly_{false};

    // Statistics.
    uint64_t byteCount_ = 0;
    uint32_t statisticsTick_ = 0;
    uint32_t streamStartTick_ = 0;

    // Capture of the received bytes into a dump file.
    std::unique_ptr<uint8_t[]> capture_;
    uint32_t captureSize_ = 0;
    uint32_t captured_ = 0;
    std::string dumpName_;
    std::string hostDirectory_;

    std::shared_ptr<DebugLog> log_ = std::make_shared<DebugLog>();
    TcpClient tcp_;
};

}  // namespace quillan
