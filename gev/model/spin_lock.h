#pragma once
// Spin flag for very short sections.
#include <atomic>
#include <thread>

namespace Kivu {

class SLock {
public:
    SLock() = default;
    SLock(const SLock&) = delete;
    SLock& operator=(const SLock&) = delete;
    virtual ~SLock() = default;

    void Lock()
    {
        while (m_Flag.test_and_set(std::memory_order_acquire))
            std::this_thread::yield();
    }
    void Unlock() { m_Flag.clear(std::memory_order_release); }

private:
    std::atomic_flag m_Flag;
};

}  // namespace Kivu
