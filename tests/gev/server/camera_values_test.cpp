#include "camera_fixture.h"

#include <arpa/inet.h>

#include <cstring>
#include <functional>
#include <string>

namespace camera_test {
namespace {

TEST_F(CameraTest, AdapterListAndItsRecords)
{
    ASSERT_EQ(camera->GetNetworkInterfaceCount(), 2);
    char ip[16];
    ASSERT_EQ(camera->GetNetworkInterfaceIp(1, ip), 0u);
    EXPECT_STREQ(ip, "10.77.0.1");
    EXPECT_EQ(camera->GetNetworkInterfaceIp(2, ip), GevResult::NotFound);
    NetworkInterfaceInfo info;
    EXPECT_EQ(camera->GetNetworkInterfaceInfo(2, &info), GevResult::Fail);

    ASSERT_EQ(camera->GetNetworkInterfaceInfo(0, &info), 0u);
    EXPECT_EQ(info.ip, htonl(0x7F000001));
    EXPECT_EQ(info.mask, htonl(0xFF000000));
    EXPECT_EQ(info.mtu, 0xFFFF);  // 65536 saturates
    ASSERT_EQ(camera->GetNetworkInterfaceInfo(1, &info), 0u);
    EXPECT_EQ(info.linkSpeedBps, 0xFFFFFFFFu);  // 10 Gbit/s saturates
    EXPECT_EQ(info.mac[0], 0x02);
    EXPECT_EQ(info.mac[5], 2);
    EXPECT_EQ(info.reserved, 0u);
}

TEST_F(CameraTest, MacAddressSetAndFormatted)
{
    char text[13];
    ASSERT_EQ(camera->GetMacAddress(text), 0u);
    EXPECT_STREQ(text, "1");  // the default high word's upper bits are not part of the address
    ASSERT_EQ(camera->SetMacAddress("00-1a-2B-3c-4D-5e"), 0u);
    EXPECT_EQ(reg(0x0008), 0x1Au);
    EXPECT_EQ(reg(0x000C), 0x2B3C4D5Eu);
    ASSERT_EQ(camera->GetMacAddress(text), 0u);
    EXPECT_STREQ(text, "1A2B3C4D5E");
    ASSERT_EQ(camera->SetMacAddress("FF:FF:FF:FF:FF:FF"), 0u);
    ASSERT_EQ(camera->GetMacAddress(text), 0u);
    EXPECT_STREQ(text, "FFFFFFFFFFFF");
    EXPECT_EQ(camera->SetMacAddress("00:1A:2B:3C:4D"), GevResult::Fail);
    EXPECT_EQ(camera->SetMacAddress(nullptr), GevResult::InvalidArgument);
    EXPECT_EQ(camera->GetMacAddress(nullptr), GevResult::InvalidArgument);
}

TEST_F(CameraTest, PersistentIpRules)
{
    struct Case {
        bool bitBefore;
        const char *ip, *mask, *gateway;
        uint32_t result;
        bool bitAfter;
        uint32_t ipReg, maskReg, gatewayReg;
    };
    const Case cases[] = {
        {true, nullptr, nullptr, nullptr, 0, false, 0, 0, 0},
        {false, nullptr, nullptr, nullptr, 0, false, 0, 0, 0},
        {false, "10.1.2.3", "255.255.0.0", nullptr, 0, true, 0x0A010203, 0xFFFF0000, 0},
        {false, "10.1.2.3", "255.255.0.0", "0.0.0.0", 0, true, 0x0A010203, 0xFFFF0000, 0},
        {false, "10.1.2.3", "255.255.0.0", "10.1.0.1", 0, true, 0x0A010203, 0xFFFF0000, 0x0A010001},
        {true, "10.1.2.4", nullptr, nullptr, 0, true, 0x0A010204, 0, 0},
        {false, "10.1.2", "255.255.0.0", nullptr, GevResult::InvalidArgument, false, 0, 0, 0},
        {false, "10.1.2.3", "255.255.0.0", "bad", GevResult::InvalidArgument, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        make(defaultNet());
        if (c.bitBefore) {
            ASSERT_EQ(camera->WriteRegister(0x0014, htonl(7)), 0u);
        }
        EXPECT_EQ(camera->SetPersistentIp(c.ip, c.mask, c.gateway), c.result) << (c.ip ? c.ip : "null");
        EXPECT_EQ((reg(0x0014) & 1) != 0, c.bitAfter) << (c.ip ? c.ip : "null");
        EXPECT_EQ(reg(0x064C), c.ipReg);
        EXPECT_EQ(reg(0x065C), c.maskReg);
        EXPECT_EQ(reg(0x066C), c.gatewayReg);
    }
}

TEST_F(CameraTest, IdentityIsRefusedWhileRunning)
{
    ASSERT_EQ(camera->SetDeviceIdentity(nullptr, "Model\x01", nullptr, nullptr, "SN42"), 0u);
    char text[33] = {};
    ASSERT_EQ(camera->ReadMemory(0x0068, text, 32), 0u);
    EXPECT_STREQ(text, "Model_");
    ASSERT_EQ(camera->ReadMemory(0x00D8, text, 16), 0u);
    EXPECT_STREQ(text, "SN42");
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    EXPECT_EQ(camera->SetDeviceIdentity("A", nullptr, nullptr, nullptr, nullptr), GevResult::Running);
    EXPECT_EQ(camera->SetUserDefinedName("x"), GevResult::Running);
    EXPECT_EQ(camera->SetMacAddress("0:1:2:3:4:5"), GevResult::Running);
    EXPECT_EQ(camera->SetPersistentIp(nullptr, nullptr, nullptr), GevResult::Running);
    SimulationParameters p;
    EXPECT_EQ(camera->SetSimulationParameters(&p), GevResult::Running);
    char ip[16], mask[16], gateway[16];
    ASSERT_EQ(camera->GetCurrentIp(ip, mask, gateway), 0u);
    EXPECT_STREQ(ip, "127.0.0.5");
    EXPECT_STREQ(mask, "255.0.0.0");
    EXPECT_STREQ(gateway, "0.0.0.0");
}

class IntegerFeatureTest : public CameraTest {
protected:
    void SetUp() override
    {
        CameraTest::SetUp();
        ASSERT_EQ(camera->AddCategory("C", nullptr), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(2, "Signed", "C", 3, "a signed value", 0), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(1, "Unsigned", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(0, "Wide", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->AddFeatureNode("Integer", "Plain", "C", 1), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(7, "Choice", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(5, "Flag", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(3, "Real", "C", 3, nullptr, 0), 0u);
    }
};

TEST_F(IntegerFeatureTest, SetAndGetByRegisterShape)
{
    struct Case {
        const char* name;
        int64_t value;
        uint32_t result;
    };
    const Case cases[] = {
        {"Signed", 17, 0},
        {"Signed", -17, 0},
        {"Signed", int64_t{1} << 40, GevResult::InvalidArgument},
        {"Unsigned", 17, 0},
        {"Unsigned", 0xFFFFFFFF, 0},
        {"Unsigned", -1, GevResult::InvalidArgument},
        {"Wide", int64_t{1} << 40, 0},
        {"Wide", -(int64_t{1} << 40), 0},
        {"Plain", 5, GevResult::NoRegister},
        {"Missing", 5, GevResult::Fail},
        {"Choice", 2, 0},
        {"Flag", 1, 0},
        {"Real", 1, GevResult::Fail},
    };
    for (const Case& c : cases) {
        int64_t before = 0;
        camera->GetIntegerValue(c.name, &before);
        EXPECT_EQ(camera->SetIntegerValue(c.name, c.value), c.result) << c.name << " " << c.value;
        int64_t after = -1;
        const uint32_t got = camera->GetIntegerValue(c.name, &after);
        if (c.result == 0) {
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(after, c.value) << c.name;
        } else if (got == 0) {
            EXPECT_EQ(after, before) << c.name << " changed by a refused write";
        }
    }
}

TEST_F(IntegerFeatureTest, RangesBoundTheValue)
{
    ASSERT_EQ(camera->SetIntegerRange("Signed", 0, 10, 1), 0u);
    ASSERT_EQ(camera->SetIntegerValue("Signed", 3), 0u);
    EXPECT_EQ(camera->SetIntegerValue("Signed", 11), GevResult::InvalidArgument);
    int64_t v = 0;
    ASSERT_EQ(camera->GetIntegerValue("Signed", &v), 0u);
    EXPECT_EQ(v, 3);
    int64_t min = 0, max = 0;
    uint32_t inc = 0;
    ASSERT_EQ(camera->GetIntegerRange("Signed", &min, &max, &inc), 0u);
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 10);
    EXPECT_EQ(inc, 1u);

    EXPECT_EQ(camera->SetIntegerRange("Signed", 5, 4, 0), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetIntegerRange("Unsigned", -1, 4, 0), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetIntegerRange("Signed", -10, -5, 0), 0u);
    EXPECT_EQ(camera->SetIntegerRange("Plain", 0, 1, 0), GevResult::NoRegister);
    EXPECT_EQ(camera->SetIntegerRange(nullptr, 0, 1, 0), GevResult::InvalidArgument);
}

TEST_F(CameraTest, StringValueFitsTheBufferOrNothingIsWritten)
{
    ASSERT_EQ(camera->AddCategory("C", nullptr), 0u);
    ASSERT_EQ(camera->AddRegisterFeature(4, "Label", "C", 3, nullptr, 0), 0u);
    ASSERT_EQ(camera->SetStringValue("Label", "abcd"), 0u);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(camera->GetStringValue("Label", buffer, 4), GevResult::Fail);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(camera->GetStringValue("Label", buffer, 5), 0u);
    EXPECT_STREQ(buffer, "abcd");

    ASSERT_EQ(camera->AddRegisterFeature(7, "Mode", "C", 3, nullptr, 0), 0u);
    ASSERT_EQ(camera->AddEnumEntry("Mode", "Off", 0), 0u);
    ASSERT_EQ(camera->AddEnumEntry("Mode", "On", 1), 0u);
    ASSERT_EQ(camera->SetEnumValue("Mode", "On"), 0u);
    ASSERT_EQ(camera->GetStringValue("Mode", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "On");
    uint32_t count = 0;
    const char* const* entries = camera->GetEnumEntryTable("Mode", &count);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(entries[0], "Off");
    EXPECT_STREQ(entries[1], "On");
    EXPECT_EQ(camera->GetEnumEntryTable("Label", &count), nullptr);

    // A category that does not exist leaves no string node behind.
    EXPECT_EQ(camera->AddRegisterFeature(4, "Orphan", "NoSuchCategory", 3, nullptr, 0), 0u);
    uint32_t type = 0;
    EXPECT_NE(camera->GetFeatureType("Orphan", &type), 0u);
}

TEST_F(CameraTest, RawRegistersCarryNetworkOrder)
{
    ASSERT_EQ(camera->WriteRegister(0x0938, htonl(5000)), 0u);
    uint32_t v = 0;
    ASSERT_EQ(camera->ReadRegister(0x0938, &v), 0u);
    EXPECT_EQ(v, htonl(5000));
    uint8_t bytes[4];
    ASSERT_EQ(camera->ReadMemory(0x0938, bytes, 4), 0u);
    EXPECT_EQ(bytes[2], 0x13);
    EXPECT_EQ(bytes[3], 0x88);
    EXPECT_EQ(camera->ReadRegister(0x0001, &v), GevResult::Fail);
    EXPECT_EQ(camera->WriteRegister(0x7FFFFFF0, 0), GevResult::Fail);
}

TEST_F(CameraTest, RegionMapsAndChannelArguments)
{
    EXPECT_EQ(camera->SetRegionWidth(640, 1, 0, 0), 0u);
    EXPECT_EQ(camera->SetRegionWidth(640, 16, 1, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetRegionWidth(640, 0, 2, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetRegionWidth(640, 0x80000000u, 0, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetRegionHeight(100, 0, 1, 0), 0u);
    camera->SetRegionMode(2, 0);  // the description may lack the region entry; the mode is stored
    // Region mode 2 with one source selects key 1.
    EXPECT_EQ(camera->GetHeight(0), 100u);
    EXPECT_EQ(camera->GetWidth(0), 0u);
    EXPECT_EQ(camera->SetRegionPixelFormat("Mono16", 0, 1, 0), 0u);
    EXPECT_EQ(camera->GetPixelFormat(0), 0x01100007u);
    EXPECT_STREQ(camera->GetPixelFormatName(0), "Mono16");

    EXPECT_EQ(camera->SetRegionMode(3, 0), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetCompressionMode(0, -1), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetPayloadType(1, 2), GevResult::InvalidArgument);
    EXPECT_EQ(camera->GetWidth(-1), 0u);
    EXPECT_EQ(camera->SetCompressionMode(2, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetTimestampMode(2, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetSourceCount(17), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetSourceCount(1), 0u);
}

// Names of PFNC values, and the values of names: a value not in the table has
// the empty name, a name not in the table the value 0.
TEST_F(CameraTest, PixelFormatNamesAndValues)
{
    struct Case {
        uint32_t value;
        const char* name;
    };
    const Case cases[] = {
        {0x01100007, "Mono16"}, {0x026000C0, "Coord3D_ABC32f"}, {0x010C0004, "Mono10Packed"},
        {0x12345678, ""},       {0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const char* name = camera->PixelFormatNameOf(c.value);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, c.name);
        if (c.name[0] != '\0') {
            EXPECT_EQ(camera->PixelFormatValueOf(c.name), c.value);
        }
    }
    EXPECT_EQ(camera->PixelFormatValueOf("NoSuchFormat"), 0u);
    EXPECT_EQ(camera->PixelFormatValueOf(nullptr), 0u);
    // The selected format's name: a value the table lacks reads as "".
    ASSERT_EQ(camera->SetRegionPixelFormat("NoSuchFormat", 0, 0, 0), 0u);
    EXPECT_EQ(camera->GetPixelFormat(0), 0u);
    EXPECT_STREQ(camera->GetPixelFormatName(0), "");
}

// The host's image settings as the getters read them back: every image
// register write lands in the map of the channel's key (the width's key takes
// the RegionSelector value, the pixel format is one value under key 0, which a
// key without its own format reads), and PayloadSize follows a non-zero size.
TEST_F(CameraTest, HostImageSettingsReadBackThroughTheGetters)
{
    auto local = [&](uint32_t address, uint32_t value) {
        ASSERT_EQ(camera->WriteRegister(address, htonl(value)), 0u) << std::hex << address;
    };
    struct Case {
        const char* what;
        std::function<void()> set;
        uint32_t width, height, format, payload, payloadRegister;
    };
    const uint32_t mono8 = 0x01080001, mono16 = 0x01100007;
    const Case cases[] = {
        {"size and format",
         [&] {
             camera->SetImageSize(640, 480, 0);
             camera->SetPixelFormat("Mono8", 0);
         },
         640, 480, mono8, 307200, 307200},
        {"format first, then size",
         [&] {
             camera->SetPixelFormat("Mono16", 0);
             camera->SetImageSize(10, 3, 0);
         },
         10, 3, mono16, 60, 60},
        {"nothing set yet: the payload register keeps its default", [] {}, 0, 0, 0, 0, 307200},
        {"region mode 2 with region 1 selected",
         [&] {
             camera->SetRegionMode(2, 0);
             local(0x10000, 1);
             camera->SetImageSize(100, 7, 0);
             camera->SetPixelFormat("Mono16", 0);
         },
         100, 7, mono16, 1400, 1400},
        {"region mode 2 with region 0 selected: the size goes to region 0, the image keeps its own",
         [&] {
             camera->SetRegionMode(2, 0);
             camera->SetPixelFormat("Mono16", 0);
             camera->SetImageSize(100, 7, 0);
         },
         0, 0, mono16, 0, 307200},
        {"a region's own format wins over key 0",
         [&] {
             camera->SetRegionMode(2, 0);
             camera->SetRegionWidth(4, 0, 1, 0);
             camera->SetRegionHeight(2, 0, 1, 0);
             camera->SetRegionPixelFormat("Mono16", 0, 1, 0);
             camera->SetPixelFormat("Mono8", 0);
         },
         4, 2, mono16, 16, 16},
        {"the format written under another source holds for source 0",
         [&] {
             camera->SetSourceCount(4);
             local(0x10024, 2);
             camera->SetImageSize(8, 2, 0);
             camera->SetPixelFormat("Mono16", 0);
             local(0x10024, 0);
             camera->SetRegionWidth(5, 0, 0, 0);
             camera->SetRegionHeight(1, 0, 0, 0);
             camera->ApplyRegionSettings(0);
         },
         5, 1, mono16, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        make(defaultNet());
        ASSERT_EQ(camera->AddPixelFormat("Mono8"), 0u);
        ASSERT_EQ(camera->AddPixelFormat("Mono16"), 0u);
        c.set();
        EXPECT_EQ(camera->GetWidth(0), c.width);
        EXPECT_EQ(camera->GetHeight(0), c.height);
        EXPECT_EQ(camera->GetPixelFormat(0), c.format);
        EXPECT_EQ(camera->GetPayloadSize(0), c.payload);
        EXPECT_EQ(reg(0x10018), c.payloadRegister);
    }
    // Offsets the same way.
    ASSERT_EQ(camera->SetImageOffset(3, 4, 0), 0u);
    EXPECT_EQ(camera->GetOffsetX(0), 3u);
    EXPECT_EQ(camera->GetOffsetY(0), 4u);
}

TEST_F(CameraTest, GeometryReachesTheDefaultFeatures)
{
    ASSERT_EQ(camera->SetMaxImageSize(4500, 10000), 0u);
    EXPECT_EQ(reg(0x10030), 4500u);
    EXPECT_EQ(reg(0x10034), 10000u);
    ASSERT_EQ(camera->SetImageSize(2048, 100, 0), 0u);
    EXPECT_EQ(reg(0x10004), 2048u);
    EXPECT_EQ(reg(0x10008), 100u);
    ASSERT_EQ(camera->SetImageOffset(3, 4, 0), 0u);
    EXPECT_EQ(reg(0x1000C), 3u);
    EXPECT_EQ(reg(0x10010), 4u);

    EXPECT_EQ(camera->SetPixelFormat("Mono16", 0), GevResult::NotFound);
    EXPECT_EQ(camera->SetPixelFormat("NoSuchFormat", 0), GevResult::Fail);
    ASSERT_EQ(camera->AddPixelFormatEx("Mono16", nullptr, "True"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono16", 0), 0u);
    EXPECT_EQ(reg(0x10014), 0x01100007u);
    ASSERT_EQ(camera->SetPixelFormatValue(0x01080001, 0), 0u);
    EXPECT_EQ(reg(0x10014), 0x01080001u);
    EXPECT_EQ(camera->SetPixelFormatValue(0x01100005, 0), GevResult::NotFound);  // Mono12 has no entry
    EXPECT_EQ(camera->AddPixelFormat("NoSuchFormat"), GevResult::Fail);

    ASSERT_EQ(camera->SetSourceCount(4), 0u);
    EXPECT_EQ(reg(0x10028), 4u);
    EXPECT_EQ(reg(0x10020), 1u);
    ASSERT_EQ(camera->SetRegionMode(2, 0), 0u);
}

}  // namespace
}  // namespace camera_test
