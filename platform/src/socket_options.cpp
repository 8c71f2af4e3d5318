#include "platform/socket_options.h"

#include <sys/socket.h>
#include <sys/time.h>

namespace platform {

bool setIntOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof(value)) == 0;
}

bool setTimeOption(int fd, int name, int ms)
{
    const timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof(tv)) == 0;
}

}  // namespace platform
