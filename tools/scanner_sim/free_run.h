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

    // emit runs on the clock's thread, never while Halt() or the destructor are waiting for it.
    FreeRunClock(Emit emit, std::chrono::microseconds minPeriod);
    ~FreeRunClock();  // stops and joins
    FreeRunClock(const FreeRunClock&) = delete;
    FreeRunClock& operator=(const FreeRunClock&) = delete;

    // Starts (or restarts) the stream: profile k is due at start + k periods, and a batch goes out
    // when its last profile is due. With a limit, the stream halts itself after that many.
    void Start(std::chrono::microseconds period, std::optional<uint64_t> limit = std::nullopt);
    void Retime(std::chrono::microseconds period);  // keeps a running stream going at a new period
    // Stops the stream; when it returns, emit is not running and will not be called again.
    void Halt();
    bool Active() const;

private:
    using Clock = std::chrono::steady_clock;
    void run(const std::stop_token& stop);

    const Emit m_Emit;
    const std::chrono::microseconds m_MinPeriod;
    mutable std::mutex m_Mutex;
    std::condition_variable_any m_Changed;
    bool m_Active = false;
    bool m_Emitting = false;
    uint64_t m_Generation = 0;  // any change, to wake the thread
    uint64_t m_Epoch = 0;  // start() calls
    std::chrono::microseconds m_Period{1000};
    Clock::time_point m_Next{};
    std::optional<uint64_t> m_Remaining;
    std::jthread m_Thread;  // last: started after the state above exists
};

}  // namespace scanner_sim
