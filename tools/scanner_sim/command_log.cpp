#include "scanner_sim/command_log.h"

#include "scanner_sim/command_text.h"

namespace scanner_sim {

CommandLog::CommandLog(const std::string& path)
    : m_File(path, "log"), m_Start(std::chrono::steady_clock::now())
{
}

std::string CommandLog::FormatLine(std::chrono::milliseconds sinceStart, const Command& command)
{
    return std::to_string(sinceStart.count()) + " " + std::to_string(command.connection) + " " +
           describeCommand(command) + "\n";
}

void CommandLog::Write(const Command& command)
{
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_Start);
    m_File.Write(FormatLine(since, command));
}

}  // namespace scanner_sim
