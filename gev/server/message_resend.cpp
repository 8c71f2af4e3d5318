#include "server/message_resend.h"

#include <algorithm>
#include <utility>

namespace Kivu {

ResendQueue::ResendQueue(Send send) : m_Send(std::move(send)) {}

ResendQueue::~ResendQueue()
{
    Stop();
}

bool ResendQueue::Start()
{
    std::lock_guard lock(m_Mutex);
    if (m_Running)
        return true;
    m_Timer = std::jthread([this](std::stop_token stop) { TimerLoop(stop); });
    m_Running = true;
    return true;
}

void ResendQueue::Stop()
{
    std::jthread timer;
    {
        std::lock_guard lock(m_Mutex);
        m_Running = false;
        timer = std::move(m_Timer);
    }
    if (timer.joinable()) {
        timer.request_stop();  // wakes the wait through its stop token
        timer.join();
    }
    std::lock_guard lock(m_Mutex);
    m_Waiting.clear();
    m_Due = {};
}

bool ResendQueue::Post(uint16_t requestId, uint32_t address, uint16_t port, std::vector<uint8_t> bytes,
                       uint32_t transmissions, std::chrono::milliseconds period)
{
    std::lock_guard lock(m_Mutex);
    if (!m_Running)
        return false;
    const std::chrono::milliseconds every = std::max(period, std::chrono::milliseconds(1));
    Packet& p = m_Waiting[requestId];  // replaces an older packet of the id, whose timer entry goes stale
    p = Packet{++m_Serial, address, port, transmissions > 1 ? transmissions - 1 : 0, every, std::move(bytes)};
    m_Send(p.address, p.port, p.bytes);
    // The last timer tick after the last transmission frees the packet, so an
    // acknowledge of the last one still finds it.
    m_Due.push(Due{Clock::now() + every, requestId, p.serial});
    m_Changed.notify_all();
    return true;
}

bool ResendQueue::SendOnce(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(m_Mutex);
    if (!m_Running)
        return false;
    m_Send(address, port, bytes);
    return true;
}

bool ResendQueue::Acknowledge(uint16_t requestId)
{
    std::lock_guard lock(m_Mutex);
    return m_Waiting.erase(requestId) != 0;
}

size_t ResendQueue::Waiting() const
{
    std::lock_guard lock(m_Mutex);
    return m_Waiting.size();
}

void ResendQueue::expire(const Due& due)
{
    auto it = m_Waiting.find(due.requestId);
    if (it == m_Waiting.end() || it->second.serial != due.serial)
        return;  // acknowledged or replaced
    Packet& p = it->second;
    if (p.resendsLeft == 0) {
        m_Waiting.erase(it);
        return;
    }
    --p.resendsLeft;
    m_Send(p.address, p.port, p.bytes);
    m_Due.push(Due{due.at + p.period, due.requestId, due.serial});
}

void ResendQueue::TimerLoop(std::stop_token stop)
{
    std::unique_lock lock(m_Mutex);
    while (!stop.stop_requested()) {
        if (m_Due.empty()) {
            m_Changed.wait(lock, stop, [&] { return !m_Due.empty(); });
            continue;
        }
        const Clock::time_point next = m_Due.top().at;
        if (Clock::now() < next) {
            // Wakes for an earlier entry, the due time or a stop.
            m_Changed.wait_until(lock, stop, next, [&] { return !m_Due.empty() && m_Due.top().at < next; });
            continue;
        }
        const Due due = m_Due.top();
        m_Due.pop();
        expire(due);
    }
}

}  // namespace Kivu
