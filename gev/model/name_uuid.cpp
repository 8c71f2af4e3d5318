#include "model/name_uuid.h"

#include "platform/bytes.h"
#include "platform/hex.h"

#include <bit>
#include <cstring>
#include <vector>

using platform::hexDigit;

namespace Kivu {

namespace {

void sha1Block(uint32_t h[5], const uint8_t* block)
{
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = platform::loadBE32(block + 4 * i);
    for (int i = 16; i < 80; ++i)
        w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

}  // namespace

std::array<uint8_t, 20> Sha1(std::string_view data)
{
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t whole = data.size() / 64 * 64;
    for (size_t i = 0; i < whole; i += 64)
        sha1Block(h, p + i);

    // Tail, the 0x80 marker and the bit length in one or two blocks.
    uint8_t tail[128] = {};
    const size_t rest = data.size() - whole;
    if (rest != 0)
        std::memcpy(tail, p + whole, rest);
    tail[rest] = 0x80;
    const size_t blocks = rest < 56 ? 1 : 2;
    platform::storeBE64(tail + 64 * blocks - 8, uint64_t(data.size()) * 8);
    for (size_t i = 0; i < blocks; ++i)
        sha1Block(h, tail + 64 * i);

    std::array<uint8_t, 20> digest;
    for (int i = 0; i < 5; ++i)
        platform::storeBE32(digest.data() + 4 * i, h[i]);
    return digest;
}

Uuid NameUuid(const Uuid& ns, std::string_view name)
{
    std::string data(reinterpret_cast<const char*>(ns.data()), ns.size());
    data.append(name);
    const auto digest = Sha1(data);
    Uuid uuid;
    std::memcpy(uuid.data(), digest.data(), uuid.size());
    uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0F) | 0x50);  // version 5
    uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return uuid;
}

std::string UuidText(const Uuid& uuid)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kDigits[uuid[i] >> 4];
        text += kDigits[uuid[i] & 0x0F];
    }
    return text;
}

std::optional<Uuid> ParseUuid(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    Uuid uuid;
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        uuid[byte++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return uuid;
}

}  // namespace Kivu
