// Feature writes: from a known cached state and selector values, each write's exact scanner
// commands, whether the scanner is re-read, the camera calls and the records it changes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bridge_fixture.h"
#include "command_builders.h"
#include "trigger_tables.h"

namespace lumabridge::test {
namespace {

using Value = std::variant<std::monostate, int64_t, float, std::string>;

struct Outcome {
    std::vector<std::string> sent;
    bool refresh = false;
    std::vector<std::string> camera;  // calls other than value reads
    bool accepted = false;
};

PartDescriptor makePart(uint8_t component, uint8_t key3, const char* format)
{
    PartDescriptor part;
    part.componentIndex = component;
    part.key3 = key3;
    part.width = 1024;
    part.height = 100;
    part.dataType = PartDataType(format).value_or(0);
    part.pixelFormatName = format;
    return part;
}

// A bridge in the working configuration with a known cached state: exposure 88 us, line time
// 1000 us, overhead 60 us, LineStart delay 10 us (so exposure + 2 + overhead + delay = 160).
struct WriteRig {
    WriteRig() : rig(true), probe(rig.bridge)
    {
        rig.bridge.EnableConsoleDebug();
        ScannerInfo& info = probe.Info();
        info.m_ExposureTime = 88;
        info.m_AcquisitionLineTime = 1000;
        info.m_ExposureOverhead = 60;
        info.m_Triggers[kLineStart].m_Delay = 10;
        info.m_MaxLineRate = 6000;
        info.m_PixelXMax = 2048;
        info.m_Regions[0].m_Width = 1024;
        info.m_FieldWidthXEnd = 120.0;
        info.m_MeasuringRangeZ = 65.535;
        info.m_WorkingRangeZStart = 50.0;
        probe.MutableComponent(0) = {false, makePart(0, 1, "Mono10Packed")};
        probe.MutableComponent(1) = {true, makePart(1, 2, "Coord3D_ABC32f")};
        for (uint32_t i = 0; i < 6; ++i) {
            probe.MutableChunk(i).m_ChunkId = 0xFFFFF0 + i;
            probe.MutableChunk(i).m_BytesPerValue = 4;
        }
        probe.Record("LinesPerImage") = 100;
    }

    void SetAcquiring() { probe.SetAcquisitionRunning(); }

    Outcome Write(const std::string& feature, const Value& value = {})
    {
        FakeCamera& camera = *rig.camera;
        if (const auto* i = std::get_if<int64_t>(&value))
            camera.integerValues[feature] = *i;
        else if (const auto* f = std::get_if<float>(&value))
            camera.floatValues[feature] = *f;
        else if (const auto* s = std::get_if<std::string>(&value))
            camera.stringValues[feature] = *s;
        const size_t commands = rig.scanner.Commands().size();
        const size_t infos = rig.scanner.infoKinds.size();
        const size_t calls = rig.cameraLog->Calls().size();

        Outcome outcome;
        outcome.accepted = camera.Write(feature.c_str());
        const std::vector<std::string> sent = rig.scanner.Commands();
        outcome.sent.assign(sent.begin() + static_cast<std::ptrdiff_t>(commands), sent.end());
        outcome.refresh = rig.scanner.infoKinds.size() > infos;
        const std::vector<std::string> log = rig.cameraLog->Calls();
        for (size_t i = calls; i < log.size(); ++i)
            if (log[i].rfind("Get", 0) != 0)
                outcome.camera.push_back(log[i]);
        return outcome;
    }

