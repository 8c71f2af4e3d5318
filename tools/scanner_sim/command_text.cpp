#include "tools/scanner_sim/command_text.h"

#include <cstdio>

namespace scanner_sim {

std::string describeCommand(const Command& command)
{
    std::string out;
    char hex[8];
    if (command.binary) {
        out = "binary";
        for (unsigned char c : command.bytes) {
            std::snprintf(hex, sizeof hex, " %02x", c);
            out += hex;
        }
        return out;
    }
    out = "text \"";
    for (unsigned char c : command.bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

}  // namespace scanner_sim
