// The scanner information against the simulator's descriptor: values, translations, failures.
#include "scanner_info.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <optional>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_scanner.h"
#include "scanner_sim/settings_model.h"

namespace lumabridge {
namespace {

const std::string G = "device:general:";
const std::string S = "device:settings:";

std::string io(int line, const std::string& name)
{
    return S + "usrio:ea" + std::to_string(line) + ":" + name + ":current";
}
std::string state(int line) { return G + "usrio:ea" + std::to_string(line) + ":state"; }

struct Parsed {
    bool ok = false;
    InfoStatus status = InfoStatus::Ok;
    ScannerInfo info;
    std::vector<InfoCommand> commands;
};

Parsed parse(const scanner_sim::SettingsModel& model, ScannerInfo start = {})
{
    Parsed p;
    p.info = std::move(start);
    p.ok = ParseScannerInfo(model.DescriptorXml().c_str(), p.info, &p.commands, &p.status);
    return p;
}

// The simulator's descriptor with a distinct value in every key the bridge reads.
scanner_sim::SettingsModel distinctModel()
{
    scanner_sim::SettingsModel model;
    const std::map<std::string, std::string> values = {
        {G + "ordernumber", "KTRB-2048-EX"}, {G + "productversion", "2.1"}, {G + "producer", "Lumabridge"},
        {G + "description", "Scanner simulator"}, {G + "hardwareversion:general", "1.4"},
        {G + "firmwareversion:general", "1.3.7"}, {G + "mac", "00-1A-2B-3C-4D-5E"}, {G + "serialnumber", "12345678"},
        {G + "pixel_x_max", "2048"}, {G + "pixel_z_max", "1088"}, {S + "roi:z1:height:min", "9"},
        {S + "roi:x1:width:min", "17"}, {S + "userstring:current", "bench 3"}, {G + "temperatur", "43"},
        {G + "workingrange_z_start", "105"}, {G + "measuringrange_z", "210"}, {G + "fieldwidth_x_start", "62"},
        {G + "fieldwidth_x_end", "118"}, {S + "exposuretime:current", "137"},
        {S + "acquisitionlinetime:current", "1250"}, {S + "roi:x1:width:current", "1536"},
        {S + "roi:x1:offset:current", "256"}, {S + "roi:z1:height:current", "640"},
        {S + "roi:z1:offset:current", "96"}, {S + "amountprofilesy:current", "300"}, {S + "syncout:current", "21"},
        {S + "syncoutdelay:current", "6"}, {S + "protocol:profile:signal:enable:current", "3"},
        {S + "signalselection:current", "2"}, {S + "signalwidthmin:current", "4"},
        {S + "signalwidthmax:current", "55"}, {S + "signalstrengthmin:current", "12"},
        {S + "signalwidthmin:min", "1"}, {S + "signalwidthmin:max", "40"}, {S + "signalwidthmax:min", "5"},
        {S + "signalwidthmax:max", "63"}, {S + "signalstrengthmin:min", "7"}, {S + "signalstrengthmin:max", "1000"},
        {S + "protocol:profile:signal:content:strength:current", "1"},
        {S + "protocol:profile:signal:content:z:current", "1"}, {G + "encoder_htl", "123456"},
        {G + "encoder_ttl_rs422", "3000000000"}, {S + "encoder:triggerfunction:current", "3"},
        {S + "triggersource:current", "1"}, {S + "triggeramountprofilesy:current", "2"},
        {S + "triggerencoderstep:current", "8"}, {S + "triggerdelay:current", "15"},
    };
    for (const auto& [key, value] : values)
        model.Set(key, value);
    const char* perLine[][4] = {
        {"1", "3", "2", "4"},  // function
        {"0", "1", "0", "0"},  // functionlaseroff
        {"0", "0", "1", "0"},  // functionprofileenable
        {"0", "1", "0", "1"},  // functionresetcounter
        {"1", "2", "0", "3"},  // resetcounter:signaledge
        {"1", "0", "0", "1"},  // inputfunction (0: inverted)
        {"1", "0", "0", "1"},  // state
        {"2", "3", "1", "0"},  // output
        {"1", "0", "1", "0"},  // inputfunctionload
    };
    const char* names[] = {"function", "functionlaseroff", "functionprofileenable", "functionresetcounter",
                           "resetcounter:signaledge", "inputfunction", "", "output", "inputfunctionload"};
    for (int row = 0; row < 9; ++row)
        for (int n = 1; n <= 4; ++n)
            model.Set(row == 6 ? state(n) : io(n, names[row]), perLine[row][n - 1]);
    return model;
}

// Each numeric value the parse stores, with the key it comes from.
struct Field {
    std::string key;
    std::function<long long(const ScannerInfo&)> get;
    bool flag = false;  // stores value != 0
};

std::vector<Field> numericFields()
{
    using I = const ScannerInfo&;
    std::vector<Field> f = {
        {G + "pixel_x_max", [](I i) { return i.m_PixelXMax; }},
        {G + "pixel_z_max", [](I i) { return i.m_PixelZMax; }},
        {S + "roi:z1:height:min", [](I i) { return i.m_RoiHeightMin; }},
        {S + "roi:x1:width:min", [](I i) { return i.m_RoiWidthMin; }},
        {G + "temperatur", [](I i) { return i.m_DeviceTemperature; }},
        {G + "workingrange_z_start", [](I i) { return static_cast<long long>(i.m_WorkingRangeZStart); }},
        {G + "measuringrange_z", [](I i) { return static_cast<long long>(i.m_MeasuringRangeZ); }},
        {G + "fieldwidth_x_start", [](I i) { return static_cast<long long>(i.m_FieldWidthXStart); }},
        {G + "fieldwidth_x_end", [](I i) { return static_cast<long long>(i.m_FieldWidthXEnd); }},
        {G + "pixel_x_max", [](I i) { return static_cast<long long>(i.m_PixelXMaxReal); }},
        {G + "pixel_z_max", [](I i) { return static_cast<long long>(i.m_PixelZMaxReal); }},
        {S + "exposuretime:current", [](I i) { return i.m_ExposureTime; }},
        {S + "acquisitionlinetime:current", [](I i) { return i.m_AcquisitionLineTime; }},
        {S + "roi:x1:width:current", [](I i) { return i.m_Regions[0].m_Width; }},
        {S + "roi:x1:width:current", [](I i) { return i.m_Regions[1].m_Width; }},
        {S + "roi:x1:offset:current", [](I i) { return i.m_Regions[0].m_OffsetX; }},
        {S + "roi:z1:height:current", [](I i) { return i.m_Regions[0].m_Height; }},
        {S + "roi:z1:offset:current", [](I i) { return i.m_Regions[0].m_OffsetY; }},
        {S + "amountprofilesy:current", [](I i) { return i.m_Regions[1].m_Height; }},
        {S + "syncout:current", [](I i) { return i.m_SyncOut; }},
        {S + "syncoutdelay:current", [](I i) { return i.m_SyncOutDelay; }},
        {S + "protocol:profile:signal:enable:current", [](I i) { return i.m_SignalEnable; }},
        {S + "signalselection:current", [](I i) { return i.m_SignalSelection; }},
        {S + "signalwidthmin:current", [](I i) { return i.m_SignalWidthMin; }},
        {S + "signalwidthmax:current", [](I i) { return i.m_SignalWidthMax; }},
        {S + "signalstrengthmin:current", [](I i) { return i.m_SignalStrengthMin; }},
        {S + "signalwidthmin:min", [](I i) { return i.m_SignalWidthMinLimits.m_Min; }},
        {S + "signalwidthmin:max", [](I i) { return i.m_SignalWidthMinLimits.m_Max; }},
        {S + "signalwidthmax:min", [](I i) { return i.m_SignalWidthMaxLimits.m_Min; }},
        {S + "signalwidthmax:max", [](I i) { return i.m_SignalWidthMaxLimits.m_Max; }},
        {S + "signalstrengthmin:min", [](I i) { return i.m_SignalStrengthMinLimits.m_Min; }},
        {S + "signalstrengthmin:max", [](I i) { return i.m_SignalStrengthMinLimits.m_Max; }},
        {S + "protocol:profile:signal:content:strength:current", [](I i) { return i.m_IntensityEnabled; }, true},
        {G + "encoder_htl", [](I i) { return i.m_Encoders[0].m_Value; }},
        {G + "encoder_ttl_rs422", [](I i) { return i.m_Encoders[1].m_Value; }},
        {S + "encoder:triggerfunction:current", [](I i) { return i.m_Encoders[0].m_OutputMode; }},
        {S + "encoder:triggerfunction:current", [](I i) { return i.m_Encoders[1].m_OutputMode; }},
        {S + "triggersource:current", [](I i) { return i.m_TriggerSource; }},
        {S + "triggeramountprofilesy:current", [](I i) { return i.m_TriggerAmountProfilesY; }},
        {S + "triggerencoderstep:current", [](I i) { return i.m_Triggers[kLineStart].m_Divider; }},
        {S + "triggerdelay:current", [](I i) { return i.m_Triggers[kLineStart].m_Delay; }},
    };
    for (int n = 1; n <= 4; ++n) {
        const size_t x = static_cast<size_t>(n - 1);
        const auto bit = [x](uint8_t b) { return [x, b](I i) -> long long { return (i.m_FunctionMask[x] & b) != 0; }; };
        f.push_back({io(n, "function"), [x](I i) { return i.m_EaFunction[x]; }});
        f.push_back({io(n, "functionlaseroff"), bit(kFunctionLaserOff), true});
        f.push_back({io(n, "functionprofileenable"), bit(kFunctionProfileEnable), true});
        f.push_back({io(n, "functionresetcounter"), bit(kFunctionResetCounter), true});
        f.push_back({io(n, "resetcounter:signaledge"), [x](I i) { return i.m_ResetSignalEdge[x]; }});
        f.push_back({io(n, "inputfunction"), [x](I i) { return !i.m_Lines[x].m_Inverter; }, true});
        f.push_back({state(n), [x](I i) { return i.m_Lines[x].m_State; }, true});
        f.push_back({state(n), [x](I i) { return i.m_Lines[x].m_UserOutputValue; }, true});
        f.push_back({state(n), [x](I i) { return (i.m_LineStateMask >> x) & 1; }, true});
        f.push_back({io(n, "output"), [x](I i) { return i.m_Lines[x].m_OutputFunction; }});
        f.push_back({io(n, "inputfunctionload"), [x](I i) { return i.m_Lines[x].m_InputLoad; }, true});
    }
    return f;
}

TEST(ScannerInfo, SimulatorDescriptorValueByValue)
{
    const scanner_sim::SettingsModel model = distinctModel();
    // Distinct values (but for flags and small enumerations), so that swapped fields show.
    std::map<std::string, std::string> seen;
    for (const Field& field : numericFields()) {
        const std::string value = model.Value(field.key);
        if (field.key.find("usrio") != std::string::npos || value.size() < 2)
            continue;
        const auto [it, added] = seen.emplace(value, field.key);
        ASSERT_TRUE(added || it->second == field.key) << field.key << " and " << it->second << " share " << value;
    }

    const Parsed p = parse(model);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.status, InfoStatus::Ok);

