#include "scanner_sim/lin1dd.h"

#include <bit>
#include <limits>
#include <stdexcept>

#include "scanner_sim/byte_buffer.h"
#include "scanner_sim/crc32_mpeg2.h"

namespace scanner_sim {
namespace {

// A bilinear polynomial a00 + a10 u + a01 v + a11 u v.
struct Bilinear {
    double a00 = 0, a10 = 0, a01 = 0, a11 = 0;
};

// n x n cells over [0, width] x [0, height]; cell (i, j) holds the polynomial in du = u - U[i],
// dv = v - V[j] at the indices 4k + m (k = power of du, m = power of dv).
std::string analyticTable(double width, double height, int n, const Bilinear& p)
{
    const size_t axis = static_cast<size_t>(n) + 1;
    std::string t(8 + 2 * axis * 8 + axis * axis * 16 * 8, '\0');
    put32(t, 0, static_cast<uint32_t>(n));
    put32(t, 4, static_cast<uint32_t>(n));
    const auto uAt = [&](int i) { return width * i / n; };
    const auto vAt = [&](int j) { return height * j / n; };
    for (int i = 0; i <= n; ++i) {
        putF64(t, 8 + 8 * static_cast<size_t>(i), uAt(i));
        putF64(t, 8 + 8 * (axis + static_cast<size_t>(i)), vAt(i));
    }
    const size_t cells = 8 + 2 * axis * 8;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double u = uAt(i);
            const double v = vAt(j);
            const size_t cell = cells + (static_cast<size_t>(i) * axis + static_cast<size_t>(j)) * 16 * 8;
            putF64(t, cell + 8 * 0, p.a00 + p.a10 * u + p.a01 * v + p.a11 * u * v);
            putF64(t, cell + 8 * 4, p.a10 + p.a11 * v);
            putF64(t, cell + 8 * 1, p.a01 + p.a11 * u);
            putF64(t, cell + 8 * 5, p.a11);
        }
    return t;
}

void appendRecord(std::string& image, uint32_t tag, const std::string& body)
{
    append32(image, tag);
    append32(image, static_cast<uint32_t>(body.size()));
    image += body;
}

}  // namespace

std::string lin1ddImage(const LinGeometry& g)
{
    if (g.widthX <= 0 || g.widthZ <= 0)
        throw std::invalid_argument("scanner_sim: LIN1DD widths must be positive");
    if (g.cells < 1 || g.cells > 64)
        throw std::invalid_argument("scanner_sim: LIN1DD cells must be 1..64");
    const double w = g.widthX;
    const double h = g.widthZ;
    const double xs = g.xStart;
    const double k = (static_cast<double>(g.xEnd) - xs) / h;

    std::string image("LIN1DD\0\0", 8);
    std::string serial(8, '\0');
    put64(serial, 0, g.serialNumber);
    appendRecord(image, 1, serial);

    std::string params(44, '\0');
    put32(params, 0, std::bit_cast<uint32_t>(g.zStart));
    put32(params, 4, std::bit_cast<uint32_t>(g.zRange));
    put32(params, 8, std::bit_cast<uint32_t>(g.xStart));
    put32(params, 12, std::bit_cast<uint32_t>(g.xEnd));
    put32(params, 20, static_cast<uint32_t>(g.widthX));
    put32(params, 24, static_cast<uint32_t>(g.widthZ));
    appendRecord(image, 2, params);

    const std::string x = analyticTable(w, h, g.cells, Bilinear{-xs / 2, xs / w, -k / 2, k / w});
    const std::string z = analyticTable(w, h, g.cells, Bilinear{g.zStart, 0, g.zRange / h, 0});
    appendRecord(image, 3, x + z);
    if (g.modeRecord)
        appendRecord(image, 7, std::string(4, '\0'));
    return image;
}

std::string lin1ddFrame(const LinGeometry& geometry, LinTableFault fault)
{
    std::string image = lin1ddImage(geometry);
    constexpr size_t xTable = 8 + 16 + 52 + 8;  // magic, records 1 and 2, record 3's header
    const size_t u0 = xTable + 8;
    switch (fault) {
    case LinTableFault::None:
        break;
    case LinTableFault::ZeroCells:
        put32(image, xTable, 0);
        break;
    case LinTableFault::HugeCells:
        put32(image, xTable, 0x40000000);
        break;
    case LinTableFault::NanAxis:
        putF64(image, u0 + 8, std::numeric_limits<double>::quiet_NaN());
        break;
    case LinTableFault::DescendingAxis: {
        const std::string first = image.substr(u0, 8);
        image.replace(u0, 8, image.substr(u0 + 8, 8));
        image.replace(u0 + 8, 8, first);
        break;
    }
    }
    std::string frame(6, '\0');
    put8(frame, 0, 7);
    put8(frame, 1, 0x19);
    put32(frame, 2, static_cast<uint32_t>(image.size() + 10));
    frame += image;
    appendCrc(frame);
    return frame;
}

}  // namespace scanner_sim
