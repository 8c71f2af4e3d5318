#include "server/stream/gvsp_chunks.h"
#include "platform/bytes.h"
#include "stream_fixture.h"
#include "../../model/watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <thread>

using namespace Kivu;
using namespace stream_test;
using testing_support::runWithin;

namespace {

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kMono10 = 0x01100003;
constexpr uint32_t kMono16 = 0x01100007;
constexpr uint32_t kCoord3D_ABC32f = 0x026000C0;

std::shared_ptr<const uint8_t> share(const std::vector<uint8_t>& v)
{
    auto copy = std::make_shared<std::vector<uint8_t>>(v);
    return std::shared_ptr<const uint8_t>(copy, copy->data());
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

gvsp_test::Reassembler reassemble(const std::vector<std::vector<uint8_t>>& packets, uint32_t packetBytes)
{
    gvsp_test::Reassembler r(packetBytes);
    for (const auto& p : packets)
        EXPECT_TRUE(r.Add(p));
    return r;
}

// ---- Registers -------------------------------------------------------

TEST(StreamChannelsRegisters, CountTable)
{
    auto tree = std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize);
    RegisterMap map(tree);
    StreamChannels channels(tree);
    EXPECT_EQ(map.UInt(0x0904)->GetValue(), 1u);
    EXPECT_EQ(tree->Find(0x0D40), nullptr);
    EXPECT_EQ(channels.SetCount(2), GevResult::Ok);
    EXPECT_EQ(channels.Count(), 2u);
    EXPECT_EQ(map.UInt(0x0904)->GetValue(), 2u);
    for (uint32_t a : {0x0D40u, 0x0D44u, 0x0D48u, 0x0D58u, 0x0D5Cu})
        EXPECT_NE(tree->Find(a), nullptr) << std::hex << a;
    EXPECT_EQ(channels.SetCount(0), GevResult::InvalidArgument);
    EXPECT_EQ(channels.SetCount(513), GevResult::InvalidArgument);
    EXPECT_EQ(channels.Count(), 2u);
    EXPECT_EQ(channels.SetCount(1), GevResult::Ok);
    for (uint32_t a : {0x0D40u, 0x0D44u, 0x0D48u, 0x0D58u, 0x0D5Cu})
        EXPECT_EQ(tree->Find(a), nullptr) << std::hex << a;
    EXPECT_NE(tree->Find(0x0D04), nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<UIntReg>(tree->Find(0x0D04))->GetValue(), 0x400005DCu);
    map.UInt(0xA030)->SetValue(9000);
    ASSERT_TRUE(channels.StartAll(GevMode::Extended));
    EXPECT_EQ(channels.SetCount(2), GevResult::Running);
    channels.StopAll();
    EXPECT_EQ(channels.SetCount(2), GevResult::Ok);
}

TEST(StreamChannelsRegisters, SetupKeepsTheFlagBitsAndClampsTheMtu)
{
    auto tree = std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize);
    RegisterMap map(tree);
    map.UInt(0xA030)->SetValue(0xFFFF);
    StreamChannels channels(tree);
    auto scps = std::dynamic_pointer_cast<UIntReg>(tree->Find(0x0D04));
    scps->SetValue(0xC0002000);
    channels.Setup(1500);
    EXPECT_EQ(scps->GetValue(), 0xC00005DCu);
    channels.Setup(65536);  // loopback
    EXPECT_EQ(scps->GetValue(), 0xC000FFFFu);
}

class Recorder : public Base {
public:
    bool OnWrite(UIntReg* r)
    {
        values.push_back(r->GetValue());
        return true;
    }
    std::vector<uint32_t> values;
};

TEST(StreamChannelsRegisters, AcquisitionCommandsWriteTheSourceIndex)
{
    auto tree = std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize);
    RegisterMap map(tree);
    StreamChannels channels(tree);
    auto start = std::make_shared<UIntReg>(0x20000, 0, Access::ReadWrite);
    auto stop = std::make_shared<UIntReg>(0x20004, 0, Access::ReadWrite);
    auto selector = std::make_shared<UIntReg>(0x20008, 1, Access::ReadWrite);
    auto multi = std::make_shared<UIntReg>(0x2000C, 7, Access::ReadWrite);
    channels.AttachAcquisitionRegisters({start, stop, selector, multi, nullptr});
    EXPECT_EQ(multi->GetValue(), 0u);
    Recorder rec;
    map.UInt(0xA04C)->SetValue(5);
    map.UInt(0xA04C)->Subscribe(CallbackList::AfterWrite, MakeCallback(&rec, &Recorder::OnWrite));
    map.UInt(0xA050)->Subscribe(CallbackList::AfterWrite, MakeCallback(&rec, &Recorder::OnWrite));
    start->SetValue(1);
    EXPECT_EQ(rec.values, std::vector<uint32_t>({0}));  // one channel: source 0
    ASSERT_EQ(channels.SetCount(2), GevResult::Ok);
    EXPECT_EQ(multi->GetValue(), 1u);
    stop->SetValue(1);
    EXPECT_EQ(rec.values, std::vector<uint32_t>({0, 1}));  // the selected source
    map.UInt(0xA04C)->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(&rec, &Recorder::OnWrite));
    map.UInt(0xA050)->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(&rec, &Recorder::OnWrite));
}

