#pragma once
// The scanner's settings as descriptor paths and values; "Set<X>=v" commands change them.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scanner_sim/lin1dd.h"
#include "scanner_sim/status_blocks.h"

namespace scanner_sim {

// What the scanner reports about itself; also the defaults that "SetResetSettings" restores.
struct DeviceIdentity {
    std::string series = "KTRB";  // "KTRA" for 1280 columns
    std::string orderNumber;  // "" = series + "-" + sensor columns
    std::string productVersion = "2.1";
    std::string producer = "Lumabridge";
    std::string description = "Scanner simulator";
    std::string hardwareVersion = "1.4";
    std::string firmware = "1.2.0";
    std::string serialNumber = "12345678";
    std::string mac = "00-1A-2B-3C-4D-5E";
    std::string userString;  // as set by "SetUserString="
    int temperature = 41;  // degrees Celsius
    LinGeometry geometry;  // also the descriptor's working range, field width and sensor size
    int lineTime = 1000;  // default acquisitionlinetime, us
    int exposureTime = 100;  // default exposuretime, us
};

class SettingsModel {
public:
    explicit SettingsModel(DeviceIdentity identity = {});

    // Applies one text command ("SetExposureTime=50\r", with or without "\r"). Returns false for a
    // command that changes no setting (unknown names, values that are not numbers).
    bool Apply(std::string_view command);
    void Reset();  // the defaults of the identity

    // Full paths ("device:settings:exposuretime:current"); "" for an unknown path.
    std::string Value(const std::string& path) const;
    int IntValue(const std::string& path) const;  // atoi semantics
    void Set(const std::string& path, std::string value);  // adds the path when it is new
    void Remove(const std::string& path);  // leaves a key out of the descriptor

    bool LinearizationMode() const { return m_LinearizationMode; }
    const DeviceIdentity& Identity() const { return m_Identity; }

    // The descriptor document, elements nested by path, text escaped.
    std::string DescriptorXml() const;

    // The register and ROI fields of the current settings (counters stay 0).
    StatusFields Status() const;

private:
    void setInt(const std::string& path, long value) { Set(path, std::to_string(value)); }
    bool applyUserIo(int line, std::string_view name, std::string_view value);

    DeviceIdentity m_Identity;
    std::vector<std::pair<std::string, std::string>> m_Entries;  // in document order
    std::unordered_map<std::string, size_t> m_Index;
    bool m_LinearizationMode = false;
};

std::string escapeXml(std::string_view text);

}  // namespace scanner_sim
