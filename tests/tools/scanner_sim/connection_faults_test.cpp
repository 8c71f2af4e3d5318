// Connection faults set by options, and the command log file, seen by a plain socket client.
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_client.h"

namespace scanner_sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::TestClient;

constexpr auto kWait = 5s;
const std::string kStart = "\x02\x00\x00\x03\x00\x00\x00\x02"s;

Options quiet()
{
    Options o;
    o.idlePeriodMs = 0;
    o.linSend = Options::LinSend::Never;
    return o;
}

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(::getpid());
}

std::vector<std::string> linesOf(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(ScannerSimConnectionFaults, CloseAfterEndsEveryConnectionAfterItsAccept)
{
    Options o = quiet();
    o.closeAfterMs = 200;
    ScannerSim sim(o);
    sim.Start();
    for (int i = 0; i < 2; ++i) {
        TestClient client(sim.Port());
        ASSERT_TRUE(client.isConnected());
        EXPECT_FALSE(client.waitForClose(50ms)) << i;  // not at once
        EXPECT_TRUE(client.waitForClose(kWait)) << i;
        ASSERT_TRUE(sim.WaitForClientClosed(kWait));
    }
    EXPECT_EQ(sim.CloseCount(), 2);
}

TEST(ScannerSimConnectionFaults, CloseOnACommandAfterAnsweringIt)
{
    Options o = quiet();
    o.closeOnCommand = "SetAcquisitionStart\r";
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send("SetAcquisitionStop\r"));
    ASSERT_TRUE(sim.WaitForCommand("SetAcquisitionStop\r", kWait));
    EXPECT_FALSE(client.waitForClose(100ms));
    ASSERT_TRUE(client.send("SetAcquisitionStart\r"));
    EXPECT_TRUE(client.waitForClose(kWait));
    EXPECT_EQ(sim.ModelValue("device:settings:camerarunning:current"), "1");  // applied before the close
    TestClient next(sim.Port());  // the next client is served
    ASSERT_TRUE(next.send("get_xmldescriptor\r"));
    EXPECT_EQ(next.receive(4, kWait).size(), 4u);
}

TEST(ScannerSimConnectionFaults, SilenceByTimeOrCommandEndsWithTheNextConnection)
{
    struct Case {
        int silentAfterMs;
        std::string silentOn;
    };
    for (const Case& c : {Case{150, ""}, Case{0, "SetHeartBeat=3000\r"}}) {
        Options o = quiet();
        o.silentAfterMs = c.silentAfterMs;
        o.silentOnCommand = c.silentOn;
        ScannerSim sim(o);
        sim.Start();
        {
            TestClient client(sim.Port());
            ASSERT_TRUE(client.send("get_xmldescriptor\r"));
            EXPECT_EQ(client.receive(4, kWait).size(), 4u);  // answers at first
            std::string rest = client.receive(1 << 20, 100ms);
            if (c.silentAfterMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(c.silentAfterMs + 100));
            else
                ASSERT_TRUE(client.send(c.silentOn));
            ASSERT_TRUE(client.send("get_xmldescriptor\r"));
            ASSERT_TRUE(sim.WaitForCommand("get_xmldescriptor\r", kWait, 2));
            EXPECT_EQ(client.receive(1, 300ms), "") << c.silentAfterMs;
            EXPECT_FALSE(client.waitForClose(10ms));  // silent, not closed
        }
        ASSERT_TRUE(sim.WaitForClientClosed(kWait));
        TestClient next(sim.Port());
        ASSERT_TRUE(next.send("get_xmldescriptor\r"));
        EXPECT_EQ(next.receive(4, kWait).size(), 4u) << c.silentAfterMs;
    }
}

TEST(ScannerSimConnectionFaults, RefuseAfterCloseThenListenAgainOnThePort)
{
    Options o = quiet();
    o.refuseAfterCloseMs = 400;
    ScannerSim sim(o);
    sim.Start();
    const uint16_t port = sim.Port();
    {
        TestClient client(port);
        ASSERT_TRUE(client.isConnected());
        ASSERT_TRUE(sim.WaitForAccepts(1, kWait));
        client.close();
    }
    ASSERT_TRUE(sim.WaitForClientClosed(kWait));
    TestClient refused(port);
    EXPECT_FALSE(refused.isConnected());
    EXPECT_EQ(refused.error(), ECONNREFUSED);
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
        std::this_thread::sleep_for(20ms);
        connected = TestClient(port).isConnected();
    }
    EXPECT_TRUE(connected);
    EXPECT_EQ(sim.Port(), port);
}

TEST(ScannerSimCommandLog, OneLinePerCommandWrittenWhenItWasAnswered)
{
    Options o = quiet();
    o.logPath = tempPath("scanner_sim_log");
    std::vector<std::string> seenWhenLogged;
    o.onCommand = [&](const Command&) { seenWhenLogged.push_back(std::to_string(linesOf(o.logPath).size())); };
    ScannerSim sim(o);
    sim.Start();
    {
        TestClient client(sim.Port());
        ASSERT_TRUE(client.send("SetHostLibraryVersion=1.11.0   x64\r" + kStart + "SetUserString=a\"b\\c\r"));
        ASSERT_TRUE(client.send("SetEA1InputLoad=1\rSetEA2InputLoad=1\r"));
        ASSERT_TRUE(sim.WaitForCommand("SetEA2InputLoad=1\r", kWait));
    }
    ASSERT_TRUE(sim.WaitForClientClosed(kWait));
    TestClient second(sim.Port());
    ASSERT_TRUE(second.send("SetAcquisitionStop\r"));
    ASSERT_TRUE(sim.WaitForCommand("SetAcquisitionStop\r", kWait));

    const std::vector<std::string> lines = linesOf(o.logPath);
    const std::vector<std::string> expected = {
        "0 text \"SetHostLibraryVersion=1.11.0   x64\\r\"", "0 binary 02 00 00 03 00 00 00 02",
        "0 text \"SetUserString=a\\\"b\\\\c\\r\"", "0 text \"SetEA1InputLoad=1\\r\"",
        "0 text \"SetEA2InputLoad=1\\r\"", "1 text \"SetAcquisitionStop\\r\""};
    ASSERT_EQ(lines.size(), expected.size());
    long previous = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t space = lines[i].find(' ');
        ASSERT_NE(space, std::string::npos) << lines[i];
        const long ms = std::stol(lines[i].substr(0, space));
        EXPECT_GE(ms, previous) << lines[i];
        EXPECT_LT(ms, 60000) << lines[i];
        previous = ms;
        EXPECT_EQ(lines[i].substr(space + 1), expected[i]);
        // The line of a command is there once its successor reaches the simulator.
        EXPECT_EQ(seenWhenLogged[i], std::to_string(i));
    }
    ::unlink(o.logPath.c_str());
}

TEST(ScannerSimCommandLog, AnUnwritableLogFailsTheStart)
{
    Options o = quiet();
    o.logPath = "/nonexistent-dir/log";
    ScannerSim sim(o);
    EXPECT_THROW(sim.Start(), std::runtime_error);
}

}  // namespace
}  // namespace scanner_sim
