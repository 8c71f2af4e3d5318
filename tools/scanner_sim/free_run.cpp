#include "scanner_sim/free_run.h"

#include <algorithm>

namespace scanner_sim {
namespace {

constexpr std::chrono::microseconds kBatchSpan{1000};
constexpr int64_t kMaxCatchUpBatches = 4;  // a stream that falls further behind skips profiles

}  // namespace

FreeRunClock::FreeRunClock(Emit emit, std::chrono::microseconds minPeriod)
    : m_Emit(std::move(emit)), m_MinPeriod(std::max(minPeriod, std::chrono::microseconds(1))),
      m_Thread([this](std::stop_token stop) { run(stop); })
{
}

FreeRunClock::~FreeRunClock()
{
    m_Thread.request_stop();
    m_Thread.join();
}

void FreeRunClock::Start(std::chrono::microseconds period, std::optional<uint64_t> limit)
{
    std::lock_guard lock(m_Mutex);
    m_Active = limit.value_or(1) > 0;
    m_Period = std::max(period, m_MinPeriod);
    m_Remaining = limit;
    m_Next = Clock::now();
    ++m_Generation;
    ++m_Epoch;
    m_Changed.notify_all();
}

void FreeRunClock::Retime(std::chrono::microseconds period)
{
    std::lock_guard lock(m_Mutex);
    period = std::max(period, m_MinPeriod);
    if (!m_Active || period == m_Period)
        return;
    m_Period = period;
    ++m_Generation;
    m_Changed.notify_all();
}

void FreeRunClock::Halt()
{
    std::unique_lock lock(m_Mutex);
    m_Active = false;
    ++m_Generation;
    m_Changed.notify_all();
    m_Changed.wait(lock, [this] { return !m_Emitting; });
}

bool FreeRunClock::Active() const
{
    std::lock_guard lock(m_Mutex);
    return m_Active;
}

void FreeRunClock::run(const std::stop_token& stop)
{
    std::unique_lock lock(m_Mutex);
    while (!stop.stop_requested()) {
        if (!m_Changed.wait(lock, stop, [this] { return m_Active; }))
            return;
        const uint64_t generation = m_Generation;
        const uint64_t epoch = m_Epoch;
        const auto period = m_Period;
        const int64_t batch = std::max<int64_t>(1, kBatchSpan / period);
        const auto due = m_Next + period * (batch - 1);
        if (m_Changed.wait_until(lock, stop, due, [&] { return m_Generation != generation; }) || stop.stop_requested())
            continue;  // halted, restarted or retimed: look again
        const auto now = Clock::now();
        int64_t count = (now - m_Next) / period + 1;
        const int64_t cap = batch * kMaxCatchUpBatches;
        if (count > cap) {
            m_Next = now - period * (cap - 1);
            count = cap;
        }
        if (m_Remaining)
            count = std::min<int64_t>(count, static_cast<int64_t>(*m_Remaining));
        m_Emitting = true;
        lock.unlock();
        m_Emit(static_cast<int>(count));
        lock.lock();
        m_Emitting = false;
        m_Changed.notify_all();
        if (m_Epoch != epoch)
            continue;  // restarted while emitting: the new start stands
        m_Next += period * count;
        if (m_Remaining) {
            *m_Remaining -= static_cast<uint64_t>(count);
            if (*m_Remaining == 0)
                m_Active = false;
        }
    }
}

}  // namespace scanner_sim
