// Test-image conversion against a reference written here from the format
// definitions: sample scaling by division, Bayer phases as colour strings, and
// packed outputs read back by an unpacker of the GigE Vision layouts.
#include "server/camera.h"
#include "server/pixel_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Kivu::PixelConversion::Region;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xEE;

struct Format {
    const char* name;
    uint32_t code;
    int bits;
    bool packed;
    const char* colours;  // even row: columns 0, 1; odd row: columns 0, 1; "" for mono
};

const Format kFormats[] = {
    {"Mono8", 0x01080001, 8, false, ""},          {"Mono10", 0x01100003, 10, false, ""},
    {"Mono12", 0x01100005, 12, false, ""},        {"Mono14", 0x01100025, 14, false, ""},
    {"Mono16", 0x01100007, 16, false, ""},        {"Mono10Packed", 0x010C0004, 10, true, ""},
    {"Mono12Packed", 0x010C0006, 12, true, ""},   {"BayerGR8", 0x01080008, 8, false, "GRBG"},
    {"BayerRG8", 0x01080009, 8, false, "RGGB"},   {"BayerGB8", 0x0108000A, 8, false, "GBRG"},
    {"BayerBG8", 0x0108000B, 8, false, "BGGR"},   {"BayerGR10", 0x0110000C, 10, false, "GRBG"},
    {"BayerRG10", 0x0110000D, 10, false, "RGGB"}, {"BayerGB10", 0x0110000E, 10, false, "GBRG"},
    {"BayerBG10", 0x0110000F, 10, false, "BGGR"}, {"BayerGR12", 0x01100010, 12, false, "GRBG"},
    {"BayerRG12", 0x01100011, 12, false, "RGGB"}, {"BayerGB12", 0x01100012, 12, false, "GBRG"},
    {"BayerBG12", 0x01100013, 12, false, "BGGR"}, {"BayerGR16", 0x0110002E, 16, false, "GRBG"},
    {"BayerRG16", 0x0110002F, 16, false, "RGGB"}, {"BayerGB16", 0x01100030, 16, false, "GBRG"},
    {"BayerBG16", 0x01100031, 16, false, "BGGR"}, {"BayerGR10Packed", 0x010C0026, 10, true, "GRBG"},
    {"BayerRG10Packed", 0x010C0027, 10, true, "RGGB"}, {"BayerGB10Packed", 0x010C0028, 10, true, "GBRG"},
    {"BayerBG10Packed", 0x010C0029, 10, true, "BGGR"}, {"BayerGR12Packed", 0x010C002A, 12, true, "GRBG"},
    {"BayerRG12Packed", 0x010C002B, 12, true, "RGGB"}, {"BayerGB12Packed", 0x010C002C, 12, true, "GBRG"},
    {"BayerBG12Packed", 0x010C002D, 12, true, "BGGR"},
};

bool bayer(const Format& f)
{
    return f.colours[0] != 0;
}

// The source image: pitch x lines pixels of a fixed pseudo-random pattern.
struct Image {
    int bitsPerPixel;  // 8, 16 (mono), 24, 48 (RGB)
    uint32_t pitch, lines;
    Bytes bytes;

    Image(int bpp, uint32_t p, uint32_t l) : bitsPerPixel(bpp), pitch(p), lines(l), bytes(p * l * bpp / 8)
    {
        uint32_t state = 12345u + static_cast<uint32_t>(bpp);
        for (uint8_t& b : bytes) {
            state = state * 1103515245u + 12345u;
            b = static_cast<uint8_t>(state >> 16);
        }
    }
    bool wide() const { return bitsPerPixel == 16 || bitsPerPixel == 48; }
    bool rgb() const { return bitsPerPixel >= 24; }
    // One sample of pixel (col, row); channel 0, 1, 2 = R, G, B for RGB.
    uint32_t sample(uint32_t col, uint32_t row, int channel) const
    {
        const size_t samples = rgb() ? 3 : 1;
        const size_t index = (size_t(row) * pitch + col) * samples + static_cast<size_t>(channel);
        return wide() ? uint32_t(bytes[2 * index]) + 256u * bytes[2 * index + 1] : bytes[index];
    }
};

// The output value of a region pixel: its phase's colour (or the mono sample),
// shifted, then brought to the output depth: 16-bit samples keep their top `bits`
// bits, 8-bit samples are cut to the byte or word that holds them.
uint32_t reference(const Image& image, const Format& f, uint32_t shift, uint32_t col, uint32_t row, uint32_t x,
                   uint32_t y)
{
    int channel = 0;
    if (image.rgb()) {
        const char colour = f.colours[2 * ((row - y) % 2) + (col - x) % 2];
        channel = colour == 'R' ? 0 : colour == 'G' ? 1 : 2;
    }
    const uint64_t shifted = uint64_t(image.sample(col, row, channel)) * (uint64_t(1) << shift);
    if (image.wide())
        return static_cast<uint32_t>((shifted / (uint64_t(1) << (16 - f.bits))) % (f.bits == 8 ? 256 : 65536));
    return static_cast<uint32_t>(shifted % (f.bits == 8 ? 256 : 65536));
}

