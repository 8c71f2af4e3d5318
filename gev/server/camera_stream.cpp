// The producer side of the stream: frames, parts, chunk data and the channel
// count, forwarded to the stream channels.
#include "server/camera.h"
#include "server/camera_guard.h"

#include "model/default_features.h"
#include "server/camera_pixel_formats.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

namespace Kivu {
namespace {

PartKey keyOf(const PartDescriptor& p)
{
    return PartKey{p.key3, p.key1, p.key2};
}

}  // namespace

StreamProtocol* Camera::stream(int64_t ch)
{
    if (ch < 0 || static_cast<uint64_t>(ch) >= m_Streams->Count())
        return nullptr;
    return &m_Streams->Channel(static_cast<uint32_t>(ch));
}

FrameGeometry Camera::selectedGeometry(int32_t ch)
{
    uint32_t values[ChannelSettings::MapCount] = {};
    if (channel(ch) != nullptr && stream(ch) != nullptr)
        for (int m = 0; m < ChannelSettings::MapCount; ++m)
            values[m] = mapValue(ch, m);
    return FrameGeometry{values[ChannelSettings::Width], values[ChannelSettings::Height],
                         values[ChannelSettings::PixelFormat], values[ChannelSettings::OffsetX],
                         values[ChannelSettings::OffsetY]};
}

void Camera::rebuild(int32_t ch, bool notify)
{
    StreamProtocol* s = stream(ch);
    ChannelSettings* c = channel(ch);
    if (s == nullptr || c == nullptr)
        return;
    // The next BeginFrame takes the new geometry (the client's own writes are
    // refused during an acquisition). A geometry not set yet (size 0) leaves
    // the PayloadSize register's value.
    s->SetGeometry(selectedGeometry(ch));
    auto payload = std::dynamic_pointer_cast<UIntReg>(m_Tree->Find(DefaultFeatureAddress::PayloadSize));
    const uint64_t size = s->PayloadSize();
    if (ch == 0 && payload && size != 0)
        payload->SetValue(static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
    if (!notify)
        return;
    void* context;
    ChannelChangeCallback change;
    {
        std::shared_lock lock(c->lock);
        context = c->changeContext;
        change = c->change;
    }
    // What the handler throws stays here: it may run on the GVCP receive thread.
    if (change != nullptr)
        guarded("channel change handler", [&] {
            change(context);
            return GevResult::Ok;
        });
}

uint32_t Camera::SetStreamChannelCount(uint32_t count)
{
    return guarded(__func__, [&]() -> uint32_t {
        const uint32_t n = std::min<uint32_t>(count, 2);
        const uint32_t st = m_Streams->SetCount(n);
        if (st != GevResult::Ok)
            return st;
        // The channels are new: so are their settings and chunk offsets.
        m_Channels.clear();
        for (uint32_t i = 0; i < n; ++i)
            m_Channels.push_back(std::make_unique<ChannelSettings>());
        m_ChunkAreas.assign(n, Gvsp::ChunkArea{});
        for (uint32_t i = 0; i < n; ++i)
            rebuild(static_cast<int32_t>(i), false);
        return GevResult::Ok;
    });
}

uint32_t Camera::BeginFrame(int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr)
            return GevResult::InvalidArgument;
        return s->WaitReady() ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::sendImage(uint8_t* frame, uint16_t flags, int64_t ch, uint32_t lines)
{
    StreamProtocol* s = stream(ch);
    if (s == nullptr)
        return GevResult::InvalidArgument;
    Gvsp::ChunkArea& area = m_ChunkAreas[static_cast<size_t>(ch)];
    const uint64_t chunkBytes = area.Offset();
    area = Gvsp::ChunkArea{};
    return s->SendImage(frame, chunkBytes, lines, flags) ? GevResult::Ok : GevResult::Fail;
}

uint32_t Camera::SendImage(uint8_t* frameBuffer, uint32_t ch, uint32_t lines)
{
    return guarded(__func__, [&] { return sendImage(frameBuffer, 0, ch, lines); });
}

uint32_t Camera::SendImageEx(uint8_t* frameBuffer, uint16_t flags, int32_t ch, uint32_t lines)
{
    return guarded(__func__, [&] { return sendImage(frameBuffer, flags, ch, lines); });
}

uint32_t Camera::sendData(uint8_t* buffer, uint16_t flags, uint64_t size, uint64_t ch)
{
    StreamProtocol* s = stream(static_cast<int64_t>(std::min<uint64_t>(ch, INT64_MAX)));
    if (s == nullptr)
        return GevResult::InvalidArgument;
    Gvsp::ChunkArea& area = m_ChunkAreas[static_cast<size_t>(ch)];
    const uint64_t chunkBytes = area.Offset();
    area = Gvsp::ChunkArea{};
    return s->SendImageWithChunk(buffer, size, chunkBytes, flags) ? GevResult::Ok : GevResult::Fail;
}

uint32_t Camera::SendData(uint8_t* buffer, uint64_t size, uint32_t ch)
{
    return guarded(__func__, [&] { return sendData(buffer, 0, size, ch); });
}

uint32_t Camera::SendDataEx(uint8_t* buffer, uint16_t flags, uint64_t size, uint32_t ch)
{
    return guarded(__func__, [&] { return sendData(buffer, flags, size, ch); });
}

uint32_t Camera::AddChunkData(uint8_t* frameBuffer, const void* data, uint32_t length, uint32_t chunkId,
                              uint32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr || ch >= m_ChunkAreas.size() || frameBuffer == nullptr)
            return GevResult::InvalidArgument;
        Gvsp::ChunkFrame f;
        f.frame = frameBuffer;
        f.partCount = s->FramePartCount();
        f.partTotal = s->FramePartTotal();
        // Chunks end at the frame buffer's end (the raw image, then the chunk area).
        f.payloadSize = s->IsStreaming() ? s->LatchedFrameBytes() : s->FrameBytes();
        f.chunkLimit = s->GetChunkSize();
        return Gvsp::PlaceChunk(f, m_ChunkAreas[ch], data, length, chunkId) ? GevResult::Ok
                                                                             : GevResult::InvalidArgument;
    });
}

