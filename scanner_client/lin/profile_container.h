#pragma once
// Decoder of the scanner's binary containers (magic 0x021A01FF): a total
// length and tagged blocks {u32 tag, u32 length with header, body}.
//
// The decoder keeps a copy of the last status, region and scale blocks it
// walked; their values also serve later containers that lack those blocks.
// One decoder per connection; calls must not overlap (the caller serialises
// them), and reset() at every (re)connection forgets the kept blocks.
#include "lin/decoded_profile.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillan {

enum ContainerTag : uint32_t {
    kContainerMagic = 0x021A01FF,
    kTagGeneral = 0x021A0101,
    kTagStatic = 0x021A0102,
    kTagRoiX = 0x021A0201,
    kTagRoiZ = 0x021A0202,
    kTagCameraRegistersA = 0x021A0301,
    kTagCameraRegistersB = 0x021A0302,
    kTagFpgaRegistersA = 0x021A0401,
    kTagFpgaRegistersB = 0x021A0402,
    kTagImage = 0x021A0501,
    kTagPixelProfile = 0x021A0601,
    kTagLinearizedProfile = 0x021A0602,
    kTagProfileScale = 0x021A0801,
    kTagEnd = 0x021AFFFF,
};

struct ContainerDecodeResult {
    bool isImage = false;
    // Where the image block lies in the container (header included), at most
    // 0x400010 bytes; valid while the container's bytes are.
    size_t imageBlockOffset = 0;
    size_t imageBlockLength = 0;
};

class ProfileContainerDecoder {
public:
    // Decodes a container of `length` bytes into `profile`, which is cleared
    // first in every case. profile.decoded is set only for a well-formed
    // container with a profile block. `strengthWidthByteOrder` selects the
    // packing of strength and width in linearized profiles (from the scanner's
    // descriptor).
    ContainerDecodeResult decode(const uint8_t* bytes, size_t length, bool strengthWidthByteOrder,
                                 DecodedProfile& profile);

    // Forgets every kept block.
    void reset() { *this = ProfileContainerDecoder{}; }

private:
    template <size_t N>
    struct Kept {
        bool present = false;
        size_t length = 0;
        std::array<uint8_t, N> bytes{};

        void keep(const uint8_t* block, size_t blockLength);
        uint8_t u8(size_t at) const { return at < length ? bytes[at] : 0; }
        uint16_t u16(size_t at) const;
        uint32_t u32(size_t at) const;
        bool has(size_t at, size_t n) const { return at <= length && n <= length - at; }
    };

    void applyHeaderBlocks(DecodedProfile& profile) const;
    void decodePixelBlock(const uint8_t* block, size_t size, DecodedProfile& profile) const;
    void decodeLinearizedBlock(const uint8_t* block, size_t size, bool byteOrder, DecodedProfile& profile) const;

    Kept<44> m_General;
    Kept<60> m_Static;
    Kept<60> m_RoiX;
    Kept<64> m_RoiZ;
    Kept<520> m_FpgaA;
    Kept<520> m_FpgaB;
    Kept<32> m_Scale;
};

}  // namespace quillan
