#pragma once
// Event functions of the device library: status-returning forms over platform::Event.
#include "platform/event.h"

#include <cstdint>

namespace Kivu {

using EventHandle = platform::Event*;

constexpr int kEventWaitTimeout = 258;         // WaitForEvent: the time elapsed
constexpr int kEventInvalidHandle = 6;         // a null handle
constexpr uint64_t kEventWaitInfinite = UINT64_MAX;

EventHandle CreateEvent(bool manualReset, bool initialState);
int SetEvent(EventHandle event);
int ResetEvent(EventHandle event);
int DestroyEvent(EventHandle event);
// 0 when signalled, kEventWaitTimeout when timeoutMs passed. 0xFFFFFFFF and all
// ones wait without limit; 0 only tests the event.
int WaitForEvent(EventHandle event, uint64_t timeoutMs);

}  // namespace Kivu
