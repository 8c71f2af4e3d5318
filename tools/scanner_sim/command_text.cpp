#include "scanner_sim/command_text.h"

#include <cstdio>
#include <stdexcept>

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

std::string unescapeCommand(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            throw std::invalid_argument("a lone \\ at the end of \"" + std::string(text) + "\"");
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            const auto hex = [&](size_t at) -> int {
                if (at >= text.size())
                    return -1;
                const char c = text[at];
                if (c >= '0' && c <= '9')
                    return c - '0';
                if (c >= 'a' && c <= 'f')
                    return c - 'a' + 10;
                if (c >= 'A' && c <= 'F')
                    return c - 'A' + 10;
                return -1;
            };
            const int hi = hex(i + 1);
            const int lo = hex(i + 2);
            if (hi < 0 || lo < 0)
                throw std::invalid_argument("\\x needs two hex digits in \"" + std::string(text) + "\"");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            throw std::invalid_argument(std::string("unknown escape \\") + text[i] + " in \"" + std::string(text) + "\"");
        }
    }
    return out;
}

}  // namespace scanner_sim
