#pragma once
// Check of one whole frame (container or legacy frame) before it is used or stored.
#include <cstddef>
#include <cstdint>

namespace quillan::stream {

enum class FrameCheck {
    Ok,
    TooShort,         // fewer than 8 bytes: no room for a header
    TooLong,          // above 2 x BUFFERRXMAX
    BadCrc,           // CRC of bytes 0 .. length-5 differs from the big-endian u32 at length-4
    Type4,            // legacy type 4 is never accepted
    LengthOverLimit,  // the frame's own length field is above the largest frame
};

// Longest length that checkFrame looks at (2 x BUFFERRXMAX).
inline constexpr size_t kMaxCheckedLength = 0x1004000;

FrameCheck checkFrame(const uint8_t* frame, size_t length);

// Total length of a legacy frame from its first 6 bytes: 24 bits at offset 2, for
// type 7 the u32 at offset 2 with its top bit cleared.
uint32_t legacyFrameLength(const uint8_t* frame);

// The length field that checkFrame compares with the largest frame: the u32 at
// offset 4 of a container, the u32 at offset 2 of a legacy frame (type 7: top bit cleared).
uint32_t ownLengthField(const uint8_t* frame);

}  // namespace quillan::stream
