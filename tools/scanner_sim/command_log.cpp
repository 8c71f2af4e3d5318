#include "scanner_sim/command_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/system_error.h"
#include "scanner_sim/command_text.h"

namespace scanner_sim {

CommandLog::CommandLog(const std::string& path)
    : m_File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_APPEND, 0644)),
      m_Start(std::chrono::steady_clock::now())
{
    if (!m_File.isValid())
        throw std::runtime_error("scanner_sim: log " + path + ": " + platform::systemErrorText(errno));
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
    const std::string line = FormatLine(since, command);
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_File.get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a full disk loses the line, not the simulator
        done += static_cast<size_t>(n);
    }
}

}  // namespace scanner_sim
