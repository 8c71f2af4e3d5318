// The image thread over a scripted ring and the fake camera: blocks, time-outs, counter gaps,
// stops and runs.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bridge_fixture.h"
#include "platform/bytes.h"

namespace lumabridge::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kIntensity = 0;
constexpr size_t kRange = 1;
constexpr uint32_t kCounterChunk = 0xFFFFF0;
constexpr uint32_t kTimestampChunk = 0xFFFFF1;
constexpr uint32_t kEncoderChunk = 0xFFFFF4;

// One profile of 4 points; its values follow from its picture counter unless set.
struct Profile {
    Profile(uint16_t c, std::optional<uint32_t> t = std::nullopt) : counter(c), timestamp(t) {}

    uint16_t counter;
    std::optional<uint32_t> timestamp;

    uint32_t Timestamp() const { return timestamp.value_or(1000u * counter); }
    uint32_t Encoder() const { return 10u * counter; }
    std::vector<double> X() const { return {-3, -1, 1, 3}; }
    std::vector<double> Z() const { return {100.0 + counter % 50, 101, 102, 103}; }
    std::vector<int32_t> Intensity() const
    {
        const int32_t base = (counter % 200) * 4 + 1;
        return {base, base + 1, base + 2, base + 3};
    }
};

Bytes mono10Line(const Profile& p)
{
    Bytes line;
    for (int32_t v : p.Intensity()) {
        line.push_back(static_cast<uint8_t>(v));
        line.push_back(static_cast<uint8_t>(v >> 8));
    }
    return line;
}

PartDescriptor part(size_t component, const char* format, uint16_t width, uint16_t height)
{
    PartDescriptor d;
    d.componentIndex = static_cast<uint8_t>(component);
    d.key1 = static_cast<uint8_t>(component);
    d.width = width;
    d.height = height;
    d.dataType = format == std::string("Coord3D_ABC32f") ? 5 : 1;
    d.pixelFormatName = format;
    return d;
}

// A block the camera was given: its calls from BeginFrame to SendImage and their data.
struct SentBlock {
    std::vector<std::string> calls;
    std::vector<Bytes> parts;
    std::map<uint32_t, std::vector<uint32_t>> chunks;  // by id
    uint64_t timestamp = 0;

    // Line `line` of part `index` with lineBytes bytes per line.
    Bytes Line(size_t index, size_t line, size_t lineBytes) const
    {
        const Bytes& p = parts.at(index);
        return Bytes(p.begin() + static_cast<std::ptrdiff_t>(line * lineBytes),
                     p.begin() + static_cast<std::ptrdiff_t>((line + 1) * lineBytes));
    }
};

class ImageThread : public BridgeFixture {
protected:
    void SetUp() override
    {
        BridgeFixture::SetUp();
        camera->keepFrameData = true;
        bridge->EnableConsoleDebug();
        probe.emplace(*bridge);
        ring = &probe->AllocateRing(8);
        probe->SetGeometry(100, 100, 10);
        probe->SetScan3d(1, 0.5f, 0);  // y: half the encoder or timestamp step
        probe->SetComponent(kRange, true, part(kRange, "Coord3D_ABC32f", 4, 3));
        probe->SetLinesPerImage(3);
    }

    // The thread starts and an acquisition begins; returns once the ring was reset for it.
    void Go()
    {
        probe->StartImageThread();
        Start();
    }
    void Start()
    {
        const size_t starts = scanner.Commands().size();
        Push({9999});  // dropped by the start
        probe->StartAcquisition();
        ASSERT_TRUE(Eventually([&] { return ring->WriteIndex() == 0 && scanner.Commands().size() > starts; }));
    }

    void Push(const Profile& p)
    {
        const int32_t slot = ring->WriteIndex();
        const auto x = p.X(), z = p.Z();
        const auto intensity = p.Intensity();
        std::copy(x.begin(), x.end(), ring->X(slot));
        std::copy(z.begin(), z.end(), ring->Z(slot));
        std::copy(intensity.begin(), intensity.end(), ring->Intensity(slot));
        ring->SetPointCount(slot, static_cast<uint32_t>(x.size()));
        ProfileChunkValues& chunk = ring->Chunk(slot);
        chunk.m_PictureCounter = p.counter;
        chunk.m_Timestamp = p.Timestamp();
        chunk.m_Encoder = p.Encoder();
        ring->AdvanceWrite();
        probe->NewProfileEvent().set();
    }
    void Push(std::initializer_list<uint16_t> counters)
    {
        for (uint16_t c : counters)
            Push(Profile{c});
    }

