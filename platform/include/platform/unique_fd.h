#pragma once
#include <utility>

namespace platform {

// Owns a file descriptor and closes it once.
class UniqueFD {
public:
    UniqueFD() = default;
    explicit UniqueFD(int fd) : m_Fd(fd) {}
    UniqueFD(UniqueFD&& other) noexcept : m_Fd(other.release()) {}
    UniqueFD& operator=(UniqueFD&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFD(const UniqueFD&) = delete;
    UniqueFD& operator=(const UniqueFD&) = delete;
    ~UniqueFD() { reset(); }

    int get() const { return m_Fd; }
    bool isValid() const { return m_Fd >= 0; }
    int release() { return std::exchange(m_Fd, -1); }
    void reset(int fd = -1);

private:
    int m_Fd = -1;
};

}  // namespace platform
