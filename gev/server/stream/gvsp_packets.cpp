#include "server/stream/gvsp_packets.h"

#include "platform/bytes.h"

#include <cstring>

namespace Kivu::Gvsp {

using platform::storeBE16;
using platform::storeBE32;
using platform::storeBE64;

namespace {

void storeTimestamp(uint8_t* p, uint64_t ts)
{
    storeBE32(p, static_cast<uint32_t>(ts >> 32));
    storeBE32(p + 4, static_cast<uint32_t>(ts));
}

// 48-bit big-endian length as u16 high bits then u32 low bits.
void storeLength48(uint8_t* p, uint64_t v)
{
    storeBE16(p, static_cast<uint16_t>(v >> 32));
    storeBE32(p + 2, static_cast<uint32_t>(v));
}

constexpr size_t alignSlot(size_t n)
{
    return (n + kHeaderSlotAlign - 1) / kHeaderSlotAlign * kHeaderSlotAlign;
}

constexpr uint64_t ceilDiv(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

}  // namespace

size_t WriteHeader(uint8_t* out, IdMode mode, const Header& h)
{
    storeBE16(out, h.status);
    if (mode == IdMode::Standard) {
        storeBE16(out + 2, static_cast<uint16_t>(h.blockId));
        out[4] = h.format;
        out[5] = static_cast<uint8_t>(h.packetId >> 16);
        out[6] = static_cast<uint8_t>(h.packetId >> 8);
        out[7] = static_cast<uint8_t>(h.packetId);
        return kStandardHeaderSize;
    }
    storeBE16(out + 2, h.flags);
    out[4] = static_cast<uint8_t>(PacketFormat::ExtendedId | h.format);
    out[5] = 0;
    storeBE16(out + 6, h.partCount);
    storeBE64(out + 8, h.blockId);
    storeBE32(out + 16, h.packetId);
    return kExtendedHeaderSize;
}

size_t WriteImageLeader(uint8_t* out, IdMode mode, Header h, uint16_t payloadType, bool hasChunks,
                        uint64_t timestamp, const ImageInfo& image)
{
    h.format = PacketFormat::Leader;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, mode, h);
    p[0] = 0;
    p[1] = hasChunks ? 1 : 0;
    storeBE16(p + 2, payloadType);
    storeTimestamp(p + 4, timestamp);
    storeBE32(p + 12, image.pixelFormat);
    storeBE32(p + 16, image.sizeX);
    storeBE32(p + 20, image.sizeY);
    storeBE32(p + 24, image.offsetX);
    storeBE32(p + 28, image.offsetY);
    storeBE16(p + 32, image.paddingX);
    storeBE16(p + 34, image.paddingY);
    return HeaderSize(mode) + kImageLeaderBody;
}

size_t WriteImageTrailer(uint8_t* out, IdMode mode, Header h, uint16_t payloadType, uint32_t sizeY,
                         uint32_t chunkPayloadLength)
{
    h.format = PacketFormat::Trailer;
    h.flags = 0;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, mode, h);
    storeBE16(p, 0);
    storeBE16(p + 2, payloadType);
    storeBE32(p + 4, sizeY);
    storeBE32(p + 8, chunkPayloadLength);
    storeBE32(p + 12, 0);  // chunk layout id
    return HeaderSize(mode) + kImageTrailerBody;
}

size_t WriteJpegLeader(uint8_t* out, Header h, uint64_t timestamp, uint64_t dataSize, uint64_t tickFrequency,
                       uint32_t pixelFormat)
{
    h.format = PacketFormat::Leader;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeBE16(p, 0);
    storeBE16(p + 2, PayloadType::Jpeg);
    storeTimestamp(p + 4, timestamp);
    storeBE64(p + 12, dataSize);
    storeBE64(p + 20, tickFrequency);
    storeBE32(p + 28, pixelFormat);
    return kExtendedHeaderSize + kJpegLeaderBody;
}

size_t WriteH264Leader(uint8_t* out, Header h, uint64_t dataSize)
{
    h.format = PacketFormat::Leader;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeBE16(p, 0);
    storeBE16(p + 2, PayloadType::H264);
    storeBE64(p + 4, dataSize);
    std::memset(p + 12, 0, 20);
    return kExtendedHeaderSize + kH264LeaderBody;
}

