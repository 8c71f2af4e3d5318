#include "lin/raw_samples.h"

#include "profile_golden.h"

#include <gtest/gtest.h>

namespace {

using namespace quillan;
using namespace profiletest;

TEST(RawSamples, UnpacksTenBitsEach)
{
    const Bytes packed = fromHex(kPackedSamplesHex);
    ASSERT_EQ(packed.size(), 10u);
    int32_t samples[8];
    UnpackRawSamples(packed.data(), samples);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(samples[k], kPackedSamples[k]) << k;
}

ProfileColumn columnWith(int reserved, int width, double zPixel, std::initializer_list<int> samples)
{
    ProfileColumn c{};
    c.echoes[2].valid = true;
    c.echoes[2].reserved = reserved;
    c.echoes[2].width = width;
    c.echoes[2].zPixel = zPixel;
    c.raw[2].valid = true;
    int k = 0;
    for (int s : samples)
        c.raw[2].samples[k++] = s;
    return c;
}

TEST(RawSamples, PeakFit)
{
    // s0..s3 mirror s4..s7: the points are symmetric about e - w / 2.
    const std::initializer_list<int> sym = {20, 90, 300, 700, 20, 90, 300, 700};
    const struct { const char* name; ProfileColumn column; bool ok; double peak; } cases[] = {
        {"symmetric", columnWith(12, 4, 3.0, sym), true, 10.0},
        {"symmetric, odd width", columnWith(40, 3, 3.0, sym), true, 38.5},
        {"a zero sample", columnWith(12, 4, 3.0, {20, 90, 0, 700, 20, 90, 300, 700}), false, 0.0},
        {"width 0", columnWith(12, 0, 3.0, sym), false, 0.0},
        {"zPixel 0", columnWith(12, 4, 0.0, sym), false, 0.0},
    };
    for (const auto& c : cases) {
        double peak = -1;
        EXPECT_EQ(FitPeakFromSamples(c.column, 2, peak), c.ok) << c.name;
        EXPECT_NEAR(peak, c.peak, 1e-3) << c.name;
    }

    ProfileColumn noRaw = columnWith(12, 4, 3.0, sym);
    noRaw.raw[2].valid = false;
    ProfileColumn invalid = columnWith(12, 4, 3.0, sym);
    invalid.echoes[2].valid = false;
    double peak = -1;
    EXPECT_FALSE(FitPeakFromSamples(noRaw, 2, peak));
    EXPECT_FALSE(FitPeakFromSamples(invalid, 2, peak));
    EXPECT_EQ(peak, 0.0);
    EXPECT_FALSE(FitPeakFromSamples(noRaw, 4, peak));

    // An upward parabola (a minimum) still gives its vertex.
    EXPECT_TRUE(FitPeakFromSamples(columnWith(12, 4, 3.0, {700, 300, 90, 20, 700, 300, 90, 20}), 2, peak));
    EXPECT_NEAR(peak, 10.0, 1e-3);
}

}  // namespace