    BridgeRig rig;
    BridgeProbe probe;
};

// The text a builder sends (its own test pins the bytes).
std::string builderText(const std::function<void(FakeScanner&)>& build)
{
    FakeScanner scanner;
    build(scanner);
    return scanner.Commands().at(0);
}

const std::string kLine1Function3 = "SetEA1Function=3\rSetEA1FunctionFixedFrameNumberFinishSignal=0\r";

struct WriteCase {
    const char* label;
    std::function<void(WriteRig&)> given;
    std::string feature;
    Value value;
    std::vector<std::string> sent;
    bool refresh;
    std::vector<std::string> camera;
    std::function<void(WriteRig&)> then;
};

void select(WriteRig& r, const char* selector, int32_t value)
{
    r.probe.Record(selector) = value;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

const std::vector<WriteCase>& writeCases()
{
    static const std::vector<WriteCase> cases = {
        // Exposure: exposure + 2 + overhead + LineStart delay may reach the line time.
        {"exposure at the line time", {}, "ExposureTime", int64_t{928}, {"SetExposureTime=928\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_ExposureTime, 928); }},
        {"exposure one above", {}, "ExposureTime", int64_t{929}, {}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_ExposureTime, 88); }},
        {"exposure negative", {}, "ExposureTime", int64_t{-1}, {}, true, {}, {}},

        // Line rate: the line time 1e6 / v must reach exposure + overhead + delay + 2 = 160 us.
        {"line rate at the limit", {}, "AcquisitionLineRate", 6250.0f, {"SetAcquisitionLineTime=160\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_AcquisitionLineTime, 160); }},
        {"line rate above the limit", {}, "AcquisitionLineRate", 6250.5f, {}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_AcquisitionLineTime, 1000); }},
        {"line rate rounded", {}, "AcquisitionLineRate", 1.6f, {"SetAcquisitionLineTime=625000\r"}, true, {}, {}},
        {"line rate zero", {}, "AcquisitionLineRate", 0.0f, {}, true, {}, {}},
        {"line rate negative", {}, "AcquisitionLineRate", -10.0f, {}, true, {}, {}},
        {"line rate NaN", {}, "AcquisitionLineRate", kNaN, {}, true, {}, {}},
        {"line rate infinite", {}, "AcquisitionLineRate", kInfinity, {}, true, {}, {}},
        {"line time beyond 32 bits", {}, "AcquisitionLineRate", 1e-6f, {}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_AcquisitionLineTime, 1000); }},

        // Geometry: a width beyond the sensor is undone at once; other regions have no width.
        {"width above the sensor", [](WriteRig& r) { select(r, "RegionSelector", 0); }, "Width", int64_t{2049}, {},
         false, {"SetIntegerValue Width 1024"},
         [](WriteRig& r) { EXPECT_EQ(r.rig.camera->integerValues["Width"], 1024); }},
        {"width negative", [](WriteRig& r) { select(r, "RegionSelector", 0); }, "Width", int64_t{-1}, {}, false,
         {"SetIntegerValue Width 1024"}, {}},
        {"width region 1", [](WriteRig& r) { select(r, "RegionSelector", 1); }, "Width", int64_t{512}, {}, false,
         {}, [](WriteRig& r) { EXPECT_FALSE(r.probe.PartsChanged()); }},
        {"height region 2", [](WriteRig& r) { select(r, "RegionSelector", 2); }, "Height", int64_t{20}, {}, false,
         {}, {}},
        {"no lines per image", [](WriteRig& r) { select(r, "RegionSelector", 1); }, "Height", int64_t{0}, {}, true,
         {}, [](WriteRig& r) { EXPECT_FALSE(r.probe.PartsChanged()); }},
        {"more lines than the buffers hold", [](WriteRig& r) { select(r, "RegionSelector", 1); }, "Height",
         int64_t{Bridge::kMaxLinesPerImage + 1}, {}, true, {}, {}},
        {"signal enable other", {}, "SignalEnable", int64_t{4}, {}, true, {},
         [](WriteRig& r) { EXPECT_FALSE(r.probe.PartsChanged()); }},

        // Offsets: the sensor ROI in region 0; the image region has none.
        {"offset x region 0", [](WriteRig& r) { select(r, "RegionSelector", 0); }, "OffsetX", int64_t{16},
         {"SetROI1OffsetX=16\r"}, true, {}, {}},
        {"offset y region 0", [](WriteRig& r) { select(r, "RegionSelector", 0); }, "OffsetY", int64_t{16},
         {"SetROI1OffsetZ=16\r"}, true, {}, {}},
        {"offset x region 1", [](WriteRig& r) { select(r, "RegionSelector", 1); }, "OffsetX", int64_t{16}, {},
         false, {"SetIntegerValue OffsetX 0"}, {}},
        {"offset y region 1", [](WriteRig& r) { select(r, "RegionSelector", 1); }, "OffsetY", int64_t{16}, {},
         false, {"SetIntegerValue OffsetY 0"}, {}},
        {"offset x region 2", [](WriteRig& r) { select(r, "RegionSelector", 2); }, "OffsetX", int64_t{16}, {},
         false, {}, {}},

        // Components.
        {"intensity on", [](WriteRig& r) { select(r, "ComponentSelector", 0); }, "ComponentEnable", int64_t{1},
         {"SetSignalContentStrength=1\r"}, false, {"UpdateImagePart 0 0 0 1 1024x100 1 Mono10Packed"},
         [](WriteRig& r) {
             EXPECT_TRUE(r.probe.Component(0).m_Enabled);
             EXPECT_TRUE(r.probe.PartsChanged());
         }},
        {"intensity off", [](WriteRig& r) { select(r, "ComponentSelector", 0); }, "ComponentEnable", int64_t{0},
         {"SetSignalContentStrength=0\r"}, false, {"RemoveImagePart 0 0 0 1 1024x100 1 Mono10Packed"},
         [](WriteRig& r) { EXPECT_TRUE(r.probe.PartsChanged()); }},
        {"range off", [](WriteRig& r) { select(r, "ComponentSelector", 1); }, "ComponentEnable", int64_t{0}, {},
         false, {"RemoveImagePart 1 0 0 2 1024x100 5 Coord3D_ABC32f"},
         [](WriteRig& r) { EXPECT_FALSE(r.probe.Component(1).m_Enabled); }},
        {"component out of range", [](WriteRig& r) { select(r, "ComponentSelector", 2); }, "ComponentEnable",
         int64_t{1}, {}, false, {}, [](WriteRig& r) { EXPECT_FALSE(r.probe.PartsChanged()); }},

        {"sort x on", {}, "Scan3DSortX", int64_t{1}, {"SetSortingX=1"}, false, {},
         [](WriteRig& r) { EXPECT_TRUE(r.probe.SortX()); }},
        {"sort x off", [](WriteRig& r) { r.probe.MutableSortX() = true; }, "Scan3DSortX", int64_t{0},
         {"SetSortingX=0"}, false, {}, [](WriteRig& r) { EXPECT_FALSE(r.probe.SortX()); }},
        {"single frame", {}, "AcquisitionMode", int64_t{2}, {}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Record("AcquisitionMode"), 2); }},

        // Trigger activation: only for a trigger whose source is a line.
        {"line start rising", [](WriteRig& r) { r.probe.Info().m_Triggers[kLineStart].m_Source = 2; },
         "TriggerActivation", int64_t{1}, {"SetEA2InputFunction=1\r"}, true, {}, {}},
        {"line start falling", [](WriteRig& r) { r.probe.Info().m_Triggers[kLineStart].m_Source = 2; },
         "TriggerActivation", int64_t{2}, {"SetEA2InputFunction=0\r"}, true, {}, {}},
        {"line start level", [](WriteRig& r) { r.probe.Info().m_Triggers[kLineStart].m_Source = 2; },
         "TriggerActivation", int64_t{3}, {}, false, {}, {}},
        {"frame start level high",
         [](WriteRig& r) {
             select(r, "TriggerSelector", kFrameStart);
             r.probe.Info().m_Triggers[kFrameStart].m_Source = 3;
         },
         "TriggerActivation", int64_t{3}, {"SetEA3InputFunction=1\r"}, true, {}, {}},
        {"acquisition active level low",
         [](WriteRig& r) {
             select(r, "TriggerSelector", kAcquisitionActive);
             r.probe.Info().m_Triggers[kAcquisitionActive].m_Source = 4;
         },
         "TriggerActivation", int64_t{4}, {"SetEA4InputFunction=0\r"}, true, {}, {}},
        {"frame start edge",
         [](WriteRig& r) {
             select(r, "TriggerSelector", kFrameStart);
             r.probe.Info().m_Triggers[kFrameStart].m_Source = 3;
         },
         "TriggerActivation", int64_t{1}, {}, false, {}, {}},
        {"activation of an encoder source", [](WriteRig& r) { r.probe.Info().m_Triggers[kLineStart].m_Source = 5; },
         "TriggerActivation", int64_t{1}, {}, false, {}, {}},
        {"activation under an unknown trigger", [](WriteRig& r) { select(r, "TriggerSelector", 3); },
         "TriggerActivation", int64_t{1}, {}, false, {}, {}},

