// scanner_sim: plays the scanner on a TCP port until SIGINT or SIGTERM.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "scanner_sim/command_text.h"
#include "scanner_sim/scanner_sim.h"

namespace {

const char* const kUsage =
    "usage: scanner_sim [options]\n"
    "  --port N         TCP port to listen on (default 32001; 0 = any free port)\n"
    "  --bind ADDR      IPv4 address to bind (default 127.0.0.1)\n"
    "  --chunk N        write outbound frames in pieces of N bytes\n"
    "  --chunk-pause US pause between pieces in microseconds (default 500)\n"
    "  --lin MODE       when the LIN1DD frame goes out: start (after the start packet, default),\n"
    "                   accept (on accept) or never\n"
    "  --lin-delay MS   delay of the LIN1DD frame (default 0)\n"
    "  --idle MS        status-only container after MS without output (default 1000; 0 = silence)\n"
    "  --xml-delay MS   delay of descriptor answers (default 0)\n"
    "  --series NAME    KTRB (default) or KTRA\n"
    "  --sensor WxH     sensor columns x rows (default 2048x1088, KTRA 1280x1088)\n"
    "  --firmware TEXT  firmware version in the descriptor (default 1.2.0)\n"
    "  --serial N       serial number (descriptor and LIN1DD, default 12345678)\n"
    "  --user-string TEXT     user string after start and after SetResetSettings (default empty)\n"
    "  --mac TEXT       MAC text in the descriptor (default 00-1A-2B-3C-4D-5E)\n"
    "  --order-number TEXT    order number (default SERIES-COLUMNS, e.g. KTRB-2048)\n"
    "  --producer TEXT  producer (default Lumabridge)\n"
    "  --linetime US    default acquisitionlinetime, the profile period (default 1000)\n"
    "  --min-period US  floor of the profile period (default 100)\n"
    "  --counter-start N      picture counter of the first profile (default 0)\n"
    "  --timestamp-start N    time stamp of the first profile (default 0; e.g. 4294960000 to wrap)\n"
    "  --frame-start-burst 1  trigger source -1: amountprofilesy profiles per start\n"
    "  --swapped-strength 1   old firmware packing of strength and width (linearized layout)\n"
    "  --lin-cells N    LIN1DD table cells per axis (default 1; 8 for bisection)\n"
    "  --lin-bad-crc 1  LIN1DD frame with a wrong CRC\n"
    "  --lin-fault KIND LIN1DD X table with nx 0 (zero), nx 2^30 (huge), a NaN axis (nan) or a\n"
    "                   descending axis (descending)\n"
    "  --xml-before-lin 1     a descriptor container right before the LIN1DD frame\n"
    "  --legacy TYPE    legacy profile frames of type 2 or 3 instead of containers\n"
    "  --short-general 1      profile containers with a 44-byte general block\n"
    "Faults, by profile number from 0 (LIST = N[,N...]):\n"
    "  --flip LIST      one byte inverted (CRC error)\n"
    "  --gap LIST       picture counter skips --gap-size values (default 1) before these\n"
    "  --gap-size K\n"
    "  --repeat LIST    picture counter repeated\n"
    "  --zero-block LIST      a block length of 0\n"
    "  --no-end LIST    no end block\n"
    "  --bad-total LIST total length 4 more than the blocks\n"
    "  --unknown-tag LIST     an extra block with an unknown tag\n"
    "  --garbage LIST   garbage with a false 02 19 header and length 0xFFFFFF first\n"
    "  --close-mid LIST half of the container, then the connection closes\n"
    "  --start-mid 1    each connection's first profile without its first half\n"
    "  --split-blocks 1 profile containers written one block per write\n"
    "Connection faults, per connection from its accept:\n"
    "  --close-after MS the connection is closed MS after the accept\n"
    "  --silent-after MS      no answers and no idle traffic from MS after the accept\n"
    "  --close-on CMD   closed once command CMD was received and answered (escapes \\r \\n \\t \\\\ \\xNN,\n"
    "                   e.g. 'SetAcquisitionStart\\r')\n"
    "  --silent-on CMD  silent once command CMD was received and answered\n"
    "  --refuse-after-close MS  after a connection ends, connections are refused for MS\n"
    "  (never ready: --lin never sends no linearization data, so a client never becomes ready)\n"
    "  --log FILE       writes every received command to FILE, one line each, written whole\n"
    "                   when the command has been answered:\n"
    "                     <ms> <connection> text \"<bytes>\"   or   <ms> <connection> binary <hex> ...\n"
    "                   <ms>: milliseconds since the simulator started (steady clock); <connection>:\n"
    "                   0-based in accept order; in <bytes> \\r, \\\\, \\\" and \\xNN stand for CR, \\, \"\n"
    "                   and other control bytes, e.g.  1503 0 text \"SetHeartBeat=3000\\r\"\n"
    "  --profile-log FILE     writes every sent profile to FILE, one line each, as the simulator\n"
    "                   made it from its analytic model:\n"
    "                     profile <n> connection <c> counter <pc> timestamp <ts> encoder_htl <e>\n"
    "                     encoder_ttl <e> state <s> io <io> temperature <t> fault <name> points <k>\n"
    "                     <x> <z> <i> ...\n"
    "                   <n>: profile number from 0; points in the order sent (each column, then its\n"
    "                   echoes): millimetres (0 0 without a point) and the intensity; fault: none,\n"
    "                   flip, gap, repeat or another fault option's name\n"
    "  --help           this text\n"
    "Prints every received command on standard output as \"[<connection>] <command>\".\n"
    "Signals: SIGUSR1 closes the current connection, SIGUSR2 toggles silence, SIGHUP toggles\n"
    "refusing connections, SIGINT and SIGTERM stop.\n"
    "Standard input takes one command a line (end of input ends only this):\n"
    "  gap K            the next profile's picture counter skips K values (K >= 1)\n"
    "  repeat           the next profile repeats the picture counter before it\n"
    "  flip             the next profile has one byte inverted (CRC error)\n"
    "  close            closes the current connection\n"
    "  silent | answer  stops or resumes answers and idle traffic\n"
    "  refuse | listen  stops or resumes accepting connections\n"
    "  set PATH VALUE   sets a descriptor value (e.g. set device:general:temperatur 47)\n"
    "  count            answers \"sent N profiles\" (profiles written so far)\n"
    "Each command is acknowledged on standard output (\"scanner_sim: gap before profile 12\").\n";

long parseNumber(const std::string& option, const char* text, long min, long max)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max)
        throw std::invalid_argument(option + ": expected a number in " + std::to_string(min) + ".." +
                                    std::to_string(max) + ", got \"" + text + "\"");
    return value;
}

