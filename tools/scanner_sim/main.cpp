// scanner_sim: plays the scanner on a TCP port until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

#include "tools/scanner_sim/command_text.h"
#include "tools/scanner_sim/scanner_sim.h"

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
    "  --help           this text\n"
    "Prints every received command on standard output.\n";

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
        else
            throw std::invalid_argument("unknown option \"" + arg + "\"");
    }
    return options;
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
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    options.onCommand = [](const scanner_sim::Command& command) {
        std::cout << "[" << command.connection << "] " << scanner_sim::describeCommand(command) << std::endl;
    };
    try {
        scanner_sim::ScannerSim sim(options);
        sim.start();
        std::cout << "scanner_sim: listening on " << options.bindAddress << ":" << sim.port() << std::endl;
        int signal = 0;
        sigwait(&signals, &signal);
        std::cout << "scanner_sim: stopping" << std::endl;
        sim.stop();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