        // Trigger delay: at most line time - exposure - overhead - 2 = 850 is sent; stored either way.
        {"delay at the limit", {}, "TriggerDelay", int64_t{850}, {"SetTriggerDelay=850\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Triggers[kLineStart].m_Delay, 850); }},
        {"delay above the limit", {}, "TriggerDelay", int64_t{851}, {}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Triggers[kLineStart].m_Delay, 851); }},
        {"frame start delay", [](WriteRig& r) { select(r, "TriggerSelector", kFrameStart); }, "TriggerDelay",
         int64_t{5}, {"SetTriggerDelay=5\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Triggers[kFrameStart].m_Delay, 5); }},
        {"delay under an unknown trigger", [](WriteRig& r) { select(r, "TriggerSelector", -1); }, "TriggerDelay",
         int64_t{5}, {}, false, {}, {}},
        {"divider", {}, "TriggerDivider", int64_t{7}, {"SetTriggerEncoderStep=7\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Triggers[kLineStart].m_Divider, 7); }},

        // Lines: scanner line = selector + 1; selectors outside 0..3 are ignored.
        {"line input", [](WriteRig& r) { select(r, "LineSelector", 1); }, "LineMode", int64_t{0},
         {"SetEA2Function=3\rSetEA2FunctionFixedFrameNumberFinishSignal=0\r"}, true, {}, {}},
        {"line output", [](WriteRig& r) { select(r, "LineSelector", 1); }, "LineMode", int64_t{1},
         {"SetEA2Function=4\rSetEA2FunctionFixedFrameNumberFinishSignal=0\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Lines[1].m_Mode, 1); }},
        {"line 5", [](WriteRig& r) { select(r, "LineSelector", 4); }, "LineMode", int64_t{1}, {}, false, {}, {}},
        {"line 0", [](WriteRig& r) { select(r, "LineSelector", -1); }, "LineInverter", int64_t{1}, {}, false, {},
         {}},
        {"not inverted", {}, "LineInverter", int64_t{0}, {"SetEA1InputFunction=1\r"}, true, {}, {}},
        {"inverted", {}, "LineInverter", int64_t{1}, {"SetEA1InputFunction=0\r"}, true, {},
         [](WriteRig& r) { EXPECT_TRUE(r.probe.Info().m_Lines[0].m_Inverter); }},
        {"source user output", [](WriteRig& r) { select(r, "LineSelector", 2); }, "LineSource", int64_t{0},
         {"SetEA3Function=4\rSetEA3FunctionFixedFrameNumberFinishSignal=0\r"}, false, {}, {}},
        {"source timer", [](WriteRig& r) { select(r, "LineSelector", 2); }, "LineSource", int64_t{1},
         {"SetEA3Function=2\rSetEA3FunctionFixedFrameNumberFinishSignal=0\r"}, false, {}, {}},
        {"source frame end", [](WriteRig& r) { select(r, "LineSelector", 2); }, "LineSource", int64_t{2},
         {"SetEA3Function=2\rSetEA3FunctionFixedFrameNumberFinishSignal=1\r"}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Lines[2].m_Source, 2); }},
        {"source other", [](WriteRig& r) { select(r, "LineSelector", 2); }, "LineSource", int64_t{3}, {}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Lines[2].m_Source, 3); }},
        {"user output", [](WriteRig& r) { select(r, "LineSelector", 3); }, "UserOutputValue", int64_t{1},
         {"SetEA4OutputFunction=1\r"}, true, {},
         [](WriteRig& r) { EXPECT_TRUE(r.probe.Info().m_Lines[3].m_UserOutputValue); }},
        {"input load", [](WriteRig& r) { select(r, "LineSelector", 3); }, "InputLoad", int64_t{0},
         {"SetEA4InputLoad=0\r"}, true, {}, {}},
        {"output function", [](WriteRig& r) { select(r, "LineSelector", 3); }, "OutputFunction", int64_t{2},
         {"SetEA4Output=2\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Lines[3].m_OutputFunction, 2); }},

        {"sync out", {}, "SyncOut", int64_t{5}, {"SetSyncOut=5\r"}, false, {}, {}},
        {"sync out delay", {}, "SyncOutDelay", int64_t{6}, {"SetSyncOutDelay=6\r"}, false, {}, {}},
        {"timer source", {}, "TimerTriggerSource", int64_t{1}, {}, false, {}, {}},
        {"timer duration", {}, "TimerDuration", int64_t{5}, {"SetSyncOut=5\r"}, true, {}, {}},
        {"timer delay", {}, "TimerDelay", int64_t{6}, {"SetSyncOutDelay=6\r"}, true, {}, {}},

        // Encoders.
        {"encoder A off", {}, "EncoderSourceA", int64_t{0}, {kLine1Function3}, true, {}, {}},
        {"encoder A line 1", {}, "EncoderSourceA", int64_t{1},
         {"SetEA1Function=5\rSetEA1FunctionFixedFrameNumberFinishSignal=0\r"}, true, {}, {}},
        {"encoder B line 2", {}, "EncoderSourceB", int64_t{1},
         {"SetEA2Function=5\rSetEA2FunctionFixedFrameNumberFinishSignal=0\r"}, true, {}, {}},
        {"position up", [](WriteRig& r) { select(r, "EncoderSelector", 1); }, "EncoderOutputMode", int64_t{3},
         {"SetEncoderTriggerFunction=3\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Encoders[1].m_OutputMode, 3); }},
        {"output mode other", {}, "EncoderOutputMode", int64_t{5}, {}, true, {}, {}},
        {"output mode of encoder 3", [](WriteRig& r) { select(r, "EncoderSelector", 2); }, "EncoderOutputMode",
         int64_t{1}, {}, false, {}, {}},
        {"reset by no line", {}, "EncoderResetSource", int64_t{0},
         {builderText([](FakeScanner& s) { SendClearEAResetCounters(s, nullptr); })},
         true, {}, {}},
        {"reset moves from line 2 to 3", [](WriteRig& r) { r.probe.Info().m_Encoders[0].m_ResetSource = 2; },
         "EncoderResetSource", int64_t{3},
         {"SetEA2FunctionLaserOff=0\rSetEA2FunctionProfileEnable=0\rSetEA2FunctionResetCounter=0\r",
          "SetEA3Function=3\rSetEA3FunctionResetCounter=1\rSetEA3ResetCounterRepeat=1\r"
          "SetEA3ResetCounterEncoderHTL=1\rSetEA3ResetCounterEncoderTTLRS422=1\r"},
         true, {}, [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Encoders[0].m_ResetSource, 3); }},
        {"reset source beyond line 4", [](WriteRig& r) { r.probe.Info().m_Encoders[0].m_ResetSource = 2; },
         "EncoderResetSource", int64_t{7}, {}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Encoders[0].m_ResetSource, 2); }},
        {"reset source negative", {}, "EncoderResetSource", int64_t{-1}, {}, true, {}, {}},
        {"reset edge on line 2", [](WriteRig& r) { r.probe.Info().m_Encoders[0].m_ResetSource = 2; },
         "EncoderResetActivation", int64_t{1}, {"SetEA2ResetCounterSignaledge=1\r"}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Encoders[0].m_ResetActivation, 1); }},
        {"reset edge without a line", {}, "EncoderResetActivation", int64_t{2}, {}, true, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Info().m_Encoders[0].m_ResetActivation, 2); }},
        {"encoder reset", {}, "EncoderReset", {}, {"SetResetEncoder\r"}, false, {}, {}},

        // Scan3d coordinates.
        {"scale of B", [](WriteRig& r) { select(r, "Scan3dCoordinateSelector", 1); }, "Scan3dCoordinateScale",
         2.5f, {}, false, {}, [](WriteRig& r) { EXPECT_EQ(r.probe.Scan3d(1).scale, 2.5f); }},
        {"offset of C", [](WriteRig& r) { select(r, "Scan3dCoordinateSelector", 2); }, "Scan3dCoordinateOffset",
         -3.25f, {}, false, {}, [](WriteRig& r) { EXPECT_EQ(r.probe.Scan3d(2).offset, -3.25f); }},
        {"scale NaN", {}, "Scan3dCoordinateScale", kNaN, {}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Scan3d(0).scale, 1.0f); }},
        {"coordinate D", [](WriteRig& r) { select(r, "Scan3dCoordinateSelector", 3); }, "Scan3dCoordinateScale",
         2.0f, {}, false, {}, {}},
        {"coordinate source", {}, "Scan3dCoordinateSource", int64_t{1}, {}, false, {},
         [](WriteRig& r) { EXPECT_EQ(r.probe.Record("Scan3dCoordinateSource"), 1); }},

        // Signal settings, laser, temperature.
        {"signal selection", {}, "SignalSelection", int64_t{2}, {"SetSignalSelection=2\r"}, true, {}, {}},
        {"signal selection other", {}, "SignalSelection", int64_t{4}, {}, true, {}, {}},
        {"signal width min", {}, "SignalWidthMin", int64_t{3}, {"SetSignalWidthMin=3\r"}, true, {}, {}},
        {"signal width max", {}, "SignalWidthMax", int64_t{30}, {"SetSignalWidthMax=30\r"}, true, {}, {}},
        {"signal strength min", {}, "SignalStrengthMin", int64_t{9}, {"SetSignalStrengthMin=9\r"}, true, {}, {}},
        {"signal width negative", {}, "SignalWidthMin", int64_t{-3}, {}, true, {}, {}},
        {"laser on", {}, "LaserOn", {}, {"SetLaserDeactivated=0\r"}, false, {}, {}},
        {"laser off", {}, "LaserOff", {}, {"SetLaserDeactivated=1\r"}, false, {}, {}},
        {"temperature selector", {}, "DeviceTemperatureSelector", int64_t{0}, {}, false, {}, {}},

        // Free text: at most 128 bytes, sent with "\r".
        {"ascii command", {}, "AsciiCommand", std::string("SetExposureTime=5"), {"SetExposureTime=5\r"}, false, {},
         {}},
        {"ascii command of 128 bytes", {}, "AsciiCommand", std::string(128, 'A'), {std::string(128, 'A') + "\r"},
         false, {}, {}},
        {"ascii command of 129 bytes", {}, "AsciiCommand", std::string(129, 'A'), {}, false, {}, {}},

        // Chunks: the payload grows by bytes per value x lines per image.
        {"chunk on", [](WriteRig& r) { select(r, "ChunkSelector", 1); }, "ChunkEnable", int64_t{1}, {}, false,
         {"SetChunkPayloadSize 400 1 0"},
         [](WriteRig& r) {
             EXPECT_TRUE(r.probe.Chunk(1).m_Enabled);
             EXPECT_EQ(r.probe.Record("ChunkPayloadBytes"), 400);
             EXPECT_EQ(r.probe.Record("ChunkCount"), 1);
         }},
        {"chunk off",
         [](WriteRig& r) {
             select(r, "ChunkSelector", 2);
             r.probe.MutableChunk(2).m_Enabled = true;
             r.probe.MutableChunk(3).m_Enabled = true;
             r.probe.Record("ChunkPayloadBytes") = 800;
             r.probe.Record("ChunkCount") = 2;
         },
         "ChunkEnable", int64_t{0}, {}, false, {"SetChunkPayloadSize 400 1 0"},
         [](WriteRig& r) { EXPECT_FALSE(r.probe.Chunk(2).m_Enabled); }},
        {"chunk other value", {}, "ChunkEnable", int64_t{2}, {}, false, {}, {}},
        {"chunk without an id", [](WriteRig& r) { select(r, "ChunkSelector", 7); }, "ChunkEnable", int64_t{1}, {},
         false, {}, {}},
        {"chunk out of range", [](WriteRig& r) { select(r, "ChunkSelector", 10); }, "ChunkEnable", int64_t{1}, {},
         false, {}, {}},

        // Pixel formats: the selected component's part; the range format sets the A and C scales.
        {"range Mono16", [](WriteRig& r) { select(r, "ComponentSelector", 1); }, "PixelFormat",
         int64_t{0x01100007}, {}, false,
         {"SetRegionPixelFormat Mono16 0 0 0", "SetRegionPixelFormat Mono16 0 1 0",
          "UpdateImagePart 1 0 0 2 1024x100 1 Mono16"},
         [](WriteRig& r) {
             EXPECT_EQ(r.probe.Component(1).m_Part.pixelFormatName, "Mono16");
             EXPECT_TRUE(r.probe.PartsChanged());
             EXPECT_FLOAT_EQ(r.probe.Scan3d(0).scale, 120.0f / 2048.0f);
             EXPECT_FLOAT_EQ(r.probe.Scan3d(0).offset, -60.0f);
             EXPECT_FLOAT_EQ(r.probe.Scan3d(2).scale, 0.001f);
             EXPECT_FLOAT_EQ(r.probe.Scan3d(2).offset, 50.0f);
         }},
        {"range Coord3D",
         [](WriteRig& r) {
             select(r, "ComponentSelector", 1);
             r.probe.MutableComponent(1).m_Part = makePart(1, 2, "Mono16");
             r.probe.MutableScan3d(0) = {0.5f, -60.0f};
             r.probe.MutableScan3d(2) = {0.001f, 50.0f};
         },
         "PixelFormat", int64_t{0x026000C0}, {}, false,
         {"SetRegionPixelFormat Coord3D_ABC32f 0 0 0", "SetRegionPixelFormat Coord3D_ABC32f 0 1 0",
          "UpdateImagePart 1 0 0 2 1024x100 5 Coord3D_ABC32f"},
         [](WriteRig& r) {
             EXPECT_EQ(r.probe.Scan3d(0).scale, 1.0f);
             EXPECT_EQ(r.probe.Scan3d(0).offset, 0.0f);
             EXPECT_EQ(r.probe.Scan3d(2).scale, 1.0f);
             EXPECT_EQ(r.probe.Scan3d(2).offset, 0.0f);
         }},
        {"disabled intensity Mono10",
         [](WriteRig& r) {
             select(r, "ComponentSelector", 0);
             r.probe.MutableComponent(1).m_Part = makePart(1, 2, "Mono16");
             r.probe.MutableScan3d(0) = {0.5f, -1.0f};
         },
         "PixelFormat", int64_t{0x01100003}, {}, false,
         {"SetRegionPixelFormat Mono10 0 0 0", "SetRegionPixelFormat Mono10 0 1 0"},
         [](WriteRig& r) {
             EXPECT_EQ(r.probe.Component(0).m_Part.pixelFormatName, "Mono10");
             EXPECT_EQ(r.probe.Component(0).m_Part.dataType, 1);
             EXPECT_FALSE(r.probe.PartsChanged());
             EXPECT_FLOAT_EQ(r.probe.Scan3d(0).scale, 120.0f / 2048.0f) << "set by the range format";
         }},
        {"unknown format", [](WriteRig& r) { select(r, "ComponentSelector", 1); }, "PixelFormat", int64_t{0x12345},
         {}, false, {}, [](WriteRig& r) { EXPECT_EQ(r.probe.Component(1).m_Part.pixelFormatName, "Coord3D_ABC32f"); }},

        {"unknown name", {}, "NoSuchFeature", int64_t{1}, {}, false, {}, {}},
    };
    return cases;
}

