// Device and stream configuration, the per-region geometry maps, and the
// operations of the event path, which this build does not serve.
#include "server/camera.h"
#include "server/camera_guard.h"

#include "server/camera_pixel_formats.h"
#include "server/pixel_conversion.h"
#include "platform/debug_output.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace Kivu {
namespace {

uint32_t firstFailure(std::initializer_list<uint32_t> statuses)
{
    for (uint32_t s : statuses)
        if (s != GevResult::Ok)
            return s;
    return GevResult::Ok;
}

constexpr uint32_t kMaxSources = 16;

}  // namespace

ChannelSettings* Camera::channel(int64_t ch)
{
    if (ch < 0 || static_cast<uint64_t>(ch) >= m_Channels.size())
        return nullptr;
    return m_Channels[static_cast<size_t>(ch)].get();
}

// Twice the selected source with three or more sources, else twice the source
// the channel serves (taken at its acquisition start).
uint32_t Camera::sourceKeyBase(int32_t ch)
{
    const ChannelSettings& c = *channel(ch);
    uint8_t sources;
    {
        std::shared_lock lock(c.lock);
        sources = c.sourceCount;
    }
    uint32_t source = 0;
    if (sources >= 3)
        m_Features->GetUInt32("regSourceSelector", source);
    else if (StreamProtocol* s = stream(ch))
        source = s->GetSource();
    return 2 * source;
}

uint32_t Camera::selectionKey(int32_t ch)
{
    const ChannelSettings& c = *channel(ch);
    bool secondRegion;
    {
        std::shared_lock lock(c.lock);
        secondRegion = c.regionMode == 2;
    }
    return sourceKeyBase(ch) + (secondRegion ? 1 : 0);
}

// The pixel format is one value for all keys (key 0); the width, height and
// offsets are those of the region RegionSelector names (the features it selects).
uint32_t Camera::registerKey(int32_t ch, int map)
{
    if (map == ChannelSettings::PixelFormat)
        return 0;
    uint32_t region = 0;
    m_Features->GetUInt32("regRegionSelector", region);
    return sourceKeyBase(ch) + region;
}

// A key without its own pixel format has the one of key 0, where the image
// register's writes put it; any other missing value reads 0.
uint32_t Camera::mapValue(int32_t ch, int map)
{
    const ChannelSettings& c = *channel(ch);
    const uint32_t key = selectionKey(ch);
    std::shared_lock lock(c.lock);
    const auto& m = c.maps[map];
    auto it = m.find(key);
    if (it == m.end() && map == ChannelSettings::PixelFormat)
        it = m.find(0);
    return it == m.end() ? 0 : it->second;
}

uint32_t Camera::GetStreamChannelCount(uint32_t* count)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (count == nullptr)
            return GevResult::InvalidArgument;
        *count = static_cast<uint32_t>(m_Channels.size());
        return GevResult::Ok;
    });
}

// H.264 without its encoder module is refused and the mode kept (the channel
// writes why to the debug output). A new mode changes the payload size, so it
// waits for the acquisition to end.
uint32_t Camera::SetCompressionMode(uint16_t mode, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr || channel(ch) == nullptr || mode > 2)
            return GevResult::InvalidArgument;
        if (s->IsStreaming())
            return GevResult::Running;
        if (!s->SetCompressionMode(mode))
            return GevResult::Fail;
        rebuild(ch, false);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetCompressionParameters(uint32_t quality, uint32_t bitrate, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr || channel(ch) == nullptr)
            return GevResult::InvalidArgument;
        s->SetCompressionParameters(quality, bitrate);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetSourceCount(uint32_t count)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (count > kMaxSources)
            return GevResult::InvalidArgument;
        if (count < 2)
            return GevResult::Ok;
        {
            std::unique_lock lock(m_Channels[0]->lock);
            m_Channels[0]->sourceCount = static_cast<uint8_t>(count);
        }
        uint32_t st = firstFailure({m_Features->SetInt32("regSourceCount", static_cast<int32_t>(count)),
                                    m_Features->SetInt32("regIsMultistreaming", 1)});
        for (uint32_t i = 0; i < kMaxSources && st == GevResult::Ok; ++i)
            st = m_Features->SetEntryChildText("SourceSelector", ("Source" + std::to_string(i)).c_str(),
                                               "pIsAvailable", i < count ? "True" : "False", false);
        return st;
    });
}

uint32_t Camera::SetRegionMode(uint32_t mode, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        ChannelSettings* c = channel(ch);
        if (c == nullptr || mode > 2)
            return GevResult::InvalidArgument;
        {
            std::unique_lock lock(c->lock);
            c->regionMode = static_cast<uint8_t>(mode);
        }
        if (mode == 0 || mode == 2)
            return m_Features->SetEntryChildText("RegionSelector", "Scan3DExtraction0", "pIsAvailable", "True", false);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetTimestampMode(uint16_t mode, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        ChannelSettings* c = channel(ch);
        if (c == nullptr)
            return GevResult::InvalidArgument;
        if (mode != 0 && mode != 1 && mode != 3)
            return GevResult::Fail;
        // Every mode counts nanoseconds (0x093C/0x0940 = 0 / 1e9); mode 1 from the camera's start time.
        return stream(ch)->SetTimestampSource(mode, m_StartTime) ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::SetMaxImageSize(uint32_t maxWidth, uint32_t maxHeight)
{
    return guarded(__func__, [&]() -> uint32_t {
        return firstFailure({m_Features->SetInt32("regMaxWidth", static_cast<int32_t>(maxWidth)),
                             m_Features->SetInt32("regMaxHeight", static_cast<int32_t>(maxHeight))});
    });
}

uint32_t Camera::SetPayloadType(uint16_t payloadType, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr)
            return GevResult::InvalidArgument;
        s->SetPayloadType(payloadType);
        return GevResult::Ok;
    });
}

