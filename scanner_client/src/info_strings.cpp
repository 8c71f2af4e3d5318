#include "src/info_strings.h"

#include "find_xml_text.h"

#include <cstdlib>
#include <tinyxml2.h>

namespace quillan {
namespace {

const char* const kGeneral[] = {"ordernumber",      "productversion",     "producer",
                                "hardwareversion:general", "firmwareversion:general", "serialnumber",
                                "mac",              "workingrange_z_start", "measuringrange_z",
                                "fieldwidth_x_start", "fieldwidth_x_end",  "pixel_x_max",
                                "pixel_z_max",      "lininfo",            "encoder_htl",
                                "encoder_ttl_rs422"};
const char* const kGeneralTail[] = {"onoffcounter", "ontimecounter", "scannerstatus", "temperatur"};
const char* const kSettings[] = {"userstring",
                                 "protocol:profile:signal:enable",
                                 "protocol:profile:signal:content:z",
                                 "protocol:profile:signal:content:strength",
                                 "protocol:profile:signal:content:width",
                                 "protocol:profile:signal:content:reserved",
                                 "acquisitionlinetime",
                                 "camerarunning",
                                 "heartbeat",
                                 "socketconnectiontimeout",
                                 "triggersource",
                                 "triggeramountprofilesy",
                                 "amountprofilesy",
                                 "triggerencoderstep",
                                 "triggerdelay",
                                 "exposuretime",
                                 "laseractive",
                                 "laserpwm",
                                 "laserpwmdisablemode",
                                 "roi:x1:width",
                                 "roi:x1:offset",
                                 "roi:x1:step",
                                 "roi:z1:height",
                                 "roi:z1:offset",
                                 "syncout",
                                 "syncoutdelay",
                                 "signalwidthmin",
                                 "signalwidthmax",
                                 "signalstrengthmin",
                                 "signalselection",
                                 "triggerfunction",
                                 "countdirection"};
const char* const kUserIo[] = {"function",
                               "functionlaseroff",
                               "functionprofileenable",
                               "functionresetcounter",
                               "inputfunction",
                               "inputfunctionload",
                               "output",
                               "outputfunction",
                               "resetcounter:repeat",
                               "resetcounter:signaledge",
                               "resetcounter:basetimecounter",
                               "resetcounter:picturecounter",
                               "resetcounter:encoder_htl",
                               "resetcounter:encoder_ttl_rs422"};

const std::string kGeneralPrefix = "device:general:";
const std::string kFirmwareKey = kGeneralPrefix + "firmwareversion:general";
const std::string kOrderNumberKey = kGeneralPrefix + "ordernumber";

// Bit n set when the n-th key's value is not 0; nothing when no key is present.
bool combineStates(tinyxml2::XMLDocument& doc, const std::vector<std::string>& keys, std::string* out)
{
    int mask = 0;
    bool any = false;
    for (size_t n = 0; n < keys.size(); ++n) {
        std::string value;
        if (!FindXmlText(&doc, keys[n], &value))
            continue;
        any = true;
        if (std::atoi(value.c_str()) != 0)
            mask |= 1 << n;
    }
    if (any)
        *out = std::to_string(mask);
    return any;
}

}  // namespace

const std::vector<std::string>& descriptorKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const char* name : kGeneral)
            k.push_back(kGeneralPrefix + name);
        for (const char* name : kGeneralTail)
            k.push_back(kGeneralPrefix + name);
        for (const char* name : kSettings)
            k.push_back(std::string("device:settings:") + name + ":current");
        for (int n = 1; n <= 4; ++n)
            for (const char* name : kUserIo)
                k.push_back("device:settings:usrio:ea" + std::to_string(n) + ":" + name + ":current");
        return k;
    }();
    return keys;
}

int firmwareNumber(const std::string& version)
{
    std::string digits;
    for (char c : version) {
        if (c == '-' || c == 'r' || c == 'c')
            break;
        if (c != '.')
            digits.push_back(c);
    }
    return std::atoi(digits.c_str());
}

bool strengthWidthByteOrder(const std::string& firmwareVersion, const std::string& orderNumber)
{
    return firmwareNumber(firmwareVersion) <= 112 && orderNumber.size() >= 4 &&
           orderNumber.find("KTRB") != std::string::npos;
}

bool InfoStrings::parse(const char* text, uint32_t tick)
{
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!text || doc.Parse(text) != tinyxml2::XML_SUCCESS)
        return false;

    std::map<std::string, std::string> found;
    for (const auto& key : descriptorKeys()) {
        std::string value;
        if (FindXmlText(&doc, key, &value))
            found[key] = value;
    }
    std::string userIo, ttl;
    bool hasUserIo = combineStates(doc,
                                   {kGeneralPrefix + "usrio:ea1:state", kGeneralPrefix + "usrio:ea2:state",
                                    kGeneralPrefix + "usrio:ea3:state", kGeneralPrefix + "usrio:ea4:state"},
                                   &userIo);
    bool hasTtl = combineStates(doc,
                                {kGeneralPrefix + "ttl_rs422:en_a:state", kGeneralPrefix + "ttl_rs422:en_b:state",
                                 kGeneralPrefix + "ttl_rs422:en_0:state"},
                                &ttl);

    std::lock_guard lock(m_Mutex);
    for (auto& [key, value] : found)
        m_Slots[key] = std::move(value);
    if (hasUserIo)
        m_Slots[kUserIoStatesSlot] = userIo;
    if (hasTtl)
        m_Slots[kTtlRs422StatesSlot] = ttl;
    auto slot = [&](const std::string& key) {
        auto it = m_Slots.find(key);
        return it == m_Slots.end() ? std::string() : it->second;
    };
    m_ByteOrder = quillan::strengthWidthByteOrder(slot(kFirmwareKey), slot(kOrderNumberKey));
    m_LastParseTick = tick;
    m_Parsed = true;
    return true;
}

std::string InfoStrings::get(const std::string& key) const
{
    std::lock_guard lock(m_Mutex);
    auto it = m_Slots.find(key);
    return it == m_Slots.end() ? std::string() : it->second;
}

bool InfoStrings::has(const std::string& key) const
{
    std::lock_guard lock(m_Mutex);
    return m_Slots.count(key) != 0;
}

bool InfoStrings::strengthWidthByteOrder() const
{
    std::lock_guard lock(m_Mutex);
    return m_ByteOrder;
}

uint32_t InfoStrings::lastParseTick() const
{
    std::lock_guard lock(m_Mutex);
    return m_LastParseTick;
}

bool InfoStrings::everParsed() const
{
    std::lock_guard lock(m_Mutex);
    return m_Parsed;
}

}  // namespace quillan
