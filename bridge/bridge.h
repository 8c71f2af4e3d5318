#pragma once
// The program's one application object: the camera, the scanner connection, the threads
// that join them, and the ordered shutdown.
#include <cstdint>
#include <string>
#include <vector>

#include "scanner_api.h"

class CGevCamera;

namespace lumabridge {

class Bridge {
public:
    // Takes ownership of camera (from createCamera()); scanner and clock outlive the Bridge.
    Bridge(ScannerApi& scanner, Clock& clock, CGevCamera* camera);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    void ReadInterfaces();
    const std::vector<std::string>& Interfaces() const;

    bool AllocateFrameBuffer();  // true on failure
    void SetDebugFileName(const std::string& name);
    void SetPointCloudOptions(uint32_t count, const std::string& name);
    void SetProfileTimeout(uint32_t ms);
    void EnableConsoleDebug();
    void EnableAutoReconnect();
    void DisableFirmwareCheck();
    void EnableOrbalisMode();
    void EnableHardwareLinearization();
    void RequestExit();
    bool IsExitRequested() const;
    // The scanner was lost without automatic reconnect: the program ends with a failure.
    bool IsScannerLost() const;

    bool Connect(const std::string& scannerIp, const std::string& userName, uint16_t port);
    bool BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName);
    void Shutdown();  // idempotent; copes with every partial state

private:
    // The application's state and threads (added by the implementation).
};

}  // namespace lumabridge
