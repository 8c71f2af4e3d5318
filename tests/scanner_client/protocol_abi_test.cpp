// The scanner protocol end to end: the library through its exported functions against the simulator.
#include "quillan.h"
#include "scanner_sim/scanner_sim.h"

#include "eventually.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

class Protocol : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Start();
        port = std::to_string(sim.Port());
        h = Quillan_Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override { EXPECT_EQ(Quillan_Disconnect(h), nullptr); }

    int status()
    {
        int s = -1;
        Quillan_GetConnectStatus(h, &s);
        return s;
    }
    bool ready() { return eventually([&] { return status() == 3; }, 3000ms); }
    int write(const std::string& text)
    {
        return Quillan_WriteData(h, const_cast<char*>(text.c_str()), static_cast<int>(text.size()));
    }
    int read(const char* name, int cacheMs, std::string& value)
    {
        char buf[256] = {};
        int rc = Quillan_ReadData(h, const_cast<char*>(name), buf, sizeof(buf), cacheMs);
        value = buf;
        return rc;
    }

    scanner_sim::ScannerSim sim;
    std::string port;
    QuillanHandle h = nullptr;
};

TEST_F(Protocol, ReadyAfterLinearizationDataAndAgainAfterReconnect)
{
    ASSERT_TRUE(ready());
    unsigned char desc[152];
    EXPECT_EQ(Quillan_GetLinDatType(h, desc, sizeof(desc)), 0);
    double x = 0, z = 0;
    EXPECT_EQ(Quillan_Linearize(h, 1024, 544, &x, &z), 0);
    EXPECT_NEAR(z, 200.0, 1e-6);

    sim.CloseClient();
    ASSERT_TRUE(sim.WaitForAccepts(2, 3000ms));
    EXPECT_TRUE(ready());
    EXPECT_TRUE(sim.WaitForLin1ddSent(2, 1000ms));
}

TEST_F(Protocol, StalePartialFrameDoesNotBlockTheNextConnection)
{
    ASSERT_TRUE(ready());
    // A container header promising far more bytes than ever come, then the close.
    ASSERT_TRUE(sim.SendRaw(std::string("\xff\x01\x1a\x02\x00\x00\x20\x00\x01\x01\x1a\x02", 12)));
    std::this_thread::sleep_for(100ms);
    sim.CloseClient();
    ASSERT_TRUE(sim.WaitForAccepts(2, 3000ms));
    EXPECT_TRUE(ready());
}

TEST_F(Protocol, DescriptorAnswersAndFollowsWrites)
{
    ASSERT_TRUE(ready());
    char xml[0x20000];
    int n = Quillan_GetInfo(h, xml, sizeof(xml), const_cast<char*>("XML"));
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(xml, static_cast<size_t>(n)).find("<serialnumber>12345678</serialnumber>"),
              std::string::npos);
    EXPECT_EQ(Quillan_GetInfo(h, xml, n, const_cast<char*>("xml")), -2);  // the NUL does not fit

    std::string value;
    EXPECT_EQ(read("SerialNumber", 0, value), 0);
    EXPECT_EQ(value, "12345678");
    EXPECT_EQ(read("GetSerialNumber", 60000, value), 0);  // fresh enough: answered from the stored texts
    EXPECT_EQ(value, "12345678");

    EXPECT_EQ(write("SetExposureTime=77\r"), 19);
    EXPECT_EQ(read("ExposureTime", 0, value), 0);
    EXPECT_EQ(value, "77");

    EXPECT_EQ(read("SerialNumber", -7, value), -3);
    EXPECT_EQ(value, "12345678");  // the lookup still ran
    EXPECT_EQ(read("Timestamp", 0, value), -3);
    EXPECT_EQ(read("HeartBeat", -1, value), -4);  // nothing stored since the FIFO was emptied
    EXPECT_EQ(read("GetCheckLinearizationMode", 0, value), 0);
    EXPECT_EQ(value, "0");
}

