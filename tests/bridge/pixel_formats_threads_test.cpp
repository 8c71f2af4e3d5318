// Look-ups from several threads at once, hits and misses (run under ThreadSanitizer).
#include "pixel_formats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace lumabridge {
namespace {

TEST(PixelFormatsThreads, ConcurrentLookupsOfKnownAndUnknownNames)
{
    std::atomic<int> wrong{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 2000; ++i) {
                const std::string miss = "Unknown" + std::to_string(t * 10000 + i);
                if (BytesPerPixel(miss) || PartDataType(miss))
                    ++wrong;
                if (BytesPerPixel("Mono10Packed") != 1.5 || PartDataType("Coord3D_ABC32f") != 5)
                    ++wrong;
            }
        });
    threads.clear();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace lumabridge
