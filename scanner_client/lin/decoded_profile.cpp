#include "lin/decoded_profile.h"

#include <algorithm>

namespace quillan {

void ClearDecodedProfile(DecodedProfile& profile)
{
    ResetProfileHeader(profile);
    ClearProfileColumns(profile);
}

void ResetProfileHeader(DecodedProfile& profile)
{
    static_cast<ProfileHeader&>(profile) = ProfileHeader{};
}

void ClearProfileColumns(DecodedProfile& profile, int keepColumns, uint8_t keepSlots)
{
    const int used = std::clamp(profile.columnCount, 0, kMaxProfileColumns);
    const int kept = std::clamp(keepColumns, 0, used);
    for (int j = 0; j < kMaxEchoes; ++j) {
        if (!(profile.echoSlotsUsed & (1u << j)))
            continue;
        for (int c = (keepSlots & (1u << j)) ? kept : 0; c < used; ++c)
            profile.columns[c].echoes[j] = EchoPoint{};
    }
    if (profile.rawUsed)
        for (int c = 0; c < used; ++c)
            std::fill(profile.columns[c].raw, profile.columns[c].raw + kMaxEchoes, RawSamples{});
    profile.columnCount = 0;
    profile.echoSlotsUsed = 0;
    profile.rawUsed = false;
}

void SetProfileRoi(ProfileHeader& h, uint16_t offsetX, uint16_t widthX, uint16_t stepX, uint16_t offsetZ,
                   uint16_t heightZ, uint16_t stepZ)
{
    constexpr int kLimit = kMaxProfileColumns;
    h.offsetX = offsetX;
    h.stepX = stepX;
    h.widthX = std::min<int>(widthX, kLimit);
    h.offsetZ = offsetZ;
    h.stepZ = stepZ;
    h.heightZ = (heightZ == 0 || heightZ >= kLimit) ? kLimit : heightZ;

    h.effWidthX = h.widthX == 0 ? 1 : h.widthX;
    h.effHeightZ = h.heightZ;
    h.effOffsetX = offsetX < kLimit ? offsetX : 0;
    h.effOffsetZ = offsetZ < kLimit ? offsetZ : 0;
    h.effStepX = stepX < kLimit - 1 ? stepX : 0;
    h.effStepZ = stepZ < kLimit - 1 ? stepZ : 0;
}

}  // namespace quillan