TEST_F(Protocol, DescriptorNamesGiveTheSimulatorsValues)
{
    ASSERT_TRUE(ready());
    const std::string g = "device:general:", s = "device:settings:";
    std::vector<std::pair<std::string, std::string>> names = {
        {"OrderNumber", g + "ordernumber"},
        {"ProductVersion", g + "productversion"},
        {"Producder", g + "producer"},
        {"HardwareVersion", g + "hardwareversion:general"},
        {"FirmwareVersion", g + "firmwareversion:general"},
        {"SerialNumber", g + "serialnumber"},
        {"MAC", g + "mac"},
        {"WorkingRangeZStart", g + "workingrange_z_start"},
        {"WorkingRangeZEnd", g + "measuringrange_z"},
        {"FieldWidthXStart", g + "fieldwidth_x_start"},
        {"FieldWidthXEnd", g + "fieldwidth_x_end"},
        {"PixelXMax", g + "pixel_x_max"},
        {"PixelZMax", g + "pixel_z_max"},
        {"GetlinInfo", g + "lininfo"},
        {"EncoderHTL", g + "encoder_htl"},
        {"EncoderTTL", g + "encoder_ttl_rs422"},
        {"Temperature", g + "temperatur"},
        {"ScannerState", g + "scannerstatus"},
        {"UserString", s + "userstring:current"},
        {"SignalEnable", s + "protocol:profile:signal:enable:current"},
        {"AcquisitionLineTime", s + "acquisitionlinetime:current"},
        {"TriggerSource", s + "triggersource:current"},
        {"AmountProfilesY", s + "amountprofilesy:current"},
        {"ROI1WidthX", s + "roi:x1:width:current"},
        {"ROI1OffsetZ", s + "roi:z1:offset:current"},
        {"SignalWidthMin", s + "signalwidthmin:current"},
        {"EncoderTriggerFunction", s + "triggerfunction:current"},
        {"EncoderCountDirection", s + "countdirection:current"},
    };
    const std::pair<const char*, const char*> lines[] = {
        {"Function", "function"}, {"InputLoad", "inputfunctionload"}, {"Output", "output"},
        {"ResetCounterSignaledge", "resetcounter:signaledge"},
        {"ResetCounterEncoderTTLRS422", "resetcounter:encoder_ttl_rs422"}};
    for (int n = 1; n <= 4; ++n)
        for (const auto& [suffix, key] : lines)
            names.push_back({"EA" + std::to_string(n) + suffix,
                             s + "usrio:ea" + std::to_string(n) + ":" + key + ":current"});

    // Distinct values make a mix-up of two names visible.
    int unique = 900;
    for (const auto& [name, path] : names)
        if (!sim.ModelValue(path).empty() || path.find("usrio") != std::string::npos)
            sim.SetModelValue(path, std::to_string(unique++));
    std::string value;
    ASSERT_EQ(read("SerialNumber", 0, value), 0);
    for (const auto& [name, path] : names) {
        EXPECT_EQ(read(name.c_str(), 60000, value), 0) << name;
        EXPECT_EQ(value, sim.ModelValue(path)) << name;
    }
}

TEST_F(Protocol, SettingsSetsAreFetched)
{
    ASSERT_TRUE(ready());
    char buf[0x20000];
    for (const char* kind : {"settingsdefault", "Settings1", "settings2", "SETTINGS3"}) {
        int n = Quillan_GetInfo(h, buf, sizeof(buf), const_cast<char*>(kind));
        EXPECT_GT(n, 0) << kind;
    }
    EXPECT_TRUE(sim.WaitForCommand("GetSettings=3\r", 1000ms));
    std::string value;
    EXPECT_EQ(read("GetSettings=1", 0, value), -1);  // longer than the 256-byte buffer
    EXPECT_TRUE(sim.WaitForCommand("GetSettings=1\r", 1000ms, 2));
    EXPECT_EQ(Quillan_ReadData(h, const_cast<char*>("GetSettings=2"), buf, sizeof(buf), 0), 0);
    EXPECT_NE(std::string(buf).find("<device"), std::string::npos);
}

// A descriptor refresh followed at once by a settings or XML request: each waits for its own answer.
TEST_F(Protocol, RefreshThenRequestBackToBackGetsEachAnswer)
{
    ASSERT_TRUE(ready());
    std::vector<char> buf(0x20000);
    std::string value;
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(read("SerialNumber", 0, value), 0) << "iteration " << i;
        ASSERT_EQ(value, "12345678") << "iteration " << i;
        if (i % 2 == 0) {
            ASSERT_EQ(Quillan_ReadData(h, const_cast<char*>("GetSettings=1"), buf.data(), static_cast<int>(buf.size()), 0),
                      0)
                << "iteration " << i;
            ASSERT_NE(std::string(buf.data()).find("<device"), std::string::npos) << "iteration " << i;
        } else {
            int n = Quillan_GetInfo(h, buf.data(), static_cast<int>(buf.size()), const_cast<char*>("xml"));
            ASSERT_GT(n, 0) << "iteration " << i;
            ASSERT_NE(std::string(buf.data()).find("<serialnumber>12345678</serialnumber>"), std::string::npos)
                << "iteration " << i;
        }
    }
}

