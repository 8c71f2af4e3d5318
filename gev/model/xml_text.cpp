#include "model/xml_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace Kivu::XmlText {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool allowedControl(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

// Length of the well-formed UTF-8 sequence of an XML character at p, or 0.
size_t sequenceLength(const unsigned char* p, size_t room)
{
    const unsigned char c = p[0];
    size_t n;
    uint32_t cp;
    if (c < 0x80)
        return (c >= 0x20 || allowedControl(c)) ? 1 : 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (room < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (overlong || surrogate || cp > 0x10FFFF || cp == 0xFFFE || cp == 0xFFFF)
        return 0;
    return n;
}

template <class T>
bool parseInteger(const char* text, T& value)
{
    if (text == nullptr)
        return false;
    const char* p = text;
    const char* end = text + std::strlen(text);
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == end || *p == '+' || *p == '-')
        return false;
    uint64_t magnitude = 0;
    const auto r = std::from_chars(p, end, magnitude, base);
    if (r.ec != std::errc() || r.ptr != end)
        return false;
    if constexpr (std::is_signed_v<T>) {
        if (negative) {
            if (magnitude > uint64_t(INT64_MAX) + 1)
                return false;
            value = static_cast<T>(0 - magnitude);
        } else {
            if (magnitude > uint64_t(INT64_MAX))
                return false;
            value = static_cast<T>(magnitude);
        }
    } else {
        if (negative && magnitude != 0)
            return false;
        value = magnitude;
    }
    return true;
}

}  // namespace

bool IsClean(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceLength(p + i, text.size() - i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string Clean(std::string_view text)
{
    if (IsClean(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceLength(p + i, text.size() - i);
        if (n != 0) {
            out.append(text.data() + i, n);
            i += n;
        } else {
            if (p[i] >= 0x80)
                out += kReplacement;
            ++i;  // C0 controls are dropped
        }
    }
    return out;
}

std::string FormatFloat(float value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, r.ptr);
}

std::string FormatHex(uint32_t value)
{
    char buffer[16] = "0x";
    const auto r = std::to_chars(buffer + 2, buffer + sizeof(buffer), value, 16);
    for (char* c = buffer + 2; c != r.ptr; ++c)
        if (*c >= 'a' && *c <= 'f')
            *c = static_cast<char>(*c - 'a' + 'A');
    return std::string(buffer, r.ptr);
}

bool ParseInt64(const char* text, int64_t& value)
{
    return parseInteger(text, value);
}

bool ParseUInt64(const char* text, uint64_t& value)
{
    return parseInteger(text, value);
}

bool ParseFloat(const char* text, float& value)
{
    if (text == nullptr)
        return false;
    const char* end = text + std::strlen(text);
    const char* p = text;
    if (p != end && *p == '+')
        ++p;
    const auto r = std::from_chars(p, end, value);
    return r.ec == std::errc() && r.ptr == end && p != end;
}

const char* AccessText(uint32_t access)
{
    static const char* const kTexts[] = {"NA", "RO", "WO", "RW"};
    CheckAccess(access);
    return kTexts[access];
}

void CheckAccess(uint32_t access)
{
    if (access > 3)
        throw std::logic_error("Unknown access value\n");
}

bool AccessNumber(const char* text, uint32_t& access)
{
    static const char* const kTexts[] = {"NA", "RO", "WO", "RW"};
    if (text == nullptr)
        return false;
    for (uint32_t i = 0; i < 4; ++i) {
        if (std::strcmp(text, kTexts[i]) == 0) {
            access = i;
            return true;
        }
    }
    return false;
}

}  // namespace Kivu::XmlText
