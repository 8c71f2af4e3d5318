#include "stream/frame_ring.h"

#include <cstring>

namespace quillan::stream {

FrameRing::FrameRing(size_t capacity) : m_Capacity(capacity), m_Buffer(new uint8_t[capacity])
{
    // Touched here, on the connecting thread: the writer takes no page faults mid-stream.
    std::memset(m_Buffer.get(), 0, m_Capacity);
}

FrameRing::PushResult FrameRing::push(const uint8_t* frame, size_t length)
{
    PushResult result;
    if (length == 0 || length > m_Capacity)
        return result;
    size_t slot = 0;
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_Mutex);
        if (length != m_FrameSize) {
            result.emptied = m_FrameSize != 0;
            m_FrameSize = length;
            m_Slots = m_Capacity / length;
            clearLocked();
        }
        if (m_Count == m_Slots) {
            popLocked(1);
            ++m_Dropped;
            result.overwritten = 1;
        }
        slot = m_WriteSlot;
        if (m_HaveLast && slot == m_LastSlot) {
            // One slot only: the frame replaces the last stored one, which readers still copy.
            std::memcpy(m_Buffer.get() + slot * length, frame, length);
            publishLocked(slot);
            result.stored = true;
            return result;
        }
        generation = m_Generation;
    }
    // The slot is neither queued nor the last stored frame, so no reader copies it meanwhile.
    std::memcpy(m_Buffer.get() + slot * length, frame, length);
    std::lock_guard lock(m_Mutex);
    if (generation != m_Generation)
        return result;  // emptied meanwhile: the frame went with the others
    publishLocked(slot);
    result.stored = true;
    return result;
}

void FrameRing::publishLocked(size_t slot)
{
    m_LastSlot = slot;
    m_HaveLast = true;
    m_WriteSlot = (slot + 1) % m_Slots;
    ++m_Count;
    ++m_NextSequence;
}

FrameRing::ReadResult FrameRing::read(std::vector<uint8_t>& out, bool newestOnly)
{
    std::lock_guard lock(m_Mutex);
    if (!readableLocked())
        return {};
    if (newestOnly)
        popLocked(m_Count - 1);
    const uint8_t* frame = slot(m_ReadSlot);
    out.assign(frame, frame + m_FrameSize);
    ReadResult result{true, false, m_FirstSequence};
    popLocked(1);
    result.moreQueued = m_Count > 0;
    return result;
}

FrameRing::ReadResult FrameRing::peek(std::vector<uint8_t>& out)
{
    std::lock_guard lock(m_Mutex);
    if (!readableLocked())
        return {};
    const uint8_t* frame = slot(m_ReadSlot);
    out.assign(frame, frame + m_FrameSize);
    return {true, m_Count > 1, m_FirstSequence};
}

bool FrameRing::consume(uint64_t sequence)
{
    std::lock_guard lock(m_Mutex);
    if (m_Count == 0 || m_FirstSequence != sequence)
        return false;
    popLocked(1);
    return true;
}

bool FrameRing::lastStored(std::vector<uint8_t>& out) const
{
    std::lock_guard lock(m_Mutex);
    if (!m_HaveLast)
        return false;
    const uint8_t* frame = slot(m_LastSlot);
    out.assign(frame, frame + m_FrameSize);
    return true;
}

bool FrameRing::storedSinceReset() const
{
    std::lock_guard lock(m_Mutex);
    return m_HaveLast;
}

void FrameRing::reset()
{
    std::lock_guard lock(m_Mutex);
    clearLocked();
}

FifoLevels FrameRing::levels() const
{
    std::lock_guard lock(m_Mutex);
    return {static_cast<uint32_t>(m_WriteSlot * m_FrameSize), static_cast<uint32_t>(m_ReadSlot * m_FrameSize),
            100.0 * static_cast<double>(m_Count * m_FrameSize) / static_cast<double>(m_Capacity)};
}

size_t FrameRing::queuedFrames() const
{
    std::lock_guard lock(m_Mutex);
    return m_Count;
}

uint64_t FrameRing::droppedFrames() const
{
    std::lock_guard lock(m_Mutex);
    return m_Dropped;
}

void FrameRing::clearLocked()
{
    ++m_Generation;
    m_WriteSlot = m_ReadSlot = m_Count = 0;
    m_FirstSequence = m_NextSequence;
    m_HaveLast = false;
}

void FrameRing::popLocked(size_t frames)
{
    m_ReadSlot = (m_ReadSlot + frames) % m_Slots;
    m_Count -= frames;
    m_FirstSequence += frames;
}

}  // namespace quillan::stream
