#include "platform/socket_options.h"
#include "platform/wake_up.h"
#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using platform::PollResult;
using platform::UniqueFD;
using platform::WakeUp;
using platform::WorkerThread;

namespace {

struct SocketPair {
    UniqueFD a, b;
    SocketPair()
    {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        a.reset(fds[0]);
        b.reset(fds[1]);
    }
};

}  // namespace

TEST(WakeUp, SignalBeforeWaitWakesAndStaysUntilCleared)
{
    WakeUp wake;
    ASSERT_TRUE(wake.isValid());
    EXPECT_EQ(wake.sleep(0), PollResult::TimedOut);
    wake.signal();
    wake.signal();
    EXPECT_EQ(wake.sleep(-1), PollResult::Woken);
    EXPECT_EQ(wake.sleep(0), PollResult::Woken);  // a wait does not consume the signal
    wake.clear();
    EXPECT_EQ(wake.sleep(0), PollResult::TimedOut);  // one clear takes every signal
    wake.clear();  // clearing a clear wake-up does not block
    EXPECT_EQ(wake.sleep(0), PollResult::TimedOut);
}

TEST(WakeUp, ReportsReadyDescriptorsAndWokenFirst)
{
    WakeUp wake;
    SocketPair pair;
    short revents = -1;
    EXPECT_EQ(wake.wait(pair.a.get(), POLLIN, 0, &revents), PollResult::TimedOut);
    EXPECT_EQ(revents, 0);
    ASSERT_EQ(::write(pair.b.get(), "x", 1), 1);
    EXPECT_EQ(wake.wait(pair.a.get(), POLLIN, -1, &revents), PollResult::Ready);
    EXPECT_TRUE(revents & POLLIN);

    // Signalled and readable at once: woken, with the descriptor's events filled in.
    wake.signal();
    pollfd fds[2] = {{-1, POLLIN, 0}, {pair.a.get(), POLLIN, 0}};
    EXPECT_EQ(wake.wait(fds, -1), PollResult::Woken);
    EXPECT_EQ(fds[0].revents, 0);  // a negative descriptor is left out
    EXPECT_TRUE(fds[1].revents & POLLIN);

    // More descriptors than fit the inline set.
    wake.clear();
    SocketPair more[4];
    pollfd many[4];
    for (int i = 0; i < 4; ++i)
        many[i] = {more[i].a.get(), POLLIN, 0};
    ASSERT_EQ(::write(more[3].b.get(), "y", 1), 1);
    EXPECT_EQ(wake.wait(many, -1), PollResult::Ready);
    EXPECT_EQ(many[0].revents | many[1].revents | many[2].revents, 0);
    EXPECT_TRUE(many[3].revents & POLLIN);
}

TEST(WakeUp, SignalFromAnotherThreadEndsABlockedWait)
{
    WakeUp wake;
    SocketPair pair;  // never written: only the wake-up can end the wait
    std::atomic<bool> waiting{false};
    PollResult result = PollResult::Failed;
    std::thread waiter([&] {
        waiting = true;
        result = wake.wait(pair.a.get(), POLLIN, -1);
    });
    while (!waiting)
        std::this_thread::yield();
    wake.signal();
    waiter.join();
    EXPECT_EQ(result, PollResult::Woken);
}

TEST(WorkerThread, StopWakesTheBodyAndJoins)
{
    WorkerThread worker;
    EXPECT_FALSE(worker.running());
    EXPECT_TRUE(worker.stop());  // nothing to stop
    std::atomic<bool> waiting{false};
    std::atomic<bool> stopSeen{false};
    ASSERT_TRUE(worker.start([&](std::stop_token stop) {
        waiting = true;
        while (!stop.stop_requested())
            worker.wakeUp().sleep(-1);  // ends only through stop()
        stopSeen = true;
    }));
    EXPECT_TRUE(worker.running());
    EXPECT_FALSE(worker.onThread());
    while (!waiting)
        std::this_thread::yield();
    EXPECT_TRUE(worker.stop());
    EXPECT_FALSE(worker.running());
    EXPECT_TRUE(stopSeen);

    // A restart begins with a clear wake-up, though the stop left it signalled.
    std::atomic<bool> done{false};
    PollResult seen = PollResult::Failed;
    ASSERT_TRUE(worker.start([&](std::stop_token) {
        seen = worker.wakeUp().sleep(0);
        done = true;
    }));
    while (!done)
        std::this_thread::yield();
    EXPECT_TRUE(worker.stop());
    EXPECT_EQ(seen, PollResult::TimedOut);
}

TEST(WorkerThread, StopOnItsOwnThreadIsRefusedAndTheDestructorJoins)
{
    std::atomic<bool> refused{false};
    std::atomic<bool> ended{false};
    {
        WorkerThread worker;
        ASSERT_TRUE(worker.start([&](std::stop_token stop) {
            refused = !worker.stop() && !worker.start([](std::stop_token) {});
            while (!stop.stop_requested())
                worker.wakeUp().sleep(-1);
            ended = true;
        }));
    }
    EXPECT_TRUE(refused);
    EXPECT_TRUE(ended);
}

TEST(SocketOptions, SetValuesReadBackAndBadDescriptorsFail)
{
    UniqueFD fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(fd.isValid());
    EXPECT_TRUE(platform::setIntOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1));
    int value = 0;
    socklen_t length = sizeof(value);
    ASSERT_EQ(::getsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    EXPECT_EQ(value, 1);

    EXPECT_TRUE(platform::setTimeOption(fd.get(), SO_RCVTIMEO, 1500));
    timeval tv{};
    length = sizeof(tv);
    ASSERT_EQ(::getsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, &length), 0);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);

    EXPECT_FALSE(platform::setIntOption(-1, SOL_SOCKET, SO_REUSEADDR, 1));
    EXPECT_FALSE(platform::setTimeOption(-1, SO_SNDTIMEO, 10));
}
