// ReadData: one named value as text, from the status record, the descriptor or the library.
#include "src/cquillan.h"

#include "src/read_data_names.h"

#include "platform/bytes.h"
#include "platform/clock.h"

#include <cstring>
#include <string_view>

namespace quillan {
namespace {

// Copies text and its NUL when they fit in len bytes.
int putText(const std::string& text, char* buf, int len)
{
    if (!buf || len < 0 || text.size() + 1 > static_cast<size_t>(len))
        return -1;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return 0;
}

void putEmpty(char* buf, int len)
{
    if (buf && len >= 1)
        buf[0] = '\0';
}

int putBytes(const uint8_t* data, size_t size, char* buf, int len)
{
    if (!buf || len < 0 || size >= static_cast<size_t>(len))
        return -1;
    std::memcpy(buf, data, size);
    return 0;
}

// The first block with the tag in a container, header included.
bool findBlock(const std::vector<uint8_t>& c, uint32_t tag, size_t& offset, size_t& length)
{
    if (c.size() < 8)
        return false;
    size_t total = std::min<size_t>(platform::loadLE32(c.data() + 4), c.size());
    if (total == 0)
        total = c.size();
    for (size_t at = 8; at + 8 <= total;) {
        uint32_t blockTag = platform::loadLE32(c.data() + at);
        size_t blockLength = platform::loadLE32(c.data() + at + 4);
        if (blockLength < 8 || blockLength > total - at)
            return false;
        if (blockTag == tag) {
            offset = at;
            length = blockLength;
            return true;
        }
        at += blockLength;
    }
    return false;
}

}  // namespace

int CQuillan::decodeStatus(stream::StatusRecord& record)
{
    std::lock_guard lock(m_StatusMutex);
    expireDeliveredLocked();
    if (m_NewStatus) {
        std::vector<uint8_t> newest;
        const std::vector<uint8_t>* frame = &m_StatusFrame;
        if (!m_Delivered && m_Ring->lastStored(newest))
            frame = &newest;
        stream::decodeStatusContainer(frame->data(), frame->size(), m_StatusRecord);
        m_NewStatus = false;
    }
    record = m_StatusRecord;
    return 0;
}

int CQuillan::ReadData(const char* rawName, char* buf, int len, int cacheMs)
{
    std::string_view name(rawName ? rawName : "");
    bool received = m_Ring->storedSinceReset();

    if (name == "RawData") {
        if (!received)
            return -4;
        std::vector<uint8_t> last;
        if (!m_Ring->lastStored(last))
            return -4;
        return putBytes(last.data(), last.size(), buf, len);
    }
    if (name.size() == 13 && name.starts_with("GetSettings=") && name[12] >= '0' && name[12] <= '3') {
        std::string command = std::string(name) + "\r";
        auto answer = askXml(command.c_str());
        if (!answer || answer->text.empty())
            return -5;
        return putText(answer->text, buf, len);
    }
    if (name == "GetCameraMode" || name == "GetCameraMode\r")
        return putText(std::to_string(m_Parser.frameKind()), buf, len);
    if (name == "GetCheckLinearizationMode" || name == "GetCheckLinearizationMode\r")
        return putText(std::to_string(m_Lin.linearizationMode() ? 1 : 0), buf, len);

    auto entry = lookupReadDataName(name);
    if (!entry)
        return -3;

    if (entry->blockTag != 0) {
        if (cacheMs != -1)
            return -2;
        if (!received)
            return -4;
        std::vector<uint8_t> frame;
        {
            std::lock_guard lock(m_StatusMutex);
            expireDeliveredLocked();
            frame = m_StatusFrame;
        }
        if (frame.empty())
            m_Ring->lastStored(frame);
        size_t offset = 0, length = 0;
        if (!findBlock(frame, entry->blockTag, offset, length))
            return -5;
        return putBytes(frame.data() + offset, length, buf, len);
    }

    bool isStatus = entry->statusField >= 0;
    bool isDescriptor = !entry->descriptorKey.empty();
    if (cacheMs < -1) {
        // The lookup still runs: a descriptor name writes its stored text.
        if (isDescriptor) {
            putText(m_Info.get(entry->descriptorKey), buf, len);
            return -3;
        }
        putEmpty(buf, len);
        return -2;
    }
    if (cacheMs == -1) {
        if (!received)
            return -4;
        if (!isStatus) {
            putEmpty(buf, len);
            return -2;
        }
        stream::StatusRecord record;
        decodeStatus(record);
        return putText(std::to_string(record[static_cast<size_t>(entry->statusField)]), buf, len);
    }
    // The refresh comes first for every name, so a silent scanner shows as -5.
    bool stale = cacheMs == 0 || !m_Info.everParsed() ||
                 platform::tickCountMs() - m_Info.lastParseTick() > static_cast<uint32_t>(cacheMs);
    if (stale) {
        auto answer = RequestXmlDescriptor();
        if (!answer || !answer->parsed)
            return -5;
    }
    if (!isDescriptor) {
        putEmpty(buf, len);
        return -2;
    }
    return putText(m_Info.get(entry->descriptorKey), buf, len);
}

}  // namespace quillan
