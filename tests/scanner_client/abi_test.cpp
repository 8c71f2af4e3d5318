// The library as a host program sees it: only quillan.h, linked against libquillan.so,
// talking to the scanner simulator.
#include "quillan.h"
#include "scanner_sim/scanner_sim.h"

#include "eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using scanner_sim::ScannerSim;

namespace {

const std::string kHello = std::string("SetHostLibraryVersion=1.11.0   x64\r") +
                           std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8);

scanner_sim::Options quietOptions()
{
    scanner_sim::Options options;
    return options;
}

class Abi : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Start();
        sim.SetSilent(true);
        port = std::to_string(sim.Port());
    }

    QuillanHandle connect(int timeoutMs = 0)
    {
        return Quillan_Connect(const_cast<char*>("127.0.0.1"), port.data(), timeoutMs);
    }

    int write(QuillanHandle h, const std::string& text)
    {
        return Quillan_WriteData(h, const_cast<char*>(text.c_str()), static_cast<int>(text.size()));
    }

    bool helloOn(int connection)
    {
        return eventually([&] { return sim.ReceivedBytes(connection) == kHello; }, 3000ms);
    }

    ScannerSim sim{quietOptions()};
    std::string port;
};

TEST_F(Abi, SendsHelloOnEveryConnectionAndReconnects)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0)) << sim.ReceivedBytes(0).size();

    int status = -1;
    EXPECT_EQ(Quillan_GetConnectStatus(h, &status), 0);
    EXPECT_EQ(status, 0);  // connected, but no linearization data yet

    sim.CloseClient();
    ASSERT_TRUE(sim.WaitForAccepts(2, 3000ms));
    EXPECT_TRUE(helloOn(1));

    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_TRUE(sim.WaitForClientClosed(2000ms));
}

TEST_F(Abi, ClosedHandleGetsMinusThousandEverywhere)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_EQ(Quillan_Disconnect(h), h);
    EXPECT_EQ(Quillan_Disconnect(nullptr), nullptr);

    char buf[64];
    double d = 0;
    int i = 0;
    unsigned u = 0;
    int status = 7;
    EXPECT_EQ(Quillan_GetConnectStatus(h, &status), -1000);
    EXPECT_EQ(status, 0);
    status = 7;
    EXPECT_EQ(Quillan_GetConnectStatus(nullptr, &status), -1000);
    EXPECT_EQ(status, 7);  // a null handle leaves the status alone

    const std::vector<std::pair<const char*, std::function<int(QuillanHandle)>>> calls = {
        {"GetRawData", [&](QuillanHandle x) { return Quillan_GetRawData(x, reinterpret_cast<unsigned char*>(buf), 64, 0); }},
        {"GetXZIExtended", [&](QuillanHandle x) {
             return Quillan_GetXZIExtended(x, &d, &d, &i, &i, 1, &u, nullptr, 0, nullptr, 0, &i);
         }},
        {"GetInfo", [&](QuillanHandle x) { return Quillan_GetInfo(x, buf, 64, const_cast<char*>("xml")); }},
        {"WriteData", [&](QuillanHandle x) { return write(x, "SetExposureTime=100\r"); }},
        {"Linearize", [&](QuillanHandle x) { return Quillan_Linearize(x, 1, 1, &d, &d); }},
        {"SetLinearizationFile", [&](QuillanHandle x) { return Quillan_SetLinearizationFile(x, const_cast<char*>("/nonexistent")); }},
        {"ResetDllFiFo", [&](QuillanHandle x) { return Quillan_ResetDllFiFo(x); }},
        {"GetDllFiFoState", [&](QuillanHandle x) { return Quillan_GetDllFiFoState(x); }},
        {"GetLinDatType", [&](QuillanHandle x) { return Quillan_GetLinDatType(x, buf, 64); }},
        {"ReadData", [&](QuillanHandle x) { return Quillan_ReadData(x, const_cast<char*>("ScannerState"), buf, 64, -1); }},
        {"GetImage", [&](QuillanHandle x) { return Quillan_GetImage(x, buf, 64, &u, &u, &u, &u, &u, &u, 0); }},
    };
    QuillanHandle unknown = reinterpret_cast<QuillanHandle>(uintptr_t{0x12345678});
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(call(h), -1000) << name;
        EXPECT_EQ(call(nullptr), -1000) << name;
        EXPECT_EQ(call(unknown), -1000) << name;
    }
}

