// The scanner thread: takes profiles from the scanner as they come, with the chunk values of
// the last status container, into the ring the image thread drains.
#include "bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "point_cloud.h"

namespace lumabridge {
namespace {

constexpr int kProfileWaitMs = 500;
// An empty read that came back sooner than this did not wait for a profile (no linearization
// yet, or an error): the thread pauses instead of asking again at once.
constexpr uint32_t kQuickReadMs = 250;
constexpr uint32_t kIdlePauseMs = 50;
constexpr uint32_t kOverflowPauseMs = 50;
constexpr double kOverflowFill = 0.9;
constexpr uint32_t kRateWindowMs = 990;
constexpr uint32_t kNoCounter = 0xFFFFFFFF;
constexpr int kChunkTextBytes = 100;
constexpr size_t kMaxRingPoints = ProfileStaging::kMaxPoints;

// The next picture counter after p (the counter is 16 bits wide and wraps).
bool expectedStep(uint32_t p, uint32_t c)
{
    return p == kNoCounter || ((c - p) & 0xFFFF) == 1;
}

}  // namespace

bool Bridge::allocateRing()
{
    if (m_ScannerThread.joinable())
        return false;  // the running thread keeps its ring
    const int32_t pixels = info().m_PixelXMax;
    const size_t points = std::clamp<int64_t>(int64_t{pixels} * 2, 1, static_cast<int64_t>(kMaxRingPoints));
    try {
        m_Ring = std::make_unique<ProfileRing>(points);
        m_Staging.reset(new ProfileStaging());
    } catch (const std::bad_alloc&) {
        m_Ring.reset();
        m_Staging.reset();
        return false;
    }
    return true;
}

void Bridge::ReadChunkValues(int32_t slot, char (&text)[100], uint32_t& pictureCounter)
{
    ProfileChunkValues& chunk = m_Ring->Chunk(slot);
    const ScannerHandle handle = m_Handle;
    auto read = [&](const char* name, auto& field) {
        if (m_Scanner.ReadData(handle, name, text, sizeof text, -1) != 0)
            return;
        text[sizeof text - 1] = '\0';
        field = static_cast<std::remove_reference_t<decltype(field)>>(std::strtoll(text, nullptr, 10));
    };
    read("ScannerState", chunk.m_ScannerState);
    read("PictureCounter", chunk.m_PictureCounter);
    pictureCounter = chunk.m_PictureCounter;
    read("GetTimestamp", chunk.m_Timestamp);
    chunk.m_Encoder = m_Staging->m_Encoder;
    read("IOState", chunk.m_IoState);
    read("Temperature", chunk.m_Temperature);
}

bool Bridge::overflowPause()
{
    if (m_AcquisitionStopped)
        return false;
    const ProfileRing::Counters c = m_Ring->Snapshot();
    if (!c.overflow || c.read <= c.write)
        return false;
    const double fill = 1.0 - (c.read - c.write) / static_cast<double>(ProfileRing::kSlots);
    if (fill <= kOverflowFill)
        return false;
    char text[128];
    std::snprintf(text, sizeof text, "WARNING: overflow %f ReadOut: %d  WriteIn: %d\n", fill, c.read, c.write);
    m_Console.Debug(std::string(text) + "\n");
    m_NewProfileEvent.set();
    m_Clock.SleepMs(kOverflowPauseMs);
    return true;
}

void Bridge::ScannerThread(std::stop_token stop)
{
    m_Console.Message("Scanner thread has started\n");
    guarded("scanner thread", [&] {
        ProfileRing& ring = *m_Ring;
        ProfileStaging& staging = *m_Staging;
        const ScannerHandle handle = m_Handle;
        ring.ResetWrite();
        uint32_t lastProfileMs = m_Clock.NowMs();
        uint32_t lastRateMs = lastProfileMs;
        uint32_t window = 0;
        m_ScannerRate = 0;
        uint32_t previous = kNoCounter;
        bool guard = true;
        bool clampReported = false;
        char text[kChunkTextBytes] = {};

        // Slots of the library's full 4096 points take the profile straight from the library;
        // smaller slots take it through the staging arrays, which hold any profile.
        const bool direct = ring.Capacity() >= static_cast<size_t>(ProfileStaging::kMaxPoints);

        PointCloudFile cloud;
        if (m_ScansToSave > 0 && !cloud.Open(m_PointCloudFileName))
            m_Console.Message("Warning: Cannnot open the PointCLoud file\n");

        do {
            // While the ring is nearly full the writer slows down, one pause every other pass.
            if (guard && overflowPause()) {
                guard = false;
                continue;
            }
            guard = true;
            if (m_AcquisitionStopped)
                m_ScannerRate = 0;

            const uint32_t readStartMs = m_Clock.NowMs();
            const int32_t readSlot = ring.WriteIndex();
            double* const x = direct ? ring.X(readSlot) : staging.m_X;
            double* const z = direct ? ring.Z(readSlot) : staging.m_Z;
            int32_t* const intensity = direct ? ring.Intensity(readSlot) : staging.m_Intensity;
            const int n = m_Scanner.GetXZIExtended(handle, x, z, intensity, nullptr, ProfileStaging::kMaxPoints,
                                                   &staging.m_Encoder, nullptr, kProfileWaitMs, nullptr, 0, nullptr);
            if (n <= 0) {
                if (stop.stop_requested())
                    break;
                const uint32_t timeoutMs = m_ProfileTimeoutMs;
                if (timeoutMs != 0 && m_Clock.NowMs() - lastProfileMs > timeoutMs) {
                    m_ProfileTimeout = true;
                    m_NewProfileEvent.set();
                }
                if (m_Clock.NowMs() - readStartMs < kQuickReadMs)
                    m_Clock.SleepMs(kIdlePauseMs);
                continue;
            }
            const int count = std::min(n, ProfileStaging::kMaxPoints);

            lastProfileMs = m_Clock.NowMs();
            if (lastProfileMs - lastRateMs >= kRateWindowMs) {
                char line[64];
                std::snprintf(line, sizeof line, "Scanner frequency: %u FIFO: %u\n", window,
                              static_cast<unsigned>(m_Scanner.GetDllFiFoState(handle)));
                m_Console.Debug(line);
                lastRateMs = lastProfileMs;
                m_ScannerRate = window;
                window = 0;
            }
            ++window;

            staging.m_PointCount = count;
            const int32_t slot = ring.WriteIndex();
            uint32_t counter = 0;
            ReadChunkValues(slot, text, counter);
            if (!expectedStep(previous, counter))
                m_Console.DebugOutput("Scanner thread: picture counter error. Old:" + std::to_string(previous) +
                                      " New:" + std::to_string(counter) + "\n");
            if (counter == previous && counter != 0)
                continue;  // a repeat of the last profile

            const size_t stored = std::min(static_cast<size_t>(count), ring.Capacity());
            if (stored < static_cast<size_t>(count) && !clampReported) {
                clampReported = true;
                m_Console.Message("Warning: a profile of " + std::to_string(count) +
                                  " points does not fit the ring; only the first " + std::to_string(stored) +
                                  " are kept\n");
            }
            if (!direct) {
                bool intensityOn = false;
                bool rangeOn = false;
                {
                    std::lock_guard lock(m_RecordMutex);
                    intensityOn = m_Components[0].m_Enabled;
                    rangeOn = m_Components[1].m_Enabled;
                }
                std::copy_n(staging.m_X, stored, ring.X(slot));
                if (intensityOn)
                    std::copy_n(staging.m_Intensity, stored, ring.Intensity(slot));
                if (rangeOn)
                    std::copy_n(staging.m_Z, stored, ring.Z(slot));
            } else if (slot != readSlot) {
                // The ring was reset during the read: the profile goes to the new write slot. No
                // reader looks at the old slot before this thread commits it.
                std::copy_n(x, stored, ring.X(slot));
                std::copy_n(intensity, stored, ring.Intensity(slot));
                std::copy_n(z, stored, ring.Z(slot));
            }
            ring.SetPointCount(slot, static_cast<uint32_t>(stored));
            // A ring reset since the slot was chosen drops the profile. The image thread is woken
            // once the profiles it waits for are in.
            if (ring.CommitWrite(slot) && ring.Unread() >= m_ProfileWakeCount.load())
                m_NewProfileEvent.set();
            previous = counter;

            if (m_SavePointCloud) {
                const int32_t saved = ++m_SavedScans;
                cloud.WriteProfile(x, z, intensity, static_cast<size_t>(count), staging.m_Encoder);
                if (saved >= static_cast<int64_t>(m_ScansToSave)) {
                    m_SavedScans = 0;
                    m_SavePointCloud = false;
                }
            }
        } while (!stop.stop_requested());
        cloud.Close();
    });
    m_Console.Message("Scanner thread has been ended\n");
}

}  // namespace lumabridge
