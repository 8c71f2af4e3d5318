#include "server/stream/frame_compressor.h"

#include "platform/debug_output.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Kivu {

using namespace Compression;

FrameCompressor::FrameCompressor(const char* moduleFile) : m_Module(H264Module::Load(moduleFile)) {}

FrameCompressor::~FrameCompressor() = default;

bool FrameCompressor::SetMode(uint16_t mode)
{
    if (mode > Mode::H264)
        return false;
    if (mode == Mode::H264 && !HasH264()) {
        platform::debugOutput(kModuleMissingLine);
        return false;
    }
    m_Mode.store(mode);
    if (mode != Mode::None)
        m_Reinitialise.store(true);
    return true;
}

void FrameCompressor::SetParameters(uint32_t quality, uint32_t bitrate)
{
    std::lock_guard lk(m_SettingsMutex);
    m_Quality = quality;
    m_Bitrate = bitrate;
    m_QualityChanged = m_BitrateChanged = true;
}

bool FrameCompressor::Encode(uint16_t mode, const Frame& f, const uint8_t*& data, uint64_t& size)
{
    // The format is checked on every frame, before any pixel is read.
    if (mode == Mode::Jpeg && JpegInputOf(f.pixelFormat) == JpegInput::Unsupported)
        throw std::runtime_error(kJpegFormatError);
    if (mode == Mode::H264 && SourceBytes(f.pixelFormat, f.width, f.height) == 0)
        throw std::runtime_error(kH264FormatError);
    if (mode != Mode::Jpeg && mode != Mode::H264)
        return false;
    if (f.data == nullptr || f.bytes < SourceBytes(f.pixelFormat, f.width, f.height))
        return false;
    uint32_t quality, bitrate;
    bool qualityChanged, bitrateChanged;
    {
        std::lock_guard lk(m_SettingsMutex);
        quality = m_Quality;
        bitrate = m_Bitrate;
        qualityChanged = m_QualityChanged;
        bitrateChanged = m_BitrateChanged;
        m_QualityChanged = m_BitrateChanged = false;
    }
    std::lock_guard lk(m_EncodeMutex);
    if (m_FreeBuffers.exchange(false)) {
        m_Jpeg.Free();
        m_H264Out = {};
        m_Bgrx = {};
    }
    const bool reinit = m_Reinitialise.exchange(false);
    uint64_t encoded = 0;
    const bool ok = mode == Mode::Jpeg
                        ? encodeJpeg(f, quality, reinit, encoded)
                        : encodeH264(f, quality, bitrate, qualityChanged, bitrateChanged, reinit, encoded);
    if (!ok) {
        // The encoder starts over with the next frame.
        m_Reinitialise.store(true);
        return false;
    }
    data = m_Out;
    size = RoundUp16(encoded);
    return true;
}

bool FrameCompressor::encodeJpeg(const Frame& f, uint32_t quality, bool reinit, uint64_t& size)
{
    const JpegInput input = JpegInputOf(f.pixelFormat);
    // Room for any content, and for the padding to 16.
    const uint64_t need = RoundUp16(JpegEncoder::BufferBytes(input, f.width, f.height));
    if (reinit || m_Jpeg.Capacity() < need) {
        if (!m_Jpeg.Allocate(need)) {
            platform::debugOutput("Error: JPEG output buffer not allocated\n");
            return false;
        }
    }
    std::string error;
    const int q = quality > 100 ? 100 : static_cast<int>(quality);
    if (!m_Jpeg.Encode(input, f.data, f.width, f.height, q, size, error)) {
        const std::string line = "Error: JPEG compression: " + error + "\n";
        platform::debugOutput(line.c_str());
        return false;
    }
    std::memset(m_Jpeg.Data() + size, 0, RoundUp16(size) - size);
    m_Out = m_Jpeg.Data();
    return true;
}

bool FrameCompressor::encodeH264(const Frame& f, uint32_t quality, uint32_t bitrate, bool qualityChanged,
                                 bool bitrateChanged, bool reinit, uint64_t& size)
{
    if (!m_Module)
        return false;
    const uint64_t pixels = uint64_t(f.width) * f.height;
    const uint64_t capacity = PayloadBytes(Mode::H264, SourceBytes(f.pixelFormat, f.width, f.height));
    if (pixels == 0 || capacity > UINT32_MAX)
        return false;
    m_Bgrx.resize(pixels * 4);
    if (!ToBgrx(f.pixelFormat, f.width, f.height, f.data, f.bytes, m_Bgrx.data()))
        return false;
    if (reinit || !m_H264 || m_H264Out.size() != capacity) {
        m_H264Out.assign(capacity, 0);
        if (!m_H264)
            m_H264 = std::make_unique<H264Encoder>(m_Module);
        if (!m_H264->Init(f.width, f.height, InitQuality(quality), bitrate)) {
            platform::debugOutput("Error: H.264 encoder not initialised\n");
            return false;
        }
    }
    if (bitrateChanged && !m_H264->SetBitrate(bitrate))
        platform::debugOutput("Error: H.264 bitrate not set\n");
    if (qualityChanged && !m_H264->SetQualityProfile(quality))
        platform::debugOutput("Error: H.264 quality profile not set\n");
    uint32_t n = 0;
    if (!m_H264->Encode(m_Bgrx.data(), m_H264Out.data(), static_cast<uint32_t>(capacity), n)) {
        platform::debugOutput("Error: H.264 encoding failed\n");
        return false;
    }
    // The padding to 16 stays within the buffer: its size is a multiple of 16.
    std::memset(m_H264Out.data() + n, 0, RoundUp16(n) - n);
    size = n;
    m_Out = m_H264Out.data();
    return true;
}

}  // namespace Kivu
