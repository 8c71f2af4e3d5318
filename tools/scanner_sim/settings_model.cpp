#include "scanner_sim/settings_model.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace scanner_sim {
namespace {

const std::string kGeneral = "device:general:";
const std::string kSettings = "device:settings:";

std::string setting(std::string_view name) { return kSettings + std::string(name) + ":current"; }
std::string userIo(int line, std::string_view name)
{
    return kSettings + "usrio:ea" + std::to_string(line) + ":" + std::string(name) + ":current";
}

// Decimal integer: optional blanks and sign, digits, nothing after them.
bool parseInt(std::string_view text, long& out)
{
    const std::string s(text);
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    out = v;
    return true;
}

// Commands that set one integer setting as given.
struct Direct {
    std::string_view command;
    std::string_view path;
};
constexpr Direct kDirect[] = {
    {"ExposureTime", "exposuretime"},
    {"AcquisitionLineTime", "acquisitionlinetime"},
    {"AmountProfilesY", "amountprofilesy"},
    {"TriggerSource", "triggersource"},
    {"TriggerEncoderStep", "triggerencoderstep"},
    {"TriggerDelay", "triggerdelay"},
    {"SignalEnable", "protocol:profile:signal:enable"},
    {"SignalSelection", "signalselection"},
    {"SignalContentWidth", "protocol:profile:signal:content:width"},
    {"SignalContentStrength", "protocol:profile:signal:content:strength"},
    {"SignalContentReserved", "protocol:profile:signal:content:reserved"},
    {"SyncOut", "syncout"},
    {"SyncOutDelay", "syncoutdelay"},
    {"HeartBeat", "heartbeat"},
};

// Commands clamped to the setting's :min .. :max.
constexpr Direct kClamped[] = {
    {"SignalWidthMin", "signalwidthmin"},
    {"SignalWidthMax", "signalwidthmax"},
    {"SignalStrengthMin", "signalstrengthmin"},
};

// SetEA<n><suffix>=v -> usrio:ea<n>:<path>:current
constexpr Direct kUserIo[] = {
    {"Function", "function"},
    {"FunctionLaserOff", "functionlaseroff"},
    {"FunctionProfileEnable", "functionprofileenable"},
    {"FunctionResetCounter", "functionresetcounter"},
    {"InputFunction", "inputfunction"},
    {"InputLoad", "inputfunctionload"},
    {"Output", "output"},
    {"OutputFunction", "outputfunction"},
    {"ResetCounterSignaledge", "resetcounter:signaledge"},
    {"ResetCounterRepeat", "resetcounter:repeat"},
    {"ResetCounterEncoderHTL", "resetcounter:encoder_htl"},
    {"ResetCounterEncoderTTLRS422", "resetcounter:encoder_ttl_rs422"},
    {"FunctionFixedFrameNumberFinishSignal", "functionfixedframenumberfinishsignal"},
};

// The region of interest on the sensor: a size from its minimum to what the offset leaves, an
// offset from 0 to what the size leaves.
struct RoiAxis {
    std::string_view size, offset;  // commands
    std::string_view sizePath, offsetPath, sensorPath;
};
constexpr RoiAxis kRoi[] = {
    {"ROI1WidthX", "ROI1OffsetX", "roi:x1:width", "roi:x1:offset", "pixel_x_max"},
    {"ROI1HeightZ", "ROI1OffsetZ", "roi:z1:height", "roi:z1:offset", "pixel_z_max"},
};

struct Node {
    std::string name;
    std::string text;
    bool hasText = false;
    std::vector<std::unique_ptr<Node>> children;

    Node& child(std::string_view n)
    {
        for (auto& c : children)
            if (c->name == n)
                return *c;
        children.push_back(std::make_unique<Node>());
        children.back()->name = std::string(n);
        return *children.back();
    }
};

void writeNode(const Node& node, int depth, std::string& out)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    out += indent + "<" + node.name + ">";
    if (node.hasText)
        out += escapeXml(node.text);
    if (!node.children.empty()) {
        out += "\n";
        for (const auto& c : node.children)
            writeNode(*c, depth + 1, out);
        out += indent;
    }
    out += "</" + node.name + ">\n";
}

}  // namespace

std::string escapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

SettingsModel::SettingsModel(DeviceIdentity identity) : m_Identity(std::move(identity)) { Reset(); }

