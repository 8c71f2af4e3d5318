// Construction, Connect and its window, the firmware gate, the log file, and the monitor.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "bridge_fixture.h"

namespace lumabridge::test {
namespace {

using Connect = BridgeFixture;

TEST_F(Connect, ConstructorConfiguresTheCameraInOrder)
{
    const std::vector<std::string> expected = {
        "SetGevMode 1",           "SetStreamChannelCount 1",     "SetPayloadType 1 0",
        "SetMaxImageSize 4500 10000", "SetFeatureReadCallback", "SetFeatureWriteCallback",
        "SetClientConnectionCallback", "SetTimestampMode 3 0",  "SetRegionMode 2 0",
    };
    EXPECT_EQ(cameraLog->Calls(), expected);
}

TEST_F(Connect, PassesAddressPortAndReconnectTimeout)
{
    bridge->EnableAutoReconnect();
    ASSERT_TRUE(bridge->Connect("10.1.2.3", "", 4464));
    ASSERT_EQ(scanner.connects.size(), 1u);
    EXPECT_EQ(scanner.connects[0].ip, "10.1.2.3");
    EXPECT_EQ(scanner.connects[0].port, "4464");
    EXPECT_EQ(scanner.connects[0].timeoutMs, 3000);
    EXPECT_FALSE(bridge->Connect("10.1.2.3", "", 4464)) << "a handle is held already";
    EXPECT_EQ(scanner.connects.size(), 1u);
}

TEST_F(Connect, ScannerNeverReadyFailsAfterTheWindowAndDisconnects)
{
    scanner.connectStatus = [](int) { return 0; };
    EXPECT_FALSE(bridge->Connect("127.0.0.1", "", 32001));
    EXPECT_EQ(scanner.connects[0].timeoutMs, 0);
    EXPECT_EQ(scanner.Disconnects(), 1);
    EXPECT_GT(clock.NowMs(), 3000u);
    EXPECT_LE(clock.NowMs(), 3200u);
    EXPECT_TRUE(scanner.Commands().empty());
    bridge->Shutdown();
    EXPECT_EQ(scanner.Disconnects(), 1) << "the handle was given back already";
    EXPECT_EQ(err.str(), "Error: Quillan_Connect: check connection parameters\n");
}

TEST_F(Connect, NullHandle)
{
    scanner.connectFails = true;
    EXPECT_FALSE(bridge->Connect("127.0.0.1", "", 32001));
    EXPECT_EQ(err.str(), "Error: Quillan_Connect: NULL-Pointer\n");
    EXPECT_EQ(scanner.Disconnects(), 0);
}

// The scanner becomes ready at poll k (k x 100 ms); each descriptor request costs 50 ms and
// never parses: only what is left of the 3000 ms goes to the descriptor.
TEST_F(Connect, LateReadinessLeavesOnlyTheRestOfTheWindowForTheDescriptor)
{
    struct Case {
        int readyPoll;
        size_t requests;
    };
    for (const Case c : {Case{27, 4}, Case{28, 2}, Case{29, 0}}) {
        SCOPED_TRACE(c.readyPoll);
        BridgeRig late;
        late.scanner.connectStatus = [&](int i) { return i >= c.readyPoll ? 3 : 0; };
        late.scanner.descriptor = "<device>";
        late.scanner.onGetInfo = [&] { late.clock.Advance(50); };
        EXPECT_FALSE(late.bridge.Connect("127.0.0.1", "", 32001));
        EXPECT_EQ(late.scanner.infoKinds.size(), c.requests);
        EXPECT_EQ(late.err.str(), "Scanner connected\nError: No Valid XML-Packet!!!\n");
        EXPECT_EQ(late.scanner.Commands(), std::vector<std::string>{"SetAcquisitionStop\r"});
        EXPECT_EQ(late.scanner.Disconnects(), 0) << "the handle stays open until shutdown";
        late.bridge.Shutdown();
        EXPECT_EQ(late.scanner.Disconnects(), 1);
    }
}

TEST_F(Connect, ReadyLateWithAValidDescriptorSucceeds)
{
    scanner.connectStatus = [](int i) { return i >= 28 ? 3 : 0; };
    int requests = 0;
    scanner.onGetInfo = [&] {
        if (++requests < 2)
            scanner.descriptor = "garbage";
        else
            scanner.descriptor = model.DescriptorXml();
    };
    EXPECT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    EXPECT_EQ(requests, 2);
}

TEST_F(Connect, FirmwareGateComparesPartByPart)
{
    struct Case {
        const char* firmware;
        bool checked;
        bool connects;
    };
    const Case cases[] = {
        {"1.1.9", true, false}, {"1.1.10", true, false}, {"1.0.99", true, false}, {"1.2.0", true, true},
        {"1.10.0", true, true}, {"2.0.1", true, true},   {"1.1.9", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.firmware) + (c.checked ? "" : " -e"));
        scanner_sim::SettingsModel m;
        m.Set("device:general:firmwareversion:general", c.firmware);
        BridgeRig rig;
        rig.scanner.descriptor = m.DescriptorXml();
        if (!c.checked)
            rig.bridge.DisableFirmwareCheck();
        EXPECT_EQ(rig.bridge.Connect("127.0.0.1", "", 32001), c.connects);
        rig.bridge.Shutdown();
        EXPECT_EQ(rig.err.str().find("Error: Update the scanner FW to at least 1.2.0\n") != std::string::npos, !c.connects);
    }
}

TEST_F(Connect, MessagesAndCommandsOfAConnection)
{
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    EXPECT_EQ(scanner.Commands(), std::vector<std::string>{"SetAcquisitionStop\r"});
    EXPECT_EQ(scanner.infoKinds, std::vector<std::string>{"xml"});
    bridge->Shutdown();
    // A thread's first line may come before or after the next start message.
    std::vector<std::string> lines = Lines(err);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.front(), "Scanner connected");
    EXPECT_EQ(lines[1], "Starting scanner monitor thread");
    EXPECT_EQ(lines.back(), "Scanner monitor thread has been ended");
    std::vector<std::string> expected = {
        "Scanner connected",
        "Starting scanner monitor thread",
        "Scanner monitor thread has started",
        "Starting scanner thread",
        "Scanner thread has started",
        "Scanner thread has been ended",
        "Scanner monitor thread has been ended",
    };
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(out.str(), "");
}