TEST(StreamProtocolRegisters, PacketSizeWrites)
{
    Channel c;
    ASSERT_TRUE(c.protocol->Start(GevMode::Extended));
    struct Row {
        uint32_t value;
        uint32_t status;
    };
    const Row rows[] = {
        {0x40000000 | 9000, GevStatus::Success},
        {0x40000000 | 9001, GevStatus::InvalidParameter},  // above 0xA030
        {0x40000000 | 576, GevStatus::Success},
        {0x40000000 | 575, GevStatus::InvalidParameter},  // below the minimum
        {0x40000000 | 28, GevStatus::InvalidParameter},
        {0x00000000, GevStatus::InvalidParameter},
    };
    for (const Row& r : rows) {
        const uint32_t before = c.Reg(0x0D04)->GetValue();
        EXPECT_EQ(c.RemoteWrite(0x0D04, r.value), r.status) << std::hex << r.value;
        EXPECT_EQ(c.Reg(0x0D04)->GetValue(), r.status == 0 ? r.value : before) << std::hex << r.value;
    }
    // Streaming: refused.
    Receiver rx;
    c.Open(rx.Port(), 1500);
    ASSERT_TRUE(c.protocol->IsStreaming());
    EXPECT_EQ(c.RemoteWrite(0x0D04, 0x40000000 | 1400), GevStatus::InvalidParameter);
    EXPECT_EQ(c.RemoteWrite(0x0D00, 1234), GevStatus::InvalidParameter);  // SCP too
}

TEST(StreamProtocolRegisters, TestPacketOnEveryFireWrite)
{
    Channel c;
    ASSERT_TRUE(c.protocol->Start(GevMode::Extended));
    Receiver rx;
    c.Reg(0x0D18)->SetValue(kLoopback);
    c.Reg(0x0D00)->SetValue(rx.Port());
    EXPECT_NE(c.Reg(0x0D1C)->GetValue(), 0u);  // SCSP: the source port
    ASSERT_EQ(c.RemoteWrite(0x0D04, 0x80000240), GevStatus::Success);
    ASSERT_EQ(c.RemoteWrite(0x0D04, 0x80000240), GevStatus::Success);  // the bit already set fires again
    const auto got = rx.Receive(3);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& p : got) {
        ASSERT_EQ(p.size(), 548u);
        EXPECT_EQ(p[7], 0);
        EXPECT_EQ(p[8], 0xFF);
        EXPECT_EQ(p[9], 0xE9);
    }
    // Internal writes (set-up) fire nothing.
    c.Reg(0x0D04)->SetValue(0x80000240);
    EXPECT_TRUE(rx.Receive(1).empty());
}

TEST(StreamProtocolRegisters, PortWritesOpenAndCloseTheSocket)
{
    Channel c;
    ASSERT_TRUE(c.protocol->Start(GevMode::Extended));
    c.Reg(0x0D00)->SetValue(5000);
    const uint32_t port = c.Reg(0x0D1C)->GetValue();
    EXPECT_NE(port, 0u);
    c.Reg(0x0D00)->SetValue(0);
    EXPECT_EQ(c.Reg(0x0D1C)->GetValue(), 0u);
    c.Reg(0x0D00)->SetValue(5001);
    c.Reg(0x0D18)->SetValue(kLoopback);
    c.protocol->Stop();
    EXPECT_EQ(c.Reg(0x0D00)->GetValue(), 0u);
    EXPECT_EQ(c.Reg(0x0D18)->GetValue(), 0u);
    EXPECT_EQ(c.Reg(0x0D1C)->GetValue(), 0u);
}