    std::vector<SentBlock> Blocks() const
    {
        std::vector<SentBlock> blocks;
        std::optional<SentBlock> open;
        const std::vector<std::string> calls = cameraLog->Calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            const std::string& call = calls[i];
            if (call.rfind("BeginFrame", 0) == 0)
                open.emplace();  // a block begun and not sent is dropped
            if (!open)
                continue;
            open->calls.push_back(call);
            if (call.rfind("SetImagePartData", 0) == 0)
                open->parts.push_back(cameraLog->Data(i));
            if (call.rfind("AddChunkData", 0) == 0 && call != "AddChunkData 0 0x0 0") {
                const Bytes data = cameraLog->Data(i);
                std::vector<uint32_t>& values = open->chunks[std::stoul(call.substr(call.find("0x")), nullptr, 16)];
                for (size_t k = 0; k + 4 <= data.size(); k += 4)
                    values.push_back(platform::loadLE32(data.data() + k));
            }
            if (call.rfind("SetFrameTimestamp ", 0) == 0)
                open->timestamp = std::stoull(call.substr(18));
            if (call.rfind("SendImage", 0) == 0) {
                blocks.push_back(*open);
                open.reset();
            }
        }
        return blocks;
    }
    std::vector<SentBlock> WaitForBlocks(size_t n) const
    {
        EXPECT_TRUE(Eventually([&] { return Blocks().size() >= n; })) << "blocks sent: " << Blocks().size();
        return Blocks();
    }
    size_t Count(const std::string& command)
    {
        const std::vector<std::string> commands = scanner.Commands();
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }
    void WaitForCommand(const std::string& command, size_t times)
    {
        ASSERT_TRUE(Eventually([&] { return Count(command) >= times; })) << command;
    }
    void WaitUntilRead(int32_t index)
    {
        ASSERT_TRUE(Eventually([&] { return ring->ReadIndex() == index; }));
    }
    // The console's text once the threads have ended.
    std::string Messages()
    {
        bridge->Shutdown();
        return err.str();
    }

    std::optional<BridgeProbe> probe;
    ProfileRing* ring = nullptr;
};

std::vector<float> floats(const Bytes& bytes)
{
    std::vector<float> out;
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4)
        out.push_back(platform::loadF32LE(bytes.data() + k));
    return out;
}

