#include "model/rw_lock.h"

#include "watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using Kivu::RWLock;
using testing_support::letThreadBlock;
using testing_support::runWithin;

namespace {

// True when another thread can take the lock exclusively right now.
bool freeForOthers(RWLock& lock)
{
    bool got = false;
    std::thread([&] {
        got = lock.AcquireExclusive(false);
        if (got)
            lock.Release();
    }).join();
    return got;
}

}  // namespace

TEST(RWLock, NestedHoldsNeedAsManyReleases)
{
    enum Op { Excl, Shared };
    const std::vector<std::vector<Op>> cases = {
        {Excl, Excl, Excl},
        {Excl, Shared},
        {Excl, Shared, Excl},
        {Shared, Shared, Shared},
    };
    for (const auto& ops : cases) {
        runWithin([&] {
            RWLock lock;
            for (Op op : ops) {
                if (op == Excl)
                    ASSERT_TRUE(lock.AcquireExclusive(false));
                else
                    ASSERT_TRUE(lock.AcquireShared());
            }
            for (size_t i = 0; i < ops.size(); ++i) {
                EXPECT_FALSE(freeForOthers(lock)) << "after " << i << " of " << ops.size() << " releases";
                lock.Release();
            }
            EXPECT_TRUE(freeForOthers(lock));
        });
    }
}

TEST(RWLock, TryExclusiveFailsAtOnceWhileAnotherThreadHolds)
{
    for (bool holderExclusive : {false, true}) {
        runWithin([&] {
            RWLock lock;
            std::atomic<bool> held{false}, done{false};
            std::thread holder([&] {
                if (holderExclusive)
                    lock.AcquireExclusive(true);
                else
                    lock.AcquireShared();
                held = true;
                while (!done)
                    std::this_thread::yield();
                lock.Release();
            });
            while (!held)
                std::this_thread::yield();
            EXPECT_FALSE(lock.AcquireExclusive(false)) << "holder exclusive: " << holderExclusive;
            done = true;
            holder.join();
            EXPECT_TRUE(lock.AcquireExclusive(false));
            EXPECT_TRUE(lock.AcquireExclusive(false));  // re-entrant owner
            lock.Release();
            lock.Release();
        });
    }
}

TEST(RWLock, ReleaseByThreadHoldingNothingIsIgnored)
{
    runWithin([] {
        RWLock lock;
        lock.AcquireShared();
        std::thread([&] { lock.Release(); }).join();
        EXPECT_FALSE(freeForOthers(lock));
        lock.Release();
        EXPECT_TRUE(freeForOthers(lock));
    });
}

TEST(RWLock, WaitingWriterBlocksNewReadersButNotReentrantOnes)
{
    runWithin([] {
        RWLock lock;
        std::mutex orderMutex;
        std::vector<char> order;
        auto record = [&](char c) {
            std::lock_guard lk(orderMutex);
            order.push_back(c);
        };

        lock.AcquireShared();  // this thread is the first reader
        std::atomic<bool> writerStarting{false};
        std::thread writer([&] {
            writerStarting = true;
            lock.AcquireExclusive(true);
            record('W');
            lock.Release();
        });
        while (!writerStarting)
            std::this_thread::yield();
        letThreadBlock();

        std::atomic<bool> readerStarting{false}, readerIn{false};
        std::thread reader([&] {
            readerStarting = true;
            lock.AcquireShared();
            readerIn = true;
            record('R');
            lock.Release();
        });
        while (!readerStarting)
            std::this_thread::yield();
        letThreadBlock();
        EXPECT_FALSE(readerIn) << "a new reader passed a waiting writer";

        lock.AcquireShared();  // re-entry by a holder does not wait
        lock.Release();
        lock.Release();

        writer.join();
        reader.join();
        EXPECT_EQ(order, (std::vector<char>{'W', 'R'}));
    });
}

TEST(RWLock, ReleasingWriterAdmitsAllWaitingReadersTogether)
{
    runWithin([] {
        constexpr int readers = 6;
        RWLock lock;
        lock.AcquireExclusive(true);
        std::atomic<int> started{0};
        std::barrier allInside(readers);
        std::vector<std::thread> threads;
        for (int i = 0; i < readers; ++i) {
            threads.emplace_back([&] {
                ++started;
                lock.AcquireShared();
                allInside.arrive_and_wait();  // passes only if all hold the lock at once
                lock.Release();
            });
        }
        while (started != readers)
            std::this_thread::yield();
        letThreadBlock();
        EXPECT_FALSE(freeForOthers(lock));
        lock.Release();
        for (auto& t : threads)
            t.join();
        EXPECT_TRUE(freeForOthers(lock));
    });
}

TEST(RWLock, LastReaderHandsOverToOneWaitingWriterAtATime)
{
    runWithin([] {
        RWLock lock;
        lock.AcquireShared();
        std::atomic<int> writersInside{0}, maxInside{0}, done{0};
        std::vector<std::thread> writers;
        for (int i = 0; i < 3; ++i) {
            writers.emplace_back([&] {
                lock.AcquireExclusive(true);
                int now = ++writersInside;
                int seen = maxInside;
                while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::yield();
                --writersInside;
                ++done;
                lock.Release();
            });
        }
        letThreadBlock();
        EXPECT_EQ(done, 0);
        lock.Release();
        for (auto& t : writers)
            t.join();
        EXPECT_EQ(done, 3);
        EXPECT_EQ(maxInside, 1);
    });
}

TEST(RWLock, StressWriterInsideMeansNobodyElseInside)
{
    runWithin(std::chrono::seconds(60), [] {
        RWLock lock;
        std::atomic<int> readersInside{0}, writersInside{0};
        std::atomic<int> violations{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 rng(static_cast<unsigned>(t));
                for (int i = 0; i < 3000; ++i) {
                    const unsigned pick = rng() % 8;
                    const int depth = 1 + static_cast<int>(rng() % 3);
                    if (pick == 0) {
                        for (int d = 0; d < depth; ++d)
                            lock.AcquireExclusive(true);
                        if (++writersInside != 1 || readersInside != 0)
                            ++violations;
                        lock.AcquireShared();  // the owner nests shared
                        --writersInside;
                        for (int d = 0; d <= depth; ++d)
                            lock.Release();
                    } else {
                        for (int d = 0; d < depth; ++d)
                            lock.AcquireShared();
                        ++readersInside;
                        if (writersInside != 0)
                            ++violations;
                        --readersInside;
                        for (int d = 0; d < depth; ++d)
                            lock.Release();
                    }
                }
            });
        }
        for (auto& th : threads)
            th.join();
        EXPECT_EQ(violations, 0);
        EXPECT_TRUE(freeForOthers(lock));
    });
}
