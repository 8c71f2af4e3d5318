#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "stream/frame_ring.h"

using quillan::stream::FrameRing;
using Bytes = std::vector<uint8_t>;

namespace {

// A frame whose every byte is derived from its number, so a torn frame is detectable.
Bytes numbered(uint32_t n, size_t length)
{
    Bytes f(length);
    for (size_t i = 0; i < length; ++i)
        f[i] = static_cast<uint8_t>((n * 131 + i) ^ (n >> 8));
    std::memcpy(f.data(), &n, sizeof n);
    return f;
}

uint32_t numberOf(const Bytes& f)
{
    uint32_t n;
    std::memcpy(&n, f.data(), sizeof n);
    return n;
}

struct Ring {
    explicit Ring(size_t capacity) : ring(capacity) { ring.setDelivery(true); }
    FrameRing ring;
    Bytes out;

    void push(uint32_t n, size_t length) { ASSERT_TRUE(ring.push(numbered(n, length).data(), length).stored); }
    std::vector<uint32_t> drain(bool newestOnly = false)
    {
        std::vector<uint32_t> got;
        while (ring.read(out, newestOnly).delivered) {
            EXPECT_EQ(out, numbered(numberOf(out), out.size()));
            got.push_back(numberOf(out));
        }
        return got;
    }
};

}  // namespace

TEST(FrameRing, KeepsOrderAcrossTheWrap)
{
    // 4,198,400 bytes hold four frames of 1,000,000; the rest at the end stays unused.
    Ring r(4'198'400);
    for (uint32_t n = 1; n <= 3; ++n)
        r.push(n, 1'000'000);
    ASSERT_TRUE(r.ring.read(r.out).delivered);
    ASSERT_TRUE(r.ring.read(r.out).delivered);
    for (uint32_t n = 4; n <= 6; ++n)
        r.push(n, 1'000'000);
    EXPECT_EQ(r.ring.levels().writeIndex, 2'000'000u);
    EXPECT_EQ(r.ring.levels().readIndex, 2'000'000u);
    EXPECT_DOUBLE_EQ(r.ring.levels().fillPercent, 100.0 * 4'000'000 / 4'198'400);
    EXPECT_EQ(r.drain(), (std::vector<uint32_t>{3, 4, 5, 6}));
    EXPECT_EQ(r.ring.droppedFrames(), 0u);
    EXPECT_DOUBLE_EQ(r.ring.levels().fillPercent, 0.0);
}

TEST(FrameRing, OverwritesTheOldestFrames)
{
    struct Case {
        uint32_t pushed;
        std::vector<uint32_t> expected;
        uint64_t dropped;
    };
    // Three slots of 100 bytes in 350.
    const Case cases[] = {
        {3, {1, 2, 3}, 0},
        {5, {3, 4, 5}, 2},
        {6, {4, 5, 6}, 3},  // lapped by exactly one ring: still full, not empty
        {7, {5, 6, 7}, 4},
    };
    for (const Case& c : cases) {
        Ring r(350);
        uint32_t overwritten = 0;
        for (uint32_t n = 1; n <= c.pushed; ++n)
            overwritten += r.ring.push(numbered(n, 100).data(), 100).overwritten;
        EXPECT_EQ(overwritten, c.dropped);
        EXPECT_EQ(r.ring.droppedFrames(), c.dropped);
        EXPECT_EQ(r.drain(), c.expected) << c.pushed;
    }
}

