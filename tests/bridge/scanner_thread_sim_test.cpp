// The scanner thread through the client library against the scanner simulator: the profiles
// the simulator streams land in the ring with their own picture counter and time stamp; a
// counter gap is reported, a repeated counter reported and its profile dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "bridge_probe.h"
#include "quillan_scanner_api.h"
#include "scanner_sim/scanner_sim.h"
#include "steady_clock.h"

namespace lumabridge {
namespace {

TEST(ScannerThreadSim, StreamedProfilesFillTheRingInOrder)
{
    scanner_sim::Options options;
    options.device.lineTime = 500;  // 2000 profiles/s
    options.streamFaults.counterGap = {100};
    options.streamFaults.counterRepeat = {200};
    scanner_sim::ScannerSim sim(options);
    sim.Start();

    QuillanScannerApi api;
    SteadyClock clock;
    std::ostringstream out, err;
    Bridge bridge(api, clock, nullptr);
    bridge.SetConsoleStreams(out, err);
    bridge.EnableConsoleDebug();
    BridgeProbe probe(bridge);
    probe.MutableComponent(0).m_Enabled = true;
    probe.MutableComponent(1).m_Enabled = true;
    ASSERT_TRUE(bridge.Connect("127.0.0.1", "", sim.Port()));

    constexpr int kProfiles = 400;
    const char start[] = "SetAcquisitionStart\r";
    api.WriteData(probe.Handle(), start, static_cast<int>(std::strlen(start)));
    ProfileRing& ring = probe.Ring();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ring.WriteIndex() < kProfiles && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const char stop[] = "SetAcquisitionStop\r";
    api.WriteData(probe.Handle(), stop, static_cast<int>(std::strlen(stop)));
    bridge.Shutdown();

    ASSERT_GE(ring.WriteIndex(), kProfiles);
    for (int32_t slot = 0; slot < kProfiles; ++slot) {
        const auto sent = sim.ProfileAt(static_cast<uint64_t>(slot < 200 ? slot : slot + 1));
        ASSERT_TRUE(sent) << slot;
        const ProfileChunkValues& chunk = ring.Chunk(slot);
        EXPECT_EQ(chunk.m_PictureCounter, sent->counters.pictureCounter) << slot;
        EXPECT_EQ(chunk.m_Timestamp, sent->counters.timeStamp) << slot;
        EXPECT_EQ(ring.PointCount(slot), 2048u) << slot;
    }
    std::istringstream lines(out.str());
    std::vector<std::string> errors;
    for (std::string line; std::getline(lines, line);)
        if (line.find("picture counter error") != std::string::npos)
            errors.push_back(line);
    ASSERT_GE(errors.size(), 2u) << out.str();
    EXPECT_EQ(errors[0], "Scanner thread: picture counter error. Old:99 New:101");
    EXPECT_EQ(errors[1], "Scanner thread: picture counter error. Old:200 New:200");
}

}  // namespace
}  // namespace lumabridge
