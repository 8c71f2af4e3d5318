// The scanner thread against a scripted scanner and a frozen manual clock: picture counters,
// ring slots and overflow, the profile time-out, the pause after quick empty reads, the rate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scanner_thread_rig.h"

namespace lumabridge::test {
namespace {

using ScannerThread = ScannerThreadTest;

TEST_F(ScannerThread, PictureCounterSteps)
{
    struct Case {
        const char* name;
        std::vector<int> counters;  // -1: the status container has no picture counter
        std::vector<uint16_t> stored;
        std::vector<std::string> messages;  // standard output with -d
    };
    const std::vector<Case> cases = {
        {"first profile", {5}, {5}, {}},
        {"steps of one", {5, 6, 7}, {5, 6, 7}, {}},
        {"wrap", {65534, 65535, 0, 1}, {65534, 65535, 0, 1}, {}},
        {"gap", {7, 9}, {7, 9}, {"Scanner thread: picture counter error. Old:7 New:9"}},
        {"repeat dropped", {7, 7, 8}, {7, 8}, {"Scanner thread: picture counter error. Old:7 New:7"}},
        {"zero twice", {0, 0}, {0, 0}, {"Scanner thread: picture counter error. Old:0 New:0"}},
        // The slot's own previous counter (0 in a new ring), never an undefined value.
        {"unreadable", {7, -1}, {7, 0}, {"Scanner thread: picture counter error. Old:7 New:0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScannerRig rig;
        rig.bridge.EnableConsoleDebug();
        rig.Connect();
        std::vector<Profile> profiles;
        for (int counter : c.counters)
            profiles.push_back(WithCounter(counter));
        rig.Feed(std::move(profiles));
        rig.bridge.Shutdown();

        ProfileRing& ring = rig.probe.Ring();
        ASSERT_EQ(ring.WriteIndex(), static_cast<int32_t>(c.stored.size()));
        for (size_t i = 0; i < c.stored.size(); ++i)
            EXPECT_EQ(ring.Chunk(static_cast<int32_t>(i)).m_PictureCounter, c.stored[i]) << "slot " << i;
        EXPECT_EQ(Lines(rig.out), c.messages);
    }
}

TEST_F(ScannerThread, SlotHoldsTheEnabledComponentsAndTheChunkValues)
{
    constexpr double kUnwritten = -99.0;
    for (const auto& [intensity, range] : {std::pair{true, true}, {true, false}, {false, true}, {false, false}}) {
        SCOPED_TRACE(::testing::Message() << "intensity " << intensity << " range " << range);
        ScannerRig rig;
        rig.probe.MutableComponent(0).m_Enabled = intensity;
        rig.probe.MutableComponent(1).m_Enabled = range;
        rig.Connect();
        ProfileRing& ring = rig.probe.Ring();
        for (int i = 0; i < 3; ++i) {
            ring.Z(0)[i] = kUnwritten;
            ring.Intensity(0)[i] = -99;
        }
        Profile p;
        p.x = {1.5, -2.25, 3.0};
        p.z = {10.0, 20.0, 30.0};
        p.intensity = {100, 1023, 4000};
        p.encoder = 0xFFFFFFF0u;
        p.status = {{"ScannerState", "258"}, {"PictureCounter", "41"}, {"GetTimestamp", "4000000000"},
                    {"IOState", "5"}, {"Temperature", "38"}};
        rig.Feed({p});

        ASSERT_EQ(ring.WriteIndex(), 1);
        EXPECT_EQ(ring.PointCount(0), 3u);
        EXPECT_EQ(std::vector<double>(ring.X(0), ring.X(0) + 3), p.x);
        EXPECT_EQ(std::vector<double>(ring.Z(0), ring.Z(0) + 3),
                  range ? p.z : std::vector<double>(3, kUnwritten));
        const std::vector<int32_t> intensityExpected = {100, 1023, 4000};
        EXPECT_EQ(std::vector<int32_t>(ring.Intensity(0), ring.Intensity(0) + 3),
                  intensity ? intensityExpected : std::vector<int32_t>(3, -99));
        const ProfileChunkValues& chunk = ring.Chunk(0);
        EXPECT_EQ(chunk.m_ScannerState, 2) << "258 in eight bits";
        EXPECT_EQ(chunk.m_PictureCounter, 41);
        EXPECT_EQ(chunk.m_Timestamp, 4000000000u);
        EXPECT_EQ(chunk.m_Encoder, 0xFFFFFFF0u);
        EXPECT_EQ(chunk.m_IoState, 5);
        EXPECT_EQ(chunk.m_Temperature, 38);
    }
}

TEST_F(ScannerThread, TenThousandProfilesWithoutAReaderWrapTheRing)
{
    ScannerRig rig;
    rig.bridge.SetProfileTimeout(0);
    rig.bridge.EnableConsoleDebug();
    rig.Connect();
    ProfileRing& ring = rig.probe.Ring();
    rig.Feed(Counted(0, ProfileRing::kSlots - 1));
    EXPECT_EQ(ring.WriteIndex(), ProfileRing::kSlots - 1);
    EXPECT_FALSE(ring.Overflow());

    rig.probe.NewProfileEvent().reset();
    rig.Feed(Counted(ProfileRing::kSlots - 1, 1));
    EXPECT_EQ(ring.WriteIndex(), 0);
    EXPECT_TRUE(ring.Overflow());
    EXPECT_EQ(ring.Unread(), ProfileRing::kSlots);
    EXPECT_EQ(rig.probe.NewProfileEvent().wait(0), platform::WaitResult::Signaled);
    EXPECT_EQ(ring.Chunk(ProfileRing::kSlots - 1).m_PictureCounter, ProfileRing::kSlots - 1);

    rig.Feed(Counted(ProfileRing::kSlots, 1));
    EXPECT_EQ(ring.WriteIndex(), 1);
    EXPECT_EQ(ring.Chunk(0).m_PictureCounter, ProfileRing::kSlots) << "the oldest profile overwritten";
    EXPECT_EQ(ring.X(0)[0], ProfileRing::kSlots);
    rig.bridge.Shutdown();
    EXPECT_EQ(rig.err.str().find("WARNING: overflow"), std::string::npos) << "no acquisition, no guard";
}

TEST_F(ScannerThread, OverflowGuardWarnsAndPausesWhileTheRingIsNearlyFull)
{
    struct Case {
        bool acquiring;
        int readIndex;
        bool warns;
    };
    for (const Case& c : {Case{true, 500, true}, Case{true, 1500, false}, Case{false, 500, false}}) {
        SCOPED_TRACE(::testing::Message() << "acquiring " << c.acquiring << " read index " << c.readIndex);
        ScannerRig rig;
        rig.bridge.SetProfileTimeout(0);
        rig.bridge.EnableConsoleDebug();
        rig.Connect();
        ProfileRing& ring = rig.probe.Ring();
        rig.Feed(Counted(0, ProfileRing::kSlots));  // lapped: write index 0
        for (int i = 0; i < c.readIndex; ++i)
            ring.AdvanceRead();
        const int readsBefore = rig.scanner.ProfileReads();
        if (c.acquiring)
            rig.probe.SetAcquisitionRunning();
        if (c.warns) {  // the first warning before the next profile
            ASSERT_TRUE(Eventually([&] { return !rig.clock.SleepsOf(rig.scanner.Reader()).empty(); }));
        }
        rig.Feed(Counted(ProfileRing::kSlots, 4));  // the guard never stops the writer
        rig.bridge.Shutdown();

        EXPECT_EQ(ring.WriteIndex(), 4);
        const std::vector<std::string> lines = Lines(rig.err);
        std::vector<std::string> warnings;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind("WARNING: overflow", 0) == 0) {
                warnings.push_back(lines[i]);
                EXPECT_TRUE(i + 1 < lines.size() && lines[i + 1].empty()) << "an empty line after the warning";
            }
        const std::vector<uint32_t> sleeps = rig.clock.SleepsOf(rig.scanner.Reader());
        if (!c.warns) {
            EXPECT_TRUE(warnings.empty());
            EXPECT_TRUE(sleeps.empty());
            continue;
        }
        ASSERT_FALSE(warnings.empty());
        EXPECT_EQ(warnings.front(), "WARNING: overflow 0.950000 ReadOut: 500  WriteIn: 0");
        EXPECT_NE(std::find(warnings.begin(), warnings.end(), "WARNING: overflow 0.950400 ReadOut: 500  WriteIn: 4"),
                  warnings.end());
        // One 50 ms pause per warning, and a read after each.
        EXPECT_EQ(sleeps, std::vector<uint32_t>(warnings.size(), 50));
        EXPECT_LE(static_cast<int>(warnings.size()), rig.scanner.ProfileReads() - readsBefore + 1);
    }
}

// Each empty read takes 250 ms of the manual clock; the log holds, per empty read after the
// profile, the time since the profile and whether the read before raised the time-out.
TEST_F(ScannerThread, ProfileTimeoutAfterTheLastProfileAndAfterEveryFurtherEmptyRead)
{
    struct Case {
        uint32_t timeoutMs;
        uint32_t firstRaisedMs;  // 0: never
    };
    for (const Case& c : {Case{1000, 1250}, Case{600, 750}, Case{0, 0}}) {
        SCOPED_TRACE(::testing::Message() << "-t " << c.timeoutMs);
        ScannerRig rig;
        rig.bridge.SetProfileTimeout(c.timeoutMs);
        std::mutex mutex;
        std::vector<std::pair<uint32_t, bool>> log;
        bool profileSeen = false;
        uint32_t profileMs = 0;
        rig.scanner.onRead = [&](bool hasProfile) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // leaves the test the mutex
            std::lock_guard lock(mutex);
            const bool raised = rig.probe.TakeProfileTimeout();
            const bool signalled = rig.probe.NewProfileEvent().wait(0) == platform::WaitResult::Signaled;
            rig.probe.NewProfileEvent().reset();
            if (hasProfile) {
                profileSeen = true;
                profileMs = rig.clock.NowMs();
                return;
            }
            if (profileSeen && log.size() < 16) {
                const uint32_t elapsed = rig.clock.NowMs() - profileMs;
                log.emplace_back(elapsed, raised);
                if (elapsed > 0) {  // the event of the stored profile itself comes first
                    EXPECT_EQ(signalled, raised) << "the event goes with the flag";
                }
            }
            rig.clock.Advance(250);
        };
        rig.Connect();
        rig.Feed({WithCounter(1)});
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(mutex);
            return log.size() == 16;
        }));
        rig.bridge.Shutdown();
        for (const auto& [elapsed, raised] : log)
            EXPECT_EQ(raised, c.firstRaisedMs != 0 && elapsed >= c.firstRaisedMs) << elapsed << " ms";
    }
}

