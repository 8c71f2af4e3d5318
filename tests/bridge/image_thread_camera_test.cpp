// The image thread's blocks through the device library's camera, received by Aravis.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fixture.h"
#include "platform/bytes.h"

namespace lumabridge::test {
namespace {

constexpr int kWidth = 16;
constexpr int kLines = 4;

std::string run(const std::string& command, int* status)
{
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get()))
        output.append(buffer, n);
    *status = pclose(pipe.release());
    return output;
}

std::vector<float> floatsOfHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    std::vector<float> out;
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4)
        out.push_back(platform::loadF32LE(bytes.data() + k));
    return out;
}

std::vector<uint16_t> u16OfHex(const std::string& hex)
{
    std::vector<uint16_t> out;
    for (size_t i = 0; i + 3 < hex.size(); i += 4)
        out.push_back(static_cast<uint16_t>(std::stoul(hex.substr(i + 2, 2) + hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint32_t> u32OfHex(const std::string& hex)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i + 7 < hex.size(); i += 8)
        out.push_back(static_cast<uint32_t>(std::stoul(
            hex.substr(i + 6, 2) + hex.substr(i + 4, 2) + hex.substr(i + 2, 2) + hex.substr(i, 2), nullptr, 16)));
    return out;
}

bool aravisAvailable()
{
    int status = 0;
    run("/usr/bin/python3 -c 'import gi; gi.require_version(\"Aravis\", \"0.8\")' 2>/dev/null", &status);
    return status == 0;
}

// A bridge online on the device library's camera, with the scanner's default set-up and a
// ring the test fills; Aravis receives one block.
class ImageThreadCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!aravisAvailable())
            GTEST_SKIP() << "Aravis 0.8 for Python is not installed";
        rig = std::make_unique<CameraBridgeRig>();
        rig->Describe({{"device:settings:roi:x1:width:current", std::to_string(kWidth)},
                       {"device:settings:amountprofilesy:current", std::to_string(kLines)}});
        ASSERT_NE(rig->camera, nullptr);
        bridge = &rig->bridge;
        ASSERT_FALSE(bridge->AllocateFrameBuffer());  // the chunks' frame buffer, as main gives it
        probe = std::make_unique<BridgeProbe>(*bridge);
        ASSERT_TRUE(bridge->UpdateScannerInfo());
        bridge->ConfigureScanner();
        ring = &probe->AllocateRing(kWidth);
    }
    void TearDown() override
    {
        if (bridge)
            bridge->Shutdown();
    }

    // Online on address, acquiring, with kLines profiles in the ring: x = k - 8 and
    // z = 150 + k + line / 4 mm, intensity 100 line + k, counter line + 1, encoder 1000 + 10 line.
    void GoOnlineWithProfiles(const char* address)
    {
        bridge->OnFeatureRead("Width");
        bridge->OnFeatureRead("Height");
        ASSERT_TRUE(bridge->BuildDescription(address, -1, ""));
        probe->StartAcquisition();
        const auto started = [&] {
            const std::vector<std::string> commands = rig->scanner.Commands();
            return std::count(commands.begin(), commands.end(), "SetAcquisitionStart\r") == 1;
        };
        for (int i = 0; i < 60000 && !started(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(started());
        for (int line = 0; line < kLines; ++line) {
            const int32_t slot = ring->WriteIndex();
            for (int k = 0; k < kWidth; ++k) {
                ring->X(slot)[k] = -8.0 + k;
                ring->Z(slot)[k] = 150.0 + k + 0.25 * line;
                ring->Intensity(slot)[k] = 100 * line + k;
            }
            ring->SetPointCount(slot, kWidth);
            ring->Chunk(slot).m_PictureCounter = static_cast<uint16_t>(line + 1);
            ring->Chunk(slot).m_Encoder = 1000 + 10 * line;
            ring->AdvanceWrite();
            probe->NewProfileEvent().set();
        }
    }
    // The lines the receiver printed.
    std::vector<std::string> Receive(const std::string& address, const std::string& chunks = "")
    {
        int status = 0;
        const std::string output =
            run("timeout 60 /usr/bin/python3 " LB_IMAGE_ARAVIS_SCRIPT " " + address + " " + chunks + " 2>&1", &status);
        EXPECT_EQ(status, 0) << output;
        std::vector<std::string> lines;
        std::istringstream in(output);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::unique_ptr<CameraBridgeRig> rig;  // made once Aravis is known to be there
    Bridge* bridge = nullptr;
    std::unique_ptr<BridgeProbe> probe;
    ProfileRing* ring = nullptr;
};

// The default range part (Coord3D_ABC32f) as an image block: x and z of each point, y the
// encoder difference to line 0.
TEST_F(ImageThreadCamera, AravisReceivesTheRangePartAsAnImage)
{
    GoOnlineWithProfiles("127.0.66.21");
    const std::vector<std::string> lines = Receive("127.0.66.21");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "image 1");
    std::vector<float> expected;
    for (int line = 0; line < kLines; ++line)
        for (int k = 0; k < kWidth; ++k)
            expected.insert(expected.end(), {-8.0f + k, 10.0f * line, 150.0f + k + 0.25f * line});
    const std::string prefix = "0x026000C0 16 4 ";
    ASSERT_EQ(lines[1].rfind(prefix, 0), 0u) << lines[1];
    EXPECT_EQ(floatsOfHex(lines[1].substr(prefix.size())), expected);
}

// Mono16 range and Mono10 intensity as a multi-part block with the counter and encoder chunks.
TEST_F(ImageThreadCamera, AravisReceivesBothPartsAndTheChunks)
{
    probe->SetGeometry(100, 100, 16);
    probe->SetScan3d(0, 1, -8);  // column = x + 8
    probe->SetScan3d(2, 0.25f, 0);  // value = (z - 100) x 4
    probe->MutableComponent(0).m_Enabled = true;
    probe->MutableComponent(0).m_Part.pixelFormatName = "Mono10";
    probe->MutableComponent(1).m_Part.pixelFormatName = "Mono16";
    probe->MutableComponent(1).m_Part.dataType = 1;
    probe->MutableChunk(0).m_Enabled = true;
    probe->MutableChunk(4).m_Enabled = true;
    probe->ChunkCount() = 2;
    GoOnlineWithProfiles("127.0.66.22");
    const std::vector<std::string> lines = Receive("127.0.66.22", "0xFFFFF0 0xFFFFF4");
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "parts 2");
    std::vector<uint16_t> range, intensity;
    for (int line = 0; line < kLines; ++line)
        for (int k = 0; k < kWidth; ++k) {
            range.push_back(static_cast<uint16_t>(200 + 4 * k + line));
            intensity.push_back(static_cast<uint16_t>(100 * line + k));
        }
    const std::string rangePrefix = "0x01100007 16 4 ", intensityPrefix = "0x01100003 16 4 ";
    ASSERT_EQ(lines[1].rfind(rangePrefix, 0), 0u) << lines[1];
    EXPECT_EQ(u16OfHex(lines[1].substr(rangePrefix.size())), range);
    ASSERT_EQ(lines[2].rfind(intensityPrefix, 0), 0u) << lines[2];
    EXPECT_EQ(u16OfHex(lines[2].substr(intensityPrefix.size())), intensity);
    EXPECT_EQ(u32OfHex(lines[3].substr(9)), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(u32OfHex(lines[4].substr(9)), (std::vector<uint32_t>{1000, 1010, 1020, 1030}));
}

}  // namespace
}  // namespace lumabridge::test
