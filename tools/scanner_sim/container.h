#pragma once
// Containers: magic, total length, tagged blocks and an end block carrying the CRC.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scanner_sim {

constexpr uint32_t kContainerMagic = 0x021A01FF;
constexpr uint32_t kSyncContainerMagic = 0x021A0100;
constexpr uint32_t kEndTag = 0x021AFFFF;
constexpr uint32_t kXmlTag = 0x021A0103;
// The client takes at most this many bytes of XML text plus its NUL.
constexpr size_t kMaxXmlWithNul = 0x20000;

struct Block {
    uint32_t tag = 0;
    std::string body;  // without the 8 header bytes
};

std::string buildContainer(const std::vector<Block>& blocks, uint32_t magic = kContainerMagic);

// The text and a NUL in block 0x021A0103; throws std::length_error above kMaxXmlWithNul.
std::string xmlContainer(std::string_view text);

// The answer to "SetRequestSyncContainer\r": 20 bytes, an end block only.
std::string syncContainer();

}  // namespace scanner_sim
