// The profile stream seen by a plain socket client: free run, software trigger, stop, settings
// changes and the faults that act on the connection.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "golden_cases.h"
#include "platform/bytes.h"
#include "test_client.h"
#include "scanner_sim/crc32_mpeg2.h"
#include "scanner_sim/scanner_sim.h"

namespace scanner_sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::TestClient;

const std::string kStart = "\x02\x00\x00\x03\x00\x00\x00\x02"s;
constexpr auto kWait = 5s;
constexpr size_t kLinSize = 1198;
constexpr size_t kSize = 8 + 52 + 60 + 16 + 16 + 160 + 20 + 256 * 4 + 12;  // a profile of 256 columns

uint32_t le32(const std::string& s, size_t offset)
{
    return platform::loadLE32(reinterpret_cast<const uint8_t*>(s.data()) + offset);
}

std::string toHexHead(const std::string& frame) { return test::toHex(frame.substr(0, 8)); }

std::string receiveContainer(TestClient& client)
{
    std::string head = client.receive(8, kWait);
    if (head.size() != 8)
        return {};
    return head + client.receive(le32(head, 4) - 8, kWait);
}

Options quiet()
{
    Options o;
    o.idlePeriodMs = 0;
    o.device.geometry.widthX = 256;  // small containers
    return o;
}

// Connects and takes the LIN1DD frame.
void handshake(ScannerSim& sim, TestClient& client)
{
    ASSERT_TRUE(client.isConnected());
    ASSERT_TRUE(client.send(kStart));
    ASSERT_EQ(client.receive(kLinSize, kWait).size(), kLinSize);
    ASSERT_TRUE(sim.WaitForLin1ddSent(sim.Lin1ddSentCount(), kWait));
}

// Sends commands ("A\rB\r") and waits until each has been answered.
void command(ScannerSim& sim, TestClient& client, const std::string& text)
{
    std::vector<std::string> pieces;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\r', at) + 1;
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    const auto logged = [&](const std::string& piece) {
        int n = 0;
        for (const Command& c : sim.Commands())
            n += c.bytes == piece ? 1 : 0;
        return n;
    };
    std::vector<int> wanted;
    for (size_t i = 0; i < pieces.size(); ++i)
        wanted.push_back(logged(pieces[i]) + static_cast<int>(std::count(pieces.begin(), pieces.begin() + i + 1, pieces[i])));
    ASSERT_TRUE(client.send(text));
    for (size_t i = 0; i < pieces.size(); ++i)
        ASSERT_TRUE(sim.WaitForCommand(pieces[i], kWait, wanted[i])) << pieces[i];
}

TEST(ScannerSimStream, FreeRunSendsConsecutiveProfilesUntilStopped)
{
    Options o = quiet();
    o.counterStart = CounterStart{65533, 100, 7, 9000};
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetAcquisitionLineTime=2000\r");
    command(sim, client, "SetTriggerEncoderStep=5\r");
    command(sim, client, "SetAcquisitionStart\r");
    for (uint64_t i = 0; i < 5; ++i) {
        const std::string c = receiveContainer(client);
        ASSERT_TRUE(sim.WaitForProfilesSent(i + 1, kWait));
        const std::optional<SentProfile> p = sim.ProfileAt(i);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->counters, (ProfileCounters{i, static_cast<uint16_t>(65533 + i), static_cast<uint32_t>(100 + 2000 * i),
                                                static_cast<uint32_t>(7 + 5 * i), static_cast<uint32_t>(9000 + 5 * i)}));
        EXPECT_EQ(test::toHex(c), test::toHex(sentContainer(*p, {})));
        EXPECT_EQ(c.size(), kSize);
    }
    command(sim, client, "SetAcquisitionStop\r");
    EXPECT_FALSE(sim.Streaming());
    const uint64_t sent = sim.ProfilesSent();
    std::string rest = client.receive(1 << 20, 100ms);
    EXPECT_EQ(sim.ProfilesSent(), sent);  // nothing after the stop was answered
    EXPECT_EQ(rest.size(), (sent - 5) * kSize);  // every profile counted went out whole
    EXPECT_EQ(sim.ModelValue("device:settings:camerarunning:current"), "0");
}