    const std::pair<std::string, std::string ScannerInfo::*> texts[] = {
        {G + "ordernumber", &ScannerInfo::m_OrderNumber},
        {G + "productversion", &ScannerInfo::m_ProductVersion},
        {G + "producer", &ScannerInfo::m_Producer},
        {G + "description", &ScannerInfo::m_Description},
        {G + "hardwareversion:general", &ScannerInfo::m_HardwareVersion},
        {G + "firmwareversion:general", &ScannerInfo::m_FirmwareVersion},
        {G + "mac", &ScannerInfo::m_MacAddress},
        {G + "serialnumber", &ScannerInfo::m_SerialNumber},
        {S + "userstring:current", &ScannerInfo::m_UserString},
    };
    for (const auto& [key, field] : texts)
        EXPECT_EQ(p.info.*field, model.Value(key)) << key;

    for (const Field& field : numericFields()) {
        const std::string text = model.Value(field.key);
        const long long sim = std::strtoll(text.c_str(), nullptr, 10);
        EXPECT_EQ(field.get(p.info), field.flag ? sim != 0 : sim) << field.key << " = " << text;
    }
    EXPECT_EQ(p.info.m_Regions[1].m_OffsetX, 0);
    EXPECT_EQ(p.info.m_Regions[1].m_OffsetY, 0);
    EXPECT_EQ(p.info.m_Series, "KTRB");
    EXPECT_EQ(p.info.m_FirmwareNumber, 137);
    EXPECT_EQ(p.info.m_LastRefreshMs, 0u);  // stamped by UpdateScannerInfo
}

// The simulator's defaults with the I/O configuration of a case.
struct IoConfig {
    int s = 0, a = 0;
    std::array<int, 4> ea{1, 3, 2, 4};
    std::array<int, 4> mask{};  // kFunction* bits
    std::array<int, 4> inverter{};
};

scanner_sim::SettingsModel ioModel(const IoConfig& c)
{
    scanner_sim::SettingsModel model;
    model.Set(S + "triggersource:current", std::to_string(c.s));
    model.Set(S + "triggeramountprofilesy:current", std::to_string(c.a));
    const int edges[4] = {1, 2, 0, 3};
    for (int n = 1; n <= 4; ++n) {
        const size_t x = static_cast<size_t>(n - 1);
        model.Set(io(n, "function"), std::to_string(c.ea[x]));
        model.Set(io(n, "functionlaseroff"), (c.mask[x] & kFunctionLaserOff) ? "1" : "0");
        model.Set(io(n, "functionprofileenable"), (c.mask[x] & kFunctionProfileEnable) ? "1" : "0");
        model.Set(io(n, "functionresetcounter"), (c.mask[x] & kFunctionResetCounter) ? "1" : "0");
        model.Set(io(n, "inputfunction"), c.inverter[x] ? "0" : "1");
        model.Set(io(n, "resetcounter:signaledge"), std::to_string(edges[x]));
    }
    return model;
}

struct Trigger {
    bool mode;
    int32_t source, activation;
};
void expectTrigger(const TriggerSettings& t, Trigger want, const char* which)
{
    EXPECT_EQ(t.m_Mode, want.mode) << which;
    EXPECT_EQ(t.m_Source, want.source) << which;
    EXPECT_EQ(t.m_Activation, want.activation) << which;
}

using C = InfoCommand;

TEST(ScannerInfo, LineStartFromTheScannersTriggerSource)
{
    const struct {
        const char* name;
        IoConfig io;
        Trigger lineStart;
        std::vector<InfoCommand> commands;
    } cases[] = {
        {"s=0 off", {0, 0}, {false, 0, 0}, {}},
        {"s=1 first input line", {1, 0}, {true, 1, 1}, {}},
        {"s=1 inverted line", {1, 0, {3, 1, 2, 4}, {}, {0, 1, 0, 0}}, {true, 2, 2}, {}},
        {"s=1 first of two lines", {1, 0, {3, 1, 1, 4}, {}, {0, 0, 1, 0}}, {true, 2, 1}, {}},
        {"s=2 lines 1 and 2 encoder", {2, 0, {5, 5, 2, 4}}, {true, 5, 0}, {}},
        {"s=2 only line 1 encoder", {2, 0, {5, 3, 2, 4}}, {true, 6, 0}, {}},
        {"s=3 software", {3, 0}, {true, 7, 0}, {}},
        {"s=-1 a=0 off", {-1, 0}, {false, 0, 0}, {}},
        {"s=-1 a=1 line", {-1, 1}, {true, 1, 1}, {}},
        {"s=-1 a=2 encoder", {-1, 2, {5, 5, 2, 4}}, {true, 5, 0}, {}},
        // Software line trigger under an amount-driven frame: released again.
        {"s=-1 a=3 software", {-1, 3}, {false, 0, 0}, {{C::TriggerAmountProfilesY0}}},
        {"s=-1 a=1 no input line", {-1, 1, {3, 2, 4, 5}}, {false, 0, 0}, {{C::TriggerAmountProfilesY0}}},
        {"s=1 no input line", {1, 0, {3, 2, 4, 5}}, {false, 0, 0}, {{C::TriggerSource0}}},
        {"s=7 unchanged", {7, 0}, {true, 3, 2}, {}},
        {"s=-1 a=5 unchanged", {-1, 5}, {true, 3, 2}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScannerInfo start;
        start.m_Triggers[kLineStart] = {true, 3, 0, 0, 2};
        const Parsed p = parse(ioModel(c.io), start);
        ASSERT_TRUE(p.ok);
        expectTrigger(p.info.m_Triggers[kLineStart], c.lineStart, "LineStart");
        EXPECT_EQ(p.commands, c.commands);
    }
}

TEST(ScannerInfo, FunctionLinesGiveEncoderResetAndFrameTriggers)
{
    const std::vector<InfoCommand> none;
    const auto clear = [](unsigned line) { return InfoCommand{C::ClearEAFunctions, line}; };
    const struct {
        const char* name;
        IoConfig io;
        std::vector<InfoCommand> commands;
        Trigger frameStart, acquisitionActive;
        int32_t resetSource, resetActivation;
    } cases[] = {
        {"no functions", {0, 0}, none, {false, 8, 0}, {false, 8, 0}, 0, 0},
        {"reset line with one function", {0, 0, {1, 3, 2, 4}, {0, 4, 0, 0}}, none, {false, 8, 0}, {false, 8, 0}, 2, 2},
        {"reset line with two functions", {0, 0, {1, 3, 2, 4}, {0, 5, 0, 0}}, {clear(2)}, {false, 8, 0},
         {false, 8, 0}, 2, 2},
        {"function on an input line", {0, 0, {1, 3, 2, 4}, {1, 0, 0, 0}}, {clear(1)}, {false, 8, 0}, {false, 8, 0}, 0, 0},
        {"reset on an input line", {0, 0, {1, 3, 2, 4}, {4, 0, 0, 0}}, {clear(1)}, {false, 8, 0}, {false, 8, 0}, 1, 1},
        {"further reset lines released", {0, 0, {3, 3, 2, 3}, {0, 4, 0, 4}}, {clear(4)}, {false, 8, 0},
         {false, 8, 0}, 2, 2},
        {"profile enable, amount-driven", {-1, 0, {3, 3, 2, 4}, {0, 2, 0, 0}}, none, {true, 2, 3}, {false, 0, 0}, 0, 0},
        {"profile enable inverted, amount-driven", {-1, 0, {3, 3, 2, 4}, {0, 2, 0, 0}, {0, 1, 0, 0}}, none,
         {true, 2, 4}, {false, 0, 0}, 0, 0},
        {"profile enable gates acquisition", {0, 0, {3, 3, 2, 4}, {0, 2, 0, 0}}, none, {false, 8, 0}, {true, 2, 3}, 0, 0},
        {"profile enable inverted gates acquisition", {1, 0, {1, 3, 2, 4}, {0, 2, 0, 0}, {0, 1, 0, 0}}, none,
         {false, 8, 0}, {true, 2, 4}, 0, 0},
        {"further profile-enable lines released", {0, 0, {3, 3, 2, 3}, {0, 2, 0, 2}}, {clear(4)}, {false, 8, 0},
         {true, 2, 3}, 0, 0},
        {"no profile enable, amount-driven", {-1, 0}, none, {true, 7, 0}, {false, 8, 0}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = parse(ioModel(c.io));
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.commands, c.commands);
        expectTrigger(p.info.m_Triggers[kFrameStart], c.frameStart, "FrameStart");
        expectTrigger(p.info.m_Triggers[kAcquisitionActive], c.acquisitionActive, "AcquisitionActive");
        for (const EncoderSettings& encoder : p.info.m_Encoders) {
            EXPECT_EQ(encoder.m_ResetSource, c.resetSource);
            EXPECT_EQ(encoder.m_ResetActivation, c.resetActivation);
        }
        if (c.io.s != -1) {
            EXPECT_EQ(p.info.m_Triggers[kFrameStart].m_Delay, 0);
            EXPECT_EQ(p.info.m_Triggers[kFrameStart].m_Divider, 0);
        }
    }
}

TEST(ScannerInfo, LineModesFromTheLineFunctions)
{
    IoConfig config;
    config.ea = {2, 4, 5, 9};
    ScannerInfo start;
    for (size_t x = 0; x < 4; ++x) {
        start.m_Lines[x].m_Mode = x < 2 ? 0 : 1;
        start.m_Lines[x].m_Source = 7;
    }
    const Parsed p = parse(ioModel(config), start);
    ASSERT_TRUE(p.ok);
    const std::pair<int32_t, int32_t> modeSource[] = {{1, 1}, {1, 0}, {0, 7}, {1, 7}};  // 9: unchanged
    for (size_t x = 0; x < 4; ++x) {
        EXPECT_EQ(p.info.m_Lines[x].m_Mode, modeSource[x].first) << "line " << x + 1;
        EXPECT_EQ(p.info.m_Lines[x].m_Source, modeSource[x].second) << "line " << x + 1;
    }
}

TEST(ScannerInfo, MissingKeyEndsTheParseKeepingWhatCameBefore)
{
    const struct {
        const char* name;
        std::vector<std::string> removed;
        std::function<void(const ScannerInfo&)> check;
    } cases[] = {
        {"mac", {G + "mac"},
         [](const ScannerInfo& i) {
             EXPECT_EQ(i.m_FirmwareVersion, "1.3.7");
             EXPECT_EQ(i.m_MacAddress, "AB-AC-AD-AE-AF-00");
             EXPECT_EQ(i.m_SerialNumber, "....");
             EXPECT_EQ(i.m_Series, "....");
             EXPECT_EQ(i.m_FirmwareNumber, 0);
         }},
        {"exposure time", {S + "exposuretime:current"},
         [](const ScannerInfo& i) {
             EXPECT_EQ(i.m_Series, "KTRB");
             EXPECT_EQ(i.m_FirmwareNumber, 137);
             EXPECT_EQ(i.m_FieldWidthXEnd, 118);
             EXPECT_EQ(i.m_PixelZMaxReal, 1088);
             EXPECT_EQ(i.m_ExposureTime, 0);
             EXPECT_EQ(i.m_AcquisitionLineTime, 0);
         }},
        {"line 3 inverter", {io(3, "inputfunction")},
         [](const ScannerInfo& i) {
             EXPECT_TRUE(i.m_Lines[1].m_Inverter);
             EXPECT_FALSE(i.m_Lines[2].m_Inverter);
             EXPECT_FALSE(i.m_Lines[0].m_State);
         }},
        {"both encoder trigger function keys",
         {S + "encoder:triggerfunction:current", S + "triggerfunction:current"},
         [](const ScannerInfo& i) {
             EXPECT_TRUE(i.m_Lines[2].m_InputLoad);
             EXPECT_EQ(i.m_Encoders[0].m_OutputMode, 0);
             EXPECT_EQ(i.m_TriggerSource, 0);
         }},
        {"trigger delay", {S + "triggerdelay:current"},
         [](const ScannerInfo& i) {
             const TriggerSettings& lineStart = i.m_Triggers[kLineStart];
             EXPECT_TRUE(lineStart.m_Mode);  // the rule after the amount ran
             EXPECT_EQ(lineStart.m_Source, 1);
             EXPECT_EQ(lineStart.m_Divider, 8);
             EXPECT_EQ(lineStart.m_Delay, 0);
             EXPECT_EQ(i.m_Triggers[kFrameStart].m_Source, 0);  // the rules after the delay did not
             EXPECT_EQ(i.m_MaxLineRate, 0u);
             EXPECT_EQ(i.m_ExposureOverhead, 2u);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scanner_sim::SettingsModel model = distinctModel();
        for (const std::string& key : c.removed)
            model.Remove(key);
        const Parsed p = parse(model);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.status, InfoStatus::MissingKey);
        c.check(p.info);
    }
}

TEST(ScannerInfo, OptionalUserStringAndTheOlderEncoderTriggerFunctionKey)
{
    scanner_sim::SettingsModel model = distinctModel();
    model.Remove(S + "userstring:current");
    model.Remove(S + "encoder:triggerfunction:current");
    model.Set(S + "triggerfunction:current", "2");
    ScannerInfo start;
    start.m_UserString = "old";
    const Parsed p = parse(model, start);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.info.m_UserString, "old");
    EXPECT_EQ(p.info.m_Encoders[0].m_OutputMode, 2);
    EXPECT_EQ(p.info.m_Encoders[1].m_OutputMode, 2);

    // Both keys present: the encoder's own wins; a mode outside 0..4 keeps the last one.
    model.Set(S + "encoder:triggerfunction:current", "4");
    EXPECT_EQ(parse(model).info.m_Encoders[1].m_OutputMode, 4);
    model.Set(S + "encoder:triggerfunction:current", "7");
    start.m_Encoders[0].m_OutputMode = 3;
    const Parsed kept = parse(model, start);
    EXPECT_EQ(kept.info.m_Encoders[0].m_OutputMode, 3);
    EXPECT_EQ(kept.info.m_Encoders[1].m_OutputMode, 3);
}

TEST(ScannerInfo, NumbersThatAreNotNumbers)
{
    const struct {
        std::string key, text;
        std::function<long long(const ScannerInfo&)> get;
        long long want;
    } cases[] = {
        {S + "exposuretime:current", "fast", [](const ScannerInfo& i) { return i.m_ExposureTime; }, 0},
        {S + "exposuretime:current", "12abc", [](const ScannerInfo& i) { return i.m_ExposureTime; }, 12},
        {S + "exposuretime:current", "", [](const ScannerInfo& i) { return i.m_ExposureTime; }, 0},
        {S + "exposuretime:current", "-40", [](const ScannerInfo& i) { return i.m_ExposureTime; }, -40},
        {G + "pixel_z_max", "99999999999", [](const ScannerInfo& i) { return i.m_PixelZMax; }, INT32_MAX},
        {G + "temperatur", "-99999999999", [](const ScannerInfo& i) { return i.m_DeviceTemperature; }, INT32_MIN},
        {G + "encoder_htl", " -1", [](const ScannerInfo& i) { return i.m_Encoders[0].m_Value; }, 4294967295},
        {G + "encoder_htl", "+7", [](const ScannerInfo& i) { return i.m_Encoders[0].m_Value; }, 7},
        {G + "encoder_htl", "4294967297", [](const ScannerInfo& i) { return i.m_Encoders[0].m_Value; }, 1},
        {G + "encoder_ttl_rs422", "12x", [](const ScannerInfo& i) { return i.m_Encoders[1].m_Value; }, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " = '" + c.text + "'");
        scanner_sim::SettingsModel model = distinctModel();
        model.Set(c.key, c.text);
        const Parsed p = parse(model);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(c.get(p.info), c.want);
    }
}

TEST(ScannerInfo, EncoderValueWithoutDigitsChangesNothing)
{
    for (const auto& [key, text] : std::vector<std::pair<std::string, std::string>>{
             {G + "encoder_htl", "abc"},
             {G + "encoder_htl", ""},
             {G + "encoder_ttl_rs422", "-"},
             {G + "encoder_htl", "99999999999999999999"},
         }) {
        SCOPED_TRACE(key + " = '" + text + "'");
        scanner_sim::SettingsModel model = distinctModel();
        model.Set(key, text);
        ScannerInfo start;
        start.m_Encoders[0].m_Value = 5;
        const Parsed p = parse(model, start);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.status, InfoStatus::BadNumber);
        EXPECT_TRUE(p.info == start);
        EXPECT_TRUE(p.commands.empty());
    }
}

TEST(ScannerInfo, DocumentErrorsChangeNothing)
{
    for (const char* xml : {"<device><general>", "", "not xml", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(xml ? xml : "null");
        ScannerInfo info;
        info.m_ExposureTime = 9;
        std::vector<InfoCommand> commands;
        InfoStatus status = InfoStatus::Ok;
        EXPECT_FALSE(ParseScannerInfo(xml, info, &commands, &status));
        EXPECT_EQ(status, InfoStatus::XmlError);
        EXPECT_EQ(info.m_ExposureTime, 9);
        EXPECT_TRUE(commands.empty());
    }
}

TEST(ScannerInfo, WhitespaceInTextsIsCollapsed)
{
    scanner_sim::SettingsModel model = distinctModel();
    model.Set(G + "description", "  Scanner   simulator  two ");
    EXPECT_EQ(parse(model).info.m_Description, "Scanner simulator two");
}

TEST(ScannerInfo, SeriesDecidesLineRateAndExposureOverhead)
{
    const struct {
        int pixelXMax, width, height;
        const char* before;
        const char* series;
        uint32_t rate, overhead;
    } cases[] = {
        {1280, 1280, 100, "....", "KTRA", 1877, 0},
        {2048, 2048, 61, "....", "KTRB", 4196, 60},
        {2048, 2048, 32, "KTRA", "KTRB", 6000, 60},
        {1024, 1024, 100, "....", "....", 0, 2},  // unknown: unchanged
        {1024, 16, 8, "KTRA", "KTRA", 4000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pixelXMax << " " << c.width << "x" << c.height << " " << c.before);
        scanner_sim::SettingsModel model;
        model.Set(G + "pixel_x_max", std::to_string(c.pixelXMax));
        model.Set(S + "roi:x1:width:current", std::to_string(c.width));
        model.Set(S + "roi:z1:height:current", std::to_string(c.height));
        ScannerInfo start;
        start.m_Series = c.before;
        const Parsed p = parse(model, start);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.info.m_Series, c.series);
        EXPECT_EQ(p.info.m_MaxLineRate, c.rate);
        EXPECT_EQ(p.info.m_ExposureOverhead, c.overhead);
    }
}

TEST(ScannerInfo, SeriesMaxLineRateTable)
{
    const struct {
        const char* series;
        uint32_t width, height;
        std::optional<uint32_t> rate;
    } cases[] = {
        {"KTRB", 2048, 0, 6000},    {"KTRB", 2048, 32, 6000},  {"KTRB", 2048, 33, 5200}, {"KTRB", 2048, 40, 5200},
        {"KTRB", 2048, 45, 5000},   {"KTRB", 2048, 50, 4700},  {"KTRB", 2048, 55, 4400}, {"KTRB", 2048, 60, 4000},
        {"KTRB", 2048, 61, 4196},   {"KTRB", 2048, 100, 2725}, {"KTRB", 0, 4294967295u, 0},
        {"KTRA", 1280, 100, 1877},  {"KTRA", 16, 8, 4000},     {"KTRA", 0, 0, 4000},
        {"....", 1280, 100, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.series << " " << c.width << "x" << c.height);
        EXPECT_EQ(SeriesMaxLineRate(c.series, c.width, c.height), c.rate);
    }
}

TEST(ScannerInfo, FirmwareNumberAndComparison)
{
    const struct {
        const char* version;
        int32_t number;
        bool atLeast120;
    } cases[] = {
        {"1.2.0", 120, true},      {"1.10.3", 1103, true}, {"1.2.0-rc1", 120, true}, {"r1", 0, false},
        {"1.1.9", 119, false},     {"1.1.10", 1110, false}, {"1.0.99", 1099, false},  {"1.2", 12, true},
        {"1.2.1", 121, true},      {"2", 2, true},          {"0.9.9", 99, false},     {"", 0, false},
        {"1.1.2c", 112, false},    {"1.2.0.7", 1207, true}, {"1.3.0", 130, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        scanner_sim::SettingsModel model;
        model.Set(G + "firmwareversion:general", c.version);
        const Parsed p = parse(model);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.info.m_FirmwareNumber, c.number);
        EXPECT_EQ(FirmwareAtLeast(c.version, 1, 2, 0), c.atLeast120);
    }
    EXPECT_TRUE(FirmwareAtLeast("3.0.0", 2, 9, 9));
    EXPECT_FALSE(FirmwareAtLeast("2.9.9", 3, 0, 0));
}

TEST(ScannerInfo, SendInfoCommandsUsesTheBuilders)
{
    test::FakeScanner scanner;
    SendInfoCommands(scanner, &scanner, {{C::TriggerAmountProfilesY0}, {C::TriggerSource0}, {C::ClearEAFunctions, 3}});
    EXPECT_EQ(scanner.Commands(),
              (std::vector<std::string>{"SetTriggerAmountProfilesY=0\r", "SetTriggerSource=0\rSetAcquisitionStop\r",
                                        "SetEA3FunctionLaserOff=0\rSetEA3FunctionProfileEnable=0\rSetEA3FunctionResetCounter=0\r"}));
}

// The fetch through the scanner interface.
class UpdateScannerInfoTest : public testing::Test {
protected:
    test::FakeScanner scanner;
    test::ManualClock clock;
    ScannerInfo info;
    InfoStatus status = InfoStatus::Ok;

