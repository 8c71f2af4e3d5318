#include <gtest/gtest.h>

#include <random>
#include <string>

#include "golden_frames.h"
#include "stream/frame_check.h"
#include "stream/stream_parser.h"
#include "test_frames.h"

using namespace quillan::stream;
using testframes::Bytes;
using testframes::concat;
using testframes::fromHex;

namespace {

struct RecordingSink : StreamSink {
    std::vector<Bytes> profiles, images, legacy, linearization;
    std::vector<std::string> xml, logs;
    std::vector<bool> syncChanges;
    int syncContainers = 0;
    bool linValid = true;

    void storeProfileContainer(const uint8_t* f, size_t n) override { profiles.emplace_back(f, f + n); }
    void storeImageContainer(const uint8_t* f, size_t n) override { images.emplace_back(f, f + n); }
    void storeLegacyProfile(const uint8_t* f, size_t n) override { legacy.emplace_back(f, f + n); }
    void xmlReceived(std::string_view text) override { xml.emplace_back(text); }
    void syncContainerArrived() override { ++syncContainers; }
    bool linearizationValid() const override { return linValid; }
    void linearizationReceived(const uint8_t* p, size_t n) override { linearization.emplace_back(p, p + n); }
    void synchronisationChanged(bool s) override { syncChanges.push_back(s); }
    FifoLevels fifoLevels() const override { return {100, 50, 12.5}; }
    void log(std::string_view line) override { logs.emplace_back(line); }
};

struct Harness {
    RecordingSink sink;
    uint32_t now = 5000;
    StreamParser parser{sink, [this] { return now; }};

    void feed(const Bytes& b) { parser.feed(b.data(), b.size()); }
    void feedInChunks(const Bytes& b, const std::vector<size_t>& sizes)
    {
        size_t pos = 0, k = 0;
        while (pos < b.size()) {
            const size_t n = std::min(sizes[k++ % sizes.size()], b.size() - pos);
            parser.feed(b.data() + pos, n);
            pos += n;
        }
    }
};

Bytes profile(uint16_t counter) { return testframes::profileContainer(counter, 1000u * counter); }

std::vector<uint16_t> countersOf(const std::vector<Bytes>& frames)
{
    std::vector<uint16_t> out;
    for (const Bytes& f : frames)
        out.push_back(static_cast<uint16_t>(f[16] | f[17] << 8));  // header block +8
    return out;
}

Bytes xmlContainer(const std::string& text)
{
    Bytes body(text.begin(), text.end());
    body.push_back(0);
    return testframes::container({testframes::block(0x021A0103, body)});
}

Bytes statusOnly(uint16_t counter) { return testframes::container({testframes::headerBlock(counter, 0)}); }

}  // namespace

TEST(StreamParser, SameFramesWhateverTheChunking)
{
    const Bytes mid = profile(40);
    const Bytes stream = concat({
        Bytes(mid.end() - 30, mid.end()),  // starts in the middle of a frame
        profile(1), fromHex(golden::kXmlContainer), fromHex(golden::kSyncContainer), profile(2),
        testframes::imageContainer(3, 3000), statusOnly(3), profile(4), testframes::legacyFrame(2, 400, 5, 0),
        testframes::legacyFrame(2, 400, 6, 0),
    });
    std::vector<std::pair<std::string, std::vector<size_t>>> chunkings = {
        {"whole", {stream.size()}}, {"1 byte", {1}}, {"2 bytes", {2}}, {"7 bytes", {7}}, {"odd sizes", {3, 13, 61}},
        {"tcp sized", {65535}},
    };
    std::mt19937 random(12345);
    for (int run = 0; run < 5; ++run) {
        std::vector<size_t> sizes;
        for (int i = 0; i < 64; ++i)
            sizes.push_back(1 + random() % 200);
        chunkings.push_back({"random " + std::to_string(run), sizes});
    }
    for (const auto& [name, sizes] : chunkings) {
        SCOPED_TRACE(name);
        Harness h;
        h.feedInChunks(stream, sizes);
        EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{1, 2, 4}));
        ASSERT_EQ(h.sink.profiles.size(), 3u);
        EXPECT_EQ(h.sink.profiles[0], profile(1));
        ASSERT_EQ(h.sink.images.size(), 1u);
        EXPECT_EQ(h.sink.images[0], testframes::imageContainer(3, 3000));
        ASSERT_EQ(h.sink.legacy.size(), 2u);
        EXPECT_EQ(h.sink.legacy[1], testframes::legacyFrame(2, 400, 6, 0));
        EXPECT_EQ(h.sink.xml, (std::vector<std::string>{"<device/>"}));
        EXPECT_EQ(h.sink.syncContainers, 1);
        EXPECT_EQ(h.parser.stats().syncCount, 1u);
        EXPECT_EQ(h.parser.stats().crcErrors, 0u);
        EXPECT_EQ(h.parser.stats().frameCountErrors, 0u);
        EXPECT_EQ(h.sink.syncChanges, (std::vector<bool>{true}));
    }
}

