// Geometry reads against the device library's camera: PayloadSize follows at once.
#include <gtest/gtest.h>

#include <string>

#include "geometry_rig.h"

namespace lumabridge::test {
namespace {

using FeatureReadCamera = CameraGeometry;

// A client reads PayloadSize right after Width or Height to size its buffers: parts
// (W1 x L x bytes per pixel) plus the chunk area (4L per chunk, 8 per chunk, 8).
TEST_F(FeatureReadCamera, PayloadSizeFollowsWidthAndHeightReads)
{
    BridgeProbe probe(bridge);
    ASSERT_TRUE(bridge.UpdateScannerInfo());
    bridge.ConfigureScanner();
    bridge.OnFeatureRead("Width");
    bridge.OnFeatureRead("Height");
    EXPECT_EQ(camera->GetPayloadSize(0), 640u * 10 * 12);

    Describe({{kLines, "200"}});
    ASSERT_TRUE(bridge.UpdateScannerInfo());
    probe.ChunkCount() = 2;
    bridge.OnFeatureRead("Height");
    const uint32_t chunkArea = 2 * 200 * 4 + 2 * 8 + 8;
    EXPECT_EQ(camera->GetPayloadSize(0), 640u * 200 * 12 + chunkArea);

    Describe({{kSignalEnable, "3"}});
    ASSERT_TRUE(bridge.UpdateScannerInfo());
    bridge.OnFeatureRead("Width");
    EXPECT_EQ(camera->GetPayloadSize(0), 1280u * 200 * 12 + chunkArea);

    probe.MutableComponent(0).m_Enabled = true;  // the intensity part joins, as Mono10Packed
    bridge.OnFeatureRead("Width");
    EXPECT_EQ(camera->GetPayloadSize(0), 1280u * 200 * 12 + 1280u * 200 * 3 / 2 + chunkArea);
}

// The camera calls the handler on the reader's thread with the register locked: a local
// getter gets the scanner's current value, refreshed when stale.
TEST_F(FeatureReadCamera, LocalGettersReadTheScannersValues)
{
    bridge.EnableConsoleDebug();
    ASSERT_TRUE(bridge.UpdateScannerInfo());
    bridge.ConfigureScanner();
    ASSERT_EQ(camera->Start("127.0.5.21"), GevResult::Ok);

    int64_t value = -1;
    ASSERT_EQ(camera->GetIntegerValue("Width", &value), GevResult::Ok);
    EXPECT_EQ(value, 640);  // the camera's region 0, the ROI

    Describe({{kRoiWidth, "800"}});
    clock.Advance(1001);
    ASSERT_EQ(camera->GetIntegerValue("Width", &value), GevResult::Ok);
    EXPECT_EQ(value, 800);
    ASSERT_EQ(camera->GetIntegerValue("PayloadSize", &value), GevResult::Ok);
    EXPECT_EQ(value, 800 * 10 * 12);
    bridge.Shutdown();
    // The camera's own PayloadSize updates reach the write handler too ("Write PayloadSize").
    const std::string log = out.str();
    const size_t refreshed = log.rfind("Updating Data\n");
    ASSERT_NE(refreshed, std::string::npos) << log;
    EXPECT_NE(log.find("Read Width = 800\n", refreshed), std::string::npos) << log;
}

}  // namespace
}  // namespace lumabridge::test
