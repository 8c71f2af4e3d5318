// Going online, the device reset, and shutdown from every state.
#include <gtest/gtest.h>

#include <atomic>

#include "bridge_fixture.h"

namespace lumabridge::test {
namespace {

using Online = BridgeFixture;
using Lifecycle = BridgeFixture;

TEST_F(Online, SetsUpIdentifiesAndStarts)
{
    Describe({{"device:general:producer", "Acme Optics"},
              {"device:general:ordernumber", "KTRB-2048"},
              {"device:general:description", "Line scanner"},
              {"device:general:serialnumber", "918273"},
              {"device:general:mac", "00-11-22-33-44-55"},
              {"device:settings:userstring:current", "Cell 4"}});
    bridge->EnableOrbalisMode();
    FollowCommands();
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    ASSERT_TRUE(bridge->BuildDescription("127.0.0.75", -1, ""));

    std::vector<std::string> setUp = kSetUpWithoutLinearization;
    setUp.push_back("SetAmountProfilesY=1\r");
    EXPECT_EQ(CommandsAfter("SetAcquisitionStop\r"), setUp);
    EXPECT_EQ(cameraLog->Matching("SetDeviceIdentity"),
              std::vector<std::string>{"SetDeviceIdentity Acme Optics|KTRB-2048|2.0.0.orbalis|Line scanner|918273"});
    EXPECT_EQ(cameraLog->Matching("SetMacAddress"), std::vector<std::string>{"SetMacAddress 00-11-22-33-44-55"});
    EXPECT_EQ(cameraLog->Matching("SetUserDefinedName"), std::vector<std::string>{"SetUserDefinedName Cell 4"});
    EXPECT_EQ(cameraLog->Matching("Start"), std::vector<std::string>{"Start 127.0.0.75"});
    EXPECT_EQ(cameraLog->Count("SetPersistentIp"), 0u);
    EXPECT_EQ(out.str(), "Vantocam is online\n");
}

TEST_F(Online, WaitsForTheUserName)
{
    int requests = 0;
    scanner.onGetInfo = [&] {
        if (++requests == 4) {
            model.Set("device:settings:userstring:current", "Cell 4");
            scanner.descriptor = model.DescriptorXml();
        }
    };
    bridge->EnableConsoleDebug();
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "Cell 4", 32001));
    ASSERT_TRUE(bridge->BuildDescription("127.0.0.75", -1, "Cell 4"));
    EXPECT_EQ(requests, 4);
    EXPECT_EQ(cameraLog->Matching("SetUserDefinedName"), std::vector<std::string>{"SetUserDefinedName Cell 4"});
    EXPECT_EQ(out.str(), "Initiate parameters\nInitiate parameters\nInitiate parameters\nVantocam is online\n");
}

TEST_F(Online, AsksForOneLineUntilTheScannerReportsIt)
{
    SetValue("device:settings:amountprofilesy:current", "5");
    bridge->EnableOrbalisMode();
    int asked = 0;
    scanner.onWrite = [&](const std::string& command) {
        if (command == "SetAmountProfilesY=1\r" && ++asked == 3) {
            model.Apply(command);
            scanner.descriptor = model.DescriptorXml();
        }
    };
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    const uint32_t before = clock.NowMs();
    ASSERT_TRUE(bridge->BuildDescription("127.0.0.75", -1, ""));
    EXPECT_EQ(asked, 3);
    EXPECT_GE(clock.NowMs() - before, 1500u + 2 * 500u);
}

std::atomic<bool> g_Interrupted{false};
bool interruptedProcess()
{
    return g_Interrupted;
}

// The wait for a user name the scanner never reports ends on the exit flag or on the process's
// interrupt.
TEST_F(Online, TheUserNameWaitCanBeInterrupted)
{
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "interrupt" : "exit request");
        BridgeRig rig(true);
        Bridge& b = rig.bridge;
        rig.scanner.descriptor = model.DescriptorXml();
        ASSERT_TRUE(b.Connect("127.0.0.1", "Never", 32001));
        std::atomic<int> requests{0};
        {
            auto lock = rig.scanner.Lock();
            rig.scanner.onGetInfo = [&] { ++requests; };
        }
        g_Interrupted = false;
        Bridge::SetStopCheck(interruptedProcess);
        std::jthread stopper([&] {
            Eventually([&] { return requests > 3; });
            if (bySignal)
                g_Interrupted = true;
            else
                b.RequestExit();
        });
        EXPECT_FALSE(b.BuildDescription("127.0.0.75", -1, "Never"));
        stopper.join();
        Bridge::SetStopCheck(nullptr);
        EXPECT_EQ(rig.cameraLog->Count("Start"), 0u);
    }
}

