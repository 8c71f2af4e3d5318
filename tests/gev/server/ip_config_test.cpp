// FORCEIP and the IP configuration worker over a fake host network: which
// configuration is chosen, what is added and removed, rollback and Stop.
#include "control_fixture.h"
#include "thread_count.h"

#include <arpa/inet.h>

#include <chrono>
#include <set>
#include <thread>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

// Records address changes instead of touching the host.
class FakeNet : public Kivu::INetPlatform {
public:
    std::vector<Kivu::AdapterRecord> ListAdapters() override
    {
        std::lock_guard lock(mutex);
        return adapters;
    }
    Kivu::AddResult AddAddress(uint32_t ip, uint32_t, int ifIndex, Kivu::AddedAddress* out, int*) override
    {
        std::lock_guard lock(mutex);
        ++adds;
        if (fail)
            return Kivu::AddResult::Failed;
        if (existing.count(ip) != 0)
            return Kivu::AddResult::AlreadyExists;
        out->ifIndex = ifIndex == 0 ? 1 : ifIndex;
        out->ipv4Sys = ip;
        return Kivu::AddResult::Added;
    }
    bool DeleteAddress(Kivu::AddedAddress& a) override
    {
        std::lock_guard lock(mutex);
        deleted.push_back(a.ipv4Sys);
        a = {};
        return true;
    }
    int addCount()
    {
        std::lock_guard lock(mutex);
        return adds;
    }
    std::vector<uint32_t> deletedAddresses()
    {
        std::lock_guard lock(mutex);
        return deleted;
    }
    void setFail(bool f)
    {
        std::lock_guard lock(mutex);
        fail = f;
    }

    std::mutex mutex;
    int adds = 0;
    bool fail = false;
    std::set<uint32_t> existing;  // addresses the host already has on the adapter
    std::vector<Kivu::AdapterRecord> adapters;
    std::vector<uint32_t> deleted;
};

constexpr uint32_t kMask8 = 0xFF000000;

class ForceIpFixture : public ControlFixture {
protected:
    void SetUp() override
    {
        m_Fake = std::make_shared<FakeNet>();
        m_Net = m_Fake;
        ControlFixture::SetUp();
        macHigh = static_cast<uint16_t>(value(0x0008));
        macLow = value(0x000C);
    }

    // A second interface, whose address no configuration may take.
    void addOtherAdapter()
    {
        Kivu::AdapterRecord other;
        other.ifIndex = 7;
        other.ipv4Sys = loopback(40);
        m_Fake->adapters.push_back(other);
    }

    // Restarts with the given delay after a client's write of the IP configuration registers.
    void restartWithDelay(uint32_t ms)
    {
        m_Control->Stop();
        Kivu::ServeOptions options;
        options.port = 0;
        options.broadcastListeners = false;
        options.ipConfigDelayMs = ms;
        m_Control->SetServeOptions(options);
        start();
    }

    std::optional<Answer> forceIp(uint16_t id, uint32_t ip, uint32_t mask, uint32_t gateway = 0,
                                  std::chrono::milliseconds wait = 3000ms)
    {
        return a.exchange(command(1, 0x0004, id, forceIpPayload(macHigh, macLow, ip, mask, gateway)), wait);
    }

    // Polls until the current IP register holds ip, at most about two seconds.
    bool currentIpBecomes(uint32_t ip)
    {
        for (int i = 0; i < 200 && value(0x0024) != ip; ++i)
            std::this_thread::sleep_for(10ms);
        return value(0x0024) == ip;
    }

    // A client in control writes the persistent configuration and the enable bit.
    void writePersistent(uint32_t ip, uint32_t mask, uint32_t gateway, uint32_t config)
    {
        ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
        for (auto [address, v] : {std::pair{0x064Cu, ip}, {0x065Cu, mask}, {0x066Cu, gateway}, {0x0014u, config}})
            ASSERT_EQ(a.writeReg(address, v)->status(), 0) << std::hex << address;
        ASSERT_EQ(a.writeReg(0x0A00, 0)->status(), 0);
    }

    std::shared_ptr<FakeNet> m_Fake;
    uint16_t macHigh = 0;
    uint32_t macLow = 0;
};

}  // namespace

