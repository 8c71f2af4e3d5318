// The event senders: events to the client's message channel, stamped with a
// stream channel's clock, in the form of the GigE Vision mode.
#include "server/camera.h"
#include "server/camera_guard.h"

#include <stdexcept>

namespace Kivu {
namespace {

constexpr uint16_t kNoChannel = 0xFFFF;

}  // namespace

// Runs send(messages, stream, extended) with the camera lock held shared, so
// that Stop waits for a send in progress and none starts after it.
template <class Send>
uint32_t Camera::sendEvent(uint16_t channel, Send&& send)
{
    SharedLock lock(m_Lock);
    if (!m_Control.IsRunning())
        return GevResult::NotRunning;
    StreamProtocol* s = stream(channel == kNoChannel ? 0 : channel);
    if (s == nullptr)
        return GevResult::InvalidArgument;
    switch (m_GevMode.load()) {
    case 0: return send(*s, false);
    case 1: return send(*s, true);
    default: throw std::runtime_error("Unknown GEV mode!");
    }
}

uint32_t Camera::SendEvent(uint16_t eventId, uint16_t streamChannel, bool requestAck)
{
    return guarded(__func__, [&] {
        return sendEvent(streamChannel, [&](StreamProtocol& s, bool extended) {
            MessageProtocol& m = *m_Messages;
            const uint64_t ts = s.GetTimestamp();
            return extended ? m.SendEventExt(eventId, ts, streamChannel, requestAck)
                            : m.SendEvent(eventId, ts, streamChannel, requestAck);
        });
    });
}

uint32_t Camera::SendEvents(uint32_t count, const uint16_t* eventIds, uint16_t streamChannel, bool requestAck)
{
    return guarded(__func__, [&] {
        return sendEvent(streamChannel, [&](StreamProtocol& s, bool extended) {
            MessageProtocol& m = *m_Messages;
            const uint64_t ts = s.GetTimestamp();
            return extended ? m.SendEventsExt(count, eventIds, ts, streamChannel, requestAck)
                            : m.SendEvents(count, eventIds, ts, streamChannel, requestAck);
        });
    });
}

uint32_t Camera::SendEventData(uint16_t eventId, const void* data, uint32_t length, uint16_t streamChannel,
                               bool requestAck)
{
    return guarded(__func__, [&] {
        return sendEvent(streamChannel, [&](StreamProtocol& s, bool extended) {
            MessageProtocol& m = *m_Messages;
            const uint64_t ts = s.GetTimestamp();
            const uint64_t block = s.CurrentBlockId();
            return extended ? m.SendEventDataExt(eventId, ts, block, data, length, streamChannel, requestAck)
                            : m.SendEventData(eventId, ts, block, data, length, streamChannel, requestAck);
        });
    });
}

}  // namespace Kivu
