#include "server/netif_text.h"

#include "platform/hex.h"

#include <cstdio>

using platform::hexDigit;

namespace Kivu {

bool ParseIpv4(const char* text, uint32_t& hostOrder)
{
    if (text == nullptr)
        return false;
    uint32_t result = 0, part = 0;
    int digits = 0, dots = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (++digits > 3)
                return false;
            part = part * 10 + static_cast<uint32_t>(*p - '0');
            if (part > 255)
                return false;
        } else if (*p == '.') {
            if (digits == 0 || ++dots > 3)
                return false;
            result = (result << 8) | part;
            part = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    if (dots != 3 || digits == 0)
        return false;
    hostOrder = (result << 8) | part;
    return true;
}


bool ParseMac(const char* text, uint8_t (&mac)[6])
{
    if (text == nullptr)
        return false;
    uint8_t bytes[6] = {};
    int group = 0, digits = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const int d = hexDigit(*p);
        if (d >= 0) {
            if (++digits > 2)
                return false;
            bytes[group] = static_cast<uint8_t>(bytes[group] * 16 + d);
        } else if (*p == '-' || *p == ':') {
            if (digits == 0 || ++group > 5)
                return false;
            digits = 0;
        } else {
            return false;
        }
    }
    if (group != 5 || digits == 0)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = bytes[i];
    return true;
}

bool FormatIpv4(uint32_t hostOrder, char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return false;
    const int n = std::snprintf(out, size, "%u.%u.%u.%u", hostOrder >> 24, (hostOrder >> 16) & 0xFF,
                                (hostOrder >> 8) & 0xFF, hostOrder & 0xFF);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace Kivu
