#pragma once
// What compressed streaming computes without an encoder: payload sizes and
// widths per compression mode, the pixel formats each encoder takes, the
// encoder input (4 bytes per pixel), the H.264 module's file and entry points,
// and its absence message.
#include <cstddef>
#include <cstdint>

namespace Kivu::Compression {

namespace Mode {
constexpr uint16_t None = 0;
constexpr uint16_t Jpeg = 1;
constexpr uint16_t H264 = 2;
}  // namespace Mode

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kRgb8 = 0x02180014;

constexpr uint64_t RoundUp16(uint64_t n)
{
    return (n + 15) / 16 * 16;
}

// Payload bytes for raw image bytes: JPEG raw x 0.9, H.264 raw x 0.8, each
// rounded up to a multiple of 16; none: raw. Another mode raises
// "\n Unknown payload type!".
uint64_t PayloadBytes(uint16_t mode, uint64_t raw);

// The width a width write stores: rounded up to a multiple of 16 in H.264 mode.
constexpr uint32_t StoredWidth(uint16_t mode, uint32_t width)
{
    if (mode != Mode::H264)
        return width;
    return width > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(RoundUp16(width));
}

// Source bytes of a frame the encoders take (Mono8 or RGB8); 0 for any other format.
uint64_t SourceBytes(uint32_t pixelFormat, uint32_t width, uint32_t height);

// The JPEG input of a pixel format: grey (grey sampling) or RGB (4:2:0).
enum class JpegInput : uint8_t { Unsupported, Grey, Rgb };
JpegInput JpegInputOf(uint32_t pixelFormat);
constexpr const char* kJpegFormatError = "\nUnknown pixel format, needed for JPEG encoder.";

// The H.264 encoder's input, 4 bytes per pixel: Mono8 g -> (g, g, g, 0),
// RGB8 (r, g, b) -> (b, g, r, 0). Reads SourceBytes and writes width x height
// x 4 bytes; false (nothing written) for another format or a frame shorter
// than that.
bool ToBgrx(uint32_t pixelFormat, uint32_t width, uint32_t height, const uint8_t* frame, uint64_t frameBytes,
            uint8_t* out);
constexpr const char* kH264FormatError = "Not implemented";

// The H.264 encoder module, looked up on the library search path.
constexpr const char* kModuleFile = "libpravmpg.so";
enum EntryPoint { CreateEncoder, CloseEncoder, InitEncoder, DeinitEncoder, Encode, SetBitrate, SetQualityProfile,
                  EntryPointCount };
constexpr const char* kEntryPoints[EntryPointCount] = {
    "IntelCreateEncoder", "IntelCloseEncoder", "IntelInitEncoder",      "IntelDeinitEncoder",
    "IntelEncode",        "IntelSetBitrate",   "IntelSetQualityProfile"};
// Written to the debug output when H.264 is asked for without the module.
constexpr const char* kModuleMissingLine =
    "Tessaron error: Additional modules required for H.264 support. Contact your vendor.\n";

// The quality the encoder is initialised with.
constexpr uint32_t InitQuality(uint32_t quality)
{
    return quality < 6 ? quality : 6;
}

}  // namespace Kivu::Compression
