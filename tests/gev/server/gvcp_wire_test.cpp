#include "server/gvcp_wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Kivu::Gvcp;
using Bytes = std::vector<uint8_t>;

namespace {

std::optional<Request> parse(const Bytes& b)
{
    return ParseRequest(b.data(), b.size());
}

}  // namespace

TEST(GvcpHeader, ParsesFieldsBigEndianAndCountsReceivedPayload)
{
    const Bytes d = {0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x12, 0x34, 1, 2, 3, 4, 5, 6};
    auto r = parse(d);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header.key, 0x42);
    EXPECT_EQ(r->header.flags, 0x01);
    EXPECT_EQ(r->header.command, 0x0080);
    EXPECT_EQ(r->header.length, 8);
    EXPECT_EQ(r->header.requestId, 0x1234);
    EXPECT_EQ(r->received, 6u);
    EXPECT_TRUE(r->AckRequested());
    EXPECT_FALSE(r->LengthFits());  // claims 8 payload bytes, carries 6

    EXPECT_FALSE(parse(Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(ParseRequest(nullptr, 8));
}

struct RegDecodeCase {
    const char* name;
    Bytes datagram;
    bool ok;
    std::vector<uint32_t> fields;  // READREG: addresses; WRITEREG: address, value pairs
};

TEST(GvcpDecode, ReadRegAndWriteReg)
{
    const RegDecodeCase readCases[] = {
        {"two addresses", {0x42, 1, 0, 0x80, 0, 8, 0, 1, 0, 0, 0x0A, 0x00, 0, 0, 0x09, 0x38}, true, {0x0A00, 0x0938}},
        {"length rounds down", {0x42, 1, 0, 0x80, 0, 6, 0, 1, 0, 0, 0, 4, 9, 9}, true, {0x0004}},
        {"empty", {0x42, 1, 0, 0x80, 0, 0, 0, 1}, true, {}},
        {"length past datagram", {0x42, 1, 0, 0x80, 0, 8, 0, 1, 0, 0, 0, 4}, false, {}},
        {"huge length", {0x42, 1, 0, 0x80, 0xFF, 0xFC, 0, 1, 0, 0, 0, 4}, false, {}},
    };
    for (const auto& c : readCases) {
        SCOPED_TRACE(c.name);
        auto r = parse(c.datagram);
        ASSERT_TRUE(r);
        auto rr = DecodeReadReg(*r);
        ASSERT_EQ(bool(rr), c.ok);
        if (!rr)
            continue;
        ASSERT_EQ(rr->count, c.fields.size());
        for (size_t i = 0; i < rr->count; ++i)
            EXPECT_EQ(rr->Address(i), c.fields[i]);
    }

    const RegDecodeCase writeCases[] = {
        {"one pair", {0x42, 1, 0, 0x82, 0, 8, 0, 2, 0, 0, 0x0A, 0, 0, 0, 0, 2}, true, {0x0A00, 2}},
        {"trailing half pair ignored", {0x42, 1, 0, 0x82, 0, 12, 0, 2, 0, 0, 0x0A, 0, 0, 0, 0, 2, 0xDE, 0xAD, 0xBE, 0xEF},
         true, {0x0A00, 2}},
        {"length past datagram", {0x42, 1, 0, 0x82, 0, 16, 0, 2, 0, 0, 0x0A, 0, 0, 0, 0, 2}, false, {}},
    };
    for (const auto& c : writeCases) {
        SCOPED_TRACE(c.name);
        auto r = parse(c.datagram);
        ASSERT_TRUE(r);
        auto wr = DecodeWriteReg(*r);
        ASSERT_EQ(bool(wr), c.ok);
        if (!wr)
            continue;
        ASSERT_EQ(wr->count * 2, c.fields.size());
        for (size_t i = 0; i < wr->count; ++i) {
            EXPECT_EQ(wr->Address(i), c.fields[2 * i]);
            EXPECT_EQ(wr->Value(i), c.fields[2 * i + 1]);
        }
    }
}

TEST(GvcpDecode, ReadMemAndWriteMem)
{
    struct Case {
        const char* name;
        Bytes datagram;
        bool ok;
        uint32_t address;
        size_t count;  // READMEM count or WRITEMEM data length
    };
    const Case readCases[] = {
        {"regular", {0x42, 1, 0, 0x84, 0, 8, 0, 3, 0, 0x20, 0, 0, 0, 0, 0x02, 0x00}, true, 0x200000, 0x200},
        {"count 0", {0x42, 1, 0, 0x84, 0, 8, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}, true, 0, 0},
        {"short payload", {0x42, 1, 0, 0x84, 0, 4, 0, 3, 0, 0, 0, 0}, false, 0, 0},
        {"length past datagram", {0x42, 1, 0, 0x84, 0, 8, 0, 3, 0, 0, 0, 0, 0, 0}, false, 0, 0},
    };
    for (const auto& c : readCases) {
        SCOPED_TRACE(c.name);
        auto rm = DecodeReadMem(*parse(c.datagram));
        ASSERT_EQ(bool(rm), c.ok);
        if (rm) {
            EXPECT_EQ(rm->address, c.address);
            EXPECT_EQ(rm->count, c.count);
        }
    }
    const Case writeCases[] = {
        {"eight data bytes", {0x42, 1, 0, 0x86, 0, 12, 0, 4, 0, 0, 0x0B, 0, 1, 2, 3, 4, 5, 6, 7, 8}, true, 0x0B00, 8},
        {"address only", {0x42, 1, 0, 0x86, 0, 4, 0, 4, 0, 0, 0x0B, 0}, true, 0x0B00, 0},
        {"length below 4", {0x42, 1, 0, 0x86, 0, 3, 0, 4, 0, 0, 0x0B, 0}, false, 0, 0},
        {"length past datagram", {0x42, 1, 0, 0x86, 0, 12, 0, 4, 0, 0, 0x0B, 0, 1, 2}, false, 0, 0},
    };
    for (const auto& c : writeCases) {
        SCOPED_TRACE(c.name);
        const Bytes& d = c.datagram;
        auto wm = DecodeWriteMem(*parse(d));
        ASSERT_EQ(bool(wm), c.ok);
        if (wm) {
            EXPECT_EQ(wm->address, c.address);
            EXPECT_EQ(wm->length, c.count);
            EXPECT_EQ(wm->data, d.data() + 12);
        }
    }
}

TEST(GvcpDecode, PacketResendStandardAndExtendedForms)
{
    // channel 0, block16 0x0102, first 0xAA000005, last 0xAA000009, block64 0x100000001
    const Bytes d = {0x42, 0x10, 0, 0x40, 0, 20, 0, 5, 0, 0, 0x01, 0x02, 0xAA, 0, 0, 5, 0xAA, 0, 0, 9,
                     0, 0, 0, 1, 0, 0, 0, 1};
    auto r = parse(d);
    ASSERT_TRUE(r);
    auto standard = DecodePacketResend(*r, false);
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->blockId, 0x0102u);
    EXPECT_EQ(standard->firstPacket, 5u);  // 24-bit ids
    EXPECT_EQ(standard->lastPacket, 9u);
    auto extended = DecodePacketResend(*r, true);
    ASSERT_TRUE(extended);
    EXPECT_EQ(extended->blockId, 0x100000001u);
    EXPECT_EQ(extended->firstPacket, 0xAA000005u);
    EXPECT_EQ(extended->lastPacket, 0xAA000009u);

    const Bytes shortForm = {0x42, 0, 0, 0x40, 0, 12, 0, 5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2};
    EXPECT_TRUE(DecodePacketResend(*parse(shortForm), false));
    EXPECT_FALSE(DecodePacketResend(*parse(shortForm), true));  // no room for the 64-bit block id
}

