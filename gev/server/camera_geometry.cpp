#include "server/camera_geometry.h"

#include "model/default_features.h"
#include "model/reg_tree.h"
#include "server/camera.h"
#include "server/stream/compression.h"

#include <mutex>
#include <shared_mutex>

namespace Kivu {
namespace {

constexpr uint32_t kAddresses[ChannelSettings::MapCount] = {
    DefaultFeatureAddress::Width, DefaultFeatureAddress::Height, DefaultFeatureAddress::PixelFormat,
    DefaultFeatureAddress::OffsetX, DefaultFeatureAddress::OffsetY};

}  // namespace

ImageRegisterHooks::ImageRegisterHooks(Camera& camera, RegTree& tree) : m_Camera(camera)
{
    for (int m = 0; m < ChannelSettings::MapCount; ++m) {
        std::shared_ptr<Register> reg = tree.Find(kAddresses[m]);
        if ((m_UInt[m] = std::dynamic_pointer_cast<UIntReg>(reg)))
            subscribe(*m_UInt[m]);
        else if ((m_Int[m] = std::dynamic_pointer_cast<IntReg>(reg)))
            subscribe(*m_Int[m]);
    }
    // A channel that serves another source streams that source's geometry.
    m_Camera.m_Streams->Sources().SetChangeHandler(
        [this](uint32_t ch) { m_Camera.rebuild(static_cast<int32_t>(ch), false); });
}

ImageRegisterHooks::~ImageRegisterHooks()
{
    m_Camera.m_Streams->Sources().SetChangeHandler(nullptr);
    for (int m = 0; m < ChannelSettings::MapCount; ++m) {
        if (m_UInt[m])
            unsubscribe(*m_UInt[m]);
        if (m_Int[m])
            unsubscribe(*m_Int[m]);
    }
}

template <class R>
void ImageRegisterHooks::subscribe(R& reg)
{
    reg.Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &ImageRegisterHooks::beforeWrite<R>));
    reg.Subscribe(CallbackList::AfterWrite, MakeCallback(this, &ImageRegisterHooks::afterWrite<R>));
    reg.Subscribe(CallbackList::BeforeRead, MakeCallback(this, &ImageRegisterHooks::beforeRead<R>));
}

template <class R>
void ImageRegisterHooks::unsubscribe(R& reg)
{
    reg.RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &ImageRegisterHooks::beforeWrite<R>));
    reg.RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &ImageRegisterHooks::afterWrite<R>));
    reg.RemoveCallbacks(CallbackList::BeforeRead, MakeCallback(this, &ImageRegisterHooks::beforeRead<R>));
}

int ImageRegisterHooks::mapOf(uint32_t address) const
{
    for (int m = 0; m < ChannelSettings::MapCount; ++m)
        if (kAddresses[m] == address)
            return m;
    return -1;
}

// A client resizing the image during an acquisition would no longer match the
// buffers it sized for it: refused until acquisition stops.
bool ImageRegisterHooks::allowWrite(Register& reg)
{
    if (reg.GetRequester() < Origin::Remote)
        return true;
    for (uint64_t ch = 0; ch < m_Camera.m_Streams->Count(); ++ch)
        if (m_Camera.m_Streams->Channel(static_cast<uint32_t>(ch)).IsStreaming())
            return false;
    return true;
}

// A client resizing the image during an acquisition is refused (allowWrite).
template <class R>
bool ImageRegisterHooks::beforeWrite(R* reg)
{
    return allowWrite(*reg);
}

template <class R>
bool ImageRegisterHooks::afterWrite(R* reg)
{
    written(mapOf(reg->GetAddress()), static_cast<uint32_t>(reg->GetValue()), reg->GetRequester() >= Origin::Remote);
    return true;
}

// A read shows the current selection's value when it has its own entry.
template <class R>
bool ImageRegisterHooks::beforeRead(R* reg)
{
    uint32_t value = 0;
    if (selected(mapOf(reg->GetAddress()), value))
        reg->SetValue(static_cast<typename R::Value>(value));
    return true;
}

// A write sets the value of every channel's key for the register (a width in
// H.264 mode rounded up to 16); a client's write is news to the host (the
// channel-change callback).
void ImageRegisterHooks::written(int map, uint32_t value, bool fromClient)
{
    if (map < 0)
        return;
    const int32_t channels = static_cast<int32_t>(m_Camera.m_Channels.size());
    for (int32_t ch = 0; ch < channels; ++ch) {
        ChannelSettings* c = m_Camera.channel(ch);
        const uint32_t key = m_Camera.registerKey(ch, map);
        const uint32_t stored = map == ChannelSettings::Width
                                    ? Compression::StoredWidth(m_Camera.stream(ch)->CompressionMode(), value)
                                    : value;
        {
            std::unique_lock lock(c->lock);
            c->maps[map][key] = stored;
        }
        m_Camera.rebuild(ch, fromClient);
    }
}

bool ImageRegisterHooks::selected(int map, uint32_t& value)
{
    ChannelSettings* c = map < 0 ? nullptr : m_Camera.channel(0);
    if (c == nullptr)
        return false;
    const uint32_t key = m_Camera.registerKey(0, map);
    std::shared_lock lock(c->lock);
    const auto it = c->maps[map].find(key);
    if (it == c->maps[map].end())
        return false;
    value = it->second;
    return true;
}

}  // namespace Kivu