uint32_t run(const Region& r, bool rgb, bool packed)
{
    if (rgb)
        return packed ? Kivu::PixelConversion::RgbToBayerPacked(r) : Kivu::PixelConversion::RgbToBayer(r);
    return packed ? Kivu::PixelConversion::MonoToPacked(r) : Kivu::PixelConversion::MonoToUnpacked(r);
}

// Converts the region and compares every destination byte with the reference:
// unpacked values as bytes or little-endian words; packed groups decoded
// (10-bit: A = b0 << 2 | b1 bits 0-1, B = b2 << 2 | b1 bits 4-5, bits 2-3 and
// 6-7 clear; 12-bit: A = b0 << 4 | low nibble, B = b2 << 4 | high nibble), a
// missing B of an odd width read as 0. Bytes past each line's region and after
// the last line stay untouched.
void checkRegion(const Image& image, const Format& f, uint32_t shift, uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    const std::string what = std::string(f.name) + " from " + std::to_string(image.bitsPerPixel) + " bits, shift " +
                             std::to_string(shift) + ", region " + std::to_string(x) + "," + std::to_string(y) + " " +
                             std::to_string(w) + "x" + std::to_string(h) + " of pitch " + std::to_string(image.pitch);
    const size_t stride = f.packed ? (image.pitch + 1) / 2 * 3 : image.pitch * (f.bits == 8 ? 1 : 2);
    ASSERT_EQ(Kivu::PixelConversion::DestinationStride(f.code, image.pitch), stride) << what;
    Bytes out(stride * (h + 1), kUntouched);
    const Region r{image.bytes.data(), static_cast<uint32_t>(image.bitsPerPixel), image.pitch, x, y, w, h,
                   out.data(), shift, f.code};
    ASSERT_EQ(run(r, image.rgb(), f.packed), 0u) << what;

    const uint32_t mask = f.packed ? (1u << f.bits) - 1 : 0xFFFFFFFF;
    for (uint32_t row = 0; row < h; ++row) {
        const uint8_t* line = out.data() + row * stride;
        size_t used = 0;
        for (uint32_t i = 0; i < w; ++i) {
            const uint32_t want = reference(image, f, shift, x + i, y + row, x, y) & mask;
            uint32_t got = 0;
            if (!f.packed) {
                got = f.bits == 8 ? line[i] : uint32_t(line[2 * i]) | uint32_t(line[2 * i + 1]) << 8;
                used = (i + 1) * (f.bits == 8 ? 1 : 2);
            } else {
                const uint8_t* g = line + 3 * (i / 2);
                const bool second = i % 2 == 1;
                if (f.bits == 10) {
                    ASSERT_EQ(g[1] & 0xCC, 0) << what << ": bits 2-3 and 6-7 of byte 1, line " << row;
                    got = second ? uint32_t(g[2]) << 2 | ((g[1] >> 4) & 3) : uint32_t(g[0]) << 2 | (g[1] & 3);
                } else {
                    got = second ? uint32_t(g[2]) << 4 | (g[1] >> 4) : uint32_t(g[0]) << 4 | (g[1] & 15);
                }
                used = 3 * (i / 2 + 1);
                if (!second && i + 1 == w) {
                    const uint32_t missing =
                        f.bits == 10 ? uint32_t(g[2]) << 2 | ((g[1] >> 4) & 3) : uint32_t(g[2]) << 4 | (g[1] >> 4);
                    EXPECT_EQ(missing, 0u) << what << ": the pixel after an odd width, line " << row;
                }
            }
            ASSERT_EQ(got, want) << what << ": pixel " << i << " of line " << row;
        }
        for (size_t b = used; b < stride; ++b)
            ASSERT_EQ(line[b], kUntouched) << what << ": byte " << b << " of line " << row;
    }
    for (size_t b = stride * h; b < out.size(); ++b)
        ASSERT_EQ(out[b], kUntouched) << what << ": byte " << b << " after the last line";
}

