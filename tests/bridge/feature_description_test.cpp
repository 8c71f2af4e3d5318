// The scanner's GenICam description as the device library serves it once the bridge is online:
// its integrity, the nodes and entries clients depend on, and the -c variant.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bridge.h"
#include "bridge_fixture.h"
#include "fake_scanner.h"
#include "feature_description.h"
#include "gev_camera.h"
#include "scanner_sim/settings_model.h"

namespace lumabridge::test {
namespace {

// The description the camera publishes: the first URL names its address and length.
std::string servedXml(CGevCamera& camera)
{
    char url[513] = {};
    if (camera.ReadMemory(0x200, url, 512) != GevResult::Ok)
        return {};
    const std::string text(url);
    const size_t last = text.rfind(';');
    const size_t first = text.rfind(';', last - 1);
    if (text.rfind("Local:", 0) != 0 || last == std::string::npos || first == std::string::npos)
        return {};
    const uint32_t address = static_cast<uint32_t>(std::strtoul(text.substr(first + 1).c_str(), nullptr, 16));
    const uint32_t length = static_cast<uint32_t>(std::strtoul(text.substr(last + 1).c_str(), nullptr, 16));
    std::string xml((length + 3) & ~3u, '\0');
    if (camera.ReadMemory(address, xml.data(), static_cast<uint32_t>(xml.size())) != GevResult::Ok)
        return {};
    xml.resize(length);
    return xml;
}

// The bridge over a scripted scanner and the real device library, brought online on address.
struct Online {
    std::string xml;
    std::string sortXValue;
    std::map<std::string, std::string> strings;  // GetStringValue of the DeviceControl texts
    std::map<std::string, int64_t> integers;
    float temperature = 0;
};

Online goOnline(bool orbalis, const char* address)
{
    CameraBridgeRig rig;
    rig.Describe({{"device:general:pixel_x_max", "1280"},
                  {"device:general:pixel_z_max", "1024"},
                  {"device:general:ordernumber", "KTRA-1280"},
                  {"device:general:producer", "Acme Optics"},
                  {"device:general:productversion", "3.4"},
                  {"device:general:firmwareversion:general", "1.5.2"},
                  {"device:general:serialnumber", "918273"},
                  {"device:general:temperatur", "47"},
                  {"device:settings:syncout:current", "321"},
                  {"device:settings:signalselection:current", "2"},
                  {"device:settings:signalwidthmin:min", "3"},
                  {"device:settings:signalwidthmin:max", "40"}});
    rig.FollowCommands();
    Bridge& bridge = rig.bridge;
    CGevCamera* camera = rig.camera;
    if (orbalis)
        bridge.EnableOrbalisMode();
    Online online;
    EXPECT_TRUE(bridge.Connect("127.0.0.1", "", 32001));
    EXPECT_TRUE(bridge.BuildDescription(address, -1, "")) << rig.out.str() << rig.err.str();
    online.xml = servedXml(*camera);
    char text[256];
    for (const char* name : {"DeviceType", "DeviceScanType", "DeviceModelName", "DeviceVendorName", "DeviceVersion",
                             "DeviceFirmwareVersion", "DeviceSerialNumber", "DeviceTLType", "AcquisitionMode",
                             "SignalSelection", "Scan3dCoordinateSelector", "TimerSelector"})
        online.strings[name] = camera->GetStringValue(name, text, sizeof text) == GevResult::Ok ? text : "<failed>";
    for (const char* name : {"SensorWidth", "SensorHeight", "SyncOut", "TLParamsLocked"}) {
        int64_t v = -1;
        camera->GetIntegerValue(name, &v);
        online.integers[name] = v;
    }
    camera->GetFloatValue("DeviceTemperature", &online.temperature);
    bridge.Shutdown();
    return online;
}

// Read access to the parsed description.
class Description {
public:
    explicit Description(const std::string& xml) { m_Status = m_Doc.Parse(xml.c_str(), xml.size()); }

    bool parsed() const { return m_Status == tinyxml2::XML_SUCCESS; }
    const tinyxml2::XMLElement* root() const { return m_Doc.RootElement(); }

