// The descriptor as its two readers see it: every key the bridge and the client library look up,
// resolved with a colon-path walk of our own over the parsed document.
#include "scanner_sim/settings_model.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace scanner_sim {
namespace {

const std::string G = "device:general:";
const std::string S = "device:settings:";

// The first child element of each name, from the document down; the text of the last one.
std::optional<std::string> walk(const tinyxml2::XMLDocument& doc, const std::string& path)
{
    const tinyxml2::XMLNode* node = &doc;
    std::string::size_type from = 0;
    for (;;) {
        const auto colon = path.find(':', from);
        const std::string name = path.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
        node = node->FirstChildElement(name.c_str());
        if (node == nullptr)
            return std::nullopt;
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    const char* text = node->ToElement()->GetText();
    return std::string(text ? text : "");
}

std::vector<std::string> eaKeys(const std::string& before, const std::string& after)
{
    std::vector<std::string> out;
    for (int n = 1; n <= 4; ++n)
        out.push_back(before + "ea" + std::to_string(n) + after);
    return out;
}

// The bridge's keys in its reading order.
std::vector<std::string> bridgeKeys()
{
    std::vector<std::string> k = {
        G + "ordernumber", G + "productversion", G + "producer", G + "description",
        G + "hardwareversion:general", G + "firmwareversion:general", G + "mac", G + "serialnumber",
        G + "pixel_x_max", G + "pixel_z_max", S + "roi:z1:height:min", S + "roi:x1:width:min",
        S + "userstring:current", G + "temperatur", G + "workingrange_z_start", G + "measuringrange_z",
        G + "fieldwidth_x_start", G + "fieldwidth_x_end", G + "pixel_x_max", G + "pixel_z_max",
        S + "exposuretime:current", S + "acquisitionlinetime:current", S + "roi:x1:width:current",
        S + "roi:x1:offset:current", S + "roi:z1:height:current", S + "roi:z1:offset:current",
        S + "amountprofilesy:current", S + "syncout:current", S + "syncoutdelay:current",
        S + "protocol:profile:signal:enable:current", S + "signalselection:current",
        S + "signalwidthmin:current", S + "signalwidthmax:current", S + "signalstrengthmin:current",
        S + "signalwidthmin:min", S + "signalwidthmin:max", S + "signalwidthmax:min", S + "signalwidthmax:max",
        S + "signalstrengthmin:min", S + "signalstrengthmin:max",
        S + "protocol:profile:signal:content:strength:current", S + "protocol:profile:signal:content:z:current",
        G + "encoder_htl", G + "encoder_ttl_rs422"};
    for (const char* name : {"function", "functionlaseroff", "functionprofileenable", "functionresetcounter",
                             "resetcounter:signaledge", "inputfunction"})
        for (const std::string& key : eaKeys(S + "usrio:", std::string(":") + name + ":current"))
            k.push_back(key);
    for (const std::string& key : eaKeys(G + "usrio:", ":state"))
        k.push_back(key);
    for (const char* name : {"output", "inputfunctionload"})
        for (const std::string& key : eaKeys(S + "usrio:", std::string(":") + name + ":current"))
            k.push_back(key);
    for (const char* name : {"encoder:triggerfunction", "triggersource", "triggeramountprofilesy",
                             "triggerencoderstep", "triggerdelay"})
        k.push_back(S + name + ":current");
    return k;
}

// The client library's keys.
std::vector<std::string> libraryKeys()
{
    std::vector<std::string> k;
    for (const char* name :
         {"ordernumber", "productversion", "producer", "hardwareversion:general", "firmwareversion:general",
          "serialnumber", "mac", "workingrange_z_start", "measuringrange_z", "fieldwidth_x_start", "fieldwidth_x_end",
          "pixel_x_max", "pixel_z_max", "lininfo", "encoder_htl", "encoder_ttl_rs422", "usrio:ea1:state",
          "usrio:ea2:state", "usrio:ea3:state", "usrio:ea4:state", "ttl_rs422:en_a:state", "ttl_rs422:en_b:state",
          "ttl_rs422:en_0:state", "onoffcounter", "ontimecounter", "scannerstatus", "temperatur"})
        k.push_back(G + name);
    for (const char* name :
         {"userstring", "protocol:profile:signal:enable", "protocol:profile:signal:content:z",
          "protocol:profile:signal:content:strength", "protocol:profile:signal:content:width",
          "protocol:profile:signal:content:reserved", "acquisitionlinetime", "camerarunning", "heartbeat",
          "socketconnectiontimeout", "triggersource", "triggeramountprofilesy", "amountprofilesy",
          "triggerencoderstep", "triggerdelay", "exposuretime", "laseractive", "laserpwm", "laserpwmdisablemode",
          "roi:x1:width", "roi:x1:offset", "roi:x1:step", "roi:z1:height", "roi:z1:offset", "syncout",
          "syncoutdelay", "signalwidthmin", "signalwidthmax", "signalstrengthmin", "signalselection",
          "triggerfunction", "countdirection"})
        k.push_back(S + name + ":current");
    for (int n = 1; n <= 4; ++n)
        for (const char* name :
             {"function", "functionlaseroff", "functionprofileenable", "functionresetcounter", "inputfunction",
              "inputfunctionload", "output", "outputfunction", "resetcounter:repeat", "resetcounter:signaledge",
              "resetcounter:basetimecounter", "resetcounter:picturecounter", "resetcounter:encoder_htl",
              "resetcounter:encoder_ttl_rs422"})
            k.push_back(S + "usrio:ea" + std::to_string(n) + ":" + name + ":current");
    return k;
}

struct Parsed {
    explicit Parsed(const SettingsModel& model) : xml(model.DescriptorXml())
    {
        ok = doc.Parse(xml.c_str()) == tinyxml2::XML_SUCCESS;
    }
    std::string at(const std::string& path) const { return walk(doc, path).value_or("<missing>"); }
    long number(const std::string& path) const { return std::strtol(at(path).c_str(), nullptr, 10); }

    std::string xml;
    tinyxml2::XMLDocument doc;
    bool ok = false;
};

TEST(DescriptorKeys, EveryKeyOfBothReadersIsPresent)
{
    EXPECT_EQ(bridgeKeys().size(), 85u);  // pixel_x_max and pixel_z_max are read twice
    EXPECT_EQ(libraryKeys().size(), 27u + 32u + 56u);
    for (const char* series : {"KTRB", "KTRA"}) {
        DeviceIdentity id;
        id.series = series;
        id.geometry.widthX = std::string(series) == "KTRA" ? 1280 : 2048;
        const Parsed d{SettingsModel(id)};
        ASSERT_TRUE(d.ok) << d.xml;
        for (const std::string& key : bridgeKeys())
            EXPECT_NE(walk(d.doc, key), std::nullopt) << series << " " << key;
        for (const std::string& key : libraryKeys())
            EXPECT_NE(walk(d.doc, key), std::nullopt) << series << " " << key;
        // Both spellings of the encoder trigger function carry one setting.
        EXPECT_EQ(d.at(S + "encoder:triggerfunction:current"), d.at(S + "triggerfunction:current"));
    }
}

TEST(DescriptorKeys, IdentityTextsAreDistinctAndFollowTheIdentity)
{
    const std::vector<std::string> identityKeys = {G + "ordernumber", G + "productversion", G + "producer",
                                                   G + "description", G + "hardwareversion:general",
                                                   G + "firmwareversion:general", G + "mac", G + "serialnumber"};
    const Parsed defaults{SettingsModel()};
    std::set<std::string> seen;
    for (const std::string& key : identityKeys) {
        EXPECT_FALSE(defaults.at(key).empty()) << key;
        EXPECT_TRUE(seen.insert(defaults.at(key)).second) << key << " repeats " << defaults.at(key);
    }
    EXPECT_EQ(defaults.at(G + "ordernumber"), "KTRB-2048");
    EXPECT_EQ(defaults.at(G + "pixel_x_max"), "2048");

    DeviceIdentity id;
    id.series = "KTRA";
    id.geometry.widthX = 1280;
    id.firmware = "1.1.9";
    id.serialNumber = "87654321";
    id.mac = "02-11-22-33-44-55";
    id.producer = "Maker";
    id.userString = "Line 4";
    id.temperature = 37;
    id.lineTime = 2000;
    id.exposureTime = 150;
    const Parsed d{SettingsModel(id)};
    const std::pair<std::string, std::string> expected[] = {
        {G + "ordernumber", "KTRA-1280"},       {G + "firmwareversion:general", "1.1.9"},
        {G + "serialnumber", "87654321"},       {G + "mac", "02-11-22-33-44-55"},
        {G + "producer", "Maker"},              {S + "userstring:current", "Line 4"},
        {G + "temperatur", "37"},               {G + "pixel_x_max", "1280"},
        {S + "roi:x1:width:current", "1280"},   {S + "acquisitionlinetime:current", "2000"},
        {S + "exposuretime:current", "150"},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(d.at(key), value) << key;
    id.orderNumber = "KTRA-1280-50";
    EXPECT_EQ(Parsed{SettingsModel(id)}.at(G + "ordernumber"), "KTRA-1280-50");
}

TEST(DescriptorKeys, DefaultsArePlausible)
{
    const Parsed d{SettingsModel()};
    // The region lies on the sensor and is not below its minimum size.
    EXPECT_LE(d.number(S + "roi:x1:offset:current") + d.number(S + "roi:x1:width:current"), d.number(G + "pixel_x_max"));
    EXPECT_LE(d.number(S + "roi:z1:offset:current") + d.number(S + "roi:z1:height:current"), d.number(G + "pixel_z_max"));
    EXPECT_GE(d.number(S + "roi:x1:width:current"), d.number(S + "roi:x1:width:min"));
    EXPECT_GE(d.number(S + "roi:z1:height:current"), d.number(S + "roi:z1:height:min"));
    // The exposure fits into the line time; the field widens with the distance.
    EXPECT_GT(d.number(S + "exposuretime:current"), 0);
    EXPECT_LT(d.number(S + "exposuretime:current"), d.number(S + "acquisitionlinetime:current"));
    EXPECT_LT(d.number(G + "fieldwidth_x_start"), d.number(G + "fieldwidth_x_end"));
    EXPECT_GT(d.number(G + "measuringrange_z"), 0);
    for (const char* name : {"signalwidthmin", "signalwidthmax", "signalstrengthmin"}) {
        const std::string base = S + name;
        EXPECT_LE(d.number(base + ":min"), d.number(base + ":current")) << name;
        EXPECT_LE(d.number(base + ":current"), d.number(base + ":max")) << name;
    }
    EXPECT_LE(d.number(S + "signalwidthmin:current"), d.number(S + "signalwidthmax:current"));
    // Four lines wired four ways, no line function flag left on, profiles per image at least 1.
    std::set<long> functions;
    for (const std::string& key : eaKeys(S + "usrio:", ":function:current"))
        functions.insert(d.number(key));
    EXPECT_EQ(functions.size(), 4u);
    for (const char* name : {"functionlaseroff", "functionprofileenable", "functionresetcounter"})
        for (const std::string& key : eaKeys(S + "usrio:", std::string(":") + name + ":current"))
            EXPECT_EQ(d.at(key), "0") << key;
    EXPECT_GE(d.number(S + "amountprofilesy:current"), 1);
    EXPECT_EQ(d.at(S + "triggersource:current"), "0");  // free running
}

// The set-up sequence and the feature writes, seen in the next descriptor.
TEST(DescriptorKeys, CommandsChangeTheNextDescriptor)
{
    struct Case {
        std::vector<const char*> commands;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {{"SetAcquisitionStart\r", "SetAcquisitionStop\r"}, {{S + "camerarunning:current", "0"}}},
        {{"SetSignalContentWidth=0\r"}, {{S + "protocol:profile:signal:content:width:current", "0"}}},
        {{"SetEA1InputLoad=1\r", "SetEA2InputLoad=1\r", "SetEA3InputLoad=1\r", "SetEA4InputLoad=1\r"},
         {{S + "usrio:ea1:inputfunctionload:current", "1"},
          {S + "usrio:ea2:inputfunctionload:current", "1"},
          {S + "usrio:ea3:inputfunctionload:current", "1"},
          {S + "usrio:ea4:inputfunctionload:current", "1"}}},
        {{"SetHeartBeat=3000\r"}, {{S + "heartbeat:current", "3000"}}},
        {{"SetSignalContentReserved=1\r"}, {{S + "protocol:profile:signal:content:reserved:current", "1"}}},
        {{"SetAmountProfilesY=200\r"}, {{S + "amountprofilesy:current", "200"}}},
        {{"SetUserString=NAME\r"}, {{S + "userstring:current", "NAME"}}},
        {{"SetUserString=\r"}, {{S + "userstring:current", ""}}},
        {{"SetROI1WidthX=1024\r", "SetROI1OffsetX=512\r"},
         {{S + "roi:x1:width:current", "1024"}, {S + "roi:x1:offset:current", "512"}}},
        {{"SetROI1HeightZ=256\r", "SetROI1OffsetZ=100\r"},
         {{S + "roi:z1:height:current", "256"}, {S + "roi:z1:offset:current", "100"}}},
        {{"SetExposureTime=321\r"}, {{S + "exposuretime:current", "321"}}},
        {{"SetAcquisitionLineTime=1000\r"}, {{S + "acquisitionlinetime:current", "1000"}}},
        {{"SetTriggerSource=2\r", "SetAcquisitionStop\r"}, {{S + "triggersource:current", "2"}}},
        {{"SetTriggerAmountProfilesY=3\r"},
         {{S + "triggeramountprofilesy:current", "3"}, {S + "triggersource:current", "-1"}}},
        {{"SetTriggerEncoderStep=8\r", "SetTriggerDelay=12\r"},
         {{S + "triggerencoderstep:current", "8"}, {S + "triggerdelay:current", "12"}}},
        {{"SetEA2Function=1\r", "SetEA2FunctionFixedFrameNumberFinishSignal=0\r"},
         {{S + "usrio:ea2:function:current", "1"}}},
        {{"SetEA3FunctionLaserOff=1\r", "SetEA3FunctionProfileEnable=1\r", "SetEA3FunctionResetCounter=1\r"},
         {{S + "usrio:ea3:functionlaseroff:current", "1"},
          {S + "usrio:ea3:functionprofileenable:current", "1"},
          {S + "usrio:ea3:functionresetcounter:current", "1"}}},
        {{"SetEA1InputFunction=1\r", "SetEA4Output=2\r", "SetEA2ResetCounterSignaledge=1\r"},
         {{S + "usrio:ea1:inputfunction:current", "1"},
          {S + "usrio:ea4:output:current", "2"},
          {S + "usrio:ea2:resetcounter:signaledge:current", "1"}}},
        {{"SetEA4OutputFunction=1\r"}, {{G + "usrio:ea4:state", "1"}}},  // line 4 is a user output
        {{"SetSyncOut=40\r", "SetSyncOutDelay=7\r"}, {{S + "syncout:current", "40"}, {S + "syncoutdelay:current", "7"}}},
        {{"SetEncoderTriggerFunction=3\r"},
         {{S + "encoder:triggerfunction:current", "3"}, {S + "triggerfunction:current", "3"}}},
        {{"SetSignalEnable=2\r", "SetSignalSelection=3\r"},
         {{S + "protocol:profile:signal:enable:current", "2"}, {S + "signalselection:current", "3"}}},
        {{"SetSignalWidthMin=4\r", "SetSignalWidthMax=40\r", "SetSignalStrengthMin=20\r"},
         {{S + "signalwidthmin:current", "4"}, {S + "signalwidthmax:current", "40"},
          {S + "signalstrengthmin:current", "20"}}},
        {{"SetSignalContentStrength=0\r"}, {{S + "protocol:profile:signal:content:strength:current", "0"}}},
        {{"SetLaserDeactivated=1\r"}, {{S + "laseractive:current", "0"}}},
    };
    for (const Case& c : cases) {
        SettingsModel model;
        for (const char* command : c.commands)
            model.Apply(command);
        const Parsed d(model);
        ASSERT_TRUE(d.ok);
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(d.at(key), value) << c.commands.front() << " " << key;
    }
}

TEST(DescriptorKeys, ResetRestoresTheDefaultsOfTheIdentity)
{
    DeviceIdentity id;
    id.userString = "Line 4";
    id.firmware = "1.3.1";
    SettingsModel model(id);
    const std::string defaults = model.DescriptorXml();
    for (const char* command :
         {"SetAcquisitionStart\r", "SetSignalContentWidth=0\r", "SetEA1InputLoad=1\r", "SetEA4InputLoad=1\r",
          "SetHeartBeat=3000\r", "SetLinearizationMode=1\r", "SetSignalContentReserved=1\r",
          "SetAmountProfilesY=200\r", "SetUserString=other\r", "SetROI1WidthX=640\r", "SetExposureTime=5\r",
          "SetTriggerAmountProfilesY=1\r", "SetEA2Function=2\r", "SetEncoderTriggerFunction=4\r"})
        ASSERT_TRUE(model.Apply(command)) << command;
    EXPECT_NE(model.DescriptorXml(), defaults);
    EXPECT_TRUE(model.LinearizationMode());
    model.Reset();
    EXPECT_EQ(model.DescriptorXml(), defaults);
    EXPECT_FALSE(model.LinearizationMode());
    EXPECT_EQ(Parsed(model).at(S + "userstring:current"), "Line 4");
}

}  // namespace
}  // namespace scanner_sim
