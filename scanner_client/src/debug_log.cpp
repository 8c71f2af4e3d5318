#include "debug_log.h"

#include "platform/clock.h"
#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace quillan {
namespace {
std::atomic<bool> processDebugActive{false};
}

bool debugActive() { return processDebugActive.load(); }

void setDebugActive(bool active) { processDebugActive.store(active); }

std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
        out.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

std::string logPrefix(const void* owner)
{
    auto t = platform::localTimeNow();
    auto id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner));
    return format("[%u] %04u %02u %02u %02u %02u %02u %03u ", id, t.year, t.month, t.day, t.hour, t.minute, t.second,
                  t.millisecond);
}

bool DebugLog::openFile(const std::string& path)
{
    std::lock_guard lock(mutex_);
    out_.open(path, std::ios::out | std::ios::app | std::ios::binary);
    file_ = out_.is_open();
    return file_;
}

void DebugLog::closeFile()
{
    std::lock_guard lock(mutex_);
    file_ = false;
    if (out_.is_open()) {
        out_.flush();
        out_.close();
    }
}

void DebugLog::line(const void* owner, const std::string& text)
{
    if (!enabled())
        return;
    raw(logPrefix(owner) + text + "\n");
}

void DebugLog::raw(const std::string& text)
{
    if (terminal_)
        platform::debugOutput(text.c_str());
    if (file_) {
        std::lock_guard lock(mutex_);
        if (out_.is_open()) {
            out_ << text;
            out_.flush();
        }
    }
}

}  // namespace quillan
