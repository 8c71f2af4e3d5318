#pragma once
#include <utility>

namespace platform {

// Owns a file descriptor and closes it once.
class UniqueFD {
public:
    UniqueFD() = default;
    explicit UniqueFD(int fd) : fd_(fd) {}
    UniqueFD(UniqueFD&& other) noexcept : fd_(other.release()) {}
    UniqueFD& operator=(UniqueFD&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFD(const UniqueFD&) = delete;
    UniqueFD& operator=(const UniqueFD&) = delete;
    ~UniqueFD() { reset(); }

    int get() const { return fd_; }
    bool isValid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

}  // namespace platform
