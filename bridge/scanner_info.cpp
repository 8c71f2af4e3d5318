#include "scanner_info.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

#include <tinyxml2.h>

#include "command_builders.h"
#include "find_xml_text.h"

namespace lumabridge {
namespace {

constexpr int kDescriptorBufferSize = 0x20000;

// Decimal text to integer as atoi reads it (blanks, sign, digits; anything else gives 0 or stops
// the number), saturated to 32 bits instead of undefined on overflow.
int32_t toInt(const std::string& text)
{
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

bool isOn(const std::string& text) { return toInt(text) != 0; }

// A 64-bit decimal (blanks and a sign allowed, at least one digit) kept in 32 bits.
bool toEncoderValue(const std::string& text, uint32_t& out)
{
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

struct ParseState {
    ScannerInfo& info;
    std::vector<InfoCommand>& commands;
};

// A key's text into the info; false ends the parse as a bad number.
using Sink = std::function<bool(ScannerInfo&, const std::string&)>;
// A rule that runs once its keys are read.
using Rule = void (*)(ParseState&);

struct Key {
    Key(std::string p, Sink s, bool opt = false, std::string alternative = {}, Rule rule = nullptr)
        : path(std::move(p)), sink(std::move(s)), optional(opt), fallback(std::move(alternative)), after(rule)
    {
    }
    std::string path;
    Sink sink;
    bool optional;
    std::string fallback;  // read when path is missing
    Rule after;
};

// Sinks that cannot fail.
Sink text(std::string ScannerInfo::*field)
{
    return [field](ScannerInfo& info, const std::string& t) {
        info.*field = t;
        return true;
    };
}
Sink integer(int32_t ScannerInfo::*field)
{
    return [field](ScannerInfo& info, const std::string& t) {
        info.*field = toInt(t);
        return true;
    };
}
Sink real(double ScannerInfo::*field)
{
    return [field](ScannerInfo& info, const std::string& t) {
        info.*field = toInt(t);
        return true;
    };
}
Sink byte(uint8_t ScannerInfo::*field)
{
    return [field](ScannerInfo& info, const std::string& t) {
        info.*field = static_cast<uint8_t>(toInt(t));
        return true;
    };
}
Sink limit(SettingLimits ScannerInfo::*field, int32_t SettingLimits::*end)
{
    return [field, end](ScannerInfo& info, const std::string& t) {
        info.*field.*end = toInt(t);
        return true;
    };
}
template <typename F>
Sink always(F f)
{
    return [f](ScannerInfo& info, const std::string& t) {
        f(info, t);
        return true;
    };
}

Sink functionBit(size_t line, uint8_t bit)
{
    return always([line, bit](ScannerInfo& info, const std::string& t) {
        if (isOn(t))
            info.m_FunctionMask[line] |= bit;
        else
            info.m_FunctionMask[line] &= static_cast<uint8_t>(~bit);
    });
}

void setTrigger(TriggerSettings& trigger, bool mode, int32_t source, int32_t activation)
{
    trigger.m_Mode = mode;
    trigger.m_Source = source;
    trigger.m_Activation = activation;
}

void decideSeries(ParseState& p)
{
    ScannerInfo& info = p.info;
    if (info.m_PixelXMax == 1280)
        info.m_Series = "KTRA";
    else if (info.m_PixelXMax == 2048)
        info.m_Series = "KTRB";

    std::string version = info.m_FirmwareVersion;
    version = version.substr(0, version.find_first_of("-rc"));
    std::erase(version, '.');
    info.m_FirmwareNumber = toInt(version);
}

// The scanner's trigger source s (-1: by the amount a) as the LineStart trigger.
void applyLineStart(ParseState& p)
{
    ScannerInfo& info = p.info;
    const int32_t s = info.m_TriggerSource;
    const int32_t a = info.m_TriggerAmountProfilesY;
    const auto is = [&](int32_t kind) { return s == kind || (s == -1 && a == kind); };
    TriggerSettings& lineStart = info.m_Triggers[kLineStart];
    if (is(1)) {
        for (size_t n = 0; n < 4; ++n)
            if (info.m_EaFunction[n] == 1) {
                setTrigger(lineStart, true, static_cast<int32_t>(n + 1), info.m_Lines[n].m_Inverter ? 2 : 1);
                return;
            }
        p.commands.push_back({s == -1 ? InfoCommand::TriggerAmountProfilesY0 : InfoCommand::TriggerSource0});
        setTrigger(lineStart, false, 0, 0);
    } else if (is(0)) {
        setTrigger(lineStart, false, 0, 0);
    } else if (is(2)) {
        const bool bothEncoder = info.m_EaFunction[0] == 5 && info.m_EaFunction[1] == 5;
        setTrigger(lineStart, true, bothEncoder ? 5 : 6, 0);
    } else if (is(3)) {
        setTrigger(lineStart, true, 7, 0);
    }
}

void clearFunctions(ParseState& p, size_t line)
{
    p.commands.push_back({InfoCommand::ClearEAFunctions, static_cast<unsigned>(line + 1)});
}

// The first line with the function; further lines with it are released.
std::optional<size_t> firstFunctionLine(ParseState& p, uint8_t function)
{
    std::optional<size_t> first;
    for (size_t n = 0; n < 4; ++n) {
        if (!(p.info.m_FunctionMask[n] & function))
            continue;
        if (first)
            clearFunctions(p, n);
        else
            first = n;
    }
    return first;
}

void applyLineRules(ParseState& p)
{
    ScannerInfo& info = p.info;
    const int32_t s = info.m_TriggerSource;

    // A reset-counter line (function 3) may carry one function; any other line none.
    for (size_t n = 0; n < 4; ++n) {
        const int on = std::popcount(static_cast<unsigned>(info.m_FunctionMask[n] & 7));
        if (info.m_EaFunction[n] == 3 ? on >= 2 : on >= 1)
            clearFunctions(p, n);
    }

    // The first reset-counter line resets the encoders.
    EncoderSettings& encoder = info.m_Encoders[0];
    if (const std::optional<size_t> n = firstFunctionLine(p, kFunctionResetCounter)) {
        encoder.m_ResetSource = static_cast<int32_t>(*n + 1);
        encoder.m_ResetActivation = info.m_ResetSignalEdge[*n];
    } else {
        encoder.m_ResetSource = 0;
    }
    info.m_Encoders[1].m_ResetSource = encoder.m_ResetSource;
    info.m_Encoders[1].m_ResetActivation = encoder.m_ResetActivation;

    for (size_t n = 0; n < 4; ++n) {
        LineSettings& line = info.m_Lines[n];
        switch (info.m_EaFunction[n]) {
        case 2: line.m_Mode = 1; line.m_Source = 1; break;
        case 4: line.m_Mode = 1; line.m_Source = 0; break;
        case 1:
        case 3:
        case 5: line.m_Mode = 0; break;
        default: break;
        }
    }

    // The first profile-enable line gates the frame (amount-driven trigger) or the acquisition.
    TriggerSettings& frameStart = info.m_Triggers[kFrameStart];
    TriggerSettings& acquisitionActive = info.m_Triggers[kAcquisitionActive];
    if (const std::optional<size_t> n = firstFunctionLine(p, kFunctionProfileEnable)) {
        const int32_t line = static_cast<int32_t>(*n + 1);
        const int32_t activation = info.m_Lines[*n].m_Inverter ? 4 : 3;
        if (s == -1) {
            setTrigger(frameStart, true, line, activation);
            acquisitionActive.m_Mode = false;
        } else {
            setTrigger(acquisitionActive, true, line, activation);
        }
    } else {
        if (s == -1) {
            setTrigger(frameStart, true, 7, 0);
            if (info.m_Triggers[kLineStart].m_Source == 7) {
                p.commands.push_back({InfoCommand::TriggerAmountProfilesY0});
                setTrigger(info.m_Triggers[kLineStart], false, 0, 0);
            }
        }
        setTrigger(acquisitionActive, false, 8, 0);
    }
    if (s != -1) {
        frameStart = TriggerSettings{};
        frameStart.m_Source = 8;
    }

    const uint32_t width = static_cast<uint32_t>(info.m_Regions[0].m_Width);
    const uint32_t height = static_cast<uint32_t>(info.m_Regions[0].m_Height);
    if (const std::optional<uint32_t> rate = SeriesMaxLineRate(info.m_Series, width, height)) {
        info.m_MaxLineRate = *rate;
        info.m_ExposureOverhead = info.m_Series == "KTRB" ? 60 : 0;
    }
}

const std::string kGeneral = "device:general:";
const std::string kSettings = "device:settings:";

std::string userIoKey(size_t line, const char* name)
{
    return kSettings + "usrio:ea" + std::to_string(line + 1) + ":" + name + ":current";
}

// The descriptor's keys in reading order, with the rules that follow them.
std::vector<Key> makeKeys()
{
    using I = ScannerInfo;
    std::vector<Key> k = {
        {kGeneral + "ordernumber", text(&I::m_OrderNumber)},
        {kGeneral + "productversion", text(&I::m_ProductVersion)},
        {kGeneral + "producer", text(&I::m_Producer)},
        {kGeneral + "description", text(&I::m_Description)},
        {kGeneral + "hardwareversion:general", text(&I::m_HardwareVersion)},
        {kGeneral + "firmwareversion:general", text(&I::m_FirmwareVersion)},
        {kGeneral + "mac", text(&I::m_MacAddress)},
        {kGeneral + "serialnumber", text(&I::m_SerialNumber)},
        {kGeneral + "pixel_x_max", integer(&I::m_PixelXMax)},
        {kGeneral + "pixel_z_max", integer(&I::m_PixelZMax)},
        {kSettings + "roi:z1:height:min", integer(&I::m_RoiHeightMin)},
        {kSettings + "roi:x1:width:min", integer(&I::m_RoiWidthMin), false, {}, decideSeries},
        {kSettings + "userstring:current", text(&I::m_UserString), true},
        {kGeneral + "temperatur", integer(&I::m_DeviceTemperature)},
        {kGeneral + "workingrange_z_start", real(&I::m_WorkingRangeZStart)},
        {kGeneral + "measuringrange_z", real(&I::m_MeasuringRangeZ)},
        {kGeneral + "fieldwidth_x_start", real(&I::m_FieldWidthXStart)},
        {kGeneral + "fieldwidth_x_end", real(&I::m_FieldWidthXEnd)},
        {kGeneral + "pixel_x_max", real(&I::m_PixelXMaxReal)},
        {kGeneral + "pixel_z_max", real(&I::m_PixelZMaxReal)},
        {kSettings + "exposuretime:current", integer(&I::m_ExposureTime)},
        {kSettings + "acquisitionlinetime:current", integer(&I::m_AcquisitionLineTime)},
        {kSettings + "roi:x1:width:current", always([](I& info, const std::string& t) {
             info.m_Regions[0].m_Width = info.m_Regions[1].m_Width = toInt(t);
         })},
        {kSettings + "roi:x1:offset:current", always([](I& info, const std::string& t) {
             info.m_Regions[0].m_OffsetX = toInt(t);
             info.m_Regions[1].m_OffsetX = 0;
         })},
        {kSettings + "roi:z1:height:current",
         always([](I& info, const std::string& t) { info.m_Regions[0].m_Height = toInt(t); })},
        {kSettings + "roi:z1:offset:current", always([](I& info, const std::string& t) {
             info.m_Regions[0].m_OffsetY = toInt(t);
             info.m_Regions[1].m_OffsetY = 0;
         })},
        {kSettings + "amountprofilesy:current",
         always([](I& info, const std::string& t) { info.m_Regions[1].m_Height = toInt(t); })},
        {kSettings + "syncout:current", integer(&I::m_SyncOut)},
        {kSettings + "syncoutdelay:current", integer(&I::m_SyncOutDelay)},
        {kSettings + "protocol:profile:signal:enable:current", byte(&I::m_SignalEnable)},
        {kSettings + "signalselection:current", byte(&I::m_SignalSelection)},
        {kSettings + "signalwidthmin:current", integer(&I::m_SignalWidthMin)},
        {kSettings + "signalwidthmax:current", integer(&I::m_SignalWidthMax)},
        {kSettings + "signalstrengthmin:current", integer(&I::m_SignalStrengthMin)},
        {kSettings + "signalwidthmin:min", limit(&I::m_SignalWidthMinLimits, &SettingLimits::m_Min)},
        {kSettings + "signalwidthmin:max", limit(&I::m_SignalWidthMinLimits, &SettingLimits::m_Max)},
        {kSettings + "signalwidthmax:min", limit(&I::m_SignalWidthMaxLimits, &SettingLimits::m_Min)},
        {kSettings + "signalwidthmax:max", limit(&I::m_SignalWidthMaxLimits, &SettingLimits::m_Max)},
        {kSettings + "signalstrengthmin:min", limit(&I::m_SignalStrengthMinLimits, &SettingLimits::m_Min)},
        {kSettings + "signalstrengthmin:max", limit(&I::m_SignalStrengthMinLimits, &SettingLimits::m_Max)},
        {kSettings + "protocol:profile:signal:content:strength:current",
         always([](I& info, const std::string& t) { info.m_IntensityEnabled = isOn(t); })},
        {kSettings + "protocol:profile:signal:content:z:current", always([](I&, const std::string&) {})},
        {kGeneral + "encoder_htl",
         [](I& info, const std::string& t) { return toEncoderValue(t, info.m_Encoders[0].m_Value); }},
        {kGeneral + "encoder_ttl_rs422",
         [](I& info, const std::string& t) { return toEncoderValue(t, info.m_Encoders[1].m_Value); }},
    };
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "function"),
                     always([n](I& info, const std::string& t) { info.m_EaFunction[n] = toInt(t); })});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "functionlaseroff"), functionBit(n, kFunctionLaserOff)});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "functionprofileenable"), functionBit(n, kFunctionProfileEnable)});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "functionresetcounter"), functionBit(n, kFunctionResetCounter)});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "resetcounter:signaledge"),
                     always([n](I& info, const std::string& t) { info.m_ResetSignalEdge[n] = toInt(t); })});
    // Input function 1 is the plain input (what the LineInverter and TriggerActivation writes
    // send for "not inverted"), 0 the inverted one.
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "inputfunction"),
                     always([n](I& info, const std::string& t) { info.m_Lines[n].m_Inverter = toInt(t) == 0; })});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({kGeneral + "usrio:ea" + std::to_string(n + 1) + ":state",
                     always([n](I& info, const std::string& t) {
                         const bool state = isOn(t);
                         info.m_Lines[n].m_State = state;
                         info.m_Lines[n].m_UserOutputValue = state;
                         const uint32_t bit = 1u << n;
                         info.m_LineStateMask = state ? info.m_LineStateMask | bit : info.m_LineStateMask & ~bit;
                     })});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "output"),
                     always([n](I& info, const std::string& t) { info.m_Lines[n].m_OutputFunction = toInt(t); })});
    for (size_t n = 0; n < 4; ++n)
        k.push_back({userIoKey(n, "inputfunctionload"),
                     always([n](I& info, const std::string& t) { info.m_Lines[n].m_InputLoad = isOn(t); })});
    k.push_back({kSettings + "encoder:triggerfunction:current", always([](I& info, const std::string& t) {
                     const int32_t mode = toInt(t);
                     if (mode >= 0 && mode <= 4)
                         info.m_Encoders[0].m_OutputMode = mode;
                     info.m_Encoders[1].m_OutputMode = info.m_Encoders[0].m_OutputMode;
                 }),
                 false, kSettings + "triggerfunction:current"});
    k.push_back({kSettings + "triggersource:current", integer(&I::m_TriggerSource)});
    k.push_back({kSettings + "triggeramountprofilesy:current", integer(&I::m_TriggerAmountProfilesY), false, {},
                 applyLineStart});
    k.push_back({kSettings + "triggerencoderstep:current",
                 always([](I& info, const std::string& t) { info.m_Triggers[kLineStart].m_Divider = toInt(t); })});
    k.push_back({kSettings + "triggerdelay:current",
                 always([](I& info, const std::string& t) { info.m_Triggers[kLineStart].m_Delay = toInt(t); }), false,
                 {}, applyLineRules});
    return k;
}

