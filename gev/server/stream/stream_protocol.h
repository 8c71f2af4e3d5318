#pragma once
// One stream channel: its register hooks, the send buffers and index rings, the
// stream thread that transmits queued blocks, and packet resend from the history.
// Lifecycle, configuration, test knobs and timestamps are in stream_protocol.cpp;
// the hooks in stream_registers.cpp, the buffers, stream thread and resend in
// stream_sender.cpp, block queuing in stream_blocks.cpp, the part list in stream_parts.cpp,
// compressed frames in stream_compressed.cpp.
#include "model/base.h"
#include "model/four_bytes_register.h"
#include "model/mailboxes.h"
#include "model/reg_tree.h"
#include "server/stream/frame_compressor.h"
#include "server/stream/gvsp_packets.h"
#include "server/stream/stream_socket.h"
#include "server/stream/stream_sources.h"

#include <sys/uio.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace Kivu {

namespace TimestampMode {
constexpr uint32_t LocalTime = 0;  // CLOCK_REALTIME
constexpr uint32_t Counter = 1;    // CLOCK_MONOTONIC from an origin
constexpr uint32_t Fixed = 3;      // the value the host gives with each frame
}  // namespace TimestampMode

namespace GevMode {
constexpr uint32_t Standard = 0;  // 16-bit block ids
constexpr uint32_t Extended = 1;  // 64-bit block ids, multi-part
}  // namespace GevMode

// The channel payload type whose blocks the senders build (SetPayloadType).
constexpr uint16_t kImagePayloadType = 1;

// Smallest packet size (SCPS bits 0-15) the channel accepts.
constexpr uint32_t kMinPacketSize = 576;

// Image geometry of the next blocks without parts.
struct FrameGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
};

// One entry of the channel's part list.
struct ImagePartEntry {
    uint8_t key3 = 0, key1 = 0, key2 = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t dataType = 0;
    uint32_t pixelFormat = 0;
    uint64_t dataSize = 0;
    std::shared_ptr<const uint8_t> data;
};

struct PartKey {
    uint8_t key3 = 0, key1 = 0, key2 = 0;
    bool operator==(const PartKey&) const = default;
};

// Bits per pixel of a PFNC value (bits 16-23).
constexpr uint32_t PixelBits(uint32_t pfnc)
{
    return (pfnc >> 16) & 0xFF;
}

class StreamProtocol : public Base {
public:
    // Binds the channel's registers in tree; a missing one raises std::runtime_error.
    // Without sources the channel is the only one and source 0 is selected.
    StreamProtocol(std::shared_ptr<RegTree> tree, uint32_t channel,
                   std::unique_ptr<StreamSocket> socket = std::make_unique<StreamSocket>(),
                   std::shared_ptr<StreamSources> sources = nullptr);
    ~StreamProtocol() override;
    StreamProtocol(const StreamProtocol&) = delete;
    StreamProtocol& operator=(const StreamProtocol&) = delete;

    // Starts the stream thread (not streaming; SCP and SCDA cleared).
    bool Start(uint32_t gevMode);
    // Ends acquisition, wakes every waiter, joins the thread, clears SCP and SCDA.
    void Stop();
    // Sets the stop flag and wakes the producer and the stream thread (Stop follows).
    void RequestStop();
    bool IsStarted() const { return m_Thread.joinable(); }
    bool IsStreaming() const { return m_Streaming.load(); }

    // Producer side (one thread). BeginFrame: waits until the client started
    // acquisition; false when the channel stops.
    bool WaitReady();
    // Image frame: the image bytes and the chunk area (chunkBytes ending at the
    // payload's end without parts, behind the part bytes with one part, from the
    // start with two or more). lines 0 = the configured height. False when refused.
    bool SendImage(const uint8_t* frame, uint64_t chunkBytes, uint32_t lines, uint16_t flags);
    // A data payload of size bytes (extended mode): lines = size / width.
    bool SendImageWithChunk(const uint8_t* buffer, uint64_t size, uint64_t chunkBytes, uint16_t flags);
    // An encoded frame as a JPEG or H.264 block (extended mode).
    bool SendEncoded(Gvsp::BlockKind kind, const uint8_t* data, uint64_t size, uint16_t flags);

    // Configuration (refused while streaming where noted).
    void SetGeometry(const FrameGeometry& g);
    // The senders refuse frames while the type is not kImagePayloadType.
    void SetPayloadType(uint16_t type) { m_PayloadType.store(type); }
    // The next BeginFrame lays the blocks out anew.
    void Repacketize()
    {
        std::lock_guard lk(m_Mutex);
        m_Repacketize = true;
    }
    bool SetChunkSize(uint32_t bytes);  // refused while streaming
    uint32_t GetChunkSize() const;
    // The image bytes (compressed modes: their estimate) and the chunk size.
    uint64_t PayloadSize() const;
    // The geometry the current acquisition's frames use (latched by WaitReady)
    // and its payload size with the chunk size.
    FrameGeometry LatchedGeometry() const;
    uint64_t LatchedPayloadSize() const;
    // The producer's frame buffer: the raw image bytes, then the chunk area
    // (the payload size without compression). Current and latched.
    uint64_t FrameBytes() const;
    uint64_t LatchedFrameBytes() const;

