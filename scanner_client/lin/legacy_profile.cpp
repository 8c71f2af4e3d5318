#include "lin/legacy_profile.h"

#include "lin/pixel_columns.h"

#include "platform/bytes.h"

namespace quillan {
namespace {

enum LegacyOffset : size_t {
    kPictureCounter = 6,
    kEncoder = 12,
    kHeaderWord23 = 23,
    kStatus62 = 62,
    kStatus63 = 63,
    kWidthX = 65,
    kOffsetX = 67,
    kStepX = 99,
    kHeaderWord190 = 190,
    kRawFlags = 192,
    kEchoMask = 213,
    kContent = 215,
    kHeightZ = 290,
    kOffsetZ = 292,
    kStepZ = 294,
    kPointData = 320,
};
constexpr size_t kTrailerRegion = 64;  // from len - 64 on, no point data

class Header {
public:
    Header(const uint8_t* frame, size_t length) : m_Frame(frame), m_Length(length) {}
    uint8_t u8(size_t at) const { return at < m_Length ? m_Frame[at] : 0; }
    uint16_t u16(size_t at) const { return fits(at, 2) ? platform::loadLE16(m_Frame + at) : 0; }
    uint32_t u32(size_t at) const { return fits(at, 4) ? platform::loadLE32(m_Frame + at) : 0; }
    bool fits(size_t at, size_t n) const { return at <= m_Length && n <= m_Length - at; }

private:
    const uint8_t* m_Frame;
    size_t m_Length;
};

}  // namespace

void ParseProfileHeader(const uint8_t* frame, size_t length, DecodedProfile& p)
{
    const Header h(frame, length);
    p.pictureCounter = h.u16(kPictureCounter);
    p.encoder = h.u32(kEncoder);
    p.headerWord23 = h.u16(kHeaderWord23);
    p.headerWord190 = h.u16(kHeaderWord190);
    if (length >= 14) {
        p.statusBytes[0] = h.u8(length - 14);
        p.statusBytes[2] = h.u8(length - 13);
    }
    p.statusBytes[1] = h.u8(kStatus63);
    p.statusBytes[3] = h.u8(kStatus62);
    if (length >= kTrailerRegion)
        p.trailerValue = h.u32(length - kTrailerRegion);
    p.ioBits = 0;

    p.rawPerEcho = (h.u8(kRawFlags) & 0x10) != 0;
    const uint8_t mask = h.u8(kEchoMask);
    p.echoCount = __builtin_popcount(mask & 0x0F);
    const uint8_t content = h.u8(kContent);
    p.hasX = false;
    p.hasZ = content == 0 || (content & 0x01);
    p.hasStrength = content == 0 || (content & 0x02);
    p.hasWidth = content == 0 || (content & 0x04);
    p.hasReserved = content == 0 || (content & 0x08);

    SetProfileRoi(p, h.u16(kOffsetX), h.u16(kWidthX), h.u16(kStepX), h.u16(kOffsetZ), h.u16(kHeightZ),
                  h.u16(kStepZ));
}

void DecodeLegacyProfile(const uint8_t* frame, size_t length, DecodedProfile& p)
{
    // The columns are cleared by DecodePixelColumns, or here when there are none.
    ResetProfileHeader(p);
    p.maxColumns = kMaxProfileColumns;
    ParseProfileHeader(frame, length, p);
    p.decoded = true;
    if (length <= kTrailerRegion || length - kTrailerRegion <= kPointData) {
        ClearProfileColumns(p);
        return;
    }

    uint8_t mask = frame[kEchoMask] & 0x1F;
    if (p.rawPerEcho)
        mask &= 0x13;
    PixelColumnLayout layout;
    layout.echoMask = mask & 0x0F;
    layout.hasZ = p.hasZ;
    layout.hasStrength = p.hasStrength;
    layout.hasWidth = p.hasWidth;
    layout.hasReserved = p.hasReserved;
    layout.zBytes = 2;
    layout.strengthBytes = 1;
    layout.widthBytes = 1;
    layout.reservedBytes = 2;
    layout.rawPresent = (mask & 0x10) != 0;
    layout.rawPerEcho = p.rawPerEcho;
    layout.rawBytes = 10;
    // A column takes at most 64 bytes, so every column that starts before the
    // trailer region ends inside the frame.
    DecodePixelColumns(frame, kPointData, length - kTrailerRegion, length, false, layout, p);
}

}  // namespace quillan