TEST(StreamProtocolRegisters, AcquisitionStartNeedsDestinationAndSource)
{
    Channel c;
    Receiver rx;
    // Not started: nothing.
    c.Open(rx.Port());
    EXPECT_FALSE(c.protocol->IsStreaming());
    ASSERT_TRUE(c.protocol->Start(GevMode::Extended));
    c.Reg(0xA04C)->SetValue(0);
    EXPECT_FALSE(c.protocol->IsStreaming());  // SCP and SCDA were cleared by Start
    c.Reg(0x0D18)->SetValue(kLoopback);
    c.Reg(0x0D00)->SetValue(rx.Port());
    c.Reg(0xA04C)->SetValue(1);  // another source
    EXPECT_FALSE(c.protocol->IsStreaming());
    c.Reg(0xA04C)->SetValue(0xFFFFFFFF);
    EXPECT_TRUE(c.protocol->IsStreaming());
    c.Reg(0xA050)->SetValue(1);  // another source: still running
    EXPECT_TRUE(c.protocol->IsStreaming());
    c.Reg(0xA050)->SetValue(0xFFFFFFFF);
    EXPECT_FALSE(c.protocol->IsStreaming());
}

// ---- Blocks on loopback ------------------------------------------------

struct BlockCase {
    const char* name;
    uint32_t gevMode;
    int parts;          // 0: image in the frame
    uint32_t lines;     // 0: full height
    bool chunks;
};

class StreamBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(StreamBlocks, ArriveCompleteAndIntact)
{
    const BlockCase& k = GetParam();
    runWithin([&] {
        Channel c;
        Receiver rx;
        StreamProtocol& p = *c.protocol;
        ASSERT_TRUE(p.Start(k.gevMode));
        ASSERT_TRUE(p.SetTimestampSource(TimestampMode::Fixed, 0));
        const uint32_t w = 64, h = 20;
        p.SetGeometry({w, h, kMono16, 2, 3});
        struct PartDef {
            uint32_t pf;
            uint16_t type;
        };
        const PartDef defs[3] = {{kMono16, 5}, {kMono10, 1}, {kCoord3D_ABC32f, 5}};
        std::vector<std::vector<uint8_t>> partData;
        for (int i = 0; i < k.parts; ++i) {
            ImagePartEntry e;
            e.key3 = static_cast<uint8_t>(i);
            e.width = w;
            e.height = h;
            e.dataType = defs[i].type;
            e.pixelFormat = defs[i].pf;
            ASSERT_TRUE(p.UpdateImagePart(e));
        }
        const uint32_t chunkSize = k.chunks ? 4 + 8 + 4 + 8 + 8 : 0;
        ASSERT_TRUE(p.SetChunkSize(chunkSize));
        const uint64_t payload = p.PayloadSize();
        c.Open(rx.Port(), 1500);
        ASSERT_TRUE(p.WaitReady());

        std::vector<uint8_t> frame(payload + 64, 0xCC);
        uint64_t total = 0;
        for (int i = 0; i < k.parts; ++i) {
            const uint32_t bytes = w * (k.lines ? k.lines : h) * PixelBits(defs[i].pf) / 8;
            partData.push_back(randomBytes(bytes, 10 + i));
            ASSERT_TRUE(p.SetImagePartData({static_cast<uint8_t>(i), 0, 0}, share(partData.back()), bytes));
            total += bytes;
        }
        if (k.parts == 1)
            std::copy(partData[0].begin(), partData[0].end(), frame.begin());
        const std::vector<uint8_t> image = randomBytes(uint64_t(w) * h * 2, 3);
        if (k.parts == 0)
            std::copy(image.begin(), image.end(), frame.begin());
        Gvsp::ChunkArea area;
        if (k.chunks) {
            const Gvsp::ChunkFrame f{frame.data(), static_cast<uint16_t>(k.parts), total, payload, chunkSize};
            const uint8_t a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
            ASSERT_TRUE(Gvsp::PlaceChunk(f, area, a, 4, 0x1001));
            ASSERT_TRUE(Gvsp::PlaceChunk(f, area, b, 4, 0x1002));
            ASSERT_TRUE(Gvsp::PlaceChunk(f, area, nullptr, k.parts ? 0 : uint32_t(image.size()), 0x0EEE));
        }
        p.SetFixedTimestamp(0x0102030405060708);
        ASSERT_TRUE(p.SendImage(frame.data(), area.Offset(), k.lines, 0x0010));
        EXPECT_EQ(p.FramePartCount(), 0u);

        const auto packets = rx.Receive(100000);
        auto r = reassemble(packets, 1472);
        ASSERT_EQ(r.Blocks().size(), 1u);
        const gvsp_test::Block& got = r.Blocks().begin()->second;
        EXPECT_EQ(got.error, "");
        EXPECT_TRUE(got.leader && got.trailer);
        EXPECT_TRUE(got.Missing().empty());
        EXPECT_EQ(got.blockId, 1u);
        EXPECT_EQ(got.timestamp, 0x0102030405060708u);
        const uint32_t lines = k.lines ? k.lines : h;
        if (k.parts <= 1) {
            EXPECT_EQ(got.payloadType, k.chunks ? 0x4001 : 0x0001);
            EXPECT_EQ(got.trailerSizeY, lines);
            EXPECT_EQ(got.pixelFormat, k.parts ? defs[0].pf : kMono16);
            EXPECT_EQ(got.leaderFlags, k.gevMode ? 0x0010 : 0);
            const std::vector<uint8_t>& src = k.parts ? partData[0] : image;
            const size_t imageBytes = size_t(w) * lines * 2;
            ASSERT_GE(got.payload.size(), imageBytes);
            EXPECT_TRUE(std::equal(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(imageBytes),
                                   got.payload.begin()));
            EXPECT_EQ(got.payload.size(), imageBytes + area.Offset());
        } else {
            EXPECT_EQ(got.payloadType, k.chunks ? 0x400A : 0x000A);
            ASSERT_EQ(got.parts.size(), size_t(k.parts + (k.chunks ? 1 : 0)));
            std::vector<uint8_t> all;
            for (int i = 0; i < k.parts; ++i) {
                EXPECT_EQ(got.parts[i].pixelFormat, defs[i].pf);
                EXPECT_EQ(got.parts[i].length, partData[i].size());
                EXPECT_EQ(got.parts[i].trailerSizeY, lines);
                all.insert(all.end(), partData[i].begin(), partData[i].end());
            }
            EXPECT_TRUE(std::equal(all.begin(), all.end(), got.payload.begin()));
        }
        if (k.chunks) {
            const auto chunks = got.Chunks();
            ASSERT_TRUE(chunks.has_value());
            ASSERT_EQ(chunks->size(), 3u);
            // Without parts the first chunk ends the payload; with parts the last one does.
            const size_t a = k.parts ? 1 : 0;
            EXPECT_EQ((*chunks)[a].id, 0x1001u);
            EXPECT_EQ((*chunks)[a].data, std::vector<uint8_t>({1, 2, 3, 4}));
            EXPECT_EQ((*chunks)[1 - a].id, 0x1002u);
            EXPECT_EQ((*chunks)[2].id, 0x0EEEu);
        }
        p.Stop();
    });
}

