#include "platform/wake_up.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

namespace platform {

WakeUp::WakeUp() : m_Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeUp::signal() const
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_Fd.get(), &one, sizeof(one));
}

void WakeUp::clear() const
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_Fd.get(), &count, sizeof(count));
}

PollResult WakeUp::wait(std::span<pollfd> fds, int timeoutMs) const
{
    constexpr size_t kInline = 4;
    pollfd inlineSet[kInline];
    std::vector<pollfd> heapSet;
    pollfd* set = inlineSet;
    if (fds.size() + 1 > kInline) {
        heapSet.resize(fds.size() + 1);
        set = heapSet.data();
    }
    set[0] = {m_Fd.get(), POLLIN, 0};
    std::copy(fds.begin(), fds.end(), set + 1);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int left = timeoutMs;
    int n = 0;
    for (;;) {
        n = ::poll(set, static_cast<nfds_t>(fds.size() + 1), left);
        if (n >= 0 || errno != EINTR)
            break;
        if (timeoutMs >= 0) {
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            left = static_cast<int>(std::max<std::chrono::milliseconds::rep>(rest.count(), 0));
        }
    }
    if (n < 0)
        return PollResult::Failed;
    for (size_t i = 0; i < fds.size(); ++i)
        fds[i].revents = set[i + 1].revents;
    if (set[0].revents != 0)
        return PollResult::Woken;
    return n > 0 ? PollResult::Ready : PollResult::TimedOut;
}

PollResult WakeUp::wait(int fd, short events, int timeoutMs, short* revents) const
{
    pollfd p{fd, events, 0};
    const PollResult result = wait(std::span(&p, 1), timeoutMs);
    if (revents != nullptr)
        *revents = p.revents;
    return result;
}

}  // namespace platform
