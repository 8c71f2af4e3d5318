#include "model/feature_desc.h"

#include "feature_test_support.h"
#include "feature_xml.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Kivu;
using testing_support::Children;
using testing_support::childrenOf;
using testing_support::DescFixture;

TEST(FeatureWriters, RegisterNodes)
{
    struct Case {
        const char* what;
        std::function<uint32_t(FeatureDesc&)> write;
        const char* tag;
        const char* nameSpace;
        Children children;
        uint32_t type, length, access;
        uint32_t nextAddress;
    };
    const Case cases[] = {
        {"signed, 8 bytes", [](FeatureDesc& d) { return d.AddIntRegSigned("regX", 7, 3, 8); }, "IntReg", "Custom",
         {{"Address", "0x10000"}, {"Length", "8"}, {"AccessMode", "RW"}, {"pPort", "Device"}, {"Sign", "Signed"},
          {"Endianess", "BigEndian"}},
         RegType::Int64, 8, 3, 0x10008},
        {"signed, 4 bytes, read-only", [](FeatureDesc& d) { return d.AddIntRegSigned("regX", -1, 1, 4); }, "IntReg",
         "Custom",
         {{"Address", "0x10000"}, {"Length", "4"}, {"AccessMode", "RO"}, {"pPort", "Device"}, {"Sign", "Signed"},
          {"Endianess", "BigEndian"}},
         RegType::Int32, 4, 1, 0x10004},
        {"unsigned, custom", [](FeatureDesc& d) { return d.AddIntRegUnsigned("regX", 5, 2, true); }, "IntReg",
         "Custom",
         {{"Address", "0x10000"}, {"Length", "4"}, {"AccessMode", "WO"}, {"pPort", "Device"}, {"Sign", "Unsigned"},
          {"Endianess", "BigEndian"}},
         RegType::UInt32, 4, 2, 0x10004},
        {"unsigned, no name space", [](FeatureDesc& d) { return d.AddIntRegUnsigned("regX", 5, 0, false); },
         "IntReg", "<none>",
         {{"Address", "0x10000"}, {"Length", "4"}, {"AccessMode", "NA"}, {"pPort", "Device"}, {"Sign", "Unsigned"},
          {"Endianess", "BigEndian"}},
         RegType::UInt32, 4, 0, 0x10004},
        {"float", [](FeatureDesc& d) { return d.AddFloatReg("regX", 2.5f, 3); }, "FloatReg", "Custom",
         {{"Address", "0x10000"}, {"Length", "4"}, {"AccessMode", "RW"}, {"pPort", "Device"},
          {"Endianess", "BigEndian"}},
         RegType::Float, 4, 3, 0x10004},
        {"string", [](FeatureDesc& d) { return d.AddStringReg("regX", 1); }, "StringReg", "Standard",
         {{"Address", "0x10000"}, {"Length", "128"}, {"AccessMode", "RO"}, {"pPort", "Device"}},
         RegType::String, 128, 1, 0x10080},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DescFixture f;
        ASSERT_EQ(c.write(*f.desc), 0u);
        const std::string xml = f.xml();
        EXPECT_EQ(childrenOf(xml, "regX"), c.children);
        EXPECT_EQ(testing_support::attributeOf(xml, "regX", "NameSpace"), c.nameSpace);
        auto reg = f.tree->Find(0x10000);
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->GetType(), c.type);
        EXPECT_EQ(reg->GetLength(), c.length);
        EXPECT_EQ(reg->GetAccess(), c.access);
        ASSERT_EQ(f.desc->AddIntRegSigned("next", 0, 3, 4), 0u);
        uint32_t next = 0;
        ASSERT_EQ(f.desc->GetFeatureAddress("next", next), 0u);
        EXPECT_EQ(next, c.nextAddress);
    }
}

TEST(FeatureWriters, DefaultsReachTheRegisters)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddIntRegSigned("regI", -7, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regL", -8, 3, 8), 0u);
    ASSERT_EQ(f.desc->AddIntRegUnsigned("regU", 0xFFFFFFF0u, 3, true), 0u);
    ASSERT_EQ(f.desc->AddFloatReg("regF", 2.5f, 3), 0u);
    uint32_t status = 0;
    EXPECT_EQ(__builtin_bswap32(f.tree->ReadRegister(0x10000, &status, Origin::Remote)), uint32_t(-7));
    uint8_t eight[8];
    ASSERT_EQ(f.tree->ReadMemory(0x10004, eight, 8, Origin::Remote), 0u);
    EXPECT_EQ(eight[7], 0xF8);
    EXPECT_EQ(eight[0], 0xFF);
    EXPECT_EQ(__builtin_bswap32(f.tree->ReadRegister(0x1000C, &status, Origin::Remote)), 0xFFFFFFF0u);
    EXPECT_EQ(__builtin_bswap32(f.tree->ReadRegister(0x10010, &status, Origin::Remote)), 0x40200000u);
}

