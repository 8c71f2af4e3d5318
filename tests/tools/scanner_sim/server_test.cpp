// The simulator's server: accept order, recording, faults. Nothing here depends on answers.
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "test_client.h"

namespace scanner_sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::TestClient;

const std::string kHello = "SetHostLibraryVersion=1.11.0   x64\r";
const std::string kStart = "\x02\x00\x00\x03\x00\x00\x00\x02"s;
constexpr auto kWait = 5s;

std::vector<std::string> bytesOf(const std::vector<Command>& commands, int connection)
{
    std::vector<std::string> out;
    for (const Command& c : commands)
        if (c.connection == connection)
            out.push_back(c.bytes);
    return out;
}

TEST(ScannerSimServer, RecordsExactBytesAndSplitsCommands)
{
    ScannerSim sim;
    sim.Start();
    ASSERT_NE(sim.Port(), 0);
    TestClient client(sim.Port());
    ASSERT_TRUE(client.isConnected());
    const std::vector<std::string> writes = {kHello + kStart, "SetTriggerSource=0\rSetAcquisitionStop\r",
                                             "GetSettings=1", "SetUserString=abc"};
    for (const std::string& w : writes) {
        ASSERT_TRUE(client.send(w));
        std::this_thread::sleep_for(5ms);
    }
    // The last text has no "\r": it comes out after the quiet period.
    ASSERT_TRUE(sim.WaitForCommand("SetUserString=abc", kWait));

    const std::vector<Command> commands = sim.Commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(bytesOf(commands, 0), (std::vector<std::string>{kHello, kStart, "SetTriggerSource=0\r",
                                                              "SetAcquisitionStop\r", "GetSettings=1",
                                                              "SetUserString=abc"}));
    EXPECT_FALSE(commands[0].binary);
    EXPECT_TRUE(commands[1].binary);
    EXPECT_EQ(sim.ReceivedBytes(0), writes[0] + writes[1] + writes[2] + writes[3]);
    EXPECT_EQ(sim.ReceivedBytes(1), "");
    EXPECT_EQ(sim.AcceptCount(), 1);
}

TEST(ScannerSimServer, WaitForCommandCountsRepeats)
{
    ScannerSim sim;
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    ASSERT_TRUE(sim.WaitForCommand("get_xmldescriptor\r", kWait));
    EXPECT_FALSE(sim.WaitForCommand("get_xmldescriptor\r", 50ms, 2));
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    EXPECT_TRUE(sim.WaitForCommand("get_xmldescriptor\r", kWait, 2));
    EXPECT_FALSE(sim.WaitForCommand("get_xmldescriptor", 50ms));  // whole bytes only
}

TEST(ScannerSimServer, ServesOneClientAtATimeInAcceptOrder)
{
    ScannerSim sim;
    sim.Start();
    // Each client writes its name and closes at once; the queued ones are served in turn.
    constexpr int kClients = 100;
    for (int i = 0; i < kClients; ++i) {
        TestClient client(sim.Port());
        ASSERT_TRUE(client.isConnected()) << i << ": " << client.error();
        ASSERT_TRUE(client.send("Id=" + std::to_string(i) + "\r"));
    }
    ASSERT_TRUE(sim.WaitForAccepts(kClients, 20s));
    ASSERT_TRUE(sim.WaitForCommand("Id=" + std::to_string(kClients - 1) + "\r", kWait));
    const std::vector<Command> commands = sim.Commands();
    ASSERT_EQ(commands.size(), static_cast<size_t>(kClients));
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(commands[static_cast<size_t>(i)].connection, i);
        EXPECT_EQ(commands[static_cast<size_t>(i)].bytes, "Id=" + std::to_string(i) + "\r");
        EXPECT_EQ(sim.ReceivedBytes(i), "Id=" + std::to_string(i) + "\r");
    }
}

