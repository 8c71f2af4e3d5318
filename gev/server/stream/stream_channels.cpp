#include "server/stream/stream_channels.h"

#include "model/bootstrap_registers.h"
#include "model/register_map.h"

#include <stdexcept>

namespace Kivu {

namespace {

std::shared_ptr<UIntReg> must(const std::shared_ptr<RegTree>& tree, uint32_t address)
{
    auto r = std::dynamic_pointer_cast<UIntReg>(tree->Find(address));
    if (!r)
        throw std::runtime_error("Missing stream channel register\n");
    return r;
}

}  // namespace

StreamChannels::StreamChannels(std::shared_ptr<RegTree> tree) : m_Tree(std::move(tree))
{
    m_AcqStart = must(m_Tree, Manufacturer::kAcquisitionStart);
    m_AcqStop = must(m_Tree, Manufacturer::kAcquisitionStop);
    m_ChannelCount = must(m_Tree, Bootstrap::kNumberOfStreamChannels);
    RebuildChannelRegisters(1);
    m_Channels.push_back(std::make_unique<StreamProtocol>(m_Tree, 0, std::make_unique<StreamSocket>(), m_Sources));
}

StreamChannels::~StreamChannels()
{
    detach();
    StopAll();
    m_Channels.clear();
}

void StreamChannels::detach()
{
    if (m_Features.start)
        m_Features.start->RemoveCallbacks(CallbackList::AfterWrite,
                                          MakeCallback(this, &StreamChannels::OnAcquisitionStartCommand));
    if (m_Features.stop)
        m_Features.stop->RemoveCallbacks(CallbackList::AfterWrite,
                                         MakeCallback(this, &StreamChannels::OnAcquisitionStopCommand));
    hookSourceChannel<UIntReg>(m_Features.sourceStreamChannel.get(), false);
    hookSourceChannel<IntReg>(m_Features.sourceStreamChannel.get(), false);
    m_Sources->SetSelector(nullptr);
    m_Features = {};
}

template <class R>
void StreamChannels::hookSourceChannel(Register* reg, bool subscribe)
{
    auto* r = dynamic_cast<R*>(reg);
    if (r == nullptr)
        return;
    const auto write = MakeCallback(this, &StreamChannels::onSourceChannelWrite<R>);
    const auto read = MakeCallback(this, &StreamChannels::onSourceChannelRead<R>);
    if (subscribe) {
        r->Subscribe(CallbackList::BeforeWrite, write);
        r->Subscribe(CallbackList::BeforeRead, read);
    } else {
        r->RemoveCallbacks(CallbackList::BeforeWrite, write);
        r->RemoveCallbacks(CallbackList::BeforeRead, read);
    }
}

template <class R>
bool StreamChannels::onSourceChannelWrite(R* reg)
{
    return m_Sources->SetChannelOf(m_Sources->Selected(), static_cast<uint32_t>(reg->GetValue()));
}

template <class R>
bool StreamChannels::onSourceChannelRead(R* reg)
{
    reg->SetValue(static_cast<typename R::Value>(m_Sources->ChannelOf(m_Sources->Selected())));
    return true;
}

void StreamChannels::AttachAcquisitionRegisters(const AcquisitionRegisters& regs)
{
    detach();
    m_Features = regs;
    if (regs.start)
        regs.start->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamChannels::OnAcquisitionStartCommand));
    if (regs.stop)
        regs.stop->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamChannels::OnAcquisitionStopCommand));
    if (regs.isMultistreaming)
        SetRegisterValue32(*regs.isMultistreaming, Count() >= 2 ? 1 : 0);
    m_Sources->SetSelector(regs.sourceSelector);
    hookSourceChannel<UIntReg>(regs.sourceStreamChannel.get(), true);
    hookSourceChannel<IntReg>(regs.sourceStreamChannel.get(), true);
}

void StreamChannels::Setup(uint32_t mtu)
{
    const uint32_t size = mtu > 0xFFFF ? 0xFFFF : mtu;
    for (uint32_t n = 0; n < Count(); ++n) {
        auto scps = std::dynamic_pointer_cast<UIntReg>(
            m_Tree->Find(Bootstrap::StreamChannel(Bootstrap::kStreamChannelPacketSize0, n)));
        if (scps)
            scps->SetValue((scps->GetValue() & 0xE0000000) | size);
    }
}

bool StreamChannels::StartAll(uint32_t gevMode)
{
    m_Running.store(true);
    for (auto& c : m_Channels) {
        if (!c->Start(gevMode)) {
            StopAll();
            return false;
        }
    }
    return true;
}

void StreamChannels::StopAll()
{
    if (!m_Running.load())
        return;
    // Wake every producer and stream thread first, then join them in order.
    for (auto& c : m_Channels)
        c->RequestStop();
    for (auto& c : m_Channels)
        c->Stop();
    m_Running.store(false);
}

uint32_t StreamChannels::SetCount(uint32_t n)
{
    if (m_Running.load())
        return GevResult::Running;
    if (n == 0 || n > kMaxStreamChannels)
        return GevResult::InvalidArgument;
    m_Channels.clear();
    RebuildChannelRegisters(n);
    if (m_Features.isMultistreaming)
        SetRegisterValue32(*m_Features.isMultistreaming, n >= 2 ? 1 : 0);
    m_Sources->SetChannelCount(n);
    for (uint32_t i = 0; i < n; ++i)
        m_Channels.push_back(std::make_unique<StreamProtocol>(m_Tree, i, std::make_unique<StreamSocket>(), m_Sources));
    return GevResult::Ok;
}

void StreamChannels::RebuildChannelRegisters(uint32_t n)
{
    const uint32_t c = m_ChannelCount->GetValue();
    for (uint32_t k = n; k < c; ++k) {
        using namespace Bootstrap;
        for (uint32_t address : {kStreamChannelPort0, kStreamChannelPacketSize0, kStreamChannelPacketDelay0,
                                 kStreamChannelDestinationAddress0, kStreamChannelSourcePort0})
            m_Tree->RemoveRegister(StreamChannel(address, k));
    }
    for (uint32_t k = c; k < n; ++k)
        AddStreamChannelBlock(*m_Tree, k);
    m_ChannelCount->SetValue(n);
}

bool StreamChannels::command(const std::shared_ptr<UIntReg>& target)
{
    if (m_Reentry.fetch_add(1) == 0) {
        const uint32_t source = Count() > 1 ? m_Sources->Selected() : 0;
        target->SetValue(source);
    }
    m_Reentry.fetch_sub(1);
    return true;
}

bool StreamChannels::OnAcquisitionStartCommand(UIntReg*)
{
    return command(m_AcqStart);
}

bool StreamChannels::OnAcquisitionStopCommand(UIntReg*)
{
    return command(m_AcqStop);
}

}  // namespace Kivu
