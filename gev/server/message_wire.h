#pragma once
// The message channel's packets: EVENT and EVENTDATA with their 8-byte
// header and standard (16-byte) or extended-ID (24-byte) event records, and
// the acknowledges that answer them. Big-endian throughout.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace Kivu::Message {

constexpr uint8_t kKey = 0x42;
constexpr uint8_t kFlagAckRequested = 0x01;
constexpr uint8_t kFlagExtendedIds = 0x10;

constexpr uint16_t kEvent = 0x00C0;
constexpr uint16_t kEventAck = 0x00C1;
constexpr uint16_t kEventData = 0x00C2;
constexpr uint16_t kEventDataAck = 0x00C3;

constexpr size_t kHeaderBytes = 8;
constexpr size_t kStandardRecordBytes = 16;
constexpr size_t kExtendedRecordBytes = 24;
constexpr uint32_t kMaxEvents = 33;
constexpr uint32_t kMaxEventData = 540;

struct Header {
    bool extendedIds = false;
    bool ackRequested = false;
    uint16_t requestId = 0;
};

// One EVENT packet with a record per id, all with the same channel and
// timestamp. numbered: record i carries block id i + 1, else every block id is 0.
std::vector<uint8_t> EncodeEvents(const Header& header, std::span<const uint16_t> eventIds, bool numbered,
                                  uint16_t channel, uint64_t timestamp);

// One EVENTDATA packet: one record, then the data.
std::vector<uint8_t> EncodeEventData(const Header& header, uint16_t eventId, uint16_t channel, uint64_t blockId,
                                     uint64_t timestamp, std::span<const uint8_t> data);

// The request id an EVENT_ACK or EVENTDATA_ACK answers; nullopt for anything else.
std::optional<uint16_t> AcknowledgedRequestId(std::span<const uint8_t> datagram);

}  // namespace Kivu::Message
