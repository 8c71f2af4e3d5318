#include "lin/lin_store.h"

#include "lin1dd_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

#include "lin1dd_golden.inc"

using namespace quillan;
using namespace lintest;

// Reconnections replace the data while callers convert: a caller sees either
// no data or whole, correct data.
TEST(LinStoreThreads, ReplacementWhileConverting)
{
    LinStore store;
    const Bytes img = fromHex(kGoldenLin1ddHex);
    const Geometry g;
    std::atomic<bool> stop{false};
    std::atomic<int> converted{0};

    auto reader = [&] {
        while (!stop.load()) {
            double x = 0, z = 0;
            const int rc = store.linearize(300, 700, &x, &z);
            if (rc == kLinConverted) {
                EXPECT_NEAR(x, g.x(300, 700), 1e-9);
                EXPECT_NEAR(z, g.z(300, 700), 1e-9);
                converted.fetch_add(1);
            } else {
                EXPECT_EQ(rc, kLinNoData);
            }
            uint8_t buf[152];
            if (store.copyDescriptor(buf, sizeof buf) == 0) {
                EXPECT_EQ(buf[104], 1);
            }
            if (const auto lin = store.active()) {
                EXPECT_EQ(lin->convert(0, 0, x, z), kLinConverted);
                EXPECT_NEAR(z, 100.0, 1e-12);
            }
        }
    };
    std::thread r1(reader), r2(reader);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(store.loadImage(img.data(), img.size()), kLinOk);
        if (i % 3 == 0) {
            store.clear();
        } else if (i % 3 == 1) {
            ASSERT_EQ(store.loadImage(img.data(), 20), kLinRecordBodyCut);
        }
    }
    ASSERT_EQ(store.loadImage(img.data(), img.size()), kLinOk);
    while (converted.load() == 0)
        std::this_thread::yield();
    stop.store(true);
    r1.join();
    r2.join();
}

}  // namespace
