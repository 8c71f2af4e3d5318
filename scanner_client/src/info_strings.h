#pragma once
// Values of the scanner's XML descriptor, one text slot per key path.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quillan {

// Slots that combine the state keys of several lines into one bit mask.
inline constexpr char kUserIoStatesSlot[] = "device:general:usrio:state";
inline constexpr char kTtlRs422StatesSlot[] = "device:general:ttl_rs422:state";

// The keys read from a descriptor, in reading order (combined state keys excluded).
const std::vector<std::string>& descriptorKeys();

// Firmware version text as a number: cut at '-', 'r' or 'c', dots removed ("1.1.2-rc4" -> 112).
int firmwareNumber(const std::string& version);
// Old firmware of the KTRB series sends strength and width in the other byte order.
bool strengthWidthByteOrder(const std::string& firmwareVersion, const std::string& orderNumber);

class InfoStrings {
public:
    // Parses the NUL-terminated descriptor; false (nothing changed) when it is not well-formed XML.
    // Keys missing from the text keep their earlier values.
    bool parse(const char* text, uint32_t tick);

    // The slot's text; empty when never received.
    std::string get(const std::string& key) const;
    bool has(const std::string& key) const;
    bool strengthWidthByteOrder() const;
    uint32_t lastParseTick() const;
    bool everParsed() const;

private:
    mutable std::mutex m_Mutex;
    std::map<std::string, std::string> m_Slots;
    bool m_ByteOrder = false;
    bool m_Parsed = false;
    uint32_t m_LastParseTick = 0;
};

}  // namespace quillan
