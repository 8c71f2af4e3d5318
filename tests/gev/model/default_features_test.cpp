#include "model/default_features.h"
#include "model/pixel_formats.h"

#include "feature_test_support.h"
#include "feature_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

using namespace Kivu;
using testing_support::Children;
using testing_support::childrenOf;

namespace {

struct DefaultFixture : testing_support::DescFixture {
    DefaultFixture() { DeclareDefaultFeatures(*desc); }
};

}  // namespace

TEST(DefaultFeatures, RegistersAtTheirFixedAddresses)
{
    DefaultFixture f;
    struct Row {
        const char* node;
        uint32_t address, type, value, access;
    };
    const Row rows[] = {
        {"regRegionSelector", DefaultFeatureAddress::RegionSelector, RegType::Int32, 0, 3},
        {"regWidth", DefaultFeatureAddress::Width, RegType::UInt32, 640, 3},
        {"regHeight", DefaultFeatureAddress::Height, RegType::UInt32, 480, 3},
        {"regOffsetX", DefaultFeatureAddress::OffsetX, RegType::Int32, 0, 3},
        {"regOffsetY", DefaultFeatureAddress::OffsetY, RegType::Int32, 0, 3},
        {"regPixelFormat", DefaultFeatureAddress::PixelFormat, RegType::Int32, 0x01080001, 3},
        {"regPayloadSize", DefaultFeatureAddress::PayloadSize, RegType::UInt32, 307200, 1},
        {"regAcquisitionMode", DefaultFeatureAddress::AcquisitionMode, RegType::Int32, 2, 3},
        {"regIsMultistreaming", DefaultFeatureAddress::IsMultistreaming, RegType::Int32, 0, 1},
        {"regSourceSelector", DefaultFeatureAddress::SourceSelector, RegType::Int32, 0, 3},
        {"regSourceCount", DefaultFeatureAddress::SourceCount, RegType::Int32, 1, 1},
        {"regSourceStreamChannel", DefaultFeatureAddress::SourceStreamChannel, RegType::Int32, 0, 1},
        {"regMaxWidth", DefaultFeatureAddress::MaxWidth, RegType::Int32, 4096, 1},
        {"regMaxHeight", DefaultFeatureAddress::MaxHeight, RegType::Int32, 4096, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.node);
        uint32_t address = 0;
        ASSERT_EQ(f.desc->GetFeatureAddress(r.node, address), 0u);
        EXPECT_EQ(address, r.address);
        auto reg = f.tree->Find(r.address);
        ASSERT_NE(reg, nullptr);
        EXPECT_STREQ(reg->GetName(), r.node);
        EXPECT_EQ(reg->GetType(), r.type);
        EXPECT_EQ(reg->GetAccess(), r.access);
        uint32_t status = 1;
        EXPECT_EQ(__builtin_bswap32(f.tree->ReadRegister(r.address, &status, Origin::Remote)), r.value);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(testing_support::attributeOf(f.xml(), r.node, "NameSpace"), "Custom");
    }
    EXPECT_EQ(f.tree->Find(0x10038), nullptr);
}

TEST(DefaultFeatures, PixelFormatMaps)
{
    const auto maps = LoadPixelFormats();
    const auto table = PixelFormatTable();
    ASSERT_EQ(table.size(), 56u);
    EXPECT_EQ(maps.codesByName.size(), 56u);
    EXPECT_EQ(maps.namesByCode.size(), 56u);  // codes are unique
    for (const PixelFormat& p : table) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(maps.codesByName.at(p.name), p.code);
        EXPECT_EQ(maps.namesByCode.at(p.code), p.name);
        // PFNC: bits 16-23 hold the bits per pixel, bits 24-31 mono (1) or colour (2).
        const uint32_t bits = (p.code >> 16) & 0xFF;
        EXPECT_TRUE(bits % 4 == 0 && bits >= 8 && bits <= 96);
        EXPECT_TRUE((p.code >> 24) == 1 || (p.code >> 24) == 2);
    }
    EXPECT_EQ(maps.codesByName.at("Coord3D_ABC32f"), 0x026000C0u);
    EXPECT_EQ(maps.namesByCode.at(0x01100007), "Mono16");
    EXPECT_EQ(maps.codesByName.count("Mono9"), 0u);
    EXPECT_EQ(maps.namesByCode.count(0x01080003), 0u);
}

TEST(DefaultFeatures, FeatureChecks)
{
    DefaultFixture f;
    const std::string xml = f.xml();
    auto pixel = f.desc->GetEnumEntryNames("PixelFormat");
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(*pixel, std::vector<std::string>{"Mono8"});
    uint32_t payload = 0;
    ASSERT_EQ(f.desc->GetUInt32("PayloadSize", payload), 0u);
    EXPECT_EQ(payload, 640u * 480u);
    std::string name;
    ASSERT_EQ(f.desc->GetEnumEntryName("PixelFormat", name), 0u);
    EXPECT_EQ(name, "Mono8");
    ASSERT_EQ(f.desc->GetEnumEntryName("AcquisitionMode", name), 0u);
    EXPECT_EQ(name, "Continuous");

    auto sources = f.desc->GetEnumEntryNames("SourceSelector");
    ASSERT_NE(sources, nullptr);
    ASSERT_EQ(sources->size(), 16u);
    EXPECT_EQ(sources->back(), "Source15");
    size_t unavailable = 0;
    for (size_t at = xml.find("<pIsAvailable>False</pIsAvailable>"); at != std::string::npos;
         at = xml.find("<pIsAvailable>False</pIsAvailable>", at + 1))
        ++unavailable;
    EXPECT_EQ(unavailable, 16u + 1u);  // the sources and Scan3DExtraction0

    EXPECT_EQ(childrenOf(xml, "SourceControl").front(),
              (std::pair<std::string, std::string>{"pIsImplemented", "IsMultistreaming"}));
    Children invalidators;
    for (const auto& c : childrenOf(xml, "regPayloadSize"))
        if (c.first == "pInvalidator")
            invalidators.push_back(c);
    EXPECT_EQ(invalidators, (Children{{"pInvalidator", "SourceSelector"},
                                      {"pInvalidator", "Width"},
                                      {"pInvalidator", "Height"},
                                      {"pInvalidator", "PixelFormat"},
                                      {"pInvalidator", "RegionSelector"}}));
    int32_t yes = 0, no = 1;
    ASSERT_EQ(f.desc->GetInt32("True", yes), 0u);
    ASSERT_EQ(f.desc->GetInt32("False", no), 0u);
    EXPECT_EQ(yes, 1);
    EXPECT_EQ(no, 0);
    // Ranges follow the register's width, so later range updates take effect.
    ASSERT_EQ(f.desc->SetChildUInt32("PayloadSize", "Max", 0xFFFFFFFFu), 0u);
    EXPECT_NE(f.xml().find("<Max>4294967295</Max>"), std::string::npos);
}

TEST(DefaultFeatures, PrintedDescriptionMatchesTheGoldenFile)
{
    DefaultFixture f;
    std::ifstream in(LB_DEFAULT_GOLDEN, std::ios::binary);
    ASSERT_TRUE(in) << LB_DEFAULT_GOLDEN;
    std::stringstream golden;
    golden << in.rdbuf();
    EXPECT_EQ(testing_support::maskVersionGuid(f.xml()), golden.str());
}

TEST(DefaultFeatures, PrintedDescriptionIsSound)
{
    DefaultFixture f;
    const std::string xml = f.xml();
    const auto lint = testing_support::xmllint(xml);
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_EQ(testing_support::integrityProblems(xml), std::vector<std::string>{});
}
