// The bridge's scanner thread alone: a scanner that has a 2048-point profile ready at every
// read (and its status values), so the thread runs as fast as it can: per-profile copies into
// the ring, five status reads and the counter check. Prints profiles stored per second and the
// process CPU per profile (the scanner thread is the only busy thread), with the intensity and
// range components both enabled, over --seconds=S (2) and --runs=N (3).
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "bridge_probe.h"
#include "scanner_sim/settings_model.h"
#include "steady_clock.h"

namespace {

constexpr int kPoints = 2048;

// Answers like a connected scanner whose FIFO is never empty.
class ReadyScanner : public lumabridge::ScannerApi {
public:
    ReadyScanner() : m_Descriptor(scanner_sim::SettingsModel().DescriptorXml()), m_X(kPoints), m_Z(kPoints), m_I(kPoints)
    {
        for (int i = 0; i < kPoints; ++i) {
            m_X[static_cast<size_t>(i)] = -30.0 + 0.03 * i;
            m_Z[static_cast<size_t>(i)] = 150.0 + 0.01 * i;
            m_I[static_cast<size_t>(i)] = i % 1024;
        }
    }

    lumabridge::ScannerHandle Connect(const char*, const char*, int) override { return this; }
    lumabridge::ScannerHandle Disconnect(lumabridge::ScannerHandle) override { return nullptr; }
    int GetConnectStatus(lumabridge::ScannerHandle, int* status) override
    {
        *status = 3;
        return 0;
    }
    int GetXZIExtended(lumabridge::ScannerHandle, double* x, double* z, int* intensity, int*, int maxPoints,
                       unsigned* encoder, unsigned char*, int, unsigned char*, int, int*) override
    {
        const int n = std::min(kPoints, maxPoints);
        std::memcpy(x, m_X.data(), sizeof(double) * static_cast<size_t>(n));
        std::memcpy(z, m_Z.data(), sizeof(double) * static_cast<size_t>(n));
        std::memcpy(intensity, m_I.data(), sizeof(int) * static_cast<size_t>(n));
        *encoder = m_Counter;
        ++m_Counter;
        return n;
    }
    int GetInfo(lumabridge::ScannerHandle, char* buf, int len, const char* kind) override
    {
        if (std::strcmp(kind, "xml") != 0 || len <= 0)
            return -1;
        const size_t n = std::min(m_Descriptor.size(), static_cast<size_t>(len - 1));
        std::memcpy(buf, m_Descriptor.data(), n);
        buf[n] = '\0';
        return static_cast<int>(n);
    }
    int WriteData(lumabridge::ScannerHandle, const char*, int len) override { return len; }
    int ReadData(lumabridge::ScannerHandle, const char* name, char* buf, int len, int) override
    {
        const unsigned value = std::strcmp(name, "PictureCounter") == 0 ? (m_Counter - 1) & 0xFFFF : 41;
        std::snprintf(buf, static_cast<size_t>(len), "%u", value);
        return 0;
    }
    int GetDllFiFoState(lumabridge::ScannerHandle) override { return 0; }
    int GetVersion(unsigned char* buf, int len) override
    {
        std::snprintf(reinterpret_cast<char*>(buf), static_cast<size_t>(len), "bench");
        return 0;
    }

private:
    std::string m_Descriptor;
    std::vector<double> m_X, m_Z;
    std::vector<int> m_I;
    unsigned m_Counter = 0;  // the scanner thread's only
};

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int intOption(int argc, char** argv, const char* name, int fallback)
{
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=')
            return std::atoi(argv[i] + length + 1);
    return fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = std::max(1, intOption(argc, argv, "--seconds", 2));
    const int runs = std::max(1, intOption(argc, argv, "--runs", 3));
    std::printf("scanner thread, %d points per profile, intensity and range\n", kPoints);
    for (int run = 0; run < runs; ++run) {
        ReadyScanner scanner;
        lumabridge::SteadyClock clock;
        std::ostringstream out, err;
        lumabridge::Bridge bridge(scanner, clock, nullptr);
        bridge.SetConsoleStreams(out, err);
        bridge.SetProfileTimeout(0);
        lumabridge::BridgeProbe probe(bridge);
        probe.MutableComponent(0).m_Enabled = true;
        probe.MutableComponent(1).m_Enabled = true;

        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        if (!bridge.Connect("127.0.0.1", "", 32001)) {
            std::fprintf(stderr, "connect failed: %s\n", err.str().c_str());
            return 1;
        }
        lumabridge::ProfileRing& ring = probe.Ring();
        // Laps counted by watching the write index go round.
        int64_t laps = 0;
        int32_t last = 0;
        const auto end = t0 + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const int32_t now = ring.WriteIndex();
            if (now < last)
                ++laps;
            last = now;
        }
        bridge.Shutdown();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = processCpuSeconds() - cpu0;
        const int64_t stored = laps * lumabridge::ProfileRing::kSlots + ring.WriteIndex();
        std::printf("run %d: %lld profiles in %.2f s = %.0f profiles/s, %.2f us CPU per profile\n", run,
                    static_cast<long long>(stored), wall, static_cast<double>(stored) / wall,
                    stored ? cpu * 1e6 / static_cast<double>(stored) : 0.0);
    }
    return 0;
}