const BlockCase kBlockCases[] = {
    {"standard_image", GevMode::Standard, 0, 0, false},
    {"standard_image_chunks_fewer_lines", GevMode::Standard, 0, 7, true},
    {"extended_image_chunks", GevMode::Extended, 0, 0, true},
    {"extended_image_chunks_fewer_lines", GevMode::Extended, 0, 5, true},
    {"one_part_chunks", GevMode::Extended, 1, 0, true},
    {"two_parts", GevMode::Extended, 2, 0, false},
    {"two_parts_chunks", GevMode::Extended, 2, 0, true},
    {"three_parts_chunks_fewer_lines", GevMode::Extended, 3, 9, true},
};

INSTANTIATE_TEST_SUITE_P(Table, StreamBlocks, testing::ValuesIn(kBlockCases),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Send path --------------------------------------------------------

struct Recorded {
    Recorded() : shared(std::make_shared<RecordingSocket::Shared>()), c(std::make_unique<RecordingSocket>(shared))
    {
        EXPECT_TRUE(c.protocol->Start(GevMode::Extended));
        c.protocol->SetGeometry({100, 10, kMono8, 0, 0});
        c.Open(rx.Port(), 1500);
    }
    bool Send(const std::vector<uint8_t>& frame)
    {
        return c.protocol->WaitReady() && c.protocol->SendImage(frame.data(), 0, 0, 0);
    }
    size_t Packets()
    {
        std::lock_guard lk(shared->mutex);
        return shared->packets.size();
    }
    bool WaitPackets(size_t n)
    {
        std::unique_lock lk(shared->mutex);
        return shared->cv.wait_for(lk, std::chrono::seconds(5), [&] { return shared->packets.size() >= n; });
    }
    void Hold(bool on)
    {
        std::lock_guard lk(shared->mutex);
        shared->hold = on;
        shared->cv.notify_all();
    }
    void WaitHeld()
    {
        std::unique_lock lk(shared->mutex);
        shared->cv.wait(lk, [&] { return shared->held; });
    }
    std::shared_ptr<RecordingSocket::Shared> shared;
    Receiver rx;
    Channel c;
};

TEST(StreamSendPath, SixthBlockWaitsForABufferAndStopDropsIt)
{
    runWithin([] {
        Recorded t;
        const std::vector<uint8_t> frame(1000, 1);  // 1 payload packet: 3 packets per block
        t.Hold(true);
        ASSERT_TRUE(t.Send(frame));
        t.WaitHeld();  // block 1 in flight
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(t.Send(frame));  // blocks 2-5 queued
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), 0u);
        std::atomic<bool> returned{false};
        bool result = false;
        std::thread producer([&] {
            result = t.Send(frame);
            returned = true;
        });
        testing_support::letThreadBlock();
        EXPECT_FALSE(returned.load());
        // Acquisition stop while the sixth waits: dropped with success; the
        // block in flight is not handed back.
        t.c.Reg(0xA050)->SetValue(0);
        producer.join();
        EXPECT_TRUE(result);
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), 4u);
        t.Hold(false);
        for (int i = 0; i < 100 && t.c.protocol->FreeBufferCount() != 5; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), 5u);
        t.c.protocol->Stop();
    });
}

