#include "server/stream/gvsp_packets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using namespace Kivu::Gvsp;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const char* text)
{
    Bytes out;
    int nibble = -1;
    for (const char* c = text; *c; ++c) {
        int v = -1;
        if (*c >= '0' && *c <= '9')
            v = *c - '0';
        else if (*c >= 'A' && *c <= 'F')
            v = *c - 'A' + 10;
        if (v < 0)
            continue;
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble << 4 | v));
            nibble = -1;
        }
    }
    return out;
}

template <class F>
Bytes build(F f)
{
    std::array<uint8_t, 1024> buf{};
    buf.fill(0xEE);
    const size_t n = f(buf.data());
    return Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
}

Header hdr(uint64_t block, uint32_t packet, uint16_t flags = 0)
{
    Header h;
    h.blockId = block;
    h.packetId = packet;
    h.flags = flags;
    return h;
}

ImageInfo mono16(uint32_t x, uint32_t y)
{
    ImageInfo i;
    i.pixelFormat = 0x01100007;
    i.sizeX = x;
    i.sizeY = y;
    i.offsetX = 8;
    i.offsetY = 16;
    return i;
}

struct Golden {
    const char* name;
    Bytes (*make)();
    const char* bytes;
};

const Golden kGolden[] = {
    {"standard header", [] {
         Header h = hdr(0x1234, 0x000102);
         h.format = PacketFormat::Payload;
         return build([&](uint8_t* p) { return WriteHeader(p, IdMode::Standard, h); });
     },
     "0000 1234 03 000102"},
    {"standard header keeps the low 16 bits of the block id and 24 of the packet id", [] {
         Header h = hdr(0x12345678, 0x7F0A0B0C);
         h.format = PacketFormat::Payload;
         return build([&](uint8_t* p) { return WriteHeader(p, IdMode::Standard, h); });
     },
     "0000 5678 03 0A0B0C"},
    {"extended header", [] {
         Header h = hdr(0x0102030405060708, 0x0A0B0C0D, 0x0001);
         h.format = PacketFormat::Payload;
         return build([&](uint8_t* p) { return WriteHeader(p, IdMode::Extended, h); });
     },
     "0000 0001 83 000000 0102030405060708 0A0B0C0D"},
    {"image leader, standard, with chunks", [] {
         return build([](uint8_t* p) {
             return WriteImageLeader(p, IdMode::Standard, hdr(7, 0), 0x4001, true, 0x1122334455667788,
                                     mono16(640, 480));
         });
     },
     "0000 0007 01 000000"
     "00 01 4001 11223344 55667788 01100007 00000280 000001E0 00000008 00000010 0000 0000"},
    {"image leader, extended, carries the caller's flags", [] {
         return build([](uint8_t* p) {
             return WriteImageLeader(p, IdMode::Extended, hdr(2, 0, 0x8001), 0x0001, false, 5, mono16(4, 3));
         });
     },
     "0000 8001 81 000000 0000000000000002 00000000"
     "00 00 0001 00000000 00000005 01100007 00000004 00000003 00000008 00000010 0000 0000"},
    {"image trailer, standard", [] {
         return build(
             [](uint8_t* p) { return WriteImageTrailer(p, IdMode::Standard, hdr(7, 3), 0x0001, 480, 0); });
     },
     "0000 0007 02 000003 0000 0001 000001E0 00000000 00000000"},
    {"image trailer, extended, with chunk length and no flags", [] {
         return build([](uint8_t* p) {
             return WriteImageTrailer(p, IdMode::Extended, hdr(2, 5, 0x0101), 0x4001, 100, 0x1000);
         });
     },
     "0000 0000 82 000000 0000000000000002 00000005 0000 4001 00000064 00001000 00000000"},
    {"JPEG leader with the tick frequency", [] {
         return build([](uint8_t* p) {
             return WriteJpegLeader(p, hdr(1, 0, 0x0100), 0x0000000100000002, 0x2000, 1000000000, 0x01080001);
         });
     },
     "0000 0100 81 000000 0000000000000001 00000000"
     "0000 0006 00000001 00000002 0000000000002000 000000003B9ACA00 01080001"},
    {"JPEG trailer", [] { return build([](uint8_t* p) { return WriteGenericTrailer(p, hdr(1, 9), 0x0006); }); },
     "0000 0000 82 000000 0000000000000001 00000009 0000 0006"},
    {"H.264 leader", [] {
         return build([](uint8_t* p) { return WriteH264Leader(p, hdr(3, 0, 0x0002), 0x12345); });
     },
     "0000 0002 81 000000 0000000000000003 00000000"
     "0000 0008 0000000000012345 0000000000000000000000000000000000000000"},
    {"H.264 payload header: format 5 and the timestamp", [] {
         return build([](uint8_t* p) { return WriteH264PayloadHeader(p, hdr(3, 1), 0xAABBCCDD00112233); });
     },
     "0000 0000 85 000000 0000000000000003 00000001 AABBCCDD 00112233"},
    {"multi-part payload header", [] {
         Header h = hdr(4, 2);
         h.partCount = 3;
         return build([&](uint8_t* p) { return WriteMultiPartPayloadHeader(p, h, 2, 0x123456789); });
     },
     "0000 0000 87 00 0003 0000000000000004 00000002 02 00 0001 23456789"},
    {"multi-part trailer, one part, no chunks", [] {
         PartInfo part;
         part.dataType = 5;
         part.length = 0x0102030405;
         part.trailerSizeY = 7;
         return build([&](uint8_t* p) {
             return WriteMultiPartTrailer(p, hdr(4, 3), 0x000A, std::span(&part, 1), false, 0, 0);
         });
     },
     "0000 0000 82 00 0001 0000000000000004 00000003 0000 000A"
     "0005 0001 02030405 00000007 00000000"},
};

