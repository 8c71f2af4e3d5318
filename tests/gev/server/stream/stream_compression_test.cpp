// Compressed frames on a stream channel, with the stand-in H.264 module on the
// search path: JPEG blocks decode to the source within a quality bound, H.264
// blocks carry the module's bytes in H.264 payload packets that tshark
// dissects, unsupported formats and oversize frames send nothing, chunks
// follow the encoded bytes; and the camera's compression slots.
#include "server/stream/compression.h"
#include "stream_fixture.h"
#include "gvsp_pcap.h"
#include "../camera_fixture.h"
#include "../../model/watchdog.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

using namespace Kivu;
using namespace stream_test;
using testing_support::runWithin;
using Compression::kMono8;
using Compression::kRgb8;

namespace {

constexpr uint32_t kMono16 = 0x01100007;

// Smooth test images, computed the same way by every check.
std::vector<uint8_t> gradient(uint32_t pfnc, uint32_t w, uint32_t h)
{
    std::vector<uint8_t> v;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            if (pfnc == kMono8) {
                v.push_back(static_cast<uint8_t>((x * 200 / w + y * 50 / h)));
            } else {
                v.push_back(static_cast<uint8_t>(x * 250 / w));
                v.push_back(static_cast<uint8_t>(y * 250 / h));
                v.push_back(static_cast<uint8_t>(128 + int(x * 60 / w) - int(y * 60 / h)));
            }
        }
    return v;
}

// 0 for images of different sizes (a failed decode among them).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i)
        se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / se);
}

struct Compressed {
    explicit Compressed(uint32_t gevMode = GevMode::Extended, uint32_t scps = 1500)
        : shared(std::make_shared<RecordingSocket::Shared>()), c(std::make_unique<RecordingSocket>(shared))
    {
        EXPECT_TRUE(c.protocol->Start(gevMode));
        c.Open(rx.Port(), scps);
        packetBytes = scps - 28;
    }
    ~Compressed() { c.protocol->Stop(); }

    StreamProtocol& P() { return *c.protocol; }

    // Geometry, chunk size and mode between two acquisitions; the mode's result.
    bool Setup(const FrameGeometry& g, uint16_t mode, uint32_t chunkSize = 0)
    {
        c.Reg(0xA050)->SetValue(0);
        P().SetGeometry(g);
        EXPECT_TRUE(P().SetChunkSize(chunkSize));
        const bool set = P().SetCompressionMode(mode);
        c.Reg(0xA04C)->SetValue(0);
        return set;
    }

    // One frame through BeginFrame and the send entry.
    bool Send(const std::vector<uint8_t>& frame, uint64_t chunkBytes = 0)
    {
        return P().WaitReady() && P().SendImage(frame.data(), chunkBytes, 0, 0);
    }

    // The packets until `blocks` trailers arrived (5 s at most).
    std::vector<std::vector<uint8_t>> Wait(size_t blocks)
    {
        std::unique_lock lk(shared->mutex);
        shared->cv.wait_for(lk, std::chrono::seconds(5), [&] {
            size_t trailers = 0;
            for (const auto& p : shared->packets)
                trailers += p.size() > 4 && (p[4] & 0x7F) == 2;
            return trailers >= blocks;
        });
        return shared->packets;
    }

    size_t Count()
    {
        std::lock_guard lk(shared->mutex);
        return shared->packets.size();
    }

    gvsp_test::Block Block(uint64_t id, size_t blocks)
    {
        gvsp_test::Reassembler r(packetBytes);
        for (const auto& p : Wait(blocks))
            EXPECT_TRUE(r.Add(p));
        return r.Blocks()[id];
    }

    std::shared_ptr<RecordingSocket::Shared> shared;
    Receiver rx;
    Channel c;
    uint32_t packetBytes;
};

std::vector<uint8_t> decodeJpeg(const std::vector<uint8_t>& data, uint32_t pfnc, int& w, int& h)
{
    tjhandle d = tjInitDecompress();
    int sub = 0, space = 0;
    std::vector<uint8_t> out;
    if (tjDecompressHeader3(d, data.data(), data.size(), &w, &h, &sub, &space) == 0) {
        const int format = pfnc == kMono8 ? TJPF_GRAY : TJPF_RGB;
        out.resize(size_t(w) * h * tjPixelSize[format]);
        if (tjDecompress2(d, data.data(), data.size(), out.data(), w, 0, h, format, 0) != 0)
            out.clear();
    }
    tjDestroy(d);
    return out;
}

