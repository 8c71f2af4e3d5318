// The XML path resolver and the descriptor's text slots.
#include "find_xml_text.h"
#include "src/info_strings.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

using namespace quillan;

TEST(FindXmlText, ResolvesPathsElementByElement)
{
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse("<a><b><c>found</c><c>second</c><e/></b><x>top</x></a>"), tinyxml2::XML_SUCCESS);
    struct Case {
        const char* path;
        bool found;
        const char* text;
    };
    const Case cases[] = {
        {"a:b:c", true, "found"},   // first element of the name
        {"a:x", true, "top"},
        {"a:b:e", true, ""},        // empty element
        {"a:b", true, ""},          // element with children only
        {"a:y", false, "unchanged"},
        {"a:b:c:d", false, "unchanged"},
        {"b", false, "unchanged"},  // not a child of the root
        {"", false, "unchanged"},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(FindXmlText(&doc, c.path, &out), c.found) << c.path;
        EXPECT_EQ(out, c.text) << c.path;
    }
}

TEST(Descriptor, FirmwareNumberAndByteOrderRule)
{
    struct Case {
        const char* firmware;
        const char* order;
        int number;
        bool flag;
    };
    const Case cases[] = {
        {"1.1.2", "KTRB-2048", 112, true},   {"1.1.2-rc4", "xKTRBx", 112, true}, {"1.2.0", "KTRB", 120, false},
        {"1.2.1", "KTRB", 121, false},       {"1.0.9", "KTRA-1280", 109, false}, {"1.1.9", "KTR", 119, false},
        {"", "KTRB", 0, true},               {"0.9r1", "KTRB", 9, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firmwareNumber(c.firmware), c.number) << c.firmware;
        EXPECT_EQ(strengthWidthByteOrder(c.firmware, c.order), c.flag) << c.firmware << " " << c.order;
    }
}

TEST(Descriptor, KeysCoverEverySlot)
{
    const auto& keys = descriptorKeys();
    EXPECT_EQ(keys.size(), 20u + 32u + 56u);
    EXPECT_EQ(keys.front(), "device:general:ordernumber");
    EXPECT_EQ(keys[20], "device:settings:userstring:current");
    EXPECT_EQ(keys.back(), "device:settings:usrio:ea4:resetcounter:encoder_ttl_rs422:current");
}

const char* const kDescriptor = R"(<?xml version="1.0"?>
<device>
  <general>
    <ordernumber>KTRB-2048</ordernumber>
    <firmwareversion><general>1.1.2-rc4</general></firmwareversion>
    <serialnumber>SN&amp;1</serialnumber>
    <usrio><ea1><state>1</state></ea1><ea2><state>0</state></ea2><ea3><state>1</state></ea3><ea4><state>x</state></ea4></usrio>
    <ttl_rs422><en_b><state>1</state></en_b></ttl_rs422>
    <temperatur> 41 </temperatur>
  </general>
  <settings>
    <exposuretime><current>100</current><min>1</min></exposuretime>
    <roi><x1><width><current>2048</current><min>8</min></width></x1></roi>
    <usrio><ea2><resetcounter><picturecounter><current>7</current></picturecounter></resetcounter></ea2></usrio>
    <userstring><current></current></userstring>
  </settings>
</device>)";

TEST(Descriptor, ParseFillsSlotsAndKeepsMissingOnes)
{
    InfoStrings info;
    EXPECT_FALSE(info.everParsed());
    ASSERT_TRUE(info.parse(kDescriptor, 1234));
    EXPECT_EQ(info.get("device:general:serialnumber"), "SN&1");
    EXPECT_EQ(info.get("device:general:temperatur"), " 41 ");  // whitespace kept
    EXPECT_EQ(info.get("device:settings:exposuretime:current"), "100");
    EXPECT_EQ(info.get("device:settings:roi:x1:width:current"), "2048");
    EXPECT_EQ(info.get("device:settings:usrio:ea2:resetcounter:picturecounter:current"), "7");
    EXPECT_TRUE(info.has("device:settings:userstring:current"));
    EXPECT_EQ(info.get("device:settings:userstring:current"), "");
    EXPECT_FALSE(info.has("device:general:mac"));
    EXPECT_EQ(info.get(kUserIoStatesSlot), "5");    // ea1 and ea3 set; "x" counts as 0
    EXPECT_EQ(info.get(kTtlRs422StatesSlot), "2");  // only en_b present
    EXPECT_TRUE(info.strengthWidthByteOrder());
    EXPECT_EQ(info.lastParseTick(), 1234u);

    // A later descriptor overwrites what it holds and leaves the rest.
    ASSERT_TRUE(info.parse("<device><general><firmwareversion><general>1.2.0</general></firmwareversion>"
                           "</general><settings><exposuretime><current>250</current></exposuretime></settings>"
                           "</device>",
                           2000));
    EXPECT_EQ(info.get("device:settings:exposuretime:current"), "250");
    EXPECT_EQ(info.get("device:general:serialnumber"), "SN&1");
    EXPECT_EQ(info.get(kUserIoStatesSlot), "5");
    EXPECT_FALSE(info.strengthWidthByteOrder());
}

TEST(Descriptor, MalformedXmlChangesNothing)
{
    InfoStrings info;
    ASSERT_TRUE(info.parse(kDescriptor, 10));
    for (const char* bad : {"<device><general>", "", "<a></b>", "not xml"}) {
        EXPECT_FALSE(info.parse(bad, 99)) << bad;
        EXPECT_EQ(info.get("device:general:serialnumber"), "SN&1");
        EXPECT_EQ(info.lastParseTick(), 10u);
    }
    EXPECT_FALSE(info.parse(nullptr, 99));
}
