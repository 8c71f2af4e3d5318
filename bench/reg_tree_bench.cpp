// Cost of remote 4-byte register accesses through the register tree of the default map.
#include "model/register_map.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace Kivu;

namespace {

constexpr int kIterations = 2'000'000;

template <class Fn>
double nsPerAccess(int threads, Fn perThread)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] { perThread(t); });
    for (auto& th : pool)
        th.join();
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / kIterations;  // per access of one thread
}

}  // namespace

int main()
{
    auto tree = std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize);
    RegisterMap map(tree);
    // Read/write registers spread over the map.
    const uint32_t addresses[8] = {0x0938, 0x0B00, 0x0B10, 0x0B14, 0x0B18, 0x0D00, 0x0D08, 0x0D18};
    volatile uint32_t sink = 0;

    const double read1 = nsPerAccess(1, [&](int) {
        uint32_t st;
        for (int i = 0; i < kIterations; ++i)
            sink = tree->ReadRegister(0x0938, &st, Origin::Remote);
    });
    const double write1 = nsPerAccess(1, [&](int) {
        for (int i = 0; i < kIterations; ++i)
            sink = tree->WriteRegister(0x0938, static_cast<uint32_t>(i), Origin::Remote);
    });
    const double read8same = nsPerAccess(8, [&](int) {
        uint32_t st;
        for (int i = 0; i < kIterations; ++i)
            sink = tree->ReadRegister(0x0938, &st, Origin::Remote);
    });
    const double read8spread = nsPerAccess(8, [&](int t) {
        uint32_t st;
        for (int i = 0; i < kIterations; ++i)
            sink = tree->ReadRegister(addresses[t], &st, Origin::Remote);
    });

    std::printf("remote 4-byte access through the register tree (ns per access, per thread)\n");
    std::printf("  read,  1 thread:                     %8.1f\n", read1);
    std::printf("  write, 1 thread:                     %8.1f\n", write1);
    std::printf("  read,  8 threads, same register:     %8.1f\n", read8same);
    std::printf("  read,  8 threads, one register each: %8.1f\n", read8spread);
    return 0;
}
