#include "server/stream/stream_protocol.h"

#include "server/stream/gvsp_chunks.h"
#include "platform/bytes.h"

#include <algorithm>
#include <cstring>

namespace Kivu {

// ---- Producer ------------------------------------------------------------

bool StreamProtocol::WaitReady()
{
    if (m_Stopping.load())
        return false;
    std::unique_lock lk(m_Mutex);
    m_StreamingCv.wait(lk, [&] { return m_Stopping.load() || m_Streaming.load(); });
    if (m_Stopping.load())
        return false;
    if (m_Repacketize) {
        m_Latched.geometry = m_Geometry;
        m_Latched.packetBytes = m_PacketBytes.load();
        m_Latched.compression = m_Compressor.Mode();
        m_Repacketize = false;
    }
    m_FrameBegun = true;
    return true;
}

int StreamProtocol::acquireBuffer(bool& refused)
{
    std::unique_lock lk(m_Mutex);
    m_FreeCv.wait(lk, [&] { return m_Stopping.load() || !m_Streaming.load() || !m_Free.empty(); });
    refused = m_Stopping.load();
    if (refused || !m_Streaming.load())
        return -1;
    const int index = m_Free.pop();
    m_Buffers[static_cast<size_t>(index)].slot = Slot::Filling;
    return index;
}

uint64_t StreamProtocol::nextBlockId()
{
    if (m_GevMode.load() == GevMode::Standard) {
        if (++m_BlockId16 == 0)
            m_BlockId16 = 1;
        return m_BlockId16;
    }
    if (++m_BlockId64 == 0)
        m_BlockId64 = 1;
    return m_BlockId64;
}

bool StreamProtocol::queueBlock(Gvsp::BlockSpec spec, const Source* sources, size_t count, uint64_t patchAt,
                                uint32_t patchLength)
{
    Gvsp::LayoutError error = Gvsp::LayoutError::None;
    const Gvsp::LayoutSize size = Gvsp::MeasureBlock(spec, &error);
    if (error != Gvsp::LayoutError::None)
        return false;
    bool refused = false;
    const int index = acquireBuffer(refused);
    if (index < 0)
        return !refused;
    SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
    {
        std::lock_guard lk(m_Mutex);
        spec.blockId = nextBlockId();
    }
    spec.timestamp = GetTimestamp();

    if (b.data.size() < size.dataBytes)
        b.data.resize(size.dataBytes);
    if (b.headers.size() < size.headerBytes)
        b.headers.resize(size.headerBytes);
    if (b.refs.size() < size.packets) {
        b.refs.resize(size.packets);
        b.iov.resize(2 * size.packets);
        b.messages.resize(size.packets);
    }
    uint64_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        if (sources[i].size != 0)
            std::memcpy(b.data.data() + at, sources[i].data, sources[i].size);
        at += sources[i].size;
    }
    if (patchAt != UINT64_MAX && patchAt + 8 <= at)
        platform::storeBE32(b.data.data() + patchAt + 4, patchLength);
    Gvsp::LayoutBlock(spec, b.headers.data(), b.headers.size(), b.refs.data(), b.refs.size());
    for (size_t k = 0; k < size.packets; ++k) {
        const Gvsp::PacketRef& r = b.refs[k];
        iovec* v = &b.iov[2 * k];
        v[0] = {b.headers.data() + r.headerOffset, r.headerLength};
        v[1] = {b.data.data() + r.dataOffset, r.dataLength};
        mmsghdr& m = b.messages[k];
        m = mmsghdr{};
        m.msg_hdr.msg_iov = v;
        m.msg_hdr.msg_iovlen = r.dataLength != 0 ? 2 : 1;
    }
    b.packets = size.packets;
    b.blockId = spec.blockId;
    b.release = false;
    b.shuffled = m_Shuffle.load();
    if (b.shuffled) {
        if (b.order.size() < size.packets)
            b.order.resize(size.packets);
        for (size_t k = 0; k < size.packets; ++k)
            b.order[k] = {static_cast<uint32_t>(k), index};
    }