TEST_F(ScannerThread, QuickEmptyReadsPauseInsteadOfSpinning)
{
    struct Case {
        int result;
        bool waits;  // the read itself takes the library's 500 ms
    };
    for (const Case& c : {Case{-2, false}, Case{-3, false}, Case{-1000, false}, Case{-1, false}, Case{-1, true}}) {
        SCOPED_TRACE(::testing::Message() << "result " << c.result << (c.waits ? " after the wait" : " at once"));
        ScannerRig rig;
        rig.bridge.SetProfileTimeout(0);
        rig.scanner.emptyResult = c.result;
        rig.scanner.onRead = [&rig, waits = c.waits](bool) {
            if (waits)
                rig.PassWait(500);
        };
        rig.Connect();
        ASSERT_TRUE(Eventually([&] { return rig.scanner.ProfileReads() >= 20; }));
        rig.bridge.Shutdown();
        const int reads = rig.scanner.ProfileReads();
        const std::vector<uint32_t> sleeps = rig.clock.SleepsOf(rig.scanner.Reader());
        if (c.waits) {
            EXPECT_TRUE(sleeps.empty());
            continue;
        }
        EXPECT_GE(static_cast<int>(sleeps.size()), reads - 1);
        for (uint32_t ms : sleeps) {
            EXPECT_GE(ms, 50u);
            EXPECT_LE(ms, 100u);
        }
    }
}

