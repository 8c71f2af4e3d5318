#pragma once
// Commands the client library handles itself; a scanner never receives them.
#include <string_view>

namespace scanner_sim {

bool isLibraryLocalCommand(std::string_view text);

}  // namespace scanner_sim