TEST_F(Connect, UserStringOnlyWithAUserName)
{
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "Cell 4", 32001));
    EXPECT_EQ(scanner.Commands(), (std::vector<std::string>{"SetAcquisitionStop\r", "SetUserString=Cell 4\r"}));
}

TEST_F(Connect, LogFileStartsWithItsHeaderAndReplacesOldContents)
{
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("lumabridge_log_" + std::to_string(::getpid()) + ".txt");
    std::ofstream(path) << "old contents\n";
    bridge->SetDebugFileName(path.string());
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    bridge->Shutdown();
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "///////////\n///////////\n");
    std::filesystem::remove(path);
}

TEST_F(Connect, UnwritableLogFileIsDroppedSilently)
{
    bridge->SetDebugFileName("/nonexistent-dir/log.txt");
    EXPECT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    bridge->Shutdown();
    EXPECT_EQ(err.str().find("Error"), std::string::npos);
}

// Descriptor failures are reported on the log file and, with -d, on the console, in their words.
TEST_F(Connect, DescriptorWarnings)
{
    struct Case {
        const char* descriptor;
        const char* console;
        const char* log;
    };
    const Case cases[] = {
        {"", "Wraning xml receive error\n", "Wraning xml receive error\n"},
        {"<device><general>", "Failed to read the XML data\nWarning xml parser error\n", "Wraning xml parser error\n"},
        {"<device/>", "Warning xml parser error\n", "Wraning xml parser error\n"},
    };
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("lumabridge_warn_" + std::to_string(::getpid()) + ".txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.descriptor);
        BridgeRig rig;
        rig.scanner.descriptor = model.DescriptorXml();
        rig.bridge.SetDebugFileName(path.string());
        rig.bridge.EnableConsoleDebug();
        ASSERT_TRUE(rig.bridge.Connect("127.0.0.1", "", 32001));
        {
            auto lock = rig.scanner.Lock();
            rig.scanner.descriptor = c.descriptor;
        }
        EXPECT_FALSE(rig.bridge.UpdateScannerInfo());
        rig.bridge.Shutdown();
        EXPECT_NE(rig.err.str().find(c.console), std::string::npos) << rig.err.str();
        std::ifstream in(path);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, std::string("///////////\n///////////\n") + c.log);
    }
    std::filesystem::remove(path);
}

