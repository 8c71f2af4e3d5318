#pragma once
// Explicit little- and big-endian loads and stores on byte buffers.
#include <bit>
#include <cstdint>
#include <cstring>

namespace platform {

template <typename T>
constexpr T loadLE(const uint8_t* p)
{
    static_assert(std::is_unsigned_v<T>);
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
    return v;
}

template <typename T>
constexpr T loadBE(const uint8_t* p)
{
    static_assert(std::is_unsigned_v<T>);
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<T>((v << 8) | p[i]);
    return v;
}

template <typename T>
constexpr void storeLE(uint8_t* p, T v)
{
    static_assert(std::is_unsigned_v<T>);
    for (size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <typename T>
constexpr void storeBE(uint8_t* p, T v)
{
    static_assert(std::is_unsigned_v<T>);
    for (size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * (sizeof(T) - 1 - i)));
}

inline uint16_t loadLE16(const uint8_t* p) { return loadLE<uint16_t>(p); }
inline uint32_t loadLE32(const uint8_t* p) { return loadLE<uint32_t>(p); }
inline uint64_t loadLE64(const uint8_t* p) { return loadLE<uint64_t>(p); }
inline uint16_t loadBE16(const uint8_t* p) { return loadBE<uint16_t>(p); }
inline uint32_t loadBE32(const uint8_t* p) { return loadBE<uint32_t>(p); }
inline uint64_t loadBE64(const uint8_t* p) { return loadBE<uint64_t>(p); }
inline void storeLE16(uint8_t* p, uint16_t v) { storeLE(p, v); }
inline void storeLE32(uint8_t* p, uint32_t v) { storeLE(p, v); }
inline void storeLE64(uint8_t* p, uint64_t v) { storeLE(p, v); }
inline void storeBE16(uint8_t* p, uint16_t v) { storeBE(p, v); }
inline void storeBE32(uint8_t* p, uint32_t v) { storeBE(p, v); }
inline void storeBE64(uint8_t* p, uint64_t v) { storeBE(p, v); }

inline float loadF32LE(const uint8_t* p) { return std::bit_cast<float>(loadLE32(p)); }
inline double loadF64LE(const uint8_t* p) { return std::bit_cast<double>(loadLE64(p)); }
inline void storeF32LE(uint8_t* p, float v) { storeLE32(p, std::bit_cast<uint32_t>(v)); }
inline void storeF64LE(uint8_t* p, double v) { storeLE64(p, std::bit_cast<uint64_t>(v)); }

}  // namespace platform
