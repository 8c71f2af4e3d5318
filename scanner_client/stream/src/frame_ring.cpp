#include "stream/frame_ring.h"

#include <cstring>

namespace quillan::stream {

FrameRing::FrameRing(size_t capacity) : capacity_(capacity), buffer_(new uint8_t[capacity])
{
    // Touched here, on the connecting thread: the writer takes no page faults mid-stream.
    std::memset(buffer_.get(), 0, capacity_);
}

FrameRing::PushResult FrameRing::push(const uint8_t* frame, size_t length)
{
    PushResult result;
    if (length == 0 || length > capacity_)
        return result;
    size_t slot = 0;
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (length != frameSize_) {
            result.emptied = frameSize_ != 0;
            frameSize_ = length;
            slots_ = capacity_ / length;
            clearLocked();
        }
        if (count_ == slots_) {
            popLocked(1);
            ++dropped_;
            result.overwritten = 1;
        }
        slot = writeSlot_;
        if (haveLast_ && slot == lastSlot_) {
            // One slot only: the frame replaces the last stored one, which readers still copy.
            std::memcpy(buffer_.get() + slot * length, frame, length);
            publishLocked(slot);
            result.stored = true;
            return result;
        }
        generation = generation_;
    }
    // The slot is neither queued nor the last stored frame, so no reader copies it meanwhile.
    std::memcpy(buffer_.get() + slot * length, frame, length);
    std::lock_guard lock(mutex_);
    if (generation != generation_)
        return result;  // emptied meanwhile: the frame went with the others
    publishLocked(slot);
    result.stored = true;
    return result;
}

void FrameRing::publishLocked(size_t slot)
{
    lastSlot_ = slot;
    haveLast_ = true;
    writeSlot_ = (slot + 1) % slots_;
    ++count_;
    ++nextSequence_;
}

FrameRing::ReadResult FrameRing::read(std::vector<uint8_t>& out, bool newestOnly)
{
    std::lock_guard lock(mutex_);
    if (!readableLocked())
        return {};
    if (newestOnly)
        popLocked(count_ - 1);
    const uint8_t* frame = slot(readSlot_);
    out.assign(frame, frame + frameSize_);
    ReadResult result{true, false, firstSequence_};
    popLocked(1);
    result.moreQueued = count_ > 0;
    return result;
}

FrameRing::ReadResult FrameRing::peek(std::vector<uint8_t>& out)
{
    std::lock_guard lock(mutex_);
    if (!readableLocked())
        return {};
    const uint8_t* frame = slot(readSlot_);
    out.assign(frame, frame + frameSize_);
    return {true, count_ > 1, firstSequence_};
}

bool FrameRing::consume(uint64_t sequence)
{
    std::lock_guard lock(mutex_);
    if (count_ == 0 || firstSequence_ != sequence)
        return false;
    popLocked(1);
    return true;
}

bool FrameRing::lastStored(std::vector<uint8_t>& out) const
{
    std::lock_guard lock(mutex_);
    if (!haveLast_)
        return false;
    const uint8_t* frame = slot(lastSlot_);
    out.assign(frame, frame + frameSize_);
    return true;
}

bool FrameRing::storedSinceReset() const
{
    std::lock_guard lock(mutex_);
    return haveLast_;
}

void FrameRing::reset()
{
    std::lock_guard lock(mutex_);
    clearLocked();
}

FifoLevels FrameRing::levels() const
{
    std::lock_guard lock(mutex_);
    return {static_cast<uint32_t>(writeSlot_ * frameSize_), static_cast<uint32_t>(readSlot_ * frameSize_),
            100.0 * static_cast<double>(count_ * frameSize_) / static_cast<double>(capacity_)};
}

size_t FrameRing::queuedFrames() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

uint64_t FrameRing::droppedFrames() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

void FrameRing::clearLocked()
{
    ++generation_;
    writeSlot_ = readSlot_ = count_ = 0;
    firstSequence_ = nextSequence_;
    haveLast_ = false;
}

void FrameRing::popLocked(size_t frames)
{
    readSlot_ = (readSlot_ + frames) % slots_;
    count_ -= frames;
    firstSequence_ += frames;
}

}  // namespace quillan::stream
