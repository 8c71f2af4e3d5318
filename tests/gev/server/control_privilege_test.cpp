#include "control_fixture.h"

#include <chrono>
#include <thread>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

// Waits until pred holds, at most limit.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class EventRecorder : public Kivu::Base {
public:
    explicit EventRecorder(Kivu::UIntReg* mcp) : m_Mcp(mcp) {}
    bool onEvent(Kivu::EventEmitter* e)
    {
        const auto ev = e->GetEvent();
        eventId = ev.eventId;
        channel = ev.channel;
        mcpAtPost = m_Mcp->GetValue();
        ++posts;
        return true;
    }
    Kivu::UIntReg* m_Mcp;
    std::atomic<int> posts{0};
    uint16_t eventId = 0, channel = 0;
    uint32_t mcpAtPost = 0;
};

}  // namespace

TEST_F(ControlFixture, PrivilegeMatrix)
{
    // CCP value, requester is primary, read or write, CCP or other register -> allowed.
    struct Case {
        uint32_t ccp;
        bool primary, read, ccpTarget, allowed;
    };
    const Case cases[] = {
        {0, false, true, false, true},   {0, false, false, false, false}, {0, false, false, true, true},
        {2, true, false, false, true},   {2, false, false, false, false}, {2, false, false, true, false},
        {2, false, true, false, true},   {6, true, false, false, true},   {6, false, false, false, false},
        {6, false, false, true, true},   {1, true, true, false, true},    {1, false, true, false, false},
        {1, false, false, true, false},  {1, true, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "ccp " << c.ccp << " primary " << c.primary << " read " << c.read
                                          << " ccp target " << c.ccpTarget);
        m_Control->Stop();
        start();
        if (c.ccp != 0) {
            ASSERT_EQ(a.writeReg(0x0A00, c.ccp)->status(), 0);
        }
        GvcpClient& who = c.primary ? a : b;
        const uint32_t target = c.ccpTarget ? 0x0A00 : 0x0B14;
        std::optional<Answer> ans;
        if (c.read)
            ans = who.readReg(target);
        else
            ans = who.writeReg(target, c.ccpTarget ? c.ccp : 700);  // CCP rewritten with its own value
        ASSERT_TRUE(ans);
        EXPECT_EQ(ans->status() == 0, c.allowed) << std::hex << ans->status();
        if (!c.allowed) {
            EXPECT_EQ(ans->status(), 0x8006);
        }
    }
}

TEST_F(ControlFixture, TakingControlConnectsOnTheNextRequestAndHeartbeatExpiryReleases)
{
    EXPECT_EQ(a.writeReg(0x0938, 500)->status(), 0x8006) << "needs control";
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    EXPECT_EQ(a.writeReg(0x0938, 499)->status(), 0x8002) << "below the minimum";
    EXPECT_EQ(value(0x0938), 3000u);
    EXPECT_EQ(a.writeReg(0x0938, 500)->status(), 0);
    EXPECT_EQ(value(0x0938), 500u);
    EXPECT_EQ(value(0x0A14), loopback(21));
    EXPECT_EQ(value(0x0A04), a.port());
    ASSERT_EQ(a.writeReg(0x0B00, 5000)->status(), 0);  // MCP
    ASSERT_EQ(a.writeReg(0x0D18, loopback(21))->status(), 0);  // SCDA
    EXPECT_EQ(connectionEvents(), std::vector<bool>{true});
    a.readReg(0x0A00);
    EXPECT_EQ(connectionEvents(), std::vector<bool>{true}) << "once";

    EXPECT_EQ(b.writeReg(0x0A00, 2)->status(), 0x8006) << "another client is refused control";

    ASSERT_TRUE(eventually([&] { return value(0x0A00) == 0; }));
    EXPECT_EQ(connectionEvents(), (std::vector<bool>{true, false}));
    EXPECT_EQ(value(0x0A14), 0u);
    EXPECT_EQ(value(0x0A04), 0u);
    EXPECT_EQ(value(0x0B00), 0u);
    EXPECT_EQ(value(0x0D18), 0u);
    EXPECT_EQ(value(0xA050), 0xFFFFFFFFu) << "acquisition stopped";

    EXPECT_EQ(b.writeReg(0x0A00, 2)->status(), 0) << "free again after the time-out";
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(value(0x0A00), 0u) << "b sent no heartbeat";
    EXPECT_EQ(connectionEvents(), (std::vector<bool>{true, false})) << "b never connected, nothing reported";
}

TEST_F(ControlFixture, HeartbeatsKeepControl)
{
    m_Map->UInt(0x0938)->SetValue(500);
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(150ms);
        ASSERT_EQ(a.readReg(0x0A00)->word(0), 2u);
    }
    EXPECT_EQ(connectionEvents(), std::vector<bool>{true});
}

