#pragma once
// The optional H.264 encoder module: its seven C entry points, bound from a
// shared object with dlopen, and one encoder instance over them.
#include "server/stream/compression.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace Kivu {

// The module's C interface. Every int result is 0 on success. Init takes
// (width, height, quality profile, bitrate, 0, 0); Encode takes width x height
// pixels of 4 bytes (b, g, r, 0) and writes at most capacity bytes of H.264
// byte stream, their count in *size.
struct H264EntryPoints {
    void* (*create)() = nullptr;
    void (*close)(void* encoder) = nullptr;
    int (*init)(void* encoder, uint32_t width, uint32_t height, uint32_t quality, uint32_t bitrate, uint32_t,
                uint32_t) = nullptr;
    int (*deinit)(void* encoder) = nullptr;
    int (*encode)(void* encoder, const uint8_t* input, uint8_t* output, uint32_t capacity, uint32_t* size) = nullptr;
    int (*setBitrate)(void* encoder, uint32_t bitrate) = nullptr;
    int (*setQualityProfile)(void* encoder, uint32_t profile) = nullptr;
};

// Binds every entry point of Compression::kEntryPoints through lookup; false
// (out untouched) when one is missing.
bool ResolveEntryPoints(const std::function<void*(const char*)>& lookup, H264EntryPoints& out);

class H264Module {
public:
    // The module in file (a name on the library search path, or a path);
    // null when it is missing or lacks an entry point.
    static std::shared_ptr<const H264Module> Load(const char* file);
    ~H264Module();
    H264Module(const H264Module&) = delete;
    H264Module& operator=(const H264Module&) = delete;

    const H264EntryPoints& Api() const { return m_Api; }

private:
    H264Module(void* handle, const H264EntryPoints& api) : m_Handle(handle), m_Api(api) {}
    void* m_Handle;
    H264EntryPoints m_Api;
};

// One encoder of the module: created on the first Init, deinitialised and
// closed with the object.
class H264Encoder {
public:
    explicit H264Encoder(std::shared_ptr<const H264Module> module) : m_Module(std::move(module)) {}
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    bool Init(uint32_t width, uint32_t height, uint32_t quality, uint32_t bitrate);
    bool SetBitrate(uint32_t bitrate);
    bool SetQualityProfile(uint32_t profile);
    bool Encode(const uint8_t* bgrx, uint8_t* out, uint32_t capacity, uint32_t& size);

private:
    void deinit();
    std::shared_ptr<const H264Module> m_Module;
    void* m_Encoder = nullptr;
    bool m_Initialised = false;
};

}  // namespace Kivu
