#pragma once
// The device side of the message channel: EVENT and EVENTDATA to the
// destination in MCDA:MCP, acknowledged by the client and resent by timer
// (MCTT apart, MCRC transmissions in all). Opens when a client writes a
// non-zero MCP and closes when MCP becomes 0; sends what the control channel
// posts to the event mailbox.
#include "model/reg_tree.h"
#include "model/registers.h"
#include "server/datagram_socket.h"
#include "server/message_resend.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace Kivu {

class MessageProtocol : public Base {
public:
    // Binds the registers it needs from tree; throws std::runtime_error when one is missing.
    explicit MessageProtocol(std::shared_ptr<RegTree> tree);
    ~MessageProtocol() override;
    MessageProtocol(const MessageProtocol&) = delete;
    MessageProtocol& operator=(const MessageProtocol&) = delete;

    // Opens the channel's socket on the current IP and publishes its port in
    // MCSP; 0 or 0x80004005.
    uint32_t Open();
    // Joins the acknowledge and timer threads and drops waiting packets;
    // nothing is sent once it returns.
    void Close();
    bool IsOpen() const;

    // Senders: 0 (also when the datagram could not be sent), 0x80070057 for
    // more than 33 ids or 540 data bytes, 0x80004001 while the channel is
    // closed or MCDA or MCP is 0.
    uint32_t SendEvent(uint16_t eventId, uint64_t timestamp, uint16_t channel, bool ack);
    uint32_t SendEvents(uint32_t count, const uint16_t* eventIds, uint64_t timestamp, uint16_t channel, bool ack);
    uint32_t SendEventData(uint16_t eventId, uint64_t timestamp, uint64_t blockId, const void* data,
                           uint32_t length, uint16_t channel, bool ack);
    uint32_t SendEventExt(uint16_t eventId, uint64_t timestamp, uint16_t channel, bool ack);
    uint32_t SendEventsExt(uint32_t count, const uint16_t* eventIds, uint64_t timestamp, uint16_t channel,
                           bool ack);
    uint32_t SendEventDataExt(uint16_t eventId, uint64_t timestamp, uint64_t blockId, const void* data,
                              uint32_t length, uint16_t channel, bool ack);

    // 1..65535, then 1 again.
    uint16_t NextRequestId();
    // Packets waiting for an acknowledge.
    size_t Waiting() const { return m_Resend.Waiting(); }

private:
    struct Form {
        bool extended = false;
        bool withData = false;
        bool numbered = false;  // several events: block ids 1, 2, ...
    };

    bool OnChannelPortWrite(UIntReg* reg);
    bool OnEventPosted(EventEmitter* mailbox);
    void AckLoop();
    uint32_t send(const Form& form, uint32_t count, const uint16_t* eventIds, uint64_t timestamp, uint64_t blockId,
                  const void* data, uint32_t length, uint16_t channel, bool ack);
    void transmit(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes);

    std::shared_ptr<UIntReg> m_CurrentIp, m_Mcp, m_Mcda, m_Mctt, m_Mcrc, m_Mcsp, m_TimestampHigh, m_TimestampLow;
    std::shared_ptr<EventEmitter> m_Mailbox;

    mutable std::mutex m_Mutex;  // the channel's state and its sockets' lifetime against senders
    bool m_Open = false;
    DatagramSocket m_Socket;
    std::unique_ptr<Datagram> m_Out;  // transmit's buffer, used under the resend queue's lock
    std::unique_ptr<Datagram> m_In;   // the acknowledge thread's
    ResendQueue m_Resend;
    std::jthread m_AckThread;

    std::mutex m_IdMutex;
    uint16_t m_RequestId = 0;
};

}  // namespace Kivu