scanner_sim::Options::LinSend parseLinSend(const std::string& value)
{
    if (value == "start")
        return scanner_sim::Options::LinSend::AfterStartPacket;
    if (value == "accept")
        return scanner_sim::Options::LinSend::OnAccept;
    if (value == "never")
        return scanner_sim::Options::LinSend::Never;
    throw std::invalid_argument("--lin: expected start, accept or never, got \"" + value + "\"");
}

void parseSensor(const std::string& value, scanner_sim::LinGeometry& geometry)
{
    const size_t x = value.find('x');
    if (x == std::string::npos)
        throw std::invalid_argument("--sensor: expected WxH, got \"" + value + "\"");
    geometry.widthX = static_cast<int32_t>(parseNumber("--sensor", value.substr(0, x).c_str(), 1, 4096));
    geometry.widthZ = static_cast<int32_t>(parseNumber("--sensor", value.substr(x + 1).c_str(), 1, 4096));
}

scanner_sim::LinTableFault parseLinFault(const std::string& value)
{
    using scanner_sim::LinTableFault;
    if (value == "zero")
        return LinTableFault::ZeroCells;
    if (value == "huge")
        return LinTableFault::HugeCells;
    if (value == "nan")
        return LinTableFault::NanAxis;
    if (value == "descending")
        return LinTableFault::DescendingAxis;
    throw std::invalid_argument("--lin-fault: expected zero, huge, nan or descending, got \"" + value + "\"");
}

