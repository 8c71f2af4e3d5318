#pragma once
// One scanner connection: the TCP client, the stream parser and frame FIFO fed by it,
// the linearization data and descriptor received from the scanner, the events that wake
// readers, and the connection's debug output.
#include "src/debug_log.h"
#include "src/info_strings.h"
#include "src/tcp_client.h"
#include "src/xml_exchange.h"

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
    const LinStore& linearization() const { return m_Lin; }

    int status() const { return m_Status; }
    bool onReceiveThread() const { return m_Tcp.onThread(); }
    const std::string& ip() const { return m_Ip; }

    void log(const std::string& text) { m_Log->line(this, text); }
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
    bool linearizationValid() const override { return m_LinValid != 0; }
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
    // it; the caller holds m_StatusMutex.
    void expireDeliveredLocked();
    void readDebugOptions(const std::string& directory);
    void writeCapture();
    void pause200ms();
    // Sends an XML request (descriptor or settings set) and waits up to 1000 ms for its own answer.
    std::optional<XmlExchange::Answer> askXml(const char* command);
    int fetchXml(const char* command, char* buf, int len, int tooLong, int nothing);
    int decodeStatus(stream::StatusRecord& record);

    std::string m_Ip;
    std::string m_Port;

    // Registering an XML request and sending it happen together, so answers match requests.
    std::mutex m_XmlRequestMutex;
    std::mutex m_CommandMutex;

    std::atomic<int> m_Status{0};
    std::atomic<int> m_LinValid{0};

    std::unique_ptr<stream::FrameRing> m_Ring;
    stream::StreamParser m_Parser{*this};
    LinStore m_Lin;
    InfoStrings m_Info;
    XmlExchange m_XmlAnswers;

    // Decoding, shared by the profile and image readers.
    std::mutex m_DecodeMutex;
    ProfileContainerDecoder m_Decoder;
    std::unique_ptr<DecodedProfile> m_Profile = std::make_unique<DecodedProfile>();
    std::vector<uint8_t> m_Frame;
    std::vector<uint8_t> m_ImageFrame;
    uint32_t m_LastFillReport = 0;

    // Status values come from the frame last delivered to a reader while profiles are read, else
    // from the newest stored frame.
    std::mutex m_StatusMutex;
    std::vector<uint8_t> m_StatusFrame;
    bool m_Delivered = false;  // m_StatusFrame holds a delivered frame
    uint32_t m_DeliveredTick = 0;
    bool m_NewStatus = false;
    stream::StatusRecord m_StatusRecord{};

    // Connection flags set by local commands.
    std::atomic<bool> m_SortX{false};
    std::atomic<bool> m_EchoMode{false};
    std::atomic<bool> m_NewestFrameOnly{false};

    // Capture of the received bytes into a dump file (receive thread).
    std::unique_ptr<uint8_t[]> m_Capture;
    uint32_t m_CaptureSize = 0;
    uint32_t m_Captured = 0;
    std::string m_DumpName;
    std::string m_HostDirectory;

    std::shared_ptr<DebugLog> m_Log = std::make_shared<DebugLog>();
    TcpClient m_Tcp;
};

}  // namespace quillan
