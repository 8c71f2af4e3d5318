#pragma once

namespace platform {

// Sink for debugger-style output lines (written to standard error).
void debugOutput(const char* text);

}  // namespace platform
