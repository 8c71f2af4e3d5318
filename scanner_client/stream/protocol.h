#pragma once
// Magic words, block tags and size limits of the scanner's binary stream.
#include <cstddef>
#include <cstdint>

namespace quillan::stream {

inline constexpr uint32_t kContainerMagic = 0x021A01FF;
inline constexpr uint32_t kSyncContainerMagic = 0x021A0100;

inline constexpr uint32_t kTagProfileHeader = 0x021A0101;
inline constexpr uint32_t kTagStatistics = 0x021A0102;
inline constexpr uint32_t kTagXmlDescriptor = 0x021A0103;
inline constexpr uint32_t kTagRoiX = 0x021A0201;
inline constexpr uint32_t kTagRoiZ = 0x021A0202;
inline constexpr uint32_t kTagRegistersA = 0x021A0401;
inline constexpr uint32_t kTagRegistersB = 0x021A0402;
inline constexpr uint32_t kTagImage = 0x021A0501;
inline constexpr uint32_t kTagProfilePixel = 0x021A0601;
inline constexpr uint32_t kTagProfileLinearized = 0x021A0602;
inline constexpr uint32_t kTagEnd = 0x021AFFFF;

inline constexpr size_t kBlockHeaderSize = 8;
inline constexpr uint8_t kLegacyMarker = 0x19;

// Accumulation buffer of the parser (BUFFERRXMAX).
inline constexpr size_t kBufferRxMax = 8'396'800;
// Largest frame that is checked and stored.
inline constexpr size_t kMaxFrameLength = 4'198'400;
// Largest container (and type-8 frame) length accepted as a frame start.
inline constexpr size_t kMaxContainerLength = 0x400FFF;
// Frames of this length or shorter are never legacy frames.
inline constexpr size_t kMinLegacyLength = 385;
// Type-4 frames have this fixed length and are skipped unchecked.
inline constexpr size_t kType4Length = 262'400;
// The XML descriptor text is kept in a buffer of this size, terminator included.
inline constexpr size_t kXmlTextCapacity = 0x20000;

}  // namespace quillan::stream
