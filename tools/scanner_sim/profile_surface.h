#pragma once
// The deterministic measured surface of the simulated profiles, and the millimetres of the
// analytic linearization tables.
#include <cstdint>
#include <vector>

#include "scanner_sim/lin1dd.h"

namespace scanner_sim {

// Echo values as the pixel layout carries them.
struct EchoValue {
    uint16_t zRaw = 0;  // sensor row x 32; 0 = no point
    uint16_t strength = 0;  // 10 bits
    uint8_t width = 0;  // 6 bits
    uint16_t reserved = 0;

    bool operator==(const EchoValue&) const = default;
};

// Columns [start, start + width) of a profile of `columns` columns carry no point:
// start = columns * 3 / 4, width = max(1, columns / 64).
bool inNoPointBand(int columns, int column);

// Echo slot `echo` (0..3) of column `column` of profile n, with W, H the sensor size:
//   zRaw = floor(32 (H/2 + H/4 sin(2 pi (column / W + (n mod 100) / 100))) + 1/2) + 2 H echo
//   strength = (4 column + n + 256 echo) mod 1024, width = 5 + echo, reserved = column mod 256
// and all 0 in the no-point band.
EchoValue surfaceEcho(int sensorWidth, int sensorHeight, int columns, int column, uint64_t n, int echo);
// surfaceEcho of every column 0 .. columns - 1 of profile n, into out.
void surfaceEchoes(int sensorWidth, int sensorHeight, int columns, uint64_t n, int echo, std::vector<EchoValue>& out);

struct Millimetres {
    double x = 0;
    double z = 0;
};

// The analytic tables at sensor point (u, v): z = zs + zr v / H, x = (u / W - 1/2)(xs + k v).
Millimetres analyticMillimetres(const LinGeometry& geometry, double u, double v);

}  // namespace scanner_sim
