#pragma once
// An append-only text file another process can follow: each Write is one write(2) of whole lines.
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace scanner_sim {

class LineFile {
public:
    // Creates or truncates the file; throws std::runtime_error naming `what`.
    LineFile(const std::string& path, const std::string& what);

    void Write(std::string_view lines);  // a full disk loses the lines, not the simulator

private:
    platform::UniqueFD m_File;
};

}  // namespace scanner_sim
