#include "model/rw_lock.h"

#include <cstdio>
#include <new>
#include <stdexcept>

namespace Kivu {

RWLock::~RWLock()
{
    // Owners join every thread that could wait here before destroying the lock;
    // a destructor must not throw, so a broken promise is only reported.
    std::lock_guard lk(m_Mutex);
    if (m_ExclusiveWaiters != 0 || m_SharedWaiters != 0)
        std::fputs("Can't free RWLock, shared or exclusive waiters is present!\n", stderr);
}

RWLock::Entry* RWLock::findEntry(std::thread::id id)
{
    for (Entry& e : m_Inline)
        if (e.count != 0 && e.thread == id)
            return &e;
    for (Entry& e : m_More)
        if (e.thread == id)
            return &e;
    return nullptr;
}

RWLock::Entry& RWLock::addEntry(std::thread::id id)
{
    for (Entry& e : m_Inline) {
        if (e.count == 0) {
            e = {id, 1};
            return e;
        }
    }
    try {
        m_More.push_back({id, 1});
    } catch (const std::bad_alloc&) {
        throw std::length_error("Owner table reallocation failed!");
    }
    return m_More.back();
}

void RWLock::freeEntry(Entry& e)
{
    if (&e >= m_Inline && &e < m_Inline + 2) {
        e = {};
        return;
    }
    e = m_More.back();
    m_More.pop_back();
}

void RWLock::handOverToWriter()
{
    m_Exclusive = true;
    m_Holders = 1;
    --m_ExclusiveWaiters;
    ++m_WriterHandOvers;
    m_WritersGate.notify_one();
}

bool RWLock::AcquireShared()
{
    const auto self = std::this_thread::get_id();
    std::unique_lock lk(m_Mutex);
    if (m_Holders == 0) {
        addEntry(self);
        m_Holders = 1;
        return true;
    }
    if (m_Exclusive) {
        if (m_Owner == self) {
            ++m_OwnerCount;
            return true;
        }
    } else {
        if (Entry* e = findEntry(self)) {
            ++e->count;
            return true;
        }
        if (m_ExclusiveWaiters == 0) {
            addEntry(self);
            ++m_Holders;
            return true;
        }
    }
    // Held exclusively by another thread, or a writer waits: queue up. The entry
    // is written first so that the admitting writer makes this thread a holder.
    addEntry(self);
    ++m_SharedWaiters;
    const uint64_t admission = m_ReaderAdmissions;
    m_ReadersGate.wait(lk, [&] { return m_ReaderAdmissions != admission; });
    return true;
}

bool RWLock::AcquireExclusive(bool wait)
{
    const auto self = std::this_thread::get_id();
    std::unique_lock lk(m_Mutex);
    if (m_Holders == 0) {
        m_Exclusive = true;
        m_Holders = 1;
        m_Owner = self;
        m_OwnerCount = 1;
        return true;
    }
    if (m_Exclusive && m_Owner == self) {
        ++m_OwnerCount;
        return true;
    }
    if (!wait)
        return false;
    ++m_ExclusiveWaiters;
    m_WritersGate.wait(lk, [&] { return m_WriterHandOvers != 0; });
    --m_WriterHandOvers;
    m_Owner = self;
    m_OwnerCount = 1;
    return true;
}

void RWLock::Release()
{
    const auto self = std::this_thread::get_id();
    std::lock_guard lk(m_Mutex);
    if (m_Holders == 0)
        return;
    if (m_Exclusive) {
        if (m_Owner != self || --m_OwnerCount != 0)
            return;  // not ours, or still nested
        m_Owner = {};
        m_Holders = 0;
        if (m_SharedWaiters != 0) {
            m_Holders = m_SharedWaiters;
            m_SharedWaiters = 0;
            m_Exclusive = false;
            ++m_ReaderAdmissions;
            m_ReadersGate.notify_all();
        } else if (m_ExclusiveWaiters != 0) {
            handOverToWriter();
        } else {
            m_Exclusive = false;
        }
        return;
    }
    Entry* e = findEntry(self);
    if (e == nullptr || --e->count != 0)
        return;  // a thread holding nothing is ignored
    freeEntry(*e);
    --m_Holders;
    if (m_Holders == 0 && m_ExclusiveWaiters != 0)
        handOverToWriter();
}

}  // namespace Kivu
