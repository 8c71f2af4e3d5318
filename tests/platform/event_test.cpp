#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using platform::Event;
using platform::WaitResult;
using namespace std::chrono_literals;

TEST(Event, TimesOutWhenNotSignaled)
{
    Event event(false, false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.wait(50), WaitResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
    EXPECT_EQ(event.wait(0), WaitResult::TimedOut);
}

TEST(Event, AutoResetReleasesOneWaitThenClears)
{
    Event event(false, true);
    EXPECT_EQ(event.wait(0), WaitResult::Signaled);
    EXPECT_EQ(event.wait(0), WaitResult::TimedOut);
}

TEST(Event, ManualResetStaysSignaledUntilReset)
{
    Event event(true, false);
    event.set();
    EXPECT_EQ(event.wait(0), WaitResult::Signaled);
    EXPECT_EQ(event.wait(0), WaitResult::Signaled);
    event.reset();
    EXPECT_EQ(event.wait(0), WaitResult::TimedOut);
}

TEST(Event, ManualResetWakesAllWaiters)
{
    Event event(true, false);
    std::atomic<int> woken{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (event.wait(5000) == WaitResult::Signaled)
                ++woken;
        });
    std::this_thread::sleep_for(20ms);
    event.set();
    waiters.clear();
    EXPECT_EQ(woken.load(), 4);
}

TEST(Event, AutoResetWakesExactlyOneWaiterPerSet)
{
    Event event(false, false);
    std::atomic<int> woken{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.wait(300) == WaitResult::Signaled)
                ++woken;
        });
    std::this_thread::sleep_for(20ms);
    event.set();
    waiters.clear();
    EXPECT_EQ(woken.load(), 1);
}

TEST(Event, FreeFunctionInterface)
{
    auto event = platform::CreateEvent(true, false);
    platform::SetEvent(event);
    EXPECT_EQ(platform::WaitForEvent(event, 0), WaitResult::Signaled);
    platform::ResetEvent(event);
    EXPECT_EQ(platform::WaitForEvent(event, 10), WaitResult::TimedOut);
    platform::DestroyEvent(event);
}
