#include "server/message_protocol.h"

#include "server/message_wire.h"
#include "gev_camera.h"

#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

namespace Kivu {
namespace {

constexpr uint32_t kCurrentIp = 0x0024;
constexpr uint32_t kTimestampHigh = 0x0948;
constexpr uint32_t kTimestampLow = 0x094C;
constexpr uint32_t kMcp = 0x0B00;
constexpr uint32_t kMcda = 0x0B10;
constexpr uint32_t kMctt = 0x0B14;
constexpr uint32_t kMcrc = 0x0B18;
constexpr uint32_t kMcsp = 0x0B1C;

// 224.0.0.0 and above: multicast, reserved and broadcast, which acknowledge nothing.
bool isGroupAddress(uint32_t address) { return (address & 0xE0000000u) == 0xE0000000u; }

}  // namespace

MessageProtocol::MessageProtocol(std::shared_ptr<RegTree> tree)
    : m_Out(std::make_unique<Datagram>()),
      m_In(std::make_unique<Datagram>()),
      m_Resend([this](uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes) {
          transmit(address, port, bytes);
      })
{
    auto uint = [&](uint32_t address) {
        auto reg = std::dynamic_pointer_cast<UIntReg>(tree->Find(address));
        if (!reg)
            throw std::runtime_error("message channel: register missing at " + std::to_string(address));
        return reg;
    };
    m_CurrentIp = uint(kCurrentIp);
    m_Mcp = uint(kMcp);
    m_Mcda = uint(kMcda);
    m_Mctt = uint(kMctt);
    m_Mcrc = uint(kMcrc);
    m_Mcsp = uint(kMcsp);
    m_TimestampHigh = uint(kTimestampHigh);
    m_TimestampLow = uint(kTimestampLow);
    m_Mailbox = std::dynamic_pointer_cast<EventEmitter>(tree->Find(kEventEmitterAddress));
    if (!m_Mailbox)
        throw std::runtime_error("message channel: event mailbox missing");
    // One bind attempt: the MCP hook runs on the GVCP receive thread, which a
    // retrying bind would keep from serving for seconds.
    m_Socket.SetBindRetry(BindRetry{1, std::chrono::milliseconds(0)});
    m_Mcp->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &MessageProtocol::OnChannelPortWrite));
    m_Mailbox->Subscribe(MakeCallback(this, &MessageProtocol::OnEventPosted));
}

MessageProtocol::~MessageProtocol()
{
    m_Mailbox->RemoveCallbacks(MakeCallback(this, &MessageProtocol::OnEventPosted));
    m_Mcp->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &MessageProtocol::OnChannelPortWrite));
    Close();
}

uint32_t MessageProtocol::Open()
{
    std::lock_guard lock(m_Mutex);
    if (m_Open)
        return GevResult::Ok;
    if (!m_Socket.Open(m_CurrentIp->GetValue(), 0) || !m_Resend.Start()) {
        m_Socket.Close();
        return GevResult::Fail;
    }
    m_Open = true;
    m_AckThread = std::jthread([this] { AckLoop(); });
    m_Mcsp->SetValue(m_Socket.GetLocalPort());
    return GevResult::Ok;
}

void MessageProtocol::Close()
{
    std::lock_guard lock(m_Mutex);
    if (!m_Open)
        return;
    m_Open = false;
    m_Socket.Shutdown();
    if (m_AckThread.joinable())
        m_AckThread.join();
    m_Resend.Stop();
    m_Socket.Close();
    m_Mcsp->SetValue(0);
}

bool MessageProtocol::IsOpen() const
{
    std::lock_guard lock(m_Mutex);
    return m_Open;
}

uint16_t MessageProtocol::NextRequestId()
{
    std::lock_guard lock(m_IdMutex);
    if (++m_RequestId == 0)
        m_RequestId = 1;
    return m_RequestId;
}

uint32_t MessageProtocol::SendEvent(uint16_t eventId, uint64_t timestamp, uint16_t channel, bool ack)
{
    return send(Form{}, 1, &eventId, timestamp, 0, nullptr, 0, channel, ack);
}

uint32_t MessageProtocol::SendEvents(uint32_t count, const uint16_t* eventIds, uint64_t timestamp,
                                     uint16_t channel, bool ack)
{
    return send(Form{false, false, true}, count, eventIds, timestamp, 0, nullptr, 0, channel, ack);
}

uint32_t MessageProtocol::SendEventData(uint16_t eventId, uint64_t timestamp, uint64_t blockId, const void* data,
                                        uint32_t length, uint16_t channel, bool ack)
{
    return send(Form{false, true, false}, 1, &eventId, timestamp, blockId, data, length, channel, ack);
}

