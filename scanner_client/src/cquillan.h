#pragma once
// One scanner connection: the TCP client, the stream parser and frame FIFO fed by it,
// the linearization data and descriptor received from the scanner, the events that wake
// readers, and the connection's debug output.
#include "debug_log.h"
#include "info_strings.h"
#include "tcp_client.h"
#include "xml_exchange.h"

#include "lin/decoded_profile.h"
#include "lin/lin_store.h"
#include "lin/profile_container.h"
#include "platform/event.h"
#include "stream/frame_ring.h"
#include "stream/status_container.h"
#include "stream/stream_parser.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

struct XziOutputs {
    double* x;
    double* z;
    int* intensity;
    int* width;
    int maxPoints;
    unsigned* encoder;
    unsigned char* ioBits;
    unsigned char* rawBuf;
    int rawBufLen;
    int* pictureCounter;
};

struct ImageOutputs {
    unsigned* widthX;
    unsigned* heightZ;
    unsigned* offsetX;
    unsigned* offsetZ;
    unsigned* stepX;
    unsigned* stepZ;
};

class CQuillan : private stream::StreamSink {
public:
    using ReadDataCallable = std::function<void(char*, int)>;

    CQuillan();
    ~CQuillan() override;
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

    // Caller-thread operations, each under its lock of the connection table.
    int SendCommand(const char* text, int len);
    void ResetFifo();
    int fifoFillPercent() const;
    int GetXZIExtended(const XziOutputs& out, int timeoutMs);
    int GetRawData(unsigned char* buf, int len);
    int GetImage(char* buf, int bufLen, const ImageOutputs& out, unsigned timeoutMs);
    int GetInfo(char* buf, int len, const char* kind);
    int ReadData(const char* name, char* buf, int len, int cacheMs);
    // Logs "calling XML", asks for the descriptor and waits for its answer.
    std::optional<XmlExchange::Answer> RequestXmlDescriptor();
    int SetLinearizationFile(const char* path);
    const LinStore& linearization() const { return lin_; }

    int status() const { return status_; }
    bool onReceiveThread() const { return tcp_.onThread(); }
    const std::string& ip() const { return ip_; }

    void log(const std::string& text) { log_->line(this, text); }
    void log(const char* text) { log(std::string(text)); }
    // Lines written only while the process-wide debug flag is set.
    void logGlobal(const std::string& text)
    {
        if (debugActive())
            log(text);
    }

    // Events readers wait on.
    platform::Event ProfileDataEvent{false, false};
    platform::Event SyncContainerEvent{true, false};
    platform::Event ImageFrameEvent{false, false};

private:
    // Stream sink: called by the parser on the receive thread.
    void storeProfileContainer(const uint8_t* frame, size_t length) override;
    void storeImageContainer(const uint8_t* frame, size_t length) override;
    void storeLegacyProfile(const uint8_t* frame, size_t length) override;
    void xmlReceived(std::string_view text) override;
    void syncContainerArrived() override;
    bool linearizationValid() const override { return linValid_ != 0; }
    void linearizationReceived(const uint8_t* image, size_t length) override;
    void synchronisationChanged(bool synchronised) override;
    stream::FifoLevels fifoLevels() const override;
    void log(std::string_view line) override { logGlobal(std::string(line)); }
    using StreamSink::log;

    void store(const uint8_t* frame, size_t length, platform::Event& event);
    void fillReport();
    // Status values follow the frame just handed to a reader.
    void noteDelivered();
    // Releases the delivered frame as the status source once profiles are no longer read after
    // it; the caller holds statusMutex_.
    void expireDeliveredLocked();
    void readDebugOptions(const std::string& directory);
    void writeCapture();
    void pause200ms();
    // Sends an XML request (descriptor or settings set) and waits up to 1000 ms for its own answer.
    std::optional<XmlExchange::Answer> askXml(const char* command);
    int fetchXml(const char* command, char* buf, int len, int tooLong, int nothing);
    int decodeStatus(stream::StatusRecord& record);

    std::string ip_;
    std::string port_;

    // Registering an XML request and sending it happen together, so answers match requests.
    std::mutex xmlRequestMutex_;
    std::mutex commandMutex_;

    std::atomic<int> status_{0};
    std::atomic<int> linValid_{0};

    std::unique_ptr<stream::FrameRing> ring_;
    stream::StreamParser parser_{*this};
    LinStore lin_;
    InfoStrings info_;
    XmlExchange xmlAnswers_;

    // Decoding, shared by the profile and image readers.
    std::mutex decodeMutex_;
    ProfileContainerDecoder decoder_;
    std::unique_ptr<DecodedProfile> profile_ = std::make_unique<DecodedProfile>();
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> imageFrame_;
    uint32_t lastFillReport_ = 0;

    // Status values come from the frame last delivered to a reader while profiles are read, else
    // from the newest stored frame.
    std::mutex statusMutex_;
    std::vector<uint8_t> statusFrame_;
    bool delivered_ = false;  // statusFrame_ holds a delivered frame
    uint32_t deliveredTick_ = 0;
    bool newStatus_ = false;
    stream::StatusRecord statusRecord_{};

    // Connection flags set by local commands.
    std::atomic<bool> sortX_{false};
    std::atomic<bool> echoMode_{false};
    std::atomic<bool> newestFrameOnly_{false};

    // Capture of the received bytes into a dump file (receive thread).
    std::unique_ptr<uint8_t[]> capture_;
    uint32_t captureSize_ = 0;
    uint32_t captured_ = 0;
    std::string dumpName_;
    std::string hostDirectory_;

    std::shared_ptr<DebugLog> log_ = std::make_shared<DebugLog>();
    TcpClient tcp_;
};

}  // namespace quillan
