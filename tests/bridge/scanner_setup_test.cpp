// The scanner's set-up: the command sequences and the records it leaves.
#include <gtest/gtest.h>

#include "bridge_fixture.h"

namespace lumabridge::test {
namespace {

using ScannerSetup = BridgeFixture;

std::vector<std::string> withEnd(std::vector<std::string> commands, const std::vector<std::string>& end)
{
    commands.insert(commands.end(), end.begin(), end.end());
    return commands;
}

TEST_F(ScannerSetup, CommandSequences)
{
    const std::vector<std::string> common(kSetUpWithoutLinearization.begin(), kSetUpWithoutLinearization.end() - 2);
    struct Case {
        const char* name;
        bool linearization;
        const char* check;  // GetCheckLinearizationMode answer; null: the read fails
        bool orbalis;
        const char* lines;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"not requested", false, "1", false, "1", kSetUpWithoutLinearization},
        {"requested, check 1", true, "1", false, "1",
         withEnd(common, {"SetSignalContentReserved=1\r", "SetLinearizationMode=1\r"})},
        {"requested, check 0", true, "0", false, "1", common},
        {"requested, read fails", true, nullptr, false, "1", common},
        {"-c", false, "1", true, "5", withEnd(kSetUpWithoutLinearization, {"SetAmountProfilesY=1\r"})},
        {"no lines per image", false, "1", false, "0", withEnd(kSetUpWithoutLinearization, {"SetAmountProfilesY=1\r"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scanner_sim::SettingsModel m;
        m.Set("device:settings:amountprofilesy:current", c.lines);
        BridgeRig rig;
        rig.scanner.descriptor = m.DescriptorXml();
        if (c.check)
            rig.scanner.readData["GetCheckLinearizationMode"] = c.check;
        if (c.linearization)
            rig.bridge.EnableHardwareLinearization();
        if (c.orbalis)
            rig.bridge.EnableOrbalisMode();
        ASSERT_TRUE(rig.bridge.UpdateScannerInfo());
        rig.bridge.ConfigureScanner();
        EXPECT_EQ(rig.scanner.Commands(), c.expected);
    }
}

TEST_F(ScannerSetup, TheStopSettlesBeforeTheRest)
{
    std::vector<uint32_t> times;
    ASSERT_TRUE(bridge->UpdateScannerInfo());
    scanner.onWrite = [&](const std::string&) { times.push_back(clock.NowMs()); };
    bridge->ConfigureScanner();
    ASSERT_EQ(times.size(), kSetUpWithoutLinearization.size());
    EXPECT_EQ(times[1] - times[0], 1500u);
    EXPECT_EQ(times.back(), times[1]);
}

TEST_F(ScannerSetup, RecordsAfterTheSetUp)
{
    SetValue("device:settings:roi:x1:width:current", "1024");
    SetValue("device:settings:amountprofilesy:current", "200");
    SetValue("device:general:fieldwidth_x_end", "60");
    SetValue("device:general:workingrange_z_start", "40");
    SetValue("device:general:measuringrange_z", "25");
    ASSERT_TRUE(bridge->UpdateScannerInfo());
    bridge->ConfigureScanner();

    BridgeProbe probe(*bridge);
    EXPECT_FALSE(probe.SortX());
    EXPECT_EQ(probe.AcquisitionMode(), 1);
    EXPECT_EQ(probe.RegionSelector(), 1);
    EXPECT_EQ(probe.ComponentSelector(), 1);
    EXPECT_EQ(probe.OtherSelectorsSum(), 0);

    EXPECT_FALSE(probe.Component(0).m_Enabled);
    EXPECT_EQ(FakeCamera::describe(probe.Component(0).m_Part), "0 0 0 1 1024x200 1 Mono10Packed");
    EXPECT_TRUE(probe.Component(1).m_Enabled);
    EXPECT_EQ(FakeCamera::describe(probe.Component(1).m_Part), "1 0 0 2 1024x200 5 Coord3D_ABC32f");
    EXPECT_EQ(cameraLog->Matching("UpdateImagePart"),
              std::vector<std::string>{"UpdateImagePart 1 0 0 2 1024x200 5 Coord3D_ABC32f"});

    const char* names[] = {"ChunkPictureCounter", "ChunkTimestamp",     "ChunkDeviceTemperature",
                           "ChunkLineStatusAll",  "ChunkEncoderValue", "ChunkScannerStatus"};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const ChunkRecord& chunk = probe.Chunk(i);
        EXPECT_EQ(chunk.m_ChunkId, 0xFFFFF0u + i);
        EXPECT_EQ(chunk.m_Name, names[i]);
        EXPECT_FALSE(chunk.m_Enabled);
        EXPECT_EQ(chunk.m_BytesPerValue, 4);
        EXPECT_NE(chunk.m_Values, nullptr);
    }
    EXPECT_EQ(probe.Chunk(3).m_DisplayName, "Chunk Line Status All");
    EXPECT_EQ(probe.Chunk(6).m_Values, nullptr);

    struct Axis {
        float min, max;
        bool invalid;
    };
    const Axis axes[] = {{-30.0f, 30.0f, false}, {0.0f, 0.0f, false}, {40.0f, 65.0f, true}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(probe.Scan3d(i).scale, 1.0f);
        EXPECT_EQ(probe.Scan3d(i).offset, 0.0f);
        EXPECT_EQ(probe.Scan3d(i).axisMin, axes[i].min);
        EXPECT_EQ(probe.Scan3d(i).axisMax, axes[i].max);
        EXPECT_EQ(probe.Scan3d(i).invalidDataFlag, axes[i].invalid);
        EXPECT_EQ(probe.Scan3d(i).invalidDataValue, 0.0f);
    }
}

TEST_F(ScannerSetup, AnEnabledIntensityPartStaysEnabledAndIsAnnouncedFirst)
{
    SetValue("device:settings:roi:x1:width:current", "640");
    SetValue("device:settings:amountprofilesy:current", "3");
    ASSERT_TRUE(bridge->UpdateScannerInfo());
    BridgeProbe probe(*bridge);
    probe.MutableComponent(0).m_Enabled = true;
    probe.MutableComponent(0).m_Part.pixelFormatName = "Mono10";
    bridge->ConfigureScanner();
    EXPECT_TRUE(probe.Component(0).m_Enabled);
    EXPECT_EQ(cameraLog->Matching("UpdateImagePart"),
              (std::vector<std::string>{"UpdateImagePart 0 0 0 1 640x3 1 Mono10Packed",
                                        "UpdateImagePart 1 0 0 2 640x3 5 Coord3D_ABC32f"}));
}

// Sizes beyond the bridge's buffers are held at their bounds instead of wrapping at 16 bits.
TEST_F(ScannerSetup, PartSizesAreBoundedByTheBuffers)
{
    SetValue("device:settings:roi:x1:width:current", "70000");
    SetValue("device:settings:amountprofilesy:current", "65537");
    ASSERT_TRUE(bridge->UpdateScannerInfo());
    bridge->ConfigureScanner();
    EXPECT_EQ(FakeCamera::describe(BridgeProbe(*bridge).Component(1).m_Part), "1 0 0 2 4096x10000 5 Coord3D_ABC32f");
}

// A second set-up (after a device reset) keeps the chunk arrays the image thread may hold.
TEST_F(ScannerSetup, ChunkArraysSurviveASecondSetUp)
{
    ASSERT_TRUE(bridge->UpdateScannerInfo());
    bridge->ConfigureScanner();
    BridgeProbe probe(*bridge);
    const uint32_t* first = probe.Chunk(0).m_Values.get();
    bridge->ConfigureScanner();
    EXPECT_EQ(probe.Chunk(0).m_Values.get(), first);
}

}  // namespace
}  // namespace lumabridge::test
