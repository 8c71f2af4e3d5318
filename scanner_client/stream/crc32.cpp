#include "stream/crc32.h"

#include <array>

#include "platform/bytes.h"

namespace quillan::stream {
namespace {

using Table = std::array<std::array<uint32_t, 256>, 16>;

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
    // Sixteen bytes per step (the CRC folds into the first four), then byte by byte.
    while (length >= 16) {
        const uint32_t hi = crc ^ platform::loadBE32(data);
        crc = kTable[15][hi >> 24] ^ kTable[14][(hi >> 16) & 0xFF] ^ kTable[13][(hi >> 8) & 0xFF] ^
              kTable[12][hi & 0xFF] ^ kTable[11][data[4]] ^ kTable[10][data[5]] ^ kTable[9][data[6]] ^
              kTable[8][data[7]] ^ kTable[7][data[8]] ^ kTable[6][data[9]] ^ kTable[5][data[10]] ^
              kTable[4][data[11]] ^ kTable[3][data[12]] ^ kTable[2][data[13]] ^ kTable[1][data[14]] ^
              kTable[0][data[15]];
        data += 16;
        length -= 16;
    }
    while (length--)
        crc = (crc << 8) ^ kTable[0][(*data++ ^ (crc >> 24)) & 0xFF];
    return crc;
}

}  // namespace quillan::stream