TEST(FeatureWrite, EachFeatureFromAKnownState)
{
    for (const WriteCase& c : writeCases()) {
        SCOPED_TRACE(c.label);
        WriteRig r;
        if (c.given)
            c.given(r);
        const Outcome outcome = r.Write(c.feature, c.value);
        EXPECT_TRUE(outcome.accepted);
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_EQ(outcome.refresh, c.refresh);
        EXPECT_EQ(outcome.camera, c.camera);
        if (c.then)
            c.then(r);
    }
}

// Trigger modes and sources, by the state of the three triggers.
struct TriggerGiven {
    bool mode0 = false;
    int32_t source0 = 0;
    bool mode1 = false;
    int32_t source1 = 0;
    bool mode2 = false;
    int32_t source2 = 0;
    std::array<int32_t, 4> functions{};
};

struct TriggerCase {
    const char* label;
    const char* feature;
    int32_t selector;
    int64_t value;
    TriggerGiven given;
    std::vector<std::string> sent;
    bool refresh;
};

std::string lineFunction(int n, int f)
{
    const std::string ea = "SetEA" + std::to_string(n);
    return ea + "Function=" + std::to_string(f) + "\r" + ea + "FunctionFixedFrameNumberFinishSignal=0\r";
}
std::string release(int n)
{
    const std::string ea = "SetEA" + std::to_string(n);
    return ea + "FunctionLaserOff=0\r" + ea + "FunctionProfileEnable=0\r" + ea + "FunctionResetCounter=0\r";
}
std::string profileEnable(int n)
{
    return "SetEA" + std::to_string(n) + "FunctionProfileEnable=1\r";
}
std::string source(int c)
{
    return "SetTriggerSource=" + std::to_string(c) + "\rSetAcquisitionStop\r";
}
std::string amount(int c)
{
    return "SetTriggerAmountProfilesY=" + std::to_string(c) + "\r";
}