// Monitor -----------------------------------------------------------------------------------

// Poll 0 is Connect's; the monitor reads the rest of the sequence and then 3 for ever.
std::function<int(int)> statusSequence(std::vector<int> sequence)
{
    return [sequence](int i) { return i < static_cast<int>(sequence.size()) ? sequence[i] : 3; };
}

TEST_F(Connect, MonitorReportsOneLossAndOneReconnection)
{
    scanner.connectStatus = statusSequence({3, 3, 3, 0, 0, 3});
    bridge->EnableAutoReconnect();
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    ASSERT_TRUE(Eventually([&] {
        const auto commands = scanner.Commands();
        return std::count(commands.begin(), commands.end(), "SetInitializeAcquisition") == 1;
    }));
    bridge->Shutdown();
    EXPECT_EQ(cameraLog->Matching("SendEventData"),
              std::vector<std::string>{"SendEventData 10 \"connection to scanner is lost\" 65535 ack"});
    EXPECT_EQ(CountLines(err, "disconnected"), 1u);
    EXPECT_EQ(CountLines(err, "connected"), 1u);
    EXPECT_FALSE(bridge->IsExitRequested());
    EXPECT_FALSE(bridge->IsScannerLost());
    const auto commands = scanner.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "SetInitializeAcquisition"), 1);
}

TEST_F(Connect, LossWithoutReconnectEndsTheProgramAsAFailure)
{
    scanner.connectStatus = statusSequence({3, 3, 0});
    ASSERT_TRUE(bridge->Connect("127.0.0.1", "", 32001));
    ASSERT_TRUE(Eventually([&] { return bridge->IsExitRequested(); }));
    EXPECT_TRUE(bridge->IsScannerLost());
    bridge->Shutdown();
    EXPECT_EQ(cameraLog->Count("SendEventData 10 "), 1u);
    EXPECT_EQ(CountLines(err, "disconnected"), 1u);
    EXPECT_EQ(CountLines(err, "connected"), 0u);
    EXPECT_EQ(CountLines(err, "Scanner monitor thread has been ended"), 1u);
    const auto commands = scanner.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "SetInitializeAcquisition"), 0);
}

// Client connection -------------------------------------------------------------------------

TEST_F(Connect, ClientDisconnectStopsTheAcquisitionAndWakesTheImageThread)
{
    BridgeProbe probe(*bridge);
    probe.SetAcquisitionRunning();
    camera->ClientConnection(true);
    EXPECT_TRUE(scanner.Commands().empty());
    camera->ClientConnection(false);
    EXPECT_EQ(scanner.Commands(), std::vector<std::string>{"SetAcquisitionStop\r"});
    EXPECT_TRUE(probe.AcquisitionStopped());
    EXPECT_EQ(probe.AcquisitionEvent().wait(0), platform::WaitResult::TimedOut);
    EXPECT_EQ(probe.NewProfileEvent().wait(0), platform::WaitResult::Signaled);
    EXPECT_EQ(err.str(), "\nClient is connected\n\nClient is disconnected\n");
}

}  // namespace
}  // namespace lumabridge::test