class GoldenPacket : public testing::TestWithParam<Golden> {};

TEST_P(GoldenPacket, Bytes)
{
    EXPECT_EQ(GetParam().make(), hex(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Table, GoldenPacket, testing::ValuesIn(kGolden), [](const auto& p) {
    std::string n;
    for (const char* c = p.param.name; *c; ++c)
        n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return n;
});

TEST(GvspMultiPartLeader, TwoPartsWithChunksIs176BytesWithEntriesInOrder)
{
    PartInfo parts[3];
    parts[0] = {1, 2000, 0x01100007, 0, 100, 10, 0};
    parts[1] = {1, 2000, 0x01100009, 1, 100, 10, 0};
    parts[2].dataType = kChunkDataType;
    parts[2].length = 64;
    parts[2].regionId = 3;
    Header h = hdr(9, 0, 0x1234);
    const Bytes b = build([&](uint8_t* p) { return WriteMultiPartLeader(p, h, 0x400A, 0x0102, parts); });
    ASSERT_EQ(b.size(), 176u);
    // {offset, bytes}: header bytes 6-7 = n + c, flags not carried, then per entry
    // data type, length, pixel format, region id, size x and y.
    const std::pair<size_t, const char*> fields[] = {
        {0, "0000 0000 81 00 0003 0000000000000009 00000000 0000 400A 00000000 00000102"},
        {32, "0001 0000 000007D0 01100007 0000000000000000 0000 0000 00000064 0000000A"},
        {80, "0001 0000 000007D0 01100009 0000000000000000 0000 0001 00000064 0000000A"},
        {128, "000A 0000 00000040 00000000 0000000000000000 0000 0003 00000000 00000000"},
    };
    for (const auto& [offset, text] : fields) {
        const Bytes want = hex(text);
        EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset),
                        b.begin() + static_cast<std::ptrdiff_t>(offset + want.size())),
                  want)
            << "at " << offset;
    }
    for (size_t e = 0; e < 3; ++e)
        for (size_t i = 32; i < 48; ++i)
            EXPECT_EQ(b[32 + 48 * e + i], 0) << "entry " << e << " byte " << i;
}

TEST(GvspMultiPartTrailer, TwoPartsWithChunksIs80Bytes)
{
    PartInfo parts[2];
    parts[0] = {1, 2000, 0, 0, 100, 10, 9};
    parts[1] = {5, 3000, 0, 1, 100, 10, 9};
    const Bytes b = build([&](uint8_t* p) { return WriteMultiPartTrailer(p, hdr(9, 8), 0x400A, parts, true, 64, 5064); });
    EXPECT_EQ(b, hex("0000 0000 82 00 0003 0000000000000009 00000008 0000 400A"
                     "0001 0000 000007D0 00000009 00000000"
                     "0005 0000 00000BB8 00000009 00000000"
                     "000A 0000 00000040 0000000000000000 000013C8 00000000"));
}

TEST(GvspTestPacket, ShiftRegisterSequence)
{
    std::vector<uint8_t> p(548, 0xEE);
    WriteTestPacket(p.data(), p.size());
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 14), hex("0000000000000000 FF E9 E2 F1 EE F7"));
    // Every byte after the eighth follows the register.
    uint16_t reg = 0xFFFF;
    for (size_t i = 8; i < p.size(); ++i) {
        ASSERT_EQ(p[i], static_cast<uint8_t>(reg)) << i;
        reg = static_cast<uint16_t>((reg >> 1) ^ ((reg & 1) ? 0x8016 : 0));
    }
}

TEST(GvspPacketBytes, FromScps)
{
    EXPECT_EQ(PacketBytes(0x400005DC), 1472u);
    EXPECT_EQ(PacketBytes(0xC0002328), 8972u);
    EXPECT_EQ(PacketBytes(0x0000001C), 0u);
    EXPECT_EQ(PacketBytes(0x00000000), 0u);
}

struct CapacityRow {
    IdMode mode;
    BlockKind kind;
    uint32_t capacity;
};

