#pragma once
// Event objects with manual or automatic reset, the hand-over primitive
// between threads of the scanner client and the bridge.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

enum class WaitResult { Signaled, TimedOut };

inline constexpr uint64_t kWaitInfinite = UINT64_MAX;

class Event {
public:
    explicit Event(bool manualReset = false, bool initialState = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Auto-reset events release one waiter and clear themselves.
    WaitResult wait(uint64_t timeoutMs = kWaitInfinite);

private:
    std::mutex m_Mutex;
    std::condition_variable m_Cond;
    const bool m_ManualReset;
    bool m_Signaled;
};

using EventHandle = Event*;

EventHandle CreateEvent(bool manualReset = false, bool initialState = false);
void DestroyEvent(EventHandle event);
void SetEvent(EventHandle event);
void ResetEvent(EventHandle event);
WaitResult WaitForEvent(EventHandle event, uint64_t timeoutMs = kWaitInfinite);

}  // namespace platform