TEST_F(ScannerThread, RateOfTheLastWindowWhileAcquiring)
{
    ScannerRig rig;
    rig.bridge.SetProfileTimeout(0);
    rig.bridge.EnableConsoleDebug();
    rig.scanner.fifoState = 7;
    rig.scanner.onRead = [&rig](bool hasProfile) { rig.PassWait(hasProfile ? 100 : 500); };
    rig.Connect();
    rig.probe.SetAcquisitionRunning();
    ASSERT_TRUE(Eventually([&] { return rig.scanner.ProfileReads() >= 2; }));  // a second passes
    rig.Feed(Counted(0, 25));  // one every 100 ms
    EXPECT_EQ(rig.probe.ScannerRate(), 10u);
    rig.probe.SetAcquisitionStopped(true);
    EXPECT_TRUE(Eventually([&] { return rig.probe.ScannerRate() == 0; }));
    rig.bridge.Shutdown();

    std::vector<std::string> rates;
    for (const std::string& line : Lines(rig.err))
        if (line.rfind("Scanner frequency:", 0) == 0)
            rates.push_back(line);
    // The first line closes the window of the empty reads before the profiles.
    const std::vector<std::string> expected = {"Scanner frequency: 0 FIFO: 7", "Scanner frequency: 10 FIFO: 7",
                                               "Scanner frequency: 10 FIFO: 7"};
    EXPECT_EQ(rates, expected);
}

