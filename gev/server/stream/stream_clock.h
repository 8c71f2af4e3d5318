#pragma once
// The clock and the tick arithmetic the stream channel's files share.
#include <time.h>

#include <cstdint>

namespace Kivu {

inline int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline uint64_t scale(uint64_t value, uint64_t mul, uint64_t div)
{
    if (div == 0)
        return 0;
    __extension__ using U128 = unsigned __int128;
    const U128 r = static_cast<U128>(value) * mul / div;
    return r > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(r);
}

}  // namespace Kivu
