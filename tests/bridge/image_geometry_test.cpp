// The streamed image's geometry: widths by the signal enable, lines per image and the chunk
// payload, the camera calls that carry them, and nothing changed while acquiring.
#include <gtest/gtest.h>

#include "geometry_rig.h"

namespace lumabridge::test {
namespace {

using Calls = std::vector<std::string>;

TEST(ImageGeometry, WidthBySignalEnable)
{
    struct Case {
        const char* name;
        const char* signalEnable;
        const char* roiWidth;
        int expectedWidth;
    };
    // The working configuration starts with parts 640 wide.
    const Case cases[] = {
        {"first", "1", "640", 640},
        {"second", "2", "512", 512},
        {"first and second: twice the ROI", "3", "640", 1280},
        {"another enable keeps the last width", "0", "512", 640},
        {"bounded to the buffers", "3", "2100", Bridge::kMaxImageWidth},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GeometryRig rig;
        rig.SetUp({{kRoiWidth, "640"}, {kLines, "10"}});
        rig.Describe({{kSignalEnable, c.signalEnable}, {kRoiWidth, c.roiWidth}});
        rig.Mark();
        rig.bridge.UpdateRegionWidth();

        const std::string w = std::to_string(c.expectedWidth);
        Calls expected = {
            "SetRegionWidth " + std::string(c.roiWidth) + " 0 0 0",
            "UpdateImagePart 1 0 0 2 " + w + "x10 5 Coord3D_ABC32f",
            "SetRegionWidth " + w + " 0 1 0",
        };
        if (c.expectedWidth != 640)
            expected.push_back("ApplyRegionSettings 0");
        EXPECT_EQ(rig.CallsSinceMark(), expected);
        EXPECT_EQ(rig.probe.Component(0).m_Part.width, c.expectedWidth);  // disabled parts follow too
        EXPECT_EQ(rig.probe.Component(1).m_Part.width, c.expectedWidth);
    }
}

TEST(ImageGeometry, PendingPartChangesAreAppliedOnce)
{
    GeometryRig rig;
    rig.SetUp({{kRoiWidth, "640"}, {kLines, "10"}});
    rig.probe.MutableComponent(0).m_Enabled = true;
    rig.probe.PartsChanged() = true;
    rig.Mark();
    rig.bridge.UpdateRegionWidth();
    EXPECT_EQ(rig.CallsSinceMark(), (Calls{
                                         "SetRegionWidth 640 0 0 0",
                                         "UpdateImagePart 0 0 0 1 640x10 1 Mono10Packed",
                                         "UpdateImagePart 1 0 0 2 640x10 5 Coord3D_ABC32f",
                                         "SetRegionWidth 640 0 1 0",
                                         "ApplyRegionSettings 0",
                                     }));
    EXPECT_FALSE(rig.probe.PartsChanged());

    rig.Mark();
    rig.bridge.UpdateRegionWidth();
    EXPECT_EQ(rig.cameraLog->Count("ApplyRegionSettings"), 1u);
}

TEST(ImageGeometry, LinesPerImageSizeThePartsAndTheChunks)
{
    GeometryRig rig;
    rig.SetUp({{kRoiWidth, "640"}, {kRoiHeight, "300"}, {kLines, "10"}});
    rig.probe.ChunkCount() = 2;
    rig.Describe({{kLines, "200"}});
    rig.Mark();
    rig.bridge.UpdateLinesPerImage();
    EXPECT_EQ(rig.CallsSinceMark(), (Calls{
                                         "SetRegionHeight 300 0 0 0",
                                         "UpdateImagePart 1 0 0 2 640x200 5 Coord3D_ABC32f",
                                         "SetRegionHeight 200 0 1 0",
                                         "SetChunkPayloadSize 1600 2 0",
                                         "ApplyRegionSettings 0",
                                     }));
    EXPECT_EQ(rig.probe.LinesPerImage(), 200);
    EXPECT_EQ(rig.probe.ChunkPayloadBytes(), 1600);
    EXPECT_EQ(rig.probe.Component(0).m_Part.height, 200);

    // The same lines again: the camera hears them, but nothing is re-applied.
    rig.Mark();
    rig.bridge.UpdateLinesPerImage();
    EXPECT_EQ(rig.CallsSinceMark().size(), 4u);
    EXPECT_EQ(rig.cameraLog->Count("ApplyRegionSettings"), 1u);
}

TEST(ImageGeometry, LinesPerImageBoundedToTheBuffers)
{
    const std::pair<const char*, int> cases[] = {{"0", 1}, {"-5", 1}, {"10000", 10000}, {"20000", 10000}};
    for (const auto& [scanned, lines] : cases) {
        SCOPED_TRACE(scanned);
        GeometryRig rig;
        rig.SetUp({{kLines, "10"}});
        rig.Describe({{kLines, scanned}});
        rig.Mark();
        rig.bridge.UpdateLinesPerImage();
        EXPECT_EQ(rig.probe.LinesPerImage(), lines);
        EXPECT_EQ(rig.probe.Component(1).m_Part.height, lines);
        EXPECT_EQ(rig.cameraLog->Count("SetRegionHeight " + std::to_string(lines) + " 0 1 0"), 1u);
    }
}

TEST(ImageGeometry, NothingChangesWhileAcquiring)
{
    GeometryRig rig;
    rig.SetUp({{kRoiWidth, "640"}, {kLines, "10"}});
    rig.probe.ChunkCount() = 1;
    rig.probe.PartsChanged() = true;
    rig.bridge.UpdateLinesPerImage();
    rig.probe.PartsChanged() = true;
    rig.Describe({{kSignalEnable, "3"}, {kLines, "50"}});
    rig.probe.SetAcquisitionStopped(false);
    rig.Mark();
    rig.bridge.UpdateRegionWidth();
    rig.bridge.UpdateLinesPerImage();
    EXPECT_EQ(rig.CallsSinceMark(), Calls{});
    EXPECT_EQ(rig.probe.Component(1).m_Part.width, 640);
    EXPECT_EQ(rig.probe.Component(1).m_Part.height, 10);
    EXPECT_EQ(rig.probe.LinesPerImage(), 10);
    EXPECT_TRUE(rig.probe.PartsChanged());

    // After the stop the next update applies what was pending.
    rig.probe.SetAcquisitionStopped(true);
    rig.Mark();
    rig.bridge.UpdateLinesPerImage();
    rig.bridge.UpdateRegionWidth();
    EXPECT_EQ(rig.probe.LinesPerImage(), 50);
    EXPECT_EQ(rig.probe.Component(1).m_Part.width, 1280);
    EXPECT_EQ(rig.cameraLog->Matching("SetChunkPayloadSize").back(), "SetChunkPayloadSize 200 1 0");
    EXPECT_FALSE(rig.probe.PartsChanged());
}

}  // namespace
}  // namespace lumabridge::test
