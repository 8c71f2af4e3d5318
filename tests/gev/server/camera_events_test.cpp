// The camera's event builders and senders: the features of an event read the
// record the camera sends, in both GigE Vision modes.
#include "camera_fixture.h"
#include "event_receiver.h"

#include "../model/feature_xml.h"

#include "platform/bytes.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace camera_test {
namespace {

using namespace std::chrono_literals;
using test_support::EventReceiver;
using test_support::loopback;
using testing_support::Children;
using testing_support::childrenOf;

constexpr const char* kServed = "127.0.0.82";

class EventTest : public CameraTest {
protected:
    std::string xml()
    {
        const auto printed = camera->Features()->GetXml();
        return std::string(printed->data(), printed->length);
    }
    std::string child(const std::string& node, const std::string& tag)
    {
        for (const auto& [t, text] : childrenOf(xml(), node))
            if (t == tag)
                return text;
        ADD_FAILURE() << node << " has no " << tag;
        return {};
    }
    uint32_t write(uint32_t address, uint32_t value) { return camera->WriteRegister(address, htonl(value)); }

    void startAndOpen(uint32_t mctt = 3000, uint32_t mcrc = 5)
    {
        ASSERT_EQ(camera->Start(kServed), 0u);
        openChannel(mctt, mcrc);
    }
    void openChannel(uint32_t mctt = 3000, uint32_t mcrc = 5)
    {
        ASSERT_EQ(write(0x0B14, mctt), 0u);
        ASSERT_EQ(write(0x0B18, mcrc), 0u);
        ASSERT_EQ(write(0x0B10, loopback(83)), 0u);
        ASSERT_EQ(write(0x0B00, receiver.port()), 0u);
        ASSERT_TRUE(camera->Messages().IsOpen());
    }

    // The bytes a node reads from its event port: the port's data is the event record and what follows it.
    std::vector<uint8_t> readFromPort(const std::string& node, const std::vector<uint8_t>& packet)
    {
        EXPECT_EQ(child(node, "pPort"), "EventScannerLostPort");
        const uint32_t address = static_cast<uint32_t>(std::stoul(child(node, "Address"), nullptr, 16));
        const uint32_t length = static_cast<uint32_t>(std::stoul(child(node, "Length")));
        const size_t at = 8 + address;  // the record follows the 8-byte header
        if (at + length > packet.size()) {
            ADD_FAILURE() << node << " reads beyond the packet";
            return {};
        }
        return std::vector<uint8_t>(packet.begin() + static_cast<std::ptrdiff_t>(at),
                                    packet.begin() + static_cast<std::ptrdiff_t>(at + length));
    }

    static uint64_t bigEndian(const std::vector<uint8_t>& bytes)
    {
        uint64_t v = 0;
        for (uint8_t b : bytes)
            v = (v << 8) | b;
        return v;
    }

    EventReceiver receiver{loopback(83)};
};

TEST_F(EventTest, FeaturesReadTheRecordAsSent)
{
    const std::string text = "connection to scanner is lost";
    std::vector<uint8_t> data(text.begin(), text.end());
    data.resize(33);
    platform::storeBE32(&data[29], 0xCAFEBABE);

    for (uint16_t mode : {0, 1}) {
        SCOPED_TRACE(mode);
        make(defaultNet());
        ASSERT_EQ(camera->SetGevMode(mode), 0u);
        ASSERT_EQ(camera->SetTimestampMode(3, 0), 0u);
        ASSERT_EQ(camera->SetFrameTimestamp(0x1122334455667788), 0u);
        ASSERT_EQ(camera->AddEventSelectorFeatures("EventControl"), 0u);
        ASSERT_EQ(camera->AddEvent(0x000A, "ScannerLost", "EventControl", true, true, true), 0u);
        ASSERT_EQ(camera->AddEventDataFeature("ScannerLost", "ScannerLostText", 4, 0, 29, "What happened"), 0u);
        ASSERT_EQ(camera->AddEventDataFeature("ScannerLost", "ScannerLostCode", 1, 29, 4, nullptr), 0u);
        EXPECT_EQ(child("EventScannerLostPort", "EventID"), "a");
        int64_t id = 0;
        EXPECT_EQ(camera->GetIntegerValue("EventScannerLost", &id), 0u);
        EXPECT_EQ(id, 0x0A);

        startAndOpen();
        ASSERT_EQ(camera->SendEventData(0x000A, data.data(), 33, 0xFFFF, false), 0u);
        auto e = receiver.receive();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->extended(), mode == 1);
        EXPECT_EQ(e->records.at(0).eventId, 0x000A);
        const auto& p = e->bytes;
        EXPECT_EQ(bigEndian(readFromPort("regEventScannerLostTimestamp", p)), 0x1122334455667788u);
        EXPECT_EQ(bigEndian(readFromPort("regEventScannerLostStreamChannelID", p)), 0xFFFFu);
        EXPECT_EQ(bigEndian(readFromPort("regEventScannerLostFrameID", p)), e->records[0].blockId);
        const auto textBytes = readFromPort("ScannerLostText", p);
        EXPECT_EQ(std::string(textBytes.begin(), textBytes.end()), text);
        EXPECT_EQ(bigEndian(readFromPort("regScannerLostCode", p)), 0xCAFEBABEu);
        EXPECT_EQ(camera->Stop(), 0u);
    }
}

