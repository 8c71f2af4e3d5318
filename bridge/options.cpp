#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "getopt.h"

namespace lumabridge {

namespace {

// A whole decimal number, optionally negative; nothing else.
std::optional<long> wholeNumber(const char* text)
{
    if (text[0] == '\0' || (text[0] != '-' && !std::isdigit(static_cast<unsigned char>(text[0]))))
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return std::nullopt;
    return value;
}

bool parsePort(const char* text, ProgramOptions& options, std::ostream& err)
{
    const auto value = wholeNumber(text);
    if (!value || *value < 1 || *value > 65535) {
        err << "Error: invalid scanner port \"" << text << "\" (expected 1 to 65535)\n";
        return false;
    }
    options.port = static_cast<uint16_t>(*value);
    return true;
}

bool parseInterfaceIndex(const char* text, size_t interfaceCount, ProgramOptions& options, std::ostream& err)
{
    const auto value = wholeNumber(text);
    if (!value || *value < -1 || (*value >= 0 && static_cast<unsigned long>(*value) >= interfaceCount)) {
        err << "Error: invalid interface index \"" << text << "\" (expected -1 for none";
        if (interfaceCount > 0)
            err << ", or 0 to " << interfaceCount - 1 << " from the list of interfaces";
        err << ")\n";
        return false;
    }
    options.interfaceIndex = static_cast<int>(*value);
    return true;
}

void reportBadOption(std::ostream& err)
{
    char line[64];
    if (optopt == 'i' || optopt == 's')
        std::snprintf(line, sizeof line, "Option -%c requires an argument.\n", optopt);
    else if (std::isprint(optopt))
        std::snprintf(line, sizeof line, "Unknown option `-%c'.\n", optopt);
    else
        std::snprintf(line, sizeof line, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(optopt));
    err << line;
}

}  // namespace

ParseOutcome ParseOptions(int argc, char* const argv[], size_t interfaceCount, ProgramOptions& options,
                          std::ostream& err)
{
    ResetGetopt();
    for (int c; (c = getopt(argc, argv, kOptionString, err)) != -1;) {
        switch (c) {
        case 'i': options.scannerIp = optarg; break;
        case 'x':
            if (!parsePort(optarg, options, err))
                return ParseOutcome::Failed;
            break;
        case 's': options.serverIp = optarg; break;
        case 'n':
            if (!parseInterfaceIndex(optarg, interfaceCount, options, err))
                return ParseOutcome::Failed;
            break;
        case 'u': options.userName = optarg; break;
        case 'f': options.logFileName = optarg; break;
        case 'p': options.scansToSave = static_cast<uint32_t>(std::atoi(optarg)); break;
        case 'w': options.pointCloudFileName = optarg; break;
        case 't': options.profileTimeoutMs = static_cast<uint32_t>(std::atoi(optarg)); break;
        case 'r': options.autoReconnect = true; break;
        case 'd': options.consoleDebug = true; break;
        case 'e': options.firmwareCheck = false; break;
        case 'c': options.orbalisMode = true; break;
        case 'h': return ParseOutcome::Help;
        default:
            reportBadOption(err);
            return ParseOutcome::Failed;
        }
    }
    for (int i = optind; i < argc; ++i) {
        if (std::strcmp(argv[i], kHardwareLinearizationWord) == 0)
            options.hardwareLinearization = true;
    }
    return ParseOutcome::Run;
}

}  // namespace lumabridge
