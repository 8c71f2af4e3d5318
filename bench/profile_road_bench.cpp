// Profiles per second on the road behind Quillan_GetXZIExtended: a 2048-column
// pixel-layout container (one echo, Z + strength + width) decoded, converted
// to millimetres through 8 x 8-cell LIN1DD tables and written to the caller's
// arrays; also with the copy-out of the frame from the frame ring, and each
// step on its own.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "lin/lin_store.h"
#include "lin/linearization.h"
#include "lin/profile_container.h"
#include "lin/profile_points.h"
#include "lin1dd_builder.h"
#include "platform/bytes.h"
#include "stream/crc32.h"
#include "stream/frame_ring.h"

using namespace quillan;

namespace {

constexpr int kColumns = 2048;
constexpr int kSensorRows = 1088;

void appendBlock(std::vector<uint8_t>& c, uint32_t tag, size_t length)
{
    const size_t at = c.size();
    c.resize(at + length);
    platform::storeLE32(c.data() + at, tag);
    platform::storeLE32(c.data() + at + 4, static_cast<uint32_t>(length));
}

// Sensor row (in 1/32 pixel) of the laser line in column c: a smooth curve
// over rows 144 .. 944 with a little noise.
uint16_t lineRow(int c)
{
    const double row = 544.0 + 400.0 * std::sin(c / 326.0);
    return static_cast<uint16_t>(std::lround(row * 32.0) + (c * 7) % 13);
}

// General, static, both ROI, FPGA register and pixel profile blocks, then the end block.
std::vector<uint8_t> pixelContainer(uint16_t counter)
{
    std::vector<uint8_t> c(8);
    platform::storeLE32(c.data(), kContainerMagic);
    size_t at = c.size();
    appendBlock(c, kTagGeneral, 44);
    platform::storeLE16(c.data() + at + 8, counter);
    platform::storeLE32(c.data() + at + 22, 123456u + counter);
    c[at + 30] = 0x22;
    appendBlock(c, kTagStatic, 60);
    at = c.size();
    appendBlock(c, kTagRoiX, 16);
    platform::storeLE16(c.data() + at + 12, kColumns);  // offset 0, step 0
    at = c.size();
    appendBlock(c, kTagRoiZ, 16);
    platform::storeLE16(c.data() + at + 12, kSensorRows);
    appendBlock(c, kTagFpgaRegistersB, 160);

    at = c.size();
    appendBlock(c, kTagPixelProfile, 20 + kColumns * 4);
    uint8_t* b = c.data() + at;
    b[10] = 0x01;  // echo 0
    b[11] = 0x00;  // no raw samples
    b[12] = 0x07;  // Z, strength, width
    b[13] = 16;    // field sizes in bits
    b[14] = 8;
    b[15] = 8;
    for (int col = 0; col < kColumns; ++col) {
        uint8_t* p = b + 20 + 4 * col;
        platform::storeLE16(p, lineRow(col));
        p[2] = static_cast<uint8_t>(col * 29);
        p[3] = static_cast<uint8_t>(col * 53);
    }
    appendBlock(c, kTagEnd, 12);
    platform::storeLE32(c.data() + 4, static_cast<uint32_t>(c.size()));
    platform::storeBE32(c.data() + c.size() - 4, stream::crc32Mpeg2(c.data(), c.size() - 4));
    return c;
}

// Serial number, parameters and both tables with 8 x 8 cells over the sensor.
std::vector<uint8_t> lin1ddImage()
{
    const lintest::Geometry g;
    std::vector<double> u, v;
    for (int k = 0; k <= 8; ++k) {
        u.push_back(kColumns / 8.0 * k);
        v.push_back(kSensorRows / 8.0 * k);
    }
    lintest::Bytes serial;
    lintest::putU64(serial, 4711);
    return lintest::concat({lintest::magic(), lintest::record(1, serial), lintest::record(2, g.parameters()),
                            lintest::record(3, g.tables(u, v))});
}

struct CallerArrays {
    std::vector<double> x = std::vector<double>(kColumns);
    std::vector<double> z = std::vector<double>(kColumns);
    std::vector<int> intensity = std::vector<int>(kColumns);
    std::vector<int> width = std::vector<int>(kColumns);
    PointArrays arrays() { return {x.data(), z.data(), intensity.data(), width.data(), kColumns}; }
};

// Everything one reader needs, built from the bytes and checked once against
// the closed form of the tables.
struct Road {
    std::vector<uint8_t> container = pixelContainer(7);
    std::vector<uint8_t> image = lin1ddImage();
    Linearization lin;
    ProfileContainerDecoder decoder;
    std::unique_ptr<DecodedProfile> profile = std::make_unique<DecodedProfile>();
    CallerArrays out;

