#include "pixel_formats.h"

#include <cmath>

namespace lumabridge {
namespace {

struct PixelFormatEntry {
    std::string_view name;
    double bytesPerPixel;
    uint16_t partDataType;
};

constexpr PixelFormatEntry kPixelFormats[] = {
    {"Mono8", 1.0, 1},  {"Mono10Packed", 1.5, 1}, {"Mono10", 2.0, 1},
    {"Mono16", 2.0, 1}, {"RGB16", 6.0, 1},        {"Coord3D_ABC32f", 12.0, 5},
};

const PixelFormatEntry* find(std::string_view name)
{
    for (const PixelFormatEntry& entry : kPixelFormats)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

}  // namespace

std::optional<double> BytesPerPixel(std::string_view pixelFormat)
{
    const PixelFormatEntry* entry = find(pixelFormat);
    return entry ? std::optional<double>(entry->bytesPerPixel) : std::nullopt;
}

std::optional<uint16_t> PartDataType(std::string_view pixelFormat)
{
    const PixelFormatEntry* entry = find(pixelFormat);
    return entry ? std::optional<uint16_t>(entry->partDataType) : std::nullopt;
}

uint64_t PartByteCount(uint16_t width, uint16_t lines, std::string_view pixelFormat, bool roundUp)
{
    const std::optional<double> bytes = BytesPerPixel(pixelFormat);
    if (!bytes)
        return 0;
    // Below 2^36, so exact in a double.
    const double total = static_cast<double>(uint32_t{width} * lines) * *bytes;
    return static_cast<uint64_t>(roundUp ? std::ceil(total) : std::floor(total));
}

void ChunkRecord::AllocateValues(size_t count)
{
    if (m_Values && m_ValueCount == count)
        return;
    m_Values.reset(new uint32_t[count]);
    m_ValueCount = count;
}

}  // namespace lumabridge
