#pragma once
// Re-entrant mutual exclusion behind an abstract locker.
#include <mutex>

namespace Kivu {

class LockerInterface {
public:
    virtual ~LockerInterface() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

class SyncCriticalSection : public LockerInterface {
public:
    void Lock() override { m_Mutex.lock(); }
    void Unlock() override { m_Mutex.unlock(); }

private:
    std::recursive_mutex m_Mutex;
};

}  // namespace Kivu
