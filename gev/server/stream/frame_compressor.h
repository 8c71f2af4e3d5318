#pragma once
// A stream channel's compression: the mode and parameters the camera sets,
// and the JPEG and H.264 encoders that turn a frame into the bytes of one
// block. The H.264 module is bound at construction; without it H.264 is refused.
#include "server/stream/compression.h"
#include "server/stream/h264_module.h"
#include "server/stream/jpeg_encoder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Kivu {

class FrameCompressor {
public:
    explicit FrameCompressor(const char* moduleFile = Compression::kModuleFile);
    ~FrameCompressor();
    FrameCompressor(const FrameCompressor&) = delete;
    FrameCompressor& operator=(const FrameCompressor&) = delete;

    bool HasH264() const { return m_Module != nullptr; }
    // A non-zero mode re-initialises the encoder. Refused (false, mode kept)
    // for a mode above 2, and for H.264 without the module, which also writes
    // Compression::kModuleMissingLine to the debug output.
    bool SetMode(uint16_t mode);
    uint16_t Mode() const { return m_Mode.load(); }
    // JPEG quality (1..100) or H.264 quality profile, and the H.264 bitrate;
    // the encoder takes them with the next frame. Quality starts at 90.
    void SetParameters(uint32_t quality, uint32_t bitrate);
    // The next frame sets the encoder up anew (geometry or chunk size changed).
    void Reinitialise() { m_Reinitialise.store(true); }
    // The next frame allocates new output buffers (acquisition start).
    void FreeBuffers() { m_FreeBuffers.store(true); }

    struct Frame {
        const uint8_t* data = nullptr;
        uint64_t bytes = 0;  // readable at data
        uint32_t pixelFormat = 0;
        uint32_t width = 0;
        uint32_t height = 0;
    };
    // Encodes the frame in mode (1 or 2) into the output buffer: the encoded
    // bytes rounded up to a multiple of 16 (zero padded) in size, valid until
    // the next call. An unsupported pixel format raises std::runtime_error
    // with the mode's text before the frame is read; an encoder failure
    // returns false with a debug-output line.
    bool Encode(uint16_t mode, const Frame& frame, const uint8_t*& data, uint64_t& size);

private:
    bool encodeJpeg(const Frame& f, uint32_t quality, bool reinit, uint64_t& size);
    bool encodeH264(const Frame& f, uint32_t quality, uint32_t bitrate, bool qualityChanged, bool bitrateChanged,
                    bool reinit, uint64_t& size);

    const std::shared_ptr<const H264Module> m_Module;
    std::atomic<uint16_t> m_Mode{Compression::Mode::None};
    std::atomic<bool> m_Reinitialise{true};
    std::atomic<bool> m_FreeBuffers{false};

    std::mutex m_SettingsMutex;  // the parameters and their changed flags
    uint32_t m_Quality = 90;
    uint32_t m_Bitrate = 0;
    bool m_QualityChanged = false;
    bool m_BitrateChanged = false;

    std::mutex m_EncodeMutex;  // the encoders and buffers below
    JpegEncoder m_Jpeg;
    std::unique_ptr<H264Encoder> m_H264;
    std::vector<uint8_t> m_Bgrx;
    std::vector<uint8_t> m_H264Out;
    const uint8_t* m_Out = nullptr;
};

}  // namespace Kivu
