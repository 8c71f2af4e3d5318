#include "scanner_sim/profile_surface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace scanner_sim {

bool inNoPointBand(int columns, int column)
{
    const int start = columns * 3 / 4;
    const int width = std::max(1, columns / 64);
    return column >= start && column < start + width;
}

namespace {

// floor(32 row + 1/2) of echo 0 for each column, per phase (n mod 100) of one sensor size: the
// stream asks for the same rows again every 100 profiles.
class RowCache {
public:
    const std::vector<int32_t>& Rows(int sensorWidth, int sensorHeight, int columns, unsigned phase)
    {
        if (sensorWidth != m_Width || sensorHeight != m_Height) {
            m_Width = sensorWidth;
            m_Height = sensorHeight;
            for (auto& r : m_Rows)
                r.clear();
        }
        std::vector<int32_t>& rows = m_Rows[phase];
        const double w = sensorWidth;
        const double h = sensorHeight;
        for (int c = static_cast<int>(rows.size()); c < columns; ++c) {
            const double at = static_cast<double>(c) / w + static_cast<double>(phase) / 100.0;
            const double row = std::floor(32 * (h / 2 + h / 4 * std::sin(2 * std::numbers::pi * at)) + 0.5);
            rows.push_back(static_cast<int32_t>(std::clamp(row, -1e9, 1e9)));
        }
        return rows;
    }

private:
    int m_Width = 0;
    int m_Height = 0;
    std::array<std::vector<int32_t>, 100> m_Rows;
};

inline EchoValue echoAt(int32_t row, int sensorHeight, int column, uint64_t n, int echo)
{
    EchoValue e;
    e.zRaw = static_cast<uint16_t>(std::clamp<int64_t>(row + int64_t{2} * sensorHeight * echo, 0, 65535));
    e.strength = static_cast<uint16_t>((4 * static_cast<uint64_t>(column) + n + 256 * static_cast<uint64_t>(echo)) % 1024);
    e.width = static_cast<uint8_t>(5 + echo);
    e.reserved = static_cast<uint16_t>(column % 256);
    return e;
}

thread_local RowCache t_Rows;

}  // namespace

EchoValue surfaceEcho(int sensorWidth, int sensorHeight, int columns, int column, uint64_t n, int echo)
{
    if (column < 0 || inNoPointBand(columns, column))
        return {};
    const auto& rows = t_Rows.Rows(sensorWidth, sensorHeight, column + 1, static_cast<unsigned>(n % 100));
    return echoAt(rows[static_cast<size_t>(column)], sensorHeight, column, n, echo);
}

void surfaceEchoes(int sensorWidth, int sensorHeight, int columns, uint64_t n, int echo, std::vector<EchoValue>& out)
{
    out.assign(static_cast<size_t>(std::max(columns, 0)), EchoValue{});
    if (columns <= 0)
        return;
    const auto& rows = t_Rows.Rows(sensorWidth, sensorHeight, columns, static_cast<unsigned>(n % 100));
    for (int c = 0; c < columns; ++c)
        if (!inNoPointBand(columns, c))
            out[static_cast<size_t>(c)] = echoAt(rows[static_cast<size_t>(c)], sensorHeight, c, n, echo);
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
