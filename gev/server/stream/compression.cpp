#include "server/stream/compression.h"

#include <stdexcept>

namespace Kivu::Compression {

uint64_t PayloadBytes(uint16_t mode, uint64_t raw)
{
    // Exact: the product is rounded up, never truncated first.
    switch (mode) {
    case Mode::None: return raw;
    case Mode::Jpeg: return (raw * 9 + 159) / 160 * 16;
    case Mode::H264: return (raw * 8 + 159) / 160 * 16;
    default: throw std::runtime_error("\n Unknown payload type!");
    }
}

uint64_t SourceBytes(uint32_t pixelFormat, uint32_t width, uint32_t height)
{
    const uint64_t pixels = uint64_t(width) * height;
    switch (pixelFormat) {
    case kMono8: return pixels;
    case kRgb8: return pixels * 3;
    default: return 0;
    }
}

JpegInput JpegInputOf(uint32_t pixelFormat)
{
    switch (pixelFormat) {
    case kMono8: return JpegInput::Grey;
    case kRgb8: return JpegInput::Rgb;
    default: return JpegInput::Unsupported;
    }
}

bool ToBgrx(uint32_t pixelFormat, uint32_t width, uint32_t height, const uint8_t* frame, uint64_t frameBytes,
            uint8_t* out)
{
    const uint64_t need = SourceBytes(pixelFormat, width, height);
    if (need == 0 || frame == nullptr || frameBytes < need)
        return false;
    const uint64_t pixels = uint64_t(width) * height;
    if (pixelFormat == kMono8) {
        for (uint64_t i = 0; i < pixels; ++i) {
            const uint8_t g = frame[i];
            out[4 * i] = g;
            out[4 * i + 1] = g;
            out[4 * i + 2] = g;
            out[4 * i + 3] = 0;
        }
        return true;
    }
    for (uint64_t i = 0; i < pixels; ++i) {
        out[4 * i] = frame[3 * i + 2];
        out[4 * i + 1] = frame[3 * i + 1];
        out[4 * i + 2] = frame[3 * i];
        out[4 * i + 3] = 0;
    }
    return true;
}

}  // namespace Kivu::Compression