TEST(StreamSendPath, DropKnobAndResendFromHistory)
{
    runWithin([] {
        Recorded t;
        t.shared->forward = true;
        StreamProtocol& p = *t.c.protocol;
        p.SetPacketDrop(true, 3, 5, 8, 0);
        t.c.protocol->SetGeometry({1000, 12, kMono8, 0, 0});  // 9 payload packets of 1452 (12000 bytes)
        std::vector<uint8_t> big = randomBytes(12000, 2);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(t.Send(big));
        // 11 packets per block; block 3 lacks 5, 6 and 7.
        ASSERT_TRUE(t.WaitPackets(5 * 11 - 3));
        auto r = reassemble(t.rx.Receive(5 * 11 - 3), 1472);
        ASSERT_EQ(r.Blocks().size(), 5u);
        EXPECT_TRUE(r.Blocks()[1].Missing().empty());
        EXPECT_TRUE(r.Blocks()[2].Missing().empty());
        EXPECT_EQ(r.Blocks()[3].Missing(), std::vector<uint32_t>({5, 6, 7}));
        std::vector<std::vector<uint8_t>> before;
        {
            std::lock_guard lk(t.shared->mutex);
            before = t.shared->packets;
        }
        // Resend 5..7 of block 3 (still among the last three).
        t.c.map.Resend()->Post({3, (uint64_t(5) << 32) | 7});
        auto resent = t.rx.Receive(3);
        ASSERT_EQ(resent.size(), 3u);
        for (const auto& pk : resent)
            ASSERT_TRUE(r.Add(pk));
        EXPECT_TRUE(r.Blocks()[3].Missing().empty());
        EXPECT_EQ(r.Blocks()[3].payload, big);
        // A last id past the trailer stops at the trailer (id 10).
        t.c.map.Resend()->Post({5, (uint64_t(9) << 32) | 0xFFFFFFFF});
        const auto tail = t.rx.Receive(5);
        ASSERT_EQ(tail.size(), 2u);
        EXPECT_EQ(tail[1][4], 0x82);
        // The resent packets are the originals, byte for byte: block 5 packets 9, 10.
        EXPECT_EQ(tail[0], before[before.size() - 2]);
        EXPECT_EQ(tail[1], before[before.size() - 1]);
        // Block 2 is older than the last three: nothing.
        t.c.map.Resend()->Post({2, (uint64_t(0) << 32) | 3});
        EXPECT_TRUE(t.rx.Receive(1).empty());
        // Not streaming: nothing.
        t.c.Reg(0xA050)->SetValue(0);
        t.c.map.Resend()->Post({5, (uint64_t(0) << 32) | 3});
        EXPECT_TRUE(t.rx.Receive(1).empty());
        p.Stop();
    });
}

TEST(StreamSendPath, PacedSendingInFixedTimestampModeFinishesWithGapsOfAtLeastTheDelay)
{
    runWithin([] {
        Recorded t;
        StreamProtocol& p = *t.c.protocol;
        t.c.Reg(0xA050)->SetValue(0);
        ASSERT_TRUE(p.SetTimestampSource(TimestampMode::Fixed, 0));
        t.c.Reg(0xA04C)->SetValue(0);
        t.c.Reg(0x0D08)->SetValue(20000);  // 20 us at 1 GHz
        p.SetGeometry({1000, 20, kMono8, 0, 0});
        const std::vector<uint8_t> frame(20000, 7);
        ASSERT_TRUE(t.Send(frame));
        ASSERT_TRUE(t.WaitPackets(16));  // 14 payload packets, leader, trailer
        // Each packet starts at least the delay after the one before; the span
        // of the recorded send entries allows for one entry's latency.
        std::lock_guard lk(t.shared->mutex);
        const auto& times = t.shared->times;
        EXPECT_GE(times.back() - times.front(), std::chrono::microseconds(20 * (times.size() - 1) - 10));
    });
}

