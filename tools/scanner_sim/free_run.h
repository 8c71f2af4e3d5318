#pragma once
// The free-run clock of the profile stream: a thread that asks for the profiles that are due, one
// per period, gathered into batches of about 1 ms when the period is shorter.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace scanner_sim {

class FreeRunClock {
public:
    using Emit = std::function<void(int count)>;

    // emit runs on the clock's thread, never while halt() or the destructor are waiting for it.
    FreeRunClock(Emit emit, std::chrono::microseconds minPeriod);
    ~FreeRunClock();  // stops and joins
    FreeRunClock(const FreeRunClock&) = delete;
    FreeRunClock& operator=(const FreeRunClock&) = delete;

    // Starts (or restarts) the stream: profile k is due at start + k periods, and a batch goes out
    // when its last profile is due. With a limit, the stream halts itself after that many.
    void start(std::chrono::microseconds period, std::optional<uint64_t> limit = std::nullopt);
    void retime(std::chrono::microseconds period);  // keeps a running stream going at a new period
    // Stops the stream; when it returns, emit is not running and will not be called again.
    void halt();
    bool active() const;

private:
    using Clock = std::chrono::steady_clock;
    void run(const std::stop_token& stop);

    const Emit emit_;
    const std::chrono::microseconds minPeriod_;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    bool active_ = false;
    bool emitting_ = false;
    uint64_t generation_ = 0;  // any change, to wake the thread
    uint64_t epoch_ = 0;  // start() calls
    std::chrono::microseconds period_{1000};
    Clock::time_point next_{};
    std::optional<uint64_t> remaining_;
    std::jthread thread_;  // last: started after the state above exists
};

}  // namespace scanner_sim
