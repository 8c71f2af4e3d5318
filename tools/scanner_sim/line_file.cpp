#include "scanner_sim/line_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/system_error.h"

namespace scanner_sim {

LineFile::LineFile(const std::string& path, const std::string& what)
    : m_File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_APPEND, 0644))
{
    if (!m_File.isValid())
        throw std::runtime_error("scanner_sim: " + what + " " + path + ": " + platform::systemErrorText(errno));
}

void LineFile::Write(std::string_view lines)
{
    size_t done = 0;
    while (done < lines.size()) {
        const ssize_t n = ::write(m_File.get(), lines.data() + done, lines.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace scanner_sim
