#include "src/debug_log.h"

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
    std::lock_guard lock(m_Mutex);
    m_Out.open(path, std::ios::out | std::ios::app | std::ios::binary);
    m_File = m_Out.is_open();
    return m_File;
}

void DebugLog::closeFile()
{
    std::lock_guard lock(m_Mutex);
    m_File = false;
    if (m_Out.is_open()) {
        m_Out.flush();
        m_Out.close();
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
    if (m_Terminal)
        platform::debugOutput(text.c_str());
    if (m_File) {
        std::lock_guard lock(m_Mutex);
        if (m_Out.is_open()) {
            m_Out << text;
            m_Out.flush();
        }
    }
}

}  // namespace quillan
