#pragma once
// The program's life from the banner to the exit code, over the Bridge and the console.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scanner_api.h"

namespace lumabridge {

// The Bridge operations the program uses; BridgeOps forwards them to a Bridge.
class ProgramBridge {
public:
    virtual ~ProgramBridge() = default;

    virtual void ReadInterfaces() = 0;
    virtual const std::vector<std::string>& Interfaces() const = 0;
    virtual bool AllocateFrameBuffer() = 0;  // true on failure
    virtual void SetDebugFileName(const std::string& name) = 0;
    virtual void SetPointCloudOptions(uint32_t count, const std::string& name) = 0;
    virtual void SetProfileTimeout(uint32_t ms) = 0;
    virtual void EnableConsoleDebug() = 0;
    virtual void EnableAutoReconnect() = 0;
    virtual void DisableFirmwareCheck() = 0;
    virtual void EnableOrbalisMode() = 0;
    virtual void EnableHardwareLinearization() = 0;
    virtual bool IsExitRequested() const = 0;
    virtual bool IsScannerLost() const = 0;
    virtual bool Connect(const std::string& scannerIp, const std::string& userName, uint16_t port) = 0;
    virtual bool BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName) = 0;
    virtual void Shutdown() = 0;
};

template <class B>
class BridgeOps final : public ProgramBridge {
public:
    template <class... Args>
    explicit BridgeOps(Args&&... args) : m_Bridge(std::forward<Args>(args)...) {}

    void ReadInterfaces() override { m_Bridge.ReadInterfaces(); }
    const std::vector<std::string>& Interfaces() const override { return m_Bridge.Interfaces(); }
    bool AllocateFrameBuffer() override { return m_Bridge.AllocateFrameBuffer(); }
    void SetDebugFileName(const std::string& name) override { m_Bridge.SetDebugFileName(name); }
    void SetPointCloudOptions(uint32_t count, const std::string& name) override
    {
        m_Bridge.SetPointCloudOptions(count, name);
    }
    void SetProfileTimeout(uint32_t ms) override { m_Bridge.SetProfileTimeout(ms); }
    void EnableConsoleDebug() override { m_Bridge.EnableConsoleDebug(); }
    void EnableAutoReconnect() override { m_Bridge.EnableAutoReconnect(); }
    void DisableFirmwareCheck() override { m_Bridge.DisableFirmwareCheck(); }
    void EnableOrbalisMode() override { m_Bridge.EnableOrbalisMode(); }
    void EnableHardwareLinearization() override { m_Bridge.EnableHardwareLinearization(); }
    bool IsExitRequested() const override { return m_Bridge.IsExitRequested(); }
    bool IsScannerLost() const override { return m_Bridge.IsScannerLost(); }
    bool Connect(const std::string& scannerIp, const std::string& userName, uint16_t port) override
    {
        return m_Bridge.Connect(scannerIp, userName, port);
    }
    bool BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName) override
    {
        return m_Bridge.BuildDescription(serverIp, interfaceIndex, userName);
    }
    void Shutdown() override { m_Bridge.Shutdown(); }

private:
    B m_Bridge;
};

// What the program sees of its console and of time.
struct Console {
    std::ostream& out;                  // standard output
    std::ostream& err;                  // the message stream
    std::function<bool()> keyWaiting;   // a character (or end of file) can be read without waiting
    std::function<int()> readChar;      // one character; -1 at end of file
    std::function<bool()> stopRequested;
    Clock& clock;                       // the waits after a failure and between console polls
};

// Runs the program and gives its exit code. makeBridge is called once, after the banner;
// null means the camera could not be created.
int RunProgram(int argc, char* const argv[], Console& console,
               const std::function<std::unique_ptr<ProgramBridge>()>& makeBridge);

}  // namespace lumabridge
