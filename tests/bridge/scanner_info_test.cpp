// The scanner information against the simulator's descriptor: values, translations, failures.
#include "scanner_info.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_scanner.h"
#include "tools/scanner_sim/settings_model.h"

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
        {"0", "1", "1", "0"},  // inputfunction
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
        f.push_back({io(n, "inputfunction"), [x](I i) { return i.m_Lines[x].m_Inverter; }, true});
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

TEST(ScannerInfo, ValuesOfTheFixtureAreDistinct)
{
    // Guards the fixture itself: two fields swapped in the parse must show.
    const scanner_sim::SettingsModel model = distinctModel();
    std::map<std::string, std::string> seen;
    for (const Field& field : numericFields()) {
        const std::string value = model.Value(field.key);
        if (field.key.find("usrio") != std::string::npos || value.size() < 2)
            continue;  // flags and small enumerations
        const auto [it, added] = seen.emplace(value, field.key);
        EXPECT_TRUE(added || it->second == field.key) << field.key << " and " << it->second << " share " << value;
    }
}

}  // namespace
}  // namespace lumabridge
