// Geometry writes against the device library's camera: the handler runs inside the camera's
// setter, and PayloadSize has the new size as soon as the write returns.
#include <gtest/gtest.h>

#include <string>

#include "geometry_rig.h"

namespace lumabridge::test {
namespace {

using FeatureWriteCamera = CameraGeometry;

TEST_F(FeatureWriteCamera, PayloadSizeFollowsWidthAndHeightWrites)
{
    // The scanner takes each command; the refresh after a write reads it back.
    FollowCommands();
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
