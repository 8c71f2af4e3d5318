#pragma once
// Test-side GVSP receiver that follows what clients do: image payload packet k
// lands at (k - 1) * (S - H), multi-part packets at their offset field, and
// chunks are walked back from the end of the payload.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace gvsp_test {

struct Part {
    uint16_t dataType = 0;
    uint64_t length = 0;
    uint32_t pixelFormat = 0;
    uint32_t sizeX = 0, sizeY = 0;
    uint32_t trailerSizeY = 0;
};

struct Chunk {
    uint32_t id = 0;
    std::vector<uint8_t> data;
};

struct Block {
    bool extended = false;
    uint64_t blockId = 0;
    uint16_t leaderFlags = 0;
    uint16_t payloadType = 0;
    uint64_t timestamp = 0;
    uint32_t pixelFormat = 0, sizeX = 0, sizeY = 0, offsetX = 0, offsetY = 0;
    uint32_t trailerSizeY = 0;
    uint32_t trailerChunkLength = 0;
    uint64_t dataSize = 0;       // JPEG / H.264 leader
    uint64_t tickFrequency = 0;  // JPEG leader
    std::vector<Part> parts;     // multi-part leader entries, chunk entry included
    std::vector<uint8_t> payload;
    std::vector<uint32_t> packetIds;  // every packet seen, in arrival order
    bool leader = false, trailer = false;
    uint32_t trailerId = 0;
    std::string error;  // first inconsistency found

    // Missing packets between leader and trailer (empty when complete).
    std::vector<uint32_t> Missing() const;
    // Chunks walked back from the end of the payload; nullopt when the chain is broken.
    std::optional<std::vector<Chunk>> Chunks() const;
};

class Reassembler {
public:
    explicit Reassembler(uint32_t packetBytes) : m_S(packetBytes) {}
    // Returns false for a datagram that is not a well-formed GVSP packet.
    bool Add(std::span<const uint8_t> packet);
    std::map<uint64_t, Block>& Blocks() { return m_Blocks; }

private:
    uint32_t m_S;
    std::map<uint64_t, Block> m_Blocks;
};

}  // namespace gvsp_test
