#include "platform/worker_thread.h"

namespace platform {

bool WorkerThread::start(std::function<void(std::stop_token)> body)
{
    if (!stop())
        return false;
    m_Wake.clear();
    m_Thread = std::jthread([this, body = std::move(body)](std::stop_token stop) {
        m_Id.store(std::this_thread::get_id());
        body(std::move(stop));
    });
    return true;
}

bool WorkerThread::stop()
{
    if (onThread())
        return false;
    if (!running())
        return true;
    m_Thread.request_stop();
    m_Wake.signal();
    m_Thread.join();
    m_Id.store(std::thread::id{});
    return true;
}

}  // namespace platform
