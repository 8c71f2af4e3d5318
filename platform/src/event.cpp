#include "platform/event.h"

#include <chrono>

namespace platform {

Event::Event(bool manualReset, bool initialState) : manualReset_(manualReset), signaled_(initialState) {}

void Event::set()
{
    {
        std::lock_guard lock(mutex_);
        signaled_ = true;
    }
    if (manualReset_)
        cond_.notify_all();
    else
        cond_.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(mutex_);
    signaled_ = false;
}

WaitResult Event::wait(uint64_t timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto ready = [this] { return signaled_; };
    if (timeoutMs == kWaitInfinite) {
        cond_.wait(lock, ready);
    } else if (!cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return WaitResult::TimedOut;
    }
    if (!manualReset_)
        signaled_ = false;
    return WaitResult::Signaled;
}

EventHandle CreateEvent(bool manualReset, bool initialState) { return new Event(manualReset, initialState); }

void DestroyEvent(EventHandle event) { delete event; }

void SetEvent(EventHandle event) { event->set(); }

void ResetEvent(EventHandle event) { event->reset(); }

WaitResult WaitForEvent(EventHandle event, uint64_t timeoutMs) { return event->wait(timeoutMs); }

}  // namespace platform
