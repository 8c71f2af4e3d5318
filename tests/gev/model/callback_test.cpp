#include "model/registers.h"

#include "recorder.h"
#include "watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Kivu;
using testing_support::letThreadBlock;
using testing_support::Recorder;
using testing_support::runWithin;
using Names = std::vector<std::string>;

namespace {

uint32_t writeRemote(UIntReg& reg, uint32_t v)
{
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return reg.Write(0, b, 4, Origin::Remote);
}

}  // namespace

TEST(Callbacks, ValidatorCombinations)
{
    struct Case {
        std::vector<bool> answers;
        bool accepted;
    };
    const Case cases[] = {
        {{}, true},
        {{true}, true},
        {{false}, false},
        {{false, true}, false},
        {{true, false}, false},
        {{true, true, true}, true},
    };
    for (const Case& c : cases) {
        UIntReg reg(0x100, 1, Access::ReadWrite);
        Names calls;
        std::vector<std::unique_ptr<Recorder>> recs;
        for (size_t i = 0; i < c.answers.size(); ++i) {
            recs.push_back(std::make_unique<Recorder>(std::to_string(i), c.answers[i]));
            reg.Subscribe(CallbackList::BeforeWrite, recs.back()->Cb<UIntReg>());
        }
        EXPECT_EQ(writeRemote(reg, 2), c.accepted ? 0u : 0x8002u);
        EXPECT_EQ(reg.GetValue(), c.accepted ? 2u : 1u);
        for (auto& r : recs)
            EXPECT_EQ(r->calls.size(), 1u) << "every validator is called, also after a refusal";
    }
}

TEST(Callbacks, ListsRunInOrderAroundTheAccess)
{
    UIntReg reg(0x100, 1, Access::ReadWrite);
    Names order;
    Recorder a("a"), b("b"), br("br"), ar("ar"), aw("aw");
    for (Recorder* r : {&a, &b, &br, &ar, &aw})
        r->action = [&order, r] { order.push_back(r->calls.back()); };
    reg.Subscribe(CallbackList::AfterWrite, aw.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeWrite, a.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeWrite, b.Cb<UIntReg>());
    reg.Subscribe(CallbackList::AfterRead, ar.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeRead, br.Cb<UIntReg>());
    writeRemote(reg, 3);
    reg.GetValue();
    EXPECT_EQ(order, (Names{"a", "b", "aw", "br", "ar"}));
}

TEST(Callbacks, SelfWriteInsideValidatorRunsNoSecondPass)
{
    UIntReg reg(0x100, 1, Access::ReadWrite);
    Recorder rec;
    bool nestedAccepted = false;
    rec.action = [&] { nestedAccepted = reg.SetValue(42); };
    reg.Subscribe(CallbackList::BeforeWrite, rec.Cb<UIntReg>());
    EXPECT_EQ(writeRemote(reg, 7), 0u);
    EXPECT_TRUE(nestedAccepted);
    EXPECT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(reg.GetValue(), 42u);
}

TEST(Callbacks, CallbackOnOneRegisterWritingAnotherRunsItsCallbacks)
{
    UIntReg a(0x100, 0, Access::ReadWrite), b(0x104, 0, Access::ReadWrite);
    Recorder onA("a"), onB("b", false);
    bool bAccepted = true;
    onA.action = [&] { bAccepted = b.SetValue(5); };
    a.Subscribe(CallbackList::AfterWrite, onA.Cb<UIntReg>());
    b.Subscribe(CallbackList::BeforeWrite, onB.Cb<UIntReg>());
    EXPECT_EQ(writeRemote(a, 1), 0u);
    EXPECT_EQ(onB.calls.size(), 1u);
    EXPECT_FALSE(bAccepted);
    EXPECT_EQ(b.GetValue(), 0u);
}

TEST(Callbacks, SubscribingFromInsideOwnDispatchIsDropped)
{
    UIntReg a(0x100, 0, Access::ReadWrite), b(0x104, 0, Access::ReadWrite);
    Recorder rec, late("late");
    bool ownAdded = true, otherAdded = false;
    rec.action = [&] {
        ownAdded = a.Subscribe(CallbackList::BeforeWrite, late.Cb<UIntReg>());
        otherAdded = b.Subscribe(CallbackList::BeforeWrite, late.Cb<UIntReg>());
    };
    a.Subscribe(CallbackList::BeforeWrite, rec.Cb<UIntReg>());
    writeRemote(a, 1);
    rec.action = nullptr;
    EXPECT_FALSE(ownAdded);
    EXPECT_TRUE(otherAdded);
    writeRemote(a, 2);
    writeRemote(b, 2);
    EXPECT_EQ(late.calls.size(), 1u) << "only the subscription on the other register";
}

