// Event description builders: the event selector group, one event with its
// standard data features, and further data features of an event. The
// features read the event record as the GigE Vision mode sends it.
#include "server/camera.h"
#include "server/camera_feature_text.h"
#include "server/camera_guard.h"
#include "server/message_wire.h"

#include <mutex>
#include <string>

namespace Kivu {
namespace {

constexpr uint16_t kReadOnly = 1;
constexpr uint16_t kReadWrite = 3;
constexpr uint32_t kMaxStringData = 128;

// Where a standard feature of an event sits in the record.
struct Field {
    uint32_t offset;
    uint32_t length;
};
struct RecordLayout {
    Field channel, blockId, timestamp;
    uint32_t dataOffset;
};
constexpr RecordLayout kStandardRecord{{0x4, 2}, {0x6, 2}, {0x8, 8}, Message::kStandardRecordBytes};
constexpr RecordLayout kExtendedRecord{{0x4, 2}, {0x8, 8}, {0x10, 8}, Message::kExtendedRecordBytes};

const RecordLayout& layoutOf(uint16_t gevMode) { return gevMode == 1 ? kExtendedRecord : kStandardRecord; }

// Points a value node at offset/length of the event's port.
uint32_t placeOnPort(FeatureDesc& f, const std::string& node, uint32_t offset, uint32_t length,
                     const std::string& port)
{
    const std::string address = "0x" + hexText(offset);
    const std::string bytes = std::to_string(length);
    uint32_t st = f.SetFeatureChildText(node.c_str(), "Address", address.c_str(), false);
    if (st == GevResult::Ok)
        st = f.SetFeatureChildText(node.c_str(), "Length", bytes.c_str(), false);
    if (st == GevResult::Ok)
        st = f.SetFeatureChildText(node.c_str(), "pPort", port.c_str(), false);
    return st;
}

}  // namespace

uint32_t Camera::AddEventSelectorFeatures(const char* category)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (category == nullptr)
            return GevResult::InvalidArgument;
        // The group is built as far as it goes; a part that exists already stays.
        m_Features->AddCategory(category, nullptr);
        AddRegisterFeature(7, "EventSelector", category, kReadWrite, "Selects which event to fire to the client", 1);
        AddRegisterFeature(5, "EventNotification", category, kReadWrite,
                           "Activates or diactivates the notification of the selected event", 1);
        m_Features->SetFeatureChildText("regEventNotification", "Cachable", "NoCache", false);
        return GevResult::Ok;
    });
}

uint32_t Camera::AddEvent(uint16_t eventId, const char* eventName, const char* category, bool withTimestamp,
                          bool withStreamChannelId, bool withFrameId)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (eventName == nullptr)
            return GevResult::InvalidArgument;
        std::lock_guard lock(m_EventMutex);
        FeatureDesc& f = *m_Features;
        const std::string event = std::string("Event") + eventName;
        const std::string data = event + "Data";
        const std::string port = event + "Port";
        const RecordLayout& layout = layoutOf(m_GevMode.load());

        if (f.AddEnumEntry("EventSelector", eventName, m_EventCounter) == GevResult::Ok)
            ++m_EventCounter;
        f.AddCategory(data.c_str(), category);
        uint32_t st = AddRegisterFeature(1, event.c_str(), data.c_str(), kReadOnly, nullptr, 1);
        if (st != GevResult::Ok)
            return st;
        f.SetFeatureChildText(event.c_str(), "Description", "Event ID", false);
        f.SetUInt32(("reg" + event).c_str(), eventId);

        struct Standard {
            bool wanted;
            const char* suffix;
            Field field;
            const char* description;
        };
        const Standard standard[] = {
            {withTimestamp, "Timestamp", layout.timestamp,
             "Returns the Timestamp of the Event. It can be used to determine precisely when the event occurred"},
            {withStreamChannelId, "StreamChannelID", layout.channel,
             "Returns the buffer index currently being transferred"},
            {withFrameId, "FrameID", layout.blockId, "Returns the Percentage Transfer"},
        };
        for (const Standard& s : standard) {
            if (!s.wanted)
                continue;
            const std::string name = event + s.suffix;
            st = AddRegisterFeature(1, name.c_str(), data.c_str(), kReadOnly, s.description, 1);
            if (st == GevResult::Ok)
                st = placeOnPort(f, "reg" + name, s.field.offset, s.field.length, port);
            if (st != GevResult::Ok)
                return st;
        }

        st = f.AddFeature("Port", port.c_str(), nullptr, nullptr);
        if (st == GevResult::Ok)
            st = f.SetFeatureChildText(port.c_str(), "EventID", hexText(eventId).c_str(), false);
        return st;
    });
}

uint32_t Camera::AddEventDataFeature(const char* eventName, const char* featureName, uint16_t kind, uint32_t offset,
                                     uint32_t length, const char* description)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (eventName == nullptr || featureName == nullptr || length == 0)
            return GevResult::InvalidArgument;
        // The value must lie inside the data an EVENTDATA can carry.
        if (uint64_t{offset} + length > Message::kMaxEventData)
            return GevResult::InvalidArgument;
        const bool text = kind == 4;
        if (!(text && length <= kMaxStringData) && !(kind <= 3 && length <= 8))
            return GevResult::InvalidArgument;
        if (kind == 3 && length != 4 && length != 8)
            return GevResult::InvalidArgument;  // a float is 4 or 8 bytes
        std::lock_guard lock(m_EventMutex);
        FeatureDesc& f = *m_Features;
        const std::string event = std::string("Event") + eventName;
        const std::string data = event + "Data";
        const std::string port = event + "Port";
        const uint32_t at = offset + layoutOf(m_GevMode.load()).dataOffset;

        if (!text) {
            const uint32_t st = AddRegisterFeature(kind, featureName, data.c_str(), kReadOnly, description, 1);
            if (st != GevResult::Ok)
                return st;
            return placeOnPort(f, std::string("reg") + featureName, at, length, port);
        }
        uint32_t st = f.AddStringReg(featureName, kReadOnly);
        if (st != GevResult::Ok)
            return st;
        st = f.SetFeatureChildText(data.c_str(), "pFeature", featureName, true);
        if (st != GevResult::Ok) {
            f.RemoveFeature(featureName);
            return st;
        }
        st = placeOnPort(f, featureName, at, length, port);
        if (st == GevResult::Ok && description != nullptr)
            st = f.SetFeatureChildText(featureName, "Description", description, false);
        return st;
    });
}

}  // namespace Kivu
