#include "scanner_sim/container.h"

#include <stdexcept>

#include "scanner_sim/byte_buffer.h"
#include "scanner_sim/crc32_mpeg2.h"

namespace scanner_sim {

std::string buildContainer(const std::vector<Block>& blocks, uint32_t magic)
{
    size_t total = 8 + 12;
    for (const Block& b : blocks)
        total += 8 + b.body.size();
    std::string out;
    out.reserve(total);
    append32(out, magic);
    append32(out, static_cast<uint32_t>(total));
    for (const Block& b : blocks) {
        append32(out, b.tag);
        append32(out, static_cast<uint32_t>(8 + b.body.size()));
        out += b.body;
    }
    append32(out, kEndTag);
    append32(out, 12);
    appendCrc(out);
    return out;
}

std::string xmlContainer(std::string_view text)
{
    if (text.size() + 1 > kMaxXmlWithNul)
        throw std::length_error("scanner_sim: XML text of " + std::to_string(text.size()) + " bytes is too long");
    std::string body(text);
    body.push_back('\0');
    return buildContainer({Block{kXmlTag, std::move(body)}});
}

std::string syncContainer() { return buildContainer({}, kSyncContainerMagic); }

}  // namespace scanner_sim
