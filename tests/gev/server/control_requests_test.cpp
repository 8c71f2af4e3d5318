#include "control_fixture.h"

#include <chrono>
#include <random>
#include <string>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

struct BadCase {
    const char* name;
    Bytes request;
    bool answered;
    uint16_t status;
    uint16_t code;
    uint16_t length;
};

}  // namespace

TEST_F(ControlFixture, BadDatagramsGetTheirNackOrSilenceAndServingGoesOn)
{
    const BadCase cases[] = {
        {"wrong key", [] { auto c = command(1, 0x80, 5, be32s({0})); c[0] = 0x43; return c; }(), false, 0, 0, 0},
        {"shorter than a header", Bytes{0x42, 1, 0, 0x80, 0, 0, 0}, false, 0, 0, 0},
        {"request id 0", command(1, 0x80, 0, be32s({0})), true, 0x800E, 0x0000, 0},
        {"unknown command 0x0101", command(1, 0x0101, 6, {}), true, 0x8001, 0x0000, 0},
        {"unknown command 0x0200", command(1, 0x0200, 7, {}), true, 0x8001, 0x0000, 0},
        {"readreg length past datagram", [] { auto c = command(1, 0x80, 8, be32s({0})); c[5] = 64; return c; }(),
         true, 0x800E, 0x0081, 0},
        {"readreg of a mailbox", command(1, 0x80, 9, be32s({0xA048})), true, 0x8FFF, 0x0081, 0},
        {"readreg unaligned second", command(1, 0x80, 10, be32s({0x0000, 0x0A02, 0x0004})), true, 0x8005, 0x0081, 4},
        {"readreg out of range", command(1, 0x80, 11, be32s({0x80000000})), true, 0x8003, 0x0081, 0},
        {"readreg gap", command(1, 0x80, 12, be32s({0x0000, 0x0020})), true, 0x8003, 0x0081, 4},
        {"readmem count 6", command(1, 0x84, 13, be32s({0x0000, 6})), true, 0x8005, 0x0085, 0},
        {"readmem count 0", command(1, 0x84, 14, be32s({0x0000, 0})), true, 0x8003, 0x0085, 0},
        {"readmem past the address space", command(1, 0x84, 15, be32s({0xFFFFFFFC, 8})), true, 0x8003, 0x0085, 0},
        {"readmem larger than a datagram", command(1, 0x84, 16, be32s({0x0000, 65532})), true, 0x8002, 0x0085, 0},
        {"readmem short payload", command(1, 0x84, 17, be32s({0x0000})), true, 0x800E, 0x0085, 0},
        {"writemem length below 4", command(1, 0x86, 18, Bytes{0, 0, 0x0B}), true, 0x800E, 0x0087, 4},
        {"writemem without control", command(1, 0x86, 19, be32s({0x0A00, 2})), true, 0x8006, 0x0087, 4},
        {"writereg without control", command(1, 0x82, 20, be32s({0x0D00, 1234})), true, 0x8006, 0x0083, 4},
        {"writereg length past datagram", [] { auto c = command(1, 0x82, 21, be32s({0x0A00, 2})); c[5] = 16; return c; }(),
         true, 0x800E, 0x0083, 4},
        {"writereg without ack flag", command(0, 0x82, 22, be32s({0x0D00, 1})), false, 0, 0, 0},
        {"packetresend is never answered", command(1, 0x40, 23, be32s({0, 0, 0})), false, 0, 0, 0},
        {"action without callback", command(1, 0x100, 24, be32s({1, 2, 3})), false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto ans = a.exchange(c.request, c.answered ? 1000ms : 150ms);
        ASSERT_EQ(bool(ans), c.answered);
        if (!ans)
            continue;
        EXPECT_EQ(ans->status(), c.status);
        EXPECT_EQ(ans->code(), c.code);
        EXPECT_EQ(ans->length(), c.length);
        EXPECT_EQ(ans->id(), platform::loadBE16(&c.request[6])) << "the acknowledge carries the request id";
        EXPECT_EQ(ans->bytes.size(), 8u + ans->length());
        EXPECT_EQ(ans->from, kServed);
    }
    EXPECT_EQ(value(0x0D00), 0u) << "refused writes changed nothing";
    EXPECT_EQ(value(0xA040), 0u) << "the request source is cleared after each request";

    auto alive = a.readReg(0x0000);
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->word(0), 0x00010002u);
}

