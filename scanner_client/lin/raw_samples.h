#pragma once
// Raw sensor samples around an echo and the sub-pixel peak fitted to them.
#include "lin/decoded_profile.h"

#include <cstdint>

namespace quillan {

inline constexpr int kPackedSampleBytes = 10;

// Eight 10-bit samples packed little-endian into ten bytes: sample k holds
// bits 10k .. 10k + 9 of the 80-bit number.
void UnpackRawSamples(const uint8_t packed[kPackedSampleBytes], int32_t samples[kRawSampleCount]);

// Sub-pixel peak of echo `echo` of the column: the vertex of the parabola
// fitted by least squares (single precision) to the logarithms of the eight
// samples, placed around the echo's reserved value e and width w at
// e-w-3 .. e-w (samples 0-3) and e .. e+3 (samples 7, 6, 5, 4). Returns false
// and peak = 0.0 unless the echo is valid with a non-zero width and a positive
// zPixel, its samples are valid and all above 0, and the parabola is curved.
bool FitPeakFromSamples(const ProfileColumn& column, int echo, double& peak);

}  // namespace quillan