TEST_F(ForceIpFixture, ForceIpMovesTheServerAndAnswersFromTheNewAddress)
{
    EXPECT_FALSE(a.exchange(command(1, 0x0004, 1, forceIpPayload(macHigh, macLow + 1, loopback(23), kMask8)), 200ms))
        << "another device's MAC";
    EXPECT_FALSE(m_Fake->addCount());
    auto refused = forceIp(2, 0xE0000001, kMask8);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status(), 0x8002) << "multicast is no device address";

    auto done = forceIp(3, loopback(23), kMask8, loopback(1));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->bytes, (Bytes{0, 0, 0, 0x05, 0, 0, 0, 3}));
    EXPECT_EQ(done->from, loopback(23));
    EXPECT_EQ(value(0x0024), loopback(23));
    EXPECT_EQ(value(0x0044), loopback(1));
    EXPECT_EQ(m_Fake->addCount(), 1);

    a.setServer(loopback(23), m_Control->LocalPort());
    ASSERT_TRUE(a.readReg(0x0024));
    EXPECT_EQ(a.readReg(0x0024)->word(0), loopback(23));

    m_Control->Stop();
    EXPECT_EQ(m_Fake->deletedAddresses(), std::vector<uint32_t>{loopback(23)}) << "the added address is removed by Stop";
}

TEST_F(ForceIpFixture, AFailedForceIpRollsBack)
{
    m_Fake->setFail(true);
    auto ack = forceIp(9, loopback(24), kMask8);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->status(), 0x8001);
    EXPECT_EQ(ack->from, kServed);
    EXPECT_EQ(value(0x0024), kServed);
    a.setServer(kServed, m_Control->LocalPort());
    ASSERT_TRUE(a.readReg(0x0000)) << "still serving at the old address";
}

// IP 0 asks for the device's own configuration again, and is acknowledged like any other.
TEST_F(ForceIpFixture, ForceIpZeroReturnsToTheAdapterAddress)
{
    auto moved = forceIp(1, loopback(23), kMask8);
    ASSERT_TRUE(moved);
    ASSERT_EQ(moved->status(), 0);
    a.setServer(loopback(23), m_Control->LocalPort());

    auto same = forceIp(2, loopback(23), kMask8);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->status(), 0x8001) << "the current configuration again";
    EXPECT_EQ(same->from, loopback(23));

    auto back = forceIp(3, 0, 0);
    ASSERT_TRUE(back) << "no acknowledge for IP 0";
    EXPECT_EQ(back->status(), 0);
    EXPECT_EQ(back->from, kServed);
    EXPECT_EQ(value(0x0024), kServed);
    const auto deleted = m_Fake->deletedAddresses();
    ASSERT_FALSE(deleted.empty());
    EXPECT_EQ(deleted.back(), loopback(23));
    m_Control->Stop();
    EXPECT_EQ(m_Fake->deletedAddresses(), deleted) << "nothing left to delete";
}

TEST_F(ForceIpFixture, UnusableAddressesAreRefusedAtOnce)
{
    addOtherAdapter();
    struct Case {
        uint32_t ip, mask, gateway;
        const char* what;
    } cases[] = {
        {loopback(40), kMask8, 0, "an address of another interface"},
        {0x00010203, kMask8, 0, "0.x"},
        {loopback(23), 0xFF00FF00, 0, "a mask with a hole"},
        {loopback(23), kMask8, loopback(23), "the device as its own gateway"},
        {0x7F000000, kMask8, 0, "the subnet's own address"},
    };
    uint16_t id = 10;
    for (const Case& c : cases) {
        auto answer = forceIp(id++, c.ip, c.mask, c.gateway);
        ASSERT_TRUE(answer) << c.what;
        EXPECT_EQ(answer->status(), 0x8002) << c.what;
    }
    EXPECT_EQ(m_Fake->addCount(), 0);
    EXPECT_EQ(value(0x0024), kServed);
}

// An address the host already has is served without being taken over: Stop leaves it.
TEST_F(ForceIpFixture, AnExistingAddressIsNeverDeleted)
{
    m_Fake->existing.insert(loopback(41));
    auto status = [](const std::optional<Answer>& answer) { return answer ? answer->status() : -1; };
    ASSERT_EQ(status(forceIp(1, loopback(41), kMask8)), 0);
    a.setServer(loopback(41), m_Control->LocalPort());
    ASSERT_EQ(status(forceIp(2, 0, 0)), 0);
    a.setServer(kServed, m_Control->LocalPort());
    ASSERT_EQ(status(forceIp(3, loopback(41), kMask8)), 0);
    m_Control->Stop();
    EXPECT_TRUE(m_Fake->deletedAddresses().empty());
}

