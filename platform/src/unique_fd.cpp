#include "platform/unique_fd.h"

#include <unistd.h>

namespace platform {

void UniqueFD::reset(int fd)
{
    if (m_Fd >= 0 && m_Fd != fd)
        ::close(m_Fd);
    m_Fd = fd;
}

}  // namespace platform
