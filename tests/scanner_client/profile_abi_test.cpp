// Profiles from the simulator's stream through Quillan_GetXZIExtended, checked against what it sent.
#include "eventually.h"
#include "quillan.h"
#include "scanner_sim/profile_container.h"
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kMaxPoints = 2048 * 4;

struct Profile {
    int points = 0;
    std::vector<double> x, z;
    std::vector<int> intensity, width;
    unsigned encoder = 0;
    unsigned char io = 0;
    int counter = -1;
};

class Profiles : public ::testing::Test {
protected:
    void start(scanner_sim::Options options = {})
    {
        sim = std::make_unique<scanner_sim::ScannerSim>(std::move(options));
        sim->Start();
        port = std::to_string(sim->Port());
        h = Quillan_Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ready());
    }
    void TearDown() override
    {
        if (h) {
            EXPECT_EQ(Quillan_Disconnect(h), nullptr);
        }
        Quillan_WriteData(nullptr, const_cast<char*>("SetDllFiFoSize=41984000"), 0);
    }

    bool ready()
    {
        return eventually(
            [&] {
                int s = 0;
                Quillan_GetConnectStatus(h, &s);
                return s == 3;
            },
            3000ms);
    }
    int write(const std::string& text)
    {
        return Quillan_WriteData(h, const_cast<char*>(text.c_str()), static_cast<int>(text.size()));
    }

    // One profile, or points < 0 on a time-out.
    Profile next(int timeoutMs = 2000)
    {
        Profile p;
        p.x.resize(kMaxPoints);
        p.z.resize(kMaxPoints);
        p.intensity.resize(kMaxPoints);
        p.width.resize(kMaxPoints);
        p.points = Quillan_GetXZIExtended(h, p.x.data(), p.z.data(), p.intensity.data(), p.width.data(), kMaxPoints,
                                          &p.encoder, &p.io, timeoutMs, nullptr, 0, &p.counter);
        return p;
    }

    // The sent profile with this picture counter among the last `window` sent. The simulator
    // records a profile once its write returned, which may be after the client read it.
    std::optional<scanner_sim::SentProfile> sentWithCounter(int counter, uint64_t window = 70000)
    {
        std::optional<scanner_sim::SentProfile> found;
        eventually([&] { return (found = findSent(counter, window)).has_value(); }, 1000ms);
        return found;
    }

    std::optional<scanner_sim::SentProfile> findSent(int counter, uint64_t window)
    {
        uint64_t sent = sim->ProfilesSent();
        for (uint64_t i = sent; i-- > 0 && sent - i <= window;) {
            auto p = sim->ProfileAt(i);
            if (p && p->counters.pictureCounter == counter && p->fault == scanner_sim::ProfileFault::None)
                return p;
        }
        return std::nullopt;
    }

    // Every point equals the analytic millimetres of what the simulator encoded.
    void expectMatches(const Profile& got, const scanner_sim::SentProfile& sent)
    {
        auto values = scanner_sim::profileValues(*sent.settings, sent.counters);
        const auto& g = sent.settings->geometry;
        const auto& status = sent.settings->status;
        ASSERT_EQ(got.points, values.columns * static_cast<int>(values.echoSlots.size()));
        int i = 0;
        for (int c = 0; c < values.columns; ++c)
            for (size_t e = 0; e < values.echoSlots.size(); ++e, ++i) {
                const auto& point = values.at(c, e);
                double u = scanner_sim::sensorU(status, c);
                double v = scanner_sim::sensorV(status, point.zRaw);
                double xe = point.zRaw == 0 ? 0 : (u / g.widthX - 0.5) * (g.xStart + (g.xEnd - g.xStart) * v / g.widthZ);
                double ze = point.zRaw == 0 ? 0 : g.zStart + g.zRange * v / g.widthZ;
                ASSERT_NEAR(got.x[static_cast<size_t>(i)], xe, 1e-6) << "column " << c;
                ASSERT_NEAR(got.z[static_cast<size_t>(i)], ze, 1e-6) << "column " << c;
                ASSERT_EQ(got.intensity[static_cast<size_t>(i)], point.strength) << "column " << c;
                ASSERT_EQ(got.width[static_cast<size_t>(i)], point.width) << "column " << c;
            }
        EXPECT_EQ(got.counter, sent.counters.pictureCounter);
        // With no user line set to the encoder function, the TTL/RS422 encoder is reported.
        EXPECT_EQ(got.encoder, sent.counters.encoderTtl);
    }

    std::unique_ptr<scanner_sim::ScannerSim> sim;
    std::string port;
    QuillanHandle h = nullptr;
};

TEST_F(Profiles, StreamedProfilesArriveInMillimetresInOrder)
{
    start();
    ASSERT_EQ(write("SetAcquisitionLineTime=10000\r"), 29);
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    int previous = -1;
    for (int n = 0; n < 100; ++n) {
        Profile p = next();
        ASSERT_GT(p.points, 0) << "profile " << n << " result " << p.points;
        if (previous >= 0) {
            EXPECT_EQ(p.counter, (previous + 1) & 0xFFFF) << "no profile lost while the reader keeps up";
        }
        previous = p.counter;
        auto sent = sentWithCounter(p.counter);
        ASSERT_TRUE(sent);
        expectMatches(p, *sent);
    }
    EXPECT_EQ(write("SetAcquisitionStop\r"), 19);
}