TEST_F(Abi, SlotsAreReusedButHandlesAreNot)
{
    ASSERT_EQ(write(nullptr, "SetDllFiFoSize=4198400\r"), 23);
    std::vector<QuillanHandle> handles;
    for (int n = 0; n < 100; ++n) {
        handles.push_back(connect());
        ASSERT_NE(handles.back(), nullptr) << n;
    }
    EXPECT_EQ(connect(), nullptr);

    QuillanHandle closed = handles[50];
    EXPECT_EQ(Quillan_Disconnect(closed), nullptr);
    QuillanHandle again = connect();
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, closed);
    int status = -1;
    EXPECT_EQ(Quillan_GetConnectStatus(closed, &status), -1000);
    EXPECT_EQ(Quillan_GetConnectStatus(again, &status), 0);
    EXPECT_EQ(connect(), nullptr);
    handles[50] = again;

    for (auto h : handles)
        EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    // Every slot is free again.
    QuillanHandle last = connect();
    EXPECT_NE(last, nullptr);
    Quillan_Disconnect(last);
    ASSERT_EQ(write(nullptr, "SetDllFiFoSize=41984000"), 23);
}

TEST_F(Abi, RefusedScannerNeverReadsAsConnected)
{
    sim.SetRefusing(true);
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    std::this_thread::sleep_for(1500ms);
    int status = -1;
    EXPECT_EQ(Quillan_GetConnectStatus(h, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(write(h, "SetExposureTime=100\r"), -1);  // not connected: nothing sent

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(sim.AcceptCount(), 0);
}

TEST_F(Abi, DisconnectWhileConnectingToAbsentScannerIsPrompt)
{
    std::string closedPort = port;
    sim.Stop();
    QuillanHandle h = Quillan_Connect(const_cast<char*>("127.0.0.1"), closedPort.data(), 0);
    ASSERT_NE(h, nullptr);
    std::this_thread::sleep_for(300ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST_F(Abi, SendAfterScannerClosedFailsAndProcessLives)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0));
    EXPECT_EQ(write(h, "SetAutoConnectMode=0\r"), 21);  // local: never reaches the scanner
    EXPECT_EQ(write(h, "SetExposureTime=100\r"), 20);
    ASSERT_TRUE(sim.WaitForCommand("SetExposureTime=100\r", 2000ms));

    sim.CloseClient();
    // Writes right after the close: a broken pipe must come back as -1, not as a signal.
    bool failed = eventually([&] { return write(h, "SetExposureTime=101\r") == -1; }, 3000ms);
    EXPECT_TRUE(failed);
    // Without auto-reconnect the thread ends: no second connection.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(sim.AcceptCount(), 1);
    for (const auto& c : sim.Commands())
        EXPECT_EQ(c.bytes.find("SetAutoConnectMode"), std::string::npos);
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
}

TEST_F(Abi, SilenceLongerThanTimeoutDropsAndReconnects)
{
    QuillanHandle h = connect(500);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0));
    ASSERT_TRUE(sim.WaitForAccepts(2, 3000ms));
    EXPECT_TRUE(helloOn(1));
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
}

TEST_F(Abi, NoTimeoutKeepsSilentConnection)
{
    QuillanHandle h = connect(0);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0));
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(sim.AcceptCount(), 1);
    EXPECT_TRUE(sim.ClientConnected());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

struct Received {
    std::mutex mutex;
    std::string bytes;
    std::vector<void*> contexts;
};

void collect(void* context, char* data, int length)
{
    auto* r = static_cast<Received*>(context);
    std::lock_guard lock(r->mutex);
    r->bytes.append(data, static_cast<size_t>(length));
    r->contexts.push_back(context);
}

TEST_F(Abi, ReadDataCallbackGetsEveryByteWithItsContext)
{
    Received first, second;
    Quillan_SetReadDataCallback(&first, reinterpret_cast<void*>(&collect));
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    Quillan_SetReadDataCallback(&second, reinterpret_cast<void*>(&collect));  // only for later connections
    ASSERT_TRUE(helloOn(0));

    std::string payload;
    for (int i = 0; i < 200000; ++i)
        payload.push_back(static_cast<char>(i * 7));
    ASSERT_TRUE(sim.SendRaw(payload));
    EXPECT_TRUE(eventually(
        [&] {
            std::lock_guard lock(first.mutex);
            return first.bytes.size() >= payload.size();
        },
        3000ms));
    {
        std::lock_guard lock(first.mutex);
        EXPECT_EQ(first.bytes, payload);
        for (void* c : first.contexts)
            EXPECT_EQ(c, &first);
    }
    {
        std::lock_guard lock(second.mutex);
        EXPECT_TRUE(second.bytes.empty());
    }
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    Quillan_SetReadDataCallback(nullptr, nullptr);
}

std::atomic<QuillanHandle> callbackHandle{nullptr};
std::atomic<int> disconnectFromCallback{0};

void disconnectInCallback(void*, char*, int)
{
    QuillanHandle h = callbackHandle.load();
    if (h && Quillan_Disconnect(h) == h)
        ++disconnectFromCallback;
}

