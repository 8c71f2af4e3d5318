#include "server/stream/jpeg_encoder.h"

#include <turbojpeg.h>

#include <algorithm>

namespace Kivu {
namespace {

int subsampling(Compression::JpegInput input)
{
    return input == Compression::JpegInput::Grey ? TJSAMP_GRAY : TJSAMP_420;
}

}  // namespace

JpegEncoder::JpegEncoder() : m_Handle(tjInitCompress()) {}

JpegEncoder::~JpegEncoder()
{
    Free();
    if (m_Handle != nullptr)
        tjDestroy(m_Handle);
}

uint64_t JpegEncoder::BufferBytes(Compression::JpegInput input, uint32_t width, uint32_t height)
{
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return 0;
    const unsigned long n = tjBufSize(static_cast<int>(width), static_cast<int>(height), subsampling(input));
    return n == static_cast<unsigned long>(-1) ? 0 : n;
}

bool JpegEncoder::Allocate(uint64_t bytes)
{
    Free();
    if (bytes == 0 || bytes > INT32_MAX)
        return false;
    m_Buffer = tjAlloc(static_cast<int>(bytes));
    m_Capacity = m_Buffer != nullptr ? bytes : 0;
    return m_Buffer != nullptr;
}

void JpegEncoder::Free()
{
    if (m_Buffer != nullptr)
        tjFree(m_Buffer);
    m_Buffer = nullptr;
    m_Capacity = 0;
}

bool JpegEncoder::Encode(Compression::JpegInput input, const uint8_t* frame, uint32_t width, uint32_t height,
                         int quality, uint64_t& size, std::string& error)
{
    const uint64_t need = BufferBytes(input, width, height);
    if (m_Handle == nullptr || input == Compression::JpegInput::Unsupported || need == 0 || m_Capacity < need) {
        error = m_Handle == nullptr ? "no JPEG compressor" : "JPEG output buffer too small";
        return false;
    }
    unsigned char* out = m_Buffer;
    unsigned long outSize = static_cast<unsigned long>(m_Capacity);
    const int format = input == Compression::JpegInput::Grey ? TJPF_GRAY : TJPF_RGB;
    if (tjCompress2(m_Handle, frame, static_cast<int>(width), 0, static_cast<int>(height), format, &out, &outSize,
                    subsampling(input), std::clamp(quality, 1, 100), TJFLAG_FASTDCT | TJFLAG_NOREALLOC) != 0) {
        error = tjGetErrorStr2(m_Handle);
        return false;
    }
    size = outSize;
    return true;
}

}  // namespace Kivu
