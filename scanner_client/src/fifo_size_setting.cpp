#include "src/fifo_size_setting.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace quillan {
namespace {

// The text after the last '=', cut before a last '\r', must be one whole decimal number.
std::optional<long long> settingValue(const std::string& text)
{
    auto eq = text.rfind('=');
    if (eq == std::string::npos)
        return std::nullopt;
    std::string value = text.substr(eq + 1);
    auto cr = value.rfind('\r');
    if (cr != std::string::npos)
        value.erase(cr);
    const char* begin = value.c_str();
    while (std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    if (*begin == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE)
        return std::nullopt;
    return v;
}

}  // namespace

FifoSizeParse parseFifoSizeSetting(const char* text)
{
    std::string s(text);
    bool named = (s.size() >= 25 && s.find("SetLibraryScannerFiFoSize") != std::string::npos) ||
                 (s.size() >= 14 && s.find("SetDllFiFoSize") != std::string::npos);
    if (!named)
        return {FifoSizeSetting::NotASetting, 0};
    auto v = settingValue(s);
    if (!v || *v < kMinDllFifoSize || *v > INT_MAX)
        return {FifoSizeSetting::Invalid, 0};
    return {FifoSizeSetting::Valid, static_cast<int>(*v)};
}

}  // namespace quillan
