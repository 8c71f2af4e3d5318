#pragma once
// GVCP wire format: command header and request payloads in, acknowledges out.
// Pure functions over byte buffers; every parse is bounded by the bytes received.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace Kivu::Gvcp {

constexpr uint16_t kPort = 3956;
constexpr uint8_t kKey = 0x42;
constexpr size_t kHeaderSize = 8;
// Largest UDP payload over IPv4.
constexpr size_t kMaxDatagram = 65507;

namespace Flag {
constexpr uint8_t AckRequested = 0x01;
constexpr uint8_t ExtendedId = 0x10;
constexpr uint8_t ScheduledAction = 0x80;
}  // namespace Flag

namespace Command {
constexpr uint16_t Discovery = 0x0002;
constexpr uint16_t ForceIp = 0x0004;
constexpr uint16_t PacketResend = 0x0040;
constexpr uint16_t ReadReg = 0x0080;
constexpr uint16_t WriteReg = 0x0082;
constexpr uint16_t ReadMem = 0x0084;
constexpr uint16_t WriteMem = 0x0086;
constexpr uint16_t Action = 0x0100;
}  // namespace Command

namespace Answer {
constexpr uint16_t None = 0x0000;  // negative acknowledges of the header checks
constexpr uint16_t Discovery = 0x0003;
constexpr uint16_t ForceIp = 0x0005;
constexpr uint16_t ReadReg = 0x0081;
constexpr uint16_t WriteReg = 0x0083;
constexpr uint16_t ReadMem = 0x0085;
constexpr uint16_t WriteMem = 0x0087;
constexpr uint16_t Pending = 0x0089;
constexpr uint16_t Action = 0x0101;
}  // namespace Answer

struct CommandHeader {
    uint8_t key = 0;
    uint8_t flags = 0;
    uint16_t command = 0;
    uint16_t length = 0;  // payload length as the header claims it
    uint16_t requestId = 0;
};

// A received command: the header and the payload bytes that were actually received.
struct Request {
    CommandHeader header;
    const uint8_t* payload = nullptr;
    size_t received = 0;  // payload bytes present in the datagram

    bool AckRequested() const { return (header.flags & Flag::AckRequested) != 0; }
    // The header's length fits the datagram.
    bool LengthFits() const { return header.length <= received; }
};

// Empty when the datagram is shorter than a header.
std::optional<Request> ParseRequest(const uint8_t* data, size_t size);

// READREG: addresses in order; count = length / 4.
struct ReadRegRequest {
    const uint8_t* addresses = nullptr;
    size_t count = 0;
    uint32_t Address(size_t i) const;
};
// WRITEREG: (address, value) pairs; count = length / 8.
struct WriteRegRequest {
    const uint8_t* pairs = nullptr;
    size_t count = 0;
    uint32_t Address(size_t i) const;
    uint32_t Value(size_t i) const;
};
struct ReadMemRequest {
    uint32_t address = 0;
    uint16_t count = 0;
};
struct WriteMemRequest {
    uint32_t address = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
};
struct PacketResendRequest {
    uint16_t channel = 0;
    uint64_t blockId = 0;
    uint32_t firstPacket = 0;
    uint32_t lastPacket = 0;
};
struct ActionRequest {
    uint32_t deviceKey = 0;
    uint32_t groupKey = 0;
    uint32_t groupMask = 0;
    bool scheduled = false;
    uint64_t actionTime = 0;  // ticks, scheduled actions only
};
struct ForceIpRequest {
    uint16_t macHigh = 0;
    uint32_t macLow = 0;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
};

// Each decoder is empty when the header's length does not fit the datagram or
// is too short for the command.
std::optional<ReadRegRequest> DecodeReadReg(const Request& r);
std::optional<WriteRegRequest> DecodeWriteReg(const Request& r);
std::optional<ReadMemRequest> DecodeReadMem(const Request& r);
std::optional<WriteMemRequest> DecodeWriteMem(const Request& r);
// extended: the 64-bit block id and 32-bit packet ids of the extended-id form.
std::optional<PacketResendRequest> DecodePacketResend(const Request& r, bool extended);
std::optional<ActionRequest> DecodeAction(const Request& r);
std::optional<ForceIpRequest> DecodeForceIp(const Request& r);

// Acknowledges. Each builder writes into out, which holds at least the
// acknowledge's size, and returns the number of bytes written.
size_t WriteAckHeader(uint8_t* out, uint16_t status, uint16_t answer, uint16_t length, uint16_t ackId);
size_t BuildNack(uint8_t* out, uint16_t status, uint16_t ackId);
// values: count register values as their four network-order bytes each.
size_t BuildReadRegAck(uint8_t* out, uint16_t status, uint16_t ackId, const uint8_t* values, size_t count);
size_t BuildWriteRegAck(uint8_t* out, uint16_t status, uint16_t ackId, uint16_t index);
// data: count bytes read; only used on success.
size_t BuildReadMemAck(uint8_t* out, uint16_t status, uint16_t ackId, uint32_t address, const uint8_t* data,
                       uint16_t count);
size_t BuildWriteMemAck(uint8_t* out, uint16_t status, uint16_t ackId, uint16_t index);
size_t BuildForceIpAck(uint8_t* out, uint16_t status, uint16_t ackId);
size_t BuildActionAck(uint8_t* out, uint16_t ackId);
size_t BuildPendingAck(uint8_t* out, uint16_t ackId, uint16_t timeoutMs);

// Largest READMEM count whose acknowledge fits one datagram.
constexpr size_t kMaxReadMemCount = kMaxDatagram - kHeaderSize - 4;

constexpr size_t kDiscoveryAckSize = 256;
constexpr size_t kDiscoveryPayloadSize = 0xF8;

// What a DISCOVERY_ACK reports; words in host order, texts as the register bytes.
struct DiscoveryInfo {
    uint32_t version = 0;
    uint32_t deviceMode = 0;
    uint32_t macHigh = 0;
    uint32_t macLow = 0;
    uint32_t ipConfigOptions = 0;
    uint32_t ipConfigCurrent = 0;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint8_t manufacturer[32] = {};
    uint8_t model[32] = {};
    uint8_t deviceVersion[32] = {};
    uint8_t manufacturerInfo[48] = {};
    uint8_t serialNumber[16] = {};
    uint8_t userName[16] = {};
};
size_t BuildDiscoveryAck(uint8_t* out, uint16_t ackId, const DiscoveryInfo& info);

// The requester when it shares the device's subnet, else the limited broadcast.
uint32_t DiscoveryDestination(uint32_t requester, uint32_t deviceIp, uint32_t mask);

}  // namespace Kivu::Gvcp
