#include "server/camera_feature_text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace Kivu {

const char* keepText(std::string text)
{
    thread_local std::string kept;
    kept = std::move(text);
    return kept.c_str();
}

bool parseInt64(const std::string& text, int64_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

bool parseFloat(const std::string& text, float& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

std::string hexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIx64, value);
    return text;
}

}  // namespace Kivu
