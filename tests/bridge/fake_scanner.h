#pragma once
// A scripted scanner for the bridge's unit tests: records every command, answers from scripts,
// and a manual clock whose sleeps advance time at once.
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scanner_api.h"

namespace lumabridge::test {

class FakeScanner : public ScannerApi {
public:
    // Scripts, set before the code under test runs (or under Lock()).
    std::function<int(int callIndex)> connectStatus = [](int) { return 3; };
    std::string descriptor;  // answer of GetInfo("xml"); empty: -1
    std::map<std::string, std::string> readData;  // ReadData answers by name; missing: -5
    bool connectFails = false;
    // Run with the fake's lock held: they may change the scripts above but not call the fake.
    std::function<void(const std::string& command)> onWrite;  // after a command is recorded
    std::function<void()> onGetInfo;  // before a descriptor is answered

    ScannerHandle Connect(const char* ip, const char* port, int timeoutMs) override {
        std::lock_guard lock(m_Mutex);
        connects.push_back({ip, port, timeoutMs});
        return connectFails ? nullptr : handle();
    }
    ScannerHandle Disconnect(ScannerHandle) override {
        std::lock_guard lock(m_Mutex);
        ++disconnects;
        return nullptr;
    }
    int GetConnectStatus(ScannerHandle, int* status) override {
        std::lock_guard lock(m_Mutex);
        *status = connectStatus(m_StatusCalls++);
        return 0;
    }
    int GetXZIExtended(ScannerHandle, double*, double*, int*, int* width, int, unsigned*, unsigned char*, int,
                       unsigned char*, int, int*) override {
        if (width) *width = 0;
        return -1;
    }
    int GetInfo(ScannerHandle, char* buf, int len, const char* kind) override {
        std::lock_guard lock(m_Mutex);
        infoKinds.push_back(kind);
        if (onGetInfo)
            onGetInfo();
        if (std::strcmp(kind, "xml") != 0 || descriptor.empty() || len <= 0) return -1;
        const size_t n = std::min(descriptor.size(), static_cast<size_t>(len - 1));
        std::memcpy(buf, descriptor.data(), n);
        buf[n] = '\0';
        return static_cast<int>(n);
    }
    int WriteData(ScannerHandle, const char* text, int len) override {
        std::lock_guard lock(m_Mutex);
        commands.emplace_back(text, static_cast<size_t>(len));
        if (onWrite)
            onWrite(commands.back());
        return len;
    }
    int ReadData(ScannerHandle, const char* name, char* buf, int len, int) override {
        std::lock_guard lock(m_Mutex);
        auto it = readData.find(name);
        if (it == readData.end() || len <= 0) return -5;
        const size_t n = std::min(it->second.size(), static_cast<size_t>(len - 1));
        std::memcpy(buf, it->second.data(), n);
        buf[n] = '\0';
        return 0;
    }
    int GetDllFiFoState(ScannerHandle) override { return 0; }
    int GetVersion(unsigned char* buf, int len) override {
        static const char version[] = "1.11.0";
        if (len < static_cast<int>(sizeof version)) return -1;
        std::memcpy(buf, version, sizeof version);
        return 0;
    }

    std::vector<std::string> Commands() {
        std::lock_guard lock(m_Mutex);
        return commands;
    }
    int Disconnects() {
        std::lock_guard lock(m_Mutex);
        return disconnects;
    }
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(m_Mutex); }

    struct ConnectCall {
        std::string ip, port;
        int timeoutMs;
    };
    std::vector<ConnectCall> connects;
    std::vector<std::string> commands;
    std::vector<std::string> infoKinds;
    int disconnects = 0;

private:
    ScannerHandle handle() { return reinterpret_cast<ScannerHandle>(&m_Token); }
    std::mutex m_Mutex;
    int m_StatusCalls = 0;
    int m_Token = 0;
};

// Sleeps advance the time at once, so fixed waits cost nothing in tests.
class ManualClock : public Clock {
public:
    uint32_t NowMs() override { return m_Now.load(); }
    void SleepMs(uint32_t ms) override
    {
        if (m_Frozen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        m_Now += ms;
        std::this_thread::yield();  // threads polling on this clock leave the others room
    }
    void Advance(uint32_t ms) { m_Now += ms; }
    // Time stands still: waits on this clock last until something else ends them.
    void Freeze() { m_Frozen = true; }

private:
    std::atomic<uint32_t> m_Now{0};
    std::atomic<bool> m_Frozen{false};
};

}  // namespace lumabridge::test