TEST_F(ImageThread, SendsOneBlockOfLinesWithPartsChunksAndTimestamp)
{
    probe->SetComponent(kIntensity, true, part(kIntensity, "Mono10", 4, 3));
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetChunk(1, true, kTimestampChunk);
    probe->SetChunk(4, true, kEncoderChunk);
    const struct {
        int32_t source;
        float yStep;  // per line
    } sources[] = {{0, 5}, {1, 500}};  // encoder steps of 10, timestamp steps of 1000, scale 0.5
    uint16_t counter = 1;
    for (const auto& s : sources) {
        SCOPED_TRACE(s.source);
        probe->SetCoordinateSource(s.source);
        if (counter == 1)
            Go();
        else
            Start();
        const std::vector<Profile> profiles = {{counter}, {uint16_t(counter + 1)}, {uint16_t(counter + 2)}};
        for (const Profile& p : profiles)
            Push(p);
        const size_t index = counter == 1 ? 0 : 1;
        const SentBlock block = WaitForBlocks(index + 1)[index];
        const uint32_t t0 = profiles[0].Timestamp();
        EXPECT_EQ(block.calls, (std::vector<std::string>{
                                   "BeginFrame 0",
                                   "SetImagePartData 24 0 0 0 0 4x3 1 Mono10",
                                   "SetImagePartData 144 1 1 0 0 4x3 5 Coord3D_ABC32f",
                                   "AddChunkData 12 0xFFFFF0 0",
                                   "AddChunkData 12 0xFFFFF1 0",
                                   "AddChunkData 12 0xFFFFF4 0",
                                   "AddChunkData 0 0x0 0",
                                   "SetFrameTimestamp " + std::to_string(t0),
                                   "SendImage 0 3",
                               }));
        ASSERT_EQ(block.parts.size(), 2u);
        for (size_t line = 0; line < 3; ++line) {
            SCOPED_TRACE(line);
            EXPECT_EQ(block.Line(0, line, 8), mono10Line(profiles[line]));
            const float y = s.yStep * static_cast<float>(line);
            const auto z = profiles[line].Z();
            EXPECT_EQ(floats(block.Line(1, line, 48)),
                      (std::vector<float>{-3, y, float(z[0]), -1, y, 101, 1, y, 102, 3, y, 103}));
        }
        EXPECT_EQ(block.chunks.at(kCounterChunk), (std::vector<uint32_t>{counter, counter + 1u, counter + 2u}));
        EXPECT_EQ(block.chunks.at(kTimestampChunk), (std::vector<uint32_t>{t0, t0 + 1000, t0 + 2000}));
        EXPECT_EQ(block.chunks.at(kEncoderChunk),
                  (std::vector<uint32_t>{profiles[0].Encoder(), profiles[1].Encoder(), profiles[2].Encoder()}));

        probe->StopAcquisition();
        WaitForCommand("SetAcquisitionStop\r", counter == 1 ? 1 : 2);
        counter = 20;
    }
    EXPECT_EQ(Blocks().size(), 2u);
    const std::string messages = Messages();
    EXPECT_NE(messages.find("Vantocam thread has started\n"), std::string::npos);
    EXPECT_NE(messages.find("Vantocam thread has ended\n"), std::string::npos);
}

TEST_F(ImageThread, PartSizesRoundTheIntensityUpAndTheRangeDown)
{
    probe->SetComponent(kIntensity, true, part(kIntensity, "Mono10Packed", 5, 3));
    probe->SetComponent(kRange, true, part(kRange, "Mono16", 5, 3));
    Go();
    Push({1, 2, 3});
    const SentBlock block = WaitForBlocks(1)[0];
    EXPECT_EQ(block.calls[1], "SetImagePartData 23 0 0 0 0 5x3 1 Mono10Packed");
    EXPECT_EQ(block.calls[2], "SetImagePartData 30 1 1 0 0 5x3 1 Mono16");
    EXPECT_EQ(block.calls.size(), 5u);  // no chunks: begin, two parts, timestamp, send
}

TEST_F(ImageThread, ATimeOutSendsTheLinesSoFarAndEmptyLinesAfter)
{
    probe->SetComponent(kIntensity, true, part(kIntensity, "Mono10", 4, 10));
    probe->SetComponent(kRange, true, part(kRange, "Coord3D_ABC32f", 4, 10));
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(10);
    Go();
    Push({1, 2, 3});
    WaitUntilRead(3);
    probe->SignalProfileTimeout();
    const SentBlock block = WaitForBlocks(1)[0];
    EXPECT_EQ(block.calls.back(), "SendImage 0 10");
    for (size_t line = 0; line < 10; ++line) {
        SCOPED_TRACE(line);
        EXPECT_EQ(block.Line(0, line, 8), line < 3 ? mono10Line(Profile{uint16_t(line + 1)}) : Bytes(8, 0));
        if (line >= 3) {
            EXPECT_EQ(block.Line(1, line, 48), Bytes(48, 0));
        }
    }
    EXPECT_EQ(block.chunks.at(kCounterChunk), (std::vector<uint32_t>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_NE(Messages().find("Warning: Timeout. Sending image with active scans=3\n"), std::string::npos);
}

TEST_F(ImageThread, ATimeOutBeforeAnyLineSendsNothing)
{
    probe->SetChunk(0, true, kCounterChunk);
    Go();
    probe->SignalProfileTimeout();
    ASSERT_TRUE(Eventually([&] { return !probe->ProfileTimeoutPending(); }));
    Push({7, 8, 9});
    const std::vector<SentBlock> blocks = WaitForBlocks(1);
    EXPECT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].chunks.at(kCounterChunk), (std::vector<uint32_t>{7, 8, 9}));
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 1u);
}

