#pragma once
// Read access to the Bridge's records for tests.
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "bridge.h"

namespace lumabridge {

class BridgeProbe {
public:
    explicit BridgeProbe(Bridge& bridge) : m_Bridge(bridge) {}

    const ComponentRecord& Component(size_t i) const { return m_Bridge.m_Components[i]; }
    ComponentRecord& MutableComponent(size_t i) { return m_Bridge.m_Components[i]; }
    const ChunkRecord& Chunk(size_t i) const { return m_Bridge.m_Chunks[i]; }
    const Scan3dCoordinateSettings& Scan3d(size_t i) const { return m_Bridge.m_Scan3dCoordinates[i]; }
    bool SortX() const { return m_Bridge.m_SortX; }
    int32_t AcquisitionMode() const { return m_Bridge.m_AcquisitionMode; }
    int32_t RegionSelector() const { return m_Bridge.m_RegionSelector; }
    int32_t ComponentSelector() const { return m_Bridge.m_ComponentSelector; }
    int32_t OtherSelectorsSum() const
    {
        const Bridge& b = m_Bridge;
        return b.m_ChunkSelector + b.m_TriggerSelector + b.m_EncoderSelector + b.m_Scan3dCoordinateSource +
               b.m_LineSelector + b.m_Scan3dCoordinateSelector + b.m_ChunkPayloadBytes + b.m_ChunkCount;
    }
    bool AcquisitionStopped() const { return m_Bridge.m_AcquisitionStopped; }
    platform::Event& NewProfileEvent() { return m_Bridge.m_NewProfileEvent; }
    platform::Event& AcquisitionEvent() { return m_Bridge.m_AcquisitionEvent; }
    void SetAcquisitionRunning()
    {
        m_Bridge.m_AcquisitionStopped = false;
        m_Bridge.m_AcquisitionEvent.set();
    }

    // Geometry and feature-read state, set by tests while no other thread runs.
    void SetAcquisitionStopped(bool stopped) { m_Bridge.m_AcquisitionStopped = stopped; }
    bool& PartsChanged() { return m_Bridge.m_PartsChanged; }
    int32_t& ChunkCount() { return m_Bridge.m_ChunkCount; }
    int32_t ChunkPayloadBytes() const { return m_Bridge.m_ChunkPayloadBytes; }
    int32_t& LinesPerImage() { return m_Bridge.m_LinesPerImage; }
    int32_t& MutableRegionSelector() { return m_Bridge.m_RegionSelector; }
    int32_t& MutableComponentSelector() { return m_Bridge.m_ComponentSelector; }
    int32_t& MutableTriggerSelector() { return m_Bridge.m_TriggerSelector; }
    int32_t& MutableLineSelector() { return m_Bridge.m_LineSelector; }
    int32_t& MutableEncoderSelector() { return m_Bridge.m_EncoderSelector; }
    int32_t& MutableScan3dCoordinateSelector() { return m_Bridge.m_Scan3dCoordinateSelector; }
    int32_t& MutableChunkSelector() { return m_Bridge.m_ChunkSelector; }
    ChunkRecord& MutableChunk(size_t i) { return m_Bridge.m_Chunks[i]; }
    void SetScannerRate(uint32_t rate) { m_Bridge.m_ScannerRate = rate; }

    ScannerHandle Handle() const { return m_Bridge.m_Handle; }

