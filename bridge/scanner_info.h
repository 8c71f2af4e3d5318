#pragma once
// What the scanner reports about itself and its settings, read from its XML descriptor, and its
// I/O configuration translated into the trigger, line and encoder model of the features.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner_api.h"

namespace lumabridge {

// Trigger sources as stored: 0 off, 1..4 Line1..Line4, 5 Encoder1, 6 Encoder2, 7 Software, 8 off.
// Activations: 0 none, 1 RisingEdge, 2 FallingEdge, 3 LevelHigh, 4 LevelLow.
struct TriggerSettings {
    bool m_Mode = false;
    int32_t m_Source = 0;
    int32_t m_Delay = 0;  // us
    int32_t m_Divider = 0;
    int32_t m_Activation = 0;

    bool operator==(const TriggerSettings&) const = default;
};
enum TriggerSelectorIndex { kLineStart = 0, kFrameStart = 1, kAcquisitionActive = 2 };

struct LineSettings {
    int32_t m_Mode = 0;  // 0 input, 1 output
    bool m_State = false;
    int32_t m_Source = 0;
    int32_t m_OutputFunction = 0;
    bool m_UserOutputValue = false;
    bool m_Inverter = false;
    bool m_InputLoad = false;

    bool operator==(const LineSettings&) const = default;
};

struct EncoderSettings {
    int32_t m_OutputMode = 0;
    int32_t m_ResetSource = 0;  // line 1..4, 0 none
    int32_t m_ResetActivation = 0;
    uint32_t m_Value = 0;

    bool operator==(const EncoderSettings&) const = default;
};

struct RegionSettings {
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    int32_t m_OffsetX = 0;
    int32_t m_OffsetY = 0;

    bool operator==(const RegionSettings&) const = default;
};

struct SettingLimits {
    int32_t m_Min = 0;
    int32_t m_Max = 0;

    bool operator==(const SettingLimits&) const = default;
};

// Bits of ScannerInfo::m_FunctionMask.
constexpr uint8_t kFunctionLaserOff = 1;
constexpr uint8_t kFunctionProfileEnable = 2;
constexpr uint8_t kFunctionResetCounter = 4;

struct ScannerInfo {
    std::string m_OrderNumber;
    std::string m_ProductVersion;
    std::string m_Producer;
    std::string m_Description = "2D/3D profile sensors";
    std::string m_HardwareVersion = "....";
    std::string m_FirmwareVersion = "....";
    std::string m_MacAddress = "AB-AC-AD-AE-AF-00";
    std::string m_SerialNumber = "....";
    std::string m_UserString;
    std::string m_Series = "....";  // "KTRA" or "KTRB" once known
    // Version digits run together ("1.2.0" -> 120); use FirmwareAtLeast for comparisons.
    int32_t m_FirmwareNumber = 0;

    int32_t m_PixelXMax = 2048;
    int32_t m_PixelZMax = 2048;
    int32_t m_RoiHeightMin = 0;
    int32_t m_RoiWidthMin = 0;
    double m_WorkingRangeZStart = 0;  // mm
    double m_MeasuringRangeZ = 0;
    double m_FieldWidthXStart = 0;
    double m_FieldWidthXEnd = 0;
    double m_PixelXMaxReal = 2048;
    double m_PixelZMaxReal = 2048;

    int32_t m_ExposureTime = 0;  // us
    int32_t m_AcquisitionLineTime = 0;  // us
    int32_t m_SyncOut = 0;
    int32_t m_SyncOutDelay = 0;
    int32_t m_SignalWidthMin = 0;
    int32_t m_SignalWidthMax = 0;
    int32_t m_SignalStrengthMin = 0;
    uint8_t m_SignalEnable = 0;
    uint8_t m_SignalSelection = 0;
    SettingLimits m_SignalWidthMinLimits;
    SettingLimits m_SignalWidthMaxLimits;
    SettingLimits m_SignalStrengthMinLimits;
    int32_t m_DeviceTemperature = 0;

    // 0: the sensor ROI; 1: the image (width = ROI width, height = profiles per image).
    std::array<RegionSettings, 2> m_Regions{};

    // Per line 1..4 at index 0..3.
    std::array<int32_t, 4> m_EaFunction{};
    std::array<uint8_t, 4> m_FunctionMask{};  // kFunction* bits
    std::array<int32_t, 4> m_ResetSignalEdge{};
    std::array<LineSettings, 4> m_Lines{};
    uint32_t m_LineStateMask = 0;  // bit n-1: state of line n

    std::array<TriggerSettings, 3> m_Triggers{};  // by TriggerSelectorIndex
    std::array<EncoderSettings, 2> m_Encoders{};
    int32_t m_TriggerSource = 0;  // the scanner's own: -1 amount-driven, 0 off, 1 line, 2 encoder, 3 software
    int32_t m_TriggerAmountProfilesY = 0;

    uint32_t m_MaxLineRate = 0;  // Hz; set by the series
    uint32_t m_ExposureOverhead = 2;  // us
    bool m_IntensityEnabled = false;
    uint32_t m_LastRefreshMs = 0;

    bool operator==(const ScannerInfo&) const = default;
};

// Commands a parse asks for; UpdateScannerInfo sends them in order.
struct InfoCommand {
    enum Kind { TriggerAmountProfilesY0, TriggerSource0, ClearEAFunctions } m_Kind;
    unsigned m_Line = 0;  // ClearEAFunctions: 1..4

    bool operator==(const InfoCommand&) const = default;
};

enum class InfoStatus {
    Ok,
    ReceiveError,  // no descriptor from the scanner
    XmlError,  // not a well-formed document
    MissingKey,  // the values before the missing key are updated
    BadNumber,  // an encoder value without digits: nothing is updated
};

// Reads the descriptor's values into info and translates the I/O configuration. Returns false
// with *status saying why. The commands the configuration calls for are appended to *commands,
// also those decided before a missing key. Never throws. Leaves m_LastRefreshMs alone.
bool ParseScannerInfo(const char* xml, ScannerInfo& info, std::vector<InfoCommand>* commands = nullptr,
                      InfoStatus* status = nullptr);

// Sends the commands of a parse through the builders.
void SendInfoCommands(ScannerApi& scanner, ScannerHandle handle, const std::vector<InfoCommand>& commands);

// Fetches the descriptor (GetInfo "xml"), parses it, sends the commands the parse asks for and,
// on success, stamps m_LastRefreshMs. The caller serialises calls (the bridge's info mutex).
bool UpdateScannerInfo(ScannerApi& scanner, ScannerHandle handle, Clock& clock, ScannerInfo& info,
                       InfoStatus* status = nullptr);

// Compares a firmware version text numerically part by part with major.minor.patch, after
// cutting it before the first '-', 'r' or 'c' ("1.1.10" is below 1.2.0, "1.2.0-rc1" is 1.2.0).
bool FirmwareAtLeast(const std::string& version, int major, int minor, int patch);

// Maximum line rate (Hz) of a series "KTRA" or "KTRB" for a ROI; nullopt for another series.
std::optional<uint32_t> SeriesMaxLineRate(const std::string& series, uint32_t roiWidth, uint32_t roiHeight);

}  // namespace lumabridge
