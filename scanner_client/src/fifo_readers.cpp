// The readers of a connection's frame FIFO: profiles, raw frames and images.
#include "src/cquillan.h"

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
    std::lock_guard lock(m_StatusMutex);
    // A swap, not a copy: m_Frame is filled anew by the next read.
    m_StatusFrame.swap(m_Frame);
    m_Delivered = true;
    m_DeliveredTick = platform::tickCountMs();
    m_NewStatus = true;
}

void CQuillan::expireDeliveredLocked()
{
    if (!m_Delivered || platform::tickCountMs() - m_DeliveredTick < kDeliveredStatusHoldMs)
        return;
    m_StatusFrame.clear();
    m_Delivered = false;
    m_NewStatus = true;
}

void CQuillan::fillReport()
{
    if (!debugActive())
        return;
    uint32_t now = platform::tickCountMs();
    if (now - m_LastFillReport <= 1000)
        return;
    m_LastFillReport = now;
    auto percent = static_cast<unsigned>(m_Ring->levels().fillPercent);
    if (percent > 30)
        log(format("Q7TX-Dll: FiFo(%%): %u", percent));
}

int CQuillan::GetXZIExtended(const XziOutputs& out, int timeoutMs)
{
    if (!m_Lin.parametersLoaded())
        return -2;
    bool arrays = out.x || out.z || out.intensity || out.width;
    if (!arrays && !out.rawBuf)
        return -3;
    if (!waitFor(ProfileDataEvent, *m_Ring, timeoutMs))
        return -1;

    std::lock_guard lock(m_DecodeMutex);
    auto read = m_Ring->read(m_Frame, m_NewestFrameOnly);
    if (!read.delivered)
        return -1;

    int result = 0;
    if (out.rawBuf && !m_Frame.empty() && m_Frame[0] != 0) {
        result = static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(out.rawBufLen, 0)), m_Frame.size()));
        std::memcpy(out.rawBuf, m_Frame.data(), static_cast<size_t>(result));
    }
    if (arrays) {
        DecodedProfile& profile = *m_Profile;
        if (isContainer(m_Frame))
            m_Decoder.decode(m_Frame.data(), m_Frame.size(), m_Info.strengthWidthByteOrder(), profile);
        else
            DecodeLegacyProfile(m_Frame.data(), m_Frame.size(), profile);
        result = 0;
        if (profile.decoded) {
            auto lin = m_Lin.active();
            LinearizeProfile(profile, lin.get());
            result = EmitProfilePoints(profile, PointArrays{out.x, out.z, out.intensity, out.width, out.maxPoints},
                                       m_SortX);
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
    std::lock_guard lock(m_DecodeMutex);
    if (!m_Ring->read(m_Frame).delivered)
        return -1;
    int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(len), m_Frame.size()));
    std::memcpy(buf, m_Frame.data(), static_cast<size_t>(n));
    noteDelivered();
    fillReport();
    return n;
}

int CQuillan::GetImage(char* buf, int bufLen, const ImageOutputs& out, unsigned timeoutMs)
{
    if (!buf)
        return -3;
    if (!waitFor(ImageFrameEvent, *m_Ring, timeoutMs))
        return -1;

    std::lock_guard lock(m_DecodeMutex);
    auto peek = m_Ring->peek(m_ImageFrame);
    if (!peek.delivered)
        return -1;
    if (!isContainer(m_ImageFrame))
        return 0;  // not a container: left in place

    DecodedProfile& profile = *m_Profile;
    auto decoded = m_Decoder.decode(m_ImageFrame.data(), m_ImageFrame.size(), m_Info.strengthWidthByteOrder(), profile);
    int result = 0;
    if (decoded.isImage && decoded.imageBlockLength >= 16) {
        size_t bytes = decoded.imageBlockLength - 16;
        if (bufLen < 0 || static_cast<size_t>(bufLen) < decoded.imageBlockLength)
            return -1;  // the frame stays in the ring
        std::memcpy(buf, m_ImageFrame.data() + decoded.imageBlockOffset + 16, bytes);
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
    m_Ring->consume(peek.sequence);
    if (peek.moreQueued)
        ImageFrameEvent.set();
    return result;
}

}  // namespace quillan
