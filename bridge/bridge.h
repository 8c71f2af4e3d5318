#pragma once
// The program's one application object: the camera, the scanner connection, the threads
// that join them, and the ordered shutdown.
#include <atomic>
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "bridge_console.h"
#include "pixel_formats.h"
#include "profile_ring.h"
#include "scanner_info.h"
#include "platform/event.h"
#include "scanner_api.h"

class CGevCamera;

namespace lumabridge {

// One Scan3d coordinate (A: x, B: encoder or time, C: z) as the image thread uses it.
struct Scan3dCoordinateSettings {
    float scale = 1.0f;
    float offset = 0.0f;
    bool invalidDataFlag = false;
    float invalidDataValue = 0.0f;
    float axisMin = 0.0f;
    float axisMax = 0.0f;
};

class FeatureWriter;

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
    // Safe from any thread and from a signal handler; ends the waits of Connect and
    // BuildDescription early.
    void RequestExit();
    // The process's own stop flag (the interrupt), which ends those waits too.
    static void SetStopCheck(bool (*stopRequested)());
    bool IsExitRequested() const;
    // The scanner was lost without automatic reconnect: the program ends with a failure.
    bool IsScannerLost() const;

    bool Connect(const std::string& scannerIp, const std::string& userName, uint16_t port);
    bool BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName);
    void Shutdown();  // idempotent; copes with every partial state

    // Console streams (standard output and error unless tests set their own).
    void SetConsoleStreams(std::ostream& out, std::ostream& err);

    // Camera callbacks; context is the Bridge.
    static bool OnFeatureReadCallback(void* context, const char* featureName);
    static bool OnFeatureWriteCallback(void* context, const char* featureName);
    static void OnClientConnection(void* context, bool connected);
    bool OnFeatureRead(const std::string& featureName);
    bool OnFeatureWrite(const std::string& featureName);

    // Puts the scanner and the bridge's records into the working configuration; ends early
    // when stop is requested.
    void ConfigureScanner(std::stop_token stop = {});
    bool UpdateScannerInfo();
    bool IsDeviceResetRunning() const { return m_ResetRunning; }

    // The most the part buffers hold: pixels per line and lines per image.
    static constexpr int32_t kMaxImageWidth = 4096;
    static constexpr int32_t kMaxLinesPerImage = 10000;
    // The image geometry from the cached scanner values into the parts and the camera's region
    // maps: region 0 is the sensor ROI, region 1 the streamed image. Width reads and writes use
    // the first, Height reads and writes the second (lines per image, chunk payload). While
    // acquiring they change nothing; pending part changes are applied at the next call after.
    void UpdateRegionWidth();
    void UpdateLinesPerImage();

