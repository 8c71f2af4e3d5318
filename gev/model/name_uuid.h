#pragma once
// Name-based UUIDs (version 5, SHA-1) as GUID texts.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Kivu {

using Uuid = std::array<uint8_t, 16>;

std::array<uint8_t, 20> Sha1(std::string_view data);
// The UUID of name within the name space ns.
Uuid NameUuid(const Uuid& ns, std::string_view name);
// 8-4-4-4-12 upper-case hexadecimal groups.
std::string UuidText(const Uuid& uuid);
std::optional<Uuid> ParseUuid(std::string_view text);

}  // namespace Kivu
