// The message channel against a receiver on loopback playing the client at MCDA:MCP.
#include "model/register_map.h"
#include "server/message_protocol.h"

#include "control_fixture.h"
#include "event_receiver.h"
#include "netns.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using test_support::DecodedEvent;
using test_support::EventReceiver;
using test_support::loopback;

constexpr uint32_t kNotRunning = 0x80004001;
constexpr uint32_t kInvalidArgument = 0x80070057;
constexpr uint32_t kMcp = 0x0B00, kMcda = 0x0B10, kMctt = 0x0B14, kMcrc = 0x0B18, kMcsp = 0x0B1C;

// Waits up to a generous bound for a condition that another thread makes true.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = 10000ms)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class MessageChannel : public ::testing::Test {
protected:
    static constexpr uint32_t kDevice = loopback(80);
    static constexpr uint32_t kClient = loopback(81);

    void SetUp() override
    {
        tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
        map = std::make_unique<Kivu::RegisterMap>(tree);
        map->UInt(0x0024)->SetValue(kDevice);
        channel = std::make_unique<Kivu::MessageProtocol>(tree);
    }

    // A client's write through the register tree; the register's status.
    uint32_t write(uint32_t address, uint32_t value)
    {
        return tree->WriteRegister(address, htonl(value), Kivu::Origin::Remote);
    }
    uint32_t value(uint32_t address) { return map->UInt(address)->GetValue(); }

    // Points the channel at the receiver, with MCTT ms between transmissions and MCRC of them.
    void open(uint32_t mctt = 3000, uint32_t mcrc = 5)
    {
        ASSERT_EQ(write(kMctt, mctt), 0u);
        ASSERT_EQ(write(kMcrc, mcrc), 0u);
        ASSERT_EQ(write(kMcda, kClient), 0u);
        ASSERT_EQ(write(kMcp, receiver.port()), 0u);
        ASSERT_TRUE(channel->IsOpen());
    }

    // Every copy that arrives of packets that wait for an acknowledge, once none waits any more.
    std::vector<DecodedEvent> copiesUntilSettled()
    {
        EXPECT_TRUE(eventually([&] { return channel->Waiting() == 0; }));
        return receiver.drain(300ms);
    }

    std::shared_ptr<Kivu::RegTree> tree;
    std::unique_ptr<Kivu::RegisterMap> map;
    std::unique_ptr<Kivu::MessageProtocol> channel;
    EventReceiver receiver{kClient};
};

TEST_F(MessageChannel, OpensWithThePortAndClosesWithZero)
{
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(channel->SendEvent(1, 0, 0, false), kNotRunning);
    open();
    const uint32_t source = value(kMcsp);
    EXPECT_NE(source, 0u);
    EXPECT_EQ(write(kMcsp, 1), Kivu::GevStatus::AccessDenied) << "read-only for clients";

    ASSERT_EQ(channel->SendEvent(1, 0, 0, false), 0u);
    ASSERT_TRUE(receiver.receive());
    EXPECT_EQ(receiver.lastSender(), kDevice) << "sent from the current IP";

    // A new port while open moves the destination only.
    EventReceiver other(kClient);
    ASSERT_EQ(write(kMcp, other.port()), 0u);
    EXPECT_EQ(value(kMcsp), source);
    ASSERT_EQ(channel->SendEvent(2, 0, 0, false), 0u);
    EXPECT_EQ(other.receive()->records.at(0).eventId, 2);

    ASSERT_EQ(write(kMcp, 0), 0u);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(value(kMcsp), 0u);
    EXPECT_EQ(channel->SendEvent(3, 0, 0, false), kNotRunning);
    EXPECT_FALSE(other.receive(200ms));
}

TEST_F(MessageChannel, ChannelThatCannotOpenAnswersNotSupported)
{
    map->UInt(0x0024)->SetValue(0xC0000201);  // 192.0.2.1, on no interface of this host
    ASSERT_EQ(write(kMcda, kClient), 0u);
    EXPECT_EQ(write(kMcp, receiver.port()), Kivu::GevStatus::NotImplemented);
    EXPECT_EQ(value(kMcp), receiver.port()) << "the value stays";
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(value(kMcsp), 0u);
    EXPECT_EQ(channel->SendEvent(1, 0, 0, true), kNotRunning);
}