void SettingsModel::Reset()
{
    m_Entries.clear();
    m_Index.clear();
    m_LinearizationMode = false;
    const LinGeometry& g = m_Identity.geometry;
    const auto general = [&](std::string_view name, std::string value) { Set(kGeneral + std::string(name), std::move(value)); };
    const DeviceIdentity& id = m_Identity;
    general("ordernumber", id.orderNumber.empty() ? id.series + "-" + std::to_string(g.widthX) : id.orderNumber);
    general("productversion", id.productVersion);
    general("producer", id.producer);
    general("description", id.description);
    general("hardwareversion:general", id.hardwareVersion);
    general("firmwareversion:general", id.firmware);
    general("serialnumber", id.serialNumber);
    general("mac", id.mac);
    general("workingrange_z_start", std::to_string(static_cast<long>(g.zStart)));
    general("measuringrange_z", std::to_string(static_cast<long>(g.zRange)));
    general("fieldwidth_x_start", std::to_string(static_cast<long>(g.xStart)));
    general("fieldwidth_x_end", std::to_string(static_cast<long>(g.xEnd)));
    general("pixel_x_max", std::to_string(g.widthX));
    general("pixel_z_max", std::to_string(g.widthZ));
    general("lininfo", "analytic");
    general("encoder_htl", "0");
    general("encoder_ttl_rs422", "0");
    for (int n = 1; n <= 4; ++n)
        general("usrio:ea" + std::to_string(n) + ":state", "0");
    for (const char* line : {"en_a", "en_b", "en_0"})
        general(std::string("ttl_rs422:") + line + ":state", "0");
    general("onoffcounter", "1");
    general("ontimecounter", "0");
    general("scannerstatus", "0");
    general("temperatur", std::to_string(id.temperature));

    const auto settingInt = [&](std::string_view name, long v) { setInt(setting(name), v); };
    Set(setting("userstring"), id.userString);
    settingInt("protocol:profile:signal:enable", 1);
    settingInt("protocol:profile:signal:content:z", 1);
    settingInt("protocol:profile:signal:content:strength", 1);
    settingInt("protocol:profile:signal:content:width", 1);
    settingInt("protocol:profile:signal:content:reserved", 0);
    settingInt("acquisitionlinetime", id.lineTime);
    settingInt("camerarunning", 0);
    settingInt("heartbeat", 0);
    settingInt("socketconnectiontimeout", 0);
    settingInt("triggersource", 0);
    settingInt("triggeramountprofilesy", 0);
    settingInt("amountprofilesy", 1);
    settingInt("triggerencoderstep", 1);
    settingInt("triggerdelay", 0);
    settingInt("exposuretime", id.exposureTime);
    settingInt("laseractive", 1);
    settingInt("laserpwm", 100);
    settingInt("laserpwmdisablemode", 0);
    settingInt("roi:x1:width", g.widthX);
    setInt(kSettings + "roi:x1:width:min", 16);
    settingInt("roi:x1:offset", 0);
    settingInt("roi:x1:step", 0);
    settingInt("roi:z1:height", g.widthZ);
    setInt(kSettings + "roi:z1:height:min", 8);
    settingInt("roi:z1:offset", 0);
    settingInt("syncout", 20);
    settingInt("syncoutdelay", 5);
    const struct {
        const char* name;
        long current, min, max;
    } ranges[] = {{"signalwidthmin", 2, 0, 63}, {"signalwidthmax", 63, 0, 63}, {"signalstrengthmin", 10, 0, 1023}};
    for (const auto& r : ranges) {
        settingInt(r.name, r.current);
        setInt(kSettings + r.name + ":min", r.min);
        setInt(kSettings + r.name + ":max", r.max);
    }
    settingInt("signalselection", 0);
    settingInt("triggerfunction", 0);
    settingInt("encoder:triggerfunction", 0);
    settingInt("countdirection", 0);
    // The lines as wired by default: a trigger input, a reset input, a frame output, a user output.
    constexpr int kLineFunction[] = {1, 3, 2, 4};
    for (int n = 1; n <= 4; ++n) {
        for (const Direct& d : kUserIo)
            // Output 1; input function 1 is the plain (not inverted) input.
            setInt(userIo(n, d.path),
                   d.path == std::string_view("output") || d.path == std::string_view("inputfunction") ? 1 : 0);
        setInt(userIo(n, "function"), kLineFunction[n - 1]);
        setInt(userIo(n, "resetcounter:basetimecounter"), 0);
        setInt(userIo(n, "resetcounter:picturecounter"), 0);
    }
}

