#pragma once
// In-process mailboxes found through the register tree: no data access, one listener list.
#include "model/callback_lists.h"
#include "model/register.h"

#include <cstdint>

namespace Kivu {

constexpr uint32_t kResendCmdAddress = 0xA048;
constexpr uint32_t kEventEmitterAddress = 0xA054;

template <class Self>
class Mailbox : public Register {
public:
    explicit Mailbox(uint32_t address) : Register(address, 4, RegType::NoData, Access::None, 0, {}) {}

    uint32_t Read(uint32_t, uint8_t*, uint32_t, uint32_t) override { return GevStatus::Error; }
    uint32_t Write(uint32_t, const uint8_t*, uint32_t, uint32_t) override { return GevStatus::Error; }

    bool Subscribe(const Callback<Self>& cb)
    {
        ExclusiveLock lock(m_Lock);
        return m_Listeners.Subscribe(0, cb);
    }
    void RemoveCallbacks(const Callback<Self>& cb)
    {
        ExclusiveLock lock(m_Lock);
        m_Listeners.Remove(0, cb);
    }

protected:
    // Stores the payload and calls every listener under the mailbox's lock;
    // true unless a listener answered false.
    template <class Payload>
    bool post(Payload& slot, const Payload& payload)
    {
        AccessScope scope(*this, Origin::Internal);
        slot = payload;
        return m_Listeners.Dispatch(0, static_cast<Self*>(this));
    }

    template <class Payload>
    Payload get(const Payload& slot)
    {
        SharedLock lock(m_Lock);
        return slot;
    }

private:
    CallbackLists<Self, 1> m_Listeners;
};

// Hands a packet resend request to the stream channels.
class ResendCmd : public Mailbox<ResendCmd> {
public:
    struct Request {
        uint64_t first = 0;
        uint64_t second = 0;
    };

    ResendCmd() : Mailbox(kResendCmdAddress) {}

    bool Post(const Request& request) { return post(m_Request, request); }
    Request GetRequest() { return get(m_Request); }

private:
    Request m_Request;
};

// Hands events to the message channel.
class EventEmitter : public Mailbox<EventEmitter> {
public:
    enum Kind : uint32_t { None = 0, OneEvent = 1, SeveralEvents = 2, EventWithData = 3 };

    struct Event {
        uint32_t kind = None;
        uint16_t eventId = 0;
        const void* events = nullptr;
        uint16_t channel = 0xFFFF;  // none
        uint32_t count = 0;
        uint32_t dataLength = 0;
        const void* data = nullptr;
        uint8_t flag = 1;
    };

    EventEmitter() : Mailbox(kEventEmitterAddress) {}

    bool Post(const Event& event) { return post(m_Event, event); }
    Event GetEvent() { return get(m_Event); }
    // The posted event's data length. GetLength stays the mailbox's fixed 4 so
    // that its extent in the register tree does not move.
    uint32_t GetDataLength() { return GetEvent().dataLength; }

private:
    Event m_Event;
};

}  // namespace Kivu
