#pragma once
// The program's command line: options in command-line order, then the bare word.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace lumabridge {

inline constexpr const char* kOptionString = "x:w:p:f:u:n:s:i:t:chrde";
inline constexpr const char* kHardwareLinearizationWord = "activatehardwarelinearization";

struct ProgramOptions {
    std::string scannerIp;              // -i
    std::string serverIp;               // -s
    std::string userName;               // -u
    std::string logFileName;            // -f
    std::string pointCloudFileName;     // -w
    uint16_t port = 32001;              // -x
    uint32_t scansToSave = 0;           // -p
    int interfaceIndex = -1;            // -n; -1: none chosen
    std::optional<uint32_t> profileTimeoutMs;  // -t
    bool autoReconnect = false;         // -r
    bool consoleDebug = false;          // -d
    bool firmwareCheck = true;          // -e clears it
    bool orbalisMode = false;           // -c
    bool hardwareLinearization = false; // the bare word after the options
};

enum class ParseOutcome {
    Run,     // options complete
    Help,    // -h met; later arguments not looked at
    Failed,  // a message is on err
};

// Parses argv with a fresh getopt state. interfaceCount bounds -n. The complaints of
// getopt and of the option checks go to err.
ParseOutcome ParseOptions(int argc, char* const argv[], size_t interfaceCount, ProgramOptions& options,
                          std::ostream& err);

}  // namespace lumabridge
