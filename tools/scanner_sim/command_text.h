#pragma once
// Printable form of a received command: texts with control bytes escaped, packets in hex.
#include <string>

#include "tools/scanner_sim/scanner_sim.h"

namespace scanner_sim {

std::string describeCommand(const Command& command);

}  // namespace scanner_sim
