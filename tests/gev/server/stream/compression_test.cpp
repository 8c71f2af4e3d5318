// Compression without a stream: payload sizes and stored widths per mode, the
// encoder input conversion, the formats each encoder takes, the module's entry
// points, loading the module, and H.264 refused where the module is absent.
#include "server/stream/compression.h"
#include "server/stream/frame_compressor.h"
#include "server/stream/h264_module.h"
#include "stream_fixture.h"
#include "../camera_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace Kivu;
using namespace Kivu::Compression;

TEST(Compression, PayloadBytesPerMode)
{
    struct Case {
        uint16_t mode;
        uint64_t raw;
        uint64_t bytes;
    };
    const Case cases[] = {
        {Mode::None, 1001, 1001},        // no rounding without compression
        {Mode::Jpeg, 307200, 276480},    // 640 x 480 Mono8: x 0.9, already a multiple of 16
        {Mode::H264, 307200, 245760},    // x 0.8
        {Mode::Jpeg, 160, 144},          // exact products are not rounded further
        {Mode::Jpeg, 161, 160},          // 144.9 -> 160
        {Mode::H264, 21, 32},            // 16.8 -> 32
        {Mode::H264, 20, 16},
        {Mode::Jpeg, 0, 0},
        {Mode::Jpeg, 1, 16},
        {Mode::H264, 921600, 737280},    // 640 x 480 RGB8
        {Mode::Jpeg, 1ull << 40, 989560465008},  // no overflow on large sizes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.raw));
        EXPECT_EQ(PayloadBytes(c.mode, c.raw), c.bytes);
    }
    try {
        PayloadBytes(3, 100);
        ADD_FAILURE() << "mode 3 accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "\n Unknown payload type!");
    }
}

TEST(Compression, WidthIsRoundedUpTo16InH264ModeOnly)
{
    struct Case {
        uint16_t mode;
        uint32_t width, stored;
    };
    const Case cases[] = {
        {Mode::H264, 1000, 1008}, {Mode::H264, 1008, 1008}, {Mode::H264, 1, 16},
        {Mode::H264, 0, 0},       {Mode::H264, 0xFFFFFFFF, 0xFFFFFFF0},
        {Mode::Jpeg, 1000, 1000}, {Mode::None, 1001, 1001},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StoredWidth(c.mode, c.width), c.stored) << c.mode << " " << c.width;
}

TEST(Compression, EncoderFormats)
{
    struct Case {
        uint32_t pfnc;
        JpegInput jpeg;
        uint64_t bytes2x3;  // SourceBytes of 2 x 3 pixels
    };
    const Case cases[] = {
        {kMono8, JpegInput::Grey, 6},
        {kRgb8, JpegInput::Rgb, 18},
        {0x02180015, JpegInput::Unsupported, 0},  // BGR8
        {0x01100007, JpegInput::Unsupported, 0},  // Mono16
        {0x010C0004, JpegInput::Unsupported, 0},  // Mono10Packed
        {0, JpegInput::Unsupported, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JpegInputOf(c.pfnc), c.jpeg) << std::hex << c.pfnc;
        EXPECT_EQ(SourceBytes(c.pfnc, 2, 3), c.bytes2x3) << std::hex << c.pfnc;
    }
}

