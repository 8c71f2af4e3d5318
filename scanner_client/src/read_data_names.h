#pragma once
// The value names of ReadData: where each one is answered from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillan {

struct ReadDataName {
    int statusField = -1;       // field of the status record (cache -1), or -1
    std::string descriptorKey;  // descriptor slot (cache >= 0), or empty
    uint32_t blockTag = 0;      // raw block of the last container (cache -1), or 0
};

// Matches the whole name, case-sensitively, as Name or "Get" + Name.
std::optional<ReadDataName> lookupReadDataName(std::string_view name);

}  // namespace quillan
