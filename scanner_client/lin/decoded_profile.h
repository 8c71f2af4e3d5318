#pragma once
// The decoded form of one profile: header values of the frame and up to 2048
// columns of up to four echoes each.
#include <cstdint>

namespace quillan {

inline constexpr int kMaxProfileColumns = 2048;
inline constexpr int kMaxEchoes = 4;
inline constexpr int kRawSampleCount = 8;

struct EchoPoint {
    bool valid = false;
    int32_t zRaw = 0;       // sensor row in 1/32 pixel (pixel layouts)
    double zPixel = 0.0;    // zRaw / 32 for pixel layouts; the raw value for the linearized layout
    double peak = 0.0;      // sub-pixel peak row from the raw samples, 0.0 when there is none
    int32_t strength = 0;   // 10 bits
    int32_t width = 0;      // 6 bits
    int32_t reserved = 0;
    double xMm = 0.0;
    double zMm = 0.0;
};

struct RawSamples {
    bool valid = false;
    int32_t samples[kRawSampleCount] = {};  // 10 bits each
};

// Each column starts a cache line, so echo slot 0 lies in one line.
struct alignas(64) ProfileColumn {
    EchoPoint echoes[kMaxEchoes];
    RawSamples raw[kMaxEchoes];
};

// Everything of a decoded profile except the columns.
struct ProfileHeader {
    bool decoded = false;
    bool linearizedLayout = false;  // the profile came as a linearized block
    uint8_t statusBytes[4] = {};    // kept as received
    uint16_t headerWord190 = 0;     // kept as received
    uint16_t headerWord23 = 0;      // kept as received
    int32_t echoCount = 0;
    uint32_t encoder = 0;
    uint32_t pictureCounter = 0;
    uint8_t ioBits = 0;
    bool hasZ = false;
    bool hasX = false;
    bool hasStrength = false;
    bool hasWidth = false;
    bool hasReserved = false;
    bool rawPerEcho = false;
    int32_t maxColumns = 0;
    // Region of interest as received, widthX and heightZ clamped.
    int32_t widthX = 0, offsetX = 0, stepX = 0;
    int32_t heightZ = 0, offsetZ = 0, stepZ = 0;
    uint32_t trailerValue = 0;      // legacy frames only, kept as received
    // Region of interest as used for the conversion to millimetres.
    int32_t effWidthX = 0, effHeightZ = 0, effOffsetX = 0, effOffsetZ = 0, effStepX = 0, effStepZ = 0;
};

// About 790 KB: allocate it once per reader and reuse it for every profile.
// Only the columns below columnCount, and in them only the echo slots of
// echoSlotsUsed and (with rawUsed) the raw samples, may hold non-zero values;
// the decoders keep that invariant, which lets ClearDecodedProfile and the
// readers touch only what a profile uses.
struct DecodedProfile : ProfileHeader {
    ProfileColumn columns[kMaxProfileColumns];
    int32_t columnCount = 0;
    uint8_t echoSlotsUsed = 0;  // bit j: echo slot j may be written in some column
    bool rawUsed = false;       // raw samples may be written in some column
};

// Zeroes every header value and all columns.
void ClearDecodedProfile(DecodedProfile& profile);

// The two halves of ClearDecodedProfile, for decoders that overwrite whole
// echo slots: ResetProfileHeader zeroes the header values only, and
// ClearProfileColumns zeroes all columns except, when given, echo slots
// `keepSlots` of the first `keepColumns` columns, which the caller is about
// to overwrite whole. Either way columnCount, echoSlotsUsed and rawUsed
// become 0. A decoder calls ClearProfileColumns before it writes a column.
void ResetProfileHeader(DecodedProfile& profile);
void ClearProfileColumns(DecodedProfile& profile, int keepColumns = 0, uint8_t keepSlots = 0);

// Stores the region of interest as received and derives the values used for
// the conversion: widths and heights of 2048 or more become 2048 (a height of
// 0 too), effWidthX is at least 1, offsets of 2048 or more count as 0 and
// steps of 2047 or more as 0.
void SetProfileRoi(ProfileHeader& header, uint16_t offsetX, uint16_t widthX, uint16_t stepX, uint16_t offsetZ,
                   uint16_t heightZ, uint16_t stepZ);

}  // namespace quillan