TEST(StreamSendPath, HugeDelayDoesNotHoldStop)
{
    runWithin([] {
        Recorded t;
        t.c.Reg(0x0D08)->SetValue(0xFFFFFFFF);  // 4.3 s per packet
        const std::vector<uint8_t> frame(1000, 7);
        ASSERT_TRUE(t.Send(frame));
        ASSERT_TRUE(t.WaitPackets(1));
        t.c.protocol->Stop();  // within the watchdog's bound
        EXPECT_LT(t.Packets(), 3u);
    });
}

TEST(StreamSendPath, EveryBlockIsSentWhenPushedWhileTheThreadDrains)
{
    runWithin(std::chrono::seconds(60), [] {
        Recorded t;
        const std::vector<uint8_t> frame(1000, 1);
        for (size_t i = 1; i <= 2000; ++i) {
            ASSERT_TRUE(t.Send(frame));
            ASSERT_TRUE(t.WaitPackets(3 * i)) << "block " << i;
        }
        t.c.protocol->Stop();
    });
}

TEST(StreamSendPath, StopReleasesAProducerWaitingInBeginFrame)
{
    runWithin([] {
        Channel c;
        ASSERT_TRUE(c.protocol->Start(GevMode::Extended));
        std::atomic<int> result{-1};
        std::thread producer([&] { result = c.protocol->WaitReady() ? 1 : 0; });
        testing_support::letThreadBlock();
        EXPECT_EQ(result.load(), -1);
        c.protocol->Stop();
        producer.join();
        EXPECT_EQ(result.load(), 0);
        EXPECT_EQ(c.protocol->FreeBufferCount(), StreamProtocol::kBuffers);
        EXPECT_FALSE(c.protocol->WaitReady());
    });
}

TEST(StreamSendPath, AVanishedReceiverIsNotFatal)
{
    runWithin([] {
        Channel c;
        ASSERT_TRUE(c.protocol->Start(GevMode::Standard));
        c.protocol->SetGeometry({500, 100, kMono8, 0, 0});
        uint16_t port = 0;
        {
            Receiver gone;
            port = gone.Port();
        }
        c.Open(port);
        const std::vector<uint8_t> frame(50000, 1);
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(c.protocol->WaitReady());
            ASSERT_TRUE(c.protocol->SendImage(frame.data(), 0, 0, 0));
        }
        EXPECT_EQ(c.protocol->CurrentBlockId(), 20u);
        c.protocol->Stop();
    });
}

TEST(StreamSendPath, StandardBlockIdsSkipZero)
{
    runWithin(std::chrono::seconds(120), [] {
        Recorded t;
        t.c.protocol->Stop();
        ASSERT_TRUE(t.c.protocol->Start(GevMode::Standard));
        t.c.Open(t.rx.Port());
        t.c.protocol->SetGeometry({0, 0, kMono8, 0, 0});
        const std::vector<uint8_t> frame(1, 0);
        for (int i = 0; i < 65536; ++i)
            ASSERT_TRUE(t.Send(frame));
        ASSERT_TRUE(t.WaitPackets(2 * 65536));
        std::lock_guard lk(t.shared->mutex);
        const auto& last = t.shared->packets.back();
        EXPECT_EQ(platform::loadBE16(&last[2]), 1u);  // 65535, then 1
        EXPECT_EQ(platform::loadBE16(&t.shared->packets[2 * 65534][2]), 65535u);
    });
}

// ---- Packet shuffle --------------------------------------------------

// (block id, packet id) of an extended-id packet.
std::pair<uint64_t, uint32_t> packetKey(const std::vector<uint8_t>& p)
{
    return {platform::loadBE64(&p[8]), platform::loadBE32(&p[16])};
}

// A recorded channel with shuffling on and blocks of width x lines Mono8.
struct Shuffled : Recorded {
    Shuffled(uint32_t width, uint32_t lines)
    {
        StreamProtocol& p = *c.protocol;
        EXPECT_FALSE(p.SetShuffle(true));  // refused while streaming
        c.Reg(0xA050)->SetValue(0);
        EXPECT_TRUE(p.SetShuffle(true));
        p.SetGeometry({width, lines, kMono8, 0, 0});
        c.Reg(0xA04C)->SetValue(0);
    }
};