private:
    friend class BridgeProbe;  // tests read the records
    friend class FeatureWriter;  // carries out one feature write

    // Runs body; an exception ends here as a message naming where.
    void guarded(const char* where, const std::function<void()>& body) noexcept;
    void ScannerMonitorThread(std::stop_token stop);
    void DeviceResetThread(std::stop_token stop);
    bool startDeviceReset();
    void sendLostEvent();
    void InitChunkEntry(size_t index, uint32_t chunkId, const char* name, const char* displayName);
    // The camera's feature tree and its per-line chunk features, before the server is online.
    void DeclareFeatureTree(const ScannerInfo& scanner);
    void RegisterChunkFeatures();
    // Sleeps ms in short steps; false when stop or the exit flag ended it early.
    bool pause(uint32_t ms, const std::stop_token& stop);
    bool interrupted(const std::stop_token& stop) const;
    bool startCamera(const std::string& serverIp, int interfaceIndex);
    ScannerInfo info() const;
    // The streamed width W1 by the cached signal enable; lastWidth for an enable outside 1..3.
    static int32_t imageWidth(const ScannerInfo& scanner, int32_t lastWidth);
    // Feature reads: the refresh of stale scanner information, and the value a read writes into
    // the camera, as logged (nothing for a feature that is only logged).
    void refreshBeforeRead(const std::string& featureName);
    std::optional<std::string> readValue(const std::string& featureName);

    // The scanner thread: profiles from the scanner into the ring, the rate, the time-out and
    // the point-cloud file.
    void ScannerThread(std::stop_token stop);
    // Fills slot's chunk record from the last status container; a value that cannot be read
    // keeps the slot's previous one, the picture counter included.
    void ReadChunkValues(int32_t slot, char (&text)[100], uint32_t& pictureCounter);
    // The overflow guard: true after a warning and its pause.
    bool overflowPause();
    // The ring (slots of pixel_x_max x 2 points, at most the staging size) and the staging
    // area; false when they cannot be allocated.
    bool allocateRing();
    // The image thread (image_thread.cpp): the profiles of the ring become blocks.
    struct ImageBlock;  // its buffers and the records of the block being built
    void StartImageThread();
    void ImageSenderThread(std::stop_token stop);
    void runAcquisition(ImageBlock& block, const std::stop_token& stop);
    void takeBlockRecords(ImageBlock& block);
    bool blockFits(const ImageBlock& block);
    bool acquisitionEnded(const ImageBlock& block, const std::stop_token& stop) const;
    uint32_t fillLines(ImageBlock& block, const std::stop_token& stop);  // the lines filled
    // Waits for unread profiles; `linesLeft` lines of the block are still to be filled.
    bool waitForProfile(const ImageBlock& block, uint32_t linesLeft, const std::stop_token& stop);
    void FillLine(ImageBlock& block, int32_t slot, uint32_t line, bool zeroLine, int32_t yDelta);
    void FillZeroLine(ImageBlock& block, uint32_t line);
    void sendBlock(ImageBlock& block, const std::stop_token& stop);
    void SendChunks(ImageBlock& block, uint32_t lines);
    void stopAcquisition(uint32_t run);

    ScannerApi& m_Scanner;
    Clock& m_Clock;
    CGevCamera* m_Camera;
    std::atomic<ScannerHandle> m_Handle{nullptr};
    BridgeConsole m_Console;

    // Options.
    std::atomic<bool> m_AutoReconnect{false};
    std::atomic<bool> m_FirmwareCheck{true};
    std::atomic<bool> m_OrbalisMode{false};
    std::atomic<bool> m_HardwareLinearization{false};
    std::atomic<uint32_t> m_ProfileTimeoutMs{1000};
    std::string m_DebugFileName;
    std::string m_PointCloudFileName;
    uint32_t m_ScansToSave = 0;
    std::vector<std::string> m_Interfaces;
    std::unique_ptr<uint8_t[]> m_FrameBuffer;

    // Identity texts.
    std::string m_Version = "2.0.0";
    std::string m_ClientLibraryVersion;
    std::string m_ScannerIp;
    std::string m_ServedIp;  // the address the camera was last started on

    // Scanner information, fetched and parsed under m_InfoMutex; the trigger, line and encoder
    // records live in it.
    mutable std::mutex m_InfoMutex;
    ScannerInfo m_Info;

    // Records the image thread and the feature handlers share, under m_RecordMutex.
    mutable std::mutex m_RecordMutex;
    std::array<ComponentRecord, 2> m_Components;
    std::array<ChunkRecord, 10> m_Chunks;
    std::array<Scan3dCoordinateSettings, 3> m_Scan3dCoordinates;
    bool m_SortX = false;
    int32_t m_AcquisitionMode = 1;
    int32_t m_ChunkSelector = 0;
    int32_t m_TriggerSelector = 0;
    int32_t m_EncoderSelector = 0;
    int32_t m_RegionSelector = 0;
    int32_t m_Scan3dCoordinateSource = 0;
    int32_t m_LineSelector = 0;
    int32_t m_ComponentSelector = 0;
    int32_t m_Scan3dCoordinateSelector = 0;
    int32_t m_DeviceTemperatureSelector = 0;
    int32_t m_ChunkPayloadBytes = 0;
    int32_t m_ChunkCount = 0;
    int32_t m_LinesPerImage = 1;  // 1..10000
    bool m_PartsChanged = false;
    // Scan3dCoordinate ScaleMin, ScaleMax, OffsetMin, OffsetMax as last read.
    std::array<double, 4> m_Scan3dLimits{};

    // The profiles between the scanner thread and the image thread (allocated by Connect).
    std::unique_ptr<ProfileRing> m_Ring;
    std::unique_ptr<ProfileStaging> m_Staging;  // the scanner thread's
    std::atomic<bool> m_ProfileTimeout{false};
    std::atomic<uint32_t> m_ScannerRate{0};  // profiles in the last window of about 990 ms

    // Point-cloud file state, written by the feature write handler.
    std::atomic<bool> m_SavePointCloud{false};
    std::atomic<int32_t> m_SavedScans{0};

    // Software trigger time (steady-clock ns) and ticks per millisecond.
    std::atomic<int64_t> m_SoftwareTriggerTime{0};
    static constexpr double m_TicksPerMs = 1e6;
    std::atomic<bool> m_UpdateFeatures{false};
    // Set at each AcquisitionStart; a block begun in an older run is never sent.
    std::atomic<uint32_t> m_RunNumber{0};

    // Hand-overs and flags.
    platform::Event m_NewProfileEvent{true, false};
    // Unread profiles at which the scanner thread signals m_NewProfileEvent: the image thread
    // sets it before it waits, so that it wakes once per batch instead of once per profile.
    std::atomic<int32_t> m_ProfileWakeCount{1};
    platform::Event m_AcquisitionEvent{true, false};
    std::atomic<bool> m_AcquisitionStopped{true};
    std::atomic<bool> m_ExitRequested{false};
    std::atomic<bool> m_ScannerLost{false};
    std::atomic<bool> m_ShutDown{false};

    // Threads. A device reset runs at most once at a time; Shutdown refuses new ones.
    std::jthread m_MonitorThread;
    std::jthread m_ScannerThread;
    std::jthread m_ImageThread;
    mutable std::mutex m_ResetMutex;
    std::jthread m_ResetThread;
    std::atomic<bool> m_ResetRunning{false};
    bool m_ResetClosed = false;  // under m_ResetMutex
};

}  // namespace lumabridge