TEST(StreamParser, ContainerIsStoredOnlyWhenItsEndBlockArrives)
{
    Harness h;
    const Bytes c = profile(1);
    h.feed(Bytes(c.begin(), c.end() - 12));
    EXPECT_TRUE(h.sink.profiles.empty());
    h.feed(Bytes(c.end() - 12, c.end() - 1));
    EXPECT_TRUE(h.sink.profiles.empty());
    h.feed(Bytes(c.end() - 1, c.end()));
    ASSERT_EQ(h.sink.profiles.size(), 1u);
    EXPECT_EQ(h.sink.profiles[0], c);
}

TEST(StreamParser, EachBlockIsHandledOnce)
{
    Harness h;
    const Bytes c = xmlContainer("<a/>");
    h.feed(Bytes(c.begin(), c.end() - 10));  // XML block complete, end block not yet
    EXPECT_EQ(h.sink.xml.size(), 1u);
    for (auto it = c.end() - 10; it != c.end(); ++it)
        h.feed(Bytes(it, it + 1));
    EXPECT_EQ(h.sink.xml, (std::vector<std::string>{"<a/>"}));
    EXPECT_EQ(std::count(h.sink.logs.begin(), h.sink.logs.end(), "XML recieved"), 1);
}

TEST(StreamParser, XmlTextIsBoundedAndCutAtItsTerminator)
{
    Harness h;
    Bytes body = {'<', 'x', '/', '>', 0, 'j', 'u', 'n', 'k'};
    h.feed(testframes::container({testframes::block(0x021A0103, body)}));
    const std::string huge(0x20000 + 100, 'q');  // no terminator at all
    h.feed(testframes::container({testframes::block(0x021A0103, Bytes(huge.begin(), huge.end()))}));
    ASSERT_EQ(h.sink.xml.size(), 2u);
    EXPECT_EQ(h.sink.xml[0], "<x/>");
    EXPECT_EQ(h.sink.xml[1].size(), 0x20000u - 1);
}

TEST(StreamParser, CorruptedFrameIsCountedAndNotStored)
{
    Harness h;
    Bytes bad = profile(2);
    bad[70] ^= 0x01;  // inside the profile block
    Bytes badLegacy = testframes::legacyFrame(2, 400, 5, 0);
    badLegacy[200] ^= 0x80;
    h.feed(concat({profile(1), bad, profile(3)}));
    EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{1, 3}));
    EXPECT_EQ(h.parser.stats().crcErrors, 1u);
    EXPECT_EQ(h.parser.stats().frameCountErrors, 1u);
    EXPECT_EQ(h.sink.logs, (std::vector<std::string>{"PicCntErr: 1 != 3"}));

    h.feed(concat({testframes::legacyFrame(2, 400, 4, 0), badLegacy, testframes::legacyFrame(2, 400, 6, 0)}));
    EXPECT_EQ(h.sink.legacy.size(), 2u);
    EXPECT_EQ(h.parser.stats().crcErrors, 2u);
}

