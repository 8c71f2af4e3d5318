#include "platform/worker_thread.h"

namespace platform {

bool WorkerThread::start(std::function<void(std::stop_token)> body)
{
    if (!stop())
        return false;
    wake_.clear();
    thread_ = std::jthread([this, body = std::move(body)](std::stop_token stop) {
        id_.store(std::this_thread::get_id());
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
    thread_.request_stop();
    wake_.signal();
    thread_.join();
    id_.store(std::thread::id{});
    return true;
}

}  // namespace platform
