#pragma once
// Legacy profile frames (types 2 and 3): a 320-byte header, the point data of the pixel layout,
// a 64-byte tail and the CRC.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scanner_sim/profile_container.h"

namespace scanner_sim {

// 320 + columns x echoes x bytes per echo + 64; the same for every frame of unchanged settings.
size_t legacyFrameLength(const ProfileSettings& settings);

// Header: +0 type, +1 0x19, +2 u24 length, +5 0, +6 u16 picture counter, +8 u32 time stamp,
// +12 u32 encoder (HTL when user I/O lines 1 and 2 both have function 5, else TTL), +23 u16
// headerWord23, +62/+63 status bytes 34/33 of the statistics block, +65/+67/+99 u16 width, offset,
// step X, +213 echo mask, +215 content flags, +290/+292/+294 u16 height, offset, step Z. Points from
// +320; at length - 64 a u32 0, at length - 14 / - 13 the temperature and status byte 35; the CRC
// in the last 4 bytes, most significant first.
std::string legacyProfileFrame(const ProfileSettings& settings, const ProfileCounters& counters, uint8_t type = 2);

}  // namespace scanner_sim