TEST(StreamParser, PictureCounterChecks)
{
    struct Case {
        std::vector<uint16_t> counters;
        uint32_t errors;
        std::vector<std::string> logs;
    };
    const Case cases[] = {
        {{65534, 65535, 0, 1}, 0, {}},
        {{5, 7}, 1, {"PicCntErr: 5 != 7"}},
        {{100}, 0, {}},
        {{9, 9}, 1, {"PicCntErr: 9 != 9"}},
        {{3, 4, 2, 3}, 1, {"PicCntErr: 4 != 2"}},
    };
    for (const Case& c : cases) {
        Harness h;
        for (uint16_t n : c.counters)
            h.feed(profile(n));
        EXPECT_EQ(h.parser.stats().frameCountErrors, c.errors) << c.counters.size();
        EXPECT_EQ(h.sink.logs, c.logs);
        // Legacy frames share the rule but log nothing.
        Harness legacy;
        for (uint16_t n : c.counters)
            legacy.feed(testframes::legacyFrame(3, 400, n, 0));
        EXPECT_EQ(legacy.parser.stats().frameCountErrors, c.errors);
        EXPECT_TRUE(legacy.sink.logs.empty());
    }
}

TEST(StreamParser, LinearizationFrame)
{
    const Bytes lin = fromHex(golden::kLinearizationFrame);
    Harness h;
    h.sink.linValid = false;
    h.feed(concat({lin, fromHex(golden::kSyncContainer), profile(1)}));
    ASSERT_EQ(h.sink.linearization.size(), 1u);
    EXPECT_EQ(h.sink.linearization[0], Bytes(lin.begin() + 6, lin.end() - 4));
    EXPECT_EQ(h.sink.logs, (std::vector<std::string>{"LinearizationData: OK"}));
    // Synchronisation is dropped after it; what follows is found again at once.
    EXPECT_EQ(h.sink.syncContainers, 1);
    EXPECT_EQ(h.sink.profiles.size(), 1u);
    EXPECT_EQ(h.parser.stats().syncCount, 2u);
    EXPECT_EQ(h.sink.syncChanges, (std::vector<bool>{true, false, true}));
    // No spurious picture-counter error from the LIN1DD bytes.
    h.feed(profile(2));
    EXPECT_EQ(h.parser.stats().frameCountErrors, 0u);

    h.sink.linValid = true;
    h.feed(lin);
    EXPECT_EQ(h.sink.linearization.size(), 1u);

    Harness bad;
    bad.sink.linValid = false;
    Bytes corrupted = lin;
    corrupted[100] ^= 0x04;
    bad.feed(corrupted);
    EXPECT_TRUE(bad.sink.linearization.empty());
    EXPECT_EQ(bad.sink.logs, (std::vector<std::string>{"LinearizationData: NOT OK"}));
    EXPECT_EQ(bad.parser.stats().crcErrors, 1u);
}

TEST(StreamParser, XmlBeforeLinearizationEmptiesTheBuffer)
{
    Harness h;
    h.sink.linValid = false;
    h.feed(concat({fromHex(golden::kXmlContainer), profile(1)}));
    EXPECT_EQ(h.sink.xml.size(), 1u);
    EXPECT_TRUE(h.sink.profiles.empty());
    EXPECT_FALSE(h.parser.synchronised());
    h.feed(profile(2));
    EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{2}));
}

TEST(StreamParser, RecoversAtOnceFromBrokenContainers)
{
    Bytes zeroLength = testframes::block(0x021A0102, 16);
    testframes::putLE32(zeroLength, 4, 0);
    Bytes shortBlock = testframes::block(0x021A0102, 16);
    testframes::putLE32(shortBlock, 4, 7);
    Bytes pastTotal = testframes::block(0x021A0102, 16);
    testframes::putLE32(pastTotal, 4, 400);
    Bytes noEndBlock = testframes::container({testframes::headerBlock(1, 0)});
    noEndBlock.resize(noEndBlock.size() - 12);
    testframes::putLE32(noEndBlock, 4, static_cast<uint32_t>(noEndBlock.size()));
    Bytes hugeTotal = profile(1);
    testframes::putLE32(hugeTotal, 4, 0x401000);
    Bytes badSync = fromHex(golden::kSyncContainer);
    testframes::putLE32(badSync, 4, 4);

    const std::pair<const char*, Bytes> cases[] = {
        {"block length 0", testframes::container({testframes::headerBlock(1, 0), zeroLength})},
        {"block length below 8", testframes::container({shortBlock})},
        {"block past the total length", testframes::container({pastTotal})},
        {"no end block", noEndBlock},
        {"total above the container limit", hugeTotal},
        {"sync container length below 8", badSync},
    };
    for (const auto& [name, broken] : cases) {
        SCOPED_TRACE(name);
        Harness h;
        h.feed(concat({profile(7), broken, profile(8)}));
        EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{7, 8}));
        EXPECT_TRUE(h.parser.synchronised());
    }
}