    std::lock_guard lk(m_Mutex);
    if (!m_Streaming.load() || m_Stopping.load()) {
        // Acquisition ended while the block was built: drop it.
        releaseLocked(index);
        m_FreeCv.notify_all();
        return !m_Stopping.load();
    }
    if (b.shuffled) {
        const int held = m_Held;
        b.slot = Slot::Held;
        m_Held = index;
        if (held < 0)
            return true;  // sent with the next block
        shuffleLocked(held, index);
        m_Buffers[static_cast<size_t>(held)].slot = Slot::Ready;
        m_Ready.push(held);
    } else {
        b.slot = Slot::Ready;
        m_Ready.push(index);
    }
    m_ReadyCv.notify_one();
    return true;
}

bool StreamProtocol::SendImage(const uint8_t* frame, uint64_t chunkBytes, uint32_t lines, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    struct FrameEnd {
        StreamProtocol& p;
        ~FrameEnd()
        {
            std::lock_guard lk(p.m_Mutex);
            p.m_FrameBegun = false;
            p.m_FrameParts = 0;
            p.m_FramePartTotal = 0;
        }
    } end{*this};
    if (m_Stopping.load())
        return false;
    if (!m_Streaming.load())
        return true;
    std::vector<ImagePartEntry> parts;
    Latched latched;
    uint32_t chunkSize = 0;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun || m_PayloadType.load() != kImagePayloadType)
            return false;
        for (const ImagePartEntry& e : m_Parts)
            if (e.data)
                parts.push_back(e);
        latched = m_Latched;
        chunkSize = m_ChunkSize;
    }
    // Parts travel in their own buffers: the frame buffer is needed for chunks only.
    if (frame == nullptr && (parts.empty() || chunkBytes != 0))
        return true;
    if (latched.compression != Compression::Mode::None)
        return parts.empty() && sendCompressed(frame, chunkBytes, flags, latched, chunkSize);

    Gvsp::BlockSpec spec;
    spec.mode = m_GevMode.load() == GevMode::Standard ? Gvsp::IdMode::Standard : Gvsp::IdMode::Extended;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    spec.hasChunks = chunkBytes > 0;

    if (parts.empty()) {
        const FrameGeometry& g = latched.geometry;
        const uint32_t bits = PixelBits(g.pixelFormat);
        const uint64_t full = uint64_t(g.width) * g.height * bits / 8;
        const uint64_t payload = full + chunkSize;
        if (chunkBytes > chunkSize)
            return false;
        const uint32_t sent = lines == 0 ? g.height : std::min(lines, g.height);
        const uint64_t imageBytes = uint64_t(g.width) * sent * bits / 8;
        spec.image = {g.pixelFormat, g.width, g.height, g.offsetX, g.offsetY};
        spec.trailerSizeY = sent;
        spec.payloadSize = imageBytes + chunkBytes;
        // The chunk area, which ends at the payload's end, follows the image bytes sent.
        const Source sources[2] = {{frame, imageBytes}, {frame + payload - chunkBytes, chunkBytes}};
        const bool patch = lines != 0 && chunkBytes >= Gvsp::kChunkTrailerBytes;
        return queueBlock(spec, sources, 2, patch ? imageBytes : UINT64_MAX, static_cast<uint32_t>(imageBytes));
    }
    if (parts.size() == 1 || spec.mode == Gvsp::IdMode::Standard) {
        if (parts.size() != 1)
            return false;
        const ImagePartEntry& p = parts[0];
        const uint32_t sent = lines == 0 ? p.height : lines;
        spec.image = {p.pixelFormat, p.width, sent, 0, 0};
        spec.trailerSizeY = sent;
        spec.payloadSize = p.dataSize + chunkBytes;
        const Source sources[2] = {{p.data.get(), p.dataSize}, {chunkBytes != 0 ? frame + p.dataSize : nullptr, chunkBytes}};
        return queueBlock(spec, sources, 2, UINT64_MAX, 0);
    }
    spec.kind = Gvsp::BlockKind::MultiPart;
    std::vector<Gvsp::PartInfo> infos(parts.size());
    std::vector<Source> sources;
    for (size_t i = 0; i < parts.size(); ++i) {
        const ImagePartEntry& p = parts[i];
        infos[i] = {p.dataType, p.dataSize, p.pixelFormat, static_cast<uint16_t>(i), p.width, p.height,
                    lines == 0 ? p.height : lines};
        sources.push_back({p.data.get(), p.dataSize});
    }
    sources.push_back({frame, chunkBytes});
    spec.parts = infos;
    spec.chunkLength = chunkBytes;
    return queueBlock(spec, sources.data(), sources.size(), UINT64_MAX, 0);
}

