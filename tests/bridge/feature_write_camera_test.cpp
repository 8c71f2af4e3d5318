// Geometry writes against the device library's camera: the handler runs inside the camera's
// setter, and PayloadSize has the new size as soon as the write returns.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "bridge_fixture.h"
#include "gev_camera.h"

namespace lumabridge::test {
namespace {

TEST(FeatureWriteCamera, PayloadSizeFollowsWidthAndHeightWrites)
{
    scanner_sim::SettingsModel model;
    FakeScanner scanner;
    model.Set("device:settings:roi:x1:width:current", "640");
    model.Set("device:settings:amountprofilesy:current", "10");
    scanner.descriptor = model.DescriptorXml();
    // The scanner takes each command; the refresh after a write reads it back.
    scanner.onWrite = [&](const std::string& text) {
        ApplyCommands(model, text);
        scanner.descriptor = model.DescriptorXml();
    };
    ManualClock clock;
    std::ostringstream out, err;
    CGevCamera* camera = createCamera();
    ASSERT_NE(camera, nullptr);
    Bridge bridge(scanner, clock, camera);
    bridge.SetConsoleStreams(out, err);
    BridgeProbe probe(bridge);
    ASSERT_TRUE(bridge.UpdateScannerInfo());
    bridge.ConfigureScanner();
    bridge.OnFeatureRead("Width");
    bridge.OnFeatureRead("Height");
    ASSERT_EQ(camera->Start("127.0.5.31"), GevResult::Ok);
    ASSERT_EQ(camera->GetPayloadSize(0), 640u * 10 * 12);

    probe.MutableRegionSelector() = 0;
    ASSERT_EQ(camera->SetIntegerValue("Width", 1024), GevResult::Ok);
    EXPECT_EQ(scanner.Commands().back(), "SetROI1WidthX=1024\r");
    EXPECT_EQ(camera->GetPayloadSize(0), 1024u * 10 * 12);

    probe.MutableRegionSelector() = 1;
    ASSERT_EQ(camera->SetIntegerValue("Height", 200), GevResult::Ok);
    EXPECT_EQ(scanner.Commands().back(), "SetAmountProfilesY=200\r");
    EXPECT_EQ(camera->GetPayloadSize(0), 1024u * 200 * 12);
    bridge.Shutdown();
}

}  // namespace
}  // namespace lumabridge::test
