#include "camera_fixture.h"
#include "gvcp_client.h"
#include "thread_count.h"


#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace camera_test {
namespace {

using namespace std::chrono_literals;

std::string readText(Kivu::Camera& camera, uint32_t address, uint32_t length)
{
    std::string text(length, '\0');
    EXPECT_EQ(camera.ReadMemory(address, text.data(), length), 0u);
    return text.substr(0, text.find('\0'));
}

TEST_F(CameraTest, StartChoosesTheAdapterByAddress)
{
    struct Case {
        const char* text;
        uint32_t result;
    };
    const Case cases[] = {
        {"10.0.0", GevResult::InvalidArgument}, {"1.2.3.4.", GevResult::InvalidArgument},
        {nullptr, GevResult::InvalidArgument},  {"10.1.2.3", GevResult::NotFound},
        {"127.255.255.255", GevResult::NotFound},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(camera->Start(c.text), c.result) << (c.text ? c.text : "null");
        EXPECT_FALSE(camera->IsRunning());
    }
    // Any loopback address is served through lo, and needs no address added.
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    EXPECT_TRUE(camera->IsRunning());
    EXPECT_EQ(reg(0xA024), 0x7F000005u);
    EXPECT_EQ(reg(0x0024), 0x7F000005u);
    EXPECT_EQ(reg(0x0034), 0xFF000000u);
    EXPECT_EQ(reg(0xA020), 1u);
    EXPECT_EQ(reg(0xA02C), 24u);
    // The loopback MTU does not fit the 16-bit size fields.
    EXPECT_EQ(reg(0xA030), 0xFFFFu);
    EXPECT_EQ(reg(0x0D04) & 0xFFFF, 0xFFFFu);
    EXPECT_EQ(reg(0x0D04) & 0xE0000000, 0x40000000u);
    EXPECT_EQ(net->adds, 0);

    EXPECT_EQ(camera->Start("127.0.0.5"), GevResult::Running);
    EXPECT_TRUE(camera->IsRunning());
    EXPECT_EQ(camera->Stop(), 0u);
    EXPECT_FALSE(camera->IsRunning());
}

TEST_F(CameraTest, AdapterValuesAndLinkSpeedInMegabits)
{
    auto n = defaultNet();
    n->adapters[1].ipv4Sys = 0x7F000002;  // an Ethernet record the test can bind
    make(n);
    ASSERT_EQ(camera->Start("127.0.0.2"), 0u);
    EXPECT_EQ(reg(0xA020), 2u);
    EXPECT_EQ(reg(0xA02C), 6u);
    EXPECT_EQ(reg(0xA030), 1500u);
    EXPECT_EQ(reg(0x0670), 10000u);
    EXPECT_EQ(reg(0x0D04), 0x400005DCu);
}

TEST_F(CameraTest, PublishesTheDescriptionReadOnlyWithItsUrl)
{
    ASSERT_EQ(camera->AddCategory("Extra", nullptr), 0u);
    ASSERT_EQ(camera->SetDeviceIdentity("Maker;One", "Model?X", "1.0", nullptr, nullptr), 0u);
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    const auto xml = camera->Features()->GetXml();
    char expected[128];
    std::snprintf(expected, sizeof expected, "Local:Maker_One_Model_X_1.0.xml;200000;%X", xml->length);
    EXPECT_EQ(readText(*camera, 0x0200, 512), expected);

    auto published = camera->Tree()->Find(0x200000);
    ASSERT_TRUE(published);
    EXPECT_EQ(published->GetLength() % 4, 0u);
    EXPECT_GE(published->GetLength(), xml->length);
    EXPECT_LT(published->GetLength(), xml->length + 4);
    std::string text(published->GetLength(), '\0');
    ASSERT_EQ(camera->ReadMemory(0x200000, text.data(), published->GetLength()), 0u);
    EXPECT_EQ(text.substr(0, xml->length), std::string(xml->data(), xml->length));
    EXPECT_EQ(text.find_first_not_of('\0', xml->length), std::string::npos);

    // Clients cannot change it.
    uint8_t zero[4] = {};
    EXPECT_NE(camera->Tree()->WriteMemory(0x200000, zero, 4, Kivu::Origin::Remote), 0u);

    // A feature added while stopped appears in the next Start's description.
    ASSERT_EQ(camera->Stop(), 0u);
    ASSERT_EQ(camera->AddCategory("Later", nullptr), 0u);
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    published = camera->Tree()->Find(0x200000);
    std::string again(published->GetLength(), '\0');
    ASSERT_EQ(camera->ReadMemory(0x200000, again.data(), published->GetLength()), 0u);
    EXPECT_NE(again.find("\"Later\""), std::string::npos);
}

TEST_F(CameraTest, GevModeSetsVersionAndCapabilities)
{
    ASSERT_EQ(camera->SetGevMode(1), 0u);
    EXPECT_EQ(reg(0x0000), 0x00020000u);
    EXPECT_EQ(reg(0x0934), 0xDA22005Fu);
    EXPECT_EQ(reg(0x0960), 0x40000000u);
    EXPECT_EQ(camera->SetGevMode(2), GevResult::InvalidArgument);
    EXPECT_EQ(reg(0x0000), 0x00020000u);
    ASSERT_EQ(camera->SetGevMode(0), 0u);
    EXPECT_EQ(reg(0x0000), 0x00010002u);
    EXPECT_EQ(reg(0x0934), 0xDA20005Fu);
    EXPECT_EQ(reg(0x0960), 0u);
}

TEST_F(CameraTest, ServedAddressIsAddedAndRemovedOnlyWhenAdded)
{
    // Persistent 127.0.0.9 on lo, started on lo's own address.
    ASSERT_EQ(camera->SetPersistentIp("127.0.0.9", "255.0.0.0", nullptr), 0u);
    ASSERT_EQ(camera->Start("127.0.0.1"), 0u);
    EXPECT_EQ(net->adds, 1);
    EXPECT_EQ(reg(0x0024), 0x7F000009u);
    ASSERT_EQ(camera->Stop(), 0u);
    EXPECT_EQ(net->deletes, 1);

    net->addResult = Kivu::AddResult::AlreadyExists;
    ASSERT_EQ(camera->Start("127.0.0.1"), 0u);
    ASSERT_EQ(camera->Stop(), 0u);
    EXPECT_EQ(net->adds, 2);
    EXPECT_EQ(net->deletes, 1);

    net->addResult = Kivu::AddResult::Failed;
    EXPECT_EQ(camera->Start("127.0.0.1"), GevResult::Fail);
    EXPECT_FALSE(camera->IsRunning());
    EXPECT_EQ(camera->Control().LocalPort(), 0u);
    EXPECT_EQ(net->deletes, 1);
}

// A persistent configuration no device may take is left out at Start: the camera serves the
// adapter's address as without one, and adds nothing.
TEST_F(CameraTest, StartLeavesOutAnUnusablePersistentConfiguration)
{
    struct Case {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* what;
    } cases[] = {
        {"224.0.0.1", "255.0.0.0", nullptr, "multicast"},
        {"0.0.0.0", "255.0.0.0", nullptr, "no address"},
        {"127.0.0.9", "0.0.0.0", nullptr, "no mask"},
        {"127.0.0.9", "255.0.255.0", nullptr, "a mask with a hole"},
        {"127.0.0.0", "255.0.0.0", nullptr, "the subnet's own address"},
        {"127.255.255.255", "255.0.0.0", nullptr, "the subnet's broadcast address"},
        {"127.0.0.9", "255.0.0.0", "127.0.0.9", "the device as its own gateway"},
        {"10.77.0.1", "255.255.255.0", nullptr, "the address of another adapter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(camera->SetPersistentIp(c.ip, c.mask, c.gateway ? c.gateway : "0.0.0.0"), 0u);
        ASSERT_EQ(reg(0x0014) & 1, 1u);
        ASSERT_EQ(camera->Start("127.0.0.1"), 0u);
        EXPECT_EQ(reg(0x0024), 0x7F000001u);
        EXPECT_EQ(reg(0x0034), 0xFF000000u);
        EXPECT_EQ(net->adds, 0);
        test_support::GvcpClient client(test_support::loopback(1));
        client.setServer(test_support::loopback(1), camera->Control().LocalPort());
        EXPECT_TRUE(client.readReg(0x0000));
        ASSERT_EQ(camera->Stop(), 0u);
    }
    EXPECT_EQ(net->deletes, 0);
}

// The IP configuration worker stops the control protocol when it cannot serve the old address
// again: the camera then reports itself stopped, and Start, Stop and destruction still work.
TEST_F(CameraTest, AFailedRollbackLeavesTheCameraStopped)
{
    test_support::GvcpClient client(test_support::loopback(1));
    auto silence = [&] {
        {
            std::lock_guard lock(net->mutex);
            net->addResult = Kivu::AddResult::Added;
        }
        ASSERT_EQ(camera->Start("127.0.0.1"), 0u);  // on the persistent 127.0.0.9, added
        ASSERT_EQ(reg(0x0024), 0x7F000009u);
        client.setServer(0x7F000009u, camera->Control().LocalPort());
        ASSERT_TRUE(client.readReg(0x0000));
        {
            std::lock_guard lock(net->mutex);
            net->addResult = Kivu::AddResult::Failed;
        }
        const auto payload = test_support::forceIpPayload(static_cast<uint16_t>(reg(0x0008)), reg(0x000C),
                                                          0x7F00000Au, 0xFF000000u);
        EXPECT_FALSE(client.exchange(test_support::command(1, 0x0004, 1, payload), 1000ms));
        for (int i = 0; i < 300 && camera->IsRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(camera->IsRunning());
        EXPECT_FALSE(client.readReg(0x0000));
        std::lock_guard lock(net->mutex);
        net->addResult = Kivu::AddResult::Added;
    };

    ASSERT_EQ(camera->SetPersistentIp("127.0.0.9", "255.0.0.0", nullptr), 0u);
    silence();
    ASSERT_EQ(camera->Start("127.0.0.1"), 0u) << "started again without a Stop";
    EXPECT_TRUE(camera->IsRunning());
    client.setServer(0x7F000009u, camera->Control().LocalPort());
    EXPECT_TRUE(client.readReg(0x0000));
    ASSERT_EQ(camera->Stop(), 0u);

    silence();
    ASSERT_EQ(camera->Stop(), 0u);
    EXPECT_FALSE(camera->IsRunning());
    ASSERT_EQ(camera->Start("127.0.0.1"), 0u);
    EXPECT_TRUE(camera->IsRunning());

    ASSERT_EQ(camera->Stop(), 0u);
    silence();
    camera.reset();  // destroyed after the control protocol stopped itself
}

TEST_F(CameraTest, NeverStartedCameraStartsNoThread)
{
    const int before = threadCount();
    make(defaultNet());
    EXPECT_EQ(threadCount(), before);
    camera.reset();
    EXPECT_EQ(threadCount(), before);
}

// A client's write reaches the write handler, whose refusal keeps the old value.
struct Recorder {
    Kivu::Camera* camera = nullptr;
    std::atomic<int> reads{0}, writes{0};
    bool refuse = false;
    uint32_t nestedStart = 0;
    int64_t seen = -1;
};

bool recordRead(void* context, const char*)
{
    static_cast<Recorder*>(context)->reads++;
    return true;
}

bool recordWrite(void* context, const char* name)
{
    auto& r = *static_cast<Recorder*>(context);
    r.writes++;
    // The handler's own access to its feature fires no second call.
    r.camera->GetIntegerValue(name, &r.seen);
    r.nestedStart = r.camera->Stop();
    return !r.refuse;
}

TEST_F(CameraTest, ClientWritesReachTheHandlers)
{
    ASSERT_EQ(camera->AddCategory("C", nullptr), 0u);
    ASSERT_EQ(camera->AddRegisterFeature(2, "Gain", "C", 3, nullptr, 0), 0u);
    ASSERT_EQ(camera->SetIntegerValue("Gain", 7), 0u);
    uint32_t address = 0;
    ASSERT_EQ(camera->GetFeatureAddress("Gain", &address), 0u);

    Recorder r;
    r.camera = camera.get();
    ASSERT_EQ(camera->SetFeatureReadCallback(&r, &recordRead), 0u);
    ASSERT_EQ(camera->SetFeatureWriteCallback(&r, &recordWrite), 0u);
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);

    test_support::GvcpClient client(test_support::loopback(1));
    client.setServer(test_support::loopback(5), camera->Control().LocalPort());
    ASSERT_EQ(client.writeReg(0x0A00, 2)->status(), 0u);

    auto read = client.readReg(address);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->word(0), 7u);
    EXPECT_EQ(r.reads.load(), 1);

    auto accepted = client.writeReg(address, 42);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status(), 0u);
    EXPECT_EQ(r.writes.load(), 1);
    EXPECT_EQ(r.seen, 42);
    EXPECT_EQ(r.nestedStart, GevResult::Fail);  // a handler cannot stop the camera it serves