TEST(FeatureWriters, NameAlreadyTakenCodes)
{
    struct Case {
        const char* what;
        std::function<uint32_t(FeatureDesc&)> write;
        uint32_t status;
    };
    const Case cases[] = {
        {"category", [](FeatureDesc& d) { return d.AddCategory("Taken", nullptr); }, GevResult::Exists},
        {"feature", [](FeatureDesc& d) { return d.AddFeature("Integer", "Taken", nullptr, nullptr); },
         GevResult::Fail},
        {"signed register", [](FeatureDesc& d) { return d.AddIntRegSigned("Taken", 0, 3, 4); }, GevResult::Fail},
        {"unsigned register", [](FeatureDesc& d) { return d.AddIntRegUnsigned("Taken", 0, 3, true); },
         GevResult::Exists},
        {"float register", [](FeatureDesc& d) { return d.AddFloatReg("Taken", 0, 3); }, GevResult::Fail},
        {"string register", [](FeatureDesc& d) { return d.AddStringReg("Taken", 3); }, GevResult::Fail},
        {"the root category's name", [](FeatureDesc& d) { return d.AddCategory("Root", nullptr); },
         GevResult::Exists},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DescFixture f;
        ASSERT_EQ(f.desc->AddFeature("Integer", "Taken", nullptr, nullptr), 0u);
        const std::string before = f.xml();
        EXPECT_EQ(c.write(*f.desc), c.status);
        EXPECT_EQ(f.xml(), before);
        EXPECT_EQ(f.tree->Find(0x10000), nullptr);
    }
}

TEST(FeatureWriters, ArgumentAndLookupErrors)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Integer", "I", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->AddFeature("Enumeration", "E", nullptr, nullptr), 0u);
    struct Case {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t status;
    };
    FeatureDesc& d = *f.desc;
    const Case cases[] = {
        {"null category name", [&] { return d.AddCategory(nullptr, nullptr); }, GevResult::InvalidArgument},
        {"null tag", [&] { return d.AddFeature(nullptr, "X", nullptr, nullptr); }, GevResult::InvalidArgument},
        {"missing parent category", [&] { return d.AddCategory("X", "Nope"); }, GevResult::NotFound},
        {"parent that is no category", [&] { return d.AddFeature("Integer", "X", nullptr, "I"); },
         GevResult::NotFound},
        {"register length 2", [&] { return d.AddIntRegSigned("X", 0, 3, 2); }, GevResult::InvalidArgument},
        {"entry of a missing enumeration", [&] { return d.AddEnumEntry("Nope", "A", 1); }, GevResult::NotFound},
        {"entry of a non-enumeration", [&] { return d.AddEnumEntry("I", "A", 1); }, GevResult::Fail},
        {"child text of a missing feature", [&] { return d.SetFeatureChildText("Nope", "Min", "1", false); },
         GevResult::NotFound},
        {"entry child of a missing entry", [&] { return d.SetEntryChildText("E", "Nope", "Symbolic", "x", false); },
         GevResult::Fail},
        {"number child of a missing feature", [&] { return d.SetChildInt32("Nope", "Min", 1); },
         GevResult::NotFound},
        {"attribute of a missing child", [&] { return d.SetFeatureChildAttribute("I", "Min", nullptr, "a", "b"); },
         GevResult::NotFound},
        {"link to a missing node", [&] { return d.LinkFeatureRegister("I", "Nope"); }, GevResult::NotFound},
        {"link from a register node", [&] {
             d.AddIntRegSigned("regR", 0, 3, 4);
             return d.LinkFeatureRegister("regR", "regR");
         }, GevResult::Fail},
        {"access of a feature without register", [&] { return d.SetAccessMode("I", 1); }, GevResult::NoAccess},
        {"access of a null name", [&] { return d.SetAccessMode(nullptr, 1); }, GevResult::NoAccess},
        {"removing a missing entry's enumeration", [&] { return d.RemoveEnumEntry("Nope", "A"); },
         GevResult::NotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.status);
    }
}

