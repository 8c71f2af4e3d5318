#pragma once
// The message channel's packets that wait for an acknowledge, and the one
// timer thread that sends them again until they are acknowledged or have gone
// out their number of times.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Kivu {

class ResendQueue {
public:
    using Clock = std::chrono::steady_clock;
    // Puts one datagram on the wire; called with the queue's lock held, so it must not call back.
    using Send = std::function<void(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes)>;

    explicit ResendQueue(Send send);
    ~ResendQueue();
    ResendQueue(const ResendQueue&) = delete;
    ResendQueue& operator=(const ResendQueue&) = delete;

    // Starts the timer thread; true when it runs.
    bool Start();
    // Joins the timer thread and drops every waiting packet: nothing is sent
    // once it returns.
    void Stop();

    // Sends bytes now and, while not acknowledged, again every period until
    // they went out transmissions times in all (at least once). A waiting
    // packet of the same request id is dropped. False when not started.
    bool Post(uint16_t requestId, uint32_t address, uint16_t port, std::vector<uint8_t> bytes,
              uint32_t transmissions, std::chrono::milliseconds period);
    // Sends bytes once, keeping nothing. False when not started.
    bool SendOnce(uint32_t address, uint16_t port, const std::vector<uint8_t>& bytes);
    // Ends the resends of requestId; false when none waited.
    bool Acknowledge(uint16_t requestId);
    size_t Waiting() const;

private:
    struct Packet {
        uint64_t serial = 0;
        uint32_t address = 0;
        uint16_t port = 0;
        uint32_t resendsLeft = 0;
        std::chrono::milliseconds period{0};
        std::vector<uint8_t> bytes;
    };
    struct Due {
        Clock::time_point at;
        uint16_t requestId;
        uint64_t serial;
        bool operator>(const Due& o) const { return at > o.at; }
    };

    void TimerLoop(std::stop_token stop);
    void expire(const Due& due);

    Send m_Send;
    mutable std::mutex m_Mutex;
    std::condition_variable_any m_Changed;
    std::unordered_map<uint16_t, Packet> m_Waiting;  // by request id
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_Due;  // entries of replaced packets are skipped
    uint64_t m_Serial = 0;
    bool m_Running = false;
    std::jthread m_Timer;
};

}  // namespace Kivu
