#include "src/xml_exchange.h"

namespace quillan {

uint64_t XmlExchange::expect()
{
    std::lock_guard lock(m_Mutex);
    const uint64_t ticket = ++m_LastTicket;
    m_Pending.emplace(ticket, Pending{});
    return ticket;
}

std::optional<XmlExchange::Answer> XmlExchange::wait(uint64_t ticket, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_Mutex);
    auto entry = m_Pending.find(ticket);
    if (entry == m_Pending.end())
        return std::nullopt;
    m_Answered.wait_for(lock, timeout, [&] { return entry->second.done; });
    std::optional<Answer> result = std::move(entry->second.answer);
    m_Pending.erase(entry);
    writeOffLocked(ticket);
    return result;
}

void XmlExchange::answered(std::string text, bool parsed)
{
    std::lock_guard lock(m_Mutex);
    if (m_LastAnswered == m_LastTicket)
        return;
    const uint64_t ticket = ++m_LastAnswered;
    auto entry = m_Pending.find(ticket);
    if (entry == m_Pending.end())
        return;
    entry->second.done = true;
    entry->second.answer = Answer{std::move(text), parsed};
    m_Answered.notify_all();
}

void XmlExchange::dropPending()
{
    std::lock_guard lock(m_Mutex);
    writeOffLocked(m_LastTicket);
    for (auto& entry : m_Pending)
        entry.second.done = true;
    m_Answered.notify_all();
}

void XmlExchange::writeOffLocked(uint64_t ticket)
{
    if (m_LastAnswered < ticket)
        m_LastAnswered = ticket;
}

}  // namespace quillan