TEST(FeatureWriters, UnknownAccessRaisesBeforeAnythingIsBuilt)
{
    DescFixture f;
    const std::string before = f.xml();
    const std::function<uint32_t()> writers[] = {
        [&] { return f.desc->AddIntRegSigned("regA", 0, 4, 4); },
        [&] { return f.desc->AddIntRegUnsigned("regA", 0, 4, true); },
        [&] { return f.desc->AddFloatReg("regA", 0, 7); },
        [&] { return f.desc->AddStringReg("regA", 0xFFFFFFFF); },
    };
    for (const auto& w : writers) {
        try {
            w();
            ADD_FAILURE() << "no exception";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Unknown access value\n");
        }
    }
    EXPECT_EQ(f.xml(), before);
    EXPECT_EQ(f.tree->Find(0x10000), nullptr);
    // The lock was given back and the address not used.
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 0, 3, 4), 0u);
    uint32_t address = 0;
    ASSERT_EQ(f.desc->GetFeatureAddress("regA", address), 0u);
    EXPECT_EQ(address, 0x10000u);
    EXPECT_THROW(f.desc->SetAccessMode("regA", 4), std::logic_error);
    uint32_t access = 9;
    ASSERT_EQ(f.desc->GetAccessMode("regA", access), 0u);
    EXPECT_EQ(access, 3u);
}

TEST(FeatureWriters, CategoriesListTheirFeatures)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddCategory("Cat", nullptr), 0u);
    ASSERT_EQ(f.desc->AddCategory("Sub", "Cat"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", "Standard", "Sub"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "B", "Custom", nullptr), 0u);
    const std::string xml = f.xml();
    EXPECT_EQ(childrenOf(xml, "Root"), (Children{{"pFeature", "Cat"}}));
    EXPECT_EQ(childrenOf(xml, "Cat"), (Children{{"pFeature", "Sub"}}));
    EXPECT_EQ(childrenOf(xml, "Sub"), (Children{{"pFeature", "A"}}));
    EXPECT_EQ(testing_support::attributeOf(xml, "Cat", "NameSpace"), "Standard");
    EXPECT_EQ(testing_support::attributeOf(xml, "B", "NameSpace"), "Custom");
}

TEST(FeatureWriters, ChildTextsAreReplacedOrAppended)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "Description", "one", false), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "Description", "two", false), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Description", "two"}}));
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "Description", "three", true), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Description", "two"}, {"Description", "three"}}));

    ASSERT_EQ(f.desc->SetFeatureChildAttribute("A", "Description", "three", "Lang", "en"), 0u);
    EXPECT_NE(f.xml().find("<Description Lang=\"en\">three</Description>"), std::string::npos);
    ASSERT_EQ(f.desc->RemoveFeatureChild("A", "Description", "two"), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Description", "three"}}));
}

TEST(FeatureWriters, NumberChildren)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    const uint64_t big = (uint64_t(1) << 63) + 1;
    ASSERT_EQ(f.desc->SetMaxUInt64("A", big), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Max", "9223372036854775809"}}));
    ASSERT_EQ(f.desc->SetMaxUInt64("A", big), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Max", "9223372036854775809"}}));

    ASSERT_EQ(f.desc->SetChildInt32("A", "Min", -5), 0u);
    ASSERT_EQ(f.desc->SetChildUInt32("A", "Inc", 4000000000u), 0u);
    ASSERT_EQ(f.desc->SetChildInt64("A", "Value", INT64_MIN), 0u);
    EXPECT_EQ(childrenOf(f.xml(), "A"), (Children{{"Value", "-9223372036854775808"},
                                                  {"Min", "-5"},
                                                  {"Max", "9223372036854775809"},
                                                  {"Inc", "4000000000"}}));

    ASSERT_EQ(f.desc->AddFeature("Float", "F", nullptr, nullptr), 0u);
    for (float v : {0.1f, 1e-7f, FLT_MAX}) {
        ASSERT_EQ(f.desc->SetChildFloat("F", "Value", v), 0u);
        float back = 0;
        ASSERT_EQ(f.desc->GetFloat("F", back), 0u);
        EXPECT_EQ(back, v);
        EXPECT_EQ(std::stof(childrenOf(f.xml(), "F")[0].second), v);
    }
}

TEST(FeatureWriters, SettingANumberOfAnotherKindRetypesTheChild)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetChildInt64("A", "Value", 1), 0u);
    ASSERT_EQ(f.desc->SetChildInt32("A", "Value", -3), 0u);
    int32_t i = 0;
    ASSERT_EQ(f.desc->GetInt32("A", i), 0u);
    EXPECT_EQ(i, -3);
    int64_t l = 0;
    EXPECT_EQ(f.desc->GetInt64("A", l), GevResult::Fail);  // now a 32-bit value

    // A text written over a number child is what the value reads.
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "Value", "12", false), 0u);
    ASSERT_EQ(f.desc->GetInt32("A", i), 0u);
    EXPECT_EQ(i, 12);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "Value", "twelve", false), 0u);
    EXPECT_EQ(f.desc->GetInt32("A", i), GevResult::Fail);
}

