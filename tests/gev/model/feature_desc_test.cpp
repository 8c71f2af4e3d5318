#include "model/feature_desc.h"

#include "feature_test_support.h"
#include "feature_xml.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Kivu;
using testing_support::Children;
using testing_support::DescFixture;

namespace {

const char kFresh[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
    "<RegisterDescription VendorName=\"keltrix\" ModelName=\"GigECamera\" StandardNameSpace=\"GEV\" "
    "ToolTip=\"-\" SchemaMajorVersion=\"1\" SchemaMinorVersion=\"0\" SchemaSubMinorVersion=\"1\" "
    "MajorVersion=\"0\" MinorVersion=\"0\" SubMinorVersion=\"1\" "
    "ProductGuid=\"7E2B4C91-3A5D-4F08-9C6E-1D2A3B4C5D6E\" VersionGuid=\"*\" "
    "xmlns=\"http://www.genicam.org/GenApi/Version_1_0\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.genicam.org/GenApi/Version_1_0 "
    "http://www.genicam.org/GenApi/GenApiSchema_Version_1_0.xsd\">\n"
    "    <Category Name=\"Root\" NameSpace=\"Standard\" />\n"
    "    <Port Name=\"Device\" NameSpace=\"Standard\">\n"
    "        <Description>All access to the Camera is realized via the GigE Port</Description>\n"
    "    </Port>\n"
    "</RegisterDescription>\n";

std::vector<std::string> tags(const Children& children)
{
    std::vector<std::string> out;
    for (const auto& c : children)
        out.push_back(c.first);
    return out;
}

}  // namespace

TEST(FeatureDesc, FreshDescriptionPrintsDeclarationRootAndPortAfterRootCategory)
{
    DescFixture f;
    EXPECT_EQ(testing_support::maskVersionGuid(f.xml()), kFresh);
}

TEST(FeatureDesc, ChildrenAreInsertedInSchemaOrder)
{
    struct Case {
        const char* what;
        const char* tag;
        std::vector<const char*> added;  // in this order
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"Value at pValue's rank lands right after it", "Integer", {"pValue", "Inc", "Value"},
         {"pValue", "Value", "Inc"}},
        {"Min after Max lands before it", "Integer", {"Max", "Min"}, {"Min", "Max"}},
        {"common children go first", "Integer", {"pValue", "Max", "Description", "ToolTip"},
         {"ToolTip", "Description", "pValue", "Max"}},
        {"an unknown child tag is appended", "Integer", {"Max", "Frobnicate", "Min"},
         {"Min", "Max", "Frobnicate"}},
        {"an unknown element type appends everything", "Widget", {"Max", "Min", "Description"},
         {"Max", "Min", "Description"}},
        {"IntSwissKnife follows the SwissKnife order", "IntSwissKnife",
         {"Visibility", "pVariable", "Formula", "Description"},
         {"Description", "Visibility", "pVariable", "Formula"}},
        {"entries stand before the enumeration's pValue", "Enumeration", {"pValue", "EnumEntry", "Description"},
         {"Description", "EnumEntry", "pValue"}},
        {"repeated pFeature keep creation order", "Category", {"pFeature", "Description", "pFeature"},
         {"Description", "pFeature", "pFeature"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DescFixture f;
        ASSERT_EQ(f.desc->AddFeature(c.tag, "F", nullptr, nullptr), 0u);
        int n = 0;
        for (const char* child : c.added)
            ASSERT_EQ(f.desc->SetFeatureChildText("F", child, std::to_string(n++).c_str(), true), 0u);
        EXPECT_EQ(tags(testing_support::childrenOf(f.xml(), "F")), c.expected);
    }
}

TEST(FeatureDesc, RootChildrenAreGroupedByTypeInCreationOrder)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Enumeration", "E", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 0, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "B", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->AddCategory("C", nullptr), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    const Children expected = {{"Category", "Root"}, {"Category", "C"}, {"Integer", "B"}, {"Integer", "A"},
                               {"IntReg", "regA"},   {"Enumeration", "E"}, {"Port", "Device"}};
    EXPECT_EQ(testing_support::rootNodes(f.xml()), expected);
}