uint32_t Camera::SetChunkPayloadSize(uint32_t chunkBytes, uint32_t chunkCount, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr)
            return GevResult::InvalidArgument;
        const uint64_t size = chunkBytes == 0 ? 0 : uint64_t(chunkBytes) + 8ull * chunkCount + 8;
        if (size > UINT32_MAX)
            return GevResult::InvalidArgument;
        if (!s->SetChunkSize(static_cast<uint32_t>(size)))
            return GevResult::Running;
        rebuild(ch, true);
        return GevResult::Ok;
    });
}

uint32_t Camera::GetChunkPayloadSize(uint32_t* out, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (out == nullptr || s == nullptr)
            return GevResult::InvalidArgument;
        *out = s->GetChunkSize();
        return GevResult::Ok;
    });
}

uint32_t Camera::UpdateImagePart(PartDescriptor part)
{
    return guarded(__func__, [&]() -> uint32_t {
        ImagePartEntry e;
        e.key3 = part.key3;
        e.key1 = part.key1;
        e.key2 = part.key2;
        e.width = part.width;
        e.height = part.height;
        e.dataType = part.dataType;
        e.pixelFormat = PixelFormatCode(part.pixelFormatName.c_str());
        if (!m_Streams->Channel(0).UpdateImagePart(e))
            return GevResult::Running;
        rebuild(0, true);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetImagePartData(ImagePartBuffer data, uint32_t size, PartDescriptor part)
{
    return guarded(__func__, [&]() -> uint32_t {
        // The part keeps its own reference to the caller's buffer.
        std::shared_ptr<const uint8_t> bytes(data, data.get());
        return m_Streams->Channel(0).SetImagePartData(keyOf(part), std::move(bytes), size) ? GevResult::Ok
                                                                                          : GevResult::Fail;
    });
}

uint32_t Camera::RemoveImagePart(PartDescriptor part)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol& s = m_Streams->Channel(0);
        if (s.IsStreaming())
            return GevResult::Running;
        if (!s.RemoveImagePart(keyOf(part)))
            return GevResult::Fail;
        rebuild(0, true);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetFrameTimestamp(uint64_t timestamp)
{
    return guarded(__func__, [&] {
        m_Streams->Channel(0).SetFixedTimestamp(timestamp);
        return GevResult::Ok;
    });
}

}  // namespace Kivu
