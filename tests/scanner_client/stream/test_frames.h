#pragma once
// Byte builders for stream tests: containers and legacy frames laid out field by field.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace testframes {

using Bytes = std::vector<uint8_t>;

Bytes fromHex(std::string_view hex);

void putLE16(Bytes& b, size_t offset, uint16_t v);
void putLE32(Bytes& b, size_t offset, uint32_t v);

// A block of `length` bytes (header included) with a zero body.
Bytes block(uint32_t tag, size_t length);
// A block whose body is `body`.
Bytes block(uint32_t tag, const Bytes& body);
// The profile header block: 52 bytes with picture counter and time stamp.
Bytes headerBlock(uint16_t counter, uint32_t stamp);
// Container of the blocks, its total length at offset 4, closed by the end block with its CRC.
Bytes container(std::initializer_list<Bytes> blocks);
// Container whose end block CRC is computed but whose total length field is `total`.
Bytes containerWithTotal(std::initializer_list<Bytes> blocks, uint32_t total);
// The golden profile container layout with the given counter and time stamp.
Bytes profileContainer(uint16_t counter, uint32_t stamp);
// The golden image container layout.
Bytes imageContainer(uint16_t counter, uint32_t stamp);
// Legacy frame of `type` and `length`, counter and time stamp at 6 and 8, body pattern, CRC.
Bytes legacyFrame(uint8_t type, uint32_t length, uint16_t counter = 0, uint32_t stamp = 0);
// Rewrites the trailing CRC after the bytes were changed.
void resealCrc(Bytes& frame);

Bytes concat(std::initializer_list<Bytes> parts);

}  // namespace testframes
