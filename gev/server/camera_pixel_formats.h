#pragma once
// GenICam pixel-format names and their PFNC codes.
#include <cstdint>

namespace Kivu {

// 0 for a name not in the table.
uint32_t PixelFormatCode(const char* name);
// Null for a code not in the table; the text lives for the whole program.
const char* PixelFormatName(uint32_t code);

}  // namespace Kivu