struct ShuffleCase {
    const char* name;
    uint32_t width, lines;
    size_t packets;  // per block, leader and trailer included
};

class ShuffledBlocks : public testing::TestWithParam<ShuffleCase> {};

TEST_P(ShuffledBlocks, EveryPacketGoesOutOnceOutOfOrderAndEachBlockWaitsForTheNext)
{
    const ShuffleCase& k = GetParam();
    runWithin([&] {
        Shuffled t(k.width, k.lines);
        t.shared->forward = true;
        constexpr size_t kBlocks = 6;
        std::vector<std::vector<uint8_t>> frames;
        for (size_t i = 0; i < kBlocks; ++i)
            frames.push_back(randomBytes(size_t(k.width) * k.lines, 20 + static_cast<uint32_t>(i)));
        ASSERT_TRUE(t.Send(frames[0]));
        testing_support::letThreadBlock();
        EXPECT_EQ(t.Packets(), 0u);  // held until the next block
        for (size_t i = 1; i < kBlocks; ++i)
            ASSERT_TRUE(t.Send(frames[i]));
        // Five sends of one block's worth of packets each; the sixth block is held.
        const size_t sent = (kBlocks - 1) * k.packets;
        ASSERT_TRUE(t.WaitPackets(sent));
        testing_support::letThreadBlock();
        ASSERT_EQ(t.Packets(), sent);

        const auto packets = t.rx.Receive(sent + 1);
        ASSERT_EQ(packets.size(), sent);
        std::set<std::pair<uint64_t, uint32_t>> seen;
        bool crossed = false;  // a packet of a later block before one of an earlier block
        uint64_t newest = 0;
        for (const auto& pk : packets) {
            const auto key = packetKey(pk);
            EXPECT_TRUE(seen.insert(key).second) << "block " << key.first << " packet " << key.second << " twice";
            crossed = crossed || key.first < newest;
            newest = std::max(newest, key.first);
        }
        EXPECT_TRUE(crossed);
        auto r = reassemble(packets, 1472);
        bool reordered = false;
        for (uint64_t id = 1; id <= kBlocks - 2; ++id) {
            const gvsp_test::Block& b = r.Blocks()[id];
            EXPECT_EQ(b.error, "") << id;
            EXPECT_TRUE(b.leader && b.trailer) << id;
            EXPECT_TRUE(b.Missing().empty()) << id;
            ASSERT_EQ(b.packetIds.size(), k.packets) << id;
            EXPECT_EQ(b.payload, frames[id - 1]) << id;
            reordered = reordered || !std::is_sorted(b.packetIds.begin(), b.packetIds.end());
        }
        EXPECT_TRUE(reordered);
        // The last two blocks share one block's worth: the held one keeps the rest.
        EXPECT_EQ(r.Blocks()[kBlocks - 1].packetIds.size() + r.Blocks()[kBlocks].packetIds.size(), k.packets);

        // Acquisition stop returns the held buffer with the others.
        t.c.Reg(0xA050)->SetValue(0);
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), StreamProtocol::kBuffers);
        EXPECT_TRUE(t.rx.Receive(1).empty());
        // Off again: each block goes out at once, in order.
        ASSERT_TRUE(t.c.protocol->SetShuffle(false));
        t.c.Reg(0xA04C)->SetValue(0);
        ASSERT_TRUE(t.Send(frames[0]));
        const auto plain = t.rx.Receive(k.packets);
        ASSERT_EQ(plain.size(), k.packets);
        for (size_t i = 0; i < plain.size(); ++i)
            EXPECT_EQ(packetKey(plain[i]), std::make_pair(uint64_t(1), static_cast<uint32_t>(i)));
        t.c.protocol->Stop();
    });
}

// Fewer packets than the swap reach (3 + 3 and 11 + 11) down to a full reach.
const ShuffleCase kShuffleCases[] = {
    {"three_packets", 100, 10, 3},
    {"eleven_packets", 1000, 12, 11},
    {"thirty_two_packets", 1452, 30, 32},
};

