// Lines of a block's parts per second from 2048-point profiles, per pixel format: the bridge's
// own work for each profile, before the camera copies the block.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "line_fill.h"

using namespace lumabridge;

namespace {

constexpr uint32_t kPoints = 2048;
constexpr uint32_t kLines = 1000;

struct Profile {
    std::vector<double> x, z;
    std::vector<int32_t> intensity;
};

// A profile across the whole field and measuring range of a 100 mm sensor.
Profile profile()
{
    Profile p;
    for (uint32_t k = 0; k < kPoints; ++k) {
        p.x.push_back(-50.0 + 100.0 * k / kPoints);
        p.z.push_back(150.0 + 40.0 * std::sin(k * 0.01));
        p.intensity.push_back(static_cast<int32_t>(k % 1100));
    }
    return p;
}

RangeMapping mapping()
{
    RangeMapping m;
    m.workingRangeZStart = 100;
    m.measuringRangeZ = 100;
    m.fieldWidthXEnd = 100;
    m.scaleA = 100.0f / kPoints;
    m.offsetA = -50;
    m.scaleB = 0.5f;
    m.scaleC = 100.0f / 65535;
    return m;
}

void fillLines(benchmark::State& state, const char* format, bool intensityPart)
{
    const Profile p = profile();
    const RangeMapping m = mapping();
    const size_t bytes = LineEnd(format, kLines - 1, kPoints);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]);
    const std::span<uint8_t> part(buffer.get(), bytes);
    uint32_t line = 0;
    for (auto _ : state) {
        const bool ok = intensityPart
                            ? FillIntensityLine(p.intensity.data(), part, format, line, kPoints, kPoints, false)
                            : FillRangeLine(part, format, p.z.data(), p.x.data(), static_cast<int32_t>(line), line,
                                            kPoints, kPoints, false, m);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
        line = (line + 1) % kLines;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes / kLines));
}

}  // namespace

BENCHMARK_CAPTURE(fillLines, coord3d_abc32f, "Coord3D_ABC32f", false);
BENCHMARK_CAPTURE(fillLines, mono16, "Mono16", false);
BENCHMARK_CAPTURE(fillLines, mono10, "Mono10", true);
BENCHMARK_CAPTURE(fillLines, mono10packed, "Mono10Packed", true);
BENCHMARK_MAIN();