struct GapCase {
    const char* name;
    std::vector<uint16_t> counters;
    std::vector<std::vector<uint32_t>> blockCounters;  // of each block
    std::vector<size_t> emptyLines;  // of the first block
    size_t errors, resyncs;
};

class CounterGaps : public ImageThread, public ::testing::WithParamInterface<GapCase> {};

TEST_P(CounterGaps, BecomeEmptyLinesThatKeepEachLineInPlace)
{
    const GapCase& c = GetParam();
    probe->SetComponent(kIntensity, true, part(kIntensity, "Mono10", 4, 4));
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(4);
    Go();
    for (uint16_t counter : c.counters)
        Push(Profile{counter});
    const std::vector<SentBlock> blocks = WaitForBlocks(c.blockCounters.size());
    ASSERT_EQ(blocks.size(), c.blockCounters.size());
    for (size_t b = 0; b < blocks.size(); ++b)
        EXPECT_EQ(blocks[b].chunks.at(kCounterChunk), c.blockCounters[b]) << "block " << b;
    // Each line holds the profile of its counter, or nothing.
    for (size_t line = 0; line < 4; ++line) {
        SCOPED_TRACE(line);
        const bool empty = std::find(c.emptyLines.begin(), c.emptyLines.end(), line) != c.emptyLines.end();
        const auto counter = static_cast<uint16_t>(c.blockCounters[0][line]);
        EXPECT_EQ(blocks[0].Line(0, line, 8), empty ? Bytes(8, 0) : mono10Line(Profile{counter}));
    }
    const std::string messages = Messages();
    size_t errors = 0, resyncs = 0;
    for (size_t at = 0; (at = messages.find("Picture Counter Error. New: ", at)) != std::string::npos; ++at)
        ++errors;
    for (size_t at = 0; (at = messages.find("Picture Counter Resync. New: ", at)) != std::string::npos; ++at)
        ++resyncs;
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(resyncs, c.resyncs);
}

INSTANTIATE_TEST_SUITE_P(
    ImageThread, CounterGaps,
    ::testing::Values(GapCase{"one missing", {5, 6, 8, 9}, {{5, 6, 7, 8}}, {2}, 1, 0},
                      GapCase{"one missing across the wrap", {65535, 1, 2, 3}, {{65535, 0, 1, 2}}, {1}, 1, 0},
                      GapCase{"the wrap itself", {65534, 65535, 0, 1}, {{65534, 65535, 0, 1}}, {}, 0, 0},
                      // The gap fills only the lines left; the next block starts with the profile.
                      GapCase{"more missing than lines left", {5, 9, 10, 11, 12}, {{5, 6, 7, 8}, {9, 10, 11, 12}},
                              {1, 2, 3}, 1, 0},
                      GapCase{"a step back resynchronises", {10, 11, 3, 4}, {{10, 11, 3, 4}}, {}, 0, 1},
                      GapCase{"a repeat resynchronises", {0, 0, 1, 2}, {{0, 0, 1, 2}}, {}, 0, 1}),
    [](const ::testing::TestParamInfo<GapCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST_F(ImageThread, ABlockTimestampCountsWrapsOfTheScannerTimestamp)
{
    probe->SetLinesPerImage(1);
    Go();
    const uint32_t stamps[] = {1000, 4'000'000'000u, 500, 600, 100};
    uint16_t counter = 1;
    for (uint32_t t : stamps)
        Push(Profile{counter++, t});
    const std::vector<SentBlock> blocks = WaitForBlocks(5);
    const uint64_t wrap = uint64_t{1} << 32;
    std::vector<uint64_t> timestamps;
    for (const SentBlock& b : blocks)
        timestamps.push_back(b.timestamp);
    EXPECT_EQ(timestamps, (std::vector<uint64_t>{1000, 4'000'000'000u, wrap + 500, wrap + 600, 2 * wrap + 100}));
}

TEST_F(ImageThread, SingleFrameSendsOneBlockPerStart)
{
    probe->SetAcquisitionMode(2);
    probe->SetLinesPerImage(2);
    Go();
    Push({1, 2, 3});
    WaitForCommand("SetAcquisitionStop\r", 1);
    Start();
    Push({4, 5});
    WaitForCommand("SetAcquisitionStop\r", 2);
    EXPECT_EQ(scanner.Commands(), (std::vector<std::string>{"SetAcquisitionStart\r", "SetAcquisitionStop\r",
                                                            "SetAcquisitionStart\r", "SetAcquisitionStop\r"}));
    const std::vector<SentBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].timestamp, 4000u);  // the second start dropped profile 3
}

TEST_F(ImageThread, AStopMidBlockDropsThePartialBlock)
{
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(5);
    Go();
    Push({1, 2});
    WaitUntilRead(2);
    probe->StopAcquisition();
    WaitForCommand("SetAcquisitionStop\r", 1);
    Start();
    Push({100, 101, 102, 103, 104});
    const std::vector<SentBlock> blocks = WaitForBlocks(1);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].chunks.at(kCounterChunk), (std::vector<uint32_t>{100, 101, 102, 103, 104}));
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 1u);
}

TEST_F(ImageThread, ABlockOfAnOlderRunIsNotSentToTheNextClient)
{
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(2);
    // The first client goes while the thread waits for its stream, and the next one starts.
    camera->onBeginFrame = [this, begun = 0]() mutable {
        if (++begun == 1) {
            camera->ClientConnection(false);
            probe->StartAcquisition();
        }
    };
    Go();
    Push({1, 2});
    WaitForCommand("SetAcquisitionStart\r", 2);
    ASSERT_TRUE(Eventually([&] { return ring->WriteIndex() == 0; }));
    Push({50, 51});
    const std::vector<SentBlock> blocks = WaitForBlocks(1);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].chunks.at(kCounterChunk), (std::vector<uint32_t>{50, 51}));
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 2u);
}