size_t WriteGenericTrailer(uint8_t* out, Header h, uint16_t payloadType)
{
    h.format = PacketFormat::Trailer;
    h.flags = 0;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeBE16(p, 0);
    storeBE16(p + 2, payloadType);
    return kExtendedHeaderSize + kGenericTrailerBody;
}

size_t WriteMultiPartLeader(uint8_t* out, Header h, uint16_t payloadType, uint64_t timestamp,
                            std::span<const PartInfo> entries)
{
    h.format = PacketFormat::Leader;
    h.flags = 0;
    h.partCount = static_cast<uint16_t>(entries.size());
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeBE16(p, 0);
    storeBE16(p + 2, payloadType);
    storeTimestamp(p + 4, timestamp);
    p += kMultiPartLeaderFixed;
    for (const PartInfo& e : entries) {
        std::memset(p, 0, kMultiPartEntry);
        storeBE16(p, e.dataType);
        storeLength48(p + 2, e.length);
        storeBE32(p + 8, e.pixelFormat);
        storeBE16(p + 22, e.regionId);
        storeBE32(p + 24, e.sizeX);
        storeBE32(p + 28, e.sizeY);
        p += kMultiPartEntry;
    }
    return kExtendedHeaderSize + kMultiPartLeaderFixed + kMultiPartEntry * entries.size();
}

size_t WriteMultiPartTrailer(uint8_t* out, Header h, uint16_t payloadType, std::span<const PartInfo> parts,
                             bool hasChunks, uint64_t chunkLength, uint64_t payloadSize)
{
    h.format = PacketFormat::Trailer;
    h.flags = 0;
    h.partCount = static_cast<uint16_t>(parts.size() + (hasChunks ? 1 : 0));
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeBE16(p, 0);
    storeBE16(p + 2, payloadType);
    p += kGenericTrailerBody;
    for (const PartInfo& e : parts) {
        storeBE16(p, e.dataType);
        storeLength48(p + 2, e.length);
        storeBE32(p + 8, e.trailerSizeY);
        storeBE32(p + 12, 0);
        p += kMultiPartTrailerEntry;
    }
    size_t n = kExtendedHeaderSize + kGenericTrailerBody + kMultiPartTrailerEntry * parts.size();
    if (hasChunks) {
        std::memset(p, 0, kMultiPartTrailerChunkExtra);
        storeBE16(p, kChunkDataType);
        storeLength48(p + 2, chunkLength);
        storeBE32(p + 16, static_cast<uint32_t>(payloadSize));
        n += kMultiPartTrailerChunkExtra;
    }
    return n;
}

size_t WriteH264PayloadHeader(uint8_t* out, Header h, uint64_t timestamp)
{
    h.format = PacketFormat::H264Payload;
    h.flags = 0;
    h.partCount = 0;
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    storeTimestamp(p, timestamp);
    return kExtendedHeaderSize + kSubHeader;
}

size_t WriteMultiPartPayloadHeader(uint8_t* out, Header h, uint8_t partIndex, uint64_t offset)
{
    h.format = PacketFormat::MultiPartPayload;
    h.flags = 0;
    uint8_t* p = out + WriteHeader(out, IdMode::Extended, h);
    p[0] = partIndex;
    p[1] = 0;
    storeLength48(p + 2, offset);
    return kExtendedHeaderSize + kSubHeader;
}

void WriteTestPacket(uint8_t* out, size_t size)
{
    const size_t zeros = size < 8 ? size : 8;
    std::memset(out, 0, zeros);
    uint16_t reg = 0xFFFF;
    for (size_t i = zeros; i < size; ++i) {
        out[i] = static_cast<uint8_t>(reg);
        const bool low = (reg & 1) != 0;
        reg = static_cast<uint16_t>((reg >> 1) ^ (low ? 0x8016 : 0));
    }
}

// ---- Block layout --------------------------------------------------------

uint32_t PayloadCapacity(IdMode mode, BlockKind kind, uint32_t packetBytes)
{
    size_t h = HeaderSize(mode);
    if (kind == BlockKind::H264 || kind == BlockKind::MultiPart)
        h += kSubHeader;
    return packetBytes > h ? packetBytes - static_cast<uint32_t>(h) : 0;
}

