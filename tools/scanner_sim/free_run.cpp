#include "tools/scanner_sim/free_run.h"

#include <algorithm>

namespace scanner_sim {
namespace {

constexpr std::chrono::microseconds kBatchSpan{1000};
constexpr int64_t kMaxCatchUpBatches = 4;  // a stream that falls further behind skips profiles

}  // namespace

FreeRunClock::FreeRunClock(Emit emit, std::chrono::microseconds minPeriod)
    : emit_(std::move(emit)), minPeriod_(std::max(minPeriod, std::chrono::microseconds(1))),
      thread_([this](std::stop_token stop) { run(stop); })
{
}

FreeRunClock::~FreeRunClock()
{
    thread_.request_stop();
    thread_.join();
}

void FreeRunClock::start(std::chrono::microseconds period, std::optional<uint64_t> limit)
{
    std::lock_guard lock(mutex_);
    active_ = limit.value_or(1) > 0;
    period_ = std::max(period, minPeriod_);
    remaining_ = limit;
    next_ = Clock::now();
    ++generation_;
    ++epoch_;
    changed_.notify_all();
}

void FreeRunClock::retime(std::chrono::microseconds period)
{
    std::lock_guard lock(mutex_);
    period = std::max(period, minPeriod_);
    if (!active_ || period == period_)
        return;
    period_ = period;
    ++generation_;
    changed_.notify_all();
}

void FreeRunClock::halt()
{
    std::unique_lock lock(mutex_);
    active_ = false;
    ++generation_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !emitting_; });
}

bool FreeRunClock::active() const
{
    std::lock_guard lock(mutex_);
    return active_;
}

void FreeRunClock::run(const std::stop_token& stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!changed_.wait(lock, stop, [this] { return active_; }))
            return;
        const uint64_t generation = generation_;
        const uint64_t epoch = epoch_;
        const auto period = period_;
        const int64_t batch = std::max<int64_t>(1, kBatchSpan / period);
        const auto due = next_ + period * (batch - 1);
        if (changed_.wait_until(lock, stop, due, [&] { return generation_ != generation; }) || stop.stop_requested())
            continue;  // halted, restarted or retimed: look again
        const auto now = Clock::now();
        int64_t count = (now - next_) / period + 1;
        const int64_t cap = batch * kMaxCatchUpBatches;
        if (count > cap) {
            next_ = now - period * (cap - 1);
            count = cap;
        }
        if (remaining_)
            count = std::min<int64_t>(count, static_cast<int64_t>(*remaining_));
        emitting_ = true;
        lock.unlock();
        emit_(static_cast<int>(count));
        lock.lock();
        emitting_ = false;
        changed_.notify_all();
        if (epoch_ != epoch)
            continue;  // restarted while emitting: the new start stands
        next_ += period * count;
        if (remaining_) {
            *remaining_ -= static_cast<uint64_t>(count);
            if (*remaining_ == 0)
                active_ = false;
        }
    }
}

}  // namespace scanner_sim