TEST_F(ImageThread, AStartWhileTheThreadStopsIsKept)
{
    probe->SetLinesPerImage(5);
    Go();
    Push({1, 2});
    WaitUntilRead(2);
    {
        auto lock = scanner.Lock();
        // Runs until the fixture's shutdown, which stops once more.
        scanner.onWrite = [this, started = false](const std::string& command) mutable {
            if (command == "SetAcquisitionStop\r" && !started) {
                started = true;
                probe->StartAcquisition();  // before the thread clears the acquisition event
            }
        };
    }
    probe->StopAcquisition();
    WaitForCommand("SetAcquisitionStart\r", 2);
    ASSERT_TRUE(Eventually([&] { return ring->WriteIndex() == 0; }));
    Push({3, 4, 5, 6, 7});
    EXPECT_EQ(WaitForBlocks(1).size(), 1u);
}

TEST_F(ImageThread, AClientThatGoesMidBlockReleasesTheThreadWithoutATimeOut)
{
    bridge->SetProfileTimeout(0);
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(5);
    Go();
    Push({1, 2});
    WaitUntilRead(2);
    camera->ClientConnection(false);
    WaitForCommand("SetAcquisitionStop\r", 2);  // the callback's, then the thread's
    EXPECT_TRUE(probe->AcquisitionStopped());
    Start();
    Push({3, 4, 5, 6, 7});
    const std::vector<SentBlock> blocks = WaitForBlocks(1);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].chunks.at(kCounterChunk), (std::vector<uint32_t>{3, 4, 5, 6, 7}));
}

TEST_F(ImageThread, NeitherComponentEnabledStopsTheAcquisition)
{
    probe->SetComponent(kRange, false, part(kRange, "Coord3D_ABC32f", 4, 3));
    Go();
    WaitForCommand("SetAcquisitionStop\r", 1);
    EXPECT_TRUE(probe->AcquisitionStopped());
    EXPECT_EQ(scanner.Commands(), (std::vector<std::string>{"SetAcquisitionStart\r", "SetAcquisitionStop\r"}));
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 0u);
    EXPECT_NE(Messages().find("Warning: neither component is enabled: the acquisition stops\n"), std::string::npos);
}