std::vector<uint64_t> parseList(const std::string& option, const std::string& text)
{
    std::vector<uint64_t> out;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        out.push_back(static_cast<uint64_t>(parseNumber(option, text.substr(at, comma - at).c_str(), 0, 2'000'000'000)));
        at = comma + 1;
    }
    return out;
}

scanner_sim::Options parseOptions(int argc, char** argv, bool& help)
{
    scanner_sim::Options options;
    bool sensorGiven = false;
    options.port = 32001;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return options;
        }
        if (!arg.starts_with("--"))
            throw std::invalid_argument("unexpected argument \"" + arg + "\"");
        if (i + 1 >= argc)
            throw std::invalid_argument(arg + ": value missing");
        const char* value = argv[++i];
        if (arg == "--port")
            options.port = static_cast<uint16_t>(parseNumber(arg, value, 0, 65535));
        else if (arg == "--bind")
            options.bindAddress = value;
        else if (arg == "--chunk")
            options.chunkSize = static_cast<size_t>(parseNumber(arg, value, 0, 1 << 24));
        else if (arg == "--chunk-pause")
            options.chunkPause = std::chrono::microseconds(parseNumber(arg, value, 0, 10'000'000));
        else if (arg == "--lin")
            options.linSend = parseLinSend(value);
        else if (arg == "--lin-delay")
            options.linDelayMs = static_cast<int>(parseNumber(arg, value, 0, 600'000));
        else if (arg == "--idle")
            options.idlePeriodMs = static_cast<int>(parseNumber(arg, value, 0, 600'000));
        else if (arg == "--xml-delay")
            options.xmlReplyDelayMs = static_cast<int>(parseNumber(arg, value, 0, 600'000));
        else if (arg == "--series") {
            if (std::string(value) != "KTRA" && std::string(value) != "KTRB")
                throw std::invalid_argument("--series: expected KTRA or KTRB");
            options.device.series = value;
            if (!sensorGiven)
                options.device.geometry.widthX = options.device.series == "KTRA" ? 1280 : 2048;
        } else if (arg == "--sensor") {
            parseSensor(value, options.device.geometry);
            sensorGiven = true;
        } else if (arg == "--firmware")
            options.device.firmware = value;
        else if (arg == "--serial") {
            const long serial = parseNumber(arg, value, 0, 2'147'483'647);
            options.device.serialNumber = value;
            options.device.geometry.serialNumber = static_cast<uint64_t>(serial);
        }
        else if (arg == "--user-string")
            options.device.userString = value;
        else if (arg == "--mac")
            options.device.mac = value;
        else if (arg == "--order-number")
            options.device.orderNumber = value;
        else if (arg == "--producer")
            options.device.producer = value;
        else if (arg == "--close-after")
            options.closeAfterMs = static_cast<int>(parseNumber(arg, value, 0, 86'400'000));
        else if (arg == "--silent-after")
            options.silentAfterMs = static_cast<int>(parseNumber(arg, value, 0, 86'400'000));
        else if (arg == "--close-on")
            options.closeOnCommand = scanner_sim::unescapeCommand(value);
        else if (arg == "--silent-on")
            options.silentOnCommand = scanner_sim::unescapeCommand(value);
        else if (arg == "--refuse-after-close")
            options.refuseAfterCloseMs = static_cast<int>(parseNumber(arg, value, 0, 86'400'000));
        else if (arg == "--log")
            options.logPath = value;
        else if (arg == "--profile-log")
            options.profileLogPath = value;
        else if (arg == "--linetime")
            options.device.lineTime = static_cast<int>(parseNumber(arg, value, 1, 16'777'215));
        else if (arg == "--min-period")
            options.minLinePeriod = std::chrono::microseconds(parseNumber(arg, value, 1, 1'000'000));
        else if (arg == "--counter-start")
            options.counterStart.pictureCounter = static_cast<uint16_t>(parseNumber(arg, value, 0, 65535));
        else if (arg == "--timestamp-start")
            options.counterStart.timeStamp = static_cast<uint32_t>(parseNumber(arg, value, 0, 4'294'967'295));
        else if (arg == "--frame-start-burst")
            options.frameStartBurst = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--swapped-strength")
            options.swappedStrengthWidth = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--lin-cells")
            options.device.geometry.cells = static_cast<int>(parseNumber(arg, value, 1, 64));
        else if (arg == "--lin-bad-crc")
            options.lin1ddBadCrc = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--lin-fault")
            options.lin1ddFault = parseLinFault(value);
        else if (arg == "--xml-before-lin")
            options.xmlBeforeLin1dd = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--legacy")
            options.legacyFrameType = static_cast<uint8_t>(parseNumber(arg, value, 2, 3));
        else if (arg == "--short-general")
            options.shortGeneralBlock = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--flip")
            options.streamFaults.flipByte = parseList(arg, value);
        else if (arg == "--gap")
            options.streamFaults.counterGap = parseList(arg, value);
        else if (arg == "--gap-size")
            options.streamFaults.gapSize = static_cast<uint16_t>(parseNumber(arg, value, 1, 65535));
        else if (arg == "--repeat")
            options.streamFaults.counterRepeat = parseList(arg, value);
        else if (arg == "--zero-block")
            options.streamFaults.zeroBlockLength = parseList(arg, value);
        else if (arg == "--no-end")
            options.streamFaults.missingEndBlock = parseList(arg, value);
        else if (arg == "--bad-total")
            options.streamFaults.lengthMismatch = parseList(arg, value);
        else if (arg == "--unknown-tag")
            options.streamFaults.unknownTag = parseList(arg, value);
        else if (arg == "--garbage")
            options.streamFaults.garbageBefore = parseList(arg, value);
        else if (arg == "--close-mid")
            options.streamFaults.closeMidFrame = parseList(arg, value);
        else if (arg == "--start-mid")
            options.streamFaults.startMidFrame = parseNumber(arg, value, 0, 1) != 0;
        else if (arg == "--split-blocks")
            options.streamFaults.splitAtBlocks = parseNumber(arg, value, 0, 1) != 0;
        else
            throw std::invalid_argument("unknown option \"" + arg + "\"");
    }
    return options;
}

// One standard-input command; the answer for standard output.
std::string control(scanner_sim::ScannerSim& sim, const std::string& line)
{
    using scanner_sim::NextProfileFault;
    std::istringstream in(line);
    std::string word;
    in >> word;
    const auto spoilt = [](const char* what, uint64_t index) {
        return std::string(what) + " profile " + std::to_string(index);
    };
    if (word == "gap") {
        std::string k;
        in >> k;
        const auto size = static_cast<uint16_t>(parseNumber("gap", k.c_str(), 1, 65535));
        return spoilt("gap before", sim.SpoilNextProfile(NextProfileFault::Gap, size));
    }
    if (word == "repeat")
        return spoilt("repeat at", sim.SpoilNextProfile(NextProfileFault::Repeat));
    if (word == "flip")
        return spoilt("flip in", sim.SpoilNextProfile(NextProfileFault::Flip));
    if (word == "close") {
        sim.CloseClient();
        return "connection closed";
    }
    if (word == "silent" || word == "answer") {
        sim.SetSilent(word == "silent");
        return word == "silent" ? "silent" : "answering";
    }
    if (word == "refuse" || word == "listen") {
        sim.SetRefusing(word == "refuse");
        return word == "refuse" ? "refusing" : "listening";
    }
    if (word == "count")
        return "sent " + std::to_string(sim.ProfilesSent()) + " profiles";
    if (word == "set") {
        std::string path;
        std::string value;
        in >> path;
        std::getline(in >> std::ws, value);
        if (path.empty())
            throw std::invalid_argument("set: PATH VALUE expected");
        sim.SetModelValue(path, value);
        return "set " + path + " = " + value;
    }
    throw std::invalid_argument("unknown command \"" + line + "\"");
}

// Reads standard-input commands until the end of input or the stop request.
void controlLoop(const std::stop_token& stop, scanner_sim::ScannerSim& sim)
{
    std::string pending;
    while (!stop.stop_requested()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        if (ready == 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos)
                continue;
            std::string answer;
            try {
                answer = "scanner_sim: " + control(sim, line) + "\n";
            } catch (const std::exception& e) {
                answer = std::string("scanner_sim: ") + e.what() + "\n";
            }
            std::cout << answer << std::flush;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    scanner_sim::Options options;
    try {
        bool help = false;
        options = parseOptions(argc, argv, help);
        if (help) {
            std::cout << kUsage;
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "scanner_sim: " << e.what() << "\n" << kUsage;
        return 2;
    }

    // Signals are taken synchronously by sigwait on the main thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    options.onCommand = [](const scanner_sim::Command& command) {
        std::cout << "[" << command.connection << "] " << scanner_sim::describeCommand(command) << std::endl;
    };
    try {
        scanner_sim::ScannerSim sim(options);
        sim.Start();
        std::cout << "scanner_sim: listening on " << options.bindAddress << ":" << sim.Port() << std::endl;
        std::jthread controller([&sim](std::stop_token stop) { controlLoop(stop, sim); });
        bool silent = false;
        bool refusing = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0 || signal == SIGINT || signal == SIGTERM)
                break;
            if (signal == SIGUSR1) {
                sim.CloseClient();
                std::cout << "scanner_sim: connection closed" << std::endl;
            } else if (signal == SIGUSR2) {
                silent = !silent;
                sim.SetSilent(silent);
                std::cout << "scanner_sim: " << (silent ? "silent" : "answering") << std::endl;
            } else if (signal == SIGHUP) {
                refusing = !refusing;
                sim.SetRefusing(refusing);
                std::cout << "scanner_sim: " << (refusing ? "refusing" : "listening") << std::endl;
            }
        }
        std::cout << "scanner_sim: stopping" << std::endl;
        controller.request_stop();
        controller.join();
        sim.Stop();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
