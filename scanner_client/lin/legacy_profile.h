#pragma once
// Legacy profile frames (types 2 and 3): a fixed header, point data from byte
// 320 up to 64 bytes before the end, then a trailer.
#include "lin/decoded_profile.h"

#include <cstddef>
#include <cstdint>

namespace quillan {

// Fills the header values of `profile` from a legacy frame of `length` bytes.
// Fields that lie beyond the frame are left as they are.
void ParseProfileHeader(const uint8_t* frame, size_t length, DecodedProfile& profile);

// Clears `profile`, parses the header and decodes the points of a legacy
// profile frame. A frame too short for point data gives a decoded profile
// without columns.
void DecodeLegacyProfile(const uint8_t* frame, size_t length, DecodedProfile& profile);

}  // namespace quillan