TEST(PixelConversion, EveryOutputFormatMatchesTheReference)
{
    struct Shape {
        uint32_t pitch, lines, x, y, w, h;
    } shapes[] = {
        {4, 2, 0, 0, 4, 2},   // the whole image
        {9, 6, 3, 1, 5, 4},   // a region inside a larger pitch, odd start and width
        {5, 3, 0, 0, 5, 3},   // odd pitch filled to its end
        {8, 5, 2, 2, 1, 3},   // one column
    };
    for (int bpp : {8, 16, 24, 48}) {
        for (const Shape& s : shapes) {
            const Image image(bpp, s.pitch, s.lines);
            for (const Format& f : kFormats) {
                if (bpp >= 24 && !bayer(f))
                    continue;  // RGB goes to Bayer formats only
                for (uint32_t shift : {0u, 2u, 4u})
                    checkRegion(image, f, shift, s.x, s.y, s.w, s.h);
            }
        }
    }
}

Bytes rgb8(std::initializer_list<uint8_t> pixelBytes)
{
    return Bytes(pixelBytes);
}

TEST(PixelConversion, KnownValues)
{
    struct Case {
        const char* what;
        Bytes source;
        uint32_t bits, pitch, width, height, shift, output;
        Bytes expected;
    } cases[] = {
        {"red to BayerRG8", rgb8({255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0}), 24, 2, 2, 2, 0, 0x01080009,
         {255, 0, 0, 0}},
        {"red to BayerBG8", rgb8({255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0}), 24, 2, 2, 2, 0, 0x0108000B,
         {0, 0, 0, 255}},
        {"RGB16 0xFFC0 to BayerGR10", {0xC0, 0xFF, 0xC0, 0xFF, 0xC0, 0xFF}, 48, 1, 1, 1, 0, 0x0110000C, {0xFF, 0x03}},
        {"RGB16 0xFFC0 to BayerGR12", {0xC0, 0xFF, 0xC0, 0xFF, 0xC0, 0xFF}, 48, 1, 1, 1, 0, 0x01100010, {0xFC, 0x0F}},
        {"Mono8 0xAB 0xCD << 2 to Mono10Packed", {0xAB, 0xCD}, 8, 2, 2, 1, 2, 0x010C0004, {0xAB, 0x00, 0xCD}},
        {"Mono8 0xAB 0xCD to Mono12Packed", {0xAB, 0xCD}, 8, 2, 2, 1, 0, 0x010C0006, {0x0A, 0xDB, 0x0C}},
        {"Mono16 0x1234 to Mono8", {0x34, 0x12}, 16, 1, 1, 1, 0, 0x01080001, {0x12}},
        {"Mono16 0x1234 to Mono12", {0x34, 0x12}, 16, 1, 1, 1, 0, 0x01100005, {0x23, 0x01}},
        {"Mono16 0x1234 to Mono14", {0x34, 0x12}, 16, 1, 1, 1, 0, 0x01100025, {0x8D, 0x04}},
        {"Mono16 0x1234 to Mono16", {0x34, 0x12}, 16, 1, 1, 1, 0, 0x01100007, {0x34, 0x12}},
        {"Mono8 0x81 << 4 to Mono12", {0x81}, 8, 1, 1, 1, 4, 0x01100005, {0x10, 0x08}},
        {"Mono8 0x81 << 1 to Mono8 keeps the low byte", {0x81}, 8, 1, 1, 1, 1, 0x01080001, {0x02}},
    };
    for (const Case& c : cases) {
        Bytes out(c.expected.size(), kUntouched);
        ASSERT_EQ(Kivu::PixelConversion::ConvertTestImage(c.source.data(), out.data(), c.pitch, c.height,
                                                          c.bits == 8    ? 0x01080001u
                                                          : c.bits == 16 ? 0x01100007u
                                                          : c.bits == 24 ? 0x02180014u
                                                                         : 0x02300033u,
                                                          c.output, c.shift, 0, c.width, 0),
                  0u)
            << c.what;
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

// Refusals write nothing: every error is found before the first pixel.
TEST(PixelConversion, ErrorsLeaveTheDestinationUntouched)
{
    const Bytes source(64, 0x5A);
    struct Case {
        const char* what;
        bool rgb, packed;
        uint32_t bits, shift, output;
        const char* message;  // nullptr: returns 0x80070057
    } cases[] = {
        {"RGB to Mono8", true, false, 24, 0, 0x01080001, nullptr},
        {"RGB to a packed format as unpacked", true, false, 24, 0, 0x010C0027, nullptr},
        {"RGB to Mono10Packed", true, true, 48, 0, 0x010C0004, nullptr},
        {"RGB to BayerRG8 as packed", true, true, 24, 0, 0x01080009, nullptr},
        {"RGB shift 17", true, false, 24, 17, 0x01080009, nullptr},
        {"RGB of 32 bits", true, false, 32, 0, 0x01080009, "\n Unknown bit per pixel resolution!"},
        {"RGB packed of 16 bits", true, true, 16, 0, 0x010C0027, "\n Unknown bit per pixel resolution!"},
        {"mono to RGB8", false, false, 8, 0, 0x02180014, "\n Unknown mono output format!"},
        {"mono to a packed format as unpacked", false, false, 8, 0, 0x010C0004, "\n Unknown mono output format!"},
        {"mono packed to Mono8", false, true, 8, 0, 0x01080001, "\n Unknown mono packed output format!"},
        {"mono of 24 bits", false, false, 24, 0, 0x01080001, "\n Unknown mono input format!"},
        {"mono packed of 12 bits", false, true, 12, 0, 0x010C0006, "\n Unknown mono input format!"},
        {"mono shift 17", false, false, 16, 17, 0x01100007, "\n Shift out of range!"},
    };
    for (const Case& c : cases) {
        Bytes out(64, kUntouched);
        const Region r{source.data(), c.bits, 4, 0, 0, 4, 2, out.data(), c.shift, c.output};
        if (c.message == nullptr) {
            EXPECT_EQ(run(r, c.rgb, c.packed), 0x80070057u) << c.what;
        } else {
            try {
                run(r, c.rgb, c.packed);
                ADD_FAILURE() << c.what << ": no error";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), c.message) << c.what;
            }
        }
        EXPECT_EQ(out, Bytes(64, kUntouched)) << c.what;

        Region empty = r;
        empty.height = 0;
        EXPECT_EQ(run(empty, c.rgb, c.packed), 0u) << c.what << ", height 0";
        EXPECT_EQ(out, Bytes(64, kUntouched)) << c.what << ", height 0";
    }
}