TEST_F(Abi, DisconnectFromReceiveThreadIsRefused)
{
    Quillan_SetReadDataCallback(nullptr, reinterpret_cast<void*>(&disconnectInCallback));
    QuillanHandle h = connect();
    Quillan_SetReadDataCallback(nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    callbackHandle = h;
    ASSERT_TRUE(helloOn(0));
    ASSERT_TRUE(sim.SendRaw("x"));
    EXPECT_TRUE(eventually([] { return disconnectFromCallback.load() > 0; }, 2000ms));
    int status = -1;
    EXPECT_EQ(Quillan_GetConnectStatus(h, &status), 0);  // still open
    callbackHandle = nullptr;
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
}

TEST_F(Abi, DisconnectWaitsForBlockedReader)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    char buf[16];
    unsigned u = 0;
    std::atomic<int> readerResult{0};
    std::atomic<bool> readerDone{false};
    std::jthread reader([&] {
        readerResult = Quillan_GetImage(h, buf, sizeof(buf), &u, &u, &u, &u, &u, &u, 500);
        readerDone = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
    EXPECT_TRUE(readerDone.load());  // Disconnect waited for the reader's lock
    reader.join();
    EXPECT_EQ(readerResult.load(), -1);
    EXPECT_EQ(Quillan_GetImage(h, buf, sizeof(buf), &u, &u, &u, &u, &u, &u, 0), -1000);
}

TEST_F(Abi, LocalCommandsNeverReachTheScanner)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0));
    struct Case {
        std::string text;
        int result;
    };
    const Case local[] = {{"SetSortingX=1\r", 14}, {"SetSortingX=1", 13}, {"SetInitializeAcquisition", 24},
                          {"SetEchoMode=0\r", 14}, {"SetLibraryScannerFiFoMode=1", 27}};
    for (const auto& c : local)
        EXPECT_EQ(write(h, c.text), c.result) << c.text;

    // Camera mode: two binary packets instead of the text.
    EXPECT_EQ(write(h, "SetCameraMode\r"), 14);
    EXPECT_TRUE(sim.WaitForCommand(std::string("\x00\x00\x00\x00\x00\xA0\x00\x02", 8), 2000ms));
    EXPECT_TRUE(sim.WaitForCommand(std::string("\x00\x00\x00\x00\x00\x48\x00\x02", 8), 2000ms));

    // Not local: sent as they stand, all len bytes even past an embedded NUL.
    EXPECT_EQ(write(h, "setsortingx=1\r"), 14);
    EXPECT_EQ(write(h, "SetCameraMode=1\r"), 16);
    std::string withNul("SetA\0B\r", 7);
    EXPECT_EQ(Quillan_WriteData(h, withNul.data(), 7), 7);
    EXPECT_TRUE(sim.WaitForCommand("setsortingx=1\r", 2000ms));
    EXPECT_TRUE(sim.WaitForCommand("SetCameraMode=1\r", 2000ms));
    EXPECT_TRUE(sim.WaitForCommand(withNul, 2000ms));

    std::string all = sim.ReceivedBytes(0);
    EXPECT_NE(all.find(withNul), std::string::npos);
    for (const char* never : {"SetSortingX", "SetInitializeAcquisition", "SetEchoMode", "SetLibraryScannerFiFoMode",
                              "SetCameraMode\r"})
        EXPECT_EQ(all.find(never), std::string::npos) << never;
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
}

TEST_F(Abi, EchoModeWithoutSyncAnswerGivesMinusTwo)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(helloOn(0));
    EXPECT_EQ(write(h, "SetEchoMode=1"), 13);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(write(h, "SetExposureTime=100\r"), -2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_TRUE(sim.WaitForCommand("SetRequestSyncContainer\r", 2000ms));
    EXPECT_EQ(Quillan_Disconnect(h), nullptr);
}

TEST(AbiLibrary, VersionText)
{
    struct Case {
        int len;
        int result;
        const char* text;
    };
    const Case cases[] = {{13, 12, "1.11.0   x64"}, {100, 12, "1.11.0   x64"}, {12, -1, "?"}, {1, -1, "?"}};
    for (const auto& c : cases) {
        unsigned char buf[128];
        std::memset(buf, 0, sizeof(buf));
        EXPECT_EQ(Quillan_GetVersion(buf, c.len), c.result) << c.len;
        EXPECT_STREQ(reinterpret_cast<char*>(buf), c.text) << c.len;
    }
    unsigned char untouched[4] = {'a', 0, 0, 0};
    EXPECT_EQ(Quillan_GetVersion(untouched, 0), -1);
    EXPECT_EQ(untouched[0], 'a');
    EXPECT_EQ(Quillan_GetVersion(nullptr, 13), -1);
}

TEST(AbiLibrary, NullHandleWriteDataSettings)
{
    auto w = [](const char* text) { return Quillan_WriteData(nullptr, const_cast<char*>(text), 0); };
    EXPECT_EQ(w("SetDllFiFoSize=50000000\r"), 24);
    EXPECT_EQ(w("SetLibraryScannerFiFoSize=4198399"), -1);
    EXPECT_EQ(w("SetDllFiFoSize=1000"), -1);
    EXPECT_EQ(w("SetDllFiFoSize=12x"), -1);
    EXPECT_EQ(w("SetExposureTime=100\r"), -1000);
    EXPECT_EQ(w("SetDllFiFoSize=41984000"), 23);
}

}  // namespace
