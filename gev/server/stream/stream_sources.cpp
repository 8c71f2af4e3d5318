#include "server/stream/stream_sources.h"

#include "model/four_bytes_register.h"

#include <algorithm>

namespace Kivu {

uint32_t RegisterValue32(Register& reg)
{
    if (auto* u = dynamic_cast<UIntReg*>(&reg))
        return u->GetValue();
    if (auto* i = dynamic_cast<IntReg*>(&reg))
        return static_cast<uint32_t>(i->GetValue());
    return 0;
}

bool SetRegisterValue32(Register& reg, uint32_t value)
{
    if (auto* u = dynamic_cast<UIntReg*>(&reg))
        return u->SetValue(value);
    if (auto* i = dynamic_cast<IntReg*>(&reg))
        return i->SetValue(static_cast<int32_t>(value));
    return false;
}

StreamSources::StreamSources(uint32_t channels)
{
    SetChannelCount(channels);
}

void StreamSources::SetSelector(std::shared_ptr<Register> selector)
{
    std::lock_guard lock(m_Mutex);
    m_Selector = std::move(selector);
}

uint32_t StreamSources::Selected() const
{
    std::shared_ptr<Register> selector;
    {
        std::lock_guard lock(m_Mutex);
        selector = m_Selector;
    }
    return selector ? RegisterValue32(*selector) : 0;
}

uint32_t StreamSources::ChannelOf(uint32_t source) const
{
    std::lock_guard lock(m_Mutex);
    const auto it = m_ChannelOf.find(source);
    return it == m_ChannelOf.end() ? source : it->second;
}

bool StreamSources::SetChannelOf(uint32_t source, uint32_t channel)
{
    std::lock_guard lock(m_Mutex);
    if (channel >= m_Current.size())
        return false;
    m_ChannelOf[source] = channel;
    return true;
}

void StreamSources::SetChannelCount(uint32_t channels)
{
    std::lock_guard lock(m_Mutex);
    m_Current.resize(channels);
    for (uint32_t c = 0; c < channels; ++c)
        m_Current[c] = c;
    std::erase_if(m_ChannelOf, [&](const auto& entry) { return entry.second >= channels; });
}

uint32_t StreamSources::CurrentSource(uint32_t channel) const
{
    std::lock_guard lock(m_Mutex);
    return channel < m_Current.size() ? m_Current[channel] : channel;
}

void StreamSources::SetCurrentSource(uint32_t channel, uint32_t source)
{
    std::function<void(uint32_t)> changed;
    {
        std::lock_guard lock(m_Mutex);
        if (channel >= m_Current.size() || m_Current[channel] == source)
            return;
        m_Current[channel] = source;
        changed = m_Changed;
    }
    if (changed)
        changed(channel);
}

void StreamSources::SetChangeHandler(std::function<void(uint32_t channel)> handler)
{
    std::lock_guard lock(m_Mutex);
    m_Changed = std::move(handler);
}

bool StreamSources::IsServed(uint32_t source) const
{
    std::lock_guard lock(m_Mutex);
    return std::find(m_Current.begin(), m_Current.end(), source) != m_Current.end();
}

}  // namespace Kivu
