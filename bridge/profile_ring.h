#pragma once
// The ring of profiles between the scanner thread (writer) and the image thread (reader).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace lumabridge {

// Per-profile values that become the block's chunks (read from the last status container).
struct ProfileChunkValues {
    uint8_t m_ScannerState = 0;
    uint16_t m_PictureCounter = 0;
    uint32_t m_Timestamp = 0;
    uint32_t m_Encoder = 0;
    uint16_t m_IoState = 0;
    uint16_t m_Temperature = 0;
};

// 10000 slots of a fixed stride (the points one slot can hold), each with its own point count,
// so a change of profile size never shifts another slot. The data arrays are not
// value-initialised: untouched pages stay virtual.
class ProfileRing {
public:
    static constexpr int32_t kSlots = 10000;

    // pointsPerSlot > 0 (the scanner's pixel_x_max x 2). Throws std::bad_alloc.
    explicit ProfileRing(size_t pointsPerSlot);

    size_t Capacity() const { return m_Capacity; }

    // Slot data; slot in [0, kSlots).
    double* X(int32_t slot) { return m_X.get() + offset(slot); }
    double* Z(int32_t slot) { return m_Z.get() + offset(slot); }
    int32_t* Intensity(int32_t slot) { return m_Intensity.get() + offset(slot); }
    ProfileChunkValues& Chunk(int32_t slot) { return m_Chunks[static_cast<size_t>(slot)]; }
    // Points stored in the slot (at most Capacity()).
    uint32_t PointCount(int32_t slot) const { return m_Counts[static_cast<size_t>(slot)]; }
    void SetPointCount(int32_t slot, uint32_t count);  // clamped to Capacity()

    // Counters. The writer fills slot WriteIndex() and then calls AdvanceWrite(); the reader
    // reads slot ReadIndex() while Unread() > 0 and then calls AdvanceRead(). Both under the
    // ring mutex; data are written before the count is advanced.
    int32_t WriteIndex() const { return m_ScanCnt.load(); }
    int32_t ReadIndex() const { return m_ReadOutCnt.load(); }
    bool Overflow() const { return m_ScanOverflow.load(); }
    // Profiles written and not yet read (a lapped reader sees at most kSlots).
    int32_t Unread() const;
    void AdvanceWrite();  // wraps to 0 and sets the overflow flag
    // AdvanceWrite() when the write index is still slot; false (nothing changed) when a reset
    // came after the slot was chosen, which drops the profile written there.
    bool CommitWrite(int32_t slot);
    // The two indices and the flag, read together.
    struct Counters {
        int32_t write = 0;
        int32_t read = 0;
        bool overflow = false;
    };
    Counters Snapshot() const;
    // Returns true when the read index wrapped (and the overflow flag was cleared).
    bool AdvanceRead();
    // Both indices to 0 and the flag cleared: profiles stored before are dropped.
    void Reset();
    // Only the write side (the scanner thread's start).
    void ResetWrite();

private:
    void advanceWrite();  // under m_RingMutex
    size_t offset(int32_t slot) const { return static_cast<size_t>(slot) * m_Capacity; }

    size_t m_Capacity;
    std::unique_ptr<double[]> m_X;
    std::unique_ptr<double[]> m_Z;
    std::unique_ptr<int32_t[]> m_Intensity;
    std::unique_ptr<ProfileChunkValues[]> m_Chunks;
    std::unique_ptr<uint32_t[]> m_Counts;

    mutable std::mutex m_RingMutex;
    std::atomic<int32_t> m_ScanCnt{0};
    std::atomic<int32_t> m_ReadOutCnt{0};
    std::atomic<bool> m_ScanOverflow{false};
};

// The scanner thread's staging area: the latest profile as the client library returned it.
struct ProfileStaging {
    static constexpr int kMaxPoints = 4096;
    double m_X[kMaxPoints];
    double m_Z[kMaxPoints];
    int32_t m_Intensity[kMaxPoints];
    uint32_t m_Encoder = 0;
    int32_t m_PointCount = 0;
};

}  // namespace lumabridge