namespace {

size_t leaderSize(const BlockSpec& s)
{
    switch (s.kind) {
    case BlockKind::Image: return HeaderSize(s.mode) + kImageLeaderBody;
    case BlockKind::Jpeg: return kExtendedHeaderSize + kJpegLeaderBody;
    case BlockKind::H264: return kExtendedHeaderSize + kH264LeaderBody;
    case BlockKind::MultiPart:
        return kExtendedHeaderSize + kMultiPartLeaderFixed +
               kMultiPartEntry * (s.parts.size() + (s.chunkLength > 0 ? 1 : 0));
    }
    return 0;
}

size_t trailerSize(const BlockSpec& s)
{
    switch (s.kind) {
    case BlockKind::Image: return HeaderSize(s.mode) + kImageTrailerBody;
    case BlockKind::Jpeg:
    case BlockKind::H264: return kExtendedHeaderSize + kGenericTrailerBody;
    case BlockKind::MultiPart:
        return kExtendedHeaderSize + kGenericTrailerBody + kMultiPartTrailerEntry * s.parts.size() +
               (s.chunkLength > 0 ? kMultiPartTrailerChunkExtra : 0);
    }
    return 0;
}

size_t payloadHeaderSize(const BlockSpec& s)
{
    return s.packetBytes - PayloadCapacity(s.mode, s.kind, s.packetBytes);
}

bool multiPart(const BlockSpec& s)
{
    return s.kind == BlockKind::MultiPart;
}

}  // namespace

LayoutSize MeasureBlock(const BlockSpec& s, LayoutError* error)
{
    LayoutError err = LayoutError::None;
    LayoutSize size;
    const uint32_t cap = PayloadCapacity(s.mode, s.kind, s.packetBytes);
    if (s.mode == IdMode::Standard && s.kind != BlockKind::Image)
        err = LayoutError::BadKind;
    else if (multiPart(s) && s.parts.size() + (s.chunkLength > 0 ? 1 : 0) > 256)
        err = LayoutError::TooManyParts;
    else if (cap == 0 || leaderSize(s) > s.packetBytes || trailerSize(s) > s.packetBytes)
        err = LayoutError::PacketTooSmall;
    if (err == LayoutError::None) {
        uint64_t payloadPackets = 0;
        if (multiPart(s)) {
            for (const PartInfo& p : s.parts) {
                payloadPackets += ceilDiv(p.length, cap);
                size.dataBytes += p.length;
            }
            payloadPackets += ceilDiv(s.chunkLength, cap);
            size.dataBytes += s.chunkLength;
        } else {
            payloadPackets = ceilDiv(s.payloadSize, cap);
            size.dataBytes = s.payloadSize;
        }
        // The trailer's id must fit the header's packet id field.
        const uint64_t maxId = s.mode == IdMode::Standard ? 0xFFFFFF : 0xFFFFFFFF;
        if (payloadPackets + 1 > maxId) {
            err = LayoutError::TooManyPackets;
        } else {
            size.packets = static_cast<size_t>(payloadPackets) + 2;
            size.headerBytes = alignSlot(leaderSize(s)) + alignSlot(trailerSize(s)) +
                               static_cast<size_t>(payloadPackets) * alignSlot(payloadHeaderSize(s));
        }
    }
    if (err != LayoutError::None)
        size = LayoutSize{};
    if (error)
        *error = err;
    return size;
}