// The camera operation: its source formats, the output size, and every refusal as 0x80070057.
TEST(PixelConversion, CameraOperation)
{
    Kivu::Camera camera;
    const Bytes mono16 = {0x00, 0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40, 0x00, 0x50, 0x00, 0x60};  // 3 x 2
    constexpr uint8_t U = kUntouched;
    Bytes out(12, U);
    EXPECT_EQ(camera.ConvertPixels(mono16.data(), out.data(), 3, 2, 0x01100007, 0x01080001, 0, 0, 0, 0), 0u);
    EXPECT_EQ(out, (Bytes{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, U, U, U, U, U, U})) << "output size 0: all";

    out.assign(12, U);
    EXPECT_EQ(camera.ConvertPixels(mono16.data(), out.data(), 3, 2, 0x01100007, 0x01080001, 0, 0, 2, 1), 0u);
    EXPECT_EQ(out, (Bytes{0x10, 0x20, U, U, U, U, U, U, U, U, U, U}));

    out.assign(12, U);
    EXPECT_EQ(camera.ConvertPixels(mono16.data(), out.data(), 3, 2, 0x01100007, 0x010C0006, 0, 0, 0, 0), 0u)
        << "Mono12Packed";
    EXPECT_EQ(out, (Bytes{0x10, 0x00, 0x20, 0x30, 0x00, 0x00, 0x40, 0x00, 0x50, 0x60, 0x00, 0x00}))
        << "two groups of three bytes a line";

    struct Refusal {
        const char* what;
        const void* source;
        void* destination;
        uint32_t sourceFormat, output, shift, reserved, outWidth, outHeight;
    } refusals[] = {
        {"Mono10 source", mono16.data(), out.data(), 0x01100003, 0x01080001, 0, 0, 0, 0},
        {"no source", nullptr, out.data(), 0x01100007, 0x01080001, 0, 0, 0, 0},
        {"no destination", mono16.data(), nullptr, 0x01100007, 0x01080001, 0, 0, 0, 0},
        {"wider than the image", mono16.data(), out.data(), 0x01100007, 0x01080001, 0, 0, 4, 0},
        {"higher than the image", mono16.data(), out.data(), 0x01100007, 0x01080001, 0, 0, 0, 3},
        {"reserved not 0", mono16.data(), out.data(), 0x01100007, 0x01080001, 0, 1, 0, 0},
        {"mono to RGB8", mono16.data(), out.data(), 0x01100007, 0x02180014, 0, 0, 0, 0},
        {"RGB to Mono8", mono16.data(), out.data(), 0x02180014, 0x01080001, 0, 0, 1, 1},
        {"shift 20", mono16.data(), out.data(), 0x01100007, 0x01080001, 20, 0, 0, 0},
    };
    for (const Refusal& r : refusals) {
        out.assign(12, U);
        EXPECT_EQ(camera.ConvertPixels(r.source, r.destination, 3, 2, r.sourceFormat, r.output, r.shift, r.reserved,
                                       r.outWidth, r.outHeight),
                  0x80070057u)
            << r.what;
        EXPECT_EQ(out, Bytes(12, U)) << r.what;
    }
}

}  // namespace
