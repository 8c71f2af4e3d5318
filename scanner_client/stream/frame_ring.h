#pragma once
// Byte ring of whole frames between the receive thread (one writer) and reader threads.
// All frames in the ring have one length; a frame never wraps. When the ring is full the
// writer overwrites the oldest frame and moves the read position past it, so a reader
// never sees a frame that is being written: the writer copies into a slot that is neither
// queued nor the last stored frame (outside the lock), and a reader copies its frame out
// under the ring's lock.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "stream/fifo_levels.h"

namespace quillan::stream {

class FrameRing {
public:
    // Throws std::bad_alloc when the buffer cannot be allocated.
    explicit FrameRing(size_t capacity);
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    size_t capacity() const { return m_Capacity; }

    struct PushResult {
        bool stored = false;       // false for an empty frame or one larger than the ring
        bool emptied = false;      // frames of another length were dropped first
        uint32_t overwritten = 0;  // unread frames overwritten by this one
    };
    // Writer (one thread): appends a copy of the frame. A frame whose copy overlaps a reset
    // is dropped with the frames before it.
    PushResult push(const uint8_t* frame, size_t length);

    struct ReadResult {
        bool delivered = false;
        bool moreQueued = false;  // frames remain after this one
        uint64_t sequence = 0;    // number of the frame, counting every frame pushed
    };
    // Reader: copies the oldest unread frame into `out` and consumes it; with
    // `newestOnly` the older unread frames are skipped. Nothing while delivery is off.
    ReadResult read(std::vector<uint8_t>& out, bool newestOnly = false);
    // Reader: copies the oldest unread frame without consuming it.
    ReadResult peek(std::vector<uint8_t>& out);
    // Reader: consumes the oldest unread frame if it is still the frame `sequence`.
    bool consume(uint64_t sequence);

    // Copies the frame stored last, read or not; false when none was stored since the last reset.
    bool lastStored(std::vector<uint8_t>& out) const;
    bool storedSinceReset() const;

    // Empties the ring; the frame length stays.
    void reset();
    // Readers deliver only while delivery is on (while the stream is synchronised).
    void setDelivery(bool on) { m_Delivery.store(on); }
    bool delivery() const { return m_Delivery.load(); }

    FifoLevels levels() const;
    size_t queuedFrames() const;
    // Unread frames overwritten since construction.
    uint64_t droppedFrames() const;

private:
    const uint8_t* slot(size_t index) const { return m_Buffer.get() + index * m_FrameSize; }
    bool readableLocked() const { return m_Delivery.load() && m_Count > 0; }
    void clearLocked();
    void publishLocked(size_t slot);
    void popLocked(size_t frames);

    const size_t m_Capacity;
    std::unique_ptr<uint8_t[]> m_Buffer;
    std::atomic<bool> m_Delivery{false};

    mutable std::mutex m_Mutex;
    size_t m_FrameSize = 0;
    size_t m_Slots = 0;
    size_t m_WriteSlot = 0;
    size_t m_ReadSlot = 0;
    size_t m_Count = 0;           // unread frames
    uint64_t m_FirstSequence = 0;  // sequence of the frame at m_ReadSlot
    uint64_t m_NextSequence = 0;
    size_t m_LastSlot = 0;
    bool m_HaveLast = false;
    uint64_t m_Dropped = 0;
    uint64_t m_Generation = 0;  // counts the resets, so a copy that overlaps one is dropped
};

}  // namespace quillan::stream