TEST(StreamCompression, JpegBlocksDecodeToTheSource)
{
    runWithin([] {
        for (uint32_t pfnc : {kMono8, kRgb8}) {
            SCOPED_TRACE(pfnc);
            Compressed t;
            const uint32_t w = 96, h = 40;
            ASSERT_TRUE(t.Setup({w, h, pfnc, 0, 0}, Compression::Mode::Jpeg));
            t.P().SetCompressionParameters(90, 0);
            EXPECT_FALSE(t.P().SetCompressionMode(0)) << "refused while streaming";
            EXPECT_EQ(t.P().CompressionMode(), Compression::Mode::Jpeg);
            const uint64_t raw = uint64_t(w) * h * (pfnc == kMono8 ? 1 : 3);
            EXPECT_EQ(t.P().PayloadSize(), Compression::PayloadBytes(1, raw));
            EXPECT_EQ(t.P().FrameBytes(), raw);
            const std::vector<uint8_t> frame = gradient(pfnc, w, h);
            ASSERT_TRUE(t.Send(frame));
            EXPECT_EQ(t.P().LatchedPayloadSize(), Compression::PayloadBytes(1, raw));
            const gvsp_test::Block b = t.Block(1, 1);
            EXPECT_EQ(b.error, "");
            EXPECT_TRUE(b.Missing().empty());
            EXPECT_EQ(b.payloadType, 0x0006);
            EXPECT_EQ(b.pixelFormat, pfnc);
            EXPECT_EQ(b.tickFrequency, t.P().TickFrequency());
            EXPECT_EQ(b.dataSize, b.payload.size());
            EXPECT_EQ(b.dataSize % 16, 0u);
            EXPECT_LE(b.dataSize, t.P().PayloadSize());
            int dw = 0, dh = 0;
            const std::vector<uint8_t> decoded = decodeJpeg(b.payload, pfnc, dw, dh);
            ASSERT_EQ(decoded.size(), frame.size());
            EXPECT_EQ(dw, int(w));
            EXPECT_EQ(dh, int(h));
            EXPECT_GT(psnr(decoded, frame), 35.0);
        }
    });
}

// Formats the encoders do not take raise the mode's error before any pixel
// is read (the frame given is shorter than 3 bytes per pixel), and send nothing.
TEST(StreamCompression, UnsupportedFormatsSendNothing)
{
    runWithin([] {
        struct Case {
            uint16_t mode;
            const char* text;
        };
        for (const Case& k : {Case{1, "\nUnknown pixel format, needed for JPEG encoder."}, Case{2, "Not implemented"}}) {
            Compressed t;
            ASSERT_TRUE(t.Setup({16, 4, kMono16, 0, 0}, k.mode));
            const std::vector<uint8_t> frame(16 * 4 * 2, 9);
            ASSERT_TRUE(t.P().WaitReady());
            try {
                t.P().SendImage(frame.data(), 0, 0, 0);
                ADD_FAILURE() << "mode " << k.mode << " sent Mono16";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), k.text);
            }
            EXPECT_FALSE(t.P().FrameBegun());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(t.Count(), 0u);
        }
    });
}

// Noise at quality 100 does not fit the advertised payload size: the frame is
// dropped with a message and the next one goes out.
TEST(StreamCompression, OversizeFrameIsDropped)
{
    runWithin([] {
        Compressed t;
        ASSERT_TRUE(t.Setup({64, 32, kMono8, 0, 0}, 1));
        t.P().SetCompressionParameters(100, 0);
        std::mt19937 rng(3);
        std::vector<uint8_t> noise(64 * 32);
        for (auto& b : noise)
            b = static_cast<uint8_t>(rng());
        testing::internal::CaptureStderr();
        EXPECT_FALSE(t.Send(noise));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("exceeds the payload size 1856: not sent"), std::string::npos) << err;
        const std::vector<uint8_t> smooth = gradient(kMono8, 64, 32);
        EXPECT_TRUE(t.Send(smooth));
        // Block 1 is the second frame: the dropped one took no block id.
        const gvsp_test::Block b = t.Block(1, 1);
        EXPECT_EQ(b.payloadType, 0x0006);
        int dw = 0, dh = 0;
        EXPECT_GT(psnr(decodeJpeg(b.payload, kMono8, dw, dh), smooth), 35.0);
    });
}