TEST(FeatureDesc, RegisterNodesTakeAddressesInDeclarationOrderAndNeverReuseThem)
{
    DescFixture f;
    struct Step {
        const char* name;
        uint32_t address;
        uint32_t length;
    };
    ASSERT_EQ(f.desc->AddIntRegUnsigned("regU", 1, 3, true), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regL", 2, 3, 8), 0u);
    ASSERT_EQ(f.desc->AddFloatReg("regF", 1.5f, 3), 0u);
    ASSERT_EQ(f.desc->AddStringReg("regS", 3), 0u);
    ASSERT_EQ(f.desc->RemoveFeature("regS"), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regI", 4, 3, 4), 0u);
    const Step steps[] = {{"regU", 0x10000, 4}, {"regL", 0x10004, 8}, {"regF", 0x1000C, 4}, {"regI", 0x10090, 4}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        uint32_t address = 0;
        ASSERT_EQ(f.desc->GetFeatureAddress(s.name, address), 0u);
        EXPECT_EQ(address, s.address);
        auto reg = f.tree->Find(s.address);
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->GetLength(), s.length);
        EXPECT_STREQ(reg->GetName(), s.name);
    }
    EXPECT_EQ(f.tree->Find(0x10010), nullptr);  // the removed string register
}

TEST(FeatureDesc, RegisterRefusedByTheTreeLeavesNoNodeAndKeepsTheAddress)
{
    DescFixture f;
    auto blocker = std::make_shared<UIntReg>(0x10000, 0xAAu, Access::ReadWrite, "blocker");
    ASSERT_TRUE(f.tree->AddRegister(blocker));
    EXPECT_EQ(f.desc->AddIntRegSigned("regA", 7, 3, 4), GevResult::Fail);
    uint32_t type = 0;
    EXPECT_EQ(f.desc->GetFeatureAddress("regA", type), GevResult::NotFound);
    EXPECT_EQ(f.tree->Find(0x10000), blocker);  // the blocker stays
    EXPECT_EQ(f.xml().find("regA"), std::string::npos);

    f.tree->RemoveRegister(0x10000);
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 7, 3, 4), 0u);
    uint32_t address = 0;
    ASSERT_EQ(f.desc->GetFeatureAddress("regA", address), 0u);
    EXPECT_EQ(address, 0x10000u);
}

TEST(FeatureDesc, RemovingAFeatureUnlistsItFromItsCategoryAndDropsItsRegister)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddCategory("Cat", nullptr), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regW", 5, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "W", "Standard", "Cat"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "H", "Standard", "Cat"), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("W", "pValue", "regW", false), 0u);
    ASSERT_EQ(f.desc->LinkFeatureRegister("W", "regW"), 0u);

    ASSERT_EQ(f.desc->RemoveFeature("W"), 0u);
    EXPECT_EQ(testing_support::childrenOf(f.xml(), "Cat"), (Children{{"pFeature", "H"}}));
    EXPECT_EQ(f.tree->Find(0x10000), nullptr);
    EXPECT_EQ(testing_support::rootNodes(f.xml()).size(), 4u);  // Root, Cat, H, Device
    EXPECT_EQ(f.desc->RemoveFeature("W"), GevResult::NotFound);
}

TEST(FeatureDesc, RemovingACategoryBeforeItsFeaturesIsSafe)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddCategory("Cat", nullptr), 0u);
    ASSERT_EQ(f.desc->AddCategory("Sub", "Cat"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, "Sub"), 0u);
    ASSERT_EQ(f.desc->RemoveFeature("Sub"), 0u);
    EXPECT_EQ(testing_support::childrenOf(f.xml(), "Cat"), Children{});
    ASSERT_EQ(f.desc->RemoveFeature("Cat"), 0u);
    ASSERT_EQ(f.desc->RemoveFeature("A"), 0u);
    EXPECT_EQ(testing_support::childrenOf(f.xml(), "Root"), Children{});
    EXPECT_EQ(testing_support::integrityProblems(f.xml()), std::vector<std::string>{});
}

TEST(FeatureDesc, DestructionTakesRegistersOutOfTheTreeAndHooksOffKeptRegisters)
{
    auto tree = std::make_shared<RegTree>(0, 0x80000000);
    int calls = 0;
    auto count = [](void* c, const char*) {
        ++*static_cast<int*>(c);
        return true;
    };
    std::shared_ptr<Register> kept;
    {
        FeatureDesc desc(tree);
        ASSERT_EQ(desc.AddIntRegUnsigned("regA", 1, 3, true), 0u);
        ASSERT_EQ(desc.AddStringReg("regS", 3), 0u);
        ASSERT_EQ(desc.AddFeature("Integer", "A", nullptr, nullptr), 0u);
        ASSERT_EQ(desc.SetFeatureChildText("A", "pValue", "regA", false), 0u);
        desc.SetWriteCallback(&calls, count);
        desc.EnableCallbacks(true);
        kept = tree->Find(0x10000);
        ASSERT_TRUE(static_cast<UIntReg&>(*kept).SetValue(2));
        ASSERT_EQ(calls, 1);
    }
    EXPECT_EQ(tree->Find(0x10000), nullptr);
    EXPECT_EQ(tree->Find(0x10004), nullptr);
    EXPECT_TRUE(static_cast<UIntReg&>(*kept).SetValue(3));
    EXPECT_EQ(calls, 1);
}