constexpr int32_t LS = kLineStart, FS = kFrameStart, AA = kAcquisitionActive;

const std::vector<TriggerCase> kTriggerCases = {
    // TriggerMode.
    {"line start on, frame start on", "TriggerMode", LS, 1, {.mode1 = true}, {amount(2)}, true},
    {"line start on", "TriggerMode", LS, 1, {}, {source(2)}, true},
    {"line start off, frame start on", "TriggerMode", LS, 0, {.mode1 = true}, {amount(0)}, true},
    {"line start off", "TriggerMode", LS, 0, {}, {source(0)}, true},
    {"frame start off, line 3", "TriggerMode", FS, 0, {.source0 = 5, .mode1 = true, .source1 = 3},
     {source(2), release(3)}, true},
    {"frame start off, no code", "TriggerMode", FS, 0, {.source0 = 8, .source1 = 7}, {}, true},
    {"frame start on under acquisition active", "TriggerMode", FS, 1, {.mode2 = true}, {}, false},
    {"frame start on", "TriggerMode", FS, 1, {.source0 = 7}, {amount(3)}, true},
    {"frame start on, no code", "TriggerMode", FS, 1, {.source0 = 8}, {}, true},
    {"acquisition active off, line 2", "TriggerMode", AA, 0, {.mode2 = true, .source2 = 2}, {release(2)}, true},
    {"acquisition active off", "TriggerMode", AA, 0, {}, {}, true},
    {"acquisition active on under frame start", "TriggerMode", AA, 1, {.mode1 = true}, {}, false},
    {"acquisition active on", "TriggerMode", AA, 1, {}, {lineFunction(3, 3), profileEnable(3)}, true},
    {"frame start other", "TriggerMode", FS, 2, {}, {}, false},
    {"acquisition active other", "TriggerMode", AA, 5, {}, {}, false},
    {"line start other", "TriggerMode", LS, 2, {}, {}, false},
    {"other selector", "TriggerMode", 3, 1, {}, {}, false},

    // TriggerSource.
    {"line start line 2", "TriggerSource", LS, 2, {}, {source(1), lineFunction(2, 1)}, true},
    {"line start line 2 from line 1", "TriggerSource", LS, 2, {.source0 = 1, .mode1 = true},
     {lineFunction(1, 3), amount(1), lineFunction(2, 1)}, true},
    {"line start encoder 1", "TriggerSource", LS, 5, {},
     {source(2), "SetTriggerEncoderStep=4\r", lineFunction(1, 5), lineFunction(2, 5)}, true},
    {"line start encoder 2, line 1 encoder", "TriggerSource", LS, 6, {.mode1 = true, .functions = {5, 0, 0, 0}},
     {amount(2), "SetTriggerEncoderStep=4\r", lineFunction(1, 3)}, true},
    {"line start encoder 2, both encoder", "TriggerSource", LS, 6, {.functions = {5, 5, 0, 0}},
     {source(2), "SetTriggerEncoderStep=4\r", lineFunction(1, 3), lineFunction(2, 3)}, true},
    {"line start software under frame start software", "TriggerSource", LS, 7, {.source1 = 7}, {}, true},
    {"line start software", "TriggerSource", LS, 7, {}, {source(3)}, true},
    {"line start other, from line 4", "TriggerSource", LS, 9, {.source0 = 4}, {lineFunction(4, 3)}, true},
    {"line start other", "TriggerSource", LS, 0, {}, {}, true},
    {"frame start line 2", "TriggerSource", FS, 2, {.source0 = 5, .mode1 = true, .source1 = 1},
     {release(1), amount(2), lineFunction(2, 3), profileEnable(2)}, true},
    {"frame start line 2, no code", "TriggerSource", FS, 2, {.source0 = 8, .source1 = 1},
     {lineFunction(2, 3), profileEnable(2)}, true},
    {"frame start software under line start software", "TriggerSource", FS, 7, {.source0 = 7}, {}, true},
    {"frame start software", "TriggerSource", FS, 7, {.mode1 = true, .source1 = 4}, {release(4), amount(0)}, true},
    {"frame start software, no code", "TriggerSource", FS, 7, {.source0 = 8}, {}, true},
    {"frame start other", "TriggerSource", FS, 5, {}, {}, true},
    {"acquisition active line 3", "TriggerSource", AA, 3, {.mode2 = true, .source2 = 1},
     {release(1), lineFunction(3, 3), profileEnable(3)}, true},
    {"acquisition active other", "TriggerSource", AA, 7, {}, {}, true},
    {"other selector", "TriggerSource", 4, 1, {}, {}, true},
};