const std::vector<Key>& keys()
{
    static const std::vector<Key> table = makeKeys();
    return table;
}

void setStatus(InfoStatus* out, InfoStatus status)
{
    if (out)
        *out = status;
}

}  // namespace

bool ParseScannerInfo(const char* xml, ScannerInfo& info, std::vector<InfoCommand>* commands, InfoStatus* status)
{
    tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
    if (!xml || doc.Parse(xml) != tinyxml2::XML_SUCCESS) {
        setStatus(status, InfoStatus::XmlError);
        return false;
    }
    // Work on a copy: a bad number leaves info as it was, a missing key keeps what came before it.
    ScannerInfo work = info;
    std::vector<InfoCommand> issued;
    ParseState state{work, issued};
    const auto commit = [&] {
        info = std::move(work);
        if (commands)
            commands->insert(commands->end(), issued.begin(), issued.end());
    };
    for (const Key& key : keys()) {
        std::string value;
        if (!FindXmlText(&doc, key.path, &value) && (key.fallback.empty() || !FindXmlText(&doc, key.fallback, &value))) {
            if (key.optional)
                continue;
            commit();
            setStatus(status, InfoStatus::MissingKey);
            return false;
        }
        if (!key.sink(work, value)) {
            setStatus(status, InfoStatus::BadNumber);
            return false;
        }
        if (key.after)
            key.after(state);
    }
    commit();
    setStatus(status, InfoStatus::Ok);
    return true;
}