TEST(FeatureWriters, EnumerationEntries)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddFeature("Enumeration", "E", "Standard", nullptr), 0u);
    ASSERT_EQ(f.desc->AddEnumEntry("E", "A", 1), 0u);
    ASSERT_EQ(f.desc->AddEnumEntry("E", "B", 2), 0u);
    ASSERT_EQ(f.desc->AddEnumEntry("E", "A", 7), 0u);  // updates
    ASSERT_EQ(f.desc->SetEntryChildText("E", "B", "pIsAvailable", "Root", false), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("E", "Description", "d", false), 0u);
    const std::string xml = f.xml();
    EXPECT_NE(xml.find("<EnumEntry Name=\"A\">\n            <Value>7</Value>"), std::string::npos);
    EXPECT_NE(xml.find("<pIsAvailable>Root</pIsAvailable>\n            <Value>2</Value>"), std::string::npos);
    EXPECT_EQ(childrenOf(xml, "E").front().first, "Description");

    ASSERT_EQ(f.desc->RemoveEnumEntry("E", "A"), 0u);
    ASSERT_EQ(f.desc->RemoveEnumEntry("E", "A"), 0u);  // absent: nothing
    EXPECT_EQ(childrenOf(f.xml(), "E").size(), 2u);
}

TEST(FeatureWriters, AccessModeChangesTextAndRegister)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 0, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", "regA", false), 0u);
    const std::string before = f.xml();
    ASSERT_EQ(f.desc->SetAccessMode("A", 1), 0u);
    EXPECT_NE(f.xml(), before);
    EXPECT_EQ(childrenOf(f.xml(), "regA")[2], (std::pair<std::string, std::string>{"AccessMode", "RO"}));
    EXPECT_EQ(f.tree->WriteRegister(0x10000, 0, Origin::Remote), GevStatus::AccessDenied);
    uint32_t access = 9;
    ASSERT_EQ(f.desc->GetAccessMode("A", access), 0u);
    EXPECT_EQ(access, 1u);
}

TEST(FeatureWriters, RemovingALinkedFeatureLeavesOtherUsersFailingCleanly)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddCategory("Cat", nullptr), 0u);
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 4, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, "Cat"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "Alias", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", "regA", false), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("Alias", "pValue", "regA", false), 0u);
    ASSERT_EQ(f.desc->LinkFeatureRegister("A", "regA"), 0u);

    ASSERT_EQ(f.desc->RemoveFeature("A"), 0u);
    EXPECT_EQ(f.tree->Find(0x10000), nullptr);
    EXPECT_EQ(childrenOf(f.xml(), "Cat"), Children{});
    int32_t v = 0;
    EXPECT_EQ(f.desc->GetInt32("Alias", v), GevResult::Fail);
    EXPECT_EQ(f.desc->SetInt32("Alias", 1), GevResult::Fail);
    uint32_t address = 0;
    EXPECT_EQ(f.desc->GetFeatureAddress("Alias", address), GevResult::Fail);
}

TEST(FeatureWriters, OutsideTextCannotBreakTheDocument)
{
    DescFixture f;
    const char* bad = "bad\x01name\xB5";
    ASSERT_EQ(f.desc->AddCategory(bad, nullptr), 0u);
    ASSERT_EQ(f.desc->AddFeature("String", "S", nullptr, bad), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("S", "Description", "unit \xB5m\x07\x1b[0m", false), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("S", "Value", "v\x02", false), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildAttribute("S", "Description", nullptr, "Note", "\x03\xFF"), 0u);
    ASSERT_EQ(f.desc->AddFeature("Enumeration", "E", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->AddEnumEntry("E", "e\x04", 1), 0u);
    ASSERT_EQ(f.desc->SetString("S", "new\x05 \xC3"), 0u);
    const std::string xml = f.xml();
    const auto lint = testing_support::xmllint(xml);
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_EQ(testing_support::integrityProblems(xml), std::vector<std::string>{});
    // The cleaned name is the name; lookups with the raw text find it too.
    EXPECT_EQ(f.desc->AddCategory("badname\xEF\xBF\xBD", nullptr), GevResult::Exists);
    EXPECT_EQ(f.desc->AddFeature("Integer", "X", nullptr, bad), 0u);
}
