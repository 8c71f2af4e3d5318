#include "lin/raw_samples.h"

#include <cmath>

namespace quillan {

void UnpackRawSamples(const uint8_t packed[kPackedSampleBytes], int32_t samples[kRawSampleCount])
{
    for (int k = 0; k < kRawSampleCount; ++k) {
        const int bit = 10 * k;
        const int byte = bit / 8;
        const int shift = bit % 8;
        const uint32_t pair = packed[byte] | static_cast<uint32_t>(packed[byte + 1]) << 8;
        samples[k] = static_cast<int32_t>((pair >> shift) & 0x3FF);
    }
}

bool FitPeakFromSamples(const ProfileColumn& column, int echo, double& peak)
{
    peak = 0.0;
    if (echo < 0 || echo >= kMaxEchoes)
        return false;
    const EchoPoint& e = column.echoes[echo];
    const RawSamples& raw = column.raw[echo];
    if (!e.valid || e.width == 0 || !(e.zPixel > 0.0) || !raw.valid)
        return false;
    for (int32_t s : raw.samples)
        if (s <= 0)
            return false;

    constexpr int n = kRawSampleCount;
    static constexpr int kSampleOrder[n] = {0, 1, 2, 3, 7, 6, 5, 4};
    const float left = static_cast<float>(e.reserved - e.width);
    const float right = static_cast<float>(e.reserved);
    float x[n], y[n];
    for (int i = 0; i < 4; ++i) {
        x[i] = left - 3.0f + static_cast<float>(i);
        x[4 + i] = right + static_cast<float>(i);
    }
    for (int i = 0; i < n; ++i)
        y[i] = static_cast<float>(std::log(static_cast<double>(raw.samples[kSampleOrder[i]])));

    // Orthogonal polynomials p1 = x - m, p2 = (x - alpha) p1 - beta.
    float m = 0.0f;
    for (float xi : x)
        m += xi;
    m /= n;
    float s11 = 0.0f, sx11 = 0.0f, sy1 = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float p1 = x[i] - m;
        s11 += p1 * p1;
        sx11 += x[i] * p1 * p1;
        sy1 += y[i] * p1;
    }
    if (s11 == 0.0f)
        return false;
    const float alpha = sx11 / s11;
    const float beta = s11 / n;
    const float c1 = sy1 / s11;
    float s22 = 0.0f, sy2 = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float p2 = (x[i] - alpha) * (x[i] - m) - beta;
        s22 += p2 * p2;
        sy2 += y[i] * p2;
    }
    if (s22 == 0.0f)
        return false;
    const float c2 = sy2 / s22;
    if (c2 == 0.0f)
        return false;
    peak = static_cast<double>(((m + alpha) * c2 - c1) * 0.5f / c2);
    return true;
}

}  // namespace quillan
