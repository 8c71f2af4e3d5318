#include "scanner_sim/profile_surface.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace scanner_sim {

bool inNoPointBand(int columns, int column)
{
    const int start = columns * 3 / 4;
    const int width = std::max(1, columns / 64);
    return column >= start && column < start + width;
}

EchoValue surfaceEcho(int sensorWidth, int sensorHeight, int columns, int column, uint64_t n, int echo)
{
    if (inNoPointBand(columns, column))
        return {};
    const double w = sensorWidth;
    const double h = sensorHeight;
    const double phase = static_cast<double>(column) / w + static_cast<double>(n % 100) / 100.0;
    const double row = h / 2 + h / 4 * std::sin(2 * std::numbers::pi * phase);
    const double z = std::floor(32 * row + 0.5) + 2 * h * echo;
    EchoValue e;
    e.zRaw = static_cast<uint16_t>(std::clamp(z, 0.0, 65535.0));
    e.strength = static_cast<uint16_t>((4 * static_cast<uint64_t>(column) + n + 256 * static_cast<uint64_t>(echo)) % 1024);
    e.width = static_cast<uint8_t>(5 + echo);
    e.reserved = static_cast<uint16_t>(column % 256);
    return e;
}

Millimetres analyticMillimetres(const LinGeometry& g, double u, double v)
{
    const double w = g.widthX;
    const double h = g.widthZ;
    const double xs = g.xStart;
    const double k = (static_cast<double>(g.xEnd) - xs) / h;
    return {(u / w - 0.5) * (xs + k * v), g.zStart + g.zRange * v / h};
}

}  // namespace scanner_sim
