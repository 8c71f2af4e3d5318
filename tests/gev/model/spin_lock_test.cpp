#include "model/spin_lock.h"
#include "model/sync_critical_section.h"

#include "watchdog.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using testing_support::runWithin;

namespace {

// Increments a plain counter under the locker from several threads; any lost
// update (or a race under TSan) means the locker did not exclude.
template <class Locker>
long countUnder(Locker& locker)
{
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                locker.Lock();
                ++counter;
                locker.Unlock();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    return counter;
}

}  // namespace

TEST(Lockers, ExcludeEachOther)
{
    runWithin([] {
        Kivu::SLock spin;
        EXPECT_EQ(countUnder(spin), 80000);
        Kivu::SyncCriticalSection section;
        EXPECT_EQ(countUnder(section), 80000);
    });
}

TEST(Lockers, CriticalSectionIsReentrant)
{
    runWithin([] {
        Kivu::SyncCriticalSection section;
        Kivu::LockerInterface& locker = section;
        locker.Lock();
        locker.Lock();
        locker.Unlock();
        locker.Unlock();
    });
}
