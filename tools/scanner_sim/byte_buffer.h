#pragma once
// Little-endian field stores into a byte string, at fixed offsets or appended.
#include <cstdint>
#include <string>

#include "platform/bytes.h"

namespace scanner_sim {

inline uint8_t* at(std::string& b, size_t offset) { return reinterpret_cast<uint8_t*>(b.data() + offset); }

inline void put8(std::string& b, size_t offset, uint32_t v) { b[offset] = static_cast<char>(v & 0xFF); }
inline void put16(std::string& b, size_t offset, uint32_t v) { platform::storeLE16(at(b, offset), static_cast<uint16_t>(v)); }
inline void put24(std::string& b, size_t offset, uint32_t v)
{
    put16(b, offset, v & 0xFFFF);
    put8(b, offset + 2, v >> 16);
}
inline void put32(std::string& b, size_t offset, uint32_t v) { platform::storeLE32(at(b, offset), v); }
inline void put64(std::string& b, size_t offset, uint64_t v) { platform::storeLE64(at(b, offset), v); }
inline void putF64(std::string& b, size_t offset, double v) { platform::storeF64LE(at(b, offset), v); }
inline void putBE32(std::string& b, size_t offset, uint32_t v) { platform::storeBE32(at(b, offset), v); }

inline void append32(std::string& b, uint32_t v)
{
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, v);
}

}  // namespace scanner_sim
