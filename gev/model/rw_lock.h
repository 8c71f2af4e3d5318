#pragma once
// Recursive reader/writer lock with writer preference.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace Kivu {

// Re-entrant per thread in both modes; the exclusive owner may also nest shared
// acquisitions. A new reader waits while a writer waits; a reader that already
// holds the lock re-enters. A releasing writer admits every waiting reader at
// once; the last reader hands over to one waiting writer. A thread holding the
// lock shared must not ask for it exclusively (it would wait for itself).
class RWLock {
public:
    RWLock() = default;
    RWLock(const RWLock&) = delete;
    RWLock& operator=(const RWLock&) = delete;
    virtual ~RWLock();

    bool AcquireShared();
    // With wait == false this is a try-lock.
    bool AcquireExclusive(bool wait);
    // Gives up one level of the calling thread's hold, shared or exclusive.
    void Release();

private:
    struct Entry {
        std::thread::id thread;
        uint32_t count = 0;
    };

    Entry* findEntry(std::thread::id id);
    Entry& addEntry(std::thread::id id);
    void freeEntry(Entry& e);
    void handOverToWriter();

    std::mutex m_Mutex;
    std::condition_variable m_ReadersGate;
    std::condition_variable m_WritersGate;
    bool m_Exclusive = false;
    uint32_t m_Holders = 0;
    uint32_t m_ExclusiveWaiters = 0;
    uint32_t m_SharedWaiters = 0;
    uint64_t m_ReaderAdmissions = 0;   // bumped each time waiting readers are let in
    uint32_t m_WriterHandOvers = 0;    // exclusive ownerships handed to a waiting writer
    std::thread::id m_Owner;           // exclusive owner
    uint32_t m_OwnerCount = 0;         // its nesting depth, shared nests included
    Entry m_Inline[2];                 // shared holders and waiters, first two
    std::vector<Entry> m_More;         // the rest
};

// Scoped holds on an RWLock.
class SharedLock {
public:
    explicit SharedLock(RWLock& l) : m_Lock(l) { m_Lock.AcquireShared(); }
    ~SharedLock() { m_Lock.Release(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    RWLock& m_Lock;
};

class ExclusiveLock {
public:
    explicit ExclusiveLock(RWLock& l) : m_Lock(l) { m_Lock.AcquireExclusive(true); }
    ~ExclusiveLock() { m_Lock.Release(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    RWLock& m_Lock;
};

}  // namespace Kivu
