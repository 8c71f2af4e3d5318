// A stand-in for the H.264 encoder module, built for the tests only. Its
// output is deterministic: an Annex B start code, a NAL header byte (0x65 for
// the first frame after init, else 0x41), a 16-byte record of what it was set
// to, then the first byte (b) of every 16th input pixel.
//   record: u16 width, u16 height, u8 init quality, u8 quality profile,
//           u32 bitrate, u32 frames since init, u16 0 (all big-endian)
#include <cstdint>
#include <cstring>
#include <new>

namespace {

struct Encoder {
    uint32_t width = 0, height = 0, quality = 0, profile = 0, bitrate = 0, frames = 0;
    bool initialised = false;
};

void be(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void* IntelCreateEncoder()
{
    return new (std::nothrow) Encoder;
}

EXPORT void IntelCloseEncoder(void* e)
{
    delete static_cast<Encoder*>(e);
}

EXPORT int IntelInitEncoder(void* p, uint32_t width, uint32_t height, uint32_t quality, uint32_t bitrate, uint32_t a,
                            uint32_t b)
{
    auto* e = static_cast<Encoder*>(p);
    if (e == nullptr || width == 0 || height == 0 || a != 0 || b != 0)
        return 1;
    *e = Encoder{width, height, quality, quality, bitrate, 0, true};
    return 0;
}

EXPORT int IntelDeinitEncoder(void* p)
{
    auto* e = static_cast<Encoder*>(p);
    if (e == nullptr || !e->initialised)
        return 1;
    e->initialised = false;
    return 0;
}

EXPORT int IntelSetBitrate(void* p, uint32_t bitrate)
{
    auto* e = static_cast<Encoder*>(p);
    if (e == nullptr || !e->initialised)
        return 1;
    e->bitrate = bitrate;
    return 0;
}

EXPORT int IntelSetQualityProfile(void* p, uint32_t profile)
{
    auto* e = static_cast<Encoder*>(p);
    if (e == nullptr || !e->initialised)
        return 1;
    e->profile = profile;
    return 0;
}

EXPORT int IntelEncode(void* p, const uint8_t* input, uint8_t* output, uint32_t capacity, uint32_t* size)
{
    auto* e = static_cast<Encoder*>(p);
    if (e == nullptr || !e->initialised || input == nullptr || output == nullptr || size == nullptr)
        return 1;
    const uint64_t pixels = uint64_t(e->width) * e->height;
    const uint64_t samples = (pixels + 15) / 16;
    const uint64_t total = 5 + 16 + samples;
    if (total > capacity)
        return 2;
    const uint8_t start[5] = {0, 0, 0, 1, static_cast<uint8_t>(e->frames == 0 ? 0x65 : 0x41)};
    std::memcpy(output, start, 5);
    uint8_t* r = output + 5;
    be(r, e->width, 2);
    be(r + 2, e->height, 2);
    r[4] = static_cast<uint8_t>(e->quality);
    r[5] = static_cast<uint8_t>(e->profile);
    be(r + 6, e->bitrate, 4);
    be(r + 10, e->frames, 4);
    be(r + 14, 0, 2);
    for (uint64_t i = 0; i < samples; ++i)
        output[21 + i] = input[16 * i * 4];
    ++e->frames;
    *size = static_cast<uint32_t>(total);
    return 0;
}