TriggerState stateOf(const TriggerGiven& g)
{
    TriggerState state;
    state.m_Triggers[LS].m_Mode = g.mode0;
    state.m_Triggers[LS].m_Source = g.source0;
    state.m_Triggers[LS].m_Divider = 4;
    state.m_Triggers[FS].m_Mode = g.mode1;
    state.m_Triggers[FS].m_Source = g.source1;
    state.m_Triggers[AA].m_Mode = g.mode2;
    state.m_Triggers[AA].m_Source = g.source2;
    state.m_EaFunction = g.functions;
    return state;
}

TEST(FeatureWrite, TriggerTablesRowByRow)
{
    std::set<size_t> modeRows;
    std::set<size_t> sourceRows;
    for (const TriggerCase& c : kTriggerCases) {
        SCOPED_TRACE(c.label);
        WriteRig r;
        const TriggerState state = stateOf(c.given);
        r.probe.Info().m_Triggers = state.m_Triggers;
        r.probe.Info().m_EaFunction = state.m_EaFunction;
        r.probe.Record("TriggerSelector") = c.selector;
        r.probe.Record("Scan3dCoordinateSource") = 1;
        const Outcome outcome = r.Write(c.feature, c.value);
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_EQ(outcome.refresh, c.refresh);
        const bool encoder = std::string(c.feature) == "TriggerSource" && c.selector == LS &&
                             (c.value == 5 || c.value == 6);
        EXPECT_EQ(r.probe.Record("Scan3dCoordinateSource"), encoder ? 0 : 1);
        EXPECT_EQ(r.probe.Info().m_Triggers, state.m_Triggers) << "modes and sources come back with the refresh";

        const bool mode = std::string(c.feature) == "TriggerMode";
        const TriggerPlan plan =
            PlanTriggerWrite(mode ? TriggerModeTable() : TriggerSourceTable(), c.selector, c.value, state);
        (mode ? modeRows : sourceRows).insert(plan.m_Rows.begin(), plan.m_Rows.end());
    }
    for (size_t i = 0; i < TriggerModeTable().size(); ++i)
        EXPECT_TRUE(modeRows.count(i)) << "no case for TriggerMode row " << i;
    for (size_t i = 0; i < TriggerSourceTable().size(); ++i)
        EXPECT_TRUE(sourceRows.count(i)) << "no case for TriggerSource row " << i;
}

TEST(FeatureWrite, ChunkEnableTwiceChangesThePayloadOnce)
{
    WriteRig r;
    r.probe.Record("ChunkSelector") = 4;
    EXPECT_EQ(r.Write("ChunkEnable", int64_t{1}).camera, std::vector<std::string>{"SetChunkPayloadSize 400 1 0"});
    EXPECT_EQ(r.Write("ChunkEnable", int64_t{1}).camera, std::vector<std::string>{});
    r.probe.Record("ChunkSelector") = 0;
    r.probe.Record("LinesPerImage") = 10;
    EXPECT_EQ(r.Write("ChunkEnable", int64_t{1}).camera, std::vector<std::string>{"SetChunkPayloadSize 440 2 0"});
    r.probe.Record("ChunkSelector") = 4;
    EXPECT_EQ(r.Write("ChunkEnable", int64_t{0}).camera, std::vector<std::string>{"SetChunkPayloadSize 400 1 0"});
    EXPECT_EQ(r.Write("ChunkEnable", int64_t{0}).camera, std::vector<std::string>{});
    EXPECT_EQ(r.probe.Record("ChunkPayloadBytes"), 400);
    EXPECT_EQ(r.probe.Record("ChunkCount"), 1);
}