TEST_F(ForceIpFixture, PersistentWritesOfAClientMoveTheDeviceAfterTheDelay)
{
    // Long enough that the checks within the delay hold on a loaded machine too.
    restartWithDelay(1000);
    writePersistent(loopback(30), kMask8, loopback(1), 7);
    EXPECT_EQ(value(0x0024), kServed) << "not before the delay";
    auto pending = forceIp(1, loopback(23), kMask8, 0, 200ms);
    ASSERT_TRUE(pending);
    EXPECT_EQ(pending->status(), 0x8001) << "a configuration is pending";

    ASSERT_TRUE(currentIpBecomes(loopback(30)));
    EXPECT_EQ(value(0x0044), loopback(1));
    // The registers are written before the address is added.
    for (int i = 0; i < 200 && m_Fake->addCount() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(m_Fake->addCount(), 1) << "the FORCEIP meanwhile started nothing";
    a.setServer(loopback(30), m_Control->LocalPort());
    ASSERT_TRUE(a.readReg(0x0000));

    // Disabled again: back on the adapter's address.
    writePersistent(loopback(30), kMask8, loopback(1), 6);
    ASSERT_TRUE(currentIpBecomes(kServed));
    EXPECT_EQ(value(0x0044), 0u);
    for (int i = 0; i < 200 && m_Fake->deletedAddresses().empty(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(m_Fake->deletedAddresses(), std::vector<uint32_t>{loopback(30)});
}

TEST_F(ForceIpFixture, PersistentIpIsNotAppliedWhenUnusableOrWrittenLocally)
{
    restartWithDelay(50);
    // Written through the camera interface: registers only.
    for (auto [address, v] : {std::pair{0x064Cu, loopback(31)}, {0x065Cu, kMask8}, {0x0014u, 7u}})
        ASSERT_EQ(m_Tree->WriteRegister(address, htonl(v), Kivu::Origin::Local), 0u);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(value(0x0024), kServed);

    // A client's multicast persistent address: rolled back without touching the socket.
    writePersistent(0xE0000001, kMask8, 0, 7);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(value(0x0024), kServed);
    EXPECT_EQ(value(0x0034), kMask8);
    EXPECT_EQ(m_Fake->addCount(), 0);
    a.setServer(kServed, m_Control->LocalPort());
    ASSERT_TRUE(a.readReg(0x0000));
}

// Stop while the worker waits out its delay: nothing is applied afterwards, not even after a restart.
TEST_F(ForceIpFixture, StopEndsAWaitingWorker)
{
    restartWithDelay(400);
    writePersistent(loopback(32), kMask8, 0, 7);
    m_Control->Stop();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(m_Fake->addCount(), 0);
    EXPECT_EQ(value(0x0024), kServed);

    m_Map->UInt(0x0014)->SetValue(6);
    start();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(m_Fake->addCount(), 0);
    ASSERT_TRUE(a.readReg(0x0000));
}

// When even the old configuration cannot be served again, the control protocol stops itself: it
// reports so, lets its client go and ends its threads. A Start straight away, a Stop and Start,
// or the destructor then find nothing left to end twice.
TEST_F(ForceIpFixture, AFailedRollbackStopsTheControlProtocol)
{
    enum class Then { Start, StopAndStart, Destroy };
    for (Then then : {Then::Start, Then::StopAndStart, Then::Destroy}) {
        SCOPED_TRACE(static_cast<int>(then));
        const bool forced = then == Then::StopAndStart;  // the others through the persistent registers
        m_Control->Stop();
        m_Fake->setFail(false);
        const int idle = threadCount();
        m_Map->UInt(0x0024)->SetValue(loopback(42));  // served beside the adapter's address: added
        restartWithDelay(50);
        a.setServer(loopback(42), m_Control->LocalPort());
        ASSERT_TRUE(a.readReg(0x0000));

        // Neither the new address nor the old one can be added again.
        if (forced) {
            m_Fake->setFail(true);
            EXPECT_FALSE(forceIp(1, loopback(43), kMask8, 0, 1000ms)) << "no acknowledge without a socket";
        } else {
            // By a client that keeps control meanwhile.
            for (auto [address, v] : {std::pair{0x064Cu, loopback(43)}, {0x065Cu, kMask8}})
                ASSERT_EQ(m_Tree->WriteRegister(address, htonl(v), Kivu::Origin::Local), 0u);
            ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
            m_Fake->setFail(true);
            ASSERT_EQ(a.writeReg(0x0014, 7)->status(), 0);
        }
        for (int i = 0; i < 300 && m_Control->IsRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(m_Control->IsRunning());
        EXPECT_EQ(m_Control->LocalPort(), 0u);
        EXPECT_FALSE(a.readReg(0x0000));
        EXPECT_EQ(value(0x0024), loopback(42));
        EXPECT_EQ(value(0x0A00), 0u) << "control released";
        EXPECT_EQ(value(0x0A14), 0u);
        for (int i = 0; i < 200 && threadCount() != idle; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(threadCount(), idle) << "receive, heartbeat and worker threads ended";
        ASSERT_FALSE(m_Fake->deletedAddresses().empty());
        EXPECT_EQ(m_Fake->deletedAddresses().back(), loopback(42));
        const size_t deletes = m_Fake->deletedAddresses().size();

        m_Fake->setFail(false);
        m_Map->UInt(0x0014)->SetValue(6);
        switch (then) {
        case Then::Start:
            start();
            break;
        case Then::StopAndStart:
            m_Control->Stop();
            start();
            break;
        case Then::Destroy:
            m_Control.reset();
            EXPECT_EQ(m_Fake->deletedAddresses().size(), deletes) << "nothing left to delete";
            m_Control = std::make_unique<Kivu::ControlProtocol>(m_Tree, m_Net);
            restartWithDelay(50);
            break;
        }
        EXPECT_TRUE(m_Control->IsRunning());
        a.setServer(loopback(42), m_Control->LocalPort());
        ASSERT_TRUE(a.readReg(0x0000)) << "serving again";
        auto moved = forceIp(2, loopback(44), kMask8);
        ASSERT_TRUE(moved) << "the worker runs again";
        EXPECT_EQ(moved->status(), 0);
        m_Map->UInt(0x0024)->SetValue(kServed);
    }
}

// A persistent configuration stored earlier is taken by Start only when the worker would take it;
// otherwise Start serves the current address as without one.
TEST_F(ForceIpFixture, StartTakesOnlyAUsablePersistentConfiguration)
{
    addOtherAdapter();
    struct Case {
        uint32_t ip, mask, gateway;
        bool taken;
        const char* what;
    } cases[] = {
        {loopback(35), kMask8, loopback(1), true, "a usable one"},
        {0xE0000001, kMask8, 0, false, "multicast"},
        {0, kMask8, 0, false, "no address"},
        {loopback(35), 0, 0, false, "no mask"},
        {loopback(35), 0xFF00FF00, 0, false, "a mask with a hole"},
        {0x7FFFFFFF, kMask8, 0, false, "the subnet's broadcast address"},
        {loopback(35), kMask8, loopback(35), false, "the device as its own gateway"},
        {loopback(40), kMask8, 0, false, "an address of another interface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_Control->Stop();
        m_Map->UInt(0x0024)->SetValue(kServed);
        m_Map->UInt(0x0034)->SetValue(kMask8);
        m_Map->UInt(0x0044)->SetValue(loopback(2));
        for (auto [address, v] : {std::pair{0x064Cu, c.ip}, {0x065Cu, c.mask}, {0x066Cu, c.gateway}, {0x0014u, 7u}})
            ASSERT_EQ(m_Tree->WriteRegister(address, htonl(v), Kivu::Origin::Local), 0u);
        const int adds = m_Fake->addCount();
        start();
        EXPECT_EQ(value(0x0024), c.taken ? c.ip : kServed);
        EXPECT_EQ(value(0x0034), c.taken ? c.mask : kMask8);
        EXPECT_EQ(value(0x0044), c.taken ? c.gateway : loopback(2));
        EXPECT_EQ(m_Fake->addCount() - adds, c.taken ? 1 : 0);
        a.setServer(value(0x0024), m_Control->LocalPort());
        EXPECT_TRUE(a.readReg(0x0000));
    }
}
