// Feature writes on the control thread while another thread copies the records per block, as
// the image thread does: every copy is consistent, and (under ThreadSanitizer) nothing races.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "bridge_fixture.h"

namespace lumabridge::test {
namespace {

TEST(FeatureWriteThreads, RecordsChangeWholeUnderTheirLock)
{
    BridgeRig rig(true);
    BridgeProbe probe(rig.bridge);
    probe.MutableComponent(0) = {false, PartDescriptor{0, 0, 0, 1, 64, 10, 1, "Mono10Packed"}};
    probe.MutableComponent(1) = {true, PartDescriptor{1, 0, 0, 2, 64, 10, 5, "Coord3D_ABC32f"}};
    for (uint32_t i = 0; i < 6; ++i) {
        probe.MutableChunk(i).m_ChunkId = 0xFFFFF0 + i;
        probe.MutableChunk(i).m_BytesPerValue = 4;
    }
    probe.Record("LinesPerImage") = 10;
    FakeCamera& camera = *rig.camera;
    const auto write = [&](const char* feature, int64_t value) {
        camera.integerValues[feature] = value;
        camera.Write(feature);
    };

    std::atomic<bool> done{false};
    std::atomic<int> inconsistent{0};
    std::thread reader([&] {
        while (!done) {
            const BridgeProbe::Records r = probe.LockedRecords();
            int enabled = 0;
            for (bool on : r.chunkEnabled)
                enabled += on;
            if (r.chunkCount != enabled || r.chunkPayloadBytes != 40 * enabled)
                ++inconsistent;
            const ScannerInfo info = probe.LockedInfo();
            (void)info;
        }
    });
    for (int round = 0; round < 200; ++round) {
        write("ChunkSelector", round % 6);
        write("ChunkEnable", (round / 6) % 2 == 0 ? 1 : 0);
        write("ComponentSelector", round % 2);
        write("PixelFormat", round % 4 < 2 ? 0x01100007 : 0x026000C0);
        write("ComponentEnable", round % 3 == 0 ? 1 : 0);
        write("Scan3dCoordinateSelector", round % 3);
        camera.floatValues["Scan3dCoordinateScale"] = static_cast<float>(round);
        camera.Write("Scan3dCoordinateScale");
        write("TriggerSelector", round % 3);
        write("TriggerDelay", round);
        write("LineSelector", round % 4);
        write("LineMode", round % 2);
        write("TriggerSource", 5);
        camera.Write(round % 2 ? "AcquisitionStart" : "AcquisitionStop");
    }
    done = true;
    reader.join();
    EXPECT_EQ(inconsistent, 0);
}

}  // namespace
}  // namespace lumabridge::test