TEST(ScannerSimStream, ShortLinePeriodsArriveInOrder)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetAcquisitionLineTime=100\rSetAcquisitionStart\r");
    for (uint16_t i = 0; i < 200; ++i) {
        const std::string c = receiveContainer(client);
        ASSERT_EQ(c.size(), kSize) << i;
        ASSERT_EQ(platform::loadLE16(reinterpret_cast<const uint8_t*>(c.data()) + 16), i);
        ASSERT_EQ(le32(c, 18), 100u * i);  // time stamp
    }
    command(sim, client, "SetAcquisitionStop\r");
}

TEST(ScannerSimStream, SoftwareTriggerSendsOneProfileEach)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetTriggerSoftware\r");  // not running: nothing
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\r");
    EXPECT_FALSE(sim.Streaming());
    EXPECT_EQ(client.receive(1, 50ms), "");
    for (uint64_t i = 0; i < 3; ++i) {
        command(sim, client, "SetTriggerSoftware\r");
        EXPECT_EQ(sim.ProfilesSent(), i + 1);
        EXPECT_EQ(receiveContainer(client), sentContainer(*sim.ProfileAt(i), {}));
    }
    // Amount mode with amount 3 is a software line start too.
    command(sim, client, "SetTriggerAmountProfilesY=3\r");
    command(sim, client, "SetTriggerSoftware\r");
    EXPECT_EQ(sim.ProfilesSent(), 4u);
    command(sim, client, "SetAcquisitionStop\rSetTriggerSoftware\r");
    EXPECT_EQ(sim.ProfilesSent(), 4u);
}

TEST(ScannerSimStream, LineTimeAndEncoderResetApplyWhileRunning)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetTriggerEncoderStep=2\rSetAcquisitionLineTime=3000\rSetAcquisitionStart\r");
    ASSERT_TRUE(sim.WaitForProfilesSent(2, kWait));
    command(sim, client, "SetAcquisitionLineTime=700\rSetResetEncoder\r");
    EXPECT_TRUE(sim.Streaming());
    const uint64_t from = sim.ProfilesSent();
    ASSERT_TRUE(sim.WaitForProfilesSent(from + 3, kWait));
    command(sim, client, "SetAcquisitionStop\r");
    const SentProfile a = *sim.ProfileAt(from + 1), b = *sim.ProfileAt(from + 2);
    EXPECT_EQ(b.counters.timeStamp - a.counters.timeStamp, 700u);
    EXPECT_EQ(b.counters.encoderHtl - a.counters.encoderHtl, 2u);
    bool reset = false;  // the first profile after the reset carries 0 on both encoders
    for (uint64_t i = 2; i <= from; ++i)
        reset = reset || (sim.ProfileAt(i)->counters.encoderHtl == 0 && sim.ProfileAt(i)->counters.encoderTtl == 0);
    EXPECT_TRUE(reset);
    EXPECT_EQ(sim.ProfileAt(1)->counters.encoderTtl - sim.ProfileAt(1)->counters.encoderHtl, 499000u);
    EXPECT_EQ(sim.ProfileAt(0)->settings->status.lineTime, 3000u);
}

TEST(ScannerSimStream, SettingsShapeTheContainer)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\r");
    command(sim, client, "SetROI1WidthX=100\rSetSignalEnable=3\rSetTriggerSoftware\r");
    const std::string twoEchoes = receiveContainer(client);
    EXPECT_EQ(twoEchoes.size(), 8u + 52 + 60 + 16 + 16 + 160 + 20 + 100 * 8 + 12);
    EXPECT_EQ(twoEchoes[312 + 10], 0x03);  // echo mask
    command(sim, client, "SetSignalEnable=1\rSetLinearizationMode=1\rSetTriggerSoftware\r");
    const std::string linearized = receiveContainer(client);
    EXPECT_EQ(le32(linearized, 312), kProfileScaleTag);
    EXPECT_EQ(le32(linearized, 312 + 32), kLinearizedProfileTag);
    EXPECT_EQ(le32(linearized, 312 + 32 + 16), 100u);  // columns
    EXPECT_EQ(linearized, sentContainer(*sim.ProfileAt(1), {}));
    EXPECT_TRUE(sim.ProfileAt(1)->settings->linearized);
}

