// LIN1DD images from arbitrary bytes, and conversions through whatever tables they give.
#include "lin/linearization.h"

#include <cstddef>
#include <cstdint>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quillan::Linearization lin;
    if (quillan::ParseLin1dd(data, size, lin) != quillan::kLinOk)
        return 0;
    const double points[][2] = {{0, 0},       {1024, 544}, {-1, -1},   {1e300, 1e300},
                                {2047.9, 1087.9}, {std::numeric_limits<double>::quiet_NaN(), 1}};
    for (const auto& p : points) {
        double x = 0, z = 0;
        lin.convert(p[0], p[1], x, z);
    }
    return 0;
}
