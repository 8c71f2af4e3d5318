// QuillanDLL objects share one connection table.
#include "quillan.h"
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

using namespace std::chrono_literals;

TEST(QuillanDllObject, DestroyingACopyKeepsTheConnections)
{
    scanner_sim::ScannerSim sim;
    sim.Start();
    sim.SetSilent(true);
    std::string port = std::to_string(sim.Port());

    QuillanDLL first;
    QuillanHandle h = first.Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
    ASSERT_NE(h, nullptr);
    {
        QuillanDLL copy(first);
        QuillanDLL other;
        int status = -1;
        EXPECT_EQ(copy.GetConnectStatus(h, &status), 0);  // one table for all objects
    }
    int status = -1;
    EXPECT_EQ(first.GetConnectStatus(h, &status), 0);
    std::string text = "SetExposureTime=5\r";
    ASSERT_TRUE(sim.WaitForAccepts(1, 3000ms));
    ASSERT_TRUE(sim.WaitForCommand(std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8), 3000ms));
    EXPECT_EQ(first.WriteData(h, text.data(), static_cast<int>(text.size())), 18);
    EXPECT_TRUE(sim.WaitForCommand(text, 2000ms));
    EXPECT_EQ(first.Disconnect(h), nullptr);
}

TEST(QuillanDllObject, LastObjectClosesEveryConnection)
{
    scanner_sim::ScannerSim sim;
    sim.Start();
    sim.SetSilent(true);
    std::string port = std::to_string(sim.Port());
    QuillanHandle h;
    {
        QuillanDLL only;
        h = only.Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(sim.WaitForAccepts(1, 3000ms));
    }
    EXPECT_TRUE(sim.WaitForClientClosed(2000ms));
    QuillanDLL later;
    int status = -1;
    EXPECT_EQ(later.GetConnectStatus(h, &status), -1000);
}
