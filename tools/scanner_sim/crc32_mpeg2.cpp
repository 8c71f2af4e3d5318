#include "scanner_sim/crc32_mpeg2.h"

#include <array>

#include "scanner_sim/byte_buffer.h"

namespace scanner_sim {
namespace {

constexpr std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
        table[i] = c;
    }
    return table;
}

// Slicing by eight: kTables[k][i] is the CRC of byte i followed by k zero bytes.
constexpr std::array<std::array<uint32_t, 256>, 8> makeTables()
{
    std::array<std::array<uint32_t, 256>, 8> t{};
    t[0] = makeTable();
    for (size_t k = 1; k < 8; ++k)
        for (size_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    return t;
}

constexpr std::array<std::array<uint32_t, 256>, 8> kTables = makeTables();

uint32_t word(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

uint32_t crc32Mpeg2(std::string_view bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t a = crc ^ word(p);
        const uint32_t b = word(p + 4);
        crc = kTables[7][a >> 24] ^ kTables[6][(a >> 16) & 0xFF] ^ kTables[5][(a >> 8) & 0xFF] ^ kTables[4][a & 0xFF] ^
              kTables[3][b >> 24] ^ kTables[2][(b >> 16) & 0xFF] ^ kTables[1][(b >> 8) & 0xFF] ^ kTables[0][b & 0xFF];
    }
    for (; n > 0; --n, ++p)
        crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *p];
    return crc;
}

void appendCrc(std::string& frame)
{
    const uint32_t crc = crc32Mpeg2(frame);
    frame.resize(frame.size() + 4);
    putBE32(frame, frame.size() - 4, crc);
}

}  // namespace scanner_sim