TEST_F(ControlFixture, InvalidModeIsRefusedAndKeyBitsAreNotStored)
{
    EXPECT_EQ(a.writeReg(0x0A00, 4)->status(), 0x8002);
    EXPECT_EQ(value(0x0A00), 0u);
    ASSERT_EQ(a.writeReg(0x0A00, 0xABCD0002)->status(), 0);
    EXPECT_EQ(a.readReg(0x0A00)->word(0), 2u);
    EXPECT_EQ(a.writeReg(0x0A00, 4)->status(), 0x8002) << "also from the primary application";
    EXPECT_EQ(a.writeReg(0x0A00, 0)->status(), 0);
    EXPECT_EQ(value(0x0A14), 0u) << "released";
    EXPECT_EQ(a.writeReg(0x0A00, 0)->status(), 0);
    EXPECT_EQ(value(0x0A14), 0u) << "writing 0 makes nobody primary";
}

TEST_F(ControlFixture, SwitchoverWithTheRightKeyOnly)
{
    m_Map->UInt(0x095C)->SetValue(0x1234);
    EventRecorder events(m_Map->UInt(0x0B00).get());
    m_Map->Events()->Subscribe(Kivu::MakeCallback(&events, &EventRecorder::onEvent));

    ASSERT_EQ(a.writeReg(0x0A00, 6)->status(), 0);
    ASSERT_EQ(a.writeReg(0x0B00, 4000)->status(), 0);
    EXPECT_EQ(b.writeReg(0x0B00, 1)->status(), 0x8006) << "only CCP for others";
    EXPECT_EQ(b.writeReg(0x0A00, 0x43210002)->status(), 0x8006) << "wrong key";
    EXPECT_EQ(value(0x0A14), loopback(21));
    EXPECT_EQ(events.posts.load(), 0);

    ASSERT_EQ(b.writeReg(0x0A00, 0x12340002)->status(), 0);
    EXPECT_EQ(value(0x0A14), loopback(22));
    EXPECT_EQ(value(0x0A04), b.port());
    EXPECT_EQ(b.readReg(0x0A00)->word(0), 2u);
    ASSERT_EQ(events.posts.load(), 1);
    EXPECT_EQ(events.eventId, 0x0007);
    EXPECT_EQ(events.channel, 0xFFFF);
    EXPECT_EQ(events.mcpAtPost, 4000u) << "posted before the old message channel is cleared";
    EXPECT_EQ(value(0x0B00), 0u);
    EXPECT_EQ(a.writeReg(0x0B00, 1)->status(), 0x8006) << "the old owner lost control";
    m_Map->Events()->RemoveCallbacks(Kivu::MakeCallback(&events, &EventRecorder::onEvent));
}

// The upper half of the CCP write is compared with the whole key register: a
// key with bits above the low 16 matches no write.
TEST_F(ControlFixture, SwitchoverKeyIsTheWholeKeyRegister)
{
    struct Case {
        uint32_t key, written;
        bool switched;
    };
    const Case cases[] = {
        {0x0000, 0x00000002, true},     {0xFFFF, 0xFFFF0002, true},  {0x00011234, 0x12340002, false},
        {0x80000000, 0x00000002, false}, {0x1234, 0x12350002, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "key " << c.key << " written " << c.written);
        m_Map->UInt(0x095C)->SetValue(c.key);
        ASSERT_EQ(a.writeReg(0x0A00, 6)->status(), 0);
        EXPECT_EQ(b.writeReg(0x0A00, c.written)->status(), c.switched ? 0 : 0x8006);
        EXPECT_EQ(value(0x0A14), loopback(c.switched ? 22 : 21));
        ASSERT_EQ((c.switched ? b : a).writeReg(0x0A00, 0)->status(), 0);
    }
}

TEST_F(ControlFixture, StopReleasesControlWithoutCallingBack)
{
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    a.readReg(0x0A00);
    ASSERT_EQ(connectionEvents(), std::vector<bool>{true});
    const auto begin = std::chrono::steady_clock::now();
    m_Control->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2500ms) << "Stop does not wait out the heartbeat";
    EXPECT_FALSE(m_Control->IsRunning());
    EXPECT_EQ(value(0x0A00), 0u);
    EXPECT_EQ(value(0x0A14), 0u);
    EXPECT_EQ(connectionEvents(), std::vector<bool>{true});
    EXPECT_FALSE(a.readReg(0x0000)) << "no longer served";

    start();  // callbacks and knobs survive
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    ASSERT_EQ(a.readReg(0x0000)->word(0), 0x00010002u);
    EXPECT_EQ(connectionEvents(), (std::vector<bool>{true, true})) << "a new run starts without a client";
}
