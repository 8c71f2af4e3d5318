#pragma once
// Small POSIX socket helpers of the simulator.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace scanner_sim {

// A listening TCP socket on address:port (SO_REUSEADDR, backlog 128); throws std::runtime_error.
platform::UniqueFD openListener(const std::string& address, uint16_t port);
uint16_t localPort(int fd);

struct WritePacing {
    size_t chunkSize = 0;  // 0 = as much as the socket takes
    std::chrono::microseconds pause{0};
};

// Writes all bytes to a non-blocking or blocking socket without SIGPIPE. Gives up (false) on an
// error, when `abort` becomes true, or after `stallLimit` without progress.
bool sendAll(int fd, std::string_view bytes, const WritePacing& pacing, const std::atomic<bool>& abort,
             std::chrono::milliseconds stallLimit = std::chrono::milliseconds(2000));

}  // namespace scanner_sim