    // The profile ring and the scanner thread's flags.
    ProfileRing& Ring() { return *m_Bridge.m_Ring; }
    bool HasRing() const { return m_Bridge.m_Ring != nullptr; }
    // Reads and clears the time-out flag.
    bool TakeProfileTimeout() { return m_Bridge.m_ProfileTimeout.exchange(false); }
    uint32_t ScannerRate() const { return m_Bridge.m_ScannerRate; }
    // What the AcquisitionStart write does for the point-cloud file.
    void StartPointCloud()
    {
        m_Bridge.m_SavedScans = 0;
        m_Bridge.m_SavePointCloud = true;
    }
    bool SavingPointCloud() const { return m_Bridge.m_SavePointCloud; }
    // The image thread, over a ring the test fills (Connect allocates the program's).
    ProfileRing& AllocateRing(size_t pointsPerSlot)
    {
        m_Bridge.m_Ring = std::make_unique<ProfileRing>(pointsPerSlot);
        return *m_Bridge.m_Ring;
    }
    void StartImageThread() { m_Bridge.StartImageThread(); }
    void SetComponent(size_t i, bool enabled, PartDescriptor part)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_Components[i].m_Enabled = enabled;
        m_Bridge.m_Components[i].m_Part = std::move(part);
    }
    // Chunk i on or off with 4-byte values; the chunk count follows.
    void SetChunk(size_t i, bool enabled, uint32_t id)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_Chunks[i].m_Enabled = enabled;
        m_Bridge.m_Chunks[i].m_ChunkId = id;
        m_Bridge.m_Chunks[i].m_BytesPerValue = 4;
        m_Bridge.m_ChunkCount = 0;
        for (const ChunkRecord& chunk : m_Bridge.m_Chunks)
            m_Bridge.m_ChunkCount += chunk.m_Enabled;
    }
    void SetLinesPerImage(int32_t lines)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_LinesPerImage = lines;
    }
    void SetAcquisitionMode(int32_t mode)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_AcquisitionMode = mode;
    }
    void SetCoordinateSource(int32_t source)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_Scan3dCoordinateSource = source;
    }
    void SetScan3d(size_t i, float scale, float offset)
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        m_Bridge.m_Scan3dCoordinates[i].scale = scale;
        m_Bridge.m_Scan3dCoordinates[i].offset = offset;
    }
    void SetGeometry(double zStart, double zRange, double fieldWidthXEnd)
    {
        std::lock_guard lock(m_Bridge.m_InfoMutex);
        m_Bridge.m_Info.m_WorkingRangeZStart = zStart;
        m_Bridge.m_Info.m_MeasuringRangeZ = zRange;
        m_Bridge.m_Info.m_FieldWidthXEnd = fieldWidthXEnd;
    }
    void SetFrameStartTrigger(bool mode, int32_t source)
    {
        std::lock_guard lock(m_Bridge.m_InfoMutex);
        m_Bridge.m_Info.m_Triggers[kFrameStart].m_Mode = mode;
        m_Bridge.m_Info.m_Triggers[kFrameStart].m_Source = source;
    }
    void SetSoftwareTriggerTime(int64_t ns) { m_Bridge.m_SoftwareTriggerTime = ns; }
    // What the scanner thread does when no profile came for the time-out.
    void SignalProfileTimeout()
    {
        m_Bridge.m_ProfileTimeout = true;
        m_Bridge.m_NewProfileEvent.set();
    }
    bool ProfileTimeoutPending() const { return m_Bridge.m_ProfileTimeout; }
    // What the AcquisitionStart and AcquisitionStop writes do.
    void StartAcquisition()
    {
        m_Bridge.m_AcquisitionStopped = false;
        ++m_Bridge.m_RunNumber;
        m_Bridge.m_AcquisitionEvent.set();
    }
    void StopAcquisition()
    {
        m_Bridge.m_AcquisitionStopped = true;
        m_Bridge.m_NewProfileEvent.set();
    }
    // The records as they are, for setting up and checking handlers while no other thread runs.
    ScannerInfo& Info() { return m_Bridge.m_Info; }
    Scan3dCoordinateSettings& MutableScan3d(size_t i) { return m_Bridge.m_Scan3dCoordinates[i]; }
    bool& MutableSortX() { return m_Bridge.m_SortX; }
    // The int32 records by member name without the "m_" (selectors, modes, chunk payload, lines).
    int32_t& Record(std::string_view name)
    {
        Bridge& b = m_Bridge;
        for (auto [key, field] : {std::pair{"RegionSelector", &b.m_RegionSelector},
                                  {"ComponentSelector", &b.m_ComponentSelector},
                                  {"TriggerSelector", &b.m_TriggerSelector},
                                  {"LineSelector", &b.m_LineSelector},
                                  {"EncoderSelector", &b.m_EncoderSelector},
                                  {"Scan3dCoordinateSelector", &b.m_Scan3dCoordinateSelector},
                                  {"ChunkSelector", &b.m_ChunkSelector},
                                  {"DeviceTemperatureSelector", &b.m_DeviceTemperatureSelector},
                                  {"AcquisitionMode", &b.m_AcquisitionMode},
                                  {"Scan3dCoordinateSource", &b.m_Scan3dCoordinateSource},
                                  {"ChunkPayloadBytes", &b.m_ChunkPayloadBytes},
                                  {"ChunkCount", &b.m_ChunkCount},
                                  {"LinesPerImage", &b.m_LinesPerImage}})
            if (key == name)
                return *field;
        throw std::invalid_argument("no record " + std::string(name));
    }
    // A copy taken under the records' lock, as the image thread takes one per block.
    struct Records {
        std::array<ComponentRecord, 2> components;
        std::array<Scan3dCoordinateSettings, 3> scan3d;
        std::array<bool, 10> chunkEnabled;
        int32_t chunkPayloadBytes;
        int32_t chunkCount;
        int32_t coordinateSource;
    };
    Records LockedRecords() const
    {
        std::lock_guard lock(m_Bridge.m_RecordMutex);
        Records r{m_Bridge.m_Components, m_Bridge.m_Scan3dCoordinates, {}, m_Bridge.m_ChunkPayloadBytes,
                  m_Bridge.m_ChunkCount, m_Bridge.m_Scan3dCoordinateSource};
        for (size_t i = 0; i < r.chunkEnabled.size(); ++i)
            r.chunkEnabled[i] = m_Bridge.m_Chunks[i].m_Enabled;
        return r;
    }
    ScannerInfo LockedInfo() const { return m_Bridge.info(); }
    bool SavePointCloud() const { return m_Bridge.m_SavePointCloud; }
    void SetSavedScans(int32_t n) { m_Bridge.m_SavedScans = n; }
    int32_t SavedScans() const { return m_Bridge.m_SavedScans; }
    int64_t SoftwareTriggerTime() const { return m_Bridge.m_SoftwareTriggerTime; }
    uint32_t RunNumber() const { return m_Bridge.m_RunNumber; }

private:
    Bridge& m_Bridge;
};

}  // namespace lumabridge
