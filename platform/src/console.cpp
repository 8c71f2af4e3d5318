#include "platform/console.h"

#include <poll.h>
#include <unistd.h>

namespace platform {

bool inputWaiting(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int readByte(int fd)
{
    unsigned char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : -1;
}

}  // namespace platform