void SendInfoCommands(ScannerApi& scanner, ScannerHandle handle, const std::vector<InfoCommand>& commands)
{
    for (const InfoCommand& command : commands) {
        switch (command.m_Kind) {
        case InfoCommand::TriggerAmountProfilesY0: SendSetTriggerAmountProfilesY(scanner, handle, 0); break;
        case InfoCommand::TriggerSource0: SendSetTriggerSource0(scanner, handle); break;
        case InfoCommand::ClearEAFunctions: SendClearEAFunctions(scanner, handle, command.m_Line); break;
        }
    }
}

bool UpdateScannerInfo(ScannerApi& scanner, ScannerHandle handle, Clock& clock, ScannerInfo& info, InfoStatus* status)
{
    std::unique_ptr<char[]> buffer(new char[kDescriptorBufferSize]);
    const int length = scanner.GetInfo(handle, buffer.get(), kDescriptorBufferSize, "xml");
    if (length <= 0) {
        setStatus(status, InfoStatus::ReceiveError);
        return false;
    }
    buffer[std::min(length, kDescriptorBufferSize - 1)] = '\0';
    std::vector<InfoCommand> commands;
    const bool parsed = ParseScannerInfo(buffer.get(), info, &commands, status);
    SendInfoCommands(scanner, handle, commands);
    if (parsed)
        info.m_LastRefreshMs = clock.NowMs();
    return parsed;
}

