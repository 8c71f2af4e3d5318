#pragma once
// A thread with its own wake-up: stop() asks it to stop, signals the wake-up
// that its blocking waits poll, and joins it. The destructor stops it.
#include "platform/wake_up.h"

#include <atomic>
#include <functional>
#include <stop_token>
#include <thread>

namespace platform {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a running thread first, clears the wake-up and runs body on a new
    // thread; false (and nothing done) when called on the thread itself.
    // Throws std::system_error when no thread can be made.
    bool start(std::function<void(std::stop_token)> body);
    // Stops and joins the thread; false (and nothing done) when called on the thread itself.
    bool stop();

    // For the owner's thread: whether a thread was started and not yet stopped.
    bool running() const { return m_Thread.joinable(); }
    // True on the thread itself, from its first instruction on; safe from any thread.
    bool onThread() const { return m_Id.load() == std::this_thread::get_id(); }
    const WakeUp& wakeUp() const { return m_Wake; }

private:
    WakeUp m_Wake;
    std::atomic<std::thread::id> m_Id{};  // set by the thread itself before its body runs
    std::jthread m_Thread;
};

}  // namespace platform