    bool update() { return UpdateScannerInfo(scanner, &scanner, clock, info, &status); }
};

TEST_F(UpdateScannerInfoTest, NoDescriptorIsAReceiveError)
{
    clock.Advance(50);
    EXPECT_FALSE(update());
    EXPECT_EQ(status, InfoStatus::ReceiveError);
    EXPECT_EQ(scanner.infoKinds, std::vector<std::string>{"xml"});
    EXPECT_TRUE(scanner.Commands().empty());
    EXPECT_TRUE(info == ScannerInfo{});
}

TEST_F(UpdateScannerInfoTest, ParsesSendsTheCommandsAndStampsTheRefresh)
{
    IoConfig config;
    config.s = 1;
    config.ea = {3, 2, 4, 5};  // no input line for the line trigger
    config.mask = {0, kFunctionLaserOff, 0, 0};
    scanner.descriptor = ioModel(config).DescriptorXml();
    clock.Advance(1234);
    ASSERT_TRUE(update());
    EXPECT_EQ(status, InfoStatus::Ok);
    EXPECT_EQ(info.m_LastRefreshMs, 1234u);
    EXPECT_EQ(info.m_Series, "KTRB");
    EXPECT_EQ(scanner.Commands(),
              (std::vector<std::string>{"SetTriggerSource=0\rSetAcquisitionStop\r",
                                        "SetEA2FunctionLaserOff=0\rSetEA2FunctionProfileEnable=0\rSetEA2FunctionResetCounter=0\r"}));
}

TEST_F(UpdateScannerInfoTest, FailedParseSendsWhatWasDecidedAndKeepsTheStamp)
{
    IoConfig config;
    config.s = 1;
    config.ea = {3, 2, 4, 5};
    config.mask = {0, kFunctionLaserOff, 0, 0};
    scanner_sim::SettingsModel model = ioModel(config);
    model.Remove(S + "triggerdelay:current");
    scanner.descriptor = model.DescriptorXml();
    info.m_LastRefreshMs = 7;
    clock.Advance(1234);
    EXPECT_FALSE(update());
    EXPECT_EQ(status, InfoStatus::MissingKey);
    EXPECT_EQ(info.m_LastRefreshMs, 7u);
    EXPECT_EQ(scanner.Commands(), std::vector<std::string>{"SetTriggerSource=0\rSetAcquisitionStop\r"});

    scanner.descriptor = "<device><general>";
    EXPECT_FALSE(update());
    EXPECT_EQ(status, InfoStatus::XmlError);
}

}  // namespace
}  // namespace lumabridge
