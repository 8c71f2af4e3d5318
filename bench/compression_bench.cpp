// Per-frame cost of compressed streaming without the network: JPEG encoding of
// 640 x 480 and 1280 x 1024 frames (Mono8 and RGB8, quality 90) into the
// channel's output buffer, and the H.264 module's 4-byte input conversion.
#include "server/stream/compression.h"
#include "server/stream/frame_compressor.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using namespace Kivu;

// A gradient with mild noise: about what a camera gives.
std::vector<uint8_t> image(uint32_t pfnc, uint32_t w, uint32_t h)
{
    std::mt19937 rng(1);
    const uint32_t channels = pfnc == Compression::kMono8 ? 1 : 3;
    std::vector<uint8_t> v(size_t(w) * h * channels);
    for (size_t i = 0; i < v.size(); ++i) {
        const size_t pixel = i / channels;
        v[i] = static_cast<uint8_t>((pixel % w) * 200 / w + (pixel / w) * 40 / h + (rng() & 7));
    }
    return v;
}

void jpeg(benchmark::State& state)
{
    const uint32_t pfnc = state.range(0) == 1 ? Compression::kMono8 : Compression::kRgb8;
    const auto w = static_cast<uint32_t>(state.range(1)), h = static_cast<uint32_t>(state.range(2));
    const std::vector<uint8_t> frame = image(pfnc, w, h);
    FrameCompressor c;
    c.SetMode(Compression::Mode::Jpeg);
    c.SetParameters(90, 0);
    FrameCompressor::Frame f{frame.data(), frame.size(), pfnc, w, h};
    uint64_t size = 0;
    for (auto _ : state) {
        const uint8_t* data = nullptr;
        if (!c.Encode(Compression::Mode::Jpeg, f, data, size))
            state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ratio"] = double(size) / double(frame.size());
}
BENCHMARK(jpeg)->Args({1, 640, 480})->Args({3, 640, 480})->Args({1, 1280, 1024})->Args({3, 1280, 1024})
    ->Unit(benchmark::kMillisecond);

void bgrx(benchmark::State& state)
{
    const uint32_t pfnc = state.range(0) == 1 ? Compression::kMono8 : Compression::kRgb8;
    const std::vector<uint8_t> frame = image(pfnc, 640, 480);
    std::vector<uint8_t> out(640 * 480 * 4);
    for (auto _ : state) {
        Compression::ToBgrx(pfnc, 640, 480, frame.data(), frame.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}
BENCHMARK(bgrx)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