// Parts and chunks keep their shape while the blocks of an acquisition go out.
TEST(FeatureWrite, StructuralWritesWaitForTheAcquisitionToStop)
{
    struct Structural {
        std::string feature;
        int64_t value;
        int32_t region;
        bool cameraFirst;  // the camera is asked before anything is sent
    };
    const std::vector<Structural> writes = {{"PixelFormat", 0x01100007, 1, true}, {"ComponentEnable", 0, 1, true},
                                            {"ChunkEnable", 1, 1, true},          {"Width", 512, 0, false},
                                            {"Height", 200, 1, false},            {"SignalEnable", 3, 1, false}};
    for (const bool cameraStreaming : {false, true}) {
        for (const auto& [feature, value, region, cameraFirst] : writes) {
            if (cameraStreaming && !cameraFirst)
                continue;
            SCOPED_TRACE(feature + (cameraStreaming ? " refused by the camera" : " while acquiring"));
            WriteRig r;
            r.probe.Record("ComponentSelector") = 1;
            r.probe.Record("RegionSelector") = region;
            if (cameraStreaming)
                r.rig.camera->streaming = true;
            else
                r.SetAcquiring();
            const Outcome outcome = r.Write(feature, value);
            EXPECT_TRUE(outcome.sent.empty());
            EXPECT_FALSE(outcome.refresh);
            EXPECT_EQ(r.probe.Component(1).m_Part.pixelFormatName, "Coord3D_ABC32f");
            EXPECT_TRUE(r.probe.Component(1).m_Enabled);
            EXPECT_FALSE(r.probe.Chunk(0).m_Enabled);
            EXPECT_EQ(r.probe.Record("ChunkPayloadBytes"), 0);
            EXPECT_FALSE(r.probe.PartsChanged());
            EXPECT_EQ(r.probe.Scan3d(0).scale, 1.0f);
            EXPECT_NE(r.rig.out.str().find("Warning: "), std::string::npos);
        }
    }
}

TEST(FeatureWrite, AcquisitionStartAndStop)
{
    WriteRig r;
    r.rig.bridge.SetPointCloudOptions(3, "cloud.txt");
    EXPECT_EQ(r.Write("AcquisitionStart").sent, std::vector<std::string>{}) << "the image thread starts the scanner";
    EXPECT_FALSE(r.probe.AcquisitionStopped());
    EXPECT_EQ(r.probe.AcquisitionEvent().wait(0), platform::WaitResult::Signaled);
    EXPECT_TRUE(r.probe.SavePointCloud());
    EXPECT_EQ(r.probe.RunNumber(), 1u);

    r.probe.SetSavedScans(2);
    EXPECT_EQ(r.Write("AcquisitionStop").sent, std::vector<std::string>{});
    EXPECT_TRUE(r.probe.AcquisitionStopped());
    EXPECT_FALSE(r.probe.SavePointCloud());
    EXPECT_EQ(r.probe.SavedScans(), 0);
    EXPECT_EQ(r.probe.NewProfileEvent().wait(0), platform::WaitResult::Signaled);

    r.probe.AcquisitionEvent().reset();
    r.Write("AcquisitionStart");
    EXPECT_EQ(r.probe.RunNumber(), 2u) << "each run has its own number";
    r.Write("AcquisitionStart");
    EXPECT_EQ(r.probe.RunNumber(), 2u) << "a start while running keeps the run";
}

TEST(FeatureWrite, AcquisitionStartWithoutComponentsStaysStopped)
{
    WriteRig r;
    r.probe.MutableComponent(1).m_Enabled = false;
    r.Write("AcquisitionStart");
    EXPECT_TRUE(r.probe.AcquisitionStopped());
    EXPECT_EQ(r.probe.AcquisitionEvent().wait(0), platform::WaitResult::TimedOut);
    EXPECT_EQ(r.probe.RunNumber(), 0u);
}

