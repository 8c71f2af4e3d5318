#pragma once
// Test-image conversion from RGB or monochrome pixels into Bayer and packed or
// unpacked monochrome formats. Pure functions over the caller's buffers; they
// allocate nothing.
#include <cstddef>
#include <cstdint>

namespace Kivu::PixelConversion {

// A region of a source image and where its converted pixels go.
struct Region {
    const void* source = nullptr;
    uint32_t bitsPerPixel = 0;  // RGB: 24 (bytes R, G, B) or 48 (u16 R, G, B); mono: 8 or 16
    uint32_t pitch = 0;         // pixels per line of the source and of the destination
    uint32_t x = 0, y = 0;      // top-left pixel of the region in the source
    uint32_t width = 0, height = 0;
    void* destination = nullptr;  // receives the region's first pixel at its start
    uint32_t shift = 0;           // left shift of every sample, 0 .. kMaxShift
    uint32_t output = 0;          // PFNC code
};

constexpr uint32_t kMaxShift = 16;

// 16-bit samples, in the source and in unpacked outputs, are little-endian
// (the host order here, and the PFNC order).

// RGB into Bayer 8, 10, 12 and 16: 0, or 0x80070057 for another output format or
// a shift above kMaxShift. Throws std::runtime_error for a source of other than 24
// or 48 bits.
uint32_t RgbToBayer(const Region& r);
// RGB into Bayer 10 and 12 packed; the same results.
uint32_t RgbToBayerPacked(const Region& r);
// Monochrome into Mono10Packed, Mono12Packed and the Bayer packed formats: 0.
// Throws std::runtime_error for another output format, a source of other than 8
// or 16 bits or a shift above kMaxShift, before any pixel is written.
uint32_t MonoToPacked(const Region& r);
// Monochrome into Mono8/10/12/14/16 and Bayer 8/10/12/16; the same results.
uint32_t MonoToUnpacked(const Region& r);

// The camera's conversion of a test image of width x height pixels in sourceFormat
// (Mono8, Mono16, RGB8 or RGB16): its top-left outputWidth x outputHeight pixels
// (0 = the input size) into destinationFormat, at pitch width. 0x80070057 for null
// buffers, another source format, a region beyond the image or a non-zero reserved;
// otherwise the chosen converter's result (and its exceptions).
uint32_t ConvertTestImage(const void* source, void* destination, uint32_t width, uint32_t height, uint32_t sourceFormat,
                          uint32_t destinationFormat, uint32_t shift, uint32_t reserved, uint32_t outputWidth,
                          uint32_t outputHeight);

// Whether output is one of the packed formats (10 or 12 bits, three bytes per pair).
bool IsPacked(uint32_t output);
// Destination bytes from one line to the next for output at pitch: pitch x 1 or 2
// for unpacked formats, three bytes per started pair for packed ones; 0 for a
// format none of the converters writes.
size_t DestinationStride(uint32_t output, uint32_t pitch);

}  // namespace Kivu::PixelConversion
