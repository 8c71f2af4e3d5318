// Throughput of the stream parser over 2048-column profile containers fed in
// receive-sized chunks: with a sink that drops the frames, and with one that stores
// them in a frame ring.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/bytes.h"
#include "stream/crc32.h"
#include "stream/frame_ring.h"
#include "stream/protocol.h"
#include "stream/stream_parser.h"

using namespace quillan::stream;

namespace {

void appendBlock(std::vector<uint8_t>& c, uint32_t tag, size_t length)
{
    const size_t at = c.size();
    c.resize(at + length);
    platform::storeLE32(c.data() + at, tag);
    platform::storeLE32(c.data() + at + 4, static_cast<uint32_t>(length));
}

// Header, statistics, ROI, register and 2048-column pixel profile blocks: 8,536 bytes.
std::vector<uint8_t> profileContainer(uint16_t counter)
{
    std::vector<uint8_t> c(8);
    platform::storeLE32(c.data(), kContainerMagic);
    appendBlock(c, kTagProfileHeader, 52);
    platform::storeLE16(c.data() + 8 + 8, counter);
    appendBlock(c, kTagStatistics, 60);
    appendBlock(c, kTagRoiX, 16);
    appendBlock(c, kTagRoiZ, 16);
    appendBlock(c, kTagRegistersB, 160);
    const size_t profile = c.size();
    appendBlock(c, kTagProfilePixel, 20 + 2048 * 4);
    for (size_t i = 0; i < 2048 * 4; ++i)
        c[profile + 20 + i] = static_cast<uint8_t>(i * 13);
    appendBlock(c, kTagEnd, 12);
    platform::storeLE32(c.data() + 4, static_cast<uint32_t>(c.size()));
    platform::storeBE32(c.data() + c.size() - 4, crc32Mpeg2(c.data(), c.size() - 4));
    return c;
}

std::vector<uint8_t> stream(size_t containers)
{
    std::vector<uint8_t> s;
    for (size_t i = 0; i < containers; ++i) {
        const auto c = profileContainer(static_cast<uint16_t>(i));
        s.insert(s.end(), c.begin(), c.end());
    }
    return s;
}

struct NullSink : StreamSink {
    size_t frames = 0;
    void storeProfileContainer(const uint8_t*, size_t) override { ++frames; }
    void storeImageContainer(const uint8_t*, size_t) override { ++frames; }
    void storeLegacyProfile(const uint8_t*, size_t) override { ++frames; }
    void xmlReceived(std::string_view) override {}
    void syncContainerArrived() override {}
    bool linearizationValid() const override { return true; }
    void linearizationReceived(const uint8_t*, size_t) override {}
    void synchronisationChanged(bool) override {}
    FifoLevels fifoLevels() const override { return {}; }
    void log(std::string_view) override {}
};

struct RingSink : NullSink {
    FrameRing ring{41'984'000};
    void storeProfileContainer(const uint8_t* f, size_t n) override { ring.push(f, n); }
};

template <typename Sink>
void parseStream(benchmark::State& state)
{
    // 1024 containers (about 8.7 MB) per pass; the counters repeat every 1024 frames.
    const std::vector<uint8_t> bytes = stream(1024);
    constexpr size_t kChunk = 65535;
    Sink sink;
    StreamParser parser(sink);
    for (auto _ : state) {
        for (size_t pos = 0; pos < bytes.size(); pos += kChunk)
            parser.feed(bytes.data() + pos, std::min(kChunk, bytes.size() - pos));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 1024));
    state.counters["crc_errors"] = parser.stats().crcErrors;
}

void BM_ParserProfileContainers(benchmark::State& state) { parseStream<NullSink>(state); }
void BM_ParserIntoFrameRing(benchmark::State& state) { parseStream<RingSink>(state); }

void BM_Crc32Mpeg2(benchmark::State& state)
{
    const std::vector<uint8_t> bytes = profileContainer(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32Mpeg2(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

BENCHMARK(BM_ParserProfileContainers);
BENCHMARK(BM_ParserIntoFrameRing);
BENCHMARK(BM_Crc32Mpeg2);

BENCHMARK_MAIN();
