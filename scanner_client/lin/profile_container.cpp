#include "lin/profile_container.h"

#include "lin/pixel_columns.h"

#include "platform/bytes.h"

#include <algorithm>
#include <cstring>

namespace quillan {
namespace {

constexpr size_t kMaxContainerLength = 0x802000;
constexpr size_t kMaxBlockEnd = 8396800;
constexpr size_t kBlockHeader = 8;
constexpr size_t kMaxImageBlock = 0x400010;
constexpr size_t kMaxPixelBlock = 0xB0008;
constexpr size_t kMaxLinearizedBlock = 0x30040;
constexpr size_t kMaxLinearizedElements = 4096;

// Pixel profile block.
constexpr size_t kPixEchoMask = 10, kPixRawFlags = 11, kPixContent = 12, kPixFieldSizes = 13, kPixData = 20;
// Linearized profile block.
constexpr size_t kLinColumns = 16, kLinEchoes = 20, kLinFields = 28, kLinDataLength = 52, kLinData = 56;
enum LinField : uint8_t { kFieldX = 1, kFieldZ = 2, kFieldStrength = 4, kFieldWidth = 5 };

class Block {
public:
    Block(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    bool has(size_t at, size_t n) const { return at <= m_Size && n <= m_Size - at; }
    uint8_t u8(size_t at) const { return at < m_Size ? m_Data[at] : 0; }
    uint16_t u16(size_t at) const { return has(at, 2) ? platform::loadLE16(m_Data + at) : 0; }
    uint32_t u32(size_t at) const { return has(at, 4) ? platform::loadLE32(m_Data + at) : 0; }
    float f32(size_t at) const { return has(at, 4) ? platform::loadF32LE(m_Data + at) : 0.0f; }

private:
    const uint8_t* m_Data;
    size_t m_Size;
};

}  // namespace

template <size_t N>
void ProfileContainerDecoder::Kept<N>::keep(const uint8_t* block, size_t blockLength)
{
    length = std::min(blockLength, N);
    std::memcpy(bytes.data(), block, length);
    present = true;
}

template <size_t N>
uint16_t ProfileContainerDecoder::Kept<N>::u16(size_t at) const
{
    return has(at, 2) ? platform::loadLE16(bytes.data() + at) : 0;
}

template <size_t N>
uint32_t ProfileContainerDecoder::Kept<N>::u32(size_t at) const
{
    return has(at, 4) ? platform::loadLE32(bytes.data() + at) : 0;
}

ContainerDecodeResult ProfileContainerDecoder::decode(const uint8_t* bytes, size_t length, bool strengthWidthByteOrder,
                                                      DecodedProfile& profile)
{
    // The block walk only reads the container; the profile is cleared on
    // every path that decodes none, and otherwise by the block decoder.
    ContainerDecodeResult result;
    const auto nothing = [&profile](ContainerDecodeResult r) {
        ClearDecodedProfile(profile);
        return r;
    };
    if (length <= 15 || platform::loadLE32(bytes) != kContainerMagic)
        return nothing(result);
    const size_t total = platform::loadLE32(bytes + 4);
    if (total > kMaxContainerLength)
        return nothing(result);

    size_t profileOffset = 0, profileSize = 0;
    uint32_t profileTag = 0;
    size_t offset = 8;
    for (;;) {
        if (length - offset < kBlockHeader)
            return nothing(ContainerDecodeResult{});
        const uint32_t tag = platform::loadLE32(bytes + offset);
        const size_t blockLength = platform::loadLE32(bytes + offset + 4);
        // A block shorter than its own header would overlap the next one.
        if (blockLength < kBlockHeader || blockLength > length - offset || offset + blockLength > kMaxBlockEnd)
            return nothing(ContainerDecodeResult{});
        const uint8_t* block = bytes + offset;
        switch (tag) {
        case kTagGeneral: m_General.keep(block, blockLength); break;
        case kTagStatic: m_Static.keep(block, blockLength); break;
        case kTagRoiX: m_RoiX.keep(block, blockLength); break;
        case kTagRoiZ: m_RoiZ.keep(block, blockLength); break;
        case kTagFpgaRegistersA: m_FpgaA.keep(block, blockLength); break;
        case kTagFpgaRegistersB: m_FpgaB.keep(block, blockLength); break;
        case kTagProfileScale: m_Scale.keep(block, blockLength); break;
        case kTagCameraRegistersA:
        case kTagCameraRegistersB:
        case kTagEnd:
            break;
        case kTagImage:
            result.isImage = true;
            result.imageBlockOffset = offset;
            result.imageBlockLength = std::min(blockLength, kMaxImageBlock);
            break;
        case kTagPixelProfile:
        case kTagLinearizedProfile:
            profileTag = tag;
            profileOffset = offset;
            profileSize = std::min(blockLength, tag == kTagPixelProfile ? kMaxPixelBlock : kMaxLinearizedBlock);
            break;
        default:
            return nothing(ContainerDecodeResult{});
        }
        offset += blockLength;
        if (total != 0 ? offset == total : tag == kTagEnd)
            break;
    }

    if (profileTag == 0)
        return nothing(result);
    ResetProfileHeader(profile);
    profile.maxColumns = kMaxProfileColumns;
    profile.linearizedLayout = profileTag == kTagLinearizedProfile;
    applyHeaderBlocks(profile);
    if (profile.linearizedLayout) {
        ClearProfileColumns(profile);
        decodeLinearizedBlock(bytes + profileOffset, profileSize, strengthWidthByteOrder, profile);
    } else {
        decodePixelBlock(bytes + profileOffset, profileSize, profile);
    }
    profile.decoded = true;
    return result;
}

void ProfileContainerDecoder::applyHeaderBlocks(DecodedProfile& p) const
{
    // The encoder handed out: HTL when user I/O lines 1 and 2 are both set to
    // function 5, else TTL/RS422. The KTRA register block wins over KTRB.
    for (const auto* fpga : {&m_FpgaB, &m_FpgaA}) {
        if (!fpga->present)
            continue;
        const bool htl = fpga->has(142, 1) && fpga->u8(136) == 5 && fpga->u8(142) == 5;
        p.encoder = m_General.u32(htl ? 14 : 22);
    }
    if (m_General.present) {
        p.pictureCounter = m_General.u16(8);
        const uint8_t a = m_General.u8(30), b = m_General.u8(31), c = m_General.u8(34);
        p.ioBits = static_cast<uint8_t>(((a >> 1) & 1) | ((a >> 5) & 1) << 1 | ((b >> 1) & 1) << 2 |
                                        ((b >> 5) & 1) << 3 | (c & 0x0F) << 4);
    }
    if (m_Static.present) {
        p.headerWord23 = m_Static.u16(8);
        p.statusBytes[0] = m_Static.u8(32);
        p.statusBytes[1] = m_Static.u8(33);
        p.statusBytes[2] = m_Static.u8(35);
        p.statusBytes[3] = m_Static.u8(34);
    }
    SetProfileRoi(p, m_RoiX.u16(10), m_RoiX.u16(12), m_RoiX.u16(14), m_RoiZ.u16(10), m_RoiZ.u16(12), m_RoiZ.u16(14));
}

void ProfileContainerDecoder::decodePixelBlock(const uint8_t* data, size_t size, DecodedProfile& p) const
{
    const Block b(data, size);
    const uint8_t mask = b.u8(kPixEchoMask) & 0x0F;
    const uint8_t rawFlags = b.u8(kPixRawFlags);
    const uint8_t content = b.u8(kPixContent);
    p.echoCount = __builtin_popcount(mask);
    p.rawPerEcho = (rawFlags & 0x80) != 0;
    p.hasX = false;
    p.hasZ = content == 0 || (content & 0x01);
    p.hasStrength = content == 0 || (content & 0x02);
    p.hasWidth = content == 0 || (content & 0x04);
    p.hasReserved = content == 0 || (content & 0x08);

    PixelColumnLayout layout;
    layout.echoMask = p.rawPerEcho ? (mask & 0x03) : mask;
    layout.hasZ = p.hasZ;
    layout.hasStrength = p.hasStrength;
    layout.hasWidth = p.hasWidth;
    layout.hasReserved = p.hasReserved;
    layout.zBytes = b.u8(kPixFieldSizes) >> 3;
    layout.strengthBytes = b.u8(kPixFieldSizes + 1) >> 3;
    layout.widthBytes = b.u8(kPixFieldSizes + 2) >> 3;
    layout.reservedBytes = b.u8(kPixFieldSizes + 3) >> 3;
    layout.rawBytes = b.u8(kPixFieldSizes + 4) >> 3;
    layout.rawPresent = (rawFlags & 0x0F) != 0;
    layout.rawPerEcho = p.rawPerEcho;
    // Also clears the columns when the block holds none.
    DecodePixelColumns(data, kPixData, size, size, true, layout, p);
}

void ProfileContainerDecoder::decodeLinearizedBlock(const uint8_t* data, size_t size, bool byteOrder,
                                                    DecodedProfile& p) const
{
    const Block b(data, size);
    const size_t columns = std::min<size_t>(b.u32(kLinColumns), kMaxProfileColumns);
    const size_t echoes = b.u8(kLinEchoes);
    p.echoCount = static_cast<int32_t>(echoes);
    p.rawPerEcho = false;
    p.hasX = p.hasZ = p.hasStrength = p.hasWidth = p.hasReserved = false;
    for (size_t f = 0; f < 4; ++f) {
        switch (b.u8(kLinFields + 4 * f)) {
        case kFieldX: p.hasX = true; break;
        case kFieldZ: p.hasZ = true; break;
        case kFieldStrength: p.hasStrength = true; break;
        case kFieldWidth: p.hasWidth = true; break;
        default: break;
        }
    }

    const size_t swBytes = p.hasStrength && p.hasWidth ? 2 : (p.hasStrength || p.hasWidth ? 1 : 0);
    const size_t elementSize = (p.hasZ ? 2 : 0) + swBytes + (p.hasX ? 2 : 0);
    const uint32_t dataLength = b.u32(kLinDataLength);
    size_t dataBytes = dataLength > 8 ? dataLength - 8 : 0;
    dataBytes = std::min(dataBytes, size > kLinData ? size - kLinData : 0);
    const size_t elements = elementSize ? std::min(dataBytes / elementSize, kMaxLinearizedElements) : 0;

    const bool scaled = m_Scale.present && m_Scale.has(8, 16);
    const double xScale = scaled ? platform::loadF32LE(m_Scale.bytes.data() + 8) : 1.0;
    const double xOffset = scaled ? platform::loadF32LE(m_Scale.bytes.data() + 12) : 0.0;
    const double zScale = scaled ? platform::loadF32LE(m_Scale.bytes.data() + 16) : 1.0;
    const double zOffset = scaled ? platform::loadF32LE(m_Scale.bytes.data() + 20) : 0.0;

    // Echo j of column i is element i x echoes + j.
    const size_t decodedEchoes = std::min<size_t>(echoes, kMaxEchoes);
    p.echoSlotsUsed = static_cast<uint8_t>((1u << decodedEchoes) - 1);
    for (size_t i = 0; i < columns; ++i) {
        if (echoes > 0 && i * echoes >= elements)
            break;
        p.columnCount = static_cast<int32_t>(i + 1);
        for (size_t j = 0; j < decodedEchoes; ++j) {
            const size_t element = i * echoes + j;
            if (element >= elements)
                break;
            const uint8_t* at = data + kLinData + element * elementSize;
            EchoPoint& e = p.columns[i].echoes[j];
            e.valid = true;
            if (p.hasZ) {
                const uint16_t z = platform::loadLE16(at);
                at += 2;
                e.zRaw = z;
                e.zPixel = z;
                e.zMm = scaled ? zScale * z + zOffset : z;
            }
            if (swBytes == 2) {
                const uint16_t v = platform::loadLE16(at);
                at += 2;
                if (byteOrder) {
                    e.strength = ((v & 0xFF) << 2) | (v >> 14);
                    e.width = (v >> 8) & 0x3F;
                } else {
                    e.strength = v >> 6;
                    e.width = v & 0x3F;
                }
            } else if (swBytes == 1) {
                if (p.hasStrength)
                    e.strength = *at << 2;
                else
                    e.width = *at & 0x3F;
                at += 1;
            }
            if (p.hasX) {
                const uint16_t x = platform::loadLE16(at);
                e.xMm = scaled ? xScale * x + xOffset : x;
            }
        }
    }
}

}  // namespace quillan
