#include "server/event_wrappers.h"

namespace Kivu {

namespace {
constexpr uint64_t kLongestWait = 0xFFFFFFFE;  // longest finite single wait
}

EventHandle CreateEvent(bool manualReset, bool initialState)
{
    return new platform::Event(manualReset, initialState);
}

int SetEvent(EventHandle event)
{
    if (event == nullptr)
        return kEventInvalidHandle;
    event->set();
    return 0;
}

int ResetEvent(EventHandle event)
{
    if (event == nullptr)
        return kEventInvalidHandle;
    event->reset();
    return 0;
}

int DestroyEvent(EventHandle event)
{
    if (event == nullptr)
        return kEventInvalidHandle;
    delete event;
    return 0;
}

int WaitForEvent(EventHandle event, uint64_t timeoutMs)
{
    if (event == nullptr)
        return kEventInvalidHandle;
    if (timeoutMs == 0xFFFFFFFF || timeoutMs == kEventWaitInfinite) {
        event->wait(platform::kWaitInfinite);
        return 0;
    }
    // Long time-outs wait in pieces so that no deadline overflows the clock.
    uint64_t left = timeoutMs;
    do {
        const uint64_t piece = left > kLongestWait ? kLongestWait : left;
        if (event->wait(piece) == platform::WaitResult::Signaled)
            return 0;
        left -= piece;
    } while (left > 0);
    return kEventWaitTimeout;
}

}  // namespace Kivu
