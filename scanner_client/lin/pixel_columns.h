#pragma once
// Point data of the pixel layouts (legacy frames and pixel profile blocks):
// per column, for each echo of the mask, the present fields one after the
// other, optionally followed by raw samples.
#include "lin/decoded_profile.h"

#include <cstddef>
#include <cstdint>

namespace quillan {

struct PixelColumnLayout {
    uint8_t echoMask = 0;      // echoes decoded, bits 0-3
    bool hasZ = false, hasStrength = false, hasWidth = false, hasReserved = false;
    // Bytes by which each present field advances the data offset.
    size_t zBytes = 0, strengthBytes = 0, widthBytes = 0, reservedBytes = 0;
    bool rawPresent = false;
    bool rawPerEcho = false;   // samples after each echo, else 4 x 10 interleaved bytes after the column
    size_t rawBytes = 0;       // advance per echo's samples

    size_t columnBytes() const;
};

// Decodes columns from `offset` on, while fewer than 2048 are decoded and the
// offset is below `loopEnd`. Bytes are read only below `readEnd`; with
// `wholeColumns` a column is decoded only when it ends at or before `readEnd`.
// The columns of `profile` may still hold an earlier profile: whatever this
// decode does not overwrite is cleared (see ClearProfileColumns). Sets
// columnCount, echoSlotsUsed and rawUsed.
void DecodePixelColumns(const uint8_t* data, size_t offset, size_t loopEnd, size_t readEnd, bool wholeColumns,
                        const PixelColumnLayout& layout, DecodedProfile& profile);

}  // namespace quillan
