// The simulator's side of the connection sequence, seen by a plain socket client.
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>

#include "golden_cases.h"
#include "platform/bytes.h"
#include "test_client.h"

namespace scanner_sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::TestClient;

const std::string kHello = "SetHostLibraryVersion=1.11.0   x64\r";
const std::string kStart = "\x02\x00\x00\x03\x00\x00\x00\x02"s;
constexpr auto kWait = 5s;
constexpr size_t kStatusContainerSize = 8 + 52 + 60 + 16 + 16 + 160 + 12;

uint32_t le32(const std::string& s, size_t offset)
{
    return platform::loadLE32(reinterpret_cast<const uint8_t*>(s.data()) + offset);
}

// Reads one container (magic, length, rest); "" on time-out.
std::string receiveContainer(TestClient& client)
{
    std::string head = client.receive(8, kWait);
    if (head.size() != 8)
        return {};
    const uint32_t length = le32(head, 4);
    return head + client.receive(length - 8, kWait);
}

Options quiet()
{
    Options o;
    o.idlePeriodMs = 0;
    return o;
}

TEST(ScannerSimProtocol, Lin1ddFollowsTheStartPacketOnEveryConnection)
{
    ScannerSim sim(quiet());
    sim.Start();
    const std::string expected = lin1ddFrame(test::goldenLinGeometry());
    for (int connection = 0; connection < 2; ++connection) {
        TestClient client(sim.Port());
        ASSERT_TRUE(client.send(kHello));
        EXPECT_EQ(client.receive(1, 100ms), "");  // nothing before the start packet
        ASSERT_TRUE(client.send(kStart));
        EXPECT_EQ(test::toHex(client.receive(expected.size(), kWait)), test::toHex(expected));
        EXPECT_TRUE(sim.WaitForLin1ddSent(connection + 1, kWait));
        EXPECT_EQ(client.receive(1, 100ms), "");  // and nothing more without idle traffic
    }
}

TEST(ScannerSimProtocol, Lin1ddModes)
{
    struct Case {
        Options::LinSend mode;
        bool sendStart;
        bool expectLin;
    };
    const Case cases[] = {{Options::LinSend::OnAccept, false, true},
                          {Options::LinSend::Never, true, false},
                          {Options::LinSend::AfterStartPacket, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        Options o = quiet();
        o.linSend = c.mode;
        o.linDelayMs = 20;
        ScannerSim sim(o);
        sim.Start();
        TestClient client(sim.Port());
        if (c.sendStart) {
            ASSERT_TRUE(client.send(kStart));
        }
        const std::string got = client.receive(1198, c.expectLin ? kWait : 300ms);
        EXPECT_EQ(got.size(), c.expectLin ? 1198u : 0u);
        if (c.expectLin)
            EXPECT_TRUE(sim.WaitForLin1ddSent(1, kWait));
        else
            EXPECT_EQ(sim.Lin1ddSentCount(), 0);
        if (!c.expectLin) {  // on request it still goes out
            EXPECT_TRUE(sim.SendLin1dd());
            EXPECT_EQ(client.receive(1198, kWait).size(), 1198u);
        }
    }
}

TEST(ScannerSimProtocol, IdleTrafficStartsAfterLin1dd)
{
    Options o;
    o.idlePeriodMs = 30;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    EXPECT_EQ(client.receive(1, 150ms), "");  // no idle traffic before LIN1DD
    ASSERT_TRUE(client.send(kHello + kStart));
    ASSERT_EQ(client.receive(1198, kWait).size(), 1198u);
    for (int i = 0; i < 3; ++i) {
        const std::string c = receiveContainer(client);
        ASSERT_EQ(c.size(), kStatusContainerSize);
        EXPECT_EQ(le32(c, 0), kContainerMagic);
        EXPECT_EQ(le32(c, 8), kGeneralTag);
    }
    sim.SetSilent(true);
    client.receive(100000, 100ms);  // what was under way
    EXPECT_EQ(client.receive(1, 200ms), "");
}

TEST(ScannerSimProtocol, SyncContainerAnswerResynchronisesAfterLin1dd)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send(kStart));
    ASSERT_EQ(client.receive(1198, kWait).size(), 1198u);
    ASSERT_TRUE(client.send("SetRequestSyncContainer\r"));
    // After the type-7 frame a status container comes first, then the sync container.
    EXPECT_EQ(receiveContainer(client).size(), kStatusContainerSize);
    EXPECT_EQ(test::toHex(client.receive(20, kWait)), test::toHex(syncContainer()));
    ASSERT_TRUE(client.send("SetRequestSyncContainer\r"));
    EXPECT_EQ(test::toHex(client.receive(20, kWait)), test::toHex(syncContainer()));
}

