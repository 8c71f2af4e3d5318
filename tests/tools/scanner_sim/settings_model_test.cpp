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
        {"SetROI1OffsetZ=-3\r", {{S + "roi:z1:offset:current", "0"}}},  // clamped to the sensor
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
                                    "SetExposureTime=99999999999\r"};
    for (const char* c : commands) {
        SettingsModel model;
        const std::string before = model.DescriptorXml();
        EXPECT_FALSE(model.Apply(c)) << c;
        EXPECT_EQ(model.DescriptorXml(), before) << c;
    }
}

TEST(SettingsModel, RegionOfInterestStaysOnTheSensor)
{
    // Sensor 2048 x 1088, minimum width 16 and height 8; each step applies to the model before.
    struct Step {
        const char* command;
        const char* width;
        const char* offsetX;
        const char* height;
        const char* offsetZ;
    };
    const Step steps[] = {
        {"SetROI1WidthX=1024\r", "1024", "0", "1088", "0"},
        {"SetROI1OffsetX=512\r", "1024", "512", "1088", "0"},
        {"SetROI1OffsetX=1500\r", "1024", "1024", "1088", "0"},  // 2048 - width
        {"SetROI1WidthX=2048\r", "1024", "1024", "1088", "0"},  // 2048 - offset
        {"SetROI1OffsetX=0\r", "1024", "0", "1088", "0"},
        {"SetROI1WidthX=4\r", "16", "0", "1088", "0"},  // the minimum
        {"SetROI1WidthX=5000\r", "2048", "0", "1088", "0"},
        {"SetROI1OffsetX=-1\r", "2048", "0", "1088", "0"},
        {"SetROI1HeightZ=100\r", "2048", "0", "100", "0"},
        {"SetROI1OffsetZ=2000\r", "2048", "0", "100", "988"},
        {"SetROI1HeightZ=500\r", "2048", "0", "100", "988"},
        {"SetROI1OffsetZ=100\r", "2048", "0", "100", "100"},
        {"SetROI1HeightZ=500\r", "2048", "0", "500", "100"},
        {"SetROI1HeightZ=1\r", "2048", "0", "8", "100"},
    };
    SettingsModel model;
    for (const Step& st : steps) {
        ASSERT_TRUE(model.Apply(st.command)) << st.command;
        EXPECT_EQ(model.Value(S + "roi:x1:width:current"), st.width) << st.command;
        EXPECT_EQ(model.Value(S + "roi:x1:offset:current"), st.offsetX) << st.command;
        EXPECT_EQ(model.Value(S + "roi:z1:height:current"), st.height) << st.command;
        EXPECT_EQ(model.Value(S + "roi:z1:offset:current"), st.offsetZ) << st.command;
    }
    const StatusFields f = model.Status();
    EXPECT_EQ(f.roiWidthX, 2048);
    EXPECT_EQ(f.roiOffsetZ, 100);
    EXPECT_EQ(f.roiHeightZ, 8);
}

// Every command the bridge sends for a feature, and the descriptor value it leaves.
TEST(SettingsModel, BridgeFeatureCommands)
{
    struct Case {
        const char* command;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {"SetAmountProfilesY=200\r", {{S + "amountprofilesy:current", "200"}}},
        {"SetSignalContentStrength=0\r", {{S + "protocol:profile:signal:content:strength:current", "0"}}},
        {"SetTriggerSource=2\rSetAcquisitionStop\r", {{S + "triggersource:current", "2"}}},
        {"SetTriggerEncoderStep=7\r", {{S + "triggerencoderstep:current", "7"}}},
        {"SetTriggerDelay=30\r", {{S + "triggerdelay:current", "30"}}},
        {"SetEA2Function=1\rSetEA2FunctionFixedFrameNumberFinishSignal=1\r",
         {{S + "usrio:ea2:function:current", "1"}, {S + "usrio:ea2:functionfixedframenumberfinishsignal:current", "1"}}},
        {"SetEA3FunctionLaserOff=0\rSetEA3FunctionProfileEnable=1\rSetEA3FunctionResetCounter=1\r",
         {{S + "usrio:ea3:functionlaseroff:current", "0"}, {S + "usrio:ea3:functionprofileenable:current", "1"},
          {S + "usrio:ea3:functionresetcounter:current", "1"}}},
        {"SetEA1InputFunction=1\r", {{S + "usrio:ea1:inputfunction:current", "1"}}},
        {"SetEA4Output=2\r", {{S + "usrio:ea4:output:current", "2"}}},
        {"SetEA1ResetCounterSignaledge=1\rSetEA1ResetCounterRepeat=1\r",
         {{S + "usrio:ea1:resetcounter:signaledge:current", "1"}, {S + "usrio:ea1:resetcounter:repeat:current", "1"}}},
        {"SetSyncOut=40\rSetSyncOutDelay=9\r", {{S + "syncout:current", "40"}, {S + "syncoutdelay:current", "9"}}},
        {"SetSignalSelection=2\r", {{S + "signalselection:current", "2"}}},
        {"SetSignalWidthMin=4\rSetSignalWidthMax=40\rSetSignalStrengthMin=100\r",
         {{S + "signalwidthmin:current", "4"}, {S + "signalwidthmax:current", "40"},
          {S + "signalstrengthmin:current", "100"}}},
        {"SetLaserDeactivated=0\r", {{S + "laseractive:current", "1"}}},
        {"SetSignalEnable=2\rSetAcquisitionStop\r", {{S + "protocol:profile:signal:enable:current", "2"}}},
        {"SetAcquisitionStart\rSetAcquisitionStop\r", {{S + "camerarunning:current", "0"}}},
    };
    for (const Case& c : cases) {
        SettingsModel model;
        // As the simulator's tokenizer hands them over: one command at a time.
        std::string_view rest = c.command;
        while (!rest.empty()) {
            const size_t cr = rest.find('\r');
            EXPECT_TRUE(model.Apply(rest.substr(0, cr + 1))) << c.command;
            rest.remove_prefix(cr + 1);
        }
        for (const auto& [path, value] : c.expected)
            EXPECT_EQ(model.Value(path), value) << c.command << " " << path;
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
