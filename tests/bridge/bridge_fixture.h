#pragma once
// A Bridge over a scripted scanner, a fake camera (or the device library's camera) and a manual
// clock. The scanner's descriptor comes from the simulator's settings model, which can follow the
// commands the bridge sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bridge.h"
#include "bridge_probe.h"
#include "fake_camera.h"
#include "fake_scanner.h"
#include "gev_camera.h"
#include "scanner_sim/settings_model.h"

namespace lumabridge::test {

// Each command of a write changes the model, one per "\r" as the scanner reads them.
inline void ApplyCommands(scanner_sim::SettingsModel& model, std::string_view text)
{
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\r', start), text.size());
        model.Apply(text.substr(start, end - start));
        start = end + 1;
    }
}

// Descriptor values by full path.
using Settings = std::vector<std::pair<std::string, std::string>>;

// A scripted scanner that describes itself from the simulator's settings model.
struct ModelScanner {
    // New values in the model, and the descriptor from it.
    void Describe(const Settings& values = {})
    {
        for (const auto& [path, value] : values)
            model.Set(path, value);
        auto lock = scanner.Lock();
        scanner.descriptor = model.DescriptorXml();
    }
    // Commands the bridge sends change the model's settings from now on.
    void FollowCommands()
    {
        scanner.onWrite = [this](const std::string& text) {
            ApplyCommands(model, text);
            scanner.descriptor = model.DescriptorXml();
        };
    }

    scanner_sim::SettingsModel model;
    FakeScanner scanner;
};

// A bridge over a ModelScanner and the device library's camera; the test checks the camera.
struct CameraBridgeRig : ModelScanner {
    CameraBridgeRig() { bridge.SetConsoleStreams(out, err); }

    ManualClock clock;
    std::ostringstream out;
    std::ostringstream err;
    CGevCamera* camera = createCamera();  // owned by the bridge
    Bridge bridge{scanner, clock, camera};
};

// A self-contained bridge for one row of a table of cases; with a camera when asked.
struct BridgeRig {
    explicit BridgeRig(bool withCamera = false)
        : camera(withCamera ? new FakeCamera(cameraLog) : nullptr), bridge(scanner, clock, camera)
    {
        bridge.SetConsoleStreams(out, err);
    }

    FakeScanner scanner;
    ManualClock clock;
    std::shared_ptr<CameraLog> cameraLog = std::make_shared<CameraLog>();
    FakeCamera* camera;  // owned by the bridge
    std::ostringstream out;
    std::ostringstream err;
    Bridge bridge;
};

class BridgeFixture : public ::testing::Test, protected ModelScanner {
protected:
    void SetUp() override
    {
        Describe();
        camera = new FakeCamera(cameraLog);
        bridge = std::make_unique<Bridge>(scanner, clock, camera);
        bridge->SetConsoleStreams(out, err);
    }
    void TearDown() override
    {
        if (bridge)
            bridge->Shutdown();
    }

    void SetValue(const std::string& path, const std::string& value) { Describe({{path, value}}); }
    // The console's lines; read them once the threads that write have ended.
    static std::vector<std::string> Lines(const std::ostringstream& stream)
    {
        std::vector<std::string> lines;
        std::istringstream in(stream.str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    static size_t CountLines(const std::ostringstream& stream, const std::string& line)
    {
        size_t n = 0;
        for (const std::string& l : Lines(stream))
            n += l == line;
        return n;
    }
    // Commands sent after the first occurrence of marker (all of them without a marker).
    std::vector<std::string> CommandsAfter(const std::string& marker)
    {
        const std::vector<std::string> all = scanner.Commands();
        auto it = std::find(all.begin(), all.end(), marker);
        return it == all.end() ? std::vector<std::string>{} : std::vector<std::string>(it + 1, all.end());
    }
    // Waits for a condition that another thread makes true; fails after a generous bound.
    static bool Eventually(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    bool ConnectAndGoOnline(const std::string& serverIp = "127.0.0.75")
    {
        return bridge->Connect("127.0.0.1", "", 32001) && bridge->BuildDescription(serverIp, -1, "");
    }

    ManualClock clock;
    std::shared_ptr<CameraLog> cameraLog = std::make_shared<CameraLog>();
    FakeCamera* camera = nullptr;  // owned by the bridge
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<Bridge> bridge;
};

inline const std::vector<std::string> kSetUpWithoutLinearization = {
    "SetAcquisitionStop\r",
    "SetSignalContentWidth=0\r",
    "SetEA1InputLoad=1\rSetEA2InputLoad=1\rSetEA3InputLoad=1\rSetEA4InputLoad=1\r",
    "SetHeartBeat=3000\r",
    "SetLinearizationMode=0\r",
    "SetSignalContentReserved=0\r",
};

}  // namespace lumabridge::test
