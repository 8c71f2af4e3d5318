#pragma once
// Test-side writer of LIN1DD images, checked against the golden image.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lintest {

using Bytes = std::vector<uint8_t>;
using Cell = std::array<double, 16>;  // a[k][m] at 4k + m

inline void putU32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void putU64(Bytes& b, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void putF64(Bytes& b, double v)
{
    uint64_t u;
    std::memcpy(&u, &v, 8);
    putU64(b, u);
}

inline void putF32(Bytes& b, float v)
{
    uint32_t u;
    std::memcpy(&u, &v, 4);
    putU32(b, u);
}

inline Bytes table(const std::vector<double>& u, const std::vector<double>& v, const std::vector<Cell>& cells)
{
    Bytes b;
    putU32(b, static_cast<uint32_t>(u.size() - 1));
    putU32(b, static_cast<uint32_t>(v.size() - 1));
    for (double d : u)
        putF64(b, d);
    for (double d : v)
        putF64(b, d);
    for (const Cell& c : cells)
        for (double d : c)
            putF64(b, d);
    return b;
}

inline Bytes record(uint32_t tag, const Bytes& body)
{
    Bytes b;
    putU32(b, tag);
    putU32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes magic()
{
    return Bytes{'L', 'I', 'N', '1', 'D', 'D', 0, 0};
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes fromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The scanner of the golden image.
struct Geometry {
    double zs = 100, zr = 200, xs = 60, xe = 120, w = 2048, h = 1088;

    double x(double u, double v) const { return (u / w - 0.5) * (xs + (xe - xs) / h * v); }
    double z(double, double v) const { return zs + zr * v / h; }

    // The closed forms re-expanded around the knots (u0, v0).
    Cell xCell(double u0, double v0) const
    {
        const double k = (xe - xs) / h;
        Cell c{};
        c[0] = -xs / 2 + xs * u0 / w - k * v0 / 2 + k * u0 * v0 / w;
        c[4] = xs / w + k * v0 / w;
        c[1] = -k / 2 + k * u0 / w;
        c[5] = k / w;
        return c;
    }
    Cell zCell(double, double v0) const
    {
        Cell c{};
        c[0] = zs + zr * v0 / h;
        c[1] = zr / h;
        return c;
    }

    Bytes parameters() const
    {
        Bytes b;
        putF32(b, static_cast<float>(zs));
        putF32(b, static_cast<float>(zr));
        putF32(b, static_cast<float>(xs));
        putF32(b, static_cast<float>(xe));
        putU32(b, 0);
        putU32(b, static_cast<uint32_t>(w));
        putU32(b, static_cast<uint32_t>(h));
        for (int i = 0; i < 4; ++i)
            putU32(b, 0);
        return b;
    }

    // Both tables over the given knots, each cell the re-expanded closed form.
    Bytes tables(const std::vector<double>& u, const std::vector<double>& v) const
    {
        std::vector<Cell> xc, zc;
        for (size_t i = 0; i < u.size(); ++i)
            for (size_t j = 0; j < v.size(); ++j) {
                xc.push_back(xCell(u[i], v[j]));
                zc.push_back(zCell(u[i], v[j]));
            }
        return concat({table(u, v, xc), table(u, v, zc)});
    }
};

}  // namespace lintest
