#pragma once
// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, not reflected, no final XOR.
#include <cstdint>
#include <string>
#include <string_view>

namespace scanner_sim {

uint32_t crc32Mpeg2(std::string_view bytes);

// Appends the CRC of everything before it, most significant byte first.
void appendCrc(std::string& frame);

}  // namespace scanner_sim
