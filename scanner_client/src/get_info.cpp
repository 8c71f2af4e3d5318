// GetInfo: the descriptor, settings sets, sync acknowledgement and the linearization summary.
#include "src/cquillan.h"

#include "src/local_command.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstring>

namespace quillan {
namespace {

constexpr char kXmlRequest[] = "get_xmldescriptor\r";
constexpr char kSyncRequest[] = "SetRequestSyncContainer\r";

// Copies text and its NUL when they fit in len bytes; otherwise writes nothing.
bool copyText(const std::string& text, char* buf, int len)
{
    if (len < 0 || text.size() >= static_cast<size_t>(len))
        return false;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

std::optional<XmlExchange::Answer> CQuillan::askXml(const char* command)
{
    uint64_t ticket = 0;
    {
        std::lock_guard lock(m_XmlRequestMutex);
        ticket = m_XmlAnswers.expect();
        SendCommand(command, static_cast<int>(std::strlen(command)));
    }
    return m_XmlAnswers.wait(ticket, std::chrono::milliseconds(1000));
}

std::optional<XmlExchange::Answer> CQuillan::RequestXmlDescriptor()
{
    if (m_Log->enabled())
        m_Log->raw(logPrefix(this) + "calling XML\n");
    return askXml(kXmlRequest);
}

int CQuillan::fetchXml(const char* command, char* buf, int len, int tooLong, int nothing)
{
    auto answer = askXml(command);
    if (!answer || answer->text.empty())
        return nothing;
    return copyText(answer->text, buf, len) ? static_cast<int>(answer->text.size()) : tooLong;
}

int CQuillan::GetInfo(char* buf, int len, const char* kind)
{
    if (!buf || len == 0)
        return -2;
    std::string k = kind ? kind : "";
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });

    if (k == "xml") {
        auto answer = RequestXmlDescriptor();
        if (!answer || answer->text.empty())
            return -4;
        return copyText(answer->text, buf, len) ? static_cast<int>(answer->text.size()) : -2;
    }
    struct Settings {
        const char* kind;
        const char* command;
        const char* logName;
        int nothing;
    };
    static const Settings kSettings[] = {
        {"settingsdefault", "GetSettings=0\r", "Default", -2},
        {"settings1", "GetSettings=1\r", "1", -2},
        {"settings2", "GetSettings=2\r", "2", -2},
        {"settings3", "GetSettings=3\r", "3", -6},
    };
    for (const auto& s : kSettings) {
        if (k != s.kind)
            continue;
        if (m_Log->enabled())
            m_Log->raw(logPrefix(this) + "calling Settings " + s.logName + "\n");
        return fetchXml(s.command, buf, len, -2, s.nothing);
    }
    if (k == "sync") {
        SyncContainerEvent.reset();
        SendCommand(kSyncRequest, static_cast<int>(sizeof(kSyncRequest) - 1));
        return SyncContainerEvent.wait(1000) == platform::WaitResult::Signaled ? 1 : -5;
    }
    if (k == "text") {
        // The parameter record is enough: a load that failed after it still read these values whole.
        auto lin = m_Lin.parameterData();
        if (!lin)
            return -3;
        std::string text = "[general]\r\n";
        text += format("sn=%lu\r\n", static_cast<unsigned long>(lin->data().serialNumber & 0xFFFFFFFFu));
        text += format("z_start=%.3f\r\n", static_cast<double>(lin->parameterFloat(kLinZStart)));
        text += format("z_range=%.3f\r\n", static_cast<double>(lin->parameterFloat(kLinZRange)));
        text += format("x_range_at_start=%.3f\r\n", static_cast<double>(lin->parameterFloat(kLinXRangeAtStart)));
        text += format("x_range_at_end=%.3f\r\n", static_cast<double>(lin->parameterFloat(kLinXRangeAtEnd)));
        text += format("widthX=%u\r\n", static_cast<unsigned>(lin->parameter(kLinWidthX)));
        text += format("widthZ=%u\r\n", static_cast<unsigned>(lin->parameter(kLinWidthZ)));
        return copyText(text, buf, len) ? static_cast<int>(text.size()) : -3;
    }
    return -6;
}

}  // namespace quillan