std::string xmlText(const std::string& container)
{
    if (container.size() < 8 + 8 + 12 || le32(container, 8) != kXmlTag)
        return {};
    const uint32_t block = le32(container, 12);
    return std::string(container.substr(16, block - 8 - 1));  // without the NUL
}

std::string descriptorValue(const std::string& xml, std::initializer_list<const char*> path)
{
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.c_str()) != tinyxml2::XML_SUCCESS)
        return "<malformed>";
    const tinyxml2::XMLNode* node = &doc;
    for (const char* p : path)
        if (!node || !(node = node->FirstChildElement(p)))
            return "<missing>";
    const char* text = node->ToElement()->GetText();
    return text ? text : "";
}

TEST(ScannerSimProtocol, DescriptorAnswersShowTheSettings)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send("SetUserString=Line&1\rSetROI1WidthX=1024\rSetAmountProfilesY=100\r"));
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    const std::string c = receiveContainer(client);
    ASSERT_GT(c.size(), 20u);
    EXPECT_EQ(c[16 + c.size() - 16 - 12 - 1], '\0');
    const std::string xml = xmlText(c);
    EXPECT_EQ(descriptorValue(xml, {"device", "settings", "userstring", "current"}), "Line&1");
    EXPECT_EQ(descriptorValue(xml, {"device", "settings", "roi", "x1", "width", "current"}), "1024");
    EXPECT_EQ(descriptorValue(xml, {"device", "settings", "amountprofilesy", "current"}), "100");
    EXPECT_EQ(sim.ModelValue("device:settings:roi:x1:width:current"), "1024");

    // Settings sets answer the same way, also without "\r".
    ASSERT_TRUE(client.send("GetSettings=2"));
    EXPECT_EQ(descriptorValue(xmlText(receiveContainer(client)), {"device", "general", "pixel_x_max"}), "2048");

    ASSERT_TRUE(client.send("SetResetSettings\r"));
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    EXPECT_EQ(descriptorValue(xmlText(receiveContainer(client)), {"device", "settings", "userstring", "current"}),
              "");
}

TEST(ScannerSimProtocol, ALoggedCommandHasChangedTheModel)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    for (int i = 0; i < 20; ++i) {
        const std::string value = std::to_string(100 + i);
        ASSERT_TRUE(client.send("SetExposureTime=" + value + "\r"));
        ASSERT_TRUE(sim.WaitForCommand("SetExposureTime=" + value + "\r", kWait));
        EXPECT_EQ(sim.ModelValue("device:settings:exposuretime:current"), value);
    }
}

TEST(ScannerSimProtocol, DescriptorFaults)
{
    Options o = quiet();
    o.xmlReplyDelayMs = 300;
    ScannerSim sim(o);
    sim.Start();
    sim.SetModelValue("device:general:firmwareversion:general", "1.1.9");
    sim.RemoveModelKey("device:general:serialnumber");
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    EXPECT_EQ(client.receive(1, 100ms), "");  // delayed
    const std::string xml = xmlText(receiveContainer(client));
    EXPECT_EQ(descriptorValue(xml, {"device", "general", "firmwareversion", "general"}), "1.1.9");
    EXPECT_EQ(descriptorValue(xml, {"device", "general", "serialnumber"}), "<missing>");

    sim.SetSilent(true);
    ASSERT_TRUE(client.send("get_xmldescriptor\r"));
    EXPECT_EQ(client.receive(1, 600ms), "");
}

TEST(ScannerSimProtocol, ReportsLibraryLocalCommands)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send(kHello + "SetEchoMode=1\r" + kStart + "SetAcquisitionStop\r"));
    ASSERT_TRUE(sim.WaitForCommand("SetAcquisitionStop\r", kWait));
    const std::vector<Command> local = sim.LibraryLocalCommands();
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].bytes, "SetEchoMode=1\r");
}

}  // namespace
}  // namespace scanner_sim
