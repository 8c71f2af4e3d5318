#pragma once
// A scripted scanner for the bridge's unit tests: records every command, answers from scripts,
// and a manual clock whose sleeps advance time at once.
#include <algorithm>
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

    // Profiles that GetXZIExtended gives in order; with none left a read answers emptyResult.
    struct Profile {
        std::vector<double> x, z;
        std::vector<int> intensity;
        unsigned encoder = 0;
        std::map<std::string, std::string> status;  // the ReadData answers from this profile on
    };
    std::deque<Profile> profiles;
    int emptyResult = -1;
    std::atomic<int> fifoState{0};
    // Set before the code under test runs; called without the lock at every GetXZIExtended,
    // before it answers, with whether a profile is there (e.g. to let a clock pass the wait).
    std::function<void(bool hasProfile)> onRead;

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
    int GetXZIExtended(ScannerHandle, double* x, double* z, int* intensity, int* width, int maxPoints,
                       unsigned* encoder, unsigned char*, int, unsigned char*, int, int*) override {
        if (width) *width = 0;
        bool hasProfile = false;
        {
            std::lock_guard lock(m_Mutex);
            hasProfile = !profiles.empty();
        }
        if (onRead)
            onRead(hasProfile);
        std::lock_guard lock(m_Mutex);
        ++m_ProfileReads;
        m_Reader = std::this_thread::get_id();
        m_ReadsAfterDisconnect += disconnects > 0;
        if (!hasProfile || profiles.empty())  // as the hook was told, even if one came since
            return emptyResult;
        const Profile p = std::move(profiles.front());
        profiles.pop_front();
        const size_t n = std::min(p.x.size(), static_cast<size_t>(maxPoints));
        for (size_t i = 0; i < n; ++i) {
            x[i] = p.x[i];
            z[i] = i < p.z.size() ? p.z[i] : 0.0;
            intensity[i] = i < p.intensity.size() ? p.intensity[i] : 0;
        }
        if (encoder) *encoder = p.encoder;
        readData = p.status;
        m_LastProfileRead = m_ProfileReads;
        return static_cast<int>(n);
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
    int GetDllFiFoState(ScannerHandle) override { return fifoState; }
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
    void AddProfiles(std::vector<Profile> list) {
        std::lock_guard lock(m_Mutex);
        for (Profile& p : list)
            profiles.push_back(std::move(p));
    }
    // GetXZIExtended calls answered so far; and those made after a Disconnect.
    int ProfileReads() {
        std::lock_guard lock(m_Mutex);
        return m_ProfileReads;
    }
    // Every queued profile was given and the reader has come back for more.
    bool Drained() {
        std::lock_guard lock(m_Mutex);
        return profiles.empty() && m_ProfileReads > m_LastProfileRead;
    }
    std::thread::id Reader() {  // the thread that reads profiles
        std::lock_guard lock(m_Mutex);
        return m_Reader;
    }
    int ReadsAfterDisconnect() {
        std::lock_guard lock(m_Mutex);
        return m_ReadsAfterDisconnect;
    }

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
    int m_ProfileReads = 0;
    int m_ReadsAfterDisconnect = 0;
    int m_LastProfileRead = 0;
    std::thread::id m_Reader;
    int m_Token = 0;
};

// Sleeps advance the time at once, so fixed waits cost nothing in tests.
class ManualClock : public Clock {
public:
    uint32_t NowMs() override { return m_Now.load(); }
    void SleepMs(uint32_t ms) override
    {
        {
            std::lock_guard lock(m_SleepMutex);
            m_Sleeps[std::this_thread::get_id()].push_back(ms);
        }
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
    // The sleeps one thread asked for, in order.
    std::vector<uint32_t> SleepsOf(std::thread::id thread)
    {
        std::lock_guard lock(m_SleepMutex);
        return m_Sleeps[thread];
    }

private:
    std::atomic<uint32_t> m_Now{0};
    std::atomic<bool> m_Frozen{false};
    std::mutex m_SleepMutex;
    std::map<std::thread::id, std::vector<uint32_t>> m_Sleeps;
};

}  // namespace lumabridge::test