// The chunk area of the frame buffer (behind the raw image) rides behind the
// encoded bytes and ends at the block's end.
TEST(StreamCompression, ChunksFollowTheEncodedBytes)
{
    runWithin([] {
        Compressed t;
        const uint32_t w = 64, h = 16;
        ASSERT_TRUE(t.Setup({w, h, kMono8, 0, 0}, 1, 24));
        EXPECT_EQ(t.P().PayloadSize(), Compression::PayloadBytes(1, w * h) + 24);
        EXPECT_EQ(t.P().FrameBytes(), w * h + 24u);
        std::vector<uint8_t> frame = gradient(kMono8, w, h);
        const std::vector<uint8_t> chunk = {'a', 'b', 'c', 'd', 0, 0, 0, 7, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0};
        frame.resize(w * h + 4, 0xEE);  // unused head of the chunk area
        frame.insert(frame.end(), chunk.begin(), chunk.end());
        ASSERT_TRUE(t.Send(frame, chunk.size()));
        const gvsp_test::Block b = t.Block(1, 1);
        ASSERT_GT(b.payload.size(), chunk.size());
        EXPECT_EQ(b.payload.size() % 16, chunk.size() % 16);
        EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), b.payload.end() - long(chunk.size())));
        const std::vector<uint8_t> jpeg(b.payload.begin(), b.payload.end() - long(chunk.size()));
        int dw = 0, dh = 0;
        const std::vector<uint8_t> decoded = decodeJpeg(jpeg, kMono8, dw, dh);
        ASSERT_EQ(decoded.size(), size_t(w) * h);
        EXPECT_GT(psnr(decoded, std::vector<uint8_t>(frame.begin(), frame.begin() + w * h)), 35.0);
        // More chunk bytes than the chunk size: refused; so are raw data payloads.
        EXPECT_FALSE(t.Send(frame, 25));
        const size_t before = t.Count();
        ASSERT_TRUE(t.P().WaitReady());
        EXPECT_FALSE(t.P().SendImageWithChunk(frame.data(), w * h, 0, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(t.Count(), before);
    });
}

TEST(StreamCompression, StandardModeSendsNoCompressedBlock)
{
    runWithin([] {
        Compressed t(GevMode::Standard);
        ASSERT_TRUE(t.Setup({16, 4, kMono8, 0, 0}, 1));
        EXPECT_FALSE(t.Send(gradient(kMono8, 16, 4)));
        EXPECT_EQ(t.Count(), 0u);
    });
}

// What the stand-in module writes for a frame (see pravmpg_stub.cpp),
// computed from the source frame, padded to 16.
std::vector<uint8_t> stubBytes(const std::vector<uint8_t>& frame, uint32_t pfnc, uint32_t w, uint32_t h,
                               uint8_t quality, uint8_t profile, uint32_t bitrate, uint32_t index)
{
    std::vector<uint8_t> v = {0, 0, 0, 1, static_cast<uint8_t>(index == 0 ? 0x65 : 0x41),
                              static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w), static_cast<uint8_t>(h >> 8),
                              static_cast<uint8_t>(h), quality, profile};
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(static_cast<uint8_t>(bitrate >> s));
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(static_cast<uint8_t>(index >> s));
    v.push_back(0);
    v.push_back(0);
    const size_t pixels = size_t(w) * h;
    for (size_t i = 0; i < (pixels + 15) / 16; ++i)
        v.push_back(pfnc == kMono8 ? frame[16 * i] : frame[3 * 16 * i + 2]);  // b of every 16th pixel
    v.resize((v.size() + 15) / 16 * 16, 0);
    return v;
}

