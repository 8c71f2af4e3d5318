// The request side of the control protocol: header checks, dispatch and the
// discovery and register access commands.
#include "server/control_protocol.h"

#include "model/bootstrap_registers.h"

#include "platform/bytes.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

namespace Kivu {

namespace {

enum Knob { DiscoveryKnob = 0, ReadKnob = 1, WriteKnob = 2 };

// Privilege checks of block accesses use an address that is never CCP.
constexpr uint32_t kNotCcp = 0xFFFFFFFF;

bool isRegisterCommand(uint16_t command)
{
    return command == Gvcp::Command::ReadReg || command == Gvcp::Command::WriteReg ||
           command == Gvcp::Command::ReadMem || command == Gvcp::Command::WriteMem;
}

// The acknowledge code of a command, 0 when it has none.
uint16_t answerCode(uint16_t command)
{
    switch (command) {
    case Gvcp::Command::Discovery: return Gvcp::Answer::Discovery;
    case Gvcp::Command::ForceIp: return Gvcp::Answer::ForceIp;
    case Gvcp::Command::ReadReg: return Gvcp::Answer::ReadReg;
    case Gvcp::Command::WriteReg: return Gvcp::Answer::WriteReg;
    case Gvcp::Command::ReadMem: return Gvcp::Answer::ReadMem;
    case Gvcp::Command::WriteMem: return Gvcp::Answer::WriteMem;
    case Gvcp::Command::Action: return Gvcp::Answer::Action;
    default: return 0;
    }
}

}  // namespace

void ControlProtocol::Dispatch(const Datagram& request)
{
    const auto r = Gvcp::ParseRequest(request.data, request.length);
    if (!r || r->header.key != Gvcp::kKey)
        return;  // not a GVCP command: no answer
    if (r->header.requestId == 0) {
        SendInvalidHeaderNack(request, 0);
        return;
    }
    m_RequestIp = request.address;
    m_RequestPort = request.port;
    m_SourceIp->SetValue(request.address);
    m_SourcePort->SetValue(request.port);
    try {
        dispatch(request, *r);
    } catch (const std::exception&) {
        // A request never ends the receive thread: its failure is answered.
        const uint16_t code = answerCode(r->header.command);
        if (code != 0 && (r->AckRequested() || r->header.command == Gvcp::Command::Discovery)) {
            m_Last.valid = false;
            const size_t n = Gvcp::WriteAckHeader(m_Scratch->data, GevStatus::Error, code, 0, r->header.requestId);
            m_Scratch->address = request.address;
            m_Scratch->port = request.port;
            m_Scratch->length = static_cast<uint16_t>(n);
            m_Endpoint.Send(*m_Scratch);
        }
    }
    m_SourceIp->SetValue(0);
    m_SourcePort->SetValue(0);
    m_RequestIp = 0;
    m_RequestPort = 0;
}

void ControlProtocol::dispatch(const Datagram& request, const Gvcp::Request& r)
{
    const uint16_t command = r.header.command;
    if (isRegisterCommand(command) && repeatOfLast(request, r)) {
        // A client's retry after a time-out: the stored answer, without running the command again.
        OnPrimaryRequest();
        if (m_Last.length != 0) {
            m_LastAck->address = request.address;
            m_LastAck->port = request.port;
            m_LastAck->length = static_cast<uint16_t>(m_Last.length);
            m_Endpoint.Send(*m_LastAck);
        }
        return;
    }

    switch (command) {
    case Gvcp::Command::Discovery:
        delay(m_Delay[DiscoveryKnob]);
        HandleDiscovery(request, r);
        break;
    case Gvcp::Command::ForceIp:
        OnPrimaryRequest();
        HandleForceIp(request, r);
        break;
    case Gvcp::Command::PacketResend:
        HandlePacketResend(r);
        break;
    case Gvcp::Command::ReadReg:
        OnPrimaryRequest();
        delay(m_Delay[ReadKnob]);
        HandleReadReg(request, r);
        break;
    case Gvcp::Command::WriteReg:
        OnPrimaryRequest();
        delay(m_Delay[WriteKnob]);
        HandleWriteReg(request, r);
        break;
    case Gvcp::Command::ReadMem:
        OnPrimaryRequest();
        delay(m_Delay[ReadKnob]);
        HandleReadMem(request, r);
        break;
    case Gvcp::Command::WriteMem:
        OnPrimaryRequest();
        delay(m_Delay[WriteKnob]);
        HandleWriteMem(request, r);
        break;
    case Gvcp::Command::Action:
        HandleActionCommand(request, r);
        break;
    default:
        SendNotImplementedNack(request, r.header.requestId);
        break;
    }
}

void ControlProtocol::delay(const std::atomic<uint32_t>& ms)
{
    const uint32_t v = ms.load();
    if (v != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(v));
}

bool ControlProtocol::passesEveryNth(std::atomic<uint32_t>& counter, const std::atomic<uint32_t>& divisor)
{
    const uint32_t count = counter.fetch_add(1) + 1;
    const uint32_t n = divisor.load();
    return n == 0 || count % n == 0;
}

bool ControlProtocol::repeatOfLast(const Datagram& request, const Gvcp::Request& r)
{
    return m_Last.valid && m_Last.ip == request.address && m_Last.port == request.port &&
           m_Last.requestId == r.header.requestId && m_Last.command == r.header.command;
}

void ControlProtocol::remember(const Datagram& request, const Gvcp::Request& r, size_t length)
{
    if (!isRegisterCommand(r.header.command))
        return;
    m_Last.valid = true;
    m_Last.ip = request.address;
    m_Last.port = request.port;
    m_Last.requestId = r.header.requestId;
    m_Last.command = r.header.command;
    m_Last.length = length;
    if (length != 0)
        std::memcpy(m_LastAck->data, m_Answer->data, length);
}

void ControlProtocol::answer(const Datagram& request, const Gvcp::Request& r, size_t length)
{
    if (!r.AckRequested()) {
        remember(request, r, 0);
        return;
    }
    m_Answer->address = request.address;
    m_Answer->port = request.port;
    m_Answer->length = static_cast<uint16_t>(length);
    remember(request, r, length);
    m_Endpoint.Send(*m_Answer);
}

void ControlProtocol::sendNack(const Datagram& request, uint16_t status, uint16_t requestId)
{
    const size_t n = Gvcp::BuildNack(m_Scratch->data, status, requestId);
    m_Scratch->address = request.address;
    m_Scratch->port = request.port;
    m_Scratch->length = static_cast<uint16_t>(n);
    m_Endpoint.Send(*m_Scratch);
}

void ControlProtocol::SendInvalidHeaderNack(const Datagram& request, uint16_t requestId)
{
    sendNack(request, GevStatus::BadHeader, requestId);
}

void ControlProtocol::SendNotImplementedNack(const Datagram& request, uint16_t requestId)
{
    sendNack(request, GevStatus::NotImplemented, requestId);
}

void ControlProtocol::HandleDiscovery(const Datagram& request, const Gvcp::Request& r)
{
    if (!passesEveryNth(m_Counter[DiscoveryKnob], m_EveryNth[DiscoveryKnob]))
        return;
    Gvcp::DiscoveryInfo info;
    auto word = [&](uint32_t address) {
        uint8_t bytes[4] = {};
        readRegister(address, bytes);
        return platform::loadBE32(bytes);
    };
    info.version = m_Version->GetValue();
    info.deviceMode = word(Bootstrap::kDeviceMode);
    info.macHigh = word(Bootstrap::kDeviceMacHigh);
    info.macLow = word(Bootstrap::kDeviceMacLow);
    info.ipConfigOptions = word(Bootstrap::kSupportedIpConfiguration);
    info.ipConfigCurrent = word(Bootstrap::kCurrentIpConfiguration);
    info.ip = word(Bootstrap::kCurrentIpAddress);
    info.mask = word(Bootstrap::kCurrentSubnetMask);
    info.gateway = word(Bootstrap::kCurrentDefaultGateway);
    uint8_t* fields[6] = {info.manufacturer, info.model, info.deviceVersion, info.manufacturerInfo,
                          info.serialNumber, info.userName};
    const size_t sizes[6] = {32, 32, 32, 48, 16, 16};
    for (size_t i = 0; i < 6; ++i) {
        uint8_t text[64] = {};
        const uint32_t length = m_Strings[i]->GetLength();
        if (length <= sizeof(text) && m_Tree->ReadRegisterBytes(m_Strings[i]->GetAddress(), text) == 0)
            std::memcpy(fields[i], text, sizes[i] < length ? sizes[i] : length);
    }

    const size_t n = Gvcp::BuildDiscoveryAck(m_Scratch->data, r.header.requestId, info);
    m_Scratch->address =
        Gvcp::DiscoveryDestination(request.address, m_CurrentIp->GetValue(), m_CurrentMask->GetValue());
    m_Scratch->port = request.port;
    m_Scratch->length = static_cast<uint16_t>(n);
    m_Endpoint.Send(*m_Scratch);
}

// Numeric registers are read through the tree's register path; any other
// address (string registers, their inner words, gaps) as four bytes of memory.
uint32_t ControlProtocol::readRegister(uint32_t address, uint8_t* out)
{
    auto r = m_Tree->Find(address);
    if (r && r->GetType() <= RegType::Float) {
        uint32_t status = 0;
        const uint32_t raw = m_Tree->ReadRegister(address, &status, Origin::Remote);
        if (status == 0)
            std::memcpy(out, &raw, 4);
        return status;
    }
    return m_Tree->ReadMemory(address, out, 4, Origin::Remote);
}

uint32_t ControlProtocol::writeRegister(uint32_t address, uint32_t value)
{
    uint8_t bytes[4];
    platform::storeBE32(bytes, value);
    auto r = m_Tree->Find(address);
    if (r && r->GetType() <= RegType::Float) {
        uint32_t raw;
        std::memcpy(&raw, bytes, 4);
        return m_Tree->WriteRegister(address, raw, Origin::Remote);
    }
    return m_Tree->WriteMemory(address, bytes, 4, Origin::Remote);
}

void ControlProtocol::HandleReadReg(const Datagram& request, const Gvcp::Request& r)
{
    if (!passesEveryNth(m_Counter[ReadKnob], m_EveryNth[ReadKnob]))
        return;
    uint8_t* out = m_Answer->data;
    const auto rr = Gvcp::DecodeReadReg(r);
    if (!rr) {
        answer(request, r, Gvcp::BuildReadRegAck(out, GevStatus::BadHeader, r.header.requestId, nullptr, 0));
        return;
    }
    uint32_t status = 0;
    size_t done = 0;
    for (; done < rr->count; ++done) {
        const uint32_t address = rr->Address(done);
        if (!CheckPrivilege(address, true)) {
            status = GevStatus::AccessDenied;
            break;
        }
        status = readRegister(address, out + Gvcp::kHeaderSize + 4 * done);
        if (status != 0)
            break;
    }
    answer(request, r,
           Gvcp::BuildReadRegAck(out, static_cast<uint16_t>(status), r.header.requestId, out + Gvcp::kHeaderSize,
                                 done));
}

void ControlProtocol::HandleWriteReg(const Datagram& request, const Gvcp::Request& r)
{
    if (!passesEveryNth(m_Counter[WriteKnob], m_EveryNth[WriteKnob]))
        return;
    uint8_t* out = m_Answer->data;
    const auto wr = Gvcp::DecodeWriteReg(r);
    if (!wr) {
        answer(request, r, Gvcp::BuildWriteRegAck(out, GevStatus::BadHeader, r.header.requestId, 0));
        return;
    }
    uint32_t status = 0;
    size_t done = 0;
    for (; done < wr->count; ++done) {
        const uint32_t address = wr->Address(done);
        const uint32_t value = wr->Value(done);
        if (!CheckPrivilege(address, false) || (address == Bootstrap::kControlChannelPrivilege && !switchoverKeyMatches(value))) {
            status = GevStatus::AccessDenied;
            break;
        }
        status = writeRegister(address, value);
        if (status != 0)
            break;
    }
    answer(request, r,
           Gvcp::BuildWriteRegAck(out, static_cast<uint16_t>(status), r.header.requestId,
                                  static_cast<uint16_t>(done)));
}

void ControlProtocol::HandleReadMem(const Datagram& request, const Gvcp::Request& r)
{
    if (!passesEveryNth(m_Counter[ReadKnob], m_EveryNth[ReadKnob]))
        return;
    uint8_t* out = m_Answer->data;
    const auto rm = Gvcp::DecodeReadMem(r);
    uint32_t status;
    if (!rm)
        status = GevStatus::BadHeader;
    else if (rm->count > Gvcp::kMaxReadMemCount)
        status = GevStatus::InvalidParameter;  // the acknowledge would not fit one datagram
    else if (!CheckPrivilege(kNotCcp, true))
        status = GevStatus::AccessDenied;
    else
        status = m_Tree->ReadMemory(rm->address, out + 12, rm->count, Origin::Remote);
    answer(request, r,
           Gvcp::BuildReadMemAck(out, static_cast<uint16_t>(status), r.header.requestId, rm ? rm->address : 0,
                                 out + 12, rm ? rm->count : 0));
}

void ControlProtocol::HandleWriteMem(const Datagram& request, const Gvcp::Request& r)
{
    if (!passesEveryNth(m_Counter[WriteKnob], m_EveryNth[WriteKnob]))
        return;
    uint8_t* out = m_Answer->data;
    const auto wm = Gvcp::DecodeWriteMem(r);
    uint32_t status;
    if (!wm)
        status = GevStatus::BadHeader;
    else if (!CheckPrivilege(kNotCcp, false))
        status = GevStatus::AccessDenied;
    else
        status = m_Tree->WriteMemory(wm->address, wm->data, static_cast<uint32_t>(wm->length), Origin::Remote);
    // The index counts the bytes written; a failed write reports none.
    const uint16_t index = status == 0 ? static_cast<uint16_t>(wm->length) : 0;
    answer(request, r, Gvcp::BuildWriteMemAck(out, static_cast<uint16_t>(status), r.header.requestId, index));
}

}  // namespace Kivu