uint32_t Camera::SetActionSignalCount(uint32_t count)
{
    return guarded(__func__, [&] { return m_Control.SetActionSignalCount(count); });
}

uint32_t Camera::SetChannelChangeCallback(void* context, int32_t ch, ChannelChangeCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        ChannelSettings* c = channel(ch);
        if (c == nullptr)
            return GevResult::InvalidArgument;
        std::unique_lock lock(c->lock);
        c->changeContext = context;
        c->change = fn;
        return GevResult::Ok;
    });
}

uint32_t Camera::sourceSelectorFor(int32_t ch)
{
    if (m_Channels.size() <= 1)
        return GevResult::Ok;
    return m_Features->SetInt32("regSourceSelector", static_cast<int32_t>(selectionKey(ch) / 2));
}

uint32_t Camera::SetImageSize(uint32_t width, uint32_t height, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (channel(ch) == nullptr)
            return GevResult::InvalidArgument;
        ExclusiveLock lock(m_Lock);
        const uint32_t st = firstFailure({sourceSelectorFor(ch), m_Features->SetUInt32("regWidth", width),
                                          m_Features->SetUInt32("regHeight", height)});
        rebuild(ch, false);
        return st;
    });
}

uint32_t Camera::SetImageOffset(uint32_t x, uint32_t y, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (channel(ch) == nullptr)
            return GevResult::InvalidArgument;
        ExclusiveLock lock(m_Lock);
        const uint32_t st =
            firstFailure({sourceSelectorFor(ch), m_Features->SetInt32("regOffsetX", static_cast<int32_t>(x)),
                          m_Features->SetInt32("regOffsetY", static_cast<int32_t>(y))});
        rebuild(ch, false);
        return st;
    });
}

uint32_t Camera::SetPixelFormatValue(uint32_t pfncValue, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (channel(ch) == nullptr)
            return GevResult::InvalidArgument;
        if (pfncValue == 0)
            return GevResult::Fail;
        const char* name = PixelFormatName(pfncValue);
        if (name == nullptr)
            return GevResult::NotFound;
        return SetPixelFormat(name, ch);
    });
}

uint32_t Camera::SetPixelFormat(const char* pfncName, int32_t ch)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (channel(ch) == nullptr)
            return GevResult::InvalidArgument;
        if (PixelFormatCode(pfncName) == 0)
            return GevResult::Fail;
        const uint32_t st = sourceSelectorFor(ch);
        if (st != GevResult::Ok)
            return st;
        const uint32_t written = m_Features->SetEnumValue("PixelFormat", pfncName);
        rebuild(ch, false);
        return written;
    });
}

// A value not in the table has the empty name, as GetPixelFormatName answers.
const char* Camera::PixelFormatNameOf(uint32_t pfncValue)
{
    return guarded<const char*>(__func__, nullptr, [&] {
        const char* name = PixelFormatName(pfncValue);
        return name != nullptr ? name : "";
    });
}

uint32_t Camera::PixelFormatValueOf(const char* pfncName)
{
    return guarded<uint32_t>(__func__, GevResult::InvalidArgument, [&] { return PixelFormatCode(pfncName); });
}

// Per-region geometry of channel 0 ---------------------------------------------

uint32_t Camera::regionSet(int map, uint32_t value, uint32_t source, uint32_t region)
{
    // Sources 0-15 and regions 0-1 only: a larger number would wrap into another key.
    if (source >= kMaxSources || region > 1)
        return GevResult::Fail;
    ChannelSettings& c = *m_Channels[0];
    if (m_Streams->Channel(0).FrameBegun())
        return GevResult::Fail;
    std::unique_lock lock(c.lock);
    c.maps[map][source * 2 + region] = value;
    return GevResult::Ok;
}

uint32_t Camera::SetRegionPixelFormat(const char* pfncName, uint32_t source, uint32_t region, int32_t)
{
    return guarded(__func__,
                   [&] { return regionSet(ChannelSettings::PixelFormat, PixelFormatCode(pfncName), source, region); });
}

uint32_t Camera::SetRegionWidth(uint32_t value, uint32_t source, uint32_t region, int32_t)
{
    return guarded(__func__, [&] { return regionSet(ChannelSettings::Width, value, source, region); });
}

uint32_t Camera::SetRegionHeight(uint32_t value, uint32_t source, uint32_t region, int32_t)
{
    return guarded(__func__, [&] { return regionSet(ChannelSettings::Height, value, source, region); });
}

