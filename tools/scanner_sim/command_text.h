#pragma once
// Printable form of a received command: texts with control bytes escaped, packets in hex.
#include <string>
#include <string_view>

#include "scanner_sim/scanner_sim.h"

namespace scanner_sim {

std::string describeCommand(const Command& command);

// A command given as text with the escapes \r, \n, \t, \\ and \xNN, as on a command line.
// Throws std::invalid_argument for a bad escape.
std::string unescapeCommand(std::string_view text);

}  // namespace scanner_sim