TEST(ScannerSimStream, FrameStartBurstSendsAmountProfilesY)
{
    Options o = quiet();
    o.frameStartBurst = true;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetAmountProfilesY=4\rSetTriggerAmountProfilesY=1\rSetAcquisitionStart\r");
    ASSERT_TRUE(sim.WaitForProfilesSent(4, kWait));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(receiveContainer(client).size(), kSize);
    EXPECT_EQ(client.receive(1, 100ms), "");
    EXPECT_EQ(sim.ProfilesSent(), 4u);
    EXPECT_FALSE(sim.Streaming());
    command(sim, client, "SetAcquisitionStart\r");  // the next frame
    ASSERT_TRUE(sim.WaitForProfilesSent(8, kWait));
}

TEST(ScannerSimStream, NoProfilesBeforeLin1dd)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    command(sim, client, "SetAcquisitionLineTime=1000\rSetAcquisitionStart\r");
    EXPECT_EQ(client.receive(1, 100ms), "");
    EXPECT_EQ(sim.ProfilesSent(), 0u);
    ASSERT_TRUE(client.send(kStart));
    ASSERT_EQ(client.receive(kLinSize, kWait).size(), kLinSize);
    EXPECT_EQ(receiveContainer(client).size(), kSize);
}

TEST(ScannerSimStream, CloseMidFrameThenTheNextConnectionStreams)
{
    Options o = quiet();
    o.streamFaults.closeMidFrame = {2};
    ScannerSim sim(o);
    sim.Start();
    {
        TestClient client(sim.Port());
        handshake(sim, client);
        command(sim, client, "SetAcquisitionStart\r");
        const std::string bytes = client.receive(2 * kSize + kSize / 2 + 1, kWait);
        EXPECT_EQ(bytes.size(), 2u * kSize + kSize / 2);
        EXPECT_EQ(bytes.substr(2 * kSize), sentContainer(*sim.ProfileAt(2), {}).substr(0, kSize / 2));
        EXPECT_TRUE(client.waitForClose(kWait));
        EXPECT_EQ(sim.ProfileAt(2)->fault, ProfileFault::CloseMidFrame);
    }
    ASSERT_TRUE(sim.WaitForClientClosed(kWait));
    TestClient next(sim.Port());
    handshake(sim, next);  // still running: profiles continue on the new connection
    const std::string c = receiveContainer(next);
    ASSERT_EQ(c.size(), kSize);
    EXPECT_EQ(platform::loadLE16(reinterpret_cast<const uint8_t*>(c.data()) + 16), 3);
    EXPECT_EQ(sim.ProfileAt(3)->connection, 1);
}

TEST(ScannerSimStream, StartMidFrameOnEveryConnection)
{
    Options o = quiet();
    o.streamFaults.startMidFrame = true;
    o.linSend = Options::LinSend::Never;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\rSetTriggerSoftware\rSetTriggerSoftware\r");
    const std::string first = sentContainer(*sim.ProfileAt(0), {});
    EXPECT_EQ(client.receive(kSize / 2, kWait), first.substr(kSize / 2));  // the connection's first bytes
    EXPECT_EQ(receiveContainer(client), sentContainer(*sim.ProfileAt(1), {}));
}

TEST(ScannerSimStream, LegacyFramesAndNoContainerAfterThem)
{
    Options o = quiet();
    o.legacyFrameType = 3;
    o.idlePeriodMs = 20;
    o.streamFaults.flipByte = {1};
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\rSetTriggerSoftware\rSetTriggerSoftware\r");
    const size_t length = 320 + 256 * 4 + 64;
    std::string frames;
    // Idle containers may come before the first frame, never after one.
    while (frames.size() < 2 * length) {
        std::string head = client.receive(1, kWait);
        ASSERT_EQ(head.size(), 1u);
        if (frames.empty() && head[0] == '\xFF') {
            head += client.receive(7, kWait);
            client.receive(le32(head, 4) - 8, kWait);
            continue;
        }
        frames += head + client.receive(length - 1, kWait);
    }
    const std::string first = frames.substr(0, length), second = frames.substr(length);
    EXPECT_EQ(first, sentContainer(*sim.ProfileAt(0), o.streamFaults));
    EXPECT_EQ(toHexHead(first), "0319800500000000");
    const auto crcOk = [](const std::string& f) {
        return crc32Mpeg2(std::string_view(f).substr(0, f.size() - 4)) ==
               platform::loadBE32(reinterpret_cast<const uint8_t*>(f.data()) + f.size() - 4);
    };
    EXPECT_TRUE(crcOk(first));
    EXPECT_FALSE(crcOk(second));
    EXPECT_EQ(client.receive(1, 100ms), "");
}

