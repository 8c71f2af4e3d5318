#include "test_frames.h"

#include <stdexcept>

#include "stream/crc32.h"

namespace testframes {

Bytes fromHex(std::string_view hex)
{
    auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9')
            return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<uint8_t>(c - 'a' + 10);
        throw std::invalid_argument("hex digit");
    };
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return out;
}

void putLE16(Bytes& b, size_t offset, uint16_t v)
{
    b.at(offset) = static_cast<uint8_t>(v);
    b.at(offset + 1) = static_cast<uint8_t>(v >> 8);
}

void putLE32(Bytes& b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
}

Bytes block(uint32_t tag, size_t length)
{
    Bytes b(length);
    putLE32(b, 0, tag);
    putLE32(b, 4, static_cast<uint32_t>(length));
    return b;
}

Bytes block(uint32_t tag, const Bytes& body)
{
    Bytes b = block(tag, 8 + body.size());
    std::copy(body.begin(), body.end(), b.begin() + 8);
    return b;
}

Bytes headerBlock(uint16_t counter, uint32_t stamp)
{
    Bytes b = block(0x021A0101, 52);
    putLE16(b, 8, counter);
    putLE32(b, 10, stamp);
    return b;
}

void resealCrc(Bytes& frame)
{
    const uint32_t crc = quillan::stream::crc32Mpeg2(frame.data(), frame.size() - 4);
    for (int i = 0; i < 4; ++i)
        frame[frame.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

Bytes containerWithTotal(std::initializer_list<Bytes> blocks, uint32_t total)
{
    Bytes c(8);
    putLE32(c, 0, 0x021A01FF);
    putLE32(c, 4, total);
    for (const Bytes& b : blocks)
        c.insert(c.end(), b.begin(), b.end());
    Bytes end = block(0x021AFFFF, 12);
    c.insert(c.end(), end.begin(), end.end());
    resealCrc(c);
    return c;
}

Bytes container(std::initializer_list<Bytes> blocks)
{
    size_t total = 8 + 12;
    for (const Bytes& b : blocks)
        total += b.size();
    return containerWithTotal(blocks, static_cast<uint32_t>(total));
}

Bytes profileContainer(uint16_t counter, uint32_t stamp)
{
    Bytes prof = block(0x021A0601, 36);
    prof[10] = 0x01;
    const uint8_t sizes[] = {16, 8, 8, 16, 80};
    std::copy(std::begin(sizes), std::end(sizes), prof.begin() + 13);
    for (int c = 0; c < 4; ++c) {
        putLE16(prof, 20 + 4 * c, static_cast<uint16_t>(32 * (100 + c)));
        prof[22 + 4 * c] = static_cast<uint8_t>(0x40 + c);
        prof[23 + 4 * c] = 5;
    }
    return container({headerBlock(counter, stamp), prof});
}

Bytes imageContainer(uint16_t counter, uint32_t stamp)
{
    Bytes body(24);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i);
    return container({headerBlock(counter, stamp), block(0x021A0501, body)});
}

Bytes legacyFrame(uint8_t type, uint32_t length, uint16_t counter, uint32_t stamp)
{
    Bytes f(length);
    f[0] = type;
    f[1] = 0x19;
    f[2] = static_cast<uint8_t>(length);
    f[3] = static_cast<uint8_t>(length >> 8);
    f[4] = static_cast<uint8_t>(length >> 16);
    putLE16(f, 6, counter);
    putLE32(f, 8, stamp);
    for (size_t i = 12; i + 4 < length; ++i)
        f[i] = static_cast<uint8_t>(i * 7);
    resealCrc(f);
    return f;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace testframes