TEST_F(ControlFixture, RegisterReadsServeNumbersAndTextWords)
{
    auto r = a.exchange(command(1, 0x80, 1, be32s({0x0000, 0x0938, 0x0048, 0x004C})));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status(), 0);
    ASSERT_EQ(r->length(), 16);
    EXPECT_EQ(r->word(0), 0x00010002u);
    EXPECT_EQ(r->word(1), 3000u);
    EXPECT_EQ(std::string(r->bytes.begin() + 16, r->bytes.begin() + 24), "Norvik W") << "string register by words";

    auto mem = a.exchange(command(1, 0x84, 2, be32s({0x0048, 32})));
    ASSERT_TRUE(mem);
    EXPECT_EQ(mem->status(), 0);
    EXPECT_EQ(mem->length(), 36);
    EXPECT_EQ(mem->word(0), 0x0048u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&mem->bytes[12])), "Norvik Works");
}

TEST_F(ControlFixture, DiscoveryAnswersWithTheIdentityFromTheServedAddress)
{
    auto d = a.exchange(command(1, 0x0002, 0xFFFF, {}));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->bytes.size(), 256u);
    EXPECT_EQ(d->code(), 0x0003);
    EXPECT_EQ(d->length(), 0xF8);
    EXPECT_EQ(d->id(), 0xFFFF);
    EXPECT_EQ(d->from, kServed);
    EXPECT_EQ(platform::loadBE32(&d->bytes[8 + 0x24]), kServed);
    EXPECT_EQ(platform::loadBE32(&d->bytes[8 + 0x34]), 0xFF000000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d->bytes[8 + 0x48])), "Norvik Works");
    // Without the acknowledge flag discovery still answers.
    EXPECT_TRUE(a.exchange(command(0, 0x0002, 3, {})));
}

namespace {

class WriteCounter : public Kivu::Base {
public:
    bool onWrite(Kivu::UIntReg*)
    {
        ++writes;
        return true;
    }
    std::atomic<int> writes{0};
};

}  // namespace

TEST_F(ControlFixture, ARepeatedRequestGetsTheStoredAnswerAndRunsOnce)
{
    ASSERT_EQ(a.writeReg(0x0A00, 2)->status(), 0);
    WriteCounter counter;
    m_Map->UInt(0x0B14)->Subscribe(Kivu::CallbackList::AfterWrite, Kivu::MakeCallback(&counter, &WriteCounter::onWrite));

    const Bytes write = command(1, 0x82, 700, be32s({0x0B14, 1234}));
    auto first = a.exchange(write);
    auto again = a.exchange(write);
    ASSERT_TRUE(first && again);
    EXPECT_EQ(first->bytes, again->bytes);
    EXPECT_EQ(counter.writes.load(), 1);

    // Another id, or the same id from another peer, runs again.
    EXPECT_EQ(a.exchange(command(1, 0x82, 701, be32s({0x0B14, 1234})))->status(), 0);
    EXPECT_EQ(counter.writes.load(), 2);
    m_Map->UInt(0x0B14)->RemoveCallbacks(Kivu::CallbackList::AfterWrite,
                                         Kivu::MakeCallback(&counter, &WriteCounter::onWrite));
}

TEST_F(ControlFixture, EveryNthReadIsServedAcrossReadRegAndReadMem)
{
    m_Control->SetAnswerEveryNth(0, 2, 0);
    EXPECT_FALSE(a.exchange(command(1, 0x80, 1, be32s({0})), 150ms)) << "1st read dropped";
    EXPECT_TRUE(a.exchange(command(1, 0x84, 2, be32s({0, 4})))) << "2nd read (READMEM) served";
    EXPECT_FALSE(a.exchange(command(1, 0x80, 3, be32s({0})), 150ms));
    EXPECT_TRUE(a.exchange(command(1, 0x80, 4, be32s({0}))));
    m_Control->SetAnswerEveryNth(0, 0, 0);
    EXPECT_TRUE(a.exchange(command(1, 0x80, 5, be32s({0}))));
}

TEST_F(ControlFixture, RandomDatagramsNeverStopTheServer)
{
    std::mt19937 rng(12345);
    const uint16_t commands[] = {0x0002, 0x0004, 0x0040, 0x0080, 0x0082, 0x0084, 0x0086, 0x0100, 0x0101};
    for (int i = 0; i < 1500; ++i) {
        Bytes d(8 + rng() % 64);
        for (auto& x : d)
            x = static_cast<uint8_t>(rng());
        d[0] = 0x42;
        platform::storeBE16(&d[2], commands[rng() % std::size(commands)]);
        if (rng() % 2)
            platform::storeBE16(&d[4], static_cast<uint16_t>(d.size() - 8));
        a.send(d);
        if (i % 50 == 0)
            while (a.receive(5ms)) {
            }
    }
    while (a.receive(50ms)) {
    }
    auto alive = a.readReg(0x0000);
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->word(0), 0x00010002u);
}
