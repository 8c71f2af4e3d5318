#include "model/registers.h"

#include "recorder.h"
#include "watchdog.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Kivu;
using testing_support::Recorder;
using testing_support::runWithin;
using Bytes = std::vector<uint8_t>;

namespace {

enum class Kind { U32, I32, I64, F32, Str32, Resend, Event };
enum class Op { Read, Write };

std::shared_ptr<Register> make(Kind kind, uint32_t access)
{
    switch (kind) {
    case Kind::U32: return std::make_shared<UIntReg>(0x100, 0x11223344u, access);
    case Kind::I32: return std::make_shared<IntReg>(0x104, -2, access, "regI");
    case Kind::I64: return std::make_shared<Int64Reg>(0x108, int64_t(0x0102030405060708), access, "regL");
    case Kind::F32: return std::make_shared<FloatReg>(0x110, 1.5f, access, "regF");
    case Kind::Str32: return std::make_shared<StringReg>(0x200, "abc", 32, access);
    case Kind::Resend: return std::make_shared<ResendCmd>();
    case Kind::Event: return std::make_shared<EventEmitter>();
    }
    return nullptr;
}

Bytes pad(Bytes b, size_t n, uint8_t fill)
{
    b.resize(n, fill);
    return b;
}

}  // namespace

TEST(Register, AccessTable)
{
    constexpr uint8_t F = 0xEE;  // what the buffer held before
    struct Case {
        const char* what;
        Kind kind;
        uint32_t access;
        Op op;
        uint32_t offset, length, origin;
        bool nullBuffer;
        uint32_t status;
        Bytes after;  // buffer of 8 bytes (or 40 for strings) after the access, reads only
    };
    const Bytes u32 = {0x11, 0x22, 0x33, 0x44};
    const Case cases[] = {
        {"u32 read 4", Kind::U32, 3, Op::Read, 0, 4, 2, false, 0, pad(u32, 8, F)},
        {"u32 read own length", Kind::U32, 3, Op::Read, 0, 0, 2, false, 0, pad(u32, 8, F)},
        {"u32 read 8 fills 4", Kind::U32, 3, Op::Read, 0, 8, 2, false, 0, pad(u32, 8, F)},
        {"u32 write 8", Kind::U32, 3, Op::Write, 0, 8, 2, false, 0x8003, {}},
        {"u32 read 2", Kind::U32, 3, Op::Read, 0, 2, 2, false, 0x8003, pad({}, 8, F)},
        {"u32 write 2", Kind::U32, 3, Op::Write, 0, 2, 1, false, 0x8003, {}},
        {"u32 read at offset", Kind::U32, 3, Op::Read, 4, 4, 1, false, 0x8003, pad({}, 8, F)},
        {"u32 write at offset", Kind::U32, 3, Op::Write, 4, 4, 1, false, 0x8003, {}},
        {"u32 read null buffer", Kind::U32, 3, Op::Read, 0, 4, 1, true, 0x8003, {}},
        {"u32 write null buffer", Kind::U32, 3, Op::Write, 0, 4, 1, true, 0x8003, {}},
        {"R remote write", Kind::U32, 1, Op::Write, 0, 4, 2, false, 0x8006, {}},
        {"R local write", Kind::U32, 1, Op::Write, 0, 4, 1, false, 0, {}},
        {"R remote read", Kind::U32, 1, Op::Read, 0, 4, 2, false, 0, pad(u32, 8, F)},
        {"W remote read", Kind::U32, 2, Op::Read, 0, 4, 2, false, 0x8006, pad({}, 8, F)},
        {"W remote write", Kind::U32, 2, Op::Write, 0, 4, 2, false, 0, {}},
        {"internal remote read", Kind::U32, 0, Op::Read, 0, 4, 2, false, 0x8006, pad({}, 8, F)},
        {"internal remote write", Kind::U32, 0, Op::Write, 0, 4, 3, false, 0x8006, {}},
        {"internal local read", Kind::U32, 0, Op::Read, 0, 4, 1, false, 0, pad(u32, 8, F)},
        {"internal internal write", Kind::U32, 0, Op::Write, 0, 4, 0, false, 0, {}},
        {"i32 read", Kind::I32, 3, Op::Read, 0, 4, 2, false, 0, pad({0xFF, 0xFF, 0xFF, 0xFE}, 8, F)},
        {"f32 read", Kind::F32, 3, Op::Read, 0, 4, 2, false, 0, pad({0x3F, 0xC0, 0x00, 0x00}, 8, F)},
        {"i64 read 4 gives high half", Kind::I64, 3, Op::Read, 0, 4, 2, false, 0, pad({1, 2, 3, 4}, 8, F)},
        {"i64 read 8", Kind::I64, 3, Op::Read, 0, 8, 2, false, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"i64 read own length", Kind::I64, 3, Op::Read, 0, 0, 2, false, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"i64 write 4", Kind::I64, 3, Op::Write, 0, 4, 2, false, 0x8003, {}},
        {"i64 write 8", Kind::I64, 3, Op::Write, 0, 8, 2, false, 0, {}},
        {"string read whole", Kind::Str32, 1, Op::Read, 0, 0, 2, false, 0, pad({'a', 'b', 'c'}, 32, 0)},
        {"string read cut at end", Kind::Str32, 1, Op::Read, 28, 8, 2, false, 0, pad(pad({}, 4, 0), 8, F)},
        {"string read at offset", Kind::Str32, 1, Op::Read, 1, 4, 2, false, 0, pad({'b', 'c', 0, 0}, 8, F)},
        {"string read past end", Kind::Str32, 1, Op::Read, 32, 4, 2, false, 0x8003, pad({}, 8, F)},
        {"string write past end", Kind::Str32, 3, Op::Write, 32, 4, 2, false, 0x8003, {}},
        {"string huge offset", Kind::Str32, 3, Op::Write, 0xFFFFFFFC, 8, 2, false, 0x8003, {}},
        {"string remote write R", Kind::Str32, 1, Op::Write, 0, 4, 2, false, 0x8006, {}},
        {"string null buffer", Kind::Str32, 3, Op::Read, 0, 4, 2, true, 0x8003, {}},
        {"string W remote read", Kind::Str32, 2, Op::Read, 0, 4, 2, false, 0x8006, pad({}, 8, F)},
        {"resend read", Kind::Resend, 0, Op::Read, 0, 4, 0, false, 0x8FFF, pad({}, 8, F)},
        {"resend write", Kind::Resend, 0, Op::Write, 0, 4, 0, false, 0x8FFF, {}},
        {"event read", Kind::Event, 0, Op::Read, 0, 4, 1, false, 0x8FFF, pad({}, 8, F)},
        {"event write", Kind::Event, 0, Op::Write, 0, 4, 1, false, 0x8FFF, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto reg = make(c.kind, c.access);
        Bytes buf(c.after.empty() ? 8 : c.after.size(), F);
        uint8_t* p = c.nullBuffer ? nullptr : buf.data();
        if (c.op == Op::Read) {
            EXPECT_EQ(reg->Read(c.offset, p, c.length, c.origin), c.status);
            if (!c.after.empty()) {
                EXPECT_EQ(buf, c.after);
            }
        } else {
            Bytes before(64, F);
            reg->Read(0, before.data(), 0, Origin::Internal);
            std::fill(buf.begin(), buf.end(), 0x5A);
            EXPECT_EQ(reg->Write(c.offset, p, c.length, c.origin), c.status);
            Bytes now(64, F);
            reg->Read(0, now.data(), 0, Origin::Internal);
            EXPECT_EQ(now != before, c.status == 0) << "value changed iff the write succeeded";
        }
        EXPECT_EQ(reg->GetRequester(), Origin::Internal);
    }
}

TEST(Register, NetworkOrderRoundTrips)
{
    auto roundTrip = [](auto& reg, Bytes wire) {
        EXPECT_EQ(reg.Write(0, wire.data(), 0, Origin::Remote), 0u);
        Bytes back(wire.size(), 0);
        EXPECT_EQ(reg.Read(0, back.data(), 0, Origin::Remote), 0u);
        EXPECT_EQ(back, wire);
        return reg.GetValue();
    };
    IntReg i32(0, 0, 3);
    EXPECT_EQ(roundTrip(i32, {0xFF, 0xFF, 0xFF, 0x85}), -123);
    EXPECT_EQ(roundTrip(i32, {0x7F, 0xFF, 0xFF, 0xFF}), 0x7FFFFFFF);
    UIntReg u32(0, 0, 3);
    EXPECT_EQ(roundTrip(u32, {0xDA, 0x20, 0x00, 0x5F}), 0xDA20005Fu);
    Int64Reg i64(0, 0, 3);
    EXPECT_EQ(roundTrip(i64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), -2);
    EXPECT_EQ(roundTrip(i64, {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02}), 0x100000002);
    FloatReg f32(0, 0.0f, 3);
    EXPECT_EQ(roundTrip(f32, {0x3F, 0xC0, 0x00, 0x00}), 1.5f);
    EXPECT_EQ(roundTrip(f32, {0xC2, 0xF6, 0xE9, 0x79}), -123.456f);
    const float nan = roundTrip(f32, {0x7F, 0xA0, 0x12, 0x34});  // signalling NaN with a payload
    EXPECT_EQ(std::bit_cast<uint32_t>(nan), 0x7FA01234u);

    // Internal sets come out in network order too.
    EXPECT_TRUE(i64.SetValue(-1));
    Bytes hi(4, 0);
    EXPECT_EQ(i64.Read(0, hi.data(), 4, Origin::Local), 0u);
    EXPECT_EQ(hi, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Register, SetValueIgnoresAccessBitsButNotValidators)
{
    UIntReg reg(0x0000, 7, Access::Read);
    EXPECT_TRUE(reg.SetValue(9));
    EXPECT_EQ(reg.GetValue(), 9u);

    Recorder refuse("no", false);
    reg.Subscribe(CallbackList::BeforeWrite, refuse.Cb<UIntReg>());
    EXPECT_FALSE(reg.SetValue(10));
    EXPECT_EQ(reg.GetValue(), 9u);
    EXPECT_EQ(refuse.requesters, (std::vector<uint32_t>{Origin::Internal}));
}

TEST(Register, StatusRules)
{
    struct Case {
        const char* what;
        CallbackList list;
        bool answer;
        Op op;
        uint32_t status;
        bool changed;
    };
    const Case cases[] = {
        {"before-read status is the result", CallbackList::BeforeRead, true, Op::Read, 0x1234, false},
        {"after-read status is not", CallbackList::AfterRead, true, Op::Read, 0, false},
        {"accepting validator's status is the result", CallbackList::BeforeWrite, true, Op::Write, 0x1234, true},
        {"refusal wins over a set status", CallbackList::BeforeWrite, false, Op::Write, 0x8002, false},
        {"after-write status is not", CallbackList::AfterWrite, true, Op::Write, 0, true},
        {"after-write answer changes nothing", CallbackList::AfterWrite, false, Op::Write, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UIntReg reg(0x100, 5, Access::ReadWrite);
        Recorder rec("x", c.answer);
        rec.action = [&] { reg.SetStatus(0x1234); };
        reg.Subscribe(c.list, rec.Cb<UIntReg>());
        uint8_t buf[4] = {0, 0, 0, 6};
        const uint32_t status = c.op == Op::Read ? reg.Read(0, buf, 4, Origin::Remote)
                                                 : reg.Write(0, buf, 4, Origin::Remote);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(rec.requesters, (std::vector<uint32_t>{Origin::Remote}));
        EXPECT_EQ(reg.GetRequester(), Origin::Internal) << "requester restored";
        EXPECT_EQ(reg.GetValue(), c.changed ? 6u : 5u);
    }
}

TEST(Register, RequesterIsRestoredAroundNestedAccesses)
{
    for (bool refuse : {false, true}) {
        StringReg reg(0x48, "x", 16, Access::ReadWrite);
        Recorder rec("x", !refuse);
        std::vector<uint32_t> seen;
        rec.action = [&] {
            reg.SetValue("inner");  // nested: origin 0, then back to the outer origin
            seen.push_back(reg.GetRequester());
        };
        reg.Subscribe(CallbackList::BeforeWrite, rec.Cb<StringReg>());
        const uint8_t text[] = "outer";
        EXPECT_EQ(reg.Write(0, text, 5, Origin::Remote), refuse ? 0x8002u : 0u);
        EXPECT_EQ(seen, (std::vector<uint32_t>{Origin::Remote}));
        EXPECT_EQ(reg.GetRequester(), Origin::Internal);
        // A refusal restores the value from before the outer write, not the nested one's.
        EXPECT_EQ(reg.GetValue(), refuse ? "x" : "inner");
    }
}

TEST(Register, ThrowingCallbackLeavesRegisterUsable)
{
    runWithin([] {
        UIntReg reg(0x100, 5, Access::ReadWrite);
        Recorder rec;
        bool doThrow = true;
        rec.action = [&] {
            if (doThrow)
                throw std::runtime_error("hook failed");
        };
        reg.Subscribe(CallbackList::BeforeWrite, rec.Cb<UIntReg>());
        const uint8_t v[4] = {0, 0, 0, 9};
        EXPECT_THROW(reg.Write(0, v, 4, Origin::Remote), std::runtime_error);
        EXPECT_EQ(reg.GetRequester(), Origin::Internal);
        EXPECT_THROW(reg.SetValue(8), std::runtime_error);

        std::thread([&] { EXPECT_EQ(reg.GetValue(), 5u) << "old value restored, lock released"; }).join();
        doThrow = false;
        EXPECT_EQ(reg.Write(0, v, 4, Origin::Remote), 0u);
        EXPECT_EQ(rec.calls.size(), 3u) << "callbacks dispatch again after the exception";
        EXPECT_EQ(reg.GetValue(), 9u);
    });
}

TEST(StringReg, ContentsAndPartialAccess)
{
    StringReg reg(0x200, "abc", 32, Access::ReadWrite);
    Bytes whole(32, 0xEE);
    EXPECT_EQ(reg.Read(0, whole.data(), 0, Origin::Remote), 0u);
    EXPECT_EQ(whole, pad({'a', 'b', 'c'}, 32, 0));

    const uint8_t four[] = {'W', 'X', 'Y', 'Z'};
    EXPECT_TRUE(reg.SetValue("abcdefghij"));
    EXPECT_EQ(reg.Write(4, four, 4, Origin::Remote), 0u);
    EXPECT_EQ(reg.GetValue(), "abcdWXYZij");

    // Reads stop at the text's first zero byte, counted from the start.
    EXPECT_TRUE(reg.SetValue("abc"));
    EXPECT_EQ(reg.Write(4, four, 4, Origin::Remote), 0u);
    EXPECT_EQ(reg.Read(0, whole.data(), 0, Origin::Remote), 0u);
    EXPECT_EQ(whole, pad({'a', 'b', 'c'}, 32, 0));

    // Over-long write: only what fits lands.
    const Bytes longer(40, 'q');
    EXPECT_EQ(reg.Write(30, longer.data(), 8, Origin::Remote), 0u);
    EXPECT_EQ(reg.Write(0, longer.data(), 40, Origin::Remote), 0u);
    EXPECT_EQ(reg.GetValue(), std::string(32, 'q')) << "a full register reads back bounded";
    Bytes tail(8, 0xEE);
    EXPECT_EQ(reg.Read(28, tail.data(), 8, Origin::Remote), 0u);
    EXPECT_EQ(tail, (Bytes{'q', 'q', 'q', 'q', 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(StringReg, ConstructionAndSetValueTruncateAndPad)
{
    StringReg serial(0xD8, "0123456789ABCDEFGHIJ", 16, Access::Read);
    EXPECT_EQ(serial.GetValue(), "0123456789ABCDEF");
    EXPECT_TRUE(serial.SetValue("42"));
    Bytes buf(16, 0xEE);
    EXPECT_EQ(serial.Read(0, buf.data(), 0, Origin::Remote), 0u);
    EXPECT_EQ(buf, pad({'4', '2'}, 16, 0));
    EXPECT_TRUE(serial.SetValue(nullptr));
    EXPECT_EQ(serial.GetValue(), "");

    StringReg feature(0x10000, 128, "regDeviceUserText", Access::ReadWrite);
    EXPECT_STREQ(feature.GetName(), "regDeviceUserText");
    EXPECT_EQ(feature.GetLength(), 128u);
    EXPECT_EQ(feature.GetType(), RegType::String);
    EXPECT_EQ(feature.GetValue(), "");
}

TEST(StringReg, EachListRunsOncePerAccess)
{
    StringReg reg(0x200, "abc", 32, Access::ReadWrite);
    Recorder br("br"), bw("bw"), ar("ar"), aw("aw");
    reg.Subscribe(CallbackList::BeforeRead, br.Cb<StringReg>());
    reg.Subscribe(CallbackList::BeforeWrite, bw.Cb<StringReg>());
    reg.Subscribe(CallbackList::AfterRead, ar.Cb<StringReg>());
    reg.Subscribe(CallbackList::AfterWrite, aw.Cb<StringReg>());
    uint8_t buf[32] = {};
    reg.Read(0, buf, 0, Origin::Remote);
    reg.Write(0, buf, 4, Origin::Remote);
    reg.SetValue("z");
    reg.GetValue();
    auto n = [](const Recorder& r) { return r.calls.size(); };
    EXPECT_EQ(n(br), 2u);
    EXPECT_EQ(n(ar), 2u);
    EXPECT_EQ(n(bw), 2u);
    EXPECT_EQ(n(aw), 2u);
}

TEST(Mailboxes, PostReachesListenersAndRawAccessTouchesNothing)
{
    EventEmitter events;
    EXPECT_EQ(events.GetAddress(), 0xA054u);
    EXPECT_EQ(events.GetType(), RegType::NoData);
    EXPECT_EQ(events.GetAccess(), Access::None);
    EXPECT_EQ(events.GetEvent().channel, 0xFFFF);
    EXPECT_EQ(events.GetEvent().flag, 1);

    Recorder listener;
    EventEmitter::Event seen;
    listener.action = [&] { seen = events.GetEvent(); };
    events.Subscribe(MakeCallback(&listener, &Recorder::On<EventEmitter>));
    EventEmitter::Event e;
    e.kind = EventEmitter::OneEvent;
    e.eventId = 0x9001;
    e.dataLength = 36;
    EXPECT_TRUE(events.Post(e));
    EXPECT_EQ(seen.eventId, 0x9001);
    EXPECT_EQ(events.GetDataLength(), 36u);
    EXPECT_EQ(events.GetLength(), 4u) << "extent in the tree stays fixed";

    ResendCmd resend;
    EXPECT_EQ(resend.GetAddress(), 0xA048u);
    Recorder refusing("no", false);
    resend.Subscribe(MakeCallback(&refusing, &Recorder::On<ResendCmd>));
    EXPECT_FALSE(resend.Post({7, 9}));
    EXPECT_EQ(resend.GetRequest().first, 7u);
    EXPECT_EQ(resend.GetRequest().second, 9u);
}

TEST(Register, ConcurrentWritesAndReadsNeverTear)
{
    runWithin([] {
        Int64Reg reg(0x300, 0, Access::ReadWrite, "regL");
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            uint8_t b[8];
            for (uint32_t k = 0; k < 20000; ++k) {
                for (int i = 0; i < 4; ++i)
                    b[i] = b[i + 4] = static_cast<uint8_t>(k >> (8 * (3 - i)));
                reg.Write(0, b, 8, Origin::Remote);
            }
            stop = true;
        });
        int torn = 0;
        while (!stop) {
            uint8_t b[8];
            reg.Read(0, b, 8, Origin::Remote);
            if (std::memcmp(b, b + 4, 4) != 0)
                ++torn;
        }
        writer.join();
        EXPECT_EQ(torn, 0);
    });
}
