// The camera's frame operations over its stream channels: channel count,
// chunk placement and sizes, parts, payload size from the selected geometry,
// BeginFrame and Stop, and one block end to end on loopback.
#include "camera_fixture.h"
#include "stream/gvsp_reassembler.h"
#include "stream/stream_fixture.h"
#include "../model/watchdog.h"

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

namespace camera_test {
namespace {

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

PartDescriptor part(uint8_t key1, uint16_t w, uint16_t h, const char* format)
{
    PartDescriptor d;
    d.key1 = key1;
    d.width = w;
    d.height = h;
    d.dataType = 1;
    d.pixelFormatName = format;
    return d;
}

// Starts the camera on 127.0.0.5 and an acquisition on channel 0 toward
// 127.0.0.1:port with 1500-byte packets.
void startAcquisition(Kivu::Camera& camera, uint16_t port)
{
    ASSERT_EQ(camera.Start("127.0.0.5"), 0u);
    ASSERT_EQ(camera.WriteRegister(0x0D04, htonl(1500)), 0u);
    ASSERT_EQ(camera.WriteRegister(0x0D18, htonl(stream_test::kLoopback)), 0u);
    ASSERT_EQ(camera.WriteRegister(0x0D00, htonl(port)), 0u);
    uint32_t start = 0;
    ASSERT_EQ(camera.GetFeatureAddress("AcquisitionStart", &start), 0u);
    ASSERT_EQ(camera.WriteRegister(start, htonl(1)), 0u);
}

// A Mono8 image of width x height in GEV mode 1.
void extendedMono8(Kivu::Camera& camera, uint32_t width, uint32_t height)
{
    ASSERT_EQ(camera.AddPixelFormat("Mono8"), 0u);
    ASSERT_EQ(camera.SetPixelFormat("Mono8", 0), 0u);
    ASSERT_EQ(camera.SetImageSize(width, height, 0), 0u);
    ASSERT_EQ(camera.SetGevMode(1), 0u);
}

TEST_F(CameraTest, ChannelCountIsClampedAndRefusedOutsideItsRange)
{
    uint32_t count = 0;
    ASSERT_EQ(camera->GetStreamChannelCount(&count), 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(reg(0x0904), 1u);
    ASSERT_EQ(camera->SetStreamChannelCount(5), 0u);
    camera->GetStreamChannelCount(&count);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(reg(0x0904), 2u);
    EXPECT_EQ(camera->SetStreamChannelCount(0), GevResult::InvalidArgument);
    camera->GetStreamChannelCount(&count);
    EXPECT_EQ(count, 2u);
    // Both channels take chunks; a third does not exist.
    ASSERT_EQ(camera->SetChunkPayloadSize(4, 1, 1), 0u);
    std::vector<uint8_t> frame(camera->GetPayloadSize(1));  // sized for the payload, as callers must
    EXPECT_EQ(camera->AddChunkData(frame.data(), "abcd", 4, 7, 1), 0u);
    EXPECT_EQ(camera->AddChunkData(frame.data(), "abcd", 4, 7, 2), GevResult::InvalidArgument);
}

TEST_F(CameraTest, ChunkSizesAndPlacementWithoutParts)
{
    uint32_t size = 1;
    ASSERT_EQ(camera->SetChunkPayloadSize(0, 5, 0), 0u);
    ASSERT_EQ(camera->GetChunkPayloadSize(&size, 0), 0u);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(camera->SetChunkPayloadSize(100, 2, 0), 0u);
    camera->GetChunkPayloadSize(&size, 0);
    EXPECT_EQ(size, 124u);
    EXPECT_EQ(camera->GetChunkPayloadSize(nullptr, 0), GevResult::InvalidArgument);

    // A Mono8 4 x 2 image and 32 chunk bytes: S = 40, refreshed in PayloadSize.
    ASSERT_EQ(camera->AddPixelFormat("Mono8"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono8", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(4, 2, 0), 0u);
    ASSERT_EQ(camera->SetChunkPayloadSize(8, 2, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 40u);
    EXPECT_EQ(reg(0x10018), 40u);

    std::vector<uint8_t> frame(40, 0xEE);
    ASSERT_EQ(camera->AddChunkData(frame.data(), "AAAA", 4, 0xA, 0), 0u);
    ASSERT_EQ(camera->AddChunkData(frame.data(), "BBBB", 4, 0xB, 0), 0u);
    EXPECT_EQ(std::memcmp(&frame[40 - 12], "AAAA", 4), 0);
    EXPECT_EQ(be32(&frame[40 - 8]), 0xAu);
    EXPECT_EQ(be32(&frame[40 - 4]), 4u);
    EXPECT_EQ(std::memcmp(&frame[40 - 24], "BBBB", 4), 0);
    EXPECT_EQ(be32(&frame[40 - 20]), 0xBu);
    // A chunk past the declared chunk bytes is refused and writes nothing.
    const std::vector<uint8_t> before = frame;
    EXPECT_EQ(camera->AddChunkData(frame.data(), "0123456789", 10, 0xC, 0), GevResult::InvalidArgument);
    EXPECT_EQ(frame, before);
    EXPECT_EQ(camera->AddChunkData(nullptr, "AAAA", 4, 0xA, 0), GevResult::InvalidArgument);
}

TEST_F(CameraTest, RegionSettingsAndPartsGiveThePayloadSize)
{
    int changes = 0;
    ASSERT_EQ(camera->SetChannelChangeCallback(&changes, 0, [](void* c) { ++*static_cast<int*>(c); }), 0u);
    ASSERT_EQ(camera->SetRegionWidth(10, 0, 0, 0), 0u);
    ASSERT_EQ(camera->SetRegionHeight(3, 0, 0, 0), 0u);
    ASSERT_EQ(camera->SetRegionPixelFormat("Mono16", 0, 0, 0), 0u);
    EXPECT_EQ(camera->ApplyRegionSettings(0), 1u);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(camera->GetPayloadSize(0), 60u);
    EXPECT_EQ(reg(0x10018), 60u);

    // Parts in the order first named: 2 x 3 Mono16 then 4 x 1 Coord3D_ABC32f.
    ASSERT_EQ(camera->UpdateImagePart(part(1, 2, 3, "Mono16")), 0u);
    ASSERT_EQ(camera->UpdateImagePart(part(2, 4, 1, "Coord3D_ABC32f")), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 12u + 48u);
    ASSERT_EQ(camera->UpdateImagePart(part(1, 2, 2, "Mono16")), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 8u + 48u);
    EXPECT_EQ(changes, 4);
    ImagePartBuffer data(new uint8_t[8]());
    EXPECT_EQ(camera->SetImagePartData(data, 8, part(9, 2, 2, "Mono16")), GevResult::Fail);
    EXPECT_EQ(camera->SetImagePartData(data, 8, part(1, 2, 2, "Mono16")), 0u);
    EXPECT_EQ(camera->RemoveImagePart(part(9, 1, 1, "Mono16")), GevResult::Fail);
    ASSERT_EQ(camera->RemoveImagePart(part(1, 1, 1, "Mono16")), 0u);
    EXPECT_EQ(reg(0x10018), 48u);
}

// A client's writes of the image registers resize the stream and tell the
// host; reads show the current selection's value; during an acquisition the
// client cannot resize.
TEST_F(CameraTest, ClientImageWritesResizeTheStream)
{
    Kivu::RegTree& tree = *camera->Tree();
    auto remoteWrite = [&](uint32_t address, uint32_t value) {
        return tree.WriteRegister(address, htonl(value), Kivu::Origin::Remote);
    };
    auto remoteRead = [&](uint32_t address) {
        uint32_t status = 0;
        const uint32_t v = ntohl(tree.ReadRegister(address, &status, Kivu::Origin::Remote));
        EXPECT_EQ(status, 0u);
        return v;
    };
    int changes = 0;
    ASSERT_EQ(camera->SetChannelChangeCallback(&changes, 0, [](void* c) { ++*static_cast<int*>(c); }), 0u);
    ASSERT_EQ(camera->AddPixelFormat("Mono16"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono16", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(10, 4, 0), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 80u);
    EXPECT_EQ(changes, 0);  // the host's own settings

    ASSERT_EQ(remoteWrite(0x10004, 20), 0u);
    EXPECT_EQ(camera->GetWidth(0), 20u);
    EXPECT_EQ(remoteRead(0x10018), 160u);
    ASSERT_EQ(remoteWrite(0x10008, 5), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 200u);
    ASSERT_EQ(remoteWrite(0x10014, 0x01080001), 0u);  // Mono8
    EXPECT_EQ(camera->GetPayloadSize(0), 100u);
    EXPECT_EQ(changes, 3);

    // Region mode 2 streams region 1; the client reaches its width by selecting it.
    ASSERT_EQ(camera->SetRegionMode(2, 0), 0u);
    ASSERT_EQ(camera->SetRegionWidth(30, 0, 1, 0), 0u);
    ASSERT_EQ(camera->SetRegionHeight(5, 0, 1, 0), 0u);
    camera->ApplyRegionSettings(0);
    EXPECT_EQ(remoteRead(0x10004), 20u) << "region 0 selected";
    ASSERT_EQ(remoteWrite(0x10000, 1), 0u);
    EXPECT_EQ(remoteRead(0x10004), 30u);
    ASSERT_EQ(remoteWrite(0x10004, 40), 0u);
    EXPECT_EQ(camera->GetWidth(0), 40u);
    EXPECT_EQ(remoteRead(0x10004), 40u);
    EXPECT_EQ(camera->GetPayloadSize(0), 40u * 5u) << "the client's Mono8 holds for every region";
    ASSERT_EQ(camera->SetRegionMode(0, 0), 0u);
    ASSERT_EQ(remoteWrite(0x10000, 0), 0u);
    EXPECT_EQ(remoteRead(0x10004), 20u);

    // During an acquisition the client's resize is refused and nothing changes.
    stream_test::Receiver rx;
    ASSERT_NO_FATAL_FAILURE(startAcquisition(*camera, rx.Port()));
    uint32_t stop = 0;
    ASSERT_EQ(camera->GetFeatureAddress("AcquisitionStop", &stop), 0u);
    ASSERT_TRUE(camera->Streams().Channel(0).IsStreaming());
    const uint32_t payload = camera->GetPayloadSize(0);
    EXPECT_EQ(remoteWrite(0x10004, 64), Kivu::GevStatus::InvalidParameter);
    EXPECT_EQ(remoteRead(0x10004), 20u);
    EXPECT_EQ(camera->GetPayloadSize(0), payload);
    ASSERT_EQ(camera->WriteRegister(stop, htonl(1)), 0u);
    EXPECT_EQ(remoteWrite(0x10004, 64), 0u);
    EXPECT_EQ(camera->GetPayloadSize(0), 64u * 5u);
    ASSERT_EQ(camera->Stop(), 0u);
}

// The geometry a frame is built with holds from BeginFrame to its send: the
// getters answer it and the region setters are refused. Before the first
// BeginFrame and between frames of an acquisition the getters answer the maps
// and the setters change the next frame.
TEST_F(CameraTest, GeometryIsLatchedWhileAFrameIsBegun)
{
    stream_test::Receiver rx;
    ASSERT_EQ(camera->AddPixelFormat("Mono16"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono16", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(10, 4, 0), 0u);
    std::vector<uint8_t> frame(64 * 4 * 2);
    struct Step {
        const char* what;
        std::function<void()> run;
        uint32_t setWidth;  // SetRegionWidth's value after the step
        uint32_t setStatus, width, height, payload;
    };
    const Step steps[] = {
        {"acquisition started, no frame begun", [&] { startAcquisition(*camera, rx.Port()); }, 12, 0, 12, 4, 96},
        {"frame begun: the latched geometry", [&] { ASSERT_EQ(camera->BeginFrame(0), 0u); }, 14, GevResult::Fail,
         12, 4, 96},
        {"frame sent", [&] { ASSERT_EQ(camera->SendImage(frame.data(), 0, 0), 0u); }, 16, 0, 16, 4, 128},
        {"next frame begun with the new width", [&] { ASSERT_EQ(camera->BeginFrame(0), 0u); }, 18,
         GevResult::Fail, 16, 4, 128},
    };
    testing_support::runWithin([&] {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            ASSERT_NO_FATAL_FAILURE(step.run());
            EXPECT_EQ(camera->SetRegionWidth(step.setWidth, 0, 0, 0), step.setStatus);
            camera->ApplyRegionSettings(0);
            EXPECT_EQ(camera->GetWidth(0), step.width);
            EXPECT_EQ(camera->GetHeight(0), step.height);
            EXPECT_EQ(camera->GetPixelFormat(0), 0x01100007u);
            EXPECT_EQ(camera->GetPayloadSize(0), step.payload);
        }
        ASSERT_EQ(camera->SendImage(frame.data(), 0, 0), 0u);
        gvsp_test::Reassembler r(1500 - 28);
        for (const auto& packet : rx.Receive(6))
            ASSERT_TRUE(r.Add({packet.data(), packet.size()}));
        ASSERT_EQ(r.Blocks().size(), 2u);
        EXPECT_EQ(r.Blocks()[1].sizeX, 12u);
        EXPECT_EQ(r.Blocks()[2].sizeX, 16u);
        ASSERT_EQ(camera->Stop(), 0u);
    });
}

// The senders build image blocks only: with another payload type every send
// entry refuses the frame (and ends it), and nothing goes out.
TEST_F(CameraTest, SendersRefuseOtherPayloadTypes)
{
    stream_test::Receiver rx;
    ASSERT_NO_FATAL_FAILURE(extendedMono8(*camera, 8, 2));
    std::vector<uint8_t> frame(16, 0x5A);
    struct Case {
        uint16_t type;
        uint32_t status;
    };
    const Case cases[] = {{2, GevResult::Fail}, {0, GevResult::Fail}, {0x4001, GevResult::Fail}, {1, 0}};
    testing_support::runWithin([&] {
        ASSERT_NO_FATAL_FAILURE(startAcquisition(*camera, rx.Port()));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.type);
            ASSERT_EQ(camera->SetPayloadType(c.type, 0), 0u);
            ASSERT_EQ(camera->BeginFrame(0), 0u);
            EXPECT_EQ(camera->SendImage(frame.data(), 0, 0), c.status);
            EXPECT_EQ(camera->SetRegionWidth(8, 0, 0, 0), 0u) << "the frame ended";
            ASSERT_EQ(camera->BeginFrame(0), 0u);
            EXPECT_EQ(camera->SendData(frame.data(), frame.size(), 0), c.status);
            EXPECT_EQ(camera->SetRegionWidth(8, 0, 0, 0), 0u) << "the frame ended";
        }
        // Only the two blocks of type 1: three packets each.
        gvsp_test::Reassembler r(1500 - 28);
        for (const auto& packet : rx.Receive(7))
            ASSERT_TRUE(r.Add({packet.data(), packet.size()}));
        ASSERT_EQ(r.Blocks().size(), 2u);
        EXPECT_EQ(r.Blocks().begin()->first, 1u) << "refused frames used no block id";
        ASSERT_EQ(camera->Stop(), 0u);
    });
}

// Writes a command feature (AcquisitionStart, AcquisitionStop) as a client's
// execute does.
void execute(Kivu::Camera& camera, const char* command)
{
    uint32_t address = 0;
    ASSERT_EQ(camera.GetFeatureAddress(command, &address), 0u);
    ASSERT_EQ(camera.WriteRegister(address, htonl(1)), 0u);
}

// Two sources on two channels: SourceStreamChannel keeps a channel per
// selected source, acquisition start and stop reach the channel of the
// selected source, and the timestamp control is served only for a source a
// channel serves.
TEST_F(CameraTest, SourcesStreamOnTheirAssignedChannels)
{
    auto local = [&](uint32_t address, uint32_t value) { return camera->WriteRegister(address, htonl(value)); };
    auto channelOf = [&](uint32_t source) {
        EXPECT_EQ(local(0x10024, source), 0u);
        int64_t v = -1;
        EXPECT_EQ(camera->GetIntegerValue("SourceStreamChannel", &v), 0u);
        return v;
    };
    ASSERT_EQ(camera->SetStreamChannelCount(2), 0u);
    ASSERT_EQ(camera->SetSourceCount(2), 0u);
    EXPECT_EQ(reg(0x10020), 1u) << "IsMultistreaming";
    EXPECT_EQ(channelOf(0), 0);
    EXPECT_EQ(channelOf(1), 1);
    // Source 1 on channel 0 and source 0 on channel 1.
    ASSERT_EQ(local(0x10024, 1), 0u);
    ASSERT_EQ(camera->SetIntegerValue("SourceStreamChannel", 0), 0u);
    ASSERT_EQ(local(0x10024, 0), 0u);
    ASSERT_EQ(camera->SetIntegerValue("SourceStreamChannel", 1), 0u);
    EXPECT_EQ(local(0x1002C, 2), GevResult::Fail) << "no channel 2";
    EXPECT_EQ(channelOf(1), 0);
    EXPECT_EQ(channelOf(0), 1);

    stream_test::Receiver rx;
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    for (uint32_t base : {0x0D00u, 0x0D40u}) {
        ASSERT_EQ(local(base + 0x18, stream_test::kLoopback), 0u);
        ASSERT_EQ(local(base, rx.Port()), 0u);
    }
    Kivu::StreamProtocol& ch0 = camera->Streams().Channel(0);
    Kivu::StreamProtocol& ch1 = camera->Streams().Channel(1);
    ASSERT_EQ(local(0x10024, 1), 0u);
    ASSERT_NO_FATAL_FAILURE(execute(*camera, "AcquisitionStart"));
    EXPECT_TRUE(ch0.IsStreaming());
    EXPECT_FALSE(ch1.IsStreaming());
    EXPECT_EQ(ch0.GetSource(), 1u);
    EXPECT_EQ(camera->GetSourceIndex(0), 1u);
    EXPECT_EQ(camera->GetSourceIndex(1), 1u) << "channel 1 still serves its own index";

    EXPECT_EQ(local(0x0944, 2), 0u) << "source 1 is served by channel 0";
    ASSERT_EQ(local(0x10024, 0), 0u);
    EXPECT_EQ(local(0x0944, 2), GevResult::Fail) << "no channel serves source 0";
    ASSERT_NO_FATAL_FAILURE(execute(*camera, "AcquisitionStop"));
    EXPECT_TRUE(ch0.IsStreaming()) << "source 0 streams on channel 1";
    ASSERT_EQ(local(0x10024, 1), 0u);
    ASSERT_NO_FATAL_FAILURE(execute(*camera, "AcquisitionStop"));
    EXPECT_FALSE(ch0.IsStreaming());
    ASSERT_EQ(camera->Stop(), 0u);
}

// One channel and two sources: the channel's key base follows the source
// selected when its acquisition starts, and stays until the next start.
TEST_F(CameraTest, SourceIsTakenAtAcquisitionStart)
{
    ASSERT_EQ(camera->SetSourceCount(2), 0u);
    ASSERT_EQ(camera->SetRegionPixelFormat("Mono8", 0, 0, 0), 0u);
    for (uint32_t source : {0u, 1u}) {
        ASSERT_EQ(camera->SetRegionWidth(5 + 2 * source, source, 0, 0), 0u);
        ASSERT_EQ(camera->SetRegionHeight(1 + source, source, 0, 0), 0u);
    }
    ASSERT_EQ(camera->ApplyRegionSettings(0), 1u);
    stream_test::Receiver rx;
    ASSERT_NO_FATAL_FAILURE(startAcquisition(*camera, rx.Port()));  // source 0 selected
    struct Step {
        const char* what;
        uint32_t select;  // SourceSelector before the command
        const char* command;
        uint32_t sourceIndex, width, height;
    };
    const Step steps[] = {
        {"started with source 0", 0, nullptr, 0, 5, 1},
        {"stopped", 1, "AcquisitionStop", 0, 5, 1},
        {"started with source 1", 1, "AcquisitionStart", 1, 7, 2},
        {"stopped, source 0 selected", 0, "AcquisitionStop", 1, 7, 2},
        {"started with source 0 again", 0, "AcquisitionStart", 0, 5, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_EQ(camera->WriteRegister(0x10024, htonl(step.select)), 0u);
        if (step.command != nullptr) {
            ASSERT_NO_FATAL_FAILURE(execute(*camera, step.command));
        }
        EXPECT_EQ(camera->GetSourceIndex(0), step.sourceIndex);
        EXPECT_EQ(camera->GetWidth(0), step.width);
        EXPECT_EQ(camera->GetHeight(0), step.height);
        EXPECT_EQ(camera->GetPayloadSize(0), step.width * step.height);
    }
    ASSERT_EQ(camera->Stop(), 0u);
}

TEST_F(CameraTest, BeginFrameEndsWhenTheCameraStops)
{
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    testing_support::runWithin([&] {
        auto begun = std::async(std::launch::async, [&] { return camera->BeginFrame(0); });
        EXPECT_EQ(begun.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        ASSERT_EQ(camera->Stop(), 0u);
        EXPECT_EQ(begun.get(), GevResult::Fail);
        EXPECT_EQ(camera->BeginFrame(5), GevResult::InvalidArgument);
    });
}

// The acquisition command starts the channel toward SCDA:SCP; one image with a
// chunk arrives whole, with the host's timestamp.
TEST_F(CameraTest, AcquisitionStartStreamsAFrameToTheClient)
{
    stream_test::Receiver rx;

    ASSERT_EQ(camera->AddPixelFormat("Mono16"), 0u);
    ASSERT_EQ(camera->SetPixelFormat("Mono16", 0), 0u);
    ASSERT_EQ(camera->SetImageSize(300, 7, 0), 0u);
    ASSERT_EQ(camera->SetChunkPayloadSize(4, 1, 0), 0u);
    ASSERT_EQ(camera->SetTimestampMode(3, 0), 0u);
    ASSERT_EQ(camera->SetGevMode(1), 0u);
    testing_support::runWithin([&] {
        ASSERT_NO_FATAL_FAILURE(startAcquisition(*camera, rx.Port()));

        ASSERT_EQ(camera->BeginFrame(0), 0u);
        const uint32_t imageBytes = 300 * 7 * 2;
        std::vector<uint8_t> frame(imageBytes + 4 + 16);
        for (size_t i = 0; i < imageBytes; ++i)
            frame[i] = static_cast<uint8_t>(i * 7);
        ASSERT_EQ(camera->AddChunkData(frame.data(), "WXYZ", 4, 0x55, 0), 0u);
        ASSERT_EQ(camera->AddChunkData(frame.data(), nullptr, imageBytes, 1, 0), 0u);
        ASSERT_EQ(camera->SetFrameTimestamp(0x123456789AULL), 0u);
        ASSERT_EQ(camera->SendImage(frame.data(), 0, 0), 0u);

        gvsp_test::Reassembler r(1500 - 28);
        for (const auto& packet : rx.Receive(100))
            ASSERT_TRUE(r.Add({packet.data(), packet.size()}));
        ASSERT_EQ(r.Blocks().size(), 1u);
        const gvsp_test::Block& b = r.Blocks().begin()->second;
        EXPECT_TRUE(b.extended);
        EXPECT_EQ(b.blockId, 1u);
        EXPECT_TRUE(b.Missing().empty());
        EXPECT_EQ(b.payloadType, 0x4001);
        EXPECT_EQ(b.timestamp, 0x123456789AULL);
        EXPECT_EQ(b.pixelFormat, 0x01100007u);
        EXPECT_EQ(b.sizeX, 300u);
        EXPECT_EQ(b.sizeY, 7u);
        ASSERT_EQ(b.payload.size(), frame.size());
        EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + imageBytes, b.payload.begin()));
        const auto chunks = b.Chunks();
        ASSERT_TRUE(chunks.has_value());
        ASSERT_EQ(chunks->size(), 2u);
        EXPECT_EQ((*chunks)[0].id, 0x55u);
        EXPECT_EQ(std::string((*chunks)[0].data.begin(), (*chunks)[0].data.end()), "WXYZ");
        EXPECT_EQ((*chunks)[1].id, 1u);
        ASSERT_EQ(camera->Stop(), 0u);
    });
}

// Slot 94's shuffle flag reaches the stream channel: each block is held until
// the next one is sent, and arrives whole.
TEST_F(CameraTest, ShuffleHoldsEachBlockUntilTheNext)
{
    stream_test::Receiver rx;
    ASSERT_NO_FATAL_FAILURE(extendedMono8(*camera, 1452, 30));
    SimulationParameters sim;
    sim.shufflePackets = 1;
    ASSERT_EQ(camera->SetSimulationParameters(&sim), 0u);
    testing_support::runWithin([&] {
        ASSERT_NO_FATAL_FAILURE(startAcquisition(*camera, rx.Port()));

        std::vector<uint8_t> frame(1452 * 30);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint8_t>(i * 13);
        ASSERT_EQ(camera->BeginFrame(0), 0u);
        ASSERT_EQ(camera->SendImage(frame.data(), 0, 0), 0u);
        EXPECT_TRUE(rx.Receive(1).empty());  // held
        // Blocks 1 and 2 go out when 2 and 3 are sent; packets may cross between them.
        gvsp_test::Reassembler r(1500 - 28);
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(camera->BeginFrame(0), 0u);
            ASSERT_EQ(camera->SendImage(frame.data(), 0, 0), 0u);
            const auto packets = rx.Receive(32);  // one block's worth of packets
            ASSERT_EQ(packets.size(), 32u);
            for (const auto& packet : packets)
                ASSERT_TRUE(r.Add({packet.data(), packet.size()}));
        }
        const gvsp_test::Block& b = r.Blocks()[1];
        EXPECT_TRUE(b.leader && b.trailer);
        EXPECT_TRUE(b.Missing().empty());
        EXPECT_EQ(b.payload, frame);
        ASSERT_EQ(camera->Stop(), 0u);
    });
}

}  // namespace
}  // namespace camera_test
