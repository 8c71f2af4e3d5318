// The message channel's packets byte by byte.
#include "server/message_wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Kivu::Message::Header;

struct EventsCase {
    const char* name;
    Header header;
    std::vector<uint16_t> ids;
    bool numbered;
    uint16_t channel;
    uint64_t timestamp;
    Bytes expected;
};

TEST(MessageWire, EventPackets)
{
    const EventsCase cases[] = {
        {"one standard event", {false, false, 0x0102}, {0x9001}, false, 0xFFFF, 0x1122334455667788,
         {0x42, 0x00, 0x00, 0xC0, 0x00, 0x10, 0x01, 0x02,                   // header
          0x00, 0x00, 0x90, 0x01, 0xFF, 0xFF, 0x00, 0x00,                   // reserved, id, channel, block 0
          0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},                 // timestamp high, low
        {"one extended event, ack requested", {true, true, 0xFFFF}, {0x0007}, false, 1, 0x0A0B0C0D0E0F1011,
         {0x42, 0x11, 0x00, 0xC0, 0x00, 0x18, 0xFF, 0xFF,
          0x00, 0x00, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00,                   // reserved, id, channel, reserved
          0, 0, 0, 0, 0, 0, 0, 0,                                           // block id 0
          0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11}},
        {"two standard events, numbered", {false, true, 5}, {0x0A, 0x0B}, true, 2, 0x100000002,
         {0x42, 0x01, 0x00, 0xC0, 0x00, 0x20, 0x00, 0x05,
          0, 0, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x01, 0, 0, 0, 1, 0, 0, 0, 2,
          0, 0, 0x00, 0x0B, 0x00, 0x02, 0x00, 0x02, 0, 0, 0, 1, 0, 0, 0, 2}},
        {"two extended events, numbered", {true, false, 6}, {0x0A, 0x0B}, true, 0, 9,
         {0x42, 0x10, 0x00, 0xC0, 0x00, 0x30, 0x00, 0x06,
          0, 0, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 9,
          0, 0, 0x00, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9}},
    };
    for (const EventsCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Kivu::Message::EncodeEvents(c.header, c.ids, c.numbered, c.channel, c.timestamp), c.expected);
    }
}

TEST(MessageWire, EventDataPackets)
{
    const Bytes data = {0xDE, 0xAD, 0xBE};
    EXPECT_EQ(Kivu::Message::EncodeEventData({false, true, 0x0203}, 0x000A, 0xFFFF, 0x123456789ABC, 7, data),
              (Bytes{0x42, 0x01, 0x00, 0xC2, 0x00, 0x13, 0x02, 0x03,
                     0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x9A, 0xBC,   // the block id's lower 16 bits
                     0, 0, 0, 0, 0, 0, 0, 7, 0xDE, 0xAD, 0xBE}));
    EXPECT_EQ(Kivu::Message::EncodeEventData({true, false, 1}, 0x000A, 0, 0x123456789ABC, 7, data),
              (Bytes{0x42, 0x10, 0x00, 0xC2, 0x00, 0x1B, 0x00, 0x01,
                     0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00,
                     0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,
                     0, 0, 0, 0, 0, 0, 0, 7, 0xDE, 0xAD, 0xBE}));
    const Bytes none = Kivu::Message::EncodeEventData({false, false, 1}, 1, 0, 0, 0, {});
    EXPECT_EQ(none.size(), 24u) << "no data: the record alone";
    EXPECT_EQ(none[5], 16);
}

TEST(MessageWire, LargestPackets)
{
    const std::vector<uint16_t> ids(Kivu::Message::kMaxEvents, 3);
    const Bytes standard = Kivu::Message::EncodeEvents({false, false, 1}, ids, true, 0, 0);
    const Bytes extended = Kivu::Message::EncodeEvents({true, false, 1}, ids, true, 0, 0);
    ASSERT_EQ(standard.size(), 536u);
    ASSERT_EQ(extended.size(), 800u);
    EXPECT_EQ((Bytes{standard[4], standard[5]}), (Bytes{0x02, 0x10}));
    EXPECT_EQ((Bytes{extended[4], extended[5]}), (Bytes{0x03, 0x18}));
    EXPECT_EQ(standard[8 + 32 * 16 + 7], 33) << "the last record's block id";
    EXPECT_EQ(extended[8 + 32 * 24 + 15], 33);

    const Bytes data(Kivu::Message::kMaxEventData, 0x5A);
    EXPECT_EQ(Kivu::Message::EncodeEventData({false, false, 1}, 1, 0, 0, 0, data).size(), 564u);
    const Bytes ext = Kivu::Message::EncodeEventData({true, false, 1}, 1, 0, 0, 0, data);
    ASSERT_EQ(ext.size(), 572u);
    EXPECT_EQ((Bytes{ext[4], ext[5]}), (Bytes{0x02, 0x34}));
    EXPECT_EQ(ext.back(), 0x5A);
}

TEST(MessageWire, Acknowledges)
{
    struct Case {
        Bytes datagram;
        std::optional<uint16_t> id;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x00, 0xC1, 0x00, 0x00, 0x12, 0x34}, 0x1234},
        {{0x00, 0x00, 0x00, 0xC3, 0x00, 0x00, 0xFF, 0xFF}, 0xFFFF},
        {{0x80, 0x06, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x07, 0xAA}, 0x0007},  // status and extra bytes not examined
        {{0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x12, 0x34}, std::nullopt},  // an EVENT, not its acknowledge
        {{0x00, 0x00, 0x00, 0x83, 0x00, 0x00, 0x12, 0x34}, std::nullopt},  // WRITEREG_ACK
        {{0x00, 0x00, 0x00, 0xC1, 0x00, 0x00, 0x12}, std::nullopt},        // short
        {{}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Kivu::Message::AcknowledgedRequestId(c.datagram), c.id) << c.datagram.size();
}

}  // namespace
