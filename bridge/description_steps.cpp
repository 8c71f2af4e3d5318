// Going online, steps 5 and 6: the feature tree and the chunk features of the six chunk records.
#include "bridge.h"

#include <vector>

#include "feature_description.h"
#include "gev_camera.h"

namespace lumabridge {

void Bridge::DeclareFeatureTree(const ScannerInfo& scanner)
{
    bool sortX = false;
    {
        std::lock_guard lock(m_RecordMutex);
        m_DeviceTemperatureSelector = 0;
        sortX = m_SortX;
    }
    description::DeclareFeatureTree(*m_Camera, {scanner, m_OrbalisMode, sortX});
}

void Bridge::RegisterChunkFeatures()
{
    constexpr size_t kChunkFeatures = 6;
    std::vector<description::ChunkDeclaration> chunks;
    {
        std::lock_guard lock(m_RecordMutex);
        for (size_t i = 0; i < kChunkFeatures; ++i)
            chunks.push_back({m_Chunks[i].m_ChunkId, m_Chunks[i].m_Name, m_Chunks[i].m_DisplayName});
    }
    description::DeclareChunkFeatures(*m_Camera, chunks);
}

}  // namespace lumabridge