TEST(FrameRing, NewestOnlySkipsOlderFrames)
{
    Ring r(10'000);
    for (uint32_t n = 1; n <= 5; ++n)
        r.push(n, 100);
    const auto result = r.ring.read(r.out, true);
    ASSERT_TRUE(result.delivered);
    EXPECT_EQ(numberOf(r.out), 5u);
    EXPECT_FALSE(result.moreQueued);
    EXPECT_EQ(r.ring.queuedFrames(), 0u);
}

TEST(FrameRing, ReportsWhetherMoreFramesRemain)
{
    Ring r(10'000);
    r.push(1, 100);
    r.push(2, 100);
    EXPECT_TRUE(r.ring.read(r.out).moreQueued);
    EXPECT_FALSE(r.ring.read(r.out).moreQueued);
    EXPECT_FALSE(r.ring.read(r.out).delivered);
}

TEST(FrameRing, FrameOfAnotherLengthEmptiesTheRing)
{
    Ring r(10'000);
    EXPECT_FALSE(r.ring.push(numbered(1, 100).data(), 100).emptied);
    EXPECT_FALSE(r.ring.push(numbered(2, 100).data(), 100).emptied);
    EXPECT_TRUE(r.ring.push(numbered(3, 300).data(), 300).emptied);
    EXPECT_EQ(r.drain(), (std::vector<uint32_t>{3}));
    EXPECT_EQ(r.out.size(), 300u);
}

TEST(FrameRing, RejectsFramesThatCannotBeHeld)
{
    Ring r(1000);
    const Bytes big(1001);
    EXPECT_FALSE(r.ring.push(big.data(), big.size()).stored);
    EXPECT_FALSE(r.ring.push(big.data(), 0).stored);
    EXPECT_FALSE(r.ring.read(r.out).delivered);
    r.push(1, 1000);
    EXPECT_EQ(r.drain(), (std::vector<uint32_t>{1}));
}

TEST(FrameRing, DeliversOnlyWhileDeliveryIsOn)
{
    Ring r(10'000);
    r.push(1, 100);
    r.ring.setDelivery(false);
    EXPECT_FALSE(r.ring.read(r.out).delivered);
    EXPECT_FALSE(r.ring.peek(r.out).delivered);
    r.ring.setDelivery(true);
    EXPECT_EQ(r.drain(), (std::vector<uint32_t>{1}));
}

TEST(FrameRing, PeekThenConsume)
{
    Ring r(350);
    r.push(1, 100);
    r.push(2, 100);
    auto peeked = r.ring.peek(r.out);
    ASSERT_TRUE(peeked.delivered);
    EXPECT_EQ(numberOf(r.out), 1u);
    EXPECT_TRUE(r.ring.peek(r.out).delivered);  // still there
    EXPECT_TRUE(r.ring.consume(peeked.sequence));
    EXPECT_FALSE(r.ring.consume(peeked.sequence));

    // The peeked frame was overwritten meanwhile: consuming it removes nothing.
    peeked = r.ring.peek(r.out);
    EXPECT_EQ(numberOf(r.out), 2u);
    for (uint32_t n = 3; n <= 5; ++n)
        r.push(n, 100);
    EXPECT_FALSE(r.ring.consume(peeked.sequence));
    EXPECT_EQ(r.drain(), (std::vector<uint32_t>{3, 4, 5}));
}

TEST(FrameRing, LastStoredAndReset)
{
    Ring r(10'000);
    EXPECT_FALSE(r.ring.lastStored(r.out));
    r.push(1, 100);
    r.push(2, 100);
    r.drain();
    ASSERT_TRUE(r.ring.lastStored(r.out));
    EXPECT_EQ(numberOf(r.out), 2u);
    EXPECT_TRUE(r.ring.storedSinceReset());

    r.push(3, 100);
    r.ring.reset();
    EXPECT_FALSE(r.ring.storedSinceReset());
    EXPECT_FALSE(r.ring.lastStored(r.out));
    EXPECT_FALSE(r.ring.read(r.out).delivered);
    EXPECT_EQ(r.ring.levels().writeIndex, 0u);
    // The frame length survives a reset: the next frame of that length does not empty the ring.
    EXPECT_FALSE(r.ring.push(numbered(4, 100).data(), 100).emptied);
}

TEST(FrameRing, ConcurrentReadersNeverSeeTornFrames)
{
    constexpr uint32_t kFrames = 20'000;
    constexpr size_t kLength = 1024;
    for (bool withNewestOnlyReader : {false, true}) {
        SCOPED_TRACE(withNewestOnlyReader);
        FrameRing ring(8 * kLength + 100);  // eight slots: the writer laps slow readers
        ring.setDelivery(true);
        std::atomic<bool> done{false};

        struct Seen {
            std::vector<uint64_t> sequences;
            uint64_t torn = 0, disorder = 0;
        };
        auto reader = [&](bool newestOnly, Seen& seen) {
            Bytes out;
            for (;;) {
                const bool finished = done.load();
                const auto r = ring.read(out, newestOnly);
                if (!r.delivered) {
                    if (finished)
                        break;
                    std::this_thread::yield();
                    continue;
                }
                if (out != numbered(numberOf(out), kLength) || numberOf(out) != r.sequence + 1)
                    ++seen.torn;
                if (!seen.sequences.empty() && r.sequence <= seen.sequences.back())
                    ++seen.disorder;
                seen.sequences.push_back(r.sequence);
            }
        };
        Seen seen[3];
        std::thread a(reader, false, std::ref(seen[0])), b(reader, false, std::ref(seen[1])),
            c(reader, withNewestOnlyReader, std::ref(seen[2]));
        for (uint32_t n = 1; n <= kFrames; ++n) {
            const Bytes f = numbered(n, kLength);
            ASSERT_TRUE(ring.push(f.data(), f.size()).stored);
        }
        done = true;
        a.join();
        b.join();
        c.join();

        std::vector<uint64_t> all;
        for (const Seen& s : seen) {
            EXPECT_EQ(s.torn, 0u);
            EXPECT_EQ(s.disorder, 0u);
            all.insert(all.end(), s.sequences.begin(), s.sequences.end());
        }
        std::sort(all.begin(), all.end());
        EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a frame was delivered twice";
        EXPECT_EQ(ring.queuedFrames(), 0u);
        // Each frame was delivered or overwritten; the newest-only reader also skips some.
        if (withNewestOnlyReader)
            EXPECT_LE(all.size() + ring.droppedFrames(), kFrames);
        else
            EXPECT_EQ(all.size() + ring.droppedFrames(), kFrames);
    }
}

// The writer copies outside the lock: no reader path (read, peek, lastStored) may see a frame
// being written, with one slot (each frame replaces the last stored one), two or many slots, and
// with resets overlapping the copies.
TEST(FrameRing, NoReaderPathSeesAFrameBeingWritten)
{
    constexpr size_t kLength = 4096;
    for (size_t slots : {size_t{1}, size_t{2}, size_t{8}}) {
        SCOPED_TRACE(slots);
        FrameRing ring(slots * kLength + 10);
        ring.setDelivery(true);
        std::atomic<bool> done{false};
        std::atomic<uint64_t> torn{0}, seen{0};
        auto check = [&](const Bytes& out) {
            ++seen;
            if (out != numbered(numberOf(out), kLength))
                ++torn;
        };
        std::thread reader([&] {
            Bytes out;
            while (!done)
                if (ring.read(out).delivered)
                    check(out);
        });
        std::thread peeker([&] {
            Bytes out;
            while (!done) {
                auto p = ring.peek(out);
                if (p.delivered) {
                    check(out);
                    ring.consume(p.sequence);
                }
            }
        });
        std::thread last([&] {
            Bytes out;
            while (!done)
                if (ring.lastStored(out))
                    check(out);
        });
        std::thread resetter([&] {
            while (!done) {
                ring.reset();
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
        for (uint32_t n = 1; n <= 20'000; ++n) {
            const Bytes f = numbered(n, kLength);
            ring.push(f.data(), f.size());
        }
        done = true;
        reader.join();
        peeker.join();
        last.join();
        resetter.join();
        EXPECT_EQ(torn.load(), 0u);
        EXPECT_GT(seen.load(), 0u);
    }
}

TEST(FrameRing, ResetDropsEveryFrameStoredBeforeIt)
{
    for (size_t slots : {size_t{1}, size_t{3}}) {
        Ring r(slots * 100);
        r.push(1, 100);
        r.ring.reset();
        Bytes out;
        EXPECT_FALSE(r.ring.lastStored(out)) << slots;
        EXPECT_FALSE(r.ring.read(out).delivered) << slots;
        r.push(2, 100);
        EXPECT_EQ(r.drain(), std::vector<uint32_t>{2}) << slots;
        ASSERT_TRUE(r.ring.lastStored(out)) << slots;
        EXPECT_EQ(numberOf(out), 2u) << slots;
    }
}
