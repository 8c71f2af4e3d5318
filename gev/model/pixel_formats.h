#pragma once
// GenICam pixel-format names and their PFNC codes.
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace Kivu {

struct PixelFormat {
    const char* name;
    uint32_t code;
};

// The 56 formats the device knows, in table order.
std::span<const PixelFormat> PixelFormatTable();

struct PixelFormatMaps {
    std::map<std::string, uint32_t> codesByName;
    std::map<uint32_t, std::string> namesByCode;
};

PixelFormatMaps LoadPixelFormats();

}  // namespace Kivu