TEST(StreamCompression, H264BlocksCarryTheModulesBytes)
{
    runWithin([] {
        Compressed t(GevMode::Extended, 576);  // 520 data bytes per H.264 payload packet
        const uint32_t w = 160, h = 64;
        ASSERT_TRUE(t.Setup({w, h, kMono8, 0, 0}, Compression::Mode::H264));
        t.P().SetCompressionParameters(9, 5000);
        EXPECT_EQ(t.P().PayloadSize(), Compression::PayloadBytes(2, w * h));
        const std::vector<uint8_t> mono = gradient(kMono8, w, h);
        ASSERT_TRUE(t.Send(mono));
        ASSERT_TRUE(t.Send(mono));
        t.P().SetCompressionParameters(3, 7000);  // taken by the running encoder
        ASSERT_TRUE(t.Send(mono));
        // A new geometry initialises the encoder again.
        t.P().SetGeometry({w, h, kRgb8, 0, 0});
        const std::vector<uint8_t> rgb = gradient(kRgb8, w, h);
        ASSERT_TRUE(t.Send(rgb));

        struct Expect {
            uint64_t id;
            std::vector<uint8_t> bytes;
        };
        const Expect expects[] = {{1, stubBytes(mono, kMono8, w, h, 6, 9, 5000, 0)},
                                  {2, stubBytes(mono, kMono8, w, h, 6, 9, 5000, 1)},
                                  {3, stubBytes(mono, kMono8, w, h, 6, 3, 7000, 2)},
                                  {4, stubBytes(rgb, kRgb8, w, h, 3, 3, 7000, 0)}};
        gvsp_test::Reassembler r(t.packetBytes);
        const auto packets = t.Wait(4);
        for (const auto& p : packets)
            EXPECT_TRUE(r.Add(p));
        for (const Expect& e : expects) {
            SCOPED_TRACE(e.id);
            const gvsp_test::Block& b = r.Blocks()[e.id];
            EXPECT_EQ(b.error, "");
            EXPECT_EQ(b.payloadType, 0x0008);
            EXPECT_EQ(b.dataSize, e.bytes.size());
            EXPECT_EQ(b.payload, e.bytes);
            EXPECT_GT(b.packetIds.size(), 3u);  // leader, several payload packets, trailer
        }
        // Payload packets are of the H.264 format and carry the block's timestamp.
        size_t payloadPackets = 0;
        for (const auto& p : packets)
            if (p[4] == 0x85) {
                ++payloadPackets;
                EXPECT_LE(p.size(), t.packetBytes);
            }
        EXPECT_EQ(payloadPackets, packets.size() - 8);

        if (std::system("command -v tshark >/dev/null 2>&1") != 0)
            return;  // the dissector check needs tshark
        EXPECT_EQ(gvsp_test::GvspDissectionFault(packets, 50012), "");
    });
}

// ---- The camera's slots, with the module ----------------------------------

using camera_test::CameraTest;

TEST_F(CameraTest, H264ModeRoundsWidthsAndSizesThePayload)
{
    ASSERT_EQ(camera->AddPixelFormat("Mono8"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono8", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(1000, 10, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 10000u);
    ASSERT_EQ(camera->SetCompressionMode(2, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 8000u);
    EXPECT_EQ(reg(0x10018), 8000u) << "PayloadSize register";
    ASSERT_EQ(camera->SetImageSize(1000, 10, 0), 0u);
    EXPECT_EQ(camera->GetWidth(0), 1008u);
    EXPECT_EQ(reg(0x10004), 1008u) << "Width register";
    EXPECT_EQ(camera->GetPayloadSize(0), Compression::PayloadBytes(2, 10080));
    ASSERT_EQ(camera->SetCompressionMode(1, 0), 0u);
    ASSERT_EQ(camera->SetImageSize(1000, 10, 0), 0u);
    EXPECT_EQ(camera->GetWidth(0), 1000u);
    EXPECT_EQ(camera->GetPayloadSize(0), 9008u);
    EXPECT_EQ(camera->SetCompressionMode(3, 0), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetCompressionMode(1, 1), GevResult::InvalidArgument);
    EXPECT_EQ(camera->SetCompressionParameters(50, 1, 1), GevResult::InvalidArgument);
    ASSERT_EQ(camera->SetCompressionMode(0, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 10000u);
}

}  // namespace