bool StreamProtocol::SendImageWithChunk(const uint8_t* buffer, uint64_t size, uint64_t chunkBytes, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    if (m_Stopping.load() || m_GevMode.load() != GevMode::Extended)
        return false;
    if (!m_Streaming.load())
        return true;
    Latched latched;
    uint32_t chunkSize = 0;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun)
            return false;
        m_FrameBegun = false;
        // Data payloads are not compressed: raw, they would exceed the compressed payload size.
        if (m_PayloadType.load() != kImagePayloadType || m_Latched.compression != Compression::Mode::None)
            return false;
        latched = m_Latched;
        chunkSize = m_ChunkSize;
    }
    if (buffer == nullptr)
        return true;
    const FrameGeometry& g = latched.geometry;
    const uint64_t lineBytes = uint64_t(g.width) * PixelBits(g.pixelFormat) / 8;
    const uint64_t payload = lineBytes * g.height + chunkSize;
    if (lineBytes == 0 || chunkBytes > chunkSize)
        return false;
    // Whole lines of the data; the chunk area ends at the configured payload's end.
    const uint64_t lines = std::min<uint64_t>(size / lineBytes, g.height);
    const uint64_t imageBytes = lineBytes * lines;
    Gvsp::BlockSpec spec;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    spec.hasChunks = chunkBytes > 0;
    spec.image = {g.pixelFormat, g.width, static_cast<uint32_t>(lines), g.offsetX, g.offsetY};
    spec.trailerSizeY = static_cast<uint32_t>(lines);
    spec.payloadSize = imageBytes + chunkBytes;
    const Source sources[2] = {{buffer, imageBytes}, {buffer + payload - chunkBytes, chunkBytes}};
    return queueBlock(spec, sources, 2, chunkBytes >= Gvsp::kChunkTrailerBytes ? imageBytes : UINT64_MAX,
                      static_cast<uint32_t>(imageBytes));
}

bool StreamProtocol::SendEncoded(Gvsp::BlockKind kind, const uint8_t* data, uint64_t size, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    if (m_Stopping.load() || m_GevMode.load() != GevMode::Extended ||
        (kind != Gvsp::BlockKind::Jpeg && kind != Gvsp::BlockKind::H264))
        return false;
    if (!m_Streaming.load())
        return true;
    Latched latched;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun)
            return false;
        latched = m_Latched;
    }
    const Source source{data, data != nullptr ? size : 0};
    const bool ok = data == nullptr || queueEncoded(kind, &source, 1, flags, latched);
    std::lock_guard lk(m_Mutex);
    m_FrameBegun = false;
    return ok;
}

bool StreamProtocol::queueEncoded(Gvsp::BlockKind kind, const Source* sources, size_t count, uint16_t flags,
                                  const Latched& latched)
{
    Gvsp::BlockSpec spec;
    spec.kind = kind;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    for (size_t i = 0; i < count; ++i)
        spec.payloadSize += sources[i].size;
    spec.image.pixelFormat = latched.geometry.pixelFormat;
    spec.tickFrequency = m_TickFrequency.load();
    return queueBlock(spec, sources, count, UINT64_MAX, 0);
}

}  // namespace Kivu