    const tinyxml2::XMLElement* node(const std::string& name) const
    {
        for (auto* e = root()->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
            if (const char* n = e->Attribute("Name"); n != nullptr && name == n)
                return e;
        return nullptr;
    }
    std::string tag(const std::string& name) const
    {
        const auto* e = node(name);
        return e != nullptr ? e->Value() : "<missing>";
    }
    // The texts of the node's children of that tag, in order.
    std::vector<std::string> children(const std::string& name, const char* childTag) const
    {
        std::vector<std::string> out;
        if (const auto* e = node(name))
            for (auto* c = e->FirstChildElement(childTag); c != nullptr; c = c->NextSiblingElement(childTag))
                out.emplace_back(c->GetText() != nullptr ? c->GetText() : "");
        return out;
    }
    std::string child(const std::string& name, const char* childTag) const
    {
        const auto all = children(name, childTag);
        return all.size() == 1 ? all[0] : "<" + std::to_string(all.size()) + " children>";
    }
    // Entries in document order: name and value.
    std::vector<std::pair<std::string, int64_t>> entries(const std::string& name) const
    {
        std::vector<std::pair<std::string, int64_t>> out;
        for (const auto* e = entry(name, nullptr); e != nullptr; e = e->NextSiblingElement("EnumEntry")) {
            const auto* v = e->FirstChildElement("Value");
            out.emplace_back(e->Attribute("Name"), v != nullptr ? std::atoll(v->GetText()) : -1);
        }
        return out;
    }
    std::string entryChild(const std::string& name, const char* entryName, const char* childTag) const
    {
        const auto* e = entry(name, entryName);
        const auto* c = e != nullptr ? e->FirstChildElement(childTag) : nullptr;
        return c != nullptr && c->GetText() != nullptr ? c->GetText() : "<none>";
    }
    std::string variableName(const std::string& knife, const std::string& target) const
    {
        if (const auto* e = node(knife))
            for (auto* c = e->FirstChildElement("pVariable"); c != nullptr; c = c->NextSiblingElement("pVariable"))
                if (c->GetText() != nullptr && target == c->GetText())
                    return c->Attribute("Name") != nullptr ? c->Attribute("Name") : "<unnamed>";
        return "<none>";
    }

    // Pointer children (p + capital letter) that name no node, in entries too.
    std::vector<std::string> danglingPointers() const
    {
        std::set<std::string> names;
        for (auto* e = root()->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
            if (e->Attribute("Name") != nullptr)
                names.insert(e->Attribute("Name"));
        std::vector<std::string> problems;
        auto check = [&](const std::string& owner, const tinyxml2::XMLElement* parent) {
            for (auto* c = parent->FirstChildElement(); c != nullptr; c = c->NextSiblingElement()) {
                const char* t = c->Value();
                if (t[0] == 'p' && std::isupper(static_cast<unsigned char>(t[1])) &&
                    (c->GetText() == nullptr || names.count(c->GetText()) == 0))
                    problems.push_back(owner + "." + t + " -> " + (c->GetText() ? c->GetText() : ""));
            }
        };
        for (auto* e = root()->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
            const std::string owner = e->Attribute("Name") != nullptr ? e->Attribute("Name") : "?";
            check(owner, e);
            for (auto* x = e->FirstChildElement("EnumEntry"); x != nullptr; x = x->NextSiblingElement("EnumEntry"))
                check(owner + "/" + x->Attribute("Name"), x);
        }
        return problems;
    }

private:
    const tinyxml2::XMLElement* entry(const std::string& name, const char* entryName) const
    {
        const auto* e = node(name);
        for (auto* x = e != nullptr ? e->FirstChildElement("EnumEntry") : nullptr; x != nullptr;
             x = x->NextSiblingElement("EnumEntry"))
            if (entryName == nullptr || std::strcmp(x->Attribute("Name"), entryName) == 0)
                return x;
        return nullptr;
    }

    tinyxml2::XMLDocument m_Doc;
    tinyxml2::XMLError m_Status;
};

const Online& standard()
{
    static const Online online = goOnline(false, "127.0.3.1");
    return online;
}
const Online& orbalis()
{
    static const Online online = goOnline(true, "127.0.3.2");
    return online;
}

using Entries = std::vector<std::pair<std::string, int64_t>>;

TEST(Description, IsWellFormedAndEveryReferenceResolves)
{
    for (const Online* online : {&standard(), &orbalis()}) {
        Description d(online->xml);
        ASSERT_TRUE(d.parsed()) << online->xml.size() << " bytes";
        EXPECT_STREQ(d.root()->Value(), "RegisterDescription");
        EXPECT_EQ(d.danglingPointers(), std::vector<std::string>{});
    }
}

TEST(Description, CategoriesUnderRootWithTheirNamesAndVisibility)
{
    Description d(standard().xml);
    EXPECT_EQ(d.children("Root", "pFeature"),
              (std::vector<std::string>{"ImageFormatControl", "AcquisitionControl", "TransportLayerControl",
                                        "SourceControl", "TLParamsLockedCategory", "DigitalIOControl",
                                        "CounterAndTimerControl", "EncoderControl", "SignalControl", "Scan3dControl",
                                        "DeviceControl", "ChunkDataControl"}));
    const std::vector<std::pair<const char*, const char*>> names = {
        {"ImageFormatControl", "Image Format Control"}, {"AcquisitionControl", "Acquisition Control"},
        {"TransportLayerControl", "Transport Layer Control"}, {"SourceControl", "Source Control"},
        {"DigitalIOControl", "Digital IO Control"}, {"CounterAndTimerControl", "Counter And Timer Control"},
        {"EncoderControl", "Encoder Control"}, {"SignalControl", "Signal Control"},
        {"Scan3dControl", "Scan 3D Control"}, {"DeviceControl", "Device Control"},
        {"ChunkDataControl", "Chunk Data Control"}};
    for (const auto& [category, displayName] : names) {
        EXPECT_EQ(d.tag(category), "Category") << category;
        EXPECT_EQ(d.child(category, "DisplayName"), displayName) << category;
    }
    EXPECT_EQ(d.child("TLParamsLockedCategory", "Visibility"), "Invisible");
    EXPECT_EQ(d.child("SignalControl", "Visibility"), "Expert");
    EXPECT_EQ(d.children("TLParamsLockedCategory", "pFeature"), std::vector<std::string>{"TLParamsLocked"});
}

// Every row of the tables declared as it says: the node of its kind in its category, its own
// children and those of its register, its entries and its description.
TEST(Description, EveryTableRowIsDeclared)
{
    using namespace description;
    const std::map<Kind, std::string> tags = {{Kind::Integer, "Integer"},   {Kind::SignedInteger, "Integer"},
                                              {Kind::Float, "Float"},       {Kind::String, "StringReg"},
                                              {Kind::Boolean, "Boolean"},   {Kind::Command, "Command"},
                                              {Kind::Enumeration, "Enumeration"}};
    auto has = [](const std::vector<std::string>& all, const std::string& text) {
        return std::find(all.begin(), all.end(), text) != all.end();
    };
    Description d(standard().xml);
    for (const Section& s : Sections()) {
        const auto listed = d.children(s.category, "pFeature");
        for (const Feature& f : s.features) {
            const std::string name = f.name;
            if (f.kind != Kind::Default) {
                EXPECT_EQ(d.tag(name), tags.at(f.kind)) << name;
                EXPECT_TRUE(has(listed, name)) << name << " in " << s.category;
            }
            if (f.description != nullptr) {
                EXPECT_EQ(d.child(name, "Description"), f.description) << name;
            }
            for (const Child& c : f.children)
                EXPECT_TRUE(has(d.children(name, c.tag), c.text) || c.when == When::OrbalisOnly)
                    << name << " " << c.tag << " " << c.text;
            for (const Child& c : f.registerChildren)
                EXPECT_TRUE(has(d.children("reg" + name, c.tag), c.text)) << name << " reg " << c.tag << " " << c.text;
            for (const char* removed : f.removedChildren)
                EXPECT_EQ(d.children(name, removed).size(), 0u) << name << " " << removed;
            const Entries entries = d.entries(name);
            for (const Entry& e : f.entries) {
                const bool found = std::any_of(entries.begin(), entries.end(),
                                               [&](const auto& x) { return x.first == e.name; });
                EXPECT_TRUE(found) << name << " " << e.name;
                for (const Child& c : e.children)
                    EXPECT_EQ(d.entryChild(name, e.name, c.tag), c.text) << name << " " << e.name;
            }
        }
        for (const SwissKnife& k : s.swissKnives) {
            EXPECT_EQ(d.tag(k.name), "IntSwissKnife") << k.name;
            EXPECT_TRUE(has(listed, k.name)) << k.name;
        }
    }
}

TEST(Description, SwissKnivesAsSpecified)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> variables;  // name, node
        const char* formula;
    };
    const Case cases[] = {
        {"IntMono16Available", {{"VAR1", "ComponentSelector"}}, "(VAR1=1)"},
        {"IntMono10Available", {{"VAR1", "ComponentSelector"}}, "(VAR1=0)"},
        {"IntRangeAvailable", {{"VAR1", "ComponentSelector"}}, "(VAR1=1)"},
        {"IntIsScna3DExtract0OrLocked", {{"VAR2", "RegionSelector"}, {"VAR3", "regTLParamsLocked"}},
         "((VAR2=1)) || (VAR3 = 1)"},
        {"IntIsScna3DExtract0AndLocked", {{"VAR2", "RegionSelector"}, {"VAR3", "regTLParamsLocked"}},
         "(VAR2=1) && (VAR3 = 1)"},
        {"IntLineSourcesEnable", {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)?1:0"},
        {"IntFrameSourcesEnable", {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)||(VAR1=1)?1:0"},
        {"IntLineTriggerSelected", {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)?1:0"},
        {"IntFrameAndAcquisitionTriggerSelected", {{"VAR1", "regTriggerSelector"}}, "(VAR1=2||VAR1=1)?1:0"},
        {"IntTriggerActivationEnable1", {{"VAR1", "regTriggerSource"}, {"VAR2", "TriggerMode"}},
         "((VAR1>=1)&&(VAR1<=4))&&(VAR2=1)?1:0"},
        {"IntTriggerSourceValue1", {{"VAR", "regTriggerSource"}}, "(VAR>=0)&&(VAR<=4)?1:0"},
        {"IntTriggerSourceValue2", {{"VAR1", "regTriggerSource"}, {"VAR2", "regTriggerSelector"}},
         "(VAR1>=1)&&(VAR1<=6)&&(VAR2=0)?1:0"},
        {"IntLineMode", {{"VAR", "regLineMode"}}, "VAR=0?1:0"},
        {"IntEncoderSelectorValue1", {{"VAR", "regEncoderSelector"}}, "VAR=0?1:0"},
        {"IntScan3dCoordinateSelector", {{"VAR", "Scan3dCoordinateSelector"}}, "VAR=1?0:1"},
        {"IntScan3dCoordinateSelectorB", {{"VAR", "Scan3dCoordinateSelector"}}, "VAR=1?1:0"},
        {"disablescaleandoffset",
         {{"VAR1", "regRangePixelFormatMono16"}, {"VAR2", "Scan3dCoordinateSelector"}, {"VAR3", "regTLParamsLocked"}},
         "(VAR3=1) || (VAR2 = 2) || ((VAR2 = 0) && (VAR1 = 0))"},
    };
    Description d(standard().xml);
    for (const Case& c : cases) {
        EXPECT_EQ(d.tag(c.name), "IntSwissKnife") << c.name;
        EXPECT_EQ(d.child(c.name, "Formula"), c.formula) << c.name;
        EXPECT_EQ(d.child(c.name, "Visibility"), "Invisible") << c.name;
        EXPECT_EQ(d.children(c.name, "pVariable").size(), c.variables.size()) << c.name;
        for (const auto& [variable, target] : c.variables)
            EXPECT_EQ(d.variableName(c.name, target), variable) << c.name << " " << target;
    }
}

TEST(Description, KeyEnumerationsAndTheirEntries)
{
    Description d(standard().xml);
    EXPECT_EQ(d.entries("PixelFormat"), (Entries{{"Mono10", 0x01100003},
                                                 {"Mono10Packed", 0x010C0004},
                                                 {"Mono16", 0x01100007},
                                                 {"Coord3D_ABC32f", 0x026000C0}}));
    EXPECT_EQ(d.entryChild("PixelFormat", "Mono10", "pIsAvailable"), "IntMono10Available");
    EXPECT_EQ(d.entryChild("PixelFormat", "Mono10Packed", "pIsAvailable"), "IntMono10Available");
    EXPECT_EQ(d.entryChild("PixelFormat", "Mono16", "pIsAvailable"), "IntMono16Available");
    EXPECT_EQ(d.entryChild("PixelFormat", "Coord3D_ABC32f", "pIsAvailable"), "IntRangeAvailable");
    EXPECT_EQ(d.entries("ComponentSelector"), (Entries{{"Intensity", 0}, {"Range", 1}}));
    EXPECT_EQ(d.children("ComponentSelector", "pSelected"), (std::vector<std::string>{"ComponentEnable", "PixelFormat"}));
    EXPECT_EQ(d.entries("AcquisitionMode"), (Entries{{"Continuous", 1}, {"SingleFrame", 2}}));
    EXPECT_EQ(d.entries("TriggerSelector"), (Entries{{"LineStart", 0}, {"FrameStart", 1}, {"AcquisitionActive", 2}}));
    EXPECT_EQ(d.entries("TriggerSource"), (Entries{{"Line1", 1}, {"Line2", 2}, {"Line3", 3}, {"Line4", 4},
                                                   {"Encoder1", 5}, {"Encoder2", 6}, {"Software", 7}}));
    EXPECT_EQ(d.entryChild("TriggerSource", "Encoder2", "pIsAvailable"), "IntLineSourcesEnable");
    EXPECT_EQ(d.entryChild("TriggerSource", "Software", "pIsAvailable"), "IntFrameSourcesEnable");
    EXPECT_EQ(d.entryChild("TriggerSource", "Line1", "pIsAvailable"), "<none>");
    EXPECT_EQ(d.entries("EncoderOutputMode"), (Entries{{"PositionUp", 3}, {"PositionDown", 4}, {"DirectionUp", 0},
                                                       {"DirectionDown", 1}, {"Motion", 2}}));
    EXPECT_EQ(d.entryChild("LineSource", "FrameEnd", "Visibility"), "Invisible");
    EXPECT_EQ(d.entryChild("LineSource", "UserOutput", "Visibility"), "<none>");
}

TEST(Description, DefaultFeaturesAdjusted)
{
    Description d(standard().xml);
    EXPECT_EQ(d.children("Width", "Min").size(), 0u);
    EXPECT_EQ(d.child("Width", "pMin"), "regWidthMin");
    EXPECT_EQ(d.child("Width", "pMax"), "regWidthMax");
    EXPECT_EQ(d.child("Width", "pIsLocked"), "IntIsScna3DExtract0OrLocked");
    EXPECT_EQ(d.children("regWidth", "pInvalidator"),
              (std::vector<std::string>{"SourceSelector", "RegionSelector", "SignalEnable", "ComponentSelector"}));
    EXPECT_EQ(d.child("Height", "pIsLocked"), "IntIsScna3DExtract0AndLocked");
    EXPECT_EQ(d.child("OffsetX", "Min"), "0");
    EXPECT_EQ(d.children("OffsetX", "Max").size(), 0u);
    EXPECT_EQ(d.child("OffsetX", "Inc"), "32");
    EXPECT_EQ(d.child("OffsetY", "Inc"), "1");
    EXPECT_EQ(d.child("OffsetY", "pIsLocked"), "regRegionSelector");
    EXPECT_EQ(d.children("regWidthMax", "pInvalidator"),
              (std::vector<std::string>{"RegionSelector", "ComponentSelector", "SignalEnable", "OffsetX"}));
    EXPECT_EQ(d.child("AcquisitionMode", "Description"), "Sets the acquisition mode of the sensor");
    EXPECT_EQ(d.child("PayloadSize", "DisplayName"), "Payload Size");
    EXPECT_EQ(d.child("AcquisitionStop", "DisplayName"), "Acquisition Stop");
    EXPECT_EQ(d.child("ChunkEnable", "pIsLocked"), "regTLParamsLocked");
    EXPECT_EQ(d.child("ChunkSelector", "DisplayName"), "Chunk Selector");
    // The camera's own features appear once, where the camera put them.
    const auto listed = d.children("ImageFormatControl", "pFeature");
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), listed.size());
}

TEST(Description, TextsKeepTheDevicesSpelling)
{
    Description d(standard().xml);
    EXPECT_NE(d.child("Scan3dCoordinateSelector", "Description").find("\nCoordinatrB is for Encoder (Y) axis.\n"),
              std::string::npos);
    EXPECT_NE(d.child("TriggerDivider", "Description").find("incomming"), std::string::npos);
    EXPECT_NE(d.child("TriggerDelay", "Description").find("profile acquision in us"), std::string::npos);
    EXPECT_NE(d.child("TriggerDelay", "Description").find("AquisitionLineRate"), std::string::npos);
    EXPECT_NE(d.child("SyncOutDelay", "Description").find("the tigger of"), std::string::npos);
    EXPECT_EQ(d.tag("Scan3DSortX"), "Boolean");
}

TEST(Description, ValuesFromTheScanner)
{
    const Online& online = standard();
    Description d(online.xml);
    EXPECT_EQ(online.integers.at("SensorWidth"), 1280);
    EXPECT_EQ(online.integers.at("SensorHeight"), 1024);
    EXPECT_EQ(d.child("SensorWidth", "Min"), "1280");
    EXPECT_EQ(d.child("SensorWidth", "Max"), "1280");
    EXPECT_EQ(online.integers.at("SyncOut"), 321);
    EXPECT_EQ(online.integers.at("TLParamsLocked"), 0);
    EXPECT_EQ(d.child("SignalWidthMin", "Min"), "3");
    EXPECT_EQ(d.child("SignalWidthMin", "Max"), "40");
    EXPECT_EQ(d.child("EncoderValue", "Max"), "4294967294");
    EXPECT_FLOAT_EQ(online.temperature, 47.0f);
    const std::map<std::string, std::string> strings = {
        {"DeviceType", "Transmitter"},
        {"DeviceScanType", "Linescan3D"},
        {"DeviceModelName", "KTRA-1280"},
        {"DeviceVendorName", "Acme Optics"},
        {"DeviceVersion", "3.4"},
        {"DeviceFirmwareVersion", "1.5.2"},
        {"DeviceSerialNumber", "918273"},
        {"DeviceTLType", "GigEVision"},
        {"AcquisitionMode", "Continuous"},
        {"SignalSelection", "SignalWidth"},
        {"Scan3dCoordinateSelector", "CoordinateA"},
        {"TimerSelector", "Timer1"},
    };
    EXPECT_EQ(online.strings, strings);
    EXPECT_EQ(d.tag("DeviceType"), "StringReg");
    EXPECT_EQ(d.child("DeviceType", "AccessMode"), "RO");
    EXPECT_EQ(d.child("AsciiCommand", "AccessMode"), "RW");
}

TEST(Description, ChunkFeaturesReadTheirChunkPerLine)
{
    Description d(standard().xml);
    const std::vector<std::pair<const char*, const char*>> chunks = {
        {"ChunkPictureCounter", "fffff0"}, {"ChunkTimestamp", "fffff1"},    {"ChunkDeviceTemperature", "fffff2"},
        {"ChunkLineStatusAll", "fffff3"},  {"ChunkEncoderValue", "fffff4"}, {"ChunkScannerStatus", "fffff5"}};
    Entries selector;
    for (const auto& [name, id] : chunks) {
        selector.emplace_back(name, static_cast<int64_t>(selector.size()));
        const std::string n = name;
        EXPECT_EQ(d.tag(n), "Integer") << n;
        EXPECT_EQ(d.child(n + "Port", "ChunkID"), id) << n;
        EXPECT_EQ(d.child("reg" + n, "pPort"), n + "Port");
        EXPECT_EQ(d.child("reg" + n, "pAddress"), n + "Addr");
        EXPECT_EQ(d.child("reg" + n, "Endianess"), "LittleEndian");
        EXPECT_EQ(d.child(n + "Addr", "Formula"), "SEL * 4");
        EXPECT_EQ(d.variableName(n + "Addr", "regChunkScanLineSelector"), "SEL");
    }
    EXPECT_EQ(d.child("ChunkEncoderValue", "DisplayName"), "Chunk Encoder Value");
    EXPECT_EQ(d.child("ChunkPictureCounter", "DisplayName"), "Chunk Picture Counter");
    EXPECT_EQ(d.entries("ChunkSelector"), selector);
    EXPECT_EQ(d.child("ChunkScanLineSelector", "pMax"), "regScanLineSelectorMax");
    EXPECT_EQ(d.children("regChunkScanLineSelector", "pInvalidator"), std::vector<std::string>{"ScanLineSelectorMax"});
}

// -c changes the tree in six places, and nowhere else.
TEST(Description, OrbalisVariant)
{
    Description s(standard().xml), c(orbalis().xml);
    EXPECT_EQ(s.tag("Scan3DSortX"), "Boolean");
    EXPECT_EQ(c.tag("Scan3DSortX"), "<missing>");
    EXPECT_EQ(c.entries("AcquisitionMode"), (Entries{{"Continuous", 1}}));
    EXPECT_EQ(c.entries("TriggerSelector"), (Entries{{"LineStart", 0}, {"AcquisitionActive", 2}}));
    EXPECT_EQ(c.entries("Scan3dCoordinateSelector"), (Entries{{"CoordinateA", 0}, {"CoordinateC", 2}}));
    EXPECT_EQ(s.entries("Scan3dCoordinateSelector"), (Entries{{"CoordinateA", 0}, {"CoordinateB", 1}, {"CoordinateC", 2}}));
    EXPECT_EQ(c.children("LineSelector", "pSelected"),
              (std::vector<std::string>{"LineMode", "LineInverter", "LineSource", "UserOutputValue", "OutputFunction",
                                        "InputLoad"}));
    EXPECT_EQ(s.children("LineSelector", "pSelected").size(), 7u);
    EXPECT_EQ(c.children("EncoderSelector", "pSelected"),
              (std::vector<std::string>{"EncoderSourceA", "EncoderSourceB", "EncoderOutputMode", "EncoderResetSource",
                                        "EncoderReset", "EncoderResetActivation"}));
    EXPECT_EQ(s.children("EncoderSelector", "pSelected").size(), 7u);
    EXPECT_EQ(c.child("ChunkScanLineSelector", "Visibility"), "Invisible");
    EXPECT_EQ(s.children("ChunkScanLineSelector", "Visibility").size(), 0u);
    EXPECT_EQ(c.tag("LineStatus"), "Boolean");
    EXPECT_EQ(c.tag("EncoderValue"), "Integer");

    // Apart from those, the same nodes.
    std::set<std::string> onlyStandard;
    for (auto* e = s.root()->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
        if (c.node(e->Attribute("Name")) == nullptr)
            onlyStandard.insert(e->Attribute("Name"));
    EXPECT_EQ(onlyStandard, (std::set<std::string>{"Scan3DSortX", "regScan3DSortX"}));
}

// The tree only with a scanner, complete before Start: categories first, chunk features after
// the features, in record order with the encoder value signed.
TEST(Description, DeclaredBeforeStartOnlyWithAScanner)
{
    BridgeRig without(true);
    EXPECT_TRUE(without.bridge.BuildDescription("127.0.0.75", -1, ""));
    EXPECT_EQ(without.cameraLog->Count("AddRegisterFeature") + without.cameraLog->Count("AddChunkFeature") +
                  without.cameraLog->Count("AddCategory"),
              0u);

    BridgeRig with(true);
    scanner_sim::SettingsModel model;
    with.scanner.descriptor = model.DescriptorXml();
    ASSERT_TRUE(with.bridge.Connect("127.0.0.1", "", 32001));
    ASSERT_TRUE(with.bridge.BuildDescription("127.0.0.75", -1, ""));
    const std::vector<std::string> calls = with.cameraLog->Calls();
    auto first = [&](const std::string& prefix) {
        return std::find_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    auto last = [&](const std::string& prefix) {
        const auto found =
            std::find_if(calls.rbegin(), calls.rend(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
        return found == calls.rend() ? calls.end() : std::prev(found.base());
    };
    EXPECT_LT(first("SetUserDefinedName"), first("AddCategory"));
    EXPECT_LT(last("AddCategory"), first("AddRegisterFeature"));
    EXPECT_LT(last("AddRegisterFeature"), first("AddChunkFeature"));
    EXPECT_LT(last("SetFeatureChildValue"), first("Start"));
    EXPECT_EQ(with.cameraLog->Matching("AddChunkFeature"),
              (std::vector<std::string>{"AddChunkFeature 16777200 ChunkPictureCounter 1 4",
                                        "AddChunkFeature 16777201 ChunkTimestamp 1 4",
                                        "AddChunkFeature 16777202 ChunkDeviceTemperature 1 4",
                                        "AddChunkFeature 16777203 ChunkLineStatusAll 1 4",
                                        "AddChunkFeature 16777204 ChunkEncoderValue 2 4",
                                        "AddChunkFeature 16777205 ChunkScannerStatus 1 4"}));
    EXPECT_EQ(with.cameraLog->Matching("SetFeatureChildValue ChunkEncoderValue"),
              std::vector<std::string>{"SetFeatureChildValue ChunkEncoderValue DisplayName Chunk Encoder Value +"});
}

}  // namespace
}  // namespace lumabridge::test