    // Compression (0 none, 1 JPEG, 2 H.264) of the frames without parts sent
    // in extended mode; the next BeginFrame takes a new mode. Refused while
    // streaming (the client sized its buffers for the payload). See FrameCompressor.
    bool SetCompressionMode(uint16_t mode);
    uint16_t CompressionMode() const { return m_Compressor.Mode(); }
    void SetCompressionParameters(uint32_t quality, uint32_t bitrate) { m_Compressor.SetParameters(quality, bitrate); }
    // From BeginFrame until the frame's send ends.
    bool FrameBegun() const
    {
        std::lock_guard lk(m_Mutex);
        return m_FrameBegun;
    }
    bool UpdateImagePart(const ImagePartEntry& entry);  // refused while streaming
    bool SetImagePartData(const PartKey& key, std::shared_ptr<const uint8_t> data, uint32_t size);
    bool RemoveImagePart(const PartKey& key);  // refused while streaming
    std::vector<ImagePartEntry> Parts() const;
    uint16_t FramePartCount() const;
    uint64_t FramePartTotal() const;

    // Timestamps in ticks of the channel's tick frequency.
    bool SetTimestampSource(uint32_t mode, uint64_t start);  // refused while streaming
    void SetFixedTimestamp(uint64_t value) { m_FixedTimestamp.store(value); }
    uint64_t GetTimestamp();
    // Timestamp mode 1: the counter restarts from now.
    void RestartTimestampOrigin();
    uint64_t LastTimestamp() const { return m_LastTimestamp.load(); }
    uint64_t TickFrequency() const { return m_TickFrequency.load(); }
    uint64_t CurrentBlockId() const;

    // The source this channel serves: taken from the selection when an
    // acquisition starts on it (0xA04C names a source streaming on it).
    uint32_t GetSource() const { return m_Sources->CurrentSource(m_Channel); }
    uint32_t Channel() const { return m_Channel; }
    // Buffers in the free ring (not queued, sent, kept for resend or in use).
    size_t FreeBufferCount() const;

    // Test knob: without packets [first, resume) in every block whose id is a
    // multiple of period; delayNs sets the inter-packet delay (in SCPD as ticks).
    void SetPacketDrop(bool enabled, uint32_t period, uint32_t first, uint32_t resume, uint64_t delayNs);
    // Test knob: each block is held until the next one is built, then both
    // have packets swapped (within them and across their boundary) and the held
    // one is queued. Refused while streaming; turning it off frees a held block.
    bool SetShuffle(bool on);

    // Register hooks.
    bool OnScp(UIntReg* reg);
    bool OnScps(UIntReg* reg);
    bool OnScpd(UIntReg* reg);
    bool OnAcquisitionStart(UIntReg* reg);
    bool OnAcquisitionStop(UIntReg* reg);
    bool OnTimestampControl(UIntReg* reg);
    bool OnResend(ResendCmd* cmd);

    static constexpr size_t kBuffers = 5;
    static constexpr size_t kHistory = 3;

private:
    enum class Slot : uint8_t { Free, Filling, Held, Ready, InFlight, History };

    // One packet of a shuffled send order: packet index in its owner buffer.
    struct Element {
        uint32_t packet;
        int owner;
    };

    struct SendBuffer {
        std::vector<uint8_t> data;
        std::vector<uint8_t> headers;
        std::vector<Gvsp::PacketRef> refs;
        std::vector<iovec> iov;
        std::vector<mmsghdr> messages;  // in packet id order, also for resend
        std::vector<Element> order;     // send order when shuffled
        std::vector<mmsghdr> sendOrder; // order resolved by the stream thread
        bool shuffled = false;
        uint32_t borrows = 0;  // bit mask: buffers whose packets the unsent order carries
        uint32_t lends = 0;    // buffers whose unsent order carries packets of this one
        size_t packets = 0;
        uint64_t blockId = 0;
        Slot slot = Slot::Free;
        uint32_t pins = 0;       // resends in progress
        bool release = false;    // return to free when the last pin, send or lend ends
    };

    // Fixed ring of buffer indices.
    struct Ring {
        int items[kBuffers + 1] = {};
        size_t head = 0, count = 0;
        bool empty() const { return count == 0; }
        size_t size() const { return count; }
        void push(int v)
        {
            items[(head + count) % (kBuffers + 1)] = v;
            ++count;
        }
        int pop()
        {
            const int v = items[head];
            head = (head + 1) % (kBuffers + 1);
            --count;
            return v;
        }
        int at(size_t i) const { return items[(head + i) % (kBuffers + 1)]; }
        void clear() { head = count = 0; }
    };

