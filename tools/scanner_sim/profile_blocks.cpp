#include "scanner_sim/profile_blocks.h"

#include <bit>
#include <stdexcept>

#include "scanner_sim/byte_buffer.h"

namespace scanner_sim {
namespace {

constexpr size_t kPixelHeader = 20;
constexpr size_t kLinearizedHeader = 56;
constexpr size_t kMaxLinearizedElements = 4096;

// Field codes of the linearized layout's field entries.
constexpr uint8_t kCodeX = 1, kCodeZ = 2, kCodeStrength = 4, kCodeWidth = 5;

}  // namespace

uint8_t presentFields(uint8_t content)
{
    content &= 0x0F;
    return content == 0 ? 0x0F : content;
}

int echoCount(uint8_t echoMask) { return std::popcount(static_cast<unsigned>(echoMask & 0x0F)); }

Block pixelProfileBlock(uint8_t echoMask, uint8_t content, const std::vector<EchoValue>& points)
{
    const uint8_t f = presentFields(content);
    const size_t perEcho = ((f & kContentZ) ? 2 : 0) + ((f & kContentStrength) ? 1 : 0) +
                           ((f & kContentWidth) ? 1 : 0) + ((f & kContentReserved) ? 2 : 0);
    std::string b(kPixelHeader + points.size() * perEcho, '\0');
    put8(b, 10, echoMask & 0x0F);
    put8(b, 11, 0);
    put8(b, 12, content & 0x0F);
    put8(b, 13, 16);
    put8(b, 14, 8);
    put8(b, 15, 8);
    put8(b, 16, 16);
    put8(b, 17, 80);
    size_t at = kPixelHeader;
    for (const EchoValue& e : points) {
        if (f & kContentZ) {
            put16(b, at, e.zRaw);
            at += 2;
        }
        if (f & kContentStrength)
            put8(b, at++, (e.strength >> 2) & 0xFF);
        if (f & kContentWidth) {
            const unsigned low = (f & kContentStrength) ? (e.strength & 3u) << 6 : 0;
            put8(b, at++, low | (e.width & 0x3Fu));
        }
        if (f & kContentReserved) {
            put16(b, at, e.reserved);
            at += 2;
        }
    }
    return Block{kPixelProfileTag, b.substr(8)};
}

Block linearizedProfileBlock(uint8_t content, bool swappedStrengthWidth, const std::vector<LinearizedPoint>& points)
{
    if (points.size() > kMaxLinearizedElements)
        throw std::length_error("scanner_sim: more than 4096 linearized elements");
    const uint8_t f = presentFields(content);
    const bool strength = (f & kContentStrength) != 0;
    const bool width = (f & kContentWidth) != 0;
    const size_t packed = strength && width ? 2 : (strength || width ? 1 : 0);
    const size_t element = 2 + packed + 2;
    std::string b(kLinearizedHeader + points.size() * element, '\0');
    put32(b, 16, static_cast<uint32_t>(points.size()));
    put8(b, 20, 1);
    size_t entry = 28;
    const auto addEntry = [&](uint8_t code) {
        put8(b, entry, code);
        entry += 4;
    };
    addEntry(kCodeZ);
    if (strength)
        addEntry(kCodeStrength);
    if (width)
        addEntry(kCodeWidth);
    addEntry(kCodeX);
    put32(b, 52, static_cast<uint32_t>(points.size() * element + 8));
    size_t at = kLinearizedHeader;
    for (const LinearizedPoint& p : points) {
        put16(b, at, p.z);
        at += 2;
        const unsigned s = p.strength & 0x3FFu;
        const unsigned w = p.width & 0x3Fu;
        if (packed == 2) {
            put16(b, at, swappedStrengthWidth ? (s >> 2) | w << 8 | (s & 3) << 14 : s << 6 | w);
        } else if (strength) {
            put8(b, at, s >> 2);
        } else if (width) {
            put8(b, at, w);
        }
        at += packed;
        put16(b, at, p.x);
        at += 2;
    }
    return Block{kLinearizedProfileTag, b.substr(8)};
}

Block profileScaleBlock(const ProfileScale& scale)
{
    std::string b(32, '\0');
    put32(b, 8, std::bit_cast<uint32_t>(scale.xScale));
    put32(b, 12, std::bit_cast<uint32_t>(scale.xOffset));
    put32(b, 16, std::bit_cast<uint32_t>(scale.zScale));
    put32(b, 20, std::bit_cast<uint32_t>(scale.zOffset));
    return Block{kProfileScaleTag, b.substr(8)};
}

}  // namespace scanner_sim
