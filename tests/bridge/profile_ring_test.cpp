#include "profile_ring.h"

#include <gtest/gtest.h>

namespace lumabridge {
namespace {

TEST(ProfileRingTest, WriterLapsAndReaderWrapClearsTheFlag)
{
    ProfileRing ring(4);
    EXPECT_EQ(ring.Unread(), 0);
    for (int i = 0; i < ProfileRing::kSlots - 1; ++i)
        ring.AdvanceWrite();
    EXPECT_EQ(ring.Unread(), ProfileRing::kSlots - 1);
    EXPECT_FALSE(ring.Overflow());
    ring.AdvanceWrite();  // 10000 profiles without a reader
    EXPECT_EQ(ring.WriteIndex(), 0);
    EXPECT_TRUE(ring.Overflow());
    EXPECT_EQ(ring.Unread(), ProfileRing::kSlots);
    for (int i = 0; i < 5; ++i)
        ring.AdvanceWrite();  // lapped: never more than a ring unread
    EXPECT_EQ(ring.Unread(), ProfileRing::kSlots);

    for (int i = 0; i < 9990; ++i)
        EXPECT_FALSE(ring.AdvanceRead());
    EXPECT_EQ(ring.Unread(), 15);
    for (int i = 0; i < 9; ++i)
        ring.AdvanceRead();
    EXPECT_TRUE(ring.AdvanceRead());
    EXPECT_FALSE(ring.Overflow());
    EXPECT_EQ(ring.Unread(), 5);
    ring.Reset();
    EXPECT_EQ(ring.Unread(), 0);
}

TEST(ProfileRingTest, SlotsHaveAFixedStrideAndTheirOwnCount)
{
    ProfileRing ring(3);
    ring.SetPointCount(0, 2);
    ring.SetPointCount(1, 4096);  // more than a slot holds
    EXPECT_EQ(ring.PointCount(0), 2u);
    EXPECT_EQ(ring.PointCount(1), 3u);
    EXPECT_EQ(ring.X(1) - ring.X(0), 3);
    EXPECT_EQ(ring.Intensity(ProfileRing::kSlots - 1) - ring.Intensity(0), 3 * (ProfileRing::kSlots - 1));
    EXPECT_THROW(ProfileRing(0), std::invalid_argument);
}

TEST(ProfileRingTest, CommitAfterAResetDropsTheProfile)
{
    ProfileRing ring(2);
    ring.AdvanceWrite();
    const int32_t slot = ring.WriteIndex();
    EXPECT_TRUE(ring.CommitWrite(slot));
    EXPECT_EQ(ring.Snapshot().write, 2);
    const int32_t chosen = ring.WriteIndex();
    ring.Reset();  // the reader's acquisition start, while the writer fills its slot
    EXPECT_FALSE(ring.CommitWrite(chosen));
    const ProfileRing::Counters c = ring.Snapshot();
    EXPECT_EQ(c.write, 0);
    EXPECT_EQ(c.read, 0);
    EXPECT_FALSE(c.overflow);
}

}  // namespace
}  // namespace lumabridge
