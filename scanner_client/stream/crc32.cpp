#include "stream/crc32.h"

#include <array>

#include "platform/bytes.h"

namespace quillan::stream {
namespace {

using Table = std::array<std::array<uint32_t, 256>, 8>;

// table[k][b]: the CRC contribution of byte b followed by k zero bytes.
constexpr Table makeTable()
{
    Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        t[0][i] = c;
    }
    for (size_t k = 1; k < t.size(); ++k)
        for (uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    return t;
}

constexpr Table kTable = makeTable();

}  // namespace

uint32_t crc32Mpeg2(const uint8_t* data, size_t length, uint32_t crc)
{
    // Eight bytes per step, then byte by byte.
    while (length >= 8) {
        const uint32_t hi = crc ^ platform::loadBE32(data);
        crc = kTable[7][hi >> 24] ^ kTable[6][(hi >> 16) & 0xFF] ^ kTable[5][(hi >> 8) & 0xFF] ^
              kTable[4][hi & 0xFF] ^ kTable[3][data[4]] ^ kTable[2][data[5]] ^ kTable[1][data[6]] ^
              kTable[0][data[7]];
        data += 8;
        length -= 8;
    }
    while (length--)
        crc = (crc << 8) ^ kTable[0][(*data++ ^ (crc >> 24)) & 0xFF];
    return crc;
}

}  // namespace quillan::stream
