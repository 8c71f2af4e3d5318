#include "server/stream/h264_module.h"

#include <dlfcn.h>

#include <cstring>

namespace Kivu {
namespace {

template <class Fn>
void bind(Fn& fn, void* symbol)
{
    static_assert(sizeof(Fn) == sizeof(void*));
    std::memcpy(&fn, &symbol, sizeof fn);
}

}  // namespace

bool ResolveEntryPoints(const std::function<void*(const char*)>& lookup, H264EntryPoints& out)
{
    using namespace Compression;
    void* symbols[EntryPointCount];
    for (int i = 0; i < EntryPointCount; ++i)
        if ((symbols[i] = lookup(kEntryPoints[i])) == nullptr)
            return false;
    H264EntryPoints api;
    bind(api.create, symbols[CreateEncoder]);
    bind(api.close, symbols[CloseEncoder]);
    bind(api.init, symbols[InitEncoder]);
    bind(api.deinit, symbols[DeinitEncoder]);
    bind(api.encode, symbols[Encode]);
    bind(api.setBitrate, symbols[SetBitrate]);
    bind(api.setQualityProfile, symbols[SetQualityProfile]);
    out = api;
    return true;
}

std::shared_ptr<const H264Module> H264Module::Load(const char* file)
{
    void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return nullptr;
    H264EntryPoints api;
    if (!ResolveEntryPoints([handle](const char* name) { return ::dlsym(handle, name); }, api)) {
        ::dlclose(handle);
        return nullptr;
    }
    return std::shared_ptr<const H264Module>(new H264Module(handle, api));
}

H264Module::~H264Module()
{
    ::dlclose(m_Handle);
}

H264Encoder::~H264Encoder()
{
    deinit();
    if (m_Encoder != nullptr)
        m_Module->Api().close(m_Encoder);
}

void H264Encoder::deinit()
{
    if (m_Initialised)
        m_Module->Api().deinit(m_Encoder);
    m_Initialised = false;
}

bool H264Encoder::Init(uint32_t width, uint32_t height, uint32_t quality, uint32_t bitrate)
{
    deinit();
    if (m_Encoder == nullptr && (m_Encoder = m_Module->Api().create()) == nullptr)
        return false;
    m_Initialised = m_Module->Api().init(m_Encoder, width, height, quality, bitrate, 0, 0) == 0;
    return m_Initialised;
}

bool H264Encoder::SetBitrate(uint32_t bitrate)
{
    return m_Initialised && m_Module->Api().setBitrate(m_Encoder, bitrate) == 0;
}

bool H264Encoder::SetQualityProfile(uint32_t profile)
{
    return m_Initialised && m_Module->Api().setQualityProfile(m_Encoder, profile) == 0;
}

bool H264Encoder::Encode(const uint8_t* bgrx, uint8_t* out, uint32_t capacity, uint32_t& size)
{
    size = 0;
    if (!m_Initialised || m_Module->Api().encode(m_Encoder, bgrx, out, capacity, &size) != 0)
        return false;
    return size <= capacity;
}

}  // namespace Kivu