TEST(ScannerSimStream, XmlContainerBeforeLin1dd)
{
    Options o = quiet();
    o.xmlBeforeLin1dd = true;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send(kStart));
    const std::string xml = receiveContainer(client);
    ASSERT_GT(xml.size(), 16u);
    EXPECT_EQ(le32(xml, 8), kXmlTag);
    EXPECT_EQ(client.receive(kLinSize, kWait), lin1ddFrame(o.device.geometry));
}

TEST(ScannerSimStream, Lin1ddWithABadCrc)
{
    Options o = quiet();
    o.lin1ddBadCrc = true;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    ASSERT_TRUE(client.send(kStart));
    const std::string frame = client.receive(kLinSize, kWait);
    const std::string good = lin1ddFrame(o.device.geometry);
    ASSERT_EQ(frame.size(), kLinSize);
    EXPECT_EQ(frame.substr(0, kLinSize - 1), good.substr(0, kLinSize - 1));
    EXPECT_NE(frame.back(), good.back());
}

TEST(ScannerSimStream, FaultsSetWhileRunning)
{
    ScannerSim sim(quiet());
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    StreamFaults f;
    f.flipByte = {1};
    f.counterGap = {2};
    f.gapSize = 3;
    sim.SetStreamFaults(f);
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\r");
    for (int i = 0; i < 3; ++i)
        command(sim, client, "SetTriggerSoftware\r");
    const std::string c0 = receiveContainer(client), c1 = receiveContainer(client), c2 = receiveContainer(client);
    const auto crcOk = [](const std::string& c) {
        return crc32Mpeg2(std::string_view(c).substr(0, c.size() - 4)) ==
               platform::loadBE32(reinterpret_cast<const uint8_t*>(c.data()) + c.size() - 4);
    };
    EXPECT_TRUE(crcOk(c0));
    EXPECT_FALSE(crcOk(c1));
    EXPECT_EQ(c1, sentContainer(*sim.ProfileAt(1), f));
    EXPECT_EQ(platform::loadLE16(reinterpret_cast<const uint8_t*>(c2.data()) + 16), 5);
    EXPECT_EQ(sim.ActiveStreamFaults().gapSize, 3);
}

}  // namespace
}  // namespace scanner_sim

namespace scanner_sim {
namespace {

TEST(ScannerSimStream, NextProfileFaultsAndTheProfileLog)
{
    char path[] = "/tmp/scanner_sim_profiles_XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    Options o = quiet();
    o.profileLogPath = path;
    ScannerSim sim(o);
    sim.Start();
    TestClient client(sim.Port());
    handshake(sim, client);
    command(sim, client, "SetTriggerSource=3\rSetAcquisitionStart\r");
    command(sim, client, "SetTriggerSoftware\r");
    EXPECT_EQ(sim.SpoilNextProfile(NextProfileFault::Gap, 2), 1u);
    command(sim, client, "SetTriggerSoftware\r");
    EXPECT_EQ(sim.SpoilNextProfile(NextProfileFault::Repeat), 2u);
    command(sim, client, "SetTriggerSoftware\r");
    EXPECT_EQ(sim.SpoilNextProfile(NextProfileFault::Flip), 3u);
    command(sim, client, "SetTriggerSoftware\r");
    ASSERT_TRUE(sim.WaitForProfilesSent(4, kWait));
    sim.Stop();

    std::ifstream in(path);
    std::vector<std::string> heads;
    for (std::string line; std::getline(in, line);)
        heads.push_back(line.substr(0, line.find(" points ")));
    ::unlink(path);
    ASSERT_EQ(heads.size(), 4u);
    const char* const faults[] = {"none", "gap", "repeat", "flip"};
    const int counters[] = {0, 3, 3, 4};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(heads[i].find("profile " + std::to_string(i) + " connection 0 counter " +
                                std::to_string(counters[i]) + " "),
                  std::string::npos)
            << heads[i];
        EXPECT_TRUE(heads[i].ends_with(std::string(" fault ") + faults[i])) << heads[i];
    }
}

}  // namespace
}  // namespace scanner_sim
