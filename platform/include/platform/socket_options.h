#pragma once
// Socket options, each true when the kernel took it; callers that set them
// best effort ignore the result.

namespace platform {

bool setIntOption(int fd, int level, int name, int value);
// SO_RCVTIMEO or SO_SNDTIMEO in milliseconds.
bool setTimeOption(int fd, int name, int ms);

}  // namespace platform
