// The working configuration: the scanner's set-up commands, the linearization decision, and
// the selectors, parts, chunks and Scan3d coordinates the bridge starts from.
#include "bridge.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "command_builders.h"
#include "gev_camera.h"

namespace lumabridge {
namespace {

constexpr uint32_t kStopSettleMs = 1500;
constexpr uint32_t kHeartBeatMs = 3000;
constexpr size_t kChunkValues = 160000 / sizeof(uint32_t);

uint16_t bounded(int value, int max)
{
    return static_cast<uint16_t>(std::clamp(value, 0, max));
}

struct ChunkEntry {
    uint32_t id;
    const char* name;
    const char* displayName;
};

constexpr ChunkEntry kChunks[] = {
    {0xFFFFF0, "ChunkPictureCounter", "Chunk Picture Counter"},
    {0xFFFFF1, "ChunkTimestamp", "Chunk Timestamp"},
    {0xFFFFF2, "ChunkDeviceTemperature", "Chunk Device Temperature"},
    {0xFFFFF3, "ChunkLineStatusAll", "Chunk Line Status All"},
    {0xFFFFF4, "ChunkEncoderValue", "Chunk Encoder Value"},
    {0xFFFFF5, "ChunkScannerStatus", "Chunk Scanner Status"},
};

PartDescriptor part(uint8_t componentIndex, uint8_t key3, const char* format, uint16_t width, uint16_t height)
{
    PartDescriptor d;
    d.componentIndex = componentIndex;
    d.key1 = 0;
    d.key2 = 0;
    d.key3 = key3;
    d.width = width;
    d.height = height;
    d.dataType = PartDataType(format).value_or(0);
    d.pixelFormatName = format;
    return d;
}

}  // namespace

// Called with m_RecordMutex held. The value array is kept across calls: the image thread may
// still be writing the one it has.
void Bridge::InitChunkEntry(size_t index, uint32_t chunkId, const char* name, const char* displayName)
{
    ChunkRecord& chunk = m_Chunks[index];
    chunk.m_Name = name;
    chunk.m_DisplayName = displayName;
    chunk.m_ChunkId = chunkId;
    chunk.m_Enabled = false;
    chunk.m_BytesPerValue = 4;
    chunk.AllocateValues(kChunkValues);
}

void Bridge::ConfigureScanner(std::stop_token stop)
{
    const ScannerHandle handle = m_Handle;
    SendSetAcquisitionStop(m_Scanner, handle);
    if (!pause(kStopSettleMs, stop))
        return;
    SendSetSignalContentWidth0(m_Scanner, handle);
    SendSetEAInputLoadAll(m_Scanner, handle);
    SendSetHeartBeat(m_Scanner, handle, kHeartBeatMs);

    if (m_HardwareLinearization) {
        char value[10] = {};
        if (m_Scanner.ReadData(handle, "GetCheckLinearizationMode", value, sizeof value, 0) == 0) {
            value[sizeof value - 1] = '\0';
            if (std::strtol(value, nullptr, 10) != 0) {
                SendSetSignalContentReserved1(m_Scanner, handle);
                SendSetLinearizationMode1(m_Scanner, handle);
            }
        }
    } else {
        SendSetLinearizationMode0(m_Scanner, handle);
        SendSetSignalContentReserved0(m_Scanner, handle);
    }

    const ScannerInfo scanner = info();
    std::vector<PartDescriptor> enabledParts;
    {
        std::lock_guard lock(m_RecordMutex);
        m_SortX = false;
        m_AcquisitionMode = 1;
        m_ChunkSelector = 0;
        m_TriggerSelector = 0;
        m_EncoderSelector = 0;
        m_RegionSelector = 1;
        m_Scan3dCoordinateSource = 0;
        m_LineSelector = 0;
        m_ComponentSelector = 1;
        m_ChunkPayloadBytes = 0;
        m_ChunkCount = 0;

        const uint16_t width = bounded(scanner.m_Regions[0].m_Width, kMaxImageWidth);
        const uint16_t lines = bounded(scanner.m_Regions[1].m_Height, kMaxLinesPerImage);
        m_Components[0].m_Part = part(0, 1, "Mono10Packed", width, lines);
        m_Components[1].m_Part = part(1, 2, "Coord3D_ABC32f", width, lines);
        m_Components[1].m_Enabled = true;

        for (size_t i = 0; i < std::size(kChunks); ++i)
            InitChunkEntry(i, kChunks[i].id, kChunks[i].name, kChunks[i].displayName);

        m_Scan3dCoordinateSelector = 0;
        const double halfField = 0.5 * scanner.m_FieldWidthXEnd;
        m_Scan3dCoordinates[0] = {1.0f, 0.0f, false, 0.0f, static_cast<float>(-halfField),
                                  static_cast<float>(halfField)};
        m_Scan3dCoordinates[1] = {1.0f, 0.0f, false, 0.0f, 0.0f, 0.0f};
        m_Scan3dCoordinates[2] = {1.0f, 0.0f, true, 0.0f, static_cast<float>(scanner.m_WorkingRangeZStart),
                                  static_cast<float>(scanner.m_WorkingRangeZStart + scanner.m_MeasuringRangeZ)};

        for (const ComponentRecord& component : m_Components)
            if (component.m_Enabled)
                enabledParts.push_back(component.m_Part);
    }
    if (m_Camera)
        for (const PartDescriptor& enabled : enabledParts)
            m_Camera->UpdateImagePart(enabled);

    if (m_OrbalisMode || scanner.m_Regions[1].m_Height == 0)
        SendSetAmountProfilesY(m_Scanner, handle, 1);
}

}  // namespace lumabridge
