#include "tools/scanner_sim/lin1dd.h"

#include <bit>
#include <stdexcept>

#include "tools/scanner_sim/byte_buffer.h"
#include "tools/scanner_sim/crc32_mpeg2.h"

namespace scanner_sim {
namespace {

struct Coefficient {
    int index;  // 4k + m: k = power of du, m = power of dv
    double value;
};

// nx = nz = 1: axes of two values, (1 + 1) x (1 + 1) cells of 16 doubles; only cell (0, 0) is set.
std::string analyticTable(double width, double height, std::initializer_list<Coefficient> cell00)
{
    std::string t(8 + 2 * 8 + 2 * 8 + 4 * 16 * 8, '\0');
    put32(t, 0, 1);
    put32(t, 4, 1);
    putF64(t, 8, 0.0);
    putF64(t, 16, width);
    putF64(t, 24, 0.0);
    putF64(t, 32, height);
    for (const Coefficient& c : cell00)
        putF64(t, 40 + 8 * static_cast<size_t>(c.index), c.value);
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

    const std::string x = analyticTable(w, h, {{0, -xs / 2}, {4, xs / w}, {1, -k / 2}, {5, k / w}});
    const std::string z = analyticTable(w, h, {{0, g.zStart}, {1, g.zRange / h}});
    appendRecord(image, 3, x + z);
    if (g.modeRecord)
        appendRecord(image, 7, std::string(4, '\0'));
    return image;
}

std::string lin1ddFrame(const LinGeometry& geometry)
{
    const std::string image = lin1ddImage(geometry);
    std::string frame(6, '\0');
    put8(frame, 0, 7);
    put8(frame, 1, 0x19);
    put32(frame, 2, static_cast<uint32_t>(image.size() + 10));
    frame += image;
    appendCrc(frame);
    return frame;
}

}  // namespace scanner_sim
