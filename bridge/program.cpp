#include "program.h"

#include <exception>
#include <ostream>

#include "help.h"
#include "options.h"

namespace lumabridge {

namespace {

constexpr uint32_t kFailureWaitMs = 3000;
constexpr uint32_t kOnlineFailureWaitMs = 6000;  // bringing the server online failed
constexpr uint32_t kKeyPollMs = 10;

// Runs Shutdown once on every way out.
class ShutdownAtExit {
public:
    ShutdownAtExit(ProgramBridge& bridge, std::ostream& err) : m_Bridge(bridge), m_Err(err) {}
    ~ShutdownAtExit()
    {
        try {
            m_Bridge.Shutdown();
        } catch (const std::exception& e) {
            m_Err << "Error: shutdown failed: " << e.what() << "\n";
        } catch (...) {
            m_Err << "Error: shutdown failed\n";
        }
    }
    ShutdownAtExit(const ShutdownAtExit&) = delete;
    ShutdownAtExit& operator=(const ShutdownAtExit&) = delete;

private:
    ProgramBridge& m_Bridge;
    std::ostream& m_Err;
};

int fail(Console& console, const char* message, uint32_t waitMs)
{
    console.err << message;
    console.clock.SleepMs(waitMs);
    return 1;
}

// The interrupt arrived while connecting or going online: end as from the key loop.
int stopped(Console& console)
{
    console.out << "--- stopping ---\n"
                << "--- exit ---\n";
    return 0;
}

void applyOptions(const ProgramOptions& options, ProgramBridge& bridge, std::ostream& out)
{
    if (options.autoReconnect)
        bridge.EnableAutoReconnect();
    if (options.consoleDebug)
        bridge.EnableConsoleDebug();
    if (!options.firmwareCheck)
        bridge.DisableFirmwareCheck();
    if (options.orbalisMode)
        bridge.EnableOrbalisMode();
    if (options.profileTimeoutMs)
        bridge.SetProfileTimeout(*options.profileTimeoutMs);
    if (!options.logFileName.empty())
        bridge.SetDebugFileName(options.logFileName);
    if (options.hardwareLinearization) {
        out << "activate hardware linearization\n";
        bridge.EnableHardwareLinearization();
    }
    bridge.SetPointCloudOptions(options.scansToSave, options.pointCloudFileName);
}

// Until Enter, the interrupt, or the Bridge asks to exit. End of file is not a character.
void keyLoop(ProgramBridge& bridge, Console& console)
{
    int last = 0;
    while (!bridge.IsExitRequested()) {
        if (console.keyWaiting()) {
            const int c = console.readChar();
            if (c != -1)
                last = c;
        }
        if (last == '\n')
            return;
        if (console.stopRequested()) {
            console.out << "--- stopping ---\n";
            return;
        }
        console.clock.SleepMs(kKeyPollMs);
    }
}

// One character, or end of file; the interrupt ends the wait too.
void waitForCharacter(Console& console)
{
    while (!console.stopRequested()) {
        if (console.keyWaiting()) {
            console.readChar();
            return;
        }
        console.clock.SleepMs(kKeyPollMs);
    }
}

void showHelp(ProgramBridge& bridge, Console& console)
{
    PrintHelp(console.err);
    PrintInterfaces(bridge.Interfaces(), console.err);
}

int run(int argc, char* const argv[], ProgramBridge& bridge, Console& console)
{
    bridge.ReadInterfaces();
    if (bridge.AllocateFrameBuffer())
        return fail(console, "Error: failed to allocate memory\n", kFailureWaitMs);

    if (argc <= 1) {
        showHelp(bridge, console);
        console.err << "press ENTER to exit.\n";
        waitForCharacter(console);
        return 1;
    }

    ProgramOptions options;
    switch (ParseOptions(argc, argv, bridge.Interfaces().size(), options, console.err)) {
    case ParseOutcome::Help:
        showHelp(bridge, console);
        waitForCharacter(console);
        return 0;
    case ParseOutcome::Failed:
        console.clock.SleepMs(kFailureWaitMs);
        return 1;
    case ParseOutcome::Run:
        break;
    }
    applyOptions(options, bridge, console.out);

    if (options.scannerIp.empty())
        return fail(console, "Error: scanner IP address is not valid\nCheck Help for more Info\n", kFailureWaitMs);

    const bool connected = bridge.Connect(options.scannerIp, options.userName, options.port);
    if (console.stopRequested())
        return stopped(console);
    if (!connected)
        return fail(console, "Error: failed to connect to scanner\n", kFailureWaitMs);

    if (!bridge.BuildDescription(options.serverIp, options.interfaceIndex, options.userName)) {
        if (console.stopRequested())
            return stopped(console);
        return fail(console, "Error: failed to bring the server online\n", kOnlineFailureWaitMs);
    }

    keyLoop(bridge, console);
    if (bridge.IsScannerLost()) {
        console.err << "Error: connection to scanner is lost\n";
        console.out << "--- exit ---\n";
        return 1;
    }
    console.out << "--- exit ---\n";
    return 0;
}

}  // namespace

int RunProgram(int argc, char* const argv[], Console& console,
               const std::function<std::unique_ptr<ProgramBridge>()>& makeBridge)
{
    console.out << "Version: 2.0.0"
                << "\n\n\n";
    std::unique_ptr<ProgramBridge> bridge;
    try {
        bridge = makeBridge();
    } catch (const std::exception& e) {
        console.err << "Error: " << e.what() << "\n";
    }
    if (!bridge)
        return fail(console, "Error: failed to create the camera\n", kFailureWaitMs);

    ShutdownAtExit shutdown(*bridge, console.err);
    try {
        return run(argc, argv, *bridge, console);
    } catch (const std::exception& e) {
        console.err << "Error: " << e.what() << "\n";
    } catch (...) {
        console.err << "Error: unexpected failure\n";
    }
    console.clock.SleepMs(kFailureWaitMs);
    return 1;
}

}  // namespace lumabridge
