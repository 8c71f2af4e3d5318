#pragma once
#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock, wrapping like a 32-bit tick counter.
uint32_t tickCountMs();

struct LocalTime {
    unsigned year, month, day, hour, minute, second, millisecond;
};

LocalTime localTimeNow();

}  // namespace platform