INSTANTIATE_TEST_SUITE_P(Table, ShuffledBlocks, testing::ValuesIn(kShuffleCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A queued block carries packets of the held one: stopping while it is sent
// keeps both buffers until the send ends, and the packets keep their bytes.
TEST(StreamShuffle, StopDuringASendKeepsTheBuffersItReads)
{
    runWithin([] {
        Shuffled t(100, 10);  // 3 packets: nearly every swap crosses between the blocks
        const std::vector<uint8_t> one = randomBytes(1000, 1), two = randomBytes(1000, 2);
        t.Hold(true);
        ASSERT_TRUE(t.Send(one));
        ASSERT_TRUE(t.Send(two));
        t.WaitHeld();  // block 1 in flight, block 2 held
        t.c.Reg(0xA050)->SetValue(0);
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), StreamProtocol::kBuffers - 2);
        t.Hold(false);
        ASSERT_TRUE(t.WaitPackets(3));
        for (int i = 0; i < 100 && t.c.protocol->FreeBufferCount() != StreamProtocol::kBuffers; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(t.c.protocol->FreeBufferCount(), StreamProtocol::kBuffers);
        std::lock_guard lk(t.shared->mutex);
        ASSERT_EQ(t.shared->packets.size(), 3u);
        for (const auto& pk : t.shared->packets) {
            const auto [block, id] = packetKey(pk);
            ASSERT_TRUE(block == 1 || block == 2);
            if (id == 1) {  // the payload packet
                EXPECT_TRUE(std::equal(pk.begin() + 20, pk.end(), (block == 1 ? one : two).begin()));
            }
        }
    });
}

TEST(StreamShuffle, ResendAfterShufflingSendsThePacketsWithTheRequestedIds)
{
    runWithin([] {
        Shuffled t(1452, 30);  // 32 packets per block
        t.shared->forward = true;
        const std::vector<uint8_t> one = randomBytes(1452 * 30, 1), two = randomBytes(1452 * 30, 2),
                                   three = randomBytes(1452 * 30, 3);
        ASSERT_TRUE(t.Send(one));
        ASSERT_TRUE(t.Send(two));
        ASSERT_TRUE(t.Send(three));  // blocks 1 and 2 sent, 3 held
        ASSERT_TRUE(t.WaitPackets(64));
        std::map<std::pair<uint64_t, uint32_t>, std::vector<uint8_t>> original;
        for (const auto& pk : t.rx.Receive(64))
            original[packetKey(pk)] = pk;

        t.c.map.Resend()->Post({1, (uint64_t(2) << 32) | 9});
        const auto resent = t.rx.Receive(9);
        ASSERT_EQ(resent.size(), 8u);
        for (size_t i = 0; i < resent.size(); ++i) {
            const auto key = packetKey(resent[i]);
            EXPECT_EQ(key, std::make_pair(uint64_t(1), static_cast<uint32_t>(2 + i)));
            EXPECT_EQ(resent[i], original[key]);
        }
        // The whole of block 2, including packets still waiting in block 3's send.
        t.c.map.Resend()->Post({2, 0xFFFFFFFF});
        const auto whole = t.rx.Receive(33);
        ASSERT_EQ(whole.size(), 32u);
        gvsp_test::Reassembler r(1472);
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(packetKey(whole[i]), std::make_pair(uint64_t(2), static_cast<uint32_t>(i)));
            ASSERT_TRUE(r.Add(whole[i]));
        }
        EXPECT_TRUE(r.Blocks()[2].Missing().empty());
        EXPECT_EQ(r.Blocks()[2].payload, two);
        t.c.protocol->Stop();
    });
}

TEST(StreamProtocolTimestamps, Modes)
{
    Channel c;
    StreamProtocol& p = *c.protocol;
    ASSERT_TRUE(p.SetTimestampSource(TimestampMode::Fixed, 0));
    p.SetFixedTimestamp(42);
    EXPECT_EQ(p.GetTimestamp(), 42u);
    EXPECT_EQ(p.LastTimestamp(), 42u);
    EXPECT_EQ(c.Reg(0x0940)->GetValue(), 1000000000u);
    ASSERT_TRUE(p.SetTimestampSource(TimestampMode::Counter, 0));
    const uint64_t a = p.GetTimestamp();
    const uint64_t b = p.GetTimestamp();
    EXPECT_GE(b, a);
    EXPECT_FALSE(p.SetTimestampSource(2, 0));
    // Latch through 0x0944 bit 1.
    ASSERT_TRUE(p.SetTimestampSource(TimestampMode::Fixed, 0));
    p.SetFixedTimestamp(0x123456789A);
    c.Reg(0x0944)->SetValue(2);
    EXPECT_EQ(c.Reg(0x0948)->GetValue(), 0x12u);
    EXPECT_EQ(c.Reg(0x094C)->GetValue(), 0x3456789Au);
    // Refused while streaming.
    Receiver rx;
    ASSERT_TRUE(p.Start(GevMode::Extended));
    c.Open(rx.Port());
    EXPECT_FALSE(p.SetTimestampSource(TimestampMode::Counter, 0));
}

}  // namespace
