#include "gvsp_reassembler.h"

#include "platform/bytes.h"

#include <algorithm>
#include <set>

namespace gvsp_test {

using platform::loadBE16;
using platform::loadBE32;
using platform::loadBE64;

namespace {

uint64_t load48(const uint8_t* p)
{
    return (uint64_t(loadBE16(p)) << 32) | loadBE32(p + 2);
}

void place(Block& b, uint64_t offset, std::span<const uint8_t> data)
{
    if (b.payload.size() < offset + data.size())
        b.payload.resize(offset + data.size());
    std::copy(data.begin(), data.end(), b.payload.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::vector<uint32_t> Block::Missing() const
{
    std::vector<uint32_t> missing;
    const std::set<uint32_t> seen(packetIds.begin(), packetIds.end());
    const uint32_t end = trailer ? trailerId : (packetIds.empty() ? 0 : *seen.rbegin() + 1);
    for (uint32_t id = 0; id <= end && id < 100000000; ++id)
        if (!seen.count(id))
            missing.push_back(id);
    return missing;
}

std::optional<std::vector<Chunk>> Block::Chunks() const
{
    std::vector<Chunk> out;
    uint64_t end = payload.size();
    for (int guard = 0; end > 0 && guard < 10000; ++guard) {
        if (end < 8)
            return std::nullopt;
        const uint32_t id = loadBE32(&payload[end - 8]);
        const uint32_t len = loadBE32(&payload[end - 4]);
        if (len > end - 8)
            return std::nullopt;
        Chunk c;
        c.id = id;
        c.data.assign(payload.begin() + static_cast<std::ptrdiff_t>(end - 8 - len),
                      payload.begin() + static_cast<std::ptrdiff_t>(end - 8));
        out.push_back(std::move(c));
        end -= 8 + len;
    }
    if (end != 0)
        return std::nullopt;
    return out;
}

bool Reassembler::Add(std::span<const uint8_t> p)
{
    if (p.size() < 8)
        return false;
    const bool ext = (p[4] & 0x80) != 0;
    const size_t h = ext ? 20 : 8;
    if (p.size() < h)
        return false;
    const uint8_t format = p[4] & 0x0F;
    const uint64_t blockId = ext ? loadBE64(&p[8]) : loadBE16(&p[2]);
    const uint32_t packetId = ext ? loadBE32(&p[16]) : (uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7]);
    Block& b = m_Blocks[blockId];
    b.extended = ext;
    b.blockId = blockId;
    b.packetIds.push_back(packetId);
    const uint8_t* body = p.data() + h;
    const size_t bodyLen = p.size() - h;
    auto fail = [&](const char* what) {
        if (b.error.empty())
            b.error = what;
        return false;
    };
    if (loadBE16(&p[0]) != 0)
        return fail("status");
    switch (format) {
    case 1: {  // leader
        if (packetId != 0 || bodyLen < 4)
            return fail("leader");
        b.leader = true;
        b.leaderFlags = ext ? loadBE16(&p[2]) : 0;
        b.payloadType = loadBE16(body + 2);
        const uint16_t base = b.payloadType & 0x3FFF;
        if (base == 1 && bodyLen == 36) {
            b.timestamp = loadBE64(body + 4);
            b.pixelFormat = loadBE32(body + 12);
            b.sizeX = loadBE32(body + 16);
            b.sizeY = loadBE32(body + 20);
            b.offsetX = loadBE32(body + 24);
            b.offsetY = loadBE32(body + 28);
        } else if (base == 6 && bodyLen == 32) {
            b.timestamp = loadBE64(body + 4);
            b.dataSize = loadBE64(body + 12);
            b.tickFrequency = loadBE64(body + 20);
            b.pixelFormat = loadBE32(body + 28);
        } else if (base == 8 && bodyLen == 32) {
            b.dataSize = loadBE64(body + 4);
        } else if (base == 0x0A && bodyLen >= 12 && (bodyLen - 12) % 48 == 0) {
            b.timestamp = loadBE64(body + 4);
            const size_t n = (bodyLen - 12) / 48;
            if (n != p[7])
                return fail("part count");
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* e = body + 12 + 48 * i;
                Part part;
                part.dataType = loadBE16(e);
                part.length = load48(e + 2);
                part.pixelFormat = loadBE32(e + 8);
                part.sizeX = loadBE32(e + 24);
                part.sizeY = loadBE32(e + 28);
                b.parts.push_back(part);
            }
        } else {
            return fail("leader layout");
        }
        return true;
    }
    case 2: {  // trailer
        if (bodyLen < 4)
            return fail("trailer");
        b.trailer = true;
        b.trailerId = packetId;
        const uint16_t type = loadBE16(body + 2);
        const uint16_t base = type & 0x3FFF;
        if (base == 1) {
            if (bodyLen != 16)
                return fail("image trailer");
            b.trailerSizeY = loadBE32(body + 4);
            b.trailerChunkLength = loadBE32(body + 8);
        } else if (base == 0x0A) {
            const size_t chunkExtra = (type & 0x4000) ? 24 : 0;
            if (bodyLen < 4 + chunkExtra || (bodyLen - 4 - chunkExtra) % 16 != 0)
                return fail("multi-part trailer");
            const size_t n = (bodyLen - 4 - chunkExtra) / 16;
            for (size_t i = 0; i < n && i < b.parts.size(); ++i)
                b.parts[i].trailerSizeY = loadBE32(body + 4 + 16 * i + 8);
            if (chunkExtra)
                b.trailerChunkLength = loadBE32(body + 4 + 16 * n + 16);
        } else if (bodyLen != 4) {
            return fail("trailer layout");
        }
        return true;
    }
    case 3:  // generic payload
        if (packetId == 0)
            return fail("payload id");
        place(b, uint64_t(packetId - 1) * (m_S - h), std::span(body, bodyLen));
        return true;
    case 5:  // H.264 payload: timestamp, then data
        if (packetId == 0 || bodyLen < 8)
            return fail("h264 payload");
        b.timestamp = loadBE64(body);
        place(b, uint64_t(packetId - 1) * (m_S - h - 8), std::span(body + 8, bodyLen - 8));
        return true;
    case 7: {  // multi-part payload
        if (packetId == 0 || bodyLen < 8)
            return fail("multi-part payload");
        const uint8_t part = body[0];
        const uint64_t offset = load48(body + 2);
        if (part >= b.parts.size() && b.leader)
            return fail("part index");
        place(b, offset, std::span(body + 8, bodyLen - 8));
        return true;
    }
    default: return fail("format");
    }
}

}  // namespace gvsp_test
