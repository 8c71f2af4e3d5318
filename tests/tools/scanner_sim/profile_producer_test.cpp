// The streamed profile sequence: counters, injected faults and write boundaries.
#include "scanner_sim/profile_producer.h"

#include <gtest/gtest.h>

#include "golden_cases.h"
#include "platform/bytes.h"
#include "scanner_sim/crc32_mpeg2.h"

namespace scanner_sim {
namespace {

uint32_t le32(const std::string& s, size_t offset)
{
    return platform::loadLE32(reinterpret_cast<const uint8_t*>(s.data()) + offset);
}
uint32_t be32(const std::string& s, size_t offset)
{
    return platform::loadBE32(reinterpret_cast<const uint8_t*>(s.data()) + offset);
}
bool crcHolds(const std::string& frame)
{
    return frame.size() >= 4 && crc32Mpeg2(std::string_view(frame).substr(0, frame.size() - 4)) == be32(frame, frame.size() - 4);
}

std::shared_ptr<const ProfileSettings> smallSettings(uint32_t lineTime = 1000, uint16_t step = 3)
{
    ProfileSettings s;
    s.status.roiWidthX = 64;
    s.status.lineTime = lineTime;
    s.status.triggerEncoderStep = step;
    return std::make_shared<const ProfileSettings>(s);
}

std::vector<uint16_t> counters(const ProfileBatch& b)
{
    std::vector<uint16_t> out;
    for (const SentProfile& p : b.profiles)
        out.push_back(p.counters.pictureCounter);
    return out;
}

TEST(ProfileProducer, CountersAdvancePerProfile)
{
    ProfileProducer producer(CounterStart{65534, 0xFFFFFFFF - 1500, 10, 7000});
    const ProfileBatch b = producer.Build(smallSettings(1000, 3), 3, 0, true);
    ASSERT_EQ(b.profiles.size(), 3u);
    const ProfileCounters expected[] = {{0, 65534, 0xFFFFFFFF - 1500, 10, 7000},
                                        {1, 65535, 0xFFFFFFFF - 500, 13, 7003},
                                        {2, 0, 499, 16, 7006}};  // both wrap
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(b.profiles[i].counters, expected[i]) << i;
    EXPECT_EQ(b.bytes, profileContainer(*smallSettings(), expected[0]) + profileContainer(*smallSettings(), expected[1]) +
                           profileContainer(*smallSettings(), expected[2]));
    EXPECT_EQ(producer.SentCount(), 0u);  // nothing until committed
    producer.Commit(b);
    EXPECT_EQ(producer.SentCount(), 3u);
    EXPECT_EQ(producer.LastCounters(), expected[2]);
    producer.ResetEncoders();
    const ProfileBatch next = producer.Build(smallSettings(1000, 3), 2, 0, false);
    EXPECT_EQ(next.profiles[0].counters, (ProfileCounters{3, 1, 1499, 0, 0}));
    EXPECT_EQ(next.profiles[1].counters, (ProfileCounters{4, 2, 2499, 3, 3}));
}

TEST(ProfileProducer, CounterGapAndRepeat)
{
    StreamFaults f;
    f.counterGap = {3};
    f.gapSize = 2;
    f.counterRepeat = {5};
    ProfileProducer producer({}, f);
    const ProfileBatch b = producer.Build(smallSettings(), 8, 0, false);
    EXPECT_EQ(counters(b), (std::vector<uint16_t>{0, 1, 2, 5, 6, 6, 7, 8}));
    producer.Commit(b);
    ASSERT_TRUE(producer.Sent(3).has_value());
    EXPECT_EQ(producer.Sent(3)->counters.pictureCounter, 5);
    EXPECT_FALSE(producer.Sent(8).has_value());
}

TEST(ProfileProducer, ContainerFaults)
{
    const auto settings = smallSettings();
    const std::string clean = profileContainer(*settings, {});
    const size_t statistics = 8 + 52;
    struct Case {
        const char* name;
        StreamFaults faults;
        bool crcHolds;
        size_t size;
        uint32_t total;
    };
    const auto with = [](auto setter) {
        StreamFaults f;
        setter(f);
        return f;
    };
    const size_t n = clean.size();
    const Case cases[] = {
        {"flip", with([](StreamFaults& f) { f.flipByte = {0}; }), false, n, static_cast<uint32_t>(n)},
        {"zero length", with([](StreamFaults& f) { f.zeroBlockLength = {0}; }), true, n, static_cast<uint32_t>(n)},
        {"no end block", with([](StreamFaults& f) { f.missingEndBlock = {0}; }), false, n - 12, static_cast<uint32_t>(n - 12)},
        {"length mismatch", with([](StreamFaults& f) { f.lengthMismatch = {0}; }), true, n, static_cast<uint32_t>(n + 4)},
        {"unknown tag", with([](StreamFaults& f) { f.unknownTag = {0}; }), true, n + 16, static_cast<uint32_t>(n + 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileProducer producer({}, c.faults);
        const ProfileBatch b = producer.Build(settings, 2, 0, false);
        ASSERT_EQ(b.bytes.size(), c.size + n);  // the second profile is whole
        const std::string first = b.bytes.substr(0, c.size);
        EXPECT_EQ(crcHolds(first), c.crcHolds);
        EXPECT_EQ(le32(first, 4), c.total);
        EXPECT_EQ(b.bytes.substr(c.size), profileContainer(*settings, b.profiles[1].counters));
        EXPECT_EQ(sentContainer(b.profiles[0], c.faults), first);
        EXPECT_NE(b.profiles[0].fault, ProfileFault::None);
    }
    // The flipped byte is the only difference; zero length hits the statistics block.
    ProfileProducer flip({}, cases[0].faults);
    const ProfileBatch flipBatch = flip.Build(settings, 1, 0, false);
    const std::string unflipped = profileContainer(*settings, flipBatch.profiles[0].counters);
    size_t differences = 0;
    for (size_t i = 0; i < n; ++i)
        differences += flipBatch.bytes[i] != unflipped[i] ? 1 : 0;
    EXPECT_EQ(differences, 1u);
    ProfileProducer zero({}, cases[1].faults);
    EXPECT_EQ(le32(zero.Build(settings, 1, 0, false).bytes, statistics + 4), 0u);
    ProfileProducer noEnd({}, cases[2].faults);
    EXPECT_EQ(le32(noEnd.Build(settings, 1, 0, false).bytes, n - 12 - (20 + 64 * 4) ), kPixelProfileTag);
}

TEST(ProfileProducer, GarbageWithAFalseHeaderGoesFirst)
{
    StreamFaults f;
    f.garbageBefore = {1};
    ProfileProducer producer({}, f);
    const ProfileBatch b = producer.Build(smallSettings(), 2, 0, false);
    const size_t n = profileContainer(*smallSettings(), {}).size();
    ASSERT_EQ(b.bytes.size(), 2 * n + 64);
    EXPECT_EQ(test::toHex(b.bytes.substr(n + 20, 6)), "0219ffffff00");
    EXPECT_EQ(b.bytes.substr(n + 64), profileContainer(*smallSettings(), b.profiles[1].counters));
    EXPECT_EQ(b.cuts, std::vector<size_t>{n + 64});
    EXPECT_TRUE(b.profiles[1].garbageBefore);
}

TEST(ProfileProducer, SplitAtBlocksCutsEveryBlock)
{
    StreamFaults f;
    f.splitAtBlocks = true;
    ProfileProducer producer({}, f);
    const ProfileBatch b = producer.Build(smallSettings(), 2, 0, false);
    const size_t n = profileContainer(*smallSettings(), {}).size();
    // Blocks of 52, 60, 16, 16, 160, 276 bytes after the 8-byte head, then the end block.
    std::vector<size_t> one = {8, 60, 120, 136, 152, 312, 588};
    ASSERT_EQ(n, 600u);
    std::vector<size_t> expected = one;
    expected.push_back(n);
    for (size_t c : one)
        expected.push_back(n + c);
    EXPECT_EQ(b.cuts, expected);
}

TEST(ProfileProducer, CloseAndStartMidFrame)
{
    StreamFaults f;
    f.closeMidFrame = {1};
    f.startMidFrame = true;
    ProfileProducer producer({}, f);
    const size_t n = profileContainer(*smallSettings(), {}).size();
    const ProfileBatch b = producer.Build(smallSettings(), 5, 0, true);
    ASSERT_EQ(b.profiles.size(), 2u);  // the close ends the batch
    EXPECT_TRUE(b.closeAfter);
    EXPECT_EQ(b.profiles[0].fault, ProfileFault::StartMidFrame);
    EXPECT_EQ(b.profiles[1].fault, ProfileFault::CloseMidFrame);
    const std::string first = profileContainer(*smallSettings(), b.profiles[0].counters);
    const std::string second = profileContainer(*smallSettings(), b.profiles[1].counters);
    EXPECT_EQ(b.bytes, first.substr(n / 2) + second.substr(0, n / 2));
    producer.Commit(b);
    const ProfileBatch after = producer.Build(smallSettings(), 1, 1, false);  // not a connection start
    EXPECT_EQ(after.profiles[0].fault, ProfileFault::None);
    EXPECT_EQ(after.profiles[0].counters.pictureCounter, 2);
}

TEST(ProfileProducer, HistoryKeepsTheLastProfiles)
{
    ProfileProducer producer({}, {}, 3);
    producer.Commit(producer.Build(smallSettings(), 5, 0, false));
    EXPECT_FALSE(producer.Sent(1).has_value());
    ASSERT_TRUE(producer.Sent(2).has_value());
    EXPECT_EQ(producer.Sent(4)->counters.index, 4u);
}

}  // namespace
}  // namespace scanner_sim
