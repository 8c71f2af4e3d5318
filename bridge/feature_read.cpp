// The feature read handler: a refresh of stale scanner information, then the value the bridge
// holds for the feature written into the camera, so that the reader gets the scanner's setting.
#include "bridge.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <type_traits>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "gev_camera.h"

namespace lumabridge {
namespace {

// Information older than this is fetched again before a read, while acquisition is stopped.
constexpr uint32_t kRefreshAfterMs = 1000;

// What a read writes: an integer (also booleans and enumerations), a float or a string.
using FeatureValue = std::variant<int64_t, float, std::string>;
using ValueResult = std::optional<FeatureValue>;

bool refreshesOnRead(std::string_view name)
{
    return name != "PayloadSize" && name != "AcquisitionStop" && name != "AcquisitionStart" && name != "ChunkEnable";
}

// The record a selector picks; null for a selector outside the records.
template <typename Records>
auto selected(Records& records, int32_t selector) -> decltype(&records[0])
{
    if (selector < 0 || static_cast<size_t>(selector) >= records.size())
        return nullptr;
    return &records[static_cast<size_t>(selector)];
}

template <typename Record, typename Field>
ValueResult fieldOf(const Record* record, Field Record::*field)
{
    if (!record)
        return std::nullopt;
    const auto& value = record->*field;
    if constexpr (std::is_floating_point_v<std::decay_t<decltype(value)>>)
        return ValueResult(std::in_place, std::in_place_type<float>, static_cast<float>(value));
    else
        return ValueResult(std::in_place, std::in_place_type<int64_t>, static_cast<int64_t>(value));
}

// Built in place: g++ 12 with the sanitizers reports a moved variant's string as uninitialised.
ValueResult integer(int64_t value)
{
    return ValueResult(std::in_place, std::in_place_type<int64_t>, value);
}

ValueResult real(double value)
{
    return ValueResult(std::in_place, std::in_place_type<float>, static_cast<float>(value));
}

ValueResult text(const std::string& value)
{
    return ValueResult(std::in_place, std::in_place_type<std::string>, value);
}

// A Scan3d limit (0 ScaleMin, 1 ScaleMax, 2 OffsetMin, 3 OffsetMax) for a coordinate and the
// range part's pixel format; nullopt where the format (or coordinate) names none.
std::optional<double> scan3dLimit(int32_t coordinate, size_t limit, std::string_view format,
                                  const ScannerInfo& scanner, const Scan3dCoordinateSettings& coordinateA)
{
    const bool rgb16 = format == "RGB16";
    const bool mono16 = format == "Mono16";
    const bool unscaled = format == "Coord3D_ABC32f" || format == "Mono8";
    const bool scale = limit < 2;
    switch (coordinate) {
    case 0:
        if (scale) {
            if (rgb16)
                return scanner.m_FieldWidthXEnd / 65535.0;
            if (unscaled)
                return 1.0;
            if (mono16)
                return limit == 0 ? 0.0 : 1.0;
        } else {
            if (rgb16 || mono16)
                return limit == 2 ? coordinateA.axisMin : coordinateA.axisMax;
            if (unscaled)
                return 0.0;
        }
        return std::nullopt;
    case 1: {
        constexpr double kCoordinateB[] = {0.0, 10000.0, -10000.0, 10000.0};
        return kCoordinateB[limit];
    }
    case 2:
        if (rgb16 || mono16)
            return scale ? scanner.m_MeasuringRangeZ / 65535.0 : scanner.m_WorkingRangeZStart;
        if (unscaled)
            return scale ? 1.0 : 0.0;
        return std::nullopt;
    default: return std::nullopt;
    }
}

std::string logText(const FeatureValue& value)
{
    if (const int64_t* i = std::get_if<int64_t>(&value))
        return std::to_string(*i);
    if (const float* f = std::get_if<float>(&value)) {
        std::ostringstream text;
        text << *f;
        return text.str();
    }
    return std::get<std::string>(value);
}

}  // namespace

bool Bridge::OnFeatureRead(const std::string& featureName)
{
    refreshBeforeRead(featureName);
    std::string line = "Read " + featureName;
    if (const std::optional<std::string> value = readValue(featureName))
        line += " = " + *value;
    m_Console.DebugOutput(line + "\n");
    return true;
}

void Bridge::refreshBeforeRead(const std::string& featureName)
{
    if (!m_AcquisitionStopped || !refreshesOnRead(featureName))
        return;
    uint32_t lastRefresh = 0;
    {
        std::lock_guard lock(m_InfoMutex);
        lastRefresh = m_Info.m_LastRefreshMs;
    }
    // Unsigned: the tick count may wrap between the two.
    if (static_cast<uint32_t>(m_Clock.NowMs() - lastRefresh) <= kRefreshAfterMs)
        return;
    m_UpdateFeatures = false;
    m_Console.DebugOutput("\nUpdating Data\n");
    UpdateScannerInfo();
}

std::optional<std::string> Bridge::readValue(const std::string& featureName)
{
    const bool stopped = m_AcquisitionStopped;
    const auto regionSelector = [this] {
        std::lock_guard lock(m_RecordMutex);
        return m_RegionSelector;
    };

    // The geometry: region maps and parts, changed only while acquisition is stopped.
    if (featureName == "PayloadSize")
        return m_Camera ? std::optional(std::to_string(m_Camera->GetPayloadSize(0))) : std::nullopt;
    if (featureName == "PixelFormat") {
        std::optional<std::string> format;
        bool apply = false;
        {
            std::lock_guard lock(m_RecordMutex);
            if (const ComponentRecord* component = selected(m_Components, m_ComponentSelector))
                format = component->m_Part.pixelFormatName;
            if (stopped) {
                apply = m_PartsChanged;
                m_PartsChanged = false;
            }
        }
        if (!m_Camera)
            return std::nullopt;
        if (stopped && format)
            m_Camera->SetRegionPixelFormat(format->c_str(), 0, 0, 0);
        if (apply)
            m_Camera->ApplyRegionSettings(0);
        const char* name = m_Camera->GetPixelFormatName(0);
        return std::string(name ? name : "");
    }
    if (featureName == "Width") {
        UpdateRegionWidth();
        if (regionSelector() == 0)
            return std::to_string(info().m_Regions[0].m_Width);
        std::lock_guard lock(m_RecordMutex);
        return std::to_string(m_Components[1].m_Part.width);
    }
    if (featureName == "Height") {
        UpdateLinesPerImage();
        if (regionSelector() == 0)
            return std::to_string(info().m_Regions[0].m_Height);
        std::lock_guard lock(m_RecordMutex);
        return std::to_string(m_LinesPerImage);
    }
    if (featureName == "OffsetX" || featureName == "OffsetY") {
        const bool x = featureName == "OffsetX";
        const RegionSettings roi = info().m_Regions[0];
        const int32_t offset = std::max(x ? roi.m_OffsetX : roi.m_OffsetY, 0);
        if (m_Camera && stopped) {
            const auto set = x ? &CGevCamera::SetRegionOffsetX : &CGevCamera::SetRegionOffsetY;
            (m_Camera->*set)(static_cast<uint32_t>(offset), 0, 0, 0);
            (m_Camera->*set)(0, 0, 1, 0);  // the image is never offset
        }
        return std::to_string(regionSelector() == 0 ? offset : 0);
    }

    // Values from the cached scanner information and the records, in the feature's own type;
    // they run with m_RecordMutex held.
    using ValueOf = ValueResult (*)(Bridge&, const ScannerInfo&);
    static constexpr auto scan3dLimitValue = [](Bridge& b, size_t limit, const ScannerInfo& s) {
        if (const std::optional<double> computed =
                scan3dLimit(b.m_Scan3dCoordinateSelector, limit, b.m_Components[1].m_Part.pixelFormatName, s,
                            b.m_Scan3dCoordinates[0]))
            b.m_Scan3dLimits[limit] = *computed;
        return real(b.m_Scan3dLimits[limit]);
    };
    static const std::unordered_map<std::string_view, ValueOf> kValues = {
        {"RegionSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_RegionSelector); }},
        {"RangePixelFormatMono16",
         [](Bridge& b, const ScannerInfo&) { return integer(b.m_Components[1].m_Part.pixelFormatName == "Mono16"); }},
        {"HeightMin",
         [](Bridge& b, const ScannerInfo& s) { return integer(b.m_RegionSelector == 0 ? s.m_RoiHeightMin : 1); }},
        {"HeightMax",
         [](Bridge& b, const ScannerInfo& s) {
             if (b.m_RegionSelector == 0)
                 return integer(int64_t{s.m_PixelZMax} - s.m_Regions[0].m_OffsetY);
             return integer(b.m_OrbalisMode ? 1 : kMaxLinesPerImage);
         }},
        {"WidthMin",
         [](Bridge& b, const ScannerInfo& s) {
             return integer(b.m_RegionSelector == 0 ? 32 : imageWidth(s, b.m_Components[1].m_Part.width));
         }},
        {"WidthMax",
         [](Bridge& b, const ScannerInfo& s) {
             if (b.m_RegionSelector == 0)
                 return integer(int64_t{s.m_PixelXMax} - s.m_Regions[0].m_OffsetX);
             return integer(imageWidth(s, b.m_Components[1].m_Part.width));
         }},
        {"OffsetXMax",
         [](Bridge& b, const ScannerInfo& s) {
             return integer(b.m_RegionSelector == 0 ? int64_t{s.m_PixelXMax} - s.m_Regions[0].m_Width : 0);
         }},
        {"OffsetYMax",
         [](Bridge& b, const ScannerInfo& s) {
             return integer(b.m_RegionSelector == 0 ? int64_t{s.m_PixelZMax} - s.m_Regions[0].m_Height : 0);
         }},
        {"Scan3DSortX", [](Bridge& b, const ScannerInfo&) { return integer(b.m_SortX); }},
        {"ComponentSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_ComponentSelector); }},
        {"ComponentEnable",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Components, b.m_ComponentSelector), &ComponentRecord::m_Enabled);
         }},
        {"ComponentIDValue",
         [](Bridge& b, const ScannerInfo&) -> ValueResult {
             const ComponentRecord* component = selected(b.m_Components, b.m_ComponentSelector);
             return component ? integer(component->m_Part.componentIndex) : std::nullopt;
         }},
        {"AcquisitionMode", [](Bridge& b, const ScannerInfo&) { return integer(b.m_AcquisitionMode); }},
        {"AcquisitionLineRateMax",
         [](Bridge&, const ScannerInfo& s) {
             const int64_t exposure = int64_t{s.m_ExposureTime} + s.m_ExposureOverhead;
             if (exposure <= 0)
                 return integer(s.m_MaxLineRate);
             return integer(static_cast<int64_t>(std::min(double(s.m_MaxLineRate), 1000000.0 / double(exposure))));
         }},
        {"AcquisitionLineRate",
         [](Bridge&, const ScannerInfo& s) {
             return real(s.m_AcquisitionLineTime > 0 ? 1000000.0 / s.m_AcquisitionLineTime : 0.0);
         }},
        {"ResultingAcquisitionLineRate",
         [](Bridge& b, const ScannerInfo&) { return integer(b.m_ScannerRate.load()); }},
        {"ExposureTimeMax",
         [](Bridge&, const ScannerInfo& s) {
             const TriggerSettings& lineStart = s.m_Triggers[kLineStart];
             if (lineStart.m_Source != 0)
                 return integer(100000);
             return integer(int64_t{s.m_AcquisitionLineTime} - lineStart.m_Delay - s.m_ExposureOverhead - 2);
         }},
        {"ExposureTime", [](Bridge&, const ScannerInfo& s) { return integer(s.m_ExposureTime); }},
        {"TriggerSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_TriggerSelector); }},
        {"TriggerMode",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Triggers, b.m_TriggerSelector), &TriggerSettings::m_Mode);
         }},
        {"TriggerActivation",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Triggers, b.m_TriggerSelector), &TriggerSettings::m_Activation);
         }},
        {"TriggerSource",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Triggers, b.m_TriggerSelector), &TriggerSettings::m_Source);
         }},
        {"TriggerDelay",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Triggers, b.m_TriggerSelector), &TriggerSettings::m_Delay);
         }},
        {"TriggerDivider",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Triggers, b.m_TriggerSelector), &TriggerSettings::m_Divider);
         }},
        {"LineSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_LineSelector); }},
        {"LineMode",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_Mode);
         }},
        {"LineInverter",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_Inverter);
         }},
        {"LineStatus",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_State);
         }},
        {"LineSource",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_Source);
         }},
        {"UserOutputValue",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_UserOutputValue);
         }},
        {"InputLoad",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_InputLoad);
         }},
        {"OutputFunction",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Lines, b.m_LineSelector), &LineSettings::m_OutputFunction);
         }},
        {"TimerDuration", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SyncOut); }},
        {"TimerDelay", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SyncOutDelay); }},
        {"EncoderSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_EncoderSelector); }},
        {"EncoderSourceA", [](Bridge&, const ScannerInfo& s) { return integer(s.m_EaFunction[0] == 5); }},
        {"EncoderSourceB", [](Bridge&, const ScannerInfo& s) { return integer(s.m_EaFunction[1] == 5); }},
        {"EncoderOutputMode",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Encoders, b.m_EncoderSelector), &EncoderSettings::m_OutputMode);
         }},
        {"EncoderResetSource",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Encoders, b.m_EncoderSelector), &EncoderSettings::m_ResetSource);
         }},
        {"EncoderResetActivation",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Encoders, b.m_EncoderSelector), &EncoderSettings::m_ResetActivation);
         }},
        {"EncoderValue",
         [](Bridge& b, const ScannerInfo& s) {
             return fieldOf(selected(s.m_Encoders, b.m_EncoderSelector), &EncoderSettings::m_Value);
         }},
        {"SignalEnable", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SignalEnable); }},
        {"SignalSelection", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SignalSelection); }},
        {"SignalWidthMin", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SignalWidthMin); }},
        {"SignalWidthMax", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SignalWidthMax); }},
        {"SignalStrengthMin", [](Bridge&, const ScannerInfo& s) { return integer(s.m_SignalStrengthMin); }},
        {"Scan3dCoordinateSelector",
         [](Bridge& b, const ScannerInfo&) { return integer(b.m_Scan3dCoordinateSelector); }},
        {"Scan3dCoordinateScaleMin", [](Bridge& b, const ScannerInfo& s) { return scan3dLimitValue(b, 0, s); }},
        {"Scan3dCoordinateScaleMax", [](Bridge& b, const ScannerInfo& s) { return scan3dLimitValue(b, 1, s); }},
        {"Scan3dCoordinateOffsetMin", [](Bridge& b, const ScannerInfo& s) { return scan3dLimitValue(b, 2, s); }},
        {"Scan3dCoordinateOffsetMax", [](Bridge& b, const ScannerInfo& s) { return scan3dLimitValue(b, 3, s); }},
        {"Scan3dCoordinateScale",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::scale);
         }},
        {"Scan3dCoordinateOffset",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::offset);
         }},
        {"Scan3dInvalidDataFlag",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::invalidDataFlag);
         }},
        {"Scan3dInvalidDataValue",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::invalidDataValue);
         }},
        {"Scan3dAxisMin",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::axisMin);
         }},
        {"Scan3dAxisMax",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Scan3dCoordinates, b.m_Scan3dCoordinateSelector),
                            &Scan3dCoordinateSettings::axisMax);
         }},
        {"Scan3dCoordinateSource", [](Bridge& b, const ScannerInfo&) { return integer(b.m_Scan3dCoordinateSource); }},
        {"DeviceModelName", [](Bridge&, const ScannerInfo& s) { return text(s.m_OrderNumber); }},
        {"DeviceVendorName", [](Bridge&, const ScannerInfo& s) { return text(s.m_Producer); }},
        {"DeviceVersion", [](Bridge&, const ScannerInfo& s) { return text(s.m_ProductVersion); }},
        {"DeviceFirmwareVersion", [](Bridge&, const ScannerInfo& s) { return text(s.m_FirmwareVersion); }},
        {"DeviceSerialNumber", [](Bridge&, const ScannerInfo& s) { return text(s.m_SerialNumber); }},
        {"DeviceWorkingRangeZStart", [](Bridge&, const ScannerInfo& s) { return real(s.m_WorkingRangeZStart); }},
        {"DeviceWorkingRangeZ", [](Bridge&, const ScannerInfo& s) { return real(s.m_MeasuringRangeZ); }},
        {"DeviceFieldWidthXStart", [](Bridge&, const ScannerInfo& s) { return real(s.m_FieldWidthXStart); }},
        {"DeviceFieldWidthXEnd", [](Bridge&, const ScannerInfo& s) { return real(s.m_FieldWidthXEnd); }},
        {"DeviceTemperatureSelector",
         [](Bridge& b, const ScannerInfo&) { return integer(b.m_DeviceTemperatureSelector); }},
        {"DeviceTemperature", [](Bridge&, const ScannerInfo& s) { return real(s.m_DeviceTemperature); }},
        {"AsciiCommand", [](Bridge&, const ScannerInfo&) { return text(""); }},
        {"AcquisitionStart", [](Bridge& b, const ScannerInfo&) { return integer(!b.m_AcquisitionStopped); }},
        {"AcquisitionStop", [](Bridge& b, const ScannerInfo&) { return integer(b.m_AcquisitionStopped.load()); }},
        {"ChunkSelector", [](Bridge& b, const ScannerInfo&) { return integer(b.m_ChunkSelector); }},
        {"ChunkEnable",
         [](Bridge& b, const ScannerInfo&) {
             return fieldOf(selected(b.m_Chunks, b.m_ChunkSelector), &ChunkRecord::m_Enabled);
         }},
        {"ScanLineSelectorMax", [](Bridge& b, const ScannerInfo&) { return integer(b.m_LinesPerImage - 1); }},
    };
    const auto found = kValues.find(featureName);
    if (found == kValues.end())
        return std::nullopt;

    const ScannerInfo scanner = info();
    ValueResult value;
    {
        std::lock_guard lock(m_RecordMutex);
        value = found->second(*this, scanner);
    }
    if (!value)
        return std::nullopt;
    if (m_Camera) {
        const char* name = featureName.c_str();
        if (const int64_t* i = std::get_if<int64_t>(&*value))
            m_Camera->SetIntegerValue(name, *i);
        else if (const float* f = std::get_if<float>(&*value))
            m_Camera->SetFloatValue(name, *f);
        else
            m_Camera->SetStringValue(name, std::get<std::string>(*value).c_str());
    }
    return logText(*value);
}

}  // namespace lumabridge