TEST(ScannerSimServer, NextClientWaitsUntilTheFirstCloses)
{
    ScannerSim sim;
    sim.Start();
    auto first = std::make_unique<TestClient>(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    TestClient second(sim.Port());  // queued by the kernel
    ASSERT_TRUE(second.isConnected());
    ASSERT_TRUE(second.send("Second\r"));
    EXPECT_FALSE(sim.WaitForAccepts(2, 100ms));
    EXPECT_TRUE(sim.ClientConnected());

    first.reset();
    ASSERT_TRUE(sim.WaitForAccepts(2, kWait));
    ASSERT_TRUE(sim.WaitForCommand("Second\r", kWait));
    EXPECT_EQ(sim.Commands().back().connection, 1);
    EXPECT_EQ(sim.CloseCount(), 1);
}

TEST(ScannerSimServer, CloseClientEndsTheConnectionAndAcceptsTheNext)
{
    ScannerSim sim;
    sim.Start();
    TestClient first(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    ASSERT_TRUE(first.send("SetUserString=half"));  // no "\r": must not be lost by the close
    sim.CloseClient();
    EXPECT_FALSE(sim.ClientConnected());
    EXPECT_TRUE(first.waitForClose(kWait));
    EXPECT_TRUE(sim.WaitForCommand("SetUserString=half", kWait));

    TestClient second(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(2, kWait));
    ASSERT_TRUE(second.send(kStart));
    ASSERT_TRUE(sim.WaitForCommand(kStart, kWait));
    EXPECT_EQ(sim.Commands().back().connection, 1);
}

TEST(ScannerSimServer, WaitForClientClosedSeesThePeerClose)
{
    ScannerSim sim;
    sim.Start();
    EXPECT_TRUE(sim.WaitForClientClosed(10ms));  // nobody connected
    auto client = std::make_unique<TestClient>(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    EXPECT_FALSE(sim.WaitForClientClosed(50ms));
    client.reset();
    EXPECT_TRUE(sim.WaitForClientClosed(kWait));
    EXPECT_EQ(sim.CloseCount(), 1);
}

TEST(ScannerSimServer, RefusingClosesTheListenerAndListensAgainOnTheSamePort)
{
    ScannerSim sim;
    sim.Start();
    const uint16_t port = sim.Port();
    sim.SetRefusing(true);
    TestClient refused(port);
    EXPECT_FALSE(refused.isConnected());
    EXPECT_EQ(refused.error(), ECONNREFUSED);

    sim.SetRefusing(false);
    EXPECT_EQ(sim.Port(), port);
    TestClient accepted(port);
    ASSERT_TRUE(accepted.isConnected());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
}

TEST(ScannerSimServer, RefusingKeepsTheCurrentClient)
{
    ScannerSim sim;
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    sim.SetRefusing(true);
    ASSERT_TRUE(client.send("Still\r"));
    EXPECT_TRUE(sim.WaitForCommand("Still\r", kWait));
    EXPECT_TRUE(sim.SendRaw("back"));
    EXPECT_EQ(client.receive(4, kWait), "back");
}

TEST(ScannerSimServer, SendRawWritesExactBytesAlsoInChunksAndWhenSilent)
{
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{1000}}) {
        SCOPED_TRACE(chunk);
        Options options;
        options.chunkSize = chunk;
        options.chunkPause = 20us;
        ScannerSim sim(options);
        sim.Start();
        EXPECT_FALSE(sim.SendRaw("nobody"));
        TestClient client(sim.Port());
        ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
        std::string payload;
        for (int i = 0; i < 3000; ++i)
            payload.push_back(static_cast<char>(i * 7));
        sim.SetSilent(true);
        ASSERT_TRUE(sim.SendRaw(payload));
        EXPECT_EQ(client.receive(payload.size() + 1, 200ms), payload);
    }
}

TEST(ScannerSimServer, FramesFromSeveralThreadsNeverInterleave)
{
    Options options;
    options.chunkSize = 3;
    options.chunkPause = 10us;
    ScannerSim sim(options);
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    constexpr int kThreads = 4, kFrames = 20;
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([&sim, t] {
                for (int f = 0; f < kFrames; ++f)
                    sim.SendRaw("<" + std::string(30, static_cast<char>('a' + t)) + ">");
            });
    }
    const std::string got = client.receive(kThreads * kFrames * 32, kWait);
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kFrames * 32));
    for (size_t i = 0; i < got.size(); i += 32) {
        const std::string frame = got.substr(i, 32);
        EXPECT_EQ(frame, "<" + std::string(30, frame[1]) + ">") << "at " << i;
    }
}

TEST(ScannerSimServer, OnCommandSeesEveryCommand)
{
    std::mutex mutex;
    std::vector<std::string> seen;
    Options options;
    options.onCommand = [&](const Command& c) {
        std::lock_guard lock(mutex);
        seen.push_back(c.bytes);
    };
    ScannerSim sim(options);
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send(kHello + kStart));
    ASSERT_TRUE(sim.WaitForCommand(kStart, kWait));
    // The callback runs after the command is logged: wait for it as well.
    auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex);
            if (seen.size() >= 2)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{kHello, kStart}));
}

TEST(ScannerSimServer, StopClosesTheClientAndRestartKeepsThePort)
{
    ScannerSim sim;
    sim.Start();
    const uint16_t port = sim.Port();
    TestClient client(port);
    ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
    sim.Stop();
    EXPECT_TRUE(client.waitForClose(kWait));
    EXPECT_FALSE(TestClient(port).isConnected());

    sim.Start();
    EXPECT_EQ(sim.Port(), port);
    TestClient again(port);
    ASSERT_TRUE(again.send("Again\r"));
    EXPECT_TRUE(sim.WaitForCommand("Again\r", kWait));
    EXPECT_EQ(sim.Commands().back().connection, 1);
}

TEST(ScannerSimServer, StartFailsOnABadAddressOrABusyPort)
{
    Options bad;
    bad.bindAddress = "not-an-address";
    EXPECT_THROW(ScannerSim(bad).Start(), std::runtime_error);

    ScannerSim first;
    first.Start();
    Options same;
    same.port = first.Port();
    ScannerSim second(same);
    EXPECT_THROW(second.Start(), std::runtime_error);
    EXPECT_THROW(first.Start(), std::runtime_error);  // already running
}

}  // namespace
}  // namespace scanner_sim
