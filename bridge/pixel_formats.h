#pragma once
// The pixel formats the bridge streams, and the records of a block's parts and chunks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gev_camera.h"

namespace lumabridge {

// Read-only tables, matched by exact name; an unknown format is std::nullopt and is never added.
std::optional<double> BytesPerPixel(std::string_view pixelFormat);
std::optional<uint16_t> PartDataType(std::string_view pixelFormat);  // 1 2D image, 5 3D image

// width x lines x bytes per pixel: rounded up for the intensity part, truncated for the range
// part; 0 for an unknown format.
uint64_t PartByteCount(uint16_t width, uint16_t lines, std::string_view pixelFormat, bool roundUp);

struct ComponentRecord {
    bool m_Enabled = false;
    PartDescriptor m_Part;
};

// One chunk of a block, with one 32-bit value per line.
struct ChunkRecord {
    std::string m_Name;
    std::string m_DisplayName;
    uint32_t m_ChunkId = 0;
    bool m_Enabled = false;
    uint8_t m_BytesPerValue = 0;
    std::unique_ptr<uint32_t[]> m_Values;  // m_ValueCount values, not initialised
    size_t m_ValueCount = 0;

    // Gives the record room for count values; an array of that size already there is kept, so a
    // reader of the old array is never left with freed memory.
    void AllocateValues(size_t count);
};

}  // namespace lumabridge