    // The error text, or null when the road gives the expected points.
    const char* setUp()
    {
        if (ParseLin1dd(image.data(), image.size(), lin) != kLinOk)
            return "LIN1DD image not parsed";
        const int n = run(container, &lin, false);
        if (n != kColumns)
            return "not every point emitted";
        const lintest::Geometry g;
        for (int c = 0; c < kColumns; ++c) {
            const double v = lineRow(c) / 32.0;
            if (std::fabs(out.x[c] - g.x(c, v)) > 1e-6 || std::fabs(out.z[c] - g.z(c, v)) > 1e-6)
                return "points differ from the tables' closed form";
        }
        return nullptr;
    }

    int run(const std::vector<uint8_t>& frame, const Linearization* l, bool sortByX)
    {
        decoder.decode(frame.data(), frame.size(), false, *profile);
        if (!profile->decoded)
            return -1;
        LinearizeProfile(*profile, l);
        return EmitProfilePoints(*profile, out.arrays(), sortByX);
    }
};

void countProfiles(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["profiles/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

template <bool SortByX>
void profileRoad(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(road.run(road.container, &road.lin, SortByX));
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

void BM_ProfileRoad(benchmark::State& state) { profileRoad<false>(state); }
void BM_ProfileRoadSortByX(benchmark::State& state) { profileRoad<true>(state); }

// As the connection's reader: the frame copied out of the ring, the active
// tables taken from the store, then decoded, converted and emitted. The ring is
// refilled, outside the timing, whenever it runs dry.
void BM_ProfileRoadFromRing(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    LinStore store;
    if (store.loadImage(road.image.data(), road.image.size()) != kLinOk) {
        state.SkipWithError("LIN1DD image not loaded");
        return;
    }
    stream::FrameRing ring(41'984'000);
    ring.setDelivery(true);
    const size_t slots = ring.capacity() / road.container.size();
    std::vector<uint8_t> frame;
    for (auto _ : state) {
        if (ring.queuedFrames() == 0) {
            state.PauseTiming();
            for (size_t i = 0; i < slots; ++i)
                ring.push(road.container.data(), road.container.size());
            state.ResumeTiming();
        }
        if (!ring.read(frame).delivered) {
            state.SkipWithError("no frame delivered");
            break;
        }
        const auto lin = store.active();
        benchmark::DoNotOptimize(road.run(frame, lin.get(), false));
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

void BM_DecodeOnly(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    for (auto _ : state) {
        road.decoder.decode(road.container.data(), road.container.size(), false, *road.profile);
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

// Conversion of an already decoded profile; the outputs are overwritten each time.
void BM_LinearizeOnly(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    for (auto _ : state) {
        LinearizeProfile(*road.profile, &road.lin);
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

void BM_EmitOnly(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(EmitProfilePoints(*road.profile, road.out.arrays(), false));
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

// The bridge's call: x, z and intensity, no width array.
void BM_EmitWithoutWidth(benchmark::State& state)
{
    Road road;
    if (const char* error = road.setUp()) {
        state.SkipWithError(error);
        return;
    }
    PointArrays arrays = road.out.arrays();
    arrays.width = nullptr;
    for (auto _ : state) {
        benchmark::DoNotOptimize(EmitProfilePoints(*road.profile, arrays, false));
        benchmark::ClobberMemory();
    }
    countProfiles(state);
}

}  // namespace

BENCHMARK(BM_ProfileRoad);
BENCHMARK(BM_ProfileRoadSortByX);
BENCHMARK(BM_ProfileRoadFromRing);
BENCHMARK(BM_DecodeOnly);
BENCHMARK(BM_LinearizeOnly);
BENCHMARK(BM_EmitOnly);
BENCHMARK(BM_EmitWithoutWidth);

BENCHMARK_MAIN();
