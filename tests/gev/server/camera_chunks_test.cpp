#include "camera_fixture.h"

#include "../model/feature_xml.h"

#include <tinyxml2.h>

#include <algorithm>
#include <string>
#include <vector>

namespace camera_test {
namespace {

using testing_support::Children;
using testing_support::childrenOf;

constexpr uint32_t kExists = 0x8009000F;

class ChunkTest : public CameraTest {
protected:
    std::string xml()
    {
        const auto printed = camera->Features()->GetXml();
        return std::string(printed->data(), printed->length);
    }

    // The selector group in "ChunkDataControl" and the scan-line selector the
    // per-line address nodes read.
    void declareGroup()
    {
        ASSERT_EQ(camera->AddChunkSelectorFeatures("ChunkDataControl"), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(1, "ChunkScanLineSelector", "ChunkDataControl", 3, nullptr, 1), 0u);
    }

    uint32_t entryValue(const char* entry)
    {
        tinyxml2::XMLDocument doc;
        const std::string text = xml();
        doc.Parse(text.c_str(), text.size());
        for (auto* e = doc.RootElement()->FirstChildElement("Enumeration"); e != nullptr;
             e = e->NextSiblingElement("Enumeration")) {
            if (std::string(e->Attribute("Name")) != "ChunkSelector")
                continue;
            for (auto* x = e->FirstChildElement("EnumEntry"); x != nullptr; x = x->NextSiblingElement("EnumEntry"))
                if (std::string(x->Attribute("Name")) == entry)
                    return static_cast<uint32_t>(std::stoul(x->FirstChildElement("Value")->GetText()));
        }
        ADD_FAILURE() << "no ChunkSelector entry " << entry;
        return UINT32_MAX;
    }

    bool listedIn(const std::string& category, const std::string& feature)
    {
        for (const auto& [tag, text] : childrenOf(xml(), category))
            if (tag == "pFeature" && text == feature)
                return true;
        return false;
    }

