#pragma once
// Log lines of a connection: to the debug-output sink and/or the connection's debug file.
#include <atomic>
#include <fstream>
#include <mutex>
#include <string>

namespace quillan {

// Set at a Connect when the debug options file was found; gates the connection's (g) lines.
bool debugActive();
void setDebugActive(bool active);

// "[%u] %04u %02u %02u %02u %02u %02u %03u " with the owner's address and the local time.
std::string logPrefix(const void* owner);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

class DebugLog {
public:
    void enableTerminal() { m_Terminal = true; }
    // Opens the file for appending; false when it cannot be opened.
    bool openFile(const std::string& path);
    void closeFile();

    bool enabled() const { return m_Terminal || m_File; }
    // One line: prefix, text, "\n".
    void line(const void* owner, const std::string& text);
    // Text as it stands, without prefix.
    void raw(const std::string& text);

private:
    std::atomic<bool> m_Terminal{false};
    std::atomic<bool> m_File{false};
    std::mutex m_Mutex;
    std::ofstream m_Out;
};

}  // namespace quillan
