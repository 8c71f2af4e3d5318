#pragma once
// The bridge's console and debug log: messages on standard error, the few lines of standard
// output, and debug lines that go to the log file (-f) and, with -d, to the console. Every
// write is whole and flushed, from any thread.
#include <atomic>
#include <fstream>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

namespace lumabridge {

class BridgeConsole {
public:
    BridgeConsole();
    BridgeConsole(const BridgeConsole&) = delete;
    BridgeConsole& operator=(const BridgeConsole&) = delete;

    // Tests point the console at their own streams.
    void SetStreams(std::ostream& out, std::ostream& err);
    void EnableDebug() { m_Debug = true; }
    bool DebugEnabled() const { return m_Debug; }

    void Message(std::string_view text);  // standard error
    void Output(std::string_view text);   // standard output
    // Debug lines: the log file when open; with -d also standard error (Debug) or
    // standard output (DebugOutput).
    void Debug(std::string_view text) { Debug(text, text); }
    void DebugOutput(std::string_view text) { DebugOutput(text, text); }
    void DebugOutput(std::string_view logText, std::string_view consoleText);
    // A debug line whose words differ between the log file and the console; either may be empty.
    void Debug(std::string_view logText, std::string_view consoleText);

    // Opens the log file with its contents replaced and writes the header lines; a file that
    // opens in neither attempt is dropped silently.
    void OpenLog(const std::string& name);
    void CloseLog();
    bool LogOpen() const;

private:
    void toLog(std::string_view text);

    mutable std::mutex m_Mutex;
    std::ostream* m_Out;
    std::ostream* m_Err;
    std::ofstream m_Log;
    bool m_LogOpen = false;
    std::atomic<bool> m_Debug{false};
};

}  // namespace lumabridge