    void expectValid()
    {
        const std::string text = xml();
        const auto lint = testing_support::xmllint(text);
        EXPECT_EQ(lint.status, 0) << lint.output;
        EXPECT_EQ(testing_support::integrityProblems(text), std::vector<std::string>{});
    }
};

TEST_F(ChunkTest, SelectorGroup)
{
    EXPECT_EQ(camera->AddChunkSelectorFeatures(nullptr), GevResult::InvalidArgument);
    ASSERT_EQ(camera->AddChunkSelectorFeatures("ChunkDataControl"), 0u);
    EXPECT_TRUE(listedIn("ChunkDataControl", "ChunkSelector"));
    EXPECT_TRUE(listedIn("ChunkDataControl", "ChunkEnable"));
    EXPECT_EQ(childrenOf(xml(), "ChunkSelector"),
              (Children{{"Description", "Selects which chunk to enable or control"},
                        {"Streamable", "Yes"},
                        {"pValue", "regChunkSelector"},
                        {"pSelected", "ChunkEnable"}}));
    EXPECT_EQ(childrenOf(xml(), "ChunkEnable"),
              (Children{{"Description", "Enables the inclusion of the selected chunk data in the frame"},
                        {"Streamable", "Yes"},
                        {"pValue", "regChunkEnable"}}));
    const Children reg = childrenOf(xml(), "regChunkEnable");
    EXPECT_NE(std::find(reg.begin(), reg.end(), std::pair<std::string, std::string>{"Cachable", "NoCache"}),
              reg.end());

    // A second call finds the group in place and still succeeds, adding nothing twice.
    EXPECT_EQ(camera->AddChunkSelectorFeatures("ChunkDataControl"), 0u);
    expectValid();
}

TEST_F(ChunkTest, PerLineChunkRefusesBadArgumentsAndAddsNothing)
{
    declareGroup();
    const std::string before = xml();
    struct Case {
        const char* name;
        uint16_t kind;
        int32_t bytes;
    };
    const Case cases[] = {{"ChunkA", 1, 8}, {"ChunkA", 1, 2}, {"ChunkA", 1, 0}, {"ChunkA", 1, -4},
                          {"ChunkA", 0, 4}, {"ChunkA", 4, 4}, {"ChunkA", 7, 4}, {nullptr, 1, 4}};
    for (const Case& c : cases)
        EXPECT_EQ(camera->AddChunkFeature(0x10, c.name, "ChunkDataControl", c.kind, c.bytes, nullptr),
                  GevResult::InvalidArgument)
            << c.kind << " " << c.bytes;
    EXPECT_EQ(xml(), before);
    // No selector value was used up.
    ASSERT_EQ(camera->AddChunkFeature(0x10, "ChunkA", "ChunkDataControl", 3, 4, nullptr), 0u);
    EXPECT_EQ(entryValue("ChunkA"), 0u);
}

TEST_F(ChunkTest, PerLineChunkNodes)
{
    declareGroup();
    ASSERT_EQ(camera->AddCategory("Scan", nullptr), 0u);
    // Selector values count the chunks, whatever their ids.
    ASSERT_EQ(camera->AddChunkFeature(0xABCD, "ChunkLineValue", "Scan", 1, 4, nullptr), 0u);
    ASSERT_EQ(camera->AddChunkFeature(0x3, "ChunkOther", "Scan", 2, 4, nullptr), 0u);
    EXPECT_EQ(entryValue("ChunkLineValue"), 0u);
    EXPECT_EQ(entryValue("ChunkOther"), 1u);

    const std::string text = xml();
    EXPECT_EQ(testing_support::attributeOf(text, "ChunkLineValueAddr", "NameSpace"), "Standard");
    EXPECT_EQ(childrenOf(text, "ChunkLineValueAddr"),
              (Children{{"Visibility", "Invisible"},
                        {"pVariable", "regChunkScanLineSelector"},
                        {"Formula", "SEL * 4"}}));
    tinyxml2::XMLDocument doc;
    doc.Parse(text.c_str(), text.size());
    const tinyxml2::XMLElement* knife = doc.RootElement()->FirstChildElement("IntSwissKnife");
    ASSERT_NE(knife, nullptr);
    EXPECT_STREQ(knife->Attribute("Name"), "ChunkLineValueAddr");
    EXPECT_STREQ(knife->FirstChildElement("pVariable")->Attribute("Name"), "SEL");
    // The address node is listed in ChunkDataControl, the value in the given category.
    EXPECT_TRUE(listedIn("ChunkDataControl", "ChunkLineValueAddr"));
    EXPECT_FALSE(listedIn("Scan", "ChunkLineValueAddr"));
    EXPECT_TRUE(listedIn("Scan", "ChunkLineValue"));

    EXPECT_EQ(testing_support::attributeOf(text, "ChunkLineValue", "NameSpace"), "Standard");
    EXPECT_EQ(childrenOf(text, "ChunkLineValue"), (Children{{"pValue", "regChunkLineValue"}}));
    EXPECT_EQ(childrenOf(text, "regChunkLineValue"),
              (Children{{"pAddress", "ChunkLineValueAddr"},
                        {"Length", "4"},
                        {"AccessMode", "RO"},
                        {"pPort", "ChunkLineValuePort"},
                        {"Sign", "Unsigned"},
                        {"Endianess", "LittleEndian"}}));
    EXPECT_EQ(testing_support::attributeOf(text, "ChunkLineValuePort", "NameSpace"), "<none>");
    EXPECT_EQ(childrenOf(text, "ChunkLineValuePort"), (Children{{"ChunkID", "abcd"}}));
    EXPECT_EQ(childrenOf(text, "ChunkOtherPort"), (Children{{"ChunkID", "3"}}));
    expectValid();
}

TEST_F(ChunkTest, BlockChunkKinds)
{
    struct Case {
        uint16_t kind;
        uint32_t length;
        uint32_t result;
        const char* tag;   // of the feature node
        Children value;    // children of the value node, from Address on
    };
    const Case cases[] = {
        {1, 8, 0, "Integer",
         {{"Address", "0x0"}, {"Length", "8"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"},
          {"Sign", "Unsigned"}, {"Endianess", "BigEndian"}}},
        {0, 2, 0, "Integer",
         {{"Address", "0x0"}, {"Length", "2"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"},
          {"Sign", "Signed"}, {"Endianess", "BigEndian"}}},
        {3, 8, 0, "Float",
         {{"Address", "0x0"}, {"Length", "8"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"},
          {"Endianess", "BigEndian"}}},
        {5, 1, 0, "Boolean",
         {{"Address", "0x0"}, {"Length", "1"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"},
          {"Sign", "Signed"}, {"Endianess", "BigEndian"}}},
        {4, 20, 0, "StringReg",
         {{"Address", "0x0"}, {"Length", "20"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"}}},
        {4, 128, 0, "StringReg",
         {{"Address", "0x0"}, {"Length", "128"}, {"AccessMode", "RO"}, {"pPort", "CPort"}, {"Cachable", "NoCache"}}},
        {4, 129, GevResult::InvalidArgument, nullptr, {}},
        {1, 9, GevResult::InvalidArgument, nullptr, {}},
        {3, 2, GevResult::InvalidArgument, nullptr, {}},
        {1, 0, GevResult::InvalidArgument, nullptr, {}},
        {6, 4, GevResult::InvalidArgument, nullptr, {}},
        {8, 4, GevResult::InvalidArgument, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + std::to_string(c.length));
        make(defaultNet());
        declareGroup();
        ASSERT_EQ(camera->AddCategory("Data", nullptr), 0u);
        const std::string before = xml();
        ASSERT_EQ(camera->AddChunk(0x1001, "C", "Data", c.kind, c.length, "A chunk"), c.result);
        if (c.result != 0) {
            EXPECT_EQ(xml(), before);
            continue;
        }
        const std::string text = xml();
        const std::string valueNode = c.kind == 4 ? "C" : "regC";
        Children value = childrenOf(text, valueNode);
        while (!value.empty() && value.front().first != "Address")
            value.erase(value.begin());
        EXPECT_EQ(value, c.value);
        EXPECT_TRUE(listedIn("Data", "C"));
        EXPECT_EQ(childrenOf(text, "CPort"), (Children{{"ChunkID", "1001"}}));
        EXPECT_EQ(entryValue("C"), 0u);
        std::string description;
        EXPECT_EQ(camera->Features()->GetFeatureChildValue("C", "Description", description), 0u);
        EXPECT_EQ(description, "A chunk");
        expectValid();
    }
}

TEST_F(ChunkTest, StringChunkAvailabilityFollowsChunkModeActive)
{
    declareGroup();
    ASSERT_EQ(camera->AddChunk(0x20, "ChunkName", "ChunkDataControl", 4, 16, nullptr), 0u);
    std::string text;
    EXPECT_EQ(camera->Features()->GetFeatureChildValue("ChunkName", "pIsAvailable", text), GevResult::NotFound);
    ASSERT_EQ(camera->AddRegisterFeature(5, "ChunkModeActive", "ChunkDataControl", 3, nullptr, 1), 0u);
    ASSERT_EQ(camera->AddChunk(0x21, "ChunkLabel", "ChunkDataControl", 4, 16, nullptr), 0u);
    ASSERT_EQ(camera->Features()->GetFeatureChildValue("ChunkLabel", "pIsAvailable", text), 0u);
    EXPECT_EQ(text, "ChunkModeActive");
    expectValid();
}

TEST_F(ChunkTest, CounterIsSharedByBothBuildersAndPerCamera)
{
    declareGroup();
    ASSERT_EQ(camera->AddChunk(0x1001, "ChunkTimestamp", "ChunkDataControl", 1, 8, nullptr), 0u);
    ASSERT_EQ(camera->AddChunkFeature(0x1003, "ChunkLineValue", "ChunkDataControl", 1, 4, nullptr), 0u);
    ASSERT_EQ(camera->AddChunk(0x1002, "ChunkFrameCounter", "ChunkDataControl", 1, 4, nullptr), 0u);
    EXPECT_EQ(entryValue("ChunkTimestamp"), 0u);
    EXPECT_EQ(entryValue("ChunkLineValue"), 1u);
    EXPECT_EQ(entryValue("ChunkFrameCounter"), 2u);

    Kivu::Camera other(net);
    ASSERT_EQ(other.AddChunkSelectorFeatures("ChunkDataControl"), 0u);
    ASSERT_EQ(other.AddRegisterFeature(1, "ChunkScanLineSelector", "ChunkDataControl", 3, nullptr, 1), 0u);
    ASSERT_EQ(other.AddChunkFeature(0x9, "ChunkX", "ChunkDataControl", 1, 4, nullptr), 0u);
    uint32_t value = UINT32_MAX;
    ASSERT_EQ(other.Features()->SetEnumValue("ChunkSelector", "ChunkX"), 0u);
    ASSERT_EQ(other.Features()->GetUInt32("ChunkSelector", value), 0u);
    EXPECT_EQ(value, 0u);

    // Local reads of a chunk value whose length the backing register does not
    // have are refused, not read past the register.
    int64_t v = 0;
    EXPECT_NE(camera->GetIntegerValue("ChunkTimestamp", &v), 0u);
}

// A builder that cannot complete leaves the description as it was and does not
// use up a selector value; a name in use is refused without touching its nodes.
TEST_F(ChunkTest, FailedBuildLeavesNothingBehind)
{
    // No ChunkSelector yet.
    std::string before = xml();
    EXPECT_EQ(camera->AddChunk(0x1, "ChunkA", nullptr, 1, 4, nullptr), GevResult::NotFound);
    EXPECT_EQ(camera->AddChunkFeature(0x1, "ChunkA", nullptr, 1, 4, nullptr), GevResult::NotFound);
    EXPECT_EQ(xml(), before);

    // The selector group in another category: the per-line address node has no home.
    ASSERT_EQ(camera->AddChunkSelectorFeatures("Chunks"), 0u);
    before = xml();
    EXPECT_EQ(camera->AddChunkFeature(0x1, "ChunkA", "Chunks", 1, 4, nullptr), GevResult::NotFound);
    EXPECT_EQ(xml(), before);
    // A category that does not exist.
    EXPECT_EQ(camera->AddChunk(0x1, "ChunkA", "Nowhere", 4, 8, nullptr), GevResult::NotFound);
    EXPECT_EQ(camera->AddChunk(0x1, "ChunkA", "Nowhere", 1, 4, nullptr), GevResult::NotFound);
    EXPECT_EQ(xml(), before);

    ASSERT_EQ(camera->AddChunk(0x1, "ChunkA", "Chunks", 1, 4, nullptr), 0u);
    EXPECT_EQ(entryValue("ChunkA"), 0u);
    ASSERT_EQ(camera->AddFeatureNode("Integer", "ChunkBPort", "Chunks", 1), 0u);
    before = xml();
    EXPECT_EQ(camera->AddChunk(0x2, "ChunkA", "Chunks", 1, 4, nullptr), kExists);
    EXPECT_EQ(camera->AddChunk(0x3, "ChunkB", "Chunks", 1, 4, nullptr), kExists);
    EXPECT_EQ(xml(), before);
    ASSERT_EQ(camera->AddChunk(0x4, "ChunkC", "Chunks", 1, 4, nullptr), 0u);
    EXPECT_EQ(entryValue("ChunkC"), 1u);
}

}  // namespace
}  // namespace camera_test