bool FirmwareAtLeast(const std::string& version, int major, int minor, int patch)
{
    const std::string kept = version.substr(0, version.find_first_of("-rc"));
    int parts[3] = {0, 0, 0};
    size_t start = 0;
    for (int& part : parts) {
        if (start > kept.size())
            break;
        const size_t dot = std::min(kept.find('.', start), kept.size());
        part = toInt(kept.substr(start, dot - start));
        start = dot + 1;
    }
    const int wanted[3] = {major, minor, patch};
    return !std::lexicographical_compare(parts, parts + 3, wanted, wanted + 3);
}

std::optional<uint32_t> SeriesMaxLineRate(const std::string& series, uint32_t roiWidth, uint32_t roiHeight)
{
    if (series == "KTRB") {
        constexpr struct {
            uint32_t height, rate;
        } kSteps[] = {{32, 6000}, {40, 5200}, {45, 5000}, {50, 4700}, {55, 4400}, {60, 4000}};
        for (const auto& step : kSteps)
            if (roiHeight <= step.height)
                return step.rate;
        const double rate = 149359.5 * std::pow(static_cast<double>(roiHeight), -0.8678007147) - 20.0;
        return static_cast<uint32_t>(std::max(rate, 0.0));
    }
    if (series == "KTRA") {
        const double rate = 0.95 * 1000000.0 / ((roiWidth * 0.003458273 + 0.073443424) * roiHeight + 56.0);
        return static_cast<uint32_t>(std::min(rate, 4000.0));
    }
    return std::nullopt;
}

}  // namespace lumabridge
