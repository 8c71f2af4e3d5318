// lumabridge: presents a laser line profile scanner as a GigE Vision device.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "bridge.h"
#include "gev_camera.h"
#include "platform/console.h"
#include "program.h"
#include "quillan_scanner_api.h"
#include "steady_clock.h"
#include "stop_flag.h"

int main(int argc, char** argv)
{
    using namespace lumabridge;
    InstallInterruptHandler();
    Bridge::SetStopCheck(IsStopRequested);  // the interrupt ends the Bridge's waits too
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::cerr << std::unitbuf;

    QuillanScannerApi scanner;
    SteadyClock clock;
    Console console{std::cout,
                    std::cerr,
                    [] { return platform::inputWaiting(STDIN_FILENO); },
                    [] { return platform::readByte(STDIN_FILENO); },
                    IsStopRequested,
                    clock};
    return RunProgram(argc, argv, console, [&]() -> std::unique_ptr<ProgramBridge> {
        CGevCamera* camera = createCamera();
        if (camera == nullptr)
            return nullptr;
        return std::make_unique<BridgeOps<Bridge>>(scanner, clock, camera);
    });
}