TEST_F(Online, AddressToStartOn)
{
    struct Case {
        int index;
        bool online;
        std::vector<std::string> persistent;
        std::vector<std::string> start;
    };
    const Case cases[] = {
        {-1, true, {}, {"Start 127.0.0.75"}},
        {1, true, {}, {"Start 127.0.0.75"}},  // the interface has the served address
        {2, true, {"SetPersistentIp 127.0.0.75 255.255.255.0 0.0.0.0"}, {"Start 10.0.0.9"}},
        {3, false, {}, {}},
        {-2, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        BridgeRig rig(true);
        rig.camera->interfaces = {"127.0.0.1", "127.0.0.75", "10.0.0.9"};
        rig.bridge.ReadInterfaces();
        EXPECT_EQ(rig.bridge.BuildDescription("127.0.0.75", c.index, ""), c.online);
        EXPECT_EQ(rig.cameraLog->Matching("SetPersistentIp"), c.persistent);
        EXPECT_EQ(rig.cameraLog->Matching("Start"), c.start);
        EXPECT_TRUE(rig.scanner.Commands().empty()) << "no scanner: nothing is set up";
        if (!c.online) {
            EXPECT_EQ(rig.err.str(), "Error: interface index " + std::to_string(c.index) +
                                   " is not in the list of interfaces (0..2)\n");
        }
    }
}

TEST_F(Online, StartFailing)
{
    camera->startResult = GevResult::Fail;
    EXPECT_FALSE(bridge->BuildDescription("127.0.0.75", -1, ""));
    EXPECT_EQ(out.str(), "could not bring the server online\n");
}

// Device reset ------------------------------------------------------------------------------

TEST_F(Lifecycle, DeviceResetTakesTheServerOfflineAndBack)
{
    ASSERT_TRUE(ConnectAndGoOnline());
    const size_t before = scanner.Commands().size();
    EXPECT_TRUE(camera->Write("DeviceReset"));
    ASSERT_TRUE(Eventually([&] { return !bridge->IsDeviceResetRunning(); }));
    const std::vector<std::string> all = scanner.Commands();
    std::vector<std::string> expected = {"SetResetSettings\r"};
    expected.insert(expected.end(), kSetUpWithoutLinearization.begin(), kSetUpWithoutLinearization.end());
    EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()), expected);

    const std::vector<std::string> calls = cameraLog->Calls();
    const auto stop = std::find(calls.begin(), calls.end(), "Stop");
    ASSERT_NE(stop, calls.end());
    EXPECT_EQ(calls.back(), "Start 127.0.0.75");
    EXPECT_EQ(std::count(stop, calls.end(), "UpdateImagePart 1 0 0 2 2048x1 5 Coord3D_ABC32f"), 1);
    EXPECT_TRUE(camera->Write("DeviceReset")) << "a reset after the first has ended";
}

TEST_F(Lifecycle, ShutdownDuringADeviceResetJoinsItFirst)
{
    ASSERT_TRUE(ConnectAndGoOnline());
    // After the reset command the scanner stops describing itself and time stands still: the
    // reset keeps waiting for a descriptor.
    std::atomic<bool> resetSent{false};
    scanner.onWrite = [&](const std::string& command) {
        if (command == "SetResetSettings\r") {
            scanner.descriptor.clear();
            clock.Freeze();
            resetSent = true;
        }
    };
    ASSERT_TRUE(camera->Write("DeviceReset"));
    ASSERT_TRUE(Eventually([&] { return resetSent.load(); }));
    EXPECT_FALSE(camera->Write("DeviceReset")) << "a second reset while one runs is refused";
    bridge->Shutdown();
    EXPECT_FALSE(bridge->IsDeviceResetRunning());
    const std::vector<std::string> calls = cameraLog->Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Start 127.0.0.75"), 1) << "not started again";
    EXPECT_EQ(calls.back(), "~");
    EXPECT_EQ(scanner.Disconnects(), 1);
    EXPECT_EQ(CountLines(err, "Warning: a device reset is running; DeviceReset refused"), 1u);
}

// Shutdown ----------------------------------------------------------------------------------

TEST_F(Lifecycle, ShutdownOfAConstructedBridge)
{
    bridge->Shutdown();
    bridge->Shutdown();
    const std::vector<std::string> calls = cameraLog->Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "Stop");
    EXPECT_EQ(calls.back(), "~");
    EXPECT_EQ(cameraLog->Count("Stop"), 1u);
    EXPECT_EQ(scanner.Disconnects(), 0);
}

TEST_F(Lifecycle, ShutdownOfAnOnlineBridge)
{
    ASSERT_TRUE(ConnectAndGoOnline());
    bridge->Shutdown();
    const std::vector<std::string> calls = cameraLog->Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3], "Start 127.0.0.75");
    EXPECT_EQ(calls[calls.size() - 2], "Stop");
    EXPECT_EQ(calls.back(), "~");
    EXPECT_EQ(scanner.Disconnects(), 1);
    EXPECT_EQ(CountLines(err, "Scanner monitor thread has been ended"), 1u);
}

TEST_F(Lifecycle, NoDeviceResetStartsOnceShutdownBegan)
{
    ASSERT_TRUE(ConnectAndGoOnline());
    bridge->Shutdown();
    EXPECT_FALSE(bridge->OnFeatureWrite("DeviceReset"));
    EXPECT_FALSE(bridge->IsDeviceResetRunning());
}

}  // namespace
}  // namespace lumabridge::test
