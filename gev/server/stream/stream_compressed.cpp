#include "server/stream/stream_protocol.h"

#include "platform/debug_output.h"

#include <cstdio>

namespace Kivu {

// A frame of the latched geometry, encoded, then the chunk area: the frame
// buffer holds the raw image and the chunk area behind it; the block carries
// the encoded bytes (padded to 16) and the chunk area right behind them, so
// that the chunks end at the block's end. Called under the send mutex with
// the frame begun; the caller ends the frame.
bool StreamProtocol::sendCompressed(const uint8_t* frame, uint64_t chunkBytes, uint16_t flags,
                                    const Latched& latched, uint32_t chunkSize)
{
    if (m_GevMode.load() != GevMode::Extended || chunkBytes > chunkSize)
        return false;
    const FrameGeometry& g = latched.geometry;
    const uint64_t raw = uint64_t(g.width) * g.height * PixelBits(g.pixelFormat) / 8;
    FrameCompressor::Frame f;
    f.data = frame;
    f.bytes = raw;
    f.pixelFormat = g.pixelFormat;
    f.width = g.width;
    f.height = g.height;
    const uint8_t* encoded = nullptr;
    uint64_t size = 0;
    if (!m_Compressor.Encode(latched.compression, f, encoded, size))
        return false;
    // Clients size their buffers from the payload size: a larger block would not fit them.
    const uint64_t limit = Compression::PayloadBytes(latched.compression, raw);
    if (size > limit) {
        char line[160];
        std::snprintf(line, sizeof line, "Error: compressed frame of %llu bytes exceeds the payload size %llu: not sent\n",
                      static_cast<unsigned long long>(size), static_cast<unsigned long long>(limit));
        platform::debugOutput(line);
        return false;
    }
    const Source sources[2] = {{encoded, size}, {frame + raw + chunkSize - chunkBytes, chunkBytes}};
    const Gvsp::BlockKind kind =
        latched.compression == Compression::Mode::Jpeg ? Gvsp::BlockKind::Jpeg : Gvsp::BlockKind::H264;
    return queueEncoded(kind, sources, 2, flags, latched);
}

}  // namespace Kivu
