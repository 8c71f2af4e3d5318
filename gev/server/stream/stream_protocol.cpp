#include "server/stream/stream_protocol.h"

#include "model/bootstrap_registers.h"
#include "model/register_map.h"
#include "server/stream/stream_clock.h"

#include <algorithm>
#include <stdexcept>

namespace Kivu {

StreamProtocol::StreamProtocol(std::shared_ptr<RegTree> tree, uint32_t channel, std::unique_ptr<StreamSocket> socket,
                               std::shared_ptr<StreamSources> sources)
    : m_Tree(std::move(tree)), m_Channel(channel),
      m_Sources(sources ? std::move(sources) : std::make_shared<StreamSources>(channel + 1)),
      m_Socket(std::move(socket)), m_Random(std::random_device{}())
{
    using Bootstrap::StreamChannel;
    m_Scp = reg(StreamChannel(Bootstrap::kStreamChannelPort0, channel));
    m_Scps = reg(StreamChannel(Bootstrap::kStreamChannelPacketSize0, channel));
    m_Scpd = reg(StreamChannel(Bootstrap::kStreamChannelPacketDelay0, channel));
    m_Scda = reg(StreamChannel(Bootstrap::kStreamChannelDestinationAddress0, channel));
    m_Scsp = reg(StreamChannel(Bootstrap::kStreamChannelSourcePort0, channel));
    m_CurrentIp = reg(Bootstrap::kCurrentIpAddress);
    m_TickHigh = reg(Bootstrap::kTimestampTickFrequencyHigh);
    m_TickLow = reg(Bootstrap::kTimestampTickFrequencyLow);
    m_TsControl = reg(Bootstrap::kTimestampControl);
    m_TsHigh = reg(Bootstrap::kTimestampValueHigh);
    m_TsLow = reg(Bootstrap::kTimestampValueLow);
    m_MaxPacket = reg(Manufacturer::kAdapterMtu);
    m_AcqStart = reg(Manufacturer::kAcquisitionStart);
    m_AcqStop = reg(Manufacturer::kAcquisitionStop);
    m_Resend = m_Tree->FindResendCmd();
    if (!m_Resend)
        throw std::runtime_error("Missing resend mailbox\n");
    const uint64_t f = (uint64_t(m_TickHigh->GetValue()) << 32) | m_TickLow->GetValue();
    m_TickFrequency.store(f != 0 ? f : 1000000000);
    m_PacketBytes.store(Gvsp::PacketBytes(m_Scps->GetValue()));
    m_ScpValue = m_Scp->GetValue();
    m_Delay.store(m_Scpd->GetValue());
    m_Buffers.resize(kBuffers);
    for (size_t i = 0; i < kBuffers; ++i)
        m_Free.push(static_cast<int>(i));
    subscribeAll();
}

StreamProtocol::~StreamProtocol()
{
    unsubscribeAll();
    Stop();
}

// ---- Lifecycle -----------------------------------------------------------

bool StreamProtocol::Start(uint32_t gevMode)
{
    if (IsStarted() || (gevMode != GevMode::Standard && gevMode != GevMode::Extended))
        return false;
    m_GevMode.store(gevMode);
    {
        std::lock_guard lk(m_Mutex);
        m_BlockId16 = 0;
        m_BlockId64 = 0;
        m_Repacketize = true;
        m_FrameBegun = false;
    }
    m_Stopping.store(false);
    m_Streaming.store(false);
    m_Thread = std::jthread([this] { streamThread(); });
    m_Scp->SetValue(0);
    m_Scda->SetValue(0);
    return true;
}

void StreamProtocol::RequestStop()
{
    std::lock_guard lk(m_Mutex);
    m_Stopping.store(true);
    m_ReadyCv.notify_all();
    m_FreeCv.notify_all();
    m_StreamingCv.notify_all();
}

void StreamProtocol::Stop()
{
    RequestStop();
    if (m_Streaming.load())
        stopStreaming();
    if (m_Thread.joinable())
        m_Thread.join();
    if (m_Scp->GetValue() != 0)
        m_Scp->SetValue(0);
    if (m_Scda->GetValue() != 0)
        m_Scda->SetValue(0);
    // A producer inside a send entry sees the stop flag and leaves; only then
    // are its buffers reset.
    std::lock_guard send(m_SendMutex);
    std::unique_lock lk(m_Mutex);
    waitIdleLocked(lk);
    m_Free.clear();
    m_Ready.clear();
    m_History.clear();
    m_Held = -1;
    for (size_t i = 0; i < kBuffers; ++i) {
        SendBuffer& b = m_Buffers[i];
        b = SendBuffer{};
        m_Free.push(static_cast<int>(i));
    }
    m_FrameBegun = false;
}

// ---- Configuration -------------------------------------------------------

void StreamProtocol::SetGeometry(const FrameGeometry& g)
{
    std::lock_guard lk(m_Mutex);
    m_Geometry = g;
    m_Repacketize = true;
    m_Compressor.Reinitialise();
}

bool StreamProtocol::SetChunkSize(uint32_t bytes)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    m_ChunkSize = bytes;
    m_Compressor.Reinitialise();
    return true;
}

