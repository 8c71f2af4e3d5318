#include "model/feature_desc.h"

#include "feature_test_support.h"
#include "feature_xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

using namespace Kivu;
using testing_support::DescFixture;

namespace {

// A description with every kind of node the writers make.
void declareEveryKind(FeatureDesc& d)
{
    ASSERT_EQ(d.AddCategory("Controls", nullptr), 0u);
    ASSERT_EQ(d.AddCategory("Sub", "Controls"), 0u);
    ASSERT_EQ(d.AddIntRegSigned("regInt", -4, 3, 4), 0u);
    ASSERT_EQ(d.AddIntRegSigned("regLong", 1, 3, 8), 0u);
    ASSERT_EQ(d.AddIntRegUnsigned("regMode", 2, 3, true), 0u);
    ASSERT_EQ(d.AddIntRegUnsigned("regFlag", 1, 3, false), 0u);
    ASSERT_EQ(d.AddIntRegUnsigned("regCmd", 0, 2, true), 0u);
    ASSERT_EQ(d.AddFloatReg("regExposure", 100.5f, 3), 0u);
    ASSERT_EQ(d.AddStringReg("regUser", 3), 0u);

    ASSERT_EQ(d.AddFeature("Integer", "Gain", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Gain", "pValue", "regInt", false), 0u);
    ASSERT_EQ(d.SetChildInt32("Gain", "Min", -100), 0u);
    ASSERT_EQ(d.SetChildInt32("Gain", "Max", 100), 0u);
    ASSERT_EQ(d.SetChildInt32("Gain", "Inc", 1), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Gain", "Description", "Gain in dB", false), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Gain", "DisplayName", "Gain", false), 0u);

    ASSERT_EQ(d.AddFeature("Integer", "Counter", "Custom", "Sub"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Counter", "pValue", "regLong", false), 0u);
    ASSERT_EQ(d.SetChildInt64("Counter", "Min", 0), 0u);
    ASSERT_EQ(d.SetMaxUInt64("Counter", 0x7FFFFFFFFFFFFFFFull), 0u);

    ASSERT_EQ(d.AddFeature("Integer", "Fixed", "Custom", nullptr), 0u);
    ASSERT_EQ(d.SetChildInt32("Fixed", "Value", 5), 0u);

    ASSERT_EQ(d.AddFeature("Float", "ExposureTime", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("ExposureTime", "pValue", "regExposure", false), 0u);
    ASSERT_EQ(d.SetChildFloat("ExposureTime", "Min", 0.1f), 0u);
    ASSERT_EQ(d.SetChildFloat("ExposureTime", "Max", 3.4028235e38f), 0u);
    ASSERT_EQ(d.SetFeatureChildText("ExposureTime", "Unit", "us", false), 0u);

    ASSERT_EQ(d.AddFeature("Enumeration", "Mode", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.AddEnumEntry("Mode", "Off", 0), 0u);
    ASSERT_EQ(d.AddEnumEntry("Mode", "Once", 1), 0u);
    ASSERT_EQ(d.AddEnumEntry("Mode", "Continuous", 2), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Mode", "pValue", "regMode", false), 0u);
    ASSERT_EQ(d.SetEntryChildText("Mode", "Once", "pIsAvailable", "Enabled", false), 0u);

    ASSERT_EQ(d.AddFeature("Boolean", "Enabled", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Enabled", "pValue", "regFlag", false), 0u);
    ASSERT_EQ(d.SetChildInt32("Enabled", "OnValue", 1), 0u);
    ASSERT_EQ(d.SetChildInt32("Enabled", "OffValue", 0), 0u);

    ASSERT_EQ(d.AddFeature("Command", "Start", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Start", "pValue", "regCmd", false), 0u);
    ASSERT_EQ(d.SetChildInt32("Start", "CommandValue", 1), 0u);

    ASSERT_EQ(d.AddFeature("StringReg", "DeviceUserID", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.RemoveFeature("DeviceUserID"), 0u);
    ASSERT_EQ(d.AddFeature("String", "UserName", "Standard", "Controls"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("UserName", "pValue", "regUser", false), 0u);

    ASSERT_EQ(d.AddFeature("IntSwissKnife", "Doubled", "Custom", "Sub"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Doubled", "pVariable", "Gain", false), 0u);
    ASSERT_EQ(d.SetFeatureChildAttribute("Doubled", "pVariable", "Gain", "Name", "G"), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Doubled", "Formula", "G * 2", false), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Doubled", "Description", "Twice the gain", false), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Doubled", "pIsAvailable", "Enabled", false), 0u);
}

std::string writeTemp(const std::string& text)
{
    char path[] = "/tmp/lb_descXXXXXX.xml";
    const int fd = mkstemps(path, 4);
    if (fd >= 0)
        close(fd);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace

TEST(FeatureValues, FeatureTypes)
{
    DescFixture f;
    struct Case {
        const char* tag;
        uint32_t status, type;
    };
    const Case cases[] = {
        {"Integer", 0, 2}, {"integer", 0, 2}, {"Float", 0, 3},       {"String", 0, 4},
        {"StringReg", 0, 4}, {"Boolean", 0, 5}, {"Command", 0, 6},   {"Enumeration", 0, 7},
        {"IntReg", GevResult::InvalidArgument, 99}, {"FloatReg", GevResult::InvalidArgument, 99},
        {"Category", GevResult::InvalidArgument, 99}, {"IntSwissKnife", GevResult::InvalidArgument, 99},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        const std::string name = 'F' + std::to_string(n++);
        ASSERT_EQ(f.desc->AddFeature(c.tag, name.c_str(), nullptr, nullptr), 0u);
        uint32_t type = 99;
        EXPECT_EQ(f.desc->GetFeatureType(name.c_str(), type), c.status);
        EXPECT_EQ(type, c.type);
    }
    uint32_t type = 99;
    EXPECT_EQ(f.desc->GetFeatureType("Nope", type), GevResult::NotFound);
    EXPECT_EQ(f.desc->GetFeatureType(nullptr, type), GevResult::InvalidArgument);
}

TEST(FeatureValues, ValuesResolveToTheValueChildOrTheRegister)
{
    DescFixture f;
    FeatureDesc& d = *f.desc;
    ASSERT_EQ(d.AddIntRegSigned("regI", -2, 3, 4), 0u);
    ASSERT_EQ(d.AddIntRegSigned("regL", 3, 3, 8), 0u);
    ASSERT_EQ(d.AddIntRegUnsigned("regU", 0xFFFFFFFFu, 3, true), 0u);
    ASSERT_EQ(d.AddFloatReg("regF", 1.25f, 3), 0u);
    ASSERT_EQ(d.AddStringReg("regS", 3), 0u);
    const char* const plain[][2] = {{"I", "regI"}, {"L", "regL"}, {"U", "regU"}, {"Fl", "regF"}, {"S", "regS"},
                                    {"Dangling", "regNone"}};
    for (const auto& p : plain) {
        ASSERT_EQ(d.AddFeature("Integer", p[0], nullptr, nullptr), 0u);
        ASSERT_EQ(d.SetFeatureChildText(p[0], "pValue", p[1], false), 0u);
    }
    ASSERT_EQ(d.AddFeature("Integer", "Both", nullptr, nullptr), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Both", "pValue", "regI", false), 0u);
    ASSERT_EQ(d.SetChildInt32("Both", "Value", 40), 0u);
    ASSERT_EQ(d.AddFeature("Enumeration", "E", nullptr, nullptr), 0u);
    ASSERT_EQ(d.SetFeatureChildText("E", "pValue", "regF", false), 0u);
    ASSERT_EQ(d.AddFeature("Integer", "Unlinked", nullptr, nullptr), 0u);

    int32_t i = 0;
    uint32_t u = 0;
    int64_t l = 0;
    float fl = 0;
    std::string s;
    struct Case {
        const char* what;
        uint32_t status, expected;
    };
    const Case cases[] = {
        {"int32 register", d.GetInt32("I", i), 0},
        {"uint32 over an int32 register", d.GetUInt32("I", u), 0},
        {"int32 over an int64 register", d.GetInt32("L", i), GevResult::Fail},
        {"int64 over an int64 register", d.GetInt64("L", l), 0},
        {"int64 over an int32 register", d.GetInt64("I", l), GevResult::Fail},
        {"float register", d.GetFloat("Fl", fl), 0},
        {"float over an enumeration", d.GetFloat("E", fl), GevResult::Fail},
        {"string register", d.GetString("S", s), 0},
        {"string over a float register", d.GetString("Fl", s), GevResult::Fail},
        {"pValue naming no node", d.GetInt32("Dangling", i), GevResult::Fail},
        {"neither Value nor pValue", d.GetInt32("Unlinked", i), GevResult::Fail},
        {"register node by its own name", d.GetInt32("regU", i), 0},
        {"category", d.GetInt32("Root", i), GevResult::Fail},
        {"missing", d.GetInt32("Nope", i), GevResult::NotFound},
        {"null name", d.GetInt32(nullptr, i), GevResult::InvalidArgument},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status, c.expected) << c.what;

    ASSERT_EQ(d.GetUInt32("U", u), 0u);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    ASSERT_EQ(d.GetInt32("U", i), 0u);
    EXPECT_EQ(i, -1);
    ASSERT_EQ(d.GetInt32("Both", i), 0u);
    EXPECT_EQ(i, 40);  // the Value child wins

    ASSERT_EQ(d.SetInt32("I", -9), 0u);
    ASSERT_EQ(d.SetInt64("L", INT64_MIN), 0u);
    ASSERT_EQ(d.SetFloat("Fl", -0.5f), 0u);
    ASSERT_EQ(d.SetString("S", "hello"), 0u);
    ASSERT_EQ(d.SetInt32("Both", 41), 0u);
    uint32_t status = 0;
    EXPECT_EQ(__builtin_bswap32(f.tree->ReadRegister(0x10000, &status, Origin::Remote)), uint32_t(-9));
    ASSERT_EQ(d.GetInt64("L", l), 0u);
    EXPECT_EQ(l, INT64_MIN);
    ASSERT_EQ(d.GetFloat("regF", fl), 0u);
    EXPECT_EQ(fl, -0.5f);
    ASSERT_EQ(d.GetString("S", s), 0u);
    EXPECT_EQ(s, "hello");
    ASSERT_EQ(d.GetInt32("regI", i), 0u);
    EXPECT_EQ(i, -9);  // the Value child took 41
    ASSERT_EQ(d.GetInt32("Both", i), 0u);
    EXPECT_EQ(i, 41);
}

TEST(FeatureValues, StringsAreCopiesAndAlwaysTerminated)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddStringReg("regS", 3), 0u);
    const std::string full(128, 'x');
    ASSERT_EQ(f.desc->SetString("regS", (full + "overflow").c_str()), 0u);
    std::string s;
    ASSERT_EQ(f.desc->GetString("regS", s), 0u);
    EXPECT_EQ(s, full);
    ASSERT_EQ(f.desc->AddFeature("String", "T", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("T", "Value", "text", false), 0u);
    ASSERT_EQ(f.desc->SetString("T", "other"), 0u);
    ASSERT_EQ(f.desc->GetString("T", s), 0u);
    EXPECT_EQ(s, "other");
}

TEST(FeatureValues, RefusedRegisterWriteKeepsTheOldValue)
{
    DescFixture f;
    ASSERT_EQ(f.desc->AddIntRegSigned("regA", 3, 3, 4), 0u);
    ASSERT_EQ(f.desc->AddFeature("Integer", "A", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", "regA", false), 0u);
    f.desc->SetWriteCallback(nullptr, [](void*, const char*) { return false; });
    f.desc->EnableCallbacks(true);
    EXPECT_EQ(f.desc->SetInt32("A", 4), GevResult::Fail);
    f.desc->EnableCallbacks(false);
    int32_t v = 0;
    ASSERT_EQ(f.desc->GetInt32("A", v), 0u);
    EXPECT_EQ(v, 3);
}

TEST(FeatureValues, Enumerations)
{
    DescFixture f;
    FeatureDesc& d = *f.desc;
    ASSERT_EQ(d.AddIntRegUnsigned("regMode", 2, 3, true), 0u);
    ASSERT_EQ(d.AddFeature("Enumeration", "Mode", nullptr, nullptr), 0u);
    ASSERT_EQ(d.SetFeatureChildText("Mode", "pValue", "regMode", false), 0u);
    ASSERT_EQ(d.AddEnumEntry("Mode", "Off", 0), 0u);
    ASSERT_EQ(d.AddEnumEntry("Mode", "Continuous", 2), 0u);

    std::string name;
    ASSERT_EQ(d.GetEnumEntryName("Mode", name), 0u);
    EXPECT_EQ(name, "Continuous");
    ASSERT_EQ(d.SetEnumValue("Mode", "Off"), 0u);
    ASSERT_EQ(d.GetEnumEntryName("Mode", name), 0u);
    EXPECT_EQ(name, "Off");
    EXPECT_EQ(d.SetEnumValue("Mode", "Nope"), GevResult::NotFound);
    EXPECT_EQ(d.SetEnumValue("Nope", "Off"), GevResult::NotFound);
    ASSERT_EQ(d.SetUInt32("Mode", 5), 0u);
    EXPECT_EQ(d.GetEnumEntryName("Mode", name), GevResult::Fail);
    EXPECT_EQ(name, "");

    auto names = d.GetEnumEntryNames("Mode");
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(*names, (std::vector<std::string>{"Off", "Continuous"}));
    EXPECT_EQ(d.GetEnumEntryNames("Mode"), names);  // unchanged list
    ASSERT_EQ(d.AddEnumEntry("Mode", "Once", 1), 0u);
    ASSERT_EQ(d.RemoveEnumEntry("Mode", "Off"), 0u);
    auto updated = d.GetEnumEntryNames("Mode");
    ASSERT_NE(updated, nullptr);
    EXPECT_EQ(*updated, (std::vector<std::string>{"Continuous", "Once"}));
    EXPECT_EQ(*names, (std::vector<std::string>{"Off", "Continuous"}));  // handed-out list kept
    EXPECT_EQ(d.GetEnumEntryNames("regMode"), nullptr);
    EXPECT_EQ(d.GetEnumEntryNames("Nope"), nullptr);
}

TEST(FeatureValues, QueriesThroughPValue)
{
    DescFixture f;
    FeatureDesc& d = *f.desc;
    ASSERT_EQ(d.AddIntRegSigned("regPad", 0, 3, 4), 0u);
    ASSERT_EQ(d.AddFloatReg("regF", 0, 1), 0u);
    ASSERT_EQ(d.AddFeature("Float", "F", nullptr, nullptr), 0u);
    ASSERT_EQ(d.SetFeatureChildText("F", "pValue", "regF", false), 0u);
    ASSERT_EQ(d.SetFeatureChildText("F", "Unit", "mm", false), 0u);
    uint32_t address = 0, access = 9;
    ASSERT_EQ(d.GetFeatureAddress("F", address), 0u);
    EXPECT_EQ(address, 0x10004u);
    ASSERT_EQ(d.GetAccessMode("F", access), 0u);
    EXPECT_EQ(access, 1u);
    std::string unit;
    ASSERT_EQ(d.GetFeatureChildValue("F", "Unit", unit), 0u);
    EXPECT_EQ(unit, "mm");
    EXPECT_EQ(d.GetFeatureChildValue("F", "Min", unit), GevResult::NotFound);
    EXPECT_EQ(d.GetAccessMode("Root", access), GevResult::NoAccess);
}

TEST(FeatureValues, PrintingHappensOnlyAfterChanges)
{
    DescFixture f;
    auto first = f.desc->GetXml();
    EXPECT_EQ(f.desc->GetXml(), first);
    EXPECT_EQ(f.desc->GetXmlSize(), first->length);
    ASSERT_EQ(f.desc->AddCategory("Zebra", nullptr), 0u);
    auto second = f.desc->GetXml();
    EXPECT_NE(second, first);
    EXPECT_GT(second->length, first->length);
    const std::string firstText(first->data(), first->length);  // an old print stays readable
    EXPECT_EQ(firstText.find("Zebra"), std::string::npos);
}

TEST(FeatureValues, PrintedBufferIsZeroPaddedAndTerminated)
{
    DescFixture f;
    // Grow the text past several multiples of 1024 and check every print.
    for (int n = 0; n < 120; ++n) {
        const std::string name = "Feature" + std::to_string(n);
        ASSERT_EQ(f.desc->AddFeature("Integer", name.c_str(), nullptr, nullptr), 0u);
        auto p = f.desc->GetXml();
        ASSERT_EQ(p->buffer.size() % 1024, 0u);
        ASSERT_GT(p->buffer.size(), p->length);
        for (size_t i = p->length; i < p->buffer.size(); ++i)
            ASSERT_EQ(p->buffer[i], '\0');
        ASSERT_EQ(std::strlen(p->data()), p->length);
    }
}

TEST(FeatureValues, VersionGuidFollowsTheContent)
{
    DescFixture a, b;
    const std::string fresh = testing_support::attributeOf(a.xml(), "", "VersionGuid");
    EXPECT_EQ(testing_support::attributeOf(b.xml(), "", "VersionGuid"), fresh);
    EXPECT_EQ(fresh.size(), 36u);
    EXPECT_EQ(fresh[14], '5');  // name-based

    ASSERT_EQ(a.desc->AddIntRegSigned("regA", 0, 3, 4), 0u);
    ASSERT_EQ(b.desc->AddIntRegSigned("regB", 0, 3, 4), 0u);
    const std::string va = testing_support::attributeOf(a.xml(), "", "VersionGuid");
    EXPECT_NE(va, fresh);
    EXPECT_NE(testing_support::attributeOf(b.xml(), "", "VersionGuid"), va);
    EXPECT_EQ(testing_support::attributeOf(a.xml(), "", "ProductGuid"),
              testing_support::attributeOf(b.xml(), "", "ProductGuid"));
    ASSERT_EQ(a.desc->RemoveFeature("regA"), 0u);
    EXPECT_EQ(testing_support::attributeOf(a.xml(), "", "VersionGuid"), fresh);
}

TEST(FeatureValues, DescriptionWithEveryNodeKindIsSound)
{
    DescFixture f;
    declareEveryKind(*f.desc);
    const std::string xml = f.xml();
    const auto lint = testing_support::xmllint(xml);
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_EQ(testing_support::integrityProblems(xml), std::vector<std::string>{});
}

TEST(FeatureValues, AravisLoadsTheDescription)
{
    DescFixture f;
    declareEveryKind(*f.desc);
    const std::string path = writeTemp(f.xml());
    const std::string command = std::string("/usr/bin/python3 ") + LB_ARAVIS_SCRIPT + " " + path + " 2>&1";
    std::string output;
    int status = -1;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), p)) > 0)
            output.append(buffer, n);
        status = pclose(p);
    }
    std::remove(path.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "Aravis is not installed";
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(output,
              "GcCategory Root\n"
              " GcCategory Controls\n"
              "  GcCategory Sub\n"
              "   GcIntegerNode Counter\n"
              "   GcIntSwissKnifeNode Doubled\n"
              "  GcIntegerNode Gain\n"
              "  GcFloatNode ExposureTime\n"
              "  GcEnumeration Mode\n"
              "   entry Continuous\n"
              "   entry Off\n"
              "   entry Once\n"
              "  GcBoolean Enabled\n"
              "  GcCommand Start\n"
              "  GcStringNode UserName\n");
}
