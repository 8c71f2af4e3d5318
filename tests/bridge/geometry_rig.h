#pragma once
// A bridge with a fake camera, set up from the simulator's descriptor as after going online:
// the cached scanner values parsed, the records in their working configuration. And a bridge on
// the device library's camera for the geometry the camera computes itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_fixture.h"

namespace lumabridge::test {

struct GeometryRig : BridgeRig {
    GeometryRig() : BridgeRig(true), probe(bridge) {}

    // The descriptor values (full paths) the bridge caches, then the working configuration;
    // the information is fresh when this returns.
    void SetUp(const std::vector<std::pair<std::string, std::string>>& values = {})
    {
        Describe(values);
        bridge.ConfigureScanner();
        Describe({});
    }
    // New descriptor values, parsed into the cache as a refresh would.
    void Describe(const std::vector<std::pair<std::string, std::string>>& values)
    {
        for (const auto& [path, value] : values)
            model.Set(path, value);
        scanner.descriptor = model.DescriptorXml();
        ASSERT_TRUE(bridge.UpdateScannerInfo());
    }
    // The camera calls made from now on.
    void Mark() { m_Mark = cameraLog->Calls().size(); }
    std::vector<std::string> CallsSinceMark() const
    {
        const std::vector<std::string> all = cameraLog->Calls();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(m_Mark, all.size())), all.end()};
    }

    size_t InfoRequests()
    {
        auto lock = scanner.Lock();
        return scanner.infoKinds.size();
    }

    scanner_sim::SettingsModel model;
    BridgeProbe probe;

private:
    size_t m_Mark = 0;
};

inline const std::string kRoiWidth = "device:settings:roi:x1:width:current";
inline const std::string kRoiHeight = "device:settings:roi:z1:height:current";
inline const std::string kRoiOffsetX = "device:settings:roi:x1:offset:current";
inline const std::string kRoiOffsetZ = "device:settings:roi:z1:offset:current";
inline const std::string kLines = "device:settings:amountprofilesy:current";
inline const std::string kSignalEnable = "device:settings:protocol:profile:signal:enable:current";

// The device library's camera over a scanner whose ROI is 640 points wide, 10 lines a block.
class CameraGeometry : public ::testing::Test, protected CameraBridgeRig {
protected:
    void SetUp() override
    {
        Describe({{kRoiWidth, "640"}, {kLines, "10"}});
        ASSERT_NE(camera, nullptr);
    }
};

}  // namespace lumabridge::test