uint32_t StreamProtocol::GetChunkSize() const
{
    std::lock_guard lk(m_Mutex);
    return m_ChunkSize;
}

bool StreamProtocol::SetCompressionMode(uint16_t mode)
{
    if (m_Streaming.load() || !m_Compressor.SetMode(mode))
        return false;
    if (mode != Compression::Mode::None)
        Repacketize();
    return true;
}

uint64_t StreamProtocol::rawBytesLocked() const
{
    if (m_Parts.empty())
        return uint64_t(m_Geometry.width) * m_Geometry.height * PixelBits(m_Geometry.pixelFormat) / 8;
    uint64_t size = 0;
    for (const ImagePartEntry& p : m_Parts)
        size += uint64_t(p.width) * p.height * PixelBits(p.pixelFormat) / 8;
    return size;
}

uint64_t StreamProtocol::payloadSizeLocked() const
{
    return Compression::PayloadBytes(m_Compressor.Mode(), rawBytesLocked()) + m_ChunkSize;
}

uint64_t StreamProtocol::PayloadSize() const
{
    std::lock_guard lk(m_Mutex);
    return payloadSizeLocked();
}

uint64_t StreamProtocol::FrameBytes() const
{
    std::lock_guard lk(m_Mutex);
    return rawBytesLocked() + m_ChunkSize;
}

FrameGeometry StreamProtocol::LatchedGeometry() const
{
    std::lock_guard lk(m_Mutex);
    return m_Latched.geometry;
}

uint64_t StreamProtocol::LatchedFrameBytes() const
{
    std::lock_guard lk(m_Mutex);
    const FrameGeometry& g = m_Latched.geometry;
    return uint64_t(g.width) * g.height * PixelBits(g.pixelFormat) / 8 + m_ChunkSize;
}

uint64_t StreamProtocol::LatchedPayloadSize() const
{
    std::lock_guard lk(m_Mutex);
    const FrameGeometry& g = m_Latched.geometry;
    const uint64_t raw = uint64_t(g.width) * g.height * PixelBits(g.pixelFormat) / 8;
    return Compression::PayloadBytes(m_Latched.compression, raw) + m_ChunkSize;
}

size_t StreamProtocol::FreeBufferCount() const
{
    std::lock_guard lk(m_Mutex);
    return m_Free.size();
}

void StreamProtocol::SetPacketDrop(bool enabled, uint32_t period, uint32_t first, uint32_t resume, uint64_t delayNs)
{
    if (!enabled) {
        m_DropEnabled.store(false);
        return;
    }
    m_DropPeriod.store(period);
    m_DropFirst.store(first);
    m_DropResume.store(resume);
    m_DropEnabled.store(true);
    const uint64_t ticks = scale(delayNs, m_TickFrequency.load(), 1000000000);
    m_Scpd->SetValue(static_cast<uint32_t>(std::min<uint64_t>(ticks, UINT32_MAX)));
}

bool StreamProtocol::SetShuffle(bool on)
{
    std::lock_guard lk(m_Mutex);
    if (m_Streaming.load())
        return false;
    if (!on && m_Held >= 0) {
        releaseLocked(m_Held);
        m_Held = -1;
        m_FreeCv.notify_all();
    }
    m_Shuffle.store(on);
    return true;
}

// ---- Timestamps ----------------------------------------------------------

bool StreamProtocol::SetTimestampSource(uint32_t mode, uint64_t start)
{
    if (m_Streaming.load())
        return false;
    if (mode != TimestampMode::LocalTime && mode != TimestampMode::Counter && mode != TimestampMode::Fixed)
        return false;
    if (start != 0)
        m_Origin.store(start);
    m_TimestampMode.store(mode);
    m_TickFrequency.store(1000000000);
    m_TickHigh->SetValue(0);
    m_TickLow->SetValue(1000000000);
    return true;
}

uint64_t StreamProtocol::GetTimestamp()
{
    uint64_t ticks = 0;
    const uint64_t f = m_TickFrequency.load();
    switch (m_TimestampMode.load()) {
    case TimestampMode::LocalTime: ticks = scale(static_cast<uint64_t>(clockNs(CLOCK_REALTIME)), f, 1000000000); break;
    case TimestampMode::Counter: {
        const uint64_t now = static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC));
        const uint64_t origin = m_Origin.load();
        ticks = scale(now > origin ? now - origin : 0, f, 1000000000);
        break;
    }
    default: ticks = m_FixedTimestamp.load(); break;
    }
    m_LastTimestamp.store(ticks);
    return ticks;
}

void StreamProtocol::RestartTimestampOrigin()
{
    if (m_TimestampMode.load() == TimestampMode::Counter)
        m_Origin.store(static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC)));
}

uint64_t StreamProtocol::CurrentBlockId() const
{
    std::lock_guard lk(m_Mutex);
    const uint64_t id = m_GevMode.load() == GevMode::Standard ? m_BlockId16 : m_BlockId64;
    return id == 0 ? 1 : id;
}

}  // namespace Kivu
