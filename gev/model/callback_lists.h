#pragma once
// The callback lists of one register and their dispatch.
#include "model/callback.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Kivu {

enum class CallbackList : uint32_t { BeforeRead = 0, BeforeWrite = 1, AfterRead = 2, AfterWrite = 3 };

// Every operation runs with the owning register's lock held, so the in-dispatch
// counter is non-zero only for the thread that is dispatching: a nested access
// from a callback runs no callbacks, and a subscription it makes is dropped.
template <class T, size_t N>
class CallbackLists {
public:
    // Appends a copy; false (and nothing added) while this register dispatches.
    bool Subscribe(size_t list, const Callback<T>& cb)
    {
        if (Dispatching())
            return false;
        m_Lists[list].push_back({cb, false});
        return true;
    }

    // Removes every entry equal to cb from one list. During a walk the entries
    // are only marked and leave the list when the walk ends.
    void Remove(size_t list, const Callback<T>& cb)
    {
        auto& entries = m_Lists[list];
        if (Dispatching()) {
            for (Entry& e : entries) {
                if (e.callback == cb) {
                    e.removed = true;
                    m_RemovalPending = true;
                }
            }
            return;
        }
        std::erase_if(entries, [&](const Entry& e) { return e.callback == cb; });
    }

    bool Dispatching() const { return m_InDispatch.load(std::memory_order_relaxed) != 0; }

    // Calls every entry with reg and returns the AND of their results (true
    // for an empty list). Targets no longer alive are skipped and count as true.
    // A nested dispatch calls nothing and answers true.
    bool Dispatch(size_t list, T* reg)
    {
        if (Dispatching())
            return true;
        Walk walk(*this);
        bool all = true;
        const auto& entries = m_Lists[list];
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            if (e.removed || !e.callback.TargetAlive())
                continue;
            all = e.callback(reg) && all;
        }
        return all;
    }

private:
    struct Entry {
        Callback<T> callback;
        bool removed;
    };

    class Walk {
    public:
        explicit Walk(CallbackLists& l) : m_L(l) { m_L.m_InDispatch.fetch_add(1); }
        ~Walk()
        {
            m_L.m_InDispatch.fetch_sub(1);
            if (m_L.m_RemovalPending) {
                m_L.m_RemovalPending = false;
                for (auto& entries : m_L.m_Lists)
                    std::erase_if(entries, [](const Entry& e) { return e.removed; });
            }
        }
        Walk(const Walk&) = delete;
        Walk& operator=(const Walk&) = delete;

    private:
        CallbackLists& m_L;
    };

    std::vector<Entry> m_Lists[N];
    std::atomic<uint32_t> m_InDispatch{0};
    bool m_RemovalPending = false;
};

// Runs a register's before-write validation with the new value in place: a refusal or an
// exception puts the previous value back.
template <typename Value, typename Validate>
bool AcceptOrRestore(Value& value, const Value& previous, Validate&& validate)
{
    bool accepted;
    try {
        accepted = validate();
    } catch (...) {
        value = previous;
        throw;
    }
    if (!accepted)
        value = previous;
    return accepted;
}

}  // namespace Kivu
