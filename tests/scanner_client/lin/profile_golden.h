#pragma once
// Golden frames built by make_profile_golden.py, and helpers to edit them.
#include "lin1dd_builder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace profiletest {

using lintest::Bytes;
using lintest::fromHex;

struct GoldenEcho {
    int column, echo, zRaw, strength, width, reserved;
    double xMm, zMm, peak;
};

#include "profile_golden.inc"

struct RawBlock {
    uint32_t tag;
    Bytes bytes;  // header included
};

inline uint32_t le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void setLe32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The blocks of a well-formed container, end block included.
inline std::vector<RawBlock> blocksOf(const Bytes& c)
{
    std::vector<RawBlock> out;
    for (size_t at = 8; at + 8 <= c.size();) {
        const uint32_t len = le32(&c[at + 4]);
        out.push_back({le32(&c[at]), Bytes(c.begin() + at, c.begin() + at + len)});
        at += len;
    }
    return out;
}

// A container of these blocks with the right total length (the end block's
// CRC is not recomputed: the decoder does not check it).
inline Bytes containerOf(const std::vector<RawBlock>& blocks)
{
    Bytes c(8);
    for (const RawBlock& b : blocks)
        c.insert(c.end(), b.bytes.begin(), b.bytes.end());
    setLe32(c, 0, 0x021A01FF);
    setLe32(c, 4, static_cast<uint32_t>(c.size()));
    return c;
}

inline std::vector<RawBlock> without(std::vector<RawBlock> blocks, uint32_t tag)
{
    std::erase_if(blocks, [&](const RawBlock& b) { return b.tag == tag; });
    return blocks;
}

}  // namespace profiletest
