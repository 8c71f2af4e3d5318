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

constexpr std::array<uint32_t, 256> kTable = makeTable();

}  // namespace

uint32_t crc32Mpeg2(std::string_view bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes)
        crc = (crc << 8) ^ kTable[(crc >> 24) ^ b];
    return crc;
}

void appendCrc(std::string& frame)
{
    const uint32_t crc = crc32Mpeg2(frame);
    frame.resize(frame.size() + 4);
    putBE32(frame, frame.size() - 4, crc);
}

}  // namespace scanner_sim
