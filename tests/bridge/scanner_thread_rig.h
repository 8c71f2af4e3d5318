#pragma once
// A connected Bridge whose scanner thread reads scripted profiles, on a frozen manual clock:
// an empty read passes the library's 500 ms wait unless the test sets its own onRead.
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge_fixture.h"

namespace lumabridge::test {

using Profile = FakeScanner::Profile;

// A profile of the given x (z and intensity alike) whose status carries the picture counter;
// -1 leaves the counter out.
inline Profile WithCounter(int counter, std::vector<double> x = {1.0, 2.0})
{
    Profile p;
    p.z = x;
    p.intensity.assign(x.size(), 100);
    p.x = std::move(x);
    if (counter >= 0)
        p.status["PictureCounter"] = std::to_string(counter);
    return p;
}

// count profiles of one point, the picture counters from first on (16 bits).
inline std::vector<Profile> Counted(int first, int count)
{
    std::vector<Profile> profiles;
    profiles.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        profiles.push_back(WithCounter((first + i) % 65536, {static_cast<double>(first + i)}));
    return profiles;
}

class ScannerThreadTest : public BridgeFixture {
protected:
    struct ScannerRig {
        // pixels: the scanner's pixel_x_max (slots of twice as many points).
        explicit ScannerRig(int pixels = 8)
        {
            model.Set("device:general:pixel_x_max", std::to_string(pixels));
            scanner.descriptor = model.DescriptorXml();
            clock.Freeze();
            scanner.onRead = [this](bool hasProfile) {
                if (!hasProfile)
                    PassWait(500);
            };
            bridge.SetConsoleStreams(out, err);
        }

        // A read that waits ms of the manual clock, and a real moment, so that the reader never
        // spins over the locks the test takes.
        void PassWait(uint32_t ms)
        {
            clock.Advance(ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        void Connect() { ASSERT_TRUE(bridge.Connect("127.0.0.1", "", 32001)); }
        // Queues the profiles and waits until the thread has handled them all.
        void Feed(std::vector<Profile> profiles)
        {
            scanner.AddProfiles(std::move(profiles));
            ASSERT_TRUE(Eventually([this] { return scanner.Drained(); }));
        }

        scanner_sim::SettingsModel model;
        FakeScanner scanner;
        ManualClock clock;
        std::ostringstream out;
        std::ostringstream err;
        Bridge bridge{scanner, clock, nullptr};
        BridgeProbe probe{bridge};
    };
};

}  // namespace lumabridge::test
