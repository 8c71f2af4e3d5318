#include "stop_flag.h"

#include <signal.h>

#include <atomic>

namespace lumabridge {

namespace {

std::atomic<bool> g_StopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

}  // namespace

void OnSignal(int)
{
    g_StopRequested.store(true);
}

bool IsStopRequested()
{
    return g_StopRequested.load();
}

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace lumabridge
