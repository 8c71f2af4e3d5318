// The feature read handler: when stale scanner information is fetched again, the value each
// feature reads from a known cached state, the Scan3d limits, and the geometry reads.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <sstream>

#include "geometry_rig.h"

namespace lumabridge::test {
namespace {

using Calls = std::vector<std::string>;
using Values = std::vector<std::pair<std::string, std::string>>;

const std::string kSettings = "device:settings:";
const std::string kGeneral = "device:general:";

Calls Lines(const std::ostringstream& stream)
{
    Calls lines;
    std::istringstream in(stream.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The camera calls a read makes.
Calls ReadCalls(GeometryRig& rig, const char* feature)
{
    rig.Mark();
    EXPECT_TRUE(rig.camera->Read(feature));
    return rig.CallsSinceMark();
}

std::string Float(const char* feature, double value)
{
    return std::string("SetFloatValue ") + feature + " " + std::to_string(static_cast<float>(value));
}

std::string Integer(const char* feature, int64_t value)
{
    return std::string("SetIntegerValue ") + feature + " " + std::to_string(value);
}

TEST(FeatureRead, RefreshesStaleInformationOnlyWhileStopped)
{
    GeometryRig rig;
    rig.bridge.EnableConsoleDebug();
    rig.SetUp();
    const size_t fresh = rig.InfoRequests();
    const auto refreshed = [&] { return rig.InfoRequests() - fresh; };

    rig.clock.Advance(1000);
    rig.camera->Read("ExposureTime");
    EXPECT_EQ(refreshed(), 0u) << "1000 ms is not stale";

    // The scanner's new value is what the read writes.
    rig.model.Set(kSettings + "exposuretime:current", "250");
    rig.scanner.descriptor = rig.model.DescriptorXml();
    rig.clock.Advance(1);
    EXPECT_EQ(ReadCalls(rig, "ExposureTime"), Calls{Integer("ExposureTime", 250)});
    EXPECT_EQ(refreshed(), 1u);
    rig.camera->Read("ExposureTime");
    EXPECT_EQ(refreshed(), 1u) << "the refresh stamped the information";

    rig.clock.Advance(5000);
    rig.probe.SetAcquisitionRunning();
    rig.camera->Read("ExposureTime");
    rig.camera->Read("Width");
    EXPECT_EQ(refreshed(), 1u) << "never while acquiring";

    rig.probe.SetAcquisitionStopped(true);
    for (const char* name : {"PayloadSize", "AcquisitionStop", "AcquisitionStart", "ChunkEnable"})
        rig.camera->Read(name);
    EXPECT_EQ(refreshed(), 1u) << "never for these four";
    rig.camera->Read("SyncOut");  // any other feature, even one only logged
    EXPECT_EQ(refreshed(), 2u);

    EXPECT_NE(rig.out.str().find("Read ExposureTime = 100\n\nUpdating Data\nRead ExposureTime = 250\n"),
              std::string::npos)
        << rig.out.str();
}

TEST(FeatureRead, StalenessIsAnUnsignedTickDifference)
{
    GeometryRig rig;
    rig.SetUp();
    rig.clock.Advance(UINT32_MAX - rig.clock.NowMs() - 100);
    ASSERT_TRUE(rig.bridge.UpdateScannerInfo());  // stamped 100 ms before the tick count wraps
    const size_t fresh = rig.InfoRequests();
    rig.clock.Advance(600);  // wrapped
    rig.camera->Read("ExposureTime");
    EXPECT_EQ(rig.InfoRequests(), fresh);
    rig.clock.Advance(401);
    rig.camera->Read("ExposureTime");
    EXPECT_EQ(rig.InfoRequests(), fresh + 1);
}

TEST(FeatureRead, LogsEachReadAsOneLine)
{
    GeometryRig rig;
    rig.bridge.EnableConsoleDebug();
    rig.SetUp({{kGeneral + "ordernumber", "LB-100"}});
    for (const char* name : {"DeviceModelName", "AsciiCommand", "SyncOut", "AcquisitionLineRate"})
        rig.camera->Read(name);
    EXPECT_EQ(Lines(rig.out), (Calls{"Read DeviceModelName = LB-100", "Read AsciiCommand = ",
                                                  "Read SyncOut", "Read AcquisitionLineRate = 1000"}));
    EXPECT_EQ(rig.cameraLog->Count("SetIntegerValue SyncOut"), 0u) << "only logged";
}

// The cached state of the table below: ROI 640 x 300 at (128, 64) on a 2048 x 1088 sensor.
const Values kKnownState = {
    {kGeneral + "pixel_x_max", "2048"},
    {kGeneral + "pixel_z_max", "1088"},
    {kSettings + "roi:x1:width:current", "640"},
    {kSettings + "roi:x1:offset:current", "128"},
    {kSettings + "roi:z1:height:current", "300"},
    {kSettings + "roi:z1:offset:current", "64"},
    {kSettings + "roi:z1:height:min", "8"},
    {kSettings + "amountprofilesy:current", "200"},
    {kSettings + "exposuretime:current", "100"},
    {kSettings + "acquisitionlinetime:current", "1000"},
    {kSettings + "triggerdelay:current", "50"},
    {kSettings + "syncout:current", "30"},
    {kSettings + "syncoutdelay:current", "40"},
    {kSettings + "signalselection:current", "2"},
    {kSettings + "signalstrengthmin:current", "7"},
    {kSettings + "usrio:ea1:function:current", "5"},
    {kSettings + "usrio:ea2:function:current", "4"},
    {kGeneral + "ordernumber", "LB-100"},
    {kGeneral + "producer", "Lumabridge"},
    {kGeneral + "productversion", "2.1"},
    {kGeneral + "firmwareversion:general", "1.2.3"},
    {kGeneral + "serialnumber", "778899"},
    {kGeneral + "temperatur", "41"},
    {kGeneral + "encoder_ttl_rs422", "123456"},
    {kGeneral + "workingrange_z_start", "100"},
    {kGeneral + "measuringrange_z", "200"},
    {kGeneral + "fieldwidth_x_start", "60"},
    {kGeneral + "fieldwidth_x_end", "120"},
};

TEST(FeatureRead, ValuesFromAKnownState)
{
    struct Case {
        const char* feature;
        Values overrides;  // descriptor values on top of the known state
        std::function<void(GeometryRig&)> prepare;
        Calls expected;  // the camera calls of the read
    };
    const auto region = [](int r) { return [r](GeometryRig& rig) { rig.probe.MutableRegionSelector() = r; }; };
    const auto orbalis = [](GeometryRig& rig) {
        rig.bridge.EnableOrbalisMode();
        rig.probe.MutableRegionSelector() = 1;
    };
    const auto none = [](GeometryRig&) {};
    const Case cases[] = {
        {"DeviceModelName", {}, none, {"SetStringValue DeviceModelName LB-100"}},
        {"DeviceVendorName", {}, none, {"SetStringValue DeviceVendorName Lumabridge"}},
        {"DeviceVersion", {}, none, {"SetStringValue DeviceVersion 2.1"}},
        {"DeviceFirmwareVersion", {}, none, {"SetStringValue DeviceFirmwareVersion 1.2.3"}},
        {"DeviceSerialNumber", {}, none, {"SetStringValue DeviceSerialNumber 778899"}},
        {"DeviceTemperature", {}, none, {Float("DeviceTemperature", 41)}},
        {"DeviceWorkingRangeZStart", {}, none, {Float("DeviceWorkingRangeZStart", 100)}},
        {"AsciiCommand", {}, none, {"SetStringValue AsciiCommand "}},
        {"RegionSelector", {}, none, {Integer("RegionSelector", 1)}},  // after the set-up
        {"HeightMin", {}, region(0), {Integer("HeightMin", 8)}},
        {"HeightMin", {}, region(1), {Integer("HeightMin", 1)}},
        {"HeightMax", {}, region(0), {Integer("HeightMax", 1088 - 64)}},
        {"HeightMax", {}, region(1), {Integer("HeightMax", 10000)}},
        {"HeightMax", {}, orbalis, {Integer("HeightMax", 1)}},
        {"WidthMin", {}, region(0), {Integer("WidthMin", 32)}},
        {"WidthMin", {}, region(1), {Integer("WidthMin", 640)}},
        {"WidthMin", {{kSignalEnable, "3"}}, region(1), {Integer("WidthMin", 1280)}},
        {"WidthMax", {}, region(0), {Integer("WidthMax", 2048 - 128)}},
        {"WidthMax", {{kSignalEnable, "3"}}, region(1), {Integer("WidthMax", 1280)}},
        {"OffsetXMax", {}, region(0), {Integer("OffsetXMax", 2048 - 640)}},
        {"OffsetXMax", {}, region(1), {Integer("OffsetXMax", 0)}},
        {"OffsetYMax", {}, region(0), {Integer("OffsetYMax", 1088 - 300)}},
        // KTRB: 60 us exposure overhead; a ROI 32 high allows 6000 Hz.
        {"AcquisitionLineRateMax", {{kRoiHeight, "32"}}, none, {Integer("AcquisitionLineRateMax", 6000)}},
        {"AcquisitionLineRateMax",
         {{kRoiHeight, "32"}, {kSettings + "exposuretime:current", "1000"}},
         none,
         {Integer("AcquisitionLineRateMax", 943)}},
        // KTRA: no overhead, so an exposure of 0 would divide by zero; the series limit holds.
        {"AcquisitionLineRateMax",
         {{kGeneral + "pixel_x_max", "1280"}, {kRoiHeight, "32"}, {kSettings + "exposuretime:current", "0"}},
         none,
         {Integer("AcquisitionLineRateMax", 4000)}},
        {"AcquisitionLineRate", {}, none, {Float("AcquisitionLineRate", 1000)}},
        {"AcquisitionLineRate",
         {{kSettings + "acquisitionlinetime:current", "0"}},
         none,
         {Float("AcquisitionLineRate", 0)}},
        {"ExposureTimeMax", {}, none, {Integer("ExposureTimeMax", 1000 - 50 - 60 - 2)}},
        {"ExposureTimeMax", {{kSettings + "triggersource:current", "3"}}, none, {Integer("ExposureTimeMax", 100000)}},
        {"ExposureTime", {}, none, {Integer("ExposureTime", 100)}},
        {"ResultingAcquisitionLineRate",
         {},
         [](GeometryRig& rig) { rig.probe.SetScannerRate(5123); },
         {Integer("ResultingAcquisitionLineRate", 5123)}},
        {"TriggerSource", {{kSettings + "triggersource:current", "3"}}, none, {Integer("TriggerSource", 7)}},
        {"TriggerMode", {{kSettings + "triggersource:current", "3"}}, none, {Integer("TriggerMode", 1)}},
        {"TriggerDelay", {}, none, {Integer("TriggerDelay", 50)}},
        {"TriggerMode", {}, [](GeometryRig& rig) { rig.probe.MutableTriggerSelector() = 3; }, {}},  // no record
        {"LineMode", {}, [](GeometryRig& rig) { rig.probe.MutableLineSelector() = 1; }, {Integer("LineMode", 1)}},
        {"LineMode", {}, [](GeometryRig& rig) { rig.probe.MutableLineSelector() = 4; }, {}},
        {"TimerDuration", {}, none, {Integer("TimerDuration", 30)}},
        {"TimerDelay", {}, none, {Integer("TimerDelay", 40)}},
        {"EncoderSourceA", {}, none, {Integer("EncoderSourceA", 1)}},
        {"EncoderSourceB", {}, none, {Integer("EncoderSourceB", 0)}},
        {"EncoderValue",
         {},
         [](GeometryRig& rig) { rig.probe.MutableEncoderSelector() = 1; },
         {Integer("EncoderValue", 123456)}},
        {"SignalSelection", {}, none, {Integer("SignalSelection", 2)}},
        {"SignalStrengthMin", {}, none, {Integer("SignalStrengthMin", 7)}},
        {"ComponentIDValue", {}, none, {Integer("ComponentIDValue", 1)}},  // Range after the set-up
        {"ComponentEnable",
         {},
         [](GeometryRig& rig) { rig.probe.MutableComponentSelector() = 0; },
         {Integer("ComponentEnable", 0)}},
        {"RangePixelFormatMono16",
         {},
         [](GeometryRig& rig) { rig.probe.MutableComponent(1).m_Part.pixelFormatName = "Mono16"; },
         {Integer("RangePixelFormatMono16", 1)}},
        {"Scan3dAxisMax",
         {},
         [](GeometryRig& rig) { rig.probe.MutableScan3dCoordinateSelector() = 2; },
         {Float("Scan3dAxisMax", 300)}},
        {"Scan3dInvalidDataFlag",
         {},
         [](GeometryRig& rig) { rig.probe.MutableScan3dCoordinateSelector() = 2; },
         {Integer("Scan3dInvalidDataFlag", 1)}},
        {"AcquisitionStart", {}, none, {Integer("AcquisitionStart", 0)}},
        {"AcquisitionStart",
         {},
         [](GeometryRig& rig) { rig.probe.SetAcquisitionRunning(); },
         {Integer("AcquisitionStart", 1)}},
        {"AcquisitionStop", {}, none, {Integer("AcquisitionStop", 1)}},
        {"ChunkEnable",
         {},
         [](GeometryRig& rig) {
             rig.probe.MutableChunkSelector() = 4;
             rig.probe.MutableChunk(4).m_Enabled = true;
         },
         {Integer("ChunkEnable", 1)}},
        // The client's line stays: the chunk registers are read at its index.
        {"ChunkScanLineSelector", {}, none, {}},
        {"ScanLineSelectorMax",
         {},
         [](GeometryRig& rig) { rig.camera->Read("Height"); },
         {Integer("ScanLineSelectorMax", 199)}},
        {"TimerSelector", {}, none, {}},  // only logged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feature + (c.expected.empty() ? std::string() : " -> " + c.expected[0]));
        GeometryRig rig;
        Values values = kKnownState;
        values.insert(values.end(), c.overrides.begin(), c.overrides.end());
        rig.SetUp(values);
        c.prepare(rig);
        EXPECT_EQ(ReadCalls(rig, c.feature), c.expected);
    }
}

TEST(FeatureRead, Scan3dLimitsByCoordinateAndRangeFormat)
{
    struct Case {
        const char* format;
        int coordinate;
        double scaleMin, scaleMax, offsetMin, offsetMax;
    };
    // Field width end 120 mm (CoordinateA's axis -60..60), range 100 mm + 200 mm.
    const Case cases[] = {
        {"Mono16", 0, 0.0, 1.0, -60.0, 60.0},
        {"Mono16", 1, 0.0, 10000.0, -10000.0, 10000.0},
        {"Mono16", 2, 200.0 / 65535, 200.0 / 65535, 100.0, 100.0},
        {"Coord3D_ABC32f", 0, 1.0, 1.0, 0.0, 0.0},
        {"Coord3D_ABC32f", 1, 0.0, 10000.0, -10000.0, 10000.0},
        {"Coord3D_ABC32f", 2, 1.0, 1.0, 0.0, 0.0},
    };
    const char* const limits[] = {"Scan3dCoordinateScaleMin", "Scan3dCoordinateScaleMax", "Scan3dCoordinateOffsetMin",
                                  "Scan3dCoordinateOffsetMax"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " coordinate " + std::to_string(c.coordinate));
        GeometryRig rig;
        rig.SetUp(kKnownState);
        rig.probe.MutableComponent(1).m_Part.pixelFormatName = c.format;
        rig.probe.MutableScan3dCoordinateSelector() = c.coordinate;
        const double expected[] = {c.scaleMin, c.scaleMax, c.offsetMin, c.offsetMax};
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(ReadCalls(rig, limits[i]), Calls{Float(limits[i], expected[i])});

        // A format the table does not name keeps the limits last read.
        rig.probe.MutableComponent(1).m_Part.pixelFormatName = "Mono10";
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(ReadCalls(rig, limits[i]), Calls{Float(limits[i], expected[i])});
    }

    GeometryRig fresh;
    fresh.SetUp(kKnownState);
    fresh.probe.MutableComponent(1).m_Part.pixelFormatName = "Mono10";
    EXPECT_EQ(ReadCalls(fresh, limits[3]), Calls{Float(limits[3], 0.0)}) << "no limit read yet";
}

TEST(FeatureRead, GeometryReadsBringTheRegionMapsInLine)
{
    GeometryRig rig;
    rig.bridge.EnableConsoleDebug();
    rig.SetUp(kKnownState);
    rig.probe.ChunkCount() = 1;

    // Signal enable 3: the image holds both signals, twice the ROI wide.
    rig.Describe({{kSignalEnable, "3"}});
    EXPECT_EQ(ReadCalls(rig, "Width"), (Calls{
                                           "SetRegionWidth 640 0 0 0",
                                           "UpdateImagePart 1 0 0 2 1280x200 5 Coord3D_ABC32f",
                                           "SetRegionWidth 1280 0 1 0",
                                           "ApplyRegionSettings 0",
                                       }));
    EXPECT_EQ(ReadCalls(rig, "Height"), (Calls{
                                            "SetRegionHeight 300 0 0 0",
                                            "UpdateImagePart 1 0 0 2 1280x200 5 Coord3D_ABC32f",
                                            "SetRegionHeight 200 0 1 0",
                                            "SetChunkPayloadSize 800 1 0",
                                            "ApplyRegionSettings 0",
                                        }));
    rig.probe.PartsChanged() = true;
    EXPECT_EQ(ReadCalls(rig, "PixelFormat"), (Calls{
                                                 "SetRegionPixelFormat Coord3D_ABC32f 0 0 0",
                                                 "ApplyRegionSettings 0",
                                                 "GetPixelFormatName 0",
                                             }));
    EXPECT_FALSE(rig.probe.PartsChanged());
    EXPECT_EQ(ReadCalls(rig, "OffsetX"), (Calls{"SetRegionOffsetX 128 0 0 0", "SetRegionOffsetX 0 0 1 0"}));
    EXPECT_EQ(ReadCalls(rig, "OffsetY"), (Calls{"SetRegionOffsetY 64 0 0 0", "SetRegionOffsetY 0 0 1 0"}));
    rig.probe.MutableRegionSelector() = 0;
    rig.camera->Read("Width");
    rig.camera->Read("OffsetY");

    // While acquiring the structure stays; the reads still answer.
    rig.probe.PartsChanged() = true;
    rig.probe.SetAcquisitionRunning();
    rig.probe.MutableRegionSelector() = 1;
    EXPECT_EQ(ReadCalls(rig, "Width"), Calls{});
    EXPECT_EQ(ReadCalls(rig, "OffsetX"), Calls{});
    EXPECT_EQ(ReadCalls(rig, "PixelFormat"), Calls{"GetPixelFormatName 0"});
    EXPECT_TRUE(rig.probe.PartsChanged());

    const Calls lines = Lines(rig.out);
    const Calls expected = {"Read Width = 1280",    "Read Height = 200",  "Read PixelFormat = Mono8",
                            "Read OffsetX = 0",     "Read OffsetY = 0",   "Read Width = 640",
                            "Read OffsetY = 64",    "Read Width = 1280",  "Read OffsetX = 0",
                            "Read PixelFormat = Mono8"};
    EXPECT_EQ(lines, expected);
}

TEST(FeatureRead, PayloadSizeIsOnlyRead)
{
    GeometryRig rig;
    rig.SetUp();
    EXPECT_EQ(ReadCalls(rig, "PayloadSize"), Calls{"GetPayloadSize 0"});
}

}  // namespace
}  // namespace lumabridge::test
