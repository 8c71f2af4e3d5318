// A client (or the bridge itself) wrote one of the scanner's features: the new value becomes
// scanner commands, camera operations and bridge state; most writes then re-read the scanner.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "bridge.h"
#include "command_builders.h"
#include "gev_camera.h"
#include "trigger_tables.h"

namespace lumabridge {
namespace {

constexpr size_t kAsciiCommandBytes = 128;

struct PixelFormatCode {
    uint32_t code;
    const char* name;
};

constexpr PixelFormatCode kPixelFormatCodes[] = {
    {0x01080001, "Mono8"},  {0x01100003, "Mono10"},      {0x010C0004, "Mono10Packed"},      {0x01100007, "Mono16"},
    {0x02300024, "RGB16Planar"}, {0x02300033, "RGB16"}, {0x026000C0, "Coord3D_ABC32f"},
};

std::string_view pixelFormatName(int64_t code)
{
    for (const PixelFormatCode& entry : kPixelFormatCodes)
        if (entry.code == code)
            return entry.name;
    return {};
}

// A value the scanner takes as an unsigned 32-bit decimal; other values are not sent.
std::optional<uint32_t> toU32(int64_t v)
{
    if (v < 0 || v > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

int32_t toI32(int64_t v)
{
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

bool isLine(int64_t n)
{
    return n >= 1 && n <= 4;
}

std::string floatText(double v)
{
    std::ostringstream text;
    text << v;
    return text.str();
}

}  // namespace

// One write: reads the value, runs the feature's branch, logs and refreshes.
class FeatureWriter {
public:
    FeatureWriter(Bridge& bridge, const std::string& name) : b(bridge), m_Name(name) {}

    bool Run();

private:
    enum class Kind { Integer, Float, String, Command };
    using Handler = void (FeatureWriter::*)();
    struct Entry {
        std::string_view name;
        Kind kind;
        Handler handler;
    };
    static const Entry kEntries[];

    bool readValue(Kind kind);

    // Scanner, locks and checks.
    ScannerApi& scanner() { return b.m_Scanner; }
    ScannerHandle handle() const { return b.m_Handle; }
    template <class F>
    auto records(F f)
    {
        std::lock_guard lock(b.m_RecordMutex);
        return f();
    }
    template <class F>
    auto cached(F f)
    {
        std::lock_guard lock(b.m_InfoMutex);
        return f(b.m_Info);
    }
    void refresh() { b.m_UpdateFeatures = true; }
    // The selector's value when it indexes one of count records; a write under any other
    // selector value is ignored.
    std::optional<size_t> selected(int32_t Bridge::*selector, size_t count)
    {
        const int32_t index = records([&] { return b.*selector; });
        if (index < 0 || static_cast<size_t>(index) >= count)
            return std::nullopt;
        return static_cast<size_t>(index);
    }
    std::optional<size_t> selectedLine() { return selected(&Bridge::m_LineSelector, 4); }
    // Parts, chunks and their sizes change only while no acquisition runs, as in the camera.
    bool refusedWhileAcquiring();
    bool refusedByCamera(uint32_t result);
    void setSelector(int32_t Bridge::*selector)
    {
        records([&] { b.*selector = toI32(m_Int); });
    }

    // Branches, in dispatch order.
    void pixelFormat();
    void regionSelector() { setSelector(&Bridge::m_RegionSelector); }
    void width();
    void height();
    void offsetX() { offset(SendSetROI1OffsetX); }
    void offsetY() { offset(SendSetROI1OffsetZ); }
    void componentSelector() { setSelector(&Bridge::m_ComponentSelector); }
    void componentEnable();
    void sortX();
    void acquisitionMode() { setSelector(&Bridge::m_AcquisitionMode); }
    void acquisitionLineRate();
    void exposureTime();
    void triggerSelector() { setSelector(&Bridge::m_TriggerSelector); }
    void triggerMode() { trigger(TriggerModeTable()); }
    void triggerSource() { trigger(TriggerSourceTable()); }
    void trigger(std::span<const TriggerRow> table);
    void triggerActivation();
    void triggerDelay();
    void triggerDivider();
    void acquisitionStop();
    void acquisitionStart();
    void triggerSoftware();
    void lineSelector() { setSelector(&Bridge::m_LineSelector); }
    void lineMode();
    void lineInverter();
    void lineSource();
    void userOutputValue();
    void inputLoad();
    void outputFunction();
    void timerTriggerSource() {}  // logged only
    void encoderSelector() { setSelector(&Bridge::m_EncoderSelector); }
    void encoderSourceA() { encoderSource(1); }
    void encoderSourceB() { encoderSource(2); }
    void encoderSource(unsigned line);
    void encoderOutputMode();
    void encoderResetSource();
    void encoderResetActivation();
    void scan3dCoordinateSelector() { setSelector(&Bridge::m_Scan3dCoordinateSelector); }
    void scan3dCoordinateScale() { scan3dCoordinate(&Scan3dCoordinateSettings::scale); }
    void scan3dCoordinateOffset() { scan3dCoordinate(&Scan3dCoordinateSettings::offset); }
    void scan3dCoordinate(float Scan3dCoordinateSettings::*field);
    void scan3dCoordinateSource() { setSelector(&Bridge::m_Scan3dCoordinateSource); }
    void signalEnable();
    void signalSelection();
    void deviceReset();
    void deviceTemperatureSelector() { setSelector(&Bridge::m_DeviceTemperatureSelector); }
    void asciiCommand();
    void chunkSelector() { setSelector(&Bridge::m_ChunkSelector); }
    void chunkEnable();

    using ValueCommand = int (*)(ScannerApi&, ScannerHandle, uint32_t);
    using FixedCommand = int (*)(ScannerApi&, ScannerHandle);
    // Features that only send their value, or a fixed text.
    template <ValueCommand Send, bool Refresh>
    void sendValue()
    {
        if (Refresh)
            sendAndRefresh(Send);
        else if (const std::optional<uint32_t> v = toU32(m_Int))
            Send(scanner(), handle(), *v);
    }
    template <FixedCommand Send>
    void sendFixed()
    {
        Send(scanner(), handle());
    }
    int32_t region()
    {
        return records([&] { return b.m_RegionSelector; });
    }
    // Region 0 is the sensor ROI; the image region has no offset.
    void offset(ValueCommand send)
    {
        const int32_t selected = region();
        if (selected == 0)
            sendAndRefresh(send);
        else if (selected == 1)
            b.m_Camera->SetIntegerValue(m_Name.c_str(), 0);
    }
    // Sends v when it is an unsigned 32-bit value, then refreshes either way.
    void sendAndRefresh(ValueCommand send)
    {
        if (const std::optional<uint32_t> v = toU32(m_Int))
            send(scanner(), handle(), *v);
        refresh();
    }
    // The parts follow the scanner's new geometry once the refresh has read it.
    void refreshGeometry(void (Bridge::*update)())
    {
        refresh();
        m_AfterRefresh = update;
    }
    // A line's setting: the command for line n (selector + 1), then the record.
    template <class Send, class Store>
    void lineSetting(Send send, Store store)
    {
        const std::optional<size_t> line = selectedLine();
        if (!line)
            return;
        const std::optional<uint32_t> v = toU32(m_Int);
        if (!v) {
            refresh();
            return;
        }
        send(static_cast<unsigned>(*line + 1), *v);
        cached([&](ScannerInfo& info) { store(info.m_Lines[*line]); });
        refresh();
    }

    Bridge& b;
    const std::string& m_Name;
    int64_t m_Int = 0;
    float m_Float = 0.0f;
    std::string m_Text;
    std::optional<std::string> m_ValueText;  // logged after " = "
    std::string m_ConsoleNote;  // a console line after the write's line
    std::string m_Note;  // a debug line after the write's line
    bool m_Accepted = true;
    void (Bridge::*m_AfterRefresh)() = nullptr;
};

const FeatureWriter::Entry FeatureWriter::kEntries[] = {
    {"PixelFormat", Kind::Integer, &FeatureWriter::pixelFormat},
    {"RegionSelector", Kind::Integer, &FeatureWriter::regionSelector},
    {"Width", Kind::Integer, &FeatureWriter::width},
    {"Height", Kind::Integer, &FeatureWriter::height},
    {"OffsetX", Kind::Integer, &FeatureWriter::offsetX},
    {"OffsetY", Kind::Integer, &FeatureWriter::offsetY},
    {"ComponentSelector", Kind::Integer, &FeatureWriter::componentSelector},
    {"ComponentEnable", Kind::Integer, &FeatureWriter::componentEnable},
    {"Scan3DSortX", Kind::Integer, &FeatureWriter::sortX},
    {"AcquisitionMode", Kind::Integer, &FeatureWriter::acquisitionMode},
    {"AcquisitionLineRate", Kind::Float, &FeatureWriter::acquisitionLineRate},
    {"ExposureTime", Kind::Integer, &FeatureWriter::exposureTime},
    {"TriggerSelector", Kind::Integer, &FeatureWriter::triggerSelector},
    {"TriggerMode", Kind::Integer, &FeatureWriter::triggerMode},
    {"TriggerSource", Kind::Integer, &FeatureWriter::triggerSource},
    {"TriggerActivation", Kind::Integer, &FeatureWriter::triggerActivation},
    {"TriggerDelay", Kind::Integer, &FeatureWriter::triggerDelay},
    {"TriggerDivider", Kind::Integer, &FeatureWriter::triggerDivider},
    {"AcquisitionStop", Kind::Command, &FeatureWriter::acquisitionStop},
    {"AcquisitionStart", Kind::Command, &FeatureWriter::acquisitionStart},
    {"TriggerSoftware", Kind::Command, &FeatureWriter::triggerSoftware},
    {"LineSelector", Kind::Integer, &FeatureWriter::lineSelector},
    {"LineMode", Kind::Integer, &FeatureWriter::lineMode},
    {"LineInverter", Kind::Integer, &FeatureWriter::lineInverter},
    {"LineSource", Kind::Integer, &FeatureWriter::lineSource},
    {"UserOutputValue", Kind::Integer, &FeatureWriter::userOutputValue},
    {"InputLoad", Kind::Integer, &FeatureWriter::inputLoad},
    {"OutputFunction", Kind::Integer, &FeatureWriter::outputFunction},
    {"SyncOut", Kind::Integer, &FeatureWriter::sendValue<SendSetSyncOut, false>},
    {"SyncOutDelay", Kind::Integer, &FeatureWriter::sendValue<SendSetSyncOutDelay, false>},
    {"TimerTriggerSource", Kind::Integer, &FeatureWriter::timerTriggerSource},
    {"TimerDuration", Kind::Integer, &FeatureWriter::sendValue<SendSetSyncOut, true>},
    {"TimerDelay", Kind::Integer, &FeatureWriter::sendValue<SendSetSyncOutDelay, true>},
    {"EncoderSelector", Kind::Integer, &FeatureWriter::encoderSelector},
    {"EncoderSourceA", Kind::Integer, &FeatureWriter::encoderSourceA},
    {"EncoderSourceB", Kind::Integer, &FeatureWriter::encoderSourceB},
    {"EncoderOutputMode", Kind::Integer, &FeatureWriter::encoderOutputMode},
    {"EncoderResetSource", Kind::Integer, &FeatureWriter::encoderResetSource},
    {"EncoderResetActivation", Kind::Integer, &FeatureWriter::encoderResetActivation},
    {"EncoderReset", Kind::Command, &FeatureWriter::sendFixed<SendSetResetEncoder>},
    {"Scan3dCoordinateSelector", Kind::Integer, &FeatureWriter::scan3dCoordinateSelector},
    {"Scan3dCoordinateScale", Kind::Float, &FeatureWriter::scan3dCoordinateScale},
    {"Scan3dCoordinateOffset", Kind::Float, &FeatureWriter::scan3dCoordinateOffset},
    {"Scan3dCoordinateSource", Kind::Integer, &FeatureWriter::scan3dCoordinateSource},
    {"SignalEnable", Kind::Integer, &FeatureWriter::signalEnable},
    {"SignalSelection", Kind::Integer, &FeatureWriter::signalSelection},
    {"SignalWidthMin", Kind::Integer, &FeatureWriter::sendValue<SendSetSignalWidthMin, true>},
    {"SignalWidthMax", Kind::Integer, &FeatureWriter::sendValue<SendSetSignalWidthMax, true>},
    {"SignalStrengthMin", Kind::Integer, &FeatureWriter::sendValue<SendSetSignalStrengthMin, true>},
    {"DeviceReset", Kind::Command, &FeatureWriter::deviceReset},
    {"LaserOn", Kind::Command, &FeatureWriter::sendFixed<SendSetLaserDeactivated0>},
    {"LaserOff", Kind::Command, &FeatureWriter::sendFixed<SendSetLaserDeactivated1>},
    {"DeviceTemperatureSelector", Kind::Integer, &FeatureWriter::deviceTemperatureSelector},
    {"AsciiCommand", Kind::String, &FeatureWriter::asciiCommand},
    {"ChunkSelector", Kind::Integer, &FeatureWriter::chunkSelector},
    {"ChunkEnable", Kind::Integer, &FeatureWriter::chunkEnable},
};

bool FeatureWriter::readValue(Kind kind)
{
    CGevCamera* camera = b.m_Camera;
    switch (kind) {
    case Kind::Command: return true;
    case Kind::Integer:
        if (!camera || camera->GetIntegerValue(m_Name.c_str(), &m_Int) != GevResult::Ok)
            return false;
        m_ValueText = std::to_string(m_Int);
        return true;
    case Kind::Float:
        if (!camera || camera->GetFloatValue(m_Name.c_str(), &m_Float) != GevResult::Ok)
            return false;
        m_ValueText = floatText(m_Float);
        return true;
    case Kind::String: {
        // One byte more than a command may have: a longer text does not fit and is not read.
        char text[kAsciiCommandBytes + 1] = {};
        if (!camera || camera->GetStringValue(m_Name.c_str(), text, sizeof text) != GevResult::Ok)
            return false;
        m_Text.assign(text, strnlen(text, kAsciiCommandBytes));
        m_ValueText = m_Text;
        return true;
    }
    }
    return false;
}

bool FeatureWriter::Run()
{
    const Entry* entry = nullptr;
    for (const Entry& e : kEntries)
        if (e.name == m_Name) {
            entry = &e;
            break;
        }
    if (entry) {
        if (readValue(entry->kind))
            (this->*entry->handler)();
        else
            m_Note = "Warning: the value of " + m_Name + " could not be read\n";
    }

    std::string line = "Write " + m_Name;
    if (m_ValueText)
        line += " = " + *m_ValueText;
    line += "\n";
    b.m_Console.DebugOutput(line);
    if (!m_ConsoleNote.empty())
        b.m_Console.DebugOutput("", m_ConsoleNote);
    if (!m_Note.empty())
        b.m_Console.DebugOutput(m_Note);

    if (b.m_UpdateFeatures.exchange(false)) {
        b.m_Console.DebugOutput("ask to update features\n");
        b.UpdateScannerInfo();
        if (m_AfterRefresh)
            (b.*m_AfterRefresh)();
    }
    return m_Accepted;
}

bool FeatureWriter::refusedWhileAcquiring()
{
    if (b.m_AcquisitionStopped)
        return false;
    m_Note = "Warning: " + m_Name + " is not changed during an acquisition\n";
    return true;
}

bool FeatureWriter::refusedByCamera(uint32_t result)
{
    if (result != GevResult::Running)
        return false;
    m_Note = "Warning: the camera refused " + m_Name + " while streaming\n";
    return true;
}

void FeatureWriter::pixelFormat()
{
    const std::string_view name = pixelFormatName(m_Int);
    m_ValueText = std::string(name);
    if (refusedWhileAcquiring())
        return;
    const std::optional<size_t> component = selected(&Bridge::m_ComponentSelector, 2);
    if (!component)
        return;
    if (name.empty()) {
        m_Note = "Warning: PixelFormat " + std::to_string(m_Int) + " is not a format of the scanner\n";
        return;
    }
    const std::string format(name);
    CGevCamera* camera = b.m_Camera;
    if (refusedByCamera(camera->SetRegionPixelFormat(format.c_str(), 0, 0, 0)) ||
        refusedByCamera(camera->SetRegionPixelFormat(format.c_str(), 0, 1, 0)))
        return;

    const ComponentRecord current = records([&] { return b.m_Components[*component]; });
    PartDescriptor part = current.m_Part;
    const bool enabled = current.m_Enabled;
    part.pixelFormatName = format;
    part.dataType = PartDataType(format).value_or(0);
    if (enabled && refusedByCamera(camera->UpdateImagePart(part)))
        return;

    const ScannerInfo info = b.info();
    records([&] {
        b.m_Components[*component].m_Part = part;
        if (enabled)
            b.m_PartsChanged = true;
        Scan3dCoordinateSettings& a = b.m_Scan3dCoordinates[0];
        Scan3dCoordinateSettings& c = b.m_Scan3dCoordinates[2];
        const std::string& rangeFormat = b.m_Components[1].m_Part.pixelFormatName;
        if (rangeFormat == "Coord3D_ABC32f") {
            a.scale = 1.0f;
            a.offset = 0.0f;
            c.scale = 1.0f;
            c.offset = 0.0f;
        } else if (rangeFormat == "Mono16") {
            if (info.m_PixelXMax > 0)
                a.scale = static_cast<float>(info.m_FieldWidthXEnd / info.m_PixelXMax);
            a.offset = static_cast<float>(-0.5 * info.m_FieldWidthXEnd);
            c.scale = static_cast<float>(info.m_MeasuringRangeZ / 65535.0);
            c.offset = static_cast<float>(info.m_WorkingRangeZStart);
        }
    });
}

void FeatureWriter::width()
{
    if (region() != 0)
        return;
    const auto [pixels, roiWidth] =
        cached([](const ScannerInfo& info) { return std::pair{info.m_PixelXMax, info.m_Regions[0].m_Width}; });
    const std::optional<uint32_t> v = toU32(m_Int);
    if (!v || m_Int > pixels) {
        // Undone at once: the client reads the scanner's width back.
        b.m_Camera->SetIntegerValue("Width", roiWidth);
        return;
    }
    if (refusedWhileAcquiring())
        return;
    SendSetROI1WidthX(scanner(), handle(), *v);
    records([&] { b.m_PartsChanged = true; });
    refreshGeometry(&Bridge::UpdateRegionWidth);
}

void FeatureWriter::height()
{
    const int32_t selected = region();
    if (selected == 0) {
        sendAndRefresh(SendSetROI1HeightZ);
        m_AfterRefresh = &Bridge::UpdateLinesPerImage;
        return;
    }
    if (selected != 1 || refusedWhileAcquiring())
        return;
    // Lines per image the part buffers hold; the refresh reads the scanner's value back.
    if (m_Int < 1 || m_Int > Bridge::kMaxLinesPerImage) {
        refresh();
        return;
    }
    SendSetAmountProfilesY(scanner(), handle(), static_cast<uint32_t>(m_Int));
    records([&] { b.m_PartsChanged = true; });
    refreshGeometry(&Bridge::UpdateLinesPerImage);
}

void FeatureWriter::componentEnable()
{
    if (refusedWhileAcquiring())
        return;
    const std::optional<size_t> component = selected(&Bridge::m_ComponentSelector, 2);
    if (!component)
        return;
    const bool enable = m_Int == 1;
    const PartDescriptor part = records([&] { return b.m_Components[*component].m_Part; });
    CGevCamera* camera = b.m_Camera;
    if (refusedByCamera(enable ? camera->UpdateImagePart(part) : camera->RemoveImagePart(part)))
        return;
    if (*component == 0)
        (enable ? SendSetSignalContentStrength1 : SendSetSignalContentStrength0)(scanner(), handle());
    records([&] {
        b.m_Components[*component].m_Enabled = enable;
        b.m_PartsChanged = true;
    });
}

void FeatureWriter::sortX()
{
    const bool on = m_Int != 0;
    records([&] { b.m_SortX = on; });
    // Answered by the client library itself: no line end.
    const char* text = on ? "SetSortingX=1" : "SetSortingX=0";
    scanner().WriteData(handle(), text, static_cast<int>(std::strlen(text)));
}

void FeatureWriter::acquisitionLineRate()
{
    const double rate = m_Float;
    if (!std::isfinite(rate) || rate <= 0) {
        refresh();
        return;
    }
    const double lineTime = 1000000.0 / rate;
    const auto [shortest, maxLineRate] = cached([](const ScannerInfo& info) {
        return std::pair{int64_t{info.m_ExposureTime} + info.m_ExposureOverhead +
                             info.m_Triggers[kLineStart].m_Delay + 2,
                         info.m_MaxLineRate};
    });
    std::ostringstream note;
    note << ' ' << lineTime << ' ' << shortest << ' ' << maxLineRate << '\n';
    m_ConsoleNote = note.str();
    if (lineTime < static_cast<double>(shortest))
        return;
    if (lineTime >= std::numeric_limits<int32_t>::max()) {
        refresh();
        return;
    }
    const auto rounded = static_cast<int32_t>(std::lround(lineTime));
    SendSetAcquisitionLineTime(scanner(), handle(), static_cast<uint32_t>(rounded));
    cached([&](ScannerInfo& info) { info.m_AcquisitionLineTime = rounded; });
    refresh();
}

void FeatureWriter::exposureTime()
{
    const std::optional<uint32_t> v = toU32(m_Int);
    const bool fits = cached([&](const ScannerInfo& info) {
        return m_Int + 2 + int64_t{info.m_ExposureOverhead} + info.m_Triggers[kLineStart].m_Delay <=
               info.m_AcquisitionLineTime;
    });
    if (v && fits) {
        SendSetExposureTime(scanner(), handle(), *v);
        cached([&](ScannerInfo& info) { info.m_ExposureTime = toI32(m_Int); });
    }
    refresh();
}

void FeatureWriter::trigger(std::span<const TriggerRow> table)
{
    const int32_t selector = records([&] { return b.m_TriggerSelector; });
    const TriggerState state =
        cached([](const ScannerInfo& info) { return TriggerState{info.m_Triggers, info.m_EaFunction}; });
    const TriggerPlan plan = PlanTriggerWrite(table, selector, m_Int, state);
    ScannerApi& s = scanner();
    const ScannerHandle h = handle();
    for (const TriggerStep& step : plan.m_Steps) {
        const auto line = static_cast<unsigned>(step.m_First);
        const auto number = static_cast<uint32_t>(step.m_First);
        switch (step.m_Kind) {
        case TriggerActionKind::SourceCommand: {
            constexpr int (*kSource[])(ScannerApi&, ScannerHandle) = {SendSetTriggerSource0, SendSetTriggerSource1,
                                                                       SendSetTriggerSource2, SendSetTriggerSource3};
            kSource[step.m_First](s, h);
            break;
        }
        case TriggerActionKind::AmountCommand: SendSetTriggerAmountProfilesY(s, h, number); break;
        case TriggerActionKind::LineFunction:
            SendSetEAFunction(s, h, line, static_cast<uint32_t>(step.m_Second));
            break;
        case TriggerActionKind::ReleaseLine: SendClearEAFunctions(s, h, line); break;
        case TriggerActionKind::ProfileEnable: SendSetEAFunctionProfileEnable(s, h, line); break;
        case TriggerActionKind::EncoderStep: SendSetTriggerEncoderStep(s, h, number); break;
        case TriggerActionKind::CoordinateSourceEncoder:
            records([&] { b.m_Scan3dCoordinateSource = 0; });
            break;
        case TriggerActionKind::Refresh: break;
        }
    }
    if (plan.m_Refresh)
        refresh();
}

void FeatureWriter::triggerActivation()
{
    const std::optional<size_t> trigger = selected(&Bridge::m_TriggerSelector, 3);
    if (!trigger)
        return;
    const int32_t source = cached([&](const ScannerInfo& info) { return info.m_Triggers[*trigger].m_Source; });
    if (!isLine(source))
        return;
    const int64_t rising = *trigger == kLineStart ? 1 : 3;
    const int64_t falling = *trigger == kLineStart ? 2 : 4;
    if (m_Int != rising && m_Int != falling)
        return;
    SendSetEAInputFunction(scanner(), handle(), static_cast<unsigned>(source), m_Int == rising ? 1 : 0);
    refresh();
}

void FeatureWriter::triggerDelay()
{
    const std::optional<size_t> trigger = selected(&Bridge::m_TriggerSelector, 3);
    if (!trigger)
        return;
    const std::optional<uint32_t> v = toU32(m_Int);
    const bool fits = cached([&](const ScannerInfo& info) {
        return m_Int <= int64_t{info.m_AcquisitionLineTime} - info.m_ExposureTime - info.m_ExposureOverhead - 2;
    });
    if (v && fits)
        SendSetTriggerDelay(scanner(), handle(), *v);
    cached([&](ScannerInfo& info) { info.m_Triggers[*trigger].m_Delay = toI32(m_Int); });
    refresh();
}

void FeatureWriter::triggerDivider()
{
    const std::optional<size_t> trigger = selected(&Bridge::m_TriggerSelector, 3);
    if (!trigger)
        return;
    if (const std::optional<uint32_t> v = toU32(m_Int)) {
        SendSetTriggerEncoderStep(scanner(), handle(), *v);
        cached([&](ScannerInfo& info) { info.m_Triggers[*trigger].m_Divider = toI32(m_Int); });
    }
    refresh();
}

void FeatureWriter::acquisitionStop()
{
    b.m_AcquisitionStopped = true;
    b.m_SavePointCloud = false;
    b.m_SavedScans = 0;
    b.m_NewProfileEvent.set();
}

void FeatureWriter::acquisitionStart()
{
    // A second start would begin a new run and drop the block the running one is filling.
    if (!b.m_AcquisitionStopped)
        return;
    const bool anyPart = records([&] { return b.m_Components[0].m_Enabled || b.m_Components[1].m_Enabled; });
    if (!anyPart) {
        // Nothing to stream: the acquisition stays stopped, and AcquisitionStart reads 0.
        m_Note = "Warning: no component is enabled; the acquisition does not start\n";
        return;
    }
    if (b.m_ScansToSave > 0)
        b.m_SavePointCloud = true;
    ++b.m_RunNumber;
    b.m_AcquisitionStopped = false;
    b.m_AcquisitionEvent.set();
}

void FeatureWriter::triggerSoftware()
{
    b.m_SoftwareTriggerTime =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (b.m_AcquisitionStopped)
        return;
    const auto [frameStart, lineStart] = cached([](const ScannerInfo& info) {
        const auto software = [&](TriggerSelectorIndex i) {
            return info.m_Triggers[i].m_Mode && info.m_Triggers[i].m_Source == 7;
        };
        return std::pair{software(kFrameStart), software(kLineStart)};
    });
    if (frameStart)
        SendSetAcquisitionStart(scanner(), handle());
    if (lineStart)
        SendSetTriggerSoftware(scanner(), handle());
}

void FeatureWriter::lineMode()
{
    lineSetting(
        [&](unsigned n, uint32_t v) { SendSetEAFunction(scanner(), handle(), n, v == 0 ? 3 : 4); },
        [&](LineSettings& line) { line.m_Mode = toI32(m_Int); });
}

void FeatureWriter::lineInverter()
{
    lineSetting(
        [&](unsigned n, uint32_t v) { SendSetEAInputFunction(scanner(), handle(), n, v == 0 ? 1 : 0); },
        [&](LineSettings& line) { line.m_Inverter = m_Int != 0; });
}

void FeatureWriter::lineSource()
{
    const std::optional<size_t> line = selectedLine();
    if (!line)
        return;
    const auto n = static_cast<unsigned>(*line + 1);
    if (m_Int == 0)
        SendSetEAFunction(scanner(), handle(), n, 4);
    else if (m_Int == 1)
        SendSetEAFunction(scanner(), handle(), n, 2);
    else if (m_Int == 2)
        SendSetEAFrameFinishSignal(scanner(), handle(), n);
    cached([&](ScannerInfo& info) { info.m_Lines[*line].m_Source = toI32(m_Int); });
}

void FeatureWriter::userOutputValue()
{
    lineSetting([&](unsigned n, uint32_t v) { SendSetEAOutputFunction(scanner(), handle(), n, v); },
                [&](LineSettings& line) { line.m_UserOutputValue = m_Int != 0; });
}

void FeatureWriter::inputLoad()
{
    lineSetting([&](unsigned n, uint32_t v) { SendSetEAInputLoad(scanner(), handle(), n, v); },
                [&](LineSettings& line) { line.m_InputLoad = m_Int != 0; });
}

void FeatureWriter::outputFunction()
{
    lineSetting([&](unsigned n, uint32_t v) { SendSetEAOutput(scanner(), handle(), n, v); },
                [&](LineSettings& line) { line.m_OutputFunction = toI32(m_Int); });
}

void FeatureWriter::encoderSource(unsigned line)
{
    SendSetEAFunction(scanner(), handle(), line, m_Int == 0 ? 3 : 5);
    refresh();
}

void FeatureWriter::encoderOutputMode()
{
    const std::optional<size_t> encoder = selected(&Bridge::m_EncoderSelector, 2);
    if (!encoder)
        return;
    cached([&](ScannerInfo& info) { info.m_Encoders[*encoder].m_OutputMode = toI32(m_Int); });
    constexpr int (*kFunction[])(ScannerApi&, ScannerHandle) = {
        SendSetEncoderTriggerFunction0, SendSetEncoderTriggerFunction1, SendSetEncoderTriggerFunction2,
        SendSetEncoderTriggerFunction3, SendSetEncoderTriggerFunction4};
    if (m_Int >= 0 && m_Int < static_cast<int64_t>(std::size(kFunction)))
        kFunction[m_Int](scanner(), handle());
    refresh();
}

void FeatureWriter::encoderResetSource()
{
    const std::optional<size_t> encoder = selected(&Bridge::m_EncoderSelector, 2);
    if (!encoder)
        return;
    if (m_Int != 0 && !isLine(m_Int)) {
        refresh();
        return;
    }
    const int32_t old = cached([&](const ScannerInfo& info) { return info.m_Encoders[*encoder].m_ResetSource; });
    if (isLine(old))
        SendClearEAFunctions(scanner(), handle(), static_cast<unsigned>(old));
    if (m_Int == 0)
        SendClearEAResetCounters(scanner(), handle());
    else
        SendSetEAResetCounterEncoder(scanner(), handle(), static_cast<unsigned>(m_Int));
    cached([&](ScannerInfo& info) { info.m_Encoders[*encoder].m_ResetSource = toI32(m_Int); });
    refresh();
}

void FeatureWriter::encoderResetActivation()
{
    const std::optional<size_t> encoder = selected(&Bridge::m_EncoderSelector, 2);
    if (!encoder)
        return;
    const int32_t source = cached([&](const ScannerInfo& info) { return info.m_Encoders[*encoder].m_ResetSource; });
    const std::optional<uint32_t> v = toU32(m_Int);
    if (isLine(source) && v)
        SendSetEAResetCounterSignaledge(scanner(), handle(), static_cast<unsigned>(source), *v);
    cached([&](ScannerInfo& info) { info.m_Encoders[*encoder].m_ResetActivation = toI32(m_Int); });
    refresh();
}

void FeatureWriter::scan3dCoordinate(float Scan3dCoordinateSettings::*field)
{
    const std::optional<size_t> coordinate = selected(&Bridge::m_Scan3dCoordinateSelector, 3);
    if (!coordinate)
        return;
    if (!std::isfinite(m_Float)) {
        m_Note = "Warning: " + m_Name + " must be a finite number\n";
        return;
    }
    records([&] { b.m_Scan3dCoordinates[*coordinate].*field = m_Float; });
}

void FeatureWriter::signalEnable()
{
    if (m_Int < 1 || m_Int > 3) {
        refresh();
        return;
    }
    // The streamed width follows the signals (twice the ROI for both).
    if (refusedWhileAcquiring())
        return;
    records([&] { b.m_PartsChanged = true; });
    SendSetSignalEnable(scanner(), handle(), static_cast<uint32_t>(m_Int));
    refreshGeometry(&Bridge::UpdateRegionWidth);
}

void FeatureWriter::signalSelection()
{
    constexpr int (*kSelection[])(ScannerApi&, ScannerHandle) = {SendSetSignalSelection0, SendSetSignalSelection1,
                                                                  SendSetSignalSelection2, SendSetSignalSelection3};
    if (m_Int >= 0 && m_Int < static_cast<int64_t>(std::size(kSelection)))
        kSelection[m_Int](scanner(), handle());
    refresh();
}

void FeatureWriter::deviceReset()
{
    m_Accepted = b.startDeviceReset();
}

void FeatureWriter::asciiCommand()
{
    const std::string command = m_Text + "\r";
    const int result = scanner().WriteData(handle(), command.c_str(), static_cast<int>(command.size()));
    if (result <= 0)
        b.m_Console.DebugOutput("WARNING: Failed WriteData [" + m_Text + "]. Error code " + std::to_string(result) +
                                "\n");
}

void FeatureWriter::chunkEnable()
{
    if (refusedWhileAcquiring())
        return;
    const std::optional<size_t> index = selected(&Bridge::m_ChunkSelector, 10);
    if (!index || (m_Int != 0 && m_Int != 1))
        return;
    const bool enable = m_Int == 1;
    struct Payload {
        bool change;
        int64_t bytes;
        int64_t count;
    };
    const Payload payload = records([&] {
        const ChunkRecord& chunk = b.m_Chunks[*index];
        // Only the declared chunks (those with an id) take part in a block.
        if (chunk.m_ChunkId == 0 || chunk.m_Enabled == enable)
            return Payload{false, 0, 0};
        const int64_t delta = int64_t{chunk.m_BytesPerValue} * b.m_LinesPerImage;
        return Payload{true, b.m_ChunkPayloadBytes + (enable ? delta : -delta), b.m_ChunkCount + (enable ? 1 : -1)};
    });
    if (!payload.change || payload.bytes < 0 || payload.count < 0)
        return;
    if (refusedByCamera(b.m_Camera->SetChunkPayloadSize(static_cast<uint32_t>(payload.bytes),
                                                        static_cast<uint32_t>(payload.count), 0)))
        return;
    records([&] {
        b.m_ChunkPayloadBytes = static_cast<int32_t>(payload.bytes);
        b.m_ChunkCount = static_cast<int32_t>(payload.count);
        b.m_Chunks[*index].m_Enabled = enable;
    });
}

bool Bridge::OnFeatureWrite(const std::string& featureName)
{
    return FeatureWriter(*this, featureName).Run();
}

}  // namespace lumabridge