uint32_t Camera::SetRegionOffsetX(uint32_t value, uint32_t source, uint32_t region, int32_t)
{
    return guarded(__func__, [&] { return regionSet(ChannelSettings::OffsetX, value, source, region); });
}

uint32_t Camera::SetRegionOffsetY(uint32_t value, uint32_t source, uint32_t region, int32_t)
{
    return guarded(__func__, [&] { return regionSet(ChannelSettings::OffsetY, value, source, region); });
}

uint32_t Camera::ApplyRegionSettings(int32_t ch)
{
    return guarded<uint32_t>(__func__, 1, [&]() -> uint32_t {
        if (channel(ch) == nullptr)
            return 1;
        rebuild(ch, true);  // the new geometry re-packetizes the stream and re-initialises its encoder
        return 1;
    });
}

uint32_t Camera::getterValue(int32_t ch, int map)
{
    ChannelSettings* c = channel(ch);
    if (c == nullptr)
        return 0;
    StreamProtocol& s = *stream(ch);
    if (s.FrameBegun()) {
        const FrameGeometry g = s.LatchedGeometry();
        const uint32_t values[ChannelSettings::MapCount] = {g.width, g.height, g.pixelFormat, g.offsetX, g.offsetY};
        return values[map];
    }
    return mapValue(ch, map);
}

// The value getters answer 0 for a missing channel and on failure. While a
// frame is begun they answer the geometry that frame is built with.
uint32_t Camera::GetWidth(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&] { return getterValue(ch, ChannelSettings::Width); });
}

uint32_t Camera::GetHeight(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&] { return getterValue(ch, ChannelSettings::Height); });
}

uint32_t Camera::GetPixelFormat(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&] { return getterValue(ch, ChannelSettings::PixelFormat); });
}

uint32_t Camera::GetOffsetX(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&] { return getterValue(ch, ChannelSettings::OffsetX); });
}

uint32_t Camera::GetOffsetY(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&] { return getterValue(ch, ChannelSettings::OffsetY); });
}

uint32_t Camera::GetPayloadSize(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&]() -> uint32_t {
        StreamProtocol* s = stream(ch);
        if (s == nullptr)
            return 0;
        const uint64_t size = s->FrameBegun() ? s->LatchedPayloadSize() : s->PayloadSize();
        return static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
    });
}

const char* Camera::GetPixelFormatName(int32_t ch)
{
    return guarded<const char*>(__func__, "", [&]() -> const char* {
        const char* name = PixelFormatName(GetPixelFormat(ch));
        return name != nullptr ? name : "";
    });
}

uint32_t Camera::GetSourceIndex(int32_t ch)
{
    return guarded<uint32_t>(__func__, 0, [&]() -> uint32_t {
        ChannelSettings* c = channel(ch);
        if (c == nullptr)
            return 0;
        uint32_t key = sourceKeyBase(ch);
        bool secondRegion;
        {
            std::shared_lock lock(c->lock);
            secondRegion = c->regionMode == 2;
        }
        if (secondRegion) {
            uint32_t region = 0;
            m_Features->GetUInt32("regRegionSelector", region);
            key += region;
        }
        return key / 2;
    });
}

uint32_t Camera::SetSimulationParameters(const SimulationParameters* p)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (p == nullptr)
            return GevResult::InvalidArgument;
        if (running())
            return GevResult::Running;
        m_Control.SetAnswerDelays(p->discoveryAckDelayMs, p->readAckDelayMs, p->writeAckDelayMs);
        m_Control.SetAnswerEveryNth(p->discoveryEveryNth, p->readEveryNth, p->writeEveryNth);
        for (size_t n = 0; n < m_Channels.size(); ++n) {
            StreamProtocol& s = m_Streams->Channel(static_cast<uint32_t>(n));
            // The end of the dropped stretch saturates instead of wrapping.
            const uint64_t end = uint64_t(p->dropFirst) + p->dropCount;
            s.SetPacketDrop(p->dropPackets != 0, p->dropPeriod, p->dropFirst,
                            static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX)), p->packetDelayNs);
            (void)s.SetShuffle(p->shufflePackets != 0);  // refused while the channel streams
        }
        return GevResult::Ok;
    });
}

uint32_t Camera::LatchTimestamp()
{
    return guarded(__func__, [&]() -> uint32_t {
        m_Streams->Channel(0).RestartTimestampOrigin();
        return GevResult::Ok;
    });
}

uint32_t Camera::ConvertPixels(const void* source, void* destination, uint32_t width, uint32_t height,
                               uint32_t sourceFormat, uint32_t destinationFormat, uint32_t shift, uint32_t reserved,
                               uint32_t outputWidth, uint32_t outputHeight)
{
    // The converters' errors (formats, shift) answer 0x80070057 after their message.
    return guarded<uint32_t>(__func__, GevResult::InvalidArgument, [&]() -> uint32_t {
        return PixelConversion::ConvertTestImage(source, destination, width, height, sourceFormat, destinationFormat,
                                                 shift, reserved, outputWidth, outputHeight);
    });
}

}  // namespace Kivu