TEST(GvspLayout, DataPerPacketAtScps1500)
{
    const CapacityRow rows[] = {
        {IdMode::Standard, BlockKind::Image, 1464},
        {IdMode::Extended, BlockKind::Image, 1452},
        {IdMode::Extended, BlockKind::Jpeg, 1452},
        {IdMode::Extended, BlockKind::H264, 1444},
        {IdMode::Extended, BlockKind::MultiPart, 1444},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(PayloadCapacity(r.mode, r.kind, 1472), r.capacity);
        BlockSpec s;
        s.mode = r.mode;
        s.kind = r.kind;
        s.packetBytes = 1472;
        s.payloadSize = 3 * r.capacity + 1;  // three full packets and one byte
        PartInfo part;
        part.length = s.payloadSize;
        if (r.kind == BlockKind::MultiPart)
            s.parts = std::span(&part, 1);
        const LayoutSize size = MeasureBlock(s);
        ASSERT_EQ(size.packets, 6u);
        std::vector<uint8_t> headers(size.headerBytes);
        std::vector<PacketRef> packets(size.packets);
        ASSERT_EQ(LayoutBlock(s, headers.data(), headers.size(), packets.data(), packets.size()), LayoutError::None);
        for (size_t k = 1; k <= 3; ++k) {
            EXPECT_EQ(packets[k].dataLength, r.capacity);
            EXPECT_EQ(packets[k].dataOffset, (k - 1) * r.capacity);
            EXPECT_EQ(packets[k].headerOffset % kHeaderSlotAlign, 0u);
        }
        EXPECT_EQ(packets[4].dataLength, 1u);
        // Every packet fits S.
        for (const auto& p : packets)
            EXPECT_LE(p.headerLength + p.dataLength, 1472u);
    }
}

TEST(GvspLayout, EmptyImageIsLeaderAndTrailerWithPacketId1)
{
    BlockSpec s;
    s.mode = IdMode::Standard;
    s.packetBytes = 1472;
    s.payloadSize = 0;
    const LayoutSize size = MeasureBlock(s);
    ASSERT_EQ(size.packets, 2u);
    std::vector<uint8_t> headers(size.headerBytes);
    PacketRef packets[2];
    ASSERT_EQ(LayoutBlock(s, headers.data(), headers.size(), packets, 2), LayoutError::None);
    const uint8_t* trailer = headers.data() + packets[1].headerOffset;
    EXPECT_EQ(trailer[4], 2);
    EXPECT_EQ(trailer[7], 1);
    EXPECT_EQ(packets[1].headerLength, 24u);
}

TEST(GvspLayout, RefusesWhatCannotBeSent)
{
    PartInfo parts[2] = {{1, 10, 0, 0, 1, 1, 1}, {1, 10, 0, 0, 1, 1, 1}};
    struct Row {
        const char* what;
        BlockSpec spec;
        LayoutError error;
    };
    auto spec = [](IdMode m, BlockKind k, uint32_t s, uint64_t payload) {
        BlockSpec b;
        b.mode = m;
        b.kind = k;
        b.packetBytes = s;
        b.payloadSize = payload;
        return b;
    };
    BlockSpec mpSmall = spec(IdMode::Extended, BlockKind::MultiPart, 100, 0);
    mpSmall.parts = parts;
    mpSmall.chunkLength = 8;
    const Row rows[] = {
        {"packet no larger than the header", spec(IdMode::Extended, BlockKind::Image, 20, 100),
         LayoutError::PacketTooSmall},
        {"leader larger than the packet", spec(IdMode::Extended, BlockKind::Image, 40, 100),
         LayoutError::PacketTooSmall},
        {"zero packet size", spec(IdMode::Standard, BlockKind::Image, 0, 0), LayoutError::PacketTooSmall},
        {"multi-part leader larger than the packet", mpSmall, LayoutError::PacketTooSmall},
        {"JPEG in standard mode", spec(IdMode::Standard, BlockKind::Jpeg, 1472, 10), LayoutError::BadKind},
        {"more than 2^24 packets in standard mode", spec(IdMode::Standard, BlockKind::Image, 45, 37ull << 24),
         LayoutError::TooManyPackets},
    };
    for (const auto& r : rows) {
        LayoutError e = LayoutError::None;
        const LayoutSize size = MeasureBlock(r.spec, &e);
        EXPECT_EQ(e, r.error) << r.what;
        EXPECT_EQ(size.packets, 0u) << r.what;
        uint8_t headers[64];
        PacketRef packets[4];
        EXPECT_EQ(LayoutBlock(r.spec, headers, sizeof(headers), packets, 4), r.error) << r.what;
    }
}

TEST(GvspLayout, TooSmallAreasAreRefused)
{
    BlockSpec s;
    s.packetBytes = 1472;
    s.payloadSize = 5000;
    const LayoutSize size = MeasureBlock(s);
    std::vector<uint8_t> headers(size.headerBytes);
    std::vector<PacketRef> packets(size.packets);
    EXPECT_NE(LayoutBlock(s, headers.data(), headers.size() - 1, packets.data(), packets.size()), LayoutError::None);
    EXPECT_NE(LayoutBlock(s, headers.data(), headers.size(), packets.data(), packets.size() - 1), LayoutError::None);
}

}  // namespace