TEST_F(ImageThread, APartTooLargeForItsBufferStopsTheAcquisition)
{
    probe->SetComponent(kRange, true, part(kRange, "Coord3D_ABC32f", 4501, 10000));
    probe->SetLinesPerImage(10000);
    Go();
    WaitForCommand("SetAcquisitionStop\r", 1);
    EXPECT_TRUE(probe->AcquisitionStopped());
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 0u);
    EXPECT_NE(Messages().find("Error: the range part of 4501 x 10000 Coord3D_ABC32f does not fit its 540000000 bytes"),
              std::string::npos);
}

TEST_F(ImageThread, LinesPerImageAreBoundedToOneToTenThousand)
{
    probe->SetComponent(kRange, true, part(kRange, "Coord3D_ABC32f", 1, 1));
    probe->SetChunk(0, true, kCounterChunk);
    probe->SetLinesPerImage(0);
    Go();
    Push({1});
    EXPECT_EQ(WaitForBlocks(1)[0].calls.back(), "SendImage 0 1");

    probe->StopAcquisition();
    WaitForCommand("SetAcquisitionStop\r", 1);
    probe->SetLinesPerImage(20000);
    Start();
    for (uint32_t i = 0; i < 10000; ++i)
        Push(Profile{static_cast<uint16_t>(i)});
    const SentBlock block = WaitForBlocks(2)[1];
    EXPECT_EQ(block.calls.back(), "SendImage 0 10000");
    EXPECT_EQ(block.calls[2], "AddChunkData 40000 0xFFFFF0 0");
    const std::vector<uint32_t>& counters = block.chunks.at(kCounterChunk);
    ASSERT_EQ(counters.size(), 10000u);
    EXPECT_EQ(counters[9999], 9999u);
}

TEST_F(ImageThread, ABlockIsBuiltWithTheRecordsOfItsStart)
{
    Go();
    Push({1});
    WaitUntilRead(1);
    probe->SetComponent(kRange, true, part(kRange, "Mono16", 4, 3));  // a handler changes the part
    Push({2, 3});
    const std::vector<SentBlock> first = WaitForBlocks(1);
    EXPECT_EQ(first[0].calls[1], "SetImagePartData 144 1 1 0 0 4x3 5 Coord3D_ABC32f");
    Push({4, 5, 6});
    const std::vector<SentBlock> second = WaitForBlocks(2);
    EXPECT_EQ(second[1].calls[1], "SetImagePartData 24 1 1 0 0 4x3 1 Mono16");
}

TEST_F(ImageThread, SoftwareFrameStartWaitsForTheTriggerAndStopsOnATimeOut)
{
    probe->SetFrameStartTrigger(true, 7);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    probe->SetSoftwareTriggerTime(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    probe->SetLinesPerImage(2);
    probe->StartImageThread();
    Push({9999});
    probe->StartAcquisition();
    ASSERT_TRUE(Eventually([&] { return ring->WriteIndex() == 0; }));
    Push({1, 2});
    WaitForBlocks(1);
    EXPECT_TRUE(scanner.Commands().empty());  // the trigger starts the scanner, not the thread

    Push({3});
    WaitUntilRead(3);
    probe->SignalProfileTimeout();
    WaitForCommand("SetAcquisitionStop\r", 1);
    ASSERT_TRUE(Eventually([&] { return ring->ReadIndex() == 0 && ring->WriteIndex() == 0; }));
    EXPECT_EQ(Blocks().size(), 2u);
    EXPECT_EQ(scanner.Commands(), std::vector<std::string>{"SetAcquisitionStop\r"});
    bridge->Shutdown();
    size_t elapsed = 0;
    for (const std::string& line : Lines(out))
        elapsed += line.rfind("ellapsed time ", 0) == 0;
    EXPECT_EQ(elapsed, 2u);
}

TEST_F(ImageThread, ShutdownEndsAThreadWaitingForAProfile)
{
    bridge->SetProfileTimeout(0);
    Go();
    Push({1});
    WaitUntilRead(1);
    bridge->Shutdown();
    EXPECT_EQ(CountLines(err, "Vantocam thread has ended"), 1u);
    EXPECT_EQ(cameraLog->Count("BeginFrame"), 0u);
}

}  // namespace
}  // namespace lumabridge::test