TEST_F(MessageChannel, RefusedSendsSendNothing)
{
    const std::vector<uint16_t> ids(34, 1);
    const std::vector<uint8_t> data(541, 0);
    // Argument checks come before the channel's state.
    auto invalid = [&] {
        EXPECT_EQ(channel->SendEvents(34, ids.data(), 0, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEventsExt(34, ids.data(), 0, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEvents(0, ids.data(), 0, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEvents(2, nullptr, 0, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEventData(1, 0, 0, data.data(), 541, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEventDataExt(1, 0, 0, data.data(), 541, 0, false), kInvalidArgument);
        EXPECT_EQ(channel->SendEventData(1, 0, 0, nullptr, 4, 0, false), kInvalidArgument);
    };
    invalid();
    open();
    invalid();
    ASSERT_EQ(write(kMcda, 0), 0u);
    EXPECT_EQ(channel->SendEvent(1, 0, 0, true), kNotRunning);
    EXPECT_EQ(channel->SendEventDataExt(1, 0, 0, data.data(), 540, 0, true), kNotRunning);
    EXPECT_FALSE(receiver.receive(300ms));
    EXPECT_EQ(channel->Waiting(), 0u);
}

TEST_F(MessageChannel, EveryFormArrivesAsSent)
{
    open();
    const uint16_t ids[] = {0x9001, 0x9002, 0x9003};
    const std::vector<uint8_t> data = {'l', 'o', 's', 't'};
    const std::vector<uint8_t> full(540, 0xA5);
    const uint64_t ts = 0x0102030405060708;
    struct Case {
        const char* name;
        std::function<uint32_t()> send;
        uint16_t command;
        bool extended;
        std::vector<uint16_t> eventIds;
        std::vector<uint64_t> blockIds;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"SendEvent", [&] { return channel->SendEvent(0x9001, ts, 0xFFFF, false); }, 0xC0, false, {0x9001}, {0}, {}},
        {"SendEvents", [&] { return channel->SendEvents(3, ids, ts, 0xFFFF, false); }, 0xC0, false,
         {0x9001, 0x9002, 0x9003}, {1, 2, 3}, {}},
        {"SendEventData", [&] { return channel->SendEventData(0x000A, ts, 0x12345, data.data(), 4, 0xFFFF, false); },
         0xC2, false, {0x000A}, {0x2345}, data},
        {"SendEventExt", [&] { return channel->SendEventExt(0x9001, ts, 0xFFFF, false); }, 0xC0, true, {0x9001}, {0}, {}},
        {"SendEventsExt", [&] { return channel->SendEventsExt(3, ids, ts, 0xFFFF, false); }, 0xC0, true,
         {0x9001, 0x9002, 0x9003}, {1, 2, 3}, {}},
        {"SendEventDataExt",
         [&] { return channel->SendEventDataExt(0x000A, ts, 0x123456789, data.data(), 4, 0xFFFF, false); }, 0xC2, true,
         {0x000A}, {0x123456789}, data},
        {"SendEventDataExt, 540 bytes",
         [&] { return channel->SendEventDataExt(0x000A, ts, 1, full.data(), 540, 0xFFFF, false); }, 0xC2, true,
         {0x000A}, {1}, full},
    };
    uint16_t lastId = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.send(), 0u);
        auto e = receiver.receive();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->command, c.command);
        EXPECT_EQ(e->extended(), c.extended);
        EXPECT_FALSE(e->ackRequested());
        EXPECT_EQ(e->requestId, static_cast<uint16_t>(lastId + 1)) << "one id per packet, in order";
        lastId = e->requestId;
        ASSERT_EQ(e->records.size(), c.eventIds.size());
        for (size_t i = 0; i < e->records.size(); ++i) {
            EXPECT_EQ(e->records[i].reserved, 0);
            EXPECT_EQ(e->records[i].reserved2, 0);
            EXPECT_EQ(e->records[i].eventId, c.eventIds[i]);
            EXPECT_EQ(e->records[i].channel, 0xFFFF);
            EXPECT_EQ(e->records[i].blockId, c.blockIds[i]);
            EXPECT_EQ(e->records[i].timestamp, ts);
        }
        EXPECT_EQ(e->data, c.data);
    }
}

TEST_F(MessageChannel, UnacknowledgedPacketGoesOutMcrcTimesInAll)
{
    struct Case {
        uint32_t mcrc;
        size_t transmissions;
    };
    // 0 is a single send, not the 65536 a 16-bit wrap would give.
    for (const Case c : {Case{3, 3}, Case{1, 1}, Case{0, 1}, Case{0x10002, 2}}) {
        SCOPED_TRACE(c.mcrc);
        open(50, c.mcrc);
        ASSERT_EQ(channel->SendEventExt(0x0042, 7, 0, true), 0u);
        const auto copies = copiesUntilSettled();
        ASSERT_EQ(copies.size(), c.transmissions);
        for (const DecodedEvent& e : copies) {
            EXPECT_TRUE(e.ackRequested());
            EXPECT_EQ(e.bytes, copies.front().bytes) << "the same packet, request id included";
        }
    }
}

TEST_F(MessageChannel, AcknowledgeStopsTheResendsOfItsRequestOnly)
{
    open(500, 4);
    ASSERT_EQ(channel->SendEvent(0x00A0, 0, 0, true), 0u);
    ASSERT_EQ(channel->SendEventData(0x00B0, 0, 0, "x", 1, 0, true), 0u);
    size_t a = 0, b = 0;
    bool acknowledged = false;
    while (auto e = receiver.receive(1500ms)) {
        if (e->records.at(0).eventId == 0x00A0) {
            ++a;
            continue;
        }
        ++b;
        if (!acknowledged) {
            receiver.acknowledge(*e);  // EVENTDATA_ACK
            acknowledged = true;
            ASSERT_TRUE(eventually([&] { return channel->Waiting() == 1; }));
        }
    }
    EXPECT_EQ(a, 4u) << "the other request is resent as before";
    EXPECT_GE(b, 1u);
    EXPECT_LT(b, 4u);
    EXPECT_EQ(channel->Waiting(), 0u);
}

TEST_F(MessageChannel, RequestIdsRunFromOneAndSkipZero)
{
    EXPECT_EQ(channel->NextRequestId(), 1);
    for (int i = 2; i <= 0xFFFF; ++i)
        ASSERT_EQ(channel->NextRequestId(), i);
    EXPECT_EQ(channel->NextRequestId(), 1) << "0 is never used";
}

TEST_F(MessageChannel, NewPacketOfAWrappedIdReplacesTheOldOne)
{
    open(200, 1000);
    ASSERT_EQ(channel->SendEvent(0x0001, 0, 0, true), 0u);  // request id 1
    for (int i = 0; i < 0xFFFE; ++i)                       // 2 .. 65535
        channel->NextRequestId();
    ASSERT_EQ(channel->SendEvent(0x0002, 0, 0, true), 0u);  // 1 again
    ASSERT_EQ(channel->Waiting(), 1u);

    bool replaced = false;
    for (int copies = 0; copies < 5;) {
        auto e = receiver.receive();
        ASSERT_TRUE(e);
        const uint16_t id = e->records.at(0).eventId;
        if (id == 0x0002) {
            replaced = true;
            ++copies;
        } else {
            EXPECT_FALSE(replaced) << "the replaced packet is not resent";
        }
    }
    receiver.acknowledge(*receiver.receive());
    auto rest = copiesUntilSettled();
    for (const DecodedEvent& e : rest)
        EXPECT_EQ(e.records.at(0).eventId, 0x0002);
}

TEST_F(MessageChannel, NothingIsSentAfterClose)
{
    open(20, 100000);
    for (uint16_t id = 1; id <= 5; ++id)
        ASSERT_EQ(channel->SendEventExt(id, 0, 0, true), 0u);
    ASSERT_TRUE(receiver.receive());
    ASSERT_TRUE(receiver.receive());  // resends are running
    channel->Close();
    EXPECT_EQ(channel->Waiting(), 0u);
    EXPECT_EQ(value(kMcsp), 0u);
    receiver.drain(0ms);  // what was sent before Close returned
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(receiver.receive(0ms));
    EXPECT_EQ(channel->SendEvent(1, 0, 0, true), kNotRunning);
}

TEST_F(MessageChannel, MailboxEventsGoOutInTheStandardForm)
{
    open();
    map->UInt(0x0948)->SetValue(0x11);
    map->UInt(0x094C)->SetValue(0x22);
    const uint16_t ids[] = {5, 6};
    const char data[] = "abc";
    Kivu::EventEmitter::Event one;
    one.kind = Kivu::EventEmitter::OneEvent;
    one.eventId = 4;
    one.channel = 1;
    one.flag = 0;
    Kivu::EventEmitter::Event several;
    several.kind = Kivu::EventEmitter::SeveralEvents;
    several.events = ids;
    several.count = 2;
    several.flag = 0;
    Kivu::EventEmitter::Event withData;
    withData.kind = Kivu::EventEmitter::EventWithData;
    withData.eventId = 7;
    withData.data = data;
    withData.dataLength = 3;
    withData.flag = 1;
    for (const auto& posted : {one, several, withData})
        EXPECT_TRUE(map->Events()->Post(posted));

    auto a = receiver.receive();
    auto b = receiver.receive();
    auto c = receiver.receive();
    ASSERT_TRUE(a && b && c);
    for (const auto* e : {&*a, &*b, &*c}) {
        EXPECT_FALSE(e->extended());
        EXPECT_EQ(e->records.at(0).timestamp, 0x0000001100000022u);
    }
    EXPECT_EQ(a->command, 0xC0);
    EXPECT_EQ(a->records.at(0).eventId, 4);
    EXPECT_EQ(a->records.at(0).channel, 1);
    EXPECT_FALSE(a->ackRequested());
    ASSERT_EQ(b->records.size(), 2u);
    EXPECT_EQ(b->records[1].eventId, 6);
    EXPECT_EQ(b->records[1].channel, 0xFFFF);
    EXPECT_EQ(c->command, 0xC2);
    EXPECT_EQ(c->data, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(c->records.at(0).blockId, 0u);
    EXPECT_TRUE(c->ackRequested());
}

TEST_F(MessageChannel, ConcurrentSendersAndAcknowledges)
{
    open(1000, 3);
    std::atomic<bool> done{false};
    std::set<uint16_t> seen;
    std::thread client([&] {
        while (!done.load() || channel->Waiting() != 0) {
            if (auto e = receiver.receive(100ms)) {
                seen.insert(e->requestId);
                receiver.acknowledge(*e);
            }
        }
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&, t] {
            for (uint16_t i = 0; i < 100; ++i)
                EXPECT_EQ(channel->SendEventData(static_cast<uint16_t>(t), 0, i, &i, 2, 0, true), 0u);
        });
    for (auto& s : senders)
        s.join();
    done.store(true);
    client.join();
    EXPECT_EQ(seen.size(), 400u);
    channel->Close();
}

// Multicast needs a route for the group; a namespace of its own gives one on lo.
TEST(MessageChannelGroups, GroupDestinationGetsOnePacketWithoutAckFlag)
{
    nstest::RunInFreshNetns([] {
        if (!nstest::Shell("ip link set lo multicast on") || !nstest::Shell("ip route add 224.0.0.0/4 dev lo")) {
            ADD_FAILURE() << "no multicast route on lo";
            return;
        }
        constexpr uint32_t kGroup = 0xEF010203;  // 239.1.2.3
        Kivu::DatagramSocket listener;
        ASSERT_TRUE(listener.OpenListener(kGroup, 0));
        ip_mreq join{};
        join.imr_multiaddr.s_addr = htonl(kGroup);
        join.imr_interface.s_addr = htonl(0x7F000001);
        ASSERT_EQ(::setsockopt(listener.Descriptor(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof(join)), 0);

        auto tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
        Kivu::RegisterMap map(tree);
        map.UInt(0x0024)->SetValue(0x7F000001);
        map.UInt(0x0B14)->SetValue(20);
        map.UInt(0x0B18)->SetValue(5);
        Kivu::MessageProtocol channel(tree);
        map.UInt(0x0B10)->SetValue(kGroup);
        map.UInt(0x0B00)->SetValue(listener.GetLocalPort());
        ASSERT_TRUE(channel.IsOpen());
        ASSERT_EQ(channel.SendEvent(9, 0, 0, true), 0u);
        EXPECT_EQ(channel.Waiting(), 0u) << "nothing waits for an acknowledge";

        auto in = std::make_unique<Kivu::Datagram>();
        std::vector<std::vector<uint8_t>> got;
        pollfd p{listener.Descriptor(), POLLIN, 0};
        while (::poll(&p, 1, 500) > 0 && listener.TryRecvFrom(*in))
            got.push_back(test_support::bytesOf(*in));
        ASSERT_EQ(got.size(), 1u);
        auto e = test_support::decodeEvent(got[0]);
        ASSERT_TRUE(e);
        EXPECT_FALSE(e->ackRequested());
        EXPECT_EQ(e->records.at(0).eventId, 9);
    });
}

// The control switchover event reaches the previous primary's message destination.
class SwitchoverEvent : public test_support::ControlFixture {
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        channel = std::make_unique<Kivu::MessageProtocol>(m_Tree);
    }
    void TearDown() override
    {
        channel.reset();
        ControlFixture::TearDown();
    }
    std::unique_ptr<Kivu::MessageProtocol> channel;
    EventReceiver receiver{loopback(23)};
};

TEST_F(SwitchoverEvent, ReachesThePreviousPrimary)
{
    m_Map->UInt(0x095C)->SetValue(0x1234);
    ASSERT_EQ(a.writeReg(0x0A00, 6)->status(), 0);
    ASSERT_EQ(a.writeReg(kMcda, loopback(23))->status(), 0);
    ASSERT_EQ(a.writeReg(kMcp, receiver.port())->status(), 0);
    ASSERT_TRUE(channel->IsOpen());

    ASSERT_EQ(b.writeReg(0x0A00, 0x12340002)->status(), 0);
    auto e = receiver.receive();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->command, 0xC0);
    EXPECT_FALSE(e->extended());
    EXPECT_FALSE(e->ackRequested());
    ASSERT_EQ(e->records.size(), 1u);
    EXPECT_EQ(e->records[0].eventId, 0x0007);
    EXPECT_EQ(e->records[0].channel, 0xFFFF);
    EXPECT_FALSE(channel->IsOpen()) << "the old owner's channel is closed after the event";
    EXPECT_FALSE(receiver.receive(300ms));
}

}  // namespace
