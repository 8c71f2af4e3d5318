#include "steady_clock.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace lumabridge {

uint32_t SteadyClock::NowMs()
{
    return platform::tickCountMs();
}

void SteadyClock::SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace lumabridge
