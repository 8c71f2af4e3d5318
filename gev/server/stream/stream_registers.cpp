#include "server/stream/stream_protocol.h"

#include "server/stream/stream_clock.h"

#include <cstdio>
#include <stdexcept>

namespace Kivu {

namespace {

constexpr uint32_t kAllSources = 0xFFFFFFFF;
constexpr uint32_t kFireTestPacket = 0x80000000;
constexpr uint32_t kDontFragment = 0x40000000;

}  // namespace

std::shared_ptr<UIntReg> StreamProtocol::reg(uint32_t address) const
{
    auto r = std::dynamic_pointer_cast<UIntReg>(m_Tree->Find(address));
    if (!r) {
        char text[64];
        std::snprintf(text, sizeof(text), "Missing register 0x%04X\n", address);
        throw std::runtime_error(text);
    }
    return r;
}

void StreamProtocol::subscribeAll()
{
    m_Scp->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScp));
    m_Scps->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScps));
    m_Scpd->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnScpd));
    m_AcqStart->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStart));
    m_AcqStop->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStop));
    m_TsControl->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnTimestampControl));
    m_Resend->Subscribe(MakeCallback(this, &StreamProtocol::OnResend));
}

void StreamProtocol::unsubscribeAll()
{
    m_Scp->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScp));
    m_Scps->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScps));
    m_Scpd->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnScpd));
    m_AcqStart->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStart));
    m_AcqStop->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStop));
    m_TsControl->RemoveCallbacks(CallbackList::BeforeWrite,
                                 MakeCallback(this, &StreamProtocol::OnTimestampControl));
    m_Resend->RemoveCallbacks(MakeCallback(this, &StreamProtocol::OnResend));
}

// ---- Register hooks ------------------------------------------------------

bool StreamProtocol::OnScp(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (m_Streaming.load())
        return false;
    if (value == m_ScpValue)
        return true;
    {
        std::unique_lock lk(m_Mutex);
        waitIdleLocked(lk);
    }
    if (m_ScpValue != 0) {
        m_Socket->Close();
        m_Scsp->SetValue(0);
    }
    if (value != 0 && m_Socket->Open(m_CurrentIp->GetValue()))
        m_Scsp->SetValue(m_Socket->LocalPort());
    m_ScpValue = value;
    return true;
}

bool StreamProtocol::OnScps(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (m_Streaming.load())
        return false;
    const uint32_t size = value & 0xFFFF;
    uint32_t max = m_MaxPacket->GetValue();
    if (max == 0 || max > 0xFFFF)
        max = 0xFFFF;
    if (size > max || size < kMinPacketSize)
        return false;
    if (Gvsp::PacketBytes(value) != m_PacketBytes.load()) {
        std::lock_guard lk(m_Mutex);
        m_PacketBytes.store(Gvsp::PacketBytes(value));
        m_Repacketize = true;
    }
    if ((value & kFireTestPacket) != 0 && r->GetRequester() != Origin::Internal)
        sendTestPacket(size - Gvsp::kIpUdpHeaderBytes);
    return true;
}

bool StreamProtocol::sendTestPacket(uint32_t size)
{
    const uint16_t port = static_cast<uint16_t>(m_Scp->GetValue());
    const uint32_t address = m_Scda->GetValue();
    if (port == 0 || address == 0 || !m_Socket->IsOpen())
        return false;
    std::lock_guard lk(m_ResendMutex);
    if (!m_Socket->Connect(address, port))
        return false;
    m_TestPacket.resize(size);
    Gvsp::WriteTestPacket(m_TestPacket.data(), size);
    iovec v{m_TestPacket.data(), size};
    mmsghdr m{};
    m.msg_hdr.msg_iov = &v;
    m.msg_hdr.msg_iovlen = 1;
    // An oversize probe must fail rather than be fragmented.
    m_Socket->SetDontFragment(true);
    const bool sent = m_Socket->Send(&m, 1) == 1;
    m_Socket->SetDontFragment((m_Scps->GetValue() & kDontFragment) != 0);
    return sent;
}

bool StreamProtocol::OnScpd(UIntReg* r)
{
    m_Delay.store(r->GetValue());
    return true;
}

bool StreamProtocol::OnAcquisitionStart(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (!IsStarted() || m_Stopping.load() || m_Streaming.load())
        return true;
    if (value != kAllSources) {
        if (m_Sources->ChannelOf(value) != m_Channel)
            return true;
        m_Sources->SetCurrentSource(m_Channel, m_Sources->Selected());
    }
    const uint16_t port = static_cast<uint16_t>(m_Scp->GetValue());
    const uint32_t address = m_Scda->GetValue();
    if (port == 0 || address == 0)
        return true;
    if (!m_Socket->IsOpen() || !m_Socket->Connect(address, port))
        return true;
    m_Socket->SetDontFragment((m_Scps->GetValue() & kDontFragment) != 0);
    m_Compressor.FreeBuffers();
    std::lock_guard lk(m_Mutex);
    // Blocks of an earlier acquisition are not resent under the new ids.
    while (!m_History.empty())
        releaseLocked(m_History.pop());
    m_BlockId16 = 0;
    m_BlockId64 = 0;
    m_Streaming.store(true);
    m_StreamingCv.notify_all();
    return true;
}

bool StreamProtocol::OnAcquisitionStop(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (value == kAllSources || m_Sources->ChannelOf(value) == m_Channel)
        stopStreaming();
    return true;
}

bool StreamProtocol::OnTimestampControl(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    // The channel serving the selected source acts; the write is refused when
    // no channel serves it.
    const uint32_t selected = m_Sources->Selected();
    if (selected != GetSource())
        return m_Sources->IsServed(selected);
    if ((value & 1) != 0 && m_TimestampMode.load() == TimestampMode::Counter)
        m_Origin.store(static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC)));
    if ((value & 2) != 0) {
        const uint64_t ts = GetTimestamp();
        m_TsHigh->SetValue(static_cast<uint32_t>(ts >> 32));
        m_TsLow->SetValue(static_cast<uint32_t>(ts));
    }
    return true;
}

}  // namespace Kivu
