// Blocks laid out by the codec and put back together the way clients do it.
#include "server/stream/gvsp_chunks.h"
#include "server/stream/gvsp_packets.h"
#include "gvsp_pcap.h"
#include "gvsp_reassembler.h"
#include "platform/bytes.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace Kivu::Gvsp;

namespace {

using Packet = std::vector<uint8_t>;

std::vector<Packet> packetize(const BlockSpec& s, const std::vector<uint8_t>& data)
{
    LayoutError e = LayoutError::None;
    const LayoutSize size = MeasureBlock(s, &e);
    EXPECT_EQ(e, LayoutError::None);
    EXPECT_EQ(size.dataBytes, data.size());
    std::vector<uint8_t> headers(size.headerBytes);
    std::vector<PacketRef> refs(size.packets);
    EXPECT_EQ(LayoutBlock(s, headers.data(), headers.size(), refs.data(), refs.size()), LayoutError::None);
    std::vector<Packet> out;
    for (const PacketRef& r : refs) {
        Packet p(headers.begin() + r.headerOffset, headers.begin() + r.headerOffset + r.headerLength);
        p.insert(p.end(), data.begin() + static_cast<std::ptrdiff_t>(r.dataOffset),
                 data.begin() + static_cast<std::ptrdiff_t>(r.dataOffset + r.dataLength));
        EXPECT_LE(p.size(), s.packetBytes);
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

TEST(GvspRoundTrip, ImageBlocksInBothModes)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        BlockSpec s;
        s.mode = round % 2 ? IdMode::Extended : IdMode::Standard;
        s.packetBytes = 100 + static_cast<uint32_t>(rng() % 9000);
        s.blockId = 1 + rng() % 65535;
        s.timestamp = (uint64_t(rng()) << 32) | rng();
        s.flags = static_cast<uint16_t>(rng());
        s.image = {0x01100007, 1 + static_cast<uint32_t>(rng() % 300), 1 + static_cast<uint32_t>(rng() % 50), 3, 4};
        const uint32_t lines = 1 + static_cast<uint32_t>(rng() % s.image.sizeY);
        const size_t imageBytes = size_t(s.image.sizeX) * lines * 2;
        // Image bytes, then a chunk chain: the image-data trailer and one chunk.
        std::vector<uint8_t> data = randomBytes(rng, imageBytes);
        s.hasChunks = round % 3 != 0;
        const std::vector<uint8_t> chunk = randomBytes(rng, 12);
        if (s.hasChunks) {
            std::vector<uint8_t> area(8 + 12 + 8);
            ChunkArea a;
            const ChunkFrame f{area.data(), 2, imageBytes, 0, area.size()};
            ASSERT_TRUE(PlaceChunk(f, a, chunk.data(), 12, 0x4242));
            ASSERT_TRUE(PlaceChunk(f, a, nullptr, 0, 0x1111));
            data.insert(data.end(), area.begin(), area.end());
        }
        s.payloadSize = data.size();
        s.trailerSizeY = lines;

        gvsp_test::Reassembler r(s.packetBytes);
        std::vector<Packet> packets = packetize(s, data);
        std::shuffle(packets.begin() + 1, packets.end() - 1, rng);
        for (const Packet& p : packets)
            ASSERT_TRUE(r.Add(p));
        ASSERT_EQ(r.Blocks().size(), 1u);
        const gvsp_test::Block& b = r.Blocks().begin()->second;
        EXPECT_EQ(b.error, "");
        EXPECT_TRUE(b.Missing().empty());
        EXPECT_EQ(b.blockId, s.mode == IdMode::Standard ? s.blockId & 0xFFFF : s.blockId);
        EXPECT_EQ(b.leaderFlags, s.mode == IdMode::Extended ? s.flags : 0);
        EXPECT_EQ(b.payloadType, s.hasChunks ? 0x4001 : 0x0001);
        EXPECT_EQ(b.timestamp, s.timestamp);
        EXPECT_EQ(b.sizeX, s.image.sizeX);
        EXPECT_EQ(b.trailerSizeY, lines);
        EXPECT_EQ(b.trailerChunkLength, s.hasChunks ? data.size() : 0);
        EXPECT_EQ(b.payload, data);
        if (s.hasChunks) {
            const auto chunks = b.Chunks();
            ASSERT_TRUE(chunks.has_value());
            ASSERT_EQ(chunks->size(), 2u);
            EXPECT_EQ((*chunks)[0].id, 0x4242u);
            EXPECT_EQ((*chunks)[0].data, chunk);
            EXPECT_EQ((*chunks)[1].id, 0x1111u);
            EXPECT_EQ((*chunks)[1].data.size(), imageBytes);
        }
    }
}

TEST(GvspRoundTrip, MultiPartBlocks)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        BlockSpec s;
        s.kind = BlockKind::MultiPart;
        s.packetBytes = 300 + static_cast<uint32_t>(rng() % 9000);
        s.blockId = (uint64_t(1) << 40) + static_cast<uint64_t>(round);
        s.timestamp = rng();
        const size_t n = 1 + rng() % 3;
        std::vector<PartInfo> parts(n);
        std::vector<uint8_t> data;
        for (size_t i = 0; i < n; ++i) {
            parts[i].dataType = i == 0 ? 5 : 1;
            parts[i].sizeX = 1 + static_cast<uint32_t>(rng() % 200);
            parts[i].sizeY = 1 + static_cast<uint32_t>(rng() % 20);
            parts[i].trailerSizeY = parts[i].sizeY;
            parts[i].pixelFormat = 0x01100007 + static_cast<uint32_t>(i);
            parts[i].regionId = static_cast<uint16_t>(i);
            parts[i].length = uint64_t(parts[i].sizeX) * parts[i].sizeY * 2;
            const auto bytes = randomBytes(rng, parts[i].length);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        const uint64_t total = data.size();
        if (round % 2) {
            std::vector<uint8_t> area(8 + 4 + 8);
            ChunkArea a;
            const uint8_t value[4] = {1, 2, 3, 4};
            const ChunkFrame f{area.data(), static_cast<uint16_t>(n >= 2 ? n : 2), total, 0, area.size()};
            ASSERT_TRUE(PlaceChunk(f, a, value, 4, 0x77));
            ASSERT_TRUE(PlaceChunk(f, a, nullptr, 0, 0x01));
            data.insert(data.end(), area.begin(), area.end());
            s.chunkLength = area.size();
        }
        s.parts = parts;

        gvsp_test::Reassembler r(s.packetBytes);
        const std::vector<Packet> packets = packetize(s, data);
        // Each packet carries one part, and the part index names its leader entry.
        for (size_t k = 1; k + 1 < packets.size(); ++k) {
            const uint8_t index = packets[k][20];
            const uint64_t offset = (uint64_t(packets[k][22]) << 40) | (uint64_t(packets[k][23]) << 32) |
                                    platform::loadBE32(&packets[k][24]);
            uint64_t begin = 0;
            for (size_t i = 0; i < index; ++i)
                begin += parts[i].length;
            const uint64_t end = index < n ? begin + parts[index].length : begin + s.chunkLength;
            EXPECT_GE(offset, begin);
            EXPECT_LE(offset + packets[k].size() - 28, end);
            EXPECT_EQ(packets[k][7], n + (s.chunkLength ? 1 : 0));
        }
        for (const Packet& p : packets)
            ASSERT_TRUE(r.Add(p));
        const gvsp_test::Block& b = r.Blocks().begin()->second;
        EXPECT_EQ(b.error, "");
        EXPECT_TRUE(b.Missing().empty());
        EXPECT_EQ(b.payloadType, s.chunkLength ? 0x400A : 0x000A);
        ASSERT_EQ(b.parts.size(), n + (s.chunkLength ? 1 : 0));
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(b.parts[i].length, parts[i].length);
            EXPECT_EQ(b.parts[i].pixelFormat, parts[i].pixelFormat);
            EXPECT_EQ(b.parts[i].sizeX, parts[i].sizeX);
            EXPECT_EQ(b.parts[i].trailerSizeY, parts[i].sizeY);
        }
        EXPECT_EQ(b.payload, data);
        if (s.chunkLength) {
            EXPECT_EQ(b.parts[n].dataType, kChunkDataType);
            EXPECT_EQ(b.trailerChunkLength, data.size());
            const auto chunks = b.Chunks();
            ASSERT_TRUE(chunks.has_value());
            ASSERT_EQ(chunks->size(), 2u);
            EXPECT_EQ((*chunks)[0].id, 0x77u);
            EXPECT_EQ((*chunks)[1].data.size(), total);
        }
    }
}

