#include "scanner_sim/settings_model.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>

#include "scanner_sim/library_local.h"

namespace scanner_sim {
namespace {

const std::string S = "device:settings:";

// Resolves a colon path the way the client does: the first child element of each name.
std::optional<std::string> lookup(const tinyxml2::XMLDocument& doc, const std::string& path)
{
    const tinyxml2::XMLNode* node = &doc;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t colon = path.find(':', start);
        const size_t end = colon == std::string::npos ? path.size() : colon;
        node = node->FirstChildElement(path.substr(start, end - start).c_str());
        if (node == nullptr)
            return std::nullopt;
        start = end + 1;
    }
    const char* text = node->ToElement()->GetText();
    return std::string(text ? text : "");
}

TEST(SettingsModel, CommandsSetTheirPaths)
{
    struct Case {
        const char* command;
        std::vector<std::pair<std::string, std::string>> expected;  // path, value
    };
    const Case cases[] = {
        {"SetExposureTime=250\r", {{S + "exposuretime:current", "250"}}},
        {"SetAcquisitionLineTime=500", {{S + "acquisitionlinetime:current", "500"}}},
        {"SetROI1WidthX=1024\r", {{S + "roi:x1:width:current", "1024"}, {S + "roi:x1:width:min", "16"}}},
        {"SetROI1OffsetZ=-3\r", {{S + "roi:z1:offset:current", "-3"}}},
        {"SetTriggerSource=3\r", {{S + "triggersource:current", "3"}}},
        {"SetTriggerAmountProfilesY=10\r",
         {{S + "triggeramountprofilesy:current", "10"}, {S + "triggersource:current", "-1"}}},
        {"SetSignalEnable=3\r", {{S + "protocol:profile:signal:enable:current", "3"}}},
        {"SetSignalContentReserved=1\r", {{S + "protocol:profile:signal:content:reserved:current", "1"}}},
        {"SetSignalWidthMax=200\r", {{S + "signalwidthmax:current", "63"}}},  // clamped to :max
        {"SetSignalStrengthMin=-5\r", {{S + "signalstrengthmin:current", "0"}}},  // clamped to :min
        {"SetLaserDeactivated=1\r", {{S + "laseractive:current", "0"}}},
        {"SetEncoderTriggerFunction=4\r",
         {{S + "encoder:triggerfunction:current", "4"}, {S + "triggerfunction:current", "4"}}},
        {"SetUserString=a b&c\r", {{S + "userstring:current", "a b&c"}}},
        {"SetHeartBeat=3000\r", {{S + "heartbeat:current", "3000"}}},
        {"SetEA2Function=5\r", {{S + "usrio:ea2:function:current", "5"}}},
        {"SetEA1InputLoad=1\r", {{S + "usrio:ea1:inputfunctionload:current", "1"}}},
        {"SetEA4ResetCounterEncoderTTLRS422=1\r", {{S + "usrio:ea4:resetcounter:encoder_ttl_rs422:current", "1"}}},
        {"SetAcquisitionStart\r", {{S + "camerarunning:current", "1"}}},
    };
    for (const Case& c : cases) {
        SettingsModel model;
        EXPECT_TRUE(model.Apply(c.command)) << c.command;
        for (const auto& [path, value] : c.expected)
            EXPECT_EQ(model.Value(path), value) << c.command << " " << path;
    }
}

TEST(SettingsModel, CommandsThatChangeNothing)
{
    const char* const commands[] = {"SetExposureTime=12x\r", "SetExposureTime=\r", "SetExposureTime\r",
                                    "SetNothing=1\r",        "GetExposureTime=1\r", "SetEA5Function=1\r",
                                    "SetEA1FunctionFixedFrameNumberFinishSignal=1\r", "SetExposureTime=99999999999\r"};
    for (const char* c : commands) {
        SettingsModel model;
        const std::string before = model.DescriptorXml();
        EXPECT_FALSE(model.Apply(c)) << c;
        EXPECT_EQ(model.DescriptorXml(), before) << c;
    }
}

TEST(SettingsModel, ResetEncoderAndReset)
{
    SettingsModel model;
    model.Set("device:general:encoder_htl", "77");
    model.Set("device:general:encoder_ttl_rs422", "88");
    EXPECT_TRUE(model.Apply("SetResetEncoder\r"));
    EXPECT_EQ(model.Value("device:general:encoder_htl"), "0");
    EXPECT_EQ(model.Value("device:general:encoder_ttl_rs422"), "0");

    model.Apply("SetExposureTime=1\r");
    model.Apply("SetLinearizationMode=1\r");
    EXPECT_TRUE(model.LinearizationMode());
    model.Reset();
    EXPECT_EQ(model.Value(S + "exposuretime:current"), "100");
    EXPECT_FALSE(model.LinearizationMode());
}

TEST(SettingsModel, UserOutputValueShowsAsLineState)
{
    SettingsModel model;
    model.Apply("SetEA3OutputFunction=1\r");  // not an output line: state unchanged
    EXPECT_EQ(model.Value("device:general:usrio:ea3:state"), "0");
    model.Apply("SetEA3Function=4\r");
    model.Apply("SetEA3OutputFunction=1\r");
    EXPECT_EQ(model.Value("device:general:usrio:ea3:state"), "1");
}

TEST(SettingsModel, DescriptorIsWellFormedAndEveryPathResolves)
{
    SettingsModel model;
    model.Apply("SetUserString=<a & b>\r");
    model.Set("device:general:extra:key", "v");  // added after the settings: still under general
    const std::string xml = model.DescriptorXml();
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(xml.c_str()), tinyxml2::XML_SUCCESS) << xml;