TEST(StreamParser, FalseHeadersInGarbageAreSkipped)
{
    const std::pair<const char*, Bytes> cases[] = {
        {"legacy pair with a huge length", {0x02, 0x19, 0xFF, 0xFF, 0x7F, 0x00, 0x11}},
        {"legacy pair with a short length", {0x03, 0x19, 0x80, 0x01, 0x00, 0x00, 0x22}},
        {"container magic with a huge length", {0xFF, 0x01, 0x1A, 0x02, 0x00, 0x10, 0x40, 0x00}},
        {"type 4 pair", {0x04, 0x19, 0x90, 0x01, 0x00, 0x00}},
        {"short garbage", {0x55}},
    };
    for (const auto& [name, garbage] : cases) {
        SCOPED_TRACE(name);
        Harness h;
        h.feed(concat({garbage, profile(1)}));
        EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{1}));
        EXPECT_EQ(h.parser.stats().syncCount, 1u);
    }
}

TEST(StreamParser, LegacyStreams)
{
    Harness h;
    // Fixed length, then a change of length, type-4 frames in between.
    h.feed(concat({testframes::legacyFrame(2, 400, 1, 0), testframes::legacyFrame(4, 262'400),
                   testframes::legacyFrame(2, 400, 2, 0), testframes::legacyFrame(3, 600, 3, 0),
                   testframes::legacyFrame(3, 600, 4, 0)}));
    EXPECT_EQ(h.sink.legacy.size(), 4u);
    EXPECT_EQ(h.sink.legacy[3], testframes::legacyFrame(3, 600, 4, 0));
    EXPECT_EQ(h.parser.stats().frameCountErrors, 0u);
    EXPECT_EQ(h.parser.stats().syncCount, 1u);

    // Checked-and-dropped frames end synchronisation; the next frame is found again.
    Harness h2;
    h2.feed(concat({testframes::legacyFrame(5, 400), testframes::legacyFrame(6, 500),
                    testframes::legacyFrame(2, 400, 1, 0)}));
    EXPECT_EQ(h2.sink.legacy.size(), 1u);
    EXPECT_EQ(h2.parser.stats().syncCount, 3u);
    EXPECT_EQ(h2.parser.stats().lostSyncCount, 2u);

    // A container right after a legacy frame needs a new search but is delivered.
    Harness h3;
    h3.feed(concat({testframes::legacyFrame(2, 400, 1, 0), profile(2)}));
    EXPECT_EQ(h3.sink.legacy.size(), 1u);
    EXPECT_EQ(h3.sink.profiles.size(), 1u);
    EXPECT_EQ(h3.parser.stats().lostSyncCount, 1u);
}

TEST(StreamParser, OverflowDropsTheHeldBytes)
{
    Harness h;
    // A container of unknown total length whose first block claims 8,000,000 bytes.
    Bytes head = testframes::containerWithTotal({}, 0);
    head.resize(8);
    Bytes block = testframes::block(0x021A0102, 16);
    testframes::putLE32(block, 4, 8'000'000);
    h.feed(concat({profile(1), head, block}));
    const Bytes zeros(1'000'000, 0);
    for (int i = 0; i < 9; ++i)
        h.feed(zeros);
    h.feed(profile(2));
    EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{1, 2}));
}

