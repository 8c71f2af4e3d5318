#include "server/gvcp_wire.h"

#include "platform/bytes.h"

#include <cstring>

namespace Kivu::Gvcp {

using platform::loadBE16;
using platform::loadBE32;
using platform::loadBE64;
using platform::storeBE16;
using platform::storeBE32;

std::optional<Request> ParseRequest(const uint8_t* data, size_t size)
{
    if (data == nullptr || size < kHeaderSize)
        return std::nullopt;
    Request r;
    r.header.key = data[0];
    r.header.flags = data[1];
    r.header.command = loadBE16(data + 2);
    r.header.length = loadBE16(data + 4);
    r.header.requestId = loadBE16(data + 6);
    r.payload = data + kHeaderSize;
    r.received = size - kHeaderSize;
    return r;
}

uint32_t ReadRegRequest::Address(size_t i) const
{
    return loadBE32(addresses + 4 * i);
}

uint32_t WriteRegRequest::Address(size_t i) const
{
    return loadBE32(pairs + 8 * i);
}

uint32_t WriteRegRequest::Value(size_t i) const
{
    return loadBE32(pairs + 8 * i + 4);
}

std::optional<ReadRegRequest> DecodeReadReg(const Request& r)
{
    if (!r.LengthFits())
        return std::nullopt;
    return ReadRegRequest{r.payload, r.header.length / 4u};
}

std::optional<WriteRegRequest> DecodeWriteReg(const Request& r)
{
    if (!r.LengthFits())
        return std::nullopt;
    return WriteRegRequest{r.payload, r.header.length / 8u};
}

std::optional<ReadMemRequest> DecodeReadMem(const Request& r)
{
    if (!r.LengthFits() || r.header.length < 8)
        return std::nullopt;
    return ReadMemRequest{loadBE32(r.payload), loadBE16(r.payload + 6)};
}

std::optional<WriteMemRequest> DecodeWriteMem(const Request& r)
{
    if (!r.LengthFits() || r.header.length < 4)
        return std::nullopt;
    return WriteMemRequest{loadBE32(r.payload), r.payload + 4, r.header.length - 4u};
}

std::optional<PacketResendRequest> DecodePacketResend(const Request& r, bool extended)
{
    const size_t need = extended ? 20 : 12;
    if (!r.LengthFits() || r.header.length < need)
        return std::nullopt;
    PacketResendRequest p;
    p.channel = loadBE16(r.payload);
    p.firstPacket = loadBE32(r.payload + 4);
    p.lastPacket = loadBE32(r.payload + 8);
    if (extended) {
        p.blockId = loadBE64(r.payload + 12);
    } else {
        p.blockId = loadBE16(r.payload + 2);
        p.firstPacket &= 0x00FFFFFF;
        p.lastPacket &= 0x00FFFFFF;
    }
    return p;
}

std::optional<ActionRequest> DecodeAction(const Request& r)
{
    const bool scheduled = (r.header.flags & Flag::ScheduledAction) != 0;
    const size_t need = scheduled ? 20 : 12;
    if (!r.LengthFits() || r.header.length < need)
        return std::nullopt;
    ActionRequest a;
    a.deviceKey = loadBE32(r.payload);
    a.groupKey = loadBE32(r.payload + 4);
    a.groupMask = loadBE32(r.payload + 8);
    a.scheduled = scheduled;
    if (scheduled)
        a.actionTime = loadBE64(r.payload + 12);
    return a;
}

std::optional<ForceIpRequest> DecodeForceIp(const Request& r)
{
    if (!r.LengthFits() || r.header.length < 56)
        return std::nullopt;
    ForceIpRequest f;
    f.macHigh = loadBE16(r.payload + 2);
    f.macLow = loadBE32(r.payload + 4);
    f.ip = loadBE32(r.payload + 20);
    f.mask = loadBE32(r.payload + 36);
    f.gateway = loadBE32(r.payload + 52);
    return f;
}

size_t WriteAckHeader(uint8_t* out, uint16_t status, uint16_t answer, uint16_t length, uint16_t ackId)
{
    storeBE16(out, status);
    storeBE16(out + 2, answer);
    storeBE16(out + 4, length);
    storeBE16(out + 6, ackId);
    return kHeaderSize;
}

size_t BuildNack(uint8_t* out, uint16_t status, uint16_t ackId)
{
    return WriteAckHeader(out, status, Answer::None, 0, ackId);
}

size_t BuildReadRegAck(uint8_t* out, uint16_t status, uint16_t ackId, const uint8_t* values, size_t count)
{
    const size_t length = 4 * count;
    if (length != 0 && values != out + kHeaderSize)
        std::memmove(out + kHeaderSize, values, length);
    WriteAckHeader(out, status, Answer::ReadReg, static_cast<uint16_t>(length), ackId);
    return kHeaderSize + length;
}

size_t BuildWriteRegAck(uint8_t* out, uint16_t status, uint16_t ackId, uint16_t index)
{
    WriteAckHeader(out, status, Answer::WriteReg, 4, ackId);
    storeBE16(out + 8, 0);
    storeBE16(out + 10, index);
    return 12;
}

size_t BuildReadMemAck(uint8_t* out, uint16_t status, uint16_t ackId, uint32_t address, const uint8_t* data,
                       uint16_t count)
{
    if (status != 0)
        return WriteAckHeader(out, status, Answer::ReadMem, 0, ackId);
    if (count != 0 && data != out + 12)
        std::memmove(out + 12, data, count);
    storeBE32(out + 8, address);
    WriteAckHeader(out, 0, Answer::ReadMem, static_cast<uint16_t>(count + 4), ackId);
    return 12u + count;
}

size_t BuildWriteMemAck(uint8_t* out, uint16_t status, uint16_t ackId, uint16_t index)
{
    WriteAckHeader(out, status, Answer::WriteMem, 4, ackId);
    storeBE16(out + 8, 0);
    storeBE16(out + 10, index);
    return 12;
}

size_t BuildForceIpAck(uint8_t* out, uint16_t status, uint16_t ackId)
{
    return WriteAckHeader(out, status, Answer::ForceIp, 0, ackId);
}

size_t BuildActionAck(uint8_t* out, uint16_t ackId)
{
    return WriteAckHeader(out, 0, Answer::Action, 0, ackId);
}

size_t BuildPendingAck(uint8_t* out, uint16_t ackId, uint16_t timeoutMs)
{
    WriteAckHeader(out, 0, Answer::Pending, 4, ackId);
    storeBE16(out + 8, 0);
    storeBE16(out + 10, timeoutMs);
    return 12;
}

size_t BuildDiscoveryAck(uint8_t* out, uint16_t ackId, const DiscoveryInfo& info)
{
    std::memset(out, 0, kDiscoveryAckSize);
    WriteAckHeader(out, 0, Answer::Discovery, kDiscoveryPayloadSize, ackId);
    uint8_t* p = out + kHeaderSize;
    storeBE16(p + 0x00, static_cast<uint16_t>(info.version >> 16));
    storeBE16(p + 0x02, static_cast<uint16_t>(info.version));
    storeBE32(p + 0x04, info.deviceMode);
    storeBE16(p + 0x0A, static_cast<uint16_t>(info.macHigh));
    storeBE32(p + 0x0C, info.macLow);
    storeBE32(p + 0x10, info.ipConfigOptions);
    storeBE32(p + 0x14, info.ipConfigCurrent);
    storeBE32(p + 0x24, info.ip);
    storeBE32(p + 0x34, info.mask);
    storeBE32(p + 0x44, info.gateway);
    std::memcpy(p + 0x48, info.manufacturer, sizeof(info.manufacturer));
    std::memcpy(p + 0x68, info.model, sizeof(info.model));
    std::memcpy(p + 0x88, info.deviceVersion, sizeof(info.deviceVersion));
    std::memcpy(p + 0xA8, info.manufacturerInfo, sizeof(info.manufacturerInfo));
    std::memcpy(p + 0xD8, info.serialNumber, sizeof(info.serialNumber));
    std::memcpy(p + 0xE8, info.userName, sizeof(info.userName));
    return kDiscoveryAckSize;
}

uint32_t DiscoveryDestination(uint32_t requester, uint32_t deviceIp, uint32_t mask)
{
    return (requester & mask) == (deviceIp & mask) ? requester : 0xFFFFFFFFu;
}

}  // namespace Kivu::Gvcp
