#include "server/message_wire.h"

#include "platform/bytes.h"

#include <cstring>

namespace Kivu::Message {
namespace {

size_t recordBytes(const Header& h) { return h.extendedIds ? kExtendedRecordBytes : kStandardRecordBytes; }

std::vector<uint8_t> withHeader(const Header& h, uint16_t command, size_t payload)
{
    std::vector<uint8_t> out(kHeaderBytes + payload, 0);
    out[0] = kKey;
    out[1] = static_cast<uint8_t>((h.extendedIds ? kFlagExtendedIds : 0) | (h.ackRequested ? kFlagAckRequested : 0));
    platform::storeBE16(&out[2], command);
    platform::storeBE16(&out[4], static_cast<uint16_t>(payload));
    platform::storeBE16(&out[6], h.requestId);
    return out;
}

// Bytes 0-1 of both forms, and 6-7 of the extended form, stay reserved 0.
void putRecord(uint8_t* at, bool extended, uint16_t eventId, uint16_t channel, uint64_t blockId, uint64_t timestamp)
{
    platform::storeBE16(at + 2, eventId);
    platform::storeBE16(at + 4, channel);
    if (extended) {
        platform::storeBE64(at + 8, blockId);
        platform::storeBE64(at + 16, timestamp);
    } else {
        platform::storeBE16(at + 6, static_cast<uint16_t>(blockId));
        platform::storeBE64(at + 8, timestamp);
    }
}

}  // namespace

std::vector<uint8_t> EncodeEvents(const Header& header, std::span<const uint16_t> eventIds, bool numbered,
                                  uint16_t channel, uint64_t timestamp)
{
    const size_t size = recordBytes(header);
    std::vector<uint8_t> out = withHeader(header, kEvent, size * eventIds.size());
    for (size_t i = 0; i < eventIds.size(); ++i)
        putRecord(&out[kHeaderBytes + i * size], header.extendedIds, eventIds[i], channel, numbered ? i + 1 : 0,
                  timestamp);
    return out;
}

std::vector<uint8_t> EncodeEventData(const Header& header, uint16_t eventId, uint16_t channel, uint64_t blockId,
                                     uint64_t timestamp, std::span<const uint8_t> data)
{
    const size_t size = recordBytes(header);
    std::vector<uint8_t> out = withHeader(header, kEventData, size + data.size());
    putRecord(&out[kHeaderBytes], header.extendedIds, eventId, channel, blockId, timestamp);
    if (!data.empty())
        std::memcpy(&out[kHeaderBytes + size], data.data(), data.size());
    return out;
}

std::optional<uint16_t> AcknowledgedRequestId(std::span<const uint8_t> datagram)
{
    if (datagram.size() < kHeaderBytes)
        return std::nullopt;
    const uint16_t command = platform::loadBE16(&datagram[2]);
    if (command != kEventAck && command != kEventDataAck)
        return std::nullopt;
    return platform::loadBE16(&datagram[6]);
}

}  // namespace Kivu::Message