TEST_F(EventTest, SendersNeedARunningCameraAnOpenChannelAndAChannelThatExists)
{
    const uint16_t ids[] = {1, 2};
    EXPECT_EQ(camera->SendEvent(1, 0xFFFF, false), GevResult::NotRunning);
    EXPECT_EQ(camera->SendEvents(2, ids, 0xFFFF, false), GevResult::NotRunning);
    EXPECT_EQ(camera->SendEventData(1, "x", 1, 0xFFFF, false), GevResult::NotRunning);
    ASSERT_EQ(camera->Start(kServed), 0u);
    EXPECT_EQ(camera->SendEvent(1, 0xFFFF, false), GevResult::NotRunning) << "MCP is 0";
    openChannel();
    EXPECT_EQ(camera->SendEvent(1, 7, false), GevResult::InvalidArgument) << "no stream channel 7";
    EXPECT_EQ(camera->SendEvents(34, ids, 0, false), GevResult::InvalidArgument);
    ASSERT_EQ(camera->SendEvents(2, ids, 0, false), 0u);
    auto e = receiver.receive();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->records.size(), 2u);
    EXPECT_EQ(e->records.at(1).channel, 0);
}

TEST_F(EventTest, NothingIsSentAfterStopReturns)
{
    startAndOpen(20, 100000);
    ASSERT_EQ(camera->SendEvent(1, 0xFFFF, true), 0u);
    ASSERT_TRUE(receiver.receive());
    ASSERT_TRUE(receiver.receive());  // resent
    ASSERT_EQ(camera->Stop(), 0u);
    EXPECT_FALSE(camera->Messages().IsOpen());
    receiver.drain(0ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(receiver.receive(0ms));
    EXPECT_EQ(camera->SendEvent(1, 0xFFFF, true), GevResult::NotRunning);
}

TEST_F(EventTest, BuilderArgumentsAndCounters)
{
    EXPECT_EQ(camera->AddEventSelectorFeatures(nullptr), GevResult::InvalidArgument);
    ASSERT_EQ(camera->AddEventSelectorFeatures("EventControl"), 0u);
    EXPECT_EQ(child("regEventNotification", "Cachable"), "NoCache");
    EXPECT_EQ(camera->AddEvent(1, nullptr, "EventControl", true, false, false), GevResult::InvalidArgument);
    ASSERT_EQ(camera->AddEvent(0x9001, "First", "EventControl", false, false, false), 0u);
    ASSERT_EQ(camera->AddEvent(0x9002, "Second", "EventControl", true, false, false), 0u);
    EXPECT_EQ(camera->AddEvent(0x9003, "Second", "EventControl", true, false, false), GevResult::Exists);
    const auto entries = camera->GetEnumEntryTable("EventSelector", nullptr);
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(std::string(entries[0]), "First");
    EXPECT_EQ(std::string(entries[1]), "Second");
    EXPECT_EQ(child("EventFirstPort", "EventID"), "9001");
    EXPECT_EQ(child("EventSecondTimestamp", "Description"),
              "Returns the Timestamp of the Event. It can be used to determine precisely when the event occurred");

    struct Case {
        const char* feature;
        uint16_t kind;
        uint32_t offset, length;
    };
    for (const Case& c : {Case{"TooLong", 4, 0, 129}, Case{"Command", 6, 0, 4}, Case{"Wide", 1, 0, 9},
                          Case{"Empty", 1, 0, 0}, Case{"Beyond", 1, 537, 4}, Case{"Half", 3, 0, 2}}) {
        SCOPED_TRACE(c.feature);
        EXPECT_EQ(camera->AddEventDataFeature("Second", c.feature, c.kind, c.offset, c.length, nullptr),
                  GevResult::InvalidArgument);
    }
    EXPECT_EQ(camera->AddEventDataFeature(nullptr, "X", 1, 0, 4, nullptr), GevResult::InvalidArgument);
    ASSERT_EQ(camera->AddEventDataFeature("Second", "Value", 2, 536, 4, "Last four bytes"), 0u);
    EXPECT_EQ(child("regValue", "Address"), "0x228") << "536 bytes after the 16-byte record of mode 0";
    EXPECT_EQ(child("regValue", "pPort"), "EventSecondPort");
    const auto lint = testing_support::xmllint(xml());
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_EQ(testing_support::integrityProblems(xml()), std::vector<std::string>{});

    // Counters are per camera and apart from the chunk counter.
    make(defaultNet());
    ASSERT_EQ(camera->AddEventSelectorFeatures("EventControl"), 0u);
    ASSERT_EQ(camera->AddChunkSelectorFeatures("ChunkDataControl"), 0u);
    ASSERT_EQ(camera->AddChunk(5, "ChunkA", "ChunkDataControl", 1, 4, nullptr), 0u);
    ASSERT_EQ(camera->AddEvent(0x9001, "Again", "EventControl", false, false, false), 0u);
    uint32_t value = 99;
    ASSERT_EQ(camera->SetEnumValue("EventSelector", "Again"), 0u);
    ASSERT_EQ(camera->Features()->GetUInt32("regEventSelector", value), 0u);
    EXPECT_EQ(value, 0u);
}

}  // namespace
}  // namespace camera_test
