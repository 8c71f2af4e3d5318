// tshark's GVCP dissector reads the EVENT packets the message channel sends.
#include "model/register_map.h"
#include "server/message_protocol.h"

#include "event_receiver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::loopback;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kDevice = loopback(84);
constexpr uint32_t kClient = loopback(85);

void put16(std::ofstream& out, uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); }  // host (little) order
void put32(std::ofstream& out, uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); }

// A capture file of raw IPv4 frames (link type 228) holding the UDP payloads from -> to.
void writeCapture(const std::string& path, const std::vector<Bytes>& payloads, uint16_t fromPort, uint16_t toPort)
{
    std::ofstream out(path, std::ios::binary);
    put32(out, 0xA1B2C3D4);
    put16(out, 2);
    put16(out, 4);
    put32(out, 0);
    put32(out, 0);
    put32(out, 65535);
    put32(out, 228);
    uint32_t second = 1;
    for (const Bytes& p : payloads) {
        Bytes frame(28, 0);
        frame.insert(frame.end(), p.begin(), p.end());
        frame[0] = 0x45;
        platform::storeBE16(&frame[2], static_cast<uint16_t>(frame.size()));
        frame[6] = 0x40;  // don't fragment
        frame[8] = 64;
        frame[9] = 17;
        platform::storeBE32(&frame[12], kDevice);
        platform::storeBE32(&frame[16], kClient);
        uint32_t sum = 0;
        for (size_t i = 0; i < 20; i += 2)
            sum += platform::loadBE16(&frame[i]);
        while (sum > 0xFFFF)
            sum = (sum & 0xFFFF) + (sum >> 16);
        platform::storeBE16(&frame[10], static_cast<uint16_t>(~sum));
        platform::storeBE16(&frame[20], fromPort);
        platform::storeBE16(&frame[22], toPort);
        platform::storeBE16(&frame[24], static_cast<uint16_t>(8 + p.size()));
        put32(out, second++);
        put32(out, 0);
        put32(out, static_cast<uint32_t>(frame.size()));
        put32(out, static_cast<uint32_t>(frame.size()));
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
}

std::string run(const std::string& command)
{
    std::string output;
    if (FILE* f = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            output.append(buffer, n);
        ::pclose(f);
    }
    return output;
}

TEST(MessageChannelTshark, EventPacketsDissectWithoutMalformedFrames)
{
    if (run("command -v tshark").empty())
        GTEST_SKIP() << "tshark is not installed";
    auto tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
    Kivu::RegisterMap map(tree);
    map.UInt(0x0024)->SetValue(kDevice);
    Kivu::MessageProtocol channel(tree);
    test_support::EventReceiver receiver(kClient);
    map.UInt(0x0B10)->SetValue(kClient);
    map.UInt(0x0B00)->SetValue(receiver.port());
    ASSERT_TRUE(channel.IsOpen());

    std::vector<uint16_t> ids(33);
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = static_cast<uint16_t>(0x9000 + i);
    const char text[] = "connection to scanner is lost";
    // Sent packet, and the event ids tshark lists for it.
    struct Case {
        std::function<uint32_t()> send;
        std::string ids;
        std::string timestamp;
    };
    std::string all33;
    for (uint16_t id : ids) {
        if (!all33.empty())
            all33 += ',';
        all33 += std::to_string(id);
    }
    const Case cases[] = {
        {[&] { return channel.SendEvent(0x0007, 0x0102030405060708, 0xFFFF, true); }, "7", "0x0102030405060708"},
        {[&] { return channel.SendEventExt(0x000A, 0x0102030405060708, 0, true); }, "10", "0x0102030405060708"},
        {[&] { return channel.SendEvents(33, ids.data(), 5, 0, false); }, all33, "0x0000000000000005"},
        {[&] { return channel.SendEventsExt(33, ids.data(), 5, 0, false); }, all33, "0x0000000000000005"},
        {[&] { return channel.SendEventData(0x000A, 5, 2, text, 29, 0xFFFF, false); }, "10", "0x0000000000000005"},
    };
    std::vector<Bytes> sent;
    for (const Case& c : cases) {
        ASSERT_EQ(c.send(), 0u);
        auto bytes = receiver.receiveBytes();
        ASSERT_TRUE(bytes);
        sent.push_back(*bytes);
    }
    channel.Close();

    char path[] = "/tmp/lb_message_XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    writeCapture(path, sent, receiver.lastSenderPort(), receiver.port());
    const std::string read = "tshark -r " + std::string(path) + " -d udp.port==" + std::to_string(receiver.port()) +
                             ",gvcp ";
    // Ids below 0x9000 are dissected as standard ids, the others as device-specific ones.
    const std::string fields = run(read + "-T fields -e gvcp.cmd.event.id -e gvcp.cmd.event.devicespecificid " +
                                   "-e gvcp.cmd.event.timestamp 2>/dev/null");
    const std::string verbose = run(read + "-V 2>/dev/null");
    ::unlink(path);

    EXPECT_NE(verbose.find("EVENT_CMD"), std::string::npos) << verbose;
    EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose;
    std::istringstream lines(fields);
    std::string line;
    for (const Case& c : cases) {
        ASSERT_TRUE(std::getline(lines, line)) << fields;
        std::istringstream columns(line);
        std::string standard, specific, timestamps;
        std::getline(columns, standard, '\t');
        std::getline(columns, specific, '\t');
        std::getline(columns, timestamps, '\t');
        std::string listed;
        std::istringstream items(standard.empty() ? specific : standard);
        for (std::string item; std::getline(items, item, ',');) {
            if (!listed.empty())
                listed += ',';
            listed += std::to_string(std::stoul(item, nullptr, 0));
        }
        EXPECT_EQ(listed, c.ids) << line;
        EXPECT_EQ(timestamps.substr(0, timestamps.find(',')), c.timestamp) << line;
    }
}

}  // namespace
