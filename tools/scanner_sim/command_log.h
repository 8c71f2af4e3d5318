#pragma once
// The received-command log as a file another process can follow: one line per command,
//   <ms> <connection> <command>
// <ms> counts milliseconds on the steady clock from the log's creation, <connection> is the
// 0-based connection in accept order and <command> is describeCommand's text
// (text "SetAcquisitionStop\r" or binary 02 00 00 03 00 00 00 02). Each line is one write.
#include <chrono>
#include <string>

#include "scanner_sim/line_file.h"
#include "scanner_sim/scanner_sim.h"

namespace scanner_sim {

class CommandLog {
public:
    // Creates or truncates the file; throws std::runtime_error.
    explicit CommandLog(const std::string& path);

    void Write(const Command& command);

    static std::string FormatLine(std::chrono::milliseconds sinceStart, const Command& command);

private:
    LineFile m_File;
    std::chrono::steady_clock::time_point m_Start;
};

}  // namespace scanner_sim
