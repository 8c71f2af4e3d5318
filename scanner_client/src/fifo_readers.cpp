// The readers of a connection's frame FIFO: profiles, raw frames and images.
#include "cquillan.h"

#include "lin/legacy_profile.h"
#include "lin/profile_points.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "stream/protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quillan {
namespace {

bool isContainer(const std::vector<uint8_t>& frame)
{
    return frame.size() >= 4 && platform::loadLE32(frame.data()) == stream::kContainerMagic;
}

// Waits up to timeoutMs for a deliverable frame; false when a positive time-out passed without one.
// A time-out of 0 looks once.
bool waitFor(platform::Event& event, const stream::FrameRing& ring, long long timeoutMs)
{
    if (timeoutMs <= 0)
        return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        bool signaled = event.wait(static_cast<uint64_t>(left.count())) == platform::WaitResult::Signaled;
        if (!signaled)
            return false;
        if (ring.delivery() && ring.queuedFrames() > 0)
            return true;
    }
}

}  // namespace

// How long after a profile read its frame stays the status source. A caller that reads a profile
// and then its status values does so at once; one that reads status values only sees the newest
// frames again after this time.
constexpr uint32_t kDeliveredStatusHoldMs = 500;

void CQuillan::noteDelivered()
{
    std::lock_guard lock(statusMutex_);
    // A swap, not a copy: frame_ is filled anew by the next read.
    statusFrame_.swap(frame_);
    delivered_ = true;
    deliveredTick_ = platform::tickCountMs();
    newStatus_ = true;
}

void CQuillan::expireDeliveredLocked()
{
    if (!delivered_ || platform::tickCountMs() - deliveredTick_ < kDeliveredStatusHoldMs)
        return;
    statusFrame_.clear();
    delivered_ = false;
    newStatus_ = true;
}

void CQuillan::fillReport()
{
    if (!debugActive())
        return;
    uint32_t now = platform::tickCountMs();
    if (now - lastFillReport_ <= 1000)
        return;
    lastFillReport_ = now;
    auto percent = static_cast<unsigned>(ring_->levels().fillPercent);
    if (percent > 30)
        log(format("Q7TX-Dll: FiFo(%%): %u", percent));
}

int CQuillan::GetXZIExtended(const XziOutputs& out, int timeoutMs)
{
    if (!lin_.parametersLoaded())
        return -2;
    bool arrays = out.x || out.z || out.intensity || out.width;
    if (!arrays && !out.rawBuf)
        return -3;
    if (!waitFor(ProfileDataEvent, *ring_, timeoutMs))
        return -1;

    std::lock_guard lock(decodeMutex_);
    auto read = ring_->read(frame_, newestFrameOnly_);
    if (!read.delivered)
        return -1;

    int result = 0;
    if (out.rawBuf && !frame_.empty() && frame_[0] != 0) {
        result = static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(out.rawBufLen, 0)), frame_.size()));
        std::memcpy(out.rawBuf, frame_.data(), static_cast<size_t>(result));
    }
    if (arrays) {
        DecodedProfile& profile = *profile_;
        if (isContainer(frame_))
            decoder_.decode(frame_.data(), frame_.size(), info_.strengthWidthByteOrder(), profile);
        else
            DecodeLegacyProfile(frame_.data(), frame_.size(), profile);
        result = 0;
        if (profile.decoded) {
            auto lin = lin_.active();
            LinearizeProfile(profile, lin.get());
            result = EmitProfilePoints(profile, PointArrays{out.x, out.z, out.intensity, out.width, out.maxPoints},
                                       sortX_);
            if (out.encoder)
                *out.encoder = profile.encoder;
            if (out.ioBits)
                *out.ioBits = profile.ioBits;
            if (out.pictureCounter)
                *out.pictureCounter = static_cast<int>(profile.pictureCounter);
        }
    }
    noteDelivered();
    if (read.moreQueued)
        ProfileDataEvent.set();
    fillReport();
    return result;
}

int CQuillan::GetRawData(unsigned char* buf, int len)
{
    if (!buf || len <= 0)
        return -1;
    std::lock_guard lock(decodeMutex_);
    if (!ring_->read(frame_).delivered)
        return -1;
    int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(len), frame_.size()));
    std::memcpy(buf, frame_.data(), static_cast<size_t>(n));
    noteDelivered();
    fillReport();
    return n;
}

int CQuillan::GetImage(char* buf, int bufLen, const ImageOutputs& out, unsigned timeoutMs)
{
    if (!buf)
        return -3;
    if (!waitFor(ImageFrameEvent, *ring_, timeoutMs))
        return -1;

    std::lock_guard lock(decodeMutex_);
    auto peek = ring_->peek(imageFrame_);
    if (!peek.delivered)
        return -1;
    if (!isContainer(imageFrame_))
        return 0;  // not a container: left in place

    DecodedProfile& profile = *profile_;
    auto decoded = decoder_.decode(imageFrame_.data(), imageFrame_.size(), info_.strengthWidthByteOrder(), profile);
    int result = 0;
    if (decoded.isImage && decoded.imageBlockLength >= 16) {
        size_t bytes = decoded.imageBlockLength - 16;
        if (bufLen < 0 || static_cast<size_t>(bufLen) < decoded.imageBlockLength)
            return -1;  // the frame stays in the ring
        std::memcpy(buf, imageFrame_.data() + decoded.imageBlockOffset + 16, bytes);
        auto put = [](unsigned* p, int32_t v) {
            if (p)
                *p = static_cast<unsigned>(v);
        };
        put(out.widthX, profile.widthX);
        put(out.heightZ, profile.heightZ);
        put(out.offsetX, profile.offsetX);
        put(out.offsetZ, profile.offsetZ);
        put(out.stepX, profile.stepX);
        put(out.stepZ, profile.stepZ);
        result = static_cast<int>(bytes);
    }
    ring_->consume(peek.sequence);
    if (peek.moreQueued)
        ImageFrameEvent.set();
    return result;
}

}  // namespace quillan
