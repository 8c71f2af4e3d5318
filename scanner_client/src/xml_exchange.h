#pragma once
// The scanner's XML answers (descriptor and settings sets) and the requests that wait for them.
// The scanner answers these requests in the order it receives them, so the n-th answer after
// a request was registered belongs to the n-th request still waiting. Thread-safe.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quillan {

class XmlExchange {
public:
    struct Answer {
        std::string text;
        bool parsed = false;  // the text parsed as a descriptor
    };

    // Before the request is sent: the ticket its answer is filed under. Register and send
    // under one lock, so that tickets follow the order of the requests on the wire.
    uint64_t expect();
    // Waits up to `timeout` for the ticket's answer; nothing when none came. A request without
    // an answer is written off: the next answer belongs to the next request.
    std::optional<Answer> wait(uint64_t ticket, std::chrono::milliseconds timeout);

    // Receive thread: an XML block arrived. An answer no request waits for is dropped.
    void answered(std::string text, bool parsed);
    // The connection was lost: no request sent on it will be answered.
    void dropPending();

private:
    struct Pending {
        bool done = false;  // answered, or the connection was lost
        std::optional<Answer> answer;
    };
    // Writes off every ticket up to `ticket`; the caller holds m_Mutex.
    void writeOffLocked(uint64_t ticket);

    std::mutex m_Mutex;
    std::condition_variable m_Answered;
    uint64_t m_LastTicket = 0;
    uint64_t m_LastAnswered = 0;  // tickets up to this one have their answer or were written off
    std::map<uint64_t, Pending> m_Pending;
};

}  // namespace quillan