std::string SettingsModel::Value(const std::string& path) const
{
    const auto it = m_Index.find(path);
    return it == m_Index.end() ? std::string() : m_Entries[it->second].second;
}

int SettingsModel::IntValue(const std::string& path) const { return std::atoi(Value(path).c_str()); }

void SettingsModel::Set(const std::string& path, std::string v)
{
    const auto it = m_Index.find(path);
    if (it != m_Index.end()) {
        m_Entries[it->second].second = std::move(v);
        return;
    }
    m_Index.emplace(path, m_Entries.size());
    m_Entries.emplace_back(path, std::move(v));
}

void SettingsModel::Remove(const std::string& path)
{
    const auto it = m_Index.find(path);
    if (it == m_Index.end())
        return;
    m_Entries.erase(m_Entries.begin() + static_cast<std::ptrdiff_t>(it->second));
    m_Index.clear();
    for (size_t i = 0; i < m_Entries.size(); ++i)
        m_Index.emplace(m_Entries[i].first, i);
}

bool SettingsModel::Apply(std::string_view command)
{
    if (command.ends_with('\r'))
        command.remove_suffix(1);
    if (!command.starts_with("Set"))
        return false;
    command.remove_prefix(3);
    const size_t eq = command.find('=');
    const std::string_view name = command.substr(0, eq);
    const std::string_view text = eq == std::string_view::npos ? std::string_view() : command.substr(eq + 1);
    const bool hasValue = eq != std::string_view::npos;

    if (!hasValue) {
        if (name == "AcquisitionStart" || name == "AcquisitionStop") {
            setInt(setting("camerarunning"), name == "AcquisitionStart" ? 1 : 0);
            return true;
        }
        if (name == "ResetEncoder") {
            Set(kGeneral + "encoder_htl", "0");
            Set(kGeneral + "encoder_ttl_rs422", "0");
            return true;
        }
        return false;
    }
    if (name == "UserString") {
        Set(setting("userstring"), std::string(text));
        return true;
    }
    long v = 0;
    if (!parseInt(text, v))
        return false;
    for (const Direct& d : kDirect)
        if (name == d.command) {
            setInt(setting(d.path), v);
            return true;
        }
    for (const RoiAxis& r : kRoi) {
        if (name != r.size && name != r.offset)
            continue;
        const std::string size = kSettings + std::string(r.sizePath);
        const std::string offset = setting(r.offsetPath);
        const long sensor = IntValue(kGeneral + std::string(r.sensorPath));
        const long min = IntValue(size + ":min");
        if (name == r.size)
            setInt(size + ":current", std::clamp<long>(v, min, std::max(min, sensor - IntValue(offset))));
        else
            setInt(offset, std::clamp<long>(v, 0, std::max(0L, sensor - IntValue(size + ":current"))));
        return true;
    }
    for (const Direct& d : kClamped)
        if (name == d.command) {
            const std::string base = kSettings + std::string(d.path);
            setInt(base + ":current", std::clamp<long>(v, IntValue(base + ":min"), IntValue(base + ":max")));
            return true;
        }
    if (name == "TriggerAmountProfilesY") {
        setInt(setting("triggeramountprofilesy"), v);
        setInt(setting("triggersource"), -1);
        return true;
    }
    if (name == "LaserDeactivated") {
        setInt(setting("laseractive"), v == 0 ? 1 : 0);
        return true;
    }
    if (name == "EncoderTriggerFunction") {
        setInt(setting("encoder:triggerfunction"), v);
        setInt(setting("triggerfunction"), v);
        return true;
    }
    if (name == "LinearizationMode") {
        m_LinearizationMode = v != 0;
        return true;
    }
    if (name.size() > 3 && name.starts_with("EA") && name[2] >= '1' && name[2] <= '4')
        return applyUserIo(name[2] - '0', name.substr(3), std::to_string(v));
    return false;
}

bool SettingsModel::applyUserIo(int line, std::string_view name, std::string_view v)
{
    for (const Direct& d : kUserIo)
        if (name == d.command) {
            Set(userIo(line, d.path), std::string(v));
            // The value of a user output line shows as its state.
            if (name == "OutputFunction" && IntValue(userIo(line, "function")) == 4)
                Set(kGeneral + "usrio:ea" + std::to_string(line) + ":state", v != "0" ? "1" : "0");
            return true;
        }
    return false;
}