    r.refuse = true;
    auto refused = client.writeReg(address, 43);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status(), 0x8002u);
    EXPECT_EQ(r.writes.load(), 2);
    int64_t value = 0;
    ASSERT_EQ(camera->GetIntegerValue("Gain", &value), 0u);
    EXPECT_EQ(value, 42);

    // A null function disables the handler; a second pair replaces the first.
    Recorder other;
    other.camera = camera.get();
    ASSERT_EQ(camera->SetFeatureWriteCallback(&other, &recordWrite), 0u);
    ASSERT_EQ(client.writeReg(address, 44)->status(), 0u);
    EXPECT_EQ(other.writes.load(), 1);
    EXPECT_EQ(r.writes.load(), 2);
    ASSERT_EQ(camera->SetFeatureWriteCallback(nullptr, nullptr), 0u);
    ASSERT_EQ(client.writeReg(address, 45)->status(), 0u);
    EXPECT_EQ(other.writes.load(), 1);

    // Stopped: no handler runs.
    ASSERT_EQ(camera->Stop(), 0u);
    const int reads = r.reads.load();
    ASSERT_EQ(camera->GetIntegerValue("Gain", &value), 0u);
    EXPECT_EQ(r.reads.load(), reads);
}

// Stop and destruction wait for a handler in flight and for other holders of the lock.
bool slowRead(void* context, const char*)
{
    auto& entered = *static_cast<std::atomic<int>*>(context);
    entered++;
    std::this_thread::sleep_for(50ms);
    return true;
}

TEST_F(CameraTest, StopWaitsForHandlersAndLockHolders)
{
    ASSERT_EQ(camera->AddCategory("C", nullptr), 0u);
    ASSERT_EQ(camera->AddRegisterFeature(2, "Gain", "C", 3, nullptr, 0), 0u);
    uint32_t address = 0;
    ASSERT_EQ(camera->GetFeatureAddress("Gain", &address), 0u);
    std::atomic<int> entered{0};
    camera->SetFeatureReadCallback(&entered, &slowRead);
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);

    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done.load())
            camera->IsRunning();
    });
    test_support::GvcpClient client(test_support::loopback(1));
    client.setServer(test_support::loopback(5), camera->Control().LocalPort());
    client.send(test_support::command(1, 0x80, 1, test_support::be32s({address})));
    while (entered.load() == 0)
        std::this_thread::sleep_for(1ms);

    EXPECT_EQ(camera->Stop(), 0u);
    EXPECT_FALSE(camera->IsRunning());
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
    done.store(true);
    poller.join();
    camera.reset();  // destroyed while running

}

}  // namespace
}  // namespace camera_test
