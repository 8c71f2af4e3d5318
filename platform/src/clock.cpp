#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace platform {

uint32_t tickCountMs()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

LocalTime localTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return LocalTime{static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                     static_cast<unsigned>(local.tm_mday),         static_cast<unsigned>(local.tm_hour),
                     static_cast<unsigned>(local.tm_min),          static_cast<unsigned>(local.tm_sec),
                     static_cast<unsigned>(ts.tv_nsec / 1000000)};
}

}  // namespace platform
