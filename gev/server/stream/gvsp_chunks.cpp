#include "server/stream/gvsp_chunks.h"

#include "platform/bytes.h"

#include <cstring>

namespace Kivu::Gvsp {

namespace {

void writeTrailer(uint8_t* p, uint32_t id, uint32_t length)
{
    platform::storeBE32(p, id);
    platform::storeBE32(p + 4, length);
}

}  // namespace

bool PlaceChunk(const ChunkFrame& f, ChunkArea& area, const void* data, uint32_t length, uint32_t chunkId)
{
    if (f.frame == nullptr)
        return false;
    const bool image = data == nullptr;
    if (f.partCount >= 1 && image)
        length = static_cast<uint32_t>(f.partTotal);
    const uint64_t dataBytes = image ? area.dataBytes : area.dataBytes + length + kChunkTrailerBytes;
    const bool slot = image || area.imageTrailer || f.partCount >= 1;
    const uint64_t offset = dataBytes + (slot ? kChunkTrailerBytes : 0);
    if (offset > f.chunkLimit || (f.partCount == 0 && offset > f.payloadSize))
        return false;

    if (f.partCount == 0) {
        uint8_t* end = f.frame + f.payloadSize;
        if (!image) {
            uint8_t* p = end - dataBytes;
            std::memcpy(p, data, length);
            writeTrailer(p + length, chunkId, length);
        } else {
            area.imageTrailerId = chunkId;
            area.imageTrailerLength = length;
        }
        area.dataBytes = dataBytes;
        area.imageTrailer = slot;
        if (slot)
            writeTrailer(end - offset, area.imageTrailerId, area.imageTrailerLength);
        return true;
    }

    uint8_t* base = f.frame + (f.partCount == 1 ? f.partTotal : 0);
    if (!image) {
        uint8_t* p = base + kChunkTrailerBytes + area.dataBytes;
        std::memcpy(p, data, length);
        writeTrailer(p + length, chunkId, length);
        if (!area.imageTrailer) {
            area.imageTrailerId = 0;
            area.imageTrailerLength = static_cast<uint32_t>(f.partTotal);
        }
    } else {
        area.imageTrailerId = chunkId;
        area.imageTrailerLength = length;
    }
    area.dataBytes = dataBytes;
    area.imageTrailer = true;
    writeTrailer(base, area.imageTrailerId, area.imageTrailerLength);
    return true;
}

}  // namespace Kivu::Gvsp
