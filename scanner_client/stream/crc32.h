#pragma once
// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, not reflected, no final XOR.
#include <cstddef>
#include <cstdint>

namespace quillan::stream {

inline constexpr uint32_t kCrcInit = 0xFFFFFFFF;

// CRC of `length` bytes; pass a previous result as `crc` to continue over more bytes.
uint32_t crc32Mpeg2(const uint8_t* data, size_t length, uint32_t crc = kCrcInit);

}  // namespace quillan::stream