uint32_t MessageProtocol::SendEventExt(uint16_t eventId, uint64_t timestamp, uint16_t channel, bool ack)
{
    return send(Form{true, false, false}, 1, &eventId, timestamp, 0, nullptr, 0, channel, ack);
}

uint32_t MessageProtocol::SendEventsExt(uint32_t count, const uint16_t* eventIds, uint64_t timestamp,
                                        uint16_t channel, bool ack)
{
    return send(Form{true, false, true}, count, eventIds, timestamp, 0, nullptr, 0, channel, ack);
}

uint32_t MessageProtocol::SendEventDataExt(uint16_t eventId, uint64_t timestamp, uint64_t blockId,
                                           const void* data, uint32_t length, uint16_t channel, bool ack)
{
    return send(Form{true, true, false}, 1, &eventId, timestamp, blockId, data, length, channel, ack);
}

uint32_t MessageProtocol::send(const Form& form, uint32_t count, const uint16_t* eventIds, uint64_t timestamp,
                               uint64_t blockId, const void* data, uint32_t length, uint16_t channel, bool ack)
{
    if (count == 0 || count > Message::kMaxEvents || eventIds == nullptr || length > Message::kMaxEventData ||
        (length != 0 && data == nullptr))
        return GevResult::InvalidArgument;
    // The registers are read before the channel's lock: the MCP hook holds
    // MCP's lock when it opens or closes the channel.
    const uint32_t address = m_Mcda->GetValue();
    const uint32_t port = m_Mcp->GetValue();
    const uint32_t transmissions = m_Mcrc->GetValue() & 0xFFFF;  // 0: once
    const std::chrono::milliseconds period(m_Mctt->GetValue());
    if (address == 0 || port == 0 || port > 0xFFFF)
        return GevResult::NotRunning;

    std::lock_guard lock(m_Mutex);
    if (!m_Open)
        return GevResult::NotRunning;
    Message::Header header;
    header.extendedIds = form.extended;
    header.requestId = NextRequestId();
    header.ackRequested = ack && !isGroupAddress(address);
    std::vector<uint8_t> bytes =
        form.withData
            ? Message::EncodeEventData(header, eventIds[0], channel, blockId, timestamp,
                                       std::span(static_cast<const uint8_t*>(data), length))
            : Message::EncodeEvents(header, std::span(eventIds, count), form.numbered, channel, timestamp);
    const uint16_t to = static_cast<uint16_t>(port);
    if (header.ackRequested)
        m_Resend.Post(header.requestId, address, to, std::move(bytes), transmissions, period);
    else
        m_Resend.SendOnce(address, to, bytes);
    return GevResult::Ok;
}

void MessageProtocol::transmit(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes)
{
    m_Out->address = address;
    m_Out->port = port;
    m_Out->length = static_cast<uint16_t>(bytes.size());
    std::memcpy(m_Out->data, bytes.data(), bytes.size());
    (void)m_Socket.SendTo(*m_Out);  // a lost send is resent by its timer, if it has one
}

void MessageProtocol::AckLoop()
{
    while (m_Socket.RecvFrom(*m_In)) {
        if (auto id = Message::AcknowledgedRequestId(std::span<const uint8_t>(m_In->data, m_In->length)))
            m_Resend.Acknowledge(*id);
    }
}

bool MessageProtocol::OnChannelPortWrite(UIntReg* reg)
{
    const uint32_t port = reg->GetValue();
    if (port != 0 && !IsOpen()) {
        if (Open() != GevResult::Ok)
            reg->SetStatus(GevStatus::NotImplemented);
    } else if (port == 0) {
        Close();
    }
    return true;
}

bool MessageProtocol::OnEventPosted(EventEmitter* mailbox)
{
    const EventEmitter::Event e = mailbox->GetEvent();
    const uint64_t timestamp = (uint64_t{m_TimestampHigh->GetValue()} << 32) | m_TimestampLow->GetValue();
    const bool ack = e.flag != 0;
    switch (e.kind) {
    case EventEmitter::OneEvent: SendEvent(e.eventId, timestamp, e.channel, ack); break;
    case EventEmitter::SeveralEvents:
        SendEvents(e.count, static_cast<const uint16_t*>(e.events), timestamp, e.channel, ack);
        break;
    case EventEmitter::EventWithData:
        SendEventData(e.eventId, timestamp, 0, e.data, e.dataLength, e.channel, ack);
        break;
    default: break;
    }
    return true;
}

}  // namespace Kivu
