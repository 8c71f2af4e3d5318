// The streamed image's geometry: part sizes, lines per image, chunk payload and the camera's
// region maps, brought in line with the scanner's cached ROI and lines per image.
#include "bridge.h"

#include <algorithm>
#include <vector>

#include "gev_camera.h"

namespace lumabridge {
namespace {

uint32_t nonNegative(int32_t value)
{
    return static_cast<uint32_t>(std::max(value, 0));
}

}  // namespace

int32_t Bridge::imageWidth(const ScannerInfo& scanner, int32_t lastWidth)
{
    const int64_t roiWidth = scanner.m_Regions[0].m_Width;
    int64_t width = lastWidth;
    if (scanner.m_SignalEnable == 1 || scanner.m_SignalEnable == 2)
        width = roiWidth;
    else if (scanner.m_SignalEnable == 3)
        width = 2 * roiWidth;  // both signals side by side
    return static_cast<int32_t>(std::clamp<int64_t>(width, 0, kMaxImageWidth));
}

void Bridge::UpdateRegionWidth()
{
    const ScannerInfo scanner = info();
    std::vector<PartDescriptor> enabledParts;
    uint16_t width = 0;
    bool apply = false;
    {
        std::lock_guard lock(m_RecordMutex);
        if (!m_AcquisitionStopped)
            return;
        width = static_cast<uint16_t>(imageWidth(scanner, m_Components[1].m_Part.width));
        apply = m_PartsChanged;
        for (ComponentRecord& component : m_Components) {
            apply |= component.m_Part.width != width;
            component.m_Part.width = width;
            if (component.m_Enabled)
                enabledParts.push_back(component.m_Part);
        }
        m_PartsChanged = false;
    }
    if (!m_Camera)
        return;
    m_Camera->SetRegionWidth(nonNegative(scanner.m_Regions[0].m_Width), 0, 0, 0);
    for (const PartDescriptor& part : enabledParts)
        m_Camera->UpdateImagePart(part);
    m_Camera->SetRegionWidth(width, 0, 1, 0);
    if (apply)
        m_Camera->ApplyRegionSettings(0);
}

void Bridge::UpdateLinesPerImage()
{
    const ScannerInfo scanner = info();
    const int32_t lines = std::clamp(scanner.m_Regions[1].m_Height, 1, kMaxLinesPerImage);
    std::vector<PartDescriptor> enabledParts;
    int32_t chunkBytes = 0;
    int32_t chunkCount = 0;
    bool apply = false;
    {
        std::lock_guard lock(m_RecordMutex);
        if (!m_AcquisitionStopped)
            return;
        apply = m_PartsChanged || m_LinesPerImage != lines;
        m_LinesPerImage = lines;
        for (ComponentRecord& component : m_Components) {
            apply |= component.m_Part.height != lines;
            component.m_Part.height = static_cast<uint16_t>(lines);
            if (component.m_Enabled)
                enabledParts.push_back(component.m_Part);
        }
        chunkCount = std::clamp(m_ChunkCount, 0, static_cast<int32_t>(m_Chunks.size()));
        m_ChunkPayloadBytes = chunkCount * lines * 4;
        chunkBytes = m_ChunkPayloadBytes;
        m_PartsChanged = false;
    }
    if (!m_Camera)
        return;
    m_Camera->SetRegionHeight(nonNegative(scanner.m_Regions[0].m_Height), 0, 0, 0);
    for (const PartDescriptor& part : enabledParts)
        m_Camera->UpdateImagePart(part);
    m_Camera->SetRegionHeight(static_cast<uint32_t>(lines), 0, 1, 0);
    m_Camera->SetChunkPayloadSize(nonNegative(chunkBytes), nonNegative(chunkCount), 0);
    if (apply)
        m_Camera->ApplyRegionSettings(0);
}

}  // namespace lumabridge
