#pragma once
// Console input without a console library: a non-blocking poll and a one-byte read.

namespace platform {

// Whether a read of fd would return at once: a byte is waiting, or end of file.
bool inputWaiting(int fd);

// One byte of fd (0..255), waiting for it; -1 at end of file, on an error, or when a
// signal interrupts the wait.
int readByte(int fd);

}  // namespace platform