std::string SettingsModel::DescriptorXml() const
{
    Node root;
    for (const auto& [path, v] : m_Entries) {
        Node* node = &root;
        size_t start = 0;
        while (start <= path.size()) {
            const size_t colon = path.find(':', start);
            const size_t end = colon == std::string::npos ? path.size() : colon;
            node = &node->child(std::string_view(path).substr(start, end - start));
            start = end + 1;
        }
        node->text = v;
        node->hasText = true;
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    for (const auto& c : root.children)
        writeNode(*c, 0, out);
    return out;
}

StatusFields SettingsModel::Status() const
{
    StatusFields f;
    const auto s = [&](std::string_view name) { return IntValue(setting(name)); };
    f.seriesB = m_Identity.series != "KTRA";
    f.encoderHtl = static_cast<uint32_t>(std::strtoull(Value(kGeneral + "encoder_htl").c_str(), nullptr, 10));
    f.encoderTtl = static_cast<uint32_t>(std::strtoull(Value(kGeneral + "encoder_ttl_rs422").c_str(), nullptr, 10));
    f.temperature = static_cast<uint8_t>(IntValue(kGeneral + "temperatur"));
    f.exposureTime = static_cast<uint32_t>(s("exposuretime"));
    for (int n = 0; n < 4; ++n)
        if (IntValue(kGeneral + "usrio:ea" + std::to_string(n + 1) + ":state") != 0)
            f.ioState |= 1u << n;
    f.roiOffsetX = static_cast<uint16_t>(s("roi:x1:offset"));
    f.roiWidthX = static_cast<uint16_t>(s("roi:x1:width"));
    f.roiStepX = static_cast<uint16_t>(s("roi:x1:step"));
    f.roiOffsetZ = static_cast<uint16_t>(s("roi:z1:offset"));
    f.roiHeightZ = static_cast<uint16_t>(s("roi:z1:height"));
    f.laserActive = s("laseractive") != 0;
    f.triggerSource = s("triggersource");
    f.triggerAmountProfilesY = s("triggeramountprofilesy");
    f.cameraRunning = s("camerarunning") != 0;
    f.lineTime = static_cast<uint32_t>(s("acquisitionlinetime"));
    f.triggerDelay = static_cast<uint32_t>(s("triggerdelay"));
    f.syncOutDelay = static_cast<uint32_t>(s("syncoutdelay"));
    f.syncOut = static_cast<uint32_t>(s("syncout"));
    f.signalEnable = static_cast<uint8_t>(s("protocol:profile:signal:enable"));
    f.contentZ = s("protocol:profile:signal:content:z") != 0;
    f.contentStrength = s("protocol:profile:signal:content:strength") != 0;
    f.contentWidth = s("protocol:profile:signal:content:width") != 0;
    f.contentReserved = s("protocol:profile:signal:content:reserved") != 0;
    f.triggerEncoderStep = static_cast<uint16_t>(s("triggerencoderstep"));
    f.signalSelection = static_cast<uint8_t>(s("signalselection"));
    f.signalWidthMin = static_cast<uint8_t>(s("signalwidthmin"));
    f.signalWidthMax = static_cast<uint8_t>(s("signalwidthmax"));
    f.amountProfilesY = static_cast<uint16_t>(s("amountprofilesy"));
    f.signalStrengthMin = static_cast<uint16_t>(s("signalstrengthmin"));
    f.countDirection = s("countdirection");
    f.encoderTriggerFunction = s("encoder:triggerfunction");
    for (int n = 1; n <= 4; ++n) {
        UserIoLine& l = f.userIo[static_cast<size_t>(n - 1)];
        const auto io = [&](std::string_view name) { return IntValue(userIo(n, name)); };
        l.function = io("function");
        l.functionLaserOff = io("functionlaseroff");
        l.functionProfileEnable = io("functionprofileenable");
        l.functionResetCounter = io("functionresetcounter");
        l.inputFunction = io("inputfunction");
        l.inputLoad = io("inputfunctionload");
        l.output = io("output");
        l.outputFunction = io("outputfunction");
        l.resetCounterRepeat = io("resetcounter:repeat");
        l.resetCounterSignaledge = io("resetcounter:signaledge");
        l.resetCounterBaseTimeCounter = io("resetcounter:basetimecounter");
        l.resetCounterPictureCounter = io("resetcounter:picturecounter");
        l.resetCounterEncoderHtl = io("resetcounter:encoder_htl");
        l.resetCounterEncoderTtl = io("resetcounter:encoder_ttl_rs422");
    }
    return f;
}

}  // namespace scanner_sim
