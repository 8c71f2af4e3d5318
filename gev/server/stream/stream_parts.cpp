#include "server/stream/stream_protocol.h"

#include <algorithm>

namespace Kivu {

bool StreamProtocol::UpdateImagePart(const ImagePartEntry& entry)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    auto it = std::find_if(m_Parts.begin(), m_Parts.end(), [&](const ImagePartEntry& e) {
        return e.key3 == entry.key3 && e.key1 == entry.key1 && e.key2 == entry.key2;
    });
    if (it == m_Parts.end()) {
        ImagePartEntry added = entry;
        added.dataSize = 0;
        added.data.reset();
        m_Parts.push_back(std::move(added));
    } else {
        it->width = entry.width;
        it->height = entry.height;
        it->dataType = entry.dataType;
        it->pixelFormat = entry.pixelFormat;
    }
    m_Repacketize = true;
    return true;
}

bool StreamProtocol::SetImagePartData(const PartKey& key, std::shared_ptr<const uint8_t> data, uint32_t size)
{
    std::lock_guard lk(m_Mutex);
    for (ImagePartEntry& e : m_Parts) {
        if (PartKey{e.key3, e.key1, e.key2} == key) {
            e.data = std::move(data);
            e.dataSize = e.data ? size : 0;
            ++m_FrameParts;
            m_FramePartTotal += size;
            return true;
        }
    }
    return false;
}

bool StreamProtocol::RemoveImagePart(const PartKey& key)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    const auto it = std::find_if(m_Parts.begin(), m_Parts.end(),
                                 [&](const ImagePartEntry& e) { return PartKey{e.key3, e.key1, e.key2} == key; });
    if (it == m_Parts.end())
        return false;
    m_Parts.erase(it);
    m_Repacketize = true;
    return true;
}

std::vector<ImagePartEntry> StreamProtocol::Parts() const
{
    std::lock_guard lk(m_Mutex);
    return m_Parts;
}

uint16_t StreamProtocol::FramePartCount() const
{
    std::lock_guard lk(m_Mutex);
    return m_FrameParts;
}

uint64_t StreamProtocol::FramePartTotal() const
{
    std::lock_guard lk(m_Mutex);
    return m_FramePartTotal;
}

}  // namespace Kivu