TEST(GvcpDecode, ActionImmediateAndScheduled)
{
    const Bytes immediate = {0x42, 0x01, 0x01, 0x00, 0, 12, 0, 6, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
    auto a = DecodeAction(*parse(immediate));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->deviceKey, 1u);
    EXPECT_EQ(a->groupKey, 2u);
    EXPECT_EQ(a->groupMask, 3u);
    EXPECT_FALSE(a->scheduled);

    const Bytes scheduled = {0x42, 0x81, 0x01, 0x00, 0, 20, 0, 6, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3,
                             0, 0, 0, 0, 0, 0x1E, 0x84, 0x80};
    auto s = DecodeAction(*parse(scheduled));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->scheduled);
    EXPECT_EQ(s->actionTime, 2000000u);

    Bytes missingTime(immediate);
    missingTime[1] = 0x81;  // scheduled, but only 12 payload bytes
    EXPECT_FALSE(DecodeAction(*parse(missingTime)));
}

TEST(GvcpDecode, ForceIpFieldOffsets)
{
    Bytes d(8 + 56, 0);
    const Bytes head = {0x42, 0x01, 0x00, 0x04, 0x00, 0x38, 0x00, 0x07};
    std::copy(head.begin(), head.end(), d.begin());
    uint8_t* p = d.data() + 8;
    const Bytes mac = {0x00, 0x00, 0x02, 0x1A, 0xAB, 0xCD, 0xEF, 0x01};
    std::copy(mac.begin(), mac.end(), p);
    p[20] = 10, p[21] = 77, p[22] = 0, p[23] = 50;
    p[36] = 255, p[37] = 255, p[38] = 255, p[39] = 0;
    p[52] = 10, p[53] = 77, p[54] = 0, p[55] = 1;
    auto f = DecodeForceIp(*parse(d));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->macHigh, 0x021A);
    EXPECT_EQ(f->macLow, 0xABCDEF01u);
    EXPECT_EQ(f->ip, 0x0A4D0032u);
    EXPECT_EQ(f->mask, 0xFFFFFF00u);
    EXPECT_EQ(f->gateway, 0x0A4D0001u);

    d.pop_back();
    EXPECT_FALSE(DecodeForceIp(*parse(d)));
}

