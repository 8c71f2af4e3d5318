#pragma once
// Texts that go into the GenICam description: cleaning, number formats and access names.
#include <cstdint>
#include <string>
#include <string_view>

namespace Kivu::XmlText {

// Text that an XML 1.0 parser accepts: C0 controls other than TAB, LF and CR
// are dropped, and every byte that is not part of a well-formed UTF-8
// sequence of an XML character becomes U+FFFD.
std::string Clean(std::string_view text);
// True when Clean would return the text unchanged.
bool IsClean(std::string_view text);

// Shortest text that reads back as the same float, '.' as decimal point in
// every locale; "INF", "-INF" and "NaN" for the special values.
std::string FormatFloat(float value);
// "0x" and upper-case hexadecimal digits without leading zeros.
std::string FormatHex(uint32_t value);

// Decimal, or hexadecimal after "0x"; an optional leading sign; nothing else.
bool ParseInt64(const char* text, int64_t& value);
bool ParseUInt64(const char* text, uint64_t& value);
bool ParseFloat(const char* text, float& value);

// "NA", "RO", "WO", "RW" for 0-3; other numbers raise
// std::logic_error("Unknown access value\n").
const char* AccessText(uint32_t access);
void CheckAccess(uint32_t access);
// The number of an access text; false for any other text.
bool AccessNumber(const char* text, uint32_t& access);

}  // namespace Kivu::XmlText
