#pragma once
#include "scanner_api.h"

namespace lumabridge {

// The program's clock: a monotonic millisecond tick and real sleeps.
class SteadyClock : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

}  // namespace lumabridge