TEST(FeatureWrite, SoftwareTrigger)
{
    struct Case {
        const char* label;
        bool acquiring;
        TriggerGiven given;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases = {
        {"stopped", false, {.mode0 = true, .source0 = 7, .mode1 = true, .source1 = 7}, {}},
        {"frame start software", true, {.mode1 = true, .source1 = 7}, {"SetAcquisitionStart\r"}},
        {"line start software", true, {.mode0 = true, .source0 = 7}, {"SetTriggerSoftware\r"}},
        {"both", true, {.mode0 = true, .source0 = 7, .mode1 = true, .source1 = 7},
         {"SetAcquisitionStart\r", "SetTriggerSoftware\r"}},
        {"software source, mode off", true, {.source0 = 7, .source1 = 7}, {}},
        {"frame start on a line", true, {.mode1 = true, .source1 = 2}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        WriteRig r;
        r.probe.Info().m_Triggers = stateOf(c.given).m_Triggers;
        if (c.acquiring)
            r.SetAcquiring();
        const Outcome outcome = r.Write("TriggerSoftware");
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_FALSE(outcome.refresh);
        EXPECT_GT(r.probe.SoftwareTriggerTime(), 0) << "the time is recorded in every case";
    }
}

TEST(FeatureWrite, SelectorsAreStoredAsWritten)
{
    WriteRig r;
    for (const char* selector : {"RegionSelector", "ComponentSelector", "TriggerSelector", "LineSelector",
                                 "EncoderSelector", "Scan3dCoordinateSelector", "ChunkSelector",
                                 "DeviceTemperatureSelector"}) {
        SCOPED_TRACE(selector);
        const Outcome outcome = r.Write(selector, int64_t{7});
        EXPECT_TRUE(outcome.sent.empty());
        EXPECT_FALSE(outcome.refresh);
        EXPECT_EQ(r.probe.Record(selector), 7);
    }
    r.Write("LineSelector", int64_t{1} << 40);
    EXPECT_EQ(r.probe.Record("LineSelector"), std::numeric_limits<int32_t>::max()) << "never wrapped into range";
}

TEST(FeatureWrite, LogsEachWriteWithItsValue)
{
    WriteRig r;
    r.probe.Record("ComponentSelector") = 1;
    r.Write("AcquisitionLineRate", 6250.0f);
    r.Write("ExposureTime", int64_t{88});
    r.Write("PixelFormat", int64_t{0x01100007});
    r.Write("AcquisitionStop");
    r.Write("NoSuchFeature");
    r.Write("AsciiCommand", std::string("GetAll"));
    EXPECT_EQ(r.rig.out.str(),
              "Write AcquisitionLineRate = 6250\n"
              " 160 160 6000\n"
              "ask to update features\n"
              "Write ExposureTime = 88\n"
              "ask to update features\n"
              "Write PixelFormat = Mono16\n"
              "Write AcquisitionStop\n"
              "Write NoSuchFeature\n"
              "Write AsciiCommand = GetAll\n");
}

TEST(FeatureWrite, AsciiCommandFailureIsReported)
{
    struct FailingScanner : FakeScanner {
        int WriteData(ScannerHandle h, const char* text, int len) override
        {
            FakeScanner::WriteData(h, text, len);
            return -4;
        }
    };
    FailingScanner scanner;
    ManualClock clock;
    std::shared_ptr<CameraLog> log = std::make_shared<CameraLog>();
    auto* camera = new FakeCamera(log);
    Bridge bridge(scanner, clock, camera);
    std::ostringstream out, err;
    bridge.SetConsoleStreams(out, err);
    bridge.EnableConsoleDebug();
    camera->stringValues["AsciiCommand"] = "SetBogus=1";
    EXPECT_TRUE(camera->Write("AsciiCommand"));
    EXPECT_EQ(scanner.Commands(), std::vector<std::string>{"SetBogus=1\r"});
    EXPECT_EQ(out.str(), "WARNING: Failed WriteData [SetBogus=1]. Error code -4\nWrite AsciiCommand = SetBogus=1\n");
}

// Against the simulator's settings model, which takes each command the bridge sends; the
// refresh after a write reads the scanner's new settings back.
class FeatureWriteScanner : public BridgeFixture {
protected:
    void SetUp() override
    {
        BridgeFixture::SetUp();
        FollowCommands();
        ASSERT_TRUE(ConnectAndGoOnline());
        probe = std::make_unique<BridgeProbe>(*bridge);
    }
    // The commands the write sends, the descriptor requests left out.
    std::vector<std::string> Write(const std::string& feature, const Value& value = {})
    {
        if (const auto* i = std::get_if<int64_t>(&value))
            camera->integerValues[feature] = *i;
        else if (const auto* f = std::get_if<float>(&value))
            camera->floatValues[feature] = *f;
        const size_t before = scanner.Commands().size();
        const size_t infos = InfoRequests();
        EXPECT_TRUE(camera->Write(feature.c_str()));
        refreshed = InfoRequests() > infos;
        const std::vector<std::string> all = scanner.Commands();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    size_t InfoRequests()
    {
        auto lock = scanner.Lock();
        return scanner.infoKinds.size();
    }
    ScannerInfo Info()
    {
        auto lock = scanner.Lock();  // the refresh has ended: the fake answered it
        return probe->Info();
    }

    std::unique_ptr<BridgeProbe> probe;
    bool refreshed = false;
};

TEST_F(FeatureWriteScanner, ExposureLineRateAndLineStartTrigger)
{
    const int lineTime = Info().m_AcquisitionLineTime;
    const int overhead = static_cast<int>(Info().m_ExposureOverhead);
    const int delay = Info().m_Triggers[kLineStart].m_Delay;
    const int64_t longest = lineTime - 2 - overhead - delay;
    EXPECT_EQ(Write("ExposureTime", longest), std::vector<std::string>{"SetExposureTime=" + std::to_string(longest) + "\r"});
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(Info().m_ExposureTime, longest) << "read back from the scanner";
    EXPECT_EQ(Write("ExposureTime", longest + 1), std::vector<std::string>{});
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(model.IntValue("device:settings:exposuretime:current"), longest);

    EXPECT_EQ(Write("ExposureTime", int64_t{100}), std::vector<std::string>{"SetExposureTime=100\r"});
    EXPECT_EQ(Write("AcquisitionLineRate", 1000.0f), std::vector<std::string>{"SetAcquisitionLineTime=1000\r"});
    EXPECT_EQ(Info().m_AcquisitionLineTime, 1000);

    Write("TriggerSelector", int64_t{kLineStart});
    EXPECT_EQ(Write("TriggerMode", int64_t{1}), std::vector<std::string>{"SetTriggerSource=2\rSetAcquisitionStop\r"});
    EXPECT_TRUE(Info().m_Triggers[kLineStart].m_Mode) << "the mode comes back with the refresh";
    SetValue("device:settings:usrio:ea1:function:current", "3");  // line 1 is no trigger input now
    EXPECT_EQ(Write("TriggerSource", int64_t{2}),
              (std::vector<std::string>{"SetTriggerSource=1\rSetAcquisitionStop\r",
                                        "SetEA2Function=1\rSetEA2FunctionFixedFrameNumberFinishSignal=0\r"}));
    EXPECT_EQ(Info().m_Triggers[kLineStart].m_Source, 2);
}

// A client reads PayloadSize right after a geometry write: the parts already have the new size.
TEST_F(FeatureWriteScanner, GeometryWritesResizeThePartsAtOnce)
{
    const auto applies = [&] { return cameraLog->Count("ApplyRegionSettings"); };
    Write("RegionSelector", int64_t{0});
    size_t applied = applies();
    EXPECT_EQ(Write("Width", int64_t{1024}), std::vector<std::string>{"SetROI1WidthX=1024\r"});
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(probe->Component(1).m_Part.width, 1024);
    EXPECT_FALSE(probe->PartsChanged());
    EXPECT_EQ(applies(), applied + 1);

    EXPECT_EQ(Write("Width", int64_t{Info().m_PixelXMax + 1}), std::vector<std::string>{});
    EXPECT_EQ(camera->integerValues["Width"], 1024) << "written back";

    Write("RegionSelector", int64_t{1});
    Write("ChunkSelector", int64_t{0});
    Write("ChunkEnable", int64_t{1});
    EXPECT_EQ(Write("Height", int64_t{200}), std::vector<std::string>{"SetAmountProfilesY=200\r"});
    EXPECT_EQ(probe->LinesPerImage(), 200);
    EXPECT_EQ(probe->Component(1).m_Part.height, 200);
    EXPECT_EQ(probe->ChunkPayloadBytes(), 200 * 4);
    EXPECT_EQ(cameraLog->Matching("SetChunkPayloadSize").back(), "SetChunkPayloadSize 800 1 0");

    applied = applies();
    EXPECT_EQ(Write("SignalEnable", int64_t{3}), std::vector<std::string>{"SetSignalEnable=3\rSetAcquisitionStop\r"});
    EXPECT_EQ(probe->Component(1).m_Part.width, 2048) << "both signals side by side";
    EXPECT_EQ(applies(), applied + 1) << "the parts changed";
}

TEST_F(FeatureWriteScanner, SoftwareFrameTrigger)
{
    Write("TriggerSelector", int64_t{kFrameStart});
    EXPECT_EQ(Write("TriggerMode", int64_t{1}), std::vector<std::string>{"SetTriggerAmountProfilesY=0\r"});
    EXPECT_TRUE(Info().m_Triggers[kFrameStart].m_Mode);
    Write("TriggerSource", int64_t{7});
    EXPECT_EQ(Info().m_Triggers[kFrameStart].m_Source, 7);

    EXPECT_EQ(Write("TriggerSoftware"), std::vector<std::string>{}) << "stopped: only the time is taken";
    Write("AcquisitionStart");
    EXPECT_EQ(Write("TriggerSoftware"), std::vector<std::string>{"SetAcquisitionStart\r"});
    EXPECT_FALSE(refreshed);
    Write("AcquisitionStop");
}

}  // namespace
}  // namespace lumabridge::test