TEST_F(Profiles, StatusValuesFollowTheFrameJustDelivered)
{
    start();
    ASSERT_EQ(write("SetExposureTime=321\r"), 20);
    ASSERT_EQ(write("SetAcquisitionLineTime=500\r"), 27);
    char buf[64];
    EXPECT_EQ(Quillan_ReadData(h, const_cast<char*>("PictureCounter"), buf, sizeof(buf), -1), -4);
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    auto read = [&](const char* name) {
        char value[64] = {};
        int rc = Quillan_ReadData(h, const_cast<char*>(name), value, sizeof(value), -1);
        return rc == 0 ? std::string(value) : "rc " + std::to_string(rc);
    };
    for (int n = 0; n < 30; ++n) {
        Profile p = next();
        ASSERT_GT(p.points, 0);
        if (n % 10 == 0)
            std::this_thread::sleep_for(30ms);  // newer frames are stored meanwhile
        // Status values are read right after the profile, as a caller does; the search of the
        // simulator's history that follows can be slow (sanitizer builds).
        const std::string counter = read("PictureCounter");
        const std::string timestamp = read("GetTimestamp");
        const std::string systemTime = read("SystemTime");
        const std::string exposure = read("ExposureTime");
        auto sent = sentWithCounter(p.counter);
        ASSERT_TRUE(sent);
        EXPECT_EQ(counter, std::to_string(p.counter));
        EXPECT_EQ(timestamp, std::to_string(static_cast<int32_t>(sent->counters.timeStamp)));
        EXPECT_EQ(systemTime, timestamp);
        EXPECT_EQ(exposure, "321");
    }
    EXPECT_EQ(Quillan_ReadData(h, const_cast<char*>("SerialNumber"), buf, sizeof(buf), -1), -2);
    EXPECT_STREQ(buf, "");
    char block[256];
    ASSERT_EQ(Quillan_ReadData(h, const_cast<char*>("GetIDGeneral"), block, sizeof(block), -1), 0);
    EXPECT_EQ(std::string(block, 4), std::string("\x01\x01\x1a\x02", 4));
    EXPECT_EQ(Quillan_ReadData(h, const_cast<char*>("IDGeneral"), block, sizeof(block), 0), -2);
    write("SetAcquisitionStop\r");
}

// Status values leave the frame last delivered once profiles are no longer read after it:
// after ResetDllFiFo, and while the caller reads status values only.
TEST_F(Profiles, StatusValuesFollowNewFramesAfterResetAndWithoutProfileReads)
{
    enum class Then { Reset, StatusOnly };
    for (Then then : {Then::Reset, Then::StatusOnly}) {
        SCOPED_TRACE(then == Then::Reset ? "reset" : "status only");
        start();
        ASSERT_EQ(write("SetExposureTime=100\r"), 20);
        ASSERT_EQ(write("SetAcquisitionLineTime=2000\r"), 28);
        ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
        auto read = [&](const char* name) {
            char value[64] = {};
            int rc = Quillan_ReadData(h, const_cast<char*>(name), value, sizeof(value), -1);
            return rc == 0 ? std::string(value) : "rc " + std::to_string(rc);
        };
        Profile p = next();
        ASSERT_GT(p.points, 0);
        const std::string delivered = std::to_string(p.counter);
        EXPECT_EQ(read("PictureCounter"), delivered);
        EXPECT_EQ(read("ExposureTime"), "100");
        ASSERT_EQ(write("SetExposureTime=555\r"), 20);  // frames made from now on carry 555
        if (then == Then::Reset) {
            EXPECT_EQ(Quillan_ResetDllFiFo(h), 0);
        }
        EXPECT_TRUE(eventually([&] { return read("ExposureTime") == "555"; }, 3000ms)) << read("ExposureTime");
        std::string counter = read("PictureCounter");
        EXPECT_NE(counter, delivered);
        EXPECT_GT(std::atoi(counter.c_str()), p.counter);
        write("SetAcquisitionStop\r");
        EXPECT_EQ(Quillan_Disconnect(h), nullptr);
        h = nullptr;
    }
}

TEST_F(Profiles, CorruptedFrameIsSkippedAndGapIsVisible)
{
    scanner_sim::Options options;
    options.streamFaults.flipByte = {5};
    options.streamFaults.counterGap = {12};
    options.streamFaults.gapSize = 3;
    start(options);
    ASSERT_EQ(write("SetAcquisitionLineTime=5000\r"), 28);
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    std::vector<int> counters;
    for (int n = 0; n < 20; ++n) {
        Profile p = next();
        ASSERT_GT(p.points, 0);
        counters.push_back(p.counter);
        auto sent = sentWithCounter(p.counter);
        ASSERT_TRUE(sent) << "delivered counter " << p.counter << " was not sent intact";
        expectMatches(p, *sent);
    }
    // Profile 5 never arrives; after profile 11 the counter jumps by the gap.
    std::vector<int> expected;
    for (int i = 0; i < 22 && expected.size() < counters.size(); ++i)
        if (i != 5)
            expected.push_back(i < 12 ? i : i + 3);
    EXPECT_EQ(counters, expected);
}

