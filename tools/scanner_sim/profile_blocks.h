#pragma once
// The profile blocks of a profile container: pixel layout, linearized layout and its scale block.
#include <cstdint>
#include <vector>

#include "scanner_sim/container.h"
#include "scanner_sim/profile_surface.h"

namespace scanner_sim {

constexpr uint32_t kPixelProfileTag = 0x021A0601;
constexpr uint32_t kLinearizedProfileTag = 0x021A0602;
constexpr uint32_t kProfileScaleTag = 0x021A0801;

// Content bits: 0 Z, 1 strength, 2 width, 3 reserved; 0 means all four.
constexpr uint8_t kContentZ = 1, kContentStrength = 2, kContentWidth = 4, kContentReserved = 8;
uint8_t presentFields(uint8_t content);  // the content bits, with 0 read as all four

int echoCount(uint8_t echoMask);  // bits set among bits 0-3

// Block 0x021A0601. points holds, per column, one value per echo of the mask (lowest bit first).
// Per echo: Z u16, strength u8 = s >> 2, width u8 = (s & 3) << 6 | w, reserved u16, each when present.
Block pixelProfileBlock(uint8_t echoMask, uint8_t content, const std::vector<EchoValue>& points);

struct LinearizedPoint {
    uint16_t z = 0;
    uint16_t strength = 0;  // 10 bits
    uint8_t width = 0;  // 6 bits
    uint16_t x = 0;

    bool operator==(const LinearizedPoint&) const = default;
};

// Block 0x021A0602, one echo per column. Every element: Z u16, then strength and width (a u16 when
// both are present, else the one present as a byte), then X u16. The u16 is strength << 6 | width,
// or with swappedStrengthWidth (s >> 2) | w << 8 | (s & 3) << 14.
Block linearizedProfileBlock(uint8_t content, bool swappedStrengthWidth, const std::vector<LinearizedPoint>& points);

struct ProfileScale {
    float xScale = 1.0f / 256;  // mm = scale x raw + offset
    float xOffset = -128;
    float zScale = 1.0f / 64;
    float zOffset = 0;

    bool operator==(const ProfileScale&) const = default;
};

// Block 0x021A0801, 32 bytes: f32 X scale, X offset, Z scale, Z offset at +8, +12, +16, +20.
Block profileScaleBlock(const ProfileScale& scale);

}  // namespace scanner_sim
