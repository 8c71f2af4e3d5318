#include "lin/profile_points.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace quillan {
namespace {

const EchoPoint* firstValidEcho(const ProfileColumn& column, unsigned slots)
{
    for (int j = 0; j < kMaxEchoes; ++j)
        if ((slots & (1u << j)) && column.echoes[j].valid)
            return &column.echoes[j];
    return nullptr;
}

// A strict weak order on doubles with NaN after every number.
bool lessNanLast(double a, double b)
{
    const bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb)
        return !na && nb;
    return a < b;
}

}  // namespace

void LinearizeProfile(DecodedProfile& p, const Linearization* lin)
{
    if (p.linearizedLayout || lin == nullptr || !lin->data().xTable.loaded)
        return;
    const double stepX = p.effStepX + 1.0;
    const double stepZ = p.effStepZ + 1.0;
    for (int c = 0; c < p.columnCount; ++c) {
        const double u = c * stepX + p.effOffsetX;
        for (int j = 0; j < kMaxEchoes; ++j) {
            EchoPoint& e = p.columns[c].echoes[j];
            if (!(p.echoSlotsUsed & (1u << j)) || !e.valid)
                continue;
            if (e.zPixel == 0.0) {
                e.xMm = 0.0;
                e.zMm = 0.0;
                continue;
            }
            lin->convert(u, stepZ * e.zPixel + p.effOffsetZ, e.xMm, e.zMm);
        }
    }
}

int EmitProfilePoints(const DecodedProfile& p, const PointArrays& out, bool sortByX)
{
    const int columns = std::clamp(p.columnCount, 0, kMaxProfileColumns);
    std::array<uint16_t, kMaxProfileColumns> order;
    for (int c = 0; c < columns; ++c)
        order[c] = static_cast<uint16_t>(c);

    if (sortByX) {
        std::array<uint16_t, kMaxProfileColumns> places, sorted;
        int n = 0;
        for (int c = 0; c < columns; ++c) {
            const EchoPoint* e = firstValidEcho(p.columns[c], p.echoSlotsUsed);
            if (e && (e->xMm != 0.0 || e->zMm != 0.0)) {
                places[n] = static_cast<uint16_t>(c);
                sorted[n] = static_cast<uint16_t>(c);
                ++n;
            }
        }
        std::sort(sorted.begin(), sorted.begin() + n, [&](uint16_t a, uint16_t b) {
            return lessNanLast(firstValidEcho(p.columns[a], p.echoSlotsUsed)->xMm,
                               firstValidEcho(p.columns[b], p.echoSlotsUsed)->xMm);
        });
        for (int k = 0; k < n; ++k)
            order[places[k]] = sorted[k];
    }

    int written = 0;
    for (int k = 0; k < columns && written < out.maxPoints; ++k) {
        const ProfileColumn& column = p.columns[order[k]];
        for (int j = 0; j < kMaxEchoes; ++j) {
            const EchoPoint& e = column.echoes[j];
            if (!(p.echoSlotsUsed & (1u << j)) || !e.valid)
                continue;
            if (written >= out.maxPoints)
                break;
            if (out.x)
                out.x[written] = e.xMm;
            if (out.z)
                out.z[written] = e.zMm;
            if (out.intensity)
                out.intensity[written] = e.strength;
            if (out.width)
                out.width[written] = e.width;
            ++written;
        }
    }
    return written;
}

}  // namespace quillan