TEST(GvcpAck, BuildersWriteExactBytes)
{
    struct Case {
        const char* name;
        Bytes expected;
        size_t (*build)(uint8_t*);
    };
    const Case cases[] = {
        {"nack bad header", {0x80, 0x0E, 0, 0, 0, 0, 0, 0}, [](uint8_t* o) { return BuildNack(o, 0x800E, 0); }},
        {"nack not implemented", {0x80, 0x01, 0, 0, 0, 0, 0x12, 0x34},
         [](uint8_t* o) { return BuildNack(o, 0x8001, 0x1234); }},
        {"writereg ack", {0x00, 0x00, 0x00, 0x83, 0, 4, 0, 9, 0, 0, 0, 2},
         [](uint8_t* o) { return BuildWriteRegAck(o, 0, 9, 2); }},
        {"writereg partial", {0x80, 0x06, 0x00, 0x83, 0, 4, 0, 9, 0, 0, 0, 1},
         [](uint8_t* o) { return BuildWriteRegAck(o, 0x8006, 9, 1); }},
        {"writemem ack", {0x00, 0x00, 0x00, 0x87, 0, 4, 0xFF, 0xFF, 0, 0, 0x01, 0x00},
         [](uint8_t* o) { return BuildWriteMemAck(o, 0, 0xFFFF, 0x100); }},
        {"forceip ack busy", {0x80, 0x01, 0x00, 0x05, 0, 0, 0, 3}, [](uint8_t* o) { return BuildForceIpAck(o, 0x8001, 3); }},
        {"action ack", {0, 0, 0x01, 0x01, 0, 0, 0, 4}, [](uint8_t* o) { return BuildActionAck(o, 4); }},
        {"pending ack", {0, 0, 0x00, 0x89, 0, 4, 0, 5, 0, 0, 0x03, 0xE8},
         [](uint8_t* o) { return BuildPendingAck(o, 5, 1000); }},
        {"readreg two values", {0, 0, 0x00, 0x81, 0, 8, 0, 1, 0, 1, 0, 2, 0, 0, 0x0B, 0xB8},
         [](uint8_t* o) {
             const uint8_t v[8] = {0, 1, 0, 2, 0, 0, 0x0B, 0xB8};
             return BuildReadRegAck(o, 0, 1, v, 2);
         }},
        {"readreg failure after one value", {0x80, 0x05, 0x00, 0x81, 0, 4, 0, 1, 0, 1, 0, 2},
         [](uint8_t* o) {
             const uint8_t v[4] = {0, 1, 0, 2};
             return BuildReadRegAck(o, 0x8005, 1, v, 1);
         }},
        {"readmem data", {0, 0, 0x00, 0x85, 0, 8, 0, 2, 0, 0, 0, 0x48, 'A', 'B', 'C', 0},
         [](uint8_t* o) {
             const uint8_t v[4] = {'A', 'B', 'C', 0};
             return BuildReadMemAck(o, 0, 2, 0x48, v, 4);
         }},
        {"readmem failure has no payload", {0x80, 0x05, 0x00, 0x85, 0, 0, 0, 2},
         [](uint8_t* o) { return BuildReadMemAck(o, 0x8005, 2, 0x48, nullptr, 6); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[64];
        std::memset(out, 0xCC, sizeof(out));
        const size_t n = c.build(out);
        EXPECT_EQ(Bytes(out, out + n), c.expected);
        EXPECT_EQ(out[n], 0xCC) << "wrote past the acknowledge";
    }
}

TEST(GvcpAck, ReadAcksBuiltInPlace)
{
    // Handlers read values straight into the answer area.
    uint8_t out[24] = {};
    const uint8_t v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(out + 12, v, 8);
    ASSERT_EQ(BuildReadMemAck(out, 0, 7, 0x1000, out + 12, 8), 20u);
    EXPECT_EQ(Bytes(out + 8, out + 20), (Bytes{0, 0, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    std::memcpy(out + 8, v, 8);
    ASSERT_EQ(BuildReadRegAck(out, 0, 7, out + 8, 2), 16u);
    EXPECT_EQ(Bytes(out + 8, out + 16), Bytes(v, v + 8));
}

TEST(GvcpAck, DiscoveryAckLayout)
{
    DiscoveryInfo info;
    info.version = 0x00010002;
    info.deviceMode = 0x80000001;
    info.macHigh = 0xFFFF021A;  // only the low 16 bits are sent
    info.macLow = 0xABCDEF01;
    info.ipConfigOptions = 0x80000007;
    info.ipConfigCurrent = 0x00000005;
    info.ip = 0x7F000005;
    info.mask = 0xFF000000;
    info.gateway = 0x7F000001;
    std::memcpy(info.manufacturer, "Maker", 5);
    std::memcpy(info.model, "Model", 5);
    std::memcpy(info.deviceVersion, "1.0", 3);
    std::memcpy(info.manufacturerInfo, "Info", 4);
    std::memcpy(info.serialNumber, "SN0123456789ABCD", 16);  // fills the field, no terminator
    std::memcpy(info.userName, "cam", 3);

    uint8_t out[kDiscoveryAckSize + 1];
    out[kDiscoveryAckSize] = 0xCC;
    ASSERT_EQ(BuildDiscoveryAck(out, 0xFFFF, info), 256u);
    EXPECT_EQ(out[kDiscoveryAckSize], 0xCC);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{0, 0, 0, 0x03, 0, 0xF8, 0xFF, 0xFF}));
    const uint8_t* p = out + 8;
    EXPECT_EQ(Bytes(p, p + 8), (Bytes{0, 1, 0, 2, 0x80, 0, 0, 1}));
    EXPECT_EQ(Bytes(p + 8, p + 16), (Bytes{0, 0, 0x02, 0x1A, 0xAB, 0xCD, 0xEF, 0x01}));
    EXPECT_EQ(Bytes(p + 0x10, p + 0x18), (Bytes{0x80, 0, 0, 7, 0, 0, 0, 5}));
    EXPECT_EQ(Bytes(p + 0x18, p + 0x24), Bytes(12, 0));
    EXPECT_EQ(Bytes(p + 0x24, p + 0x28), (Bytes{127, 0, 0, 5}));
    EXPECT_EQ(Bytes(p + 0x34, p + 0x38), (Bytes{255, 0, 0, 0}));
    EXPECT_EQ(Bytes(p + 0x44, p + 0x48), (Bytes{127, 0, 0, 1}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0x48)), "Maker");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0x68)), "Model");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0x88)), "1.0");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0xA8)), "Info");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0xD8), 16), "SN0123456789ABCD");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 0xE8)), "cam");
}

TEST(GvcpDiscovery, DestinationIsRequesterOnSameSubnetElseBroadcast)
{
    struct Case {
        uint32_t requester, ip, mask, expected;
    };
    const Case cases[] = {
        {0xC0A8014D, 0xC0A8010A, 0xFFFFFF00, 0xC0A8014D},  // 192.168.1.77 -> unicast
        {0x0A000005, 0xC0A8010A, 0xFFFFFF00, 0xFFFFFFFF},  // 10.0.0.5 -> broadcast
        {0x7F000001, 0x7F000005, 0xFF000000, 0x7F000001},  // loopback
        {0x0A000005, 0xC0A8010A, 0x00000000, 0x0A000005},  // mask 0: everyone is local
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiscoveryDestination(c.requester, c.ip, c.mask), c.expected) << std::hex << c.requester;
}