TEST_F(ScannerThread, OversizedProfileIsClampedToItsSlot)
{
    ScannerRig rig(4);  // slots of 8 points
    rig.probe.MutableComponent(0).m_Enabled = true;
    rig.probe.MutableComponent(1).m_Enabled = true;
    rig.Connect();
    ProfileRing& ring = rig.probe.Ring();
    ASSERT_EQ(ring.Capacity(), 8u);
    ring.X(1)[0] = -99.0;
    std::vector<double> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.push_back(i);
    rig.Feed({WithCounter(1, twelve)});
    EXPECT_EQ(ring.PointCount(0), 8u);
    EXPECT_EQ(std::vector<double>(ring.X(0), ring.X(0) + 8), std::vector<double>(twelve.begin(), twelve.begin() + 8));
    EXPECT_EQ(ring.X(1)[0], -99.0) << "the next slot is untouched";

    rig.Feed({WithCounter(2, twelve), WithCounter(3, {5.0, 6.0, 7.0})});
    EXPECT_EQ(ring.PointCount(1), 8u);
    EXPECT_EQ(ring.PointCount(2), 3u) << "every slot keeps its own count";
    EXPECT_EQ(ring.X(2)[2], 7.0);
    rig.bridge.Shutdown();
    EXPECT_EQ(CountLines(rig.err, "Warning: a profile of 12 points does not fit the ring; only the first 8 are kept"),
              1u);
}

// Slots of the library's full 4096 points are read into straight: a ring reset during the read
// (an acquisition start) still puts the profile into the new write slot, none is lost.
TEST_F(ScannerThread, FullSizeSlotsTakeTheProfileOfAReadAcrossARingReset)
{
    ScannerRig rig(2048);
    rig.bridge.SetProfileTimeout(0);
    std::atomic<bool> armed{false};
    std::atomic<bool> resetDone{false};
    rig.scanner.onRead = [&](bool hasProfile) {
        if (hasProfile && armed.load() && !resetDone.exchange(true))
            rig.probe.Ring().Reset();  // after the thread chose slot 3 for this read
        if (!hasProfile)
            rig.PassWait(500);
    };
    rig.Connect();
    ProfileRing& ring = rig.probe.Ring();
    ASSERT_EQ(ring.Capacity(), 4096u);
    rig.Feed({WithCounter(1, {1.0, 1.5}), WithCounter(2, {2.0, 2.5}), WithCounter(3, {3.0, 3.5})});
    ASSERT_EQ(ring.WriteIndex(), 3);

    armed = true;
    Profile p = WithCounter(4, {4.0, 4.5, 4.75});
    p.z = {40.0, 45.0, 47.5};
    p.intensity = {400, 450, 475};
    rig.Feed({p});
    rig.bridge.Shutdown();

    ASSERT_TRUE(resetDone.load());
    EXPECT_EQ(ring.WriteIndex(), 1);
    EXPECT_EQ(ring.Unread(), 1);
    EXPECT_EQ(ring.PointCount(0), 3u);
    EXPECT_EQ(std::vector<double>(ring.X(0), ring.X(0) + 3), p.x);
    EXPECT_EQ(std::vector<double>(ring.Z(0), ring.Z(0) + 3), p.z);
    EXPECT_EQ(std::vector<int32_t>(ring.Intensity(0), ring.Intensity(0) + 3), p.intensity);
    EXPECT_EQ(ring.Chunk(0).m_PictureCounter, 4);
}

TEST_F(ScannerThread, RingSlotsFollowTheScannerWidthWithinTheStagingSize)
{
    for (const auto& [pixels, points] : {std::pair{1280, 2560u}, {3000, 4096u}, {0, 1u}}) {
        SCOPED_TRACE(pixels);
        ScannerRig rig(pixels);
        rig.Connect();
        ASSERT_TRUE(rig.probe.HasRing());
        EXPECT_EQ(rig.probe.Ring().Capacity(), points);
    }
}

TEST_F(ScannerThread, EndsBeforeTheHandleIsClosed)
{
    ScannerRig rig;
    rig.Connect();
    ASSERT_TRUE(Eventually([&] { return rig.scanner.ProfileReads() >= 3; }));
    rig.bridge.Shutdown();
    EXPECT_EQ(rig.scanner.ReadsAfterDisconnect(), 0);
    const std::vector<std::string> lines = Lines(rig.err);
    auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    EXPECT_LT(at("Starting scanner thread"), at("Scanner thread has started"));
    EXPECT_LT(at("Scanner thread has started"), at("Scanner thread has been ended"));
    EXPECT_LT(at("Scanner thread has been ended"), at("Scanner monitor thread has been ended"));
    EXPECT_LT(at("Scanner monitor thread has been ended"), static_cast<std::ptrdiff_t>(lines.size()));
}

}  // namespace
}  // namespace lumabridge::test
