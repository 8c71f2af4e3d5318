#pragma once
// The wake-up of a blocking loop: an eventfd that another thread signals and
// that the loop polls together with its own descriptors.
#include "platform/unique_fd.h"

#include <poll.h>

#include <span>

namespace platform {

enum class PollResult {
    Ready,     // a polled descriptor has events (see its revents)
    Woken,     // the wake-up is signalled (the revents are filled as well)
    TimedOut,
    Failed,    // poll failed (errno tells why)
};

class WakeUp {
public:
    // Without an eventfd (none could be made) the wake-up is not valid.
    WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    bool isValid() const { return m_Fd.isValid(); }
    int fd() const { return m_Fd.get(); }

    // Safe from any thread; the wake-up stays signalled until clear().
    void signal() const;
    void clear() const;

    // Polls fds and the wake-up for up to timeoutMs (negative: without end); an
    // interrupted poll goes on for the time left.
    PollResult wait(std::span<pollfd> fds, int timeoutMs) const;
    PollResult wait(int fd, short events, int timeoutMs, short* revents = nullptr) const;
    // Waits for the wake-up alone.
    PollResult sleep(int timeoutMs) const { return wait({}, timeoutMs); }

private:
    UniqueFD m_Fd;
};

}  // namespace platform