// The conversion reads exactly the frame of a supported format, and nothing of another.
TEST(Compression, BgrxConversion)
{
    struct Case {
        const char* name;
        uint32_t pfnc;
        uint32_t w, h;
        std::vector<uint8_t> frame;
        bool ok;
        std::vector<uint8_t> out;
    };
    const Case cases[] = {
        {"mono", kMono8, 2, 1, {10, 200}, true, {10, 10, 10, 0, 200, 200, 200, 0}},
        {"rgb", kRgb8, 1, 2, {1, 2, 3, 4, 5, 6}, true, {3, 2, 1, 0, 6, 5, 4, 0}},
        {"rgb short", kRgb8, 1, 2, {1, 2, 3, 4, 5}, false, {}},
        {"mono short", kMono8, 2, 2, {1, 2, 3}, false, {}},
        {"mono16", 0x01100007, 1, 1, {1, 2}, false, {}},
        {"bgr8", 0x02180015, 1, 1, {1, 2, 3}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out(size_t(c.w) * c.h * 4 + 4, 0xEE);
        EXPECT_EQ(ToBgrx(c.pfnc, c.w, c.h, c.frame.data(), c.frame.size(), out.data()), c.ok);
        std::vector<uint8_t> expected = c.ok ? c.out : std::vector<uint8_t>(size_t(c.w) * c.h * 4, 0xEE);
        expected.insert(expected.end(), 4, 0xEE);  // nothing past the output
        EXPECT_EQ(out, expected);
    }
    uint8_t out[4];
    EXPECT_FALSE(ToBgrx(kMono8, 1, 1, nullptr, 1, out));
}

int fakeSymbols[Kivu::Compression::EntryPointCount];

TEST(Compression, EntryPointsAreBoundByName)
{
    const char* names[] = {"IntelCreateEncoder", "IntelCloseEncoder", "IntelInitEncoder", "IntelDeinitEncoder",
                           "IntelEncode", "IntelSetBitrate", "IntelSetQualityProfile"};
    std::map<std::string, void*> table;
    for (int i = 0; i < EntryPointCount; ++i)
        table[names[i]] = &fakeSymbols[i];
    auto lookup = [&](const char* n) -> void* {
        const auto it = table.find(n);
        return it == table.end() ? nullptr : it->second;
    };
    H264EntryPoints api;
    ASSERT_TRUE(ResolveEntryPoints(lookup, api));
    const void* bound[] = {reinterpret_cast<void*>(api.create),     reinterpret_cast<void*>(api.close),
                           reinterpret_cast<void*>(api.init),       reinterpret_cast<void*>(api.deinit),
                           reinterpret_cast<void*>(api.encode),     reinterpret_cast<void*>(api.setBitrate),
                           reinterpret_cast<void*>(api.setQualityProfile)};
    for (int i = 0; i < EntryPointCount; ++i)
        EXPECT_EQ(bound[i], &fakeSymbols[i]) << names[i];

    // Any one missing: nothing bound.
    for (int i = 0; i < EntryPointCount; ++i) {
        SCOPED_TRACE(names[i]);
        void* saved = table[names[i]];
        table.erase(names[i]);
        H264EntryPoints none;
        EXPECT_FALSE(ResolveEntryPoints(lookup, none));
        EXPECT_EQ(none.create, nullptr);
        table[names[i]] = saved;
    }
}

TEST(Compression, ModuleLoading)
{
    EXPECT_EQ(H264Module::Load("/nonexistent/libpravmpg.so"), nullptr);
    // A library without the entry points is not a module.
    EXPECT_EQ(H264Module::Load("libturbojpeg.so.0"), nullptr);
    const auto module = H264Module::Load(LB_PRAVMPG_STUB);
    ASSERT_NE(module, nullptr);
    H264Encoder encoder(module);
    EXPECT_FALSE(encoder.SetBitrate(1));  // not initialised yet
    ASSERT_TRUE(encoder.Init(16, 1, 6, 1000));
    const std::vector<uint8_t> bgrx(16 * 4, 7);
    std::vector<uint8_t> out(64);
    uint32_t size = 0;
    ASSERT_TRUE(encoder.Encode(bgrx.data(), out.data(), 64, size));
    EXPECT_EQ(size, 22u);
    EXPECT_FALSE(encoder.Encode(bgrx.data(), out.data(), 21, size));  // too small: the module refuses
}

// Without the module (the normal case here) H.264 is refused, once per
// request with the message, and the mode stays.
TEST(Compression, H264IsRefusedWithoutTheModule)
{
    if (H264Module::Load(kModuleFile) != nullptr)
        GTEST_SKIP() << kModuleFile << " is installed on this host";
    FrameCompressor c;
    EXPECT_FALSE(c.HasH264());
    ASSERT_TRUE(c.SetMode(Mode::Jpeg));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(c.SetMode(Mode::H264));
    EXPECT_FALSE(c.SetMode(Mode::H264));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, std::string(kModuleMissingLine) + kModuleMissingLine);
    EXPECT_EQ(c.Mode(), Mode::Jpeg);
    EXPECT_FALSE(c.SetMode(3));
    EXPECT_EQ(c.Mode(), Mode::Jpeg);
}

// The camera's slot: refused with the message on every request, the mode and
// payload size kept; a frame of a format JPEG does not take answers the failure
// status with the encoder's error.
using camera_test::CameraTest;

TEST_F(CameraTest, CompressionSlotsWithoutTheModule)
{
    if (H264Module::Load(kModuleFile) != nullptr)
        GTEST_SKIP() << kModuleFile << " is installed on this host";
    ASSERT_EQ(camera->AddPixelFormat("Mono16"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono16", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(16, 4, 0), 0u);
    ASSERT_EQ(camera->SetGevMode(1), 0u);
    ASSERT_EQ(camera->SetCompressionMode(1, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), PayloadBytes(Mode::Jpeg, 128));
    testing::internal::CaptureStderr();
    EXPECT_EQ(camera->SetCompressionMode(2, 0), GevResult::Fail);
    EXPECT_EQ(camera->SetCompressionMode(2, 0), GevResult::Fail);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kModuleMissingLine) + kModuleMissingLine);
    EXPECT_EQ(camera->GetPayloadSize(0), PayloadBytes(Mode::Jpeg, 128)) << "JPEG mode kept";

    stream_test::Receiver rx;
    ASSERT_EQ(camera->Start("127.0.7.5"), 0u);
    ASSERT_EQ(camera->WriteRegister(0x0D18, htonl(stream_test::kLoopback)), 0u);
    ASSERT_EQ(camera->WriteRegister(0x0D00, htonl(rx.Port())), 0u);
    uint32_t start = 0;
    ASSERT_EQ(camera->GetFeatureAddress("AcquisitionStart", &start), 0u);
    ASSERT_EQ(camera->WriteRegister(start, htonl(1)), 0u);
    EXPECT_EQ(camera->SetCompressionMode(0, 0), GevResult::Running) << "the client sized its buffers";
    std::vector<uint8_t> frame(128, 1);
    ASSERT_EQ(camera->BeginFrame(0), 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(camera->SendImage(frame.data(), 0, 0), GevResult::Fail);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: SendImage: \nUnknown pixel format, needed for JPEG encoder.\n");
    EXPECT_TRUE(rx.Receive(1).empty());
    EXPECT_EQ(camera->Stop(), 0u);
}

}  // namespace
