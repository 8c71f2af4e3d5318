#include "server/pixel_conversion.h"

#include "gev_camera.h"

#include "platform/bytes.h"

#include <stdexcept>

namespace Kivu::PixelConversion {

namespace {

enum Component : uint8_t { R = 0, G = 1, B = 2 };
enum Phase : int8_t { None = -1, GR = 0, RG = 1, GB = 2, BG = 3 };

// The colour at (even/odd row, even/odd column) of each Bayer phase.
constexpr Component kPhases[4][2][2] = {
    {{G, R}, {B, G}},  // GR
    {{R, G}, {G, B}},  // RG
    {{G, B}, {R, G}},  // GB
    {{B, G}, {G, R}},  // BG
};

struct Output {
    uint32_t code;
    uint8_t bits;
    bool packed;
    Phase phase;
};

constexpr Output kOutputs[] = {
    {0x01080001, 8, false, None},  // Mono8
    {0x01100003, 10, false, None}, // Mono10
    {0x01100005, 12, false, None}, // Mono12
    {0x01100025, 14, false, None}, // Mono14
    {0x01100007, 16, false, None}, // Mono16
    {0x010C0004, 10, true, None},  // Mono10Packed
    {0x010C0006, 12, true, None},  // Mono12Packed
    {0x01080008, 8, false, GR},    {0x01080009, 8, false, RG},   {0x0108000A, 8, false, GB},
    {0x0108000B, 8, false, BG},    {0x0110000C, 10, false, GR},  {0x0110000D, 10, false, RG},
    {0x0110000E, 10, false, GB},   {0x0110000F, 10, false, BG},  {0x01100010, 12, false, GR},
    {0x01100011, 12, false, RG},   {0x01100012, 12, false, GB},  {0x01100013, 12, false, BG},
    {0x0110002E, 16, false, GR},   {0x0110002F, 16, false, RG},  {0x01100030, 16, false, GB},
    {0x01100031, 16, false, BG},   {0x010C0026, 10, true, GR},   {0x010C0027, 10, true, RG},
    {0x010C0028, 10, true, GB},    {0x010C0029, 10, true, BG},   {0x010C002A, 12, true, GR},
    {0x010C002B, 12, true, RG},    {0x010C002C, 12, true, GB},   {0x010C002D, 12, true, BG},
};

const Output* find(uint32_t code)
{
    for (const Output& o : kOutputs)
        if (o.code == code)
            return &o;
    return nullptr;
}

size_t bytesPerPixel(const Region& r)
{
    return r.bitsPerPixel / 8;
}

const uint8_t* sourceLine(const Region& r, uint32_t row)
{
    const size_t pixel = (size_t(r.y) + row) * r.pitch + r.x;
    return static_cast<const uint8_t*>(r.source) + pixel * bytesPerPixel(r);
}

// A sample after the shift, scaled from 16-bit sources to the output depth.
uint32_t scaled(uint32_t sample, bool wide, uint32_t shift, uint32_t bits)
{
    const uint32_t v = sample << shift;
    return wide ? v >> (16 - bits) : v;
}

// fetch(line, column) reads one source sample of the region.
template <class Fetch>
void writeUnpacked(const Region& r, const Output& o, bool wide, Fetch fetch)
{
    const size_t stride = DestinationStride(o.code, r.pitch);
    for (uint32_t row = 0; row < r.height; ++row) {
        const uint8_t* in = sourceLine(r, row);
        uint8_t* out = static_cast<uint8_t*>(r.destination) + row * stride;
        for (uint32_t col = 0; col < r.width; ++col) {
            const uint32_t v = scaled(fetch(in, row, col), wide, r.shift, o.bits);
            if (o.bits == 8)
                out[col] = static_cast<uint8_t>(v);
            else
                platform::storeLE16(out + 2 * col, static_cast<uint16_t>(v));
        }
    }
}

// Pairs A, B of a line in three bytes: A's high bits, the low bits of both
// (10-bit: bits 0-1 and 4-5, the others 0; 12-bit: the two nibbles), B's high
// bits. The second pixel of a pair beyond an odd region width is 0.
template <class Fetch>
void writePacked(const Region& r, const Output& o, bool wide, Fetch fetch)
{
    const size_t stride = DestinationStride(o.code, r.pitch);
    const uint32_t high = o.bits - 8;
    const uint32_t low = o.bits == 10 ? 3 : 15;
    for (uint32_t row = 0; row < r.height; ++row) {
        const uint8_t* in = sourceLine(r, row);
        uint8_t* out = static_cast<uint8_t*>(r.destination) + row * stride;
        for (uint32_t col = 0; col < r.width; col += 2, out += 3) {
            const uint32_t a = scaled(fetch(in, row, col), wide, r.shift, o.bits);
            const uint32_t b = col + 1 < r.width ? scaled(fetch(in, row, col + 1), wide, r.shift, o.bits) : 0;
            out[0] = static_cast<uint8_t>(a >> high);
            out[1] = static_cast<uint8_t>((a & low) | (b & low) << 4);
            out[2] = static_cast<uint8_t>(b >> high);
        }
    }
}

auto monoFetch(bool wide)
{
    return [wide](const uint8_t* line, uint32_t, uint32_t col) -> uint32_t {
        return wide ? platform::loadLE16(line + 2 * size_t(col)) : line[col];
    };
}

auto rgbFetch(bool wide, Phase phase)
{
    return [wide, phase](const uint8_t* line, uint32_t row, uint32_t col) -> uint32_t {
        const Component c = kPhases[phase][row & 1][col & 1];
        return wide ? platform::loadLE16(line + 6 * size_t(col) + 2 * c) : line[3 * size_t(col) + c];
    };
}

uint32_t rgbToBayer(const Region& r, bool packed)
{
    if (r.height == 0)
        return GevResult::Ok;
    const Output* o = find(r.output);
    if (o == nullptr || o->phase == None || o->packed != packed || r.shift > kMaxShift)
        return GevResult::InvalidArgument;
    if (r.bitsPerPixel != 24 && r.bitsPerPixel != 48)
        throw std::runtime_error("\n Unknown bit per pixel resolution!");
    const bool wide = r.bitsPerPixel == 48;
    if (packed)
        writePacked(r, *o, wide, rgbFetch(wide, o->phase));
    else
        writeUnpacked(r, *o, wide, rgbFetch(wide, o->phase));
    return GevResult::Ok;
}

uint32_t monoTo(const Region& r, bool packed)
{
    if (r.height == 0)
        return GevResult::Ok;
    const Output* o = find(r.output);
    if (o == nullptr || o->packed != packed)
        throw std::runtime_error(packed ? "\n Unknown mono packed output format!" : "\n Unknown mono output format!");
    if (r.bitsPerPixel != 8 && r.bitsPerPixel != 16)
        throw std::runtime_error("\n Unknown mono input format!");
    if (r.shift > kMaxShift)
        throw std::runtime_error("\n Shift out of range!");
    const bool wide = r.bitsPerPixel == 16;
    if (packed)
        writePacked(r, *o, wide, monoFetch(wide));
    else
        writeUnpacked(r, *o, wide, monoFetch(wide));
    return GevResult::Ok;
}

}  // namespace

uint32_t RgbToBayer(const Region& r)
{
    return rgbToBayer(r, false);
}

uint32_t RgbToBayerPacked(const Region& r)
{
    return rgbToBayer(r, true);
}

uint32_t MonoToPacked(const Region& r)
{
    return monoTo(r, true);
}

uint32_t MonoToUnpacked(const Region& r)
{
    return monoTo(r, false);
}

uint32_t ConvertTestImage(const void* source, void* destination, uint32_t width, uint32_t height, uint32_t sourceFormat,
                          uint32_t destinationFormat, uint32_t shift, uint32_t reserved, uint32_t outputWidth,
                          uint32_t outputHeight)
{
    struct SourceFormat {
        uint32_t code, bits;
        bool rgb;
    };
    static constexpr SourceFormat kSources[] = {
        {0x01080001, 8, false},   // Mono8
        {0x01100007, 16, false},  // Mono16
        {0x02180014, 24, true},   // RGB8
        {0x02300033, 48, true},   // RGB16
    };
    const SourceFormat* format = nullptr;
    for (const SourceFormat& f : kSources)
        if (f.code == sourceFormat)
            format = &f;
    const uint32_t w = outputWidth != 0 ? outputWidth : width;
    const uint32_t h = outputHeight != 0 ? outputHeight : height;
    if (format == nullptr || source == nullptr || destination == nullptr || reserved != 0 || w > width || h > height)
        return GevResult::InvalidArgument;
    const Region r{source, format->bits, width, 0, 0, w, h, destination, shift, destinationFormat};
    if (format->rgb)
        return IsPacked(destinationFormat) ? RgbToBayerPacked(r) : RgbToBayer(r);
    return IsPacked(destinationFormat) ? MonoToPacked(r) : MonoToUnpacked(r);
}

bool IsPacked(uint32_t output)
{
    const Output* o = find(output);
    return o != nullptr && o->packed;
}

size_t DestinationStride(uint32_t output, uint32_t pitch)
{
    const Output* o = find(output);
    if (o == nullptr)
        return 0;
    if (o->packed)
        return (size_t(pitch) + 1) / 2 * 3;  // a last pair of an odd pitch keeps its own bytes
    return size_t(pitch) * (o->bits == 8 ? 1 : 2);
}

}  // namespace Kivu::PixelConversion