// Result codes of ReadData by cache mode, before any profile arrived, with the scanner answering
// and then silent. A status-only name with cacheMs >= 0 still refreshes the descriptor first.
TEST_F(Protocol, ReadDataCodesByCacheMode)
{
    ASSERT_TRUE(ready());
    std::string value;
    ASSERT_EQ(read("SerialNumber", 0, value), 0);  // the stored texts are fresh from here on
    struct Case {
        const char* name;
        int cacheMs;
        int rc;
        const char* text;  // buf afterwards; nullptr: not checked
        bool refreshes;    // a "get_xmldescriptor" goes out
    };
    auto requests = [&] {
        int n = 0;
        for (const auto& c : sim.Commands())
            n += c.bytes == "get_xmldescriptor\r";
        return n;
    };
    auto check = [&](const Case& c, const char* phase) {
        int before = requests();
        char buf[256];
        std::snprintf(buf, sizeof(buf), "untouched");
        EXPECT_EQ(Quillan_ReadData(h, const_cast<char*>(c.name), buf, sizeof(buf), c.cacheMs), c.rc)
            << phase << " " << c.name << " " << c.cacheMs;
        if (c.text) {
            EXPECT_STREQ(buf, c.text) << phase << " " << c.name << " " << c.cacheMs;
        }
        // The simulator logs a command once it answered it; a silent one logs it all the same.
        if (c.refreshes) {
            EXPECT_TRUE(eventually([&] { return requests() > before; }, 1000ms)) << phase << " " << c.name;
        } else {
            EXPECT_EQ(requests(), before) << phase << " " << c.name << " " << c.cacheMs;
        }
    };
    const Case answering[] = {
        {"PictureCounter", -7, -2, "", false},   // status-only name
        {"GetUserIOCounter", -2, -2, "", false},
        {"SerialNumber", -7, -3, "12345678", false},  // descriptor name: its stored text
        {"ExposureTime", -7, -3, "100", false},  // both: the descriptor text
        {"Timestamp", -7, -3, nullptr, false},   // unknown name
        {"IDGeneral", -7, -2, nullptr, false},
        {"PictureCounter", -1, -4, nullptr, false},  // nothing received since the FIFO was emptied
        {"SerialNumber", -1, -4, nullptr, false},
        {"PictureCounter", 0, -2, "", true},     // refreshed, then not available
        {"CPUFiFo", 60000, -2, "", false},       // fresh enough: no refresh
        {"SerialNumber", 60000, 0, "12345678", false},
    };
    for (const auto& c : answering)
        check(c, "answering");
    sim.SetSilent(true);
    const Case silent[] = {
        {"PictureCounter", 0, -5, nullptr, true},  // the refresh failed
        {"GetBandwidthEth", 0, -5, nullptr, true},
        {"SerialNumber", 0, -5, nullptr, true},
        {"PictureCounter", -7, -2, "", false},
    };
    for (const auto& c : silent)
        check(c, "silent");
}

TEST_F(Protocol, SilentScannerGivesTimeOutCodes)
{
    ASSERT_TRUE(ready());
    sim.SetSilent(true);
    std::string value;
    EXPECT_EQ(read("SerialNumber", 0, value), -5);
    char xml[1024];
    EXPECT_EQ(Quillan_GetInfo(h, xml, sizeof(xml), const_cast<char*>("xml")), -4);
    EXPECT_EQ(Quillan_GetInfo(h, xml, sizeof(xml), const_cast<char*>("settings3")), -6);
    EXPECT_EQ(Quillan_GetInfo(h, xml, sizeof(xml), const_cast<char*>("sync")), -5);
    EXPECT_EQ(Quillan_GetInfo(h, xml, sizeof(xml), const_cast<char*>("settings4")), -6);
}

TEST_F(Protocol, SyncContainerAnswersEchoMode)
{
    ASSERT_TRUE(ready());
    char buf[16];
    EXPECT_EQ(Quillan_GetInfo(h, buf, sizeof(buf), const_cast<char*>("sync")), 1);
    EXPECT_EQ(write("SetEchoMode=1\r"), 14);
    EXPECT_EQ(write("SetExposureTime=50\r"), 19);  // sent, sync answered
    EXPECT_TRUE(sim.WaitForCommand("SetExposureTime=50\r", 1000ms));
    for (const auto& c : sim.LibraryLocalCommands())
        ADD_FAILURE() << "library-local command on the wire: " << c.bytes;
}

}  // namespace
