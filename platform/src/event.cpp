#include "platform/event.h"

#include <chrono>

namespace platform {

Event::Event(bool manualReset, bool initialState) : m_ManualReset(manualReset), m_Signaled(initialState) {}

void Event::set()
{
    {
        std::lock_guard lock(m_Mutex);
        m_Signaled = true;
    }
    if (m_ManualReset)
        m_Cond.notify_all();
    else
        m_Cond.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(m_Mutex);
    m_Signaled = false;
}

WaitResult Event::wait(uint64_t timeoutMs)
{
    std::unique_lock lock(m_Mutex);
    auto ready = [this] { return m_Signaled; };
    if (timeoutMs == kWaitInfinite) {
        m_Cond.wait(lock, ready);
    } else if (!m_Cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return WaitResult::TimedOut;
    }
    if (!m_ManualReset)
        m_Signaled = false;
    return WaitResult::Signaled;
}

EventHandle CreateEvent(bool manualReset, bool initialState) { return new Event(manualReset, initialState); }

void DestroyEvent(EventHandle event) { delete event; }

void SetEvent(EventHandle event) { event->set(); }

void ResetEvent(EventHandle event) { event->reset(); }

WaitResult WaitForEvent(EventHandle event, uint64_t timeoutMs) { return event->wait(timeoutMs); }

}  // namespace platform