    struct Latched {
        FrameGeometry geometry;
        uint32_t packetBytes = 0;
        uint16_t compression = Compression::Mode::None;
    };

    std::shared_ptr<UIntReg> reg(uint32_t address) const;
    void subscribeAll();
    void unsubscribeAll();

    void streamThread();
    void transmit(SendBuffer& b, uint64_t blockId);
    // Waits until deadlineNs; the time seen then, or -1 when sending must end.
    int64_t paceUntil(int64_t deadlineNs);
    bool sendAllowed() const { return !m_Stopping.load() && m_Streaming.load(); }
    void stopStreaming();
    void releaseLocked(int index);
    void dropBorrowsLocked(int index);
    void shuffleLocked(int held, int current);
    void waitIdleLocked(std::unique_lock<std::mutex>& lk);

    // Producer helpers.
    int acquireBuffer(bool& refused);
    uint64_t nextBlockId();
    struct Source {
        const uint8_t* data;
        uint64_t size;
    };
    bool queueBlock(Gvsp::BlockSpec spec, const Source* sources, size_t count, uint64_t patchLengthAt,
                    uint32_t patchLength);
    uint64_t rawBytesLocked() const;
    uint64_t payloadSizeLocked() const;
    bool sendCompressed(const uint8_t* frame, uint64_t chunkBytes, uint16_t flags, const Latched& latched,
                        uint32_t chunkSize);
    bool queueEncoded(Gvsp::BlockKind kind, const Source* sources, size_t count, uint16_t flags,
                      const Latched& latched);
    bool sendTestPacket(uint32_t size);

    const std::shared_ptr<RegTree> m_Tree;
    const uint32_t m_Channel;
    const std::shared_ptr<StreamSources> m_Sources;
    std::unique_ptr<StreamSocket> m_Socket;
    FrameCompressor m_Compressor;
    std::shared_ptr<UIntReg> m_Scp, m_Scps, m_Scpd, m_Scda, m_Scsp;
    std::shared_ptr<UIntReg> m_CurrentIp, m_MaxPacket, m_TickHigh, m_TickLow, m_TsControl, m_TsHigh, m_TsLow;
    std::shared_ptr<UIntReg> m_AcqStart, m_AcqStop;
    std::shared_ptr<ResendCmd> m_Resend;

    // Guards the rings, the buffer slots, the part list and the geometry.
    mutable std::mutex m_Mutex;
    std::condition_variable m_ReadyCv;      // ready ring non-empty or stopping
    std::condition_variable m_FreeCv;       // a buffer freed, or streaming ended
    std::condition_variable m_StreamingCv;  // streaming started, or stopping
    std::condition_variable m_IdleCv;       // no send or resend in progress
    std::vector<SendBuffer> m_Buffers;
    Ring m_Free, m_Ready, m_History;
    int m_InFlight = -1;
    int m_Held = -1;  // the block held back for shuffling
    std::atomic<bool> m_Shuffle{false};
    std::minstd_rand m_Random;  // under m_Mutex

    std::mutex m_SendMutex;  // serialises the send entries
    std::mutex m_ResendMutex;
    std::vector<mmsghdr> m_ResendMessages;
    std::vector<uint8_t> m_TestPacket;

    std::jthread m_Thread;
    std::atomic<bool> m_Stopping{false};
    std::atomic<bool> m_Streaming{false};
    std::atomic<uint32_t> m_GevMode{GevMode::Standard};
    std::atomic<uint16_t> m_PayloadType{kImagePayloadType};
    std::atomic<uint32_t> m_Delay{0};  // SCPD ticks
    std::atomic<uint32_t> m_PacketBytes{0};
    uint32_t m_ScpValue = 0;  // under the SCP register's lock

    // Producer state.
    bool m_FrameBegun = false;
    bool m_Repacketize = true;
    Latched m_Latched;
    uint16_t m_BlockId16 = 0;
    uint64_t m_BlockId64 = 0;
    FrameGeometry m_Geometry;
    uint32_t m_ChunkSize = 0;
    std::vector<ImagePartEntry> m_Parts;
    uint16_t m_FrameParts = 0;
    uint64_t m_FramePartTotal = 0;

    // Timestamps.
    std::atomic<uint32_t> m_TimestampMode{TimestampMode::Counter};
    std::atomic<uint64_t> m_Origin{0};
    std::atomic<uint64_t> m_FixedTimestamp{0};
    std::atomic<uint64_t> m_LastTimestamp{0};
    std::atomic<uint64_t> m_TickFrequency{1000000000};

    // Packet drop knob.
    std::atomic<bool> m_DropEnabled{false};
    std::atomic<uint32_t> m_DropPeriod{0}, m_DropFirst{0}, m_DropResume{0};
};

}  // namespace Kivu
