#pragma once
// Texts of the feature operations: numbers read from node texts, and texts
// handed out through const char**.
#include <cstdint>
#include <string>

namespace Kivu {

// The text, kept until the same thread's next call: what a const char** result points to.
const char* keepText(std::string text);

// A whole text as a number (base prefixes as strtoll and strtof take them); false leaves value.
bool parseInt64(const std::string& text, int64_t& value);
bool parseFloat(const std::string& text, float& value);

// Lowercase hexadecimal without prefix ("%x"), as port ids and addresses are written.
std::string hexText(uint64_t value);

// What the integer operations raise for a register that is neither 4 nor 8 bytes long.
inline constexpr const char* kUnknownRegisterLength = "Error: Unknown register length!";

}  // namespace Kivu
