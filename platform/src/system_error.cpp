#include "platform/system_error.h"

#include <cstring>

namespace platform {

const char* systemErrorText(int error)
{
    thread_local char buffer[256];
    // GNU strerror_r may return a static text instead of filling the buffer.
    return strerror_r(error, buffer, sizeof(buffer));
}

}  // namespace platform
