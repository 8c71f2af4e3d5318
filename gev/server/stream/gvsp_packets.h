#pragma once
// GVSP packets: headers, leaders, payload headers and trailers of every block
// kind, the test packet, and the layout of a whole block into packets. Pure
// functions over caller-given buffers; every field big-endian.
#include <cstddef>
#include <cstdint>
#include <span>

namespace Kivu::Gvsp {

enum class IdMode : uint8_t { Standard = 0, Extended = 1 };

namespace PacketFormat {
constexpr uint8_t Leader = 1;
constexpr uint8_t Trailer = 2;
constexpr uint8_t Payload = 3;
constexpr uint8_t H264Payload = 5;
constexpr uint8_t MultiPartPayload = 7;
constexpr uint8_t ExtendedId = 0x80;
}  // namespace PacketFormat

namespace PayloadType {
constexpr uint16_t Image = 0x0001;
constexpr uint16_t Jpeg = 0x0006;
constexpr uint16_t H264 = 0x0008;
constexpr uint16_t MultiPart = 0x000A;
constexpr uint16_t ChunkFlag = 0x4000;
}  // namespace PayloadType

constexpr uint16_t kChunkDataType = 0x000A;  // multi-part entry of the chunk data

constexpr uint32_t kIpUdpHeaderBytes = 28;
constexpr size_t kStandardHeaderSize = 8;
constexpr size_t kExtendedHeaderSize = 20;
constexpr size_t kImageLeaderBody = 36;
constexpr size_t kImageTrailerBody = 16;
constexpr size_t kJpegLeaderBody = 32;
constexpr size_t kH264LeaderBody = 32;
constexpr size_t kGenericTrailerBody = 4;
constexpr size_t kMultiPartLeaderFixed = 12;
constexpr size_t kMultiPartEntry = 48;
constexpr size_t kMultiPartTrailerEntry = 16;
constexpr size_t kMultiPartTrailerChunkExtra = 24;  // chunk entry + payload size + layout id
constexpr size_t kSubHeader = 8;  // H.264 timestamp or multi-part part/offset words

constexpr size_t HeaderSize(IdMode mode)
{
    return mode == IdMode::Standard ? kStandardHeaderSize : kExtendedHeaderSize;
}

struct Header {
    uint16_t status = 0;
    uint16_t flags = 0;       // extended form only
    uint8_t format = 0;       // PacketFormat value without the extended bit
    uint16_t partCount = 0;   // extended bytes 6-7 (multi-part leader and payload)
    uint64_t blockId = 0;     // low 16 bits in the standard form
    uint32_t packetId = 0;    // low 24 bits in the standard form
};

// Returns the bytes written (HeaderSize(mode)).
size_t WriteHeader(uint8_t* out, IdMode mode, const Header& h);

struct ImageInfo {
    uint32_t pixelFormat = 0;
    uint32_t sizeX = 0;
    uint32_t sizeY = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint16_t paddingX = 0;
    uint16_t paddingY = 0;
};

// One entry of a multi-part leader and trailer (an image part or the chunk data).
struct PartInfo {
    uint16_t dataType = 0;
    uint64_t length = 0;      // bytes of the part
    uint32_t pixelFormat = 0;
    uint16_t regionId = 0;    // leader offset 22
    uint32_t sizeX = 0;
    uint32_t sizeY = 0;
    uint32_t trailerSizeY = 0;  // lines sent
};

// Each writer writes the header h (its format set by the writer) and the body,
// and returns the bytes written.
size_t WriteImageLeader(uint8_t* out, IdMode mode, Header h, uint16_t payloadType, bool hasChunks,
                        uint64_t timestamp, const ImageInfo& image);
size_t WriteImageTrailer(uint8_t* out, IdMode mode, Header h, uint16_t payloadType, uint32_t sizeY,
                         uint32_t chunkPayloadLength);
size_t WriteJpegLeader(uint8_t* out, Header h, uint64_t timestamp, uint64_t dataSize, uint64_t tickFrequency,
                       uint32_t pixelFormat);
size_t WriteH264Leader(uint8_t* out, Header h, uint64_t dataSize);
size_t WriteGenericTrailer(uint8_t* out, Header h, uint16_t payloadType);
// entries: the image parts, then the chunk entry when there is one (h.partCount
// is set to entries.size()).
size_t WriteMultiPartLeader(uint8_t* out, Header h, uint16_t payloadType, uint64_t timestamp,
                            std::span<const PartInfo> entries);
// parts: image parts only; the chunk entry and payload size follow when hasChunks.
size_t WriteMultiPartTrailer(uint8_t* out, Header h, uint16_t payloadType, std::span<const PartInfo> parts,
                             bool hasChunks, uint64_t chunkLength, uint64_t payloadSize);
size_t WriteH264PayloadHeader(uint8_t* out, Header h, uint64_t timestamp);
size_t WriteMultiPartPayloadHeader(uint8_t* out, Header h, uint8_t partIndex, uint64_t offset);

// The test datagram of `size` bytes: 8 zero bytes, then the low bytes of a
// 16-bit shift register starting at 0xFFFF (taps 0x8016).
void WriteTestPacket(uint8_t* out, size_t size);

// GVSP bytes of a packet for an SCPS value: (SCPS & 0xFFFF) - 28, 0 when below.
constexpr uint32_t PacketBytes(uint32_t scps)
{
    const uint32_t s = scps & 0xFFFF;
    return s > kIpUdpHeaderBytes ? s - kIpUdpHeaderBytes : 0;
}

// ---- Block layout --------------------------------------------------------

enum class BlockKind : uint8_t { Image, Jpeg, H264, MultiPart };

struct BlockSpec {
    IdMode mode = IdMode::Extended;
    BlockKind kind = BlockKind::Image;
    uint64_t blockId = 1;
    uint16_t flags = 0;          // leader flags of image, JPEG and H.264 blocks
    uint64_t timestamp = 0;
    uint32_t packetBytes = 0;    // S, GVSP bytes per packet
    // Image: payload = image bytes + chunk bytes. JPEG/H.264: payload = data size.
    ImageInfo image;
    uint32_t trailerSizeY = 0;
    bool hasChunks = false;
    uint64_t payloadSize = 0;
    uint64_t tickFrequency = 0;  // JPEG
    // Multi-part: parts in data order, then chunkLength bytes of chunk data.
    std::span<const PartInfo> parts;
    uint64_t chunkLength = 0;
};

// One packet: a header slot in the header area and a slice of the block's data
// (the parts laid end to end, then the chunk data).
struct PacketRef {
    uint32_t headerOffset = 0;
    uint32_t headerLength = 0;
    uint64_t dataOffset = 0;
    uint32_t dataLength = 0;
};

constexpr size_t kHeaderSlotAlign = 16;

struct LayoutSize {
    size_t packets = 0;
    size_t headerBytes = 0;  // header area, every slot 16-byte aligned
    uint64_t dataBytes = 0;
};

// Why a block cannot be laid out.
enum class LayoutError : uint8_t { None, PacketTooSmall, TooManyPackets, BadKind, TooManyParts };

// Packets and area sizes of a block; error set when it cannot be sent.
LayoutSize MeasureBlock(const BlockSpec& spec, LayoutError* error = nullptr);

// Writes every header into headerArea and one PacketRef per packet (leader
// first, trailer last). The areas must hold MeasureBlock's sizes.
LayoutError LayoutBlock(const BlockSpec& spec, uint8_t* headerArea, size_t headerCapacity,
                        PacketRef* packets, size_t packetCapacity);

// Data bytes a payload packet of the kind carries at most.
uint32_t PayloadCapacity(IdMode mode, BlockKind kind, uint32_t packetBytes);

}  // namespace Kivu::Gvsp