TEST(GvspRoundTrip, JpegAndH264)
{
    std::mt19937 rng(3);
    for (BlockKind kind : {BlockKind::Jpeg, BlockKind::H264}) {
        BlockSpec s;
        s.kind = kind;
        s.packetBytes = 1472;
        s.timestamp = 0x123456789;
        s.tickFrequency = 1000000000;
        s.image.pixelFormat = 0x01080001;
        const std::vector<uint8_t> data = randomBytes(rng, 10000);
        s.payloadSize = data.size();
        gvsp_test::Reassembler r(s.packetBytes);
        for (const Packet& p : packetize(s, data))
            ASSERT_TRUE(r.Add(p));
        const gvsp_test::Block& b = r.Blocks().begin()->second;
        EXPECT_EQ(b.error, "");
        EXPECT_EQ(b.payload, data);
        EXPECT_EQ(b.dataSize, data.size());
        EXPECT_EQ(b.timestamp, s.timestamp);
        if (kind == BlockKind::Jpeg) {
            EXPECT_EQ(b.tickFrequency, 1000000000u);
        }
    }
}

// The capture of a stream of every block kind decodes in tshark without a malformed packet.
TEST(GvspDissector, CaptureHasNoMalformedPacket)
{
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark not installed";
    std::mt19937 rng(5);
    std::vector<Packet> all;
    auto add = [&](const BlockSpec& s, const std::vector<uint8_t>& data) {
        for (Packet& p : packetize(s, data))
            all.push_back(std::move(p));
    };
    BlockSpec img;
    img.mode = IdMode::Standard;
    img.packetBytes = 1472;
    img.image = {0x01100007, 100, 10, 0, 0};
    img.trailerSizeY = 10;
    img.payloadSize = 2000;
    add(img, randomBytes(rng, 2000));
    img.mode = IdMode::Extended;
    img.blockId = 2;
    img.hasChunks = true;
    add(img, randomBytes(rng, 2000));
    BlockSpec jpeg;
    jpeg.kind = BlockKind::Jpeg;
    jpeg.blockId = 3;
    jpeg.packetBytes = 1472;
    jpeg.tickFrequency = 1000000000;
    jpeg.payloadSize = 3000;
    add(jpeg, randomBytes(rng, 3000));
    BlockSpec h264 = jpeg;
    h264.kind = BlockKind::H264;
    h264.blockId = 4;
    add(h264, randomBytes(rng, 3000));
    PartInfo parts[2] = {{5, 1600, 0x01100007, 0, 100, 8, 8}, {1, 1000, 0x01100003, 1, 100, 5, 5}};
    BlockSpec mp;
    mp.kind = BlockKind::MultiPart;
    mp.blockId = 5;
    mp.packetBytes = 1472;
    mp.parts = parts;
    mp.chunkLength = 32;
    add(mp, randomBytes(rng, 2632));

    EXPECT_EQ(gvsp_test::GvspDissectionFault(all, 50010), "");
}

}  // namespace
