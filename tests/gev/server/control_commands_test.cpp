#include "control_fixture.h"
#include "model/resend_request.h"

#include <chrono>
#include <thread>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

class ResendRecorder : public Kivu::Base {
public:
    bool onResend(Kivu::ResendCmd* r)
    {
        std::lock_guard lock(mutex);
        m_Last = Kivu::UnpackResendRequest(r->GetRequest());
        ++m_Posts;
        return true;
    }
    int posts()
    {
        std::lock_guard lock(mutex);
        return m_Posts;
    }
    Kivu::ResendRange last()
    {
        std::lock_guard lock(mutex);
        return m_Last;
    }

private:
    std::mutex mutex;
    Kivu::ResendRange m_Last;
    int m_Posts = 0;
};

Bytes resendPayload(uint16_t block16, uint32_t first, uint32_t last, uint64_t block64)
{
    Bytes p = be32s({block16, first, last, uint32_t(block64 >> 32), uint32_t(block64)});
    return p;
}

}  // namespace

TEST_F(ControlFixture, PacketResendForms)
{
    m_Control->Stop();
    start(1);
    ResendRecorder rec;
    m_Map->Resend()->Subscribe(Kivu::MakeCallback(&rec, &ResendRecorder::onResend));
    struct Case {
        const char* name;
        uint8_t flags;
        Bytes payload;
        bool posted;
        uint64_t block;
        uint32_t first, last;
    };
    const Case cases[] = {
        {"extended", 0x10, resendPayload(7, 0xAA000005, 0xAA000009, 0x100000001), true, 0x100000001, 0xAA000005,
         0xAA000009},
        {"extended with ack bit", 0x11, resendPayload(7, 5, 9, 0x100000001), true, 0x100000001, 5, 9},
        {"standard in mode 1", 0x00, resendPayload(7, 0xAA000005, 0xAA000009, 0x100000001), true, 7, 5, 9},
        {"block 0", 0x00, resendPayload(0, 1, 2, 0), false, 0, 0, 0},
        {"first after last", 0x00, resendPayload(3, 10, 5, 0), false, 0, 0, 0},
        {"too short for the extended form", 0x10, be32s({7, 1, 2}), false, 0, 0, 0},
    };
    // Nobody in control: ignored.
    a.send(command(0, 0x40, 1, cases[0].payload));
    EXPECT_FALSE(a.receive(100ms));
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    EXPECT_EQ(rec.posts(), 0);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = rec.posts();
        a.send(command(c.flags, 0x40, a.next(), c.payload));
        EXPECT_FALSE(a.receive(100ms)) << "never answered";
        ASSERT_EQ(rec.posts() - before, c.posted ? 1 : 0);
        if (c.posted) {
            EXPECT_EQ(rec.last().blockId, c.block);
            EXPECT_EQ(rec.last().firstPacket, c.first);
            EXPECT_EQ(rec.last().lastPacket, c.last);
        }
    }
    m_Map->Resend()->RemoveCallbacks(Kivu::MakeCallback(&rec, &ResendRecorder::onResend));
}

namespace {

struct ActionLog {
    std::atomic<int> calls{0};
    std::atomic<bool> result{true};
    std::mutex mutex;
    ActionCommandInfo last;
    ActionCommandInfo info()
    {
        std::lock_guard lock(mutex);
        return last;
    }
};

bool onAction(void* context, const ActionCommandInfo* info)
{
    auto* log = static_cast<ActionLog*>(context);
    {
        std::lock_guard lock(log->mutex);
        log->last = *info;
    }
    ++log->calls;
    return log->result.load();
}

}  // namespace

TEST_F(ControlFixture, ActionCommandsReachTheirCallbacks)
{
    ActionLog immediate, scheduled;
    m_Control->SetActionCallback(&immediate, &onAction);
    m_Control->SetScheduledActionCallback(&scheduled, &onAction);
    m_Map->UInt(0x093C)->SetValue(0);
    m_Map->UInt(0x0940)->SetValue(1000000);  // 1 MHz ticks

    auto ack = a.exchange(command(1, 0x100, 40, be32s({1, 2, 3})));
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->bytes, (Bytes{0, 0, 0x01, 0x01, 0, 0, 0, 40}));
    EXPECT_EQ(immediate.calls.load(), 1);
    EXPECT_EQ(immediate.info().deviceKey, 1u);
    EXPECT_EQ(immediate.info().groupKey, 2u);
    EXPECT_EQ(immediate.info().groupMask, 3u);
    EXPECT_EQ(immediate.info().actionTimeNs, 0u);

    ASSERT_TRUE(a.exchange(command(0x81, 0x100, 41, be32s({1, 2, 3, 0, 2000000}))));
    EXPECT_EQ(scheduled.calls.load(), 1);
    EXPECT_EQ(scheduled.info().actionTimeNs, 2000000000u);

    a.send(command(0x00, 0x100, 42, be32s({1, 2, 3})));
    EXPECT_FALSE(a.receive(100ms)) << "no acknowledge asked";
    immediate.result.store(false);
    a.send(command(0x01, 0x100, 43, be32s({1, 2, 3})));
    EXPECT_FALSE(a.receive(100ms)) << "the callback refused";
    EXPECT_EQ(immediate.calls.load(), 3);

    m_Map->UInt(0x0940)->SetValue(0);  // no time base
    a.send(command(0x81, 0x100, 44, be32s({1, 2, 3, 0, 2000000})));
    EXPECT_FALSE(a.receive(100ms));
    EXPECT_EQ(scheduled.calls.load(), 1);
}

TEST_F(ControlFixture, ActionSignalRegistersFollowTheCount)
{
    EXPECT_EQ(m_Control->SetActionSignalCount(129), 0x80070057u);
    EXPECT_EQ(m_Control->SetActionSignalCount(3), 0u);
    EXPECT_EQ(value(0x0908), 3u);
    for (uint32_t address : {0x9800u, 0x9804u, 0x9810u, 0x9814u, 0x9820u, 0x9824u})
        EXPECT_TRUE(m_Tree->Find(address)) << std::hex << address;
    EXPECT_EQ(m_Control->SetActionSignalCount(1), 0u);
    EXPECT_EQ(value(0x0908), 1u);
    EXPECT_TRUE(m_Tree->Find(0x9800));
    EXPECT_TRUE(m_Tree->Find(0x9804));
    for (uint32_t address : {0x9810u, 0x9814u, 0x9820u, 0x9824u})
        EXPECT_FALSE(m_Tree->Find(address)) << std::hex << address;
    EXPECT_EQ(a.readReg(0x0908)->word(0), 1u);
}
