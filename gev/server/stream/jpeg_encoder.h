#pragma once
// TurboJPEG compression of one frame into an output buffer the encoder owns.
#include "server/stream/compression.h"

#include <cstdint>
#include <string>

namespace Kivu {

class JpegEncoder {
public:
    JpegEncoder();  // without a compressor handle every Encode fails
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Bytes the output buffer must hold for any frame of that size.
    static uint64_t BufferBytes(Compression::JpegInput input, uint32_t width, uint32_t height);
    // Frees the output buffer and allocates one of bytes; false when that fails.
    bool Allocate(uint64_t bytes);
    void Free();
    uint64_t Capacity() const { return m_Capacity; }
    uint8_t* Data() { return m_Buffer; }

    // Compresses width x height pixels (tightly packed) into the output buffer,
    // which must hold BufferBytes; false with the library's text in error.
    bool Encode(Compression::JpegInput input, const uint8_t* frame, uint32_t width, uint32_t height, int quality,
                uint64_t& size, std::string& error);

private:
    void* m_Handle = nullptr;
    uint8_t* m_Buffer = nullptr;
    uint64_t m_Capacity = 0;
};

}  // namespace Kivu
