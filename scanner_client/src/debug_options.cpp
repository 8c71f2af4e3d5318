#include "src/debug_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace quillan {

DebugOptions parseDebugOptions(std::istream& in)
{
    DebugOptions options;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        auto eq = line.find('=');
        std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        std::string value = eq == std::string::npos ? line : line.substr(eq + 1);
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        if (key == "savereceivedbinarydata" && !value.empty()) {
            // Megabytes as atoi reads them; computed wide so large values cap instead of overflowing.
            long long mb = std::strtoll(value.c_str(), nullptr, 10);
            long long bytes = mb <= 0 ? 0 : std::min<long long>(mb, kMaxCaptureBytes >> 20) << 20;
            options.captureBytes = static_cast<uint32_t>(bytes);
            options.captureValueText = value;
        } else if (line == "activatedebugfile") {
            options.debugFile = true;
        } else if (line == "activatedebugterminal") {
            options.debugTerminal = true;
        }
    }
    return options;
}

std::string debugFileName(const std::string& ip)
{
    std::string name = ip;
    std::replace(name.begin(), name.end(), '.', '_');
    return "QuillanDllOutputFile_" + name + ".txt";
}

}  // namespace quillan
