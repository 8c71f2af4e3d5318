#pragma once
// A plain blocking POSIX TCP client for the simulator's tests.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace scanner_sim::test {

class TestClient {
public:
    // Connects to 127.0.0.1:port; isConnected() is false and error() holds errno on failure.
    explicit TestClient(uint16_t port);

    bool isConnected() const { return fd_.isValid(); }
    int error() const { return error_; }
    bool send(const std::string& bytes);
    // Reads until `count` bytes arrived or the time is up.
    std::string receive(size_t count, std::chrono::milliseconds timeout);
    // True when the peer closes (EOF or reset) within the time; bytes still arriving are dropped.
    bool waitForClose(std::chrono::milliseconds timeout);
    void close() { fd_.reset(); }

private:
    platform::UniqueFD fd_;
    int error_ = 0;
};

}  // namespace scanner_sim::test