TEST(Callbacks, RemoveCallbacksRemovesEveryEqualEntryFromOneList)
{
    UIntReg reg(0x100, 0, Access::ReadWrite);
    Recorder x("x"), y("y");
    reg.Subscribe(CallbackList::BeforeWrite, x.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeWrite, y.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeWrite, x.Cb<UIntReg>());
    reg.Subscribe(CallbackList::AfterWrite, x.Cb<UIntReg>());
    reg.RemoveCallbacks(CallbackList::BeforeWrite, x.Cb<UIntReg>());
    writeRemote(reg, 1);
    EXPECT_EQ(x.calls.size(), 1u) << "the after-write entry stays";
    EXPECT_EQ(y.calls.size(), 1u) << "another target with the same function stays";

    EXPECT_TRUE(x.Cb<UIntReg>() == x.Cb<UIntReg>());
    EXPECT_FALSE(x.Cb<UIntReg>() == y.Cb<UIntReg>());
}

TEST(Callbacks, RemovingDuringDispatchIsSafeAndTakesEffect)
{
    UIntReg reg(0x100, 0, Access::ReadWrite);
    Recorder first("first"), second("second");
    first.action = [&] {
        reg.RemoveCallbacks(CallbackList::BeforeWrite, first.Cb<UIntReg>());
        reg.RemoveCallbacks(CallbackList::BeforeWrite, second.Cb<UIntReg>());
    };
    reg.Subscribe(CallbackList::BeforeWrite, first.Cb<UIntReg>());
    for (int i = 0; i < 8; ++i)  // enough entries that a reallocation would show under ASan
        reg.Subscribe(CallbackList::BeforeWrite, second.Cb<UIntReg>());
    writeRemote(reg, 1);
    writeRemote(reg, 2);
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(second.calls.size(), 0u);
}

TEST(Callbacks, DeadTargetIsSkippedAndAccepts)
{
    UIntReg reg(0x100, 0, Access::ReadWrite);
    Recorder dead("dead", false), live("live");
    reg.Subscribe(CallbackList::BeforeWrite, dead.Cb<UIntReg>());
    reg.Subscribe(CallbackList::BeforeWrite, live.Cb<UIntReg>());
    dead.MarkDead();
    EXPECT_EQ(writeRemote(reg, 4), 0u);
    EXPECT_TRUE(dead.calls.empty());
    EXPECT_EQ(live.calls.size(), 1u);
    EXPECT_EQ(reg.GetValue(), 4u);
}

TEST(Callbacks, ThrowingCallbackPassesOnAndDispatchResumes)
{
    for (CallbackList list : {CallbackList::BeforeRead, CallbackList::AfterRead, CallbackList::BeforeWrite,
                              CallbackList::AfterWrite}) {
        UIntReg reg(0x100, 3, Access::ReadWrite);
        Recorder rec;
        int throwsLeft = 1;
        rec.action = [&] {
            if (throwsLeft-- > 0)
                throw std::runtime_error("boom");
        };
        reg.Subscribe(list, rec.Cb<UIntReg>());
        const bool isRead = list == CallbackList::BeforeRead || list == CallbackList::AfterRead;
        auto access = [&] {
            uint8_t b[4] = {0, 0, 0, 9};
            return isRead ? reg.Read(0, b, 4, Origin::Local) : reg.Write(0, b, 4, Origin::Local);
        };
        EXPECT_THROW(access(), std::runtime_error);
        EXPECT_EQ(access(), 0u);
        EXPECT_EQ(rec.calls.size(), 2u) << "the second access dispatched";
    }
}

TEST(Callbacks, SubscriptionFromAnotherThreadDuringDispatchIsKept)
{
    runWithin([] {
        UIntReg reg(0x100, 0, Access::ReadWrite);
        Recorder slow("slow"), late("late");
        std::atomic<bool> inside{false}, release{false};
        slow.action = [&] {
            inside = true;
            while (!release)
                std::this_thread::yield();
        };
        reg.Subscribe(CallbackList::BeforeWrite, slow.Cb<UIntReg>());
        std::thread writer([&] { writeRemote(reg, 1); });
        while (!inside)
            std::this_thread::yield();
        std::atomic<bool> added{false};
        std::thread subscriber([&] { added = reg.Subscribe(CallbackList::BeforeWrite, late.Cb<UIntReg>()); });
        letThreadBlock();
        release = true;
        writer.join();
        subscriber.join();
        EXPECT_TRUE(added);
        slow.action = nullptr;
        writeRemote(reg, 2);
        EXPECT_EQ(late.calls.size(), 1u);
    });
}