LayoutError LayoutBlock(const BlockSpec& s, uint8_t* headerArea, size_t headerCapacity, PacketRef* packets,
                        size_t packetCapacity)
{
    LayoutError err = LayoutError::None;
    const LayoutSize size = MeasureBlock(s, &err);
    if (err != LayoutError::None)
        return err;
    if (size.headerBytes > headerCapacity || size.packets > packetCapacity)
        return LayoutError::TooManyPackets;

    const uint32_t cap = PayloadCapacity(s.mode, s.kind, s.packetBytes);
    const bool mp = multiPart(s);
    const bool mpChunks = mp && s.chunkLength > 0;
    const uint16_t mpCount = static_cast<uint16_t>(s.parts.size() + (mpChunks ? 1 : 0));
    const uint16_t imagePayloadType =
        static_cast<uint16_t>(PayloadType::Image | (s.hasChunks ? PayloadType::ChunkFlag : 0));
    const uint16_t mpPayloadType =
        static_cast<uint16_t>(PayloadType::MultiPart | (mpChunks ? PayloadType::ChunkFlag : 0));

    Header h;
    h.blockId = s.blockId;
    size_t hdr = 0;
    size_t n = 0;

    // Leader.
    h.packetId = 0;
    h.flags = s.flags;
    size_t len = 0;
    switch (s.kind) {
    case BlockKind::Image:
        len = WriteImageLeader(headerArea + hdr, s.mode, h, imagePayloadType, s.hasChunks, s.timestamp, s.image);
        break;
    case BlockKind::Jpeg:
        len = WriteJpegLeader(headerArea + hdr, h, s.timestamp, s.payloadSize, s.tickFrequency,
                              s.image.pixelFormat);
        break;
    case BlockKind::H264: len = WriteH264Leader(headerArea + hdr, h, s.payloadSize); break;
    case BlockKind::MultiPart: {
        PartInfo entries[256];
        size_t e = 0;
        for (const PartInfo& p : s.parts)
            entries[e++] = p;
        if (mpChunks) {
            PartInfo chunk;
            chunk.dataType = kChunkDataType;
            chunk.length = s.chunkLength;
            chunk.regionId = static_cast<uint16_t>(s.parts.size() + 1);
            entries[e++] = chunk;
        }
        len = WriteMultiPartLeader(headerArea + hdr, h, mpPayloadType, s.timestamp, std::span(entries, e));
        break;
    }
    }
    packets[n++] = PacketRef{static_cast<uint32_t>(hdr), static_cast<uint32_t>(len), 0, 0};
    hdr += alignSlot(len);
    h.flags = 0;

    // Payload packets.
    const size_t slot = alignSlot(payloadHeaderSize(s));
    auto emit = [&](uint64_t offset, uint64_t bytes, uint8_t partIndex) {
        for (uint64_t done = 0; done < bytes; done += cap) {
            const uint32_t chunk = static_cast<uint32_t>(bytes - done < cap ? bytes - done : cap);
            h.packetId = static_cast<uint32_t>(n);
            uint8_t* out = headerArea + hdr;
            size_t l = 0;
            if (mp) {
                h.partCount = mpCount;
                l = WriteMultiPartPayloadHeader(out, h, partIndex, offset + done);
            } else if (s.kind == BlockKind::H264) {
                l = WriteH264PayloadHeader(out, h, s.timestamp);
            } else {
                h.format = PacketFormat::Payload;
                l = WriteHeader(out, s.mode, h);
            }
            packets[n++] = PacketRef{static_cast<uint32_t>(hdr), static_cast<uint32_t>(l), offset + done, chunk};
            hdr += slot;
        }
    };
    if (mp) {
        uint64_t offset = 0;
        for (size_t i = 0; i < s.parts.size(); ++i) {
            emit(offset, s.parts[i].length, static_cast<uint8_t>(i));
            offset += s.parts[i].length;
        }
        // The chunk data carries the index of its leader entry.
        emit(offset, s.chunkLength, static_cast<uint8_t>(s.parts.size()));
    } else {
        emit(0, s.payloadSize, 0);
    }

    // Trailer.
    h.packetId = static_cast<uint32_t>(n);
    h.partCount = 0;
    switch (s.kind) {
    case BlockKind::Image:
        len = WriteImageTrailer(headerArea + hdr, s.mode, h, imagePayloadType, s.trailerSizeY,
                                s.hasChunks ? static_cast<uint32_t>(s.payloadSize) : 0);
        break;
    case BlockKind::Jpeg: len = WriteGenericTrailer(headerArea + hdr, h, PayloadType::Jpeg); break;
    case BlockKind::H264: len = WriteGenericTrailer(headerArea + hdr, h, PayloadType::H264); break;
    case BlockKind::MultiPart:
        len = WriteMultiPartTrailer(headerArea + hdr, h, mpPayloadType, s.parts, mpChunks, s.chunkLength,
                                    size.dataBytes);
        break;
    }
    packets[n++] = PacketRef{static_cast<uint32_t>(hdr), static_cast<uint32_t>(len), 0, 0};
    return LayoutError::None;
}

}  // namespace Kivu::Gvsp
