#pragma once
// Runs a test body on its own thread and aborts the process when it does not
// finish in time, so a deadlock fails the test instead of hanging the run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

namespace testing_support {

inline void runWithin(std::chrono::seconds limit, std::function<void()> body)
{
    std::packaged_task<void()> task(std::move(body));
    auto done = task.get_future();
    std::thread t(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fputs("watchdog: test body deadlocked\n", stderr);
        std::abort();
    }
    t.join();
    done.get();  // rethrows a failure of the body
}

inline void runWithin(std::function<void()> body)
{
    runWithin(std::chrono::seconds(20), std::move(body));
}

// Gives a thread that announced it is about to block time to reach its wait.
inline void letThreadBlock()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace testing_support
