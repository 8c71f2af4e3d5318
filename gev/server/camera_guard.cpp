#include "server/camera_guard.h"

#include "platform/debug_output.h"

#include <cstdio>

namespace Kivu {

void reportEscaped(const char* operation, const char* what) noexcept
{
    char line[512];
    std::snprintf(line, sizeof line, "Error: %s: %s\n", operation != nullptr ? operation : "camera",
                  what != nullptr ? what : "");
    platform::debugOutput(line);
}

}  // namespace Kivu
