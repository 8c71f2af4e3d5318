#include "model/name_uuid.h"
#include "model/xml_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <stdexcept>
#include <string>

using namespace Kivu;

TEST(XmlText, CleanKeepsXmlCharactersAndRepairsTheRest)
{
    struct Case {
        const char* what;
        std::string in, out;
    };
    const Case cases[] = {
        {"plain ASCII", "Width 1-4096 & <more>", "Width 1-4096 & <more>"},
        {"TAB, LF and CR stay", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"other C0 controls go", std::string("a\x01" "b\x1f" "c\x1b", 6), "abc"},
        {"valid UTF-8 stays", "\xC2\xB5m \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC2\xB5m \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a Latin-1 byte becomes U+FFFD", "\xB5m", "\xEF\xBF\xBDm"},
        {"a truncated sequence", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"an overlong encoding", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"U+FFFE is no XML character", "\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(XmlText::Clean(c.in), c.out);
        EXPECT_EQ(XmlText::IsClean(c.in), c.in == c.out);
    }
}

TEST(XmlText, FloatsRoundTripWithADecimalPointInEveryLocale)
{
    // A locale with a decimal comma, when the system has one.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    for (float v : {0.1f, 1e-7f, FLT_MAX, -FLT_MAX, FLT_MIN, 0.5f, -2.25f, 0.0f, 123456789.0f}) {
        const std::string text = XmlText::FormatFloat(v);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find(','), std::string::npos);
        float back = 0;
        ASSERT_TRUE(XmlText::ParseFloat(text.c_str(), back));
        EXPECT_EQ(back, v);
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(XmlText::FormatFloat(0.5f), "0.5");
    EXPECT_EQ(XmlText::FormatFloat(INFINITY), "INF");
    EXPECT_EQ(XmlText::FormatFloat(-INFINITY), "-INF");
    EXPECT_EQ(XmlText::FormatFloat(NAN), "NaN");
}

TEST(XmlText, NumberTexts)
{
    EXPECT_EQ(XmlText::FormatHex(0x10000), "0x10000");
    EXPECT_EQ(XmlText::FormatHex(0xABCDEF01), "0xABCDEF01");
    EXPECT_EQ(XmlText::FormatHex(0), "0x0");

    struct Case {
        const char* text;
        bool ok;
        int64_t value;
    };
    const Case cases[] = {{"42", true, 42},   {"-7", true, -7},          {"0x1F", true, 31}, {"+3", true, 3},
                          {"", false, 0},     {"12a", false, 0},         {"--1", false, 0},  {"0x", false, 0},
                          {"-9223372036854775808", true, INT64_MIN},    {"9223372036854775808", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t v = 0;
        EXPECT_EQ(XmlText::ParseInt64(c.text, v), c.ok);
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
    uint64_t u = 0;
    EXPECT_TRUE(XmlText::ParseUInt64("18446744073709551615", u));
    EXPECT_EQ(u, UINT64_MAX);
    EXPECT_FALSE(XmlText::ParseUInt64("-1", u));
}

TEST(XmlText, AccessTexts)
{
    const char* texts[] = {"NA", "RO", "WO", "RW"};
    for (uint32_t a = 0; a < 4; ++a) {
        EXPECT_STREQ(XmlText::AccessText(a), texts[a]);
        uint32_t back = 9;
        EXPECT_TRUE(XmlText::AccessNumber(texts[a], back));
        EXPECT_EQ(back, a);
    }
    try {
        XmlText::AccessText(4);
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Unknown access value\n");
    }
}

TEST(NameUuid, Sha1AndVersion5MatchPublishedVectors)
{
    const auto hex = [](const std::array<uint8_t, 20>& d) {
        std::string s;
        for (uint8_t b : d) {
            s += "0123456789abcdef"[b >> 4];
            s += "0123456789abcdef"[b & 15];
        }
        return s;
    };
    EXPECT_EQ(hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hex(Sha1(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");

    const auto dns = ParseUuid("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    ASSERT_TRUE(dns.has_value());
    EXPECT_EQ(UuidText(NameUuid(*dns, "www.example.com")), "2ED6657D-E927-568B-95E1-2665A8AEA6A2");
    EXPECT_FALSE(ParseUuid("6ba7b810-9dad-11d1-80b4-00c04fd430c").has_value());
    EXPECT_FALSE(ParseUuid("6ba7b810x9dad-11d1-80b4-00c04fd430c8").has_value());
}
