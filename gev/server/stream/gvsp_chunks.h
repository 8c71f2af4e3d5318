#pragma once
// Placement of chunk data in a frame buffer: each chunk's data followed by its
// 8-byte trailer {u32 id, u32 length}, big-endian, so that a receiver walks the
// chunks back from the end of the payload.
#include <cstdint>

namespace Kivu::Gvsp {

constexpr uint32_t kChunkTrailerBytes = 8;

// Chunk bytes placed in the current frame of one channel.
struct ChunkArea {
    uint64_t dataBytes = 0;     // data chunks: their lengths plus one trailer each
    bool imageTrailer = false;  // the image-data trailer slot is in use
    uint32_t imageTrailerId = 0;
    uint32_t imageTrailerLength = 0;

    // The chunk byte count of the frame (what the send takes as chunk bytes).
    uint64_t Offset() const { return dataBytes + (imageTrailer ? kChunkTrailerBytes : 0); }
};

struct ChunkFrame {
    uint8_t* frame = nullptr;
    uint16_t partCount = 0;    // P: parts given for the frame
    uint64_t partTotal = 0;    // T: their bytes
    uint64_t payloadSize = 0;  // S: the channel's payload size (chunks end there when P = 0)
    uint64_t chunkLimit = 0;   // chunk bytes the channel declared
};

// Places one chunk; data null places the image-data trailer {chunkId, length}
// (length = the low 32 bits of T when P >= 1). The layout does not depend on
// the order of the calls:
//   P = 0:  ... [image-data trailer][last chunk + trailer] ... [first chunk + trailer] | S
//   P = 1:  part bytes (T) [image-data trailer] [first chunk + trailer] [next ...]
//   P >= 2: [image-data trailer] [first chunk + trailer] [next ...]   (from offset 0)
// With P >= 1 the first data chunk reserves the image-data trailer slot, written
// as {0, T} until the image-data trailer is placed. False, and nothing written,
// when the chunk would pass the declared chunk bytes (or S when P = 0).
bool PlaceChunk(const ChunkFrame& f, ChunkArea& area, const void* data, uint32_t length, uint32_t chunkId);

}  // namespace Kivu::Gvsp
