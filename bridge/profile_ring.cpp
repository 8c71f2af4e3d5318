#include "profile_ring.h"

#include <algorithm>
#include <stdexcept>

namespace lumabridge {

ProfileRing::ProfileRing(size_t pointsPerSlot)
    : m_Capacity(pointsPerSlot),
      m_X(new double[pointsPerSlot * kSlots]),
      m_Z(new double[pointsPerSlot * kSlots]),
      m_Intensity(new int32_t[pointsPerSlot * kSlots]),
      m_Chunks(new ProfileChunkValues[kSlots]),
      m_Counts(new uint32_t[kSlots]())
{
    if (pointsPerSlot == 0)
        throw std::invalid_argument("profile ring: a slot must hold at least one point");
}

void ProfileRing::SetPointCount(int32_t slot, uint32_t count)
{
    m_Counts[static_cast<size_t>(slot)] = static_cast<uint32_t>(std::min<size_t>(count, m_Capacity));
}

int32_t ProfileRing::Unread() const
{
    std::lock_guard lock(m_RingMutex);
    const int32_t w = m_ScanCnt.load();
    const int32_t r = m_ReadOutCnt.load();
    if (!m_ScanOverflow.load())
        return std::max(0, w - r);
    return std::clamp(kSlots - (r - w), 0, kSlots);
}

void ProfileRing::AdvanceWrite()
{
    std::lock_guard lock(m_RingMutex);
    advanceWrite();
}

bool ProfileRing::CommitWrite(int32_t slot)
{
    std::lock_guard lock(m_RingMutex);
    if (m_ScanCnt.load() != slot)
        return false;
    advanceWrite();
    return true;
}

ProfileRing::Counters ProfileRing::Snapshot() const
{
    std::lock_guard lock(m_RingMutex);
    return {m_ScanCnt.load(), m_ReadOutCnt.load(), m_ScanOverflow.load()};
}

void ProfileRing::advanceWrite()
{
    int32_t w = m_ScanCnt.load() + 1;
    if (w >= kSlots) {
        w = 0;
        m_ScanOverflow = true;
    }
    m_ScanCnt = w;
}

bool ProfileRing::AdvanceRead()
{
    std::lock_guard lock(m_RingMutex);
    int32_t r = m_ReadOutCnt.load() + 1;
    const bool wrapped = r >= kSlots;
    if (wrapped) {
        r = 0;
        m_ScanOverflow = false;
    }
    m_ReadOutCnt = r;
    return wrapped;
}

void ProfileRing::Reset()
{
    std::lock_guard lock(m_RingMutex);
    m_ScanCnt = 0;
    m_ReadOutCnt = 0;
    m_ScanOverflow = false;
}

void ProfileRing::ResetWrite()
{
    std::lock_guard lock(m_RingMutex);
    m_ScanCnt = 0;
    m_ScanOverflow = false;
}

}  // namespace lumabridge