TEST(StreamParser, ResetAndResyncDropHeldBytes)
{
    const Bytes c = profile(1);
    const Bytes half(c.begin(), c.begin() + 40);
    const Bytes rest(c.begin() + 40, c.end());

    Harness h;
    h.feed(half);
    h.parser.reset();
    EXPECT_FALSE(h.parser.synchronised());
    h.feed(concat({rest, profile(2)}));
    EXPECT_EQ(countersOf(h.sink.profiles), (std::vector<uint16_t>{2}));
    EXPECT_EQ(h.parser.stats().syncCount, 1u);

    Harness r;
    r.feed(half);
    r.parser.requestResync();
    r.feed(concat({rest, profile(2)}));
    EXPECT_EQ(countersOf(r.sink.profiles), (std::vector<uint16_t>{2}));
    EXPECT_EQ(r.sink.syncChanges, (std::vector<bool>{true, false, true}));
}

TEST(StreamParser, ReportsTheKindOfTheLastContainer)
{
    Harness h;
    EXPECT_EQ(h.parser.frameKind(), 1);
    h.feed(testframes::imageContainer(1, 0));
    EXPECT_EQ(h.parser.frameKind(), 0);
    h.feed(statusOnly(2));
    EXPECT_EQ(h.parser.frameKind(), 0);
    h.feed(profile(3));
    EXPECT_EQ(h.parser.frameKind(), 1);
}

TEST(StreamParser, StatisticsLineOncePerSecond)
{
    Harness h;
    h.feed(concat({profile(1), profile(2), profile(3)}));  // time stamps 1000 apart
    EXPECT_TRUE(h.sink.logs.empty());
    h.now += 1000;
    h.feed(profile(4));
    EXPECT_TRUE(h.sink.logs.empty());
    h.now += 1;
    h.feed(profile(5));
    ASSERT_EQ(h.sink.logs.size(), 1u);
    EXPECT_EQ(h.sink.logs[0], "0.0 MByte/s 5.0 Hz Periode: 1000.000 us MaxPeriode: 1000.000 MinPeriod: 1000.000 "
                              "FiFo: 12.5 % SyncCnt: 1 FrameCntErr: 0 CRCErr: 0 WriteIn: 100 ReadOut: 50");
    h.now += 1001;
    h.feed({});
    ASSERT_EQ(h.sink.logs.size(), 2u);
    EXPECT_EQ(h.sink.logs[1], "0.0 MByte/s 0.0 Hz Periode: 1000.000 us MaxPeriode: 0.000 MinPeriod: 999999.000 "
                              "FiFo: 12.5 % SyncCnt: 1 FrameCntErr: 0 CRCErr: 0 WriteIn: 100 ReadOut: 50");
}

TEST(StreamParser, MutatedStreamsStoreOnlyWholeCheckedFrames)
{
    const std::vector<Bytes> pieces = {
        profile(1), testframes::imageContainer(2, 0), fromHex(golden::kXmlContainer), fromHex(golden::kSyncContainer),
        testframes::legacyFrame(2, 400, 3, 0), fromHex(golden::kLinearizationFrame), statusOnly(4),
        testframes::legacyFrame(5, 400),
    };
    std::mt19937 random(777);
    size_t stored = 0;
    for (int run = 0; run < 300; ++run) {
        Bytes stream;
        for (int i = 0; i < 12; ++i) {
            Bytes p = pieces[random() % pieces.size()];
            switch (random() % 5) {
            case 0: p[random() % p.size()] ^= static_cast<uint8_t>(1 + random() % 255); break;  // flipped byte
            case 1: p.resize(random() % p.size()); break;                                         // cut short
            case 2: testframes::putLE32(p, 4 * (1 + random() % 4), static_cast<uint32_t>(random())); break;  // bad field
            default: break;
            }
            stream.insert(stream.end(), p.begin(), p.end());
        }
        Harness h;
        h.sink.linValid = run % 2;
        std::vector<size_t> sizes;
        for (int i = 0; i < 16; ++i)
            sizes.push_back(1 + random() % 300);
        h.feedInChunks(stream, sizes);
        for (const auto* frames : {&h.sink.profiles, &h.sink.images, &h.sink.legacy})
            for (const Bytes& f : *frames)
                ASSERT_EQ(checkFrame(f.data(), f.size()), FrameCheck::Ok) << "run " << run;
        for (const std::string& text : h.sink.xml)
            ASSERT_LT(text.size(), 0x20000u);
        stored += h.sink.profiles.size() + h.sink.images.size() + h.sink.legacy.size();
    }
    EXPECT_GT(stored, 300u);
}