    const std::pair<std::string, std::string> expected[] = {
        {"device:general:ordernumber", "KTRB-2048"},
        {"device:general:firmwareversion:general", "1.2.0"},
        {"device:general:pixel_x_max", "2048"},
        {"device:general:pixel_z_max", "1088"},
        {"device:general:workingrange_z_start", "100"},
        {"device:general:measuringrange_z", "200"},
        {"device:general:fieldwidth_x_start", "60"},
        {"device:general:fieldwidth_x_end", "120"},
        {"device:general:extra:key", "v"},
        {S + "userstring:current", "<a & b>"},
        {S + "roi:x1:width:current", "2048"},
        {S + "roi:x1:width:min", "16"},
        {S + "signalwidthmin:max", "63"},
        {S + "usrio:ea4:resetcounter:encoder_htl:current", "0"},
        {S + "encoder:triggerfunction:current", "0"},
        {S + "triggerfunction:current", "0"},
    };
    for (const auto& [path, value] : expected)
        EXPECT_EQ(lookup(doc, path), value) << path;

    model.Remove(S + "exposuretime:current");
    tinyxml2::XMLDocument without;
    ASSERT_EQ(without.Parse(model.DescriptorXml().c_str()), tinyxml2::XML_SUCCESS);
    EXPECT_EQ(lookup(without, S + "exposuretime:current"), std::nullopt);
    EXPECT_EQ(lookup(without, S + "exposuretime"), std::nullopt);  // no empty element is left
}

TEST(SettingsModel, StatusFieldsFollowTheSettings)
{
    SettingsModel model;
    for (const char* c : {"SetTriggerAmountProfilesY=10\r", "SetAcquisitionStart\r", "SetROI1WidthX=640\r",
                          "SetSignalContentWidth=0\r", "SetEA2Output=3\r", "SetEncoderTriggerFunction=2\r"})
        ASSERT_TRUE(model.Apply(c)) << c;
    const StatusFields f = model.Status();
    EXPECT_EQ(f.triggerSource, -1);
    EXPECT_EQ(f.triggerAmountProfilesY, 10);
    EXPECT_TRUE(f.cameraRunning);
    EXPECT_EQ(f.roiWidthX, 640);
    EXPECT_FALSE(f.contentWidth);
    EXPECT_EQ(f.userIo[1].output, 3);
    EXPECT_EQ(f.encoderTriggerFunction, 2);
    EXPECT_TRUE(f.seriesB);
    DeviceIdentity a;
    a.series = "KTRA";
    EXPECT_FALSE(SettingsModel(a).Status().seriesB);
}

TEST(EscapeXml, Table)
{
    EXPECT_EQ(escapeXml("plain"), "plain");
    EXPECT_EQ(escapeXml("a&b<c>d\"e"), "a&amp;b&lt;c&gt;d&quot;e");
}

TEST(LibraryLocalCommands, Table)
{
    for (const char* c : {"SetInitializeAcquisition\r", "SetAutoConnectMode=0\r", "SetSortingX=1\r", "SetEchoMode=1\r",
                          "SetLibraryScannerFiFoMode=1\r", "SetCameraMode=0\r", "SetDllFiFoSize=5000000\r",
                          "SetLibraryScannerFiFoSize=5000000\r"})
        EXPECT_TRUE(isLibraryLocalCommand(c)) << c;
    for (const char* c : {"SetAcquisitionStop\r", "SetHeartBeat=3000\r", "GetSettings=0", "SetSorting\r"})
        EXPECT_FALSE(isLibraryLocalCommand(c)) << c;
}

}  // namespace
}  // namespace scanner_sim