TEST_F(Profiles, BrokenStreamsLoseOnlyTheBrokenFrames)
{
    struct Case {
        const char* name;
        std::function<void(scanner_sim::Options&)> set;
        bool fifthArrives;
        // A stream that starts inside a frame can hide a false legacy header in profile data,
        // which holds synchronisation back until its length has passed: only later frames count.
        bool lateStart = false;
    };
    const Case cases[] = {
        {"garbage with a false header", [](auto& o) { o.streamFaults.garbageBefore = {5}; }, true},
        {"block length 0", [](auto& o) { o.streamFaults.zeroBlockLength = {5}; }, false},
        {"missing end block", [](auto& o) { o.streamFaults.missingEndBlock = {5}; }, false},
        {"total length off", [](auto& o) { o.streamFaults.lengthMismatch = {5}; }, false},
        {"unknown block", [](auto& o) { o.streamFaults.unknownTag = {5}; }, false},
        {"one block per write", [](auto& o) { o.streamFaults.splitAtBlocks = true; }, true},
        {"three bytes per write", [](auto& o) { o.chunkSize = 3; o.chunkPause = std::chrono::microseconds(0); }, true},
        {"stream starts mid-frame", [](auto& o) { o.streamFaults.startMidFrame = true; }, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scanner_sim::Options options;
        c.set(options);
        start(options);
        ASSERT_EQ(write("SetAcquisitionLineTime=5000\r"), 28);
        ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
        std::vector<int> counters;
        int undecodable = 0;  // a frame that passed its checks but holds no profile gives 0 points
        while (counters.size() < (c.lateStart ? 8u : 1u) || counters.back() < (c.lateStart ? counters.front() + 7 : 14)) {
            Profile p = next();
            ASSERT_GE(p.points, 0) << "after " << counters.size() << " profiles";
            if (p.points == 0 && ++undecodable <= 1)
                continue;
            ASSERT_GT(p.points, 0) << "after " << counters.size() << " profiles";
            counters.push_back(p.counter);
            auto sent = sentWithCounter(p.counter);
            ASSERT_TRUE(sent) << "counter " << p.counter << " delivered but not sent intact";
            expectMatches(p, *sent);
        }
        bool fifth = std::find(counters.begin(), counters.end(), 5) != counters.end();
        std::string seen;
        for (int n : counters)
            seen += std::to_string(n) + " ";
        SCOPED_TRACE("delivered " + seen);
        if (!c.fifthArrives) {
            EXPECT_FALSE(fifth);
        } else {
            EXPECT_EQ(undecodable, 0);
        }
        const int from = c.lateStart ? counters.front() : 8;
        for (int n = from; n <= from + 6; ++n)
            EXPECT_NE(std::find(counters.begin(), counters.end(), n), counters.end()) << n;
        write("SetAcquisitionStop\r");
        EXPECT_EQ(Quillan_Disconnect(h), nullptr);
        h = nullptr;
    }
}

TEST_F(Profiles, CloseMidFrameThenReadyAgainAndProfilesFlow)
{
    scanner_sim::Options options;
    options.streamFaults.closeMidFrame = {10};
    start(options);
    ASSERT_EQ(write("SetAcquisitionLineTime=5000\r"), 28);
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    ASSERT_TRUE(sim->WaitForAccepts(2, 5000ms));
    ASSERT_TRUE(ready());
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    bool flowing = eventually(
        [&] {
            Profile p = next(200);
            if (p.points <= 0)
                return false;
            auto sent = sentWithCounter(p.counter);
            return sent && sent->connection == 1;
        },
        5000ms);
    EXPECT_TRUE(flowing);
}

TEST_F(Profiles, SlowReaderLosesOldestFramesButNeverGetsATornOne)
{
    ASSERT_EQ(Quillan_WriteData(nullptr, const_cast<char*>("SetDllFiFoSize=4198400"), 0), 22);
    start();
    ASSERT_EQ(write("SetAcquisitionLineTime=100\r"), 27);
    ASSERT_EQ(write("SetAcquisitionStart\r"), 20);
    ASSERT_TRUE(sim->WaitForProfilesSent(800, 20000ms));  // more than the FIFO's 491 frames
    int previous = -1;
    bool skipped = false;
    for (int n = 0; n < 100; ++n) {
        Profile p = next();
        ASSERT_GT(p.points, 0);
        if (previous >= 0 && p.counter != ((previous + 1) & 0xFFFF))
            skipped = true;
        previous = p.counter;
        auto sent = sentWithCounter(p.counter);
        ASSERT_TRUE(sent);
        expectMatches(p, *sent);
        if (n % 25 == 0)
            std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(skipped) << "the reader was expected to fall behind";
    write("SetAcquisitionStop\r");
}

}  // namespace
